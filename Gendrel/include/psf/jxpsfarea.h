#ifndef JXPSFAREA_H
#define JXPSFAREA_H

#include <QSet>
#include <QtEndian>
#include <QtGlobal>

#include <memory>

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

// What all the views loaded from one table may take together, in bytes. No two records of a sound table overlap, so
// its views never need more than the table's size; the records of a damaged one may be shared by many routes or
// chains, each of which would otherwise load views of its own. Shared by the frame of the table and the holders of
// the views, which give their bytes back when they let the views go, whichever of them goes first.
class JXPSFLoadBudget
{
public:
    // what names the table's records in the one warning given when the budget first stops a load.
    JXPSFLoadBudget(quint64 bytes, const char* what) : m_left(bytes), m_what(what) {}

    // Nothing once a load was stopped, until views are given back: the holders that come after would otherwise
    // each walk a record that cannot fit only to drop it.
    quint64 left() const { return m_stopped ? 0 : m_left; }
    // False, and a warning the first time, when fewer bytes are left.
    bool take(quint64 bytes)
    {
        if (bytes > left()) {
            stopped();
            return false;
        }
        m_left -= bytes;
        return true;
    }
    void giveBack(quint64 bytes)
    {
        m_left += bytes;
        m_stopped = m_stopped && bytes == 0;
    }
    // Marks a load ended short because the budget is spent; says so once.
    void stopped();

private:
    quint64 m_left;
    const char* m_what;
    bool m_stopped = false;
    bool m_warned = false;
};

// The bytes one holder of views has taken from a budget.
class JXPSFLoadShare
{
public:
    JXPSFLoadShare() = default;
    ~JXPSFLoadShare() { release(); }
    JXPSFLoadShare(const JXPSFLoadShare&) = delete;
    JXPSFLoadShare& operator=(const JXPSFLoadShare&) = delete;

    // Gives back what is held and takes from this budget from now on; without one nothing is limited.
    void reset(std::shared_ptr<JXPSFLoadBudget> budget)
    {
        release();
        m_budget = std::move(budget);
    }
    // False when the budget has fewer bytes left: the load stops there.
    bool take(quint64 bytes)
    {
        if (m_budget && !m_budget->take(bytes))
            return false;
        m_held += bytes;
        return true;
    }
    void release()
    {
        if (m_budget)
            m_budget->giveBack(m_held);
        m_held = 0;
    }
    // The view of a variable-sized record at begin, made by make(end) and taken from the budget; null when it is
    // not complete. The view is made with end at the table's end, or nearer where the budget leaves less, so that a
    // record the budget cannot hold counts as crossing its end and none of its parts get views.
    template <typename View, typename Make> View* load(char* begin, const char* tableEnd, quint64 headSize, Make make)
    {
        const char* end = tableEnd;
        if (m_budget && begin < tableEnd && m_budget->left() < quint64(tableEnd - begin))
            end = begin + m_budget->left();
        if (end - begin < qptrdiff(headSize)) {
            stop();
            return nullptr;
        }
        View* view = make(end);
        if (view->isComplete() && take(view->getBytesCount()))
            return view;
        if (!view->isComplete() && end != tableEnd)
            stop();
        delete view;
        return nullptr;
    }

private:
    void stop()
    {
        if (m_budget)
            m_budget->stopped();
    }

    std::shared_ptr<JXPSFLoadBudget> m_budget;
    quint64 m_held = 0;
};

// The offsets a chain walk has been at, to end it where it loops. Most chains are a few records long: those are
// kept in place, and only a longer chain pays for a hash set.
class JXPSFVisitedOffsets
{
public:
    // False when offset was there already.
    bool insert(quint32 offset)
    {
        if (m_many.isEmpty()) {
            for (int index = 0; index < m_count; ++index) {
                if (m_few[index] == offset)
                    return false;
            }
            if (m_count < Few) {
                m_few[m_count++] = offset;
                return true;
            }
            for (int index = 0; index < m_count; ++index)
                m_many.insert(m_few[index]);
        }
        if (m_many.contains(offset))
            return false;
        m_many.insert(offset);
        return true;
    }
    bool contains(quint32 offset) const
    {
        if (!m_many.isEmpty())
            return m_many.contains(offset);
        for (int index = 0; index < m_count; ++index) {
            if (m_few[index] == offset)
                return true;
        }
        return false;
    }

private:
    static const int Few = 16;
    quint32 m_few[Few];
    int m_count = 0;
    QSet<quint32> m_many;
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
