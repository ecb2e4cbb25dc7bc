#include <QtTest>

#include <cstring>
#include <vector>

#include "compress/lz.h"
#include "psf/gen1/jxpsffield.h"
#include "psf/gen1/jxpsfmultilangstring.h"

class TestJXPSFField : public QObject
{
    Q_OBJECT

private slots:
    void conversions_data();
    void conversions();
    void valueValidity();
    void compressedPicture();
    void compressedPictureDamaged();
    void plainPicture();
    void wrappedBitfont();
    void fittedBitfont();
    void multiLangString();
};

void TestJXPSFField::conversions_data()
{
    QTest::addColumn<QString>("actual");
    QTest::addColumn<QString>("expected");

    QTest::newRow("altToPSF(0)") << QString::number(JXPSFField::altToPSF(0)) << "4000";
    QTest::newRow("altToPSF(-1000)") << QString::number(JXPSFField::altToPSF(-1000)) << "0";
    QTest::newRow("altToPSF(12.3) truncates") << QString::number(JXPSFField::altToPSF(12.3)) << "4049";
    QTest::newRow("altDeltaToPSF(-1.55)") << QString::number(JXPSFField::altDeltaToPSF(-1.55)) << "-15";
    QTest::newRow("altFromPSF encoded base") << JXPSFField::altFromPSF(15, 4000, true) << "1.00";
    QTest::newRow("altFromPSF plain base") << JXPSFField::altFromPSF(-15, 100, false) << "99.00";
    QTest::newRow("coordinateToPSF") << QString::number(JXPSFField::coordinateToPSF(-25.5)) << "-25500000";
    QTest::newRow("coordinateFromPSF erased") << JXPSFField::coordinateFromPSF(-1) << "0.000000";
    QTest::newRow("coordinateFromPSF") << JXPSFField::coordinateFromPSF(25035000) << "25.035000";
    QTest::newRow("coordinateFromPSF negative") << JXPSFField::coordinateFromPSF(-500000) << "-0.500000";
    QTest::newRow("speedFromPSF") << JXPSFField::speedFromPSF(80) << "36.00";
    QTest::newRow("speedToPSF") << QString::number(JXPSFField::speedToPSF(36.0)) << "80";
    QTest::newRow("timeToPSF") << QString::number(JXPSFField::timeToPSF("2020-01-02T03:04:05Z")) << "1577934245";
    QTest::newRow("timeToPSF not a time") << QString::number(JXPSFField::timeToPSF("yesterday")) << "4294967295";
    QTest::newRow("timeToPSF empty") << QString::number(JXPSFField::timeToPSF(QString())) << "4294967295";
    QTest::newRow("timeToPSF before 1970")
        << QString::number(JXPSFField::timeToPSF("1969-12-31T23:59:59Z")) << "4294967295";
    QTest::newRow("timeFromPSF") << JXPSFField::timeFromPSF(1577934245) << "2020-01-02T03:04:05Z";
    QTest::newRow("timeFromPSF 0") << JXPSFField::timeFromPSF(0) << "1970-01-01T00:00:00Z";
    QTest::newRow("temperature truncates") << JXPSFField::temperatureFromPSF(235) << "23.0";
    QTest::newRow("temperature negative") << JXPSFField::temperatureFromPSF(-235) << "-23.0";
    QTest::newRow("temperature -5") << JXPSFField::temperatureFromPSF(-5) << "0.0";
    QTest::newRow("brm") << JXPSFField::brmFromPSF(21) << "42";
    QTest::newRow("interval cool-down") << QString::number(JXPSFField::intervalTypeToPSF("cool-down")) << "4";
    QTest::newRow("interval WARMUP") << QString::number(JXPSFField::intervalTypeToPSF("WARMUP")) << "1";
    QTest::newRow("interval Other") << QString::number(JXPSFField::intervalTypeToPSF("Other")) << "0";
    QTest::newRow("interval unknown") << QString::number(JXPSFField::intervalTypeToPSF("Nap")) << "0";
    QTest::newRow("interval 0") << JXPSFField::intervalTypeFromPSF(0) << "Other";
    QTest::newRow("interval 7") << JXPSFField::intervalTypeFromPSF(7) << "Walk";
    QTest::newRow("interval 8") << JXPSFField::intervalTypeFromPSF(8) << "Other";
}

void TestJXPSFField::conversions()
{
    QFETCH(QString, actual);
    QFETCH(QString, expected);
    QCOMPARE(actual, expected);
}

void TestJXPSFField::valueValidity()
{
    unsigned char erased[] = {0xFF, 0xFF, 0xFF, 0xFF};
    unsigned char set[] = {0xFF, 0xFF, 0xFE, 0xFF};
    QVERIFY(!JXPSFField::isValueVaid(erased, 4));
    QVERIFY(JXPSFField::isValueVaid(set, 4));
    QVERIFY(!JXPSFField::isValueVaid(set, 2));
    QVERIFY(!JXPSFField::isValueVaid(set, 0));
    QVERIFY(!JXPSFField::isValueVaid(set, -1));
}

