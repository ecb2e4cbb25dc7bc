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

    JXEnvInterface* createEnv();

private:
    QScopedPointer<JXPlatformInterface> m_platform;
};

#endif
