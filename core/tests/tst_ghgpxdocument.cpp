#include <QtTest>

#include <functional>

#include "training/ghtrncrs.h"
#include "training/ghtrninterval.h"
#include "training/ghtrnmetadata.h"
#include "training/ghtrnworkout.h"
#include "util/ghgpx1.h"
#include "util/ghgpx2.h"
#include "util/ghgpxextlaps.h"
#include "util/ghgpxextlogpoint.h"
#include "util/ghgpxextsensorlog.h"
#include "util/ghgpxexttraining.h"
#include "util/ghgpxextworkoutlog.h"
#include "util/ghgpxmetadata.h"
#include "util/ghgpxroute.h"
#include "util/ghgpxtrack.h"
#include "util/ghgpxwaypoint.h"

// Leaks and double frees show in the sanitizer build (ASAN_OPTIONS=detect_leaks=1); the checks here cover what the
// document holds afterwards.

namespace {

using Values = QMap<QString, QString>;

// A map in which every key holds its own name, so a field shows which key filled it.
Values echo(const QStringList& keys)
{
    Values values;
    for (const QString& key : keys)
        values.insert(key, key);
    return values;
}

} // namespace

class TestGHGpxDocument : public QObject
{
    Q_OBJECT

private slots:
    void destroyEverything();
    void currentSegment();
    void handlerKeys();
    void startReplacesPart();
    void handlersBeforeTheirStart();
    void versionDecidesExtensions_data();
    void versionDecidesExtensions();
};

// A document holding every kind of record, part through the handlers and part hung in by device code, is freed
// whole by its destructor.
void TestGHGpxDocument::destroyEverything()
{
    auto* doc = new GHGpx2;
    doc->setVersion(2);
    Values values = echo({"name", "sys", "rtept_lat", "trkpt_lat", "wpt_lat", "logpt_time", "lap_order", "start"});
    doc->startMetadata();
    doc->onMetadata(values);
    doc->onMetadataExtensions(values);
    doc->metadata->user.bike.name = "bike";
    doc->metadata->user.zones.append(GHGpxMetaZone{"4", {100, 120}, {119, 140}});
    doc->metadata->user.zones.append(doc->metadata->user.zones.first());
    doc->startRoute();
    doc->onRoute(values);
    doc->onRoutePoint(values);
    doc->onRoutePoint(values);
    doc->startTrack();
    for (int s = 0; s < 2; ++s) {
        doc->startTrackSegment();
        doc->onTrackSegment(values);
        doc->onTrackPoint(values);
        doc->onTrackPoint(values);
    }
    doc->onWayPoint(values);
    doc->onWayPoint(values);
    doc->startSensorLog();
    for (int s = 0; s < 2; ++s) {
        doc->startLogSegment();
        doc->onLogPoint(values);
        doc->onLogPoint(values);
    }
    doc->startWorkoutLog();
    doc->onWorkoutLog(values);
    doc->onInterval(values);
    doc->onInterval(values);
    doc->startLaps();
    doc->onLap(values);
    doc->onLap(values);
    doc->onSummary(values);

    // What only device code puts in: a training log in a second-generation document and a workout plan.
    doc->training = new GHGpxExtTraining;
    doc->training->addLogPoint(new GHGpxExtLogPoint);
    doc->training->addLogPoint(new GHGpxExtLogPoint);
    doc->workoutPlan = new GHTrncrs;
    doc->workoutPlan->metadata = new GHTrnMetadata;
    auto* workout = new GHTrnWorkout;
    workout->addInterval(new GHTrnInterval);
    doc->workoutPlan->workouts.append(workout);

    QCOMPARE(doc->route->points.size(), 2);
    QCOMPARE(doc->track->segments.size(), 2);
    QCOMPARE(doc->track->segments.at(1)->points.size(), 2);
    QCOMPARE(doc->waypoints.size(), 2);
    QCOMPARE(doc->sensorLog->segments.size(), 2);
    QCOMPARE(doc->sensorLog->segments.at(1)->points.size(), 2);
    QCOMPARE(doc->workoutLog->intervals.size(), 2);
    QCOMPARE(doc->laps->laps.size(), 2);
    QVERIFY(doc->laps->summary);
    delete doc;

    // A first-generation document deleted through its own type frees its parts too.
    auto* first = new GHGpx1;
    first->startTrack();
    first->startTrackSegment();
    first->onTrackPoint(values);
    first->startTraining();
    first->onLogPoint(values);
    first->onWayPoint(values);
    delete first;
}

