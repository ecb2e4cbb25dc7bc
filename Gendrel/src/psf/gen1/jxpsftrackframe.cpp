#include "psf/gen1/jxpsftrackframe.h"

#include "jxlog.h"
#include "psf/gen1/jxpsfchain.h"
#include "psf/gen1/jxpsfsensorlogframe.h"

namespace {

// Frame head
const int kSegListOffset = 0;

// Segment head
const int kStartTime = 0;
const int kStartLng = 4;
const int kStartLat = 8;
const int kEndLng = 12;
const int kEndLat = 16;
const int kStartAlt = 20;
const int kEndAlt = 22;
const int kFlags = 24;
const int kTimeUnit = 25;
const int kNextOffset = 28;
const int kPointCount = 32;
const int kSensorLogOffset = 36;

const quint8 kBreak = 0x01;
const quint8 kStartA = 0x02;
const quint8 kEndA = 0x04;
const quint8 kStartB = 0x08;
const quint8 kEndB = 0x10;

// Point
const int kLngDelta = 0;
const int kLatDelta = 2;
const int kAltDelta = 4;
const int kFifth = 5;

const unsigned int kChainEnd = 0xFFFFFFFFu;
const unsigned int kFirstBadCount = 0xFFFEu;

} // namespace

unsigned int JXPSFTrack::m_head_offset_from_PSF = 0;
unsigned int JXPSFTrack::m_tail_offset_from_track_segmentlist = 0;

JXPSFTrackPoint::JXPSFTrackPoint(QByteArray* record, JXPSFField* parent) : JXPSFTrackPoint(JXPSFView(record), parent) {}

JXPSFTrackPoint::JXPSFTrackPoint(const JXPSFView& record, JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    m_lngDelta = short(record.u16(kLngDelta));
    m_latDelta = short(record.u16(kLatDelta));
    m_altDelta = static_cast<signed char>(record.u8(kAltDelta));
    m_timeDelta = record.u8(kFifth);
    setSizeInRawData(RecordSize);
}

unsigned int JXPSFTrackPoint::finalize(QByteArray& out, unsigned int pos)
{
    JXPSFViewWriter writer(out);
    if (!writer.contains(pos, RecordSize))
        return pos;
    writer.u16(pos + kLngDelta, quint16(m_lngDelta));
    writer.u16(pos + kLatDelta, quint16(m_latDelta));
    writer.u8(pos + kAltDelta, quint8(m_altDelta));
    writer.u8(pos + kFifth, m_timeDelta);
    return pos + RecordSize;
}

JXPSFRoutePoint::JXPSFRoutePoint(JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    setSizeInRawData(RecordSize);
}

JXPSFRoutePoint::JXPSFRoutePoint(QByteArray* record, JXPSFField* parent) : JXPSFRoutePoint(JXPSFView(record), parent) {}

JXPSFRoutePoint::JXPSFRoutePoint(const JXPSFView& record, JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    m_lngDelta = short(record.u16(kLngDelta));
    m_latDelta = short(record.u16(kLatDelta));
    m_altDelta = static_cast<signed char>(record.u8(kAltDelta));
    const quint8 flags = record.u8(kFifth);
    m_flag1 = (flags & 0x01) != 0;
    m_flag2 = (flags & 0x02) != 0;
    m_flag3 = (flags & 0x04) != 0;
    setSizeInRawData(RecordSize);
}

unsigned int JXPSFRoutePoint::finalize(QByteArray& out, unsigned int pos)
{
    JXPSFViewWriter writer(out);
    if (!writer.contains(pos, RecordSize))
        return pos;
    writer.u16(pos + kLngDelta, quint16(m_lngDelta));
    writer.u16(pos + kLatDelta, quint16(m_latDelta));
    writer.u8(pos + kAltDelta, quint8(m_altDelta));
    writer.u8(pos + kFifth, quint8((m_flag1 ? 0x01 : 0) | (m_flag2 ? 0x02 : 0) | (m_flag3 ? 0x04 : 0)));
    return pos + RecordSize;
}

JXPSFTrack::JXPSFTrack(JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    setSizeInRawData(HeadSize);
}

JXPSFTrack::JXPSFTrack(QByteArray* segment, int isTrack, JXPSFSensorLogFrame* logs, JXPSFField* parent)
    : JXPSFField(segment, parent)
{
    parse(JXPSFView(segment), isTrack, logs, kFirstBadCount);
}

