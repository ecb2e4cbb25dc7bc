// Exporting a first-generation root into upload files: GPX per recorded track and per POI, a training course per
// workout. Files land in the current directory.

#include "psf/gen1/jxpsf.h"

#include <QDateTime>
#include <QFileInfo>

#include <cmath>
#include <functional>
#include <memory>

#include "../../../../core/include/location/ghlatlng.h"
#include "../../../../core/include/training/ghtrncrs.h"
#include "../../../../core/include/training/ghtrnduration.h"
#include "../../../../core/include/training/ghtrninterval.h"
#include "../../../../core/include/training/ghtrnmetadata.h"
#include "../../../../core/include/training/ghtrntarget.h"
#include "../../../../core/include/training/ghtrnworkout.h"
#include "../../../../core/include/training/ghtrnwriter.h"
#include "../../../../core/include/util/ghgpx2.h"
#include "../../../../core/include/util/ghgpxextlaps.h"
#include "../../../../core/include/util/ghgpxextlogpoint.h"
#include "../../../../core/include/util/ghgpxextsensorlog.h"
#include "../../../../core/include/util/ghgpxextworkoutlog.h"
#include "../../../../core/include/util/ghgpxmetadata.h"
#include "../../../../core/include/util/ghgpxroute.h"
#include "../../../../core/include/util/ghgpxtrack.h"
#include "../../../../core/include/util/ghgpxwaypoint.h"
#include "../../../../core/include/util/ghgpxwriter.h"
#include "device/jxclient.h"
#include "jxdaemon.h"
#include "jxenv.h"
#include "jxlog.h"

