// libFuzzer target for the JSON reader, fed as the update-query client feeds it: the reply's bytes, read as UTF-8 up
// to the first zero byte. Reading the bytes directly must give exactly what reading their UTF-16 decoding gives.
// Whatever the reader accepts, the writer must write, and the reader must read that back to the same value.

#include "json.h"

#include <QVariant>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void require(bool condition, const char* what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// A string as it comes back from the writer's UTF-8: only a lone surrogate (from a \u escape) changes. It is decoded
// after the quote the writer puts before it, so that a leading U+FEFF is not taken for a byte order mark.
QString throughUtf8(const QString& text)
{
    const QByteArray utf8 = '"' + text.toUtf8();
    return QString::fromUtf8(utf8.constData(), utf8.size()).mid(1);
}

bool sameValue(const QVariant& original, const QVariant& reread)
{
    switch (original.type()) {
    case QVariant::Invalid: return !reread.isValid();
    case QVariant::Bool: return reread.type() == QVariant::Bool && reread.toBool() == original.toBool();
    case QVariant::String:
        return reread.type() == QVariant::String && reread.toString() == throughUtf8(original.toString());
    case QVariant::ULongLong:
        return reread.type() == QVariant::ULongLong && reread.toULongLong() == original.toULongLong();
    case QVariant::LongLong:
        // "-0" reads as a signed zero and is written as "0", which reads as unsigned.
        if (reread.type() == QVariant::ULongLong)
            return original.toLongLong() == 0 && reread.toULongLong() == 0;
        return reread.type() == QVariant::LongLong && reread.toLongLong() == original.toLongLong();
    case QVariant::Double: {
        // The writer's general format gives "1e+21" for some values; a number without a point reads as an integer,
        // so such a value cannot come back (how exponents read is left open). Every other double must be exact.
        const QByteArray written = QtJson::Json::serialize(original);
        if (!written.contains('.'))
            return true;
        return reread.type() == QVariant::Double && reread.toDouble() == original.toDouble();
    }
    case QVariant::List: {
        const QVariantList left = original.toList();
        const QVariantList right = reread.toList();
        if (reread.type() != QVariant::List || left.size() != right.size())
            return false;
        for (int i = 0; i < left.size(); ++i) {
            if (!sameValue(left.at(i), right.at(i)))
                return false;
        }
        return true;
    }
    case QVariant::Map: {
        if (reread.type() != QVariant::Map)
            return false;
        // Names that differ only in a lone surrogate become one name; the writer's key order keeps the last.
        const QVariantMap map = original.toMap();
        QMap<QString, QVariant> expected;
        for (auto it = map.constBegin(); it != map.constEnd(); ++it)
            expected.insert(throughUtf8(it.key()), it.value());
        const QVariantMap actual = reread.toMap();
        if (expected.keys() != actual.keys())
            return false;
        for (auto it = expected.constBegin(); it != expected.constEnd(); ++it) {
            if (!sameValue(it.value(), actual.value(it.key())))
                return false;
        }
        return true;
    }
    default: return false; // the reader makes no other type
    }
}

// The same value in every respect: types, texts, and doubles to the bit.
bool identical(const QVariant& left, const QVariant& right)
{
    if (left.userType() != right.userType())
        return false;
    switch (left.type()) {
    case QVariant::List: {
        const QVariantList leftList = left.toList();
        const QVariantList rightList = right.toList();
        if (leftList.size() != rightList.size())
            return false;
        for (int i = 0; i < leftList.size(); ++i) {
            if (!identical(leftList.at(i), rightList.at(i)))
                return false;
        }
        return true;
    }
    case QVariant::Map: {
        const QVariantMap leftMap = left.toMap();
        const QVariantMap rightMap = right.toMap();
        if (leftMap.keys() != rightMap.keys())
            return false;
        for (auto it = leftMap.constBegin(); it != leftMap.constEnd(); ++it) {
            if (!identical(it.value(), rightMap.value(it.key())))
                return false;
        }
        return true;
    }
    case QVariant::Double: {
        const double leftValue = left.toDouble();
        const double rightValue = right.toDouble();
        return std::memcmp(&leftValue, &rightValue, sizeof leftValue) == 0;
    }
    default: return left == right;
    }
}

bool isEmptyContainerOrInvalid(const QVariant& value)
{
    if (!value.isValid())
        return true;
    if (value.type() == QVariant::List)
        return value.toList().isEmpty();
    if (value.type() == QVariant::Map)
        return value.toMap().isEmpty();
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    // The bytes entry finds the first zero byte itself.
    const QByteArray reply = QByteArray::fromRawData(bytes, int(size));
    bool parsed = false;
    const QVariant result = QtJson::Json::parse(reply, parsed);

    bool decodedParsed = false;
    const QVariant decodedResult = QtJson::Json::parse(QString::fromUtf8(reply), decodedParsed);
    require(parsed == decodedParsed && identical(result, decodedResult),
            "reading the bytes differs from reading their UTF-16 decoding");

    if (!parsed) {
        require(isEmptyContainerOrInvalid(result), "a failed read returns a value");
        return 0;
    }

    bool written = false;
    const QByteArray json = QtJson::Json::serialize(result, written);
    require(written && !json.isNull(), "the writer refuses what the reader made");

    bool reparsed = false;
    // All of it: a string may hold a zero character, which the writer leaves as it is.
    const QVariant again = QtJson::Json::parse(QString::fromUtf8(json.constData(), json.size()), reparsed);
    require(reparsed, "the reader refuses what the writer made");
    require(sameValue(result, again), "the value does not survive writing and reading");
    return 0;
}
