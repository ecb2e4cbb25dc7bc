#include "psf/gen2/jxpsftrackseg_1_5.h"

#include <cstring>

#include "jxlog.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsftrackpoint_1_5.h"
#include "psf/jxpsfarea.h"

namespace {

const int kTime = 0;
const int kStartLon = 4;
const int kStartLat = 8;
const int kEndLon = 12;
const int kEndLat = 16;
const int kStartAlt = 20;
const int kEndAlt = 22;
const int kFlags = 24;
const int kTimeInterval = 25;
const int kBreakAndActivity = 26;
const int kNext = 28;
const int kPointCount = 32;
const int kSensorLogOffset = 36;

const quint8 kStartWaypointBit = 0x02;
const quint8 kEndWaypointBit = 0x04;
const quint8 kIntervalStartBit = 0x08;
const quint8 kIntervalEndBit = 0x10;
const quint8 kTimeTypeBits = 0x60;
const quint8 kBreakTypeBits = 0x07;
const quint8 kActivityBits = 0xF0;

// What the driver writes: class-0 points.
const unsigned int kNewPointSize = 6;

} // namespace

using namespace JXPSFBytes;

JXPSFTrackSeg_1_5::JXPSFTrackSeg_1_5(char* head, bool create, const char* end) : JXPSFObject(head), m_end(end)
{
    if (create)
        initialise();
    else
        loadPoints();
}

JXPSFTrackSeg_1_5::~JXPSFTrackSeg_1_5() = default;

void JXPSFTrackSeg_1_5::initialise()
{
    memset(m_data, 0, HeadSize);
    setStartLat(int(None));
    setStartLon(int(None));
    setEndLat(int(None));
    setEndLon(int(None));
    setNext(None);
    setSsrLogOffset(None);
}

void JXPSFTrackSeg_1_5::loadPoints()
{
    const unsigned int count = getPntCount();
    if (count > MostPoints)
        return;
    // A damaged count is found out here, before any view is made.
    const char* point = m_data + HeadSize;
    const char* last = point;
    for (unsigned int index = 0; index < count; ++index) {
        if (point >= m_end || quint64(m_end - point) < JXPSFTrackPoint_1_5::sizeOfClass(quint8(*point))) {
            JX_WARNING << "track points cross the segment list end; segment of" << count << "points not read";
            m_complete = false;
            return;
        }
        last = point;
        point += JXPSFTrackPoint_1_5::sizeOfClass(quint8(*point));
    }
    m_count = int(count);
    m_lastOffset = unsigned(last - m_data);
}

void JXPSFTrackSeg_1_5::makeViews()
{
    if (m_viewsMade)
        return;
    m_viewsMade = true;
    // Over the bytes as they are now, as the iterator reads them; never past the list end, whatever was written
    // since the load.
    if (m_count == 0)
        return;
    m_views = std::make_unique<std::deque<JXPSFTrackPoint_1_5>>();
    m_points.reserve(m_count);
    char* next = m_data + HeadSize;
    for (int index = 0; index < m_count; ++index) {
        if (next >= m_end || quint64(m_end - next) < JXPSFTrackPoint_1_5::sizeOfClass(quint8(*next)))
            break;
        m_views->emplace_back(next, false);
        m_points.append(&m_views->back());
        next += m_views->back().getBytesCount();
    }
}

QVector<JXPSFTrackPoint_1_5*>& JXPSFTrackSeg_1_5::getTrackPoints()
{
    makeViews();
    return m_points;
}

