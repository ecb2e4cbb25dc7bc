#include "util/ghtrackdp.h"

#include <QDataStream>
#include <QDateTime>
#include <QFile>
#include <QStringList>

#include <cstdlib>
#include <cstring>
#include <limits>

#include "search/ghdevicedb.h"
#include "util/ghbinarylogger.h"
#include "util/ghpsfheader.h"
#include "util/ghtracelog.h"

namespace {

const int START_MIN_LAT = 90000000;
const int START_MIN_LON = 180000000;
const int START_MAX_LAT = -90000000;
const int START_MAX_LON = -180000000;

// Closer points than this (latitude and longitude differences added, millionths of a degree) are thinned out.
const qint64 THIN_DISTANCE = 501;

// Logs before this format store Unix times; later ones store seconds from the ride's StartTime. Plain string
// order, as the devices have always compared them.
const char FIRST_RELATIVE_TIME_VERSION[] = "0.2.1.4";
const char FIRST_SYSTEM_VERSION_VERSION[] = "0.2.1.7";

const quint32 PAUSE_EVENT_KIND = 1;

const char* const TRACK_COLUMN_NAMES[] = {"Title",      "Abstract",   "CreateTime",   "Author",       "LDLat",
                                          "LDLon",      "RTLat",      "RTLon",        "StartCountry", "EndCountry",
                                          "StartPlace", "EndPlace",   "ActivityType", "RouteType",    "StartTime",
                                          "EndTime",    "TotalLength"};
const char* const ROUTE_COLUMN_NAMES[] = {"Title", "TravelTime", "TotalLength"};

QStringList columnList(const char* const* names, int count)
{
    QStringList columns;
    for (int i = 0; i < count; ++i)
        columns << QLatin1String(names[i]);
    return columns;
}

QDate localDate(quint32 time)
{
    return QDateTime::fromSecsSinceEpoch(qint64(time), Qt::LocalTime).date();
}

bool openLog(QFile& file, const char* kind)
{
    if (file.open(QIODevice::ReadOnly))
        return true;
    qWarning("cannot open the %s log %s: %s", kind, qUtf8Printable(file.fileName()),
             qUtf8Printable(file.errorString()));
    return false;
}

QString versionText(const GHPSFHeader& header)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(int(header.version[0]))
        .arg(int(header.version[1]))
        .arg(int(header.version[2]))
        .arg(int(header.version[3]));
}

// Room reserved before reading: what thinning or the day filter keep is not known up front, and a log can be far
// larger than what it keeps. Beyond this the vectors grow with the records kept.
const int RESERVED_RECORDS = 1 << 16;
int reservation(const QFile& file, int recordSize)
{
    return int(qBound<qint64>(0, (file.size() - GHPSFHeader::SIZE) / recordSize, RESERVED_RECORDS));
}

// Records are read a block at a time.
const int RECORDS_PER_BLOCK = 4096;

// A Qt 5 container holds less than 2 GiB; growing past that throws, which nothing here could catch usefully.
template<typename Record>
int maxKeptRecords()
{
    return int((std::numeric_limits<int>::max() - 4096) / int(sizeof(Record)));
}

// Appends the record, or logs and returns false when a vector of that size cannot be held.
template<typename Record>
bool keep(QVector<Record>& records, const Record& record, const char* kind, const QString& path)
{
    if (records.size() >= maxKeptRecords<Record>()) {
        qWarning("the %s log %s keeps more than %d records, more than can be held; not read", kind,
                 qUtf8Printable(path), maxKeptRecords<Record>());
        return false;
    }
    records.append(record);
    return true;
}

