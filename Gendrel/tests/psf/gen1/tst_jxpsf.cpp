#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "jxpsfimagefixture.h"
#include "psf/gen1/jxpsf.h"
#include "psf/gen1/jxpsfdistheader.h"
#include "psf/gen1/jxpsfpoiframe.h"
#include "psf/gen1/jxpsfrouteframe.h"
#include "psf/gen1/jxpsfsensorlogframe.h"
#include "psf/gen1/jxpsftrackframe.h"
#include "psf/gen1/jxpsfworkoutframe.h"

using namespace PSF1;

namespace {

const char* const kVersion = "1.4.x.x";

// Flash header block fields.
const int kPOIFree = 0x42, kPOIEnd = 0x48, kWorkoutFree = 0x4C, kWorkoutStart = 0x50, kWorkoutEnd = 0x54,
          kRouteFree = 0x58, kRouteEnd = 0x60, kIntervalFree = 0x70, kIntervalEnd = 0x78, kTrackFree = 0x88,
          kTrackEnd = 0x90;

std::unique_ptr<JXPSF> read(QByteArray& image, void* flashHeader = nullptr, flash_header_def def = definition())
{
    return std::unique_ptr<JXPSF>(
        JXPSFReader::getPSF(&image, flashHeader, def, QString::fromLatin1(kVersion), JXPSFReader::AllLists));
}

struct Counts
{
    int pois = 0;
    int routes = 0;
    int segments = 0;
    int samples = 0;
    int workouts = 0;
    int intervals = 0;
    int workoutLogs = 0;
};

// Walks every record the root holds.
Counts count(JXPSF* root)
{
    Counts counts;
    counts.pois = root->getPOIFrame()->POICount();
    for (const QPointer<JXPSFRoute>& route : *root->getRouteFrame()->getRoutes()) {
        ++counts.routes;
        for (const QPointer<JXPSFTrack>& segment : route->getTracks()) {
            ++counts.segments;
            for (const QPointer<JXPSFSensorLog>& log : segment->getSensorLogs())
                counts.samples += log->getPoints().size();
        }
    }
    for (const QPointer<JXPSFWorkout>& workout : *root->getWorkoutFrame()->getWorkouts()) {
        ++counts.workouts;
        counts.intervals += workout->getIntervals()->size();
        for (const QPointer<JXPSFWorkoutLog>& log : *workout->getWorkoutLogs())
            counts.workoutLogs += log->getIntervalLogs().size() > 0 ? 1 : 0;
    }
    return counts;
}

quint32 field32(const QByteArray& block, int offset)
{
    return qFromLittleEndian<quint32>(block.constData() + offset);
}

quint16 field16(const QByteArray& block, int offset)
{
    return qFromLittleEndian<quint16>(block.constData() + offset);
}

JXPSFTrack* newSegment(int points, bool recorded)
{
    JXPSFTrack* segment = new JXPSFTrack(nullptr);
    const QByteArray bytes = hex("0100 FFFF 01 02");
    for (int i = 0; i < points; ++i) {
        if (recorded)
            segment->getTrackPoints()->append(new JXPSFTrackPoint(JXPSFView(&bytes)));
        else
            segment->getRoutePoints()->append(new JXPSFRoutePoint(JXPSFView(&bytes)));
    }
    return segment;
}

JXPSFRoute* newRoute(const QVector<int>& segmentPoints, bool recorded = true)
{
    JXPSFRoute* route = new JXPSFRoute(nullptr);
    route->setTrackFlag(recorded);
    route->setName("New");
    for (int points : segmentPoints)
        route->getTrackList()->append(newSegment(points, recorded));
    return route;
}

// The image stretches the write-back may change, from the 1 MB model's layout table less its image address: the
// POI, workout and route groups (frame heads and tables), the interval area and the track table.
bool sameOutsideAreas(const QByteArray& before, const QByteArray& after)
{
    static const qint64 areas[][2] = {
        {0x154, 0xD00}, {0xD00, 0x1F78}, {0x1F78, 0xA1CC}, {0x1B000, 0x1D000}, {0x24024, 0xA2000}};
    if (before.size() != after.size())
        return false;
    qint64 from = 0;
    for (const auto& area : areas) {
        const qint64 to = qMin<qint64>(area[0], before.size());
        if (from < to && before.mid(int(from), int(to - from)) != after.mid(int(from), int(to - from)))
            return false;
        from = qMax(from, area[1]);
    }
    return from >= before.size() || before.mid(int(from)) == after.mid(int(from));
}

} // namespace

using Mutation = std::function<void(Image&)>;
Q_DECLARE_METATYPE(Mutation)

class TestJXPSF : public QObject
{
    Q_OBJECT

private slots:
    void versions_data();
    void versions();
    void readsEveryFrame();
    void framesOutOfImageOrder();
    void poiCap();
    void deletes();
    void routeBudget_data();
    void routeBudget();
    void workoutBudget();
    void emptyFinalize();
    void roundTrip();
    void intervalLinks();
    void concurrentFinalize();
    void badImages_data();
    void badImages();
    void misplacedOffsets_data();
    void misplacedOffsets();
    void countsPastTheirTables();
    void recordsThatDoNotFit_data();
    void recordsThatDoNotFit();
    void selfLinksKeepTheOthers_data();
    void selfLinksKeepTheOthers();
};

