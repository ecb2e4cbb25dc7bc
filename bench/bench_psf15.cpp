// Times the walks over second-generation flash records against plain loops over the same bytes, in one process so
// that both sides see the same machine state:
//   track:     JXPSFTrackPointIter over 100000 class-0 points (two segments) against a loop decoding the point format
//              in place (class from the tag); a loop that assumes class 0 is printed for reference;
//   sensor:    JXPSFSsrLogPointIter over 100000 samples of all seven fields (two logs) against a loop decoding the
//              samples in place into the same values through the same JXPSFValue decoders; the decoding written out
//              inline is printed for reference;
//   rearrange: rearrangeTrackTable of a full table-A segment list after half the routes were deleted, against a
//              memcpy of the kept segments plus a fresh loadTrackSegs of every kept route;
//   root walk: JXPSF_1_5 made over that full image, every route, segment and point (and sensor log, of which the
//              image has none) listed through it, then destroyed, against a plain loop over the route chain and the
//              segment chains decoding the same points, making as many small heap blocks as the root did (goal 2);
//   root deleteAllRoutes(0): on that image with the frames built, against a memcpy of the kept route records and
//              segments into place plus a fresh route and track frame loading every kept segment.
// Heap allocations are counted (operator new of this binary) over the iterator runs. Prints the median of RUNS runs
// per side and the ratio; goals: ratio <= 1.5 (2 for the root walk), no allocation per next(). The heap the root
// holds after its walk (glibc's count of bytes in use) is printed against what the plain loop's blocks take.
//
//   bench_psf15 [RUNS]

#include <QByteArray>
#include <QElapsedTimer>
#include <QtEndian>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "benchsupport.h"
#include "jxmemorypsfstore.h"
#include "jxpsftestimage.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsf_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsfrouteframe_1_5.h"
#include "psf/gen2/jxpsfsensorlog_1_5.h"
#include "psf/gen2/jxpsftrackframe_1_5.h"
#include "psf/gen2/jxpsftrackpoint_1_5.h"
#include "psf/gen2/jxpsftrackseg_1_5.h"
#include "psf/jxpsfvalue.h"

namespace {

std::atomic<long long> g_allocations{0};

} // namespace

