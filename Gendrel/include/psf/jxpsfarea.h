#ifndef JXPSFAREA_H
#define JXPSFAREA_H

#include <QtEndian>
#include <QtGlobal>

class JXExtFlashInfo_2M;

// The areas of the second-generation layout that hold a table, each its own.
enum class JXPSFTable { POI, Workout, Route, Lap, Interval, WorkoutLog, Track, SensorLog, UserInfoLog };

// The bytes of one table of the in-memory image that its records may occupy: from begin up to end, which is the
// table's size in the layout and never past the image. Offsets read from the image are checked here, at the one
// place that knows the bounds; a record that would cross the end counts as absent.
class JXPSFArea
{
public:
    JXPSFArea() = default;

    // Empty when begin lies outside [imageStart, imageEnd); otherwise cut at imageEnd.
    static JXPSFArea make(char* begin, quint64 size, const char* imageEnd)
    {
        JXPSFArea area;
        if (!begin || !imageEnd || begin >= imageEnd)
            return area;
        const quint64 left = quint64(imageEnd - begin);
        area.m_begin = begin;
        area.m_end = begin + qMin(size, left);
        return area;
    }

    // The table at offset from a frame start; empty when the offset leaves the image.
    static JXPSFArea make(char* frame, quint64 offset, quint64 size, const char* imageEnd)
    {
        if (!frame || !imageEnd || frame >= imageEnd || offset >= quint64(imageEnd - frame))
            return JXPSFArea();
        return make(frame + offset, size, imageEnd);
    }

    // The table at offset from a frame whose head of headSize bytes starts at frame, when the table starts inside
    // the layout area of that kind and clear of the head; it ends at its layout size or at the area's end. Empty,
    // logged, otherwise: no head word, however damaged, may let a create, an erase or a packing write outside the
    // table's own area.
    static JXPSFArea table(JXPSFTable kind, char* frame, unsigned int headSize, quint64 offset,
                           const JXExtFlashInfo_2M* info, const char* imageEnd);
    // The image offsets [start, end) of the layout area of that kind; false without a layout.
    static bool layoutArea(JXPSFTable kind, const JXExtFlashInfo_2M* info, quint64& start, quint64& end);

    char* begin() const { return m_begin; }
    char* end() const { return m_end; }
    quint32 size() const { return quint32(m_end - m_begin); }
    bool isEmpty() const { return m_begin == m_end; }

    // The record at offset from begin when all its length bytes lie inside; null otherwise.
    char* at(quint64 offset, quint64 length) const
    {
        if (offset > size() || length > size() - offset)
            return nullptr;
        return m_begin + offset;
    }
    bool holds(const char* record, quint64 length) const
    {
        return record >= m_begin && record <= m_end && length <= quint64(m_end - record);
    }
    quint32 offsetOf(const char* record) const { return quint32(record - m_begin); }

private:
    char* m_begin = nullptr;
    char* m_end = nullptr;
};

// Unaligned little-endian fields of a record, and the all-0xFF test for absent ones.
namespace JXPSFBytes {

inline quint8 u8(const char* at) { return quint8(*at); }
inline quint16 u16(const char* at) { return qFromLittleEndian<quint16>(at); }
inline quint32 u32(const char* at) { return qFromLittleEndian<quint32>(at); }
inline qint16 s16(const char* at) { return qFromLittleEndian<qint16>(at); }
inline qint32 s32(const char* at) { return qFromLittleEndian<qint32>(at); }
inline void setU8(char* at, quint8 value) { *at = char(value); }
inline void setU16(char* at, quint16 value) { qToLittleEndian<quint16>(value, at); }
inline void setU32(char* at, quint32 value) { qToLittleEndian<quint32>(value, at); }
inline void setBits(char* at, quint8 mask, quint8 value) { *at = char((quint8(*at) & ~mask) | (value & mask)); }

const quint32 None = 0xFFFFFFFF;

} // namespace JXPSFBytes

#endif
