// libFuzzer target for the record frames of the second-generation data store, over images that a device (or a
// damaged flash) may leave in any state.
//
// Each input is written over one area of an empty image (Gendrel/tests/support) that already holds one recorded
// track with laps, a summary, a user-info snapshot, a segment of points and its sensor log, and a workout of two
// intervals with one log of that track: byte 0 chooses the layout (bit 7: table B) and the area (the rest modulo 10:
// distribution header, POI frame, route frame, lap table, track frame, sensor-log frame, user-info frame, workout
// frame, interval table, workout-log frame); the other bytes go over the area from its start. Frames whose head lies
// in their own area are found through the distribution header as the image root finds them. Then every frame is
// loaded, every iterator run out, the lap and sensor-log tables packed, the routes of each type deleted with the
// track table packed after each, and one record of each kind created. The same image is then gone through once more
// by the image root: everything listed and iterated, then (by the last byte) a route with segments and a workout
// with intervals created or one deletion run, everything listed again and the flash header flushed. Every record
// loaded must lie inside the image; the image is exactly 2 MB, so AddressSanitizer flags any access past it. During
// every operation, no byte outside the areas that operation may write (its frames' areas and the flash header) is
// written: after each, the image is compared with a copy of it as the operation found it.
//
// Speed: each layout has an image of its own, laid out once, with a guard of its own. Between phases only the areas
// that the last operations may have written and the last input's bytes are restored, and of those only the chunks
// that differ from the pristine image are copied back. Warnings are turned off, so that the library does not even
// work them out.

#include <QLoggingCategory>
#include <QtEndian>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzzsupport.h"
#include "jxmemorypsfstore.h"
#include "jxpsftestimage.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsf_1_5.h"
#include "psf/gen2/jxpsfdistheader_1_5.h"
#include "psf/gen2/jxpsfinterval_1_5.h"
#include "psf/gen2/jxpsfintervallog_1_5.h"
#include "psf/gen2/jxpsflap_1_5.h"
#include "psf/gen2/jxpsfpoi_1_5.h"
#include "psf/gen2/jxpsfpoiframe_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsfrouteframe_1_5.h"
#include "psf/gen2/jxpsfsensorlog_1_5.h"
#include "psf/gen2/jxpsfsensorlogframe_1_5.h"
#include "psf/gen2/jxpsftrackframe_1_5.h"
#include "psf/gen2/jxpsftrackpoint_1_5.h"
#include "psf/gen2/jxpsftrackseg_1_5.h"
#include "psf/gen2/jxpsfuserinfolog_1_5.h"
#include "psf/gen2/jxpsfuserinfologframe_1_5.h"
#include "psf/gen2/jxpsfworkout_1_5.h"
#include "psf/gen2/jxpsfworkoutlog_1_5.h"

using JXFuzz::require;
using Layout = JXPSFTestImage::Layout;

