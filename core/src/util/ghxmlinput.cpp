#include "util/ghxmlinput.h"

#include <QFile>
#include <QtEndian>

#include <cstring>

// A long ride's GPX with a point a second stays well below this; a course holds kilobytes. A hostile file of empty
// elements at the cap makes a receiver keep a few million records.
const qint64 GHXmlInput::MAX_BYTES = qint64(64) << 20;
const int GHXmlInput::MAX_DEPTH = 131072;
// Our elements carry at most seven attributes, an outside GPX root a dozen namespaces.
const int GHXmlInput::MAX_ATTRIBUTES_PER_TAG = 64;

namespace {

const char UTF16_LE_MARK[] = "\xFF\xFE";
const char UTF16_BE_MARK[] = "\xFE\xFF";
// How much of a UTF-16 file's start is looked at for its XML declaration.
const int DECLARATION_SPAN = 1024;

// Encodings in which every ASCII character is its own single byte, which the byte scan relies on.
bool isAsciiCompatible(const QStringRef& encoding)
{
    return encoding.isEmpty() || encoding.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) == 0 ||
           encoding.compare(QLatin1String("US-ASCII"), Qt::CaseInsensitive) == 0 ||
           encoding.startsWith(QLatin1String("ISO-8859-"), Qt::CaseInsensitive);
}

bool isXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

