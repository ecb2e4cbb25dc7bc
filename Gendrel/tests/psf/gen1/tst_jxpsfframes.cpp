#include <QtTest>

#include <cmath>

#include "../../../../core/include/location/ghlatlng.h"
#include "jxpsfimagefixture.h"
#include "psf/gen1/jxpsfdistheader.h"
#include "psf/gen1/jxpsfpoiframe.h"
#include "psf/gen1/jxpsfrouteframe.h"
#include "psf/gen1/jxpsfsensorlogframe.h"
#include "psf/gen1/jxpsftrackframe.h"
#include "psf/gen1/jxpsfworkoutframe.h"

using namespace PSF1;

class TestJXPSFFrames : public QObject
{
    Q_OBJECT

private slots:
    void managementRecordIgnoresTail();
    void distHeader();
    void poiFrame();
    void poiNames();
    void sensorLogSamples_data();
    void sensorLogSamples();
    void sensorLogChain();
    void segmentCounts_data();
    void segmentCounts();
    void segmentPointsAndLogs();
    void segmentFinalize();
    void segmentWritesPointsUnmade_data();
    void segmentWritesPointsUnmade();
    void routeFrame();
    void routeWithoutSegments();
    void routeDerivedValues();
    void routeDistanceTruncatesMillimetres();
    void workoutFrame();
    void workoutChains();
};

void TestJXPSFFrames::managementRecordIgnoresTail()
{
    QByteArray raw = le32(0x170) + le16(0x2000) + hex("1234") + QByteArray("ABCDEFGHIJKL");
    JXPSFManagementHeaderRecord record(&raw, nullptr);
    QCOMPARE(record.getManHeaderOffset(), 0x170u);
    QCOMPARE(record.getManHeaderSize(), ushort(0x2000));
    QCOMPARE(record.getFName(), QString::fromLatin1(QByteArray(12, char(0xFF))));
    QCOMPARE(record.toBytes(), le32(0x170) + le16(0x2000) + le16(0) + QByteArray(12, char(0xFF)));
    record.setFName("NAME.DAT");
    QCOMPARE(record.getFName().toLatin1(), QByteArray(12, char(0xFF)));
    QVERIFY(record.commit().isEmpty());
}

void TestJXPSFFrames::distHeader()
{
    Image image = emptyImage();
    QByteArray raw = image.bytes.mid(48);
    JXPSFDistHeader header(&raw, nullptr);
    QCOMPARE(header.getBaseDate(), 0x20200102u);
    QCOMPARE(header.getBaseTime(), 0x00030405u);
    QCOMPARE(header.POIMHRData()->getManHeaderOffset(), kPOIFrame);
    QCOMPARE(header.RouteMHRData()->getManHeaderOffset(), kRouteFrame);
    QCOMPARE(header.WorkoutMHRData()->getManHeaderOffset(), kWorkoutFrame);
    QCOMPARE(header.WorkoutLogMHRData()->getManHeaderOffset(), kWorkoutLogFrame);
    QCOMPARE(header.TracerDataMHRData()->getManHeaderOffset(), kTrackFrame);
    QCOMPARE(header.SensorLogMHRData()->getManHeaderOffset(), kSensorLogFrame);

    // The workout and workout-log records are given back erased.
    const QByteArray bytes = header.commit();
    QCOMPARE(bytes.size(), JXPSFDistHeader::HeaderSize);
    QCOMPARE(bytes.left(32), raw.left(12) + le32(kPOIFrame) + le16(0x1000) + le16(0) + QByteArray(12, char(0xFF)));
    QCOMPARE(bytes.mid(52, 40), QByteArray(40, char(0xFF)));
    QCOMPARE(bytes.mid(112, 4), le32(kSensorLogFrame));

    // A header cut short leaves the frames nowhere.
    QByteArray cut = raw.left(32);
    JXPSFDistHeader shortHeader(&cut, nullptr);
    QCOMPARE(shortHeader.POIMHRData()->getManHeaderOffset(), kPOIFrame);
    QCOMPARE(shortHeader.RouteMHRData()->getManHeaderOffset(), kNone);
}

