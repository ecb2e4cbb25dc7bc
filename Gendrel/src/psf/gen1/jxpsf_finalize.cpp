// Writing a first-generation root back into its image and the flash header's accounting.

#include "psf/gen1/jxpsf.h"

#include <QRecursiveMutex>
#include <QtEndian>

#include "jxlog.h"
#include "psf/gen1/jxpsfdistheader.h"
#include "psf/gen1/jxpsfpoiframe.h"
#include "psf/gen1/jxpsfrouteframe.h"
#include "psf/gen1/jxpsfsensorlogframe.h"
#include "psf/gen1/jxpsftrackframe.h"
#include "psf/gen1/jxpsfview.h"
#include "psf/gen1/jxpsfworkoutframe.h"

namespace {

using Def = flash_header_def;

// Flash header block
const int kPOIFree = 0x42;
const int kPOIEnd = 0x48;
const int kWorkoutFree = 0x4C;
const int kWorkoutStart = 0x50;
const int kWorkoutEnd = 0x54;
const int kRouteFree = 0x58;
const int kRouteEnd = 0x60;
const int kIntervalFree = 0x70;
const int kIntervalEnd = 0x78;
const int kTrackFree = 0x88;
const int kTrackEnd = 0x90;

// Frame heads as written
const int kHeadTable = 0;
const int kHeadSecondTable = 4;
const int kHeadCount = 8;
const int kHeadSize = 10;
const int kPOIHeadSize = 4;

// Route record
const int kRouteStartTime = 0;
const int kRouteName = 4;
const int kRouteFlags = 132;
const int kRouteActivity = 133;
const int kRouteMetaValue = 134;
const int kRouteTrackOffset = 136;
const int kRouteSummaryOffset = 140;
const int kRouteLapOffset = 144;
const int kRouteLapCount = 148;
const int kRouteFiller = 149;

// Workout record
const int kWorkoutTime = 0;
const int kWorkoutName = 4;
const int kWorkoutId = 132;
const int kWorkoutIntervalOffset = 136;
const int kWorkoutLogOffset = 140;
const int kWorkoutFlags = 144;
const int kWorkoutValues = 145;
const int kWorkoutFiller = 146;

// Interval record
const int kIntervalTypes = 0;
const int kIntervalDurationType = 1;
const int kIntervalDurationValue = 2;
const int kIntervalNext = 4;
const int kIntervalValue = 8;
const int kIntervalRepeat = 12;
const int kIntervalTargetLow = 13;
const int kIntervalTargetHigh = 14;
const int kIntervalFiller = 15;
const int kIntervalFinalFlag = 17;

// POI record
const int kPOILng = 0;
const int kPOILat = 4;
const int kPOIAlt = 8;
const int kPOIFlags = 10;
const int kPOIName = 12;
const int kPOIFiller = 140;

const unsigned int kNone = 0xFFFFFFFFu;

// The track links of a write-back live in process-wide statics, so only one image is written at a time.
QRecursiveMutex s_finalizeLock;

void setField16(void* block, int offset, unsigned int value)
{
    if (block)
        qToLittleEndian<quint16>(quint16(value), static_cast<uchar*>(block) + offset);
}

void setField32(void* block, int offset, unsigned int value)
{
    if (block)
        qToLittleEndian<quint32>(quint32(value), static_cast<uchar*>(block) + offset);
}

} // namespace

JXPSF::Span JXPSF::span(int startWord, qint64 size) const
{
    Span area;
    area.begin = qint64(word(startWord)) - qint64(word(Def::ImageAddress));
    area.end = area.begin + qMax<qint64>(size, 0);
    return area;
}

JXPSF::Span JXPSF::between(int startWord, int endWord) const
{
    return span(startWord, qint64(word(endWord)) - qint64(word(startWord)));
}

