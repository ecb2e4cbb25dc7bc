#ifndef JXZELTO60_H
#define JXZELTO60_H

#include <QScopedPointer>

#include "device/gal/jxgaldevice.h"
#include "device/jxdeviceimpl.h"
#include "device/zelto50/jxzelto50.h"

// The map-device model "Zelto60": the file tree is served as for every map device, while the device information
// comes from its closed-library description file, through an inner JXGalDevice on the same device service.
//
// The service is released once: from initial on the inner device owns it, and this client only points at it.
class JXZelto60 : public JXDeviceImpl<JXZelto60, JXZelto50>
{
    Q_OBJECT

public:
    JXZelto60();
    ~JXZelto60() override;

    // Makes the inner device, hands it the service, then runs the map device's start-up check.
    bool initial() override;
    // The same pointer again changes nothing; a different one replaces (and deletes) the one held.
    void setDeviceService(JXDeviceService* service) override;

    // The device information comes from the inner device; before initial there is none.
    bool getName(QString& model) override;
    bool getDrive(QString& drive) override;
    bool getUUID(QString& uuid) override;
    bool getOS(QString& version) override;
    bool getBootloader(QString& version) override;
    bool getTotal(QString& version) override;
    bool getLaunchsec(QString& version) override;
    QString getRequiredJX() override;
    QString getCapability() override;
    // The package's "release.ini" names the image.
    ImageMetaInfo getImageMetaInfo(QString path) override;

private:
    QScopedPointer<JXGalDevice> m_innerDevice;
};

#endif
