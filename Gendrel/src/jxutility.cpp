#include "jxutility.h"

#include "jxlog.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRandomGenerator>
#include <QThread>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// ---- Files and folders ------------------------------------------------------

namespace {

const QString kTimeFormat = QStringLiteral("yyyyMMddhhmm.ss");
// Buffer of the read/write copy: larger buffers measured slower (they no
// longer stay in the CPU cache) and smaller ones cost more system calls.
constexpr size_t kCopyBlockSize = 256 * 1024;
constexpr size_t kPageSize = 4096;
constexpr size_t kKernelCopyChunk = size_t(1) << 30;

// Entries of a folder in the order the file system delivers them.
QFileInfoList listFolder(const QString& folder, QDir::Filters filters)
{
    return QDir(folder).entryInfoList(filters, QDir::Unsorted);
}

// Non-hidden files and folders; links are left out so no walk leaves the tree.
constexpr QDir::Filters kWalkFilters = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::NoSymLinks;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

void sleepMs(int ms)
{
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

// Copying a tree into a folder of itself would never end (and cpDir would
// first remove the source).
bool isSameOrInside(const QString& destination, const QString& source)
{
    const QString sourcePath = QDir::cleanPath(QFileInfo(source).absoluteFilePath());
    const QString destinationPath = QDir::cleanPath(QFileInfo(destination).absoluteFilePath());
    return destinationPath == sourcePath || destinationPath.startsWith(sourcePath + QLatin1Char('/'));
}

// lstat-based, so a link itself is never changed (chmod would change its target).
void addOwnerWrite(const QByteArray& path)
{
    struct stat status;
    if (::lstat(path.constData(), &status) != 0 || S_ISLNK(status.st_mode))
        return;
    // Removing entries of a folder needs search permission as well as write.
    const mode_t wanted = S_ISDIR(status.st_mode) ? (S_IWUSR | S_IXUSR) : S_IWUSR;
    if ((status.st_mode & wanted) != wanted)
        ::chmod(path.constData(), (status.st_mode & 07777) | wanted);
}

void addOwnerWriteTree(const QString& path)
{
    const QByteArray nativePath = QFile::encodeName(path);
    addOwnerWrite(nativePath);
    struct stat status;
    if (::lstat(nativePath.constData(), &status) != 0 || !S_ISDIR(status.st_mode))
        return;
    const QFileInfoList entries =
        listFolder(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries)
        addOwnerWriteTree(entry.filePath());
}

int openSourceFile(const QString& source, struct stat& status, QString& reason)
{
    // O_NONBLOCK keeps a FIFO from blocking the open; only regular files are copied.
    const int fd = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        reason = errnoText(errno);
        return -1;
    }
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        reason = QStringLiteral("not a regular file");
        ::close(fd);
        return -1;
    }
    // O_NONBLOCK has no effect on a regular file's reads, so it can stay.
    return fd;
}

// A new file beside the destination, so the final rename stays on one file system.
int createTempBeside(const QByteArray& destination, mode_t mode, QByteArray& tempPath, QString& reason)
{
    const QByteArray folder = destination.left(destination.lastIndexOf('/') + 1);
    for (int tries = 0; tries < 16; ++tries) {
        tempPath = folder + ".jxcopy-" + QByteArray::number(QRandomGenerator::global()->generate(), 16);
        const int fd = ::open(tempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            break;
    }
    reason = errnoText(errno);
    tempPath.clear();
    return -1;
}

bool writeAll(int fd, const char* data, size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        length -= size_t(written);
    }
    return true;
}

