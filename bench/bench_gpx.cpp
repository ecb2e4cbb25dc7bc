// One side of the GPX and ride-log benchmark; bench/gpx.sh runs it against its baselines on the same points.
//
//   bench_gpx points CSV          the points as unicsv text: 200 000 of them, 20 segments of 10 000 in order
//   bench_gpx log CSV FOLDER RUNS the GPS-log writer (GHBinaryLogger::saveGpsData) of a document of those points,
//                                 against a raw fwrite loop of the same 20-byte records; both timed in this process,
//                                 taking turns, median of RUNS each
//   bench_gpx write CSV GPX       the GPX writer: reads the points into a GHGpx2 and writes it with GHGpxWriter
//   bench_gpx read GPX            the GPX reader: reads the file into a GHGpx2 and prints its track-point count

#include "util/ghbinarylogger.h"
#include "util/ghgpx2.h"
#include "util/ghgpxreader.h"
#include "util/ghgpxtrack.h"
#include "util/ghgpxwriter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "benchsupport.h"

namespace {

const int kPoints = 200000;
const int kSegments = 20;
const quint32 kStartTime = 1700000000;
const char kCsvHeader[] = "Latitude,Longitude,Altitude,Date,Time,Speed,Course";

// A ride: a slow random walk around a town, one point a second, with hills and changing speed.
bool writePoints(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray text = QByteArray(kCsvHeader) + '\n';
    text.reserve(kPoints * 64);
    quint32 state = 20240229u;
    const auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    double lat = 47.376887, lon = 8.541694;
    for (int i = 0; i < kPoints; ++i) {
        lat += (int(next() >> 20) - 2048) * 1e-7;
        lon += (int(next() >> 20) - 2048) * 1e-7;
        const double ele = 420 + 80 * std::sin(i / 900.0) + (next() >> 28) * 0.1;
        const double kmh = 18 + 12 * std::sin(i / 300.0) + (next() >> 28) * 0.05;
        const int course = int(next() % 360);
        const QDateTime time = QDateTime::fromSecsSinceEpoch(kStartTime + quint32(i), Qt::UTC);
        text += QByteArray::number(lat, 'f', 6) + ',' + QByteArray::number(lon, 'f', 6) + ',' +
                QByteArray::number(ele, 'f', 1) + ',' + time.toString(QStringLiteral("yyyy/MM/dd")).toLatin1() + ',' +
                time.toString(QStringLiteral("HH:mm:ss")).toLatin1() + ',' + QByteArray::number(kmh, 'f', 2) + ',' +
                QByteArray::number(course) + '\n';
    }
    return file.write(text) == text.size();
}

// The points of the text as a GHGpx2 track, kPoints / kSegments to a segment, fields as a device's GPX gives them.
std::unique_ptr<GHGpx2> readPoints(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    std::unique_ptr<GHGpx2> gpx(new GHGpx2);
    gpx->track = new GHGpxTrack;
    file.readLine(); // the column names
    const int perSegment = kPoints / kSegments;
    int count = 0;
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(',');
        if (fields.size() != 7)
            return nullptr;
        if (count % perSegment == 0)
            gpx->track->addTrackSegment(new GHGpxTrackSegment);
        auto* point = new GHGpxTrackPoint;
        point->lat = QString::fromLatin1(fields[0]);
        point->lon = QString::fromLatin1(fields[1]);
        point->ele = QString::fromLatin1(fields[2]);
        point->time = QString::fromLatin1(fields[3]).replace(QLatin1Char('/'), QLatin1Char('-')) +
                      QLatin1Char('T') + QString::fromLatin1(fields[4]) + QLatin1Char('Z');
        point->speed = QString::fromLatin1(fields[5]);
        point->magvar = QString::fromLatin1(fields[6]);
        gpx->track->addTrackPoint(point);
        ++count;
    }
    return count == kPoints ? std::move(gpx) : nullptr;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The same records as the writer's file, one fwrite each, then closed: no conversion, no header patch.
bool rawRecords(const QString& path, const QByteArray& records)
{
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "w+b");
    if (!file)
        return false;
    bool written = std::fwrite(records.constData(), 1, GHPSFHeader::SIZE, file) == size_t(GHPSFHeader::SIZE);
    for (int offset = GHPSFHeader::SIZE; written && offset < records.size(); offset += GHPSFRecord::SIZE)
        written = std::fwrite(records.constData() + offset, 1, GHPSFRecord::SIZE, file) == size_t(GHPSFRecord::SIZE);
    return std::fclose(file) == 0 && written;
}

long peakKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

int benchLog(const QString& csv, const QString& folder, int runs)
{
    const std::unique_ptr<GHGpx2> gpx = readPoints(csv);
    if (!gpx)
        return 1;
    const QString ours = folder + QStringLiteral("/route-log.gpx");
    const QString theirs = folder + QStringLiteral("/route-raw.gpx");
    if (!GHBinaryLogger::saveGpsData(ours, *gpx))
        return 1;
    QFile made(ours);
    if (!made.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray records = made.readAll();
    made.close();
    // 200 000 points and one repeat for each of the 19 segments that another follows.
    if (records.size() != GHPSFHeader::SIZE + (kPoints + kSegments - 1) * GHPSFRecord::SIZE)
        return 1;

    std::vector<double> oursMs, theirsMs;
    QElapsedTimer clock;
    for (int i = 0; i < runs; ++i) {
        for (int side = 0; side < 2; ++side) {
            const bool oursNow = (side == 0) == (i % 2 == 0);
            clock.start();
            const bool done = oursNow ? GHBinaryLogger::saveGpsData(ours, *gpx) : rawRecords(theirs, records);
            const double ms = clock.nsecsElapsed() / 1e6;
            if (!done)
                return 1;
            (oursNow ? oursMs : theirsMs).push_back(ms);
        }
    }
    QFile check(theirs);
    if (!check.open(QIODevice::ReadOnly) || check.readAll() != records)
        return 1;
    std::printf("%.2f %.2f %ld\n", median(oursMs), median(theirsMs), peakKilobytes());
    return 0;
}

int benchWrite(const QString& csv, const QString& path)
{
    std::unique_ptr<GHGpx2> gpx = readPoints(csv);
    if (!gpx)
        return 1;
    GHGpxWriter writer(QStringLiteral("2.2.0.3"), gpx.get());
    return writer.writeFile(path) ? 0 : 1;
}

int benchRead(const QString& path)
{
    GHGpx2 gpx;
    GHGpxReader reader(&gpx);
    if (!reader.readFile(path) || !gpx.track)
        return 1;
    int points = 0;
    for (const GHGpxTrackSegment* segment : qAsConst(gpx.track->segments))
        points += segment->points.size();
    std::printf("%d\n", points);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietHandler);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("points") && args.size() == 3)
        return writePoints(args[2]) ? 0 : 1;
    if (mode == QLatin1String("log") && args.size() == 5)
        return benchLog(args[2], args[3], qMax(1, args[4].toInt()));
    if (mode == QLatin1String("write") && args.size() == 4)
        return benchWrite(args[2], args[3]);
    if (mode == QLatin1String("read") && args.size() == 3)
        return benchRead(args[2]);
    std::fprintf(stderr, "usage: bench_gpx points CSV | log CSV FOLDER RUNS | write CSV GPX | read GPX\n");
    return 2;
}
