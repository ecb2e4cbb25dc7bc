#include <QtTest>

#include <memory>

#include "jxpsf15imagefixture.h"
#include "psf/gen2/jxpsflap_1_5.h"
#include "psf/gen2/jxpsfpoi_1_5.h"
#include "psf/gen2/jxpsfpoiframe_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsfrouteframe_1_5.h"
#include "psf/gen2/jxpsfsensorlog_1_5.h"
#include "psf/gen2/jxpsfsensorlogframe_1_5.h"
#include "psf/gen2/jxpsftrackframe_1_5.h"
#include "psf/gen2/jxpsftrackpoint_1_5.h"
#include "psf/gen2/jxpsftrackseg_1_5.h"
#include "psf/gen2/jxpsfuserinfolog_1_5.h"
#include "psf/gen2/jxpsfuserinfologframe_1_5.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define JX_POISON(at, size) ASAN_POISON_MEMORY_REGION(at, size)
#define JX_UNPOISON(at, size) ASAN_UNPOISON_MEMORY_REGION(at, size)
#else
#define JX_POISON(at, size) ((void)(at), (void)(size))
#define JX_UNPOISON(at, size) ((void)(at), (void)(size))
#endif

namespace {

using Layout = JXPSFTestImage::Layout;
using Patches = QVector<QPair<quint32, QByteArray>>;

const quint32 None = 0xFFFFFFFF;

QByteArray le32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian<quint32>(value, bytes.data());
    return bytes;
}

QByteArray le16(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToLittleEndian<quint16>(value, bytes.data());
    return bytes;
}

// A POI without names, chained to next.
QByteArray poiRecord(quint32 next, quint32 nameOffset = None)
{
    return QByteArray(12, '\0') + le32(next) + QByteArray(4, '\0') + le32(nameOffset);
}

// A recorded track's record: track, summary, lap and user-info offsets, lap count, next, name offset.
QByteArray routeRecord(quint32 next, quint32 track = None, quint32 lapOffset = None, quint8 lapCount = 0xFF,
                       quint32 summary = None, quint32 userInfo = None, quint32 names = None)
{
    return le32(1700000000) + QByteArray::fromHex("0100FFFF") + le32(track) + le32(summary) + le32(lapOffset)
           + le32(userInfo) + QByteArray(1, char(lapCount)) + QByteArray::fromHex("FF0000") + le32(next) + le32(names);
}

QByteArray segmentHead(quint32 next, quint32 count, quint32 sensorLog = None)
{
    return QByteArray(28, '\0') + le32(next) + le32(count) + le32(sensorLog);
}

// Areas of table A, where every row is built.
const JXPSFTestImage::Area kPOI = JXPSFTestImage::poi(Layout::A);
const JXPSFTestImage::Area kRoute = JXPSFTestImage::route(Layout::A);
const JXPSFTestImage::Area kLap = JXPSFTestImage::lap(Layout::A);
const JXPSFTestImage::Area kTrack = JXPSFTestImage::track(Layout::A);
const JXPSFTestImage::Area kSensor = JXPSFTestImage::sensorLog(Layout::A);
const JXPSFTestImage::Area kUserInfo = JXPSFTestImage::userInfoLog(Layout::A);

// One route at the table start pointing to what a row damages; a healthy segment with no points at list start.
Patches oneRoute(quint32 track = None, quint32 lapOffset = None, quint8 lapCount = 0xFF, quint32 summary = None,
                 quint32 userInfo = None)
{
    return {{kRoute.frameStart + 8, le16(1)}, {kRoute.tableStart, routeRecord(None, track, lapOffset, lapCount, summary, userInfo)}};
}

} // namespace

Q_DECLARE_METATYPE(Patches)

// Damaged images give the records that fit and never an access outside the image or the record's own table (the
// rest of the image is poisoned under AddressSanitizer); creates refuse records that no longer fit.
class TestJXPSFFrameBounds : public QObject
{
    Q_OBJECT

private:
    // Everything but the flash header and the frames' heads and tables.
    void poisonOutsideTables(JXPSFImageFixture& image)
    {
        JX_POISON(image.at(0), JXPSFTestImage::ImageSize);
        JX_UNPOISON(image.at(0), 256);
        for (const JXPSFTestImage::Area& area : {kPOI, kRoute, kLap, kTrack, kSensor, kUserInfo})
            JX_UNPOISON(image.at(area.frameStart), area.tableStart + area.tableSize - area.frameStart);
    }

