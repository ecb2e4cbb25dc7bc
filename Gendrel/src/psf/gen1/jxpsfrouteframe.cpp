#include "psf/gen1/jxpsfrouteframe.h"

#include <cmath>

#include "../../../../core/include/location/ghlatlng.h"
#include "jxlog.h"
#include "psf/gen1/jxpsftrackframe.h"

namespace {

// Frame head
const int kRteTblOffset = 0;
const int kLapTblOffset = 4;
const int kRouteCount = 8;

// Route record
const int kStartTime = 0;
const int kName = 4;
const int kFlags = 132;
const int kActivity = 133;
const int kMetaValue = 134;
const int kTrackOffset = 136;
const int kSummaryOffset = 140;
const int kLapOffset = 144;
const int kLapCount = 148;

const quint8 kRecorded = 0x01;
const quint8 kBitmapName = 0x02;
const quint8 kUploaded = 0x08;

// Lap record
const int kLapStartTime = 0;
const int kLapEndTime = 4;
const int kLapDistance = 8;
const int kLapAvgSpeed = 12;
const int kLapMaxSpeed = 13;
const int kLapAvgHeartRate = 14;
const int kLapMaxHeartRate = 15;
const int kLapAvgCadence = 16;
const int kLapMaxCadence = 17;
const int kLapAvgPower = 18;
const int kLapMaxPower = 20;
const int kLapAltGain = 22;
const int kLapAltLoss = 24;
const int kLapCalories = 26;
const int kLapRidingTime = 28;

const unsigned int kNone = 0xFFFFFFFFu;

// Positions wrap like the device's 32-bit sums rather than overflow.
int advanced(int value, short delta)
{
    return int(quint32(value) + quint32(qint32(delta)));
}

} // namespace

JXPSFRouteHeader::JXPSFRouteHeader(QByteArray* raw, JXPSFField* parent) : JXPSFRouteHeader(JXPSFView(raw), parent) {}

JXPSFRouteHeader::JXPSFRouteHeader(const JXPSFView& area, JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    m_rteTblOffset = area.u32(kRteTblOffset);
    m_lapTblOffset = area.u32(kLapTblOffset);
    const quint16 count = area.u16(kRouteCount);
    m_routeCount = count == 0xFFFF ? 0 : count;
    setSizeInRawData(HeaderSize);
}

QByteArray JXPSFRouteHeader::commit()
{
    QByteArray bytes(HeaderSize, char(0xFF));
    JXPSFViewWriter writer(bytes);
    writer.u32(kRteTblOffset, m_rteTblOffset);
    writer.u32(kLapTblOffset, m_lapTblOffset);
    writer.u16(kRouteCount, m_routeCount);
    return bytes;
}

JXPSFLap::JXPSFLap(QByteArray* record, JXPSFField* parent) : JXPSFLap(JXPSFView(record), parent) {}

JXPSFLap::JXPSFLap(const JXPSFView& record, JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    m_startTime = record.u32(kLapStartTime);
    m_endTime = record.u32(kLapEndTime);
    m_distance = record.u32(kLapDistance);
    m_avgSpeed = record.u8(kLapAvgSpeed);
    m_maxSpeed = record.u8(kLapMaxSpeed);
    m_avgHeartRate = record.u8(kLapAvgHeartRate);
    m_maxHeartRate = record.u8(kLapMaxHeartRate);
    m_avgCadence = record.u8(kLapAvgCadence);
    m_maxCadence = record.u8(kLapMaxCadence);
    m_avgPower = record.u16(kLapAvgPower);
    m_maxPower = record.u16(kLapMaxPower);
    m_altGain = record.u16(kLapAltGain);
    m_altLoss = record.u16(kLapAltLoss);
    m_calories = record.u16(kLapCalories);
    m_ridingTime = record.u32(kLapRidingTime);
    setSizeInRawData(RecordSize);
}

JXPSFRoute::JXPSFRoute(JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    setSizeInRawData(RecordSize);
}

JXPSFRoute::JXPSFRoute(QByteArray* record, JXPSFField* parent) : JXPSFField(record, parent)
{
    parse(JXPSFView(record));
}

JXPSFRoute::JXPSFRoute(const JXPSFView& record, JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    parse(record);
}

JXPSFRoute::~JXPSFRoute()
{
    for (const QPointer<JXPSFTrack>& segment : qAsConst(m_tracks))
        delete segment.data();
}

