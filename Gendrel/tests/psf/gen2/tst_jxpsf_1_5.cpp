#include <QtTest>

#include <memory>

#include "jxpsf15imagefixture.h"
#include "jxpsftrackimage.h"
#include "psf/gen2/jxpsf_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsfrouteframe_1_5.h"
#include "psf/gen2/jxpsfsensorlog_1_5.h"
#include "psf/gen2/jxpsfsensorlogframe_1_5.h"
#include "psf/gen2/jxpsftrackframe_1_5.h"
#include "psf/gen2/jxpsftrackseg_1_5.h"
#include "psf/gen2/jxpsfuserinfolog_1_5.h"
#include "psf/gen2/jxpsfworkout_1_5.h"
#include "psf/gen2/jxpsfworkoutframe_1_5.h"
#include "psf/gen2/jxpsfworkoutlog_1_5.h"
#include "psf/gen2/jxpsfworkoutlogframe_1_5.h"

using Store = JXMemoryPSFStore;

namespace {

const quint32 kNone = 0xFFFFFFFF;
const unsigned int kFrameOffsets = 0x603C;
const unsigned int kFrameOffsetStride = 20;

enum Frame { POI, Route, Workout, WorkoutLog, Track, SensorLog, UserInfo };

// A route record as the device writes it, without names, laps or summary.
QByteArray routeRecord(quint8 type, quint32 track, quint32 userInfo, quint32 next)
{
    char record[36];
    memset(record, 0xFF, sizeof(record));
    memset(record, 0, 8);
    record[4] = char(type);
    qToLittleEndian<quint32>(track, record + 8);
    qToLittleEndian<quint32>(userInfo, record + 20);
    qToLittleEndian<quint32>(next, record + 28);
    return QByteArray(record, sizeof(record));
}

// A segment head followed by pointCount six-byte points.
QByteArray segment(quint32 next, quint32 pointCount)
{
    char head[40];
    memset(head, 0, sizeof(head));
    qToLittleEndian<quint32>(next, head + 28);
    qToLittleEndian<quint32>(pointCount, head + 32);
    qToLittleEndian<quint32>(kNone, head + 36);
    QByteArray bytes(head, sizeof(head));
    for (quint32 index = 0; index < pointCount; ++index)
        bytes += QByteArray::fromHex("08fe1000f0ff");
    return bytes;
}

// A workout log naming one route record, without interval logs.
QByteArray workoutLog(quint32 routeOffset)
{
    QByteArray bytes = QByteArray::fromHex("01000000"
                                           "02000000"
                                           "ffffffff");
    char route[4];
    qToLittleEndian<quint32>(routeOffset, route);
    bytes += QByteArray(route, 4);
    bytes += QByteArray::fromHex("0000"
                                 "ffffffffffff");
    return bytes;
}

// An empty image in a counting store, with helpers to place device-written records.
class Image : public JXPSFImageFixture
{
public:
    Store* counting() { return store(); }

