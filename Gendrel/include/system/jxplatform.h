#ifndef JXPLATFORM_H
#define JXPLATFORM_H

#include <QScopedPointer>

#include "system/jxplatforminterface.h"

// The one door to the operating system; made on the stack for each use.
class JXPlatform
{
public:
    JXPlatform();
    ~JXPlatform();

    static JXPlatformInterface* createInstance();

    bool getDiskStorage(QString drive, qint64& total, qint64& free);
    JXEnvInterface* createEnv();
    QStringList getRemovableDrives(QString type, QStringList* diskNames = nullptr);
    QString getDriveVendorName(QString drive);
    bool ejectDevice(QString drive, JXDeviceDetector* detector);

private:
    QScopedPointer<JXPlatformInterface> m_platform;
};

#endif
