// File copy, removal and packing on the device volume, and the three transfers between the device and the
// computer: the upload package, the raw ride-log export and the share-data import.

#include "device/jxzelto50.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "compress/jxziputil.h"
#include "jxenv.h"
#include "jxlog.h"
#include "jxutility.h"
#include "search/ghdevicedb.h"
#include "util/ghtracelog.h"

namespace {

const qint64 kCopyBlock = 1024 * 1024;
// Files whose times are closer than this and whose sizes agree are taken as copied already.
const qint64 kSameFileWindowMs = 60 * 1000;

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// The file whole, when it can be read and is no larger than the cap; false otherwise, with a log line for a file
// over the cap.
bool readCapped(const QString& path, QByteArray& bytes, const char* purpose)
{
    const QFileInfo info(path);
    if (info.isFile() && info.size() > JXZelto50::kMaxWholeFileRead) {
        JX_WARNING << purpose << "skipped, file larger than" << JXZelto50::kMaxWholeFileRead << "bytes:"
                   << quoted(path);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Read as it comes rather than into one buffer of the cap's size, which would be paid for on every file.
    bytes.clear();
    while (bytes.size() <= JXZelto50::kMaxWholeFileRead) {
        const QByteArray chunk = file.read(kCopyBlock);
        if (chunk.isEmpty())
            break;
        bytes += chunk;
    }
    if (bytes.size() > JXZelto50::kMaxWholeFileRead) {
        JX_WARNING << purpose << "skipped, file grew past" << JXZelto50::kMaxWholeFileRead << "bytes:"
                   << quoted(path);
        return false;
    }
    return true;
}

// One try of a copy: the data goes to a new file beside the destination, which takes the source's time and is then
// renamed over the destination, so the old file stays whole on every failure. A destination locked against writing
// is left for the caller to unlock first.
bool copyOnce(const QString& source, const QString& destination, bool keepTime)
{
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(destination);
    if (::access(to.constData(), F_OK) == 0 && ::access(to.constData(), W_OK) != 0) {
        JX_WARNING << "destination is locked:" << quoted(destination);
        return false;
    }
    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        JX_WARNING << "open" << quoted(source) << "failed:" << std::strerror(errno);
        return false;
    }
    struct stat sourceStat;
    QByteArray temporary;
    int out = -1;
    if (::fstat(in, &sourceStat) == 0) {
        for (int i = 0; i < 100 && out < 0; ++i) {
            temporary = to + ".jxcopy" + QByteArray::number(qint64(::getpid())) + '.' + QByteArray::number(i);
            out = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (out < 0 && errno != EEXIST)
                break;
        }
    }
    if (out < 0) {
        JX_WARNING << "create a copy beside" << quoted(destination) << "failed:" << std::strerror(errno);
        ::close(in);
        return false;
    }
    bool ok = true;
    // The kernel copies without a trip through this process where it can; else a plain read and write loop.
    bool kernelCopy = true;
    for (;;) {
        ssize_t count = -1;
        if (kernelCopy) {
            count = ::copy_file_range(in, nullptr, out, nullptr, size_t(kCopyBlock), 0);
            if (count < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
                kernelCopy = false;
                continue;
            }
        } else {
            static thread_local QByteArray buffer(int(kCopyBlock), Qt::Uninitialized);
            count = ::read(in, buffer.data(), size_t(buffer.size()));
            for (ssize_t written = 0; count > 0 && written < count;) {
                const ssize_t step = ::write(out, buffer.constData() + written, size_t(count - written));
                if (step <= 0) {
                    count = -1;
                    break;
                }
                written += step;
            }
        }
        if (count < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        if (count == 0)
            break;
    }
    const int error = errno;
    if (ok && keepTime) {
        struct timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
        if (::futimens(out, times) != 0)
            JX_WARNING << "keeping the time of" << quoted(destination) << "failed:" << std::strerror(errno);
    }
    ok = (::close(out) == 0) && ok;
    ::close(in);
    if (!ok || ::rename(temporary.constData(), to.constData()) != 0) {
        JX_WARNING << "copy to" << quoted(destination) << "failed:" << std::strerror(ok ? errno : error);
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

} // namespace

bool JXZelto50::workoutIdOfRide(const QString& text, quint32& id)
{
    static const QString marker = QStringLiteral("<wrklog id=\"");
    const int at = text.indexOf(marker);
    if (at <= 0)
        return false;
    const int start = at + marker.size();
    const int end = text.indexOf(QLatin1Char('"'), start);
    if (end < 0)
        return false;
    bool ok = false;
    id = text.mid(start, end - start).toUInt(&ok, 10);
    return ok;
}

// ---- One file ----------------------------------------------------------------------------------------------------

bool JXZelto50::copyFile(QString source, QString destination, bool keepTime)
{
    JX_CRITICAL << "copy file from " << quoted(source) << " to " << quoted(destination);
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0)
            removeReadOnlyAttribute(destination);
        if (copyOnce(source, destination, keepTime))
            return true;
    }
    JX_CRITICAL << "copy file failed: from " << quoted(source) << " to " << quoted(destination);
    return false;
}

void JXZelto50::removeReadOnlyAttribute(QString path)
{
    JX_DEBUG << "removeReadOnlyAttribute: " << quoted(path);
    // In-process: the path may come from a package, so no shell ever sees it.
    JXUtility::removeFileReadonly(path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser |
                                    QFile::ReadOther | QFile::WriteOther | QFile::ExeOther);
}

bool JXZelto50::zipFiles(QString zipFile, QString folder, QStringList& files)
{
    // The archive is renamed into place only when complete: a failed pack leaves no archive that looks whole.
    QSaveFile archive(zipFile);
    QuaZip zip(&archive);
    zip.setAutoClose(false);
    if (!zip.open(QuaZip::mdCreate)) {
        JX_WARNING << "open archive" << quoted(zipFile) << "failed, error" << zip.getZipError();
        return false;
    }
    const QString archivePath = QFileInfo(zipFile).absoluteFilePath();
    QByteArray buffer(int(kCopyBlock), Qt::Uninitialized);
    for (const QString& name : qAsConst(files)) {
        const QString path = QFileInfo(name).isAbsolute() ? name : folder + QLatin1Char('/') + name;
        const QFileInfo info(path);
        if (!info.isFile() || info.absoluteFilePath() == archivePath) {
            JX_WARNING << "not packed, no such file:" << quoted(path);
            continue;
        }
        QFile in(path);
        if (!in.open(QIODevice::ReadOnly)) {
            JX_WARNING << "open" << quoted(path) << "failed:" << in.errorString();
            archive.cancelWriting();
            return false;
        }
        QuaZipFile entry(&zip);
        if (!entry.open(QIODevice::WriteOnly, QuaZipNewInfo(info.fileName(), path))) {
            JX_WARNING << "add" << quoted(info.fileName()) << "failed, error" << entry.getZipError();
            archive.cancelWriting();
            return false;
        }
        bool ok = true;
        for (;;) {
            const qint64 count = in.read(buffer.data(), buffer.size());
            if (count < 0 || (count > 0 && entry.write(buffer.constData(), count) != count)) {
                ok = false;
                break;
            }
            if (count == 0)
                break;
        }
        entry.close();
        if (!ok || entry.getZipError() != UNZ_OK) {
            JX_WARNING << "pack" << quoted(path) << "failed, error" << entry.getZipError();
            archive.cancelWriting();
            return false;
        }
    }
    zip.close();
    if (zip.getZipError() != UNZ_OK) {
        JX_WARNING << "close archive" << quoted(zipFile) << "failed, error" << zip.getZipError();
        archive.cancelWriting();
        return false;
    }
    if (!archive.commit()) {
        JX_WARNING << "write archive" << quoted(zipFile) << "failed:" << archive.errorString();
        return false;
    }
    return true;
}

bool JXZelto50::removeFile(QString path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (QFile::remove(path))
        return true;
    for (int retry = 0; retry < 2; ++retry) {
        removeReadOnlyAttribute(path);
        if (QFile::remove(path))
            return true;
    }
    JX_CRITICAL << "remove file failed: " << quoted(path);
    return false;
}

// ---- Folders -----------------------------------------------------------------------------------------------------

bool JXZelto50::removeFiles(QString folder)
{
    QDir dir(folder);
    if (!dir.exists())
        return true;
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        // A link is removed itself, never what it points to.
        if (entry.isDir() && !entry.isSymLink()) {
            if (!removeFiles(entry.absoluteFilePath()))
                return false;
            dir.rmdir(entry.fileName());
        } else if (!removeFile(entry.absoluteFilePath())) {
            return false;
        }
    }
    QDir().rmdir(folder);
    return true;
}