void TestJXPSFFrames::poiFrame()
{
    QByteArray erased = hex("FFFFFFFF") + le32(28) + QByteArray(20, char(0xFF)) + poi(1, 2, 0, "x");
    JXPSFPOIFrame empty(&erased, nullptr);
    QCOMPARE(empty.POICount(), 0);
    QCOMPARE(empty.commit(), le32(0) + le32(28) + QByteArray(20, char(0xFF)));

    QByteArray raw = le32(2) + le32(28) + QByteArray(20, char(0xFF)) + poi(121500000, 25035000, 0x07, "Summit") +
                     poi(-1, -2, 0x00, "Bridge");
    JXPSFPOIFrame frame(&raw, nullptr);
    QCOMPARE(frame.POICount(), 2);
    const JXPSFPOI* first = frame.getPOIs()->at(0);
    QCOMPARE(first->getLng(), 121500000);
    QCOMPARE(first->getLat(), 25035000);
    QCOMPARE(first->getAlt(), short(4400));
    QVERIFY(first->getNameType());
    QVERIFY(first->getIsCalibration());
    QVERIFY(first->getUploaded());
    QCOMPARE(frame.getPOIs()->at(1)->getLng(), -1);

    const QByteArray bytes = frame.commit();
    QCOMPARE(bytes.size(), 28 + 148 * 2);
    // The calibration flag survives; the uploaded mark is left to the root's write-back.
    QCOMPARE(quint8(bytes.at(28 + 10)), quint8(0x03));
    QCOMPARE(bytes.mid(28 + 148), raw.mid(28 + 148));

    // A count beyond the bytes reads only the records that fit.
    QByteArray cut = raw;
    cut.replace(0, 4, le32(1000));
    cut.chop(1);
    JXPSFPOIFrame partial(&cut, nullptr);
    QCOMPARE(partial.POICount(), 1);
}

void TestJXPSFFrames::poiNames()
{
    QByteArray raw = poi(0, 0, 0, "Hut");
    JXPSFPOI poiRecord(&raw, nullptr);
    QCOMPARE(poiRecord.getName(), padded("Hut", 128, 0));

    poiRecord.setName("Lake");
    QCOMPARE(poiRecord.commit().mid(12, 128), padded("Lake", 128, 0));
    poiRecord.setName(QByteArray(200, 'n'));
    const QByteArray bytes = poiRecord.commit();
    QCOMPARE(bytes.size(), 148);
    QCOMPARE(bytes.mid(12, 128), QByteArray(128, 'n'));
    QCOMPARE(bytes.mid(140), QByteArray(8, char(0xFF)));
}

void TestJXPSFFrames::sensorLogSamples_data()
{
    QTest::addColumn<quint8>("mask");
    QTest::addColumn<quint16>("count");
    QTest::addColumn<QByteArray>("samples");
    QTest::addColumn<int>("expectedSamples");
    QTest::addColumn<int>("sampleSize");

    QTest::newRow("mask 0x00") << quint8(0x00) << quint16(3) << QByteArray() << 3 << 0;
    QTest::newRow("mask 0x3F") << quint8(0x3F) << quint16(2) << hex("10 5A 8C F401 EB00 1500 11 5B 8D F501 ECFF 1600")
                               << 2 << 9;
    QTest::newRow("count 0xFFFF") << quint8(0x01) << quint16(0xFFFF) << hex("10") << 0 << 1;
    QTest::newRow("count 0x8000") << quint8(0x01) << quint16(0x8000) << hex("10") << 0 << 1;
    QTest::newRow("count past the bytes") << quint8(0x3F) << quint16(5) << hex("10 5A 8C F401 EB00 1500 11") << 1 << 9;
}