namespace {

const unsigned int kNone = 0xFFFFFFFFu;
const char* const kAuthor = "Vexmor";
const char* const kGpxVersion = "2.0";
const char* const kCourseVersion = "1.0";
const int kLastGpxAttempt = 99;
const int kLastCourseAttempt = 999;
// Activity type whose cadence bytes count 1/64 revolutions a second.
const int kCyclingActivity = 1;

// What the export says about the connected device; empty texts when there is none.
struct DeviceTexts
{
    QString name;
    QString total;
    QString activeType;
};

DeviceTexts deviceTexts()
{
    DeviceTexts texts;
    JXClient* client = JXDaemon::getInstance()->getClient();
    if (!client) {
        JX_DEBUG << "no device client: the exported device texts stay empty";
        return texts;
    }
    client->getName(texts.name);
    client->getTotal(texts.total);
    texts.activeType = QString::number(client->getMainActiveType());
    return texts;
}

QString sysVersion(const DeviceTexts& device)
{
    return QLatin1String("1.0.0.") + device.total + QLatin1String(" JX") + JXEnv::getInstance()->getVersion();
}

// A stored name as text up to its first zero byte; a bitmap name has no text.
QString nameText(const QByteArray& name, bool bitmap)
{
    if (bitmap)
        return QString();
    const int end = name.indexOf('\0');
    return QString::fromLatin1(end < 0 ? name : name.left(end));
}

// File-name stem of a name: printable ASCII only, without the characters that separate paths or drives.
QString stemOf(const QString& name)
{
    QString stem;
    stem.reserve(name.size());
    for (const QChar c : name) {
        const ushort code = c.unicode();
        if (code > 0x20 && code < 0x7F && c != QLatin1Char('/') && c != QLatin1Char('\\') && c != QLatin1Char(':'))
            stem.append(c);
    }
    return stem;
}

// The first stem + attempt + suffix that names no file; the last attempt is taken even when it does.
QString freeName(const std::function<QString()>& stem, int lastAttempt, const char* suffix)
{
    QString name;
    for (int attempt = 0; attempt <= lastAttempt; ++attempt) {
        name = stem() + QString::number(attempt) + QLatin1String(suffix);
        if (!QFileInfo::exists(name))
            break;
    }
    return name;
}

QString fixed2(double value)
{
    return QString::number(value, 'f', 2);
}

QString cadenceText(unsigned char cadence, int activityType)
{
    if (activityType == kCyclingActivity)
        return fixed2(cadence * 60 * 0.015625);
    return QString::number(cadence);
}

void fillLap(GHGpxExtLap* out, const JXPSFLap* lap, int activityType)
{
    out->start = JXPSFField::timeFromPSF(lap->getStartTime());
    out->end = JXPSFField::timeFromPSF(lap->getEndTime());
    out->distance = QString::number(lap->getDistance());
    out->speedAvg = JXPSFField::speedFromPSF(lap->getAvgSpeed());
    out->speedMax = JXPSFField::speedFromPSF(lap->getMaxSpeed());
    out->hrmAvg = QString::number(lap->getAvgHeartRate());
    out->hrmMax = QString::number(lap->getMaxHeartRate());
    out->cadAvg = cadenceText(lap->getAvgCadence(), activityType);
    out->cadMax = cadenceText(lap->getMaxCadence(), activityType);
    out->pwrAvg = QString::number(lap->getAvgPower());
    out->pwrMax = QString::number(lap->getMaxPower());
    out->altgain = QString::number(lap->getAltGain());
    out->altloss = QString::number(lap->getAltLoss());
    out->calorie = QString::number(lap->getCalories());
    out->rtime = QString::number(lap->getRidingTime());
}

GHGpxExtLogSegment* logSegment(const JXPSFSensorLog* log, int activityType)
{
    auto* segment = new GHGpxExtLogSegment;
    if (log->isBreak())
        segment->breaktype = QStringLiteral("2");
    const QVector<QPointer<JXPSFSensorLogPoint>>& samples = log->getPoints();
    for (int k = 0; k < samples.size(); ++k) {
        const JXPSFSensorLogPoint* sample = samples.at(k);
        if (!sample)
            continue;
        auto* point = new GHGpxExtLogPoint;
        point->time = JXPSFField::timeFromPSF(log->getStartTime() + unsigned(log->getInterval()) * unsigned(k));
        if (log->hasSpeed() && sample->getSpeed() != 0xFF)
            point->spd = JXPSFField::speedFromPSF(sample->getSpeed());
        if (log->hasCadence() && sample->getCadence() != 0xFF)
            point->cad = cadenceText(sample->getCadence(), activityType);
        if (log->hasHeartRate() && sample->getHeartRate() != 0xFF)
            point->hrm = QString::number(sample->getHeartRate());
        if (log->hasPower() && sample->getPower() != 0xFFFF)
            point->pwr = QString::number(sample->getPower());
        if (log->hasTemperature() && sample->getTemperature() != -1)
            point->tmp = JXPSFField::temperatureFromPSF(sample->getTemperature());
        if (log->hasBrm() && sample->getBrm() != 0xFFFF)
            point->brm = JXPSFField::brmFromPSF(sample->getBrm());
        segment->addLogPoint(point);
    }
    return segment;
}

GHGpxRoutePoint* outlinePoint(int lat, int lng)
{
    auto* point = new GHGpxRoutePoint;
    point->lat = JXPSFField::coordinateFromPSF(lat);
    point->lon = JXPSFField::coordinateFromPSF(lng);
    return point;
}

GHGpxTrackPoint* trackPoint(int lat, int lng, unsigned int time, const QString& ele)
{
    auto* point = new GHGpxTrackPoint;
    point->lat = JXPSFField::coordinateFromPSF(lat);
    point->lon = JXPSFField::coordinateFromPSF(lng);
    point->time = JXPSFField::timeFromPSF(time);
    point->ele = ele;
    return point;
}

// Deltas of a damaged image may run a position past the 32-bit range; it wraps, as the device's own sum does.
int moved(int value, short delta)
{
    return int(unsigned(value) + unsigned(int(delta)));
}

GHTrnWorkout* courseWorkout(JXPSFWorkout* workout)
{
    auto* out = new GHTrnWorkout;
    out->name = nameText(workout->getName(), workout->getNameType());
    out->id = QString::number(workout->getWorkoutId());
    out->daily = workout->getFlag() ? QStringLiteral("1") : QStringLiteral("0");
    out->repeat = QString::number(workout->getLowValue());
    out->type = QString::number(workout->getHighValue());
    out->time = JXPSFField::timeFromPSF(workout->getTime());
    out->acttype = QString::number(workout->getTypeValue());
    const QVector<QPointer<JXPSFInterval>> intervals = *workout->getIntervals();
    int k = 0;
    for (const JXPSFInterval* interval : intervals) {
        if (!interval)
            continue;
        auto* step = new GHTrnInterval;
        step->id = QString::number(++k);
        step->name = JXPSFField::intervalTypeFromPSF(interval->getIntervalType());
        if (interval->getValue() != kNone)
            step->goTo = QString::number(interval->getValue());
        step->goToRepeat = QString::number(interval->getRepeat());
        step->target = new GHTrnTarget;
        step->target->type = QString::number(interval->getTargetType());
        step->target->low = QString::number(interval->getTargetLow());
        step->target->high = QString::number(interval->getTargetHigh());
        step->duration = new GHTrnDuration;
        step->duration->type = QString::number(interval->getDurationType());
        step->duration->value = QString::number(short(interval->getDurationValue()));
        out->addInterval(step);
    }
    return out;
}

} // namespace