bool JXZelto50::copyFiles(QString source, QString target, bool keepTime, QStringList* copied)
{
    const QFileInfoList entries = QDir(source).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink())
            continue;
        const QString destination = target + QLatin1Char('/') + entry.fileName();
        if (entry.isDir()) {
            QDir(target).mkdir(entry.fileName());
            if (!copyFiles(entry.absoluteFilePath(), destination, keepTime, copied))
                return false;
            continue;
        }
        const QFileInfo existing(destination);
        if (existing.isFile() && existing.size() == entry.size() &&
            qAbs(existing.lastModified().msecsTo(entry.lastModified())) < kSameFileWindowMs)
            continue;
        if (!copyFile(entry.absoluteFilePath(), destination, keepTime))
            return false;
        if (copied)
            copied->prepend(destination);
    }
    return true;
}

bool JXZelto50::zipDirectory(QString zipPath, QString folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot);
    return zipFiles(zipPath, folder, names);
}

// ---- Transfers ---------------------------------------------------------------------------------------------------

bool JXZelto50::prepareUploadData(QString& path, bool dontCheckUploaded)
{
    const bool all = dontCheckUploaded;
    if (!existRouteDat())
        return false;
    const QString folder = exportFolder();
    removeFiles(folder);
    QDir().mkpath(folder);
    if (QFileInfo::exists(path) && !removeFile(path))
        return false;
    setTransferSystemVersion();

    QVector<QPair<GHId, QString>> logs;
    GHDeviceDB::getTraceLogList(GHDeviceDB::ALL_ACTIVITIES, logs, false);
    QVector<GHId> toMark;
    QVector<quint32> workoutIds;
    QStringList binaries;
    for (const auto& log : qAsConst(logs)) {
        bool uploaded = false;
        const QString gpx = GHDeviceDB::getShareData(SHARE_TRACE_LOG, log.first, uploaded, 2);
        if (gpx.isEmpty())
            continue;
        if (uploaded && !all) {
            removeFile(gpx);
            continue;
        }
        if (!all)
            toMark.append(log.first);
        QByteArray bytes;
        if (readCapped(gpx, bytes, "workout id")) {
            quint32 workoutId = 0;
            if (workoutIdOfRide(QString::fromUtf8(bytes), workoutId))
                workoutIds.append(workoutId);
        } else if (!QFileInfo(gpx).isFile() || QFileInfo(gpx).size() <= kMaxWholeFileRead) {
            JX_WARNING << "prepareUploadData, get workout id open file error " << quoted(gpx);
        }
        const quint32 rideId = quint32(log.first.rowId);
        binaries << GHTraceLog::getTraceLogGPS(rideId) << GHTraceLog::getTraceLogTRN(rideId);
        const QString debugLog = GHTraceLog::getTraceLogDBG(rideId);
        if (QFileInfo::exists(debugLog))
            binaries << debugLog;
    }
    for (quint32 workoutId : qAsConst(workoutIds)) {
        bool uploaded = false;
        GHDeviceDB::getShareData(SHARE_WORKOUT, GHId(qint32(workoutId), GHId::FLASH), uploaded, 2);
    }

    const QFileInfoList exported = QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo& file : exported) {
        if (file.suffix() == QLatin1String("gpx"))
            QFile::rename(file.absoluteFilePath(), file.path() + QLatin1Char('/') + file.completeBaseName() +
                                                       QLatin1String(".pmz"));
    }
    // A package without its binary logs still carries the rides; the failure is logged by the packing.
    if (!binaries.isEmpty())
        zipFiles(folder + QLatin1String("/flash.dat"), QString(), binaries);

    if (path.isEmpty())
        path = JXEnv::getInstance()->getTmpFolder() + QLatin1Char('/') + JXEnv::getInstance()->getUploadFilename();
    const bool packed = zipDirectory(path, folder);
    if (packed) {
        // Marked only once the package exists, so that a failed one loses no ride from the next.
        for (const GHId& id : qAsConst(toMark))
            GHDeviceDB::setTraceLogUpload(id, true);
    } else {
        JX_CRITICAL << "zip file failed: " << quoted(path);
    }
    GHDeviceDB::closeStorageMapDb();
    return packed;
}

