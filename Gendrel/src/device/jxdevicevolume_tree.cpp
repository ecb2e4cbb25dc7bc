// The tree copies of JXDeviceVolume: into the volume in batches, and out of it to the computer.

#include "device/jxdevicevolume.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jxclock.h"
#include "jxdevicevolume_p.h"
#include "jxlog.h"
#include "jxquoted.h"

using namespace JXVolumeIo;

namespace {

// A tree is copied in batches that share one flush and one read-back pass: bounded so that the folders held open and
// the data waiting for the flush stay small.
constexpr size_t kBatchFiles = 256;
constexpr qint64 kBatchBytes = 128 * 1024 * 1024;

qint64 milliseconds(const struct timespec& time)
{
    return qint64(time.tv_sec) * 1000 + time.tv_nsec / 1000000;
}

} // namespace

// A copy of a tree copy, written beside its place, waiting for its batch's flush, read-back and rename.
struct JXDeviceVolume::Pending
{
    Place where;
    QString sourcePath;
    struct stat source = {}; // the source as it was copied
    struct stat written = {};
};

struct JXDeviceVolume::Batch
{
    std::vector<Pending> files;
    qint64 bytes = 0;
    bool placed = false; // a copy was renamed into place since the last flush
};

bool JXDeviceVolume::copyTreeIn(const QString& sourceFolder, const QString& folder, bool keepTime,
                                qint64 sameWindowMs, QStringList* copied)
{
    QStringList parts;
    if (!names(folder, parts))
        return false;
    const auto target = std::make_shared<Fd>(openFolder(parts, true, pathOf(parts)));
    if (!target->isOpen())
        return false;
    Batch batch;
    const auto discard = qScopeGuard([&] { discardBatch(batch); });
    const bool done =
        copyTreeInAt(target, parts, sourceFolder, keepTime, sameWindowMs, batch, copied) && settleBatch(batch, copied);
    // The new names of every batch reach the device together, with the next batch's data or here.
    if (batch.placed && ::syncfs(target->get()) != 0) {
        JX_CRITICAL << "failed to copy into" << quoted(pathOf(parts)) << ": flushing the copied names:"
                    << errorText(errno);
        return false;
    }
    return done;
}