void TestJXPSF::versions_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("read");

    QTest::newRow("1.4.x.x") << "1.4.x.x" << true;
    QTest::newRow("trailing blank") << "1.4.x.x " << false;
    QTest::newRow("1.4.0.0") << "1.4.0.0" << false;
    QTest::newRow("empty") << "" << false;
}

void TestJXPSF::versions()
{
    QFETCH(QString, version);
    QFETCH(bool, read);
    QByteArray image = recordedImage().bytes;
    std::unique_ptr<JXPSF> root(JXPSFReader::getPSF(&image, nullptr, definition(), version, JXPSFReader::ListType(3)));
    QCOMPARE(root != nullptr, read);
}

void TestJXPSF::readsEveryFrame()
{
    QByteArray image = recordedImage().bytes;
    std::unique_ptr<JXPSF> root = read(image);
    QVERIFY(root);
    const Counts counts = count(root.get());
    QCOMPARE(counts.pois, 3);
    QCOMPARE(counts.routes, 3);
    QCOMPARE(counts.segments, 3);
    QCOMPARE(counts.samples, 1);
    QCOMPARE(counts.workouts, 2);
    QCOMPARE(counts.intervals, 2);
    QCOMPARE(counts.workoutLogs, 1);
    QCOMPARE(root->getRouteFrame()->getLaps()->size(), 2048);
    QCOMPARE(root->getDistHeader()->getBaseDate(), 0x20200102u);

    JXPSFRoute* morning = root->getRouteFrame()->getRoutes()->at(0);
    QCOMPARE(morning->getSummary(root->getRouteFrame())->getDistance(), 3000u);
    QCOMPARE(JXPSFRoute::getEndTime(morning), 2000u + 2 * 4);
    QCOMPARE(morning->getTracks().at(1)->getSensorLogs().at(0)->getPoints().at(0)->getPower(), ushort(500));
    const JXPSFRoute* plan = root->getRouteFrame()->getRoutes()->at(1);
    QCOMPARE(plan->getTracks().at(0)->getRoutePoints()->size(), 2);
    QCOMPARE(root->getWorkoutFrame()->getWorkouts()->at(0)->getWorkoutLogs()->at(0)->getRouteOffset(), 0u);
    QCOMPARE(root->getFlashHeaderDef().words[42], 0x6000u);
    QCOMPARE(root->getFlashHeaderDef().words[27], 0u);
}

void TestJXPSF::framesOutOfImageOrder()
{
    // The sensor-log frame moved before the POI frame, its list right after its head, where the layout puts it.
    Image image = recordedImage();
    image.setFrame(SensorLog, 0xC0);
    image.put(0xC0, le32(4) + sensorLog(kNone, 0x01, 2, "21 22"));
    flash_header_def def = definition();
    def.words[flash_header_def::SensorLogAreaStart] = kFlashBase + 0xC0;
    def.words[flash_header_def::SensorLogTableStart] = kFlashBase + 0xC4;
    def.words[flash_header_def::SensorLogAreaEnd] = kFlashBase + 0x154;
    def.words[flash_header_def::SensorLogTableSize] = 0x90;
    std::unique_ptr<JXPSF> root = read(image.bytes, nullptr, def);
    const JXPSFTrack* second = root->getRouteFrame()->getRoutes()->at(0)->getTracks().at(1);
    QCOMPARE(second->getSensorLogs().at(0)->getPoints().size(), 2);
    QCOMPARE(second->getSensorLogs().at(0)->getPoints().at(1)->getSpeed(), uchar(0x22));
    QCOMPARE(root->getPOIFrame()->POICount(), 3);
}

void TestJXPSF::poiCap()
{
    Image image = recordedImage();
    image.put32(kPOIFrame, 11);
    for (int i = 0; i < 11; ++i)
        image.put(kPOIs + 148 * i, poi(i, i, 0, "P" + QByteArray::number(i)));
    std::unique_ptr<JXPSF> root = read(image.bytes);
    QCOMPARE(root->getPOIFrame()->POICount(), 11);
    QVERIFY(root->removeOverSizePois());
    QCOMPARE(root->getPOIFrame()->POICount(), 10);
    QCOMPARE(root->getPOIFrame()->getHeader()->getCount(), 10u);
    QCOMPARE(root->getPOIFrame()->getPOIs()->at(9)->getLng(), 9);
    QVERIFY(!root->removeOverSizePois());
}

