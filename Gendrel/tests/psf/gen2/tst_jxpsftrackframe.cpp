#include <QtTest>

#include <memory>

#include "jxpsf15imagefixture.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsfrouteframe_1_5.h"
#include "psf/gen2/jxpsfsensorlog_1_5.h"
#include "psf/gen2/jxpsfsensorlogframe_1_5.h"
#include "psf/gen2/jxpsftrackframe_1_5.h"
#include "psf/gen2/jxpsftrackpoint_1_5.h"
#include "psf/gen2/jxpsftrackseg_1_5.h"

namespace {

const quint32 None = 0xFFFFFFFF;

// A segment head as the device writes it: start time, start position (lon, lat), end position, start altitude code
// 4400 (100 m), time interval, next, point count, sensor-log offset.
QByteArray segmentHead(quint32 time, quint8 interval, quint32 next, quint32 count, quint32 sensorLog = None)
{
    char data[40] = {};
    qToLittleEndian<quint32>(time, data);
    qToLittleEndian<qint32>(8000000, data + 4);
    qToLittleEndian<qint32>(47000000, data + 8);
    qToLittleEndian<qint32>(8000100, data + 12);
    qToLittleEndian<qint32>(47000100, data + 16);
    qToLittleEndian<qint16>(4400, data + 20);
    qToLittleEndian<qint16>(4400, data + 22);
    data[25] = char(interval);
    qToLittleEndian<quint32>(next, data + 28);
    qToLittleEndian<quint32>(count, data + 32);
    qToLittleEndian<quint32>(sensorLog, data + 36);
    return QByteArray(data, sizeof(data));
}

// A route record with a track offset, as the device chains them.
QByteArray trackRoute(quint32 trackOffset, quint32 next)
{
    char record[36];
    memset(record, 0xFF, sizeof(record));
    record[4] = 0x01;
    qToLittleEndian<quint32>(trackOffset, record + 8);
    qToLittleEndian<quint32>(next, record + 28);
    return QByteArray(record, sizeof(record));
}

// A sensor log head: start time, next (none), interval, flags, count, types.
QByteArray logHead(quint32 time, quint8 interval, quint8 flags, quint16 count)
{
    char head[16];
    memset(head, 0xFF, sizeof(head));
    qToLittleEndian<quint32>(time, head);
    head[8] = char(interval);
    head[9] = char(flags);
    qToLittleEndian<quint16>(count, head + 10);
    head[12] = char(0x0E); // time type 2, break type 3
    return QByteArray(head, sizeof(head));
}

} // namespace

Q_DECLARE_METATYPE(JXPSFImageFixture::Layout)

// Track segments with their delta-coded points, packing the segment list, and the sensor logs of recorded tracks.
class TestJXPSFTrackFrame : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<JXPSFTrackFrame_1_5> trackFrame(JXPSFImageFixture& image)
    {
        return std::make_unique<JXPSFTrackFrame_1_5>(image.at(image.track().frameStart), image.info(), image.end());
    }

    std::unique_ptr<JXPSFRouteFrame_1_5> routeFrame(JXPSFImageFixture& image)
    {
        return std::make_unique<JXPSFRouteFrame_1_5>(image.at(image.route().frameStart), image.info(), image.end());
    }

    void putRoutes(JXPSFImageFixture& image, const QList<QByteArray>& records)
    {
        unsigned int offset = 0;
        for (const QByteArray& record : records) {
            image.put(image.route().tableStart + offset, record);
            offset += unsigned(record.size());
        }
        image.put16(image.route().frameStart + 8, quint16(records.size()));
    }

