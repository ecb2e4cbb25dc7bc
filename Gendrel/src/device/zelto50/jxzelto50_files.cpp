// File copy, removal and packing on the device volume, and the three transfers between the device and the
// computer: the upload package, the raw ride-log export and the share-data import.

#include "device/zelto50/jxzelto50.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

#include "../../../../core/include/search/ghdevicedb.h"
#include "../../../../core/include/util/ghscratchfile.h"
#include "../../../../core/include/util/ghtracelog.h"
#include "../jxquoted.h"
#include "compress/jxziputil.h"
#include "device/jxdevicevolume.h"
#include "jxenv.h"
#include "jxlog.h"
#include "jxutility.h"

namespace {

const qint64 kCopyBlock = 1024 * 1024;

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

JXDeviceVolume JXZelto50::volumeFor(const QString& path)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString drive;
    if (driveRoot(drive)) {
        const QString root = QDir::cleanPath(QFileInfo(drive).absoluteFilePath());
        if (clean.startsWith(root + QLatin1Char('/')))
            return JXDeviceVolume(root);
    }
    // A folder of the computer (a work folder, an export) stands for a volume of its own.
    return JXDeviceVolume(QFileInfo(clean).path());
}

bool JXZelto50::copyFile(QString source, QString destination, bool keepTime)
{
    JX_DEBUG << "copy file from " << quoted(source) << " to " << quoted(destination);
    JXDeviceVolume volume = volumeFor(destination);
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0 && volume.kindOf(destination) == JXDeviceVolume::Kind::File)
            volume.addOwnerWrite(destination);
        if (volume.copyFileIn(source, destination, keepTime))
            return true;
    }
    JX_CRITICAL << "copy file failed: from " << quoted(source) << " to " << quoted(destination);
    return false;
}

void JXZelto50::removeReadOnlyAttribute(QString path)
{
    JX_DEBUG << "removeReadOnlyAttribute: " << quoted(path);
    volumeFor(path).addOwnerWrite(path);
}

namespace {

// The named files packed into archive, a QSaveFile or a GHScratchFile for zipFile, committed when whole.
template <class Archive>
bool packInto(Archive& archive, const QString& zipFile, const QString& folder, const QStringList& files)
{
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

} // namespace

bool JXZelto50::zipFiles(QString zipFile, QString folder, QStringList& files, bool durable)
{
    // The archive is renamed into place only when complete: a failed pack leaves no archive that looks whole.
    if (!durable) {
        GHScratchFile archive(zipFile);
        return packInto(archive, zipFile, folder, files);
    }
    QSaveFile archive(zipFile);
    return packInto(archive, zipFile, folder, files);
}

bool JXZelto50::removeFile(QString path)
{
    JXDeviceVolume volume = volumeFor(path);
    if (volume.removeFile(path))
        return true;
    JX_CRITICAL << "remove file failed: " << quoted(path);
    return false;
}

// ---- Folders -----------------------------------------------------------------------------------------------------

bool JXZelto50::removeFiles(QString folder)
{
    return volumeFor(folder).removeTree(folder);
}

bool JXZelto50::copyFiles(QString source, QString target, bool keepTime, QStringList* copied)
{
    return volumeFor(target).copyTreeIn(source, target, keepTime, kSameFileWindowMs, copied);
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
        std::optional<quint32> workout;
        // The exports are packed and deleted: only the package is flushed to the disk.
        const QString gpx = GHDeviceDB::getShareData(
            SHARE_TRACE_LOG, log.first, uploaded, GHTraceLog::EXPORT_NEEDS_SENSOR_LOG | GHTraceLog::EXPORT_SCRATCH,
            &workout);
        if (gpx.isEmpty())
            continue;
        if (uploaded && !all) {
            removeFile(gpx);
            continue;
        }
        if (!all)
            toMark.append(log.first);
        if (workout)
            workoutIds.append(*workout);
        const quint32 rideId = quint32(log.first.rowId);
        binaries << GHTraceLog::getTraceLogGPS(rideId) << GHTraceLog::getTraceLogTRN(rideId);
        const QString debugLog = GHTraceLog::getTraceLogDBG(rideId);
        if (QFileInfo::exists(debugLog))
            binaries << debugLog;
    }
    for (quint32 workoutId : qAsConst(workoutIds)) {
        bool uploaded = false;
        GHDeviceDB::getShareData(SHARE_WORKOUT, GHId(qint32(workoutId), GHId::FLASH), uploaded,
                                 GHTraceLog::EXPORT_SCRATCH);
    }

    const QFileInfoList exported = QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo& file : exported) {
        if (file.suffix() == QLatin1String("gpx"))
            QFile::rename(file.absoluteFilePath(), file.path() + QLatin1Char('/') + file.completeBaseName() +
                                                       QLatin1String(".pmz"));
    }
    // A package without its binary logs still carries the rides; the failure is logged by the packing.
    if (!binaries.isEmpty())
        zipFiles(folder + QLatin1String("/flash.dat"), QString(), binaries, false);

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
