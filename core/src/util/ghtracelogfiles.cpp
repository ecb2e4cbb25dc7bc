#include "util/ghtracelog.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <QVariant>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <QtEndian>

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "../search/ghdevicedb_p.h"
#include "location/ghlivelocation.h"
#include "search/ghdevicedb.h"
#include "training/ghworkout.h"
#include "training/ghworkoutprovider.h"
#include "util/ghgpxwriter.h"
#include "util/ghpsfheader.h"
#include "util/ghstatisticreader.h"
#include "util/ghtimetext.h"
#include "util/ghtotrainstatxml.h"
#include "util/ghtrackdp.h"

namespace {

const int PAUSE_KIND = 1;
const int RESUME_KIND = 2;
// Far more rides than anyone starts in a day; stepping beyond this means the id check itself is failing.
const quint32 MAX_ID_STEPS = 86400;
// Logs from this size on are thinned when read for an export.
const qint64 THIN_FROM_BYTES = 30000;

// The local wall-clock time relabelled as UTC, in seconds since 1970.
quint32 clockId()
{
    const QDateTime local = QDateTime::currentDateTime();
    return quint32(QDateTime(local.date(), local.time(), Qt::UTC).toSecsSinceEpoch());
}

template<typename T>
T saturated(qint64 value, qint64 lowest, qint64 highest)
{
    return T(qBound(lowest, value, highest));
}

} // namespace

GHTraceLog::GHTraceLog()
    : m_statistic2(nullptr), m_id(0), m_statistic(nullptr), m_lastTime(0), m_lastAltitude(NO_ALTITUDE)
{
    createNew();
}

GHTraceLog::GHTraceLog(quint32 id)
    : m_statistic2(nullptr), m_id(0), m_statistic(nullptr), m_lastTime(0), m_lastAltitude(NO_ALTITUDE)
{
    QStringList columns{QStringLiteral("idRoute")};
    QVector<QVariant> values;
    GHDeviceDB::getTraceLogData(GHId(qint32(id), GHId::FLASH), columns, values);
    if (values.isEmpty())
        createNew();
    else
        continueLog(id);
}

GHTraceLog::~GHTraceLog()
{
    close();
}

bool GHTraceLog::idIsFree(quint32 id)
{
    QStringList columns{QStringLiteral("idRoute")};
    QVector<QVariant> values;
    GHDeviceDB::getTraceLogData(GHId(qint32(id), GHId::FLASH), columns, values);
    return values.isEmpty() && !QFileInfo::exists(getTraceLogGPS(id)) && !QFileInfo::exists(getTraceLogTRN(id));
}

void GHTraceLog::createNew()
{
    quint32 id = clockId();
    quint32 steps = 0;
    while (!idIsFree(id)) {
        if (++steps > MAX_ID_STEPS || id == 0xFFFFFFFFu) {
            // Writing on would truncate a stored ride; without logs every writer refuses.
            qWarning("no free ride id after %u: no ride is recorded", id - steps + 1);
            return;
        }
        ++id;
    }
    m_id = id;
    // Each step's failure is logged where it happens; the ride goes on with what could be made.
    createGpsLog(getTraceLogGPS(id));
    createSensorLog(getTraceLogTRN(id));
    GHTraceLogRecord record;
    record.title = QStringLiteral("...");
    record.id = id;
    if (!GHDeviceDB::saveTraceLog(&record, true))
        qWarning("cannot add the TraceLog row of ride %u", id);
    const QString profile = getTraceLogUSR(id);
    QFile::remove(profile);
    if (QFileInfo::exists(ms_userProfile) && !QFile::copy(ms_userProfile, profile))
        qWarning("cannot copy the user profile %s to %s", qUtf8Printable(ms_userProfile), qUtf8Printable(profile));
}

void GHTraceLog::continueLog(quint32 id)
{
    m_id = id;
    m_gpsLog = reopenLog(getTraceLogGPS(id), GHPSFRecord::SIZE, m_gpsRecords, &m_lastTime);
    m_sensorLog = reopenLog(getTraceLogTRN(id), GHPSFSensorRecord::SIZE, m_sensorRecords, nullptr);
}

