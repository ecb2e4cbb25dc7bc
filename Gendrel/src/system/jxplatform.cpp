#include "system/jxplatform.h"

#include "system/jxmacplatform.h"

JXPlatform::JXPlatform()
    : m_platform(createInstance())
{
}

JXPlatform::~JXPlatform() = default;

JXPlatformInterface* JXPlatform::createInstance()
{
    return new JXMacPlatform();
}

JXEnvInterface* JXPlatform::createEnv()
{
    return m_platform->createEnv();
}