void TestJXPSFFrames::sensorLogSamples()
{
    QFETCH(quint8, mask);
    QFETCH(quint16, count);
    QFETCH(QByteArray, samples);
    QFETCH(int, expectedSamples);
    QFETCH(int, sampleSize);

    QByteArray raw = sensorLog(kNone, mask, count, "") + samples;
    JXPSFSensorLog log(&raw, nullptr);
    QCOMPARE(log.getPoints().size(), expectedSamples);
    for (const QPointer<JXPSFSensorLogPoint>& point : log.getPoints())
        QCOMPARE(int(point->getSizeInRawData()), sampleSize);
    if (mask == 0x3F && expectedSamples == 2) {
        const JXPSFSensorLogPoint* second = log.getPoints().at(1);
        QCOMPARE(second->getSpeed(), uchar(0x11));
        QCOMPARE(second->getCadence(), uchar(0x5B));
        QCOMPARE(second->getHeartRate(), uchar(0x8D));
        QCOMPARE(second->getPower(), ushort(501));
        QCOMPARE(second->getTemperature(), short(-20));
        QCOMPARE(second->getBrm(), ushort(0x16));
    }
}

void TestJXPSFFrames::sensorLogChain()
{
    // Frame: list at 0x18; log A (mask 0x09, speed and power) links to log B, which ends with 0xCDCDCDCD.
    QByteArray raw = le32(0x18) + QByteArray(0x14, char(0xFF));
    raw += sensorLog(0x13, 0x09, 1, "10 F401");
    raw += sensorLog(0xCDCDCDCD, 0x84, 1, "55", 2000);
    JXPSFSensorLogFrame frame(&raw, nullptr);
    QCOMPARE(frame.getLogOffset(), 0x18u);
    const QVector<QPointer<JXPSFSensorLog>> chain = frame.loadChain(0, nullptr);
    QCOMPARE(chain.size(), 2);
    const JXPSFSensorLogPoint* sample = chain.at(0)->getPoints().at(0);
    QCOMPARE(sample->getSpeed(), uchar(16));
    QCOMPARE(sample->getPower(), ushort(500));
    QCOMPARE(sample->getCadence(), uchar(0xFF));
    QVERIFY(chain.at(1)->isBreak());
    QVERIFY(chain.at(1)->hasHeartRate());
    QCOMPARE(chain.at(1)->getStartTime(), 2000u);
    QVERIFY(frame.loadChain(0xCDCDCDCD, nullptr).isEmpty());
    qDeleteAll(chain);
}

void TestJXPSFFrames::segmentCounts_data()
{
    QTest::addColumn<quint32>("count");
    QTest::addColumn<int>("points");

    QTest::newRow("two") << quint32(2) << 2;
    QTest::newRow("0xFFFE") << quint32(0xFFFE) << 0;
    QTest::newRow("0xFFFF") << quint32(0xFFFF) << 0;
    QTest::newRow("0x10000") << quint32(0x10000) << 0;
    QTest::newRow("0xFFFFFFFF") << quint32(0xFFFFFFFF) << 0;
    QTest::newRow("more than fit") << quint32(3) << 2;
}

void TestJXPSFFrames::segmentCounts()
{
    QFETCH(quint32, count);
    QFETCH(int, points);
    QByteArray raw = segment(kNone, count, kNone, "0100 0200 03 04 FFFF FFFF FF 01");
    JXPSFTrack track(&raw, 1, nullptr, nullptr);
    QCOMPARE(track.getTrackPoints()->size(), points);
    QCOMPARE(int(track.getPointCount()), points);
}

