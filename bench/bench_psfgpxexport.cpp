// One recorded second-generation track of 200,000 points exported to a GPX file, against a baseline that writes the
// same points with QXmlStreamWriter alone, both in the same run:
//   export:   JXPSFDevice's converters (track with its route, sensor log, laps, summary, metadata) over a table-A
//             image on the simulated device, handed to a GHGpx2 document and written by GHGpxWriter "2.0";
//   baseline: the same 100,000 track points (lat, lon, ele, time) and 100,000 sensor samples (time, heart rate,
//             cadence, speed, temperature), decoded before the clock starts, written as trkpt and logpt elements with
//             QXmlStreamWriter (UTF-8, indented by 2 as the data model's writers set it), the numbers formatted as the
//             export formats them.
// A 2 MB flash holds about 107,000 six-byte points, so the 200,000 points are 100,000 track points in two segments
// and one sensor sample for each. The image's pages are read once before the first timed run.
// Prints the median of RUNS runs per side, the ratio (goal <= 2) and each side's peak heap above its start
// (every malloc of the process counted by its usable size).
//
//   bench_psfgpxexport [RUNS]

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QXmlStreamWriter>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "benchsupport.h"
#include "device/psfdevice/jxpsfdevice.h"
#include "jxenv.h"
#include "jxpsftrackimage.h"
#include "jxsimulatedflashbed.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "psf/gen2/jxpsf_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsfsensorlog_1_5.h"
#include "psf/gen2/jxpsftrackpoint_1_5.h"
#include "psf/gen2/jxpsftrackseg_1_5.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"
#include "training/ghtrncrs.h"
#include "util/ghgpx2.h"
#include "util/ghgpxextlaps.h"
#include "util/ghgpxextsensorlog.h"
#include "util/ghgpxextworkoutlog.h"
#include "util/ghgpxmetadata.h"
#include "util/ghgpxroute.h"
#include "util/ghgpxtrack.h"
#include "util/ghgpxwriter.h"
#include "util/ghtimetext.h"

// Heap in use and its peak, by the allocator's usable size of every block.
namespace {
std::atomic<long long> g_inUse{0};
std::atomic<long long> g_peak{0};

void grew(void* block)
{
    if (!block)
        return;
    const long long size = static_cast<long long>(malloc_usable_size(block));
    const long long now = g_inUse.fetch_add(size) + size;
    long long peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
}

void shrank(void* block)
{
    if (block)
        g_inUse.fetch_sub(static_cast<long long>(malloc_usable_size(block)));
}
} // namespace

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);

void* malloc(size_t size)
{
    void* block = __libc_malloc(size);
    grew(block);
    return block;
}

void* calloc(size_t count, size_t size)
{
    void* block = __libc_calloc(count, size);
    grew(block);
    return block;
}

void* realloc(void* old, size_t size)
{
    shrank(old);
    void* block = __libc_realloc(old, size);
    grew(block);
    return block;
}

void free(void* block)
{
    shrank(block);
    __libc_free(block);
}
}