    // Routes from the table start, each chained to the next; the frame head gets their count.
    void putRoutes(const QVector<QByteArray>& records)
    {
        unsigned int offset = 0;
        for (int index = 0; index < records.size(); ++index) {
            const QByteArray& record = records.at(index);
            put(route().tableStart + offset, record);
            offset += unsigned(record.size());
            put32(route().tableStart + offset - unsigned(record.size()) + 28,
                  index + 1 < records.size() ? offset : kNone);
        }
        put16(route().frameStart + 8, quint16(records.size()));
    }
    void putSegment(unsigned int listOffset, const QByteArray& bytes) { put(track().tableStart + listOffset, bytes); }
    unsigned int logList() const { return JXPSFTestImage::workoutLog(layout()).tableStart; }
    void setFrameOffset(Frame frame, quint32 offset) { put32(kFrameOffsets + kFrameOffsetStride * frame, offset); }
};

// A recorded ride with laps, a summary, a user-info snapshot and a segment with its sensor log; a planned route
// with a segment; a workout of two intervals with a log of the ride; one POI. The free room of every table and the
// bytes between the areas hold patterns instead of erased flash, so that an erase in the wrong place shows.
QByteArray storedRecords()
{
    namespace T = JXPSFTrackImage;
    T::Builder builder;
    T::Track ride;
    ride.laps = {T::Lap{}, T::Lap{}};
    ride.hasSummary = true;
    ride.hasUserInfo = true;
    ride.userInfo.zones = {T::Zone{4, 190, {{100, 120}, {121, 140}}}};
    T::Segment segment;
    segment.points = {T::point(1, 10, -10, 1), T::point(2, 20, -20, 1)};
    segment.hasLog = true;
    segment.log.flags = 0x04;
    segment.log.count = 2;
    segment.log.samples = QByteArray::fromHex("6465");
    ride.segments = {segment};
    const int rideIndex = builder.addTrack(ride);
    T::Track planned;
    planned.name = "Plan";
    planned.planned = true;
    T::Segment plannedSegment;
    plannedSegment.points = {T::point(0, 5, 5, 0)};
    planned.segments = {plannedSegment};
    builder.addTrack(planned);
    T::Workout plan;
    plan.intervals = {T::Interval{}, T::Interval{}};
    const int workoutIndex = builder.addWorkout(plan);
    builder.addWorkoutLog(T::WorkoutLog{workoutIndex, rideIndex, {{1, 2}}});
    QByteArray image = builder.image();

    const JXPSFTestImage::Area poi = JXPSFTestImage::poi(JXPSFTestImage::Layout::A);
    image.replace(int(poi.frameStart), 4, T::Record(4).u32(0, 1).bytes());
    image.replace(int(poi.tableStart), 24, T::Record(24).u32(12, T::None).u32(20, T::None).bytes());

    using namespace JXPSFTestImage;
    const Layout a = Layout::A;
    const auto fill = [&image](quint32 from, quint32 to, char pattern) {
        image.replace(int(from), int(to - from), QByteArray(int(to - from), pattern));
    };
    fill(poi.tableStart + 24, poi.tableStart + poi.tableSize, '\xA5');
    // Flash header groups (room left, table start, table end) in area order.
    const QPair<int, Area> groups[] = {{76, workout(a)},    {88, route(a)},       {100, lap(a)},
                                       {112, interval(a)},  {124, workoutLog(a)}, {136, track(a)},
                                       {148, sensorLog(a)}, {160, userInfoLog(a)}};
    for (const auto& group : groups)
        fill(qFromLittleEndian<quint32>(image.constData() + group.first + 8),
             group.second.tableStart + group.second.tableSize, '\xA5');
    for (int index = 1; index < AreaBits; ++index) {
        const quint32 gapEnd = index + 1 < AreaBits ? areaRange(a, index + 1).start : quint32(ImageSize);
        if (areaRange(a, index).end < gapEnd)
            fill(areaRange(a, index).end, gapEnd, '\x5A');
    }
    return image;
}

} // namespace

class TestJXPSF_1_5 : public QObject
{
    Q_OBJECT

private slots:
    void unopenedImageGivesNothing();
    void failedLoadIsAskedAgain();
    void workoutLogFrameNeedsWorkoutFrameFirst();
    void listingWorkoutsReadsNoTrackArea();
    void frameOutsideItsAreaIsNotBuilt_data();
    void frameOutsideItsAreaIsNotBuilt();
    void recordedTracksAppendedTwice();
    void routeQueriesByType();
    void createTrackSegPlacement();
    void createTrackSegOnUnloadedStoredRoute();
    void createTrackSegRefusesWithoutRoom_data();
    void createTrackSegRefusesWithoutRoom();
    void deletions_data();
    void deletions();
    void deletingWorkoutsDetachesLogs();
    void damagedTableOffsetWritesOnlyOwnAreas_data();
    void damagedTableOffsetWritesOnlyOwnAreas();
};