QList<QString> JXPSF::toXML()
{
    QList<QString> files;
    JX_DEBUG << "do track";
    files += trackToXML();
    JX_DEBUG << "do workout";
    files += workoutToXML();
    JX_DEBUG << "do poi";
    files += poiToXML();
    JX_DEBUG << "done";
    return files;
}

QList<QString> JXPSF::trackToXML()
{
    QList<QString> files;
    if (!m_routeFrame)
        return files;
    const DeviceTexts device = deviceTexts();
    const QVector<QPointer<JXPSFRoute>> routes = *m_routeFrame->getRoutes();
    for (int r = 0; r < routes.size(); ++r) {
        JXPSFRoute* route = routes.at(r);
        if (!route || !route->getTrackFlag() || (!m_dontCheckUploaded && route->getUploaded()))
            continue;
        const int activityType = route->getActType();
        std::unique_ptr<GHGpx2> gpx(new GHGpx2);
        gpx->route = new GHGpxRoute;
        gpx->sensorLog = new GHGpxExtSensorLog;
        gpx->track = new GHGpxTrack;

        GHLatLng previous;
        double travelled = 0.0; // metres; truncated once at the end so that short steps still count
        unsigned int lastTime = route->getStartTime();
        int lat = 0;
        int lng = 0;
        const QVector<QPointer<JXPSFTrack>> segments = route->getTracks();
        for (int j = 0; j < segments.size(); ++j) {
            JXPSFTrack* segment = segments.at(j);
            if (!segment)
                continue;
            auto* out = new GHGpxTrackSegment;
            previous.setX(segment->getStartLng());
            previous.setY(segment->getStartLat());
            lat = segment->getStartLat();
            lng = segment->getStartLng();
            unsigned int pointTime = segment->getStartTime();
            int altitudeSum = 0;
            const bool startValid = segment->getStartLat() != -1 && segment->getStartLng() != -1;
            if (segment->getBreakFlag())
                out->breaktype = QStringLiteral("2");

            const QVector<QPointer<JXPSFTrackPoint>> points = *segment->getTrackPoints();
            if (!points.isEmpty())
                out->addTrackPoint(
                    trackPoint(lat, lng, pointTime, JXPSFField::altFromPSF(0, segment->getStartAlt(), true)));
            for (const JXPSFTrackPoint* point : points) {
                if (!point)
                    continue;
                lng = moved(lng, point->getLngDelta());
                lat = moved(lat, point->getLatDelta());
                const float step = previous.distanceTo(lat, lng);
                if (!std::isnan(step))
                    travelled += step;
                previous.setX(lng);
                previous.setY(lat);
                pointTime += unsigned(segment->getTimeUnit()) * point->getTimeDelta();
                lastTime = pointTime;
                altitudeSum += point->getAltDelta();
                out->addTrackPoint(
                    trackPoint(lat, lng, pointTime, JXPSFField::altFromPSF(altitudeSum, segment->getStartAlt(), true)));
            }

            const bool lastSegment = j + 1 == segments.size();
            if (startValid) {
                gpx->route->addRoutePoint(outlinePoint(segment->getStartLat(), segment->getStartLng()));
                if (lastSegment && !points.isEmpty())
                    gpx->route->addRoutePoint(outlinePoint(lat, lng));
            } else if (lastSegment) {
                gpx->route->addRoutePoint(outlinePoint(lat, lng));
            }
            gpx->track->addTrackSegment(out);

            for (const JXPSFSensorLog* log : segment->getSensorLogs()) {
                if (log)
                    gpx->sensorLog->addLogSegment(logSegment(log, activityType));
            }
        }
        const unsigned int travelTime = lastTime - route->getStartTime();

        workoutlogToXML(gpx.get(), unsigned(r) * JXPSFRoute::RecordSize);
        workoutPlanToXML(gpx.get());
        const JXPSFLap* summary = trackSummaryToXML(gpx.get(), route, activityType);
        trackLapsToXML(gpx.get(), route, activityType);

        const QString name = nameText(route->getName(), route->getNameType());
        gpx->route->name = name;
        auto* metadata = new GHGpxMetadata;
        gpx->metadata = metadata;
        metadata->name = name;
        metadata->desc = device.name;
        metadata->authorName = QLatin1String(kAuthor);
        metadata->boundsMinLat = metadata->boundsMinLon = metadata->boundsMaxLat = metadata->boundsMaxLon =
            QStringLiteral("0");
        metadata->sys = device.name;
        metadata->sysVersion = sysVersion(device);
        metadata->sharetype = QStringLiteral("2");
        metadata->acttype = QString::number(activityType);
        metadata->acttypeSubtype = QString::number(route->getActSubType());
        metadata->stime = JXPSFField::timeFromPSF(summary ? summary->getStartTime() : route->getStartTime());
        metadata->etime = JXPSFField::timeFromPSF(summary ? summary->getEndTime() : lastTime);
        metadata->trvdist = QString::number(quint64(travelled));
        metadata->trvtime = QString::number(travelTime);
        metadata->user.gender = QString::number(m_userSex);
        metadata->user.age = QString::number(m_userAge);
        metadata->user.mhr = QString::number(m_userMHR);
        metadata->user.weight = fixed2(m_userWeight);
        metadata->user.height = fixed2(m_userHeight);
        metadata->deviceWeight = metadata->user.weight;
        metadata->deviceBikeId = QString::number(route->getTwoBitValue());

        const QString file = freeName([&name] { return stemOf(name); }, kLastGpxAttempt, ".gpx");
        if (GHGpxWriter(QLatin1String(kGpxVersion), gpx.get()).writeFile(file)) {
            route->setUploaded(true);
            files.append(file);
        } else {
            JX_WARNING << "track" << r << "could not be written to" << file << "; it stays marked not uploaded";
        }
    }
    return files;
}

