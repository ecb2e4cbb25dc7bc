#ifndef JXPLATFORMINTERFACE_H
#define JXPLATFORMINTERFACE_H

class JXEnvInterface;

// What a platform backend provides to the device library.
class JXPlatformInterface
{
public:
    virtual ~JXPlatformInterface() {}
    virtual JXEnvInterface* createEnv() = 0;
};

#endif