void TestJXPSF_1_5::unopenedImageGivesNothing()
{
    Image image;
    image.counting()->setFailing(true);
    JXPSF_1_5 root(image.counting());

    QVERIFY(!root.getDistHeader());
    QVERIFY(!root.getPOIFrame());
    QVERIFY(!root.getRouteFrame());
    QVERIFY(!root.getTrackFrame());
    QVERIFY(!root.getSensorLogFrame());
    QVERIFY(!root.getWorkoutFrame());
    QVERIFY(!root.getWorkoutLogFrame());
    QVERIFY(!root.getUserInfoFrame());
    QVector<JXPSFRoute_1_5*> routes;
    QVERIFY(!root.getRoutes(1, routes));
    QVERIFY(!root.getAllRoutes(routes));
    QVector<JXPSFWorkout_1_5*> workouts;
    QVERIFY(!root.getWorkouts(workouts));
    QVERIFY(!root.createRoute({"Ride"}, {}, false));
    QVERIFY(!root.createWorkout({"Ride"}, {}, {}, {}, false));
    QVERIFY(!root.deleteAllRoutes());
    QVERIFY(!root.deleteAllRoutes(1));
    QVERIFY(!root.deleteAllWorkouts());
    unsigned char version[4] = {0xAB, 0xAB, 0xAB, 0xAB};
    root.getVersion(version);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(version), 4), QByteArray(4, char(0xAB)));

    // Empty for its whole life: the store is not asked again.
    image.counting()->setFailing(false);
    QVERIFY(!root.getRouteFrame());
    QCOMPARE(image.counting()->calls(Store::OpenPSF), 1);
    QCOMPARE(image.counting()->calls(Store::LoadPSFRouteFrame), 0);
}

void TestJXPSF_1_5::failedLoadIsAskedAgain()
{
    Image image;
    JXPSF_1_5 root(image.counting());
    unsigned char version[4] = {};
    root.getVersion(version);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(version), 4), QByteArray("1510"));

    image.counting()->setFailing(true);
    QVERIFY(!root.getRouteFrame());
    image.counting()->setFailing(false);
    JXPSFRouteFrame_1_5* routes = root.getRouteFrame();
    QVERIFY(routes);
    QCOMPARE(root.getRouteFrame(), routes);
    QCOMPARE(image.counting()->calls(Store::LoadPSFRouteFrame), 2);
}

void TestJXPSF_1_5::workoutLogFrameNeedsWorkoutFrameFirst()
{
    Image image;
    JXPSF_1_5 root(image.counting());
    image.counting()->setFailing(true);
    QVERIFY(!root.getWorkoutLogFrame());
    QCOMPARE(image.counting()->calls(Store::LoadPSFWorkoutFrame), 1);
    QCOMPARE(image.counting()->calls(Store::LoadPSFWorkoutLogFrame), 0);

    image.counting()->setFailing(false);
    QVERIFY(root.getWorkoutLogFrame());
    QVERIFY(root.getWorkoutFrame());
    QVERIFY(root.getRouteFrame());
}

void TestJXPSF_1_5::listingWorkoutsReadsNoTrackArea()
{
    Image image;
    JXPSF_1_5 root(image.counting());
    QVERIFY(root.createWorkout({"Hills"}, {"eng"}, {}, {}, false));
    QVector<JXPSFWorkout_1_5*> workouts;
    QVERIFY(root.getWorkouts(workouts));
    QCOMPARE(workouts.size(), 1);
    QCOMPARE(image.counting()->calls(Store::LoadPSFTrackFrame), 0);
    QCOMPARE(image.counting()->calls(Store::LoadPSFSensorLogFrame), 0);
    QCOMPARE(image.counting()->calls(Store::LoadPSFWorkoutLogFrame), 0);
}

void TestJXPSF_1_5::frameOutsideItsAreaIsNotBuilt_data()
{
    QTest::addColumn<int>("frame");
    QTest::addColumn<qint64>("offset"); // from the data-store base; negative: from the area's end
    const qint64 base = JXPSFTestImage::PSFBase;
    const JXPSFTestImage::Layout a = JXPSFTestImage::Layout::A;
    QTest::newRow("route frame past the image") << int(Route) << qint64(0xFFFFFFF0);
    QTest::newRow("route frame in the POI area") << int(Route) << qint64(JXPSFTestImage::poi(a).frameStart - base);
    QTest::newRow("track head crossing its area end") << int(Track) << qint64(0x14F000 - 10 - base);
    QTest::newRow("workout-log frame in the track area")
        << int(WorkoutLog) << qint64(JXPSFTestImage::track(a).frameStart - base);
    QTest::newRow("user-info frame at the image end") << int(UserInfo) << qint64(0x200000 - 2 - base);
}