JXPSFLap* JXPSF::trackSummaryToXML(GHGpx2* gpx, QPointer<JXPSFRoute> route, int activityType)
{
    if (!gpx || !route || !m_routeFrame)
        return nullptr;
    JXPSFLap* lap = route->getSummary(m_routeFrame);
    if (!lap)
        return nullptr;
    if (!gpx->laps)
        gpx->laps = new GHGpxExtLaps;
    if (!gpx->laps->summary)
        gpx->laps->summary = new GHGpxExtLap;
    fillLap(gpx->laps->summary, lap, activityType);
    return lap;
}

bool JXPSF::trackLapsToXML(GHGpx2* gpx, QPointer<JXPSFRoute> route, int activityType)
{
    if (!gpx || !route || !m_routeFrame)
        return true;
    const QVector<QPointer<JXPSFLap>>& laps = *m_routeFrame->getLaps();
    if (route->getLapOffset() == kNone || route->getLapCount() == 0xFF || laps.isEmpty())
        return true;
    const qint64 first = route->getLapOffset() >> 5;
    const int count = route->getLapCount();
    // Laps that end at the table's last record are still the route's.
    if (first + count > laps.size())
        return true;
    for (int k = 1; k <= count; ++k) {
        const JXPSFLap* lap = laps.at(int(first) + k - 1);
        if (!lap)
            continue;
        if (!gpx->laps)
            gpx->laps = new GHGpxExtLaps;
        auto* out = new GHGpxExtLap;
        out->order = QString::number(k);
        fillLap(out, lap, activityType);
        gpx->laps->addLap(out);
    }
    return true;
}

QList<QString> JXPSF::poiToXML()
{
    QList<QString> files;
    if (!m_poiFrame)
        return files;
    const DeviceTexts device = deviceTexts();
    const QVector<QPointer<JXPSFPOI>> pois = *m_poiFrame->getPOIs();
    for (JXPSFPOI* poi : pois) {
        if (!poi || (!m_dontCheckUploaded && poi->getUploaded()))
            continue;
        std::unique_ptr<GHGpx2> gpx(new GHGpx2);
        const QString name = nameText(poi->getName(), poi->getNameType());
        auto* metadata = new GHGpxMetadata;
        gpx->metadata = metadata;
        metadata->name = name;
        metadata->authorName = QLatin1String(kAuthor);
        metadata->boundsMinLat = metadata->boundsMinLon = metadata->boundsMaxLat = metadata->boundsMaxLon =
            QStringLiteral("0");
        metadata->sys = device.name;
        metadata->sysVersion = sysVersion(device);
        metadata->sharetype = QStringLiteral("0");
        metadata->acttype = device.activeType;
        metadata->acttypeSubtype = QStringLiteral("1");

        auto* waypoint = new GHGpxWayPoint;
        waypoint->name = name;
        waypoint->lat = JXPSFField::coordinateFromPSF(poi->getLat());
        waypoint->lon = JXPSFField::coordinateFromPSF(poi->getLng());
        gpx->waypoints.append(waypoint);

        const QString file =
            freeName([] { return QString::number(QDateTime::currentSecsSinceEpoch()); }, kLastGpxAttempt, ".gpx");
        if (GHGpxWriter(QLatin1String(kGpxVersion), gpx.get()).writeFile(file)) {
            poi->setUploaded(true);
            files.append(file);
        } else {
            JX_WARNING << "POI" << name << "could not be written to" << file << "; it stays marked not uploaded";
        }
    }
    return files;
}