bool JXPSF::placeRouteFrame(qint64& frame, qint64& table, qint64& segments) const
{
    if (!m_routeFrame || !m_distHeader || !m_trackFrame || !m_routeFrame->getHeader())
        return false;
    frame = m_distHeader->RouteMHRData()->getManHeaderOffset();
    table = frame + m_routeFrame->getHeader()->getRteTblOffset();
    segments = qint64(m_distHeader->TracerDataMHRData()->getManHeaderOffset()) + m_trackFrame->getSegListOffset();
    if (!between(Def::RouteAreaStart, Def::RouteTableStart).holds(frame, kHeadSize) || !routeSpan().holds(table, 1) ||
        !trackSpan().holds(segments, 1)) {
        JX_CRITICAL << "the route frame at" << frame << "with its table at" << table << "and its segments at"
                    << segments << "lies outside the areas of the flash definition";
        return false;
    }
    return true;
}

bool JXPSF::placeWorkoutFrame(qint64& frame, qint64& table, qint64& intervals) const
{
    if (!m_workoutFrame || !m_distHeader)
        return false;
    frame = m_distHeader->WorkoutMHRData()->getManHeaderOffset();
    table = frame + m_workoutFrame->getWorkoutTblOffset();
    intervals = frame + m_workoutFrame->getIntervalTblOffset();
    if (!between(Def::WorkoutAreaStart, Def::WorkoutTableStart).holds(frame, kHeadSize) ||
        !workoutSpan().holds(table, 1) || !intervalSpan().holds(intervals, 1)) {
        JX_CRITICAL << "the workout frame at" << frame << "with its table at" << table << "and its intervals at"
                    << intervals << "lies outside the areas of the flash definition";
        return false;
    }
    return true;
}

bool JXPSF::placePOIFrame(qint64& frame, qint64& table) const
{
    if (!m_poiFrame || !m_distHeader || !m_poiFrame->getHeader())
        return false;
    frame = m_distHeader->POIMHRData()->getManHeaderOffset();
    table = frame + m_poiFrame->getHeader()->getOffset();
    if (!between(Def::POIAreaStart, Def::POITableStart).holds(frame, kPOIHeadSize) || !poiSpan().holds(table, 1)) {
        JX_CRITICAL << "the POI frame at" << frame << "with its table at" << table
                    << "lies outside the areas of the flash definition";
        return false;
    }
    return true;
}

JXPSF::Span JXPSF::poiSpan() const
{
    return span(Def::POITableStart, word(Def::POITableSize));
}

JXPSF::Span JXPSF::routeSpan() const
{
    return span(Def::RouteTableStart, word(Def::RouteTableSize));
}

JXPSF::Span JXPSF::trackSpan() const
{
    return span(Def::TrackTableStart, word(Def::TrackTableSize));
}

JXPSF::Span JXPSF::workoutSpan() const
{
    return span(Def::WorkoutTableStart, word(Def::WorkoutTableSize));
}

JXPSF::Span JXPSF::intervalSpan() const
{
    return span(Def::IntervalAreaStart, word(Def::IntervalAreaSize));
}

void JXPSF::initFlashHeader(void* flashHeader)
{
    setField32(flashHeader, kPOIEnd, word(Def::POITableStart));
    setField16(flashHeader, kPOIFree, word(Def::POITableSize));
    setField32(flashHeader, kWorkoutStart, word(Def::WorkoutTableStart));
    setField32(flashHeader, kWorkoutEnd, word(Def::WorkoutTableStart));
    setField32(flashHeader, kWorkoutFree, word(Def::WorkoutTableSize));
    setField32(flashHeader, kIntervalEnd, word(Def::IntervalAreaStart));
    setField32(flashHeader, kIntervalFree, word(Def::IntervalAreaSize));
    setField32(flashHeader, kRouteEnd, word(Def::RouteTableStart));
    setField32(flashHeader, kRouteFree, word(Def::RouteTableSize));
    setField32(flashHeader, kTrackEnd, word(Def::TrackTableStart));
    setField32(flashHeader, kTrackFree, word(Def::TrackTableSize));
}

bool JXPSF::finalize(QByteArray& image)
{
    QMutexLocker locker(&s_finalizeLock);
    image.detach();
    // Offsets of a damaged image that disagree with the definition would put records over other areas: refuse
    // before anything is written.
    qint64 frame = 0, table = 0, other = 0;
    if ((m_routeFrame && !placeRouteFrame(frame, table, other)) ||
        (m_workoutFrame && !placeWorkoutFrame(frame, table, other)) || (m_poiFrame && !placePOIFrame(frame, table))) {
        JX_CRITICAL << "the data store is not written back";
        return false;
    }
    initFlashHeader(m_flashHeader);
    bool complete = true;
    if (m_routeFrame && !finalizeRouteFrame(image))
        complete = false;
    if (m_workoutFrame && !finalizeWorkoutFrame(image))
        complete = false;
    if (m_poiFrame && !finalizePOIFrame(image))
        complete = false;
    return complete;
}