void TestJXPSF_1_5::frameOutsideItsAreaIsNotBuilt()
{
    QFETCH(int, frame);
    QFETCH(qint64, offset);
    Image image;
    image.setFrameOffset(Frame(frame), quint32(offset));
    JXPSF_1_5 root(image.counting());

    auto get = [&root, frame]() -> const void* {
        switch (frame) {
        case Route: return root.getRouteFrame();
        case Track: return root.getTrackFrame();
        case WorkoutLog: return root.getWorkoutLogFrame();
        default: return root.getUserInfoFrame();
        }
    };
    const Store::Operation load = frame == Route        ? Store::LoadPSFRouteFrame
                                  : frame == Track      ? Store::LoadPSFTrackFrame
                                  : frame == WorkoutLog ? Store::LoadPSFWorkoutLogFrame
                                                        : Store::LoadPSFUserInfoLogFrame;
    const QByteArray before = image.image();
    QVERIFY(!get());
    QVERIFY(!get());
    QCOMPARE(image.counting()->calls(load), 2); // nothing cached
    QCOMPARE(image.image(), before);
}

void TestJXPSF_1_5::recordedTracksAppendedTwice()
{
    Image image;
    image.putRoutes(
        {routeRecord(1, kNone, kNone, 0), routeRecord(0, kNone, kNone, 0), routeRecord(1, kNone, kNone, 0)});
    JXPSF_1_5 root(image.counting());
    QVector<JXPSFRoute_1_5*> all;
    QVERIFY(root.getAllRoutes(all));
    QCOMPARE(all.size(), 3);

    QVector<JXPSFRoute_1_5*> tracks;
    QVERIFY(root.getRoutes(1, tracks));
    QVERIFY(root.getRoutes(1, tracks));
    QCOMPARE(tracks, (QVector<JXPSFRoute_1_5*>{all[0], all[2], all[0], all[2]}));
    QVector<JXPSFRoute_1_5*> none;
    QVERIFY(root.getRoutes(5, none));
    QVERIFY(none.isEmpty());
}

void TestJXPSF_1_5::routeQueriesByType()
{
    Image image;
    // A planned route, a recorded track without a track or user info, a recorded track with both.
    image.putRoutes({routeRecord(0, 0, 0, 0), routeRecord(1, kNone, kNone, 0), routeRecord(1, 0, 0, 0)});
    image.putSegment(0, segment(kNone, 2));
    QByteArray snapshot(24, '\0');
    snapshot[14] = 0x12;
    snapshot += QByteArray::fromHex("3400be00"
                                    "64007800"
                                    "79008c00"
                                    "8d00a000"
                                    "0800fa00");
    image.put(image.userInfo().tableStart, snapshot);
    JXPSF_1_5 root(image.counting());
    QVector<JXPSFRoute_1_5*> routes;
    QVERIFY(root.getAllRoutes(routes));
    QCOMPARE(routes.size(), 3);

    QVector<JXPSFSensorLog_1_5*> logs{nullptr};
    QVERIFY(!root.getSensorLogOfRoute(routes[0], logs));
    QVERIFY(root.getSensorLogOfRoute(routes[1], logs));
    QCOMPARE(logs.size(), 1); // left as it was

    JXPSFUserInfoLog_1_5* userInfo = reinterpret_cast<JXPSFUserInfoLog_1_5*>(&routes);
    QVERIFY(!root.getUserInfoLogOfRoute(routes[0], &userInfo));
    QVERIFY(root.getUserInfoLogOfRoute(routes[1], &userInfo));
    QVERIFY(!userInfo);
    QVERIFY(root.getUserInfoLogOfRoute(routes[2], &userInfo));
    QVERIFY(userInfo);
    QCOMPARE(routes[2]->getUserInfoLog(), userInfo);

    QVector<JXPSFTrackSeg_1_5*> segments;
    QVERIFY(root.getTrackOfRoute(routes[2], segments));
    QCOMPARE(segments.size(), 1);
    QCOMPARE(segments[0]->getBytesCount(), 52u);
}

