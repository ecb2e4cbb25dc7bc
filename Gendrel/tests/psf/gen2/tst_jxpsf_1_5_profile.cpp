#include <QtTest>

#include <cstring>

#include "jxmemorypsfstore.h"
#include "jxpsftestimage.h"
#include "psf/gen2/jxpsf_1_5.h"

using Profile = QMap<QString, QString>;

namespace {

// Written down here rather than taken from the code under test.
const int kProfilePage = 0x1F9000;
const int kPageSize = 4096;

// Every byte differs from its neighbours, so a stray write anywhere in the page shows in a comparison.
QByteArray patternPage()
{
    QByteArray page(kPageSize, '\0');
    for (int index = 0; index < kPageSize; ++index)
        page[index] = char((index * 31 + 7) & 0xFF);
    return page;
}

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

// A record as the page holds it: 24-bit big-endian id, format code, four value bytes.
QByteArray record(int id, int format, const QByteArray& value)
{
    QByteArray bytes;
    bytes.append(char(0)).append(char(0)).append(char(id)).append(char(format));
    return bytes + value + QByteArray(4 - value.size(), '\0');
}

const QByteArray MagicRecord = QByteArray::fromHex("00000105B762F302");

// An empty image in a counting store, whose profile page holds the pattern with a table header of start and count.
struct Image
{
    explicit Image(quint32 start = 16, quint16 count = 0)
    {
        store.setImage(JXPSFTestImage::emptyImage(JXPSFTestImage::Layout::A));
        setPage(pageWith(start, count));
    }

    static QByteArray pageWith(quint32 start, quint16 count)
    {
        QByteArray page = patternPage();
        page.replace(520, 4, le32(start));
        page.replace(524, 2, le16(count));
        return page;
    }

    QByteArray page() const { return store.image().mid(kProfilePage, kPageSize); }
    void setPage(const QByteArray& page) { memcpy(store.bytes() + kProfilePage, page.constData(), size_t(kPageSize)); }
    // Records at page offset 512 + start.
    void putRecords(quint32 start, const QByteArray& records)
    {
        memcpy(store.bytes() + kProfilePage + 512 + start, records.constData(), size_t(records.size()));
    }

    JXMemoryPSFStore store;
};

} // namespace

class TestJXPSF_1_5_Profile : public QObject
{
    Q_OBJECT

private slots:
    // The page is converted once; later reads copy the cache until a write empties it.
    void cacheUntilWrite()
    {
        Image image(16, 2);
        image.putRecords(16, record(11, 3, QByteArray::fromHex("BE00")) + record(90, 1, "\x05"));
        JXPSF_1_5 root(&image.store);
        image.store.resetCalls();

        Profile map{{"Other", "gone"}};
        QVERIFY(root.getProfile(map));
        const Profile stored{{"User MHR", "190"}, {"90", "5"}};
        QCOMPARE(map, stored);

        // A change by other means is not seen while the cache holds the page.
        image.putRecords(16, record(11, 3, QByteArray::fromHex("A000")));
        map.clear();
        QVERIFY(root.getProfile(map));
        QCOMPARE(map, stored);
        QCOMPARE(image.store.calls(JXMemoryPSFStore::LoadProfileFrame), 2);

        Profile written{{"User MHR", "150"}, {"User Unit", "1"}};
        QVERIFY(root.setProfile(written));
        QCOMPARE(image.store.calls(JXMemoryPSFStore::LoadProfileFrame), 3);
        QVERIFY(root.getProfile(map));
        QCOMPARE(map, written);
        QCOMPARE(image.store.calls(JXMemoryPSFStore::LoadProfileFrame), 4);
        // Nothing but the profile area was asked for.
        QCOMPARE(image.store.calls(JXMemoryPSFStore::Save), 0);
    }

    void writeAndReadBack_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QString>("readBack");

