#include "system/jxplatform.h"

#include "system/jxmacplatform.h"

JXPlatform::JXPlatform() : m_platform(createInstance()) {}

JXPlatform::~JXPlatform() = default;

JXPlatformInterface* JXPlatform::createInstance()
{
    return new JXMacPlatform();
}

bool JXPlatform::getDiskStorage(QString drive, qint64& total, qint64& free)
{
    return m_platform->getDiskStorage(drive, total, free);
}

JXEnvInterface* JXPlatform::createEnv()
{
    return m_platform->createEnv();
}

QStringList JXPlatform::getRemovableDrives(QString type, QStringList* diskNames)
{
    return m_platform->getRemovableDrives(type, diskNames);
}

QString JXPlatform::getDriveVendorName(QString drive)
{
    return m_platform->getDriveVendorName(drive);
}

bool JXPlatform::ejectDevice(QString drive, JXDeviceDetector* detector)
{
    return m_platform->ejectDevice(drive, detector);
}
