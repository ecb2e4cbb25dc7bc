// One side of the stored-ride benchmark; bench/rides.sh runs it against its baselines.
//
//   bench_rides read FOLDER RUNS SQL  GHTrackDP::readData of a ride of 1 000 000 GPS and 1 000 000 sensor records,
//                                     against a plain fread-and-decode loop into the same record vectors; both timed
//                                     in this process, taking turns, median of RUNS each
//   bench_rides readonce FOLDER       one readData of that ride (for its peak memory)
//   bench_rides record FOLDER RUNS    GHTraceLog recording 100 000 locations and 100 000 sensor records, against raw
//                                     fwrite of the same records with fflush every 10 records
//   bench_rides list FOLDER RUNS SQL  GHDeviceDB::getTraceLogList over 5000 rides with the log-file check, against
//                                     the same statements through the SQLite C API and one stat per GPS log
//   bench_rides ride FOLDER CSV       writes a 200 000-point ride with its row, and the same points as unicsv text
//   bench_rides export FOLDER         GHTraceLog::gpsTrackToGpx of that ride; prints the GPX path

#include "location/ghlivelocation.h"
#include "search/ghdevicedb.h"
#include "util/ghpsfheader.h"
#include "util/ghpsfrecord.h"
#include "util/ghpsfsensorrecord.h"
#include "util/ghtimetext.h"
#include "util/ghtracelog.h"
#include "util/ghtrackdp.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "benchsupport.h"