void TestJXPSF_1_5::createTrackSegPlacement()
{
    Image image;
    // A stored track whose one segment starts at list offset 1000: 40 bytes of head, 600 of points.
    image.putRoutes({routeRecord(1, 1000, kNone, 0)});
    image.putSegment(1000, segment(kNone, 100));
    JXPSF_1_5 root(image.counting());
    const quint32 end = image.header(JXExtFlashInfo_2M::TrackTableEnd);
    const quint32 room = image.header(JXExtFlashInfo_2M::TrackRoomLeft);

    JXPSFRoute_1_5* route = root.createRoute({"Ride"}, {"eng"}, false);
    QVERIFY(route);
    JXPSFTrackSeg_1_5* first = root.createTrackSeg(route);
    QVERIFY(first);
    QCOMPARE(first->getData(), image.at(image.track().tableStart + 1640));
    QCOMPARE(route->getTrkOffset(), 1640u);
    QCOMPARE(image.header(JXExtFlashInfo_2M::TrackTableEnd), end + 40);
    QCOMPARE(image.header(JXExtFlashInfo_2M::TrackRoomLeft), room - 40);

    JXPSFTrackSeg_1_5* second = root.createTrackSeg(route);
    QVERIFY(second);
    QCOMPARE(second->getData(), first->getData() + 40);
    QCOMPARE(first->getNext(), 1680u);
    QCOMPARE(route->getTrack(), (QVector<JXPSFTrackSeg_1_5*>{first, second}));
    QCOMPARE(image.header(JXExtFlashInfo_2M::TrackTableEnd), end + 80);

    // With no segment anywhere the first one starts the list.
    Image empty;
    JXPSF_1_5 emptyRoot(empty.counting());
    JXPSFRoute_1_5* fresh = emptyRoot.createRoute({"Ride"}, {"eng"}, false);
    JXPSFTrackSeg_1_5* start = emptyRoot.createTrackSeg(fresh);
    QVERIFY(start);
    QCOMPARE(start->getData(), empty.at(empty.track().tableStart));
    QCOMPARE(fresh->getTrkOffset(), 0u);
    QCOMPARE(empty.header(JXExtFlashInfo_2M::TrackTableEnd), empty.track().tableStart + 40);
    QCOMPARE(empty.header(JXExtFlashInfo_2M::TrackRoomLeft), empty.track().tableSize - 40);
}

void TestJXPSF_1_5::createTrackSegOnUnloadedStoredRoute()
{
    Image image;
    image.putRoutes({routeRecord(1, 0, kNone, 0)});
    image.putSegment(0, segment(kNone, 2));
    JXPSF_1_5 root(image.counting());
    QVector<JXPSFRoute_1_5*> routes;
    QVERIFY(root.getAllRoutes(routes));
    QVERIFY(routes[0]->getTrack().isEmpty());

    JXPSFTrackSeg_1_5* added = root.createTrackSeg(routes[0]);
    QVERIFY(added);
    QCOMPARE(routes[0]->getTrkOffset(), 0u); // the stored segment stays first
    QCOMPARE(routes[0]->getTrack().size(), 2);
    QCOMPARE(routes[0]->getTrack()[0]->getNext(), 52u);
    QCOMPARE(added->getData(), image.at(image.track().tableStart + 52));

    // Appending to a route whose segments are followed by a later route's would overwrite those.
    Image two;
    two.putRoutes({routeRecord(1, 0, kNone, 0), routeRecord(1, 52, kNone, 0)});
    two.putSegment(0, segment(kNone, 2));
    two.putSegment(52, segment(kNone, 2));
    const QByteArray before = two.image();
    JXPSF_1_5 twoRoot(two.counting());
    QVERIFY(twoRoot.getAllRoutes(routes));
    QVERIFY(!twoRoot.createTrackSeg(routes[0]));
    QCOMPARE(two.image(), before);
}

void TestJXPSF_1_5::createTrackSegRefusesWithoutRoom_data()
{
    QTest::addColumn<bool>("roomLeft"); // true: the header's room runs out; false: the list's end is reached
    QTest::newRow("room left in the flash header") << true;
    QTest::newRow("end of the segment list") << false;
}

