#include "system/jxmacplatform.h"

#include "system/jxmacenv.h"

JXMacPlatform::~JXMacPlatform() = default;

JXEnvInterface* JXMacPlatform::createEnv()
{
    return new JXMacEnv();
}