    void unpoison(JXPSFImageFixture& image) { JX_UNPOISON(image.at(0), JXPSFTestImage::ImageSize); }

    static void putAll(JXPSFImageFixture& image, const Patches& patches)
    {
        for (const auto& patch : patches)
            image.put(patch.first, patch.second);
    }

    static void requireInside(JXPSFObject* record, const JXPSFTestImage::Area& area, JXPSFImageFixture& image)
    {
        const char* start = image.at(area.tableStart);
        QVERIFY(record->getData() >= start);
        QVERIFY(record->getData() + record->getBytesCount() <= start + area.tableSize);
    }

private slots:
    void damagedImages_data()
    {
        QTest::addColumn<Patches>("patches");
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("expected");

        Patches pois{{kPOI.frameStart, le32(130)}};
        for (quint32 index = 0; index < 125; ++index)
            pois.append({kPOI.tableStart + index * 24, poiRecord((index + 1) * 24)});
        QTest::newRow("POI count past the table") << pois << "pois" << 125;
        QTest::newRow("POI next outside the table")
            << Patches{{kPOI.frameStart, le32(3)}, {kPOI.tableStart, poiRecord(3000)}} << "pois" << 1;
        QTest::newRow("POI names over erased flash")
            << Patches{{kPOI.frameStart, le32(2)}, {kPOI.tableStart, poiRecord(24) + poiRecord(None, 24)}} << "pois" << 1;
        QTest::newRow("POI table offset past the image")
            << Patches{{kPOI.frameStart, le32(1) + le32(0xFFFFFF00)}} << "pois" << 0;

        Patches routes{{kRoute.frameStart + 8, le16(0xFFFE)}};
        const quint32 fit = kRoute.tableSize / 36;
        for (quint32 index = 0; index < fit; ++index)
            routes.append({kRoute.tableStart + index * 36, routeRecord((index + 1) * 36)});
        QTest::newRow("route count past the table") << routes << "routes" << int(fit);
        QTest::newRow("route chain loops")
            << Patches{{kRoute.frameStart + 8, le16(0xFFFE)}, {kRoute.tableStart, routeRecord(36) + routeRecord(0)}}
            << "routes" << int(fit);
        QTest::newRow("route next outside the table")
            << Patches{{kRoute.frameStart + 8, le16(2)}, {kRoute.tableStart, routeRecord(kRoute.tableSize)}} << "routes" << 1;
        QTest::newRow("route names past the table end")
            << Patches{{kRoute.frameStart + 8, le16(2)},
                       {kRoute.tableStart, routeRecord(kRoute.tableSize - 36)},
                       {kRoute.tableStart + kRoute.tableSize - 36, routeRecord(None, None, None, 0xFF, None, None, 36)}}
            << "routes" << 1;
        QTest::newRow("route names over erased flash")
            << Patches{{kRoute.frameStart + 8, le16(1)}, {kRoute.tableStart, routeRecord(None, None, None, 0xFF, None, None, 36)}}
            << "routes" << 0;
        QTest::newRow("route table offset past the image")
            << Patches{{kRoute.frameStart, le32(0xFFFFFFF0)}, {kRoute.frameStart + 8, le16(1)}} << "routes" << 0;
        QTest::newRow("laps past the lap table") << oneRoute(None, kLap.tableSize - 56, 2) << "laps" << 1;
        QTest::newRow("lap offset outside") << oneRoute(None, kLap.tableSize, 1) << "laps" << 0;
        QTest::newRow("summary crosses the lap table end") << oneRoute(None, None, 0xFF, kLap.tableSize - 55) << "summary" << 0;

        QTest::newRow("track offset outside") << oneRoute(kTrack.tableSize) << "segments" << 0;
        Patches loop = oneRoute(0);
        loop.append({kTrack.tableStart, segmentHead(40, 0) + segmentHead(0, 0)});
        QTest::newRow("two segments loop") << loop << "segments" << 2;
        // Longer chains keep what they have been at in a hash set: a loop back to a segment from before the switch
        // and to one from after it.
        for (const quint32 back : {3u, 18u}) {
            Patches longLoop = oneRoute(0);
            QByteArray chain;
            for (quint32 index = 0; index < 20; ++index)
                chain += segmentHead(index + 1 < 20 ? (index + 1) * 40 : back * 40, 0);
            longLoop.append({kTrack.tableStart, chain});
            QTest::newRow(qPrintable(QStringLiteral("twenty segments loop back to segment %1").arg(back)))
                << longLoop << "segments" << 20;
        }
        Patches pastEnd = oneRoute(kTrack.tableSize - 46);
        pastEnd.append({kTrack.tableStart + kTrack.tableSize - 46, segmentHead(None, 2) + QByteArray::fromHex("000000000000")});
        QTest::newRow("points past the list end") << pastEnd << "segments" << 0;
        Patches leaves = oneRoute(0);
        leaves.append({kTrack.tableStart, segmentHead(kTrack.tableSize - 39, 0)});
        QTest::newRow("segment chain leaves the list") << leaves << "segments" << 1;
        Patches classThree = oneRoute(kTrack.tableSize - 50);
        classThree.append({kTrack.tableStart + kTrack.tableSize - 50, segmentHead(None, 1) + QByteArray::fromHex("03000000000000000000")});
        QTest::newRow("class 3 point one byte past the end") << classThree << "segments" << 0;

        Patches sensorOutside = oneRoute(0);
        sensorOutside.append({kTrack.tableStart, segmentHead(None, 0, kSensor.tableSize)});
        QTest::newRow("sensor-log offset outside") << sensorOutside << "logs" << 0;
        Patches samples = oneRoute(0);
        samples.append({kTrack.tableStart, segmentHead(None, 0, kSensor.tableSize - 25)});
        samples.append({kSensor.tableStart + kSensor.tableSize - 25, le32(0) + le32(None) + QByteArray::fromHex("017F0100") + le32(0)});
        QTest::newRow("samples past the table end") << samples << "logs" << 0;

        QTest::newRow("user-info offset outside") << oneRoute(None, None, 0xFF, None, kUserInfo.tableSize - 23) << "userinfo" << 0;
        Patches zones = oneRoute(None, None, 0xFF, None, kUserInfo.tableSize - 28);
        zones.append({kUserInfo.tableStart + kUserInfo.tableSize - 28, QByteArray(14, '\0') + QByteArray(1, char(0x10)) + QByteArray(9, '\0') + QByteArray::fromHex("10000000")});
        QTest::newRow("zone count past the table end") << zones << "userinfo" << 0;
        Patches zonesFit = oneRoute(None, None, 0xFF, None, kUserInfo.tableSize - 28);
        zonesFit.append({kUserInfo.tableStart + kUserInfo.tableSize - 28, QByteArray(14, '\0') + QByteArray(1, char(0x08)) + QByteArray(9, '\0') + QByteArray::fromHex("00000000")});
        QTest::newRow("zones up to the table end") << zonesFit << "userinfo" << 1;
    }

