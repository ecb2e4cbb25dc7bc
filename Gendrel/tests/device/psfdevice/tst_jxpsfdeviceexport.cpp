#include <QtTest>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

#include "../../../../core/include/training/ghtrncrs.h"
#include "../../../../core/include/training/ghtrnduration.h"
#include "../../../../core/include/training/ghtrninterval.h"
#include "../../../../core/include/training/ghtrnmetadata.h"
#include "../../../../core/include/training/ghtrnreader.h"
#include "../../../../core/include/training/ghtrntarget.h"
#include "../../../../core/include/training/ghtrnworkout.h"
#include "../../../../core/include/util/ghgpx2.h"
#include "../../../../core/include/util/ghgpxextlaps.h"
#include "../../../../core/include/util/ghgpxextlogpoint.h"
#include "../../../../core/include/util/ghgpxextsensorlog.h"
#include "../../../../core/include/util/ghgpxextworkoutlog.h"
#include "../../../../core/include/util/ghgpxmetadata.h"
#include "../../../../core/include/util/ghgpxreader.h"
#include "../../../../core/include/util/ghgpxroute.h"
#include "../../../../core/include/util/ghgpxtrack.h"
#include "../../../../core/include/util/ghgpxwriter.h"
#include "../../../../core/tests/ghtestxml.h"
#include "device/psfdevice/jxpsfdevice.h"
#include "jxenv.h"
#include "jxpsftrackimage.h"
#include "jxsimulatedflashbed.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "psf/gen2/jxpsf_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

using namespace JXPSFTrackImage;

namespace {

const quint32 kStart = 1400000000; // 2014-05-13T16:53:20Z

class PSFDeviceUnder : public JXPSFDevice
{
public:
    // The recorded tracks of the parsed store, in order.
    QVector<JXPSFRoute_1_5*> tracks()
    {
        QVector<JXPSFRoute_1_5*> out;
        if (m_psf)
            m_psf->getRoutes(1, out);
        return out;
    }
};

// A segment at (lat, lon) with class-0 points, each 10 s after the one before, 1 m up, 100 millionths north-east.
Segment segmentAt(quint32 time, qint32 lat, qint32 lon, int points)
{
    Segment segment;
    segment.time = time;
    segment.startLat = lat;
    segment.startLon = lon;
    segment.startAlt = 4400; // 100 m
    for (int index = 0; index < points; ++index)
        segment.points.append(point(10, 100, 100, 10));
    return segment;
}

// All six fields: speed 80 (36.00 km/h), cadence 64, heart rate 150, power 250, temperature 215 (21.5), BRM 500.
QByteArray fullSample()
{
    return Record(9).u8(0, 80).u8(1, 64).u8(2, 150).u16(3, 250).u16(5, 215).u16(7, 500).bytes();
}

std::unique_ptr<GHGpx2> readBack(const QString& path)
{
    std::unique_ptr<GHGpx2> gpx(new GHGpx2);
    GHGpxReader reader(gpx.get());
    if (!reader.readFile(path))
        return nullptr;
    return gpx;
}

QString fileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

// One recorded track of the second-generation store as a GPX document and its workout as a training course, read
// back with the data-model readers.
class TestJXPSFDeviceExport : public QObject
{
    Q_OBJECT

    JXSimulatedFlashBed m_bed;
    QString m_previousFolder;

    std::unique_ptr<PSFDeviceUnder> makeClient(const QByteArray& image)
    {
        m_bed.flash()->setExternalFlash(image);
        auto* service =
            JXSimulatedFlashBed::service(QStringLiteral("1004"), QStringLiteral("Zelto40"), QStringLiteral("MIRDO"));
        std::unique_ptr<PSFDeviceUnder> client(new PSFDeviceUnder);
        client->setDeviceService(service);
        if (!client->initial())
            return nullptr;
        return client;
    }