void TestJXPSFFrames::segmentPointsAndLogs()
{
    JXPSFTrack* recorded = nullptr;
    {
        QByteArray frameBytes = le32(0x18) + QByteArray(0x14, char(0xFF)) + sensorLog(kNone, 0x01, 1, "20");
        JXPSFSensorLogFrame logs(&frameBytes, nullptr);
        QByteArray raw = segment(kNone, 1, 0, "FFFF FFFF FF 05", 0x1F, 4);
        recorded = new JXPSFTrack(&raw, 1, &logs, nullptr);
        QByteArray unset = segment(kNone, 1, 0xCDCDCDCD, "FFFF FFFF FF 05");
        JXPSFTrack noLogs(&unset, 1, &logs, nullptr);
        QVERIFY(noLogs.getSensorLogs().isEmpty());
    }
    // The segment owns its logs: they outlive the frame they were read from.
    QCOMPARE(recorded->getSensorLogs().size(), 1);
    QCOMPARE(recorded->getSensorLogs().at(0)->getPoints().at(0)->getSpeed(), uchar(0x20));
    const JXPSFTrackPoint* point = recorded->getTrackPoints()->at(0);
    QCOMPARE(point->getLngDelta(), short(-1));
    QCOMPARE(point->getLatDelta(), short(-1));
    QCOMPARE(int(point->getAltDelta()), -1);
    QCOMPARE(point->getTimeDelta(), uchar(5));
    QVERIFY(recorded->getBreakFlag() && recorded->getStartFlagA() && recorded->getEndFlagA() &&
            recorded->getStartFlagB() && recorded->getEndFlagB());
    delete recorded;

    QByteArray planned = segment(kNone, 1, kNone, "0A00 F6FF 05 05");
    JXPSFTrack route(&planned, 0, nullptr, nullptr);
    QCOMPARE(route.getRoutePoints()->size(), 1);
    QVERIFY(route.getTrackPoints()->isEmpty());
    const JXPSFRoutePoint* routePoint = route.getRoutePoints()->at(0);
    QCOMPARE(routePoint->getLngDelta(), short(10));
    QCOMPARE(routePoint->getLatDelta(), short(-10));
    QVERIFY(routePoint->getFlag1() && !routePoint->getFlag2() && routePoint->getFlag3());
}

void TestJXPSFFrames::segmentFinalize()
{
    QByteArray raw = segment(0x1234, 2, 0x40, "0100 0200 03 04 FFFF FFFF FF 01", 0x1F, 4);
    JXPSFTrack track(&raw, 1, nullptr, nullptr);
    // A point count that disagrees with the points held is written as the number written.
    track.setPointCount(7);

    QByteArray out(400, char(0x77));
    JXPSFTrack::m_head_offset_from_PSF = 100;
    QCOMPARE(track.finalize(out, 120, false, true), 120u + 40 + 12);
    QCOMPARE(JXPSFTrack::m_tail_offset_from_track_segmentlist, 72u);
    QCOMPARE(out.mid(120, 26), raw.left(26));
    QCOMPARE(out.mid(146, 2), QByteArray(2, char(0x77)));
    QCOMPARE(out.mid(148, 4), le32(kNone));
    QCOMPARE(out.mid(152, 4), le32(2));
    QCOMPARE(out.mid(156, 4), le32(0x40));
    QCOMPARE(out.mid(160, 12), raw.mid(40, 12));
    QCOMPARE(quint8(out.at(120 + 24)), quint8(0x1F));

    QCOMPARE(track.finalize(out, 200, true, true), 252u);
    QCOMPARE(out.mid(228, 4), le32(152));
    QCOMPARE(track.getNextOffset(), 152u);

    // A segment that would cross the end writes nothing.
    const QByteArray before = out;
    QCOMPARE(track.finalize(out, 360, false, true), 360u);
    QCOMPARE(out, before);
}

void TestJXPSFFrames::segmentWritesPointsUnmade_data()
{
    QTest::addColumn<int>("isTrack");
    QTest::addColumn<QByteArray>("fifths");
    // A route point keeps only its three flags; a recorded point its whole time delta.
    QTest::newRow("route") << 0 << QByteArray::fromHex("0501");
    QTest::newRow("track") << 1 << QByteArray::fromHex("FD01");
}