// Points handed to a track or sensor log go to the newest segment, or are deleted when there is none.
void TestGHGpxDocument::currentSegment()
{
    GHGpxTrack track;
    track.addTrackPoint(new GHGpxTrackPoint);
    QVERIFY(track.segments.isEmpty());
    QVERIFY(!track.currentSegment);
    auto* first = new GHGpxTrackSegment;
    auto* second = new GHGpxTrackSegment;
    track.addTrackSegment(first);
    track.addTrackPoint(new GHGpxTrackPoint);
    track.addTrackSegment(second);
    track.addTrackPoint(new GHGpxTrackPoint);
    track.addTrackPoint(new GHGpxTrackPoint);
    QCOMPARE(track.segments, (QVector<GHGpxTrackSegment*>{first, second}));
    QCOMPARE(track.currentSegment, second);
    QCOMPARE(first->points.size(), 1);
    QCOMPARE(second->points.size(), 2);

    GHGpxExtSensorLog log;
    log.addLogPoint(new GHGpxExtLogPoint);
    QVERIFY(log.segments.isEmpty());
    auto* logFirst = new GHGpxExtLogSegment;
    auto* logSecond = new GHGpxExtLogSegment;
    log.addLogSegment(logFirst);
    log.addLogSegment(logSecond);
    log.addLogPoint(new GHGpxExtLogPoint);
    QCOMPARE(log.currentSegment, logSecond);
    QCOMPARE(logFirst->points.size(), 0);
    QCOMPARE(logSecond->points.size(), 1);
}