    void damagedImages()
    {
        QFETCH(Patches, patches);
        QFETCH(QString, what);
        QFETCH(int, expected);
        JXPSFImageFixture image(Layout::A);
        putAll(image, patches);
        poisonOutsideTables(image);

        JXPSFPOIFrame_1_5 pois(image.at(kPOI.frameStart), image.info(), image.end());
        JXPSFRouteFrame_1_5 routes(image.at(kRoute.frameStart), image.info(), image.end());
        JXPSFTrackFrame_1_5 tracks(image.at(kTrack.frameStart), image.info(), image.end());
        JXPSFSensorLogFrame_1_5 logs(image.at(kSensor.frameStart), image.info(), image.end());
        JXPSFUserInfoLogFrame_1_5 userInfo(image.at(kUserInfo.frameStart), image.info(), image.end());
        for (JXPSFPOI_1_5* poi : qAsConst(pois.getPOIs()))
            requireInside(poi, kPOI, image);
        int laps = 0, summaries = 0, segments = 0, sensorLogs = 0, userInfos = 0;
        for (JXPSFRoute_1_5* route : qAsConst(routes.getRoutes())) {
            requireInside(route, kRoute, image);
            tracks.loadTrackSegs(route);
            logs.loadSensorLogOfRoute(route);
            userInfo.loadUserInfoLog(route);
            for (JXPSFLap_1_5* lap : qAsConst(route->getLaps()))
                requireInside(lap, kLap, image);
            for (JXPSFTrackSeg_1_5* segment : qAsConst(route->getTrack())) {
                requireInside(segment, kTrack, image);
                JXPSFTrackPointIter points = segment->getPointIterator();
                while (points.next()) {}
            }
            for (JXPSFSensorLog_1_5* log : qAsConst(route->getSensorLog())) {
                requireInside(log, kSensor, image);
                JXPSFSsrLogPointIter samples = log->getPointIterator();
                while (samples.next())
                    samples.getTemperature();
            }
            if (route->getUserInfoLog())
                requireInside(route->getUserInfoLog(), kUserInfo, image);
            laps += route->getLaps().size();
            summaries += route->getSummary() ? 1 : 0;
            segments += route->getTrack().size();
            sensorLogs += route->getSensorLog().size();
            userInfos += route->getUserInfoLog() ? 1 : 0;
        }
        unpoison(image);

        const QMap<QString, int> counts{{"pois", pois.getPOIs().size()}, {"routes", routes.getRoutes().size()},
                                        {"laps", laps}, {"summary", summaries}, {"segments", segments},
                                        {"logs", sensorLogs}, {"userinfo", userInfos}};
        QVERIFY(counts.contains(what));
        QCOMPARE(counts.value(what), expected);
    }