void TestJXPSF::deletes()
{
    QByteArray image = recordedImage().bytes;
    std::unique_ptr<JXPSF> root = read(image);

    QPointer<JXPSFPOI> lake = root->getPOIFrame()->getPOIs()->at(1);
    QVERIFY(root->deletePOIs({1, 7, -1}));
    // Gone at once, with no event loop running.
    QVERIFY(lake.isNull());
    QCOMPARE(root->getPOIFrame()->POICount(), 2);
    QCOMPARE(root->getPOIFrame()->getHeader()->getCount(), 2u);

    QVERIFY(root->deleteRoutes({2, 2}));
    QCOMPARE(root->getRouteFrame()->getRoutes()->size(), 2);
    QCOMPARE(root->getRouteFrame()->getHeader()->getRouteCount(), ushort(2));
    QVERIFY(root->deleteTracks({2}));
    QCOMPARE(root->getRouteFrame()->getRoutes()->size(), 2);
    QVERIFY(root->deleteTracks({0}));
    QCOMPARE(root->getRouteFrame()->getRoutes()->at(0)->getName(), padded("Plan", 128, 0));
    QCOMPARE(root->getRouteFrame()->getHeader()->getRouteCount(), ushort(1));

    QVERIFY(root->deleteWorkouts({0, 1}));
    QVERIFY(root->getWorkoutFrame()->getWorkouts()->isEmpty());
    QCOMPARE(root->getWorkoutFrame()->getWorkoutCount(), uchar(0));
}

void TestJXPSF::routeBudget_data()
{
    QTest::addColumn<unsigned int>("trackSize");
    QTest::addColumn<unsigned int>("routeSize");
    QTest::addColumn<QVector<int>>("points");
    QTest::addColumn<int>("kept");

    QTest::newRow("1000 points") << 6000u << 0x81CCu << QVector<int>{600, 300, 200} << 2;
    QTest::newRow("the heads tip it over") << 6000u << 0x81CCu << QVector<int>{600, 390} << 1;
    QTest::newRow("exactly full") << unsigned(2 * 40 + 6 * 900) << 0x81CCu << QVector<int>{600, 300} << 2;
    QTest::newRow("route table") << 0x7DFDCu << unsigned(2 * 156 + 155) << QVector<int>{1, 1, 1} << 2;
    QTest::newRow("nothing to drop") << 0x7DFDCu << 0x81CCu << QVector<int>{600, 300, 200} << 3;
}

void TestJXPSF::routeBudget()
{
    QFETCH(unsigned int, trackSize);
    QFETCH(unsigned int, routeSize);
    QFETCH(QVector<int>, points);
    QFETCH(int, kept);

    flash_header_def def = definition();
    def.words[28] = trackSize;
    def.words[13] = routeSize;
    QByteArray image = emptyImage().bytes;
    QByteArray block(256, char(0x11));
    std::unique_ptr<JXPSF> root = read(image, block.data(), def);
    for (int n : points)
        root->getRouteFrame()->getRoutes()->append(newRoute({n}));
    root->getRouteFrame()->getHeader()->setRouteCount(quint16(points.size()));

    QCOMPARE(root->removeOverSizeRoutes(), kept < points.size());
    QCOMPARE(root->getRouteFrame()->getRoutes()->size(), kept);
    QCOMPARE(int(root->getRouteFrame()->getHeader()->getRouteCount()), kept);

    // What is kept is written inside the track area.
    QVERIFY(root->finalize(image));
    QVERIFY(field32(block, kTrackFree) <= trackSize);
    QVERIFY(field32(block, kTrackEnd) <= def.words[25] + trackSize);
}

void TestJXPSF::workoutBudget()
{
    flash_header_def def = definition();
    def.words[19] = 3 * 20;
    QByteArray image = recordedImage().bytes;
    std::unique_ptr<JXPSF> root = read(image, nullptr, def);
    QVector<QPointer<JXPSFWorkout>>* workouts = root->getWorkoutFrame()->getWorkouts();
    for (int intervals : {1, 1}) {
        JXPSFWorkout* workout = new JXPSFWorkout(nullptr);
        for (int i = 0; i < intervals; ++i)
            workout->getIntervals()->append(new JXPSFInterval(nullptr));
        workouts->append(workout);
    }
    // 2 + 0 + 1 intervals fit in three records, the fourth workout's does not.
    QVERIFY(root->removeOverWorkouts());
    QCOMPARE(workouts->size(), 3);
    QCOMPARE(root->getWorkoutFrame()->getWorkoutCount(), uchar(3));

    // A layout whose workout table holds one record, given after loading: the reader itself reads no more.
    std::unique_ptr<JXPSF> tight = read(image, nullptr, def);
    def.words[9] = 152;
    tight->setFlashHeaderDef(def);
    QVERIFY(tight->removeOverWorkouts());
    QCOMPARE(tight->getWorkoutFrame()->getWorkouts()->size(), 1);
    QVERIFY(!tight->removeOverWorkouts());
}

