// Writing a first-generation root back into its image and the flash header's accounting.

#include "psf/jxpsf.h"

#include <QRecursiveMutex>
#include <QtEndian>

#include "jxlog.h"
#include "psf/jxpsfview.h"
#include "psf/jxpsfdistheader.h"
#include "psf/jxpsfpoiframe.h"
#include "psf/jxpsfrouteframe.h"
#include "psf/jxpsfsensorlogframe.h"
#include "psf/jxpsftrackframe.h"
#include "psf/jxpsfworkoutframe.h"

namespace {

// Definition words
const int kPOITable = 3;
const int kPOISize = 5;
const int kWorkoutTable = 7;
const int kWorkoutSize = 9;
const int kRouteTable = 11;
const int kRouteSize = 13;
const int kIntervalStart = 17;
const int kIntervalSize = 19;
const int kTrackTable = 25;
const int kTrackSize = 28;
const int kImageAddress = 42;

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

void JXPSF::initFlashHeader(void* flashHeader)
{
    setField32(flashHeader, kPOIEnd, word(kPOITable));
    setField16(flashHeader, kPOIFree, word(kPOISize));
    setField32(flashHeader, kWorkoutStart, word(kWorkoutTable));
    setField32(flashHeader, kWorkoutEnd, word(kWorkoutTable));
    setField32(flashHeader, kWorkoutFree, word(kWorkoutSize));
    setField32(flashHeader, kIntervalEnd, word(kIntervalStart));
    setField32(flashHeader, kIntervalFree, word(kIntervalSize));
    setField32(flashHeader, kRouteEnd, word(kRouteTable));
    setField32(flashHeader, kRouteFree, word(kRouteSize));
    setField32(flashHeader, kTrackEnd, word(kTrackTable));
    setField32(flashHeader, kTrackFree, word(kTrackSize));
}

bool JXPSF::finalize(QByteArray& image)
{
    QMutexLocker locker(&s_finalizeLock);
    image.detach();
    initFlashHeader(m_flashHeader);
    finalizeRouteFrame(image);
    finalizeWorkoutFrame(image);
    finalizePOIFrame(image);
    return true;
}

bool JXPSF::finalizeRouteFrame(QByteArray& image)
{
    if (!m_routeFrame || !m_distHeader || !m_trackFrame || !m_routeFrame->getHeader())
        return false;
    QMutexLocker locker(&s_finalizeLock);
    const JXPSFRouteHeader* header = m_routeFrame->getHeader();
    const qint64 frame = m_distHeader->RouteMHRData()->getManHeaderOffset();
    JXPSFViewWriter writer(image);
    if (!writer.contains(frame, JXPSFRouteHeader::HeaderSize)) {
        JX_WARNING << "route frame at" << frame << "lies outside the image";
        return false;
    }
    writer.u32(frame + kHeadTable, header->getRteTblOffset());
    writer.u32(frame + kHeadSecondTable, header->getLapTblOffset());
    writer.u16(frame + kHeadCount, header->getRouteCount());

    const unsigned int segmentList =
        m_distHeader->TracerDataMHRData()->getManHeaderOffset() + m_trackFrame->getSegListOffset();
    JXPSFTrack::m_tail_offset_from_track_segmentlist = 0;
    JXPSFTrack::m_head_offset_from_PSF = segmentList;

    const QVector<QPointer<JXPSFRoute>>& routes = *m_routeFrame->getRoutes();
    for (int i = 0; i < routes.size(); ++i) {
        JXPSFRoute* route = routes.at(i);
        if (!route)
            continue;
        const qint64 pos = frame + qint64(header->getRteTblOffset()) + qint64(i) * JXPSFRoute::RecordSize;
        if (!writer.contains(pos, JXPSFRoute::RecordSize)) {
            JX_WARNING << "route" << i << "does not fit in the image";
            break;
        }
        const unsigned int trackOffset = finalizeTrack(image, segmentList, route);
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

        const unsigned int end = word(kImageAddress) + unsigned(pos) + JXPSFRoute::RecordSize;
        setField32(m_flashHeader, kRouteEnd, end);
        setField32(m_flashHeader, kRouteFree, word(kRouteTable) + word(kRouteSize) - end);
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
    unsigned int pos = position + entry;
    int written = 0;
    for (int i = 0; i < segments.size(); ++i) {
        JXPSFTrack* segment = segments.at(i);
        if (!segment)
            continue;
        const unsigned int next = segment->finalize(image, pos, i + 1 < segments.size(), route->getTrackFlag());
        if (next == pos)
            break;
        pos = next;
        ++written;
        const unsigned int end = word(kImageAddress) + pos;
        setField32(m_flashHeader, kTrackEnd, end);
        setField32(m_flashHeader, kTrackFree, word(kTrackTable) + word(kTrackSize) - end);
    }
    // A route without segments links to none, not to whatever the next route writes there.
    return written > 0 ? entry : kNone;
}

bool JXPSF::finalizeWorkoutFrame(QByteArray& image)
{
    if (!m_workoutFrame || !m_distHeader)
        return false;
    const qint64 frame = m_distHeader->WorkoutMHRData()->getManHeaderOffset();
    JXPSFViewWriter writer(image);
    if (!writer.contains(frame, kHeadCount + 2)) {
        JX_WARNING << "workout frame at" << frame << "lies outside the image";
        return false;
    }
    const QVector<QPointer<JXPSFWorkout>>& workouts = *m_workoutFrame->getWorkouts();
    writer.u32(frame + kHeadTable, m_workoutFrame->getWorkoutTblOffset());
    writer.u32(frame + kHeadSecondTable, m_workoutFrame->getIntervalTblOffset());
    writer.u16(frame + kHeadCount, quint16(workouts.size()));

    const qint64 intervalTable = frame + qint64(m_workoutFrame->getIntervalTblOffset());
    qint64 running = 0;
    for (int i = 0; i < workouts.size(); ++i) {
        JXPSFWorkout* workout = workouts.at(i);
        if (!workout)
            continue;
        const qint64 pos = frame + qint64(m_workoutFrame->getWorkoutTblOffset()) + qint64(i) * JXPSFWorkout::RecordSize;
        const QVector<QPointer<JXPSFInterval>> intervals = *workout->getIntervals();
        if (!writer.contains(pos, JXPSFWorkout::RecordSize) ||
            !writer.contains(intervalTable + running, qint64(intervals.size()) * JXPSFInterval::RecordSize)) {
            JX_WARNING << "workout" << i << "does not fit in the image";
            break;
        }
        writer.u32(pos + kWorkoutTime, workout->getTime());
        writer.bytes(pos + kWorkoutName, workout->getName(), JXPSFWorkout::NameSize, 0);
        writer.u32(pos + kWorkoutId, workout->getWorkoutId());
        writer.u32(pos + kWorkoutIntervalOffset, intervals.isEmpty() ? kNone : unsigned(running));
        writer.u32(pos + kWorkoutLogOffset, kNone);
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

            const unsigned int end = word(kImageAddress) + unsigned(intervalTable + running);
            setField32(m_flashHeader, kIntervalEnd, end);
            setField32(m_flashHeader, kIntervalFree, word(kIntervalStart) + word(kIntervalSize) - end);
        }

        const unsigned int end = word(kImageAddress) + unsigned(pos) + JXPSFWorkout::RecordSize;
        setField32(m_flashHeader, kWorkoutStart, word(kWorkoutTable));
        setField32(m_flashHeader, kWorkoutEnd, end);
        setField32(m_flashHeader, kWorkoutFree, word(kWorkoutTable) + word(kWorkoutSize) - end);
    }
    return true;
}

bool JXPSF::finalizePOIFrame(QByteArray& image)
{
    if (!m_poiFrame || !m_distHeader || !m_poiFrame->getHeader())
        return false;
    const qint64 frame = m_distHeader->POIMHRData()->getManHeaderOffset();
    JXPSFViewWriter writer(image);
    if (!writer.contains(frame, 4)) {
        JX_WARNING << "POI frame at" << frame << "lies outside the image";
        return false;
    }
    const QVector<QPointer<JXPSFPOI>>& pois = *m_poiFrame->getPOIs();
    const qint64 table = frame + qint64(m_poiFrame->getHeader()->getOffset());
    int written = 0;
    for (int i = 0; i < pois.size(); ++i) {
        const JXPSFPOI* poi = pois.at(i);
        if (!poi)
            continue;
        const qint64 pos = table + qint64(i) * JXPSFPOI::RecordSize;
        if (!writer.contains(pos, JXPSFPOI::RecordSize)) {
            JX_WARNING << "POI" << i << "does not fit in the image";
            break;
        }
        writer.u32(pos + kPOILng, quint32(poi->getLng()));
        writer.u32(pos + kPOILat, quint32(poi->getLat()));
        writer.u16(pos + kPOIAlt, quint16(poi->getAlt()));
        writer.u8(pos + kPOIFlags, quint8((poi->getNameType() ? 0x01 : 0) | (poi->getIsCalibration() ? 0x02 : 0) |
                                          (poi->getUploaded() ? 0x04 : 0)));
        writer.bytes(pos + kPOIName, poi->getName(), JXPSFPOI::NameSize, 0);
        writer.fill(pos + kPOIFiller, JXPSFPOI::RecordSize - kPOIFiller, char(0xFF));
        ++written;

        const unsigned int end = word(kImageAddress) + unsigned(pos) + JXPSFPOI::RecordSize;
        setField32(m_flashHeader, kPOIEnd, end);
        setField16(m_flashHeader, kPOIFree, word(kPOITable) + word(kPOISize) - end);
    }
    writer.u32(frame, unsigned(written));
    return true;
}
