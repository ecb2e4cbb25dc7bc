#include <QFontInfo>
#include <QFontMetrics>
#include <QtEndian>
#include <QtTest>

#include "psf/gen2/jxpsfmultilangstring_1_5.h"

namespace {

struct Rendering
{
    int width;
    int height;
    QByteArray payload;
};

// Renders on this thread into a fresh record, as the device client does with direct rendering.
Rendering render(const QString& text, bool isDesc)
{
    QByteArray buffer(12 + 32768, char(0xFF));
    JXPSFMultiLangString_1_5 record(buffer.data(), true);
    record.setString(text, QStringLiteral("eng"), true, isDesc);
    return {record.getImgWidth(), record.getImgHeight(),
            QByteArray(reinterpret_cast<const char*>(record.getEntity()), record.getLen())};
}

bool hasInk(const QByteArray& bits)
{
    return bits.count('\0') < bits.size();
}

} // namespace

// Names and descriptions painted into 1-bit pictures 128 pixels wide. The pixels are the font engine's, so the
// checks are on sizes, byte counts and the presence of ink.
class TestJXPSFBitFont : public QObject
{
    Q_OBJECT

private slots:
    void shortName()
    {
        const Rendering name = render(QStringLiteral("Cafe"), false);
        QCOMPARE(name.width, 128);
        QCOMPARE(name.height, 16);
        QCOMPARE(name.payload.size(), 256);
        QVERIFY(hasInk(name.payload));
    }

    void missingFaceIsMonospaced()
    {
        render(QStringLiteral("Cafe"), false);
        QFont font(QStringLiteral("Monaco"));
        font.setPixelSize(12);
        QVERIFY(QFontInfo(font).fixedPitch());
        const QFontMetrics metrics(font);
        QCOMPARE(metrics.horizontalAdvance(QLatin1Char('i')), metrics.horizontalAdvance(QLatin1Char('W')));
    }

    void longNameLosesItsEnd()
    {
        const QString text = QStringLiteral("Bahnhofstrassenkreuzungspunkt Nord");
        const Rendering full = render(text, false);
        QCOMPARE(full.payload.size(), 256);
        // The shortest prefix that renders the same is what was drawn: shortened, but not to 6 characters or fewer.
        int drawn = text.size();
        while (drawn > 1 && render(text.left(drawn - 1), false).payload == full.payload)
            --drawn;
        QVERIFY2(drawn > 6 && drawn < text.size(), qPrintable(QString::number(drawn)));
        QVERIFY(render(text.left(drawn - 1), false).payload != full.payload);
    }

    void descriptions_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("minHeight");
        QTest::addColumn<int>("maxHeight");
        QTest::addColumn<QString>("tooLong"); // expected word-too-long line, if any

        QTest::newRow("one line") << "Cafe" << 1 << 16 << "";
        QTest::newRow("wrapped") << QString("Along the river to the old mill and back ").repeated(4) << 32 << 400
                                 << "";
        // Grows past 2000 rows; only the 2048 rows the buffer holds are kept, and the height says so.
        QTest::newRow("taller than the buffer") << QString("word ").repeated(3000) << 2048 << 2048 << "";
        // One word wider than 128 pixels gets width × height ÷ 128 rows; this one would need more than 2048.
        QTest::newRow("word past 2048 rows")
            << QString(4000, QLatin1Char('x')) << 2048 << 2048
            << "calcPaintSize: word is too long toPaint width=\\d+, canPaint width=128";
        QTest::newRow("short overlong word") << QString(40, QLatin1Char('x')) << 17 << 200
                                             << "calcPaintSize: word is too long toPaint width=\\d+, canPaint width=128";
    }

    void descriptions()
    {
        QFETCH(QString, text);
        QFETCH(int, minHeight);
        QFETCH(int, maxHeight);
        QFETCH(QString, tooLong);
        if (!tooLong.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(tooLong));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^w=128,h=\\d+, size=\\d+$"));
        const Rendering description = render(text, true);
        QCOMPARE(description.width, 128);
        QVERIFY2(description.height >= minHeight && description.height <= maxHeight,
                 qPrintable(QString::number(description.height)));
        // The stored height always matches the rows held.
        QCOMPARE(description.payload.size(), description.height * 16);
        QVERIFY(hasInk(description.payload));
    }
};

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

QTEST_MAIN(TestJXPSFBitFont)
#include "tst_jxpsfbitfont.moc"
