#include "device/jxdevicevolume.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "jxclock.h"
#include "jxdevicevolume_p.h"
#include "jxlog.h"
#include "jxquoted.h"

namespace JXVolumeIo {

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

int retryOpenAt(int folder, const char* name, int flags, mode_t mode)
{
    int fd;
    do {
        fd = ::openat(folder, name, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

qint64 readAt(int fd, char* buffer, qint64 size, qint64 offset)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t count = ::pread(fd, buffer + done, size_t(size - done), off_t(offset + done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return -1;
        if (count == 0)
            break;
        done += count;
    }
    return done;
}

std::function<qint64(char*, qint64, qint64)> readerOf(int fd)
{
    return [fd](char* buffer, qint64 count, qint64 offset) { return readAt(fd, buffer, count, offset); };
}

bool writeAll(int fd, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t count = ::write(fd, data, size_t(size));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            if (count == 0)
                errno = EIO;
            return false;
        }
        data += count;
        size -= count;
    }
    return true;
}

bool syncFolder(int folderFd)
{
    return ::fsync(folderFd) == 0 || errno == EINVAL;
}

QByteArray partNameOf(const QByteArray& name)
{
    return '.' + name + ".part";
}

bool listFolder(int folderFd, QList<QByteArray>& names)
{
    const int fd = ::dup(folderFd);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::rewinddir(dir);
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    errno = error;
    return error == 0;
}

void removeWritten(int folderFd, const QByteArray& name, const struct stat& written, const QString& path)
{
    struct stat current = {};
    if (::fstatat(folderFd, name.constData(), &current, AT_SYMLINK_NOFOLLOW) != 0 ||
        current.st_dev != written.st_dev || current.st_ino != written.st_ino)
        return;
    if (::unlinkat(folderFd, name.constData(), 0) != 0 || !syncFolder(folderFd))
        JX_WARNING << "cannot remove the unfinished" << quoted(path) << ":" << errorText(errno);
}

int openRegularIn(int folderFd, const QByteArray& name, struct stat& info)
{
    const int fd = retryOpenAt(folderFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

} // namespace JXVolumeIo

using namespace JXVolumeIo;

namespace {

JXDeviceVolume::Kind kindOfMode(mode_t mode)
{
    if (S_ISLNK(mode))
        return JXDeviceVolume::Kind::Link;
    if (S_ISDIR(mode))
        return JXDeviceVolume::Kind::Folder;
    if (S_ISREG(mode))
        return JXDeviceVolume::Kind::File;
    return JXDeviceVolume::Kind::Other;
}

// Removes one name of a folder; a folder that does not let its owner write gets the owner's write and search
// permission, and nothing more, for a second try.
bool unlinkIn(int folderFd, const QByteArray& name, int flags)
{
    if (::unlinkat(folderFd, name.constData(), flags) == 0 || errno == ENOENT)
        return true;
    if (errno != EACCES && errno != EPERM)
        return false;
    const int error = errno;
    struct stat folder = {};
    const mode_t wanted = S_IWUSR | S_IXUSR;
    if (::fstat(folderFd, &folder) != 0 || (folder.st_mode & wanted) == wanted ||
        ::fchmod(folderFd, (folder.st_mode & 07777) | wanted) != 0) {
        errno = error;
        return false;
    }
    return ::unlinkat(folderFd, name.constData(), flags) == 0 || errno == ENOENT;
}

} // namespace

JXDeviceVolume::JXDeviceVolume(const QString& root) : m_root(QDir::cleanPath(QFileInfo(root).absoluteFilePath()))
{
    struct stat info = {};
    if (!root.isEmpty() && ::stat(QFile::encodeName(m_root).constData(), &info) == 0)
        m_device = qint64(info.st_dev);
}

void JXDeviceVolume::setReadBack(qint64 limitMs, qint64 retryMs)
{
    m_readBackLimitMs = qMax<qint64>(0, limitMs);
    m_readBackRetryMs = qMax<qint64>(0, retryMs);
}

QString JXDeviceVolume::partPathOf(const QString& path)
{
    const QFileInfo info(path);
    return info.path() + QLatin1String("/.") + info.fileName() + QLatin1String(".part");
}

bool JXDeviceVolume::names(const QString& path, QStringList& parts) const
{
    QString relative = path;
    if (QDir::isAbsolutePath(path)) {
        const QString clean = QDir::cleanPath(path);
        const QString prefix = m_root.endsWith(QLatin1Char('/')) ? m_root : m_root + QLatin1Char('/');
        if (clean == m_root) {
            relative.clear();
        } else if (clean.startsWith(prefix)) {
            relative = clean.mid(prefix.size());
        } else {
            JX_CRITICAL << quoted(path) << "is not on the volume" << quoted(m_root);
            return false;
        }
    }
    parts.clear();
    for (const QString& part : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("..")) {
            JX_CRITICAL << "refusing" << quoted(path) << ": it climbs out of its folder";
            return false;
        }
        if (part != QLatin1String("."))
            parts.append(part);
    }
    return true;
}

QString JXDeviceVolume::pathOf(const QStringList& parts) const
{
    return parts.isEmpty() ? m_root : m_root + QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

int JXDeviceVolume::openRoot() const
{
    const int fd = retryOpenAt(AT_FDCWD, QFile::encodeName(m_root).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return -1;
    struct stat info = {};
    if (m_device >= 0 && (::fstat(fd, &info) != 0 || qint64(info.st_dev) != m_device)) {
        ::close(fd);
        errno = ENODEV;
        return -1;
    }
    return fd;
}

bool JXDeviceVolume::isPresent() const
{
    Fd root(openRoot());
    return root.isOpen();
}

qint64 JXDeviceVolume::capacity() const
{
    Fd root(openRoot());
    struct statvfs info = {};
    if (!root.isOpen() || ::fstatvfs(root.get(), &info) != 0)
        return 0;
    return qint64(info.f_blocks) * qint64(info.f_frsize);
}

// Each folder of parts in turn, below the one before, never through a link; -1, logged, when one is missing, is a
// link or is no folder.
int JXDeviceVolume::openFolder(const QStringList& parts, bool create, const QString& path, bool quiet) const
{
    Fd folder(openRoot());
    if (!folder.isOpen()) {
        if (quiet)
            return -1;
        JX_CRITICAL << "cannot reach" << quoted(path) << ": the volume" << quoted(m_root)
                    << (errno == ENODEV ? QStringLiteral("is gone") : errorText(errno));
        return -1;
    }
    for (const QString& part : parts) {
        const QByteArray name = QFile::encodeName(part);
        if (create && ::mkdirat(folder.get(), name.constData(), 0755) != 0 && errno != EEXIST) {
            JX_CRITICAL << "cannot make the folder" << quoted(part) << "for" << quoted(path) << ":"
                        << errorText(errno);
            return -1;
        }
        const int next = retryOpenAt(folder.get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (next < 0) {
            const int error = errno;
            if (quiet) {
                errno = error;
                return -1;
            }
            struct stat info = {};
            const bool link = ::fstatat(folder.get(), name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                              S_ISLNK(info.st_mode);
            if (link)
                JX_CRITICAL << "not following" << quoted(part) << "for" << quoted(path) << ": it is a link";
            else
                JX_CRITICAL << "cannot open the folder" << quoted(part) << "for" << quoted(path) << ":"
                            << errorText(error);
            errno = link ? ELOOP : error;
            return -1;
        }
        folder.reset(next);
    }
    return folder.release();
}

bool JXDeviceVolume::place(const QString& path, Place& where, bool createFolders, bool quiet) const
{
    QStringList parts;
    if (!names(path, parts))
        return false;
    if (parts.isEmpty()) {
        if (!quiet)
            JX_CRITICAL << "refusing" << quoted(path) << ": it is the volume itself";
        errno = EISDIR;
        return false;
    }
    where.name = QFile::encodeName(parts.takeLast());
    where.path = pathOf(parts) + QLatin1Char('/') + QFile::decodeName(where.name);
    where.held = std::make_shared<Fd>(openFolder(parts, createFolders, where.path, quiet));
    return where.folder() >= 0;
}

JXDeviceVolume::Kind JXDeviceVolume::kindOf(const QString& path) const
{
    QStringList parts;
    if (!names(path, parts))
        return Kind::Missing;
    if (parts.isEmpty())
        return isPresent() ? Kind::Folder : Kind::Missing;
    Place where;
    struct stat info = {};
    if (!place(path, where, false, true) ||
        ::fstatat(where.folder(), where.name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return Kind::Missing;
    return kindOfMode(info.st_mode);
}

QStringList JXDeviceVolume::entryNames(const QString& folder) const
{
    QStringList parts;
    QStringList result;
    if (!names(folder, parts))
        return result;
    Fd fd(openFolder(parts, false, folder, true));
    QList<QByteArray> entries;
    if (fd.isOpen() && listFolder(fd.get(), entries)) {
        for (const QByteArray& name : qAsConst(entries))
            result.append(QFile::decodeName(name));
    }
    return result;
}

bool JXDeviceVolume::readFile(const QString& path, qint64 limit, QByteArray& bytes) const
{
    Place where;
    if (!place(path, where))
        return false;
    struct stat info = {};
    Fd file(openRegularIn(where.folder(), where.name, info));
    if (!file.isOpen()) {
        JX_WARNING << "cannot read" << quoted(where.path) << ":" << errorText(errno);
        return false;
    }
    if (qint64(info.st_size) > limit) {
        JX_WARNING << "not read:" << quoted(where.path) << "is larger than" << limit << "bytes";
        return false;
    }
    QByteArray data(int(info.st_size) + 1, Qt::Uninitialized);
    const qint64 count = readAt(file.get(), data.data(), data.size(), 0);
    if (count < 0 || count > limit) {
        JX_WARNING << "not read:" << quoted(where.path)
                   << (count < 0 ? errorText(errno) : QStringLiteral("grew while it was read"));
        return false;
    }
    data.truncate(int(count));
    bytes = data;
    return true;
}

bool JXDeviceVolume::readStart(const QString& path, qint64 count, QByteArray& bytes) const
{
    Place where;
    struct stat info = {};
    if (!place(path, where, false, true))
        return false;
    Fd file(openRegularIn(where.folder(), where.name, info));
    if (!file.isOpen())
        return false;
    QByteArray data(int(qMax<qint64>(0, count)), Qt::Uninitialized);
    const qint64 got = readAt(file.get(), data.data(), data.size(), 0);
    if (got < 0)
        return false;
    data.truncate(int(got));
    bytes = data;
    return true;
}

// Creates the hidden copy beside where, empty and open for writing; written receives what it is, so that a cleanup
// later takes away this file and no other.
bool JXDeviceVolume::createBeside(const Place& where, Fd& output, struct stat& written) const
{
    const int folder = where.folder();
    const QByteArray part = partNameOf(where.name);
    const QString partPath = partPathOf(where.path);
    output.reset(retryOpenAt(folder, part.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW, 0644));
    const bool linked = !output.isOpen() && errno == ELOOP;
    if (linked || (output.isOpen() && ::fstat(output.get(), &written) == 0 && S_ISREG(written.st_mode) &&
                   written.st_nlink > 1)) {
        // A link, or a leftover that shares its data with another name: that name keeps it, this one starts afresh.
        output.reset(-1);
        ::unlinkat(folder, part.constData(), 0);
        output.reset(retryOpenAt(folder, part.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644));
    }
    if (!output.isOpen() || ::fstat(output.get(), &written) != 0) {
        JX_CRITICAL << "failed to write" << quoted(where.path) << ": cannot create" << quoted(partPath) << ":"
                    << errorText(errno);
        output.reset(-1);
        return false;
    }
    if (!S_ISREG(written.st_mode)) {
        JX_CRITICAL << "failed to write" << quoted(where.path) << ":" << quoted(partPath) << "is no file";
        output.reset(-1);
        return false;
    }
    // A leftover of an earlier attempt is emptied first.
    if (written.st_size != 0 && ::ftruncate(output.get(), 0) != 0) {
        JX_CRITICAL << "failed to write" << quoted(where.path) << ": emptying" << quoted(partPath) << ":"
                    << errorText(errno);
        removeWritten(folder, part, written, partPath);
        output.reset(-1);
        return false;
    }
    return true;
}

// Streams size bytes from read into the open copy and gives it the modification time, if any.
bool JXDeviceVolume::fillBeside(const Place& where, int output, qint64 size, const SourceReader& read,
                                const struct timespec* modified) const
{
    std::vector<char> buffer(size_t(qMin(kBlockSize, qMax<qint64>(size, 1))));
    for (qint64 offset = 0; offset < size;) {
        const qint64 count = read(buffer.data(), qMin(qint64(buffer.size()), size - offset), offset);
        if (count <= 0) {
            JX_CRITICAL << "failed to write" << quoted(where.path) << ": its source stopped at byte" << offset << "of"
                        << size << (count < 0 ? errorText(errno) : QString());
            return false;
        }
        if (!writeAll(output, buffer.data(), count)) {
            JX_CRITICAL << "failed to write" << quoted(where.path) << "at byte" << offset << ":" << errorText(errno);
            return false;
        }
        offset += count;
    }
    if (modified) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, *modified};
        if (::futimens(output, times) != 0)
            JX_WARNING << "keeping the time of" << quoted(where.path) << "failed:" << errorText(errno);
    }
    return true;
}

// Streams size bytes from read into a new file beside where, flushes it with its folder entry and reads it back until
// it equals the source, within the read-back limit. A failure that waiting cannot mend (the source, a write, the
// flush, a vanished volume) ends it at once, and the file it created goes again.
bool JXDeviceVolume::writeBesideFrom(const Place& where, qint64 size, const SourceReader& read,
                                     const struct timespec* modified)
{
    const int folder = where.folder();
    Fd output;
    struct stat written = {};
    if (!createBeside(where, output, written))
        return false;
    bool result = false;
    const auto removeUnfinished = qScopeGuard([&] {
        if (!result)
            removeWritten(folder, partNameOf(where.name), written, partPathOf(where.path));
    });
    if (!fillBeside(where, output.get(), size, read, modified))
        return false;
    // "Done" lets the user pull the cable: the bytes must be on the device, not in this computer's cache.
    if (::fsync(output.get()) != 0 || !output.close() || !syncFolder(folder)) {
        JX_CRITICAL << "failed to write" << quoted(where.path) << ": flushing it:" << errorText(errno);
        return false;
    }

    const qint64 start = JXClock::nowMs();
    for (;;) {
        if (!readBackInTime(where, start) || !stillPresent(where))
            return false;
        const ReadBack outcome = readBack(where, written, size, read);
        if (outcome == ReadBack::Match)
            break;
        if (outcome == ReadBack::Failed || !stillPresent(where))
            return false;
        JX_DEBUG << "wait for completion of" << where.path;
        JXClock::sleepMs(m_readBackRetryMs);
    }
    result = true;
    return true;
}

bool JXDeviceVolume::readBackInTime(const Place& where, qint64 start) const
{
    if (JXClock::nowMs() - start < m_readBackLimitMs)
        return true;
    JX_CRITICAL << "failed to write" << quoted(where.path) << ": it did not read back whole within"
                << m_readBackLimitMs << "ms";
    return false;
}

bool JXDeviceVolume::stillPresent(const Place& where) const
{
    if (isPresent())
        return true;
    JX_CRITICAL << "failed to write" << quoted(where.path) << ": the volume" << quoted(m_root) << "is gone";
    return false;
}

// One read-back try of the file beside where against its source, block by block.
JXDeviceVolume::ReadBack JXDeviceVolume::readBack(const Place& where, const struct stat& written, qint64 size,
                                                  const SourceReader& read, bool dropped) const
{
    const QByteArray part = partNameOf(where.name);
    Fd copy(retryOpenAt(where.folder(), part.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
    struct stat info = {};
    if (!copy.isOpen() || ::fstat(copy.get(), &info) != 0) {
        JX_WARNING << "cannot read back" << quoted(where.path) << ":" << errorText(errno);
        return ReadBack::Differs;
    }
    if (info.st_dev != written.st_dev || info.st_ino != written.st_ino) {
        JX_CRITICAL << "failed to write" << quoted(where.path) << ": its copy was replaced";
        return ReadBack::Failed;
    }
    // The cached pages are what was written, not what the device holds: drop them so the reads reach the device.
    if (!dropped)
        ::posix_fadvise(copy.get(), 0, 0, POSIX_FADV_DONTNEED);
    if (qint64(info.st_size) != size)
        return ReadBack::Differs;

    const size_t block = size_t(qMin(kBlockSize, qMax<qint64>(size, 1)));
    std::vector<char> expected(block);
    std::vector<char> actual(block);
    for (qint64 offset = 0; offset < size;) {
        const qint64 wanted = qMin(qint64(block), size - offset);
        if (read(expected.data(), wanted, offset) != wanted) {
            JX_CRITICAL << "failed to write" << quoted(where.path) << ": the source changed or cannot be read at byte"
                        << offset;
            return ReadBack::Failed;
        }
        const qint64 got = readAt(copy.get(), actual.data(), wanted, offset);
        if (got != wanted || std::memcmp(expected.data(), actual.data(), size_t(wanted)) != 0) {
            JX_WARNING << "the copy of" << quoted(where.path) << "differs from its source in the block at byte"
                       << offset;
            return ReadBack::Differs;
        }
        offset += wanted;
    }
    return ReadBack::Match;
}

bool JXDeviceVolume::moveIntoPlaceAt(const Place& where)
{
    const int folder = where.folder();
    const QByteArray part = partNameOf(where.name);
    // Over the old file in one step: it stays whole until the new one has its name.
    if (::renameat(folder, part.constData(), folder, where.name.constData()) != 0) {
        JX_CRITICAL << "failed to write" << quoted(where.path) << ": cannot move it into place:" << errorText(errno);
        ::unlinkat(folder, part.constData(), 0);
        syncFolder(folder);
        return false;
    }
    if (!syncFolder(folder)) {
        JX_CRITICAL << "failed to write" << quoted(where.path) << ": flushing its folder:" << errorText(errno);
        return false;
    }
    return true;
}

bool JXDeviceVolume::copyBesideAt(const Place& where, const QString& source, bool keepTime)
{
    struct stat info = {};
    Fd input(openSource(where, source, info));
    return input.isOpen() &&
           writeBesideFrom(where, qint64(info.st_size), readerOf(input.get()), keepTime ? &info.st_mtim : nullptr);
}

// The computer's file that a copy is made from, open; -1, logged, when it cannot be read or is no regular file.
int JXDeviceVolume::openSource(const Place& where, const QString& source, struct stat& info)
{
    const int fd = openRegularIn(AT_FDCWD, QFile::encodeName(source), info);
    if (fd < 0)
        JX_CRITICAL << "failed to write" << quoted(where.path) << ": cannot read" << quoted(source) << ":"
                    << (errno == EINVAL ? QStringLiteral("no regular file") : errorText(errno));
    return fd;
}

bool JXDeviceVolume::writeBeside(const QString& path, const QByteArray& bytes)
{
    Place where;
    if (!place(path, where))
        return false;
    const SourceReader read = [&bytes](char* buffer, qint64 count, qint64 offset) {
        const qint64 available = qMax<qint64>(0, qMin<qint64>(count, bytes.size() - offset));
        std::memcpy(buffer, bytes.constData() + offset, size_t(available));
        return available;
    };
    return writeBesideFrom(where, bytes.size(), read, nullptr);
}

bool JXDeviceVolume::copyBeside(const QString& source, const QString& path, bool keepTime)
{
    Place where;
    return place(path, where) && copyBesideAt(where, source, keepTime);
}

bool JXDeviceVolume::moveIntoPlace(const QString& path)
{
    Place where;
    return place(path, where) && moveIntoPlaceAt(where);
}

void JXDeviceVolume::discardBeside(const QString& path)
{
    Place where;
    if (!place(path, where, false, true))
        return;
    const QByteArray part = partNameOf(where.name);
    struct stat info = {};
    if (::fstatat(where.folder(), part.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(info.st_mode) &&
        ::unlinkat(where.folder(), part.constData(), 0) == 0)
        syncFolder(where.folder());
}

bool JXDeviceVolume::writeFile(const QString& path, const QByteArray& bytes)
{
    return writeBeside(path, bytes) && moveIntoPlace(path);
}

bool JXDeviceVolume::copyFileIn(const QString& source, const QString& path, bool keepTime)
{
    Place where;
    return place(path, where) && copyBesideAt(where, source, keepTime) && moveIntoPlaceAt(where);
}

bool JXDeviceVolume::makeFolders(const QString& path)
{
    QStringList parts;
    if (!names(path, parts))
        return false;
    Fd folder(openFolder(parts, true, pathOf(parts)));
    return folder.isOpen();
}

bool JXDeviceVolume::removeContents(int folderFd, const QString& path)
{
    QList<QByteArray> entries;
    if (!listFolder(folderFd, entries)) {
        JX_CRITICAL << "cannot list" << quoted(path) << ":" << errorText(errno);
        return false;
    }
    bool ok = true;
    for (const QByteArray& name : qAsConst(entries)) {
        const QString entryPath = path + QLatin1Char('/') + QFile::decodeName(name);
        struct stat info = {};
        if (::fstatat(folderFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        int flags = 0;
        if (S_ISDIR(info.st_mode)) {
            Fd sub(retryOpenAt(folderFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
            if (!sub.isOpen() || !removeContents(sub.get(), entryPath)) {
                ok = false;
                continue;
            }
            flags = AT_REMOVEDIR;
        }
        if (!unlinkIn(folderFd, name, flags)) {
            JX_CRITICAL << "cannot remove" << quoted(entryPath) << ":" << errorText(errno);
            ok = false;
        }
    }
    return ok;
}

bool JXDeviceVolume::removeFile(const QString& path)
{
    return remove(path, false);
}

bool JXDeviceVolume::removeTree(const QString& path)
{
    return remove(path, true);
}

bool JXDeviceVolume::remove(const QString& path, bool tree)
{
    Place where;
    if (!place(path, where, false, true))
        return errno == ENOENT;
    struct stat info = {};
    if (::fstatat(where.folder(), where.name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    // A link goes itself, never what it points to.
    const bool folder = S_ISDIR(info.st_mode);
    if (folder && !tree) {
        JX_CRITICAL << "not removed:" << quoted(where.path) << "is a folder";
        return false;
    }
    if (folder) {
        Fd contents(retryOpenAt(where.folder(), where.name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
        if (!contents.isOpen() || !removeContents(contents.get(), where.path)) {
            JX_CRITICAL << "cannot empty the folder" << quoted(where.path);
            return false;
        }
    }
    if (!unlinkIn(where.folder(), where.name, folder ? AT_REMOVEDIR : 0)) {
        JX_CRITICAL << "cannot remove" << quoted(where.path) << ":" << errorText(errno);
        return false;
    }
    syncFolder(where.folder());
    return true;
}

bool JXDeviceVolume::rename(const QString& from, const QString& to)
{
    Place source;
    Place target;
    if (!place(from, source) || !place(to, target))
        return false;
    if (::renameat(source.folder(), source.name.constData(), target.folder(), target.name.constData()) != 0) {
        JX_CRITICAL << "cannot rename" << quoted(source.path) << "to" << quoted(target.path) << ":"
                    << errorText(errno);
        return false;
    }
    return syncFolder(source.folder()) && syncFolder(target.folder());
}

bool JXDeviceVolume::addOwnerWrite(const QString& path)
{
    Place where;
    if (!place(path, where))
        return false;
    struct stat info = {};
    if (::fstatat(where.folder(), where.name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        JX_WARNING << "cannot make" << quoted(where.path) << "writable:" << errorText(errno);
        return false;
    }
    if (S_ISLNK(info.st_mode)) {
        JX_WARNING << "left alone:" << quoted(where.path) << "is a link";
        return false;
    }
    if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode))
        return false;
    Fd file(retryOpenAt(where.folder(), where.name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
    bool changed;
    if (file.isOpen()) {
        changed = ::fstat(file.get(), &info) == 0 && ((info.st_mode & S_IWUSR) ||
                                                       ::fchmod(file.get(), (info.st_mode & 07777) | S_IWUSR) == 0);
    } else {
        // Not readable: the mode is changed by name, still never through a link.
        changed = ::fchmodat(where.folder(), where.name.constData(), (info.st_mode & 07777) | S_IWUSR,
                             AT_SYMLINK_NOFOLLOW) == 0;
    }
    if (!changed)
        JX_WARNING << "cannot make" << quoted(where.path) << "writable:" << errorText(errno);
    return changed;
}

bool JXDeviceVolume::syncAll()
{
    Fd root(openRoot());
    if (!root.isOpen() || ::syncfs(root.get()) != 0) {
        JX_CRITICAL << "cannot flush the volume" << quoted(m_root) << ":"
                    << (errno == ENODEV ? QStringLiteral("it is gone") : errorText(errno));
        return false;
    }
    return true;
}
