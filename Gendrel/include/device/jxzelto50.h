#ifndef JXZELTO50_H
#define JXZELTO50_H

#include <QString>
#include <QStringList>

#include "device/jxclient.h"
#include "device/jxdeviceimpl.h"

// The client of the mass-storage map devices: a removable volume carrying the device's own file tree (maps, GPS
// engine, the cycling application's databases, firmware). Abstract: the models answer the name and the drive.
//
// Only construction and the start-up check are here yet. The device database and ride-log layers that the start-up
// check points at the device are not part of this build, so the check fails and the factory discards the client.
class JXZelto50 : public JXClient
{
    Q_OBJECT

public:
    // Sets the device-name text to "Zelto50"; the models use this one.
    explicit JXZelto50(QObject* parent);
    // Leaves the device-name text empty.
    JXZelto50();
    ~JXZelto50() override;

    // True when the device's data can be served; runs on the thread of the factory.
    bool initial() override;
    bool prepareUploadData(QString& path, bool dontCheckUploaded) override;
    QStringList saveDeviceRawData(QString path) override;

    // Points the device database and ride-log layers at this device.
    bool setShareDbHome();

protected:
    // Set between the two steps of a factory restore: the returning device is then taken without opening its
    // databases.
    static bool m_continueFactoryRestore;
};

// The models "Zelto50" and "Zelto50CR": the name and the drive come from the device service.
class JXZelto50CR : public JXDeviceImpl<JXZelto50CR, JXZelto50>
{
    Q_OBJECT

public:
    JXZelto50CR();
    ~JXZelto50CR() override;

    bool getName(QString& model) override;
    bool getDrive(QString& drive) override;
};

#endif