    // The document as the track export assembles it.
    std::unique_ptr<GHGpx2> assemble(PSFDeviceUnder* client, JXPSFRoute_1_5* track)
    {
        std::unique_ptr<GHGpx2> gpx(new GHGpx2);
        auto* route = new GHGpxRoute;
        gpx->track = client->toGpxTrack(track, route);
        gpx->sensorLog = client->toGpxSsrLog(track);
        gpx->workoutLog = client->toGpxWorkoutLog(track);
        if (GHTrnWorkout* plan = client->toGpxWorkoutPlan(track)) {
            gpx->workoutPlan = new GHTrncrs;
            gpx->workoutPlan->workouts.append(plan);
        }
        if (GHGpxExtLap* summary = client->toGpxSummary(track)) {
            gpx->laps = new GHGpxExtLaps;
            gpx->laps->summary = summary;
        }
        const QVector<GHGpxExtLap*> laps = client->toGpxLaps(track);
        if (!laps.isEmpty() && !gpx->laps)
            gpx->laps = new GHGpxExtLaps;
        for (GHGpxExtLap* lap : laps)
            gpx->laps->addLap(lap);
        gpx->metadata = client->toGpxMeta(track);
        route->name = track->getName(QString());
        gpx->route = route;
        return gpx;
    }

