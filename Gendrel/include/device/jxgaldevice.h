#ifndef JXGALDEVICE_H
#define JXGALDEVICE_H

#include <QString>
#include <QStringList>

#include "device/jxdeviceimpl.h"
#include "device/jxdeviceserviceclient.h"

// The client of the closed-library family: a mass-storage volume with "device.ini" at its root that the vendor's
// device-access library (libgal) serves, and that comes back as a raw SCSI device while it updates its flash.
//
// Only construction and the registry's model name are here yet; every other operation keeps JXClient's answer, and
// the library itself answers "not available" on this platform.
class JXGalDevice : public JXDeviceImpl<JXGalDevice, JXDeviceServiceClient>
{
    Q_OBJECT

public:
    JXGalDevice();
    ~JXGalDevice() override;

    // The model name of the service's registry row.
    bool getName(QString& model) override;
    bool prepareUploadData(QString& path, bool dontCheckUploaded) override;
    QStringList saveDeviceRawData(QString path) override;

private:
    // The description file's fields, empty until it is read.
    bool iniRead = false;
    QString uuid;
    QString apVersion;
    QString osVersion;
    QString bootLoaderVersion;
    QString launchSecVersion;
    QString requiredJXVersion;
    QString iapName;
    JXClient::ImageMetaInfo imageMetaInfo;
    QStringList languages;
    QString deviceLangVersion;
    qint32 updateMethod = 1;
    qint32 profileUpdateResult = 0;
    QString capability;
    QString restoreFolder;
};

#endif