bool JXPSF::finalizeRouteFrame(QByteArray& image)
{
    QMutexLocker locker(&s_finalizeLock);
    qint64 frame = 0, table = 0, segmentList = 0;
    if (!placeRouteFrame(frame, table, segmentList))
        return false;
    const JXPSFRouteHeader* header = m_routeFrame->getHeader();
    JXPSFViewWriter writer(image);
    if (!writer.contains(frame, kHeadSize)) {
        JX_WARNING << "route frame at" << frame << "lies outside the image";
        return false;
    }
    writer.u32(frame + kHeadTable, header->getRteTblOffset());
    writer.u32(frame + kHeadSecondTable, header->getLapTblOffset());

    JXPSFTrack::m_tail_offset_from_track_segmentlist = 0;
    JXPSFTrack::m_head_offset_from_PSF = unsigned(segmentList);

    const Span routeArea = routeSpan();
    const Span trackArea = trackSpan();
    const QVector<QPointer<JXPSFRoute>>& routes = *m_routeFrame->getRoutes();
    int held = 0;
    int written = 0;
    bool full = false;
    for (JXPSFRoute* route : routes) {
        if (!route)
            continue;
        ++held;
        if (full)
            continue;
        const qint64 pos = table + qint64(written) * JXPSFRoute::RecordSize;
        qint64 trackBytes = 0;
        for (const QPointer<JXPSFTrack>& segment : route->getTracks()) {
            if (segment)
                trackBytes += segment->writtenSize(route->getTrackFlag());
        }
        const qint64 trackAt = segmentList + JXPSFTrack::m_tail_offset_from_track_segmentlist;
        if (!routeArea.holds(pos, JXPSFRoute::RecordSize) || !writer.contains(pos, JXPSFRoute::RecordSize) ||
            !trackArea.holds(trackAt, trackBytes) || !writer.contains(trackAt, trackBytes)) {
            full = true;
            continue;
        }
        const unsigned int trackOffset = finalizeTrack(image, unsigned(segmentList), route);
        route->setTrackOffset(trackOffset);
        writer.u32(pos + kRouteStartTime, route->getStartTime());
        writer.bytes(pos + kRouteName, route->getName(), JXPSFRoute::NameSize, 0);
        writer.u8(pos + kRouteFlags, quint8((route->getTrackFlag() ? 0x01 : 0) | (route->getNameType() ? 0x02 : 0) |
                                            (route->getTwoBitValue() * 4) | (route->getUploaded() ? 0x08 : 0)));
        writer.u8(pos + kRouteActivity, quint8((route->getActSubType() << 4) | route->getActType()));
        writer.u16(pos + kRouteMetaValue, route->getMetaValue());
        writer.u32(pos + kRouteTrackOffset, trackOffset);
        writer.u32(pos + kRouteSummaryOffset, route->getSummaryOffset());
        writer.u32(pos + kRouteLapOffset, route->getLapOffset());
        writer.u8(pos + kRouteLapCount, route->getLapCount());
        writer.fill(pos + kRouteFiller, JXPSFRoute::RecordSize - kRouteFiller, char(0xFF));
        ++written;

        const unsigned int end = word(Def::ImageAddress) + unsigned(pos) + JXPSFRoute::RecordSize;
        setField32(m_flashHeader, kRouteEnd, end);
        setField32(m_flashHeader, kRouteFree, word(Def::RouteTableStart) + word(Def::RouteTableSize) - end);
    }
    writer.u16(frame + kHeadCount, quint16(written));
    if (written < held) {
        JX_CRITICAL << held - written << "of" << held
                    << "routes are left out: the route table or the track area cannot hold them";
        return false;
    }
    return true;
}

bool JXPSF::finalizeTrackFrame(QByteArray& image)
{
    Q_UNUSED(image);
    return true;
}

