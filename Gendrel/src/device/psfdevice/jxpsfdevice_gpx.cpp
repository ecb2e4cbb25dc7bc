// One recorded track of the second-generation store as the parts of a GPX document. Runs on the client's worker
// thread (or the caller's, for the direct list operations); reads the parsed store only.

#include "device/psfdevice/jxpsfdevice.h"

#include "../../../../core/include/location/ghlatlng.h"
#include "../../../../core/include/training/ghtrnduration.h"
#include "../../../../core/include/training/ghtrninterval.h"
#include "../../../../core/include/training/ghtrntarget.h"
#include "../../../../core/include/training/ghtrnworkout.h"
#include "../../../../core/include/util/ghgpxextlaps.h"
#include "../../../../core/include/util/ghgpxextlogpoint.h"
#include "../../../../core/include/util/ghgpxextsensorlog.h"
#include "../../../../core/include/util/ghgpxextworkoutlog.h"
#include "../../../../core/include/util/ghgpxmetadata.h"
#include "../../../../core/include/util/ghgpxroute.h"
#include "../../../../core/include/util/ghgpxtrack.h"
#include "../../../../core/include/util/ghtimetext.h"
#include "jxenv.h"
#include "jxlog.h"
#include "psf/gen1/jxpsffield.h"
#include "psf/gen2/jxpsf_1_5.h"
#include "psf/gen2/jxpsfinterval_1_5.h"
#include "psf/gen2/jxpsfintervallog_1_5.h"
#include "psf/gen2/jxpsflap_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsfsensorlog_1_5.h"
#include "psf/gen2/jxpsftrackpoint_1_5.h"
#include "psf/gen2/jxpsftrackseg_1_5.h"
#include "psf/gen2/jxpsfuserinfolog_1_5.h"
#include "psf/gen2/jxpsfworkout_1_5.h"
#include "psf/gen2/jxpsfworkoutlog_1_5.h"
#include "psf/jxpsfintervaltype.h"
#include "psf/jxpsfvalue.h"

namespace {

// Running: the cadence byte holds the stride.
const unsigned char kRunning = 1;
const unsigned int kNoRepeat = 0xFFFFFFFF;
// A target's bits 8-11 all set mark a negative (absent) target, whose low byte is then 0xFF as well.
const unsigned char kNoHighBits = 0x0F;

QString fixed2(double value)
{
    return QString::number(value, 'f', 2);
}

// Degrees with six decimals of a position in millionths: the text of getLatDL() as ("f", 6), made from the integer,
// as every track point takes two.
QString degrees(int millionths)
{
    return JXPSFField::fixedUnits(millionths, 6);
}

QString timeText(unsigned int seconds)
{
    return tm_i2s(seconds);
}

GHGpxTrackPoint* trackPoint(const GHLatLng& position, unsigned int time, double altitude)
{
    auto* point = new GHGpxTrackPoint;
    point->lat = degrees(position.getLat());
    point->lon = degrees(position.getLng());
    point->time = timeText(time);
    point->ele = fixed2(altitude);
    return point;
}

GHGpxRoutePoint* routePoint(const GHLatLng& position)
{
    auto* point = new GHGpxRoutePoint;
    point->lat = degrees(position.getLat());
    point->lon = degrees(position.getLng());
    return point;
}

// A byte value as an integer text, or empty when the byte is the absent code.
QString byteText(unsigned char raw)
{
    return JXPSFValue::isValueValid(raw) ? QString::number(raw) : QString();
}

QString wordText(unsigned short raw)
{
    return JXPSFValue::isValueValid(raw) ? QString::number(raw) : QString();
}

QString validFixed2(const JXPSFValue& value)
{
    return value.isValid() ? fixed2(value.getValue()) : QString();
}

QString bodyValue(const JXPSFValue& value)
{
    return value.isValid() ? fixed2(value.getValue()) : QStringLiteral("0.00");
}

// The whole target: the device keeps bits 8-11 apart from the low byte, so that targets above 255 (watts, say)
// survive; the absent code stays the low byte alone.
unsigned int targetValue(unsigned char low, unsigned char highBits)
{
    return highBits == kNoHighBits ? low : (unsigned(highBits) << 8) | low;
}

} // namespace