QStringList JXZelto50::saveDeviceRawData(QString path)
{
    if (!existRouteDat())
        return QStringList();
    const QString folder = exportFolder();
    removeFiles(folder);
    QDir().mkpath(folder);
    const QString destination = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    if (destination.isEmpty()) {
        JX_WARNING << "invalid path:" << quoted(path);
        return QStringList();
    }
    if (!QFileInfo(destination).isDir() && !QDir().mkpath(destination)) {
        JX_WARNING << "can't create foler " << quoted(destination);
        return QStringList();
    }
    setTransferSystemVersion();
    QString model;
    getName(model);
    GHTraceLog::setModelName(model);

    QVector<QPair<GHId, QString>> logs;
    GHDeviceDB::getTraceLogList(GHDeviceDB::ALL_ACTIVITIES, logs, false);
    for (const auto& log : qAsConst(logs)) {
        bool uploaded = false;
        GHDeviceDB::getShareData(SHARE_TRACE_LOG, log.first, uploaded, 2);
    }
    GHDeviceDB::closeStorageMapDb();

    QStringList copied;
    copyFiles(folder, destination, false, &copied);
    return copied;
}

bool JXZelto50::setShareData(QString path)
{
    if (!existRouteDat())
        return false;
    const QString folder = JXEnv::getInstance()->getTmpFolder() + QLatin1String("/zelto50");
    removeFiles(folder);
    QDir().mkpath(folder);
    JXZipUtil zip;
    if (!zip.decompress(path, folder)) {
        JX_WARNING << "unpacking" << quoted(path) << "failed";
        return false;
    }
    QStringList entries;
    for (const QFileInfo& entry : QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot))
        entries << entry.absoluteFilePath();
    JXUtility::batchRenameFileExt(entries, QStringLiteral(".pmz"), QStringLiteral(".gpx"));
    setTransferSystemVersion();

    static const QRegularExpression sharedTrack(QStringLiteral("<sharetype>2</sharetype>"),
                                                QRegularExpression::CaseInsensitiveOption);
    for (const QFileInfo& entry : QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot)) {
        QString file = entry.absoluteFilePath();
        QByteArray bytes;
        if (!readCapped(file, bytes, "import")) {
            JX_WARNING << "import skipped:" << quoted(file);
            continue;
        }
        // A shared track is imported as a route.
        QString text = QString::fromUtf8(bytes);
        const QString original = text;
        text.replace(sharedTrack, QStringLiteral("<sharetype>1</sharetype>"));
        if (text != original) {
            QSaveFile out(file);
            const QByteArray rewritten = text.toUtf8();
            if (!out.open(QIODevice::WriteOnly) || out.write(rewritten) != rewritten.size() || !out.commit()) {
                JX_WARNING << "rewrite of" << quoted(file) << "failed:" << out.errorString();
                continue;
            }
        }
        JX_DEBUG << "import" << quoted(file);
        GHDeviceDB::setShareData(file, false);
    }
    GHDeviceDB::closeStorageMapDb();
    return true;
}