void TestJXPSF_1_5::createTrackSegRefusesWithoutRoom()
{
    QFETCH(bool, roomLeft);
    Image image;
    if (roomLeft) {
        image.setHeader(JXExtFlashInfo_2M::TrackRoomLeft, 80);
    } else {
        // One stored segment ending 100 bytes before the list end: two more fit.
        const unsigned int at = image.track().tableSize - 140;
        image.putRoutes({routeRecord(1, at, kNone, 0)});
        image.putSegment(at, segment(kNone, 0));
    }
    JXPSF_1_5 root(image.counting());
    JXPSFRoute_1_5* route = root.createRoute({"Ride"}, {"eng"}, false);
    QVERIFY(route);
    QVERIFY(root.createTrackSeg(route));
    QVERIFY(root.createTrackSeg(route));
    const QByteArray before = image.image();
    QVERIFY(!root.createTrackSeg(route));
    QCOMPARE(image.image(), before);
    QCOMPARE(route->getTrack().size(), 2);
}

void TestJXPSF_1_5::deletions_data()
{
    QTest::addColumn<int>("form"); // -1: everything; otherwise the route type deleted
    QTest::addColumn<bool>("plannedKept");
    QTest::addColumn<bool>("trackKept");
    QTest::addColumn<bool>("logsKept");
    QTest::newRow("everything") << -1 << false << false << false;
    QTest::newRow("planned routes") << 0 << false << true << true;
    QTest::newRow("recorded tracks") << 1 << true << false << false;
}

void TestJXPSF_1_5::deletions()
{
    QFETCH(int, form);
    QFETCH(bool, plannedKept);
    QFETCH(bool, trackKept);
    QFETCH(bool, logsKept);

    Image image;
    // A planned route before a recorded track at route-table offset 36; a workout's log names the track.
    image.putRoutes({routeRecord(0, kNone, kNone, 0), routeRecord(1, 0, 0, 0)});
    image.putSegment(0, segment(kNone, 2));
    image.put(image.userInfo().tableStart, QByteArray(44, '\x01'));
    image.put(image.sensorLog().tableStart, QByteArray(16, '\x02'));
    image.put(image.logList(), workoutLog(36));
    {
        JXPSF_1_5 setup(image.counting());
        JXPSFWorkout_1_5* workout = setup.createWorkout({"Hills"}, {"eng"}, {}, {}, false);
        QVERIFY(workout);
        workout->setWrkLogOffset(0);
    }
    const QByteArray logTables = image.bytes(image.sensorLog().tableStart, 16) +
                                 image.bytes(image.userInfo().tableStart, 44) + image.bytes(image.logList(), 24);

    JXPSF_1_5 root(image.counting());
    QVector<JXPSFRoute_1_5*> routes;
    QVERIFY(root.getAllRoutes(routes));
    JXPSFWorkoutLog_1_5* log = nullptr;
    QVERIFY(root.getWorkoutLogOfRoute(routes[1], &log));
    QVERIFY(log);

    QVERIFY(form < 0 ? root.deleteAllRoutes() : root.deleteAllRoutes(quint8(form)));

    QVERIFY(root.getAllRoutes(routes));
    QCOMPARE(routes.size(), int(plannedKept) + int(trackKept));
    QCOMPARE(image.header(JXExtFlashInfo_2M::RouteTableEnd) - image.header(JXExtFlashInfo_2M::RouteTableStart),
             36u * unsigned(routes.size()));
    const QByteArray logTablesNow = image.bytes(image.sensorLog().tableStart, 16) +
                                    image.bytes(image.userInfo().tableStart, 44) + image.bytes(image.logList(), 24);
    QVector<JXPSFWorkout_1_5*> workouts;
    QVERIFY(root.getWorkouts(workouts));
    if (logsKept) {
        // The track moved to offset 0: its log names it there, in the image and on the new route object.
        QCOMPARE(logTablesNow.left(60), logTables.left(60));
        QCOMPARE(image.get32(image.logList() + 12), 0u);
        QCOMPARE(workouts[0]->getWrkLogOffset(), 0u);
        QCOMPARE(routes[0]->getWorkoutLog(), log);

        JXPSF_1_5 reopened(image.counting());
        QVector<JXPSFRoute_1_5*> stored;
        QVERIFY(reopened.getRoutes(1, stored));
        QCOMPARE(stored.size(), 1);
        JXPSFWorkoutLog_1_5* found = nullptr;
        QVERIFY(reopened.getWorkoutLogOfRoute(stored[0], &found));
        QVERIFY(found);
        QCOMPARE(found->getStartTime(), 1u);
    } else {
        QCOMPARE(logTablesNow, QByteArray(logTablesNow.size(), char(0xFF)));
        // Also for everything: workouts must not name a log in an erased table.
        QCOMPARE(workouts[0]->getWrkLogOffset(), kNone);
        QCOMPARE(image.header(JXExtFlashInfo_2M::WorkoutLogTableEnd),
                 image.header(JXExtFlashInfo_2M::WorkoutLogTableStart));
        QCOMPARE(image.header(JXExtFlashInfo_2M::WorkoutLogRoomLeft), 0x7FF0u);
        QCOMPARE(image.header(JXExtFlashInfo_2M::SensorLogTableEnd),
                 image.header(JXExtFlashInfo_2M::SensorLogTableStart));
        QCOMPARE(image.header(JXExtFlashInfo_2M::UserInfoLogTableEnd),
                 image.header(JXExtFlashInfo_2M::UserInfoLogTableStart));
        for (JXPSFRoute_1_5* route : qAsConst(routes))
            QVERIFY(!route->getWorkoutLog());
    }
    if (!trackKept) {
        QCOMPARE(image.header(JXExtFlashInfo_2M::TrackTableEnd), image.header(JXExtFlashInfo_2M::TrackTableStart));
        QCOMPARE(image.bytes(image.track().tableStart, 52), QByteArray(52, char(0xFF)));
    }
}