GHGpxTrack* JXPSFDevice::toGpxTrack(JXPSFRoute_1_5* track, GHGpxRoute* route)
{
    QVector<JXPSFTrackSeg_1_5*> segments;
    if (!m_psf || !track || !m_psf->getTrackOfRoute(track, segments)) {
        JX_WARNING << "getTrackOfRoute  failed";
        return nullptr;
    }
    auto* gpxTrack = new GHGpxTrack;
    GHLatLng last;
    for (int index = 0; index < segments.size(); ++index) {
        JXPSFTrackSeg_1_5* segment = segments.at(index);
        GHLatLng start;
        start.setX(segment->getStartLon());
        start.setY(segment->getStartLat());
        auto* gpxSegment = new GHGpxTrackSegment;
        gpxSegment->breaktype = QString::number(segment->getBreakType());
        gpxSegment->points.reserve(segment->getLoadedPointCount() + 1);

        JXPSFTrackPointIter points = segment->getPointIterator();
        bool first = true;
        while (points.next()) {
            if (first) {
                // The segment's own start is not one of its points.
                gpxSegment->addTrackPoint(trackPoint(start, segment->getTime(), segment->getStartAlt().getValue()));
                if (route)
                    route->addRoutePoint(routePoint(start));
                first = false;
            }
            last = points.getLatlng();
            gpxSegment->addTrackPoint(trackPoint(last, points.getTime(), points.getAlt()));
        }
        if (index + 1 == segments.size() && !last.isNull() && route)
            route->addRoutePoint(routePoint(last));
        gpxTrack->addTrackSegment(gpxSegment);
    }
    return gpxTrack;
}

GHGpxExtSensorLog* JXPSFDevice::toGpxSsrLog(JXPSFRoute_1_5* track)
{
    QVector<JXPSFSensorLog_1_5*> logs;
    if (!m_psf || !track || !m_psf->getSensorLogOfRoute(track, logs)) {
        JX_WARNING << "getSensorLogOfRoute failed";
        return nullptr;
    }
    const bool running = track->getActType() == kRunning;
    auto* sensorLog = new GHGpxExtSensorLog;
    for (JXPSFSensorLog_1_5* log : qAsConst(logs)) {
        auto* segment = new GHGpxExtLogSegment;
        segment->breaktype = QString::number(log->getBreadkType());
        segment->points.reserve(log->getLoadedPointCount());
        JXPSFSsrLogPointIter samples = log->getPointIterator();
        while (samples.next()) {
            auto* point = new GHGpxExtLogPoint;
            const JXPSFValue speed = samples.getSpeed();
            if (speed.isValid())
                point->spd = fixed2(speed.getValue());
            const JXPSFValue cadence = samples.getRPM();
            if (cadence.isValid())
                point->cad = running ? fixed2(samples.getStride().getValue()) : QString::number(cadence.getIntValue());
            const JXPSFValue heartRate = samples.getBPM();
            if (heartRate.isValid())
                point->hrm = QString::number(heartRate.getIntValue());
            const JXPSFValue power = samples.getPower();
            if (power.isValid())
                point->pwr = QString::number(power.getIntValue());
            // A log without the temperature field reads as the invalid marker, which is no temperature.
            const JXPSFValue temperature = samples.getTemperature();
            if (temperature.isValid())
                point->tmp = QString::number(temperature.getValue(), 'f', 1);
            const JXPSFValue brm = samples.getBRM();
            if (brm.isValid())
                point->brm = QString::number(brm.getIntValue());
            point->time = timeText(samples.getTime());
            segment->addLogPoint(point);
        }
        sensorLog->addLogSegment(segment);
    }
    return sensorLog;
}