bool JXDeviceVolume::copyTreeInAt(const std::shared_ptr<Fd>& folder, const QStringList& parts,
                                  const QString& sourceFolder, bool keepTime, qint64 sameWindowMs, Batch& batch,
                                  QStringList* copied)
{
    const QFileInfoList entries = QDir(sourceFolder).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink())
            continue;
        const QStringList entryParts = parts + QStringList{entry.fileName()};
        const QByteArray name = QFile::encodeName(entry.fileName());
        if (entry.isDir()) {
            if (::mkdirat(folder->get(), name.constData(), 0755) != 0 && errno != EEXIST) {
                JX_CRITICAL << "cannot make the folder" << quoted(pathOf(entryParts)) << ":" << errorText(errno);
                return false;
            }
            const auto sub =
                std::make_shared<Fd>(retryOpenAt(folder->get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
            if (!sub->isOpen()) {
                JX_CRITICAL << "not copying into" << quoted(pathOf(entryParts)) << ": it is a link or no folder ("
                            << errorText(errno) << ")";
                return false;
            }
            if (!copyTreeInAt(sub, entryParts, entry.absoluteFilePath(), keepTime, sameWindowMs, batch, copied))
                return false;
            continue;
        }
        struct stat existing = {};
        if (sameWindowMs >= 0 && ::fstatat(folder->get(), name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(existing.st_mode) && qint64(existing.st_size) == entry.size() &&
            qAbs(milliseconds(existing.st_mtim) - entry.lastModified().toMSecsSinceEpoch()) < sameWindowMs)
            continue;
        Place where;
        where.held = folder;
        where.name = name;
        where.path = pathOf(entryParts);
        if (!writePending(where, entry.absoluteFilePath(), keepTime, batch))
            return false;
        if ((batch.files.size() >= kBatchFiles || batch.bytes >= kBatchBytes) && !settleBatch(batch, copied))
            return false;
    }
    return true;
}

// Writes the copy beside its place and leaves it for the batch's flush; the copy goes again when this fails.
bool JXDeviceVolume::writePending(const Place& where, const QString& source, bool keepTime, Batch& batch)
{
    Pending file;
    Fd input(openSource(where, source, file.source));
    Fd output;
    if (!input.isOpen() || !createBeside(where, output, file.written))
        return false;
    const qint64 size = qint64(file.source.st_size);
    bool written = fillBeside(where, output.get(), size, readerOf(input.get()), keepTime ? &file.source.st_mtim : nullptr);
    if (written && !output.close()) {
        JX_CRITICAL << "failed to write" << quoted(where.path) << ":" << errorText(errno);
        written = false;
    }
    if (!written) {
        removeWritten(where.folder(), partNameOf(where.name), file.written, partPathOf(where.path));
        return false;
    }
    file.where = where;
    file.sourcePath = source;
    batch.bytes += size;
    batch.files.push_back(std::move(file));
    return true;
}

// Brings the batch's copies to the device with one flush, reads each back until it equals its source (within the
// read-back limit, the ones that differ tried again together) and renames them into place; the new names are
// flushed with the next batch or at the end of the tree. A failure takes away the copies not yet in place; those in
// place stay, whole.
bool JXDeviceVolume::settleBatch(Batch& batch, QStringList* copied)
{
    if (batch.files.empty())
        return true;
    const auto discard = qScopeGuard([&] { discardBatch(batch); });
    const Place& first = batch.files.front().where;
    // "Done" lets the user pull the cable: the bytes must be on the device, not in this computer's cache. The names
    // placed by the batch before go with them.
    if (::syncfs(first.folder()) != 0) {
        JX_CRITICAL << "failed to write" << quoted(first.path) << "and the files copied with it: flushing them:"
                    << errorText(errno);
        return false;
    }
    batch.placed = false;
    // The cached pages are what was written, not what the device holds: all dropped, and read again ahead, so that
    // the device serves the reads of the whole batch at once rather than one small file at a time.
    std::vector<Pending*> waiting;
    for (Pending& file : batch.files) {
        waiting.push_back(&file);
        Fd copy(retryOpenAt(file.where.folder(), partNameOf(file.where.name).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
        if (copy.isOpen()) {
            ::posix_fadvise(copy.get(), 0, 0, POSIX_FADV_DONTNEED);
            ::posix_fadvise(copy.get(), 0, 0, POSIX_FADV_WILLNEED);
        }
    }
    const qint64 start = JXClock::nowMs();
    for (bool dropped = true;; dropped = false) {
        if (!readBackInTime(waiting.front()->where, start) || !stillPresent(waiting.front()->where))
            return false;
        std::vector<Pending*> differing;
        for (Pending* file : waiting) {
            const ReadBack outcome = readBackPending(*file, dropped);
            if (outcome == ReadBack::Failed)
                return false;
            if (outcome == ReadBack::Differs)
                differing.push_back(file);
        }
        if (differing.empty())
            break;
        if (!stillPresent(differing.front()->where))
            return false;
        JX_DEBUG << "wait for completion of" << differing.size() << "files from" << differing.front()->where.path;
        JXClock::sleepMs(m_readBackRetryMs);
        waiting.swap(differing);
    }
    for (const Pending& file : batch.files) {
        const int folder = file.where.folder();
        // Over the old file in one step: it stays whole until the new one has its name.
        if (::renameat(folder, partNameOf(file.where.name).constData(), folder, file.where.name.constData()) != 0) {
            JX_CRITICAL << "failed to write" << quoted(file.where.path) << ": cannot move it into place:"
                        << errorText(errno);
            return false;
        }
        batch.placed = true;
        if (copied)
            copied->prepend(file.where.path);
    }
    batch.files.clear();
    batch.bytes = 0;
    return true;
}

// One read-back try of a copy of the batch, against its source as it was when copied.
JXDeviceVolume::ReadBack JXDeviceVolume::readBackPending(const Pending& file, bool dropped) const
{
    struct stat now = {};
    Fd input(openRegularIn(AT_FDCWD, QFile::encodeName(file.sourcePath), now));
    if (!input.isOpen() || now.st_dev != file.source.st_dev || now.st_ino != file.source.st_ino ||
        now.st_size != file.source.st_size || now.st_mtim.tv_sec != file.source.st_mtim.tv_sec ||
        now.st_mtim.tv_nsec != file.source.st_mtim.tv_nsec) {
        JX_CRITICAL << "failed to write" << quoted(file.where.path) << ": its source" << quoted(file.sourcePath)
                    << "changed or cannot be read";
        return ReadBack::Failed;
    }
    return readBack(file.where, file.written, qint64(file.source.st_size), readerOf(input.get()), dropped);
}

// Takes away the copies of the batch that are not in place; each only while its name still is the file written.
void JXDeviceVolume::discardBatch(Batch& batch)
{
    for (const Pending& file : batch.files)
        removeWritten(file.where.folder(), partNameOf(file.where.name), file.written, partPathOf(file.where.path));
    batch.files.clear();
    batch.bytes = 0;
}

bool JXDeviceVolume::copyTreeOut(const QString& folder, const QString& localFolder)
{
    QStringList parts;
    if (!names(folder, parts))
        return false;
    Fd source(openFolder(parts, false, pathOf(parts)));
    if (!source.isOpen())
        return false;
    if (!QDir().mkpath(localFolder)) {
        JX_CRITICAL << "cannot make the folder" << quoted(localFolder);
        return false;
    }
    return copyTreeOutAt(source.get(), pathOf(parts), localFolder);
}

bool JXDeviceVolume::copyTreeOutAt(int folderFd, const QString& path, const QString& localFolder)
{
    QList<QByteArray> entries;
    if (!listFolder(folderFd, entries)) {
        JX_CRITICAL << "cannot list" << quoted(path) << ":" << errorText(errno);
        return false;
    }
    std::sort(entries.begin(), entries.end());
    for (const QByteArray& name : qAsConst(entries)) {
        if (name.startsWith('.'))
            continue;
        const QString entryPath = path + QLatin1Char('/') + QFile::decodeName(name);
        const QString localPath = localFolder + QLatin1Char('/') + QFile::decodeName(name);
        struct stat info = {};
        if (::fstatat(folderFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISLNK(info.st_mode)) {
            JX_WARNING << "left alone:" << quoted(entryPath) << "is a link";
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            Fd sub(retryOpenAt(folderFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
            if (!sub.isOpen() || !QDir().mkpath(localPath) || !copyTreeOutAt(sub.get(), entryPath, localPath)) {
                JX_CRITICAL << "cannot copy the folder" << quoted(entryPath) << "to" << quoted(localPath);
                return false;
            }
            continue;
        }
        if (!S_ISREG(info.st_mode))
            continue;
        Fd input(openRegularIn(folderFd, name, info));
        Fd output(retryOpenAt(AT_FDCWD, QFile::encodeName(localPath).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644));
        bool ok = input.isOpen() && output.isOpen();
        std::vector<char> buffer(static_cast<size_t>(kBlockSize));
        for (qint64 offset = 0; ok;) {
            const qint64 count = readAt(input.get(), buffer.data(), kBlockSize, offset);
            ok = count >= 0 && writeAll(output.get(), buffer.data(), count);
            if (count <= 0)
                break;
            offset += count;
        }
        if (!ok || !output.close()) {
            JX_CRITICAL << "cannot copy" << quoted(entryPath) << "to" << quoted(localPath) << ":" << errorText(errno);
            return false;
        }
    }
    return true;
}