    void poisUntilFull()
    {
        JXPSFImageFixture image;
        const QByteArray next = image.bytes(kPOI.tableStart + 3000, 64);
        JXPSFPOIFrame_1_5 frame(image.at(kPOI.frameStart), image.info(), image.end());
        int created = 0;
        while (frame.createPOI())
            ++created;
        QCOMPARE(created, 3000 / 24);
        QCOMPARE(frame.getPOIs().last()->getData() + 24, image.at(kPOI.tableStart + 3000));
        const QByteArray full = image.image();
        QVERIFY(!frame.createPOI());
        QCOMPARE(image.image(), full);
        QCOMPARE(image.bytes(kPOI.tableStart + 3000, 64), next);
    }

    void routesUntilFull_data()
    {
        QTest::addColumn<quint32>("roomLeft");
        QTest::addColumn<int>("expected");
        // 36 + 12 + 4 bytes each; the table holds 644 of them, and the header's room left may say less.
        QTest::newRow("table end") << 0xFFFFFFFFu << int(0x82D8 / 52);
        QTest::newRow("room left") << 52u * 3 + 51 << 3;
    }

    void routesUntilFull()
    {
        QFETCH(quint32, roomLeft);
        QFETCH(int, expected);
        JXPSFImageFixture image;
        image.setHeader(JXExtFlashInfo_2M::RouteRoomLeft, roomLeft);
        const QByteArray next = image.bytes(kRoute.tableStart + kRoute.tableSize, 64);
        JXPSFRouteFrame_1_5 frame(image.at(kRoute.frameStart), image.info(), image.end());
        int created = 0;
        while (frame.createRoute({"Home"}, {"eng"}, false, image.info()))
            ++created;
        QCOMPARE(created, expected);
        QCOMPARE(image.header(JXExtFlashInfo_2M::RouteRoomLeft), roomLeft - 52u * unsigned(expected));
        const QByteArray full = image.image();
        QVERIFY(!frame.createRoute({"Home"}, {"eng"}, false, image.info()));
        QCOMPARE(image.image(), full);
        QCOMPARE(image.bytes(kRoute.tableStart + kRoute.tableSize, 64), next);
        JXPSFRouteFrame_1_5 fresh(image.at(kRoute.frameStart), image.info(), image.end());
        QCOMPARE(fresh.getRoutes().size(), expected);
    }