    // Written with the "2.0" writer into the current folder and checked by xmllint; the full path.
    QString write(GHGpx2* gpx, const QString& name)
    {
        const QString path = QDir::current().absoluteFilePath(name);
        if (!GHGpxWriter(QStringLiteral("2.0"), gpx).writeFile(path))
            return QString();
        if (GHTestXml::available() && !GHTestXml::lint(path).isEmpty()) {
            qWarning() << GHTestXml::lint(path);
            return QString();
        }
        return path;
    }

private slots:
    void init()
    {
        QVERIFY(m_bed.setUp(0, JXSimulatedFlashBed::NoClock));
        m_previousFolder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_bed.folder()->path()));
    }

    void cleanup()
    {
        QDir::setCurrent(m_previousFolder);
        m_bed.reset();
    }

    // A cycling track with everything the store can hold for it, through the file and back.
    void wholeTrackReadsBack()
    {
        Track track;
        track.name = "Ride 1";
        track.start = kStart;
        track.actType = 2;
        track.subType = 3;
        Segment first = segmentAt(kStart, 22500000, 120500000, 2);
        first.hasLog = true;
        first.log.start = kStart;
        first.log.interval = 5;
        first.log.flags = 0x3F;
        first.log.count = 2;
        first.log.samples = fullSample() + Record(9, char(0xFF)).u16(5, quint16(-15)).bytes();
        first.breakType = 2;
        Segment second = segmentAt(kStart + 100, -33000000, -70000000, 1);
        second.points[0] = point(-25, -1, -1, 3);
        track.segments = {first, second};
        Lap lap;
        lap.start = kStart;
        lap.end = kStart + 60;
        lap.distance = 500;
        lap.avgSpeed = 80;
        lap.avgBPM = 140;
        lap.maxBPM = 170;
        lap.avgCad = 85;
        lap.avgPower = 1000;
        lap.gainAlt = 12;
        lap.lostAlt = 3;
        lap.calorie = 40;
        lap.rtime = 55;
        Lap other = lap;
        other.start = kStart + 60;
        other.end = kStart + 130;
        track.laps = {lap, other};
        track.hasSummary = true;
        track.summary = lap;
        track.summary.end = kStart + 130;
        track.summary.distance = 1234;
        track.hasUserInfo = true;
        track.userInfo.weight = 7250;
        track.userInfo.height = 18000;
        track.userInfo.bikeWeight = 95;
        track.userInfo.wheel = 20960;
        track.userInfo.bikeID = 2;
        track.userInfo.bikeType = 1;
        track.userInfo.zones = {Zone{4, 190, {{100, 120}, {121, 140}}}, Zone{8, 250, {{0, 150}}}, Zone{2, 7, {}}};

        Builder builder;
        builder.addTrack(track);
        std::unique_ptr<PSFDeviceUnder> client = makeClient(builder.image());
        QVERIFY(client);
        const QVector<JXPSFRoute_1_5*> tracks = client->tracks();
        QCOMPARE(tracks.size(), 1);
        std::unique_ptr<GHGpx2> document = assemble(client.get(), tracks.at(0));
        const QString path = write(document.get(), QStringLiteral("ride.gpx"));
        QVERIFY(!path.isEmpty());

        // Route, track and metadata come back through the reader.
        std::unique_ptr<GHGpx2> gpx = readBack(path);
        QVERIFY(gpx);
        // Route: both segment starts and the final position.
        QVERIFY(gpx->route);
        QCOMPARE(gpx->route->name, QStringLiteral("Ride 1"));
        QCOMPARE(gpx->route->points.size(), 3);
        QCOMPARE(gpx->route->points.at(0)->lat, QStringLiteral("22.500000"));
        QCOMPARE(gpx->route->points.at(0)->lon, QStringLiteral("120.500000"));
        QCOMPARE(gpx->route->points.at(1)->lat, QStringLiteral("-33.000000"));
        QCOMPARE(gpx->route->points.at(1)->lon, QStringLiteral("-70.000000"));
        QCOMPARE(gpx->route->points.at(2)->lat, QStringLiteral("-33.000001"));
        QCOMPARE(gpx->route->points.at(2)->lon, QStringLiteral("-70.000001"));

        // Track: the segment start, then each point with its own position, time and altitude.
        QVERIFY(gpx->track);
        QCOMPARE(gpx->track->segments.size(), 2);
        const QVector<GHGpxTrackPoint*>& points = gpx->track->segments.at(0)->points;
        QCOMPARE(points.size(), 3);
        QCOMPARE(points.at(0)->time, QStringLiteral("2014-05-13T16:53:20Z"));
        QCOMPARE(points.at(0)->ele, QStringLiteral("100.00"));
        QCOMPARE(points.at(2)->lat, QStringLiteral("22.500200"));
        QCOMPARE(points.at(2)->lon, QStringLiteral("120.500200"));
        QCOMPARE(points.at(2)->ele, QStringLiteral("102.00"));
        QCOMPARE(points.at(2)->time, QStringLiteral("2014-05-13T16:53:40Z"));
        const QVector<GHGpxTrackPoint*>& last = gpx->track->segments.at(1)->points;
        QCOMPARE(last.size(), 2);
        QCOMPARE(last.at(1)->ele, QStringLiteral("97.50"));
        QCOMPARE(last.at(1)->time, QStringLiteral("2014-05-13T16:55:03Z"));

        // The reader leaves the ride extensions aside: they are checked in the document and in the file.
        // Sensor log: every field of a full sample; the absent ones of the second stay empty.
        QVERIFY(document->sensorLog);
        QCOMPARE(document->sensorLog->segments.size(), 1);
        const QVector<GHGpxExtLogPoint*>& samples = document->sensorLog->segments.at(0)->points;
        QCOMPARE(samples.size(), 2);
        QCOMPARE(samples.at(0)->spd, QStringLiteral("36.00"));
        QCOMPARE(samples.at(0)->cad, QStringLiteral("64"));
        QCOMPARE(samples.at(0)->hrm, QStringLiteral("150"));
        QCOMPARE(samples.at(0)->pwr, QStringLiteral("250"));
        QCOMPARE(samples.at(0)->tmp, QStringLiteral("21.5"));
        QCOMPARE(samples.at(0)->brm, QStringLiteral("1000"));
        QCOMPARE(samples.at(1)->time, QStringLiteral("2014-05-13T16:53:25Z"));
        QCOMPARE(samples.at(1)->tmp, QStringLiteral("-1.5"));
        QVERIFY(samples.at(1)->spd.isEmpty());
        QVERIFY(samples.at(1)->cad.isEmpty());
        QVERIFY(samples.at(1)->hrm.isEmpty());
        QVERIFY(samples.at(1)->pwr.isEmpty());
        QVERIFY(samples.at(1)->brm.isEmpty());

        // Laps in store order, numbered; the summary; absent values left out.
        QVERIFY(document->laps);
        QCOMPARE(document->laps->laps.size(), 2);
        QCOMPARE(document->laps->laps.at(0)->order, QStringLiteral("1"));
        QCOMPARE(document->laps->laps.at(1)->order, QStringLiteral("2"));
        const GHGpxExtLap* firstLap = document->laps->laps.at(0);
        QCOMPARE(firstLap->start, QStringLiteral("2014-05-13T16:53:20Z"));
        QCOMPARE(firstLap->end, QStringLiteral("2014-05-13T16:54:20Z"));
        QCOMPARE(firstLap->distance, QStringLiteral("500"));
        QCOMPARE(firstLap->speedAvg, QStringLiteral("36.00"));
        QVERIFY(firstLap->speedMax.isEmpty());
        QCOMPARE(firstLap->hrmAvg, QStringLiteral("140"));
        QCOMPARE(firstLap->hrmMax, QStringLiteral("170"));
        QCOMPARE(firstLap->cadAvg, QStringLiteral("85"));
        QVERIFY(firstLap->cadMax.isEmpty());
        QCOMPARE(firstLap->pwrAvg, QStringLiteral("1000"));
        QVERIFY(firstLap->pwrMax.isEmpty());
        QCOMPARE(firstLap->altgain, QStringLiteral("12"));
        QCOMPARE(firstLap->altloss, QStringLiteral("3"));
        QCOMPARE(firstLap->calorie, QStringLiteral("40"));
        QCOMPARE(firstLap->rtime, QStringLiteral("55"));
        QVERIFY(document->laps->summary);
        QCOMPARE(document->laps->summary->distance, QStringLiteral("1234"));

        // Metadata: the device's texts and the summary's times.
        QVERIFY(gpx->metadata);
        QString model;
        client->getName(model);
        QCOMPARE(model, QStringLiteral("Zelto40"));
        QString total;
        client->getTotal(total);
        QCOMPARE(gpx->metadata->name, QStringLiteral("Ride 1"));
        QCOMPARE(gpx->metadata->desc, model);
        QCOMPARE(gpx->metadata->authorName, QStringLiteral("Vexmor"));
        QCOMPARE(gpx->metadata->sys, model);
        QCOMPARE(gpx->metadata->sysVersion,
                 QStringLiteral("1.0.0.") + total + QStringLiteral(" JX") + JXEnv::getInstance()->getVersion());
        QCOMPARE(gpx->metadata->acttype, QStringLiteral("2"));
        QCOMPARE(gpx->metadata->acttypeSubtype, QStringLiteral("3"));
        QCOMPARE(gpx->metadata->stime, QStringLiteral("2014-05-13T16:53:20Z"));
        QCOMPARE(gpx->metadata->etime, QStringLiteral("2014-05-13T16:55:30Z"));
        QCOMPARE(gpx->metadata->trvtime, QStringLiteral("130"));
        QCOMPARE(gpx->metadata->trvdist, QStringLiteral("1234"));

        // The user part and the ride extensions as written.
        const QString text = fileText(path);
        for (const char* element : {"<logpt time=\"2014-05-13T16:53:25Z\">", "<spd>36.00</spd>", "<tmp>-1.5</tmp>", "<lap order=\"2\"",
                                    "<summary start=\"2014-05-13T16:53:20Z\" end=\"2014-05-13T16:55:30Z\">",
                                    "<distance>1234</distance>","<gender>1</gender>", "<age>30</age>", "<weight>72.50</weight>",
                                    "<height>180.00</height>", "<weight>9.50</weight>", "<type>1</type>",
                                    "<wheel>2096.00</wheel>", "<mhr>190</mhr>", "<ftp>250</ftp>",
                                    "<zone id=\"2\" low=\"121\" high=\"140\"/>", "<zonedef type=\"2\"/>"})
            QVERIFY2(text.contains(QLatin1String(element)), element);
        QVERIFY(!text.contains(QLatin1String("<lthr>")));
    }

    void segmentsWithoutPoints_data()
    {
        QTest::addColumn<QVector<int>>("pointCounts");
        QTest::addColumn<int>("routePoints");
        QTest::newRow("two segments") << QVector<int>{2, 1} << 3;
        QTest::newRow("empty between") << QVector<int>{2, 0, 1} << 3;
        QTest::newRow("empty last") << QVector<int>{2, 0} << 2;
        QTest::newRow("all empty") << QVector<int>{0, 0} << 0;
    }

    // An empty segment gives no start point but stays in the track; the end is the last position seen.
    void segmentsWithoutPoints()
    {
        QFETCH(QVector<int>, pointCounts);
        QFETCH(int, routePoints);
        Track track;
        track.start = kStart;
        for (int index = 0; index < pointCounts.size(); ++index)
            track.segments.append(segmentAt(kStart + 100 * index, 1000000 * (index + 1), 2000000, pointCounts.at(index)));
        Builder builder;
        builder.addTrack(track);
        std::unique_ptr<PSFDeviceUnder> client = makeClient(builder.image());
        QVERIFY(client);
        const QVector<JXPSFRoute_1_5*> tracks = client->tracks();
        QCOMPARE(tracks.size(), 1);

        GHGpxRoute route;
        std::unique_ptr<GHGpxTrack> gpxTrack(client->toGpxTrack(tracks.at(0), &route));
        QVERIFY(gpxTrack);
        QCOMPARE(gpxTrack->segments.size(), pointCounts.size());
        for (int index = 0; index < pointCounts.size(); ++index)
            QCOMPARE(gpxTrack->segments.at(index)->points.size(), pointCounts.at(index) ? pointCounts.at(index) + 1 : 0);
        QCOMPARE(route.points.size(), routePoints);
        if (routePoints == 2)
            QCOMPARE(route.points.at(1)->lat, QStringLiteral("1.000200"));
    }

    // Running keeps the stride in the cadence byte: two decimals in log points and laps; absent stays empty.
    void runningTrackPutsStrideInCad()
    {
        Track track;
        track.start = kStart;
        track.actType = 1;
        Segment segment = segmentAt(kStart, 1000000, 1000000, 1);
        segment.hasLog = true;
        segment.log.start = kStart;
        segment.log.flags = 0x03; // speed and cadence, no temperature
        segment.log.count = 2;
        segment.log.samples = QByteArray::fromHex("1040" "10ff");
        track.segments = {segment};
        Lap lap;
        lap.avgCad = 3;
        track.laps = {lap};
        track.hasSummary = true;
        track.summary = lap;
        Builder builder;
        builder.addTrack(track);
        std::unique_ptr<PSFDeviceUnder> client = makeClient(builder.image());
        QVERIFY(client);
        JXPSFRoute_1_5* stored = client->tracks().value(0);
        QVERIFY(stored);

        std::unique_ptr<GHGpxExtSensorLog> log(client->toGpxSsrLog(stored));
        QVERIFY(log);
        QCOMPARE(log->segments.size(), 1);
        const QVector<GHGpxExtLogPoint*>& samples = log->segments.at(0)->points;
        QCOMPARE(samples.size(), 2);
        QCOMPARE(samples.at(0)->cad, QStringLiteral("60.00"));
        QCOMPARE(samples.at(0)->spd, QStringLiteral("7.20"));
        QVERIFY(samples.at(1)->cad.isEmpty());
        // A log without the temperature field has no temperature, not the invalid marker.
        QVERIFY(samples.at(0)->tmp.isEmpty());

        const QVector<GHGpxExtLap*> laps = client->toGpxLaps(stored);
        QCOMPARE(laps.size(), 1);
        QCOMPARE(laps.at(0)->cadAvg, QStringLiteral("2.81"));
        QVERIFY(laps.at(0)->cadMax.isEmpty());
        std::unique_ptr<GHGpxExtLap> summary(client->toGpxSummary(stored));
        QVERIFY(summary);
        QCOMPARE(summary->cadAvg, QStringLiteral("2.81"));
        QVERIFY(summary->order.isEmpty());
        qDeleteAll(laps);
    }

    // The workout log numbers its intervals in store order, leaving out the ones not ridden; the plan comes from
    // the workout, with the GPX document and as a training course of its own.
    void workoutLogAndPlan()
    {
        Track ridden;
        ridden.start = kStart;
        ridden.segments = {segmentAt(kStart, 1000000, 1000000, 1)};
        Track other = ridden;
        Workout workout;
        workout.name = "Base: 2/3";
        workout.activated = kStart - 3600;
        workout.id = 77;
        workout.actType = 2;
        workout.daily = true;
        workout.repeat = 3;
        workout.type = 5;
        workout.subType = 4;
        Interval warmup;
        warmup.type = 1;
        warmup.target = 2;
        warmup.low = 44;
        warmup.high = 44;
        warmup.highBits = 0x10; // high 300, low 44
        warmup.duration = 1;
        warmup.durationValue = -5;
        Interval work;
        work.type = 2;
        work.repeat = 0; // back to the first interval
        work.repeatCount = 4;
        work.low = 0xFF;
        work.highBits = 0x0F; // low absent
        workout.intervals = {warmup, work};
        Builder builder;
        builder.addTrack(other);
        const int rideIndex = builder.addTrack(ridden);
        builder.addWorkout(workout);
        builder.addWorkoutLog(WorkoutLog{0, rideIndex, {{kStart, kStart + 10}, {0, kStart + 20}, {kStart + 30, kStart + 40}}});
        std::unique_ptr<PSFDeviceUnder> client = makeClient(builder.image());
        QVERIFY(client);
        const QVector<JXPSFRoute_1_5*> tracks = client->tracks();
        QCOMPARE(tracks.size(), 2);

        // The other track followed no workout.
        QVERIFY(!client->toGpxWorkoutLog(tracks.at(0)));
        QVERIFY(!client->toGpxWorkoutPlan(tracks.at(0)));

        std::unique_ptr<GHGpx2> gpx = assemble(client.get(), tracks.at(1));
        const QString path = write(gpx.get(), QStringLiteral("ride.gpx"));
        QVERIFY(!path.isEmpty());
        const QString text = fileText(path);
        for (const char* element : {"<wrklog id=\"77\" type=\"5\"", "<wrk id=\"77\"", "<goto repeat=\"4\">1</goto>", "<interval order=\"1\">", "<interval order=\"3\">",
                                    "<start>2014-05-13T16:53:50Z</start>"})
            QVERIFY2(text.contains(QLatin1String(element)), element);
        QVERIFY(!text.contains(QLatin1String("<interval order=\"2\">")));
        QVERIFY(gpx->workoutLog);
        QCOMPARE(gpx->workoutLog->id, QStringLiteral("77"));
        QCOMPARE(gpx->workoutLog->type, QStringLiteral("5"));
        QCOMPARE(gpx->workoutLog->intervals.size(), 2);
        QCOMPARE(gpx->workoutLog->intervals.at(0)->order, QStringLiteral("1"));
        QCOMPARE(gpx->workoutLog->intervals.at(1)->order, QStringLiteral("3"));
        QCOMPARE(gpx->workoutLog->intervals.at(1)->start, QStringLiteral("2014-05-13T16:53:50Z"));
        QCOMPARE(gpx->workoutLog->intervals.at(1)->end, QStringLiteral("2014-05-13T16:54:00Z"));

        GHTrncrs course;
        course.workouts.append(client->toGpxWorkoutPlan(tracks.at(1)));
        QVERIFY(course.workouts.first());
        QCOMPARE(client->workoutToXml(&course), QStringLiteral("Base230.wrk"));
        if (GHTestXml::available())
            QCOMPARE(GHTestXml::lint(QStringLiteral("Base230.wrk")), QString());

        GHTrncrs readCourse;
        QVERIFY(GHTrnReader(&readCourse).readFile(QStringLiteral("Base230.wrk")));
        QVERIFY(readCourse.metadata);
        QCOMPARE(readCourse.metadata->name, QStringLiteral("Base: 2/3"));
        QCOMPARE(readCourse.metadata->desc, QStringLiteral("Sample"));
        QCOMPARE(readCourse.metadata->author, QStringLiteral("Vexmor"));
        QCOMPARE(readCourse.metadata->sys, QStringLiteral("Zelto40"));
        QCOMPARE(readCourse.metadata->time, QStringLiteral("2014-05-13T15:53:20Z"));
        QCOMPARE(readCourse.workouts.size(), 1);
        const GHTrnWorkout* plan = readCourse.workouts.first();
        QCOMPARE(plan->name, QStringLiteral("Base: 2/3"));
        QCOMPARE(plan->id, QStringLiteral("77"));
        QCOMPARE(plan->daily, QStringLiteral("1"));
        QCOMPARE(plan->repeat, QStringLiteral("3"));
        QCOMPARE(plan->type, QStringLiteral("5"));
        QCOMPARE(plan->acttype, QStringLiteral("2"));
        QCOMPARE(plan->subtype, QStringLiteral("4"));
        QCOMPARE(plan->time, QStringLiteral("2014-05-13T15:53:20Z"));
        QCOMPARE(plan->intervals.size(), 2);
        const GHTrnInterval* first = plan->intervals.at(0);
        QCOMPARE(first->id, QStringLiteral("1"));
        QCOMPARE(first->name, QStringLiteral("Warmup"));
        QVERIFY(first->goTo.isEmpty());
        QVERIFY(first->target && first->duration);
        QCOMPARE(first->target->type, QStringLiteral("2"));
        QCOMPARE(first->target->low, QStringLiteral("44"));
        QCOMPARE(first->target->high, QStringLiteral("300"));
        QCOMPARE(first->duration->type, QStringLiteral("1"));
        QCOMPARE(first->duration->value, QStringLiteral("-5"));
        const GHTrnInterval* second = plan->intervals.at(1);
        QCOMPARE(second->id, QStringLiteral("2"));
        QCOMPARE(second->name, QStringLiteral("Work"));
        // The repeat goes back to the interval whose id is 1.
        QCOMPARE(second->goTo, QStringLiteral("1"));
        QCOMPARE(second->goToRepeat, QStringLiteral("4"));
        QCOMPARE(second->target->low, QStringLiteral("255"));

        // A second plan of that name takes the next counter; with every name taken nothing is written.
        GHTrncrs again;
        again.workouts.append(client->toGpxWorkoutPlan(tracks.at(1)));
        QCOMPARE(client->workoutToXml(&again), QStringLiteral("Base231.wrk"));
        QVERIFY(QFile::exists(QStringLiteral("Base231.wrk")));
        for (int counter = 2; counter <= 999; ++counter) {
            QFile taken(QStringLiteral("Base23%1.wrk").arg(counter));
            QVERIFY(taken.open(QIODevice::WriteOnly));
        }
        GHTrncrs full;
        full.workouts.append(client->toGpxWorkoutPlan(tracks.at(1)));
        QCOMPARE(client->workoutToXml(&full), QString());
        QCOMPARE(QFileInfo(QStringLiteral("Base23999.wrk")).size(), qint64(0));
        GHTrncrs none;
        QCOMPARE(client->workoutToXml(&none), QString());
    }

    // Without a user-info log or a summary the metadata keeps its name, system, activity and the track's start.
    void metadataWithoutUserInfoOrSummary()
    {
        Track track;
        track.name = "Commute";
        track.start = kStart;
        track.actType = 3;
        track.segments = {segmentAt(kStart, 1000000, 1000000, 1)};
        track.laps = {Lap()};
        Builder builder;
        builder.addTrack(track);
        std::unique_ptr<PSFDeviceUnder> client = makeClient(builder.image());
        QVERIFY(client);
        JXPSFRoute_1_5* stored = client->tracks().value(0);
        QVERIFY(stored);

        QVERIFY(!client->toGpxSummary(stored));
        std::unique_ptr<GHGpx2> document = assemble(client.get(), stored);
        QVERIFY(document->laps);
        QVERIFY(!document->laps->summary);
        QCOMPARE(document->laps->laps.size(), 1);
        const QString path = write(document.get(), QStringLiteral("commute.gpx"));
        QVERIFY(!path.isEmpty());
        std::unique_ptr<GHGpx2> gpx = readBack(path);
        QVERIFY(gpx && gpx->metadata);
        QCOMPARE(gpx->metadata->name, QStringLiteral("Commute"));
        QCOMPARE(gpx->metadata->sys, QStringLiteral("Zelto40"));
        QCOMPARE(gpx->metadata->acttype, QStringLiteral("3"));
        QCOMPARE(gpx->metadata->stime, QStringLiteral("2014-05-13T16:53:20Z"));
        QVERIFY(gpx->metadata->etime.isEmpty());
        QVERIFY(gpx->metadata->trvtime.isEmpty());
        QVERIFY(gpx->metadata->trvdist.isEmpty());

        const QString text = fileText(path);
        for (const char* absent : {"<gender>", "<age>", "<weight>", "<bike>", "<zonedef", "<mhr>", "<summary"})
            QVERIFY2(!text.contains(QLatin1String(absent)), absent);
    }

    // The age is counted from the profile's birthday to the injected date, the gender taken as it is.
    void metadataCarriesTheProfilesAge()
    {
        Track track;
        track.start = kStart;
        track.hasUserInfo = true;
        Builder builder;
        builder.addTrack(track);
        QByteArray image = builder.image();
        // An empty profile table right after the profile page's header.
        image.replace(0x1F9000 + 520, 6, QByteArray::fromHex("100000000000"));
        std::unique_ptr<PSFDeviceUnder> client = makeClient(image);
        QVERIFY(client);
        QMap<QString, QString> profile;
        profile.insert(QStringLiteral("User Birthday"), QStringLiteral("1980/06/01"));
        profile.insert(QStringLiteral("User Sex"), QStringLiteral("0"));
        QVERIFY(client->saveProfile(profile));
        client->setToday(QDate(2014, 3, 1));
        QVERIFY(client->prepareUploadProfile(m_bed.folder()->path() + QStringLiteral("/profile.xml")));

        JXPSFRoute_1_5* stored = client->tracks().value(0);
        QVERIFY(stored);
        std::unique_ptr<GHGpxMetadata> meta(client->toGpxMeta(stored));
        QVERIFY(meta);
        QCOMPARE(meta->user.age, QStringLiteral("33"));
        QCOMPARE(meta->user.gender, QStringLiteral("0"));
        // Absent body values read as zero, not as the invalid marker.
        QCOMPARE(meta->user.weight, QStringLiteral("0.00"));
        QCOMPARE(meta->user.bike.wheel, QStringLiteral("0.00"));
        QVERIFY(meta->user.zones.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestJXPSFDeviceExport)
#include "tst_jxpsfdeviceexport.moc"
