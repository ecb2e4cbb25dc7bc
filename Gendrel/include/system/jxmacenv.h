#ifndef JXMACENV_H
#define JXMACENV_H

#include "system/jxenvinterface.h"

// The desktop platform environment. The resource folder is found once, when
// the object is made: the folder named by JX_RESOURCE_DIR when that is set,
// else "resources" beside the executable.
class JXMacEnv : public JXEnvInterface
{
public:
    JXMacEnv();
    ~JXMacEnv() override;

    QString getResourceDir() override;
    QString getUserFolder() override;
    QString getPathSeparator() override;

private:
    QString m_resourceDir;
};

#endif