bool copyContent(int in, int out, qint64 size, QString& reason)
{
    if (size > qint64(kCopyBlockSize))
        ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);

    // Let the kernel move (or share) the blocks; file systems that cannot do
    // that fall through to the buffer loop, which goes on from the same offsets.
    // Once the size seen at opening is copied there is no need to ask again
    // only to hear of the end; a file that shows no size is copied to its end.
    qint64 done = 0;
    for (;;) {
        if (size > 0 && done >= size)
            return true;
        const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, kKernelCopyChunk, 0);
        if (copied > 0) {
            done += copied;
            continue;
        }
        if (copied == 0)
            return true;  // the whole file went through the kernel
        if (errno == EINTR)
            continue;
        break;
    }

    // Page-aligned, as the kernel copies to and from it fastest.
    const std::unique_ptr<char, decltype(&std::free)> buffer(
        static_cast<char*>(std::aligned_alloc(kPageSize, kCopyBlockSize)), &std::free);
    if (!buffer) {
        reason = QStringLiteral("out of memory");
        return false;
    }
    for (;;) {
        const ssize_t got = ::read(in, buffer.get(), kCopyBlockSize);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            reason = QStringLiteral("read: ") + errnoText(errno);
            return false;
        }
        if (!writeAll(out, buffer.get(), size_t(got))) {
            reason = QStringLiteral("write: ") + errnoText(errno);
            return false;
        }
    }
}

// Puts the finished temporary file at the destination; without overwrite an
// existing destination is never replaced.
bool placeFile(const QByteArray& tempPath, const QByteArray& destination, bool overwrite, QString& reason)
{
    int result;
    if (overwrite) {
        result = ::rename(tempPath.constData(), destination.constData());
    } else {
        result = ::renameat2(AT_FDCWD, tempPath.constData(), AT_FDCWD, destination.constData(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // File systems without the no-replace rename: check, then rename.
            struct stat existing;
            if (::lstat(destination.constData(), &existing) == 0)
                errno = EEXIST;
            else
                result = ::rename(tempPath.constData(), destination.constData());
        }
    }
    if (result != 0)
        reason = QStringLiteral("rename: ") + errnoText(errno);
    return result == 0;
}

// Runs for every file of a folder copy: nothing here works out more than the
// copy needs (paths are encoded once, debug text only when it is written).
bool copyFileOnce(const QString& source, const QString& destination, bool overwrite, QString& reason)
{
    const QByteArray target = QFile::encodeName(destination);
    if (!overwrite) {
        struct stat existing;
        if (::lstat(target.constData(), &existing) == 0) {
            reason = QStringLiteral("destination exists");
            return false;
        }
    }

    struct stat status;
    const int in = openSourceFile(source, status, reason);
    if (in < 0)
        return false;

    QByteArray tempPath;
    const int out = createTempBeside(target, status.st_mode & 0777, tempPath, reason);
    if (out < 0) {
        ::close(in);
        return false;
    }

    bool ok = copyContent(in, out, status.st_size, reason);
    ::close(in);

    if (ok) {
        JX_DEBUG << "set modified time of" << destination << "to"
                 << QDateTime::fromMSecsSinceEpoch(qint64(status.st_mtim.tv_sec) * 1000 +
                                                   status.st_mtim.tv_nsec / 1000000)
                        .toString(kTimeFormat);
        // Access time left as it is; the modification time to the nanosecond.
        const timespec times[2] = {{0, UTIME_OMIT}, status.st_mtim};
        if (::futimens(out, times) != 0)
            JX_DEBUG << "cannot set modified time of" << destination << errnoText(errno);
    }
    // A failing close can be the first report of a failed write-back.
    if (::close(out) != 0 && ok) {
        reason = QStringLiteral("close: ") + errnoText(errno);
        ok = false;
    }
    if (ok)
        ok = placeFile(tempPath, target, overwrite, reason);
    if (!ok)
        ::unlink(tempPath.constData());
    return ok;
}

// What a folder copy and its nested calls share.
struct FolderCopy
{
    QMutex* mutex = nullptr;
    float* progress = nullptr;
    float span = 0;
    bool skipWhenSame = false;
    int tolerance = 0;
    QString nameFilter;
    QStringList* copiedFiles = nullptr;
    qint64 total = 0;
};

bool copyFolderLevel(const QString& source, const QString& destination, const FolderCopy& copy, int pauseMs)
{
    const float start = copy.progress ? *copy.progress : 0.0f;

    if (!QFileInfo(source).isDir())
        return true;
    if (!QFileInfo(destination).isDir() && !QDir().mkdir(destination)) {
        JX_WARNING << "cannot create folder" << destination;
        return false;
    }

    const QFileInfoList files = listFolder(source, QDir::Files | QDir::NoSymLinks);
    for (int index = 0; index < files.size(); ++index) {
        const QString name = files.at(index).fileName();
        if (!copy.nameFilter.isEmpty() && !name.contains(copy.nameFilter, Qt::CaseInsensitive))
            continue;
        const QString sourceFile = source + QLatin1Char('/') + name;
        const QString destinationFile = destination + QLatin1Char('/') + name;
        bool copied = false;
        if (!JXUtility::copyFile(sourceFile, destinationFile, true, 10, 5, nullptr, nullptr, copy.skipWhenSame,
                                 copy.tolerance, &copied)) {
            JX_WARNING << "JXUtility::copyFolder failed src=" << sourceFile << " dest=" << destinationFile;
            return false;
        }
        if (copy.copiedFiles && copied)
            copy.copiedFiles->append(destinationFile);
        if (copy.progress && copy.total > 0) {
            const float value = float(double(start) + double(copy.span) * index / double(copy.total));
            if (copy.mutex)
                copy.mutex->lock();
            *copy.progress = value;
            if (copy.mutex)
                copy.mutex->unlock();
        }
        sleepMs(pauseMs);
    }

    const QFileInfoList folders = listFolder(source, QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QFileInfo& folder : folders) {
        const QString name = folder.fileName();
        if (!copyFolderLevel(source + QLatin1Char('/') + name, destination + QLatin1Char('/') + name, copy, 0))
            return false;
    }
    return true;
}

bool copyFolderTop(const QString& source, const QString& destination, FolderCopy& copy, int pauseMs)
{
    if (isSameOrInside(destination, source)) {
        JX_WARNING << "refusing to copy" << source << "into itself:" << destination;
        return false;
    }
    copy.total = JXUtility::FilesInFolder(source, copy.nameFilter);
    return copyFolderLevel(source, destination, copy, pauseMs);
}

} // namespace

