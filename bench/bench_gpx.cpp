// One side of the GPX and ride-log benchmark; bench/gpx.sh runs it against its baselines on the same points.
//
//   bench_gpx points CSV          the points as unicsv text: 200 000 of them, 20 segments of 10 000 in order
//   bench_gpx log CSV FOLDER RUNS the GPS-log writer (GHBinaryLogger::saveGpsData) of a document of those points,
//                                 against a plain converter doing the same text-to-record work (from_chars, the
//                                 same 20-byte records, fwrite) and a raw fwrite loop of ready records; all timed
//                                 in this process, taking turns, median of RUNS each
//   bench_gpx write CSV GPX       the GPX writer: reads the points into a GHGpx2 and writes it with GHGpxWriter
//   bench_gpx writers CSV FOLDER RUNS
//                                 GHGpxWriter against a plain writer of the same bytes (the same points as numbers,
//                                 std::to_chars, fwrite, flushed and renamed into place as the writer's file is);
//                                 the points are loaded before the clock starts; median of RUNS each
//   bench_gpx read GPX            the GPX reader: reads the file into a GHGpx2 and prints its track-point count
//   bench_gpx scan GPX            the read floor: a bare QXmlStreamReader loop over the file, counting track points

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
#include <QXmlStreamReader>
#include <QtEndian>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <unistd.h>

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

// A point as numbers, the plain writer's input.
struct Point
{
    double lat;
    double lon;
    double ele;
    qint64 time;
    int course;
};

std::vector<Point> numericPoints(const QString& path)
{
    std::vector<Point> points;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return points;
    file.readLine(); // the column names
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(',');
        if (fields.size() != 7)
            return {};
        const QDateTime time = QDateTime::fromString(QString::fromLatin1(fields[3] + ' ' + fields[4]),
                                                     QStringLiteral("yyyy/MM/dd HH:mm:ss"));
        points.push_back({fields[0].toDouble(), fields[1].toDouble(), fields[2].toDouble(),
                          QDateTime(time.date(), time.time(), Qt::UTC).toSecsSinceEpoch(), fields[6].toInt()});
    }
    return points;
}