// A 48-pixel-wide, 16-row picture whose expanded size (96 bytes) is more than twice the short record.
void TestJXPSFField::compressedPicture()
{
    const int rowBytes = 6;
    std::vector<unsigned char> rows(16 * rowBytes);
    for (int row = 0; row < 16; ++row) {
        for (int column = 0; column < rowBytes; ++column)
            rows[size_t(row * rowBytes + column)] = row < 8 ? 0xF0 : uchar(0x81 + column);
    }
    std::vector<unsigned char> stream(LZ_CompressBound(unsigned(rows.size())));
    const int streamSize = LZ_Compress(rows.data(), stream.data(), unsigned(rows.size()));
    QVERIFY(streamSize > 0 && streamSize < 127);

    QByteArray record;
    record.append(char(0x80 | streamSize));
    record.append(char(48));
    record.append(reinterpret_cast<const char*>(stream.data()), streamSize);
    QVERIFY(2 * record.size() < int(rows.size()));

    const QImage image = JXPSFField::BitmapStringFromPSF(record.data(), record.size(), 0, 0);
    QCOMPARE(image.size(), QSize(48, 16));
    for (int row = 0; row < 16; ++row) {
        for (int x = 0; x < 48; ++x) {
            const unsigned char byte = rows[size_t(row * rowBytes + x / 8)];
            const bool ink = (byte >> (7 - x % 8)) & 1;
            QCOMPARE(image.pixelColor(x, row) == Qt::black, ink);
        }
    }

    record[1] = char(-3);
    QVERIFY(JXPSFField::BitmapStringFromPSF(record.data(), record.size(), 0, 0).isNull());
}

// A size byte that claims more than the record holds reads only the record; a stream that reaches before its
// output gives no picture.
void TestJXPSFField::compressedPictureDamaged()
{
    QByteArray claimsMore = QByteArray::fromHex("FF08");
    const QImage blank = JXPSFField::BitmapStringFromPSF(claimsMore.data(), claimsMore.size(), 0, 0);
    QCOMPARE(blank.size(), QSize(8, 16));
    QCOMPARE(blank.pixelColor(0, 0), QColor(Qt::white));

    QByteArray backwards = QByteArray::fromHex("84080101050101");
    QVERIFY(JXPSFField::BitmapStringFromPSF(backwards.data(), backwards.size(), 0, 0).isNull());
}

void TestJXPSFField::plainPicture()
{
    QByteArray bytes = QByteArray::fromHex("413C");
    const QImage image = JXPSFField::BitmapStringFromPSF(bytes.data(), bytes.size(), 8, 4);
    QCOMPARE(image.size(), QSize(8, 4));
    const char* expected[] = {".#.....#", "..####..", "........", "........"};
    for (int row = 0; row < 4; ++row) {
        QString line;
        for (int x = 0; x < 8; ++x)
            line += image.pixelColor(x, row) == Qt::black ? '#' : '.';
        QCOMPARE(line, QString::fromLatin1(expected[row]));
    }
    QVERIFY(JXPSFField::BitmapStringFromPSF(bytes.data(), bytes.size(), 0, 4).isNull());
    QVERIFY(JXPSFField::BitmapStringFromPSF(bytes.data(), bytes.size(), 60000, 60000).isNull());
}

void TestJXPSFField::wrappedBitfont()
{
    QByteArray bits;
    QSize size;
    QVERIFY(JXPSFField::convertToBitfont("Morning ride", QString(), 0, bits, size));
    QCOMPARE(size.width(), 128);
    QVERIFY(size.height() > 0 && size.height() <= 16);
    QCOMPARE(bits.size(), 16 * size.height());
    // Inverted: the blank background reads as set bits.
    QVERIFY(bits.count(char(0xFF)) > bits.size() / 2);

    QVERIFY(JXPSFField::convertToBitfont(QString(400, 'w').replace(QRegularExpression("(w{9})"), "\\1 "), QString(), 0,
                                         bits, size));
    QCOMPARE(size.width(), 128);
    QVERIFY(size.height() > 16);

    QVERIFY(JXPSFField::convertToBitfont(QString(5000, 'x').replace(QRegularExpression("(x{3})"), "\\1 "), QString(), 0,
                                         bits, size));
    QCOMPARE(size.width(), 128);
    QVERIFY(size.height() <= 2000);
    QCOMPARE(bits.size(), 16 * size.height());
}

void TestJXPSFField::fittedBitfont()
{
    std::vector<unsigned char> out(200, 0xAA);
    int width = 64;
    int height = 16;
    QVERIFY(
        JXPSFField::convertToBitfont("A name far too long for the box", QString(), 0, width, height, out.data(), 100));
    QCOMPARE(width, 64);
    QCOMPARE(height, 16);
    // 16 rows of 8 bytes, cut to the 100 bytes allowed.
    QVERIFY(std::count(out.begin() + 100, out.end(), 0xAA) == 100);
    // Not inverted: ink is set bits on a clear background.
    const auto blank = std::count(out.begin(), out.begin() + 100, 0);
    QVERIFY(blank > 20 && blank < 100);
}

void TestJXPSFField::multiLangString()
{
    const QByteArray record = QByteArray::fromHex("0307050065 6E 67 00 4000 1000 48656C6C6F");
    JXPSFMultiLangString name(record.constData(), record.size(), nullptr);
    QVERIFY(name.getFirstFlag());
    QVERIFY(name.getSecondFlag());
    QCOMPARE(name.getByte1(), uchar(7));
    QCOMPARE(name.getLength(), ushort(5));
    QCOMPARE(name.getLangCode(), QByteArray("eng"));
    QCOMPARE(name.getPicWidth(), ushort(64));
    QCOMPARE(name.getPicHeight(), ushort(16));
    QCOMPARE(name.getData(), QByteArray("Hello"));
    QCOMPARE(name.getSizeInRawData(), 17u);
    QVERIFY(name.commit().isEmpty());

    // Data cut off by the end of the bytes keeps what is there.
    JXPSFMultiLangString cut(record.constData(), 14, nullptr);
    QCOMPARE(cut.getData(), QByteArray("He"));
}

// Qt 5.15's offscreen platform never frees what it makes for its screen. The full allocation stacks let the
// suppression name that one place, so that no leak of ours can hide behind it.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:QGuiApplicationPrivate::createPlatformIntegration\n";
}

QTEST_MAIN(TestJXPSFField)
#include "tst_jxpsffield.moc"