bool JXUtility::deleteFile(const QString& path)
{
    if (path.isEmpty())
        return true;
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (QFile::remove(path))
        return true;
    removeFileReadonly(path);
    if (QFile::remove(path))
        return true;
    JX_DEBUG << " delete file failed" << path;
    return false;
}

bool JXUtility::removeFileReadonly(const QString& path)
{
    addOwnerWriteTree(path);
    addOwnerWrite(QFile::encodeName(QFileInfo(path).absolutePath()));
    return true;
}

bool JXUtility::deleteDir(const QString& folder)
{
    const QFileInfo info(folder);
    if (info.isSymLink())
        return deleteFile(folder);
    if (!info.isDir())
        return true;

    const QFileInfoList entries =
        listFolder(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    bool ok = true;
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink() || !entry.isDir())
            ok = deleteFile(entry.filePath()) && ok;
    }
    for (const QFileInfo& entry : entries) {
        if (!entry.isSymLink() && entry.isDir())
            ok = deleteDir(entry.filePath()) && ok;
    }

    bool removed = QDir().rmdir(folder);
    if (!removed) {
        removeFileReadonly(folder);
        removed = QDir().rmdir(folder);
    }
    return removed && ok;
}

bool JXUtility::rmDir(const QString& folder)
{
    const QFileInfo info(QDir::cleanPath(folder));
    if (info.isSymLink())
        return QFile::remove(info.filePath());
    if (!info.isDir())
        return true;

    QDir dir(info.filePath());
    const QFileInfoList entries = listFolder(info.filePath(), QDir::AllEntries | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        const bool removed =
            (entry.isDir() && !entry.isSymLink()) ? rmDir(entry.filePath()) : dir.remove(entry.fileName());
        if (!removed)
            return false;
    }
    return info.dir().rmdir(info.fileName());
}

bool JXUtility::cpDir(const QString& source, const QString& destination)
{
    if (isSameOrInside(destination, source)) {
        JX_WARNING << "refusing to copy" << source << "into itself:" << destination;
        return false;
    }
    rmDir(destination);
    const QFileInfo destinationInfo(QDir::cleanPath(destination));
    if (!destinationInfo.dir().mkdir(destinationInfo.fileName()))
        return false;

    const QFileInfoList entries = listFolder(source, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        const QString sourceItem = source + QLatin1Char('/') + entry.fileName();
        const QString destinationItem = destination + QLatin1Char('/') + entry.fileName();
        bool ok = true;
        if (entry.isSymLink() || (!entry.isDir() && !entry.isFile()))
            JX_DEBUG << "Unhandled item" << sourceItem << "in cpDir";
        else if (entry.isDir())
            ok = cpDir(sourceItem, destinationItem);
        else
            ok = QFile::copy(sourceItem, destinationItem);
        if (!ok)
            return false;
    }
    return true;
}