void JXPSFRoute::parse(const JXPSFView& record)
{
    m_startTime = record.u32(kStartTime);
    m_name = record.bytes(kName, NameSize);
    const quint8 flags = record.u8(kFlags);
    m_trackFlag = (flags & kRecorded) != 0;
    m_nameType = (flags & kBitmapName) != 0;
    m_twoBitValue = (flags >> 2) & 0x03;
    m_uploaded = (flags & kUploaded) != 0;
    const quint8 activity = record.u8(kActivity);
    m_actType = activity & 0x0F;
    m_actSubType = activity >> 4;
    m_metaValue = record.u16(kMetaValue);
    m_trackOffset = record.u32(kTrackOffset);
    m_summaryOffset = record.u32(kSummaryOffset);
    m_lapOffset = record.u32(kLapOffset);
    const quint8 laps = record.u8(kLapCount);
    m_lapCount = laps == 0xFF ? 0 : laps;
    setSizeInRawData(RecordSize);
}

void JXPSFRoute::loadTrack(JXPSFTrackFrame* tracks, JXPSFSensorLogFrame* logs)
{
    if (!tracks)
        return;
    m_tracks += tracks->loadChain(m_trackOffset, m_trackFlag ? 1 : 0, logs);
}

QByteArray JXPSFRoute::commit()
{
    QByteArray bytes(RecordSize, char(0xFF));
    JXPSFViewWriter writer(bytes);
    writer.u32(kStartTime, m_startTime);
    writer.bytes(kName, m_name, NameSize, 0);
    writer.u8(kFlags, quint8((m_trackFlag ? kRecorded : 0) | (m_nameType ? kBitmapName : 0) | (m_twoBitValue << 2)));
    writer.u8(kActivity, quint8((m_actSubType << 4) | m_actType));
    writer.u16(kMetaValue, m_metaValue);
    writer.u32(kTrackOffset, m_trackOffset);
    writer.u32(kSummaryOffset, m_summaryOffset);
    writer.u32(kLapOffset, m_lapOffset);
    writer.u8(kLapCount, m_lapCount);
    return bytes;
}

JXPSFLap* JXPSFRoute::getSummary(JXPSFRouteFrame* frame) const
{
    if (!frame || m_summaryOffset == kNone)
        return nullptr;
    return frame->getLap(int(m_summaryOffset >> 5));
}

unsigned int JXPSFRoute::getEndTime(JXPSFRoute* route)
{
    if (!route)
        return kNone;
    unsigned int end = route->m_startTime;
    for (const QPointer<JXPSFTrack>& segment : qAsConst(route->m_tracks)) {
        if (!segment)
            continue;
        unsigned int time = segment->getStartTime();
        const unsigned int unit = segment->getTimeUnit();
        segment->visitPoints(true, [&](short, short, signed char, quint8 timeDelta) {
            time += unsigned(timeDelta) * unit;
            end = time;
        });
    }
    return end;
}

unsigned int JXPSFRoute::getDistance(JXPSFRoute* route)
{
    if (!route)
        return 0;
    double total = 0.0;
    auto step = [&total](GHLatLng& position, int lat, int lng) {
        const float metres = position.distanceTo(lat, lng);
        if (!std::isnan(metres))
            total += std::trunc(double(metres) * 1000.0) / 1000.0;
        position = GHLatLng(lat, lng);
    };
    for (const QPointer<JXPSFTrack>& segment : qAsConst(route->m_tracks)) {
        if (!segment)
            continue;
        int lat = segment->getStartLat();
        int lng = segment->getStartLng();
        GHLatLng position(lat, lng);
        segment->visitPoints(route->m_trackFlag, [&](short lngDelta, short latDelta, signed char, quint8) {
            lat = advanced(lat, latDelta);
            lng = advanced(lng, lngDelta);
            step(position, lat, lng);
        });
    }
    return total >= double(kNone) ? kNone : unsigned(total);
}

void JXPSFRoute::getStartEndPoint(JXPSFRoute* route, unsigned int& startLat, unsigned int& startLon,
                                  unsigned int& endLat, unsigned int& endLon)
{
    startLat = startLon = endLat = endLon = 0;
    if (!route || route->m_tracks.isEmpty())
        return;
    const JXPSFTrack* first = route->m_tracks.first();
    const JXPSFTrack* last = route->m_tracks.last();
    if (first) {
        startLat = unsigned(first->getStartLat());
        startLon = unsigned(first->getStartLng());
    }
    if (last) {
        endLat = unsigned(last->getEndLat());
        endLon = unsigned(last->getEndLng());
    }
}

JXPSFRouteFrame::JXPSFRouteFrame(QByteArray* raw, JXPSFTrackFrame* tracks, JXPSFSensorLogFrame* logs,
                                 JXPSFField* parent, const JXPSFTableArea& routeArea, const JXPSFTableArea& lapArea)
    : JXPSFField(raw, parent)
{
    const JXPSFView frame(raw);
    loadHeader(raw);
    if (!m_header) {
        JX_DEBUG << "no Route header";
        return;
    }
    loadRoutes(routeArea.cut(frame.sub(m_header->getRteTblOffset())), tracks, logs);
    loadLaps(lapArea.cut(frame.sub(m_header->getLapTblOffset())));
}

