#include <QtTest>

#include <memory>

#include "jxpsf15imagefixture.h"
#include "psf/gen2/jxpsfdistheader_1_5.h"
#include "psf/gen2/jxpsfpoi_1_5.h"
#include "psf/gen2/jxpsfpoiframe_1_5.h"

// The distribution header's directory of frames, and points of interest: reading the device's chain, adding to it.
class TestJXPSFPOIFrame : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<JXPSFPOIFrame_1_5> poiFrame(JXPSFImageFixture& image)
    {
        return std::make_unique<JXPSFPOIFrame_1_5>(image.at(image.poi().frameStart), image.info(), image.end());
    }

private slots:
    void distributionHeaderFollowsTheVersion()
    {
        JXPSFImageFixture image;
        // Base date and time at base + 48; the POI record at + 60 and the route record at + 80 hold their frame
        // offsets (the builder's), the version at + 16 belongs to none.
        image.putHex(0x6030, "78563412" "21436587");
        JXPSFDistHeader_1_5 header(image.at(0x6030));
        QCOMPARE(header.getBaseDate(), 0x12345678u);
        QCOMPARE(header.getBaseTime(), 0x87654321u);
        QCOMPARE(header.getPOIMHR()->getManHeaderOffset(), image.get32(0x603C));
        QCOMPARE(header.getPOIMHR()->getManHeaderOffset(), 0x154u);
        QCOMPARE(header.getRouteMHR()->getManHeaderOffset(), image.get32(0x6050));
        QCOMPARE(header.getRouteMHR()->getManHeaderOffset(), 0x80000u - 0x6000u);
        QCOMPARE(header.getUserInfoLogMHR()->getManHeaderOffset(), 0x1EA000u - 0x6000u);
        QCOMPARE(header.getPOIMHR()->getManHeaderSize(), quint16(0xFFFF));
    }

    void deviceRecordWithNames()
    {
        JXPSFImageFixture image;
        const unsigned int table = image.poi().tableStart;
        image.put32(image.poi().frameStart, 1);
        // Longitude, latitude, altitude 100, calibration point, next none, names at + 24: "Cafe" in eng.
        image.putHex(table, "40420F00" "C0BDF0FF" "6400" "02" "00" "FFFFFFFF" "FFFFFFFF" "18000000"
                            "00000400656E6700" "00000000" "43616665");
        auto frame = poiFrame(image);
        QCOMPARE(frame->getPOIs().size(), 1);
        JXPSFPOI_1_5* poi = frame->getPOIs().first();
        QCOMPARE(poi->getLng(), 1000000);
        QCOMPARE(poi->getLat(), -1000000);
        QCOMPARE(poi->getAlt(), short(100));
        QVERIFY(poi->isCalibration());
        QVERIFY(!poi->isBitFont());
        QCOMPARE(poi->getName(QString()), QStringLiteral("Cafe"));
        QCOMPARE(poi->getBytesCount(), 24u + 12u + 4u);
        QCOMPARE(frame->getFreeRecOffset(), 40u);
    }

    void erasedCountHasNone_data()
    {
        QTest::addColumn<bool>("erasedHead");
        QTest::newRow("count erased") << false;
        QTest::newRow("whole head erased") << true;
    }

    void erasedCountHasNone()
    {
        QFETCH(bool, erasedHead);
        JXPSFImageFixture image;
        if (erasedHead)
            image.put(image.poi().frameStart, QByteArray(28, char(0xFF)));
        auto frame = poiFrame(image);
        QCOMPARE(frame->getPOICount(), 0u);
        QVERIFY(frame->getPOIs().isEmpty());

        // The first POI goes to the table start, which an erased head had no offset for.
        JXPSFPOI_1_5* poi = frame->createPOI();
        QVERIFY(poi);
        QCOMPARE(frame->getPOICount(), 1u);
        QCOMPARE(poi->getData(), image.at(image.poi().tableStart));
        QCOMPARE(image.get32(image.poi().frameStart + 4), 28u);
        QCOMPARE(poi->getNext(), 0xFFFFFFFFu);
        QCOMPARE(poi->getNameOffset(), 0xFFFFFFFFu);
        QCOMPARE(poi->getBytesCount(), 24u);
    }

    void createdPOIsAreChained()
    {
        JXPSFImageFixture image;
        const QByteArray before = image.image();
        {
            auto frame = poiFrame(image);
            JXPSFPOI_1_5* first = frame->createPOI();
            first->setLat(47000000);
            first->setLng(8000000);
            JXPSFPOI_1_5* second = frame->createPOI();
            second->setAlt(-5);
            second->setCalibration(true);
            QCOMPARE(second->getData() - first->getData(), 24);
        }
        const unsigned int table = image.poi().tableStart;
        QCOMPARE(image.get32(image.poi().frameStart), 2u);
        QCOMPARE(image.get32(table + 12), 24u);
        QCOMPARE(image.get32(table + 24 + 12), 0xFFFFFFFFu);
        // The flash header is not the POI frame's to change.
        QCOMPARE(image.bytes(0, 256), before.mid(0, 256));

        auto fresh = poiFrame(image);
        QCOMPARE(fresh->getPOIs().size(), 2);
        QCOMPARE(fresh->getPOIs().at(0)->getLat(), 47000000);
        QCOMPARE(fresh->getPOIs().at(0)->getLng(), 8000000);
        QCOMPARE(fresh->getPOIs().at(1)->getAlt(), short(-5));
        QVERIFY(fresh->getPOIs().at(1)->isCalibration());

        fresh->deleteAllPOIs();
        QCOMPARE(image.get32(image.poi().frameStart), 0u);
        QVERIFY(fresh->getPOIs().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestJXPSFPOIFrame)
#include "tst_jxpsfpoiframe.moc"
