// Reading a full first-generation data-store image into its root (JXPSFReader::getPSF), against two baselines run
// side by side in the same process: a memcpy of the image, and making the same number of bare QObjects, each held by
// a QPointer, which is the floor of a design with one QObject per record. Also: the same image with twice the
// segments (and points), which must cost at most 2.2 times as much (no copy per record), and the write-back
// (finalize) into a copy. Then the export and import of one ride of 10^5 points: trackToXML (with its sensor logs)
// against GHGpxWriter writing the same document alone, and fromGPX of a GPX file against GHGpxReader alone on that
// file. Prints the median of several runs, the ratios and the peak resident memory.
// Goals: getPSF within 1.5x of the QObject floor; twice the segments within 2.2x; trackToXML and fromGPX each within
// 1.3x of the writer or reader alone.
//
//   cmake -S . -B build-bench-psf1 -G Ninja -DCMAKE_BUILD_TYPE=Release -DJX_TESTS=OFF
//   cmake --build build-bench-psf1 --target bench_psf1 && build-bench-psf1/bench/bench_psf1

#include "psf/gen1/jxpsf.h"
#include "psf/gen1/jxpsfpoiframe.h"
#include "psf/gen1/jxpsfrouteframe.h"
#include "psf/gen1/jxpsfsensorlogframe.h"
#include "psf/gen1/jxpsftrackframe.h"
#include "psf/gen1/jxpsfworkoutframe.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QVector>
#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "benchsupport.h"
#include "util/ghgpx2.h"
#include "util/ghgpxextlogpoint.h"
#include "util/ghgpxextsensorlog.h"
#include "util/ghgpxmetadata.h"
#include "util/ghgpxreader.h"
#include "util/ghgpxroute.h"
#include "util/ghgpxtrack.h"
#include "util/ghgpxwriter.h"

