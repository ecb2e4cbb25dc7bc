// libFuzzer target for the import of shared files into a first-generation data store: the input is read as a GPX
// file (fromGPX) and as a training-course file (TrnFromGPX) into the root of an empty image, which is then trimmed
// and written back, as the device drivers do before they write the flash.
//
// Checks: every imported segment keeps steps its point records can hold and no more points than a segment head
// counts, so nothing wraps; no route is bigger than the track area; and the written image reads back with the
// routes, points, POIs and workouts that the trimmed root held.

#include "psf/gen1/jxpsf.h"
#include "psf/gen1/jxpsfpoiframe.h"
#include "psf/gen1/jxpsfrouteframe.h"
#include "psf/gen1/jxpsftrackframe.h"
#include "psf/gen1/jxpsfworkoutframe.h"

#include <QCoreApplication>
#include <QtEndian>

#include <cstdint>
#include <memory>

#include "fuzzsupport.h"

using JXFuzz::require;

namespace {

// A compact image: the frames of the 1 MB model's store, moved together, with areas for 32 routes and a track
// area of 16 KiB (about 2,700 points), so that each input costs little and the trims bite; the image stays below
// the size that the sanitizer's allocator maps afresh for each copy. The route frame has no
// lap table (its offset is erased): the import and the write-back never touch laps, and reading 2048 lap records
// for each of the two stores an input makes took half the run.
const int kImageSize = 0x19C00;
const int kFlashHeaderSize = 256;
// Each frame is read from its offset to the image's end, so the workout-log frame, which the import leaves alone,
// comes after the track area rather than before it.
const quint32 kPOIFrame = 0x154, kWorkoutFrame = 0x800, kRouteFrame = 0x4000, kTrackFrame = 0x15800,
              kWorkoutLogFrame = 0x19840, kSensorLogFrame = 0x19900;
const quint32 kFrames[] = {kPOIFrame,        kRouteFrame, kWorkoutFrame,
                           kWorkoutLogFrame, kTrackFrame, kSensorLogFrame}; // distribution-header order
const quint32 kIntervalTable = 0x1300;
const quint32 kRouteTable = 0x88;
const quint32 kNoTable = 0xFFFFFFFF;

// One file serves as the GPX file and as the training course.
QString s_input;
QByteArray s_empty;

void put32(QByteArray& image, int offset, quint32 value)
{
    qToLittleEndian<quint32>(value, image.data() + offset);
}

flash_header_def definition()
{
    flash_header_def def = {};
    // The write-back keeps to these areas, so they follow the frames above (image byte 0 at flash 0x6000).
    const unsigned int words[46] = {
        0x6000,  0x6154,  0x6154,  0x6170,  0x6800,  0x690,   0x6800,  0x6810,  0x7B00,  0x1268,  0xA000,  0xA088,
        0xB408,  0x1380,  0xB408,  0x1B408, 0x10000, 0x7B00,  0x9B00,  0x2000,  0x1F840, 0x1F850, 0x1B800, 0xB0,
        0x1B800, 0x1B824, 0x1F824, 0,       0x4000,  0,       0x1F900, 0x1F918, 0x1FC00, 0x2E8,   0,       0,
        0,       0,       0xF2000, 0xF2018, 0xF8000, 0x5FE8,  0x6000,  0,       0,       0};
    for (int i = 0; i < 46; ++i)
        def.words[i] = words[i];
    return def;
}

// An erased image with the distribution header and every frame empty.
QByteArray emptyImage()
{
    QByteArray image(kImageSize, char(0xFF));
    for (int i = 0; i < 6; ++i)
        put32(image, 48 + 12 + 20 * i, kFrames[i]);
    put32(image, kPOIFrame, 0);
    put32(image, kPOIFrame + 4, 0x1C);
    put32(image, kRouteFrame, kRouteTable);
    put32(image, kRouteFrame + 4, kNoTable);
    qToLittleEndian<quint16>(0, image.data() + kRouteFrame + 8);
    put32(image, kWorkoutFrame, 0x10);
    put32(image, kWorkoutFrame + 4, kIntervalTable);
    image[kWorkoutFrame + 8] = 0;
    put32(image, kWorkoutLogFrame, 0x10);
    put32(image, kTrackFrame, 0x24);
    put32(image, kSensorLogFrame, 0x18);
    return image;
}

std::unique_ptr<JXPSF> read(QByteArray& image, void* flashHeader)
{
    return std::unique_ptr<JXPSF>(
        JXPSFReader::getPSF(&image, flashHeader, definition(), QStringLiteral("1.4.x.x"), JXPSFReader::AllLists));
}

// The route points of every route, in order: what the write-back must carry over.
QVector<int> pointCounts(JXPSF* root)
{
    QVector<int> counts;
    for (const QPointer<JXPSFRoute>& route : *root->getRouteFrame()->getRoutes()) {
        int points = 0;
        for (const QPointer<JXPSFTrack>& segment : route->getTracks())
            points += segment->getRoutePoints()->size();
        counts.append(points);
    }
    return counts;
}

void checkImported(JXPSF* root, const flash_header_def& def)
{
    for (const QPointer<JXPSFRoute>& route : *root->getRouteFrame()->getRoutes()) {
        require(!route->getTrackFlag(), "an imported route is a recorded track");
        qint64 size = 0;
        for (const QPointer<JXPSFTrack>& segment : route->getTracks()) {
            const QVector<QPointer<JXPSFRoutePoint>>& points = *segment->getRoutePoints();
            require(!points.isEmpty() && points.size() <= 0xFFFD, "a segment with a point count that reads back wrong");
            require(segment->getPointCount() == unsigned(points.size()), "a segment counts other points than it has");
            // A delta that the 16-bit or 8-bit fields wrapped would not lead to the end position.
            qint64 lat = segment->getStartLat();
            qint64 lng = segment->getStartLng();
            for (const QPointer<JXPSFRoutePoint>& point : points) {
                lat += point->getLatDelta();
                lng += point->getLngDelta();
            }
            require(lat == segment->getEndLat() && lng == segment->getEndLng(), "a position step wrapped");
            require(segment->getStartAlt() >= 0 && segment->getEndAlt() >= 0, "an altitude outside its field");
            size += segment->writtenSize(false);
        }
        require(size <= def.words[flash_header_def::TrackTableSize], "a route bigger than the track area");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    JXFuzz::silenceMessages();
    s_input = JXFuzz::scratchRoot("psf1import") + QLatin1String("/input.gpx");
    s_empty = emptyImage();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), int(size));
    require(JXFuzz::writeFile(s_input, input), "cannot write the input");

    QByteArray image = s_empty;
    QByteArray flashHeader(kFlashHeaderSize, char(0xA5));
    std::unique_ptr<JXPSF> root = read(image, flashHeader.data());
    require(root != nullptr, "the empty image was refused");
    root->fromGPX(s_input);
    root->TrnFromGPX(s_input);
    const flash_header_def def = definition();
    checkImported(root.get(), def);

    root->removeOverSizePois();
    root->removeOverSizeRoutes();
    root->removeOverWorkouts();
    require(root->finalize(image), "finalize failed");
    require(image.size() == kImageSize, "the write-back changed the image size");

    std::unique_ptr<JXPSF> again = read(image, nullptr);
    require(again->getPOIFrame()->POICount() == root->getPOIFrame()->POICount(), "POIs lost in the write-back");
    require(pointCounts(again.get()) == pointCounts(root.get()), "routes or points lost in the write-back");
    require(again->getWorkoutFrame()->getWorkouts()->size() == root->getWorkoutFrame()->getWorkouts()->size(),
            "workouts lost in the write-back");
    return 0;
}
