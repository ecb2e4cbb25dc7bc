// libFuzzer target for the first-generation data store: the input is the image as read from a device's flash. It
// is parsed into a root, every frame is walked, the three trims run and the root is written back into a copy.
//
// The 48-byte head of the image is not part of the store, so its first bytes choose the sizes of the route, track,
// workout and interval areas, letting the fuzzer make the trims bite. Checks: no record is read past the image, so
// the counts stay within what the bytes can hold; the trims keep to their areas; the write-back neither grows the
// image, nor changes a byte outside the areas of the definition, nor touches the flash header outside its eleven
// fields; and the written image reads again, with every record when the write-back reports success.

#include "psf/gen1/jxpsf.h"
#include "psf/gen1/jxpsfdistheader.h"
#include "psf/gen1/jxpsfpoiframe.h"
#include "psf/gen1/jxpsfrouteframe.h"
#include "psf/gen1/jxpsfsensorlogframe.h"
#include "psf/gen1/jxpsftrackframe.h"
#include "psf/gen1/jxpsfworkoutframe.h"

#include <QCoreApplication>
#include <QtEndian>

#include <cstdint>
#include <memory>

#include "fuzzsupport.h"

using JXFuzz::require;

namespace {

using Def = flash_header_def;

const int kFlashHeaderSize = 256;
const int kWrittenFields[][2] = {{0x42, 2}, {0x48, 4}, {0x4C, 4}, {0x50, 4}, {0x54, 4}, {0x58, 4},
                                 {0x60, 4}, {0x70, 4}, {0x78, 4}, {0x88, 4}, {0x90, 4}};

// A small layout around the seeds' frames (POI 0xC0, route 0x200, track 0x400, sensor log 0x500, workout 0x580 with
// its intervals from 0x6C0, workout log 0x700), as flash addresses from 0x6000. The first eight bytes of the image
// choose the sizes of the route, track, workout and interval tables, each kept within its group so that no two
// areas overlap.
flash_header_def definition(const QByteArray& image)
{
    const unsigned int base = 0x6000;
    const unsigned int layout[][2] = {
        {Def::HeaderAreaEnd, 0},
        {Def::DistHeaderEnd, 0xC0},
        {Def::POIAreaStart, 0xC0},
        {Def::POITableStart, 0xDC},
        {Def::POIAreaEnd, 0x200},
        {Def::POITableSize, 0x124},
        {Def::WorkoutAreaStart, 0x580},
        {Def::WorkoutTableStart, 0x590},
        {Def::WorkoutAreaEnd, 0x6C0},
        {Def::WorkoutTableSize, 0x130},
        {Def::RouteAreaStart, 0x200},
        {Def::RouteTableStart, 0x218},
        {Def::RouteAreaEnd, 0x400},
        {Def::RouteTableSize, 0x1E8},
        {Def::LapAreaStart, 0x1000},
        {Def::LapAreaEnd, 0x11000},
        {Def::LapAreaSize, 0x10000},
        {Def::IntervalAreaStart, 0x6C0},
        {Def::IntervalAreaEnd, 0x700},
        {Def::IntervalAreaSize, 0x40},
        {Def::WorkoutLogAreaStart, 0x700},
        {Def::WorkoutLogTableStart, 0x704},
        {Def::WorkoutLogAreaEnd, 0x800},
        {Def::WorkoutLogTableSize, 0xFC},
        {Def::TrackAreaStart, 0x400},
        {Def::TrackTableStart, 0x404},
        {Def::TrackAreaEnd, 0x500},
        {Def::TrackTableSize, 0xFC},
        {Def::SensorLogAreaStart, 0x500},
        {Def::SensorLogTableStart, 0x504},
        {Def::SensorLogAreaEnd, 0x580},
        {Def::SensorLogTableSize, 0x7C},
        {Def::ImageAddress, 0},
    };
    flash_header_def def = {};
    for (const auto& entry : layout) {
        const unsigned int word = entry[0];
        const bool size = word == Def::POITableSize || word == Def::WorkoutTableSize || word == Def::RouteTableSize ||
                          word == Def::LapAreaSize || word == Def::IntervalAreaSize ||
                          word == Def::WorkoutLogTableSize || word == Def::TrackTableSize ||
                          word == Def::SensorLogTableSize;
        def.words[word] = size ? entry[1] : base + entry[1];
    }
    if (image.size() >= 8) {
        const int sizes[][2] = {
            {Def::RouteTableSize, 0}, {Def::TrackTableSize, 2}, {Def::WorkoutTableSize, 4}, {Def::IntervalAreaSize, 6}};
        for (const auto& entry : sizes)
            def.words[entry[0]] = qFromLittleEndian<quint16>(image.constData() + entry[1]) % (def.words[entry[0]] + 1);
    }
    return def;
}

// The image positions the write-back may change: the POI, workout and route groups, the interval area and the
// track table, from the definition's words less its image address.
bool insideAreas(const flash_header_def& def, qint64 pos)
{
    const int areas[][3] = {{Def::POIAreaStart, Def::POITableStart, Def::POITableSize},
                            {Def::WorkoutAreaStart, Def::WorkoutTableStart, Def::WorkoutTableSize},
                            {Def::RouteAreaStart, Def::RouteTableStart, Def::RouteTableSize},
                            {Def::IntervalAreaStart, Def::IntervalAreaStart, Def::IntervalAreaSize},
                            {Def::TrackTableStart, Def::TrackTableStart, Def::TrackTableSize}};
    const qint64 flash = pos + def.words[Def::ImageAddress];
    for (const auto& area : areas) {
        if (flash >= qint64(def.words[area[0]]) && flash < qint64(def.words[area[1]]) + def.words[area[2]])
            return true;
    }
    return false;
}

// Walks every record and its derived values; returns the number of records.
qint64 walk(JXPSF* root, qint64 imageSize)
{
    qint64 records = 0;
    const int pois = root->getPOIFrame()->POICount();
    require(pois <= imageSize / JXPSFPOI::RecordSize, "more POIs than the image holds");
    records += pois;

    JXPSFRouteFrame* routeFrame = root->getRouteFrame();
    require(routeFrame->getRoutes()->size() <= imageSize / JXPSFRoute::RecordSize, "more routes than the image holds");
    require(routeFrame->getLaps()->size() <= JXPSFLap::TableEntries, "more laps than the table");
    for (const QPointer<JXPSFRoute>& route : *routeFrame->getRoutes()) {
        ++records;
        route->getSummary(routeFrame);
        JXPSFRoute::getEndTime(route);
        JXPSFRoute::getDistance(route);
        unsigned int a = 0, b = 0, c = 0, d = 0;
        JXPSFRoute::getStartEndPoint(route, a, b, c, d);
        for (const QPointer<JXPSFTrack>& segment : route->getTracks()) {
            records += 1 + segment->getTrackPoints()->size() + segment->getRoutePoints()->size();
            for (const QPointer<JXPSFSensorLog>& log : segment->getSensorLogs())
                records += 1 + log->getPoints().size();
        }
    }
    for (const QPointer<JXPSFWorkout>& workout : *root->getWorkoutFrame()->getWorkouts()) {
        records += 1 + workout->getIntervals()->size();
        for (const QPointer<JXPSFWorkoutLog>& log : *workout->getWorkoutLogs())
            records += 1 + log->getIntervalLogs().size();
    }
    // Every record but a sample without channels takes at least one byte of its list, and each list is read once.
    require(records <= 4 * imageSize + 4096, "more records than the bytes can hold");
    return records;
}

void checkTrims(JXPSF* root, const flash_header_def& def)
{
    require(root->getPOIFrame()->POICount() <= 10, "POIs over the limit");
    const QVector<QPointer<JXPSFRoute>>& routes = *root->getRouteFrame()->getRoutes();
    require(unsigned(routes.size()) <= def.words[Def::RouteTableSize] / JXPSFRoute::RecordSize,
            "routes over their area");
    qint64 track = 0;
    for (const QPointer<JXPSFRoute>& route : routes) {
        for (const QPointer<JXPSFTrack>& segment : route->getTracks())
            track += segment->writtenSize(route->getTrackFlag());
    }
    require(track <= def.words[Def::TrackTableSize], "tracks over their area");
    const QVector<QPointer<JXPSFWorkout>>& workouts = *root->getWorkoutFrame()->getWorkouts();
    require(unsigned(workouts.size()) <= def.words[Def::WorkoutTableSize] / JXPSFWorkout::RecordSize,
            "workouts over their area");
    qint64 intervals = 0;
    for (const QPointer<JXPSFWorkout>& workout : workouts)
        intervals += workout->getIntervals()->size();
    require(intervals <= def.words[Def::IntervalAreaSize] / JXPSFInterval::RecordSize, "intervals over their area");
}

bool writtenField(int offset)
{
    for (const auto& field : kWrittenFields) {
        if (offset >= field[0] && offset < field[0] + field[1])
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    JXFuzz::silenceMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray image(reinterpret_cast<const char*>(data), int(size));
    const flash_header_def def = definition(image);
    QByteArray flashHeader(kFlashHeaderSize, char(0xA5));

    std::unique_ptr<JXPSF> root(
        JXPSFReader::getPSF(&image, flashHeader.data(), def, QStringLiteral("1.4.x.x"), JXPSFReader::AllLists));
    require(root != nullptr, "the version was refused");
    walk(root.get(), image.size());

    root->removeOverSizePois();
    root->removeOverSizeRoutes();
    root->removeOverWorkouts();
    checkTrims(root.get(), def);

    QByteArray copy = image;
    const bool written = root->finalize(copy);
    require(copy.size() == image.size(), "the write-back changed the image size");
    for (int pos = 0; pos < image.size(); ++pos) {
        if (copy.at(pos) != image.at(pos))
            require(insideAreas(def, pos), "the write-back changed a byte outside the areas of the definition");
    }
    for (int offset = 0; offset < kFlashHeaderSize; ++offset) {
        if (!writtenField(offset))
            require(flashHeader.at(offset) == char(0xA5), "the flash header was written outside its fields");
    }

    std::unique_ptr<JXPSF> again(
        JXPSFReader::getPSF(&copy, nullptr, def, QStringLiteral("1.4.x.x"), JXPSFReader::AllLists));
    walk(again.get(), copy.size());
    // The counts written are those of the records written: all of them when the write-back says so.
    if (written) {
        require(again->getPOIFrame()->POICount() == root->getPOIFrame()->POICount(), "POIs lost in the write-back");
        require(again->getRouteFrame()->getRoutes()->size() == root->getRouteFrame()->getRoutes()->size(),
                "routes lost in the write-back");
        require(again->getWorkoutFrame()->getWorkouts()->size() == root->getWorkoutFrame()->getWorkouts()->size(),
                "workouts lost in the write-back");
    }
    return 0;
}
