#include <QtTest>

#include <QRegularExpression>

#include <memory>

#include "profile/jxprofilereaderpsf.h"

using Profile = QMap<QString, QString>;

namespace {

const QDate Today(2024, 6, 15);

// Every byte differs from its neighbours, so a stray write anywhere in the page shows in a comparison.
QByteArray patternPage(int size = 4096)
{
    QByteArray page(size, '\0');
    for (int index = 0; index < size; ++index)
        page[index] = char((index * 31 + 7) & 0xFF);
    return page;
}

void put(QByteArray& page, int offset, const QByteArray& bytes)
{
    page.replace(offset, bytes.size(), bytes);
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(char(value));
    return result;
}

QByteArray le32(quint32 value)
{
    return bytes({int(value & 0xFF), int(value >> 8 & 0xFF), int(value >> 16 & 0xFF), int(value >> 24)});
}

QByteArray le16(quint16 value)
{
    return bytes({value & 0xFF, value >> 8});
}

std::unique_ptr<JXProfileReader> codecFor(int format)
{
    std::unique_ptr<JXProfileReader> codec;
    switch (format) {
    case ProfileFormat::PSF_Obsolete: codec.reset(new JXProfileReaderPSF_Obsolete); break;
    case ProfileFormat::PSF_Obsolete_Hemlar30: codec.reset(new JXProfileReaderPSF_Obsolete_Hemlar30); break;
    case ProfileFormat::PSF_1_0_0: codec.reset(new JXProfileReaderPSF_1_0_0); break;
    default: codec.reset(new JXProfileReaderPSF_2_0_0); break;
    }
    codec->setToday(Today);
    return codec;
}

// A 2.0.0 page whose table starts at 512 + start and counts count records.
QByteArray page200(quint32 start, quint16 count, int size = 4096)
{
    QByteArray page = patternPage(size);
    put(page, 520, le32(start));
    put(page, 524, le16(count));
    return page;
}

const QByteArray MagicRecord = bytes({0, 0, 1, 5, 0xB7, 0x62, 0xF3, 0x02});

} // namespace