    // A chain out of table order, or names put further than right behind their record: a new record goes behind
    // the furthest stored byte, never over a stored record, and the last record of the chain leads to it.
    void newRecordsGoBehindTheFurthest_data()
    {
        QTest::addColumn<Patches>("patches");
        QTest::addColumn<bool>("route");       // otherwise a POI
        QTest::addColumn<quint32>("lastAt");   // offset of the chain's last record in its table
        QTest::addColumn<quint32>("expected"); // offset of the new record
        // Name record: no further name, width 0, four ASCII bytes, "eng", reserved and picture size, then "Ride".
        const QByteArray name = QByteArray::fromHex("00000400656e6700000000005269646500");
        QTest::newRow("POIs 0, 48, 24") << Patches{{kPOI.frameStart, le32(3)},
                                                   {kPOI.tableStart, poiRecord(48) + poiRecord(None) + poiRecord(24)}}
                                        << false << 24u << 72u;
        QTest::newRow("POI names at 60") << Patches{{kPOI.frameStart, le32(1)},
                                                    {kPOI.tableStart, poiRecord(None, 60)},
                                                    {kPOI.tableStart + 60, name.left(16)}}
                                         << false << 0u << 76u;
        QTest::newRow("routes 0, 72, 36")
            << Patches{{kRoute.frameStart + 8, le16(3)},
                       {kRoute.tableStart, routeRecord(72) + routeRecord(None) + routeRecord(36)}}
            << true << 36u << 108u;
        QTest::newRow("route names at 60")
            << Patches{{kRoute.frameStart + 8, le16(1)},
                       {kRoute.tableStart, routeRecord(None, None, None, 0xFF, None, None, 60)},
                       {kRoute.tableStart + 60, name.left(16)}}
            << true << 0u << 76u;
    }

    void newRecordsGoBehindTheFurthest()
    {
        QFETCH(Patches, patches);
        QFETCH(bool, route);
        QFETCH(quint32, lastAt);
        QFETCH(quint32, expected);
        JXPSFImageFixture image(Layout::A);
        putAll(image, patches);
        const JXPSFTestImage::Area table = route ? kRoute : kPOI;
        const QByteArray stored = image.bytes(table.tableStart, int(expected));

        JXPSFObject* made = nullptr;
        quint32 lastNext = 0;
        if (route) {
            JXPSFRouteFrame_1_5 frame(image.at(kRoute.frameStart), image.info(), image.end());
            JXPSFRoute_1_5* last = frame.getRoutes().last();
            made = frame.createRoute({"Home"}, {"eng"}, false, image.info());
            QVERIFY(made);
            QCOMPARE(made->getData(), image.at(table.tableStart + expected));
            lastNext = last->getNextOffset();
        } else {
            JXPSFPOIFrame_1_5 frame(image.at(kPOI.frameStart), image.info(), image.end());
            JXPSFPOI_1_5* last = frame.getPOIs().last();
            made = frame.createPOI();
            QVERIFY(made);
            QCOMPARE(made->getData(), image.at(table.tableStart + expected));
            lastNext = last->getNext();
        }
        QCOMPARE(lastNext, expected);
        // Apart from the last record's next offset, the stored bytes stay.
        QByteArray now = image.bytes(table.tableStart, int(expected));
        const int nextAt = int(lastAt) + (route ? 28 : 12);
        now.replace(nextAt, 4, stored.mid(nextAt, 4));
        QCOMPARE(now, stored);
    }

    void trackPointsUntilFull_data()
    {
        QTest::addColumn<quint32>("segmentOffset");
        QTest::addColumn<quint32>("roomLeft");
        QTest::addColumn<int>("expected");
        QTest::newRow("list end") << kTrack.tableSize - 40 - 6 * 3 - 5 << 0xFFFFFFFFu << 3;
        QTest::newRow("room left") << 0u << 6u * 2 + 5 << 2;
    }

    void trackPointsUntilFull()
    {
        QFETCH(quint32, segmentOffset);
        QFETCH(quint32, roomLeft);
        QFETCH(int, expected);
        JXPSFImageFixture image;
        image.setHeader(JXExtFlashInfo_2M::TrackRoomLeft, roomLeft);
        const char* listEnd = image.at(kTrack.tableStart + kTrack.tableSize);
        const QByteArray next = image.bytes(kTrack.tableStart + kTrack.tableSize, 16);
        JXPSFTrackSeg_1_5 segment(image.at(kTrack.tableStart + segmentOffset), true, listEnd);
        int created = 0;
        while (segment.createTrackPoint(image.info()))
            ++created;
        QCOMPARE(created, expected);
        QCOMPARE(segment.getPntCount(), unsigned(expected));
        const QByteArray full = image.image();
        QVERIFY(!segment.createTrackPoint(image.info()));
        QCOMPARE(image.image(), full);
        QCOMPARE(image.bytes(kTrack.tableStart + kTrack.tableSize, 16), next);
    }
};

QTEST_GUILESS_MAIN(TestJXPSFFrameBounds)
#include "tst_jxpsfframebounds.moc"
