#include "system/jxmacenv.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

// The executable's own folder, read from /proc so that it works before (and
// without) a QCoreApplication.
QString executableFolder()
{
    const QFileInfo exe(QStringLiteral("/proc/self/exe"));
    const QString target = exe.symLinkTarget();
    return target.isEmpty() ? QString() : QFileInfo(target).absolutePath();
}

}  // namespace

JXMacEnv::JXMacEnv()
{
    const QByteArray configured = qgetenv("JX_RESOURCE_DIR");
    if (!configured.isEmpty()) {
        m_resourceDir = QString::fromLocal8Bit(configured);
    } else {
        const QString folder = executableFolder();
        if (folder.isEmpty())
            fprintf(stderr, "unable to get resource directoy\n");
        else
            m_resourceDir = folder + QStringLiteral("/resources");
    }
    fprintf(stdout, "resource dir=%s\n", m_resourceDir.toLocal8Bit().constData());
}

JXMacEnv::~JXMacEnv() = default;

QString JXMacEnv::getResourceDir()
{
    return m_resourceDir;
}

QString JXMacEnv::getUserFolder()
{
    return QDir::homePath() + QStringLiteral("/Jaxmere");
}

QString JXMacEnv::getPathSeparator()
{
    return QStringLiteral("/");
}
