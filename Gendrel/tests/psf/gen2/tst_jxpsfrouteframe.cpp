#include <QtTest>

#include <memory>

#include "jxpsf15imagefixture.h"
#include "psf/gen2/jxpsflap_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsfrouteframe_1_5.h"
#include "psf/gen2/jxpsfuserinfolog_1_5.h"
#include "psf/gen2/jxpsfuserinfologframe_1_5.h"

namespace {

const quint32 None = 0xFFFFFFFF;

// A route record without names, as the device chains them.
QByteArray routeRecord(quint8 flags, quint32 next, quint32 lapOffset = None, quint8 lapCount = 0xFF,
                       quint32 summaryOffset = None, quint32 userInfoOffset = None, quint32 trackOffset = None)
{
    char data[36];
    memset(data, 0xFF, sizeof(data));
    qToLittleEndian<quint32>(1700000000, data);
    data[4] = char(flags);
    data[5] = 0x21;
    qToLittleEndian<quint32>(trackOffset, data + 8);
    qToLittleEndian<quint32>(summaryOffset, data + 12);
    qToLittleEndian<quint32>(lapOffset, data + 16);
    qToLittleEndian<quint32>(userInfoOffset, data + 20);
    data[24] = char(lapCount);
    qToLittleEndian<quint32>(next, data + 28);
    return QByteArray(data, sizeof(data));
}

// Records back to back from the route table start, chained in order, with the count in the header.
void putRoutes(JXPSFImageFixture& image, QList<QByteArray> records, int count = -1)
{
    unsigned int offset = 0;
    for (int index = 0; index < records.size(); ++index) {
        QByteArray& record = records[index];
        const quint32 next = index + 1 < records.size() ? offset + unsigned(record.size()) : None;
        qToLittleEndian<quint32>(next, record.data() + 28);
        image.put(image.route().tableStart + offset, record);
        offset += unsigned(record.size());
    }
    image.put16(image.route().frameStart + 8, quint16(count < 0 ? records.size() : count));
}

// A lap as the device writes it: times 100 to 200, distance 1000, speeds 80 and 0xFF (absent), heart rates 120
// and 150, cadence 64 and 80, power 200 and 0xFFFF, then zeros, sub-activity 5 with the high nibble set.
QByteArray lapRecord(quint8 mark)
{
    QByteArray lap = QByteArray::fromHex("64000000" "C8000000" "E8030000" "50FF7896" "4050" "C800" "FFFF"
                                         "000000000000000000000000000000000000000000000000000000000000" "F5000000");
    Q_ASSERT(lap.size() == 56);
    lap[0] = char(mark);
    return lap;
}

} // namespace

// Routes and recorded tracks: the chain in the route table, creating routes with names, laps, deleting one kind,
// and the user-info snapshot a track points to.
class TestJXPSFRouteFrame : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<JXPSFRouteFrame_1_5> routeFrame(JXPSFImageFixture& image)
    {
        return std::make_unique<JXPSFRouteFrame_1_5>(image.at(image.route().frameStart), image.info(), image.end());
    }