bool JXUtility::copyFile(const QString& source, const QString& destination, bool overwrite, int attempts,
                         int retryWaitMs, void*, void*, bool skipWhenSame, int tolerance, bool* copied)
{
    if (copied)
        *copied = false;

    if (skipWhenSame) {
        const QFileInfo sourceInfo(source);
        const QFileInfo destinationInfo(destination);
        // A missing file is never the same as another one.
        if (sourceInfo.exists() && destinationInfo.exists() && sourceInfo.size() == destinationInfo.size() &&
            qAbs(sourceInfo.lastModified().secsTo(destinationInfo.lastModified())) <= tolerance)
            return true;
        JX_DEBUG << qUtf8Printable(
            QStringLiteral("src=%1 modified time=%2 ").arg(source, sourceInfo.lastModified().toString(kTimeFormat)));
        JX_DEBUG << qUtf8Printable(QStringLiteral("dest=%1 modified time=%2 ")
                                       .arg(destination, destinationInfo.lastModified().toString(kTimeFormat)));
    }

    QString reason;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        if (copyFileOnce(source, destination, overwrite, reason)) {
            if (attempt > 1)
                JX_WARNING << "copy file success after retry " << attempt << " source=" << source
                           << "   dest=" << destination;
            if (copied)
                *copied = true;
            return true;
        }
        JX_DEBUG << "copy" << source << "to" << destination << "failed:" << reason;
        if (attempt < attempts) {
            JX_DEBUG << "copy file failed start wait to retry, retry " << attempt;
            sleepMs(retryWaitMs);
        }
    }
    if (attempts > 0)
        JX_WARNING << "copy file failed after" << attempts << "attempts source=" << source << " dest=" << destination
                   << reason;
    return false;
}

bool JXUtility::copyFolder(const QString& source, const QString& destination, QMutex* mutex, float* progress,
                           float span, int pauseMs, bool skipWhenSame, int tolerance, const QString& nameFilter,
                           QStringList* copiedFiles)
{
    FolderCopy copy;
    copy.mutex = mutex;
    copy.progress = progress;
    copy.span = span;
    copy.skipWhenSame = skipWhenSame;
    copy.tolerance = tolerance;
    copy.nameFilter = nameFilter;
    copy.copiedFiles = copiedFiles;
    return copyFolderTop(source, destination, copy, pauseMs);
}

bool JXUtility::copyFolder(const QString& source, const QString& destination, void*, void*, QStringList* copiedFiles)
{
    FolderCopy copy;
    copy.copiedFiles = copiedFiles;
    return copyFolderTop(source, destination, copy, 0);
}

qint64 JXUtility::FilesInFolder(const QString& folder, const QString& nameFilter)
{
    qint64 count = 0;
    QDirIterator it(folder, QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (nameFilter.isEmpty() || it.fileName().contains(nameFilter, Qt::CaseInsensitive))
            ++count;
    }
    return count;
}

void JXUtility::getFileListUnderFolder(const QString& folder, QStringList& list)
{
    for (const QFileInfo& entry : listFolder(folder, kWalkFilters)) {
        if (entry.isDir())
            getFileListUnderFolder(entry.filePath(), list);
        else
            list.append(entry.absoluteFilePath());
    }
}

qint64 JXUtility::getFolderSize(const QString& folder)
{
    qint64 size = 0;
    for (const QFileInfo& entry : listFolder(folder, kWalkFilters))
        size += entry.isDir() ? getFolderSize(entry.absoluteFilePath()) : entry.size();
    return size;
}

void JXUtility::crcgetSampleFromFile(const QString& path, QByteArray& sample)
{
    constexpr qint64 blockSize = 100;
    constexpr qint64 step = 1000;

    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return;
    const qint64 size = file.size();
    while (!file.atEnd()) {
        const QByteArray block = file.read(blockSize);
        if (block.isEmpty())
            break;
        sample.append(block);
        if (block.size() < blockSize || file.atEnd())
            break;
        qint64 next = file.pos() + step;
        if (next >= size)
            next = size - blockSize;
        if (!file.seek(next))
            break;
    }
    file.close();
}

