#ifndef JXMACPLATFORM_H
#define JXMACPLATFORM_H

#include "system/jxplatforminterface.h"

class JXMacPlatform : public JXPlatformInterface
{
public:
    ~JXMacPlatform() override;
    JXEnvInterface* createEnv() override;
};

#endif
