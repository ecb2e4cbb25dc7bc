#ifndef GHLOCALE_H
#define GHLOCALE_H

#include <QString>
#include <QVariant>
#include <QVector>

// A language and country pair with its three-letter ISO 639-2 code.
class GHLocale
{
public:
    GHLocale(const QString& language, const QString& country, const QString& iso3);
    // "pt_BR": language before the first "_", country after it; the code stays empty.
    explicit GHLocale(const QString& name);

    QString getCountry() const { return m_country; }
    QString getLanguage() const { return m_language; }
    QString getISO3Language() const { return m_iso3; }

    // "en_US"
    QString toString() const;
    // toString() translated in the context "Locale", or untranslated.
    QString getDisplayLanguage() const;
    QString getDisplayCountry() const { return QString(); }

    // The table entries with a translation package ("tr_de_de.qm") in languagePackage, in table order. The folder
    // is read once: the scan empties languagePackage and the entries found stay in ms_locales.
    static QVector<GHLocale*> getAvailableLocales();

    static QString languagePackage;
    static QVector<GHLocale*> ms_locales;

private:
    QString m_country;
    QString m_language;
    QString m_iso3;
};

// The 24 locales the library knows. Stored data relies on the codes as they stand ("es_SP", "ar_ME", "grc").
extern GHLocale gLocales[24];

// The version for the code lang of a multi-language text ("\ENG Ride\GER Fahrt"), else the English one, else the
// first; a text that does not begin with a backslash is the same in every language.
QString getStringByLang(const QString& text, const QString& lang);
QVariant getLocale(const QVariant& value, const QString& lang);

#endif