void JXUtility::crcgetSampleFromDir(const QString& folder, QByteArray& sample)
{
    for (const QFileInfo& entry : listFolder(folder, kWalkFilters)) {
        if (entry.isDir())
            crcgetSampleFromDir(entry.filePath(), sample);
        else
            crcgetSampleFromFile(entry.filePath(), sample);
    }
}

void JXUtility::setFlagFile(const QString& path, bool set)
{
    if (!set) {
        if (!QFile::remove(path))
            JX_WARNING << "remove " << path << "failed";
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        JX_WARNING << "create " << path << "FAILED";
    } else if (file.write("1", 1) != 1) {
        JX_WARNING << "write " << path << "FAILED";
    }
    file.close();
}

bool JXUtility::batchRenameFileExt(QStringList& list, const QString& from, const QString& to)
{
    bool ok = true;
    for (QString& path : list) {
        QString newPath = path;
        newPath.replace(from, to, Qt::CaseSensitive);
        if (newPath == path)
            continue;
        // rename(2) replaces a file at the new path in one step, so that file
        // survives when the move fails.
        if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(newPath).constData()) != 0) {
            JX_WARNING << "rename" << path << "to" << newPath << "failed:" << errnoText(errno);
            ok = false;
            continue;
        }
        path = newPath;
    }
    return ok;
}

QString JXUtility::findDeviceIni(const QString& volume)
{
    for (const char* name : {"/device.ini", "/Device.ini"}) {
        const QString path = volume + QLatin1String(name);
        if (QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

QString JXUtility::findDeviceText(const QString& volume)
{
    for (const char* name : {"/System/device.txt", "/System/Device.txt"}) {
        const QString path = volume + QLatin1String(name);
        if (QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

void JXUtility::checkCopiedFilesCompletion(const QStringList& list)
{
    const JXFunctionTrace trace("checkCopiedFilesCompletion");
    Q_UNUSED(trace)
    constexpr qint64 tailSize = 1024;

    for (const QString& path : list) {
        QFile file(path);
        if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
            qCritical("%s", qUtf8Printable(QStringLiteral("checkCopiedFilesCompletion: open %1 failed").arg(path)));
            continue;
        }
        const qint64 size = file.size();
        qint64 expected = size;
        if (size > tailSize) {
            expected = tailSize;
            file.seek(size - tailSize);
        }
        if (file.read(expected).size() != expected)
            qCritical("%s",
                      qUtf8Printable(
                          QStringLiteral("checkCopiedFilesCompletion: read %1 size=%2 failed").arg(path).arg(size)));
        file.close();
    }
}

void JXUtility::csvline_populate(QList<QByteArray>& record, const QByteArray& line, char delimiter)
{
    record.clear();
    QByteArray field;
    bool inQuotes = false;
    const int length = line.size();
    for (int position = 0; position < length && line.at(position) != '\0'; ++position) {
        const char byte = line.at(position);
        if (inQuotes) {
            if (byte != '"') {
                field.append(byte);
            } else if (position + 1 < length && line.at(position + 1) == '"') {
                field.append('"');
                ++position;
            } else {
                inQuotes = false;
            }
        } else if (byte == '"' && field.isEmpty()) {
            inQuotes = true;
        } else if (byte == delimiter) {
            record.append(field);
            field.clear();
        } else if (byte == '\r' || byte == '\n') {
            break;
        } else {
            field.append(byte);
        }
    }
    record.append(field);
}

QString JXUtility::convertSize(float size)
{
    double value = size;
    QString unit = QStringLiteral("KB");
    if (value > 1024) {
        value /= 1024;
        unit = QStringLiteral("MB");
    }
    if (unit == QLatin1String("MB") && value >= 1024) {
        value /= 1024;
        unit = QStringLiteral("GB");
    }
    value = std::trunc(value * 100) / 100;
    return QStringLiteral("%1 %2").arg(value).arg(unit);
}

QString JXUtility::settingText(const QVariant& value)
{
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}