void TestJXPSFFrames::segmentWritesPointsUnmade()
{
    QFETCH(int, isTrack);
    QFETCH(QByteArray, fifths);
    QByteArray raw = segment(kNone, 2, kNone, "0A00 F6FF 05 FD FFFF 0100 80 01");
    JXPSFTrack unmade(&raw, isTrack, nullptr, nullptr);
    JXPSFTrack made(&raw, isTrack, nullptr, nullptr);
    QCOMPARE(made.getTrackPoints()->size() + made.getRoutePoints()->size(), 2);

    for (const bool asTrack : {false, true}) {
        QCOMPARE(unmade.writtenSize(asTrack), made.writtenSize(asTrack));
        QByteArray fromUnmade(120, char(0x77));
        QByteArray fromMade = fromUnmade;
        JXPSFTrack::m_head_offset_from_PSF = 0;
        QCOMPARE(unmade.finalize(fromUnmade, 8, false, asTrack), made.finalize(fromMade, 8, false, asTrack));
        QCOMPARE(fromUnmade, fromMade);
        QCOMPARE(unmade.getPointCount(), made.getPointCount());
        if (asTrack == bool(isTrack)) {
            QCOMPARE(fromUnmade.mid(48, 5), raw.mid(40, 5));
            QCOMPARE(quint8(fromUnmade.at(53)), quint8(fifths.at(0)));
            QCOMPARE(quint8(fromUnmade.at(59)), quint8(fifths.at(1)));
        }
    }
}

void TestJXPSFFrames::routeFrame()
{
    // Header: route table at 24, lap table at 24 + 156, count 0xFFFF.
    QByteArray raw = le32(24) + le32(24 + 156) + le16(0xFFFF) + QByteArray(14, char(0xFF)) +
                     route("Loop", 0x0D, kNone) + QByteArray(2048 * 32, char(0x11));
    {
        JXPSFRouteFrame frame(&raw, nullptr, nullptr, nullptr);
        QVERIFY(frame.getRoutes()->isEmpty());
        QCOMPARE(frame.getLaps()->size(), 2048);
    }

    raw.replace(8, 2, le16(1));
    raw.replace(24 + 156 + 64, 32,
                le32(10) + le32(20) + le32(3000) + hex("10 20 8C 9F 50 5A") + le16(180) + le16(400) + le16(12) +
                    le16(11) + le16(500) + le32(3600));
    raw.replace(24 + 140, 4, le32(64));
    raw.replace(24 + 148, 1, u8(3));
    JXPSFRouteFrame frame(&raw, nullptr, nullptr, nullptr);
    QCOMPARE(frame.getRoutes()->size(), 1);
    JXPSFRoute* loop = frame.getRoutes()->at(0);
    QVERIFY(loop->getTrackFlag());
    QVERIFY(!loop->getNameType());
    QCOMPARE(loop->getTwoBitValue(), uchar(3));
    QVERIFY(loop->getUploaded());
    QCOMPARE(loop->getActType(), uchar(1));
    QCOMPARE(loop->getActSubType(), uchar(2));
    QCOMPARE(loop->getMetaValue(), ushort(7500));
    QCOMPARE(loop->commit(), raw.mid(24, 156));

    const JXPSFLap* summary = loop->getSummary(&frame);
    QVERIFY(summary);
    QCOMPARE(summary, frame.getLaps()->at(2).data());
    QCOMPARE(summary->getDistance(), 3000u);
    QCOMPARE(summary->getMaxHeartRate(), uchar(0x9F));
    QCOMPARE(summary->getAvgPower(), ushort(180));
    QCOMPARE(summary->getRidingTime(), 3600u);
    QCOMPARE(frame.commit(), raw.left(24 + 156));
    loop->setSummaryOffset(2048 * 32);
    QVERIFY(!loop->getSummary(&frame));

    // Flags 0x01 with the uploaded mark set later still commit as 0x01.
    QByteArray plainRecord = route("Ride", 0x01, kNone);
    JXPSFRoute ride(&plainRecord, nullptr);
    ride.setUploaded(true);
    QCOMPARE(quint8(ride.commit().at(132)), quint8(0x01));

    // A lap table cut short keeps the laps that fit.
    QByteArray cut = raw.left(24 + 156 + 100 * 32 + 5);
    JXPSFRouteFrame partial(&cut, nullptr, nullptr, nullptr);
    QCOMPARE(partial.getLaps()->size(), 100);
}