unsigned int JXPSF::finalizeTrack(QByteArray& image, unsigned int position, JXPSFRoute* route)
{
    QMutexLocker locker(&s_finalizeLock);
    const unsigned int entry = JXPSFTrack::m_tail_offset_from_track_segmentlist;
    if (!route)
        return entry;
    const QVector<QPointer<JXPSFTrack>> segments = route->getTracks();
    const Span trackArea = trackSpan();
    unsigned int pos = position + entry;
    int written = 0;
    for (int i = 0; i < segments.size(); ++i) {
        JXPSFTrack* segment = segments.at(i);
        if (!segment)
            continue;
        if (!trackArea.holds(pos, segment->writtenSize(route->getTrackFlag()))) {
            JX_WARNING << "track segment at" << pos << "does not fit in the track area";
            break;
        }
        const unsigned int next = segment->finalize(image, pos, i + 1 < segments.size(), route->getTrackFlag());
        if (next == pos)
            break;
        pos = next;
        ++written;
        const unsigned int end = word(Def::ImageAddress) + pos;
        setField32(m_flashHeader, kTrackEnd, end);
        setField32(m_flashHeader, kTrackFree, word(Def::TrackTableStart) + word(Def::TrackTableSize) - end);
    }
    // A route without segments links to none, not to whatever the next route writes there.
    return written > 0 ? entry : kNone;
}

bool JXPSF::finalizeWorkoutFrame(QByteArray& image)
{
    qint64 frame = 0, table = 0, intervalTable = 0;
    if (!placeWorkoutFrame(frame, table, intervalTable))
        return false;
    JXPSFViewWriter writer(image);
    if (!writer.contains(frame, kHeadSize)) {
        JX_WARNING << "workout frame at" << frame << "lies outside the image";
        return false;
    }
    const QVector<QPointer<JXPSFWorkout>>& workouts = *m_workoutFrame->getWorkouts();
    writer.u32(frame + kHeadTable, m_workoutFrame->getWorkoutTblOffset());
    writer.u32(frame + kHeadSecondTable, m_workoutFrame->getIntervalTblOffset());

    const Span workoutArea = workoutSpan();
    const Span intervalArea = intervalSpan();
    qint64 running = 0;
    int held = 0;
    int written = 0;
    bool full = false;
    for (JXPSFWorkout* workout : workouts) {
        if (!workout)
            continue;
        ++held;
        if (full)
            continue;
        const qint64 pos = table + qint64(written) * JXPSFWorkout::RecordSize;
        const QVector<QPointer<JXPSFInterval>> intervals = *workout->getIntervals();
        const qint64 intervalBytes = qint64(intervals.size()) * JXPSFInterval::RecordSize;
        if (!workoutArea.holds(pos, JXPSFWorkout::RecordSize) || !writer.contains(pos, JXPSFWorkout::RecordSize) ||
            !intervalArea.holds(intervalTable + running, intervalBytes) ||
            !writer.contains(intervalTable + running, intervalBytes)) {
            full = true;
            continue;
        }
        writer.u32(pos + kWorkoutTime, workout->getTime());
        writer.bytes(pos + kWorkoutName, workout->getName(), JXPSFWorkout::NameSize, 0);
        writer.u32(pos + kWorkoutId, workout->getWorkoutId());
        writer.u32(pos + kWorkoutIntervalOffset, intervals.isEmpty() ? kNone : unsigned(running));
        writer.u32(pos + kWorkoutLogOffset, kNone);
        // The setters keep each field to its bits, so none reaches the flags beside it.
        writer.u8(pos + kWorkoutFlags,
                  quint8(workout->getTypeValue() | (workout->getFlag() ? 0x10 : 0) |
                         (workout->getNameType() ? 0x20 : 0) | (workout->getUploaded() ? 0x40 : 0)));
        writer.u8(pos + kWorkoutValues, quint8(workout->getHighValue() * 32 | workout->getLowValue()));
        writer.fill(pos + kWorkoutFiller, JXPSFWorkout::RecordSize - kWorkoutFiller, char(0xFF));

        for (int k = 0; k < intervals.size(); ++k) {
            const JXPSFInterval* interval = intervals.at(k);
            const qint64 at = intervalTable + running;
            running += JXPSFInterval::RecordSize;
            if (!interval)
                continue;
            writer.u8(at + kIntervalTypes, quint8((interval->getTargetType() << 4) | interval->getIntervalType() |
                                                  (interval->getFlag() ? 0x08 : 0)));
            writer.u8(at + kIntervalDurationType, interval->getDurationType());
            writer.u16(at + kIntervalDurationValue, interval->getDurationValue());
            writer.u32(at + kIntervalNext, k + 1 < intervals.size() ? unsigned(running) : kNone);
            // An unset value is written as erased flash too, so no byte of a deleted interval stays behind.
            const bool valueSet = interval->getValue() != kNone;
            writer.u32(at + kIntervalValue, interval->getValue());
            writer.u8(at + kIntervalRepeat, valueSet ? interval->getRepeat() : quint8(0xFF));
            writer.u8(at + kIntervalTargetLow, interval->getTargetLow());
            writer.u8(at + kIntervalTargetHigh, interval->getTargetHigh());
            writer.fill(at + kIntervalFiller, 2, char(0xFF));
            writer.u8(at + kIntervalFinalFlag, 0);

            const unsigned int end = word(Def::ImageAddress) + unsigned(intervalTable + running);
            setField32(m_flashHeader, kIntervalEnd, end);
            setField32(m_flashHeader, kIntervalFree, word(Def::IntervalAreaStart) + word(Def::IntervalAreaSize) - end);
        }
        ++written;

        const unsigned int end = word(Def::ImageAddress) + unsigned(pos) + JXPSFWorkout::RecordSize;
        setField32(m_flashHeader, kWorkoutStart, word(Def::WorkoutTableStart));
        setField32(m_flashHeader, kWorkoutEnd, end);
        setField32(m_flashHeader, kWorkoutFree, word(Def::WorkoutTableStart) + word(Def::WorkoutTableSize) - end);
    }
    writer.u16(frame + kHeadCount, quint16(written));
    if (written < held) {
        JX_CRITICAL << held - written << "of" << held
                    << "workouts are left out: the workout table or the interval area cannot hold them";
        return false;
    }
    return true;
}

