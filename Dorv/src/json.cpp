#include "json.h"

#include <QList>
#include <QStringList>

#include <charconv>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <limits>
#include <vector>

namespace QtJson {

namespace {

// The reader runs over UTF-16 code units (ushort) or over UTF-8 bytes (uchar). Outside strings only ASCII matters,
// and every ASCII byte of UTF-8 stands for itself, so both read the same structure; UTF-8 is decoded inside strings
// only.

inline bool isWhitespace(ushort character)
{
    // Blank, tab, line feed and carriage return, as bits of a mask.
    const quint64 whitespace = (quint64(1) << ' ') | (1 << '\t') | (1 << '\n') | (1 << '\r');
    return character <= ' ' && ((quint64(1) << character) & whitespace) != 0;
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

// The index of the first quote or backslash at or after index, or size when there is none.
inline int findQuoteOrBackslash(const ushort* data, int index, int size)
{
#if defined(__SSE2__)
    // Eight characters at a time while eight remain.
    const __m128i quote = _mm_set1_epi16('"');
    const __m128i backslash = _mm_set1_epi16('\\');
    for (; size - index >= 8; index += 8) {
        const __m128i characters = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + index));
        const int found =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(characters, quote), _mm_cmpeq_epi16(characters, backslash)));
        if (found != 0)
            return index + __builtin_ctz(unsigned(found)) / 2;
    }
#endif
    while (index < size && data[index] != '"' && data[index] != '\\')
        ++index;
    return index;
}

inline int findQuoteOrBackslash(const uchar* data, int index, int size)
{
#if defined(__SSE2__)
    // Sixteen bytes at a time while sixteen remain; no byte of a multi-byte character is below 0x80.
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    for (; size - index >= 16; index += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + index));
        const int found =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)));
        if (found != 0)
            return index + __builtin_ctz(unsigned(found));
    }
#endif
    while (index < size && data[index] != '"' && data[index] != '\\')
        ++index;
    return index;
}

// Compares in place, so that no temporary text is made per token test.
template <typename Unit> inline bool matchesAt(const Unit* data, int index, const char* word, int length)
{
    for (int i = 0; i < length; ++i) {
        if (data[index + i] != Unit(word[i]))
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
ushort hexCodeUnit(const ushort* data)
{
    int value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexDigitValue(data[i]);
        if (digit < 0)
            return 0;
        value = value * 16 + digit;
    }
    return ushort(value);
}

// The character of UTF-8 that starts at data[index], a byte of 0x80 or above, decoded exactly as QString::fromUtf8
// decodes it: one or two UTF-16 units in units, and the byte count used. A malformed, overlong, surrogate or cut
// sequence is one replacement character for its first byte alone, so no byte below 0x80 is ever part of a sequence.
int decodeUtf8Character(const uchar* data, int index, int size, ushort (&units)[2], int& unitCount)
{
    const uint lead = data[index];
    int length = 0;
    uint minimum = 0;
    uint code = 0;
    if (lead >= 0xC2 && lead < 0xE0) {
        length = 2;
        minimum = 0x80;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        length = 3;
        minimum = 0x800;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead < 0xF5) {
        length = 4;
        minimum = 0x10000;
        code = lead & 0x07;
    }
    bool valid = length > 0 && size - index >= length;
    for (int i = 1; valid && i < length; ++i) {
        const uint continuation = data[index + i];
        valid = (continuation & 0xC0) == 0x80;
        code = (code << 6) | (continuation & 0x3F);
    }
    if (!valid || code < minimum || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        units[0] = QChar::ReplacementCharacter;
        unitCount = 1;
        return 1;
    }
    if (code < 0x10000) {
        units[0] = ushort(code);
        unitCount = 1;
    } else {
        units[0] = QChar::highSurrogate(code);
        units[1] = QChar::lowSurrogate(code);
        unitCount = 2;
    }
    return length;
}

// Decodes the UTF-8 of [index, end), which holds no escape, to out; returns the end of the output. No byte makes more
// than one unit (four bytes make two), so out needs room for end - index units.
ushort* widenUtf8(const uchar* data, int index, int end, ushort* out)
{
    while (index < end) {
#if defined(__SSE2__)
        if (end - index >= 16) {
            // Sixteen bytes widened at once; the units after the first non-ASCII byte are written over later, and
            // the room for sixteen is there because sixteen bytes remain.
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + index));
            const __m128i zero = _mm_setzero_si128();
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(bytes, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(bytes, zero));
            const int nonAscii = _mm_movemask_epi8(bytes);
            const int ascii = nonAscii == 0 ? 16 : __builtin_ctz(unsigned(nonAscii));
            out += ascii;
            index += ascii;
            if (ascii == 16)
                continue;
        }
#endif
        const uchar byte = data[index];
        if (byte < 0x80) {
            *out++ = byte;
            ++index;
            continue;
        }
        ushort units[2];
        int unitCount = 0;
        index += decodeUtf8Character(data, index, end, units, unitCount);
        for (int i = 0; i < unitCount; ++i)
            *out++ = units[i];
    }
    return out;
}