void TestJXPSFFrames::routeWithoutSegments()
{
    QByteArray record = route("Plan", 0x00, kNone, 5000);
    JXPSFRoute plan(&record, nullptr);
    QByteArray trackBytes = le32(4) + segment(kNone, 0, kNone, "");
    JXPSFTrackFrame tracks(&trackBytes, nullptr);
    plan.loadTrack(&tracks, nullptr);
    QVERIFY(plan.getTracks().isEmpty());
    QCOMPARE(JXPSFRoute::getEndTime(&plan), 5000u);
    QCOMPARE(JXPSFRoute::getDistance(&plan), 0u);
    unsigned int values[4] = {1, 1, 1, 1};
    JXPSFRoute::getStartEndPoint(&plan, values[0], values[1], values[2], values[3]);
    QCOMPARE(values[0] | values[1] | values[2] | values[3], 0u);
}

void TestJXPSFFrames::routeDerivedValues()
{
    // Two segments: the first with points 3 s and 5 s apart in units of 2 s, the second without points.
    QByteArray trackBytes = le32(4) + segment(40 + 12, 2, kNone, "0000 0A00 00 03 0000 0A00 00 05", 0, 2, 1000) +
                            segment(kNone, 0, kNone, "", 0, 1, 9000, 121000000, 31000000);
    JXPSFTrackFrame tracks(&trackBytes, nullptr);
    QByteArray record = route("Ride", 0x01, 0, 1000);
    JXPSFRoute ride(&record, nullptr);
    ride.loadTrack(&tracks, nullptr);
    QCOMPARE(ride.getTracks().size(), 2);
    // The second segment has no points, so the end stays at the first segment's last point.
    QCOMPARE(JXPSFRoute::getEndTime(&ride), 1000u + 3 * 2 + 5 * 2);
    unsigned int startLat = 0, startLon = 0, endLat = 0, endLon = 0;
    JXPSFRoute::getStartEndPoint(&ride, startLat, startLon, endLat, endLon);
    QCOMPARE(startLat, 30000000u);
    QCOMPARE(startLon, 120000000u);
    QCOMPARE(endLat, 31000060u);
    QCOMPARE(endLon, 121000050u);
}

// Each step adds its distance cut to whole millimetres; segments are not joined.
void TestJXPSFFrames::routeDistanceTruncatesMillimetres()
{
    const int lat = 30000000;
    const int lng = 120000000;
    const float one = GHLatLng(lat, lng).distanceTo(lat + 9, lng);
    const double perStep = std::trunc(double(one) * 1000.0) / 1000.0;
    // Enough steps for the millimetres cut off to show at the metre level.
    int steps = 1;
    double cut = perStep;
    double whole = one;
    while (unsigned(cut) == unsigned(whole) && steps < 20000) {
        ++steps;
        cut += perStep;
        whole += one;
    }
    QVERIFY(steps < 20000);

    // Back and forth between two positions, so that every step has the same length.
    QByteArray points;
    for (int i = 0; i < steps - 1; ++i)
        points += hex(i % 2 ? "0000 F7FF 00 01" : "0000 0900 00 01");
    // The last step is a segment of its own, starting again at the first position.
    QByteArray trackBytes = le32(4) + segment(40 + 6 * (steps - 1), steps - 1, kNone, "", 0, 1, 1000, lng, lat) +
                            points + segment(kNone, 1, kNone, "0000 0900 00 01", 0, 1, 1000, lng, lat);
    JXPSFTrackFrame tracks(&trackBytes, nullptr);
    QByteArray record = route("Ride", 0x01, 0);
    JXPSFRoute ride(&record, nullptr);
    ride.loadTrack(&tracks, nullptr);
    QCOMPARE(ride.getTracks().size(), 2);
    QCOMPARE(JXPSFRoute::getDistance(&ride), unsigned(cut));
}

