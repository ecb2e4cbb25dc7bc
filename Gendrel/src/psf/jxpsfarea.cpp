#include "psf/jxpsfarea.h"

#include "jxlog.h"
#include "psf/jxextflashinfo_2m.h"

namespace {

// Layout words of each area: its first byte, its end and the size its table may take.
struct AreaWords
{
    int start;
    int end;
    int tableSize;
    const char* name;
};

const AreaWords kAreas[] = {
    {2, 4, 5, "POI"},
    {6, 8, JXExtFlashInfo_2M::WorkoutTableSize, "workout"},
    {10, 12, JXExtFlashInfo_2M::RouteTableSize, "route"},
    {JXExtFlashInfo_2M::LapAreaStart, 15, JXExtFlashInfo_2M::LapAreaSize, "lap"},
    {17, 18, JXExtFlashInfo_2M::IntervalAreaSize, "interval"},
    {20, 22, JXExtFlashInfo_2M::WorkoutLogTableSize, "workout-log"},
    {24, 27, JXExtFlashInfo_2M::TrackTableSize, "segment-list"},
    {34, 36, JXExtFlashInfo_2M::SensorLogTableSize, "sensor-log"},
    {38, 40, JXExtFlashInfo_2M::UserInfoLogTableSize, "user-info"},
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