void TestJXPSF::emptyFinalize()
{
    QByteArray image = emptyImage().bytes;
    const QByteArray before = image;
    QByteArray block(256, char(0x11));
    std::unique_ptr<JXPSF> root = read(image, block.data());
    QVERIFY(root->finalize(image));

    QByteArray expected(256, char(0x11));
    root->initFlashHeader(expected.data());
    QCOMPARE(block, expected);
    QCOMPARE(field32(block, kPOIEnd), 0x6170u);
    QCOMPARE(field16(block, kPOIFree), quint16(0xB90));
    QCOMPARE(field32(block, kWorkoutStart), 0x6D10u);
    QCOMPARE(field32(block, kWorkoutEnd), 0x6D10u);
    QCOMPARE(field32(block, kWorkoutFree), 0x1268u);
    QCOMPARE(field32(block, kIntervalEnd), 0x21000u);
    QCOMPARE(field32(block, kIntervalFree), 0x2000u);
    QCOMPARE(field32(block, kRouteEnd), 0x8000u);
    QCOMPARE(field32(block, kRouteFree), 0x81CCu);
    QCOMPARE(field32(block, kTrackEnd), 0x2A024u);
    QCOMPARE(field32(block, kTrackFree), 0x7DFDCu);
    QCOMPARE(field16(block, 0x40), quint16(0x1111));
    QCOMPARE(field32(block, 0x94), 0x11111111u);

    // Only the frames' heads are written, as they were; the workout count is written as 16 bits.
    QByteArray expectedImage = before;
    expectedImage[int(kWorkoutFrame + 9)] = 0;
    QCOMPARE(image, expectedImage);
}