void TestJXPSFFrames::workoutFrame()
{
    // Workout table at 16, intervals at 16 + 2 x 152; the first workout's chain is 20 -> 0, the second's 0xCDCDCDCD.
    QByteArray raw = le32(16) + le32(320) + u8(2) + QByteArray(7, char(0xFF)) + workout("Tempo", 42, 20, kNone) +
                     workout("Rest", 43, 0xCDCDCDCD, 0xCDCDCDCD, 0x64, 0xE3);
    raw += interval(kNone, 0x2B, 300) + interval(0, 0x21, 600);
    JXPSFWorkoutFrame frame(&raw, nullptr, nullptr);
    QCOMPARE(frame.getWorkouts()->size(), 2);
    JXPSFWorkout* tempo = frame.getWorkouts()->at(0);
    QCOMPARE(tempo->getWorkoutId(), 42u);
    QCOMPARE(tempo->getTime(), 1577934245u);
    QCOMPARE(tempo->getTypeValue(), uchar(3));
    QVERIFY(tempo->getFlag());
    QCOMPARE(tempo->getLowValue(), uchar(5));
    QCOMPARE(tempo->getHighValue(), uchar(2));
    QCOMPARE(tempo->getIntervals()->size(), 2);
    const JXPSFInterval* first = tempo->getIntervals()->at(0);
    QCOMPARE(first->getDurationValue(), ushort(600));
    QCOMPARE(first->getIntervalType(), uchar(1));
    QCOMPARE(first->getTargetType(), uchar(2));
    QCOMPARE(first->getTargetLow(), uchar(120));
    QCOMPARE(tempo->getIntervals()->at(1)->getIntervalType(), uchar(3));
    QVERIFY(tempo->getIntervals()->at(1)->getFlag());

    JXPSFWorkout* rest = frame.getWorkouts()->at(1);
    QVERIFY(rest->getIntervals()->isEmpty());
    QVERIFY(rest->getNameType() && rest->getUploaded() && !rest->getFlag());
    QCOMPARE(rest->getHighValue(), uchar(7));
    QVERIFY(tempo->commit().isEmpty());

    raw[8] = char(0xFF);
    JXPSFWorkoutFrame erased(&raw, nullptr, nullptr);
    QVERIFY(erased.getWorkouts()->isEmpty());
}

void TestJXPSFFrames::workoutChains()
{
    // Log list at 4: log A (two interval logs) links to log B (count 0xFFFF).
    QByteArray logBytes =
        le32(4) + workoutLog(40, 156 * 2, 2, "0A000000 14000000 1E000000 28000000") + workoutLog(kNone, 0, 0xFFFF, "");
    JXPSFWorkoutLogFrame logs(&logBytes, nullptr);
    QByteArray raw = le32(16) + le32(168) + u8(1) + QByteArray(7, char(0xFF)) + workout("Tempo", 1, 0, 0) + interval(0);
    JXPSFWorkoutFrame frame(&raw, &logs, nullptr);
    JXPSFWorkout* tempo = frame.getWorkouts()->at(0);
    QCOMPARE(tempo->getWorkoutLogs()->size(), 2);
    const JXPSFWorkoutLog* first = tempo->getWorkoutLogs()->at(0);
    QCOMPARE(first->getRouteOffset(), 312u);
    QCOMPARE(first->getIntervalLogs().size(), 2);
    QCOMPARE(first->getIntervalLogs().at(1)->getStartTime(), 30u);
    QCOMPARE(first->getIntervalLogs().at(1)->getEndTime(), 40u);
    QVERIFY(tempo->getWorkoutLogs()->at(1)->getIntervalLogs().isEmpty());
    // The interval links to itself: the chain ends when the table's records are used up.
    QVERIFY(tempo->getIntervals()->size() >= 1);
    QVERIFY(tempo->getIntervals()->size() <= (raw.size() - 168) / JXPSFInterval::ReadSize);
}

QTEST_GUILESS_MAIN(TestJXPSFFrames)
#include "tst_jxpsfframes.moc"