namespace {

using namespace JXPSFTrackImage;

const int kSegments = 2;
const int kPointsPerSegment = 50000;
const quint32 kStart = 1400000000;

class BenchClient : public JXPSFDevice
{
public:
    JXPSFRoute_1_5* track()
    {
        QVector<JXPSFRoute_1_5*> tracks;
        if (!m_psf || !m_psf->getRoutes(1, tracks) || tracks.isEmpty())
            return nullptr;
        return tracks.first();
    }
    JXPSF_1_5* store() { return m_psf.get(); }
};

// Two segments of class-0 points and a sensor log of speed, cadence, heart rate and temperature beside each.
QByteArray trackImage()
{
    Track track;
    track.name = "Long ride";
    track.start = kStart;
    track.actType = 2;
    quint32 time = kStart;
    for (int index = 0; index < kSegments; ++index) {
        Segment segment;
        segment.time = time;
        segment.startLat = 22500000 + index * 100000;
        segment.startLon = 120500000;
        segment.startAlt = 4400;
        segment.points.reserve(kPointsPerSegment);
        for (int k = 0; k < kPointsPerSegment; ++k)
            segment.points.append(point(qint8((k % 7) - 3), qint16(30 + k % 11), qint16(-20 + k % 13), 1));
        segment.hasLog = true;
        segment.log.start = time;
        segment.log.flags = 0x17;
        segment.log.count = kPointsPerSegment;
        QByteArray samples(kPointsPerSegment * 5, Qt::Uninitialized);
        for (int k = 0; k < kPointsPerSegment; ++k) {
            char* sample = samples.data() + k * 5;
            sample[0] = char(60 + k % 40);
            sample[1] = char(70 + k % 30);
            sample[2] = char(120 + k % 50);
            qToLittleEndian<qint16>(qint16(150 + k % 100), sample + 3);
        }
        segment.log.samples = samples;
        track.segments.append(segment);
        time += kPointsPerSegment + 60;
    }
    Lap lap;
    lap.start = kStart;
    lap.end = time;
    lap.distance = 80000;
    lap.avgSpeed = 80;
    track.laps = {lap};
    track.hasSummary = true;
    track.summary = lap;
    track.hasUserInfo = true;
    track.userInfo.weight = 7000;
    Builder builder;
    builder.addTrack(track);
    return builder.image();
}

// What the baseline writes, decoded from the store before the clock starts.
struct Points
{
    std::vector<GHLatLng> positions;
    std::vector<double> altitudes;
    std::vector<unsigned int> times;
    std::vector<unsigned int> sampleTimes;
    std::vector<int> heartRates, cadences;
    std::vector<double> speeds, temperatures;
};

Points decode(JXPSF_1_5* store, JXPSFRoute_1_5* track)
{
    Points points;
    QVector<JXPSFTrackSeg_1_5*> segments;
    store->getTrackOfRoute(track, segments);
    for (JXPSFTrackSeg_1_5* segment : segments) {
        JXPSFTrackPointIter iter = segment->getPointIterator();
        while (iter.next()) {
            points.positions.push_back(iter.getLatlng());
            points.altitudes.push_back(iter.getAlt());
            points.times.push_back(iter.getTime());
        }
    }
    QVector<JXPSFSensorLog_1_5*> logs;
    store->getSensorLogOfRoute(track, logs);
    for (JXPSFSensorLog_1_5* log : logs) {
        JXPSFSsrLogPointIter iter = log->getPointIterator();
        while (iter.next()) {
            points.sampleTimes.push_back(iter.getTime());
            points.heartRates.push_back(iter.getBPM().getIntValue());
            points.cadences.push_back(iter.getRPM().getIntValue());
            points.speeds.push_back(iter.getSpeed().getValue());
            points.temperatures.push_back(iter.getTemperature().getValue());
        }
    }
    return points;
}

bool baseline(const Points& points, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QXmlStreamWriter writer(&file);
    // As the data model's writers set it up.
    writer.setCodec("UTF-8");
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(2);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("gpx"));
    writer.writeStartElement(QStringLiteral("trk"));
    writer.writeStartElement(QStringLiteral("trkseg"));
    for (size_t index = 0; index < points.times.size(); ++index) {
        writer.writeStartElement(QStringLiteral("trkpt"));
        writer.writeAttribute(QStringLiteral("lat"), QString::number(points.positions[index].getLatDL(), 'f', 6));
        writer.writeAttribute(QStringLiteral("lon"), QString::number(points.positions[index].getLngDL(), 'f', 6));
        writer.writeTextElement(QStringLiteral("ele"), QString::number(points.altitudes[index], 'f', 2));
        writer.writeTextElement(QStringLiteral("time"), tm_i2s(points.times[index]));
        writer.writeEndElement();
    }
    writer.writeEndElement();
    writer.writeEndElement();
    writer.writeStartElement(QStringLiteral("extensions"));
    writer.writeStartElement(QStringLiteral("ssrlog"));
    writer.writeStartElement(QStringLiteral("logseg"));
    for (size_t index = 0; index < points.sampleTimes.size(); ++index) {
        writer.writeStartElement(QStringLiteral("logpt"));
        writer.writeAttribute(QStringLiteral("time"), tm_i2s(points.sampleTimes[index]));
        writer.writeTextElement(QStringLiteral("hrm"), QString::number(points.heartRates[index]));
        writer.writeTextElement(QStringLiteral("cad"), QString::number(points.cadences[index]));
        writer.writeTextElement(QStringLiteral("spd"), QString::number(points.speeds[index], 'f', 2));
        writer.writeTextElement(QStringLiteral("tmp"), QString::number(points.temperatures[index], 'f', 1));
        writer.writeEndElement();
    }
    writer.writeEndDocument();
    return !writer.hasError() && file.flush();
}