void TestJXPSF_1_5::deletingWorkoutsDetachesLogs()
{
    Image image;
    image.putRoutes({routeRecord(1, kNone, kNone, 0)});
    image.put(image.logList(), workoutLog(0));
    JXPSF_1_5 root(image.counting());
    JXPSFWorkout_1_5* workout = root.createWorkout({"Hills"}, {"eng"}, {}, {}, false);
    QVERIFY(workout);
    workout->setWrkLogOffset(0);
    QVector<JXPSFRoute_1_5*> routes;
    QVERIFY(root.getAllRoutes(routes));
    JXPSFWorkoutLog_1_5* log = nullptr;
    QVERIFY(root.getWorkoutLogOfRoute(routes[0], &log));
    QVERIFY(log);

    QVERIFY(root.deleteAllWorkouts());
    QVector<JXPSFWorkout_1_5*> workouts;
    QVERIFY(root.getWorkouts(workouts));
    QVERIFY(workouts.isEmpty());
    QVERIFY(root.getWorkoutLogOfRoute(routes[0], &log));
    QVERIFY(!log);
}

void TestJXPSF_1_5::damagedTableOffsetWritesOnlyOwnAreas_data()
{
    QTest::addColumn<quint32>("word");  // image offset of the damaged head word
    QTest::addColumn<quint32>("value"); // from its frame start
    QTest::addColumn<int>("operation");

    using namespace JXPSFTestImage;
    const Layout a = Layout::A;
    struct Damage
    {
        const char* name;
        quint32 word;
        quint32 value;
    };
    const Damage damages[] = {
        {"POI table in the workout area", poi(a).frameStart + 4, workout(a).tableStart - poi(a).frameStart},
        {"route table in the lap area", route(a).frameStart, lap(a).tableStart - route(a).frameStart},
        {"lap table in the interval area", route(a).frameStart + 4, interval(a).tableStart - route(a).frameStart},
        {"workout table in the route area", workout(a).frameStart, route(a).tableStart - workout(a).frameStart},
        {"interval table in the workout-log area", workout(a).frameStart + 4,
         workoutLog(a).tableStart - workout(a).frameStart},
        {"workout-log list in the track area", workoutLog(a).frameStart,
         track(a).tableStart - workoutLog(a).frameStart},
        {"segment list 0x10000 too far", track(a).frameStart, track(a).tableStart - track(a).frameStart + 0x10000},
        {"segment list in the sensor-log area", track(a).frameStart, sensorLog(a).tableStart - track(a).frameStart},
        {"sensor-log table in the user-info area", sensorLog(a).frameStart,
         userInfoLog(a).tableStart - sensorLog(a).frameStart},
        {"user-info table past its area", userInfoLog(a).frameStart, 0x1F9000 - userInfoLog(a).frameStart},
    };
    const char* operations[] = {"createPOI",          "deleteAllPOIs",     "createRoute",
                                "createTrackSeg",     "createWorkout",     "createWorkoutInterval",
                                "deleteAllWorkouts",  "deleteAllRoutes()", "deleteAllRoutes(0)",
                                "deleteAllRoutes(1)", "rearrangeLapTable", "rearrangeSensorLogTable"};
    for (const Damage& damage : damages) {
        for (int operation = 0; operation < int(sizeof(operations) / sizeof(*operations)); ++operation)
            QTest::addRow("%s, %s", damage.name, operations[operation]) << damage.word << damage.value << operation;
    }
}