private slots:
    void loadingEndsAtCountOrChain_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("breakAfter");
        QTest::addColumn<int>("expected");

        QTest::newRow("count erased") << 3 << 0xFFFF << -1 << 0;
        QTest::newRow("count 3, second ends the chain") << 3 << 3 << 1 << 2;
        QTest::newRow("count 2 of 3") << 3 << 2 << -1 << 2;
        QTest::newRow("count 3 of 3") << 3 << 3 << -1 << 3;
    }

    void loadingEndsAtCountOrChain()
    {
        QFETCH(int, records);
        QFETCH(int, count);
        QFETCH(int, breakAfter);
        QFETCH(int, expected);
        JXPSFImageFixture image;
        QList<QByteArray> list;
        for (int index = 0; index < records; ++index)
            list << routeRecord(0x01, None);
        putRoutes(image, list, count);
        if (breakAfter >= 0)
            image.put32(image.route().tableStart + unsigned(breakAfter) * 36 + 28, None);
        auto frame = routeFrame(image);
        QCOMPARE(frame->getRoutes().size(), expected);
        QCOMPARE(frame->getBytesCount(), 0u);
    }

    void createdRouteReadsBack()
    {
        JXPSFImageFixture image;
        const unsigned int table = image.route().tableStart;
        const quint32 end = image.header(JXExtFlashInfo_2M::RouteTableEnd);
        const quint32 room = image.header(JXExtFlashInfo_2M::RouteRoomLeft);
        {
            auto frame = routeFrame(image);
            JXPSFRoute_1_5* route = frame->createRoute({"Home", "Heim"}, {"eng", "deu"}, false, image.info());
            QVERIFY(route);
            QCOMPARE(route->getData(), image.at(table));
            QCOMPARE(route->getBytesCount(), 36u + 16u + 16u);
            // A code missing from the list is empty.
            JXPSFRoute_1_5* second = frame->createRoute({"Ride", "Tour"}, {"eng"}, false, image.info());
            QVERIFY(second);
            QCOMPARE(frame->getFreeRecOffset(), 68u + 68u);
        }
        QCOMPARE(image.get32(image.route().frameStart + 8) & 0xFFFF, 2u);
        QCOMPARE(image.header(JXExtFlashInfo_2M::RouteTableEnd), end + 136);
        QCOMPARE(image.header(JXExtFlashInfo_2M::RouteRoomLeft), room - 136);
        // Head: zero time, flags, activity and weight; no track, summary, laps or user info; lap count 0, pool
        // length 0xFF, reserve 0, next at 68, names at 36. Then "Home" (has-next) and "Heim".
        QCOMPARE(image.bytes(table, 68).toHex(),
                 QByteArray("00000000" "00" "00" "0000" "ffffffff" "ffffffff" "ffffffff" "ffffffff" "00" "ff" "0000"
                            "44000000" "24000000"
                            "02000400656e6700" "00000000" "486f6d65"
                            "00000400646575" "00" "00000000" "4865696d"));
        QCOMPARE(image.bytes(table + 68 + 36 + 16, 8).toHex(), QByteArray("0000040000000000"));

        auto fresh = routeFrame(image);
        QCOMPARE(fresh->getRoutes().size(), 2);
        JXPSFRoute_1_5* route = fresh->getRoutes().first();
        QCOMPARE(route->getStartTime(), 0u);
        QCOMPARE(route->getRouteType(), quint8(0));
        QCOMPARE(route->getLapCount(), quint8(0));
        QCOMPARE(route->getPoolLen(), quint8(0xFF));
        QVERIFY(!route->hasTrack());
        QCOMPARE(route->getNameOffset(), 36u);
        QCOMPARE(route->getName("DEU"), QStringLiteral("Heim"));
        QCOMPARE(fresh->getRoutes().at(1)->getName(QString()), QStringLiteral("Ride"));
        QCOMPARE(fresh->getRoutes().at(1)->getNames().size(), 2);
        QVERIFY(fresh->getRoutes().at(1)->getLaps().isEmpty());
        QVERIFY(!fresh->getRoutes().at(1)->getSummary());
    }

    void bikeIDSharesTheUploadedBit_data()
    {
        QTest::addColumn<int>("bikeID");
        QTest::addColumn<int>("uploaded"); // -1: not set
        QTest::addColumn<int>("expectedBikeID");
        QTest::addColumn<bool>("expectedUploaded");

        QTest::newRow("2, then not uploaded") << 2 << 0 << 0 << false;
        QTest::newRow("2, then uploaded") << 2 << 1 << 2 << true;
        QTest::newRow("1, then uploaded") << 1 << 1 << 3 << true;
        QTest::newRow("3 alone reads uploaded") << 3 << -1 << 3 << true;
        QTest::newRow("masked to two bits") << 5 << -1 << 1 << false;
    }

    void bikeIDSharesTheUploadedBit()
    {
        QFETCH(int, bikeID);
        QFETCH(int, uploaded);
        QFETCH(int, expectedBikeID);
        QFETCH(bool, expectedUploaded);
        JXPSFImageFixture image;
        auto frame = routeFrame(image);
        JXPSFRoute_1_5* route = frame->createRoute({}, {}, false, image.info());
        route->setRouteType(1);
        route->setBikeID(quint8(bikeID));
        if (uploaded >= 0)
            route->setUploaded(uploaded == 1);
        QCOMPARE(int(route->getBikeID()), expectedBikeID);
        QCOMPARE(route->isUploaded(), expectedUploaded);
        QCOMPARE(route->getRouteType(), quint8(1));
    }

    void lapsOfARecordedTrack_data()
    {
        QTest::addColumn<int>("lapCount");
        QTest::addColumn<int>("expectedLaps");
        QTest::newRow("two laps") << 2 << 2;
        QTest::newRow("count erased") << 0xFF << 0;
    }

    void lapsOfARecordedTrack()
    {
        QFETCH(int, lapCount);
        QFETCH(int, expectedLaps);
        JXPSFImageFixture image;
        image.put(image.lap().tableStart, lapRecord(1) + lapRecord(2) + lapRecord(3));
        putRoutes(image, {routeRecord(0x01, None, 0, quint8(lapCount), 112)});
        auto frame = routeFrame(image);
        JXPSFRoute_1_5* route = frame->getRoutes().first();
        QCOMPARE(route->getLaps().size(), expectedLaps);
        QVERIFY(route->getSummary());
        QCOMPARE(route->getSummary()->getStartTime(), 3u);
        if (expectedLaps == 0)
            return;
        JXPSFLap_1_5* lap = route->getLaps().at(1);
        QCOMPARE(lap->getStartTime(), 2u);
        QCOMPARE(lap->getEndTime(), 200u);
        QCOMPARE(lap->getDistance(), 1000u);
        QCOMPARE(lap->getAvgSpeed().getValue(), 80 * 3.6 * 0.125);
        QVERIFY(!lap->getMaxSpeed().isValid());
        QCOMPARE(lap->getAvgBPM(), quint8(120));
        QCOMPARE(lap->getMaxBPM(), quint8(150));
        QCOMPARE(lap->getAvgStride().getValue(), 64 * 60 * 0.015625);
        QCOMPARE(lap->getMaxRPM(), quint8(80));
        QCOMPARE(lap->getAvgPower(), quint16(200));
        QCOMPARE(lap->getMaxPower(), quint16(0xFFFF));
        QCOMPARE(lap->getSubActType(), quint8(5));
        QCOMPARE(lap->getBytesCount(), 56u);
    }

    void deleteAllOfOneType_data()
    {
        QTest::addColumn<QByteArray>("types"); // route types in table order
        QTest::addColumn<int>("deleted");
        QTest::addColumn<QByteArray>("kept");   // indexes of the kept records, in order
        QTest::addColumn<bool>("lapsErased");

        QTest::newRow("planned only, delete planned") << QByteArray("\0\0", 2) << 0 << QByteArray() << true;
        QTest::newRow("delete planned, tracks stay") << QByteArray("\0\1\0\1", 4) << 0 << QByteArray("\1\3", 2) << false;
        QTest::newRow("delete tracks, planned stay") << QByteArray("\1\0\1\0", 4) << 1 << QByteArray("\1\3", 2) << true;
    }

    void deleteAllOfOneType()
    {
        QFETCH(QByteArray, types);
        QFETCH(int, deleted);
        QFETCH(QByteArray, kept);
        QFETCH(bool, lapsErased);
        JXPSFImageFixture image;
        const unsigned int table = image.route().tableStart;
        const QByteArray laps = lapRecord(1) + lapRecord(2);
        image.put(image.lap().tableStart, laps);
        QList<QByteArray> records;
        for (int index = 0; index < types.size(); ++index) {
            QByteArray record = routeRecord(quint8(types.at(index)), None, types.at(index) ? 0 : None,
                                            types.at(index) ? 1 : 0xFF, None, None, quint32(index * 100));
            record[0] = char(index); // tells the records apart
            // Names after the second record, so that packing moves them with it.
            if (index == 1) {
                qToLittleEndian<quint32>(36, record.data() + 32);
                record += QByteArray::fromHex("00000300656E6700" "00000000" "414243");
            }
            records << record;
        }
        putRoutes(image, records);
        // Header bytes that are no group's: they must survive.
        const QByteArray headerBefore = image.bytes(0, 256);

        auto frame = routeFrame(image);
        frame->deleteAllRoutes(quint8(deleted), image.info());

        QByteArray expected;
        for (int position = 0; position < kept.size(); ++position) {
            QByteArray record = records.at(kept.at(position));
            const quint32 next = position + 1 < kept.size() ? quint32(expected.size() + record.size()) : None;
            qToLittleEndian<quint32>(next, record.data() + 28);
            expected += record;
        }
        QCOMPARE(image.bytes(table, expected.size()), expected);
        QCOMPARE(image.bytes(table + unsigned(expected.size()), 0x82D8 - expected.size()),
                 QByteArray(0x82D8 - expected.size(), char(0xFF)));
        QCOMPARE(frame->getRoutes().size(), kept.size());
        QCOMPARE(int(image.get32(image.route().frameStart + 8) & 0xFFFF), kept.size());
        for (int position = 0; position < kept.size(); ++position)
            QCOMPARE(int(quint8(frame->getRoutes().at(position)->getData()[0])), int(kept.at(position)));
        QCOMPARE(image.header(JXExtFlashInfo_2M::RouteTableEnd), table + unsigned(expected.size()));
        QCOMPARE(image.header(JXExtFlashInfo_2M::RouteRoomLeft), 0x82D8u - unsigned(expected.size()));

        if (lapsErased) {
            QCOMPARE(image.bytes(image.lap().tableStart, 0x1C000), QByteArray(0x1C000, char(0xFF)));
            QCOMPARE(image.header(JXExtFlashInfo_2M::LapRoomLeft), 0x1C000u);
            QCOMPARE(image.header(JXExtFlashInfo_2M::LapTableEnd), image.lap().tableStart);
        } else {
            QCOMPARE(image.bytes(image.lap().tableStart, laps.size()), laps);
            QCOMPARE(image.bytes(100, 12), headerBefore.mid(100, 12));
            QCOMPARE(frame->getRoutes().first()->getLaps().size(), 1);
        }
        // Only the route and lap groups change.
        QCOMPARE(image.bytes(112, 144), headerBefore.mid(112, 144));
        QCOMPARE(image.bytes(0, 88), headerBefore.mid(0, 88));
    }

    void rearrangedLapsReadTheirOwnRecords()
    {
        JXPSFImageFixture image;
        // Two tracks whose laps lie apart with a stale record between them.
        image.put(image.lap().tableStart, lapRecord(9) + lapRecord(1) + lapRecord(2) + lapRecord(9) + lapRecord(3));
        putRoutes(image, {routeRecord(0x01, None, 56, 1, 112), routeRecord(0x01, None, None, 0xFF, 224)});
        auto frame = routeFrame(image);
        frame->rearrangeLapTable();
        QCOMPARE(image.bytes(image.lap().tableStart, 3 * 56), lapRecord(1) + lapRecord(2) + lapRecord(3));
        JXPSFRoute_1_5* first = frame->getRoutes().at(0);
        QCOMPARE(first->getLapOffset(), 0u);
        QCOMPARE(first->getSumOffset(), 56u);
        QCOMPARE(first->getLaps().first()->getStartTime(), 1u);
        QCOMPARE(first->getSummary()->getStartTime(), 2u);
        QCOMPARE(frame->getRoutes().at(1)->getSumOffset(), 112u);
        QCOMPARE(frame->getRoutes().at(1)->getSummary()->getStartTime(), 3u);
    }

    void userInfoSnapshot_data()
    {
        QTest::addColumn<QByteArray>("weight");
        QTest::addColumn<bool>("weightValid");
        QTest::addColumn<double>("weightValue");
        QTest::newRow("weight absent") << QByteArray::fromHex("FFFF") << false << 65535.0;
        QTest::newRow("weight 7050") << QByteArray::fromHex("8A1B") << true << 70.5;
    }

    void userInfoSnapshot()
    {
        QFETCH(QByteArray, weight);
        QFETCH(bool, weightValid);
        QFETCH(double, weightValue);
        JXPSFImageFixture image;
        const unsigned int table = image.userInfo().tableStart;
        // At table offset 10: time 1000, weight, strides 80 and 60, height 17500, bike 0x3A (ID 2, bit 3 ignored,
        // type 3), bike weight 95, wheel 2100, zones 0x12 (index 2, two records), race distance 42, race time 7.
        // Zones: type 4 with three zones and base 190, then type 8 with none and base 250.
        image.putHex(table + 10, "E8030000" "0000" "503C" "5C44" "3A" "5F" "3408" "12" "FFFFFFFFFF" "2A00" "0700"
                                 "3400BE00" "64007800" "79008C00" "8D00A000"
                                 "0800FA00");
        image.put(table + 14, weight);
        putRoutes(image, {routeRecord(0x01, None, None, 0xFF, None, 10)});
        auto frame = routeFrame(image);
        JXPSFRoute_1_5* route = frame->getRoutes().first();
        JXPSFUserInfoLogFrame_1_5 userInfo(image.at(image.userInfo().frameStart), image.info(), image.end());
        QCOMPARE(userInfo.getLogOffset(), 24u);
        userInfo.loadUserInfoLog(route);
        JXPSFUserInfoLog_1_5* log = route->getUserInfoLog();
        QVERIFY(log);
        QCOMPARE(log->getTime(), 1000u);
        QCOMPARE(log->getWeight().isValid(), weightValid);
        QCOMPARE(log->getWeight().getValue(), weightValue);
        QCOMPARE(log->getLStrideLen(), quint8(80));
        QCOMPARE(log->getSStrideLen(), quint8(60));
        QCOMPARE(log->getHeight().getValue(), 175.0);
        QCOMPARE(log->getBikeID(), quint8(2));
        QCOMPARE(log->getBikeType(), quint8(3));
        QCOMPARE(log->getBikeWeight().getValue(), 9.5);
        QCOMPARE(log->getBikeWheel().getValue(), 210.0);
        QCOMPARE(log->getTZoneIdx(), quint8(2));
        QCOMPARE(log->getZTypeNum(), quint8(2));
        QCOMPARE(log->getRaceDist(), quint16(42));
        QCOMPARE(log->getRaceTime(), quint16(7));

        QCOMPARE(log->getBytesCount(), 44u);
        QCOMPARE(log->getZones().size(), 2);
        JXPSFTZone_1_5* mhr = log->getMHRZone();
        QCOMPARE(mhr, log->getZones().at(0));
        QCOMPARE(log->getFTPZone(), log->getZones().at(1));
        QVERIFY(!log->getLTHRZone());
        QVERIFY(!log->getMAPZone());
        QCOMPARE(mhr->getZoneNum(), quint8(3));
        QCOMPARE(mhr->getZtypeBV(), quint16(190));
        QCOMPARE(mhr->getZoneL(0), quint16(100));
        QCOMPARE(mhr->getZoneH(2), quint16(160));
        // Past the zone count lie the next record's bytes.
        QCOMPARE(mhr->getZoneL(3), quint16(0xFFFF));
        QCOMPARE(mhr->getZoneH(-1), quint16(0xFFFF));
        QCOMPARE(log->getFTPZone()->getBytesCount(), 4u);
    }

    void eraseUserInfoTable()
    {
        JXPSFImageFixture image;
        const unsigned int table = image.userInfo().tableStart;
        image.put(table, QByteArray(0x4F74, '\0'));
        image.setHeader(JXExtFlashInfo_2M::UserInfoLogTableEnd, table + 100);
        image.setHeader(JXExtFlashInfo_2M::UserInfoLogRoomLeft, 0x4F74 - 100);
        const QByteArray after = image.bytes(table + 0x4F74, 64);
        JXPSFUserInfoLogFrame_1_5 userInfo(image.at(image.userInfo().frameStart), image.info(), image.end());
        userInfo.eraseUserInfoLogTable(image.info());
        QCOMPARE(image.bytes(table, 0x4F74), QByteArray(0x4F74, char(0xFF)));
        QCOMPARE(image.bytes(table + 0x4F74, 64), after);
        QCOMPARE(image.header(JXExtFlashInfo_2M::UserInfoLogTableEnd), table);
        QCOMPARE(image.header(JXExtFlashInfo_2M::UserInfoLogTableStart), table);
        QCOMPARE(image.header(JXExtFlashInfo_2M::UserInfoLogRoomLeft), 0x4F74u);
    }
};

QTEST_GUILESS_MAIN(TestJXPSFRouteFrame)
#include "tst_jxpsfrouteframe.moc"
