#include "util/ghscratchfile.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

QString partPathOf(const QString& path)
{
    const QFileInfo info(path);
    return info.path() + QLatin1String("/.") + info.fileName() + QLatin1String(".part");
}

} // namespace

GHScratchFile::GHScratchFile(const QString& path) : QFile(partPathOf(path)), m_path(path) {}

GHScratchFile::~GHScratchFile()
{
    if (isOpen()) {
        close();
        remove();
    }
}

bool GHScratchFile::open(OpenMode mode)
{
    m_cancelled = false;
    // A leftover, or a link put at the name: the name goes, never what a link points to.
    if (QFileInfo(fileName()).isSymLink() || QFileInfo::exists(fileName()))
        QFile::remove();
    if (!QFile::open(mode | QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    const QFileInfo existing(m_path);
    if (existing.exists() && !existing.isSymLink())
        setPermissions(existing.permissions());
    return true;
}

void GHScratchFile::cancelWriting()
{
    m_cancelled = true;
}

bool GHScratchFile::commit()
{
    if (!isOpen())
        return false;
    const bool written = !m_cancelled && error() == QFileDevice::NoError && flush();
    close();
    if (!written || error() != QFileDevice::NoError) {
        remove();
        return false;
    }
    if (std::rename(QFile::encodeName(fileName()).constData(), QFile::encodeName(m_path).constData()) != 0) {
        setErrorString(QString::fromLocal8Bit(std::strerror(errno)));
        remove();
        return false;
    }
    return true;
}
