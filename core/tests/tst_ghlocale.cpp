#include <QtTest>

#include <QTemporaryDir>
#include <QTranslator>

#include "location/ghlocale.h"

namespace {

// Answers for the context "Locale" only, as the application's translation files do.
class LocaleTranslator : public QTranslator
{
public:
    QString translate(const char* context, const char* sourceText, const char* disambiguation = nullptr,
                      int n = -1) const override
    {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        if (qstrcmp(context, "Locale") == 0 && qstrcmp(sourceText, "de_DE") == 0)
            return QStringLiteral("Deutsch");
        return QString();
    }
    bool isEmpty() const override { return false; }
};

QStringList namesOf(const QVector<GHLocale*>& locales)
{
    QStringList names;
    for (const GHLocale* locale : locales)
        names.append(locale->toString());
    return names;
}

} // namespace

class TestGHLocale : public QObject
{
    Q_OBJECT

private slots:
    void stringByLang_data();
    void stringByLang();
    void tableIsUnchanged();
    void localeFromName();
    void displayLanguage();
    void availableLocales();
};

void TestGHLocale::stringByLang_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("lang");
    QTest::addColumn<QString>("result");

    QTest::newRow("own language") << "\\ENG Ride\\GER Fahrt"
                                  << "GER"
                                  << "Fahrt";
    QTest::newRow("English fallback") << "\\ENG Ride\\GER Fahrt"
                                      << "ITA"
                                      << "Ride";
    QTest::newRow("codes compare with case") << "\\ENG Ride\\GER Fahrt"
                                             << "ger"
                                             << "Ride";
    QTest::newRow("English before the first entry") << "\\ITA Giro\\ENG Ride"
                                                    << "GER"
                                                    << "Ride";
    QTest::newRow("first entry, three-letter code") << "\\FRA Tour\\ITA Giro"
                                                    << "GER"
                                                    << "Tour";
    QTest::newRow("first entry, longer first word") << "\\Tour de ville"
                                                    << "GER"
                                                    << "Tour de ville";
    QTest::newRow("first entry, one word") << "\\GER"
                                           << "GER"
                                           << "GER";
    QTest::newRow("one text for all") << "Ride"
                                      << "GER"
                                      << "Ride";
    QTest::newRow("backslash later is plain text") << "Ride\\GER Fahrt"
                                                   << "GER"
                                                   << "Ride\\GER Fahrt";
    QTest::newRow("empty") << ""
                           << "GER"
                           << "";
    QTest::newRow("backslash alone") << "\\"
                                     << "GER"
                                     << "";
    QTest::newRow("backslashes only") << "\\\\\\"
                                      << "GER"
                                      << "";
    QTest::newRow("empty entries skipped") << "\\\\ITA Giro\\\\GER Fahrt\\"
                                           << "GER"
                                           << "Fahrt";
    QTest::newRow("code needs its blank") << "\\GERMAN Text\\GER Fahrt"
                                          << "GER"
                                          << "Fahrt";
    QTest::newRow("nothing after the code") << "\\ENG "
                                            << "ENG"
                                            << "";
    QTest::newRow("blanks after the first kept") << "\\ENG  two"
                                                 << "ENG"
                                                 << " two";
    QTest::newRow("inner blanks kept") << "\\GER Morgen  fahrt "
                                       << "GER"
                                       << "Morgen  fahrt ";
}

void TestGHLocale::stringByLang()
{
    QFETCH(QString, text);
    QFETCH(QString, lang);
    QFETCH(QString, result);

    // Backslashes alone are a malformed text, logged by each of the two calls.
    if (!text.isEmpty() && text.count('\\') == text.size()) {
        QTest::ignoreMessage(QtWarningMsg, "getStringByLang: a multi-language text without entries");
        QTest::ignoreMessage(QtWarningMsg, "getStringByLang: a multi-language text without entries");
    }
    QCOMPARE(getStringByLang(text, lang), result);
    QCOMPARE(getLocale(QVariant(text), lang), QVariant(result));
}