GHGpxExtWorkoutLog* JXPSFDevice::toGpxWorkoutLog(JXPSFRoute_1_5* track)
{
    JXPSFWorkoutLog_1_5* log = nullptr;
    if (!m_psf || !track || !m_psf->getWorkoutLogOfRoute(track, &log) || !log)
        return nullptr;
    auto* workoutLog = new GHGpxExtWorkoutLog;
    if (JXPSFWorkout_1_5* workout = log->getWorkout()) {
        workoutLog->id = QString::number(workout->getID());
        workoutLog->type = QString::number(workout->getWrkType());
    }
    const QVector<JXPSFIntervalLog_1_5*>& intervals = log->getIntervalLogs();
    for (int index = 0; index < intervals.size(); ++index) {
        const JXPSFIntervalLog_1_5* interval = intervals.at(index);
        // An interval not ridden keeps its number free, so that the others still match the plan's.
        if (interval->getStartTime() == 0 || interval->getEndTime() == 0)
            continue;
        auto* out = new GHGpxExtWorkoutInterval;
        out->order = QString::number(index + 1);
        out->start = timeText(interval->getStartTime());
        out->end = timeText(interval->getEndTime());
        workoutLog->addInterval(out);
    }
    return workoutLog;
}

GHTrnWorkout* JXPSFDevice::toGpxWorkoutPlan(JXPSFRoute_1_5* track)
{
    JXPSFWorkoutLog_1_5* log = nullptr;
    if (!m_psf || !track || !m_psf->getWorkoutLogOfRoute(track, &log) || !log || !log->getWorkout())
        return nullptr;
    JXPSFWorkout_1_5* workout = log->getWorkout();
    auto* out = new GHTrnWorkout;
    out->name = workout->getName(QString());
    out->id = QString::number(workout->getID());
    out->daily = workout->isDaily() ? QStringLiteral("1") : QStringLiteral("0");
    out->repeat = QString::number(workout->getRepeatCount());
    out->type = QString::number(workout->getWrkType());
    out->time = timeText(workout->getActivateTime());
    out->acttype = QString::number(workout->getActType());
    out->subtype = QString::number(workout->getSubType());
    const QVector<JXPSFInterval_1_5*>& intervals = workout->getIntervals();
    for (int index = 0; index < intervals.size(); ++index) {
        const JXPSFInterval_1_5* interval = intervals.at(index);
        auto* step = new GHTrnInterval;
        step->id = QString::number(index + 1);
        step->name = interval->getItvType().getName();
        // The store keeps the index of the interval to go back to; the file names that interval by its id.
        if (interval->getRepeat() != kNoRepeat)
            step->goTo = QString::number(quint64(interval->getRepeat()) + 1);
        step->goToRepeat = QString::number(interval->getRptCount());
        step->target = new GHTrnTarget;
        step->target->type = QString::number(interval->getTarget());
        step->target->low = QString::number(targetValue(interval->getLowTarget(), interval->getHundredLTarget()));
        step->target->high = QString::number(targetValue(interval->getHighTarget(), interval->getHundredHTarget()));
        step->duration = new GHTrnDuration;
        step->duration->type = QString::number(interval->getDuration());
        step->duration->value = QString::number(short(interval->getDurValue()));
        out->addInterval(step);
    }
    return out;
}

GHGpxExtLap* JXPSFDevice::toGpxLap(JXPSFLap_1_5* lap, unsigned char activityType)
{
    if (!lap)
        return nullptr;
    auto* out = new GHGpxExtLap;
    out->start = timeText(lap->getStartTime());
    out->end = timeText(lap->getEndTime());
    out->distance = QString::number(lap->getDistance());
    out->speedAvg = validFixed2(lap->getAvgSpeed());
    out->speedMax = validFixed2(lap->getMaxSpeed());
    out->hrmAvg = byteText(lap->getAvgBPM());
    out->hrmMax = byteText(lap->getMaxBPM());
    if (activityType == kRunning) {
        // An absent stride would read as the invalid marker: left empty like every other absent value.
        out->cadAvg = validFixed2(lap->getAvgStride());
        out->cadMax = validFixed2(lap->getMaxStride());
    } else {
        out->cadAvg = byteText(lap->getAvgRPM());
        out->cadMax = byteText(lap->getMaxRPM());
    }
    out->pwrAvg = wordText(lap->getAvgPower());
    out->pwrMax = wordText(lap->getMaxPower());
    out->altgain = QString::number(lap->getGainAlt());
    out->altloss = QString::number(lap->getLostAlt());
    out->calorie = QString::number(lap->getCalorie());
    out->rtime = QString::number(lap->getRTime());
    return out;
}