// Hands each whole record after the header to handle, in file order, until the end of the file; a partial last
// record is left out. False when reading fails or handle refuses a record.
template<typename Handle>
bool forEachRecord(QFile& file, int recordSize, const char* kind, Handle handle)
{
    QByteArray block(RECORDS_PER_BLOCK * recordSize, Qt::Uninitialized);
    int carried = 0; // bytes of a record begun in the block before
    for (;;) {
        const qint64 count = file.read(block.data() + carried, block.size() - carried);
        if (count < 0) {
            qWarning("cannot read the %s log %s: %s", kind, qUtf8Printable(file.fileName()),
                     qUtf8Printable(file.errorString()));
            return false;
        }
        if (count == 0)
            return true;
        const int available = carried + int(count);
        const int whole = available - available % recordSize;
        for (int offset = 0; offset < whole; offset += recordSize) {
            if (!handle(block.constData() + offset))
                return false;
        }
        carried = available - whole;
        std::memmove(block.data(), block.constData() + whole, size_t(carried));
    }
}

} // namespace

GHTrackDP::GHTrackDP() : m_id(0)
{
    resetBounds();
}

GHTrackDP::~GHTrackDP() = default;

bool GHTrackDP::readTrackOverview(GHId id)
{
    m_trackOverview.clear();
    QStringList columns = columnList(TRACK_COLUMN_NAMES, TRACK_COLUMNS);
    GHDeviceDB::getTraceLogData(id, columns, m_trackOverview);
    return m_trackOverview.size() == TRACK_COLUMNS;
}

bool GHTrackDP::readRouteOverview(GHId id)
{
    m_routeOverview.clear();
    QStringList columns = columnList(ROUTE_COLUMN_NAMES, ROUTE_COLUMNS);
    GHDeviceDB::getRouteData(id, columns, m_routeOverview);
    return m_routeOverview.size() == ROUTE_COLUMNS;
}

bool GHTrackDP::readData(int id, bool thin)
{
    m_id = id;
    // A ride whose row is gone is still read; its GPX then goes without metadata.
    readTrackOverview(GHId(id, GHId::FLASH));
    QDate date;
    const QString gpsPath = GHTraceLog::getTraceLogGPS(quint32(id));
    if (!gpsPath.isEmpty() && !readGpsData(gpsPath, thin, date))
        return false;
    const QString sensorPath = GHTraceLog::getTraceLogTRN(quint32(id));
    if (!sensorPath.isEmpty() && !readSensorData(sensorPath, date))
        return false;
    return true;
}

bool GHTrackDP::readGpsData(const QString& path, bool thin, QDate& date)
{
    QFile file(path);
    if (!openLog(file, "GPS"))
        return false;
    resetBounds();
    QDataStream stream(&file);
    stream.setByteOrder(QDataStream::BigEndian);
    GHPSFHeader header;
    if (!GHBinaryLogger::readHeader(stream, header)) {
        qWarning("the GPS log %s has no usable header", qUtf8Printable(path));
        return false;
    }
    m_logVersion = versionText(header);

    if (m_logVersion < QLatin1String(FIRST_RELATIVE_TIME_VERSION)) {
        GHPSFRecord::timebase = 0;
        GHPSFSensorRecord::timebase = 0;
    } else {
        // A shared route has no ride row and stores its times as they are; a base left over from an earlier ride
        // would shift them.
        GHPSFRecord::timebase = rideStartTime();
        GHPSFSensorRecord::timebase = GHPSFRecord::timebase;
        if (m_logVersion >= QLatin1String(FIRST_SYSTEM_VERSION_VERSION))
            m_systemVersion = header.systemVersion;
    }

    m_trackPoints.reserve(m_trackPoints.size() + reservation(file, GHPSFRecord::SIZE));
    GHPSFRecord record;
    GHPSFRecord* lastKept = m_trackPoints.isEmpty() ? nullptr : &m_trackPoints.last();
    bool firstTrackPoint = m_trackPoints.isEmpty();
    return forEachRecord(file, GHPSFRecord::SIZE, "GPS", [&](const char* bytes) {
        record.fromBytes(bytes);
        if (record.typeFlag == GHPSFRecord::EVENT_FLAG) {
            if (quint32(record.longitude) >> 16 == PAUSE_EVENT_KIND && lastKept)
                lastKept->marks |= 1;
            return true;
        }
        record.time += GHPSFRecord::timebase;
        if (record.typeFlag < 0)
            return keep(m_routePoints, record, "GPS", path);
        if (firstTrackPoint) {
            date = localDate(record.time);
            firstTrackPoint = false;
        } else if (thin && lastKept) {
            const qint64 distance = std::llabs(qint64(record.latitude) - lastKept->latitude) +
                                    std::llabs(qint64(record.longitude) - lastKept->longitude);
            if (distance < THIN_DISTANCE)
                return true;
        }
        if (!keep(m_trackPoints, record, "GPS", path))
            return false;
        lastKept = &m_trackPoints.last();
        widenBounds(record);
        return true;
    });
}