namespace {

const quint32 kReadRide = 1000;
const int kReadRecords = 1000000;
const int kRecordRecords = 100000;
const int kListRides = 5000;
const quint32 kListFirstId = 1700000000;
const quint32 kExportRide = 1714552200; // 2024-05-01 08:30:00
const int kExportPoints = 200000;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
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

void putBe32(char* bytes, quint32 value)
{
    bytes[0] = char(value >> 24);
    bytes[1] = char(value >> 16);
    bytes[2] = char(value >> 8);
    bytes[3] = char(value);
}

void putBe16(char* bytes, quint16 value)
{
    bytes[0] = char(value >> 8);
    bytes[1] = char(value);
}

quint32 be32(const unsigned char* bytes)
{
    return quint32(bytes[0]) << 24 | quint32(bytes[1]) << 16 | quint32(bytes[2]) << 8 | bytes[3];
}

quint16 be16(const unsigned char* bytes)
{
    return quint16(bytes[0] << 8 | bytes[1]);
}

QByteArray header(const char* type)
{
    QByteArray bytes(GHPSFHeader::SIZE, 0);
    std::memcpy(bytes.data(), type, std::strlen(type));
    bytes[16] = 0;
    bytes[17] = 2;
    bytes[18] = 1;
    bytes[19] = 8;
    std::memcpy(bytes.data() + 32, "1.0.3.2", 7);
    return bytes;
}

// A slow random walk, one point a second; the same every run.
struct Walk
{
    quint32 state = 20240229u;
    double lat = 47.376887, lon = 8.541694;
    quint32 next() { return state = state * 1664525u + 1013904223u; }
    void step()
    {
        lat += (int(next() >> 20) - 2048) * 1e-7;
        lon += (int(next() >> 20) - 2048) * 1e-7;
    }
};

bool writeLogs(quint32 id, int count, QByteArray* csv)
{
    QByteArray gps = header("gps track");
    QByteArray sensor = header("sensor value");
    gps.reserve(gps.size() + count * GHPSFRecord::SIZE);
    sensor.reserve(sensor.size() + count * GHPSFSensorRecord::SIZE);
    Walk walk;
    for (int i = 0; i < count; ++i) {
        walk.step();
        const qint32 lat = qint32(std::lround(walk.lat * 1e6));
        const qint32 lon = qint32(std::lround(walk.lon * 1e6));
        const qint16 altitude = qint16(4200 + 800 * std::sin(i / 900.0));
        const quint16 speed = quint16(300 + 200 * std::sin(i / 300.0));
        const qint16 bearing = qint16(walk.next() % 360);
        char record[GHPSFRecord::SIZE];
        putBe32(record, quint32(lon));
        putBe32(record + 4, quint32(lat));
        putBe16(record + 8, quint16(altitude));
        putBe16(record + 10, quint16(bearing));
        putBe16(record + 12, speed);
        putBe16(record + 14, 0);
        putBe32(record + 16, quint32(i));
        gps.append(record, sizeof record);
        char values[GHPSFSensorRecord::SIZE];
        putBe32(values, quint32(i));
        values[4] = char(120 + i % 40);
        values[5] = char(80 + i % 20);
        putBe16(values + 6, speed);
        putBe16(values + 8, 21);
        putBe16(values + 10, quint16(200 + i % 100));
        putBe32(values + 12, 101325);
        putBe32(values + 16, 0);
        putBe16(values + 20, speed);
        sensor.append(values, sizeof values);
        if (csv) {
            const QString time = tm_i2s(kExportRide + quint32(i));
            *csv += QByteArray::number(lat / 1e6, 'f', 6) + ',' + QByteArray::number(lon / 1e6, 'f', 6) + ',' +
                    QByteArray::number(altitude / 10.0, 'f', 1) + ',' + time.left(10).toLatin1().replace('-', '/') + ',' +
                    time.mid(11, 8).toLatin1() + ',' + QByteArray::number(bearing) + '\n';
        }
    }
    return writeFile(GHTraceLog::getTraceLogGPS(id), gps) && writeFile(GHTraceLog::getTraceLogTRN(id), sensor);
}

// The flash home with its route database, made from the schema script.
bool setUp(const QString& folder, const QString& sqlScript)
{
    const QString flash = folder + QStringLiteral("/flash");
    QDir().mkpath(flash + QStringLiteral("/data/route"));
    if (!sqlScript.isEmpty()) {
        QFile script(sqlScript);
        if (!script.open(QIODevice::ReadOnly) ||
            !writeFile(flash + QStringLiteral("/data/route/route.sql"), script.readAll()))
            return false;
    }
    GHTraceLog::setSystemVersion(QStringLiteral("GH2.0.1.3"));
    GHDeviceDB::setHomeDir(flash, QString(), folder + QStringLiteral("/out"));
    QDir().mkpath(folder + QStringLiteral("/out"));
    GHTraceLog::setHomeDir(folder + QStringLiteral("/tracelog"));
    return true;
}

// The baseline of reading: the whole files through fread in blocks, each record decoded into the same vectors.
bool plainRead(quint32 id, std::vector<GHPSFRecord>& points, std::vector<GHPSFSensorRecord>& sensors)
{
    std::vector<unsigned char> block(1 << 16);
    FILE* gps = std::fopen(QFile::encodeName(GHTraceLog::getTraceLogGPS(id)).constData(), "rb");
    if (!gps)
        return false;
    std::fseek(gps, GHPSFHeader::SIZE, SEEK_SET);
    const size_t gpsBlock = block.size() / GHPSFRecord::SIZE * GHPSFRecord::SIZE;
    size_t got;
    while ((got = std::fread(block.data(), 1, gpsBlock, gps)) >= size_t(GHPSFRecord::SIZE)) {
        for (size_t at = 0; at + GHPSFRecord::SIZE <= got; at += GHPSFRecord::SIZE) {
            const unsigned char* b = block.data() + at;
            GHPSFRecord record;
            record.longitude = qint32(be32(b));
            record.latitude = qint32(be32(b + 4));
            record.altitude = qint16(be16(b + 8));
            record.bearing = qint16(be16(b + 10));
            record.speed = be16(b + 12);
            record.typeFlag = qint16(be16(b + 14));
            record.time = be32(b + 16);
            points.push_back(record);
        }
    }
    std::fclose(gps);
    FILE* sensor = std::fopen(QFile::encodeName(GHTraceLog::getTraceLogTRN(id)).constData(), "rb");
    if (!sensor)
        return false;
    std::fseek(sensor, GHPSFHeader::SIZE, SEEK_SET);
    const size_t sensorBlock = block.size() / GHPSFSensorRecord::SIZE * GHPSFSensorRecord::SIZE;
    while ((got = std::fread(block.data(), 1, sensorBlock, sensor)) >= size_t(GHPSFSensorRecord::SIZE)) {
        for (size_t at = 0; at + GHPSFSensorRecord::SIZE <= got; at += GHPSFSensorRecord::SIZE) {
            const unsigned char* b = block.data() + at;
            GHPSFSensorRecord record;
            record.time = be32(b);
            record.hrm = b[4];
            record.cad = b[5];
            record.spd = be16(b + 6);
            record.tmp = qint16(be16(b + 8));
            record.pwr = be16(b + 10);
            record.brm = qint32(be32(b + 12));
            record.pdm = be32(b + 16);
            record.gps = be16(b + 20);
            sensors.push_back(record);
        }
    }
    std::fclose(sensor);
    return true;
}

int benchRead(const QString& folder, int runs, const QString& sqlScript)
{
    if (!setUp(folder, sqlScript) || !writeLogs(kReadRide, kReadRecords, nullptr))
        return 1;
    std::vector<double> oursMs, theirsMs;
    QElapsedTimer clock;
    for (int i = 0; i < runs; ++i) {
        for (int side = 0; side < 2; ++side) {
            const bool oursNow = (side == 0) == (i % 2 == 0);
            clock.start();
            if (oursNow) {
                GHTrackDP provider;
                if (!provider.readData(int(kReadRide), false) || provider.getTrkptCount(0, 0) != kReadRecords ||
                    provider.getLogptCount() != kReadRecords)
                    return 1;
            } else {
                std::vector<GHPSFRecord> points;
                std::vector<GHPSFSensorRecord> sensors;
                points.reserve(kReadRecords);
                sensors.reserve(kReadRecords);
                if (!plainRead(kReadRide, points, sensors) || int(points.size()) != kReadRecords ||
                    int(sensors.size()) != kReadRecords)
                    return 1;
            }
            (oursNow ? oursMs : theirsMs).push_back(clock.nsecsElapsed() / 1e6);
        }
    }
    std::printf("%.2f %.2f\n", median(oursMs), median(theirsMs));
    return 0;
}

int benchReadOnce(const QString& folder)
{
    if (!setUp(folder, QString()))
        return 1;
    GHTrackDP provider;
    if (!provider.readData(int(kReadRide), false))
        return 1;
    std::printf("%ld\n", peakKilobytes());
    return 0;
}

// Raw stdio: the same record bytes, fwrite each, fflush every 10 records of a file.
bool rawRecording(const QString& folder, const std::vector<GHPSFRecord>& points,
                  const std::vector<GHPSFSensorRecord>& sensors)
{
    FILE* gps = std::fopen(QFile::encodeName(folder + QStringLiteral("/raw-GPS.dat")).constData(), "w+b");
    FILE* sensor = std::fopen(QFile::encodeName(folder + QStringLiteral("/raw-TRN.dat")).constData(), "w+b");
    if (!gps || !sensor)
        return false;
    const QByteArray gpsHeader = header("gps track");
    const QByteArray sensorHeader = header("sensor value");
    std::fwrite(gpsHeader.constData(), 1, size_t(gpsHeader.size()), gps);
    std::fwrite(sensorHeader.constData(), 1, size_t(sensorHeader.size()), sensor);
    bool written = true;
    for (size_t i = 0; i < points.size() && written; ++i) {
        char bytes[GHPSFSensorRecord::SIZE];
        points[i].toBytes(bytes);
        written = std::fwrite(bytes, 1, GHPSFRecord::SIZE, gps) == size_t(GHPSFRecord::SIZE);
        sensors[i].toBytes(bytes);
        written = written && std::fwrite(bytes, 1, GHPSFSensorRecord::SIZE, sensor) == size_t(GHPSFSensorRecord::SIZE);
        if ((i + 1) % 10 == 0)
            written = written && std::fflush(gps) == 0 && std::fflush(sensor) == 0;
    }
    return (std::fclose(gps) == 0) & (std::fclose(sensor) == 0) & written;
}

int benchRecord(const QString& folder, int runs, const QString& sqlScript)
{
    if (!setUp(folder, sqlScript))
        return 1;
    std::vector<GHPSFRecord> points(kRecordRecords);
    std::vector<GHPSFSensorRecord> sensors(kRecordRecords);
    std::vector<GHLiveLocation> locations(kRecordRecords, GHLiveLocation(QStringLiteral("gps")));
    std::vector<std::array<int, 9>> values(kRecordRecords);
    Walk walk;
    for (int i = 0; i < kRecordRecords; ++i) {
        walk.step();
        GHLiveLocation& location = locations[size_t(i)];
        location.setLatLng(int(std::lround(walk.lat * 1e6)), int(std::lround(walk.lon * 1e6)));
        location.setSpeed(18.0f);
        location.setBearing(float(i % 360));
        GHPSFRecord& point = points[size_t(i)];
        point.latitude = location.getLatitude();
        point.longitude = location.getLongitude();
        point.altitude = 4200;
        point.bearing = qint16(i % 360);
        point.speed = 300;
        point.time = quint32(i);
        values[size_t(i)] = {120, 80, 300, 21, 200, 101325, 0, 0, 300};
        GHPSFSensorRecord& sensor = sensors[size_t(i)];
        sensor.time = quint32(i);
        sensor.hrm = 120;
        sensor.cad = 80;
        sensor.spd = 300;
        sensor.tmp = 21;
        sensor.pwr = 200;
        sensor.brm = 101325;
        sensor.gps = 300;
    }
    std::vector<double> oursMs, theirsMs;
    QElapsedTimer clock;
    for (int i = 0; i < runs; ++i) {
        for (int side = 0; side < 2; ++side) {
            const bool oursNow = (side == 0) == (i % 2 == 0);
            if (oursNow) {
                // Creating the ride (its row) and closing it are left out, as the baseline opens and closes files only.
                GHTraceLog log;
                clock.start();
                for (int k = 0; k < kRecordRecords; ++k) {
                    if (!log.writeLocation(quint32(k), &locations[size_t(k)], 4200) ||
                        !log.writeSensor(quint32(k), values[size_t(k)].data()))
                        return 1;
                }
                log.flush();
                oursMs.push_back(clock.nsecsElapsed() / 1e6);
            } else {
                clock.start();
                if (!rawRecording(folder, points, sensors))
                    return 1;
                theirsMs.push_back(clock.nsecsElapsed() / 1e6);
            }
        }
    }
    std::printf("%.2f %.2f\n", median(oursMs), median(theirsMs));
    return 0;
}

bool sqliteOk(int code, sqlite3* db)
{
    if (code == SQLITE_OK || code == SQLITE_DONE || code == SQLITE_ROW)
        return true;
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    return false;
}

// The same statements as the listing (the purge of unfinished rides, then the list) and one stat per GPS log.
bool sqliteListing(const QString& database, QVector<QPair<GHId, QString>>& rides)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(database).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return false;
    sqlite3_stmt* statement = nullptr;
    bool ok = sqliteOk(sqlite3_prepare_v2(db, "SELECT idRoute FROM TraceLog WHERE Title=?", -1, &statement, nullptr), db);
    sqlite3_bind_text(statement, 1, "...", 3, SQLITE_STATIC);
    while (ok && sqlite3_step(statement) == SQLITE_ROW) {
    }
    sqlite3_finalize(statement);
    ok = ok && sqliteOk(sqlite3_prepare_v2(db, "DELETE FROM TraceLog WHERE Title=?", -1, &statement, nullptr), db);
    sqlite3_bind_text(statement, 1, "...", 3, SQLITE_STATIC);
    ok = ok && sqliteOk(sqlite3_step(statement), db);
    sqlite3_finalize(statement);
    ok = ok && sqliteOk(sqlite3_prepare_v2(db,
                                           "SELECT idRoute, Title FROM TraceLog WHERE pause is null or pause=0 "
                                           "order by StartTime desc",
                                           -1, &statement, nullptr),
                        db);
    const QByteArray home = QFile::encodeName(GHTraceLog::getHomeDir());
    char path[4096];
    while (ok && sqlite3_step(statement) == SQLITE_ROW) {
        const int id = sqlite3_column_int(statement, 0);
        std::snprintf(path, sizeof path, "%s/%u-GPS.dat", home.constData(), unsigned(id));
        struct stat status;
        if (::stat(path, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 92)
            continue;
        rides.append(qMakePair(GHId(id, GHId::FLASH),
                               QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)))));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return ok;
}