GHGpxExtLap* JXPSFDevice::toGpxSummary(JXPSFRoute_1_5* track)
{
    if (!track || !track->getSummary())
        return nullptr;
    return toGpxLap(track->getSummary(), track->getActType());
}

QVector<GHGpxExtLap*> JXPSFDevice::toGpxLaps(JXPSFRoute_1_5* track)
{
    QVector<GHGpxExtLap*> laps;
    if (!track)
        return laps;
    const QVector<JXPSFLap_1_5*>& stored = track->getLaps();
    laps.reserve(stored.size());
    for (int index = 0; index < stored.size(); ++index) {
        GHGpxExtLap* lap = toGpxLap(stored.at(index), track->getActType());
        lap->order = QString::number(index + 1);
        laps.append(lap);
    }
    return laps;
}

GHGpxMetadata* JXPSFDevice::toGpxMeta(JXPSFRoute_1_5* track)
{
    if (!track)
        return nullptr;
    JXPSFUserInfoLog_1_5* info = nullptr;
    // A track without a user-info log still gets its name, system, activity and times.
    if (m_psf && !m_psf->getUserInfoLogOfRoute(track, &info))
        info = nullptr;

    QString model;
    getName(model);
    QString total;
    getTotal(total);

    auto* meta = new GHGpxMetadata;
    meta->name = track->getName(QString());
    meta->desc = model;
    meta->authorName = QStringLiteral("Vexmor");
    meta->boundsMinLat = meta->boundsMinLon = meta->boundsMaxLat = meta->boundsMaxLon = QStringLiteral("0");
    meta->sys = model;
    meta->sysVersion = QStringLiteral("1.0.0.") + total + QStringLiteral(" JX") + JXEnv::getInstance()->getVersion();
    meta->sharetype = QStringLiteral("2");
    meta->acttype = QString::number(track->getActType());
    meta->acttypeSubtype = QString::number(track->getSubActType());

    const JXPSFLap_1_5* summary = track->getSummary();
    if (summary) {
        meta->stime = timeText(summary->getStartTime());
        meta->etime = timeText(summary->getEndTime());
        meta->trvtime = QString::number(summary->getEndTime() - summary->getStartTime());
        meta->trvdist = QString::number(summary->getDistance());
    } else {
        meta->stime = timeText(track->getStartTime());
    }

    if (info) {
        GHGpxMetaUser& user = meta->user;
        user.name = QString();
        user.bike.name = QString();
        user.gender = m_userSex;
        user.age = QString::number(m_userAge);
        user.weight = bodyValue(info->getWeight());
        user.height = bodyValue(info->getHeight());
        user.bike.weight = bodyValue(info->getBikeWeight());
        user.bike.wheel = bodyValue(info->getBikeWheel());
        user.bike.type = QString::number(info->getBikeType());
        user.bike.bike = QString::number(info->getBikeID());
        for (const JXPSFTZone_1_5* zone : qAsConst(info->getZones())) {
            const QString base = QString::number(zone->getZtypeBV());
            switch (zone->getZType()) {
            case JXPSFUserInfoLog_1_5::MHR: user.mhr = base; break;
            case JXPSFUserInfoLog_1_5::LTHR: user.lthr = base; break;
            case JXPSFUserInfoLog_1_5::MAP: user.map = base; break;
            case JXPSFUserInfoLog_1_5::FTP: user.ftp = base; break;
            default: break;
            }
            GHGpxMetaZone set;
            set.type = QString::number(zone->getZType());
            for (int index = 0; index < zone->getZoneNum(); ++index) {
                set.low.append(zone->getZoneL(index));
                set.high.append(zone->getZoneH(index));
            }
            user.zones.append(set);
        }
    }
    return meta;
}
