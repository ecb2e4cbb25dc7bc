#ifndef JXPLATFORMINTERFACE_H
#define JXPLATFORMINTERFACE_H

#include <QString>
#include <QStringList>

class JXDeviceDetector;
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
};

#endif