namespace {

const unsigned int kPSFBase = 0x6000;
const unsigned int kDistHeader = kPSFBase + 48;
const int kAreas = 10;
const int kRootActions = 5;
const quint32 kNoOffset = 0xFFFFFFFF;

void put32(char* at, quint32 value)
{
    qToLittleEndian<quint32>(value, at);
}

// One recorded track with everything a track can point to, in an otherwise empty image.
void addTrack(char* image, Layout layout)
{
    const JXPSFTestImage::Area route = JXPSFTestImage::route(layout);
    const JXPSFTestImage::Area lap = JXPSFTestImage::lap(layout);
    const JXPSFTestImage::Area track = JXPSFTestImage::track(layout);
    const JXPSFTestImage::Area sensor = JXPSFTestImage::sensorLog(layout);
    const JXPSFTestImage::Area userInfo = JXPSFTestImage::userInfoLog(layout);

    qToLittleEndian<quint16>(1, image + route.frameStart + 8);
    char* record = image + route.tableStart;
    memset(record, 0, 36);
    record[4] = 0x01;
    put32(record + 8, 0);    // track
    put32(record + 12, 112); // summary
    put32(record + 16, 0);   // laps
    put32(record + 20, 0);   // user info
    record[24] = 2;
    put32(record + 28, 0xFFFFFFFF);
    put32(record + 32, 36);
    static const char name[] = "\x00\x00\x04\x00" "eng\x00" "\x00\x00\x00\x00" "Ride";
    memcpy(record + 36, name, 16);
    memset(image + lap.tableStart, 0x11, 3 * 56);

    char* segment = image + track.tableStart;
    memset(segment, 0, 40);
    put32(segment + 28, 0xFFFFFFFF);
    put32(segment + 32, 4);
    put32(segment + 36, 0);
    static const char points[] = "\x08\xFE\x10\x00\xF0\xFF" "\x05\x0A\x01\x10\x00\xF0\xFF"
                                 "\x12\xFE\x40\x42\x0F\x00\xC0\xBD\xF0\xFF" "\x0B\x9C\xFF\x40\x42\x0F\x00\xC0\xBD\xF0\xFF";
    memcpy(segment + 40, points, 34);

    char* log = image + sensor.tableStart;
    memset(log, 0, 16);
    log[8] = 1;
    log[9] = 0x7F;
    qToLittleEndian<quint16>(2, log + 10);
    memset(log + 16, 0x40, 20);

    // A workout of two intervals whose one log, with two interval logs, names the track.
    const JXPSFTestImage::Area workout = JXPSFTestImage::workout(layout);
    qToLittleEndian<quint16>(1, image + workout.frameStart + 8);
    char* plan = image + workout.tableStart;
    memset(plan, 0xFF, 40);
    put32(plan, 0);
    put32(plan + 4, 7);
    put32(plan + 8, 0);
    put32(plan + 12, 0);
    memset(plan + 16, 0, 4);
    char* interval = image + JXPSFTestImage::interval(layout).tableStart;
    memset(interval, 0, 48);
    put32(interval + 4, 24);
    put32(interval + 8, kNoOffset);
    put32(interval + 24 + 4, kNoOffset);
    put32(interval + 24 + 8, 0);
    char* workoutLog = image + JXPSFTestImage::workoutLog(layout).tableStart;
    memset(workoutLog, 0, 40);
    put32(workoutLog + 8, kNoOffset);
    put32(workoutLog + 12, 0);
    qToLittleEndian<quint16>(2, workoutLog + 16);

    char* snapshot = image + userInfo.tableStart;
    memset(snapshot, 0, 24);
    snapshot[14] = 0x12;
    static const char zones[] = "\x34\x00\xBE\x00" "\x64\x00\x78\x00" "\x79\x00\x8C\x00" "\x8D\x00\xA0\x00" "\x08\x00\xFA\x00";
    memcpy(snapshot + 24, zones, 20);
}

using namespace JXPSFTestImage;

const int kRouteDeletionAreas =
    FlashHeaderArea | RouteArea | LapArea | TrackArea | SensorLogArea | UserInfoArea | WorkoutLogArea | WorkoutArea;

// The guard's own branches are no coverage of the library: libFuzzer would take them for new behaviour, and tracing
// them cost time.
#define JX_NO_COVERAGE __attribute__((no_sanitize("coverage")))

// Whether the bytes are all 0xFF, and whether they equal those at other. They read whole words without an early
// exit, which the compiler vectorises when no sanitizer checks each; the bytes lie inside the images.
__attribute__((no_sanitize("address", "undefined", "coverage"))) bool allErased(const char* bytes, size_t length)
{
    uint64_t all = ~uint64_t(0);
    size_t at = 0;
    for (; at + sizeof(all) <= length; at += sizeof(all)) {
        uint64_t word;
        memcpy(&word, bytes + at, sizeof(word));
        all &= word;
    }
    for (; at < length; ++at)
        all &= uint64_t(uint8_t(bytes[at])) | ~uint64_t(0xFF);
    return all == ~uint64_t(0);
}

__attribute__((no_sanitize("address", "undefined", "coverage"))) bool sameBytes(const char* bytes, const char* other,
                                                                                size_t length)
{
    uint64_t differ = 0;
    size_t at = 0;
    for (; at + sizeof(differ) <= length; at += sizeof(differ)) {
        uint64_t word;
        uint64_t was;
        memcpy(&word, bytes + at, sizeof(word));
        memcpy(&was, other + at, sizeof(was));
        differ |= word ^ was;
    }
    for (; at < length; ++at)
        differ |= uint8_t(bytes[at] ^ other[at]);
    return differ == 0;
}

// Images are compared and restored by chunks of this many bytes.
const unsigned int kChunk = 1024;

// The areas each operation of an input may write, over one image. A copy of the image as the last step left it is
// compared with the image after each step: a changed byte outside the step's areas stops the run with the step's
// message and the byte's offset. Page protection would stop it at the writing instruction, but on virtual machines
// changing it cost up to a third of a millisecond a call, dozens of calls an input, where comparing the 2 MB costs
// a twentieth. The harness's own writes between phases go to both (write).
class Guard
{
public:
    struct Step
    {
        int allowed;
        const char* what;
    };