        QTest::newRow("sex 1") << "User Sex" << "1" << record(5, 1, "\x01") << "1";
        QTest::newRow("sex 0") << "User Sex" << "0" << record(5, 1, "") << "0";
        QTest::newRow("sex Female") << "User Sex" << "Female" << record(5, 1, "") << "0";
        QTest::newRow("sex Male") << "User Sex" << "Male" << record(5, 1, "") << "0";
        // The number is stored whole; readers take its low byte.
        QTest::newRow("sex 258") << "User Sex" << "258" << record(5, 1, QByteArray::fromHex("0201")) << "2";
        QTest::newRow("ISO3 eng") << "Language ISO3" << "eng" << record(89, 11, "eng") << "eng";
        QTest::newRow("ISO3 four") << "Language ISO3" << "deu1" << record(89, 11, "deu1") << "deu1";
        QTest::newRow("ISO3 en") << "Language ISO3" << "en" << record(89, 11, "en") << "";
        QTest::newRow("ISO3 empty") << "Language ISO3" << "" << record(89, 11, "") << "";
        QTest::newRow("ISO3 e-n") << "Language ISO3" << "e-n" << record(89, 11, "e-n") << "";
        QTest::newRow("shared key") << "Day night saving" << "-1" << record(84, 2, QByteArray::fromHex("FFFF"))
                                    << "-1";
    }

    // Exact page bytes: version, the record and the magic one at the table start, the count; nothing else.
    void writeAndReadBack()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, written);
        QFETCH(QString, readBack);

        Image image(40, 7);
        JXPSF_1_5 root(&image.store);
        Profile map{{key, value}, {"User MLSS", "200"}};
        QVERIFY(root.setProfile(map));

        QByteArray expected = Image::pageWith(40, 1);
        expected[516] = 2;
        expected.replace(552, 16, written + MagicRecord);
        QCOMPARE(image.page().toHex(), expected.toHex());

        Profile read;
        QVERIFY(root.getProfile(read));
        QCOMPARE(read, Profile({{key, readBack}}));
    }

    // The check of a stored language code, with the codes at the edges of the range.
    void languageCodeOnPage_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("read");

        QTest::newRow("letters") << QByteArray("eng") << "eng";
        QTest::newRow("range ends") << QByteArray("0zZ9") << "0zZ9";
        QTest::newRow("hyphen") << QByteArray::fromHex("652D6E00") << "";
        QTest::newRow("blank") << QByteArray("en g") << "";
        QTest::newRow("below 0") << QByteArray("/ng") << "";
        QTest::newRow("above z") << QByteArray("en{") << "";
        QTest::newRow("high byte") << QByteArray::fromHex("E96E67") << "";
        QTest::newRow("one letter") << QByteArray("e") << "";
        QTest::newRow("zeros") << QByteArray() << "";
        // Only the first three bytes are checked.
        QTest::newRow("odd last") << QByteArray("eng-") << "eng-";
    }

    void languageCodeOnPage()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, read);

        Image image(16, 1);
        image.putRecords(16, record(89, 11, stored));
        JXPSF_1_5 root(&image.store);
        Profile map;
        QVERIFY(root.getProfile(map));
        QCOMPARE(map, Profile({{"Language ISO3", read}}));
    }

    void emptyMapWritesMagicOnly()
    {
        Image image(16, 3);
        JXPSF_1_5 root(&image.store);
        Profile empty;
        QVERIFY(root.setProfile(empty));

        QByteArray expected = Image::pageWith(16, 0);
        expected[516] = 2;
        expected.replace(528, 8, MagicRecord);
        QCOMPARE(image.page().toHex(), expected.toHex());

        Profile map{{"Other", "gone"}};
        QVERIFY(root.getProfile(map));
        QVERIFY(map.isEmpty());
    }

    void storeFailureChangesNothing()
    {
        Image image(16, 1);
        image.putRecords(16, record(11, 3, QByteArray::fromHex("BE00")));
        JXPSF_1_5 root(&image.store);
        Profile map;
        QVERIFY(root.getProfile(map));
        const QByteArray before = image.store.image();

        image.store.setFailing(true);
        Profile caller{{"Other", "kept"}};
        QVERIFY(!root.getProfile(caller));
        QCOMPARE(caller, Profile({{"Other", "kept"}}));
        Profile written{{"User MHR", "150"}};
        QVERIFY(!root.setProfile(written));
        QVERIFY(image.store.image() == before);

        // The cache was not emptied by the failed write.
        image.store.setFailing(false);
        QVERIFY(root.getProfile(caller));
        QCOMPARE(caller, Profile({{"User MHR", "190"}}));
    }

    // The header's start and count place the table; a table that leaves the page is neither read nor written.
    void tableBounds_data()
    {
        QTest::addColumn<quint32>("start");
        QTest::addColumn<quint16>("count");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<bool>("writable"); // with one entry, so two records

        // 512 + 3568 + 16 = 4096: the last bytes of the page, beyond where the 2.0.0 codec stops reading.
        QTest::newRow("page end") << quint32(3568) << quint16(2) << true << true;
        QTest::newRow("one byte over") << quint32(3569) << quint16(2) << false << false;
        QTest::newRow("count over") << quint32(16) << quint16(447) << false << true;
        QTest::newRow("erased") << quint32(0xFFFFFFFF) << quint16(0xFFFF) << false << false;
        QTest::newRow("huge start") << quint32(0xFFFFFFF8) << quint16(1) << false << false;
        // A table written there would overwrite its own start and count.
        QTest::newRow("over the header") << quint32(0) << quint16(0) << true << false;
    }

    void tableBounds()
    {
        QFETCH(quint32, start);
        QFETCH(quint16, count);
        QFETCH(bool, readable);
        QFETCH(bool, writable);

        Image image(start, count);
        const QByteArray records = record(11, 3, QByteArray::fromHex("BE00")) + record(90, 1, "\x05");
        if (readable && count == 2)
            image.putRecords(start, records);
        const QByteArray before = image.page();
        JXPSF_1_5 root(&image.store);

        Profile map{{"Other", "kept"}};
        QCOMPARE(root.getProfile(map), readable);
        if (readable)
            QCOMPARE(map.size(), int(count));
        else
            QCOMPARE(map, Profile({{"Other", "kept"}}));

        Profile written{{"User MHR", "150"}};
        QCOMPARE(root.setProfile(written), writable);
        if (!writable) {
            QCOMPARE(image.page().toHex(), before.toHex());
            return;
        }
        QByteArray expected = before;
        expected[516] = 2;
        expected.replace(int(512 + start), 16, record(11, 3, QByteArray::fromHex("9600")) + MagicRecord);
        expected.replace(524, 2, le16(1));
        QCOMPARE(image.page().toHex(), expected.toHex());
    }
};

QTEST_GUILESS_MAIN(TestJXPSF_1_5_Profile)
#include "tst_jxpsf_1_5_profile.moc"
