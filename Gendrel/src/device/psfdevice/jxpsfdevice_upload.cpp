// The second-generation client's exports: tracks as GPX files, the upload package and the flash dumps.

#include "device/psfdevice/jxpsfdevice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>

#include "../../../../core/include/training/ghtrncrs.h"
#include "../../../../core/include/util/ghgpx2.h"
#include "../../../../core/include/util/ghgpxextlaps.h"
#include "../../../../core/include/util/ghgpxextsensorlog.h"
#include "../../../../core/include/util/ghgpxextworkoutlog.h"
#include "../../../../core/include/util/ghgpxmetadata.h"
#include "../../../../core/include/util/ghgpxroute.h"
#include "../../../../core/include/util/ghgpxtrack.h"
#include "../../../../core/include/util/ghgpxwriter.h"
#include "../jxflashbackup.h"
#include "compress/jxziputil.h"
#include "jxcurrentfolder.h"
#include "jxenv.h"
#include "jxlog.h"
#include "jxutility.h"
#include "psf/gen2/jxpsf_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"

namespace {

const int kGpxNameCount = 100;

qint64 fileSize(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : -1;
}

// A record's name as a file-name stem: without the characters that separate paths or words.
QString fileStem(QString name)
{
    name.remove(QLatin1Char(' '));
    name.remove(QLatin1Char('/'));
    name.remove(QLatin1Char('\\'));
    name.remove(QLatin1Char(':'));
    return name;
}

} // namespace

QStringList JXPSFDevice::trackToXml(bool onlyNew)
{
    JX_DEBUG << "start";
    QStringList files;
    if (!m_psf)
        return files;
    QVector<JXPSFRoute_1_5*> tracks;
    if (!m_psf->getRoutes(1, tracks)) {
        JX_WARNING << "getRoutes failed";
        return files;
    }
    for (JXPSFRoute_1_5* record : qAsConst(tracks)) {
        if (onlyNew && record->isUploaded())
            continue;
        std::unique_ptr<GHGpx2> gpx(new GHGpx2);
        std::unique_ptr<GHGpxRoute> route(new GHGpxRoute);

        gpx->track = toGpxTrack(record, route.get());
        gpx->sensorLog = toGpxSsrLog(record);
        gpx->workoutLog = toGpxWorkoutLog(record);
        if (GHTrnWorkout* plan = toGpxWorkoutPlan(record)) {
            auto* course = new GHTrncrs;
            course->workouts.append(plan);
            gpx->workoutPlan = course;
            const QString courseFile = workoutToXml(course);
            // An empty name: nothing was written, and workoutToXml said why.
            if (!courseFile.isEmpty())
                files.append(courseFile);
        }
        if (GHGpxExtLap* summary = toGpxSummary(record)) {
            gpx->laps = new GHGpxExtLaps;
            gpx->laps->summary = summary;
        }
        const QVector<GHGpxExtLap*> laps = toGpxLaps(record);
        if (!laps.isEmpty()) {
            if (!gpx->laps)
                gpx->laps = new GHGpxExtLaps;
            for (GHGpxExtLap* lap : laps)
                gpx->laps->addLap(lap);
        }
        gpx->metadata = toGpxMeta(record);
        route->name = record->getName(QString());
        gpx->route = route.release();

        const QString stem = fileStem(record->getName(QString()));
        QString file;
        for (int counter = 0; counter < kGpxNameCount && file.isEmpty(); ++counter) {
            const QString candidate = stem + QString::number(counter) + QStringLiteral(".gpx");
            if (!QFileInfo::exists(candidate))
                file = candidate;
        }
        // Writing over an earlier track's file would lose it: this track stays out of the package.
        if (file.isEmpty()) {
            JX_WARNING << "file name exists for " << stem;
            continue;
        }
        if (!GHGpxWriter(QStringLiteral("2.0"), gpx.get()).writeFile(file)) {
            JX_WARNING << "the track" << stem << "could not be written to" << file;
            continue;
        }
        files.append(file);
    }
    JX_DEBUG << "end ,file=" << files;
    return files;
}

QStringList JXPSFDevice::saveDeviceRawData(QString path)
{
    JXCurrentFolderGuard folderGuard;
    QDir folder;
    if (!folderGuard.enter(path, folder))
        return QStringList();
    QStringList paths;
    for (const QString& name : trackToXml(false))
        paths.append(folder.filePath(name));
    return paths;
}

bool JXPSFDevice::prepareUploadData(QString& zipPath, bool dontCheckUploaded)
{
    JX_DEBUG << " start prepare";
    JXEnv* env = JXEnv::getInstance();
    JXCurrentFolderGuard folderGuard;
    env->cleanTmpFolder();
    env->cdTmpFolder();
    const QString tmpFolder = env->getTmpFolder();
    const QString uploadName = env->getUploadFilename();
    // The files are written by relative name: anywhere but the temporary folder they would go astray.
    if (!env->isInTmpFolder()) {
        JX_CRITICAL << "can not enter the temporary folder" << tmpFolder;
        return false;
    }

    JX_DEBUG << "do track";
    QStringList files = trackToXml(!dontCheckUploaded);
    JX_DEBUG << "done";

    // The kept dumps travel in the package, the current one last. The file stays in the user-data folder: after a
    // failed write-back it holds the only copy of the user's data, and the package is gone with the next one.
    const QString dumpName = flashDumpName();
    const QString backup = trimmedFlashDumpPath();
    saveExtFlashToFile(backup);
    QFile::remove(dumpName);
    if (!QFileInfo::exists(backup))
        JX_WARNING << "no flash dump to pack";
    else if (!QFile::copy(backup, dumpName))
        JX_WARNING << "the flash dump could not be copied into the package";
    else
        files.append(dumpName);

    const QString logName = env->getLogFileName();
    QFile::remove(logName);
    if (QFile::copy(env->getLogFile(), logName))
        files.append(logName);
    else
        JX_WARNING << "the log could not be copied into the package";

    if (files.isEmpty())
        return false;
    if (zipPath.isEmpty()) {
        zipPath = tmpFolder + QLatin1Char('/') + uploadName;
    } else {
        // A failed rename leaves that file under its ".gpx" name in the package; the rename logs it.
        JXUtility::batchRenameFileExt(files, QStringLiteral(".gpx"), QStringLiteral(".pmz"));
    }
    JXZipUtil zip;
    if (!zip.compress(zipPath, files)) {
        JX_CRITICAL << "packing the upload data into" << zipPath << "failed";
        return false;
    }
    JX_DEBUG << "end";
    return true;
}

void JXPSFDevice::exportData(QString, QStringList& files)
{
    const QString backup = trimmedFlashDumpPath();
    const qint64 before = fileSize(backup);
    saveExtFlashToFile(backup);
    const qint64 after = fileSize(backup);
    if (after < qMax<qint64>(before, 0) + m_image.size())
        JX_WARNING << "no new dump of the flash was added to" << backup;
    if (after < 0) {
        JX_WARNING << "no flash backup to export";
        return;
    }
    files.append(flashDumpName());
}
