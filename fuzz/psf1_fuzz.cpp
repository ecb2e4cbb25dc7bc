// libFuzzer target for the first-generation data store: the input is the image as read from a device's flash. It
// is parsed into a root, every frame is walked, the three trims run and the root is written back into a copy.
//
// The 48-byte head of the image is not part of the store, so its first bytes choose the sizes of the route, track,
// workout and interval areas, letting the fuzzer make the trims bite. Checks: no record is read past the image, so
// the counts stay within what the bytes can hold; the trims keep to their areas; the write-back neither grows the
// image nor touches the flash header outside its eleven fields; and the written image reads again.

#include "psf/jxpsf.h"
#include "psf/jxpsfdistheader.h"
#include "psf/jxpsfpoiframe.h"
#include "psf/jxpsfrouteframe.h"
#include "psf/jxpsfsensorlogframe.h"
#include "psf/jxpsftrackframe.h"
#include "psf/jxpsfworkoutframe.h"

#include <QCoreApplication>
#include <QtEndian>

#include <cstdint>
#include <memory>

#include "fuzzsupport.h"

using JXFuzz::require;

namespace {

const int kFlashHeaderSize = 256;
const int kWrittenFields[][2] = {{0x42, 2}, {0x48, 4}, {0x4C, 4}, {0x50, 4}, {0x54, 4}, {0x58, 4},
                                 {0x60, 4}, {0x70, 4}, {0x78, 4}, {0x88, 4}, {0x90, 4}};

flash_header_def definition(const QByteArray& image)
{
    flash_header_def def = {};
    const unsigned int words[46] = {
        0x6000,  0x7000,  0x6154,  0x6170,  0x6D00,  0xB90,   0x6D00,  0x6D10,  0x7F78,  0x1268,  0x7F78,  0x8000,
        0x101CC, 0x81CC,  0x11000, 0x21000, 0x10000, 0x21000, 0x23000, 0x2000,  0x23000, 0x23010, 0x2A000, 0x6FF0,
        0x2A000, 0x2A024, 0xA8000, 0,       0x7DFDC, 0,       0xA8000, 0xA8018, 0xF5000, 0x4CFE8, 0,       0,
        0,       0,       0xF2000, 0xF2018, 0xF8000, 0x5FE8,  0x6000,  0,       0,       0};
    for (int i = 0; i < 46; ++i)
        def.words[i] = words[i];
    if (image.size() >= 8) {
        def.words[13] = qFromLittleEndian<quint16>(image.constData());
        def.words[28] = qFromLittleEndian<quint16>(image.constData() + 2);
        def.words[9] = qFromLittleEndian<quint16>(image.constData() + 4);
        def.words[19] = qFromLittleEndian<quint16>(image.constData() + 6);
    }
    return def;
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
    require(unsigned(routes.size()) <= def.words[13] / JXPSFRoute::RecordSize, "routes over their area");
    qint64 track = 0;
    for (const QPointer<JXPSFRoute>& route : routes) {
        for (const QPointer<JXPSFTrack>& segment : route->getTracks())
            track += segment->writtenSize(route->getTrackFlag());
    }
    require(track <= def.words[28], "tracks over their area");
    const QVector<QPointer<JXPSFWorkout>>& workouts = *root->getWorkoutFrame()->getWorkouts();
    require(unsigned(workouts.size()) <= def.words[9] / JXPSFWorkout::RecordSize, "workouts over their area");
    qint64 intervals = 0;
    for (const QPointer<JXPSFWorkout>& workout : workouts)
        intervals += workout->getIntervals()->size();
    require(intervals <= def.words[19] / JXPSFInterval::RecordSize, "intervals over their area");
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
    require(root->finalize(copy), "finalize failed");
    require(copy.size() == image.size(), "the write-back changed the image size");
    for (int offset = 0; offset < kFlashHeaderSize; ++offset) {
        if (!writtenField(offset))
            require(flashHeader.at(offset) == char(0xA5), "the flash header was written outside its fields");
    }

    std::unique_ptr<JXPSF> again(
        JXPSFReader::getPSF(&copy, nullptr, def, QStringLiteral("1.4.x.x"), JXPSFReader::AllLists));
    walk(again.get(), copy.size());
    return 0;
}