QList<QString> JXPSF::workoutToXML()
{
    QList<QString> files;
    if (!m_workoutFrame)
        return files;
    const DeviceTexts device = deviceTexts();
    const QVector<QPointer<JXPSFWorkout>> workouts = *m_workoutFrame->getWorkouts();
    for (JXPSFWorkout* workout : workouts) {
        if (!workout || (!m_dontCheckUploaded && workout->getUploaded()))
            continue;
        GHTrncrs course;
        GHTrnWorkout* out = courseWorkout(workout);
        course.workouts.append(out);
        course.metadata = new GHTrnMetadata;
        course.metadata->name = out->name;
        course.metadata->desc = QStringLiteral("Sample");
        course.metadata->time = out->time;
        course.metadata->author = QLatin1String(kAuthor);
        course.metadata->sys = device.name;

        const QString stem = stemOf(out->name);
        const QString file = freeName([&stem] { return stem; }, kLastCourseAttempt, ".wrk");
        if (GHTrnWriter(QLatin1String(kCourseVersion), &course).writeFile(file)) {
            workout->setUploaded(true);
            files.append(file);
        } else {
            JX_WARNING << "workout" << out->id << "could not be written to" << file << "; it stays marked not uploaded";
        }
    }
    return files;
}

bool JXPSF::workoutlogToXML(GHGpx2* gpx, unsigned int routeOffset)
{
    const QPointer<JXPSFWorkout> workout = getWorkoutByRoute(routeOffset);
    const QPointer<JXPSFWorkoutLog> log = getWorkoutLogByRoute(routeOffset);
    if (!gpx || !workout || !log)
        return false;
    if (!gpx->workoutLog)
        gpx->workoutLog = new GHGpxExtWorkoutLog;
    gpx->workoutLog->id = QString::number(workout->getWorkoutId());
    gpx->workoutLog->type = QString::number(workout->getHighValue());
    int k = 0;
    for (const JXPSFIntervalLog* interval : log->getIntervalLogs()) {
        if (!interval)
            continue;
        auto* out = new GHGpxExtWorkoutInterval;
        out->order = QString::number(++k);
        out->start = JXPSFField::timeFromPSF(interval->getStartTime());
        out->end = JXPSFField::timeFromPSF(interval->getEndTime());
        gpx->workoutLog->addInterval(out);
    }
    return true;
}

void JXPSF::workoutPlanToXML(GHGpx2* gpx)
{
    if (!gpx || !gpx->workoutLog || !m_workoutFrame)
        return;
    const unsigned int id = gpx->workoutLog->id.toUInt();
    for (JXPSFWorkout* workout : qAsConst(*m_workoutFrame->getWorkouts())) {
        if (!workout || workout->getWorkoutId() != id)
            continue;
        auto* plan = new GHTrncrs;
        plan->workouts.append(courseWorkout(workout));
        delete gpx->workoutPlan;
        gpx->workoutPlan = plan;
        return;
    }
}

QPointer<JXPSFWorkout> JXPSF::getWorkoutByRoute(unsigned int routeOffset)
{
    if (!m_workoutFrame)
        return nullptr;
    for (JXPSFWorkout* workout : qAsConst(*m_workoutFrame->getWorkouts())) {
        if (!workout)
            continue;
        for (const JXPSFWorkoutLog* log : qAsConst(*workout->getWorkoutLogs())) {
            if (log && log->getRouteOffset() == routeOffset)
                return workout;
        }
    }
    return nullptr;
}

QPointer<JXPSFWorkoutLog> JXPSF::getWorkoutLogByRoute(unsigned int routeOffset)
{
    if (!m_workoutFrame)
        return nullptr;
    for (JXPSFWorkout* workout : qAsConst(*m_workoutFrame->getWorkouts())) {
        if (!workout)
            continue;
        for (JXPSFWorkoutLog* log : qAsConst(*workout->getWorkoutLogs())) {
            if (log && log->getRouteOffset() == routeOffset)
                return log;
        }
    }
    return nullptr;
}