// Every field comes from its own key; keys a handler does not read stay out, and a missing key gives an empty text.
void TestGHGpxDocument::handlerKeys()
{
    // Every key any handler reads, plus keys none reads.
    const QStringList all = {"name", "name_shtname", "desc", "author_name", "author_email", "author_link", "time",
                             "bounds_minlat", "bounds_minlon", "bounds_maxlat", "bounds_maxlon", "sys", "sys_version",
                             "sharetype", "sctry", "ectry", "splace", "eplace", "acttype", "rtetype", "trvtime",
                             "trvdist", "app_name", "app_version", "stime", "etime", "acttype_subtype", "poollen",
                             "cmt", "src", "number", "type", "rtept_lat", "rtept_lon", "itvSeg_start", "itvSeg_end",
                             "order", "breaktype", "trkpt_lat", "trkpt_lon", "ele", "magvar", "speed", "wpt_lat",
                             "wpt_lon", "sym", "type_isCal", "tel", "ctry", "place", "road", "hnum", "logpt_time",
                             "hrm", "cad", "spd", "tmp", "pwr", "brm", "pdm", "cps", "wrklog_id", "wrklog_type",
                             "wrklog_subtype", "lthr", "mhr", "ftp", "map", "interval_order", "interval_start",
                             "interval_end", "lap_order", "lap_start", "lap_end", "start", "end", "distance",
                             "calorie", "step", "altloss", "altgain", "speed_max", "speed_avg", "hrm_max", "hrm_avg",
                             "cad_max", "cad_avg", "pwr_max", "pwr_avg", "rtime", "gainaltlen", "lostaltlen",
                             "gainalttime", "lostalttime", "unknown", "gender"};
    Values values = echo(all);

    GHGpx2 doc;
    doc.setVersion(2);
    doc.startMetadata();
    doc.onMetadata(values);
    doc.onMetadataExtensions(values);
    const GHGpxMetadata* m = doc.metadata;
    QCOMPARE((QStringList{m->name, m->shortName, m->desc, m->authorName, m->authorEmail, m->authorLink, m->time,
                          m->boundsMinLat, m->boundsMinLon, m->boundsMaxLat, m->boundsMaxLon, m->userProfilePath}),
             (QStringList{"name", "name_shtname", "desc", "author_name", "author_email", "author_link", "time",
                          "bounds_minlat", "bounds_minlon", "bounds_maxlat", "bounds_maxlon", ""}));
    QCOMPARE((QStringList{m->sys, m->sysVersion, m->sharetype, m->sctry, m->ectry, m->splace, m->eplace, m->acttype,
                          m->rtetype, m->trvtime, m->trvdist, m->appName, m->appVersion, m->stime, m->etime,
                          m->acttypeSubtype, m->poollen, m->deviceWeight, m->deviceBikeId, m->deviceSpare}),
             (QStringList{"sys", "sys_version", "sharetype", "sctry", "ectry", "splace", "eplace", "acttype", "",
                          "trvtime", "trvdist", "app_name", "app_version", "stime", "etime", "acttype_subtype",
                          "poollen", "", "", ""}));
    QVERIFY(m->user.name.isEmpty() && m->user.gender.isEmpty() && m->user.mhr.isEmpty());

    doc.startRoute();
    doc.onRoute(values);
    doc.onRoutePoint(values);
    const GHGpxRoute* r = doc.route;
    QCOMPARE((QStringList{r->name, r->cmt, r->desc, r->src, r->number, r->type}),
             (QStringList{"name", "cmt", "desc", "src", "number", "type"}));
    const GHGpxRoutePoint* rp = r->points.at(0);
    QCOMPARE((QStringList{rp->lat, rp->lon, rp->name, rp->cmt, rp->desc, rp->type}),
             (QStringList{"rtept_lat", "rtept_lon", "name", "cmt", "desc", "type"}));

    doc.startTrack();
    doc.startTrackSegment();
    doc.onTrackSegment(values);
    doc.onTrackPoint(values);
    const GHGpxTrackSegment* s = doc.track->segments.at(0);
    QCOMPARE((QStringList{s->itvSegStart, s->itvSegEnd, s->order, s->acttype, s->acttypeSubtype, s->breaktype}),
             (QStringList{"itvSeg_start", "itvSeg_end", "order", "acttype", "acttype_subtype", ""}));
    const GHGpxTrackPoint* tp = s->points.at(0);
    QCOMPARE((QStringList{tp->lat, tp->lon, tp->ele, tp->cmt, tp->time, tp->type, tp->magvar, tp->speed}),
             (QStringList{"trkpt_lat", "trkpt_lon", "ele", "cmt", "time", "type", "magvar", "speed"}));

    doc.onWayPoint(values);
    const GHGpxWayPoint* w = doc.waypoints.at(0);
    QCOMPARE((QStringList{w->lat, w->lon, w->ele, w->time, w->name, w->cmt, w->desc, w->sym, w->type, w->isCal,
                          w->tel, w->ctry, w->place, w->road, w->hnum}),
             (QStringList{"wpt_lat", "wpt_lon", "ele", "time", "name", "cmt", "desc", "sym", "type", "type_isCal",
                          "tel", "ctry", "place", "road", "hnum"}));

    doc.startSensorLog();
    doc.startLogSegment();
    doc.onLogPoint(values);
    const GHGpxExtLogPoint* lp = doc.sensorLog->segments.at(0)->points.at(0);
    QCOMPARE((QStringList{lp->time, lp->hrm, lp->cad, lp->spd, lp->tmp, lp->pwr, lp->brm, lp->pdm, lp->cps}),
             (QStringList{"logpt_time", "hrm", "cad", "spd", "tmp", "pwr", "brm", "", ""}));
    QVERIFY(doc.sensorLog->segments.at(0)->breaktype.isEmpty());

    doc.startWorkoutLog();
    doc.onWorkoutLog(values);
    doc.onInterval(values);
    const GHGpxExtWorkoutLog* wl = doc.workoutLog;
    QCOMPARE((QStringList{wl->id, wl->type, wl->subtype, wl->lthr, wl->mhr, wl->ftp, wl->map}),
             (QStringList{"wrklog_id", "wrklog_type", "wrklog_subtype", "lthr", "mhr", "", ""}));
    const GHGpxExtWorkoutInterval* in = wl->intervals.at(0);
    QCOMPARE((QStringList{in->order, in->start, in->end}),
             (QStringList{"interval_order", "interval_start", "interval_end"}));

    doc.startLaps();
    doc.onLap(values);
    doc.onSummary(values);
    const QStringList body = {"distance", "calorie", "step", "altloss", "altgain", "speed_max", "speed_avg",
                              "hrm_max", "hrm_avg", "cad_max", "cad_avg", "pwr_max", "pwr_avg", "rtime",
                              "gainaltlen", "lostaltlen", "gainalttime", "lostalttime"};
    auto lapTexts = [](const GHGpxExtLap* l) {
        return QStringList{l->order, l->start, l->end, l->distance, l->calorie, l->step, l->altloss, l->altgain,
                           l->speedMax, l->speedAvg, l->hrmMax, l->hrmAvg, l->cadMax, l->cadAvg, l->pwrMax,
                           l->pwrAvg, l->rtime, l->gainaltlen, l->lostaltlen, l->gainalttime, l->lostalttime};
    };
    QCOMPARE(lapTexts(doc.laps->laps.at(0)), QStringList({"lap_order", "lap_start", "lap_end"}) + body);
    QCOMPARE(lapTexts(doc.laps->summary), QStringList({"", "start", "end"}) + body);

    // A map without the keys empties what it fills; a second summary replaces the first.
    Values none;
    doc.onSummary(none);
    QCOMPARE(lapTexts(doc.laps->summary).join(QString()), QString());
    QCOMPARE(doc.laps->laps.size(), 1);
    doc.onMetadata(none);
    QVERIFY(doc.metadata->name.isEmpty() && doc.metadata->boundsMaxLon.isEmpty());
    QCOMPARE(doc.metadata->sys, QString("sys")); // onMetadata leaves the extension texts alone

    // The first generation reads rtetype and the training log's own fields.
    GHGpx1 first;
    first.startMetadata();
    first.onMetadataExtensions(values);
    m = first.metadata;
    QCOMPARE((QStringList{m->sharetype, m->sctry, m->ectry, m->splace, m->eplace, m->acttype, m->rtetype,
                          m->trvtime, m->trvdist, m->sys, m->stime, m->acttypeSubtype}),
             (QStringList{"sharetype", "sctry", "ectry", "splace", "eplace", "acttype", "rtetype", "trvtime",
                          "trvdist", "", "", ""}));
    first.startTraining();
    first.onLogPoint(values);
    lp = first.training->points.at(0);
    QCOMPARE((QStringList{lp->time, lp->hrm, lp->cad, lp->spd, lp->tmp, lp->pwr, lp->brm, lp->pdm, lp->cps}),
             (QStringList{"logpt_time", "hrm", "cad", "spd", "tmp", "", "brm", "pdm", "cps"}));
}

