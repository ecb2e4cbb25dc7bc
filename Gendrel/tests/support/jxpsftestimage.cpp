#include "jxpsftestimage.h"

#include <QtEndian>

#include <cstring>
#include <vector>

namespace JXPSFTestImage {

namespace {

bool isA(Layout layout)
{
    return layout == Layout::A;
}

void put32(char* image, unsigned int offset, quint32 value)
{
    qToLittleEndian<quint32>(value, image + offset);
}

// Room left, table start, table end of one flash header group.
void putGroup(char* image, unsigned int field, const Area& area)
{
    put32(image, field, area.tableSize);
    put32(image, field + 4, area.tableStart);
    put32(image, field + 8, area.tableStart);
}

} // namespace

Area poi(Layout)
{
    return {0x6154, 0x6170, 3000};
}

Area workout(Layout layout)
{
    return isA(layout) ? Area{0x6D28, 0x6D40, 0x792C0} : Area{0x6D28, 0x6D40, 0x73F46};
}

Area route(Layout layout)
{
    return isA(layout) ? Area{0x80000, 0x80018, 0x82D8} : Area{0x7AC86, 0x7AC9E, 0x82D8};
}

// Laps and intervals have no head of their own: the table starts with the area.
Area lap(Layout layout)
{
    return isA(layout) ? Area{0x89000, 0x89000, 0x1C000} : Area{0x83000, 0x83000, 0x1C000};
}

Area interval(Layout layout)
{
    return isA(layout) ? Area{0xA5000, 0xA5000, 0x3DE0} : Area{0x9F000, 0x9F000, 0x3DE0};
}

Area workoutLog(Layout layout)
{
    return isA(layout) ? Area{0xA9000, 0xA9010, 0x7FF0} : Area{0xA3000, 0xA3010, 0x7FF0};
}

Area track(Layout layout)
{
    return isA(layout) ? Area{0xB1000, 0xB1018, 0x9DFE8} : Area{0xAB000, 0xAB018, 0x75FE8};
}

Area sensorLog(Layout layout)
{
    return isA(layout) ? Area{0x14F000, 0x14F018, 0x9AFE8} : Area{0x121000, 0x121018, 0x45FE8};
}

Area userInfoLog(Layout layout)
{
    return isA(layout) ? Area{0x1EA000, 0x1EA018, 0x4F74} : Area{0x167000, 0x167018, 0x4F74};
}

Range areaRange(Layout layout, int index)
{
    if (index == 0)
        return {0, PSFBase};
    const Area areas[] = {poi(layout),        workout(layout), route(layout),     lap(layout),        interval(layout),
                          workoutLog(layout), track(layout),   sensorLog(layout), userInfoLog(layout)};
    const Area& area = areas[index - 1];
    return {area.frameStart, area.tableStart + area.tableSize};
}

qint64 firstChangeOutside(const char* before, const char* after, Layout layout, int areas)
{
    unsigned int from = 0;
    for (int index = 0; index <= AreaBits; ++index) {
        if (index < AreaBits && !(areas & (1 << index)))
            continue;
        const Range range = index < AreaBits ? areaRange(layout, index) : Range{ImageSize, ImageSize};
        if (range.start > from && memcmp(before + from, after + from, range.start - from) != 0) {
            while (before[from] == after[from])
                ++from;
            return from;
        }
        from = qMax(from, range.end);
    }
    return -1;
}

QByteArray emptyImage(Layout layout)
{
    std::vector<char> bytes(ImageSize, char(0xFF));
    char* image = bytes.data();

    // Flash header, slot 0; slot 1 stays erased, so slot 0 is the current one.
    image[0] = char(0x55);
    image[1] = char(0xAA);
    qToLittleEndian<quint16>(quint16(poi(layout).tableSize), image + 66);
    putGroup(image, 76, workout(layout));
    putGroup(image, 88, route(layout));
    putGroup(image, 100, lap(layout));
    putGroup(image, 112, interval(layout));
    putGroup(image, 124, workoutLog(layout));
    putGroup(image, 136, track(layout));
    putGroup(image, 148, sensorLog(layout));
    putGroup(image, 160, userInfoLog(layout));

    memcpy(image + VersionOffset, isA(layout) ? "1510" : "1500", 4);

    // Frame offsets from the data-store base: POI, route, workout, workout log, track, sensor log, user info.
    const Area frames[] = {poi(layout),        route(layout), workout(layout),        workoutLog(layout),
                           track(layout),      sensorLog(layout), userInfoLog(layout)};
    for (int index = 0; index < 7; ++index)
        put32(image, FrameOffsetsStart + index * FrameOffsetStride, frames[index].frameStart - PSFBase);

    // Frame heads: the first word is the table's offset from the frame start.
    for (const Area& area : {route(layout), track(layout), sensorLog(layout), userInfoLog(layout),
                             workoutLog(layout), workout(layout)})
        put32(image, area.frameStart, area.tableStart - area.frameStart);
    put32(image, poi(layout).frameStart + 4, poi(layout).tableStart - poi(layout).frameStart);
    // The route head also locates the lap table, the workout head the interval table.
    put32(image, route(layout).frameStart + 4, lap(layout).tableStart - route(layout).frameStart);
    put32(image, workout(layout).frameStart + 4, interval(layout).tableStart - workout(layout).frameStart);
    return QByteArray(image, ImageSize);
}

} // namespace JXPSFTestImage
