#ifndef JXMACPLATFORM_H
#define JXMACPLATFORM_H

#include <QByteArray>

#include "system/jxplatforminterface.h"

// The desktop platform, on the operating-system layer (JXOperatingSystem).
// Keeps no state: every operation reads the system afresh, on the calling
// thread.
class JXMacPlatform : public JXPlatformInterface
{
public:
    ~JXMacPlatform() override;

    bool getDiskStorage(QString drive, qint64& total, qint64& free) override;
    JXEnvInterface* createEnv() override;
    QStringList getRemovableDrives(QString type, QStringList* diskNames) override;
    QString getDriveVendorName(QString drive) override;
    bool ejectDevice(QString drive, JXDeviceDetector* detector) override;
    // Only the watched vendor's USB devices are asked for their signature.
    QVector<JXDeviceService*> findSCSIDevices(QVector<stRegDevInfo>& registry) override;
    JXDeviceDetector* createDevcieDetector(JXDeviceManager* manager) override;

    bool getAdditionalVolumeInfoRemovable(const QString& bsdName);
    QString getDriveDiskName(QString drive);
    // 0 with the volume's disk name ("sdb1") in buffer, -1 when not found.
    int getBSDNameFromMntPath(const char* mountPoint, char* buffer, int size);
    // The USB manufacturer of the device above the disk.
    QString getAdditionalVolumeInfoVendorName(const QString& bsdName);
    // The SCSI vendor of the disk of the volume mounted at drive.
    QString getDescriptionVendorName(const QString& drive);

    // The version texts of a raw-flash device's 128-byte signature: IAP, the
    // 4 bytes from the last "I" of the first "IAP I" (bytes 3 to 6 without
    // one); AP, bytes 27 to 30; each up to its first zero byte and never past
    // the signature's end.
    static void readSignatureVersions(const QByteArray& signature, QString& iapVersion, QString& apVersion);
};

#endif