void TestJXPSF::roundTrip()
{
    QByteArray image = recordedImage().bytes;
    QByteArray block(256, char(0xEE));
    std::unique_ptr<JXPSF> first = read(image, block.data());

    // A planned route and a workout made in memory are written too.
    first->getRouteFrame()->getRoutes()->append(newRoute({3, 2}, false));
    first->getRouteFrame()->getHeader()->setRouteCount(4);
    JXPSFWorkout* made = new JXPSFWorkout(nullptr);
    made->setName("Made");
    made->setWorkoutId(77);
    made->setNameType(true);
    made->setLowValue(9);
    for (int i = 0; i < 2; ++i) {
        JXPSFInterval* interval = new JXPSFInterval(nullptr);
        interval->setIntervalType(uchar(i + 2));
        interval->setDurationValue(ushort(60 * (i + 1)));
        interval->setTargetHigh(99);
        made->getIntervals()->append(interval);
    }
    first->getWorkoutFrame()->getWorkouts()->append(made);

    QByteArray written = image;
    QVERIFY(first->finalize(written));
    QCOMPARE(written.size(), image.size());
    std::unique_ptr<JXPSF> second = read(written);

    const QVector<QPointer<JXPSFPOI>>& poisA = *first->getPOIFrame()->getPOIs();
    const QVector<QPointer<JXPSFPOI>>& poisB = *second->getPOIFrame()->getPOIs();
    QCOMPARE(poisB.size(), poisA.size());
    for (int i = 0; i < poisA.size(); ++i) {
        QCOMPARE(poisB[i]->getLng(), poisA[i]->getLng());
        QCOMPARE(poisB[i]->getLat(), poisA[i]->getLat());
        QCOMPARE(poisB[i]->getAlt(), poisA[i]->getAlt());
        QCOMPARE(poisB[i]->getNameType(), poisA[i]->getNameType());
        QCOMPARE(poisB[i]->getIsCalibration(), poisA[i]->getIsCalibration());
        QCOMPARE(poisB[i]->getUploaded(), poisA[i]->getUploaded());
        QCOMPARE(poisB[i]->getName(), poisA[i]->getName());
    }
    QVERIFY(poisB[0]->getIsCalibration());

    const QVector<QPointer<JXPSFRoute>>& routesA = *first->getRouteFrame()->getRoutes();
    const QVector<QPointer<JXPSFRoute>>& routesB = *second->getRouteFrame()->getRoutes();
    QCOMPARE(routesB.size(), 4);
    for (int i = 0; i < routesA.size(); ++i) {
        const JXPSFRoute* a = routesA[i];
        const JXPSFRoute* b = routesB[i];
        QCOMPARE(b->getStartTime(), a->getStartTime());
        QCOMPARE(b->getName(), padded(a->getName(), 128, 0));
        QCOMPARE(b->getTrackFlag(), a->getTrackFlag());
        QCOMPARE(b->getNameType(), a->getNameType());
        QCOMPARE(b->getTwoBitValue(), a->getTwoBitValue());
        QCOMPARE(b->getUploaded(), a->getUploaded());
        QCOMPARE(b->getActType(), a->getActType());
        QCOMPARE(b->getActSubType(), a->getActSubType());
        QCOMPARE(b->getMetaValue(), a->getMetaValue());
        QCOMPARE(b->getSummaryOffset(), a->getSummaryOffset());
        QCOMPARE(b->getLapCount(), a->getLapCount());
        QCOMPARE(b->getTrackOffset(), a->getTrackOffset());
        QCOMPARE(b->getTracks().size(), a->getTracks().size());
        for (int s = 0; s < a->getTracks().size(); ++s) {
            JXPSFTrack* sa = a->getTracks()[s];
            JXPSFTrack* sb = b->getTracks()[s];
            QCOMPARE(sb->getStartTime(), sa->getStartTime());
            QCOMPARE(sb->getStartLat(), sa->getStartLat());
            QCOMPARE(sb->getEndLng(), sa->getEndLng());
            QCOMPARE(sb->getEndAlt(), sa->getEndAlt());
            QCOMPARE(sb->getBreakFlag(), sa->getBreakFlag());
            QCOMPARE(sb->getEndFlagB(), sa->getEndFlagB());
            QCOMPARE(sb->getTimeUnit(), sa->getTimeUnit());
            QCOMPARE(sb->getSensorLogOffset(), sa->getSensorLogOffset());
            QCOMPARE(sb->getPointCount(), sa->getPointCount());
            QCOMPARE(sb->getTrackPoints()->size(), sa->getTrackPoints()->size());
            QCOMPARE(sb->getRoutePoints()->size(), sa->getRoutePoints()->size());
            for (int p = 0; p < sa->getTrackPoints()->size(); ++p) {
                QCOMPARE(sb->getTrackPoints()->at(p)->getLatDelta(), sa->getTrackPoints()->at(p)->getLatDelta());
                QCOMPARE(sb->getTrackPoints()->at(p)->getTimeDelta(), sa->getTrackPoints()->at(p)->getTimeDelta());
            }
            for (int p = 0; p < sa->getRoutePoints()->size(); ++p) {
                QCOMPARE(sb->getRoutePoints()->at(p)->getLngDelta(), sa->getRoutePoints()->at(p)->getLngDelta());
                QCOMPARE(sb->getRoutePoints()->at(p)->getFlag3(), sa->getRoutePoints()->at(p)->getFlag3());
            }
            QCOMPARE(sb->getSensorLogs().size(), sa->getSensorLogs().size());
        }
    }
    QCOMPARE(routesB[2]->getTrackOffset(), kNone);
    QCOMPARE(JXPSFRoute::getDistance(routesB[0]), JXPSFRoute::getDistance(routesA[0]));

    const QVector<QPointer<JXPSFWorkout>>& workoutsA = *first->getWorkoutFrame()->getWorkouts();
    const QVector<QPointer<JXPSFWorkout>>& workoutsB = *second->getWorkoutFrame()->getWorkouts();
    QCOMPARE(workoutsB.size(), 3);
    for (int i = 0; i < workoutsA.size(); ++i) {
        JXPSFWorkout* a = workoutsA[i];
        JXPSFWorkout* b = workoutsB[i];
        QCOMPARE(b->getTime(), a->getTime());
        QCOMPARE(b->getName(), padded(a->getName(), 128, 0));
        QCOMPARE(b->getWorkoutId(), a->getWorkoutId());
        QCOMPARE(b->getTypeValue(), a->getTypeValue());
        QCOMPARE(b->getFlag(), a->getFlag());
        QCOMPARE(b->getNameType(), a->getNameType());
        QCOMPARE(b->getUploaded(), a->getUploaded());
        QCOMPARE(b->getLowValue(), a->getLowValue());
        QCOMPARE(b->getHighValue(), a->getHighValue());
        QCOMPARE(b->getIntervals()->size(), a->getIntervals()->size());
        for (int k = 0; k < a->getIntervals()->size(); ++k) {
            const JXPSFInterval* ia = a->getIntervals()->at(k);
            const JXPSFInterval* ib = b->getIntervals()->at(k);
            QCOMPARE(ib->getIntervalType(), ia->getIntervalType());
            QCOMPARE(ib->getFlag(), ia->getFlag());
            QCOMPARE(ib->getTargetType(), ia->getTargetType());
            QCOMPARE(ib->getDurationType(), ia->getDurationType());
            QCOMPARE(ib->getDurationValue(), ia->getDurationValue());
            QCOMPARE(ib->getValue(), ia->getValue());
            QCOMPARE(ib->getTargetLow(), ia->getTargetLow());
            QCOMPARE(ib->getTargetHigh(), ia->getTargetHigh());
        }
    }

    // The accounting ends after the last record of each table.
    QCOMPARE(field32(block, kPOIEnd), 0x6170u + 3 * 148);
    QCOMPARE(field16(block, kPOIFree), quint16(0xB90 - 3 * 148));
    QCOMPARE(field32(block, kRouteEnd), 0x8000u + 4 * 156);
    QCOMPARE(field32(block, kRouteFree), 0x81CCu - 4 * 156);
    QCOMPARE(field32(block, kTrackEnd), 0x2A024u + 52 + 46 + 52 + (40 + 18) + (40 + 12));
    QCOMPARE(field32(block, kTrackFree), 0x7DFDCu - (52 + 46 + 52 + 58 + 52));
    QCOMPARE(field32(block, kWorkoutEnd), 0x6D10u + 3 * 152);
    QCOMPARE(field32(block, kIntervalEnd), 0x21000u + 4 * 20);
    QCOMPARE(field32(block, kIntervalFree), 0x2000u - 4 * 20);

    // A second write-back of the same root gives the same bytes.
    QByteArray again = image;
    QVERIFY(first->finalize(again));
    QCOMPARE(again, written);
}

