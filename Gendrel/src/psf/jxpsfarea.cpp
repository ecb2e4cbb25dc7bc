#include "psf/jxpsfarea.h"

#include "jxlog.h"
#include "psf/gen2/jxextflashinfo_2m.h"

namespace {

// Layout words of each area: its first byte, its end and the size its table may take.
struct AreaWords
{
    int start;
    int end;
    int tableSize;
    const char* name;
};

using Info = JXExtFlashInfo_2M;

const AreaWords kAreas[] = {
    {Info::POIAreaStart, Info::POIAreaEnd, Info::POITableSize, "POI"},
    {Info::WorkoutAreaStart, Info::WorkoutAreaEnd, Info::WorkoutTableSize, "workout"},
    {Info::RouteAreaStart, Info::RouteAreaEnd, Info::RouteTableSize, "route"},
    {Info::LapAreaStart, Info::LapAreaEnd, Info::LapAreaSize, "lap"},
    {Info::IntervalAreaStart, Info::IntervalAreaEnd, Info::IntervalAreaSize, "interval"},
    {Info::WorkoutLogAreaStart, Info::WorkoutLogAreaEnd, Info::WorkoutLogTableSize, "workout-log"},
    {Info::TrackAreaStart, Info::TrackAreaEnd, Info::TrackTableSize, "segment-list"},
    {Info::SensorLogAreaStart, Info::SensorLogAreaEnd, Info::SensorLogTableSize, "sensor-log"},
    {Info::UserInfoLogAreaStart, Info::UserInfoLogAreaEnd, Info::UserInfoLogTableSize, "user-info"},
};

const AreaWords& wordsOf(JXPSFTable kind)
{
    return kAreas[int(kind)];
}

} // namespace

bool JXPSFArea::layoutArea(JXPSFTable kind, const JXExtFlashInfo_2M* info, quint64& start, quint64& end)
{
    if (!info)
        return false;
    const unsigned int* layout = info->getFlashDef();
    start = layout[wordsOf(kind).start];
    end = qMin<quint64>(layout[wordsOf(kind).end], info->getFlashSize());
    return true;
}

JXPSFArea JXPSFArea::table(JXPSFTable kind, char* frame, unsigned int headSize, quint64 offset,
                           const JXExtFlashInfo_2M* info, const char* imageEnd)
{
    const char* what = wordsOf(kind).name;
    quint64 areaStart = 0;
    quint64 areaEnd = 0;
    if (!frame || !imageEnd || !layoutArea(kind, info, areaStart, areaEnd)) {
        JX_WARNING << what << "table without an image or a layout";
        return JXPSFArea();
    }
    const quint64 imageSize = info->getFlashSize();
    const quint64 frameToEnd = imageEnd > frame ? quint64(imageEnd - frame) : 0;
    if (frameToEnd == 0 || frameToEnd > imageSize) {
        JX_WARNING << what << "table of a frame outside the image";
        return JXPSFArea();
    }
    const quint64 head = imageSize - frameToEnd;
    const quint64 start = head + offset;
    const quint64 size =
        start < areaEnd ? qMin<quint64>(info->getFlashDef()[wordsOf(kind).tableSize], areaEnd - start) : 0;
    if (offset >= imageSize || start < areaStart || size == 0) {
        JX_WARNING << what << "table at image offset" << start << "lies outside its area" << areaStart << "to"
                   << areaEnd;
        return JXPSFArea();
    }
    if (start < head + headSize && head < start + size) {
        JX_WARNING << what << "table at image offset" << start << "overlaps its frame head at" << head;
        return JXPSFArea();
    }
    return make(frame, offset, size, imageEnd);
}

void JXPSFLoadBudget::stopped()
{
    m_stopped = true;
    if (m_warned)
        return;
    m_warned = true;
    JX_WARNING << m_what << "loaded for all their holders would exceed their table; loads from it stop short";
}