// A second start of a part drops the first with everything in it (the sanitizer build sees the frees).
void TestGHGpxDocument::startReplacesPart()
{
    Values values = echo({"name", "rtept_lat", "trkpt_lat", "logpt_time", "lap_order", "interval_order"});
    struct Part {
        const char* name;
        std::function<void(GHGpx2&)> start;
        std::function<void(GHGpx2&)> fill;
        std::function<bool(const GHGpx2&)> empty;
    };
    const QVector<Part> parts = {
        {"metadata", [](GHGpx2& d) { d.startMetadata(); }, [&](GHGpx2& d) { d.onMetadata(values); },
         [](const GHGpx2& d) { return d.metadata->name.isEmpty(); }},
        {"rte", [](GHGpx2& d) { d.startRoute(); }, [&](GHGpx2& d) { d.onRoutePoint(values); },
         [](const GHGpx2& d) { return d.route->points.isEmpty(); }},
        {"trk", [](GHGpx2& d) { d.startTrack(); },
         [&](GHGpx2& d) {
             d.startTrackSegment();
             d.onTrackPoint(values);
         },
         [](const GHGpx2& d) { return d.track->segments.isEmpty() && !d.track->currentSegment; }},
        {"training", [](GHGpx2& d) { d.startTraining(); }, [&](GHGpx2& d) { d.GHGpx1::onLogPoint(values); },
         [](const GHGpx2& d) { return d.training->points.isEmpty(); }},
        {"ssrlog", [](GHGpx2& d) { d.startSensorLog(); },
         [&](GHGpx2& d) {
             d.startLogSegment();
             d.onLogPoint(values);
         },
         [](const GHGpx2& d) { return d.sensorLog->segments.isEmpty() && !d.sensorLog->currentSegment; }},
        {"wrklog", [](GHGpx2& d) { d.startWorkoutLog(); }, [&](GHGpx2& d) { d.onInterval(values); },
         [](const GHGpx2& d) { return d.workoutLog->intervals.isEmpty(); }},
        {"laps", [](GHGpx2& d) { d.startLaps(); },
         [&](GHGpx2& d) {
             d.onLap(values);
             d.onSummary(values);
         },
         [](const GHGpx2& d) { return d.laps->laps.isEmpty() && !d.laps->summary; }},
    };
    for (const Part& part : parts) {
        GHGpx2 doc;
        doc.setVersion(2);
        part.start(doc);
        part.fill(doc);
        QVERIFY2(!part.empty(doc), part.name);
        part.start(doc);
        QVERIFY2(part.empty(doc), part.name);
    }
}

