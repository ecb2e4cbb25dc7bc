#include <QtTest>

#include "device/jxlanguageimage.h"

namespace {

// A language file as packages carry it: four stamp bytes, the three-letter code, then the text.
QByteArray languageFile(const QByteArray& stamp, const QByteArray& code, int size)
{
    QByteArray file = stamp + code;
    file.append(QByteArray(size - file.size(), 'x'));
    return file;
}

quint32 u32At(const QByteArray& bytes, int offset)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(bytes.constData() + offset));
}

} // namespace

class TestJXLanguageHeader : public QObject
{
    Q_OBJECT

private slots:
    void twoFilesLaidOutByteForByte();
    void stampRules();
    void shortAndSurplusFilesAreRefused();
    void lastAlignedMagicStartsTheHeader();
    void knownCodesOnly();
};

void TestJXLanguageHeader::twoFilesLaidOutByteForByte()
{
    JXLanguageHeader header(JXLanguageHeader::StampOfLastFile);
    const QByteArray ger = languageFile("\x01\x02\x03\x04", "ger", 100);
    const QByteArray eng = languageFile("\x05\x06\x07\x08", "eng", 50);
    QVERIFY(header.add(ger));
    QVERIFY(header.add(eng));

    QByteArray expected(229, '\0');
    expected.replace(0, 4, QByteArray("\xC3\xB2\xA0\x77", 4));
    expected.replace(4, 4, QByteArray("\x05\x06\x07\x08", 4));
    expected[8] = 2;
    expected.replace(9, 6, "gereng");
    expected.replace(69, 8, QByteArray("\xE5\x00\x00\x00\x49\x01\x00\x00", 8)); // 229, 329
    expected.replace(149, 8, QByteArray("\x64\x00\x00\x00\x32\x00\x00\x00", 8)); // 100, 50
    QCOMPARE(header.header(), expected);
    QCOMPARE(header.data(), ger + eng);
    QCOMPARE(header.table().size(), 229 + 150);
    QCOMPARE(header.count(), 2);
}

void TestJXLanguageHeader::stampRules()
{
    const QByteArray zeroStamp = languageFile(QByteArray(4, '\0'), "eng", 10);
    const QByteArray first = languageFile("\x11\x22\x33\x44", "ger", 10);
    const QByteArray second = languageFile("\x55\x66\x77\x88", "fra", 10);

    JXLanguageHeader last(JXLanguageHeader::StampOfLastFile);
    for (const QByteArray& file : {zeroStamp, first, second})
        QVERIFY(last.add(file));
    QCOMPARE(u32At(last.header(), 4), 0x88776655u);

    JXLanguageHeader firstNonZero(JXLanguageHeader::StampOfFirstNonZeroFile);
    for (const QByteArray& file : {zeroStamp, first, second})
        QVERIFY(firstNonZero.add(file));
    QCOMPARE(u32At(firstNonZero.header(), 4), 0x44332211u);

    JXLanguageHeader none(JXLanguageHeader::StampOfFirstNonZeroFile);
    QVERIFY(none.add(zeroStamp));
    QCOMPARE(u32At(none.header(), 4), 0u);
}

void TestJXLanguageHeader::shortAndSurplusFilesAreRefused()
{
    JXLanguageHeader header(JXLanguageHeader::StampOfLastFile);
    QVERIFY(!header.add(QByteArray("\x01\x02\x03\x04gr", 6)));
    QCOMPARE(header.count(), 0);
    QCOMPARE(header.header()[8], '\0');

    for (int i = 0; i < JXLanguageHeader::MAX_FILES; ++i)
        QVERIFY(header.add(languageFile("abcd", "eng", 7)));
    QVERIFY(header.isFull());
    const QByteArray full = header.table();
    QVERIFY(!header.add(languageFile("abcd", "ger", 7)));
    QCOMPARE(header.table(), full);
    QCOMPARE(u32At(full, 69 + 4 * 19), quint32(229 + 19 * 7));
}

void TestJXLanguageHeader::lastAlignedMagicStartsTheHeader()
{
    QByteArray area(4096, '\0');
    QCOMPARE(JXLanguageHeader::lastHeaderOffset(area), 0);
    const QByteArray magic("\xC3\xB2\xA0\x77", 4);
    area.replace(1024, 4, magic);
    area.replace(2048, 4, magic);
    area.replace(3001, 4, magic); // not on a 4-byte boundary
    area.replace(3996, 4, QByteArray("\xC3\xB2\xA0\x00", 4)); // aligned, one byte short of the magic
    area.replace(4062, 3, QByteArray("\xC3\xC3\xC3", 3));     // first bytes off the boundary and on it at 4064
    QCOMPARE(JXLanguageHeader::lastHeaderOffset(area), 2048);
    QByteArray unaligned(2051, '\0');
    unaligned.replace(2047, 4, magic);
    QCOMPARE(JXLanguageHeader::lastHeaderOffset(unaligned), 0);
    area.replace(4092, 4, magic);
    QCOMPARE(JXLanguageHeader::lastHeaderOffset(area), 4092);
    QCOMPARE(JXLanguageHeader::lastHeaderOffset(QByteArray("\xC3\xB2\xA0", 3)), 0);
}

void TestJXLanguageHeader::knownCodesOnly()
{
    JXLanguageHeader header(JXLanguageHeader::StampOfLastFile);
    for (const char* code : {"ger", "xyz", "ENG"})
        QVERIFY(header.add(languageFile("abcd", code, 8)));
    const QByteArray area = QByteArray(16, '\0') + header.table();

    QStringList codes{"chi"};
    QVERIFY(JXLanguageHeader::appendKnownCodes(area, 16, codes));
    QCOMPARE(codes, QStringList({"chi", "ger", "ENG"}));

    codes.clear();
    QVERIFY(!JXLanguageHeader::appendKnownCodes(area, area.size() - 228, codes));
    QVERIFY(!JXLanguageHeader::appendKnownCodes(area, -4, codes));
    QVERIFY(codes.isEmpty());
}

QTEST_APPLESS_MAIN(TestJXLanguageHeader)
#include "tst_jxlanguageimage.moc"
