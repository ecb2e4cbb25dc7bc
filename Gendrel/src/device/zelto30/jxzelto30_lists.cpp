// The read side of the first-generation client: data lists, the upload package and the raw-data export.

#include "device/zelto30/jxzelto30.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <utility>

#include "compress/jxziputil.h"
#include "jxcurrentfolder.h"
#include "jxenv.h"
#include "jxlog.h"
#include "jxutility.h"
#include "psf/gen1/jxpsf.h"
#include "psf/gen1/jxpsfpoiframe.h"
#include "psf/gen1/jxpsfrouteframe.h"
#include "psf/gen1/jxpsfworkoutframe.h"

namespace {

const int kNamePictureWidth = 64;
const int kNamePictureHeight = 16;
const unsigned int kUnsetTime = 0xFFFFFFFFu;

enum DataKind { RouteKind = 1, TrackKind = 2, WorkoutKind = 3 };

// A name is either a one-bit picture of all its bytes or 8-bit text up to its first zero byte, never both.
void setName(JXClientData& item, const QByteArray& name, bool picture)
{
    if (picture) {
        QByteArray bytes(name);
        item.namePicture =
            JXPSFField::BitmapStringFromPSF(bytes.data(), bytes.size(), kNamePictureWidth, kNamePictureHeight);
    } else {
        item.name = QString::fromLatin1(name.constData(), int(qstrnlen(name.constData(), uint(name.size()))));
    }
}

QString place(unsigned int latitude, unsigned int longitude)
{
    return JXPSFField::coordinateFromPSF(int(latitude)) + QLatin1Char(',') +
           JXPSFField::coordinateFromPSF(int(longitude));
}

template <typename Record>
QVector<QPointer<Record>> unmarked(const QVector<QPointer<Record>>* records)
{
    QVector<QPointer<Record>> result;
    if (records)
        for (const QPointer<Record>& record : *records)
            if (record && !record->getUploaded())
                result.append(record);
    return result;
}

template <typename Record>
void clearMarks(const QVector<QPointer<Record>>& records)
{
    for (const QPointer<Record>& record : records)
        if (record)
            record->setUploaded(false);
}

// The store's conversion marks each record it writes as uploaded. A package that is not made must take those marks
// back, or the next package leaves the records out and a later write-back loses them for good.
class UploadMarks
{
public:
    explicit UploadMarks(JXPSF* psf)
    {
        if (!psf)
            return;
        if (JXPSFRouteFrame* frame = psf->getRouteFrame())
            m_routes = unmarked(frame->getRoutes());
        if (JXPSFWorkoutFrame* frame = psf->getWorkoutFrame())
            m_workouts = unmarked(frame->getWorkouts());
        if (JXPSFPOIFrame* frame = psf->getPOIFrame())
            m_pois = unmarked(frame->getPOIs());
    }

    void restore() const
    {
        clearMarks(m_routes);
        clearMarks(m_workouts);
        clearMarks(m_pois);
    }

private:
    QVector<QPointer<JXPSFRoute>> m_routes;
    QVector<QPointer<JXPSFWorkout>> m_workouts;
    QVector<QPointer<JXPSFPOI>> m_pois;
};

} // namespace

void JXZelto30::getRoutes(QVector<JXClientData>& items)
{
    getExtFlash();
    if (!m_psf || !m_psf->getRouteFrame())
        return;
    const QVector<QPointer<JXPSFRoute>> routes = *m_psf->getRouteFrame()->getRoutes();
    // A store holds hundreds of records: growing the list item by item would copy every item again and again.
    items.reserve(items.size() + routes.size());
    for (int index = 0; index < routes.size(); ++index) {
        JXPSFRoute* route = routes.at(index);
        if (!route || route->getTrackFlag())
            continue;
        JXClientData item;
        item.id = index;
        setName(item, route->getName(), route->getNameType());
        item.distance = qint32(JXPSFRoute::getDistance(route));
        unsigned int startLat = 0, startLon = 0, endLat = 0, endLon = 0;
        JXPSFRoute::getStartEndPoint(route, startLat, startLon, endLat, endLon);
        item.startPlace = place(startLat, startLon);
        item.endPlace = place(endLat, endLon);
        item.dataKind = RouteKind;
        item.uploaded = route->getUploaded();
        items.append(std::move(item));
    }
}

