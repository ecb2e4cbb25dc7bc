#include "location/ghlocale.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <iterator>

GHLocale gLocales[24] = {
    GHLocale(QStringLiteral("af"), QStringLiteral("ZA"), QStringLiteral("afr")),
    GHLocale(QStringLiteral("ar"), QStringLiteral("ME"), QStringLiteral("ara")),
    GHLocale(QStringLiteral("cs"), QStringLiteral("CZ"), QStringLiteral("cze")),
    GHLocale(QStringLiteral("da"), QStringLiteral("DK"), QStringLiteral("dan")),
    GHLocale(QStringLiteral("de"), QStringLiteral("DE"), QStringLiteral("ger")),
    GHLocale(QStringLiteral("en"), QStringLiteral("US"), QStringLiteral("eng")),
    GHLocale(QStringLiteral("en"), QStringLiteral("GB"), QStringLiteral("eng")),
    GHLocale(QStringLiteral("es"), QStringLiteral("SP"), QStringLiteral("spa")),
    GHLocale(QStringLiteral("fr"), QStringLiteral("FR"), QStringLiteral("fra")),
    GHLocale(QStringLiteral("it"), QStringLiteral("IT"), QStringLiteral("ita")),
    GHLocale(QStringLiteral("hu"), QStringLiteral("HU"), QStringLiteral("hun")),
    GHLocale(QStringLiteral("nl"), QStringLiteral("NL"), QStringLiteral("dut")),
    GHLocale(QStringLiteral("no"), QStringLiteral("NO"), QStringLiteral("nor")),
    GHLocale(QStringLiteral("pl"), QStringLiteral("PL"), QStringLiteral("pol")),
    GHLocale(QStringLiteral("pt"), QStringLiteral("PT"), QStringLiteral("por")),
    GHLocale(QStringLiteral("pt"), QStringLiteral("BR"), QStringLiteral("por")),
    GHLocale(QStringLiteral("ro"), QStringLiteral("RO"), QStringLiteral("rum")),
    GHLocale(QStringLiteral("fi"), QStringLiteral("FI"), QStringLiteral("fin")),
    GHLocale(QStringLiteral("sv"), QStringLiteral("SE"), QStringLiteral("swe")),
    GHLocale(QStringLiteral("he"), QStringLiteral("IL"), QStringLiteral("heb")),
    GHLocale(QStringLiteral("ja"), QStringLiteral("JP"), QStringLiteral("jpn")),
    GHLocale(QStringLiteral("ko"), QStringLiteral("KR"), QStringLiteral("kor")),
    GHLocale(QStringLiteral("zh"), QStringLiteral("TW"), QStringLiteral("zho")),
    GHLocale(QStringLiteral("el"), QStringLiteral("GR"), QStringLiteral("grc")),
};

QString GHLocale::languagePackage;
QVector<GHLocale*> GHLocale::ms_locales;

namespace {

// The text of an entry without its code: everything after the entry's first blank.
QString withoutCode(const QString& entry)
{
    return entry.mid(entry.indexOf(QLatin1Char(' ')) + 1);
}

const QString* entryFor(const QStringList& entries, const QString& code)
{
    const QString prefix = code + QLatin1Char(' ');
    for (const QString& entry : entries) {
        if (entry.startsWith(prefix))
            return &entry;
    }
    return nullptr;
}

} // namespace

GHLocale::GHLocale(const QString& language, const QString& country, const QString& iso3)
    : m_country(country), m_language(language), m_iso3(iso3)
{
}

GHLocale::GHLocale(const QString& name)
{
    const int separator = name.indexOf(QLatin1Char('_'));
    m_language = separator < 0 ? name : name.left(separator);
    m_country = separator < 0 ? QString() : name.mid(separator + 1);
}

QString GHLocale::toString() const
{
    return m_language + QLatin1Char('_') + m_country;
}

QString GHLocale::getDisplayLanguage() const
{
    return QCoreApplication::translate("Locale", toString().toLatin1().constData());
}

QVector<GHLocale*> GHLocale::getAvailableLocales()
{
    if (languagePackage.isEmpty())
        return ms_locales;

    const QDir folder(languagePackage);
    if (!folder.exists())
        qWarning("GHLocale::getAvailableLocales: no translation folder %s", qPrintable(languagePackage));
    QVector<int> found;
    for (const QString& fileName : folder.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted)) {
        const QString baseName = QFileInfo(fileName).baseName().toLower();
        if (!baseName.startsWith(QLatin1String("tr_")))
            continue;
        // "tr_pt_br" names pt_BR.
        const QString rest = baseName.mid(3);
        const QString key = rest.left(3) + rest.right(2).toUpper();
        const auto match = std::find_if(std::begin(gLocales), std::end(gLocales),
                                        [&key](const GHLocale& locale) { return locale.toString() == key; });
        if (match != std::end(gLocales))
            found.append(int(match - std::begin(gLocales)));
    }
    std::sort(found.begin(), found.end());
    for (int index : found)
        ms_locales.append(&gLocales[index]);
    languagePackage.clear();
    return ms_locales;
}

QString getStringByLang(const QString& text, const QString& lang)
{
    if (text.isEmpty())
        return QString();
    if (!text.startsWith(QLatin1Char('\\')))
        return text;
    const QStringList entries = text.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (entries.isEmpty()) {
        qWarning("getStringByLang: a multi-language text without entries");
        return QString();
    }
    if (const QString* entry = entryFor(entries, lang))
        return withoutCode(*entry);
    if (const QString* entry = entryFor(entries, QStringLiteral("ENG")))
        return withoutCode(*entry);
    // An entry without a three-letter code is taken whole.
    const QString& first = entries.first();
    return first.indexOf(QLatin1Char(' ')) == 3 ? withoutCode(first) : first;
}

QVariant getLocale(const QVariant& value, const QString& lang)
{
    return QVariant(getStringByLang(value.toString(), lang));
}