private slots:
    void pointClasses_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("locType");
        QTest::addColumn<int>("delAlt");
        QTest::addColumn<int>("delLon");
        QTest::addColumn<int>("delLat");
        QTest::addColumn<int>("delTime");
        QTest::addColumn<bool>("slopeCrest");
        QTest::addColumn<int>("size");

        QTest::newRow("class 0") << QByteArray::fromHex("08FE1000F0FF") << 0 << -2 << 16 << -16 << 2 << true << 6;
        QTest::newRow("class 1") << QByteArray::fromHex("050A011000F0FF") << 1 << 266 << 16 << -16 << 1 << false << 7;
        QTest::newRow("class 2") << QByteArray::fromHex("12FE40420F00C0BDF0FF") << 2 << -2 << 1000000 << -1000000 << 4
                                 << false << 10;
        QTest::newRow("class 3") << QByteArray::fromHex("0B9CFF40420F00C0BDF0FF") << 3 << -100 << 1000000 << -1000000
                                 << 2 << true << 11;
    }

    void pointClasses()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, locType);
        QFETCH(int, delAlt);
        QFETCH(int, delLon);
        QFETCH(int, delLat);
        QFETCH(int, delTime);
        QFETCH(bool, slopeCrest);
        QFETCH(int, size);
        JXPSFTrackPoint_1_5 point(bytes.data(), false);
        QCOMPARE(int(point.getLocType()), locType);
        QCOMPARE(int(point.getDelAlt()), delAlt);
        QCOMPARE(point.getDelLon(), delLon);
        QCOMPARE(point.getDelLat(), delLat);
        QCOMPARE(int(point.getDelTime()), delTime);
        QCOMPARE(point.isSlopeCrest(), slopeCrest);
        QCOMPARE(int(point.getBytesCount()), size);

        // Written back through the setters of the same class, the bytes come out the same.
        QByteArray written(bytes.size(), '\0');
        JXPSFTrackPoint_1_5 copy(written.data(), true);
        copy.setLocType(quint8(locType));
        copy.setSlopeCrest(slopeCrest);
        copy.setTurn(point.isTurn());
        copy.setSlopeBase(point.isSlopeBase());
        written[0] = char(quint8(written[0]) | (quint8(bytes[0]) & 0xE0));
        copy.setDelAlt(short(delAlt));
        copy.setDelLon(delLon);
        copy.setDelLat(delLat);
        QCOMPARE(written.toHex(), bytes.toHex());
    }

    void pointCounts_data()
    {
        QTest::addColumn<quint32>("count");
        QTest::addColumn<int>("points");
        QTest::newRow("erased") << 0xFFFFFFFFu << 0;
        QTest::newRow("65534") << 65534u << 0;
        QTest::newRow("two") << 2u << 2;
    }

    void pointCounts()
    {
        QFETCH(quint32, count);
        QFETCH(int, points);
        JXPSFImageFixture image;
        const unsigned int list = image.track().tableStart;
        image.put(list, segmentHead(1000, 4, None, count) + QByteArray::fromHex("04000100FFFF" "0C00FFFF0100"));
        JXPSFTrackSeg_1_5 segment(image.at(list), false, image.at(list + image.track().tableSize));
        QCOMPARE(segment.getTrackPoints().size(), points);
        QCOMPARE(segment.getBytesCount(), 40u + 6u * unsigned(points));
    }

    void iteratorAddsDeltasToTheStart()
    {
        JXPSFImageFixture image;
        const unsigned int list = image.track().tableStart;
        // Time counts 1 and 3 at interval 4; the second point climbs 1.5 m.
        image.put(list, segmentHead(1000, 4, None, 2) + QByteArray::fromHex("04000100FFFF" "0C0FFFFF0200"));
        JXPSFTrackSeg_1_5 segment(image.at(list), false, image.at(list + image.track().tableSize));
        JXPSFTrackPointIter points = segment.getPointIterator();
        QVERIFY(points.next());
        QCOMPARE(points.getTime(), 1004u);
        QCOMPARE(points.getLatlng().getLat(), 47000000 - 1);
        QCOMPARE(points.getLatlng().getLng(), 8000000 + 1);
        QCOMPARE(points.getAlt(), 100.0);
        QVERIFY(points.next());
        QCOMPARE(points.getTime(), 1016u);
        QCOMPARE(points.getLatlng().getLat(), 47000000 + 1);
        QCOMPARE(points.getLatlng().getLng(), 8000000);
        QCOMPARE(points.getAlt(), 101.5);
        QVERIFY(!points.next());
        QCOMPARE(points.getTime(), 0u);
        QVERIFY(points.getLatlng().isNull());
        QVERIFY(!points.next());
    }

    void emptyIterator()
    {
        JXPSFImageFixture image;
        const unsigned int list = image.track().tableStart;
        image.put(list, segmentHead(1000, 4, None, 0));
        JXPSFTrackSeg_1_5 segment(image.at(list), false, image.at(list + image.track().tableSize));
        JXPSFTrackPointIter points = segment.getPointIterator();
        QVERIFY(!points.next());
        QVERIFY(points.getLatlng().isNull());
        QCOMPARE(points.getAlt(), JXPSFValue::InvalidValue);
        QCOMPARE(points.getTime(), 0u);
    }

    void newSegmentAndPoint()
    {
        JXPSFImageFixture image;
        const unsigned int list = image.track().tableStart;
        const quint32 end = image.header(JXExtFlashInfo_2M::TrackTableEnd);
        const quint32 room = image.header(JXExtFlashInfo_2M::TrackRoomLeft);
        {
            JXPSFTrackSeg_1_5 segment(image.at(list), true, image.at(list + image.track().tableSize));
            QCOMPARE(segment.getBytesCount(), 40u);
            JXPSFTrackPoint_1_5* point = segment.createTrackPoint(image.info());
            QVERIFY(point);
            point->setDelLat(-16);
            point->setDelLon(16);
            point->setDelAlt(-2);
            point->setSlopeCrest(true);
            QCOMPARE(segment.getBytesCount(), 46u);
        }
        QCOMPARE(image.bytes(list, 46).toHex(),
                 QByteArray("00000000" "ffffffff" "ffffffff" "ffffffff" "ffffffff" "0000" "0000" "00000000"
                            "ffffffff" "01000000" "ffffffff" "08fe1000f0ff"));
        QCOMPARE(image.header(JXExtFlashInfo_2M::TrackTableEnd), end + 6);
        QCOMPARE(image.header(JXExtFlashInfo_2M::TrackRoomLeft), room - 6);

        JXPSFTrackSeg_1_5 fresh(image.at(list), false, image.at(list + image.track().tableSize));
        QCOMPARE(fresh.getTime(), 0u);
        QCOMPARE(fresh.getPntCount(), 1u);
        QCOMPARE(fresh.getNext(), None);
        QCOMPARE(fresh.getSsrLogOffset(), None);
        QCOMPARE(fresh.getStartLat(), -1);
        QCOMPARE(fresh.getEndLon(), -1);
        QCOMPARE(fresh.getBytesCount(), 46u);
    }

    void segmentFields()
    {
        QByteArray head(40, '\0');
        JXPSFTrackSeg_1_5 segment(head.data(), true, head.constData() + head.size());
        segment.setSWpt(true);
        segment.setItvEnd(true);
        segment.setTimeType(2);
        segment.setBreakType(5);
        segment.setActType(9);
        segment.setStartAlt(4400);
        QCOMPARE(int(quint8(head[24])), 0x02 | 0x10 | 0x40);
        QCOMPARE(int(quint8(head[26])), 0x95);
        QVERIFY(segment.isSWpt() && !segment.isEWpt() && !segment.isItvStart() && segment.isItvEnd());
        QCOMPARE(segment.getTimeType(), quint8(2));
        QCOMPARE(segment.getBreakType(), quint8(5));
        QCOMPARE(segment.getActType(), quint8(9));
        QCOMPARE(segment.getStartAlt().getValue(), 100.0);
    }

    void packingMovesSegmentsRouteByRoute_data()
    {
        QTest::addColumn<JXPSFImageFixture::Layout>("layout");
        QTest::newRow("table A") << JXPSFImageFixture::Layout::A;
        QTest::newRow("table B") << JXPSFImageFixture::Layout::B;
    }

    void packingMovesSegmentsRouteByRoute()
    {
        QFETCH(JXPSFImageFixture::Layout, layout);
        JXPSFImageFixture image(layout);
        const unsigned int list = image.track().tableStart;
        const QByteArray points2 = QByteArray::fromHex("04000100FFFF" "04000100FFFF");
        const QByteArray point1 = QByteArray::fromHex("04000100FFFF");
        // Second route's segment (64 bytes) first, then the first route's two (52, 46) out of place.
        const QByteArray second = segmentHead(3000, 1, None, 4, 7) + point1 + point1 + point1 + point1;
        const QByteArray firstA = segmentHead(1000, 1, 200, 2) + points2;
        const QByteArray firstB = segmentHead(2000, 1, None, 1) + point1;
        image.put(list, second);
        image.put(list + 74, firstA);
        image.put(list + 200, firstB);
        putRoutes(image, {trackRoute(74, 36), trackRoute(0, 72), trackRoute(None, None)});

        auto routes = routeFrame(image);
        auto tracks = trackFrame(image);
        QVector<JXPSFRoute_1_5*> kept = routes->getRoutes();
        tracks->rearrangeTrackTable(kept, image.info());

        QCOMPARE(kept.at(0)->getTrkOffset(), 0u);
        QCOMPARE(kept.at(1)->getTrkOffset(), 98u);
        QVERIFY(!kept.at(2)->hasTrack());
        QCOMPARE(image.get32(list + 28), 52u);
        QCOMPARE(image.get32(list + 52 + 28), None);
        QCOMPARE(image.get32(list + 98 + 28), None);
        QCOMPARE(image.bytes(list + 40, 12), points2);
        QCOMPARE(image.bytes(list + 98 + 36, 4), QByteArray::fromHex("07000000"));
        QCOMPARE(image.bytes(list + 162, 256), QByteArray(256, char(0xFF)));
        QCOMPARE(image.header(JXExtFlashInfo_2M::TrackTableEnd), list + 162);
        QCOMPARE(image.header(JXExtFlashInfo_2M::TrackRoomLeft), image.track().tableSize - 162);
        // The routes hold views of the packed list.
        QCOMPARE(kept.at(0)->getTrack().size(), 2);
        QCOMPARE(kept.at(0)->getTrack().at(1)->getTime(), 2000u);
        QCOMPARE(kept.at(1)->getTrack().first()->getTrackPoints().size(), 4);

        QVector<JXPSFRoute_1_5*> none;
        tracks->rearrangeTrackTable(none, image.info());
        QCOMPARE(image.bytes(list, 162), QByteArray(162, char(0xFF)));
        QCOMPARE(image.header(JXExtFlashInfo_2M::TrackTableEnd), list);
        QCOMPARE(image.header(JXExtFlashInfo_2M::TrackRoomLeft), image.track().tableSize);
    }

    void sampleLayout_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<QList<int>>("positions");
        QTest::addColumn<int>("size");
        QTest::newRow("all") << 0x7F << QList<int>{0, 1, 2, 3, 5, 7, 9} << 10;
        QTest::newRow("speed, heart rate, power") << 0x0D << QList<int>{0, -1, 1, 2, -1, -1, -1} << 4;
        QTest::newRow("temperature") << 0x10 << QList<int>{-1, -1, -1, -1, 0, -1, -1} << 2;
        QTest::newRow("none, bit 7 unused") << 0x80 << QList<int>{-1, -1, -1, -1, -1, -1, -1} << 0;
    }

    void sampleLayout()
    {
        QFETCH(int, flags);
        QFETCH(QList<int>, positions);
        QFETCH(int, size);
        QByteArray log = logHead(2000, 5, quint8(flags), 2) + QByteArray(20, '\0');
        JXPSFSensorLog_1_5 view(log.data(), log.constData() + log.size());
        for (int field = 0; field < JXPSFSensorLog_1_5::FieldCount; ++field)
            QCOMPARE(view.fieldPosition(JXPSFSensorLog_1_5::Field(field)), positions.at(field));
        QCOMPARE(int(view.getSampleSize()), size);
        QCOMPARE(int(view.getBytesCount()), 16 + 2 * size);
        QCOMPARE(view.getTmpFlag(), (flags & 0x10) != 0);
    }

    void samplesThroughTheIterator()
    {
        // All seven fields: speed 80, cadence 64, heart rate 0xFF (absent), power 250, temperature 21.5, BRM 30,
        // GPS signal 3; then a sample of zeros and one more.
        QByteArray log = logHead(2000, 5, 0x7F, 3) + QByteArray::fromHex("5040FFFA00D7000F0003") + QByteArray(10, '\0')
                         + QByteArray(10, '\0');
        JXPSFSensorLog_1_5 view(log.data(), log.constData() + log.size());
        QCOMPARE(view.getStartTime(), 2000u);
        QCOMPARE(view.getTimeInterval(), quint8(5));
        QCOMPARE(view.getTimeType(), quint8(2));
        QCOMPARE(view.getBreadkType(), quint8(3));
        QCOMPARE(view.getSensorPoints().first()->getGPSSig(), quint8(3));
        JXPSFSsrLogPointIter samples = view.getPointIterator();
        QVERIFY(!samples.getSpeed().isValid());
        QCOMPARE(samples.getTime(), 0u);
        QVERIFY(samples.next());
        QCOMPARE(samples.getTime(), 2000u);
        QCOMPARE(samples.getSpeed().getValue(), 80 * 3.6 * 0.125);
        QCOMPARE(samples.getRPM().getValue(), 64.0);
        QCOMPARE(samples.getStride().getValue(), 64 * 60 * 0.015625);
        QVERIFY(!samples.getBPM().isValid());
        QCOMPARE(samples.getPower().getValue(), 250.0);
        QCOMPARE(samples.getTemperature().getValue(), 21.5);
        QCOMPARE(samples.getBRM().getValue(), 30.0);
        QVERIFY(samples.next());
        QCOMPARE(samples.getTime(), 2005u);
        QVERIFY(samples.next());
        QCOMPARE(samples.getTime(), 2010u);
        QVERIFY(!samples.next());
        QCOMPARE(samples.getTime(), 0u);
        QVERIFY(!samples.getSpeed().isValid());
        QVERIFY(!samples.getTemperature().isValid());
    }

    void temperature_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<QByteArray>("sample");
        QTest::addColumn<int>("raw");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<double>("degrees");
        QTest::newRow("-1.0") << 0x10 << QByteArray::fromHex("F6FF") << -10 << true << -1.0;
        QTest::newRow("raw FF FF is -0.1") << 0x10 << QByteArray::fromHex("FFFF") << -1 << true << -0.1;
        QTest::newRow("absent") << 0x01 << QByteArray::fromHex("50") << -1 << false << 65535.0;
    }

    void temperature()
    {
        QFETCH(int, flags);
        QFETCH(QByteArray, sample);
        QFETCH(int, raw);
        QFETCH(bool, valid);
        QFETCH(double, degrees);
        QByteArray log = logHead(0, 1, quint8(flags), 1) + sample;
        JXPSFSensorLog_1_5 view(log.data(), log.constData() + log.size());
        QCOMPARE(int(view.getSensorPoints().first()->getTmp()), raw);
        JXPSFSsrLogPointIter samples = view.getPointIterator();
        QVERIFY(samples.next());
        QCOMPARE(samples.getTemperature().isValid(), valid);
        QCOMPARE(samples.getTemperature().getValue(), degrees);
    }

    void erasedSampleCount()
    {
        QByteArray log = logHead(0, 1, 0x7F, 0xFFFF) + QByteArray(10, '\0');
        JXPSFSensorLog_1_5 view(log.data(), log.constData() + log.size());
        QCOMPARE(view.getPntCount(), quint16(0));
        QVERIFY(view.getSensorPoints().isEmpty());
        QCOMPARE(view.getBytesCount(), 16u);
    }

    void onlyTheLoggedSegmentGetsALog()
    {
        JXPSFImageFixture image;
        const unsigned int list = image.track().tableStart;
        image.put(list, segmentHead(1000, 1, 40, 0) + segmentHead(2000, 1, None, 0, 16));
        image.put(image.sensorLog().tableStart + 16, logHead(2000, 1, 0x04, 2) + QByteArray::fromHex("7880"));
        putRoutes(image, {trackRoute(0, None)});
        auto routes = routeFrame(image);
        auto tracks = trackFrame(image);
        JXPSFRoute_1_5* route = routes->getRoutes().first();
        tracks->loadTrackSegs(route);
        QCOMPARE(route->getTrack().size(), 2);
        JXPSFSensorLogFrame_1_5 logs(image.at(image.sensorLog().frameStart), image.info(), image.end());
        QCOMPARE(logs.getLogOffset(), 24u);
        logs.loadSensorLogOfRoute(route);
        QCOMPARE(route->getSensorLog().size(), 1);
        QVERIFY(!route->getTrack().at(0)->getSensorLogSeg());
        QCOMPARE(route->getTrack().at(1)->getSensorLogSeg(), route->getSensorLog().first());
        QCOMPARE(route->getSensorLog().first()->getSensorPoints().at(1)->getBPM(), quint8(0x80));
    }

    void sensorLogTablePackAndErase()
    {
        JXPSFImageFixture image;
        const unsigned int list = image.track().tableStart;
        const unsigned int table = image.sensorLog().tableStart;
        const QByteArray log = logHead(2000, 1, 0x04, 2) + QByteArray::fromHex("7880");
        image.put(list, segmentHead(1000, 1, None, 0, 100));
        image.put(table + 100, log);
        putRoutes(image, {trackRoute(0, None)});
        auto routes = routeFrame(image);
        auto tracks = trackFrame(image);
        QVector<JXPSFRoute_1_5*> all = routes->getRoutes();
        tracks->loadTrackSegs(all.first());
        JXPSFSensorLogFrame_1_5 logs(image.at(image.sensorLog().frameStart), image.info(), image.end());
        const QByteArray headerBefore = image.bytes(0, 256);
        logs.rearrangeSensorLogTable(all);
        QCOMPARE(image.bytes(table, log.size()), log);
        QCOMPARE(all.first()->getTrack().first()->getSsrLogOffset(), 0u);
        QCOMPARE(all.first()->getSensorLog().first()->getData(), image.at(table));
        QCOMPARE(image.bytes(0, 256), headerBefore);

        logs.eraseSensorLogTable(image.info());
        QCOMPARE(image.bytes(table, image.sensorLog().tableSize), QByteArray(int(image.sensorLog().tableSize), char(0xFF)));
        QCOMPARE(image.header(JXExtFlashInfo_2M::SensorLogTableEnd), table);
        QCOMPARE(image.header(JXExtFlashInfo_2M::SensorLogRoomLeft), image.sensorLog().tableSize);
    }

    void routesSharingTheirRecordsLoadWithinEachTable()
    {
        // A damaged image: the route count fills the route table and the chain keeps coming back to its one record,
        // which names 254 laps and a summary, a segment of 1000 points and through it a log of 1000 samples. Each
        // route read alone would load all of them again.
        JXPSFImageFixture image;
        QByteArray route = trackRoute(0, 0);
        qToLittleEndian<quint32>(0, route.data() + 12);
        qToLittleEndian<quint32>(56, route.data() + 16);
        route[24] = char(254);
        const int routeCount = int(image.route().tableSize / 36);
        image.put(image.route().tableStart, route);
        image.put16(image.route().frameStart + 8, quint16(routeCount));
        QByteArray points;
        for (int index = 0; index < 1000; ++index)
            points += QByteArray::fromHex("04000100FFFF");
        image.put(image.track().tableStart, segmentHead(1000, 1, None, 1000, 0) + points);
        image.put(image.sensorLog().tableStart, logHead(1000, 1, 0x7F, 1000) + QByteArray(10000, '\x01'));

        for (const char* what : {"laps", "track segments", "sensor logs"}) {
            QTest::ignoreMessage(
                QtWarningMsg,
                QRegularExpression(
                    QStringLiteral("%1 loaded for all their holders would exceed").arg(QLatin1String(what))));
        }
        auto routes = routeFrame(image);
        auto tracks = trackFrame(image);
        JXPSFSensorLogFrame_1_5 logs(image.at(image.sensorLog().frameStart), image.info(), image.end());
        QCOMPARE(routes->getRoutes().size(), routeCount);
        quint64 laps = 0;
        quint64 segmentBytes = 0;
        quint64 logBytes = 0;
        for (JXPSFRoute_1_5* each : qAsConst(routes->getRoutes())) {
            tracks->loadTrackSegs(each);
            logs.loadSensorLogOfRoute(each);
            laps += quint64(each->getLaps().size()) + (each->getSummary() ? 1 : 0);
            for (JXPSFTrackSeg_1_5* segment : qAsConst(each->getTrack()))
                segmentBytes += segment->getBytesCount();
            for (JXPSFSensorLog_1_5* log : qAsConst(each->getSensorLog()))
                logBytes += log->getBytesCount();
        }
        // The first routes get all they name; the table's worth of views is then spent, and no view is partial.
        QCOMPARE(laps, quint64(image.lap().tableSize / 56));
        QCOMPARE(routes->getRoutes().first()->getLaps().size(), 254);
        QCOMPARE(routes->getRoutes().last()->getLaps().size(), 0);
        const quint64 segmentSize = 40 + 6000;
        QCOMPARE(segmentBytes, image.track().tableSize / segmentSize * segmentSize);
        QCOMPARE(routes->getRoutes().first()->getTrack().first()->getTrackPoints().size(), 1000);
        QVERIFY(routes->getRoutes().last()->getTrack().isEmpty());
        const quint64 logSize = 16 + 10000;
        QCOMPARE(logBytes, image.sensorLog().tableSize / logSize * logSize);
        QVERIFY(routes->getRoutes().last()->getSensorLog().isEmpty());

        // Views let go give their share back: the last route, loaded again once the first has dropped its own,
        // gets what the first had.
        JXPSFRoute_1_5* first = routes->getRoutes().first();
        JXPSFRoute_1_5* last = routes->getRoutes().last();
        QVector<JXPSFTrackSeg_1_5*> none;
        first->setTrack(none);
        first->trackShare().release();
        tracks->loadTrackSegs(last);
        QCOMPARE(last->getTrack().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestJXPSFTrackFrame)
#include "tst_jxpsftrackframe.moc"
