#include <QtEndian>
#include <QtTest>

#include "psf/gen2/jxpsfmultilangstring_1_5.h"
#include "psf/jxpsfnamedobject.h"

namespace {

// A minimal named record: flags (bit 0 bit font), three unused bytes, the u32 name offset.
class TestRecord : public JXPSFNamedObject
{
public:
    static constexpr unsigned int Size = 8;

    explicit TestRecord(char* data) : JXPSFNamedObject(data) {}

    unsigned int getBytesCount() override
    {
        unsigned int count = Size;
        for (JXPSFMultiLangString_1_5* name : qAsConst(m_names))
            count += name->getBytesCount();
        return count;
    }
    bool isBitFont() override { return (uchar(m_data[0]) & 1) != 0; }
    void setBitFont(bool bitFont) override { m_data[0] = char(bitFont ? 1 : 0); }
    unsigned int getNameOffset() override { return qFromLittleEndian<quint32>(m_data + 4); }
    void setNameOffset(unsigned int offset) override { qToLittleEndian<quint32>(offset, m_data + 4); }
};

// A name record as the device writes it: flags, width, u16 length, code, reserved, u16 image width and height.
QByteArray nameRecord(const QByteArray& payload, const char* code, bool next, quint16 width = 0, quint16 height = 0)
{
    QByteArray record(12, '\0');
    record[0] = char(next ? 0x02 : 0x00);
    qToLittleEndian<quint16>(quint16(payload.size()), record.data() + 2);
    record.replace(4, 3, QByteArray(code, 3));
    qToLittleEndian<quint16>(width, record.data() + 8);
    qToLittleEndian<quint16>(height, record.data() + 10);
    return record + payload;
}

// A 128 × 16 picture with one row of ink at y.
QByteArray pictureWithRow(int y)
{
    QByteArray bits(256, '\0');
    bits.replace(y * 16, 16, QByteArray(16, char(0xFF)));
    return bits;
}

// The record head followed by the names, in an image of erased flash.
QByteArray imageWith(bool bitFont, const QList<QByteArray>& names, int size = 4096)
{
    QByteArray image(size, char(0xFF));
    QByteArray record(int(TestRecord::Size), '\0');
    record[0] = char(bitFont ? 1 : 0);
    qToLittleEndian<quint32>(TestRecord::Size, record.data() + 4);
    for (const QByteArray& name : names)
        record += name;
    image.replace(0, record.size(), record);
    return image;
}

} // namespace

// Records with names in several languages: the chain of name records behind a record, and finding a language.
class TestJXPSFNamedObject : public QObject
{
    Q_OBJECT

private slots:
    void textNameByLanguage_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("expected");