    JX_NO_COVERAGE Guard(char* image, Layout layout)
        : m_image(image), m_layout(layout), m_copy(size_t(JXMemoryPSFStore::ImageSize))
    {
        memcpy(m_copy.data(), image, m_copy.size());
    }

    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

    // Starts a phase: no area written yet.
    JX_NO_COVERAGE void begin() { m_touched = 0; }

    JX_NO_COVERAGE void expect(const Step& step)
    {
        check();
        m_step = step;
        m_open = true;
        m_allowed.clear();
        for (int index = 0; index < AreaBits; ++index) {
            if (step.allowed & (1 << index))
                m_allowed.push_back(areaRange(m_layout, index));
        }
    }

    // Ends the open step, if any: every changed chunk must lie in the step's areas, and the copy takes it.
    JX_NO_COVERAGE void check()
    {
        if (!m_open)
            return;
        m_open = false;
        for (unsigned int at = 0; at < ImageSize; at += kChunk) {
            if (sameBytes(m_image + at, m_copy.data() + at, kChunk))
                continue;
            if (!allowed(at, at + kChunk)) {
                for (unsigned int byte = at; byte < at + kChunk; ++byte) {
                    if (m_image[byte] != m_copy[byte] && !allowed(byte, byte + 1)) {
                        std::fprintf(stderr, "the byte at image offset 0x%x changed\n", byte);
                        require(false, m_step.what);
                    }
                }
            }
            memcpy(m_copy.data() + at, m_image + at, kChunk);
        }
        m_touched |= m_step.allowed;
    }

    // Ends the open step and the phase.
    JX_NO_COVERAGE void finish() { check(); }

    // Ends the open step and opens one that may write what the steps since begin could.
    JX_NO_COVERAGE void release(const char* what)
    {
        check();
        expect({m_touched, what});
    }

    // The areas that operations may have written since begin.
    JX_NO_COVERAGE int touched() const { return m_touched; }

    // The harness's write of image offsets [offset, offset + length) between phases.
    JX_NO_COVERAGE void write(unsigned int offset, const char* bytes, size_t length)
    {
        memcpy(m_image + offset, bytes, length);
        memcpy(m_copy.data() + offset, bytes, length);
    }

private:
    // Whether image offsets [start, end) lie in one of the step's areas.
    JX_NO_COVERAGE bool allowed(unsigned int start, unsigned int end) const
    {
        for (const Range& range : m_allowed) {
            if (start >= range.start && end <= range.end)
                return true;
        }
        return false;
    }

