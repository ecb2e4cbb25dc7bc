// libFuzzer target for a stored ride as the flash home holds it: its GPS and sensor logs behind a TraceLog row, and
// its statistics file.
//
// Input: a mode byte, then the data. Bit 0 clear: the ride's logs, as a 2-byte big-endian length and that many bytes
// of GPS log, the rest the sensor log; bit 1 reads them thinned; bit 2 leaves the sensor log out. Bit 0 set: the
// rest is the ride's statistics file.
//
// Checks: a ride whose logs are read exports as GPX that parses whole, with every sensor record that was read and,
// unthinned, every track point; without a sensor log the ride is refused when one is needed and otherwise exported
// exactly when its GPS log reads. A statistics file that reads leaves no null record; written back it reads again with
// as many records, and a second round gives the same document.

#include "search/ghdevicedb.h"
#include "search/ghid.h"
#include "util/ghstatisticreader.h"
#include "util/ghtotrainstatxml.h"
#include "util/ghtracelog.h"
#include "util/ghtrackdp.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QXmlStreamReader>

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "fuzzsupport.h"

using JXFuzz::require;

namespace {

// The ride's id is its start as local wall-clock time counted as UTC: 2021-03-01 12:00 two hours east of UTC.
const quint32 kRideId = 1614600000;
const quint32 kStartTime = kRideId - 7200;
// Statistics are read under an id without a row or logs, so that they never end up in a ride's export.
const quint32 kStatisticsId = 1000;

const uint8_t kStatisticsMode = 1;
const uint8_t kThin = 2;
const uint8_t kNoSensorLog = 4;

QString s_output;
QString s_gpx;
QString s_written;

// The set-up of the current generation runs this from the flash home on a new route.dat: the TraceLog table as the
// devices have it and the ride's row.
QByteArray routeScript()
{
    return QByteArrayLiteral(
               "CREATE TABLE if not exists TraceLog (idRoute INTEGER PRIMARY KEY, Title TEXT, Abstract TEXT,"
               " TotalLength INTEGER, CreateTime INTEGER, Author TEXT, Elevation INTEGER, StartLon INTEGER,"
               " StartLat INTEGER, EndLon INTEGER, EndLat INTEGER, LDLat INTEGER, LDLon INTEGER, RTLon INTEGER,"
               " RTLat INTEGER, StartCountry TEXT, EndCountry TEXT, StartPlace TEXT, EndPlace TEXT, MaxElev INTEGER,"
               " MinElev INTEGER, StartTime INTEGER, EndTime INTEGER, ActivityType INTEGER, RouteType INTEGER,"
               " Uploaded INTEGER NOT NULL DEFAULT 0, pause INTEGER)\n;\n"
               "INSERT INTO TraceLog (idRoute, Title, Abstract, TotalLength, CreateTime, Author, LDLat, LDLon, RTLat,"
               " RTLon, StartCountry, EndCountry, StartPlace, EndPlace, StartTime, EndTime, ActivityType, RouteType)"
               " VALUES (") +
           QByteArray::number(kRideId) + ", 'Ride', 'Loop', 12345, " + QByteArray::number(kRideId) +
           ", 'me', 48000000, 11000000, 48100000, 11100000, 'DE', 'AT', 'Here', 'There', " +
           QByteArray::number(kStartTime) + ", " + QByteArray::number(kStartTime + 3600) + ", 2, 3)\n;\n";
}

struct XmlCounts
{
    bool whole = false;
    int trackPoints = 0;
    int logPoints = 0;
};

XmlCounts parse(const QString& path)
{
    XmlCounts counts;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return counts;
    QXmlStreamReader reader(&file);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == QLatin1String("trkpt"))
            ++counts.trackPoints;
        else if (reader.isStartElement() && reader.name() == QLatin1String("logpt"))
            ++counts.logPoints;
    }
    counts.whole = !reader.hasError();
    return counts;
}