class TestJXProfileReaderPSF : public QObject
{
    Q_OBJECT

private slots:
    void obsoleteRecord_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("offset");
        QTest::newRow("obsolete") << int(ProfileFormat::PSF_Obsolete) << 587;
        QTest::newRow("Hemlar30") << int(ProfileFormat::PSF_Obsolete_Hemlar30) << 327;
    }

    void obsoleteRecord()
    {
        QFETCH(int, format);
        QFETCH(int, offset);
        const auto codec = codecFor(format);

        QByteArray page = patternPage();
        put(page, offset, QByteArray(22, '\0'));
        Profile read{{"Other", "kept"}};
        QVERIFY(codec->readAll(page, &read));
        QCOMPARE(read, Profile({{"Other", "kept"},
                                {"User Sex", "0"},
                                {"User Height.Metric", "0"},
                                {"User Height.Imperial", "0"},
                                {"User Weight.Metric", "0"},
                                {"User Weight.Imperial", "0"},
                                {"User MHR", "0"},
                                {"User Birthday", "2024/01/01"}}));

        // Every field is rebuilt: absent keys write 0.
        page = patternPage();
        Profile onlyBirthday{{"User Birthday", "1990/06/15"}, {"User MLSS", "200"}};
        QVERIFY(codec->save(page, &onlyBirthday));
        QByteArray expected = patternPage();
        put(expected, offset, bytes({0, 34}) + QByteArray(20, '\0'));
        QCOMPARE(page, expected);

        Profile full{{"User Sex", "Male"},
                     {"User Height.Metric", "175.5"},
                     {"User Height.Imperial", "69.1"},
                     {"User Weight.Metric", "70.25"},
                     {"User Weight.Imperial", "1234567"},
                     {"User MHR", "190"},
                     {"User Birthday", "1990/06/16"}};
        QVERIFY(codec->save(page, &full));
        expected = patternPage();
        put(expected, offset,
            bytes({1, 33, 0, 0, 0x00, 0x80, 0x2F, 0x43}) + page.mid(offset + 8, 12) + bytes({190, 0}));
        QCOMPARE(page, expected);
        read.clear();
        QVERIFY(codec->readAll(page, &read));
        full.insert("User Birthday", "1991/01/01");
        full.insert("User Sex", "1");
        full.insert("User Weight.Imperial", "1.23457e+06");
        QCOMPARE(read, full);

        // Case counts: only "Male" and "1" are male.
        Profile lowerCase{{"User Sex", "male"}};
        QVERIFY(codec->save(page, &lowerCase));
        QCOMPARE(int(page.at(offset)), 0);
    }

    void shortPagesAreRefused_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("size");
        QTest::newRow("obsolete") << int(ProfileFormat::PSF_Obsolete) << 609;
        QTest::newRow("Hemlar30") << int(ProfileFormat::PSF_Obsolete_Hemlar30) << 349;
        QTest::newRow("1.0.0") << int(ProfileFormat::PSF_1_0_0) << 1215;
        QTest::newRow("2.0.0") << int(ProfileFormat::PSF_2_0_0) << 526;
    }

    void shortPagesAreRefused()
    {
        QFETCH(int, format);
        QFETCH(int, size);
        const auto codec = codecFor(format);
        QByteArray page = patternPage(size - 1);
        Profile map{{"User Sex", "1"}};
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("too short"));
        QVERIFY(!codec->readAll(page, &map));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("too short"));
        QVERIFY(!codec->save(page, &map));
        QCOMPARE(page, patternPage(size - 1));
        QCOMPARE(map, Profile({{"User Sex", "1"}}));

        if (format == ProfileFormat::PSF_2_0_0)
            return; // its smallest page has no room for a table
        page = patternPage(size);
        QVERIFY(codec->save(page, &map));
        QVERIFY(codec->readAll(page, &map));
    }

    void v100Save_data()
    {
        QTest::addColumn<Profile>("profile");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QByteArray>("written"); // besides version, reserved field and first-use page
        QTest::addColumn<QDate>("today");

        QTest::newRow("empty map") << Profile{} << 0 << QByteArray() << Today;
        QTest::newRow("unit") << Profile{{"User Unit", "2"}} << 506 << bytes({2}) << Today;
        QTest::newRow("language, low 8 bits") << Profile{{"User Lang", "300"}} << 495 << bytes({44}) << Today;
        QTest::newRow("not a number") << Profile{{"User Lang", "en"}} << 495 << bytes({0}) << Today;
        QTest::newRow("sex, case counts") << Profile{{"User Sex", "male"}} << 331 << bytes({0}) << Today;
        QTest::newRow("birthday tomorrow") << Profile{{"User Birthday", "1990/06/16"}} << 332 << bytes({33}) << Today;
        QTest::newRow("29 February in a common year")
            << Profile{{"User Birthday", "2000/02/29"}} << 332 << bytes({23}) << QDate(2023, 2, 28);
        QTest::newRow("birthday not a date") << Profile{{"User Birthday", "15.6.1990"}} << 332 << bytes({0}) << Today;
        QTest::newRow("heart rate, low 16 bits")
            << Profile{{"User MHR", "70000"}} << 351 << bytes({0x70, 0x11}) << Today;
        QTest::newRow("height") << Profile{{"User Height.Metric", "175.5"}} << 335 << bytes({0, 0x80, 0x2F, 0x43})
                                << Today;
        QTest::newRow("ignored keys") << Profile{{"User MLSS", "200"}, {"User First Use Page", "7"}} << 0
                                      << QByteArray() << Today;
    }

    void v100Save()
    {
        QFETCH(Profile, profile);
        QFETCH(int, offset);
        QFETCH(QByteArray, written);
        QFETCH(QDate, today);
        const auto codec = codecFor(ProfileFormat::PSF_1_0_0);
        codec->setToday(today);
        QByteArray page = patternPage();
        QVERIFY(codec->save(page, &profile));

        QByteArray expected = patternPage();
        put(expected, 2, bytes({1, 0, 1}));
        put(expected, 333, bytes({0, 0}));
        put(expected, 1214, bytes({1}));
        put(expected, offset, written);
        QCOMPARE(page, expected);
    }

    void v100ReadKeepsUserDataAcrossVersions()
    {
        const auto codec = codecFor(ProfileFormat::PSF_1_0_0);
        QByteArray page = patternPage();
        put(page, 2, bytes({1, 0, 2}));
        // Height imperial holds a signalling NaN, which must keep its bits.
        put(page, 331,
            bytes({1, 40, 9, 9, 0, 0, 0x2F, 0x43, 1, 0, 0x80, 0x7F}) + QByteArray(8, '\0') + bytes({180, 0}));
        put(page, 495, bytes({3}));
        put(page, 506, bytes({1}));
        put(page, 1214, bytes({0}));

        Profile before;
        QVERIFY(codec->readAll(page, &before));
        QCOMPARE(before, Profile({{"User Sex", "1"},
                                  {"User Height.Metric", "175"},
                                  {"User Height.Imperial", "nan"},
                                  {"User Weight.Metric", "0"},
                                  {"User Weight.Imperial", "0"},
                                  {"User MHR", "180"},
                                  {"User MLSS", "0"},
                                  {"User First Use Page", "0"},
                                  {"User Birthday", "1984/01/01"},
                                  {"User Lang", "3"},
                                  {"User Unit", "1"}}));

        Profile none;
        QVERIFY(codec->save(page, &none));
        QCOMPARE(page.mid(2, 3), bytes({1, 0, 1}));
        QCOMPARE(page.mid(339, 4), bytes({1, 0, 0x80, 0x7F}));
        Profile after;
        QVERIFY(codec->readAll(page, &after));
        before.insert("User First Use Page", "1");
        QCOMPARE(after, before);
    }

    void v200Read_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");

        QTest::newRow("unknown id keeps its number") << 90 << 1 << bytes({5, 9, 9, 9}) << "90"
                                                     << "5";
        QTest::newRow("magic id") << 1 << 5 << bytes({0xB7, 0x62, 0xF3, 0x02}) << "1"
                                  << "49504951";
        QTest::newRow("u8") << 6 << 1 << bytes({0xFE, 1, 0, 0}) << "User Unit"
                            << "254";
        QTest::newRow("s8") << 84 << 2 << bytes({0xFF, 0, 0, 0}) << "Day night saving"
                            << "-1";
        QTest::newRow("u16") << 11 << 3 << bytes({0x34, 0x12, 9, 9}) << "User MHR"
                             << "4660";
        QTest::newRow("s16") << 90 << 4 << bytes({0xFE, 0xFF, 0, 0}) << "90"
                             << "-2";
        QTest::newRow("u32") << 87 << 5 << bytes({0xFF, 0xFF, 0xFF, 0xFF}) << "Sunset"
                             << "4294967295";
        QTest::newRow("s32") << 90 << 6 << bytes({0xFF, 0xFF, 0xFF, 0xFF}) << "90"
                             << "-1";
        QTest::newRow("float") << 72 << 7 << bytes({0, 0x80, 0x2F, 0x43}) << "Vehicle1 Tmileage.Metric"
                               << "175.5";
        QTest::newRow("float, 6 digits") << 83 << 7 << bytes({0x38, 0xB4, 0x96, 0x49}) << "Time zone"
                                         << "1.23457e+06";
        QTest::newRow("double code reads as text") << 90 << 8 << bytes({'a', 'b', 'c', 'd'}) << "90"
                                                   << "abcd";
        QTest::newRow("code 9") << 90 << 9 << bytes({0x80, 0, 0, 0}) << "90"
                                << "-128";
        QTest::newRow("text") << 89 << 11 << bytes({'e', 'n', 'g', 0}) << "Language ISO3"
                              << "eng";
        QTest::newRow("text, empty") << 89 << 11 << bytes({0, 'x', 0, 0}) << "Language ISO3"
                                     << "";
        QTest::newRow("code 12") << 90 << 12 << bytes({65, 66, 0, 0}) << "90"
                                 << "AB";
        QTest::newRow("age") << 4 << 1 << bytes({34, 1, 0, 0}) << "User Birthday"
                             << "1990/01/01";
    }

    void v200Read()
    {
        QFETCH(int, id);
        QFETCH(int, format);
        QFETCH(QByteArray, value);
        QFETCH(QString, key);
        QFETCH(QString, text);
        QByteArray page = page200(16, 1);
        put(page, 528, bytes({0, 0, id, format}) + value);
        Profile read;
        QVERIFY(codecFor(ProfileFormat::PSF_2_0_0)->readAll(page, &read));
        QCOMPARE(read, Profile({{key, text}}));
    }

    void v200Record_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("readBack");

        QTest::newRow("magic") << "Magic Number"
                               << "49504951" << MagicRecord << "49504951";
        QTest::newRow("age today") << "User Birthday"
                                   << "1990/06/15" << bytes({0, 0, 4, 1, 34, 0, 0, 0}) << "1990/01/01";
        QTest::newRow("age tomorrow") << "User Birthday"
                                      << "1990/06/16" << bytes({0, 0, 4, 1, 33, 0, 0, 0}) << "1991/01/01";
        QTest::newRow("age, no date") << "User Birthday"
                                      << "junk" << bytes({0, 0, 4, 1, 0, 0, 0, 0}) << "2024/01/01";
        QTest::newRow("sex 0") << "User Sex"
                               << "0" << bytes({0, 0, 5, 1, 0, 0, 0, 0}) << "0";
        QTest::newRow("sex FEMALE") << "User Sex"
                                    << "FEMALE" << bytes({0, 0, 5, 1, 0, 0, 0, 0}) << "0";
        QTest::newRow("sex male") << "User Sex"
                                  << "male" << bytes({0, 0, 5, 1, 1, 0, 0, 0}) << "1";
        QTest::newRow("unit, 32 bits") << "User Unit"
                                       << "300" << bytes({0, 0, 6, 1, 0x2C, 1, 0, 0}) << "44";
        QTest::newRow("float") << "User Height.Metric"
                               << "175.5" << bytes({0, 0, 7, 7, 0, 0x80, 0x2F, 0x43}) << "175.5";
        QTest::newRow("float, not a number") << "Time zone"
                                             << "east" << bytes({0, 0, 83, 7, 0, 0, 0, 0}) << "0";
        QTest::newRow("u16") << "User FTP.zone7.high"
                             << "65535" << bytes({0, 0, 70, 3, 0xFF, 0xFF, 0, 0}) << "65535";
        QTest::newRow("u16 out of range") << "User MHR"
                                          << "65536" << bytes({0, 0, 11, 3, 0, 0, 0, 0}) << "0";
        QTest::newRow("u8, low bits") << "User Lang"
                                      << "300" << bytes({0, 0, 82, 1, 44, 0, 0, 0}) << "44";
        QTest::newRow("u32") << "Vehicle2 Ride.Time"
                             << "4294967295" << bytes({0, 0, 81, 5, 0xFF, 0xFF, 0xFF, 0xFF}) << "4294967295";
        QTest::newRow("u32 negative") << "Sunrise"
                                      << "-1" << bytes({0, 0, 88, 5, 0, 0, 0, 0}) << "0";
        QTest::newRow("s16 -1") << "Day night saving"
                                << "-1" << bytes({0, 0, 84, 2, 0xFF, 0xFF, 0, 0}) << "-1";
        QTest::newRow("s16 300") << "Day night saving"
                                 << "300" << bytes({0, 0, 84, 2, 0x2C, 1, 0, 0}) << "44";
        QTest::newRow("s16 out of range") << "Day night saving"
                                          << "40000" << bytes({0, 0, 84, 2, 0, 0, 0, 0}) << "0";
        QTest::newRow("text") << "Language ISO3"
                              << "eng" << bytes({0, 0, 89, 11, 'e', 'n', 'g', 0}) << "eng";
        QTest::newRow("text, four") << "Language ISO3"
                                    << "engl" << bytes({0, 0, 89, 11, 'e', 'n', 'g', 'l'}) << "engl";
        QTest::newRow("text, empty") << "Language ISO3"
                                     << "" << bytes({0, 0, 89, 11, 0, 0, 0, 0}) << "";
        QTest::newRow("text, five") << "Language ISO3"
                                    << "english" << bytes({0, 0, 89, 11, 0, 0, 0, 0}) << "";
    }

    void v200Record()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, record);
        QFETCH(QString, readBack);
        JXProfileReaderPSF_2_0_0 codec;
        codec.setToday(Today);

        QByteArray raw("kept");
        QVERIFY(codec.KeyValueToRaw(key, value, raw, true));
        QCOMPARE(raw, QByteArray("kept") + record);
        QVERIFY(codec.KeyValueToRaw(key, value, raw, false));
        QCOMPARE(raw, record);

        QByteArray id = QByteArray::number(quint8(record.at(2)));
        QByteArray bytes = record.mid(4);
        codec.convertKeyValue(id, bytes, record.at(3));
        QCOMPARE(QString::fromLatin1(id), key == QLatin1String("Magic Number") ? QStringLiteral("1") : key);
        const int end = bytes.indexOf('\0');
        QCOMPARE(QString::fromLatin1(end < 0 ? bytes : bytes.left(end)), readBack);
    }

    void v200KeysOutsideTheTable()
    {
        JXProfileReaderPSF_2_0_0 codec;
        for (const char* key : {"User MLSS", "user mhr", "Vehicle1 TMileage.Metric", "Vehicle2 Wheel.Metric", ""}) {
            QByteArray raw("kept");
            QVERIFY2(!codec.KeyValueToRaw(QLatin1String(key), QStringLiteral("1"), raw, false), key);
            QCOMPARE(raw, QByteArray("kept"));
        }
    }

    void v200Save()
    {
        const auto codec = codecFor(ProfileFormat::PSF_2_0_0);

        // An empty map leaves only the magic record.
        QByteArray page = page200(16, 7);
        Profile empty;
        QVERIFY(codec->save(page, &empty));
        QByteArray expected = page200(16, 0);
        put(expected, 516, bytes({2}));
        put(expected, 528, MagicRecord);
        QCOMPARE(page, expected);
        Profile read;
        QVERIFY(codec->readAll(page, &read));
        QVERIFY(read.isEmpty());

        // Key order, keys outside the table left out, a "Magic Number" entry counted.
        page = page200(100, 0);
        Profile profile{{"User MHR", "180"},
                        {"User Height.Metric", "175.5"},
                        {"User MLSS", "200"},
                        {"user mhr", "1"},
                        {"Magic Number", "7"}};
        QVERIFY(codec->save(page, &profile));
        expected = page200(100, 3);
        put(expected, 516, bytes({2}));
        put(expected, 612,
            bytes({0, 0, 1, 5, 7, 0, 0, 0}) + bytes({0, 0, 7, 7, 0, 0x80, 0x2F, 0x43}) +
                bytes({0, 0, 11, 3, 180, 0, 0, 0}) + MagicRecord);
        QCOMPARE(page, expected);
        QVERIFY(codec->readAll(page, &read));
        QCOMPARE(read, Profile({{"1", "7"}, {"User Height.Metric", "175.5"}, {"User MHR", "180"}}));
    }

    void v200Bounds_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<Profile>("readEntries");
        QTest::addColumn<bool>("readResult");
        QTest::addColumn<Profile>("saved");
        QTest::addColumn<bool>("saveResult");

        const Profile one{{"User MHR", "180"}};
        QTest::newRow("erased page") << QByteArray(4096, char(0xFF)) << Profile{} << false << one << false;
        QTest::newRow("start near the end, magic fits")
            << page200(4096 - 512 - 8, 0) << Profile{} << true << Profile{} << true;
        QTest::newRow("start near the end, one record does not")
            << page200(4096 - 512 - 8, 0) << Profile{} << true << one << false;
        // The reader stops at 3584; the writer may use the whole page.
        QByteArray past = page200(3576 - 512, 2);
        put(past, 3576, bytes({0, 0, 11, 3, 180, 0, 0, 0, 0, 0, 26, 3, 150, 0, 0, 0}));
        QTest::newRow("records past 3584") << past << one << false << one << true;
        QTest::newRow("table over the header") << page200(4, 0) << Profile{} << true << Profile{} << false;
    }

    void v200Bounds()
    {
        QFETCH(QByteArray, page);
        QFETCH(Profile, readEntries);
        QFETCH(bool, readResult);
        QFETCH(Profile, saved);
        QFETCH(bool, saveResult);
        const auto codec = codecFor(ProfileFormat::PSF_2_0_0);
        const QByteArray before = page;

        Profile read;
        if (!readResult)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("lie within the first"));
        QCOMPARE(codec->readAll(page, &read), readResult);
        QCOMPARE(read, readEntries);
        QCOMPARE(page, before);

        if (!saveResult)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("do not fit"));
        QCOMPARE(codec->save(page, &saved), saveResult);
        if (!saveResult)
            QCOMPARE(page, before);
        else
            QCOMPARE(page.size(), before.size());
    }
};

QTEST_GUILESS_MAIN(TestJXProfileReaderPSF)
#include "tst_jxprofilereaderpsf.moc"
