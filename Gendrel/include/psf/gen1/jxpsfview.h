#ifndef JXPSFVIEW_H
#define JXPSFVIEW_H

#include <QByteArray>
#include <QtEndian>
#include <QtGlobal>

#include <cstring>

// A bounded little-endian view over part of a first-generation image. Every record of the store reads through it:
// a field outside the area reads as erased flash (all bits set), so that a cut-off record looks "not set" rather
// than reading past the bytes. The area does not own the bytes; the caller keeps them alive while it reads.
class JXPSFView
{
public:
    JXPSFView() = default;
    JXPSFView(const char* data, qint64 size) : m_data(data), m_size(data && size > 0 ? size : 0) {}
    explicit JXPSFView(const QByteArray* bytes)
        : JXPSFView(bytes ? bytes->constData() : nullptr, bytes ? bytes->size() : 0)
    {
    }

    const char* data() const { return m_data; }
    qint64 size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }

    bool contains(qint64 offset, qint64 length) const
    {
        return offset >= 0 && length >= 0 && offset <= m_size && length <= m_size - offset;
    }

    // The bytes from offset on, at most length of them (all when length < 0); empty when offset is outside.
    JXPSFView sub(qint64 offset, qint64 length = -1) const
    {
        if (offset < 0 || offset > m_size)
            return JXPSFView();
        const qint64 left = m_size - offset;
        return JXPSFView(m_data + offset, length < 0 ? left : qMin(length, left));
    }

    quint8 u8(qint64 offset) const { return contains(offset, 1) ? quint8(m_data[offset]) : quint8(0xFF); }
    quint16 u16(qint64 offset) const
    {
        return contains(offset, 2) ? qFromLittleEndian<quint16>(m_data + offset) : quint16(0xFFFF);
    }
    quint32 u32(qint64 offset) const
    {
        return contains(offset, 4) ? qFromLittleEndian<quint32>(m_data + offset) : quint32(0xFFFFFFFFu);
    }
    // A copy of length bytes; the part outside the area is filled with 0xFF.
    QByteArray bytes(qint64 offset, int length) const
    {
        QByteArray result(qMax(length, 0), char(0xFF));
        const JXPSFView part = sub(offset, length);
        if (!part.isEmpty())
            memcpy(result.data(), part.data(), size_t(part.size()));
        return result;
    }

private:
    const char* m_data = nullptr;
    qint64 m_size = 0;
};

// Where the layout lets one table of an image lie. Tables are found through offsets in the frames' heads; a table
// read through one is cut to its area, so that a damaged offset or count never makes the records of another area
// into records of this one. Without a layout (a default area) nothing is cut.
class JXPSFTableArea
{
public:
    JXPSFTableArea() = default;
    // what names the table in the warnings.
    JXPSFTableArea(const char* begin, const char* end, const char* what)
        : m_begin(begin), m_end(end > begin ? end : begin), m_what(what), m_bounded(true)
    {
    }

    // The part of table (a view of the same image) inside the area: empty, with a warning, when the table starts
    // outside it.
    JXPSFView cut(const JXPSFView& table) const;

private:
    const char* m_begin = nullptr;
    const char* m_end = nullptr;
    const char* m_what = nullptr;
    bool m_bounded = false;
};

// The writing side over an image held in a QByteArray: a write that would cross the image's end writes nothing and
// returns false, so a write-back never grows or overruns the image. The image is detached once, on construction.
class JXPSFViewWriter
{
public:
    explicit JXPSFViewWriter(QByteArray& image) : m_data(image.data()), m_size(image.size()) {}

    qint64 size() const { return m_size; }
    bool contains(qint64 offset, qint64 length) const
    {
        return offset >= 0 && length >= 0 && offset <= m_size && length <= m_size - offset;
    }

    bool u8(qint64 offset, quint8 value) { return put(offset, &value, 1); }
    bool u16(qint64 offset, quint16 value)
    {
        uchar bytes[2];
        qToLittleEndian<quint16>(value, bytes);
        return put(offset, bytes, 2);
    }
    bool u32(qint64 offset, quint32 value)
    {
        uchar bytes[4];
        qToLittleEndian<quint32>(value, bytes);
        return put(offset, bytes, 4);
    }
    // length bytes: the start of value, padded with pad when value is shorter.
    bool bytes(qint64 offset, const QByteArray& value, int length, char pad)
    {
        if (!contains(offset, length))
            return false;
        const int copied = qMin(value.size(), length);
        if (copied > 0)
            memcpy(m_data + offset, value.constData(), size_t(copied));
        memset(m_data + offset + copied, pad, size_t(length - copied));
        return true;
    }
    bool fill(qint64 offset, int length, char value) { return bytes(offset, QByteArray(), length, value); }

private:
    bool put(qint64 offset, const void* value, int length);

    char* m_data;
    qint64 m_size;
};

#endif