void TestJXPSF_1_5::damagedTableOffsetWritesOnlyOwnAreas()
{
    QFETCH(quint32, word);
    QFETCH(quint32, value);
    QFETCH(int, operation);
    static const QByteArray stored = storedRecords();
    Image image;
    image.store()->setImage(stored);
    image.put32(word, value);
    const QByteArray before = image.image();

    using namespace JXPSFTestImage;
    JXPSF_1_5 root(image.counting());
    QVector<JXPSFRoute_1_5*> routes;
    QVERIFY(root.getAllRoutes(routes));
    int written = 0; // the areas the operation may write
    switch (operation) {
    case 0:
        root.createPOI();
        written = POIArea;
        break;
    case 1:
        root.deleteAllPOIs();
        written = POIArea;
        break;
    case 2:
        root.createRoute({"Trip"}, {"eng"}, false);
        written = RouteArea;
        break;
    case 3:
        if (JXPSFRoute_1_5* route = root.createRoute({"Trip"}, {"eng"}, false))
            root.createTrackSeg(route);
        written = RouteArea | TrackArea;
        break;
    case 4:
        root.createWorkout({"Hills"}, {"eng"}, {}, {}, false);
        written = WorkoutArea;
        break;
    case 5: {
        QVector<JXPSFWorkout_1_5*> workouts;
        if (root.getWorkouts(workouts) && !workouts.isEmpty())
            root.createWorkoutInterval(workouts.first());
        written = WorkoutArea | IntervalArea;
        break;
    }
    case 6:
        root.deleteAllWorkouts();
        written = WorkoutArea | IntervalArea;
        break;
    case 7:
        root.deleteAllRoutes();
        written = RouteArea | LapArea | TrackArea | SensorLogArea | UserInfoArea | WorkoutLogArea | WorkoutArea;
        break;
    case 8:
        // The kept routes' logs are told their new places; with no route kept the laps go too.
        root.deleteAllRoutes(0);
        written = RouteArea | LapArea | TrackArea | WorkoutLogArea;
        break;
    case 9:
        root.deleteAllRoutes(1);
        written = RouteArea | LapArea | TrackArea | SensorLogArea | UserInfoArea | WorkoutLogArea | WorkoutArea;
        break;
    case 10:
        root.getRouteFrame()->rearrangeLapTable();
        written = RouteArea | LapArea;
        break;
    default:
        for (JXPSFRoute_1_5* route : qAsConst(routes)) {
            QVector<JXPSFSensorLog_1_5*> logs;
            root.getSensorLogOfRoute(route, logs);
        }
        QVERIFY(root.getSensorLogFrame());
        root.getSensorLogFrame()->rearrangeSensorLogTable(routes);
        written = TrackArea | SensorLogArea;
        break;
    }
    const qint64 changed = firstChangeOutside(before.constData(), image.store()->bytes(), Layout::A,
                                              written | FlashHeaderArea);
    QVERIFY2(changed < 0, qPrintable(QString("byte at image offset 0x%1 changed").arg(changed, 0, 16)));
}

QTEST_GUILESS_MAIN(TestJXPSF_1_5)
#include "tst_jxpsf_1_5.moc"
