#ifndef JXPLATFORMINTERFACE_H
#define JXPLATFORMINTERFACE_H

#include <QString>
#include <QStringList>
#include <QVector>

#include "device/stregdevinfo.h"

class JXDeviceDetector;
class JXDeviceManager;
class JXDeviceService;
class JXEnvInterface;

// What a platform backend provides to the device library.
class JXPlatformInterface
{
public:
    virtual ~JXPlatformInterface() {}
    virtual bool getDiskStorage(QString drive, qint64& total, qint64& free) = 0;
    virtual JXEnvInterface* createEnv() = 0;
    virtual QStringList getRemovableDrives(QString type, QStringList* diskNames) = 0;
    virtual QString getDriveVendorName(QString drive) = 0;
    virtual bool ejectDevice(QString drive, JXDeviceDetector* detector) = 0;
    // At most one raw-flash device that a registry row knows; the caller owns it.
    virtual QVector<JXDeviceService*> findSCSIDevices(QVector<stRegDevInfo>& registry) = 0;
    // A new detector that reports to manager; the caller owns it.
    virtual JXDeviceDetector* createDevcieDetector(JXDeviceManager* manager) = 0;
};

#endif