        QTest::newRow("deu") << "deu" << "Zuhause";
        QTest::newRow("DEU") << "DEU" << "Zuhause";
        QTest::newRow("Deu") << "Deu" << "Zuhause";
        QTest::newRow("empty: first") << "" << "Home";
        QTest::newRow("no match") << "fra" << "";
    }

    void textNameByLanguage()
    {
        QFETCH(QString, code);
        QFETCH(QString, expected);
        QByteArray image = imageWith(false, {nameRecord("Home", "eng", true), nameRecord("Zuhause", "deu", false)});
        TestRecord record(image.data());
        QCOMPARE(record.loadMultiLangStrings(image.data() + 8, image.constData() + image.size()).size(), 2);
        QCOMPARE(record.getName(code), expected);
        QVERIFY(record.getBitFontName(code).isNull());
    }

    void bitmapNameByLanguage()
    {
        QByteArray image = imageWith(true, {nameRecord(pictureWithRow(1), "eng", true, 128, 16),
                                            nameRecord(pictureWithRow(9), "deu", false, 128, 16)});
        TestRecord record(image.data());
        record.loadMultiLangStrings(image.data() + 8, image.constData() + image.size());
        QCOMPARE(record.getNames().size(), 2);
        QVERIFY(record.getName(QString()).isEmpty());
        QVERIFY(record.getName(QStringLiteral("deu")).isEmpty());
        QVERIFY(record.getBitFontName(QStringLiteral("DEU")).isNull());
        QVERIFY(record.getBitFontName(QStringLiteral("fra")).isNull());

        const QImage german = record.getBitFontName(QStringLiteral("deu"));
        QCOMPARE(german.size(), QSize(128, 16));
        QCOMPARE(german.pixelColor(5, 9), QColor(Qt::black));
        QCOMPARE(german.pixelColor(5, 1), QColor(Qt::white));
        QCOMPARE(record.getBitFontName(QString()).pixelColor(5, 1), QColor(Qt::black));
    }

    void textStopsAtZeroWithinPayload()
    {
        QByteArray image = imageWith(false, {nameRecord(QByteArray("Home\0\0\0\0", 8), "eng", false)});
        TestRecord record(image.data());
        record.loadMultiLangStrings(image.data() + 8, image.constData() + image.size());
        QCOMPARE(record.getName(QString()), QStringLiteral("Home"));
        QCOMPARE(record.getNames().first()->getTextString(), QString::fromLatin1("Home\0\0\0\0", 8));

        // No zero byte: the text ends with the payload, not with whatever follows it.
        QByteArray unterminated = imageWith(false, {nameRecord("Home", "eng", false) + "tail"});
        TestRecord other(unterminated.data());
        other.loadMultiLangStrings(unterminated.data() + 8, unterminated.constData() + unterminated.size());
        QCOMPARE(other.getName(QString()), QStringLiteral("Home"));
    }

    void chainEnds_data()
    {
        QTest::addColumn<QList<QByteArray>>("names");
        QTest::addColumn<int>("frameSize"); // bytes of the frame from the record's start
        QTest::addColumn<int>("loaded");

        const QByteArray a = nameRecord("Alpha", "eng", true);
        const QByteArray b = nameRecord("Beta", "deu", true);
        const QByteArray c = nameRecord("Gamma", "fra", false);
        const int all = 8 + a.size() + b.size() + c.size();
        QTest::newRow("three chained") << QList<QByteArray>{a, b, c} << 4096 << 3;
        QTest::newRow("frame ends with the last") << QList<QByteArray>{a, b, c} << all << 3;
        QTest::newRow("last payload crosses the end") << QList<QByteArray>{a, b, c} << all - 1 << 2;
        QTest::newRow("last head crosses the end") << QList<QByteArray>{a, b, c} << all - c.size() + 11 << 2;
        QTest::newRow("frame ends before the last") << QList<QByteArray>{a, b, c} << all - c.size() << 2;
        // Erased flash reads as flags 0xFF and a length of 0xFFFF.
        QTest::newRow("has-next into erased flash") << QList<QByteArray>{a, b} << 4096 << 2;
        QTest::newRow("first name erased") << QList<QByteArray>{} << 4096 << 0;
    }

    void chainEnds()
    {
        QFETCH(QList<QByteArray>, names);
        QFETCH(int, frameSize);
        QFETCH(int, loaded);
        QByteArray image = imageWith(false, names);
        TestRecord record(image.data());
        if (loaded < names.size() || names.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("past its frame"));
        const auto& views = record.loadMultiLangStrings(image.data() + 8, image.constData() + frameSize);
        QCOMPARE(views.size(), loaded);
        const QStringList texts{"Alpha", "Beta", "Gamma"};
        for (int index = 0; index < loaded; ++index)
            QCOMPARE(views.at(index)->getTextString(), texts.at(index));
    }

    void createdNamesFollowTheRecord()
    {
        QByteArray image(4096, char(0xFF));
        image.replace(0, 8, QByteArray(8, '\0'));
        TestRecord record(image.data());

        JXPSFMultiLangString_1_5* first = record.createName(QStringLiteral("Home"), QStringLiteral("eng"));
        QCOMPARE(first->getData() - image.data(), qptrdiff(8));
        QCOMPARE(record.getNameOffset(), 8u);
        QCOMPARE(image.mid(8, 16), QByteArray("\x00\x00\x04\x00" "eng" "\x00\x00\x00\x00\x00" "Home", 16));
        JXPSFMultiLangString_1_5* second = record.createName(QStringLiteral("Zuhause"), QStringLiteral("de"));
        QCOMPARE(second->getData() - image.data(), qptrdiff(8 + 16));
        QVERIFY(first->hasNext());
        QVERIFY(!second->hasNext());
        QCOMPARE(image.mid(24 + 4, 4), QByteArray("de\0\0", 4)); // code padded with zero, reserved byte zero
        QCOMPARE(record.getBytesCount(), 8u + 16u + 19u);

        TestRecord reloaded(image.data());
        reloaded.loadMultiLangStrings(image.data() + reloaded.getNameOffset(), image.constData() + image.size());
        QCOMPARE(reloaded.getNames().size(), 2);
        QCOMPARE(reloaded.getName(QStringLiteral("ENG")), QStringLiteral("Home"));
        QCOMPARE(reloaded.getNames().at(1)->getTextString(), QStringLiteral("Zuhause"));
    }

    void newNameRecordHasZeroHead()
    {
        QByteArray bytes(16, char(0xFF));
        JXPSFMultiLangString_1_5 name(bytes.data(), true);
        QCOMPARE(bytes.left(12), QByteArray(12, '\0'));
        QCOMPARE(name.getBytesCount(), 12u);
    }

    void dumpOfRawBytes_data()
    {
        QTest::addColumn<int>("payload");
        QTest::addColumn<QStringList>("lines");

        // 12 + 4 = 16 bytes: a full line, then an empty one.
        QTest::newRow("one full line") << 4
                                       << QStringList{"00 00 04 00 65 6e 67 00 00 00 00 00 48 6f 6d 65 ", ""};
        QTest::newRow("part of a line") << 6
                                        << QStringList{"00 00 06 00 65 6e 67 00 00 00 00 00 48 6f 6d 65 ", "2e 2e "};
    }

    void dumpOfRawBytes()
    {
        QFETCH(int, payload);
        QFETCH(QStringList, lines);
        QByteArray bytes(32, '\0');
        JXPSFMultiLangString_1_5 name(bytes.data(), true);
        name.setString(QStringLiteral("Home..").left(payload), QStringLiteral("eng"), false, false);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("dump.txt"));
        name.dumpRawBytes(path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLatin1(file.readAll()), lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    }
};

QTEST_GUILESS_MAIN(TestJXPSFNamedObject)
#include "tst_jxpsfnamedobject.moc"