JXPSFRouteFrame::~JXPSFRouteFrame()
{
    for (const QPointer<JXPSFRoute>& route : qAsConst(m_routes))
        delete route.data();
    for (const QPointer<JXPSFLap>& lap : qAsConst(m_laps)) {
        if (!m_lapStore.owns(lap.data()))
            delete lap.data();
    }
    delete m_header.data();
}

void JXPSFRouteFrame::loadHeader(QByteArray* raw)
{
    delete m_header.data();
    m_header = new JXPSFRouteHeader(JXPSFView(raw));
}

void JXPSFRouteFrame::loadRoutes(QByteArray* table, JXPSFTrackFrame* tracks, JXPSFSensorLogFrame* logs)
{
    loadRoutes(JXPSFView(table), tracks, logs);
}

void JXPSFRouteFrame::loadLaps(QByteArray* table)
{
    loadLaps(JXPSFView(table));
}

void JXPSFRouteFrame::loadRoutes(const JXPSFView& table, JXPSFTrackFrame* tracks, JXPSFSensorLogFrame* logs)
{
    if (!m_header)
        return;
    const int count = m_header->getRouteCount();
    for (int i = 0; i < count; ++i) {
        const qint64 offset = qint64(i) * JXPSFRoute::RecordSize;
        if (!table.contains(offset, JXPSFRoute::RecordSize)) {
            JX_WARNING << "route table holds" << i << "of" << count << "records";
            break;
        }
        JXPSFRoute* route = new JXPSFRoute(table.sub(offset, JXPSFRoute::RecordSize));
        route->loadTrack(tracks, logs);
        m_routes.append(route);
    }
    // The count written back is the count of routes held, never one the table could not give.
    m_header->setRouteCount(quint16(m_routes.size()));
}

void JXPSFRouteFrame::loadLaps(const JXPSFView& table)
{
    const qint64 fitting = table.size() / JXPSFLap::RecordSize;
    const int count = int(qMin<qint64>(fitting, JXPSFLap::TableEntries));
    if (count < JXPSFLap::TableEntries)
        JX_WARNING << "lap table holds" << count << "of" << JXPSFLap::TableEntries << "records";
    const JXPSFView records = table.sub(0, qint64(count) * JXPSFLap::RecordSize);
    if (m_lapRecords.isEmpty() && m_lapStore.isEmpty() && m_laps.isEmpty()) {
        m_lapRecords = QByteArray(records.data(), int(records.size()));
        return;
    }
    // A further table: its laps follow those held, made at once.
    makeLaps();
    m_laps.reserve(m_laps.size() + count);
    for (int j = 0; j < count; ++j)
        m_laps.append(new JXPSFLap(records.sub(qint64(j) * JXPSFLap::RecordSize, JXPSFLap::RecordSize)));
}

void JXPSFRouteFrame::makeLaps()
{
    if (m_lapRecords.isEmpty())
        return;
    const JXPSFView records(&m_lapRecords);
    const int count = m_lapRecords.size() / JXPSFLap::RecordSize;
    if (m_lapStore.isEmpty())
        m_lapStore.reset(count);
    m_laps.reserve(m_laps.size() + count);
    for (int j = 0; j < count; ++j)
        m_laps.append(m_lapStore.make(j, records.sub(qint64(j) * JXPSFLap::RecordSize, JXPSFLap::RecordSize)));
    m_lapRecords = QByteArray();
}

JXPSFLap* JXPSFRouteFrame::getLap(int index)
{
    if (index < 0)
        return nullptr;
    if (m_lapRecords.isEmpty())
        return index < m_laps.size() ? m_laps.at(index).data() : nullptr;
    // Still only loaded: nothing precedes these laps in the list.
    const int count = m_lapRecords.size() / JXPSFLap::RecordSize;
    if (index >= count)
        return nullptr;
    if (m_lapStore.isEmpty())
        m_lapStore.reset(count);
    return m_lapStore.make(index,
                           JXPSFView(&m_lapRecords).sub(qint64(index) * JXPSFLap::RecordSize, JXPSFLap::RecordSize));
}

QByteArray JXPSFRouteFrame::commit()
{
    QByteArray bytes = m_header ? m_header->commit() : QByteArray();
    const int count = m_header ? qMin<int>(m_header->getRouteCount(), m_routes.size()) : 0;
    for (int i = 0; i < count; ++i) {
        if (m_routes.at(i))
            bytes += m_routes.at(i)->commit();
    }
    return bytes;
}