void TestJXPSF::intervalLinks()
{
    // Leftovers of deleted intervals lie where the intervals are written.
    Image image = recordedImage();
    image.put(kIntervals, QByteArray(100, 0));
    image.put(kIntervals, interval(20, 0x21, 600) + interval(kNone, 0x2B, 300));
    std::unique_ptr<JXPSF> root = read(image.bytes);
    QVERIFY(root->deleteWorkouts({0}));
    JXPSFWorkout* made = new JXPSFWorkout(nullptr);
    for (int i = 0; i < 3; ++i)
        made->getIntervals()->append(new JXPSFInterval(nullptr));
    made->getIntervals()->at(1)->setValue(0x01020304);
    made->getIntervals()->at(1)->setRepeat(5);
    root->getWorkoutFrame()->getWorkouts()->append(made);

    QByteArray written = image.bytes;
    QVERIFY(root->finalize(written));
    Image out{written};
    QCOMPARE(out.at32(kWorkouts + 136), kNone);
    QCOMPARE(out.at32(kWorkouts + 140), kNone);
    QCOMPARE(out.at32(kWorkouts + 152 + 136), 0u);
    QCOMPARE(out.at32(kIntervals + 4), 20u);
    QCOMPARE(out.at32(kIntervals + 20 + 4), 40u);
    QCOMPARE(out.at32(kIntervals + 40 + 4), kNone);
    QCOMPARE(out.bytes.mid(int(kIntervals + 8), 5), QByteArray(5, char(0xFF)));
    QCOMPARE(out.bytes.mid(int(kIntervals + 20 + 8), 5), hex("04030201 05"));
    QCOMPARE(out.bytes.mid(int(kIntervals + 40 + 8), 5), QByteArray(5, char(0xFF)));
    QCOMPARE(out.bytes.mid(int(kIntervals + 15), 3), hex("FFFF00"));
    QCOMPARE(out.at16(kWorkoutFrame + 8), quint16(2));
}

// Two devices written at once keep their own segment links.
void TestJXPSF::concurrentFinalize()
{
    QByteArray imageA = recordedImage().bytes;
    QByteArray imageB = recordedImage().bytes;
    std::unique_ptr<JXPSF> rootA = read(imageA);
    std::unique_ptr<JXPSF> rootB = read(imageB);
    // Many segments each, so that the two write-backs overlap.
    rootA->getRouteFrame()->getRoutes()->prepend(newRoute(QVector<int>(400, 3)));
    rootA->getRouteFrame()->getHeader()->setRouteCount(4);
    rootB->getRouteFrame()->getRoutes()->prepend(newRoute(QVector<int>(300, 7)));
    rootB->getRouteFrame()->getHeader()->setRouteCount(4);

    QByteArray expectedA = imageA;
    QByteArray expectedB = imageB;
    rootA->finalize(expectedA);
    rootB->finalize(expectedB);

    std::atomic<bool> same{true};
    auto run = [&same](JXPSF* root, const QByteArray& source, const QByteArray& expected) {
        for (int i = 0; i < 30; ++i) {
            QByteArray out = source;
            root->finalize(out);
            if (out != expected)
                same = false;
        }
    };
    std::thread a(run, rootA.get(), imageA, expectedA);
    std::thread b(run, rootB.get(), imageB, expectedB);
    a.join();
    b.join();
    QVERIFY(same);
}