// Days since 1970-01-01 of a civil date, and back (Howard Hinnant's algorithms).
void civilFromDays(qint64 days, int& year, int& month, int& day)
{
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = unsigned(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    day = int(dayOfYear - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(qint64(yearOfEra) + era * 400 + (month <= 2));
}

qint64 daysFromCivil(int year, int month, int day)
{
    year -= month <= 2;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = unsigned(year - era * 400);
    const unsigned dayOfYear = unsigned((153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1);
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + qint64(dayOfEra) - 719468;
}

char* twoDigits(char* out, int value)
{
    *out++ = char('0' + value / 10);
    *out++ = char('0' + value % 10);
    return out;
}

// Writes the bytes durably beside the path and renames them into place, as QSaveFile does for the writer's file.
bool commitFile(const QString& path, const std::vector<char>& bytes)
{
    const QByteArray name = QFile::encodeName(path);
    const QByteArray part = name + ".part";
    FILE* file = std::fopen(part.constData(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0 &&
              ::fsync(::fileno(file)) == 0;
    ok = std::fclose(file) == 0 && ok;
    return ok && std::rename(part.constData(), name.constData()) == 0;
}

// The bytes GHGpxWriter writes for these points, made with to_chars and appends.
bool plainGpx(const QString& path, const std::vector<Point>& points, const QByteArray& head)
{
    std::vector<char> out;
    out.reserve(points.size() * 160 + size_t(head.size()) + 64);
    const auto add = [&out](const char* text, size_t length) { out.insert(out.end(), text, text + length); };
    const auto addText = [&add](const char* text) { add(text, std::strlen(text)); };
    const auto fixed = [&out](double value, int digits) {
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, digits);
        out.insert(out.end(), buffer, result.ptr);
    };
    add(head.constData(), size_t(head.size()));
    addText("  <trk>\n");
    const size_t perSegment = points.size() / kSegments;
    for (size_t i = 0; i < points.size(); ++i) {
        const Point& point = points[i];
        if (i % perSegment == 0)
            addText("    <trkseg>\n");
        addText("      <trkpt lat=\"");
        fixed(point.lat, 6);
        addText("\" lon=\"");
        fixed(point.lon, 6);
        addText("\">\n        <ele>");
        fixed(point.ele, 1);
        addText("</ele>\n        <time>");
        int year, month, day;
        civilFromDays(point.time / 86400, year, month, day);
        const int seconds = int(point.time % 86400);
        char stamp[20];
        char* end = std::to_chars(stamp, stamp + 4, year).ptr;
        *end++ = '-';
        end = twoDigits(end, month);
        *end++ = '-';
        end = twoDigits(end, day);
        *end++ = 'T';
        end = twoDigits(end, seconds / 3600);
        *end++ = ':';
        end = twoDigits(end, seconds / 60 % 60);
        *end++ = ':';
        end = twoDigits(end, seconds % 60);
        *end++ = 'Z';
        add(stamp, size_t(end - stamp));
        addText("</time>\n        <magvar>");
        char course[12];
        add(course, size_t(std::to_chars(course, course + sizeof course, point.course).ptr - course));
        addText("</magvar>\n      </trkpt>\n");
        if ((i + 1) % perSegment == 0)
            addText("    </trkseg>\n");
    }
    addText("  </trk>\n  <extensions/>\n</gpx>\n");
    return commitFile(path, out);
}

// A number of a point's text, read as the log writer reads it: ASCII, from_chars, whole text.
template<typename T>
bool textNumber(const QString& text, T& value)
{
    char ascii[64];
    const int length = text.size();
    if (length == 0 || length > int(sizeof ascii))
        return false;
    const QChar* chars = text.constData();
    for (int i = 0; i < length; ++i)
        ascii[i] = char(chars[i].unicode());
    const auto result = std::from_chars(ascii, ascii + length, value);
    return result.ec == std::errc() && result.ptr == ascii + length;
}

int textDigits(const QChar* chars, int from, int count)
{
    int value = 0;
    for (int i = from; i < from + count; ++i)
        value = value * 10 + (chars[i].unicode() - '0');
    return value;
}

// The plain converter: the same text-to-record work as the log writer for these well-formed points (positions in
// single precision, altitude in decimetres, bearing, speed in metres per minute, the time's seconds), the records
// laid out big-endian as the log holds them, and written with fwrite after the given header.
bool convertRecords(const QString& path, const GHGpx2& gpx, const QByteArray& header)
{
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "w+b");
    if (!file)
        return false;
    bool written = std::fwrite(header.constData(), 1, size_t(header.size()), file) == size_t(header.size());
    uchar record[GHPSFRecord::SIZE];
    const QVector<GHGpxTrackSegment*>& segments = gpx.track->segments;
    for (int s = 0; written && s < segments.size(); ++s) {
        const QVector<GHGpxTrackPoint*>& points = segments[s]->points;
        for (const GHGpxTrackPoint* point : points) {
            float lat = 0, lon = 0, kmh = 0;
            double ele = 0, course = 0;
            if (!textNumber(point->lat, lat) || !textNumber(point->lon, lon) || !textNumber(point->ele, ele) ||
                !textNumber(point->speed, kmh) || !textNumber(point->magvar, course) || point->time.size() != 20)
                return std::fclose(file), false;
            const QChar* time = point->time.constData();
            const qint64 seconds =
                daysFromCivil(textDigits(time, 0, 4), textDigits(time, 5, 2), textDigits(time, 8, 2)) * 86400 +
                textDigits(time, 11, 2) * 3600 + textDigits(time, 14, 2) * 60 + textDigits(time, 17, 2);
            qToBigEndian<qint32>(qint32(lon * 1000000.0f), record + GHPSFRecord::LONGITUDE_OFFSET);
            qToBigEndian<qint32>(qint32(lat * 1000000.0f), record + GHPSFRecord::LATITUDE_OFFSET);
            qToBigEndian<qint16>(qint16(std::trunc(ele * 10)), record + GHPSFRecord::ALTITUDE_OFFSET);
            qToBigEndian<qint16>(qint16(std::trunc(course)), record + GHPSFRecord::BEARING_OFFSET);
            qToBigEndian<quint16>(quint16(std::trunc(kmh * 1000.0f / 60.0f)), record + GHPSFRecord::SPEED_OFFSET);
            qToBigEndian<qint16>(0, record + GHPSFRecord::TYPE_FLAG_OFFSET);
            qToBigEndian<quint32>(quint32(seconds), record + GHPSFRecord::TIME_OFFSET);
            written = written && std::fwrite(record, 1, sizeof record, file) == sizeof record;
        }
        // The segment's last point again, flagged, where another segment follows.
        if (s + 1 < segments.size()) {
            qToBigEndian<qint16>(GHPSFRecord::SEGMENT_REPEAT_FLAG, record + GHPSFRecord::TYPE_FLAG_OFFSET);
            written = written && std::fwrite(record, 1, sizeof record, file) == sizeof record;
        }
    }
    return std::fclose(file) == 0 && written;
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
    const QString converted = folder + QStringLiteral("/route-converted.gpx");
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

    const QByteArray header = records.left(GHPSFHeader::SIZE);

    std::vector<double> times[3];
    QElapsedTimer clock;
    for (int i = 0; i < runs; ++i) {
        for (int turn = 0; turn < 3; ++turn) {
            const int side = (turn + i) % 3;
            clock.start();
            const bool done = side == 0   ? GHBinaryLogger::saveGpsData(ours, *gpx)
                              : side == 1 ? convertRecords(converted, *gpx, header)
                                          : rawRecords(theirs, records);
            const double ms = clock.nsecsElapsed() / 1e6;
            if (!done)
                return 1;
            times[side].push_back(ms);
        }
    }
    for (const QString& path : {converted, theirs}) {
        QFile check(path);
        if (!check.open(QIODevice::ReadOnly) || check.readAll() != records) {
            std::fprintf(stderr, "%s differs from the log writer's file\n", qPrintable(path));
            return 1;
        }
    }
    std::printf("%.2f %.2f %.2f %ld\n", median(times[0]), median(times[1]), median(times[2]), peakKilobytes());
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

int benchWriters(const QString& csv, const QString& folder, int runs)
{
    const std::unique_ptr<GHGpx2> gpx = readPoints(csv);
    const std::vector<Point> points = numericPoints(csv);
    if (!gpx || points.size() != size_t(kPoints))
        return 1;
    const QString ours = folder + QStringLiteral("/writer-ours.gpx");
    const QString plain = folder + QStringLiteral("/writer-plain.gpx");
    GHGpxWriter writer(QStringLiteral("2.2.0.3"), gpx.get());
    if (!writer.writeFile(ours))
        return 1;
    QFile made(ours);
    if (!made.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray expected = made.readAll();
    const QByteArray head = expected.left(expected.indexOf("  <trk>"));

    std::vector<double> oursMs, plainMs;
    QElapsedTimer clock;
    for (int i = 0; i < runs; ++i) {
        for (int side = 0; side < 2; ++side) {
            const bool oursNow = (side == 0) == (i % 2 == 0);
            clock.start();
            const bool done = oursNow ? writer.writeFile(ours) : plainGpx(plain, points, head);
            const double ms = clock.nsecsElapsed() / 1e6;
            if (!done)
                return 1;
            (oursNow ? oursMs : plainMs).push_back(ms);
        }
    }
    QFile check(plain);
    if (!check.open(QIODevice::ReadOnly) || check.readAll() != expected) {
        std::fprintf(stderr, "the plain writer's bytes differ from GHGpxWriter's\n");
        return 1;
    }
    std::printf("%.2f %.2f\n", median(oursMs), median(plainMs));
    return 0;
}

// The floor of reading: Qt's tokenizer over the file and nothing else.
int benchScan(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    QXmlStreamReader reader(&file);
    int points = 0;
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == QLatin1String("trkpt"))
            ++points;
    }
    if (reader.hasError())
        return 1;
    std::printf("%d\n", points);
    return 0;
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
    if (mode == QLatin1String("writers") && args.size() == 5)
        return benchWriters(args[2], args[3], qMax(1, args[4].toInt()));
    if (mode == QLatin1String("read") && args.size() == 3)
        return benchRead(args[2]);
    if (mode == QLatin1String("scan") && args.size() == 3)
        return benchScan(args[2]);
    std::fprintf(stderr, "usage: bench_gpx points CSV | log CSV FOLDER RUNS | write CSV GPX | "
                         "writers CSV FOLDER RUNS | read GPX | scan GPX\n");
    return 2;
}