unsigned int JXPSFTrackSeg_1_5::getTime() const { return u32(m_data + kTime); }
void JXPSFTrackSeg_1_5::setTime(unsigned int time) { setU32(m_data + kTime, time); }
int JXPSFTrackSeg_1_5::getStartLon() const { return s32(m_data + kStartLon); }
void JXPSFTrackSeg_1_5::setStartLon(int lon) { setU32(m_data + kStartLon, quint32(lon)); }
int JXPSFTrackSeg_1_5::getStartLat() const { return s32(m_data + kStartLat); }
void JXPSFTrackSeg_1_5::setStartLat(int lat) { setU32(m_data + kStartLat, quint32(lat)); }
int JXPSFTrackSeg_1_5::getEndLon() const { return s32(m_data + kEndLon); }
void JXPSFTrackSeg_1_5::setEndLon(int lon) { setU32(m_data + kEndLon, quint32(lon)); }
int JXPSFTrackSeg_1_5::getEndLat() const { return s32(m_data + kEndLat); }
void JXPSFTrackSeg_1_5::setEndLat(int lat) { setU32(m_data + kEndLat, quint32(lat)); }
JXPSFAlt JXPSFTrackSeg_1_5::getStartAlt() const { return JXPSFAlt::fromPSFAlt(s16(m_data + kStartAlt)); }
void JXPSFTrackSeg_1_5::setStartAlt(short raw) { setU16(m_data + kStartAlt, quint16(raw)); }
JXPSFAlt JXPSFTrackSeg_1_5::getEndAlt() const { return JXPSFAlt::fromPSFAlt(s16(m_data + kEndAlt)); }
void JXPSFTrackSeg_1_5::setEndAlt(short raw) { setU16(m_data + kEndAlt, quint16(raw)); }
bool JXPSFTrackSeg_1_5::isSWpt() const { return (u8(m_data + kFlags) & kStartWaypointBit) != 0; }
void JXPSFTrackSeg_1_5::setSWpt(bool waypoint) { setBits(m_data + kFlags, kStartWaypointBit, waypoint ? 0xFF : 0); }
bool JXPSFTrackSeg_1_5::isEWpt() const { return (u8(m_data + kFlags) & kEndWaypointBit) != 0; }
void JXPSFTrackSeg_1_5::setEWpt(bool waypoint) { setBits(m_data + kFlags, kEndWaypointBit, waypoint ? 0xFF : 0); }
bool JXPSFTrackSeg_1_5::isItvStart() const { return (u8(m_data + kFlags) & kIntervalStartBit) != 0; }
void JXPSFTrackSeg_1_5::setItvStart(bool start) { setBits(m_data + kFlags, kIntervalStartBit, start ? 0xFF : 0); }
bool JXPSFTrackSeg_1_5::isItvEnd() const { return (u8(m_data + kFlags) & kIntervalEndBit) != 0; }
void JXPSFTrackSeg_1_5::setItvEnd(bool end) { setBits(m_data + kFlags, kIntervalEndBit, end ? 0xFF : 0); }
unsigned char JXPSFTrackSeg_1_5::getTimeType() const { return (u8(m_data + kFlags) & kTimeTypeBits) >> 5; }
void JXPSFTrackSeg_1_5::setTimeType(unsigned char type) { setBits(m_data + kFlags, kTimeTypeBits, quint8(type << 5)); }
unsigned char JXPSFTrackSeg_1_5::getTimeInterval() const { return u8(m_data + kTimeInterval); }
void JXPSFTrackSeg_1_5::setTimeInterval(unsigned char interval) { setU8(m_data + kTimeInterval, interval); }
unsigned char JXPSFTrackSeg_1_5::getBreakType() const { return u8(m_data + kBreakAndActivity) & kBreakTypeBits; }
void JXPSFTrackSeg_1_5::setBreakType(unsigned char type) { setBits(m_data + kBreakAndActivity, kBreakTypeBits, type); }
unsigned char JXPSFTrackSeg_1_5::getActType() const { return u8(m_data + kBreakAndActivity) >> 4; }
void JXPSFTrackSeg_1_5::setActType(unsigned char type) { setBits(m_data + kBreakAndActivity, kActivityBits, quint8(type << 4)); }
unsigned int JXPSFTrackSeg_1_5::getNext() const { return u32(m_data + kNext); }
void JXPSFTrackSeg_1_5::setNext(unsigned int next) { setU32(m_data + kNext, next); }

unsigned int JXPSFTrackSeg_1_5::getPntCount() const
{
    const quint32 count = u32(m_data + kPointCount);
    return count == None ? 0 : count;
}

void JXPSFTrackSeg_1_5::setPntCount(unsigned int count) { setU32(m_data + kPointCount, count); }
unsigned int JXPSFTrackSeg_1_5::getSsrLogOffset() const { return u32(m_data + kSensorLogOffset); }
void JXPSFTrackSeg_1_5::setSsrLogOffset(unsigned int offset) { setU32(m_data + kSensorLogOffset, offset); }

unsigned int JXPSFTrackSeg_1_5::getBytesCount()
{
    // The points lie back to back, so the last one's end is the segment's.
    if (m_count == 0)
        return HeadSize;
    return m_lastOffset + JXPSFTrackPoint_1_5::sizeOfClass(quint8(m_data[m_lastOffset]));
}

JXPSFTrackPoint_1_5* JXPSFTrackSeg_1_5::createTrackPoint(JXExtFlashInfo_2M* info)
{
    char* point = m_data + getBytesCount();
    if (point >= m_end || quint64(m_end - point) < kNewPointSize) {
        JX_WARNING << "no room for another track point before the segment list end";
        return nullptr;
    }
    char* header = info ? info->getFlashHeader() : nullptr;
    if (!header) {
        JX_WARNING << "no flash header to account for a new track point";
        return nullptr;
    }
    if (u32(header + JXExtFlashInfo_2M::TrackRoomLeft) < kNewPointSize) {
        JX_WARNING << "no track room left for another point";
        return nullptr;
    }
    makeViews();
    if (!m_views)
        m_views = std::make_unique<std::deque<JXPSFTrackPoint_1_5>>();
    m_views->emplace_back(point, true);
    JXPSFTrackPoint_1_5* view = &m_views->back();
    setPntCount(getPntCount() + 1);
    m_points.append(view);
    ++m_count;
    m_lastOffset = unsigned(point - m_data);
    setU32(header + JXExtFlashInfo_2M::TrackTableEnd, u32(header + JXExtFlashInfo_2M::TrackTableEnd) + kNewPointSize);
    setU32(header + JXExtFlashInfo_2M::TrackRoomLeft, u32(header + JXExtFlashInfo_2M::TrackRoomLeft) - kNewPointSize);
    return view;
}

void JXPSFTrackSeg_1_5::moveTo(char* head, const char* end)
{
    const qptrdiff shift = head - m_data;
    m_data = head;
    m_end = end;
    for (JXPSFTrackPoint_1_5* point : qAsConst(m_points))
        point->m_data += shift;
    m_sensorLog = nullptr;
}

JXPSFTrackPointIter JXPSFTrackSeg_1_5::getPointIterator()
{
    return JXPSFTrackPointIter(this);
}