void TestJXPSF::badImages_data()
{
    QTest::addColumn<Mutation>("mutate");
    // Expected record counts; -1 where only the bound matters (a count read until the bytes are used up).
    QTest::addColumn<QVector<int>>("expected");
    // Whether the write-back writes everything it holds.
    QTest::addColumn<bool>("written");

    const auto cut = [](qint64 size) { return Mutation([size](Image& image) { image.bytes.truncate(int(size)); }); };
    QTest::newRow("cut in the distribution header") << cut(100) << QVector<int>{0, 0, 0, 0, 0, 0, 0} << false;
    QTest::newRow("cut in the route table") << cut(kRoutes + 200) << QVector<int>{3, 1, 0, 0, 2, 0, 0} << false;
    QTest::newRow("cut in a segment") << cut(kSegments + 60) << QVector<int>{3, 3, 1, 0, 2, 2, 1} << true;
    QTest::newRow("cut in a sample") << cut(kSensorLogs + 18) << QVector<int>{3, 3, 3, 0, 2, 2, 1} << true;
    QTest::newRow("cut in an interval log") << cut(kWorkoutLogs + 30) << QVector<int>{3, 3, 0, 0, 2, 2, 0} << false;
    QTest::newRow("segment links to itself")
        << Mutation([](Image& image) { image.put32(kSegments + 52 + 28, 52); }) << QVector<int>{3, 3, 3, 1, 2, 2, 1}
        << true;
    QTest::newRow("sensor log links to itself")
        << Mutation([](Image& image) { image.put32(kSensorLogs + 4, 0); }) << QVector<int>{3, 3, 3, 1, 2, 2, 1} << true;
    QTest::newRow("interval links back") << Mutation([](Image& image) { image.put32(kIntervals + 20 + 4, 0); })
                                         << QVector<int>{3, 3, 3, 1, 2, 2, 1} << true;
    QTest::newRow("workout log links to itself")
        << Mutation([](Image& image) { image.put32(kWorkoutLogs + 8, 0); }) << QVector<int>{3, 3, 3, 1, 2, 2, 1} << true;
    QTest::newRow("frames past the image") << Mutation([](Image& image) {
        image.setFrame(POI, 0x7FFFFFFF);
        image.setFrame(Route, kImageSize);
        image.setFrame(Workout, 0xFFFFFFF0);
    }) << QVector<int>{0, 0, 0, 0, 0, 0, 0} << false;
    QTest::newRow("tables past their frames") << Mutation([](Image& image) {
        image.put32(kRouteFrame, 0xFFFFFF00);
        image.put32(kPOIFrame + 4, 0xFFFFFFF0);
        image.put32(kTrackFrame, 0x80000000);
        image.put32(kWorkoutFrame + 4, kImageSize);
    }) << QVector<int>{0, 0, 0, 0, 2, 0, 1} << false;
    QTest::newRow("links past their lists") << Mutation([](Image& image) {
        image.put32(kSegments + 52 + 28, 0xFFFFFFF0);
        image.put32(kSegments + 52 + 36, 0xCDCDCDCE);
        image.put32(kIntervals + 4, 0x7FFFFFFF);
        image.put32(kWorkouts + 140, kImageSize);
    }) << QVector<int>{3, 3, 3, 0, 2, 1, 0} << true;
    QTest::newRow("huge counts") << Mutation([](Image& image) {
        image.put32(kPOIFrame, 0xFFFFFFF0);
        image.put16(kRouteFrame + 8, 0xFFFE);
        image.put32(kSegments + 32, 0xFFFD);
        image.put(kSensorLogs + 9, u8(0x00) + le16(0x7FFF));
        image.put16(kWorkoutLogs + 16, 0xFFFE);
    }) << QVector<int>{-1, -1, -1, -1, 2, 2, 1} << true;
}

// Damaged images give fewer records, and a write-back of what was read stays inside the image.
void TestJXPSF::badImages()
{
    QFETCH(Mutation, mutate);
    QFETCH(QVector<int>, expected);
    QFETCH(bool, written);

    Image image = recordedImage();
    mutate(image);
    QByteArray block(256, char(0x11));
    std::unique_ptr<JXPSF> root = read(image.bytes, block.data());
    QVERIFY(root);
    const Counts counts = count(root.get());
    const int actual[] = {counts.pois,     counts.routes,    counts.segments,   counts.samples,
                          counts.workouts, counts.intervals, counts.workoutLogs};
    for (int kind = 0; kind < 7; ++kind) {
        if (expected[kind] >= 0)
            QCOMPARE(actual[kind], expected[kind]);
        else
            QVERIFY(actual[kind] <= image.bytes.size() / 6);
    }

    root->removeOverSizePois();
    root->removeOverSizeRoutes();
    root->removeOverWorkouts();
    QByteArray copy = image.bytes;
    QCOMPARE(root->finalize(copy), written);
    QVERIFY(sameOutsideAreas(image.bytes, copy));
    QCOMPARE(field32(block, 0x94), 0x11111111u);
}

// Offsets of the image that put records over another area: nothing is written, and the result says so.
void TestJXPSF::misplacedOffsets_data()
{
    QTest::addColumn<Mutation>("mutate");
    // What is read: POIs, routes, segments, workouts, intervals. Nothing of another area is taken for records.
    QTest::addColumn<QVector<int>>("read");

    QTest::newRow("route table on the lap table")
        << Mutation([](Image& image) { image.put32(kRouteFrame, kLapTable); }) << QVector<int>{3, 0, 0, 2, 2};
    QTest::newRow("route frame on the sensor-log frame") << Mutation([](Image& image) {
        image.setFrame(Route, kSensorLogFrame);
        image.put(kSensorLogFrame, le32(kSensorLogList) + le32(0x40) + le16(1));
    }) << QVector<int>{3, 0, 0, 2, 2};
    QTest::newRow("POI table on the route table")
        << Mutation([](Image& image) { image.put32(kPOIFrame + 4, kRoutes - kPOIFrame); })
        << QVector<int>{0, 3, 3, 2, 2};
    QTest::newRow("interval table on the workout-log frame")
        << Mutation([](Image& image) { image.put32(kWorkoutFrame + 4, kWorkoutLogFrame - kWorkoutFrame); })
        << QVector<int>{3, 3, 3, 2, 0};
    QTest::newRow("segment list before the track area")
        << Mutation([](Image& image) { image.put32(kTrackFrame, 0); }) << QVector<int>{3, 3, 0, 2, 2};
}

void TestJXPSF::misplacedOffsets()
{
    QFETCH(Mutation, mutate);
    QFETCH(QVector<int>, read);

    Image image = recordedImage();
    mutate(image);
    QByteArray block(256, char(0x11));
    std::unique_ptr<JXPSF> root = ::read(image.bytes, block.data());
    QVERIFY(root);
    const Counts counts = count(root.get());
    QCOMPARE((QVector<int>{counts.pois, counts.routes, counts.segments, counts.workouts, counts.intervals}), read);
    QByteArray copy = image.bytes;
    QVERIFY(!root->finalize(copy));
    QCOMPARE(copy, image.bytes);
    QCOMPARE(block, QByteArray(256, char(0x11)));
}

