#include "json.h"

#include <QList>
#include <QStringList>

#include <charconv>
#include <cstring>
#include <limits>

namespace QtJson {

namespace {

inline bool isWhitespace(ushort character)
{
    return character == ' ' || character == '\t' || character == '\n' || character == '\r';
}

inline void skipWhitespace(const QChar* data, int size, int& index)
{
    while (index < size && isWhitespace(data[index].unicode()))
        ++index;
}

inline bool isNumberCharacter(ushort character)
{
    return (character >= '0' && character <= '9') || character == '+' || character == '-' || character == '.' ||
           character == 'e' || character == 'E';
}

inline bool isDigit(ushort character)
{
    return character >= '0' && character <= '9';
}

// Compares in place, so that no temporary text is made per token test.
inline bool matchesAt(const QChar* data, int index, const char* word, int length)
{
    for (int i = 0; i < length; ++i) {
        if (data[index + i].unicode() != ushort(word[i]))
            return false;
    }
    return true;
}

inline int hexDigitValue(ushort character)
{
    if (character >= '0' && character <= '9')
        return character - '0';
    if (character >= 'a' && character <= 'f')
        return character - 'a' + 10;
    if (character >= 'A' && character <= 'F')
        return character - 'A' + 10;
    return -1;
}

// Four hexadecimal digits as one UTF-16 code unit; anything else reads as 0.
ushort hexCodeUnit(const QChar* data)
{
    int value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexDigitValue(data[i].unicode());
        if (digit < 0)
            return 0;
        value = value * 16 + digit;
    }
    return ushort(value);
}

// Decimal digits only, within range; any other text is a failed conversion.
bool digitsToUnsigned(const QChar* data, int length, quint64 limit, quint64& result)
{
    if (length <= 0)
        return false;
    quint64 value = 0;
    for (int i = 0; i < length; ++i) {
        const ushort character = data[i].unicode();
        if (!isDigit(character))
            return false;
        const quint64 digit = character - '0';
        if (value > (limit - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    result = value;
    return true;
}

double textToDouble(const QChar* data, int length)
{
    // Number runs hold only ASCII characters, so narrowing is exact.
    char stackBuffer[64];
    QByteArray heapBuffer;
    char* buffer = stackBuffer;
    if (length > int(sizeof stackBuffer)) {
        heapBuffer.resize(length);
        buffer = heapBuffer.data();
    }
    for (int i = 0; i < length; ++i)
        buffer[i] = char(data[i].unicode());
    // from_chars ignores the process locale, unlike strtod.
    double value = 0;
    const std::from_chars_result result = std::from_chars(buffer, buffer + length, value);
    if (result.ec != std::errc() || result.ptr != buffer + length)
        return 0;
    return value;
}

QByteArray join(const QList<QByteArray>& list, const QByteArray& separator)
{
    QByteArray result;
    for (const QByteArray& item : list) {
        if (!result.isEmpty())
            result.append(separator);
        result.append(item);
    }
    return result;
}

QString sanitizeString(const QString& text)
{
    QString result;
    result.reserve(text.size() + 2);
    result.append(QLatin1Char('"'));
    for (const QChar character : text) {
        switch (character.unicode()) {
        case '\\': result.append(QLatin1String("\\\\")); break;
        case '"': result.append(QLatin1String("\\\"")); break;
        case '\b': result.append(QLatin1String("\\b")); break;
        case '\f': result.append(QLatin1String("\\f")); break;
        case '\n': result.append(QLatin1String("\\n")); break;
        case '\r': result.append(QLatin1String("\\r")); break;
        case '\t': result.append(QLatin1String("\\t")); break;
        default: result.append(character); break;
        }
    }
    result.append(QLatin1Char('"'));
    return result;
}

} // namespace

// Member names repeat from object to object; one parse shares the text of a
// name it has already read instead of allocating it again. Lives for one call.
struct Json::NameCache
{
    static const int Size = 256;
    QString names[Size];

    QString name(const QChar* data, int length)
    {
        uint hash = uint(length);
        for (int i = 0; i < length; ++i)
            hash = hash * 31 + data[i].unicode();
        QString& slot = names[hash % Size];
        if (slot.size() != length || memcmp(slot.constData(), data, size_t(length) * sizeof(QChar)) != 0)
            slot = QString(data, length);
        return slot;
    }
};

QVariant Json::parse(const QString& json)
{
    bool success = true;
    return parse(json, success);
}

QVariant Json::parse(const QString& json, bool& success)
{
    success = true;
    if (json.isNull())
        return QVariant();
    int index = 0;
    NameCache names;
    return parseValue(json, index, success, 0, &names);
}

QByteArray Json::serialize(const QVariant& data)
{
    bool success = true;
    return serialize(data, success);
}

QByteArray Json::serialize(const QVariant& data, bool& success)
{
    success = true;
    QByteArray text;

    if (!data.isValid()) {
        text = "null";
    } else if (data.type() == QVariant::List || data.type() == QVariant::StringList) {
        QList<QByteArray> values;
        const QVariantList list = data.toList();
        for (const QVariant& element : list) {
            const QByteArray value = serialize(element, success);
            if (!success)
                break;
            values.append(value);
        }
        text = "[ " + join(values, ", ") + " ]";
    } else if (data.type() == QVariant::Hash) {
        QList<QByteArray> members;
        const QVariantHash hash = data.toHash();
        for (auto it = hash.constBegin(); it != hash.constEnd(); ++it) {
            const QByteArray value = serialize(it.value(), success);
            if (!success)
                break;
            members.append(sanitizeString(it.key()).toUtf8() + " : " + value);
        }
        text = "{ " + join(members, ", ") + " }";
    } else if (data.type() == QVariant::Map) {
        QList<QByteArray> members;
        const QVariantMap map = data.toMap();
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            const QByteArray value = serialize(it.value(), success);
            if (!success)
                break;
            members.append(sanitizeString(it.key()).toUtf8() + " : " + value);
        }
        text = "{ " + join(members, ", ") + " }";
    } else if (data.type() == QVariant::String || data.type() == QVariant::ByteArray) {
        text = sanitizeString(data.toString()).toUtf8();
    } else if (data.type() == QVariant::Double) {
        text = QByteArray::number(data.toDouble(), 'g', 20);
        if (!text.contains('.') && !text.contains('e'))
            text += ".0";
    } else if (data.type() == QVariant::Bool) {
        text = data.toBool() ? "true" : "false";
    } else if (data.type() == QVariant::ULongLong) {
        text = QByteArray::number(data.value<qulonglong>());
    } else if (data.canConvert<qlonglong>()) {
        text = QByteArray::number(data.value<qlonglong>());
    } else if (data.canConvert<long>()) {
        text = QByteArray::number(qlonglong(data.value<long>()));
    } else if (data.canConvert<QString>()) {
        text = sanitizeString(data.toString()).toUtf8();
    } else {
        success = false;
    }

    if (!success)
        return QByteArray();
    return text;
}

QVariant Json::parseValue(const QString& json, int& index, bool& success, int depth, NameCache* names)
{
    switch (lookAhead(json, index)) {
    case JsonTokenString: return parseString(json, index, success);
    case JsonTokenNumber: return parseNumber(json, index);
    case JsonTokenCurlyOpen: return parseObject(json, index, success, depth, names);
    case JsonTokenSquaredOpen: return parseArray(json, index, success, depth, names);
    case JsonTokenTrue: nextToken(json, index); return QVariant(true);
    case JsonTokenFalse: nextToken(json, index); return QVariant(false);
    case JsonTokenNull: nextToken(json, index); return QVariant();
    default: break;
    }
    success = false;
    return QVariant();
}

QVariant Json::parseObject(const QString& json, int& index, bool& success, int depth, NameCache* names)
{
    if (depth >= MaxDepth) {
        success = false;
        return QVariantMap();
    }

    QVariantMap map;
    nextToken(json, index);
    for (;;) {
        // Scanned once: a comma or the closing bracket is consumed from here.
        int afterToken = index;
        const int token = nextToken(json, afterToken);
        if (token == JsonTokenNone) {
            success = false;
            return QVariantMap();
        }
        if (token == JsonTokenComma) {
            index = afterToken;
            continue;
        }
        if (token == JsonTokenCurlyClose) {
            index = afterToken;
            return map;
        }

        const QString name = readString(json, index, success, names);
        if (!success)
            return QVariantMap();
        if (nextToken(json, index) != JsonTokenColon) {
            success = false;
            return QVariantMap();
        }
        const QVariant value = parseValue(json, index, success, depth + 1, names);
        if (!success)
            return QVariantMap();
        map.insert(name, value);
    }
}

QVariant Json::parseArray(const QString& json, int& index, bool& success, int depth, NameCache* names)
{
    if (depth >= MaxDepth) {
        success = false;
        return QVariantList();
    }

    QVariantList list;
    nextToken(json, index);
    for (;;) {
        // Scanned once: a comma or the closing bracket is consumed from here.
        int afterToken = index;
        const int token = nextToken(json, afterToken);
        if (token == JsonTokenNone) {
            success = false;
            return QVariantList();
        }
        if (token == JsonTokenComma) {
            index = afterToken;
            continue;
        }
        if (token == JsonTokenSquaredClose) {
            index = afterToken;
            return list;
        }

        const QVariant value = parseValue(json, index, success, depth + 1, names);
        if (!success)
            return QVariantList();
        list.append(value);
    }
}

// parseString without the variant, for member names too; a null text on failure.
QString Json::readString(const QString& json, int& index, bool& success, NameCache* names)
{
    const QChar* data = json.constData();
    const int size = json.size();
    skipWhitespace(data, size, index);
    ++index; // whatever stands here is taken as the opening quote

    // Most strings hold no escape: they become one copy of their range.
    const int start = index;
    while (index < size) {
        const ushort character = data[index].unicode();
        if (character == '"') {
            const QString text =
                names ? names->name(data + start, index - start) : QString(data + start, index - start);
            ++index;
            return text;
        }
        if (character == '\\')
            break;
        ++index;
    }
    if (index >= size) {
        success = false;
        return QString();
    }

    QString text(data + start, index - start);
    for (;;) {
        const int runStart = index;
        while (index < size && data[index].unicode() != '"' && data[index].unicode() != '\\')
            ++index;
        text.append(data + runStart, index - runStart);
        if (index >= size) {
            success = false;
            return QString();
        }
        if (data[index].unicode() == '"') {
            ++index;
            return text;
        }

        ++index; // the backslash
        if (index >= size) {
            success = false;
            return QString();
        }
        const ushort escaped = data[index++].unicode();
        switch (escaped) {
        case '"':
        case '\\':
        case '/': text.append(QChar(escaped)); break;
        case 'b': text.append(QChar(8)); break;
        case 'f': text.append(QChar(12)); break;
        case 'n': text.append(QChar(10)); break;
        case 'r': text.append(QChar(13)); break;
        case 't': text.append(QChar(9)); break;
        case 'u':
            if (size - index < 4) {
                success = false;
                return QString();
            }
            text.append(QChar(hexCodeUnit(data + index)));
            index += 4;
            break;
        default: break; // an unknown escape is dropped with its backslash
        }
    }
}

QVariant Json::parseString(const QString& json, int& index, bool& success)
{
    const QString text = readString(json, index, success, nullptr);
    if (!success)
        return QVariant();
    return text;
}

QVariant Json::parseNumber(const QString& json, int& index)
{
    eatWhitespace(json, index);
    const int lastIndex = lastIndexOfNumber(json, index);
    const int length = lastIndex - index + 1;
    const QChar* number = json.constData() + index;
    index = lastIndex + 1;

    bool hasPoint = false;
    for (int i = 0; i < length && !hasPoint; ++i)
        hasPoint = number[i].unicode() == '.';

    if (hasPoint)
        return QVariant(textToDouble(number, length));

    if (length > 0 && number[0].unicode() == '-') {
        const quint64 limit = quint64(std::numeric_limits<qint64>::max()) + 1;
        quint64 magnitude = 0;
        if (!digitsToUnsigned(number + 1, length - 1, limit, magnitude))
            return QVariant(qlonglong(0));
        // Two's complement negation also gives the most negative value.
        return QVariant(qlonglong(0 - magnitude));
    }

    quint64 value = 0;
    if (!digitsToUnsigned(number, length, std::numeric_limits<quint64>::max(), value))
        value = 0;
    return QVariant(qulonglong(value));
}

int Json::lastIndexOfNumber(const QString& json, int index)
{
    const QChar* data = json.constData();
    const int size = json.size();
    int lastIndex = index;
    while (lastIndex < size && isNumberCharacter(data[lastIndex].unicode()))
        ++lastIndex;
    return lastIndex - 1;
}

void Json::eatWhitespace(const QString& json, int& index)
{
    skipWhitespace(json.constData(), json.size(), index);
}

int Json::lookAhead(const QString& json, int index)
{
    int scanIndex = index;
    return nextToken(json, scanIndex);
}

int Json::nextToken(const QString& json, int& index)
{
    const QChar* data = json.constData();
    const int size = json.size();
    skipWhitespace(data, size, index);
    if (index >= size)
        return JsonTokenNone;

    const ushort character = data[index].unicode();
    ++index;
    switch (character) {
    case '{': return JsonTokenCurlyOpen;
    case '}': return JsonTokenCurlyClose;
    case '[': return JsonTokenSquaredOpen;
    case ']': return JsonTokenSquaredClose;
    case ':': return JsonTokenColon;
    case ',': return JsonTokenComma;
    case '"': return JsonTokenString;
    case '-': return JsonTokenNumber;
    default: break;
    }
    if (isDigit(character))
        return JsonTokenNumber;
    --index;

    const int remaining = size - index;
    if (remaining < 4)
        return JsonTokenNone;
    if (matchesAt(data, index, "true", 4)) {
        index += 4;
        return JsonTokenTrue;
    }
    if (remaining >= 5 && matchesAt(data, index, "false", 5)) {
        index += 5;
        return JsonTokenFalse;
    }
    if (matchesAt(data, index, "null", 4)) {
        index += 4;
        return JsonTokenNull;
    }
    return JsonTokenNone;
}

} // namespace QtJson