int benchList(const QString& folder, int runs, const QString& sqlScript)
{
    if (!setUp(folder, sqlScript))
        return 1;
    // Creates the database from the script.
    QVector<QPair<GHId, QString>> rides;
    GHDeviceDB::getTraceLogList(GHDeviceDB::ALL_ACTIVITIES, rides, true);
    GHDeviceDB::closeStorageMapDb();
    const QString database = GHDeviceDB::getFlashHome() + QStringLiteral("/data/route/route.dat");
    sqlite3* db = nullptr;
    if (sqlite3_open(QFile::encodeName(database).constData(), &db) != SQLITE_OK)
        return 1;
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    const QByteArray log = header("gps track") + QByteArray(5 * GHPSFRecord::SIZE, 1);
    for (int i = 0; i < kListRides; ++i) {
        const quint32 id = kListFirstId + quint32(i) * 3600;
        const QByteArray sql = "INSERT INTO TraceLog (idRoute, Title, CreateTime, StartTime, ActivityType) VALUES (" +
                               QByteArray::number(id) + ", 'Ride " + QByteArray::number(i) + "', " +
                               QByteArray::number(id) + ", " + QByteArray::number(id) + ", " +
                               QByteArray::number(i % 4) + ")";
        if (!sqliteOk(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), db))
            return 1;
        // Every tenth ride has a log too short to list.
        if (!writeFile(GHTraceLog::getTraceLogGPS(id), i % 10 == 0 ? header("gps track") : log))
            return 1;
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);

    const int expected = kListRides - kListRides / 10;
    std::vector<double> oursMs, theirsMs;
    QElapsedTimer clock;
    for (int i = 0; i < runs; ++i) {
        for (int side = 0; side < 2; ++side) {
            const bool oursNow = (side == 0) == (i % 2 == 0);
            QVector<QPair<GHId, QString>> listed;
            clock.start();
            if (oursNow) {
                GHDeviceDB::getTraceLogList(GHDeviceDB::ALL_ACTIVITIES, listed, true);
                GHDeviceDB::closeStorageMapDb();
            } else if (!sqliteListing(database, listed)) {
                return 1;
            }
            (oursNow ? oursMs : theirsMs).push_back(clock.nsecsElapsed() / 1e6);
            if (listed.size() != expected)
                return 1;
        }
    }
    std::printf("%.2f %.2f\n", median(oursMs), median(theirsMs));
    return 0;
}