bool JXPSF::finalizePOIFrame(QByteArray& image)
{
    qint64 frame = 0, table = 0;
    if (!placePOIFrame(frame, table))
        return false;
    JXPSFViewWriter writer(image);
    if (!writer.contains(frame, kPOIHeadSize)) {
        JX_WARNING << "POI frame at" << frame << "lies outside the image";
        return false;
    }
    const QVector<QPointer<JXPSFPOI>>& pois = *m_poiFrame->getPOIs();
    const Span poiArea = poiSpan();
    int held = 0;
    int written = 0;
    bool full = false;
    for (const JXPSFPOI* poi : pois) {
        if (!poi)
            continue;
        ++held;
        const qint64 pos = table + qint64(written) * JXPSFPOI::RecordSize;
        if (full || !poiArea.holds(pos, JXPSFPOI::RecordSize) || !writer.contains(pos, JXPSFPOI::RecordSize)) {
            full = true;
            continue;
        }
        writer.u32(pos + kPOILng, quint32(poi->getLng()));
        writer.u32(pos + kPOILat, quint32(poi->getLat()));
        writer.u16(pos + kPOIAlt, quint16(poi->getAlt()));
        writer.u8(pos + kPOIFlags, quint8((poi->getNameType() ? 0x01 : 0) | (poi->getIsCalibration() ? 0x02 : 0) |
                                          (poi->getUploaded() ? 0x04 : 0)));
        writer.bytes(pos + kPOIName, poi->getName(), JXPSFPOI::NameSize, 0);
        writer.fill(pos + kPOIFiller, JXPSFPOI::RecordSize - kPOIFiller, char(0xFF));
        ++written;

        const unsigned int end = word(Def::ImageAddress) + unsigned(pos) + JXPSFPOI::RecordSize;
        setField32(m_flashHeader, kPOIEnd, end);
        setField16(m_flashHeader, kPOIFree, word(Def::POITableStart) + word(Def::POITableSize) - end);
    }
    writer.u32(frame, unsigned(written));
    if (written < held) {
        JX_CRITICAL << held - written << "of" << held << "POIs are left out: the POI table cannot hold them";
        return false;
    }
    return true;
}