FILE* GHTraceLog::reopenLog(const QString& path, int recordSize, quint32& count, quint32* lastTime)
{
    count = 0;
    if (!QFileInfo::exists(path))
        return nullptr;
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "r+b");
    if (!file) {
        qWarning("cannot reopen the ride log %s: %s", qUtf8Printable(path), std::strerror(errno));
        return nullptr;
    }
    unsigned char header[GHPSFHeader::SIZE];
    if (std::fread(header, 1, sizeof header, file) != sizeof header || header[16] != 0 || header[17] != 2) {
        qWarning("not continuing the ride log %s: it has no header of a format we write", qUtf8Printable(path));
        std::fclose(file);
        return nullptr;
    }
    // Our records are of the short form; appending them to a log of the extended form would misalign both.
    GHPSFHeader version;
    std::memcpy(version.version, header + GHPSFHeader::VERSION_OFFSET, 4);
    if (recordSize == GHPSFSensorRecord::SIZE && GHPSFSensorRecord::recordSize(version) != recordSize) {
        qWarning("not continuing the sensor log %s: its records are of the extended form", qUtf8Printable(path));
        std::fclose(file);
        return nullptr;
    }
    // The file's size bounds the loop: it ends at the first short read.
    unsigned char record[GHPSFSensorRecord::EXTENDED_SIZE];
    while (std::fread(record, 1, size_t(recordSize), file) == size_t(recordSize)) {
        ++count;
        if (lastTime)
            *lastTime = qFromBigEndian<quint32>(record + GHPSFRecord::TIME_OFFSET);
    }
    // Whatever follows the last whole record is a record cut short; new records begin where it began.
    const long end = long(GHPSFHeader::SIZE) + long(count) * recordSize;
    if (std::ferror(file) || std::fflush(file) != 0 || ::ftruncate(fileno(file), end) != 0 ||
        std::fseek(file, end, SEEK_SET) != 0) {
        qWarning("cannot continue the ride log %s: %s", qUtf8Printable(path), std::strerror(errno));
        std::fclose(file);
        count = 0;
        return nullptr;
    }
    return file;
}

void GHTraceLog::close()
{
    if (m_id != 0)
        GHDeviceDB::markTraceLogPause(m_id, 0);
    for (FILE** stream : {&m_statistic, &m_statistic2}) {
        if (*stream && std::fclose(*stream) != 0)
            qWarning("closing a statistics file of ride %u failed: %s", m_id, std::strerror(errno));
        *stream = nullptr;
    }
}

GHId GHTraceLog::getId() const
{
    return GHId(qint32(m_id), GHId::STORAGE);
}

bool GHTraceLog::writeLocation(quint32 time, GHLiveLocation* location, int altitude)
{
    if (!m_gpsLog || !location || time < m_lastTime)
        return false;
    m_lastTime = time;
    const qint32 longitude = location->getLongitude();
    const qint32 latitude = location->getLatitude();
    if (longitude == 0 && latitude == 0)
        return false;
    if (altitude == NO_ALTITUDE) {
        altitude = m_lastAltitude == NO_ALTITUDE ? 0 : m_lastAltitude;
    } else {
        m_lastAltitude = altitude;
    }
    GHPSFRecord record;
    record.longitude = longitude;
    record.latitude = latitude;
    // Beyond its field a value stays at the nearest one that does not read as "none", rather than wrapping.
    record.altitude = saturated<qint16>(altitude, -32768, GHPSFRecord::NO_ALTITUDE - 1);
    record.bearing = saturated<qint16>(qint64(location->getBearing()), -32768, GHPSFRecord::NO_BEARING - 1);
    record.speed = saturated<quint16>(qint64(location->getSpeed() * 1000 / 60), 0, GHPSFRecord::NO_SPEED - 1);
    record.typeFlag = 0;
    record.time = time;
    return writeRecord(record);
}

bool GHTraceLog::writeSensor(quint32 time, int values[9])
{
    if (!m_sensorLog || !values || time < m_lastTime)
        return false;
    GHPSFSensorRecord record;
    record.time = time;
    record.hrm = quint8(values[0]);
    record.cad = quint8(values[1]);
    record.spd = quint16(values[2]);
    record.tmp = qint16(values[3]);
    record.pwr = quint16(values[4]);
    record.brm = qint32(values[5]);
    record.pdm = quint32(values[7]);
    record.gps = quint16(values[8]);
    return writeRecord(record);
}