// Decimal digits only, within range; any other text is a failed conversion.
template <typename Unit> bool digitsToUnsigned(const Unit* data, int length, quint64 limit, quint64& result)
{
    if (length <= 0)
        return false;
    quint64 value = 0;
    for (int i = 0; i < length; ++i) {
        const ushort character = data[i];
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

// A plain decimal ("-12.345") whose digits make at most 2^53 and that has at most 22 decimals is the quotient of two
// exactly representable doubles, so one division rounds it exactly as a full conversion would.
template <typename Unit> bool plainDecimal(const Unit* data, int length, double& result)
{
    static const double powersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const bool negative = length > 0 && data[0] == '-';
    int index = negative ? 1 : 0;
    quint64 significand = 0;
    int digits = 0;
    int point = -1;
    for (; index < length; ++index) {
        const ushort character = data[index];
        if (isDigit(character)) {
            if (++digits > 19)
                return false;
            significand = significand * 10 + (character - '0');
        } else if (character == '.' && point < 0 && digits > 0) {
            point = index;
        } else {
            return false;
        }
    }
    const int decimals = length - 1 - point;
    if (point < 0 || decimals == 0 || decimals > 22 || significand > (quint64(1) << 53))
        return false;
    const double magnitude = double(significand) / powersOfTen[decimals];
    result = negative ? -magnitude : magnitude;
    return true;
}

template <typename Unit> double textToDouble(const Unit* data, int length)
{
    double value = 0;
    if (plainDecimal(data, length, value))
        return value;

    const char* begin = nullptr;
    char stackBuffer[64];
    QByteArray heapBuffer;
    if constexpr (sizeof(Unit) == 1) {
        begin = reinterpret_cast<const char*>(data);
    } else {
        // Number runs hold only ASCII characters, so narrowing is exact.
        char* buffer = stackBuffer;
        if (length > int(sizeof stackBuffer)) {
            heapBuffer.resize(length);
            buffer = heapBuffer.data();
        }
        for (int i = 0; i < length; ++i)
            buffer[i] = char(data[i]);
        begin = buffer;
    }
    // from_chars ignores the process locale, unlike strtod.
    const std::from_chars_result result = std::from_chars(begin, begin + length, value);
    if (result.ec != std::errc() || result.ptr != begin + length)
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

// Holds a T in place and returns it, so that a value is built where it stays.
template <typename T> T& holding(QVariant& value)
{
    value = QVariant(T());
    return *static_cast<T*>(value.data());
}

// One call of the reader: the text, the read position, the success flag, the texts it shares and the elements of the
// lists it is reading. Every value is built in the slot of the container that keeps it, so that nothing is copied on
// its way into the tree. Unit is ushort for UTF-16 text and uchar for UTF-8.
template <typename Unit> class Reader
{
public:
    Reader(const Unit* data, int size) : m_data(data), m_size(size) {}

    bool read(QVariant& value)
    {
        parseValue(value, 0);
        return m_success;
    }

private:
    void fail() { m_success = false; }
    void parseValue(QVariant& value, int depth);
    void parseObject(QVariant& value, int depth);
    void parseArray(QVariant& value, int depth);
    void parseString(QVariant& value);
    const QString* readName();
    struct SharedText;
    static const int SharedSlots = 256;
    const QString* readString(QString& text, SharedText (&table)[SharedSlots]);
    int scanEscapedString(int index) const;
    int skipUnits(int index, int count) const;
    void decode(int start, int firstEscape, int end, QString& text) const;
    void parseNumber(QVariant& value);
    int lastIndexOfNumber(int index) const;
    void eatWhitespace();
    int tokenAt(int index) const;

    const Unit* const m_data;
    const int m_size;
    int m_index = 0;
    bool m_success = true;

    // Member names repeat from object to object, and so do short values such as kinds or states: a short string
    // whose source was read before shares the text made then instead of allocating its own. Slots are found by a
    // hash of the source, which a slot keeps as its range in the text.
    struct SharedText
    {
        int start = 0;
        int length = -1;
        QString text;
    };
    static const int SharedLength = 64;
    SharedText m_names[SharedSlots];
    SharedText m_values[SharedSlots];
    QString m_name;
    std::vector<QVariant> m_elements;
};

// The index of the closing quote of a string whose first escape stands at index, or -1 when the text ends first
// (also inside an escape).
template <> int Reader<ushort>::scanEscapedString(int index) const
{
    while (index < m_size) {
        const ushort character = m_data[index];
        if (character == '"')
            return index;
        if (character == '\\') {
            if (++index >= m_size)
                return -1;
            if (m_data[index] == 'u') {
                if (m_size - (index + 1) < 4)
                    return -1;
                index += 4;
            }
        }
        ++index;
    }
    return -1;
}

// The index after the bytes that make count UTF-16 units from index (a last character of two units counts whole),
// or -1 when the text ends first.
template <> int Reader<uchar>::skipUnits(int index, int count) const
{
    while (count > 0) {
        if (index >= m_size)
            return -1;
        if (m_data[index] < 0x80) {
            ++index;
            --count;
            continue;
        }
        ushort units[2];
        int unitCount = 0;
        index += decodeUtf8Character(m_data, index, m_size, units, unitCount);
        count -= unitCount;
    }
    return index;
}

// As for UTF-16, where "\u" takes the next four UTF-16 units whatever they are: in UTF-8 they are counted as the
// decoded text would hold them. Any other escaped character is not a quote, and neither are the bytes after its first.
template <> int Reader<uchar>::scanEscapedString(int index) const
{
    while (index < m_size) {
        const uchar character = m_data[index];
        if (character == '"')
            return index;
        if (character == '\\') {
            if (++index >= m_size)
                return -1;
            if (m_data[index] == 'u') {
                index = skipUnits(index + 1, 4);
                if (index < 0)
                    return -1;
                continue;
            }
        }
        ++index;
    }
    return -1;
}

// The text of the string source between start and end, whose first escape (if any) stands at firstEscape. Escapes
// never lengthen a text, so the source's length is enough room and the text is allocated once.
template <> void Reader<ushort>::decode(int start, int firstEscape, int end, QString& text) const
{
    if (firstEscape == end) {
        text = QString(reinterpret_cast<const QChar*>(m_data + start), end - start);
        return;
    }
    text = QString(end - start, Qt::Uninitialized);
    ushort* out = reinterpret_cast<ushort*>(text.data());
    std::memcpy(out, m_data + start, size_t(firstEscape - start) * sizeof(ushort));
    out += firstEscape - start;
    int index = firstEscape;
    while (index < end) {
        const ushort character = m_data[index++];
        if (character != '\\') {
            *out++ = character;
            continue;
        }
        const ushort escaped = m_data[index++];
        switch (escaped) {
        case '"':
        case '\\':
        case '/': *out++ = escaped; break;
        case 'b': *out++ = 8; break;
        case 'f': *out++ = 12; break;
        case 'n': *out++ = 10; break;
        case 'r': *out++ = 13; break;
        case 't': *out++ = 9; break;
        case 'u':
            *out++ = hexCodeUnit(m_data + index);
            index += 4;
            break;
        default: break; // an unknown escape is dropped with its backslash
        }
    }
    text.resize(int(out - reinterpret_cast<const ushort*>(text.constData())));
}

// The same text from UTF-8, as the UTF-16 reader makes it of the decoded source: an escape takes the next UTF-16
// units, so it may take one half of a character that needs two and leave the other. No byte makes more than one
// unit, so the source's length is room enough here too.
template <> void Reader<uchar>::decode(int start, int firstEscape, int end, QString& text) const
{
    text = QString(end - start, Qt::Uninitialized);
    ushort* const begin = reinterpret_cast<ushort*>(text.data());
    ushort* out = widenUtf8(m_data, start, firstEscape, begin);
    int index = firstEscape;
    while (index < end) {
        // At a backslash: the escape, then the plain run up to the next one.
        ++index;
        const uchar escaped = m_data[index];
        if (escaped >= 0x80) {
            // An escaped non-ASCII unit is dropped as an unknown escape; the second unit of a pair stays.
            ushort units[2];
            int unitCount = 0;
            index += decodeUtf8Character(m_data, index, end, units, unitCount);
            if (unitCount == 2)
                *out++ = units[1];
        } else {
            ++index;
            switch (escaped) {
            case '"':
            case '\\':
            case '/': *out++ = escaped; break;
            case 'b': *out++ = 8; break;
            case 'f': *out++ = 12; break;
            case 'n': *out++ = 10; break;
            case 'r': *out++ = 13; break;
            case 't': *out++ = 9; break;
            case 'u': {
                // Four units: hexadecimal digits make the unit, anything else makes 0.
                int value = 0;
                int taken = 0;
                bool hexadecimal = true;
                ushort units[2];
                int unitCount = 0;
                while (taken < 4 && index < end) {
                    if (m_data[index] < 0x80) {
                        const int digit = hexDigitValue(m_data[index++]);
                        hexadecimal = hexadecimal && digit >= 0;
                        value = value * 16 + digit;
                        ++taken;
                        continue;
                    }
                    index += decodeUtf8Character(m_data, index, end, units, unitCount);
                    hexadecimal = false;
                    taken += unitCount;
                }
                *out++ = hexadecimal ? ushort(value) : 0;
                if (taken > 4)
                    *out++ = units[1]; // the fourth unit was the first half of a pair
                break;
            }
            default: break; // an unknown escape is dropped with its backslash
            }
        }
        const int next = findQuoteOrBackslash(m_data, index, end);
        out = widenUtf8(m_data, index, next, out);
        index = next;
    }
    text.resize(int(out - begin));
}

template <typename Unit> void Reader<Unit>::parseValue(QVariant& value, int depth)
{
    eatWhitespace();
    if (m_index >= m_size) {
        fail();
        return;
    }
    switch (m_data[m_index]) {
    case '{': parseObject(value, depth); return;
    case '[': parseArray(value, depth); return;
    case '"': parseString(value); return;
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9': parseNumber(value); return;
    default: break;
    }
    switch (tokenAt(m_index)) {
    case Json::JsonTokenTrue:
        m_index += 4;
        value.setValue(true);
        return;
    case Json::JsonTokenFalse:
        m_index += 5;
        value.setValue(false);
        return;
    case Json::JsonTokenNull: m_index += 4; return;
    default: fail(); return; // no value starts here
    }
}

template <typename Unit> void Reader<Unit>::parseObject(QVariant& value, int depth)
{
    QVariantMap& map = holding<QVariantMap>(value);
    if (depth >= Json::MaxDepth) {
        fail();
        return;
    }

    ++m_index; // the brace
    for (;;) {
        eatWhitespace();
        if (m_index >= m_size)
            break;
        const ushort character = m_data[m_index];
        if (character == ',') {
            ++m_index;
            continue;
        }
        if (character == '}') {
            ++m_index;
            return;
        }
        if (character != '"' && tokenAt(m_index) == Json::JsonTokenNone)
            break;

        const QString* name = readName();
        if (!name)
            break;
        eatWhitespace();
        if (m_index >= m_size || m_data[m_index] != ':')
            break;
        ++m_index;
        // A repeated name overwrites the earlier value here.
        QVariant& slot = *map.insert(*name, QVariant());
        parseValue(slot, depth + 1);
        if (!m_success)
            break;
    }
    fail();
    map.clear();
}

template <typename Unit> void Reader<Unit>::parseArray(QVariant& value, int depth)
{
    QVariantList& list = holding<QVariantList>(value);
    if (depth >= Json::MaxDepth) {
        fail();
        return;
    }

    // The elements wait on a stack shared by all levels, so that the list is allocated once at its final size.
    const size_t first = m_elements.size();
    ++m_index; // the bracket
    for (;;) {
        eatWhitespace();
        if (m_index >= m_size)
            break;
        const ushort character = m_data[m_index];
        if (character == ',') {
            ++m_index;
            continue;
        }
        if (character == ']') {
            ++m_index;
            const int count = int(m_elements.size() - first);
            list.reserve(count);
            for (int i = 0; i < count; ++i) {
                list.append(QVariant());
                list.last().swap(m_elements[first + size_t(i)]);
            }
            m_elements.erase(m_elements.begin() + std::ptrdiff_t(first), m_elements.end());
            return;
        }

        QVariant element;
        parseValue(element, depth + 1);
        if (!m_success)
            break;
        m_elements.push_back(std::move(element));
    }
    fail();
    m_elements.erase(m_elements.begin() + std::ptrdiff_t(first), m_elements.end());
}

template <typename Unit> void Reader<Unit>::parseString(QVariant& value)
{
    QString& text = holding<QString>(value);
    const QString* read = readString(text, m_values);
    if (!read)
        value = QVariant();
    else if (read != &text)
        text = *read;
}

// A member name; null on failure. Valid until the next name is read.
template <typename Unit> const QString* Reader<Unit>::readName()
{
    return readString(m_name, m_names);
}

// Reads the string at the read position; whatever character stands there is taken as the opening quote. A string
// whose source is at most SharedLength long is the text in its slot of the table, shared with every string of the
// same source; a longer one is made in text. Null on failure.
template <typename Unit> const QString* Reader<Unit>::readString(QString& text, SharedText (&table)[SharedSlots])
{
    const int start = m_index + 1;
    int end = findQuoteOrBackslash(m_data, start, m_size);
    const int firstEscape = end;
    if (end < m_size && m_data[end] == '\\')
        end = scanEscapedString(end);
    if (end < 0 || end >= m_size) {
        fail();
        return nullptr;
    }
    m_index = end + 1;

    const int length = end - start;
    if (length > SharedLength) {
        decode(start, firstEscape, end, text);
        return &text;
    }
    // A few characters tell most texts apart; two that share a slot only cost an allocation.
    uint hash = uint(length);
    if (length > 0)
        hash = hash * 31 + m_data[start] + 131u * m_data[start + length / 2] + 1031u * m_data[end - 1];
    SharedText& slot = table[(hash ^ (hash >> 8)) % SharedSlots];
    if (slot.length != length || std::memcmp(m_data + slot.start, m_data + start, size_t(length) * sizeof(Unit)) != 0) {
        decode(start, firstEscape, end, slot.text);
        slot.start = start;
        slot.length = length;
    }
    return &slot.text;
}

template <typename Unit> void Reader<Unit>::parseNumber(QVariant& value)
{
    // Most numbers are integers: their digits are added up while the run is scanned.
    const int start = m_index;
    const bool negative = m_data[start] == '-';
    const int digitsStart = negative ? start + 1 : start;
    quint64 magnitude = 0;
    int index = digitsStart;
    for (; index < m_size && isDigit(m_data[index]); ++index)
        magnitude = magnitude * 10 + (m_data[index] - '0');
    if (index >= m_size || !isNumberCharacter(m_data[index])) {
        m_index = index;
        // Up to 19 digits cannot overflow; longer runs (leading zeros may still fit) are checked digit by digit.
        const int digits = index - digitsStart;
        if (negative) {
            // A failed conversion (no digit, or out of range) gives 0. Two's complement negation also gives the
            // most negative value.
            const quint64 limit = quint64(std::numeric_limits<qint64>::max()) + 1;
            if (digits > 19 && !digitsToUnsigned(m_data + digitsStart, digits, limit, magnitude))
                magnitude = 0;
            if (digits == 0 || magnitude > limit)
                magnitude = 0;
            value.setValue(qlonglong(0 - magnitude));
        } else {
            if (digits > 19 &&
                !digitsToUnsigned(m_data + digitsStart, digits, std::numeric_limits<quint64>::max(), magnitude))
                magnitude = 0;
            value.setValue(qulonglong(magnitude));
        }
        return;
    }

    const int lastIndex = lastIndexOfNumber(index);
    const int length = lastIndex - start + 1;
    const Unit* number = m_data + start;
    m_index = lastIndex + 1;

    bool hasPoint = false;
    for (int i = 0; i < length && !hasPoint; ++i)
        hasPoint = number[i] == '.';

    if (hasPoint) {
        value.setValue(textToDouble(number, length));
        return;
    }

    // Other characters of numbers without a point ("1e5", "1+2") make the integer conversion fail.
    if (negative)
        value.setValue(qlonglong(0));
    else
        value.setValue(qulonglong(0));
}

template <typename Unit> int Reader<Unit>::lastIndexOfNumber(int index) const
{
    while (index < m_size && isNumberCharacter(m_data[index]))
        ++index;
    return index - 1;
}

template <typename Unit> void Reader<Unit>::eatWhitespace()
{
    while (m_index < m_size && m_data[m_index] <= ' ' && isWhitespace(m_data[m_index]))
        ++m_index;
}

// The kind of the token that starts at index, which stands on no white space.
template <typename Unit> int Reader<Unit>::tokenAt(int index) const
{
    const ushort character = m_data[index];
    switch (character) {
    case '{': return Json::JsonTokenCurlyOpen;
    case '}': return Json::JsonTokenCurlyClose;
    case '[': return Json::JsonTokenSquaredOpen;
    case ']': return Json::JsonTokenSquaredClose;
    case ':': return Json::JsonTokenColon;
    case ',': return Json::JsonTokenComma;
    case '"': return Json::JsonTokenString;
    case '-': return Json::JsonTokenNumber;
    default: break;
    }
    if (isDigit(character))
        return Json::JsonTokenNumber;

    const int remaining = m_size - index;
    if (remaining < 4)
        return Json::JsonTokenNone;
    if (matchesAt(m_data, index, "true", 4))
        return Json::JsonTokenTrue;
    if (remaining >= 5 && matchesAt(m_data, index, "false", 5))
        return Json::JsonTokenFalse;
    if (matchesAt(m_data, index, "null", 4))
        return Json::JsonTokenNull;
    return Json::JsonTokenNone;
}

} // namespace

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
    QVariant value;
    success = Reader<ushort>(reinterpret_cast<const ushort*>(json.constData()), json.size()).read(value);
    return value;
}

QVariant Json::parse(const QByteArray& utf8, bool& success)
{
    success = true;
    if (utf8.isNull())
        return QVariant();
    // The text ends at the first zero byte, and a byte order mark at its start is no part of it, as for
    // QString::fromUtf8.
    const uchar* data = reinterpret_cast<const uchar*>(utf8.constData());
    const void* zero = std::memchr(data, 0, size_t(utf8.size()));
    int size = zero ? int(static_cast<const uchar*>(zero) - data) : utf8.size();
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        data += 3;
        size -= 3;
    }
    QVariant value;
    success = Reader<uchar>(data, size).read(value);
    return value;
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

} // namespace QtJson
