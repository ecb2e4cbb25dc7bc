#ifndef JXENVINTERFACE_H
#define JXENVINTERFACE_H

#include <QString>

// The three facts of the environment that depend on the platform.
class JXEnvInterface
{
public:
    virtual ~JXEnvInterface() {}
    virtual QString getResourceDir() = 0;
    virtual QString getUserFolder() = 0;
    virtual QString getPathSeparator() = 0;
};

#endif
