// libFuzzer target for multi-language texts ("\ENG Ride\GER Fahrt"), which come from devices, training courses and
// POI databases: the version a language gets, through getStringByLang and getLocale, and a locale built from a name.
//
// Input: one byte whose value modulo 6 is the length of the language code, the code, then the text; both UTF-8. The
// expected version is found by searching the text rather than by splitting it as the code does: an entry is the run
// of characters after a backslash up to the next one.

#include "location/ghlocale.h"

#include <cstdint>

#include "fuzzsupport.h"

using JXFuzz::require;

namespace {

// The entry that starts at start, up to the next backslash.
QString entryAt(const QString& text, int start)
{
    const int end = text.indexOf(QLatin1Char('\\'), start);
    return text.mid(start, end < 0 ? -1 : end - start);
}

QString expectedVersion(const QString& text, const QString& lang)
{
    if (text.isEmpty())
        return QString();
    if (!text.startsWith(QLatin1Char('\\')))
        return text;
    for (const QString& code : {lang, QStringLiteral("ENG")}) {
        const int at = text.indexOf(QLatin1Char('\\') + code + QLatin1Char(' '));
        // A code with a backslash would straddle two entries.
        if (at >= 0 && !code.contains(QLatin1Char('\\'))) {
            const QString entry = entryAt(text, at + 1);
            return entry.mid(entry.indexOf(QLatin1Char(' ')) + 1);
        }
    }
    int start = 0;
    while (start < text.size() && text.at(start) == QLatin1Char('\\'))
        ++start;
    if (start == text.size())
        return QString();
    const QString first = entryAt(text, start);
    // Only a three-letter first word counts as a code.
    return first.indexOf(QLatin1Char(' ')) == 3 ? first.mid(4) : first;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    JXFuzz::silenceMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const char* bytes = reinterpret_cast<const char*>(data) + 1;
    const int available = int(size - 1);
    const int langSize = qMin(int(data[0] % 6), available);
    const QString lang = QString::fromUtf8(bytes, langSize);
    const QString text = QString::fromUtf8(bytes + langSize, available - langSize);

    const QString version = getStringByLang(text, lang);
    require(version == expectedVersion(text, lang), "getStringByLang picks another version");
    require(!text.startsWith(QLatin1Char('\\')) || !version.contains(QLatin1Char('\\')), "a version holds a separator");
    require(getLocale(QVariant(text), lang) == QVariant(version), "getLocale differs from getStringByLang");

    // The same bytes as a locale name: language before the first "_", country after it.
    const GHLocale named(text);
    require(named.toString() == (text.contains(QLatin1Char('_')) ? text : text + QLatin1Char('_')),
            "a locale name does not come back");
    require(named.getISO3Language().isEmpty() && named.getDisplayCountry().isEmpty(), "a named locale has a code");
    return 0;
}
