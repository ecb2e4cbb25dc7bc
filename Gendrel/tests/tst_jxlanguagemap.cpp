#include <QtTest>

#include <QCryptographicHash>
#include <QRegularExpression>

#include "jxlanguagemap.h"

class TestJXLanguageMap : public QObject
{
    Q_OBJECT

private slots:
    void langName_data();
    void langName();
    void code_data();
    void code();
    void codesAndNamesAreParallelAndOrdered();
    void wholeTableIsUnchanged();
};

void TestJXLanguageMap::langName_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("name");

    QTest::newRow("upper case") << "ENG" << "English";
    QTest::newRow("mixed case") << "Eng" << "English";
    QTest::newRow("lower case") << "eng" << "English";
    QTest::newRow("unknown") << "xyz" << "";
    QTest::newRow("fre is absent") << "fre" << "";
    QTest::newRow("deu is absent") << "deu" << "";
    QTest::newRow("fra") << "fra" << "French";
    QTest::newRow("ger") << "ger" << "German";
    QTest::newRow("range code is one key") << "QAA-QTZ" << "Reservd for local use";
    QTest::newRow("inside the range") << "qab" << "";
    QTest::newRow("chi") << "chi" << "Chinese Simplified";
    QTest::newRow("zho") << "zho" << "Chinese Traditional";
    QTest::newRow("name kept as stored") << "jpn" << "Japanes";
    QTest::newRow("tib") << "tib" << "ibetan";
    QTest::newRow("nob") << "nob" << "NorwegianBokmal";
    QTest::newRow("later name wins, ady") << "ady" << "Adyghe";
    QTest::newRow("later name wins, kac") << "kac" << "Kachin";
    QTest::newRow("no trimming") << " eng" << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("first") << "aar" << "Afar";
    QTest::newRow("last") << "zza" << "Zazai";
}

void TestJXLanguageMap::langName()
{
    QFETCH(QString, code);
    QFETCH(QString, name);

    const JXLanguageMap table;
    const QString found = table.getLangName(code);
    QCOMPARE(found, name);
    QVERIFY(!found.isNull());
}

void TestJXLanguageMap::code_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("code");

    QTest::newRow("English") << "English" << "eng";
    QTest::newRow("case-sensitive") << "english" << "";
    QTest::newRow("no trimming") << "English " << "";
    QTest::newRow("two codes, Czech") << "Czech" << "ces";
    QTest::newRow("two codes, ibetan") << "ibetan" << "bod";
    QTest::newRow("two codes, Flemish") << "Flemish" << "dut";
    QTest::newRow("two codes, Dogri") << "Dogri" << "dgr";
    QTest::newRow("two codes, Cree") << "Cree" << "cre";
    QTest::newRow("two codes, Mong") << "Mong" << "hmn";
    QTest::newRow("Chinese Simplified") << "Chinese Simplified" << "chi";
    QTest::newRow("Chinese Traditional") << "Chinese Traditional" << "zho";
    QTest::newRow("range") << "Reservd for local use" << "qaa-qtz";
    QTest::newRow("replaced name is gone") << "Adygei" << "";
    QTest::newRow("empty") << "" << "";
}

void TestJXLanguageMap::code()
{
    QFETCH(QString, name);
    QFETCH(QString, code);

    const JXLanguageMap table;
    const QString found = table.getCode(name);
    QCOMPARE(found, code);
    QVERIFY(!found.isNull());
}

void TestJXLanguageMap::codesAndNamesAreParallelAndOrdered()
{
    const JXLanguageMap table;
    const QStringList codes = table.getLangCodes();
    const QStringList names = table.getLangNames();

    QCOMPARE(codes.size(), 502);
    QCOMPARE(names.size(), 502);
    QCOMPARE(codes.first(), QStringLiteral("aar"));
    QCOMPARE(codes.last(), QStringLiteral("zza"));
    const int range = codes.indexOf(QStringLiteral("qaa-qtz"));
    QVERIFY(range > 0);
    QCOMPARE(codes.at(range - 1), QStringLiteral("pus"));
    QCOMPARE(codes.at(range + 1), QStringLiteral("que"));

    const QRegularExpression threeLetters(QStringLiteral("^[a-z]{3}$"));
    QSet<QString> seenNames;
    int repeatedNames = 0;
    for (int i = 0; i < codes.size(); ++i) {
        if (i > 0)
            QVERIFY2(codes.at(i - 1) < codes.at(i), qPrintable(codes.at(i)));
        if (i != range)
            QVERIFY2(threeLetters.match(codes.at(i)).hasMatch(), qPrintable(codes.at(i)));
        QCOMPARE(table.getLangName(codes.at(i)), names.at(i));
        QVERIFY2(!names.at(i).isEmpty(), qPrintable(codes.at(i)));
        if (seenNames.contains(names.at(i)))
            ++repeatedNames;
        seenNames.insert(names.at(i));
    }
    QCOMPARE(repeatedNames, 20);
}

// The table is fixed data: any changed, lost or added pair changes this fingerprint.
void TestJXLanguageMap::wholeTableIsUnchanged()
{
    const JXLanguageMap table;
    const QStringList codes = table.getLangCodes();
    const QStringList names = table.getLangNames();
    QByteArray text;
    for (int i = 0; i < codes.size(); ++i)
        text += codes.at(i).toUtf8() + '\t' + names.at(i).toUtf8() + '\n';
    QCOMPARE(QCryptographicHash::hash(text, QCryptographicHash::Sha1).toHex(),
             QByteArray("48a75ad97858ade6c5c7f6ae52dc1ebb1a72ceba"));
}

QTEST_GUILESS_MAIN(TestJXLanguageMap)
#include "tst_jxlanguagemap.moc"
