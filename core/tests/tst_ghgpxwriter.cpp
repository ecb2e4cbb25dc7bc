#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>

#include <memory>

#include "ghtestfiles.h"
#include "ghtestxml.h"
#include "jxrealmount.h"
#include "training/ghtrncrs.h"
#include "training/ghtrninterval.h"
#include "training/ghtrnworkout.h"
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
#include "util/ghgpxwriter.h"

namespace {

// The documents behind the golden files under gpx/, built as device code builds them.
enum class Document { Empty, RideFull, RideProfile, FirstGeneration };

GHGpxTrackPoint* trackPoint(const QString& lat, const QString& lon)
{
    auto* point = new GHGpxTrackPoint;
    point->lat = lat;
    point->lon = lon;
    return point;
}

GHGpxExtLogPoint* logPoint(const QString& time)
{
    auto* point = new GHGpxExtLogPoint;
    point->time = time;
    return point;
}

GHGpxMetaZone zone(const QString& type, const QVector<int>& low, const QVector<int>& high)
{
    GHGpxMetaZone result;
    result.type = type;
    result.low = low;
    result.high = high;
    return result;
}

// Every part of a second-generation ride, with every optional field both set and unset somewhere.
void fillRideFull(GHGpx2& ride)
{
    auto* meta = new GHGpxMetadata;
    meta->name = "Morning ride";
    meta->shortName = "MR";
    meta->desc = "Along the river";
    meta->authorName = "Ana";
    meta->authorEmail = "ana@example.org";
    meta->authorLink = "http://example.org/ana";
    meta->time = "2026-05-01T06:00:00Z";
    meta->boundsMinLat = "47.1";
    meta->boundsMinLon = "8.2";
    meta->boundsMaxLat = "47.3";
    meta->boundsMaxLon = "8.5";
    GHGpxMetaUser& user = meta->user;
    user.name = "Ana";
    user.gender = "F";
    user.weight = "58";
    user.age = "34";
    user.height = "168";
    user.mhr = "188";
    user.lthr = "170";
    user.ftp = "230";
    user.strideLongDist = "120";
    user.raceTime = "3600";
    user.bike.bike = "Road";
    user.bike.name = "Allez";
    user.bike.weight = "8.2";
    user.bike.wheel = "2096";
    user.zones << zone("hr", {100, 120}, {119, 140}) << zone("pwr", {0}, {150});
    meta->deviceWeight = "70";
    meta->sys = "GH2";
    meta->sysVersion = "2.1.0.5";
    meta->appName = "Ride";
    meta->appVersion = "1.4";
    meta->sharetype = "2";
    meta->sctry = "CH";
    meta->ectry = "CH";
    meta->splace = "Basel";
    meta->eplace = "Zurich";
    meta->acttype = "1";
    meta->acttypeSubtype = "3";
    meta->rtetype = "4";
    meta->trvtime = "7200";
    meta->trvdist = "85000";
    meta->stime = "2026-05-01T06:00:00Z";
    meta->etime = "2026-05-01T08:00:00Z";
    ride.metadata = meta;

    auto* route = new GHGpxRoute;
    route->name = "River loop";
    route->desc = "Flat & fast";
    route->src = "device";
    route->number = "99";
    route->type = "1";
    for (const auto& at : {QStringList{"47.1", "8.2", "Start", "0"}, QStringList{"47.2", "8.3", "", ""},
                           QStringList{"47.3", "8.5", "End", ""}}) {
        auto* point = new GHGpxRoutePoint;
        point->lat = at[0];
        point->lon = at[1];
        point->name = at[2];
        point->type = at[3];
        route->addRoutePoint(point);
    }
    ride.route = route;

    auto* track = new GHGpxTrack;
    auto* interval = new GHGpxTrackSegment;
    interval->itvSegStart = "0";
    interval->itvSegEnd = "120";
    interval->order = "1";
    interval->acttype = "2";
    interval->acttypeSubtype = "5";
    GHGpxTrackPoint* first = trackPoint("47.1", "8.2");
    first->ele = "400";
    first->time = "2026-05-01T06:00:00Z";
    first->speed = "5";
    interval->addTrackPoint(first);
    GHGpxTrackPoint* second = trackPoint("47.11", "8.21");
    second->ele = "401";
    second->cmt = "c";
    second->time = "2026-05-01T06:00:01Z";
    second->type = "t";
    second->magvar = "1.5";
    interval->addTrackPoint(second);
    track->addTrackSegment(interval);
    auto* pause = new GHGpxTrackSegment;
    pause->breaktype = "1";
    pause->addTrackPoint(trackPoint("47.2", "8.3"));
    track->addTrackSegment(pause);
    auto* acttypeOnly = new GHGpxTrackSegment;
    acttypeOnly->acttype = "2";
    track->addTrackSegment(acttypeOnly);
    auto* plain = new GHGpxTrackSegment;
    plain->addTrackPoint(trackPoint("47.3", "8.5"));
    track->addTrackSegment(plain);
    ride.track = track;

    auto* cafe = new GHGpxWayPoint;
    cafe->lat = "47.15";
    cafe->lon = "8.25";
    cafe->name = "Cafe";
    cafe->cmt = "coffee";
    cafe->desc = "good";
    cafe->sym = "cup";
    cafe->ele = "410";
    cafe->time = "2026-05-01T07:00:00Z";
    cafe->type = "1";
    cafe->isCal = "0";
    cafe->tel = "+41 61 000";
    cafe->ctry = "CH";
    cafe->place = "Basel";
    cafe->road = "Rheinweg";
    cafe->hnum = "3";
    auto* bare = new GHGpxWayPoint;
    bare->lat = "47.16";
    bare->lon = "8.26";
    bare->type = "2";
    ride.waypoints << cafe << bare;

    auto* sensorLog = new GHGpxExtSensorLog;
    sensorLog->addLogSegment(new GHGpxExtLogSegment);
    GHGpxExtLogPoint* sample = logPoint("2026-05-01T06:00:00Z");
    sample->hrm = "120";
    sample->cad = "80";
    sample->spd = "25.5";
    sample->tmp = "18";
    sample->pwr = "200";
    sample->brm = "1";
    sample->pdm = "x";
    sample->cps = "y";
    sensorLog->addLogPoint(sample);
    GHGpxExtLogPoint* heartOnly = logPoint("2026-05-01T06:00:01Z");
    heartOnly->hrm = "121";
    sensorLog->addLogPoint(heartOnly);
    auto* afterBreak = new GHGpxExtLogSegment;
    afterBreak->breaktype = "2";
    sensorLog->addLogSegment(afterBreak);
    sensorLog->addLogPoint(logPoint("2026-05-01T06:10:00Z"));
    ride.sensorLog = sensorLog;

    auto* workoutLog = new GHGpxExtWorkoutLog;
    workoutLog->id = "7";
    workoutLog->type = "1";
    workoutLog->lthr = "170";
    workoutLog->mhr = "188";
    for (const auto& at : {QStringList{"1", "0", "600"}, QStringList{"2", "600", ""}}) {
        auto* step = new GHGpxExtWorkoutInterval;
        step->order = at[0];
        step->start = at[1];
        step->end = at[2];
        workoutLog->addInterval(step);
    }
    ride.workoutLog = workoutLog;

    auto* laps = new GHGpxExtLaps;
    auto* lap = new GHGpxExtLap;
    lap->order = "1";
    lap->start = "0";
    lap->end = "3600";
    lap->distance = "40000";
    lap->calorie = "800";
    lap->altloss = "100";
    lap->altgain = "120";
    lap->speedMax = "45";
    lap->speedAvg = "30";
    lap->cadAvg = "85";
    lap->pwrMax = "400";
    lap->pwrAvg = "210";
    lap->rtime = "3500";
    lap->gainalttime = "1000";
    lap->lostalttime = "900";
    laps->addLap(lap);
    auto* emptyLap = new GHGpxExtLap;
    emptyLap->order = "2";
    emptyLap->start = "3600";
    emptyLap->end = "7200";
    laps->addLap(emptyLap);
    laps->summary = new GHGpxExtLap;
    laps->summary->start = "0";
    laps->summary->end = "7200";
    laps->summary->distance = "85000";
    ride.laps = laps;

    auto* plan = new GHTrncrs;
    auto* workout = new GHTrnWorkout;
    workout->id = "7";
    workout->name = "Tempo";
    auto* warmUp = new GHTrnInterval;
    warmUp->id = "1";
    warmUp->name = "Warm up";
    workout->addInterval(warmUp);
    plan->workouts.append(workout);
    ride.workoutPlan = plan;
}

// The other branches: user from a profile file, short sys and acttype, an incomplete author and bounds, a route
// without points, and a plan without a workout log.
void fillRideProfile(GHGpx2& ride)
{
    auto* meta = new GHGpxMetadata;
    meta->authorEmail = "bea@example.org";
    meta->boundsMinLat = "47.1";
    meta->boundsMinLon = "8.2";
    meta->boundsMaxLat = "47.3";
    meta->userProfilePath = QFINDTESTDATA("gpx/profile.xml");
    meta->user.name = "not written: the file stands for the user";
    meta->sys = "GH2";
    meta->appName = "Ride";
    meta->acttype = "4";
    meta->rtetype = "9";
    meta->poollen = "25";
    ride.metadata = meta;
    auto* route = new GHGpxRoute;
    route->name = "Empty";
    route->number = "5";
    ride.route = route;
    auto* plan = new GHTrncrs;
    plan->workouts.append(new GHTrnWorkout);
    ride.workoutPlan = plan;
}

void fillFirstGeneration(GHGpx1& ride)
{
    auto* meta = new GHGpxMetadata;
    meta->name = "Old ride";
    meta->sharetype = "1";
    meta->acttype = "2";
    meta->rtetype = "3";
    meta->trvtime = "60";
    meta->trvdist = "500";
    ride.metadata = meta;
    auto* track = new GHGpxTrack;
    auto* segment = new GHGpxTrackSegment;
    segment->breaktype = "1";
    GHGpxTrackPoint* point = trackPoint("46.5", "7.5");
    point->ele = "900";
    segment->addTrackPoint(point);
    track->addTrackSegment(segment);
    ride.track = track;
    auto* training = new GHGpxExtTraining;
    GHGpxExtLogPoint* sample = logPoint("2010-03-01T10:00:00Z");
    sample->hrm = "130";
    sample->cad = "70";
    sample->spd = "20";
    sample->tmp = "5";
    sample->pwr = "300";
    sample->brm = "2";
    sample->pdm = "5";
    sample->cps = "6";
    training->addLogPoint(sample);
    ride.training = training;
}

std::unique_ptr<GHGpx1> build(Document document)
{
    if (document == Document::FirstGeneration) {
        auto ride = std::make_unique<GHGpx1>();
        fillFirstGeneration(*ride);
        return ride;
    }
    auto ride = std::make_unique<GHGpx2>();
    if (document == Document::RideFull)
        fillRideFull(*ride);
    else if (document == Document::RideProfile)
        fillRideProfile(*ride);
    return ride;
}

using GHTestXml::lint;

} // namespace