// Handlers reached before their part was started change nothing and keep nothing (nothing leaks either).
void TestGHGpxDocument::handlersBeforeTheirStart()
{
    Values values = echo({"name", "rtept_lat", "trkpt_lat", "logpt_time", "lap_order", "interval_order",
                          "itvSeg_start", "sharetype", "sys", "wrklog_id", "start"});
    for (int version : {0, 1, 2}) {
        GHGpx2 doc;
        doc.setVersion(version);
        doc.onMetadata(values);
        doc.onMetadataExtensions(values);
        doc.onRoute(values);
        doc.onRoutePoint(values);
        doc.startTrackSegment();
        doc.onTrackSegment(values);
        doc.onTrackPoint(values);
        doc.startLogSegment();
        doc.onLogPoint(values);
        doc.onWorkoutLog(values);
        doc.onInterval(values);
        doc.onLap(values);
        doc.onSummary(values);
        QVERIFY(!doc.metadata && !doc.route && !doc.track && !doc.training);
        QVERIFY(!doc.sensorLog && !doc.laps && !doc.workoutLog && !doc.workoutPlan);
        QVERIFY(doc.waypoints.isEmpty());

        // A started track or sensor log without a segment drops its points.
        doc.startTrack();
        doc.onTrackSegment(values);
        doc.onTrackPoint(values);
        QVERIFY(doc.track->segments.isEmpty());
        doc.startSensorLog();
        doc.onLogPoint(values);
        QVERIFY(doc.sensorLog->segments.isEmpty());
    }

    GHGpx1 first;
    first.setVersion(1);
    first.onMetadata(values);
    first.onMetadataExtensions(values);
    first.onRoutePoint(values);
    first.startTrackSegment();
    first.onTrackPoint(values);
    first.onLogPoint(values);
    QVERIFY(!first.metadata && !first.route && !first.track && !first.training);
}

void TestGHGpxDocument::versionDecidesExtensions_data()
{
    QTest::addColumn<bool>("second"); // GHGpx2, else GHGpx1
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("rtetype");
    QTest::addColumn<QString>("sys");
    QTest::addColumn<QString>("sharetype");
    QTest::addColumn<int>("trainingPoints");
    QTest::addColumn<int>("sensorPoints");

    QTest::newRow("v2 unset") << true << 0 << "" << "" << "" << 0 << 0;
    QTest::newRow("v2 version 1") << true << 1 << "4" << "" << "2" << 1 << 0;
    QTest::newRow("v2 version 2") << true << 2 << "" << "GH2" << "2" << 0 << 1;
    QTest::newRow("v2 version 3") << true << 3 << "" << "" << "" << 0 << 0;
    QTest::newRow("v1 unset") << false << 0 << "4" << "" << "2" << 1 << 0;
    QTest::newRow("v1 version 2") << false << 2 << "4" << "" << "2" << 1 << 0;
}

// How metadata extensions and log points are taken depends on the document and the file's version.
void TestGHGpxDocument::versionDecidesExtensions()
{
    QFETCH(bool, second);
    QFETCH(int, version);
    QFETCH(QString, rtetype);
    QFETCH(QString, sys);
    QFETCH(QString, sharetype);
    QFETCH(int, trainingPoints);
    QFETCH(int, sensorPoints);

    QScopedPointer<GHGpx2> doc2(second ? new GHGpx2 : nullptr);
    QScopedPointer<GHGpx1> doc1(second ? nullptr : new GHGpx1);
    GHGpx1& doc = second ? *doc2 : *doc1;
    doc.setVersion(version);
    QCOMPARE(doc.version, version);

    Values extensions{{"rtetype", "4"}, {"sys", "GH2"}, {"sharetype", "2"}};
    Values point{{"logpt_time", "10"}, {"hrm", "120"}};
    doc.startMetadata();
    doc.onMetadataExtensions(extensions);
    doc.startTraining();
    doc.startSensorLog();
    doc.startLogSegment();
    doc.onLogPoint(point);

    QCOMPARE(doc.metadata->rtetype, rtetype);
    QCOMPARE(doc.metadata->sys, sys);
    QCOMPARE(doc.metadata->sharetype, sharetype);
    QCOMPARE(doc.training->points.size(), trainingPoints);
    if (second)
        QCOMPARE(doc2->sensorLog->segments.at(0)->points.size(), sensorPoints);
    if (trainingPoints)
        QCOMPARE(doc.training->points.at(0)->hrm, QString("120"));
}

QTEST_GUILESS_MAIN(TestGHGpxDocument)
#include "tst_ghgpxdocument.moc"