bool GHTrackDP::readSensorData(const QString& path, const QDate& date)
{
    QFile file(path);
    if (!openLog(file, "sensor"))
        return false;
    QDataStream stream(&file);
    stream.setByteOrder(QDataStream::BigEndian);
    GHPSFHeader header;
    if (!GHBinaryLogger::readHeader(stream, header)) {
        qWarning("the sensor log %s has no usable header", qUtf8Printable(path));
        return false;
    }
    if (header.version[2] <= 1 && header.version[3] == 0) {
        qWarning("the sensor log %s has format %s, which carries no sensor records we can read", qUtf8Printable(path),
                 qUtf8Printable(versionText(header)));
        return false;
    }
    const bool extended = GHPSFSensorRecord::recordSize(header) == GHPSFSensorRecord::EXTENDED_SIZE;

    const int recordSize = extended ? GHPSFSensorRecord::EXTENDED_SIZE : GHPSFSensorRecord::SIZE;
    m_sensorRecords.reserve(m_sensorRecords.size() + reservation(file, recordSize));
    GHPSFSensorRecord record;
    bool dayReached = !date.isValid();
    // The day's bounds as Unix times, so that a record is placed without a time-zone conversion of its own.
    const qint64 dayStart = dayReached ? 0 : QDateTime(date, QTime(0, 0), Qt::LocalTime).toSecsSinceEpoch();
    const qint64 dayEnd = dayReached ? 0 : QDateTime(date.addDays(1), QTime(0, 0), Qt::LocalTime).toSecsSinceEpoch();
    return forEachRecord(file, recordSize, "sensor", [&](const char* bytes) {
        record.fromBytes(bytes, extended);
        record.time += GHPSFSensorRecord::timebase;
        if (record.hrm == GHPSFSensorRecord::EVENT_MARK && record.cad == GHPSFSensorRecord::EVENT_MARK) {
            if (record.pdm >> 16 == PAUSE_EVENT_KIND && !m_sensorRecords.isEmpty())
                m_sensorRecords.last().marks |= 1;
            return true;
        }
        // Sensors start before the GPS has a fix; what was logged on an earlier day does not belong to this ride.
        if (!dayReached) {
            if (qint64(record.time) < dayStart || qint64(record.time) >= dayEnd)
                return true;
            dayReached = true;
        }
        return keep(m_sensorRecords, record, "sensor", path);
    });
}

int GHTrackDP::getWptCount()
{
    return 0;
}

void GHTrackDP::getWptData(int, QMap<QString, QString>&) {}

QString GHTrackDP::getLogVersion()
{
    return m_logVersion;
}

void GHTrackDP::resetBounds()
{
    m_minLat = START_MIN_LAT;
    m_minLon = START_MIN_LON;
    m_maxLat = START_MAX_LAT;
    m_maxLon = START_MAX_LON;
}

void GHTrackDP::widenBounds(const GHPSFRecord& point)
{
    m_minLat = qMin(m_minLat, int(point.latitude));
    m_maxLat = qMax(m_maxLat, int(point.latitude));
    m_minLon = qMin(m_minLon, int(point.longitude));
    m_maxLon = qMax(m_maxLon, int(point.longitude));
}

quint32 GHTrackDP::rideStartTime() const
{
    if (m_trackOverview.size() <= TRACK_START_TIME)
        return 0;
    bool ok = false;
    const qlonglong start = m_trackOverview.at(TRACK_START_TIME).toLongLong(&ok);
    return ok ? quint32(start) : 0;
}