void* operator new(std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

namespace {

using Layout = JXPSFTestImage::Layout;

const int kPoints = 100000;
const int kPerRecord = 50000;
const quint32 None = 0xFFFFFFFF;

// Keeps the optimiser from dropping a loop whose result is otherwise unused.
volatile double g_sink = 0;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void put32(char* at, quint32 value)
{
    qToLittleEndian<quint32>(value, at);
}

// Two segments of 50000 class-0 points with varying deltas and time counts.
std::vector<char> trackBytes()
{
    const int segmentSize = 40 + 6 * kPerRecord;
    std::vector<char> bytes(size_t(2 * segmentSize), '\0');
    quint32 state = 12345;
    for (int segment = 0; segment < 2; ++segment) {
        char* head = bytes.data() + segment * segmentSize;
        put32(head, 1700000000);
        put32(head + 4, quint32(8000000));
        put32(head + 8, quint32(47000000));
        qToLittleEndian<qint16>(4400, head + 20);
        head[25] = 1;
        put32(head + 28, None);
        put32(head + 32, kPerRecord);
        put32(head + 36, None);
        for (int index = 0; index < kPerRecord; ++index) {
            char* point = head + 40 + 6 * index;
            state = state * 1664525u + 1013904223u;
            point[0] = char(((state >> 8) & 0x3F) << 2);
            point[1] = char(state >> 16);
            qToLittleEndian<qint16>(qint16(state >> 4), point + 2);
            qToLittleEndian<qint16>(qint16(state >> 12), point + 4);
        }
    }
    return bytes;
}

// Two logs of 50000 samples with all seven fields.
std::vector<char> sensorBytes()
{
    const int logSize = 16 + 10 * kPerRecord;
    std::vector<char> bytes(size_t(2 * logSize), '\0');
    quint32 state = 54321;
    for (int log = 0; log < 2; ++log) {
        char* head = bytes.data() + log * logSize;
        put32(head, 1700000000);
        put32(head + 4, None);
        head[8] = 1;
        head[9] = 0x7F;
        qToLittleEndian<quint16>(kPerRecord, head + 10);
        for (int index = 0; index < kPerRecord * 10; ++index) {
            state = state * 1664525u + 1013904223u;
            head[16 + index] = char(state >> 24);
        }
    }
    return bytes;
}

double trackIterator(std::vector<JXPSFTrackSeg_1_5*>& segments)
{
    double sum = 0;
    for (JXPSFTrackSeg_1_5* segment : segments) {
        JXPSFTrackPointIter points = segment->getPointIterator();
        while (points.next())
            sum += points.getLatlng().getLat() + points.getLatlng().getLng() + points.getAlt() + points.getTime();
    }
    return sum;
}

// The point format decoded in place: the class in the tag picks the delta widths.
double trackLoop(const std::vector<char>& bytes)
{
    double sum = 0;
    const char* head = bytes.data();
    for (int segment = 0; segment < 2; ++segment) {
        qint32 lon = qFromLittleEndian<qint32>(head + 4);
        qint32 lat = qFromLittleEndian<qint32>(head + 8);
        double alt = qFromLittleEndian<qint16>(head + 20) * 0.25 - 1000;
        quint32 time = qFromLittleEndian<quint32>(head);
        const quint32 interval = quint8(head[25]);
        const quint32 count = qFromLittleEndian<quint32>(head + 32);
        const char* point = head + 40;
        for (quint32 index = 0; index < count; ++index) {
            const quint8 tag = quint8(point[0]);
            const bool wideAltitude = (tag & 1) != 0;
            const bool widePosition = (tag & 2) != 0;
            const int altitude = wideAltitude ? qFromLittleEndian<qint16>(point + 1) : qint8(point[1]);
            const char* position = point + (wideAltitude ? 3 : 2);
            const qint32 dlon = widePosition ? qFromLittleEndian<qint32>(position) : qFromLittleEndian<qint16>(position);
            const qint32 dlat = widePosition ? qFromLittleEndian<qint32>(position + 4) : qFromLittleEndian<qint16>(position + 2);
            alt += altitude / 10.0;
            lon = qint32(quint32(lon) + quint32(dlon));
            lat = qint32(quint32(lat) + quint32(dlat));
            time += quint32(tag >> 2) * interval;
            sum += lat + lon + alt + time;
            point = position + (widePosition ? 8 : 4);
        }
        head = point;
    }
    return sum;
}

// The same for class-0 points only, knowing that all of them are: no decoding of the class.
double trackLoopClassZero(const std::vector<char>& bytes)
{
    double sum = 0;
    const char* head = bytes.data();
    for (int segment = 0; segment < 2; ++segment) {
        qint32 lon = qFromLittleEndian<qint32>(head + 4);
        qint32 lat = qFromLittleEndian<qint32>(head + 8);
        double alt = qFromLittleEndian<qint16>(head + 20) * 0.25 - 1000;
        quint32 time = qFromLittleEndian<quint32>(head);
        const quint32 interval = quint8(head[25]);
        const quint32 count = qFromLittleEndian<quint32>(head + 32);
        const char* point = head + 40;
        for (quint32 index = 0; index < count; ++index) {
            const quint8 tag = quint8(point[0]);
            alt += qint8(point[1]) / 10.0;
            lon = qint32(quint32(lon) + quint32(qFromLittleEndian<qint16>(point + 2)));
            lat = qint32(quint32(lat) + quint32(qFromLittleEndian<qint16>(point + 4)));
            time += quint32(tag >> 2) * interval;
            sum += lat + lon + alt + time;
            point += 6;
        }
        head = point;
    }
    return sum;
}

double sensorIterator(std::vector<JXPSFSensorLog_1_5*>& logs)
{
    double sum = 0;
    for (JXPSFSensorLog_1_5* log : logs) {
        JXPSFSsrLogPointIter samples = log->getPointIterator();
        while (samples.next()) {
            sum += samples.getTime() + samples.getSpeed().getValue() + samples.getRPM().getValue()
                   + samples.getBPM().getValue() + samples.getPower().getValue() + samples.getTemperature().getValue()
                   + samples.getBRM().getValue();
        }
    }
    return sum;
}

// The samples decoded in place at the positions of flags 0x7F, into the same values through the same decoders.
double sensorLoop(const std::vector<char>& bytes)
{
    double sum = 0;
    const char* head = bytes.data();
    for (int log = 0; log < 2; ++log) {
        const quint32 start = qFromLittleEndian<quint32>(head);
        const quint32 interval = quint8(head[8]);
        const quint16 count = qFromLittleEndian<quint16>(head + 10);
        const char* sample = head + 16;
        for (quint32 index = 0; index < count; ++index) {
            sum += start + interval * index + JXPSFValue::fromPSFSpeed(quint8(sample[0])).getValue()
                   + JXPSFValue(quint8(sample[1])).getValue() + JXPSFValue(quint8(sample[2])).getValue()
                   + JXPSFValue(qFromLittleEndian<quint16>(sample + 3)).getValue()
                   + JXPSFValue::fromPSFTemperature(qFromLittleEndian<qint16>(sample + 5)).getValue()
                   + JXPSFValue::fromPSFBrm(qFromLittleEndian<quint16>(sample + 7)).getValue();
            sample += 10;
        }
        head = sample;
    }
    return sum;
}

// The same with the decoding written out inline, as arithmetic on the raw fields.
double sensorLoopInline(const std::vector<char>& bytes)
{
    double sum = 0;
    const char* head = bytes.data();
    for (int log = 0; log < 2; ++log) {
        const quint32 start = qFromLittleEndian<quint32>(head);
        const quint32 interval = quint8(head[8]);
        const quint16 count = qFromLittleEndian<quint16>(head + 10);
        const char* sample = head + 16;
        for (quint32 index = 0; index < count; ++index) {
            const quint8 speed = quint8(sample[0]);
            const quint8 rpm = quint8(sample[1]);
            const quint8 bpm = quint8(sample[2]);
            const quint16 power = qFromLittleEndian<quint16>(sample + 3);
            const qint16 temperature = qFromLittleEndian<qint16>(sample + 5);
            const quint16 brm = qFromLittleEndian<quint16>(sample + 7);
            sum += start + interval * index + (speed == 0xFF ? 65535.0 : speed * 3.6 * 0.125)
                   + (rpm == 0xFF ? 65535.0 : rpm) + (bpm == 0xFF ? 65535.0 : bpm)
                   + (power == 0xFFFF ? 65535.0 : power) + temperature / 10.0 + (brm == 0xFFFF ? 65535.0 : brm * 2.0);
            sample += 10;
        }
        head = sample;
    }
    return sum;
}

// A table-A image whose segment list is full: 200 routes, alternately planned and recorded, each with one segment
// of 532 class-0 points.
QByteArray fullTrackImage()
{
    const QByteArray empty = JXPSFTestImage::emptyImage(Layout::A);
    std::vector<char> image(empty.constBegin(), empty.constEnd());
    const JXPSFTestImage::Area route = JXPSFTestImage::route(Layout::A);
    const JXPSFTestImage::Area track = JXPSFTestImage::track(Layout::A);
    const int routes = 200;
    const int points = 532;
    const int segmentSize = 40 + 6 * points;
    qToLittleEndian<quint16>(routes, image.data() + route.frameStart + 8);
    quint32 state = 777;
    for (int index = 0; index < routes; ++index) {
        char* record = image.data() + route.tableStart + 36 * index;
        memset(record, 0xFF, 36);
        record[4] = char(index % 2);
        put32(record + 8, quint32(index * segmentSize));
        put32(record + 28, index + 1 < routes ? quint32(36 * (index + 1)) : None);
        char* head = image.data() + track.tableStart + index * segmentSize;
        memset(head, 0, 40);
        put32(head + 28, None);
        put32(head + 32, points);
        put32(head + 36, None);
        for (int point = 0; point < points; ++point) {
            state = state * 1664525u + 1013904223u;
            char* at = head + 40 + 6 * point;
            at[0] = char((state >> 24) & 0xFC);
            at[1] = char(state >> 8);
            qToLittleEndian<quint16>(quint16(state >> 4), at + 2);
            qToLittleEndian<quint16>(quint16(state >> 12), at + 4);
        }
    }
    qToLittleEndian<quint32>(track.tableStart + routes * segmentSize, image.data() + 144);
    qToLittleEndian<quint32>(track.tableSize - routes * segmentSize, image.data() + 136);
    return QByteArray(image.data(), int(image.size()));
}

void report(const char* what, double ours, double plain, double goal = 1.5)
{
    std::printf("%-64s %9.3f ms  baseline %9.3f ms  ratio %.2f (goal <= %.2f)\n", what, ours, plain, ours / plain,
                goal);
}

size_t heapInUse()
{
    return mallinfo2().uordblks;
}

// One segment's points decoded in place, as trackLoop does, added to one running sum as the walk adds them.
void segmentPoints(const char* head, double& sum)
{
    qint32 lon = qFromLittleEndian<qint32>(head + 4);
    qint32 lat = qFromLittleEndian<qint32>(head + 8);
    double alt = qFromLittleEndian<qint16>(head + 20) * 0.25 - 1000;
    quint32 time = qFromLittleEndian<quint32>(head);
    const quint32 interval = quint8(head[25]);
    const quint32 count = qFromLittleEndian<quint32>(head + 32);
    const char* point = head + 40;
    for (quint32 index = 0; index < count; ++index) {
        const quint8 tag = quint8(point[0]);
        const bool wideAltitude = (tag & 1) != 0;
        const bool widePosition = (tag & 2) != 0;
        const int altitude = wideAltitude ? qFromLittleEndian<qint16>(point + 1) : qint8(point[1]);
        const char* position = point + (wideAltitude ? 3 : 2);
        const qint32 dlon = widePosition ? qFromLittleEndian<qint32>(position) : qFromLittleEndian<qint16>(position);
        const qint32 dlat =
            widePosition ? qFromLittleEndian<qint32>(position + 4) : qFromLittleEndian<qint16>(position + 2);
        alt += altitude / 10.0;
        lon = qint32(quint32(lon) + quint32(dlon));
        lat = qint32(quint32(lat) + quint32(dlat));
        time += quint32(tag >> 2) * interval;
        sum += lat + lon + alt + time;
        point = position + (widePosition ? 8 : 4);
    }
}

double rootWalk(JXPSF_1_5& root)
{
    double sum = 0;
    QVector<JXPSFRoute_1_5*> routes;
    root.getAllRoutes(routes);
    for (JXPSFRoute_1_5* route : qAsConst(routes)) {
        QVector<JXPSFTrackSeg_1_5*> segments;
        root.getTrackOfRoute(route, segments);
        for (JXPSFTrackSeg_1_5* segment : qAsConst(segments)) {
            JXPSFTrackPointIter points = segment->getPointIterator();
            while (points.next())
                sum += points.getLatlng().getLat() + points.getLatlng().getLng() + points.getAlt() + points.getTime();
        }
        QVector<JXPSFSensorLog_1_5*> logs;
        if (root.getSensorLogOfRoute(route, logs)) {
            for (JXPSFSensorLog_1_5* log : qAsConst(logs)) {
                JXPSFSsrLogPointIter samples = log->getPointIterator();
                while (samples.next())
                    sum += samples.getTime();
            }
        }
    }
    return sum;
}

// A record seen by the plain loop, as small as a view can be.
struct PlainView
{
    const char* data;
    PlainView* next;
};

// The route chain and each route's segment chain, with one block per record and then as many more as make up
// blocks; heapHeld gets the bytes in use with all of them alive.
double plainWalk(const char* image, long long blocks, size_t& heapHeld)
{
    const JXPSFTestImage::Area route = JXPSFTestImage::route(Layout::A);
    const JXPSFTestImage::Area track = JXPSFTestImage::track(Layout::A);
    const size_t before = heapInUse();
    double sum = 0;
    PlainView* views = nullptr;
    long long made = 0;
    const quint16 count = qFromLittleEndian<quint16>(image + route.frameStart + 8);
    quint32 offset = 0;
    for (quint16 index = 0; index < count && offset != None; ++index) {
        const char* record = image + route.tableStart + offset;
        views = new PlainView{record, views};
        ++made;
        quint32 segment = qFromLittleEndian<quint32>(record + 8);
        while (segment != None) {
            const char* head = image + track.tableStart + segment;
            views = new PlainView{head, views};
            ++made;
            segmentPoints(head, sum);
            segment = qFromLittleEndian<quint32>(head + 28);
        }
        offset = qFromLittleEndian<quint32>(record + 28);
    }
    for (; made < blocks; ++made)
        views = new PlainView{nullptr, views};
    heapHeld = heapInUse() - before;
    while (views) {
        PlainView* next = views->next;
        delete views;
        views = next;
    }
    return sum;
}

} // namespace

int main(int argc, char** argv)
{
    qInstallMessageHandler(quietHandler);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 11;
    QElapsedTimer timer;

    // Track points.
    std::vector<char> track = trackBytes();
    const char* trackEnd = track.data() + track.size();
    std::vector<JXPSFTrackSeg_1_5*> segments{new JXPSFTrackSeg_1_5(track.data(), false, trackEnd),
                                             new JXPSFTrackSeg_1_5(track.data() + 40 + 6 * kPerRecord, false, trackEnd)};
    if (trackIterator(segments) != trackLoop(track) || trackLoop(track) != trackLoopClassZero(track)) {
        std::fprintf(stderr, "the track iterator and the loop disagree\n");
        return 1;
    }
    std::vector<double> ours, plain, reference;
    ours.reserve(size_t(runs));
    long long allocations = 0;
    for (int run = 0; run < runs; ++run) {
        const long long before = g_allocations.load();
        timer.start();
        g_sink = g_sink + trackIterator(segments);
        const double elapsed = timer.nsecsElapsed() / 1e6;
        allocations += g_allocations.load() - before;
        ours.push_back(elapsed);
        timer.start();
        g_sink = g_sink + trackLoop(track);
        plain.push_back(timer.nsecsElapsed() / 1e6);
        timer.start();
        g_sink = g_sink + trackLoopClassZero(track);
        reference.push_back(timer.nsecsElapsed() / 1e6);
    }
    report("JXPSFTrackPointIter, 100000 class-0 points", median(ours), median(plain));
    std::printf("  heap allocations: %lld in %d runs of %d next() calls\n", allocations, runs, kPoints);
    std::printf("  for reference, a loop that assumes class 0: %.3f ms (iterator / it: %.2f)\n", median(reference),
                median(ours) / median(reference));

    // Sensor samples.
    std::vector<char> sensor = sensorBytes();
    const char* sensorEnd = sensor.data() + sensor.size();
    std::vector<JXPSFSensorLog_1_5*> logs{new JXPSFSensorLog_1_5(sensor.data(), sensorEnd),
                                          new JXPSFSensorLog_1_5(sensor.data() + 16 + 10 * kPerRecord, sensorEnd)};
    if (sensorIterator(logs) != sensorLoop(sensor) || sensorLoop(sensor) != sensorLoopInline(sensor)) {
        std::fprintf(stderr, "the sensor iterator and the loop disagree\n");
        return 1;
    }
    ours.clear();
    plain.clear();
    reference.clear();
    allocations = 0;
    for (int run = 0; run < runs; ++run) {
        const long long before = g_allocations.load();
        timer.start();
        g_sink = g_sink + sensorIterator(logs);
        const double elapsed = timer.nsecsElapsed() / 1e6;
        allocations += g_allocations.load() - before;
        ours.push_back(elapsed);
        timer.start();
        g_sink = g_sink + sensorLoop(sensor);
        plain.push_back(timer.nsecsElapsed() / 1e6);
        timer.start();
        g_sink = g_sink + sensorLoopInline(sensor);
        reference.push_back(timer.nsecsElapsed() / 1e6);
    }
    report("JXPSFSsrLogPointIter, 100000 samples of flags 0x7F", median(ours), median(plain));
    std::printf("  heap allocations: %lld in %d runs of %d next() calls\n", allocations, runs, kPoints);
    std::printf("  for reference, the decoding written inline: %.3f ms (iterator / it: %.2f)\n", median(reference),
                median(ours) / median(reference));

    // Packing the segment list.
    const QByteArray full = fullTrackImage();
    const JXPSFTestImage::Area routeArea = JXPSFTestImage::route(Layout::A);
    const JXPSFTestImage::Area trackArea = JXPSFTestImage::track(Layout::A);
    JXMemoryPSFStore store;
    JXExtFlashInfo_2M info(&store);
    store.setFlashInfo(&info);
    info.initialFlashDef(reinterpret_cast<const unsigned char*>("1510"));
    const char* imageEnd = store.bytes() + JXMemoryPSFStore::ImageSize;
    std::vector<char> kept(trackArea.tableSize);
    ours.clear();
    plain.clear();
    for (int run = 0; run < runs; ++run) {
        store.setImage(full);
        {
            JXPSFRouteFrame_1_5 routes(store.bytes() + routeArea.frameStart, &info, imageEnd);
            JXPSFTrackFrame_1_5 tracks(store.bytes() + trackArea.frameStart, &info, imageEnd);
            routes.deleteAllRoutes(0, &info);
            QVector<JXPSFRoute_1_5*> remaining = routes.getRoutes();
            timer.start();
            tracks.rearrangeTrackTable(remaining, &info);
            ours.push_back(timer.nsecsElapsed() / 1e6);
            if (remaining.size() != 100 || remaining.last()->getTrkOffset() != 99u * (40 + 6 * 532)) {
                std::fprintf(stderr, "packing kept the wrong segments\n");
                return 1;
            }
        }
        store.setImage(full);
        {
            JXPSFRouteFrame_1_5 routes(store.bytes() + routeArea.frameStart, &info, imageEnd);
            JXPSFTrackFrame_1_5 tracks(store.bytes() + trackArea.frameStart, &info, imageEnd);
            routes.deleteAllRoutes(0, &info);
            QVector<JXPSFRoute_1_5*> remaining = routes.getRoutes();
            timer.start();
            size_t used = 0;
            for (JXPSFRoute_1_5* route : qAsConst(remaining)) {
                const char* head = tracks.getSegList().begin() + route->getTrkOffset();
                const size_t size = 40 + 6 * qFromLittleEndian<quint32>(head + 32);
                memcpy(kept.data() + used, head, size);
                used += size;
            }
            for (JXPSFRoute_1_5* route : qAsConst(remaining))
                tracks.loadTrackSegs(route);
            plain.push_back(timer.nsecsElapsed() / 1e6);
        }
    }
    report("rearrangeTrackTable, full table-A list, half the routes kept", median(ours), median(plain));

    // The root over the same image: a walk through everything, then deleting the planned routes.
    ours.clear();
    plain.clear();
    long long rootBlocks = -1;
    size_t rootHeld = 0;
    size_t plainHeld = 0;
    for (int run = 0; run < runs; ++run) {
        store.setImage(full);
        const long long before = g_allocations.load();
        const size_t heapBefore = heapInUse();
        timer.start();
        double walked = 0;
        {
            JXPSF_1_5 root(&store);
            walked = rootWalk(root);
            rootHeld = heapInUse() - heapBefore;
        }
        ours.push_back(timer.nsecsElapsed() / 1e6);
        if (rootBlocks < 0)
            rootBlocks = g_allocations.load() - before;
        timer.start();
        const double loop = plainWalk(store.bytes(), rootBlocks, plainHeld);
        plain.push_back(timer.nsecsElapsed() / 1e6);
        if (walked != loop || walked == 0) {
            std::fprintf(stderr, "the root walk and the plain loop disagree\n");
            return 1;
        }
        g_sink = g_sink + walked;
    }
    report("JXPSF_1_5 walk, full table-A image (200 routes, 106400 points)", median(ours), median(plain), 2.0);
    std::printf("  %lld heap blocks per walk on both sides; heap held after the walk: root %zu KB, plain %zu KB\n",
                rootBlocks, rootHeld / 1024, plainHeld / 1024);

    ours.clear();
    plain.clear();
    std::vector<char> keptRoutes(routeArea.tableSize);
    for (int run = 0; run < runs; ++run) {
        store.setImage(full);
        {
            JXPSF_1_5 root(&store);
            if (!root.getWorkoutLogFrame() || !root.getTrackFrame() || !root.getSensorLogFrame()
                || !root.getUserInfoFrame()) {
                std::fprintf(stderr, "the root built no frames\n");
                return 1;
            }
            timer.start();
            root.deleteAllRoutes(0);
            ours.push_back(timer.nsecsElapsed() / 1e6);
            QVector<JXPSFRoute_1_5*> remaining;
            root.getAllRoutes(remaining);
            if (remaining.size() != 100 || remaining.last()->getTrkOffset() != 99u * (40 + 6 * 532)) {
                std::fprintf(stderr, "deleteAllRoutes(0) kept the wrong routes\n");
                return 1;
            }
        }
        store.setImage(full);
        {
            timer.start();
            char* routeTable = store.bytes() + routeArea.tableStart;
            char* segmentList = store.bytes() + trackArea.tableStart;
            size_t routeBytes = 0;
            size_t segmentBytes = 0;
            quint32 offset = 0;
            while (offset != None) {
                const char* record = routeTable + offset;
                offset = qFromLittleEndian<quint32>(record + 28);
                if (!(record[4] & 1))
                    continue;
                const char* head = segmentList + qFromLittleEndian<quint32>(record + 8);
                const size_t size = 40 + 6 * qFromLittleEndian<quint32>(head + 32);
                memcpy(keptRoutes.data() + routeBytes, record, 36);
                put32(keptRoutes.data() + routeBytes + 8, quint32(segmentBytes));
                put32(keptRoutes.data() + routeBytes + 28, offset == None ? None : quint32(routeBytes + 36));
                memcpy(kept.data() + segmentBytes, head, size);
                routeBytes += 36;
                segmentBytes += size;
            }
            put32(keptRoutes.data() + routeBytes - 36 + 28, None);
            memcpy(routeTable, keptRoutes.data(), routeBytes);
            memset(routeTable + routeBytes, 0xFF, routeArea.tableSize - routeBytes);
            memcpy(segmentList, kept.data(), segmentBytes);
            memset(segmentList + segmentBytes, 0xFF, trackArea.tableSize - segmentBytes);
            qToLittleEndian<quint16>(quint16(routeBytes / 36), store.bytes() + routeArea.frameStart + 8);
            JXPSFRouteFrame_1_5 routes(store.bytes() + routeArea.frameStart, &info, imageEnd);
            JXPSFTrackFrame_1_5 tracks(store.bytes() + trackArea.frameStart, &info, imageEnd);
            for (JXPSFRoute_1_5* route : qAsConst(routes.getRoutes()))
                tracks.loadTrackSegs(route);
            plain.push_back(timer.nsecsElapsed() / 1e6);
            if (routes.getRoutes().size() != 100) {
                std::fprintf(stderr, "the plain packing kept the wrong routes\n");
                return 1;
            }
        }
    }
    report("JXPSF_1_5::deleteAllRoutes(0), full table-A image, 100 of 200 kept", median(ours), median(plain));
    std::printf("median of %d runs each\n", runs);

    qDeleteAll(segments.begin(), segments.end());
    qDeleteAll(logs.begin(), logs.end());
    return 0;
}