int writeRide(const QString& folder, const QString& sqlScript, const QString& csvPath)
{
    if (!setUp(folder, sqlScript))
        return 1;
    QVector<QPair<GHId, QString>> rides;
    GHDeviceDB::getTraceLogList(GHDeviceDB::ALL_ACTIVITIES, rides, false);
    GHDeviceDB::closeStorageMapDb();
    QByteArray csv = "Latitude,Longitude,Altitude,Date,Time,Course\n";
    if (!writeLogs(kExportRide, kExportPoints, &csv) || !writeFile(csvPath, csv))
        return 1;
    const QString database = GHDeviceDB::getFlashHome() + QStringLiteral("/data/route/route.dat");
    sqlite3* db = nullptr;
    const QByteArray sql = "INSERT INTO TraceLog (idRoute, Title, CreateTime, StartTime, EndTime, TotalLength) "
                           "VALUES (" + QByteArray::number(kExportRide) + ", 'Long ride', " +
                           QByteArray::number(kExportRide) + ", " + QByteArray::number(kExportRide) + ", " +
                           QByteArray::number(kExportRide + kExportPoints) + ", 123456)";
    const bool ok = sqlite3_open(QFile::encodeName(database).constData(), &db) == SQLITE_OK &&
                    sqliteOk(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), db);
    sqlite3_close(db);
    return ok ? 0 : 1;
}