bool GHTraceLog::writeEventTag(quint32 time, int tag)
{
    if (time < m_lastTime)
        return false;
    const int kind = tag >> 16;
    if (kind == PAUSE_KIND)
        GHDeviceDB::markTraceLogPause(m_id, 1);
    else if (kind == RESUME_KIND)
        GHDeviceDB::markTraceLogPause(m_id, 0);
    return writeEvent(time, tag);
}

void GHTraceLog::updateStartTime(quint32 time)
{
    for (FILE* file : {m_gpsLog, m_sensorLog}) {
        if (file && !_updateHeaderWord(file, GHPSFHeader::START_TIME_OFFSET, time))
            qWarning("cannot write the start time into a log of ride %u", m_id);
    }
}

bool GHTraceLog::writeDbRecord(GHTraceLogRecord* record)
{
    if (!record)
        return false;
    record->id = m_id;
    return GHDeviceDB::saveTraceLog(record, false);
}

bool GHTraceLog::writeWorkoutPlan(unsigned int workoutId)
{
    GHWorkoutProvider provider;
    GHWorkout* workout = provider.findById(workoutId);
    if (!workout)
        return false;
    const bool loaded = provider.loadDetail(workout);
    bool written = false;
    if (loaded) {
        const QString path = getTraceLogPLN(m_id);
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            QXmlStreamWriter writer(&file);
            writer.setCodec("UTF-8");
            writer.setAutoFormatting(true);
            writer.setAutoFormattingIndent(2);
            workout->writeWorkout(writer);
            written = !writer.hasError() && file.commit();
        }
        if (!written)
            qWarning("cannot write the workout plan %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
    }
    delete workout;
    return written;
}

bool GHTraceLog::writeStatistic(QVector<GHTripStatistic>* statistics)
{
    return writeStatistic(m_statistic, getTraceLogSTA(m_id), statistics);
}

bool GHTraceLog::writeStatistic(FILE*& stream, const QString& path, QVector<GHTripStatistic>* statistics)
{
    if (!statistics)
        return false;
    if (!stream) {
        stream = std::fopen(QFile::encodeName(path).constData(), "w+b");
        if (!stream) {
            qWarning("cannot write the statistics %s: %s", qUtf8Printable(path), std::strerror(errno));
            return false;
        }
    }
    return GHToTrainStatXml(statistics).serialize(stream);
}