// Counts larger than their tables can hold read only the records inside the tables' areas.
void TestJXPSF::countsPastTheirTables()
{
    Image image = emptyImage();
    image.put32(kPOIFrame, 0xFFFFFFFE);
    image.put16(kRouteFrame + 8, 0xFFFE);
    image.put8(kWorkoutFrame + 8, 0xFE);
    std::unique_ptr<JXPSF> root = read(image.bytes);
    const Counts counts = count(root.get());
    // Table sizes 0xB90, 0x81CC and 0x1268 bytes, records of 148, 156 and 152.
    QCOMPARE(counts.pois, 20);
    QCOMPARE(counts.routes, 213);
    QCOMPARE(counts.workouts, 31);
}

// Records their areas cannot hold are left out; the counts written are those of the records on the image, and
// nothing outside the areas changes.
void TestJXPSF::recordsThatDoNotFit_data()
{
    QTest::addColumn<Mutation>("mutate");
    QTest::addColumn<int>("sizeWord");
    QTest::addColumn<unsigned int>("size");
    // POIs, routes, workouts read back
    QTest::addColumn<QVector<int>>("expected");

    const Mutation none([](Image&) {});
    QTest::newRow("POI table for two") << none << 5 << 2u * 148 << QVector<int>{2, 4, 2};
    QTest::newRow("route table for one") << none << 13 << 156u << QVector<int>{3, 1, 2};
    QTest::newRow("workout table for one") << none << 9 << 152u << QVector<int>{3, 4, 1};
    QTest::newRow("interval area for one") << none << 19 << 20u << QVector<int>{3, 4, 0};
    // The 50-point ride would run from the track area into the sensor-log frame.
    QTest::newRow("segment list 100 bytes before the track area's end")
        << Mutation([](Image& image) { image.put32(kTrackFrame, 0xA2000 - 100 - kTrackFrame); }) << 28 << 0x7DFDCu
        << QVector<int>{3, 0, 2};
}

void TestJXPSF::recordsThatDoNotFit()
{
    QFETCH(Mutation, mutate);
    QFETCH(int, sizeWord);
    QFETCH(unsigned int, size);
    QFETCH(QVector<int>, expected);

    Image image = recordedImage();
    mutate(image);
    // The smaller layout is given after loading: the reader would not read what it cannot hold.
    std::unique_ptr<JXPSF> root = read(image.bytes);
    flash_header_def def = definition();
    def.words[sizeWord] = size;
    root->setFlashHeaderDef(def);
    root->getRouteFrame()->getRoutes()->prepend(newRoute({50}));
    root->getRouteFrame()->getHeader()->setRouteCount(4);
    QByteArray copy = image.bytes;
    QVERIFY(!root->finalize(copy));
    QVERIFY(sameOutsideAreas(image.bytes, copy));

    std::unique_ptr<JXPSF> again = read(copy, nullptr, def);
    const Counts counts = count(again.get());
    QCOMPARE(counts.pois, expected[0]);
    QCOMPARE(counts.routes, expected[1]);
    QCOMPARE(counts.workouts, expected[2]);
}

// A chain that links back to itself ends there; every other record is written back and reads again.
void TestJXPSF::selfLinksKeepTheOthers_data()
{
    QTest::addColumn<Mutation>("mutate");
    QTest::addColumn<int>("segments");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("intervals");

    QTest::newRow("segment") << Mutation([](Image& image) { image.put32(kSegments + 28, 0); }) << 2 << 0 << 2;
    QTest::newRow("sensor log") << Mutation([](Image& image) { image.put32(kSensorLogs + 4, 0); }) << 3 << 1 << 2;
    QTest::newRow("interval") << Mutation([](Image& image) { image.put32(kIntervals + 4, 0); }) << 3 << 1 << 1;
}

void TestJXPSF::selfLinksKeepTheOthers()
{
    QFETCH(Mutation, mutate);
    QFETCH(int, segments);
    QFETCH(int, samples);
    QFETCH(int, intervals);

    Image image = recordedImage();
    mutate(image);
    std::unique_ptr<JXPSF> root = read(image.bytes);
    root->removeOverSizePois();
    root->removeOverSizeRoutes();
    root->removeOverWorkouts();
    QByteArray copy = image.bytes;
    QVERIFY(root->finalize(copy));

    std::unique_ptr<JXPSF> again = read(copy);
    const Counts counts = count(again.get());
    QCOMPARE(counts.pois, 3);
    QCOMPARE(counts.routes, 3);
    QCOMPARE(counts.segments, segments);
    QCOMPARE(counts.samples, samples);
    QCOMPARE(counts.workouts, 2);
    QCOMPARE(counts.intervals, intervals);
}

QTEST_GUILESS_MAIN(TestJXPSF)
#include "tst_jxpsf.moc"