// The document as the track export makes it.
bool exportTrack(BenchClient& client, JXPSFRoute_1_5* track, const QString& path)
{
    GHGpx2 gpx;
    auto* route = new GHGpxRoute;
    gpx.track = client.toGpxTrack(track, route);
    gpx.sensorLog = client.toGpxSsrLog(track);
    gpx.workoutLog = client.toGpxWorkoutLog(track);
    if (GHTrnWorkout* plan = client.toGpxWorkoutPlan(track)) {
        gpx.workoutPlan = new GHTrncrs;
        gpx.workoutPlan->workouts.append(plan);
    }
    gpx.laps = new GHGpxExtLaps;
    gpx.laps->summary = client.toGpxSummary(track);
    for (GHGpxExtLap* lap : client.toGpxLaps(track))
        gpx.laps->addLap(lap);
    gpx.metadata = client.toGpxMeta(track);
    route->name = track->getName(QString());
    gpx.route = route;
    return GHGpxWriter(QStringLiteral("2.0"), &gpx).writeFile(path);
}

struct Run
{
    double ms;
    long long peak;
};

template <typename Work> Run measure(Work work)
{
    const long long start = g_inUse.load();
    g_peak.store(start);
    QElapsedTimer timer;
    timer.start();
    if (!work()) {
        std::fprintf(stderr, "a run failed\n");
        std::exit(1);
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    return {ms, g_peak.load() - start};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietHandler);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;

    JXSimulatedFlashBed bed;
    if (!bed.setUp(QString(), 0, JXSimulatedFlashBed::NoClock))
        return 1;
    JXSimulatedFlashDevice& flash = *bed.flash();
    flash.setExternalFlash(trackImage());

    int result = 0;
    {
        auto* service =
            JXSimulatedFlashBed::service(QStringLiteral("1004"), QStringLiteral("Zelto40"), QStringLiteral("MIRDO"));
        BenchClient client;
        client.setDeviceService(service);
        if (!client.initial()) {
            std::fprintf(stderr, "the client did not start\n");
            return 1;
        }
        JXPSFRoute_1_5* track = client.track();
        const QString exported = bed.folder()->path() + QStringLiteral("/export.gpx");
        const QString written = bed.folder()->path() + QStringLiteral("/baseline.gpx");
        // Reads the frames' pages once, so that both sides time only their own work.
        if (!track || !exportTrack(client, track, exported)) {
            std::fprintf(stderr, "the warm-up export failed\n");
            return 1;
        }
        const Points points = decode(client.store(), track);
        std::printf("points: %zu track + %zu sensor = %zu\n", points.times.size(), points.sampleTimes.size(),
                    points.times.size() + points.sampleTimes.size());

        std::vector<double> exportMs, baselineMs;
        long long exportPeak = 0, baselinePeak = 0;
        for (int run = 0; run < runs; ++run) {
            const Run base = measure([&] { return baseline(points, written); });
            const Run full = measure([&] { return exportTrack(client, track, exported); });
            baselineMs.push_back(base.ms);
            exportMs.push_back(full.ms);
            baselinePeak = std::max(baselinePeak, base.peak);
            exportPeak = std::max(exportPeak, full.peak);
        }
        const double exportMedian = median(exportMs);
        const double baselineMedian = median(baselineMs);
        const double ratio = exportMedian / baselineMedian;
        std::printf("export   (converters + GHGpxWriter): %8.1f ms median of %d, file %lld bytes, peak heap %.0f KB\n",
                    exportMedian, runs, QFileInfo(exported).size(), exportPeak / 1024.0);
        std::printf("baseline (QXmlStreamWriter alone):   %8.1f ms median of %d, file %lld bytes, peak heap %.0f KB\n",
                    baselineMedian, runs, QFileInfo(written).size(), baselinePeak / 1024.0);
        std::printf("ratio %.2f (goal <= 2.0): %s\n", ratio, ratio <= 2.0 ? "met" : "NOT met");
        result = ratio <= 2.0 ? 0 : 2;
    }
    bed.reset();
    return result;
}