void TestGHLocale::tableIsUnchanged()
{
    // Stored data relies on these codes as they stand: Spanish in "SP", Arabic in "ME", Greek as "grc".
    const QStringList expected = {"af_ZA afr", "ar_ME ara", "cs_CZ cze", "da_DK dan", "de_DE ger", "en_US eng",
                                  "en_GB eng", "es_SP spa", "fr_FR fra", "it_IT ita", "hu_HU hun", "nl_NL dut",
                                  "no_NO nor", "pl_PL pol", "pt_PT por", "pt_BR por", "ro_RO rum", "fi_FI fin",
                                  "sv_SE swe", "he_IL heb", "ja_JP jpn", "ko_KR kor", "zh_TW zho", "el_GR grc"};
    QStringList table;
    for (const GHLocale& locale : gLocales) {
        table.append(locale.getLanguage() + '_' + locale.getCountry() + ' ' + locale.getISO3Language());
        QCOMPARE(locale.toString(), locale.getLanguage() + '_' + locale.getCountry());
        QVERIFY(locale.getDisplayCountry().isEmpty());
    }
    QCOMPARE(table, expected);
}

void TestGHLocale::localeFromName()
{
    const GHLocale language(QStringLiteral("en"));
    QCOMPARE(language.getLanguage(), QStringLiteral("en"));
    QVERIFY(language.getCountry().isEmpty());
    QCOMPARE(language.toString(), QStringLiteral("en_"));
    QVERIFY(language.getISO3Language().isEmpty());

    const GHLocale both(QStringLiteral("pt_BR"));
    QCOMPARE(both.getLanguage(), QStringLiteral("pt"));
    QCOMPARE(both.getCountry(), QStringLiteral("BR"));
    QVERIFY(both.getISO3Language().isEmpty());

    // Only the first "_" separates.
    const GHLocale more(QStringLiteral("sr_Latn_RS"));
    QCOMPARE(more.getLanguage(), QStringLiteral("sr"));
    QCOMPARE(more.getCountry(), QStringLiteral("Latn_RS"));
    QVERIFY(more.getDisplayCountry().isEmpty());
}

void TestGHLocale::displayLanguage()
{
    const GHLocale& german = gLocales[4];
    QCOMPARE(german.getDisplayLanguage(), QStringLiteral("de_DE"));

    LocaleTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    QCOMPARE(german.getDisplayLanguage(), QStringLiteral("Deutsch"));
    QCOMPARE(gLocales[5].getDisplayLanguage(), QStringLiteral("en_US"));
    QVERIFY(QCoreApplication::removeTranslator(&translator));
}

void TestGHLocale::availableLocales()
{
    QVERIFY(GHLocale::languagePackage.isEmpty());
    QVERIFY(GHLocale::getAvailableLocales().isEmpty());

    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString folder = scratch.path() + "/translations";
    QVERIFY(QDir().mkpath(folder + "/tr_fr_fr.qm")); // a folder, not a package
    for (const char* name : {"tr_en_us.qm", "readme.txt", "TR_DE_DE.QM"}) {
        QFile file(folder + '/' + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    GHLocale::languagePackage = folder;
    const QVector<GHLocale*> found = GHLocale::getAvailableLocales();
    QCOMPARE(namesOf(found), QStringList({"de_DE", "en_US"}));
    // Entries of the table itself, which callers do not own.
    QCOMPARE(found.at(0), &gLocales[4]);
    QCOMPARE(found.at(1), &gLocales[5]);
    QVERIFY(GHLocale::languagePackage.isEmpty());

    // Read once: the folder is gone and the answer stays.
    QVERIFY(QDir(folder).removeRecursively());
    QCOMPARE(GHLocale::getAvailableLocales(), found);

    // A folder that is not there adds nothing.
    GHLocale::languagePackage = folder;
    QTest::ignoreMessage(QtWarningMsg, qPrintable("GHLocale::getAvailableLocales: no translation folder " + folder));
    QCOMPARE(GHLocale::getAvailableLocales(), found);
    QVERIFY(GHLocale::languagePackage.isEmpty());
}

QTEST_GUILESS_MAIN(TestGHLocale)
#include "tst_ghlocale.moc"