bool GHTraceLog::writeWorkout(GHWorkout* workout, QVector<GHIntervalLogData>* intervals,
                              QVector<GHTripStatistic>* statistics)
{
    if (!intervals || intervals->isEmpty())
        return true;
    if (!workout)
        return false;
    const QString path = getTraceLogWRK(m_id);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning("cannot write the workout log %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    QXmlStreamWriter writer(&file);
    writer.setCodec("UTF-8");
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(4);
    writer.writeStartElement(QStringLiteral("wrklog"));
    writer.writeAttribute(QStringLiteral("id"), QString::number(workout->wid));
    writer.writeAttribute(QStringLiteral("type"), QString::number(qint32(workout->type)));
    writer.writeAttribute(QStringLiteral("subtype"), QString::number(workout->subtype));
    for (int i = 0; i < intervals->size(); ++i) {
        writer.writeStartElement(QStringLiteral("interval"));
        writer.writeAttribute(QStringLiteral("order"), QString::number(i + 1));
        writer.writeTextElement(QStringLiteral("start"), tm_i2s(intervals->at(i).startTime));
        writer.writeTextElement(QStringLiteral("end"), tm_i2s(intervals->at(i).endTime));
        writer.writeEndElement();
    }
    const QPair<const char*, int> references[] = {
        {"lthr", workout->lthr}, {"mhr", workout->mhr}, {"ftp", workout->ftp}, {"map", workout->map}};
    for (const auto& reference : references) {
        if (reference.second != 0)
            writer.writeTextElement(QLatin1String(reference.first), QString::number(reference.second));
    }
    writer.writeEndElement();
    if (writer.hasError() || !file.commit()) {
        qWarning("cannot write the workout log %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    if (deprecated())
        return true;
    return writeStatistic(m_statistic2, getTraceLogST2(m_id), statistics);
}

void GHTraceLog::setBufferSize(int) {}

bool GHTraceLog::hasStatistic(quint32 id)
{
    return QFileInfo::exists(getTraceLogSTA(id));
}

bool GHTraceLog::readStatistic(quint32 id, GHStatisticReader* reader)
{
    return reader && reader->read(getTraceLogSTA(id));
}

GHTrackDP* GHTraceLog::getRouteDP(GHId id)
{
    if (!GHId::namesHome(id.location))
        return nullptr;
    const QString path = routeGpxFile(GHDeviceDB::homeOf(id.location), id.rowId);
    if (!QFileInfo::exists(path))
        return nullptr;
    GHTrackDP* provider = new GHTrackDP;
    QDate date;
    if (!provider->readRouteOverview(id) || !provider->readGpsData(path, false, date)) {
        delete provider;
        return nullptr;
    }
    return provider;
}

GHTrackDP* GHTraceLog::getTrackDP(GHId id, bool skipCheck)
{
    bool large = false;
    if (!skipCheck) {
        const QFileInfo gps(getTraceLogGPS(quint32(id.rowId)));
        if (!gps.exists())
            return nullptr;
        large = gps.size() >= THIN_FROM_BYTES;
    }
    GHTrackDP* provider = new GHTrackDP;
    if (!provider->readData(id.rowId, large)) {
        delete provider;
        return nullptr;
    }
    return provider;
}

bool GHTraceLog::workoutOfLog(QXmlStreamReader& reader, quint32& wid, QString* idText)
{
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == QLatin1String("wrklog")) {
            bool ok = false;
            const QStringRef id = reader.attributes().value(QLatin1String("id"));
            wid = id.toUInt(&ok, 10);
            if (!ok && idText)
                *idText = id.toString();
            return ok;
        }
    }
    return false;
}

QString GHTraceLog::gpsTrackToGpx(GHId id, bool& uploaded, int flags, std::optional<quint32>* workout)
{
    if (workout)
        workout->reset();
    QStringList columns{QStringLiteral("CreateTime"), QStringLiteral("Uploaded")};
    QVector<QVariant> values;
    GHDeviceDB::getTraceLogData(id, columns, values);
    if (values.size() != 2) {
        qWarning("cannot export ride %d: it has no TraceLog row", id.rowId);
        return QString();
    }
    uploaded = values.at(1).toBool();
    bool ok = false;
    const qlonglong createTime = values.at(0).toLongLong(&ok);
    if (!ok || createTime < 0 || createTime > qlonglong(0xFFFFFFFFu)) {
        qWarning("cannot export ride %d: its CreateTime is no ride id", id.rowId);
        return QString();
    }
    const quint32 fileId = quint32(createTime);

    QString folder = GHDeviceDB::getOutputHome();
    if (folder.isEmpty())
        folder = ms_traceLogHome;
    // The id is a wall-clock time stored as UTC: formatted as UTC it gives back the local time of the start.
    const QString path = folder + QLatin1Char('/') +
                         QDateTime::fromSecsSinceEpoch(qint64(fileId), Qt::UTC).toString(QStringLiteral("yyyyMMddhhmmss")) +
                         QLatin1String(".gpx");

    const QFileInfo gps(getTraceLogGPS(fileId));
    if (!gps.exists()) {
        qWarning("cannot export ride %u: its GPS log %s is missing", fileId, qUtf8Printable(gps.filePath()));
        return QString();
    }
    if ((flags & EXPORT_NEEDS_SENSOR_LOG) && !QFileInfo::exists(getTraceLogTRN(fileId))) {
        qWarning("cannot export ride %u: its sensor log is missing", fileId);
        return QString();
    }
    const bool thin = (flags & EXPORT_THIN) && gps.size() >= THIN_FROM_BYTES;
    GHTrackDP provider;
    if (QFileInfo::exists(getTraceLogTRN(fileId))) {
        if (!provider.readData(int(fileId), thin))
            return QString();
    } else {
        // Without the flag a ride recorded without sensors goes out with its track alone, where reading the ride
        // as a whole would refuse it for the missing log.
        provider.m_id = int(fileId);
        provider.readTrackOverview(GHId(int(fileId), GHId::FLASH));
        QDate date;
        if (!provider.readGpsData(gps.filePath(), thin, date))
            return QString();
    }
    GHGpxWriter writer(QStringLiteral("2.0"), &provider);
    if (!writer.writeFile(path, !(flags & EXPORT_SCRATCH)))
        return QString();
    if (workout)
        *workout = provider.writtenWorkout();
    return path;
}