JXPSFTrack::JXPSFTrack(const JXPSFView& segment, int isTrack, JXPSFSensorLogFrame* logs, qint64 maxPoints,
                       JXPSFField* parent)
    : JXPSFField(nullptr, parent)
{
    parse(segment, isTrack, logs, maxPoints);
}

JXPSFTrack::~JXPSFTrack()
{
    // Points made from the loaded records belong to the stores; those a caller added are on the heap.
    for (const QPointer<JXPSFRoutePoint>& point : qAsConst(m_routePoints)) {
        if (!m_routeStore.owns(point.data()))
            delete point.data();
    }
    for (const QPointer<JXPSFTrackPoint>& point : qAsConst(m_trackPoints)) {
        if (!m_trackStore.owns(point.data()))
            delete point.data();
    }
    for (const QPointer<JXPSFSensorLog>& log : qAsConst(m_sensorLogs))
        delete log.data();
}

void JXPSFTrack::parse(const JXPSFView& segment, int isTrack, JXPSFSensorLogFrame* logs, qint64 maxPoints)
{
    m_startTime = segment.u32(kStartTime);
    m_startLng = segment.u32(kStartLng);
    m_startLat = segment.u32(kStartLat);
    m_endLng = segment.u32(kEndLng);
    m_endLat = segment.u32(kEndLat);
    m_startAlt = short(segment.u16(kStartAlt));
    m_endAlt = short(segment.u16(kEndAlt));
    const quint8 flags = segment.u8(kFlags);
    m_breakFlag = (flags & kBreak) != 0;
    m_startFlagA = (flags & kStartA) != 0;
    m_endFlagA = (flags & kEndA) != 0;
    m_startFlagB = (flags & kStartB) != 0;
    m_endFlagB = (flags & kEndB) != 0;
    m_timeUnit = segment.u8(kTimeUnit);
    m_nextOffset = segment.u32(kNextOffset);
    const unsigned int count = segment.u32(kPointCount);
    m_sensorLogOffset = segment.u32(kSensorLogOffset);

    const unsigned int wanted = count >= kFirstBadCount ? 0 : count;
    const qint64 fitting = qMax<qint64>(0, (segment.size() - HeadSize) / JXPSFTrackPoint::RecordSize);
    const qint64 points = qMin<qint64>(qMin<qint64>(wanted, fitting), qMax<qint64>(maxPoints, 0));
    if (points < wanted)
        JX_WARNING << "track segment holds" << points << "of" << wanted << "points";
    // The records are kept as they are; their objects are made when first asked for.
    m_loadedAsTrack = isTrack != 0;
    const JXPSFView records = segment.sub(HeadSize, points * JXPSFTrackPoint::RecordSize);
    m_pointRecords = QByteArray(records.data(), int(records.size()));
    m_pointCount = unsigned(points);
    setSizeInRawData(unsigned(HeadSize + points * JXPSFTrackPoint::RecordSize));

    if (isTrack)
        loadSensorLog(logs);
}

int JXPSFTrack::pendingPoints(bool isTrack) const
{
    return isTrack == m_loadedAsTrack ? m_pointRecords.size() / JXPSFTrackPoint::RecordSize : 0;
}

void JXPSFTrack::makePoints()
{
    if (m_pointRecords.isEmpty())
        return;
    const JXPSFView records(&m_pointRecords);
    const int count = m_pointRecords.size() / JXPSFTrackPoint::RecordSize;
    if (m_loadedAsTrack) {
        m_trackStore.reset(count);
        m_trackPoints.reserve(m_trackPoints.size() + count);
    } else {
        m_routeStore.reset(count);
        m_routePoints.reserve(m_routePoints.size() + count);
    }
    for (int i = 0; i < count; ++i) {
        const JXPSFView record = records.sub(qint64(i) * JXPSFTrackPoint::RecordSize, JXPSFTrackPoint::RecordSize);
        if (m_loadedAsTrack)
            m_trackPoints.append(m_trackStore.make(i, record));
        else
            m_routePoints.append(m_routeStore.make(i, record));
    }
    m_pointRecords = QByteArray();
}

void JXPSFTrack::loadSensorLog(JXPSFSensorLogFrame* logs)
{
    if (!logs)
        return;
    m_sensorLogs += logs->loadChain(m_sensorLogOffset, this);
}

qint64 JXPSFTrack::writtenSize(bool isTrack) const
{
    const int points = pendingPoints(isTrack) + (isTrack ? m_trackPoints.size() : m_routePoints.size());
    return HeadSize + qint64(points) * JXPSFTrackPoint::RecordSize;
}

