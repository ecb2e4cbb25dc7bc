#include "jxflashbackup.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QVector>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "jxclock.h"
#include "jxenv.h"
#include "jxlog.h"

namespace {

const char* const kStampFormat = "yyyyMMdd'T'hhmmss'Z'";
const int kComparePiece = 64 * 1024;

struct TimedBackup
{
    QString stamp;
    int sequence = 1; // the n-th backup within the stamp's second
    QString path;
};

QVector<TimedBackup> listTimedBackups(const QString& stem)
{
    // What follows the stem in a backup's name; compiled once, for every stem.
    static const QRegularExpression pattern(QStringLiteral("-(\\d{8}T\\d{6}Z)(?:-(\\d+))?\\.dat\\z"));
    const QDir folder(JXEnv::getInstance()->getUserDataBaseFolder());
    QVector<TimedBackup> backups;
    // No name filter: the pattern decides, and a filter would be made into a pattern of its own on every call.
    QDirIterator entries(folder.path(), QDir::Files);
    while (entries.hasNext()) {
        entries.next();
        const QString name = entries.fileName();
        if (!name.startsWith(stem))
            continue;
        const QRegularExpressionMatch match =
            pattern.match(name, stem.size(), QRegularExpression::NormalMatch, QRegularExpression::AnchoredMatchOption);
        if (!match.hasMatch())
            continue;
        TimedBackup backup;
        backup.stamp = match.captured(1);
        if (!match.captured(2).isEmpty())
            backup.sequence = match.captured(2).toInt();
        backup.path = folder.filePath(name);
        backups.append(backup);
    }
    // Names that tell the same time and sequence ("...Z.dat", "...Z-1.dat") keep the order of their names.
    std::sort(backups.begin(), backups.end(), [](const TimedBackup& a, const TimedBackup& b) {
        if (a.stamp != b.stamp)
            return a.stamp < b.stamp;
        return a.sequence != b.sequence ? a.sequence < b.sequence : a.path < b.path;
    });
    return backups;
}

bool sameContents(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.size() != bytes.size() || !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    // In pieces through one small buffer: no second copy of the whole, and the first difference ends the read.
    QByteArray piece(kComparePiece, Qt::Uninitialized);
    for (qint64 offset = 0; offset < bytes.size();) {
        const qint64 length = file.read(piece.data(), qMin<qint64>(piece.size(), bytes.size() - offset));
        if (length <= 0 || std::memcmp(piece.constData(), bytes.constData() + offset, size_t(length)) != 0)
            return false;
        offset += length;
    }
    // A file that grew since its size was taken is not the same.
    return file.read(piece.data(), 1) == 0;
}

// Flushes the user-data folder, so that the names of the files put there survive a crash. A file system that cannot
// flush a folder is taken at its word. False (logged) when the flush fails.
bool flushUserDataFolder()
{
    const QString folder = QDir(JXEnv::getInstance()->getUserDataBaseFolder()).path();
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
        if (::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP)
            error = errno;
        ::close(fd);
    }
    if (error != 0)
        JX_CRITICAL << "can not flush the user-data folder" << folder << ":" << std::strerror(error);
    return error == 0;
}

} // namespace

namespace JXFlashBackup {

QString userDataPath(const QString& fileName)
{
    return QDir(JXEnv::getInstance()->getUserDataBaseFolder()).filePath(fileName);
}

bool isErased(const QByteArray& image, int start, int size)
{
    if (start < 0 || size < 0 || qint64(start) + size > image.size())
        return false;
    const char* bytes = image.constData() + start;
    return std::all_of(bytes, bytes + size, [](char byte) { return byte == char(0xFF); });
}

QStringList timedBackups(const QString& stem)
{
    QStringList paths;
    for (const TimedBackup& backup : listTimedBackups(stem))
        paths.append(backup.path);
    return paths;
}

bool keepTimedBackup(const QString& stem, const QByteArray& image)
{
    QVector<TimedBackup> backups = listTimedBackups(stem);
    // A write-back tried again keeps what it kept before (flushed when it was written): a copy would only push out an
    // older backup.
    if (!backups.isEmpty() && sameContents(backups.last().path, image))
        return true;

    const QString stamp = JXClock::localNow().toUTC().toString(QLatin1String(kStampFormat));
    QString name = stem + QLatin1Char('-') + stamp + QStringLiteral(".dat");
    for (int sequence = 2; QFileInfo::exists(userDataPath(name)); ++sequence)
        name = stem + QLatin1Char('-') + stamp + QLatin1Char('-') + QString::number(sequence) + QStringLiteral(".dat");
    const QString path = userDataPath(name);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size() || !file.commit()) {
        JX_CRITICAL << "can not keep the flash in" << path << ":" << file.errorString();
        return false;
    }
    // The contents are flushed by the commit, the name only with its folder: the erase that follows must not outrun
    // it.
    if (!flushUserDataFolder())
        return false;

    backups = listTimedBackups(stem);
    for (int i = 0; i + KeptBackups < backups.size(); ++i) {
        if (!QFile::remove(backups.at(i).path))
            JX_WARNING << "can not remove the old backup" << backups.at(i).path;
    }
    return true;
}

bool trimDumps(const QString& path, int dumpSize, qint64 limit,
               const std::function<bool(const QByteArray&)>& holdsDataStore)
{
    QFile file(path);
    if (!file.exists() || dumpSize <= 0)
        return true;
    const qint64 size = file.size();
    if (size <= limit && size % dumpSize == 0)
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        JX_WARNING << "can not read the flash dumps in" << path << ":" << file.errorString();
        return false;
    }
    auto readDump = [&](int index, QByteArray& dump) {
        dump.clear();
        return file.seek(qint64(index) * dumpSize) && (dump = file.read(dumpSize)).size() == dumpSize;
    };

    const int whole = int(size / dumpSize);
    int spared = -1;
    QByteArray dump;
    for (int index = whole - 1; index >= 0 && spared < 0; --index) {
        if (readDump(index, dump) && holdsDataStore(dump))
            spared = index;
    }
    QVector<bool> kept(whole, true);
    qint64 left = qint64(whole) * dumpSize;
    for (int index = 0; index < whole && left > limit; ++index) {
        if (index == spared)
            continue;
        kept[index] = false;
        left -= dumpSize;
    }

    QSaveFile trimmed(path);
    if (!trimmed.open(QIODevice::WriteOnly)) {
        JX_WARNING << "can not rewrite the flash dumps in" << path << ":" << trimmed.errorString();
        return false;
    }
    for (int index = 0; index < whole; ++index) {
        if (!kept.at(index))
            continue;
        if (!readDump(index, dump) || trimmed.write(dump) != dump.size()) {
            JX_WARNING << "can not rewrite the flash dumps in" << path << "; they are left as they were";
            trimmed.cancelWriting();
            return false;
        }
    }
    if (!trimmed.commit()) {
        JX_WARNING << "can not rewrite the flash dumps in" << path << ":" << trimmed.errorString();
        return false;
    }
    JX_DEBUG << "the flash dumps in" << path << "were cut from" << size << "to" << left << "bytes";
    return true;
}

} // namespace JXFlashBackup
