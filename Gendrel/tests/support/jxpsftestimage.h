#ifndef JXPSFTESTIMAGE_H
#define JXPSFTESTIMAGE_H

#include <QByteArray>

// Empty second-generation flash images built from numbers written down here, independent of the layout class
// under test: a shared wrong number would let the code agree with itself.
//
// An empty image is erased flash (0xFF) with: the flash header in slot 0 (every table empty: end = start, room
// left = table size), the data-store version at 0x6010, the seven frame offsets from 0x603C, and each frame's head
// with its table offsets. Counts stay erased, which reads as none.
namespace JXPSFTestImage {

enum class Layout {
    A, // version "1510"
    B, // every other version; built with "1500"
};

const int ImageSize = 0x200000;
const int PSFBase = 0x6000;
const int VersionOffset = 0x6010;
const int FrameOffsetsStart = 0x603C;
const int FrameOffsetStride = 20;

// One area of the layout: where its frame starts, where its table starts and how many bytes the table may take.
struct Area
{
    unsigned int frameStart;
    unsigned int tableStart;
    unsigned int tableSize;
};

Area poi(Layout layout);
Area workout(Layout layout);
Area route(Layout layout);
Area lap(Layout layout);
Area interval(Layout layout);
Area workoutLog(Layout layout);
Area track(Layout layout);
Area sensorLog(Layout layout);
Area userInfoLog(Layout layout);

QByteArray emptyImage(Layout layout);

// The areas an operation may write, one bit each, in image order: the flash header slots, then the nine areas of the
// layout, each a frame's head with its table or a table of its own.
enum AreaBit {
    FlashHeaderArea = 1 << 0,
    POIArea = 1 << 1,
    WorkoutArea = 1 << 2,
    RouteArea = 1 << 3,
    LapArea = 1 << 4,
    IntervalArea = 1 << 5,
    WorkoutLogArea = 1 << 6,
    TrackArea = 1 << 7,
    SensorLogArea = 1 << 8,
    UserInfoArea = 1 << 9,
};
const int AreaBits = 10;

// Image offsets [start, end).
struct Range
{
    unsigned int start;
    unsigned int end;
};

// The range of the area of bit number index (0 to AreaBits - 1).
Range areaRange(Layout layout, int index);

// The first image offset outside the areas whose byte differs between the two images; -1 when none does.
qint64 firstChangeOutside(const char* before, const char* after, Layout layout, int areas);

} // namespace JXPSFTestImage

#endif
