#include "util/ghgpx2.h"

#include "training/ghtrncrs.h"
#include "util/ghgpxextlaps.h"
#include "util/ghgpxextlogpoint.h"
#include "util/ghgpxextsensorlog.h"
#include "util/ghgpxextworkoutlog.h"
#include "util/ghgpxmetadata.h"
#include "util/ghgpxtrack.h"

namespace {

// The lap body shared by lap and summary; the lap's own order, start and end come under prefixed keys.
void fillLapBody(GHGpxExtLap* lap, const QMap<QString, QString>& values)
{
    lap->distance = values.value(QStringLiteral("distance"));
    lap->calorie = values.value(QStringLiteral("calorie"));
    lap->step = values.value(QStringLiteral("step"));
    lap->altloss = values.value(QStringLiteral("altloss"));
    lap->altgain = values.value(QStringLiteral("altgain"));
    lap->speedMax = values.value(QStringLiteral("speed_max"));
    lap->speedAvg = values.value(QStringLiteral("speed_avg"));
    lap->hrmMax = values.value(QStringLiteral("hrm_max"));
    lap->hrmAvg = values.value(QStringLiteral("hrm_avg"));
    lap->cadMax = values.value(QStringLiteral("cad_max"));
    lap->cadAvg = values.value(QStringLiteral("cad_avg"));
    lap->pwrMax = values.value(QStringLiteral("pwr_max"));
    lap->pwrAvg = values.value(QStringLiteral("pwr_avg"));
    lap->rtime = values.value(QStringLiteral("rtime"));
    lap->gainaltlen = values.value(QStringLiteral("gainaltlen"));
    lap->lostaltlen = values.value(QStringLiteral("lostaltlen"));
    lap->gainalttime = values.value(QStringLiteral("gainalttime"));
    lap->lostalttime = values.value(QStringLiteral("lostalttime"));
}

} // namespace

// As in GHGpx1, a handler whose part has not been started ignores the call and makes nothing.

GHGpx2::GHGpx2()
    : sensorLog(nullptr)
    , laps(nullptr)
    , workoutLog(nullptr)
    , workoutPlan(nullptr)
{
}

GHGpx2::~GHGpx2()
{
    delete sensorLog;
    delete laps;
    delete workoutLog;
    delete workoutPlan;
}

void GHGpx2::onMetadataExtensions(QMap<QString, QString>& values)
{
    if (version == 1) {
        GHGpx1::onMetadataExtensions(values);
        return;
    }
    if (version != 2 || !metadata)
        return;
    metadata->sys = values.value(QStringLiteral("sys"));
    metadata->sysVersion = values.value(QStringLiteral("sys_version"));
    readRideTexts(metadata, values);
    metadata->appName = values.value(QStringLiteral("app_name"));
    metadata->appVersion = values.value(QStringLiteral("app_version"));
    metadata->stime = values.value(QStringLiteral("stime"));
    metadata->etime = values.value(QStringLiteral("etime"));
    metadata->acttypeSubtype = values.value(QStringLiteral("acttype_subtype"));
    metadata->poollen = values.value(QStringLiteral("poollen"));
}

void GHGpx2::onTrackSegment(QMap<QString, QString>& values)
{
    if (!track || !track->currentSegment)
        return;
    GHGpxTrackSegment* segment = track->currentSegment;
    segment->itvSegStart = values.value(QStringLiteral("itvSeg_start"));
    segment->itvSegEnd = values.value(QStringLiteral("itvSeg_end"));
    segment->order = values.value(QStringLiteral("order"));
    segment->acttype = values.value(QStringLiteral("acttype"));
    segment->acttypeSubtype = values.value(QStringLiteral("acttype_subtype"));
}

void GHGpx2::startSensorLog()
{
    delete sensorLog;
    sensorLog = new GHGpxExtSensorLog;
}

void GHGpx2::startLogSegment()
{
    if (!sensorLog)
        return;
    sensorLog->addLogSegment(new GHGpxExtLogSegment);
}

void GHGpx2::onLogPoint(QMap<QString, QString>& values)
{
    if (version == 1) {
        GHGpx1::onLogPoint(values);
        return;
    }
    if (version != 2 || !sensorLog)
        return;
    GHGpxExtLogPoint* point = readLogPoint(values);
    point->pwr = values.value(QStringLiteral("pwr"));
    sensorLog->addLogPoint(point); // deleted there when no segment was started
}

void GHGpx2::startWorkoutLog()
{
    delete workoutLog;
    workoutLog = new GHGpxExtWorkoutLog;
}

void GHGpx2::onWorkoutLog(QMap<QString, QString>& values)
{
    if (!workoutLog)
        return;
    workoutLog->id = values.value(QStringLiteral("wrklog_id"));
    workoutLog->type = values.value(QStringLiteral("wrklog_type"));
    workoutLog->subtype = values.value(QStringLiteral("wrklog_subtype"));
    workoutLog->lthr = values.value(QStringLiteral("lthr"));
    workoutLog->mhr = values.value(QStringLiteral("mhr"));
}

void GHGpx2::onInterval(QMap<QString, QString>& values)
{
    if (!workoutLog)
        return;
    auto* interval = new GHGpxExtWorkoutInterval;
    interval->order = values.value(QStringLiteral("interval_order"));
    interval->start = values.value(QStringLiteral("interval_start"));
    interval->end = values.value(QStringLiteral("interval_end"));
    workoutLog->addInterval(interval);
}

void GHGpx2::startLaps()
{
    delete laps;
    laps = new GHGpxExtLaps;
}

void GHGpx2::onLap(QMap<QString, QString>& values)
{
    if (!laps)
        return;
    auto* lap = new GHGpxExtLap;
    lap->order = values.value(QStringLiteral("lap_order"));
    lap->start = values.value(QStringLiteral("lap_start"));
    lap->end = values.value(QStringLiteral("lap_end"));
    fillLapBody(lap, values);
    laps->addLap(lap);
}

void GHGpx2::onSummary(QMap<QString, QString>& values)
{
    if (!laps)
        return;
    auto* summary = new GHGpxExtLap;
    summary->start = values.value(QStringLiteral("start"));
    summary->end = values.value(QStringLiteral("end"));
    fillLapBody(summary, values);
    delete laps->summary;
    laps->summary = summary;
}