    char* const m_image;
    const Layout m_layout;
    std::vector<char> m_copy;
    Step m_step = {0, nullptr};
    std::vector<Range> m_allowed; // the step's areas
    bool m_open = false;
    int m_touched = 0;
};

// The first and last byte of each area an input can cover.
void areaOf(int area, Layout layout, unsigned int& start, unsigned int& end)
{
    JXPSFTestImage::Area table;
    switch (area) {
    case 0:
        start = kPSFBase;
        end = JXPSFTestImage::poi(layout).frameStart;
        return;
    case 1: table = JXPSFTestImage::poi(layout); break;
    case 2: table = JXPSFTestImage::route(layout); break;
    case 3: table = JXPSFTestImage::lap(layout); break;
    case 4: table = JXPSFTestImage::track(layout); break;
    case 5: table = JXPSFTestImage::sensorLog(layout); break;
    case 6: table = JXPSFTestImage::userInfoLog(layout); break;
    case 7: table = JXPSFTestImage::workout(layout); break;
    case 8: table = JXPSFTestImage::interval(layout); break;
    default: table = JXPSFTestImage::workoutLog(layout); break;
    }
    start = table.frameStart;
    end = table.tableStart + table.tableSize;
}

void requireInside(JXPSFObject* record, const char* image, const char* imageEnd)
{
    require(record->getData() >= image && record->getData() < imageEnd, "a record starts inside the image");
    require(record->getBytesCount() <= quint64(imageEnd - record->getData()), "a record ends inside the image");
}

// Where the frame at this directory entry starts, when its head lies inside its own area as the image root requires;
// null otherwise.
char* frameAt(char* image, JXPSFManagementHeaderRecord_1_5* record, unsigned int headSize, const Range& area)
{
    const quint64 start = quint64(kPSFBase) + record->getManHeaderOffset();
    if (start < area.start || start + headSize > area.end)
        return nullptr;
    return image + start;
}

// Everything the root hands out, walked as an export would.
void walkRoot(JXPSF_1_5& root, const char* image, const char* imageEnd)
{
    QVector<JXPSFRoute_1_5*> routes;
    if (root.getAllRoutes(routes)) {
        for (JXPSFRoute_1_5* route : qAsConst(routes)) {
            requireInside(route, image, imageEnd);
            QVector<JXPSFTrackSeg_1_5*> segments;
            if (root.getTrackOfRoute(route, segments)) {
                for (JXPSFTrackSeg_1_5* segment : qAsConst(segments)) {
                    requireInside(segment, image, imageEnd);
                    JXPSFTrackPointIter points = segment->getPointIterator();
                    while (points.next())
                        points.getLatlng();
                }
            }
            QVector<JXPSFSensorLog_1_5*> logs;
            if (root.getSensorLogOfRoute(route, logs)) {
                for (JXPSFSensorLog_1_5* log : qAsConst(logs)) {
                    requireInside(log, image, imageEnd);
                    JXPSFSsrLogPointIter samples = log->getPointIterator();
                    while (samples.next())
                        samples.getBRM();
                }
            }
            JXPSFWorkoutLog_1_5* workoutLog = nullptr;
            if (root.getWorkoutLogOfRoute(route, &workoutLog) && workoutLog) {
                require(workoutLog->getBytesCount() <= quint64(imageEnd - image), "a workout log fits the image");
                // The workout must still be alive: deletions detach logs from routes.
                if (workoutLog->getWorkout())
                    workoutLog->getWorkout()->getID();
                for (JXPSFIntervalLog_1_5* interval : qAsConst(workoutLog->getIntervalLogs()))
                    interval->getEndTime();
            }
            JXPSFUserInfoLog_1_5* userInfo = nullptr;
            if (root.getUserInfoLogOfRoute(route, &userInfo) && userInfo)
                requireInside(userInfo, image, imageEnd);
        }
    }
    QVector<JXPSFWorkout_1_5*> workouts;
    if (root.getWorkouts(workouts)) {
        for (JXPSFWorkout_1_5* workout : qAsConst(workouts)) {
            requireInside(workout, image, imageEnd);
            workout->getName(QString());
            for (JXPSFInterval_1_5* interval : qAsConst(workout->getIntervals()))
                requireInside(interval, image, imageEnd);
        }
    }
    if (JXPSFPOIFrame_1_5* pois = root.getPOIFrame()) {
        for (JXPSFPOI_1_5* poi : qAsConst(pois->getPOIs()))
            requireInside(poi, image, imageEnd);
    }
}

// The step each root action starts with.
const Guard::Step kRootSteps[kRootActions] = {
    {FlashHeaderArea | RouteArea | TrackArea, "a new route and its segments stay in their areas"},
    {kRouteDeletionAreas, "deleting all routes writes only their areas"},
    {FlashHeaderArea | RouteArea | LapArea | TrackArea | WorkoutLogArea,
     "deleting planned routes writes only their areas"},
    {kRouteDeletionAreas, "deleting recorded tracks writes only their areas"},
    {FlashHeaderArea | WorkoutArea | IntervalArea, "deleting workouts writes only their areas"},
};

// Leaves its last step open: the caller ends it once the root's views are gone.
void runRoot(JXMemoryPSFStore& store, JXExtFlashInfo_2M& info, int action, Guard& guard)
{
    const char* image = store.bytes();
    const char* imageEnd = image + JXMemoryPSFStore::ImageSize;
    // Listing writes nothing; it is checked with the operation that follows.
    guard.expect(kRootSteps[action]);
    JXPSF_1_5 root(&store);
    unsigned char version[4];
    root.getVersion(version);
    walkRoot(root, image, imageEnd);
    switch (action) {
    case 0:
        if (JXPSFRoute_1_5* route = root.createRoute({QStringLiteral("Ride")}, {}, false)) {
            for (int count = 0; count < 2; ++count) {
                if (JXPSFTrackSeg_1_5* segment = root.createTrackSeg(route))
                    requireInside(segment, image, imageEnd);
            }
        }
        guard.expect({FlashHeaderArea | WorkoutArea | IntervalArea,
                      "a new workout and its intervals stay in their areas"});
        if (JXPSFWorkout_1_5* workout = root.createWorkout({QStringLiteral("Hills")}, {}, {}, {}, false)) {
            for (int count = 0; count < 2; ++count) {
                if (JXPSFInterval_1_5* interval = root.createWorkoutInterval(workout))
                    requireInside(interval, image, imageEnd);
            }
        }
        break;
    case 1: root.deleteAllRoutes(); break;
    case 2: root.deleteAllRoutes(0); break;
    case 3: root.deleteAllRoutes(1); break;
    default: root.deleteAllWorkouts(); break;
    }
    guard.expect({FlashHeaderArea, "listing writes nothing, flushing only the flash header"});
    walkRoot(root, image, imageEnd);
    info.flushFlashHeader();
    // Letting the views go writes nothing that the operations could not.
    guard.release("letting the root go writes only the areas its operations may write");
}

void runFrames(char* image, const char* imageEnd, JXExtFlashInfo_2M& info, Layout layout, Guard& guard);

// Both layouts' images with their records, made once.
const QByteArray& pristineImage(Layout layout)
{
    static const QByteArray images[2] = {[] {
                                             QByteArray image = JXPSFTestImage::emptyImage(Layout::A);
                                             addTrack(image.data(), Layout::A);
                                             return image;
                                         }(),
                                         [] {
                                             QByteArray image = JXPSFTestImage::emptyImage(Layout::B);
                                             addTrack(image.data(), Layout::B);
                                             return image;
                                         }()};
    return images[layout == Layout::A ? 0 : 1];
}

// Per chunk of a layout's pristine image: whether all its bytes are erased (0xFF), as most of every table is.
const std::vector<char>& erasedChunks(Layout layout)
{
    static const auto chunksOf = [](Layout of) {
        const char* bytes = pristineImage(of).constData();
        std::vector<char> erased(ImageSize / kChunk);
        for (size_t chunk = 0; chunk < erased.size(); ++chunk)
            erased[chunk] = std::all_of(bytes + chunk * kChunk, bytes + (chunk + 1) * kChunk,
                                        [](char byte) { return byte == char(0xFF); });
        return erased;
    };
    static const std::vector<char> chunks[2] = {chunksOf(Layout::A), chunksOf(Layout::B)};
    return chunks[layout == Layout::A ? 0 : 1];
}


// One layout's image, its guard and what the last input that used it left there.
struct Slot
{
    explicit Slot(Layout of) : layout(of), guard(store.bytes(), of) {}