int exportRide(const QString& folder)
{
    if (!setUp(folder, QString()))
        return 1;
    bool uploaded = false;
    const QString path = GHTraceLog::gpsTrackToGpx(GHId(qint32(kExportRide), GHId::FLASH), uploaded, 0);
    if (path.isEmpty())
        return 1;
    std::printf("%s %ld\n", qPrintable(path), peakKilobytes());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietHandler);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    const QString folder = args.value(2);
    const int runs = qMax(1, args.value(3).toInt());
    if (mode == QLatin1String("read") && args.size() == 5)
        return benchRead(folder, runs, args[4]);
    if (mode == QLatin1String("readonce") && args.size() == 3)
        return benchReadOnce(folder);
    if (mode == QLatin1String("record") && args.size() == 5)
        return benchRecord(folder, runs, args[4]);
    if (mode == QLatin1String("list") && args.size() == 5)
        return benchList(folder, runs, args[4]);
    if (mode == QLatin1String("ride") && args.size() == 5)
        return writeRide(folder, args[3], args[4]);
    if (mode == QLatin1String("export") && args.size() == 3)
        return exportRide(folder);
    std::fprintf(stderr, "usage: bench_rides read FOLDER RUNS SQL | readonce FOLDER | record FOLDER RUNS SQL | "
                         "list FOLDER RUNS SQL | ride FOLDER SQL CSV | export FOLDER\n");
    return 2;
}