Q_DECLARE_METATYPE(Document)

class TestGHGpxWriter : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_scratch;
    int m_files = 0;

    QString nextPath() { return m_scratch.filePath(QStringLiteral("ride%1.gpx").arg(++m_files)); }

    QString fixture(const QByteArray& content)
    {
        return GHTestFiles::fixture(m_scratch.filePath(QStringLiteral("side%1.xml").arg(++m_files)), content);
    }

    // Writes the document; the file's bytes, or empty when writing failed.
    QByteArray written(GHGpx1& document)
    {
        const QString path = nextPath();
        // A version the file must not carry.
        if (!GHGpxWriter(QStringLiteral("1.0.0.0"), &document).writeFile(path))
            return QByteArray();
        return GHTestFiles::readAll(path);
    }

    // QSKIPs when xmllint is missing, so call it last.
    void verifyWellFormed(const QByteArray& content)
    {
        if (!GHTestXml::available())
            QSKIP("xmllint is not installed");
        const QString path = fixture(content);
        QCOMPARE(lint(path), QString());
    }

private slots:
    void initTestCase() { QVERIFY(m_scratch.isValid()); }

    void goldenFiles_data()
    {
        QTest::addColumn<Document>("document");
        QTest::addColumn<QString>("golden");
        QTest::newRow("empty second generation") << Document::Empty << "empty.gpx";
        QTest::newRow("every part, user from fields") << Document::RideFull << "ride-full.gpx";
        QTest::newRow("user from file, plan without log") << Document::RideProfile << "ride-profile.gpx";
        QTest::newRow("first generation") << Document::FirstGeneration << "first-generation.gpx";
    }

    void goldenFiles()
    {
        QFETCH(Document, document);
        QFETCH(QString, golden);
        const QByteArray expected = GHTestFiles::readAll(QFINDTESTDATA("gpx/" + golden));
        QVERIFY(!expected.isEmpty());
        const std::unique_ptr<GHGpx1> ride = build(document);
        const QByteArray content = written(*ride);
        QCOMPARE(content, expected);
        verifyWellFormed(content);
    }

    // A profile file that cannot be copied whole gives the user from the fields, and nothing of the file.
    void unusableProfileFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("cut inside an element") << QByteArray("<user><name>Bea</name><bike>Gravel<name>Cr");
        QTest::newRow("no element") << QByteArray("<?xml version=\"1.0\"?>\n<!-- nothing -->\n");
        QTest::newRow("text after the root") << QByteArray("<user><name>Bea</name></user>trailing");
        QTest::newRow("entity of an external DTD")
            << QByteArray("<!DOCTYPE user SYSTEM \"user.dtd\"><user><name>&nick;</name></user>");
        QTest::newRow("undeclared prefix") << QByteArray("<user><dev:name>Bea</dev:name></user>");
        // Well-formed, but its indented copy would grow with the square of the depth.
        QTest::newRow("nested too deep") << "<user>" + QByteArray("<a>").repeated(40) + QByteArray("</a>").repeated(40)
                                                + "</user>";
    }

    void unusableProfileFile()
    {
        QFETCH(QByteArray, content);
        GHGpx2 fromFields;
        fillRideFull(fromFields);
        const QByteArray expected = written(fromFields);
        QVERIFY(!expected.isEmpty());

        GHGpx2 ride;
        fillRideFull(ride);
        ride.metadata->userProfilePath =
            content.isNull() ? m_scratch.filePath(QStringLiteral("absent.xml")) : fixture(content);
        const QByteArray actual = written(ride);
        QCOMPARE(actual, expected);
        verifyWellFormed(actual);
    }

    // Characters XML cannot hold are dropped from texts and attributes; a text of nothing else counts as unset.
    void invalidCharactersStripped()
    {
        GHGpx2 ride;
        ride.metadata = new GHGpxMetadata;
        ride.metadata->name = QStringLiteral("\x0b\x01");
        ride.metadata->sys = QStringLiteral("GH2\x1b");
        ride.metadata->user.name = QString(QChar(0xD800)) + QStringLiteral("Ana");
        auto* waypoint = new GHGpxWayPoint;
        waypoint->lat = QStringLiteral("47.1\x02");
        waypoint->lon = QStringLiteral("8.2");
        waypoint->name = QStringLiteral("Caf\x01") + QChar(0xFFFF) + QStringLiteral("e");
        waypoint->type = QStringLiteral("\x03");
        waypoint->isCal = QStringLiteral("1");
        ride.waypoints << waypoint;

        const QByteArray content = written(ride);
        QVERIFY(!content.isEmpty());
        QVERIFY(content.contains("<wpt lat=\"47.1\" lon=\"8.2\">\n    <name>Cafe</name>\n  </wpt>"));
        QVERIFY(content.contains("<user>\n        <name>Ana</name>"));
        QVERIFY(content.contains("<sys>GH2</sys>"));
        QVERIFY(!content.contains("<metadata>\n    <name>"));
        verifyWellFormed(content);
    }

    // The points after a segment's first go to the device directly: the bytes must be those Qt's writer makes, which
    // it makes for a writer without a device.
    void trackPointsAsTheWriterWrites()
    {
        GHGpx2 ride;
        ride.track = new GHGpxTrack;
        ride.track->addTrackSegment(new GHGpxTrackSegment);
        const QStringList texts = {QStringLiteral("a<b>&c\"d'e"), QStringLiteral(" tab\there\nline\rcr "),
                                   QStringLiteral("Zürich ") + QString::fromUcs4(U"\U0001F6B2"),
                                   QStringLiteral("\x01") + QChar(0xD800) + QChar(0xFFFE) + QStringLiteral("x"),
                                   QStringLiteral("\x02"), QString()};
        for (int i = 0; i < 3 * texts.size(); ++i) {
            GHGpxTrackPoint* point = trackPoint(texts.at(i % texts.size()), texts.at((i + 1) % texts.size()));
            if (i >= texts.size()) {
                point->ele = texts.at((i + 2) % texts.size());
                point->cmt = texts.at((i + 3) % texts.size());
                point->time = texts.at((i + 4) % texts.size());
                point->type = texts.at((i + 5) % texts.size());
                point->magvar = texts.at(i % texts.size());
            }
            ride.track->addTrackPoint(point);
        }
        const auto write = [&ride](QXmlStreamWriter& writer) {
            writer.setAutoFormatting(true);
            writer.setAutoFormattingIndent(2);
            writer.writeStartDocument();
            writer.writeStartElement(QStringLiteral("gpx"));
            ride.writeTrk(writer);
            writer.writeEndDocument();
        };
        QBuffer buffer;
        QVERIFY(buffer.open(QIODevice::WriteOnly));
        QXmlStreamWriter direct(&buffer);
        direct.setCodec("UTF-8");
        write(direct);
        QString text;
        QXmlStreamWriter throughQt(&text);
        write(throughQt);
        QVERIFY(!direct.hasError() && !throughQt.hasError());
        // The declarations differ: only one of them names an encoding.
        const QString bytes = QString::fromUtf8(buffer.data());
        QCOMPARE(bytes.mid(bytes.indexOf("<gpx>")), text.mid(text.indexOf("<gpx>")));
        QVERIFY(buffer.data().count("<trkpt ") == 3 * texts.size());
        verifyWellFormed(buffer.data());
    }

    void unwritableTarget()
    {
        GHGpx2 ride;
        const QString missingFolder = m_scratch.filePath(QStringLiteral("missing/ride.gpx"));
        QVERIFY(!GHGpxWriter(QStringLiteral("1.0"), &ride).writeFile(missingFolder));
        const QString path = nextPath();
        QVERIFY(!GHGpxWriter(QStringLiteral("1.0"), nullptr).writeFile(path));
        QVERIFY(!QFile::exists(path));
    }

    // A file written for packing, not flushed: the same bytes; an existing file's permissions kept; a link at the
    // hidden name it is written under goes, and what it points to stays.
    void scratchWrite()
    {
        GHGpx2 ride;
        fillRideFull(ride);
        const QString durable = nextPath();
        QVERIFY(GHGpxWriter(QStringLiteral("1.0"), &ride).writeFile(durable));
        const QString folder = m_scratch.filePath(QStringLiteral("scratch"));
        const QString path = folder + QStringLiteral("/ride.gpx");
        const QString outside = m_scratch.filePath(QStringLiteral("outside.txt"));
        QVERIFY(QDir().mkpath(folder));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QFile target(outside);
        QVERIFY(target.open(QIODevice::WriteOnly) && target.write("outside") == 7);
        target.close();
        QVERIFY(QFile::link(outside, folder + QStringLiteral("/.ride.gpx.part")));

        QVERIFY(GHGpxWriter(QStringLiteral("1.0"), &ride).writeFile(path, false));
        QCOMPARE(GHTestFiles::readAll(path), GHTestFiles::readAll(durable));
        const QFile::Permissions unixBits(0x7077);
        QCOMPARE(QFileInfo(path).permissions() & unixBits, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        QCOMPARE(GHTestFiles::readAll(outside), QByteArray("outside"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"ride.gpx"});
    }

    // A full disk fails the write and leaves the earlier file as it was, with no temporary file beside it.
    void fullDisk_data()
    {
        QTest::addColumn<bool>("durable");
        QTest::newRow("flushed") << true;
        QTest::newRow("for packing") << false;
    }

    void fullDisk()
    {
        QFETCH(bool, durable);
        if (!JXRealMount::isPossible())
            QSKIP("mounting a tmpfs needs root");
        const QString mountPoint = m_scratch.filePath(QStringLiteral("small"));
        QVERIFY(QDir().mkpath(mountPoint));
        JXRealMount mount;
        QVERIFY(mount.mountTmpfs(mountPoint, QStringLiteral("64k")));

        const QString path = mountPoint + QStringLiteral("/ride.gpx");
        GHGpx2 small;
        fillRideFull(small);
        QVERIFY(GHGpxWriter(QStringLiteral("1.0"), &small).writeFile(path));
        const QByteArray before = GHTestFiles::readAll(path);
        QVERIFY(!before.isEmpty());

        GHGpx2 large;
        large.track = new GHGpxTrack;
        large.track->addTrackSegment(new GHGpxTrackSegment);
        for (int i = 0; i < 5000; ++i) {
            GHGpxTrackPoint* point = trackPoint(QStringLiteral("47.123456"), QStringLiteral("8.123456"));
            point->time = QStringLiteral("2026-05-01T06:00:00Z");
            large.track->addTrackPoint(point);
        }
        QVERIFY(!GHGpxWriter(QStringLiteral("1.0"), &large).writeFile(path, durable));
        QCOMPARE(GHTestFiles::readAll(path), before);
        QCOMPARE(QDir(mountPoint).entryList(QDir::Files | QDir::Hidden), QStringList{"ride.gpx"});
    }
};

QTEST_GUILESS_MAIN(TestGHGpxWriter)
#include "tst_ghgpxwriter.moc"
