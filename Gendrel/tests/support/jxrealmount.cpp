#include "jxrealmount.h"

#include <QFile>
#include <QProcess>

#include <sys/mount.h>
#include <unistd.h>

#include "system/jxoperatingsystem.h"

JXRealMount::~JXRealMount()
{
    if (!m_mountPoint.isEmpty())
        ::umount2(QFile::encodeName(m_mountPoint).constData(), MNT_DETACH);
}

bool JXRealMount::isPossible()
{
    return ::geteuid() == 0;
}

bool JXRealMount::mount(const QStringList& arguments, const QString& mountPoint)
{
    if (!isPossible() || !m_mountPoint.isEmpty())
        return false;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("mount"), arguments + QStringList(mountPoint));
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return false;
    m_mountPoint = mountPoint;
    return true;
}

bool JXRealMount::mountTmpfs(const QString& mountPoint, const QString& size)
{
    return mount({QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"), QStringLiteral("size=") + size,
                  QStringLiteral("tmpfs")},
                 mountPoint);
}

bool JXRealMount::mountExt2Image(const QString& image, qint64 sizeBytes, int reservedPercent, const QString& mountPoint)
{
    QFile file(image);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(sizeBytes))
        return false;
    file.close();
    QProcess format;
    format.start(QStringLiteral("mke2fs"), {QStringLiteral("-q"), QStringLiteral("-F"), QStringLiteral("-m"),
                                            QString::number(reservedPercent), image});
    if (!format.waitForFinished(30000) || format.exitStatus() != QProcess::NormalExit || format.exitCode() != 0)
        return false;
    return mount({QStringLiteral("-o"), QStringLiteral("loop"), image}, mountPoint);
}

bool isMountListed(const QString& mountPoint)
{
    QVector<JXMountEntry> mounts;
    JXOperatingSystem::instance()->mountedVolumes(mounts);
    for (const JXMountEntry& entry : mounts)
        if (entry.mountPoint == mountPoint)
            return true;
    return false;
}
