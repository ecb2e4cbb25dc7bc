// libFuzzer target for the component versions a map device keeps in its "version.ini" and the names of its map
// cards: compareVersions over the versions of the input, mappingLangCode over the whole input.
//
// Input: UTF-8 text, one version per line (at most 8). The expected lowest is found independently: the first entry
// with the smallest vector of numbers when all have the same number of parts, else none.

#include "device/zelto50/jxzelto50.h"

#include <algorithm>
#include <cstdint>

#include "fuzzsupport.h"

using JXFuzz::require;

namespace {

QVector<qlonglong> numbers(const QString& version)
{
    QVector<qlonglong> parts;
    for (const QString& part : version.split(QLatin1Char('.'), Qt::KeepEmptyParts))
        parts.append(part.toLongLong());
    return parts;
}

QString expectedLowest(const QStringList& versions)
{
    if (versions.isEmpty())
        return QString();
    QVector<QVector<qlonglong>> vectors;
    for (const QString& version : versions) {
        vectors.append(numbers(version));
        if (vectors.last().size() != vectors.first().size())
            return QString();
    }
    return versions.at(int(std::min_element(vectors.begin(), vectors.end()) - vectors.begin()));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    JXFuzz::silenceMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    const QStringList versions = text.split(QLatin1Char('\n')).mid(0, 8);
    const QString lowest = JXZelto50::compareVersions(versions);
    require(lowest == expectedLowest(versions), "compareVersions picks another version");
    require(lowest.isEmpty() || versions.contains(lowest), "compareVersions makes up a version");

    const QString code = JXZelto50::mappingLangCode(text);
    require(code.size() == 3 && code == code.toUpper(), "mappingLangCode gives no three-letter code");
    return 0;
}