namespace {

const int kRuns = 9;
const int kRoutes = 213;
const int kPointsPerSegment = 394;
const int kSamplesPerLog = 394;

// Frame offsets, from image byte 0, as the 1 MB model lays them out; the track and sensor-log lists grow with the
// data so that the doubled image fits.
const quint32 kPOIFrame = 0x154, kWorkoutFrame = 0xD00, kRouteFrame = 0x1F78, kWorkoutLogFrame = 0x1D000,
              kTrackFrame = 0x24000;

// Out of line: inlined, GCC takes the image for Qt's empty shared array and warns about the writes.
Q_NEVER_INLINE void put32(QByteArray& image, qint64 offset, quint32 value)
{
    qToLittleEndian<quint32>(value, image.data() + offset);
}

Q_NEVER_INLINE void put16(QByteArray& image, qint64 offset, quint16 value)
{
    qToLittleEndian<quint16>(value, image.data() + offset);
}

// 213 recorded rides of segmentsPerRoute segments of 394 points, each segment with one sensor log of 394 samples
// (speed, cadence, heart rate), plus ten POIs.
QByteArray fullImage(int segmentsPerRoute)
{
    const qint64 segmentBytes = 40 + 6 * kPointsPerSegment;
    const qint64 logBytes = 16 + 3 * kSamplesPerLog;
    const qint64 segments = qint64(kRoutes) * segmentsPerRoute;
    const quint32 sensorLogFrame = quint32(kTrackFrame + 4 + segments * segmentBytes + 16);
    const qint64 size = sensorLogFrame + 4 + segments * logBytes + 16;
    QByteArray image(int(size), char(0xFF));

    const quint32 frames[] = {kPOIFrame, kRouteFrame, kWorkoutFrame, kWorkoutLogFrame, kTrackFrame, sensorLogFrame};
    for (int i = 0; i < 6; ++i)
        put32(image, 48 + 12 + 20 * i, frames[i]);

    put32(image, kPOIFrame, 10);
    put32(image, kPOIFrame + 4, 28);
    for (int i = 0; i < 10; ++i) {
        const qint64 at = kPOIFrame + 28 + 148 * i;
        put32(image, at, quint32(121000000 + i));
        put32(image, at + 4, quint32(25000000 + i));
        image[int(at + 10)] = 0;
        memcpy(image.data() + at + 12, "Point", 5);
    }
    put32(image, kWorkoutFrame, 16);
    put32(image, kWorkoutFrame + 4, 0x1A300);
    image[int(kWorkoutFrame + 8)] = 0;
    put32(image, kWorkoutLogFrame, 16);

    const quint32 routeTable = 0x88;
    const quint32 lapTable = 0x9088;
    put32(image, kRouteFrame, routeTable);
    put32(image, kRouteFrame + 4, lapTable);
    put16(image, kRouteFrame + 8, kRoutes);
    put32(image, kTrackFrame, 4);
    put32(image, sensorLogFrame, 4);

    qint64 segment = 0;
    for (int r = 0; r < kRoutes; ++r) {
        const qint64 record = kRouteFrame + routeTable + 156 * r;
        put32(image, record, quint32(1500000000 + r * 7200));
        memset(image.data() + record + 4, 0, 128);
        memcpy(image.data() + record + 4, "Ride", 4);
        image[int(record + 132)] = 0x01;
        image[int(record + 133)] = 0x01;
        put32(image, record + 136, quint32(segment * segmentBytes));
        for (int s = 0; s < segmentsPerRoute; ++s, ++segment) {
            const qint64 head = kTrackFrame + 4 + segment * segmentBytes;
            put32(image, head, quint32(1500000000 + r * 7200 + s * 600));
            put32(image, head + 4, quint32(121000000 + r * 1000));
            put32(image, head + 8, quint32(25000000 + r * 1000));
            image[int(head + 24)] = 0;
            image[int(head + 25)] = 1;
            put32(image, head + 28, s + 1 < segmentsPerRoute ? quint32((segment + 1) * segmentBytes) : 0xFFFFFFFFu);
            put32(image, head + 32, kPointsPerSegment);
            put32(image, head + 36, quint32(segment * logBytes));
            for (int p = 0; p < kPointsPerSegment; ++p) {
                const qint64 point = head + 40 + 6 * p;
                put16(image, point, quint16(3 + p % 5));
                put16(image, point + 2, quint16(-2 - p % 3));
                image[int(point + 4)] = char(p % 3 - 1);
                image[int(point + 5)] = 1;
            }
            const qint64 log = sensorLogFrame + 4 + segment * logBytes;
            put32(image, log, quint32(1500000000 + r * 7200 + s * 600));
            put32(image, log + 4, 0xFFFFFFFFu);
            image[int(log + 8)] = 1;
            image[int(log + 9)] = 0x07;
            put16(image, log + 10, kSamplesPerLog);
            for (int k = 0; k < kSamplesPerLog; ++k) {
                image[int(log + 16 + 3 * k)] = char(40 + k % 20);
                image[int(log + 17 + 3 * k)] = char(80 + k % 10);
                image[int(log + 18 + 3 * k)] = char(120 + k % 30);
            }
        }
    }
    return image;
}

// The 1 MB model's layout, with the track and sensor-log areas where the image at hand has its lists: the bench's
// images are larger than a device's, and the reader and the write-back keep to the definition's areas.
flash_header_def definition(const QByteArray& image)
{
    using Def = flash_header_def;
    flash_header_def def = {};
    const unsigned int words[46] = {
        0x6000,  0x7000,  0x6154,  0x6170,  0x6D00,  0xB90,   0x6D00,  0x6D10,  0x7F78,  0x1268,  0x7F78,  0x8000,
        0x101CC, 0x81CC,  0x11000, 0x21000, 0x10000, 0x21000, 0x23000, 0x2000,  0x23000, 0x23010, 0x2A000, 0x6FF0,
        0x2A000, 0x2A024, 0xA8000, 0,       0x7DFDC, 0,       0xA8000, 0xA8018, 0xF5000, 0x4CFE8, 0,       0,
        0,       0,       0xF2000, 0xF2018, 0xF8000, 0x5FE8,  0x6000,  0,       0,       0};
    for (int i = 0; i < 46; ++i)
        def.words[i] = words[i];
    const unsigned int base = def.words[Def::ImageAddress];
    const unsigned int sensorLogFrame = qFromLittleEndian<quint32>(image.constData() + 48 + 12 + 20 * 5);
    // Each list starts 4 bytes into its frame and runs to the next frame, the sensor logs to the image's end.
    def.words[Def::TrackTableStart] = base + kTrackFrame + 4;
    def.words[Def::TrackAreaEnd] = base + sensorLogFrame;
    def.words[Def::TrackTableSize] = sensorLogFrame - kTrackFrame - 4;
    def.words[Def::SensorLogAreaStart] = base + sensorLogFrame;
    def.words[Def::SensorLogTableStart] = base + sensorLogFrame + 4;
    def.words[Def::SensorLogAreaEnd] = base + unsigned(image.size());
    def.words[Def::SensorLogTableSize] = unsigned(image.size()) - sensorLogFrame - 4;
    return def;
}

JXPSF* read(QByteArray& image, void* flashHeader)
{
    return JXPSFReader::getPSF(&image, flashHeader, definition(image), QStringLiteral("1.4.x.x"),
                               JXPSFReader::AllLists);
}

// The QObjects a root is made of.
qint64 objectCount(JXPSF* root)
{
    qint64 objects = 1 + 1 + 6 + 6 + 3; // root, header, its records, frames, frame heads
    objects += root->getPOIFrame()->POICount();
    objects += root->getRouteFrame()->getLaps()->size();
    for (const QPointer<JXPSFRoute>& route : *root->getRouteFrame()->getRoutes()) {
        ++objects;
        for (const QPointer<JXPSFTrack>& segment : route->getTracks()) {
            objects += 1 + segment->getTrackPoints()->size() + segment->getRoutePoints()->size();
            for (const QPointer<JXPSFSensorLog>& log : segment->getSensorLogs())
                objects += 1 + log->getPoints().size();
        }
    }
    return objects;
}

double medianMs(const std::function<void()>& work)
{
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

struct Paired
{
    double subjectMs;
    double baselineMs;
    double ratio;
};

// Runs subject and baseline in turn, so that a busy machine slows both alike: the medians of each, and the median of
// the ratios of the pairs.
Paired pairedMedians(const std::function<void()>& subject, const std::function<void()>& baseline)
{
    std::vector<double> subjects, baselines, ratios;
    const auto time = [](const std::function<void()>& work) {
        const auto start = std::chrono::steady_clock::now();
        work();
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    for (int run = 0; run < kRuns; ++run) {
        subjects.push_back(time(subject));
        baselines.push_back(time(baseline));
        ratios.push_back(subjects.back() / baselines.back());
    }
    for (std::vector<double>* values : {&subjects, &baselines, &ratios})
        std::sort(values->begin(), values->end());
    return {subjects[kRuns / 2], baselines[kRuns / 2], ratios[kRuns / 2]};
}

long peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// One ride of 10^5 points: two segments of 50,000 points (a segment head counts at most 0xFFFD), each with two
// sensor logs of 25,000 samples (speed, cadence, heart rate; a log counts at most 32,767).
const int kRideSegments = 2;
const int kRidePoints = 50000;
const int kRideLogs = 2;
const int kRideSamples = 25000;

QByteArray rideImage()
{
    const qint64 segmentBytes = 40 + 6 * kRidePoints;
    const qint64 logBytes = 16 + 3 * kRideSamples;
    const quint32 sensorLogFrame = quint32(kTrackFrame + 4 + kRideSegments * segmentBytes + 16);
    QByteArray image(int(sensorLogFrame + 4 + kRideSegments * kRideLogs * logBytes + 16), char(0xFF));
    const quint32 frames[] = {kPOIFrame, kRouteFrame, kWorkoutFrame, kWorkoutLogFrame, kTrackFrame, sensorLogFrame};
    for (int i = 0; i < 6; ++i)
        put32(image, 48 + 12 + 20 * i, frames[i]);
    put32(image, kPOIFrame, 0);
    put32(image, kPOIFrame + 4, 28);
    put32(image, kWorkoutFrame, 16);
    put32(image, kWorkoutFrame + 4, 0x1A300);
    image[int(kWorkoutFrame + 8)] = 0;
    put32(image, kWorkoutLogFrame, 16);
    put32(image, kRouteFrame, 0x88);
    put32(image, kRouteFrame + 4, 0x9088);
    put16(image, kRouteFrame + 8, 1);
    put32(image, kTrackFrame, 4);
    put32(image, sensorLogFrame, 4);

    const qint64 record = kRouteFrame + 0x88;
    put32(image, record, 1500000000);
    memset(image.data() + record + 4, 0, 128);
    memcpy(image.data() + record + 4, "Ride", 4);
    image[int(record + 132)] = 0x01;
    image[int(record + 133)] = 0x01;
    put32(image, record + 136, 0);
    for (int s = 0; s < kRideSegments; ++s) {
        const qint64 head = kTrackFrame + 4 + s * segmentBytes;
        put32(image, head, quint32(1500000000 + s * kRidePoints));
        put32(image, head + 4, quint32(121000000));
        put32(image, head + 8, quint32(25000000 + s * 1000));
        put16(image, head + 20, 4400);
        image[int(head + 24)] = 0;
        image[int(head + 25)] = 1;
        put32(image, head + 28, s + 1 < kRideSegments ? quint32((s + 1) * segmentBytes) : 0xFFFFFFFFu);
        put32(image, head + 32, kRidePoints);
        put32(image, head + 36, quint32(s * kRideLogs * logBytes));
        for (int p = 0; p < kRidePoints; ++p) {
            const qint64 point = head + 40 + 6 * p;
            put16(image, point, quint16(3 + p % 5));
            put16(image, point + 2, quint16(-2 - p % 3));
            image[int(point + 4)] = char(p % 3 - 1);
            image[int(point + 5)] = 1;
        }
        for (int l = 0; l < kRideLogs; ++l) {
            const qint64 index = qint64(s) * kRideLogs + l;
            const qint64 log = sensorLogFrame + 4 + index * logBytes;
            put32(image, log, quint32(1500000000 + s * kRidePoints + l * kRideSamples));
            put32(image, log + 4, l + 1 < kRideLogs ? quint32((index + 1) * logBytes) : 0xFFFFFFFFu);
            image[int(log + 8)] = 1;
            image[int(log + 9)] = 0x07;
            put16(image, log + 10, kRideSamples);
            for (int k = 0; k < kRideSamples; ++k) {
                image[int(log + 16 + 3 * k)] = char(40 + k % 20);
                image[int(log + 17 + 3 * k)] = char(80 + k % 10);
                image[int(log + 18 + 3 * k)] = char(120 + k % 30);
            }
        }
    }
    return image;
}

// The document trackToXML makes of rideImage, built directly: the writer's share of the export.
GHGpx2* rideDocument()
{
    auto* gpx = new GHGpx2;
    gpx->metadata = new GHGpxMetadata;
    gpx->metadata->name = QStringLiteral("Ride");
    gpx->metadata->authorName = QStringLiteral("Vexmor");
    gpx->metadata->sharetype = QStringLiteral("2");
    gpx->metadata->acttype = QStringLiteral("1");
    gpx->metadata->user.weight = QStringLiteral("65.00");
    gpx->route = new GHGpxRoute;
    gpx->track = new GHGpxTrack;
    gpx->sensorLog = new GHGpxExtSensorLog;
    for (int s = 0; s < kRideSegments; ++s) {
        auto* segment = new GHGpxTrackSegment;
        int lat = 25000000 + s * 1000;
        int lng = 121000000;
        int altitude = 0;
        unsigned int time = unsigned(1500000000 + s * kRidePoints);
        gpx->route->addRoutePoint(new GHGpxRoutePoint);
        for (int p = -1; p < kRidePoints; ++p) {
            if (p >= 0) {
                lng += 3 + p % 5;
                lat += -2 - p % 3;
                altitude += p % 3 - 1;
                ++time;
            }
            auto* point = new GHGpxTrackPoint;
            point->lat = JXPSFField::coordinateFromPSF(lat);
            point->lon = JXPSFField::coordinateFromPSF(lng);
            point->ele = JXPSFField::altFromPSF(altitude, 4400, true);
            point->time = JXPSFField::timeFromPSF(time);
            segment->addTrackPoint(point);
        }
        gpx->track->addTrackSegment(segment);
        for (int l = 0; l < kRideLogs; ++l) {
            auto* log = new GHGpxExtLogSegment;
            for (int k = 0; k < kRideSamples; ++k) {
                auto* sample = new GHGpxExtLogPoint;
                sample->time = JXPSFField::timeFromPSF(unsigned(1500000000 + s * kRidePoints + l * kRideSamples + k));
                sample->spd = JXPSFField::speedFromPSF(40 + k % 20);
                sample->cad = QString::number((80 + k % 10) * 60 * 0.015625, 'f', 2);
                sample->hrm = QString::number(120 + k % 30);
                log->addLogPoint(sample);
            }
            gpx->sensorLog->addLogSegment(log);
        }
    }
    return gpx;
}

// An erased image of the 1 MB layout with empty frames, whose track area takes a ride of 10^5 points.
QByteArray emptyImage()
{
    QByteArray image(0xFA000, char(0xFF));
    const quint32 frames[] = {kPOIFrame, kRouteFrame, kWorkoutFrame, kWorkoutLogFrame, kTrackFrame, 0xA2000};
    for (int i = 0; i < 6; ++i)
        put32(image, 48 + 12 + 20 * i, frames[i]);
    put32(image, kPOIFrame, 0);
    put32(image, kPOIFrame + 4, 28);
    put32(image, kRouteFrame, 0x88);
    put32(image, kRouteFrame + 4, 0x9088);
    put16(image, kRouteFrame + 8, 0);
    put32(image, kWorkoutFrame, 16);
    put32(image, kWorkoutFrame + 4, 0x1A300);
    image[int(kWorkoutFrame + 8)] = 0;
    put32(image, kWorkoutLogFrame, 16);
    put32(image, kTrackFrame, 0x24);
    put32(image, 0xA2000, 0x18);
    return image;
}

// A shared route of 10^5 points in two segments, small steps, as a GPX file of our dialect.
QByteArray routeGpx()
{
    GHGpx2 gpx;
    gpx.metadata = new GHGpxMetadata;
    gpx.metadata->name = QStringLiteral("Shared");
    gpx.metadata->sharetype = QStringLiteral("2");
    gpx.route = new GHGpxRoute;
    gpx.track = new GHGpxTrack;
    for (int s = 0; s < kRideSegments; ++s) {
        auto* outline = new GHGpxRoutePoint;
        outline->lat = QStringLiteral("25.000000");
        outline->lon = QStringLiteral("121.000000");
        gpx.route->addRoutePoint(outline);
        auto* segment = new GHGpxTrackSegment;
        for (int p = 0; p < kRidePoints; ++p) {
            auto* point = new GHGpxTrackPoint;
            point->lat = QString::number(25.0 + s * 0.01 + p * 0.00001, 'f', 6);
            point->lon = QString::number(121.0 + p * 0.00002, 'f', 6);
            point->ele = QString::number(100.0 + (p % 40) * 0.25, 'f', 2);
            segment->addTrackPoint(point);
        }
        gpx.track->addTrackSegment(segment);
    }
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("route.gpx"));
    GHGpxWriter(QStringLiteral("2.0"), &gpx).writeFile(path);
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    qInstallMessageHandler(quietHandler);

    QByteArray image = fullImage(1);
    QByteArray doubled = fullImage(2);
    QByteArray flashHeader(256, char(0xFF));

    std::unique_ptr<JXPSF> sample(read(image, flashHeader.data()));
    const qint64 objects = objectCount(sample.get());
    qint64 points = 0;
    for (const QPointer<JXPSFRoute>& route : *sample->getRouteFrame()->getRoutes()) {
        for (const QPointer<JXPSFTrack>& segment : route->getTracks())
            points += segment->getTrackPoints()->size();
    }
    std::printf("image: %d bytes, %d routes, %lld points, %lld objects\n", image.size(),
                sample->getRouteFrame()->getRoutes()->size(), points, objects);
    sample.reset();

    std::vector<char> target(size_t(image.size()));
    volatile char sink = 0;
    const double copyMs = medianMs([&] {
        memcpy(target.data(), image.constData(), target.size());
        sink = target[size_t(target.size() / 2)];
    });
    Q_UNUSED(sink);
    const double objectsMs = medianMs([&] {
        std::vector<QPointer<QObject>> held;
        held.reserve(size_t(objects));
        for (qint64 i = 0; i < objects; ++i)
            held.emplace_back(new QObject);
        for (const QPointer<QObject>& object : held)
            delete object.data();
    });
    // Made and deleted, as the QObject floor is.
    const double readMs = medianMs([&] { std::unique_ptr<JXPSF> root(read(image, flashHeader.data())); });
    const double doubledMs = medianMs([&] { std::unique_ptr<JXPSF> root(read(doubled, flashHeader.data())); });
    std::unique_ptr<JXPSF> root(read(image, flashHeader.data()));
    const double finalizeMs = medianMs([&] {
        QByteArray copy = image;
        root->finalize(copy);
    });

    std::printf("memcpy of the image          %9.3f ms\n", copyMs);
    std::printf("bare QObjects with QPointer  %9.3f ms\n", objectsMs);
    std::printf("getPSF                       %9.3f ms  (%.2fx the QObjects, %.0fx memcpy; goal <= 1.5x)\n", readMs,
                readMs / objectsMs, readMs / copyMs);
    std::printf("getPSF, twice the segments   %9.3f ms  (%.2fx; goal <= 2.2x)\n", doubledMs, doubledMs / readMs);
    std::printf("finalize into a copy         %9.3f ms\n", finalizeMs);

    // Export and import of one ride of 10^5 points, into and from files in a folder of their own.
    QTemporaryDir folder;
    const QString startFolder = QDir::currentPath();
    QDir::setCurrent(folder.path());
    QByteArray ride = rideImage();
    std::unique_ptr<JXPSF> rideRoot(read(ride, flashHeader.data()));
    rideRoot->setDontCheckUploaded(true);
    std::unique_ptr<GHGpx2> document(rideDocument());
    const Paired exported = pairedMedians(
        [&] {
            for (const QString& file : rideRoot->trackToXML())
                QFile::remove(file);
        },
        [&] {
            GHGpxWriter(QStringLiteral("2.0"), document.get()).writeFile(QStringLiteral("Ride0.gpx"));
            QFile::remove(QStringLiteral("Ride0.gpx"));
        });
    document.reset();

    writeFile(QStringLiteral("route.gpx"), routeGpx());
    QByteArray empty = emptyImage();
    flash_header_def largeTrackArea = definition(empty);
    largeTrackArea.words[flash_header_def::TrackTableSize] = 0x100000;
    std::unique_ptr<JXPSF> importRoot(
        JXPSFReader::getPSF(&empty, nullptr, largeTrackArea, QStringLiteral("1.4.x.x"), JXPSFReader::AllLists));
    bool accepted = true;
    const Paired imported = pairedMedians(
        [&] {
            accepted = importRoot->fromGPX(QStringLiteral("route.gpx")) && accepted;
            importRoot->deleteRoutes({0});
        },
        [&] {
            GHGpx2 gpx;
            GHGpxReader(&gpx).readFile(QStringLiteral("route.gpx"));
        });
    QDir::setCurrent(startFolder);

    std::printf("trackToXML, 10^5 points      %9.3f ms  (%.2fx the writer alone, median of pairs; goal <= 1.3x)\n",
                exported.subjectMs, exported.ratio);
    std::printf("GHGpxWriter alone            %9.3f ms\n", exported.baselineMs);
    std::printf("fromGPX, 10^5 points         %9.3f ms  (%.2fx the reader alone, median of pairs; goal <= 1.3x)%s\n",
                imported.subjectMs, imported.ratio, accepted ? "" : "  IMPORT FAILED");
    std::printf("GHGpxReader alone            %9.3f ms\n", imported.baselineMs);
    std::printf("peak resident memory         %9ld KiB\n", peakKiB());
    return 0;
}