    const Layout layout;
    JXMemoryPSFStore store;
    Guard guard;
    bool laidOut = false;
    int touched = 0;
    Range input{0, 0};
};

// Copies back the chunks of range that differ from the pristine image. The library erases whole tables, which the
// pristine image holds erased but for their first records: most chunks are only read, against 0xFF.
JX_NO_COVERAGE void restoreRange(Slot& slot, const Range& range)
{
    char* image = slot.store.bytes();
    const char* pristine = pristineImage(slot.layout).constData();
    const std::vector<char>& erased = erasedChunks(slot.layout);
    unsigned int at = range.start;
    while (at < range.end) {
        const unsigned int chunkEnd = qMin(range.end, (at / kChunk + 1) * kChunk);
        const size_t length = chunkEnd - at;
        if (erased[at / kChunk] ? !allErased(image + at, length) : !sameBytes(image + at, pristine + at, length))
            slot.guard.write(at, pristine + at, length);
        at = chunkEnd;
    }
}

// Brings the slot's image to its layout's pristine image: every area an operation may have written and the bytes
// the last input put are restored; everything else was kept unchanged.
JX_NO_COVERAGE void restore(Slot& slot)
{
    if (!slot.laidOut) {
        slot.guard.write(0, pristineImage(slot.layout).constData(), size_t(JXMemoryPSFStore::ImageSize));
        slot.laidOut = true;
        return;
    }
    for (int index = 0; index < AreaBits; ++index) {
        if (slot.touched & (1 << index))
            restoreRange(slot, areaRange(slot.layout, index));
    }
    restoreRange(slot, slot.input);
    slot.touched = 0;
}

// The input over the restored image; the harness's one other write between phases.
JX_NO_COVERAGE void putInput(Slot& slot, const uint8_t* data, size_t length)
{
    slot.guard.write(slot.input.start, reinterpret_cast<const char*>(data), length);
}

void run(const uint8_t* data, size_t size)
{
    if (size < 1)
        return;
    const Layout layout = (data[0] & 0x80) ? Layout::B : Layout::A;
    const int area = (data[0] & 0x7F) % kAreas;

    static Slot perLayout[2] = {Slot(Layout::A), Slot(Layout::B)};
    Slot& slot = perLayout[layout == Layout::A ? 0 : 1];
    JXMemoryPSFStore& store = slot.store;
    Guard& guard = slot.guard;

    JXExtFlashInfo_2M info(&store);
    store.setFlashInfo(&info);
    info.initialFlashDef(reinterpret_cast<const unsigned char*>(layout == Layout::A ? "1510" : "1500"));

    char* image = store.bytes();
    const char* imageEnd = image + JXMemoryPSFStore::ImageSize;
    unsigned int start = 0;
    unsigned int end = 0;
    areaOf(area, layout, start, end);
    const size_t length = qMin<size_t>(size - 1, end - start);

    // The pristine image with the input over it.
    restore(slot);
    slot.input = Range{start, start + unsigned(length)};
    putInput(slot, data + 1, length);
    guard.begin();
    runFrames(image, imageEnd, info, layout, guard);
    guard.finish();
    slot.touched = guard.touched();

    // The root goes through the image as the input left it, after the frames' own run.
    restore(slot);
    putInput(slot, data + 1, length);
    guard.begin();
    runRoot(store, info, data[size - 1] % kRootActions, guard);
    guard.finish();
    slot.touched = guard.touched();
}

// Leaves its last step open: the caller ends it once the frames' views are gone.
void runFrames(char* image, const char* imageEnd, JXExtFlashInfo_2M& info, Layout layout, Guard& guard)
{
    guard.expect({POIArea, "loading POIs and a new one write only the POI area"});
    JXPSFDistHeader_1_5 distHeader(image + kDistHeader);
    const auto areaOfBit = [layout](int bit) { return areaRange(layout, __builtin_ctz(unsigned(bit))); };
    char* poiStart = frameAt(image, distHeader.getPOIMHR(), 28, areaOfBit(POIArea));
    char* routeStart = frameAt(image, distHeader.getRouteMHR(), 24, areaOfBit(RouteArea));
    char* trackStart = frameAt(image, distHeader.getTrackDataMHR(), 24, areaOfBit(TrackArea));
    char* sensorStart = frameAt(image, distHeader.getSensorLogMHR(), 24, areaOfBit(SensorLogArea));
    char* userInfoStart = frameAt(image, distHeader.getUserInfoLogMHR(), 4, areaOfBit(UserInfoArea));

    if (poiStart) {
        JXPSFPOIFrame_1_5 pois(poiStart, &info, imageEnd);
        for (JXPSFPOI_1_5* poi : qAsConst(pois.getPOIs())) {
            requireInside(poi, image, imageEnd);
            poi->getName(QString());
        }
        if (JXPSFPOI_1_5* poi = pois.createPOI())
            requireInside(poi, image, imageEnd);
    }
    if (!routeStart || !trackStart || !sensorStart || !userInfoStart)
        return;

    guard.expect({RouteArea | LapArea, "loading routes and packing their laps write only the route and lap tables"});
    JXPSFRouteFrame_1_5 routes(routeStart, &info, imageEnd);
    JXPSFTrackFrame_1_5 tracks(trackStart, &info, imageEnd);
    JXPSFSensorLogFrame_1_5 logs(sensorStart, &info, imageEnd);
    JXPSFUserInfoLogFrame_1_5 userInfo(userInfoStart, &info, imageEnd);

    for (JXPSFRoute_1_5* route : qAsConst(routes.getRoutes())) {
        requireInside(route, image, imageEnd);
        route->getName(QString());
        for (JXPSFLap_1_5* lap : qAsConst(route->getLaps()))
            requireInside(lap, image, imageEnd);
        if (route->getSummary())
            requireInside(route->getSummary(), image, imageEnd);
        tracks.loadTrackSegs(route);
        logs.loadSensorLogOfRoute(route);
        userInfo.loadUserInfoLog(route);
        for (JXPSFTrackSeg_1_5* segment : qAsConst(route->getTrack())) {
            requireInside(segment, image, imageEnd);
            JXPSFTrackPointIter points = segment->getPointIterator();
            while (points.next())
                points.getLatlng();
        }
        for (JXPSFSensorLog_1_5* log : qAsConst(route->getSensorLog())) {
            requireInside(log, image, imageEnd);
            JXPSFSsrLogPointIter samples = log->getPointIterator();
            while (samples.next()) {
                samples.getTemperature();
                samples.getBRM();
            }
        }
        if (JXPSFUserInfoLog_1_5* snapshot = route->getUserInfoLog()) {
            requireInside(snapshot, image, imageEnd);
            for (JXPSFTZone_1_5* zone : qAsConst(snapshot->getZones()))
                zone->getZoneH(zone->getZoneNum());
        }
    }
    routes.rearrangeLapTable();
    guard.expect({TrackArea | SensorLogArea, "packing the sensor logs writes only the segment list and their table"});
    QVector<JXPSFRoute_1_5*> all = routes.getRoutes();
    logs.rearrangeSensorLogTable(all);

    for (unsigned char type : {0, 1}) {
        guard.expect({FlashHeaderArea | RouteArea | LapArea, "deleting routes writes only the route and lap tables"});
        routes.deleteAllRoutes(type, &info);
        guard.expect({FlashHeaderArea | RouteArea | TrackArea,
                      "packing the segments writes only the routes and the list"});
        QVector<JXPSFRoute_1_5*> remaining = routes.getRoutes();
        for (JXPSFRoute_1_5* route : qAsConst(remaining)) {
            requireInside(route, image, imageEnd);
            require(route->getRouteType() != type, "no route of the deleted type is left");
        }
        tracks.rearrangeTrackTable(remaining, &info);
        for (JXPSFRoute_1_5* route : qAsConst(remaining)) {
            for (JXPSFTrackSeg_1_5* segment : qAsConst(route->getTrack()))
                requireInside(segment, image, imageEnd);
        }
    }

    guard.expect({FlashHeaderArea | RouteArea, "a new route stays in the route table"});
    if (JXPSFRoute_1_5* route = routes.createRoute({QStringLiteral("Ride")}, {}, false, &info))
        requireInside(route, image, imageEnd);
    guard.expect({FlashHeaderArea | TrackArea, "a new point stays in the segment list"});
    if (tracks.getSegList().size() >= JXPSFTrackSeg_1_5::HeadSize) {
        JXPSFTrackSeg_1_5 segment(tracks.getSegList().begin(), true, tracks.getSegList().end());
        if (JXPSFTrackPoint_1_5* point = segment.createTrackPoint(&info))
            requireInside(point, image, imageEnd);
    }
    // Letting the views go writes nothing that the operations could not.
    guard.release("letting the frames go writes only the areas their operations may write");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    JXFuzz::silenceMessages();
    // A damaged table makes a warning per record, each worked out only to be dropped; that took most of the time.
    QLoggingCategory::setFilterRules(QStringLiteral("default.warning=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    run(data, size);
    return 0;
}