void JXZelto30::getTracks(QVector<JXClientData>& items)
{
    getExtFlash();
    if (!m_psf || !m_psf->getRouteFrame())
        return;
    JXPSFRouteFrame* frame = m_psf->getRouteFrame();
    const QVector<QPointer<JXPSFRoute>> routes = *frame->getRoutes();
    items.reserve(items.size() + routes.size());
    for (int index = 0; index < routes.size(); ++index) {
        JXPSFRoute* route = routes.at(index);
        if (!route || !route->getTrackFlag())
            continue;
        JXClientData item;
        item.id = index;
        setName(item, route->getName(), route->getNameType());
        item.dataKind = TrackKind;
        item.uploaded = route->getUploaded();
        if (const JXPSFLap* summary = route->getSummary(frame)) {
            item.startTime = QDateTime::fromTime_t(summary->getStartTime());
            item.endTime = QDateTime::fromTime_t(summary->getEndTime());
            item.distance = qint32(summary->getDistance());
            unsigned int startLat = 0, startLon = 0, endLat = 0, endLon = 0;
            JXPSFRoute::getStartEndPoint(route, startLat, startLon, endLat, endLon);
            item.startPlace = place(startLat, startLon);
            item.endPlace = place(endLat, endLon);
        }
        items.append(std::move(item));
    }
}

void JXZelto30::getWorkouts(QVector<JXClientData>& items)
{
    getExtFlash();
    if (!m_psf || !m_psf->getWorkoutFrame())
        return;
    const QVector<QPointer<JXPSFWorkout>> workouts = *m_psf->getWorkoutFrame()->getWorkouts();
    items.reserve(items.size() + workouts.size());
    for (int index = 0; index < workouts.size(); ++index) {
        JXPSFWorkout* workout = workouts.at(index);
        if (!workout)
            continue;
        JXClientData item;
        item.id = index;
        setName(item, workout->getName(), workout->getNameType());
        if (workout->getTime() != kUnsetTime)
            item.startTime = QDateTime::fromTime_t(workout->getTime());
        item.dataKind = WorkoutKind;
        item.uploaded = workout->getUploaded();
        items.append(std::move(item));
    }
}

void JXZelto30::getPOIs(QVector<JXClientData>&) {}

bool JXZelto30::prepareUploadData(QString& path, bool dontCheckUploaded)
{
    JX_DEBUG << " start prepare";
    QByteArray* image = getExtFlash();
    JXEnv* env = JXEnv::getInstance();

    JXCurrentFolderGuard folderGuard;
    env->cleanTmpFolder();
    env->cdTmpFolder();
    const QString tmpFolder = env->getTmpFolder();
    const QString uploadName = env->getUploadFilename();
    // The files are written by relative name: anywhere but the temporary folder they would land among other files.
    if (!env->isInTmpFolder()) {
        JX_CRITICAL << "no upload package: the temporary folder" << tmpFolder << "is not the current folder";
        m_error = true;
        return false;
    }

    QStringList files;
    const UploadMarks marks(m_psf);
    if (m_psf) {
        m_psf->setDontCheckUploaded(dontCheckUploaded);
        JX_DEBUG << "to XML";
        files += QStringList(m_psf->toXML());
        JX_DEBUG << "to XML done ";
    }

    // The package still carries the rest when the image copy cannot be made.
    QFile flash(QStringLiteral("flash.dat"));
    if (flash.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (flash.write(*image) != image->size())
            JX_WARNING << "flash.dat written short:" << flash.errorString();
        files.append(flash.fileName());
        flash.close();
    } else {
        JX_WARNING << "flash.dat can't be created:" << flash.errorString();
    }

    const QString logName = env->getLogFileName();
    QFile::remove(logName);
    if (!QFile::copy(env->getLogFile(), logName))
        JX_WARNING << "the log could not be copied into the package";
    files.append(logName);

    if (path.isEmpty()) {
        path = tmpFolder + QLatin1Char('/') + uploadName;
    } else {
        // A failed rename leaves that file under its ".gpx" name in the package; it is logged by the rename.
        JXUtility::batchRenameFileExt(files, QStringLiteral(".gpx"), QStringLiteral(".pmz"));
    }
    JXZipUtil zip;
    const bool result = zip.compress(path, files);
    if (!result) {
        JX_CRITICAL << "packing the upload data into" << path << "failed; the records stay marked not uploaded";
        marks.restore();
    }

    m_error = !result;
    JX_DEBUG << "end";
    return result;
}

QStringList JXZelto30::saveDeviceRawData(QString path)
{
    getExtFlash();
    JXCurrentFolderGuard folderGuard;
    QDir folder;
    if (!folderGuard.enter(path, folder))
        return QStringList();
    QStringList paths;
    if (m_psf) {
        m_psf->setDontCheckUploaded(true);
        const QList<QString> names = m_psf->trackToXML();
        for (const QString& name : names)
            paths.append(folder.filePath(name));
    }
    return paths;
}