void appendUtf8(QByteArray& out, uint code)
{
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | code >> 6);
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | code >> 12);
        out += char(0x80 | (code >> 6 & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | code >> 18);
        out += char(0x80 | (code >> 12 & 0x3F));
        out += char(0x80 | (code >> 6 & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

} // namespace

// Passes the file on to the parser as UTF-8, transcoding a UTF-16 file with a byte-order mark, and counts the
// attributes of each tag before the parser sees them. In UTF-8 and its ASCII-based kin markup is ASCII and no other
// character has an ASCII byte, so a byte scan finds every '<' and every '=' before a quote; text that holds such
// pairs only makes the count larger.
class GHXmlInput::Device : public QIODevice
{
public:
    explicit Device(const QString& path) : m_file(path) {}

    bool start(QString& failure)
    {
        if (!m_file.open(QIODevice::ReadOnly)) {
            failure = m_file.errorString();
            return false;
        }
        const QByteArray mark = m_file.peek(2);
        m_utf16 = mark == UTF16_LE_MARK || mark == UTF16_BE_MARK;
        m_bigEndian = mark == UTF16_BE_MARK;
        if (m_utf16)
            m_file.read(2);
        // Each UTF-16 unit makes at least one byte of UTF-8.
        const qint64 least = m_utf16 ? (m_file.size() - 2) / 2 : m_file.size();
        if (!m_file.isSequential() && least > MAX_BYTES) {
            failure = tooLarge();
            return false;
        }
        return QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

    bool isSequential() const override { return true; }
    // Empty while the file has passed.
    const QString& refusal() const { return m_refusal; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        if (!m_refusal.isEmpty())
            return -1;
        if (!m_utf16) {
            const qint64 count = m_file.read(data, maxSize);
            if (count < 0)
                return refuse(m_file.errorString());
            return scan(data, count) ? count : -1;
        }
        while (m_pendingStart == m_pending.size()) {
            m_pending.clear();
            m_pendingStart = 0;
            if (!transcodePiece())
                return m_refusal.isEmpty() ? 0 : -1;
        }
        const qint64 count = qMin<qint64>(maxSize, m_pending.size() - m_pendingStart);
        std::memcpy(data, m_pending.constData() + m_pendingStart, size_t(count));
        m_pendingStart += int(count);
        return count;
    }

    qint64 writeData(const char*, qint64) override { return -1; }

private:
    qint64 refuse(const QString& reason)
    {
        m_refusal = reason;
        return -1;
    }

    static QString tooLarge() { return QStringLiteral("the file is larger than %1 bytes of UTF-8").arg(MAX_BYTES); }

    // The next piece of a UTF-16 file as UTF-8 in m_pending; false at the end of the file or on a refusal. The
    // first piece reaches past the XML declaration, whose encoding then names what the parser is given.
    bool transcodePiece()
    {
        char raw[32768];
        do {
            const qint64 count = m_file.read(raw, sizeof raw);
            if (count < 0) {
                refuse(m_file.errorString());
                return false;
            }
            if (count == 0) {
                if (m_haveOddByte || m_highSurrogate != 0)
                    refuse(QStringLiteral("the UTF-16 text ends inside a character"));
                break;
            }
            if (!transcode(raw, count))
                return false;
        } while (m_pending.isEmpty() ||
                 (!m_declarationSeen && m_pending.size() < DECLARATION_SPAN && !m_pending.contains("?>")));
        if (!m_declarationSeen) {
            m_declarationSeen = true;
            if (!declareUtf8())
                return false;
        }
        return !m_pending.isEmpty() && scan(m_pending.constData(), m_pending.size());
    }

    bool transcode(const char* raw, qint64 count)
    {
        for (qint64 i = 0; i < count; ++i) {
            if (!m_haveOddByte) {
                m_oddByte = uchar(raw[i]);
                m_haveOddByte = true;
                continue;
            }
            m_haveOddByte = false;
            const uchar byte = uchar(raw[i]);
            const ushort unit = m_bigEndian ? ushort(m_oddByte << 8 | byte) : ushort(byte << 8 | m_oddByte);
            if (m_highSurrogate != 0) {
                if (!QChar::isLowSurrogate(unit)) {
                    refuse(QStringLiteral("the UTF-16 text holds an unpaired surrogate"));
                    return false;
                }
                appendUtf8(m_pending, QChar::surrogateToUcs4(m_highSurrogate, unit));
                m_highSurrogate = 0;
            } else if (QChar::isHighSurrogate(unit)) {
                m_highSurrogate = unit;
            } else if (QChar::isLowSurrogate(unit)) {
                refuse(QStringLiteral("the UTF-16 text holds an unpaired surrogate"));
                return false;
            } else {
                appendUtf8(m_pending, unit);
            }
        }
        return true;
    }

    // The parser would follow an encoding named in the declaration and read the UTF-8 it is given as UTF-16: the name
    // is made "UTF-8". A declaration that names an encoding other than UTF-16 contradicts the byte-order mark.
    bool declareUtf8()
    {
        if (!m_pending.startsWith("<?xml") || m_pending.size() < 6 || !isXmlSpace(m_pending.at(5)))
            return true;
        const int end = m_pending.indexOf("?>");
        if (end < 0) {
            refuse(QStringLiteral("the XML declaration does not end within %1 bytes").arg(DECLARATION_SPAN));
            return false;
        }
        int at = m_pending.indexOf("encoding", 5);
        if (at < 0 || at > end)
            return true;
        at += 8;
        while (at < end && isXmlSpace(m_pending.at(at)))
            ++at;
        if (at < end && m_pending.at(at) == '=')
            ++at;
        while (at < end && isXmlSpace(m_pending.at(at)))
            ++at;
        const char quote = at < end ? m_pending.at(at) : '\0';
        const int close = quote == '"' || quote == '\'' ? m_pending.indexOf(quote, at + 1) : -1;
        if (close < 0 || close > end)
            return true; // malformed: the parser says so
        const QByteArray name = m_pending.mid(at + 1, close - at - 1).toUpper();
        if (name != "UTF-16" && name != "UTF-16LE" && name != "UTF-16BE") {
            refuse(QStringLiteral("the file declares the encoding %1 but starts with a UTF-16 byte-order mark")
                       .arg(QString::fromLatin1(name)));
            return false;
        }
        m_pending.replace(at + 1, close - at - 1, "UTF-8");
        return true;
    }

    bool scan(const char* data, qint64 count)
    {
        m_given += count;
        if (m_given > MAX_BYTES) {
            refuse(tooLarge());
            return false;
        }
        // Most bytes are none of NUL, '<' and '=' and are passed over in the inner loop.
        qint64 i = 0;
        while (i < count) {
            if (m_afterEquals) {
                const char c = data[i];
                if (isXmlSpace(c)) {
                    ++i;
                    continue;
                }
                m_afterEquals = false;
                if ((c == '"' || c == '\'') && ++m_attributes > MAX_ATTRIBUTES_PER_TAG) {
                    refuse(QStringLiteral("a tag with more than %1 attributes").arg(MAX_ATTRIBUTES_PER_TAG));
                    return false;
                }
            }
            i = nextMark(data, i, count);
            if (i == count)
                break;
            const char c = data[i++];
            if (c == '\0') {
                // UTF-16 without a byte-order mark and UTF-32 carry NUL bytes in every ASCII character; XML never
                // holds one.
                refuse(QStringLiteral("a NUL byte (the file is neither UTF-8 nor UTF-16 with a byte-order mark)"));
                return false;
            }
            if (c == '<')
                m_attributes = 0;
            else
                m_afterEquals = true;
        }
        return true;
    }

    static bool isMark(char c) { return c == '<' || c == '=' || c == '\0'; }

    // The index of the first NUL, '<' or '=' from i on, or count. Eight bytes at a time: '<' and '=' differ in the
    // lowest bit only, so with that bit set both become '=', and a byte equal to a given one becomes zero under XOR.
    // The lowest flag of a zero-byte mask is exact (borrows only run upwards), and in a little-endian word it is the
    // first byte.
    static qint64 nextMark(const char* data, qint64 i, qint64 count)
    {
        const quint64 ones = 0x0101010101010101ULL;
        const quint64 highs = 0x8080808080808080ULL;
        const quint64 equals = ones * uchar('=');
        const auto zeroBytes = [&](quint64 word) { return (word - ones) & ~word & highs; };
        for (; i + 8 <= count; i += 8) {
            const quint64 word = qFromLittleEndian<quint64>(data + i);
            const quint64 marks = zeroBytes(word) | zeroBytes((word | ones) ^ equals);
            if (marks != 0)
                return i + qCountTrailingZeroBits(marks) / 8;
        }
        while (i < count && !isMark(data[i]))
            ++i;
        return i;
    }

    QFile m_file;
    bool m_utf16 = false;
    bool m_bigEndian = false;
    bool m_declarationSeen = false;
    bool m_haveOddByte = false;
    uchar m_oddByte = 0;
    ushort m_highSurrogate = 0;
    QByteArray m_pending; // transcoded, not yet handed on
    int m_pendingStart = 0;
    qint64 m_given = 0;
    QString m_refusal;
    int m_attributes = 0;
    bool m_afterEquals = false;
};

GHXmlInput::GHXmlInput(QXmlStreamReader& reader, const QString& path) : m_reader(reader), m_device(new Device(path))
{
}

GHXmlInput::~GHXmlInput()
{
    m_reader.setDevice(nullptr);
}

bool GHXmlInput::open()
{
    m_reader.clear();
    m_depth = 0;
    if (!m_device->start(m_openFailure))
        return false;
    m_reader.setDevice(m_device.get());
    return true;
}

QXmlStreamReader::TokenType GHXmlInput::next()
{
    const QXmlStreamReader::TokenType token = m_reader.readNext();
    switch (token) {
    case QXmlStreamReader::StartElement:
        if (++m_depth > MAX_DEPTH)
            m_reader.raiseError(QStringLiteral("elements nested more than %1 deep").arg(MAX_DEPTH));
        break;
    case QXmlStreamReader::EndElement: --m_depth; break;
    case QXmlStreamReader::StartDocument:
        if (!isAsciiCompatible(m_reader.documentEncoding()))
            m_reader.raiseError(
                QStringLiteral("the encoding %1 is not read").arg(m_reader.documentEncoding().toString()));
        break;
    case QXmlStreamReader::DTD:
        // Our files have none. Qt bounds each entity's expansion but not how often one is used, and applies a DTD's
        // attribute defaults to every tag.
        m_reader.raiseError(QStringLiteral("a document type declaration is not read"));
        break;
    default: break;
    }
    // The parser takes a refused read for the end of the file, which after the root element is no error to it.
    if (!m_reader.hasError() && !m_device->refusal().isEmpty())
        m_reader.raiseError(m_device->refusal());
    return token;
}

QString GHXmlInput::readText()
{
    QString text;
    next();
    while (!m_reader.atEnd()) {
        if (m_reader.isEndElement())
            return text;
        if (m_reader.isStartElement()) {
            skipElement();
            continue;
        }
        if (m_reader.isCharacters() || m_reader.isEntityReference()) {
            // The usual single piece is copied at its exact size: appending to an empty text would reserve room
            // for growth, and toString() may share the parser's whole buffer; every stored value would keep either.
            const QStringRef piece = m_reader.text();
            if (text.isEmpty())
                text = sharedText(piece.unicode(), piece.size());
            else
                text += piece;
        }
        next();
    }
    return text;
}

QString GHXmlInput::text(const QStringRef& value)
{
    return sharedText(value.unicode(), value.size());
}

QString GHXmlInput::sharedText(const QChar* chars, int size)
{
    if (size == 0 || size > SHARED_TEXT_MAX)
        return QString(chars, size);
    uint hash = uint(size);
    for (int i = 0; i < size; ++i)
        hash = hash * 31 + chars[i].unicode();
    if (!m_shared)
        m_shared.reset(new QString[SHARED_TEXTS]);
    QString& slot = m_shared[(hash * 0x9E3779B1u) >> (32 - SHARED_TEXT_BITS)];
    if (slot.size() != size || std::memcmp(slot.constData(), chars, size_t(size) * sizeof(QChar)) != 0)
        slot = QString(chars, size);
    return slot;
}

// A loop, not recursion: the nesting of a foreign subtree is the file's to choose.
void GHXmlInput::skipElement()
{
    int level = 0;
    next();
    while (!m_reader.atEnd()) {
        if (m_reader.isStartElement()) {
            ++level;
        } else if (m_reader.isEndElement()) {
            if (level == 0) {
                next();
                return;
            }
            --level;
        }
        next();
    }
}

QString GHXmlInput::failure() const
{
    if (!m_openFailure.isEmpty())
        return m_openFailure;
    if (!m_device->refusal().isEmpty())
        return m_device->refusal();
    if (m_reader.hasError()) {
        return QStringLiteral("%1 (line %2, column %3)")
            .arg(m_reader.errorString())
            .arg(m_reader.lineNumber())
            .arg(m_reader.columnNumber());
    }
    return QString();
}