unsigned int JXPSFTrack::finalize(QByteArray& out, unsigned int pos, bool hasNext, bool isTrack)
{
    JXPSFViewWriter writer(out);
    if (!writer.contains(pos, writtenSize(isTrack))) {
        JX_WARNING << "track segment does not fit at" << pos;
        return pos;
    }
    writer.u32(pos + kStartTime, m_startTime);
    writer.u32(pos + kStartLng, m_startLng);
    writer.u32(pos + kStartLat, m_startLat);
    writer.u32(pos + kEndLng, m_endLng);
    writer.u32(pos + kEndLat, m_endLat);
    writer.u16(pos + kStartAlt, quint16(m_startAlt));
    writer.u16(pos + kEndAlt, quint16(m_endAlt));
    writer.u8(pos + kFlags, quint8((m_breakFlag ? kBreak : 0) | (m_startFlagA ? kStartA : 0) |
                                   (m_endFlagA ? kEndA : 0) | (m_startFlagB ? kStartB : 0) | (m_endFlagB ? kEndB : 0)));
    writer.u8(pos + kTimeUnit, m_timeUnit);

    unsigned int end = pos + HeadSize;
    unsigned int written = 0;
    const int pending = pendingPoints(isTrack);
    if (pending > 0) {
        // Written as a made point would write itself: a route point keeps only its three flags.
        const JXPSFView records(&m_pointRecords);
        for (int i = 0; i < pending; ++i) {
            const qint64 at = qint64(i) * JXPSFTrackPoint::RecordSize;
            writer.u16(end + kLngDelta, records.u16(at + kLngDelta));
            writer.u16(end + kLatDelta, records.u16(at + kLatDelta));
            writer.u8(end + kAltDelta, records.u8(at + kAltDelta));
            writer.u8(end + kFifth, isTrack ? records.u8(at + kFifth) : quint8(records.u8(at + kFifth) & 0x07));
            end += JXPSFTrackPoint::RecordSize;
        }
        written = unsigned(pending);
    } else if (isTrack) {
        for (const QPointer<JXPSFTrackPoint>& point : qAsConst(m_trackPoints)) {
            if (point) {
                end = point->finalize(out, end);
                ++written;
            }
        }
    } else {
        for (const QPointer<JXPSFRoutePoint>& point : qAsConst(m_routePoints)) {
            if (point) {
                end = point->finalize(out, end);
                ++written;
            }
        }
    }
    m_pointCount = written;
    writer.u32(pos + kPointCount, written);
    writer.u32(pos + kSensorLogOffset, m_sensorLogOffset);

    m_tail_offset_from_track_segmentlist = end - m_head_offset_from_PSF;
    m_nextOffset = hasNext ? m_tail_offset_from_track_segmentlist : kChainEnd;
    writer.u32(pos + kNextOffset, m_nextOffset);
    return end;
}

JXPSFTrackFrame::JXPSFTrackFrame(QByteArray* raw, JXPSFField* parent, const JXPSFTableArea& area)
    : JXPSFField(raw, parent)
{
    const JXPSFView frame(raw);
    m_segListOffset = frame.u32(kSegListOffset);
    const JXPSFView list = area.cut(frame.sub(m_segListOffset));
    // One copy per frame; segments are read in place from it.
    m_raw = QByteArray(list.data(), int(list.size()));
    m_budget = m_raw.size();
}

void JXPSFTrackFrame::setTrackRawData(QByteArray* raw)
{
    m_raw = raw ? *raw : QByteArray();
    m_budget = m_raw.size();
}

QVector<QPointer<JXPSFTrack>> JXPSFTrackFrame::loadChain(unsigned int offset, int isTrack, JXPSFSensorLogFrame* logs)
{
    QVector<QPointer<JXPSFTrack>> chain;
    const JXPSFView list(&m_raw);
    JXPSFChain links(list.size(), JXPSFTrack::HeadSize, "segment");
    while (links.admits(offset)) {
        // Each byte of the list pays for one record at most, however often the chains cross it.
        if (m_budget < JXPSFTrack::HeadSize) {
            JX_WARNING << "segment chains read more than their list holds";
            break;
        }
        const qint64 maxPoints = (m_budget - JXPSFTrack::HeadSize) / JXPSFTrackPoint::RecordSize;
        JXPSFTrack* segment = new JXPSFTrack(list.sub(offset), isTrack, logs, maxPoints);
        m_budget -= segment->getSizeInRawData();
        chain.append(segment);
        offset = segment->getNextOffset();
    }
    return chain;
}