void checkRide(uint8_t mode, const QByteArray& rest)
{
    int gpsSize = 0;
    if (rest.size() >= 2)
        gpsSize = qMin((quint8(rest.at(0)) << 8 | quint8(rest.at(1))), rest.size() - 2);
    const QByteArray gps = rest.mid(2, gpsSize);
    const QByteArray sensor = rest.mid(2 + gpsSize);
    const QString gpsPath = GHTraceLog::getTraceLogGPS(kRideId);
    const QString sensorPath = GHTraceLog::getTraceLogTRN(kRideId);
    require(JXFuzz::writeFile(gpsPath, gps), "cannot write the GPS log");
    const bool withSensorLog = !(mode & kNoSensorLog);
    if (withSensorLog)
        require(JXFuzz::writeFile(sensorPath, sensor), "cannot write the sensor log");
    else
        QFile::remove(sensorPath);
    const bool thin = mode & kThin;
    const int flags = thin ? GHTraceLog::EXPORT_THIN : 0;

    GHTrackDP ride;
    GHTrackDP track;
    GHTrackDP* source = &ride;
    bool uploaded = true;
    QString exported;
    if (withSensorLog) {
        if (!ride.readData(int(kRideId), thin))
            return;
        exported = GHTraceLog::gpsTrackToGpx(GHId(int(kRideId), GHId::FLASH), uploaded, flags);
        require(!exported.isEmpty(), "a ride that reads is not exported");
    } else {
        require(!ride.readData(int(kRideId), thin), "a ride without its sensor log reads");
        require(GHTraceLog::gpsTrackToGpx(GHId(int(kRideId), GHId::FLASH), uploaded,
                                          flags | GHTraceLog::EXPORT_NEEDS_SENSOR_LOG)
                    .isEmpty(),
                "a ride without the sensor log it needs is exported");
        track.readTrackOverview(GHId(int(kRideId), GHId::FLASH));
        QDate date;
        const bool read = track.readGpsData(gpsPath, thin, date);
        exported = GHTraceLog::gpsTrackToGpx(GHId(int(kRideId), GHId::FLASH), uploaded, flags);
        require(exported.isEmpty() != read, "a ride without sensors is exported against its GPS log");
        if (!read)
            return;
        source = &track;
    }
    require(exported == s_gpx, "the export lands elsewhere");
    require(!uploaded, "the row's Uploaded flag is misread");

    const XmlCounts counts = parse(exported);
    require(counts.whole, "the exported GPX does not parse");
    // The export thins only logs far longer than a fuzz input, so its track is the one read without thinning.
    if (!thin)
        require(counts.trackPoints == (source->getTrkptCount(0, 0) >= 2 ? source->getTrkptCount(0, 0) : 0),
                "track points are lost or invented on the way to GPX");
    require(counts.logPoints == source->getLogptCount(), "sensor records are lost or invented on the way to GPX");
    QFile::remove(exported);
}

// The lap-statistics document the writer makes of the records.
QByteArray written(const QVector<GHTripStatistic>& statistics)
{
    FILE* file = std::fopen(QFile::encodeName(s_written).constData(), "w+");
    require(file != nullptr, "cannot make the written statistics");
    require(GHToTrainStatXml(&statistics).serialize(file), "the statistics cannot be written");
    std::fclose(file);
    return JXFuzz::readFile(s_written);
}

struct StatisticList
{
    QList<GHTripStatistic*> items;
    ~StatisticList() { qDeleteAll(items); }

    QVector<GHTripStatistic> values() const
    {
        QVector<GHTripStatistic> copy;
        for (const GHTripStatistic* item : items) {
            require(item != nullptr, "a null statistics record");
            copy.append(*item);
        }
        return copy;
    }
};

void checkStatistics(const QByteArray& rest)
{
    require(JXFuzz::writeFile(GHTraceLog::getTraceLogSTA(kStatisticsId), rest), "cannot write the statistics");
    StatisticList first;
    GHStatisticReader firstReader(&first.items);
    const bool read = GHTraceLog::readStatistic(kStatisticsId, &firstReader);
    const QVector<GHTripStatistic> values = first.values();
    if (!read)
        return;

    const QByteArray document = written(values);
    StatisticList second;
    GHStatisticReader secondReader(&second.items);
    require(secondReader.read(s_written), "written statistics do not read");
    require(second.items.size() == values.size(), "statistics records are lost or invented in a round");
    require(written(second.values()) == document, "a second round changes the statistics");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    JXFuzz::silenceMessages();
    // Days of records are local days: a fixed zone keeps findings reproducible.
    qputenv("TZ", "XST-2");
    tzset();
    const QString root = JXFuzz::scratchRoot("storedride");
    const QString flash = root + QLatin1String("/flash");
    s_output = root + QLatin1String("/out");
    s_gpx = s_output + QLatin1Char('/') +
            QDateTime::fromSecsSinceEpoch(kRideId, Qt::UTC).toString(QStringLiteral("yyyyMMddhhmmss")) +
            QLatin1String(".gpx");
    s_written = root + QLatin1String("/written-STA.xml");
    require(JXFuzz::writeFile(flash + QLatin1String("/data/route/route.sql"), routeScript()),
            "cannot write the route script");
    require(QDir().mkpath(s_output), "cannot make the output home");
    GHTraceLog::setSystemVersion(QStringLiteral("GH2.0.1.3"));
    GHTraceLog::setHomeDir(root + QLatin1String("/tracelog"));
    GHDeviceDB::setHomeDir(flash, QString(), s_output);
    QVector<QVariant> row;
    QStringList columns{QStringLiteral("StartTime")};
    GHDeviceDB::getTraceLogData(GHId(int(kRideId), GHId::FLASH), columns, row);
    require(row.size() == 1 && row.at(0).toLongLong() == kStartTime, "the set-up made no ride row");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    const QByteArray rest(reinterpret_cast<const char*>(data) + 1, int(size - 1));
    if (mode & kStatisticsMode)
        checkStatistics(rest);
    else
        checkRide(mode, rest);
    return 0;
}
