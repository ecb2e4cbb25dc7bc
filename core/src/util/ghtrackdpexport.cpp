#include "util/ghtrackdp.h"

#include <QStringList>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include "util/ghtimetext.h"
#include "util/ghtracelog.h"
#include "util/ghxmlsupport.h"

namespace {

// Column indices of m_trackOverview that the export writes.
enum TrackColumn {
    TITLE = 0,
    ABSTRACT = 1,
    AUTHOR = 3,
    START_COUNTRY = 8,
    END_COUNTRY = 9,
    START_PLACE = 10,
    END_PLACE = 11,
    ACTIVITY_TYPE = 12,
    ROUTE_TYPE = 13,
    START_TIME = 14,
    END_TIME = 15,
    TOTAL_LENGTH = 16,
};

// Plain string order, as the devices have always compared format versions.
const char LAST_WHOLE_UNIT_VERSION[] = "0.2.1.2";   // whole metres, kilometres per hour, whole barometer units
const char FIRST_METRE_PER_MINUTE_VERSION[] = "0.2.1.2";
const char LAST_WITHOUT_POWER_VERSION[] = "0.2.1.4";
const char FIRST_OWN_SYSTEM_VERSION[] = "0.2.1.7";

const quint8 NO_HEART_RATE = 255;
const quint8 NO_CADENCE = 255;
const quint16 NO_SENSOR_SPEED = 0xFFFF;
const qint16 NO_TEMPERATURE = 32767;
const quint16 NO_POWER = 0xFFFF;
const qint32 NO_BAROMETER = 0x7FFFFFFF;

const char SHARE_TYPE_RIDE[] = "2";
const char BREAK_TYPE_PAUSE[] = "2";

// value / 10^decimals with exactly that many decimals, from the integer so that no binary fraction rounds.
QString scaled(qint64 value, int decimals)
{
    qint64 divisor = 1;
    for (int i = 0; i < decimals; ++i)
        divisor *= 10;
    const bool negative = value < 0;
    const quint64 magnitude = negative ? quint64(-(value + 1)) + 1 : quint64(value);
    QString text = QString::number(magnitude / quint64(divisor));
    if (decimals > 0)
        text += QLatin1Char('.') + QString::number(magnitude % quint64(divisor)).rightJustified(decimals, QLatin1Char('0'));
    return negative ? QLatin1Char('-') + text : text;
}

// Millionths of a degree in the elements' and attributes' six decimals.
QString sixDecimals(qint32 millionths)
{
    return scaled(millionths, 6);
}

// ... and in the maps' shortest form of up to nine significant digits.
QString nineDigits(qint32 millionths)
{
    return QString::number(millionths / 1000000.0, 'g', 9);
}

void writeText(QXmlStreamWriter& writer, const char* name, const QString& text)
{
    writer.writeTextElement(QLatin1String(name), text);
}

} // namespace

bool GHTrackDP::overviewTime(int index, quint32& seconds) const
{
    if (index >= m_trackOverview.size())
        return false;
    const QVariant& value = m_trackOverview.at(index);
    if (value.isNull())
        return false;
    bool ok = false;
    const qlonglong number = value.toString().toLongLong(&ok);
    if (!ok || number < 0 || number > qlonglong(0xFFFFFFFFu))
        return false;
    seconds = quint32(number);
    return true;
}

QString GHTrackDP::overviewText(int index) const
{
    return index < m_trackOverview.size() ? m_trackOverview.at(index).toString() : QString();
}

QString GHTrackDP::sysVersionText() const
{
    const QString current = GHTraceLog::getSystemVersion();
    if (m_logVersion < QLatin1String(FIRST_OWN_SYSTEM_VERSION))
        return current;
    QString text = m_systemVersion;
    const QStringList words = current.split(QLatin1Char(' '));
    if (words.size() == 2 && words.at(1).startsWith(QLatin1String("JX")))
        text += QLatin1Char(' ') + words.at(1);
    return text;
}

QString GHTrackDP::altitudeText(qint16 altitude) const
{
    if (m_logVersion <= QLatin1String(LAST_WHOLE_UNIT_VERSION))
        return QString::number(altitude);
    return scaled(altitude, 1);
}

QString GHTrackDP::speedText(quint16 speed) const
{
    if (m_logVersion < QLatin1String(FIRST_METRE_PER_MINUTE_VERSION))
        return QString::number(double(speed), 'f', 1);
    return QString::number(speed * 60.0 / 1000.0, 'f', 1);
}

void GHTrackDP::writeMeta(QXmlStreamWriter& writer)
{
    // Without the ride's row there is nothing to say about it.
    if (m_trackOverview.size() < TRACK_COLUMNS)
        return;
    writer.writeStartElement(QStringLiteral("metadata"));
    GHXmlSupport::writeTextIfSet(writer, "name", overviewText(TITLE));
    GHXmlSupport::writeTextIfSet(writer, "desc", overviewText(ABSTRACT));
    const QString author = GHXmlSupport::xmlText(overviewText(AUTHOR));
    if (!author.isEmpty()) {
        writer.writeStartElement(QStringLiteral("author"));
        writeText(writer, "name", author);
        writer.writeEndElement();
    }
    quint32 start = 0;
    quint32 end = 0;
    const bool hasStart = overviewTime(START_TIME, start);
    const bool hasEnd = overviewTime(END_TIME, end);
    if (hasStart)
        writeText(writer, "time", tm_i2s(start));

    writer.writeEmptyElement(QStringLiteral("bounds"));
    writer.writeAttribute(QStringLiteral("minlat"), sixDecimals(m_minLat));
    writer.writeAttribute(QStringLiteral("minlon"), sixDecimals(m_minLon));
    writer.writeAttribute(QStringLiteral("maxlat"), sixDecimals(m_maxLat));
    writer.writeAttribute(QStringLiteral("maxlon"), sixDecimals(m_maxLon));

    writer.writeStartElement(QStringLiteral("extensions"));
    GHXmlSupport::copyXmlFile(writer, GHTraceLog::getTraceLogUSR(quint32(m_id)));

    writer.writeStartElement(QStringLiteral("sys"));
    GHXmlSupport::writeAttribute(writer, "version", sysVersionText());
    writer.writeCharacters(GHXmlSupport::xmlText(GHTraceLog::getModelName()));
    writer.writeStartElement(QStringLiteral("apps"));
    writer.writeEmptyElement(QStringLiteral("app"));
    writer.writeAttribute(QStringLiteral("name"), QStringLiteral("log"));
    writer.writeAttribute(QStringLiteral("version"), m_logVersion);
    writer.writeEndElement(); // apps
    writer.writeEndElement(); // sys

    writeText(writer, "sharetype", QLatin1String(SHARE_TYPE_RIDE));
    GHXmlSupport::writeTextIfSet(writer, "sctry", overviewText(START_COUNTRY));
    GHXmlSupport::writeTextIfSet(writer, "ectry", overviewText(END_COUNTRY));
    GHXmlSupport::writeTextIfSet(writer, "splace", overviewText(START_PLACE));
    GHXmlSupport::writeTextIfSet(writer, "eplace", overviewText(END_PLACE));
    const QString activity = GHXmlSupport::xmlText(overviewText(ACTIVITY_TYPE));
    if (!activity.isEmpty()) {
        writer.writeStartElement(QStringLiteral("acttype"));
        writer.writeAttribute(QStringLiteral("subtype"), QStringLiteral("1"));
        writer.writeCharacters(activity);
        writer.writeEndElement();
    }
    if (hasStart)
        writeText(writer, "stime", tm_i2s(start));
    if (hasEnd)
        writeText(writer, "etime", tm_i2s(end));
    if (hasStart && hasEnd)
        writeText(writer, "trvTime", QString::number((qint64(end) - qint64(start)) / 60));
    GHXmlSupport::writeTextIfSet(writer, "trvDist", overviewText(TOTAL_LENGTH));
    writer.writeEndElement(); // extensions
    writer.writeEndElement(); // metadata
}

void GHTrackDP::writeRte(QXmlStreamWriter& writer)
{
    if (m_trackPoints.size() < 2)
        return;
    writer.writeStartElement(QStringLiteral("rte"));
    writeText(writer, "number", QStringLiteral("2"));
    for (const GHPSFRecord* point : {&m_trackPoints.first(), &m_trackPoints.last()}) {
        writer.writeEmptyElement(QStringLiteral("rtept"));
        writer.writeAttribute(QStringLiteral("lat"), sixDecimals(point->latitude));
        writer.writeAttribute(QStringLiteral("lon"), sixDecimals(point->longitude));
    }
    writer.writeEndElement();
}

void GHTrackDP::writeTrk(QXmlStreamWriter& writer)
{
    const int count = m_trackPoints.size();
    if (count < 2)
        return;
    writer.writeStartElement(QStringLiteral("trk"));
    writer.writeStartElement(QStringLiteral("trkseg"));
    for (int i = 0; i < count; ++i) {
        const GHPSFRecord& point = m_trackPoints.at(i);
        writer.writeStartElement(QStringLiteral("trkpt"));
        writer.writeAttribute(QStringLiteral("lat"), sixDecimals(point.latitude));
        writer.writeAttribute(QStringLiteral("lon"), sixDecimals(point.longitude));
        writeText(writer, "ele", altitudeText(point.altitude));
        writeText(writer, "time", tm_i2s(point.time));
        writeText(writer, "magvar", QString::number(point.bearing));
        writer.writeEndElement();
        if (point.marks & 1) {
            writer.writeStartElement(QStringLiteral("extensions"));
            writeText(writer, "breaktype", QLatin1String(BREAK_TYPE_PAUSE));
            writer.writeEndElement();
            writer.writeEndElement(); // trkseg
            // A pause after the last point leaves no empty segment behind.
            if (i + 1 < count)
                writer.writeStartElement(QStringLiteral("trkseg"));
            else
                break;
        }
        if (i + 1 == count)
            writer.writeEndElement(); // trkseg
    }
    writer.writeEndElement(); // trk
}

void GHTrackDP::writeWpt(QXmlStreamWriter&) {}

void GHTrackDP::writeExtensions(QXmlStreamWriter& writer)
{
    const int count = m_sensorRecords.size();
    if (count == 0)
        return;
    writer.writeStartElement(QStringLiteral("extensions"));
    writer.writeStartElement(QStringLiteral("ssrlog"));
    writer.writeStartElement(QStringLiteral("logseg"));
    for (int i = 0; i < count; ++i) {
        const GHPSFSensorRecord& record = m_sensorRecords.at(i);
        writer.writeStartElement(QStringLiteral("logpt"));
        writer.writeAttribute(QStringLiteral("time"), tm_i2s(record.time));
        if (record.hrm != NO_HEART_RATE)
            writeText(writer, "hrm", QString::number(record.hrm));
        if (record.cad != NO_CADENCE)
            writeText(writer, "cad", QString::number(record.cad));
        // Without a wheel sensor the GPS speed stands in.
        if (record.spd != NO_SENSOR_SPEED)
            writeText(writer, "spd", speedText(record.spd));
        else if (record.gps != NO_SENSOR_SPEED)
            writeText(writer, "spd", speedText(record.gps));
        if (record.tmp != NO_TEMPERATURE)
            writeText(writer, "tmp", QString::number(record.tmp));
        if (record.pwr != NO_POWER)
            writeText(writer, "pwr", QString::number(record.pwr));
        if (record.brm != NO_BAROMETER)
            writeText(writer, "brm", scaled(record.brm, 2));
        writer.writeEndElement(); // logpt
        if (record.marks & 1) {
            writeText(writer, "breaktype", QLatin1String(BREAK_TYPE_PAUSE));
            writer.writeEndElement(); // logseg
            if (i + 1 < count)
                writer.writeStartElement(QStringLiteral("logseg"));
            else
                break;
        }
        if (i + 1 == count)
            writer.writeEndElement(); // logseg
    }
    writer.writeEndElement(); // ssrlog
    _writeWorkoutLog(writer);
    _writeLaps(writer);
    _writeWorkoutPlan(writer);
    writer.writeEndElement(); // extensions
}

// A side file that does not parse whole is left out rather than copied in part: a partial copy would leave its
// elements open around everything written after it.
void GHTrackDP::_writeWorkoutLog(QXmlStreamWriter& writer)
{
    m_writtenWorkout.reset();
    QByteArray log;
    if (!GHXmlSupport::copyXmlFile(writer, GHTraceLog::getTraceLogWRK(quint32(m_id)), &log))
        return;
    QXmlStreamReader reader(log);
    quint32 wid = 0;
    if (GHTraceLog::workoutOfLog(reader, wid))
        m_writtenWorkout = wid;
}

void GHTrackDP::_writeLaps(QXmlStreamWriter& writer)
{
    GHXmlSupport::copyXmlFile(writer, GHTraceLog::getTraceLogSTA(quint32(m_id)));
}

void GHTrackDP::_writeWorkoutPlan(QXmlStreamWriter& writer)
{
    GHXmlSupport::copyXmlFile(writer, GHTraceLog::getTraceLogPLN(quint32(m_id)));
}

void GHTrackDP::getRouteMeta(QMap<QString, QString>& data)
{
    if (m_routeOverview.size() < ROUTE_COLUMNS)
        return;
    data.insert(QStringLiteral("name"), m_routeOverview.at(0).toString());
    data.insert(QStringLiteral("x_trvTime"), m_routeOverview.at(1).toString());
    data.insert(QStringLiteral("x_trvDist"), m_routeOverview.at(2).toString());
}

void GHTrackDP::getMetaData(QMap<QString, QString>& data)
{
    if (m_trackOverview.size() < TRACK_COLUMNS)
        return;
    quint32 start = 0;
    quint32 end = 0;
    const bool hasStart = overviewTime(START_TIME, start);
    const bool hasEnd = overviewTime(END_TIME, end);
    data.insert(QStringLiteral("name"), overviewText(TITLE));
    data.insert(QStringLiteral("desc"), overviewText(ABSTRACT));
    if (hasStart)
        data.insert(QStringLiteral("time"), tm_i2s(start));
    data.insert(QStringLiteral("author"), overviewText(AUTHOR));
    data.insert(QStringLiteral("bounds_minlat"), nineDigits(m_minLat));
    data.insert(QStringLiteral("bounds_minlon"), nineDigits(m_minLon));
    data.insert(QStringLiteral("bounds_maxlat"), nineDigits(m_maxLat));
    data.insert(QStringLiteral("bounds_maxlon"), nineDigits(m_maxLon));
    data.insert(QStringLiteral("extensions"), QString());
    data.insert(QStringLiteral("x_logversion"), m_logVersion);
    data.insert(QStringLiteral("x_sharetype"), QLatin1String(SHARE_TYPE_RIDE));
    data.insert(QStringLiteral("x_sctry"), overviewText(START_COUNTRY));
    data.insert(QStringLiteral("x_ectry"), overviewText(END_COUNTRY));
    data.insert(QStringLiteral("x_splace"), overviewText(START_PLACE));
    data.insert(QStringLiteral("x_eplace"), overviewText(END_PLACE));
    data.insert(QStringLiteral("x_acttype"), overviewText(ACTIVITY_TYPE));
    data.insert(QStringLiteral("x_rtetype"), overviewText(ROUTE_TYPE));
    data.insert(QStringLiteral("x_trvDist"), overviewText(TOTAL_LENGTH));
    if (hasStart)
        data.insert(QStringLiteral("x_stime"), QString::number(start));
    if (hasEnd)
        data.insert(QStringLiteral("x_etime"), QString::number(end));
    if (hasStart && hasEnd)
        data.insert(QStringLiteral("x_trvTime"), QString::number((qint64(end) - qint64(start)) / 60));
}

int GHTrackDP::getRteCount()
{
    return m_trackPoints.size() >= 2 ? 1 : 0;
}

void GHTrackDP::getRteData(int route, QMap<QString, QString>& data)
{
    if (route != 0)
        return;
    data.insert(QStringLiteral("number"), QString::number(getRteptCount(0)));
}

int GHTrackDP::getRteptCount(int route)
{
    if (route != 0)
        return 0;
    return m_routePoints.isEmpty() ? 2 : m_routePoints.size();
}

void GHTrackDP::getRteptData(int route, int point, QMap<QString, QString>& data)
{
    const GHPSFRecord* record = nullptr;
    if (route == 0 && point >= 0) {
        if (!m_routePoints.isEmpty()) {
            if (point < m_routePoints.size())
                record = &m_routePoints.at(point);
        } else if (point == 0 && !m_trackPoints.isEmpty()) {
            record = &m_trackPoints.first();
        } else if (point == 1 && m_trackPoints.size() >= 2) {
            record = &m_trackPoints.last();
        }
    }
    data.insert(QStringLiteral("rtept_lat"), record ? nineDigits(record->latitude) : QStringLiteral("0"));
    data.insert(QStringLiteral("rtept_lon"), record ? nineDigits(record->longitude) : QStringLiteral("0"));
}

int GHTrackDP::getTrkCount()
{
    return m_trackPoints.isEmpty() ? 0 : 1;
}

int GHTrackDP::getTrksegCount(int)
{
    return 1;
}

int GHTrackDP::getTrkptCount(int, int)
{
    return m_trackPoints.size();
}

void GHTrackDP::getTrkptData(int, int, int point, QMap<QString, QString>& data)
{
    if (point < 0 || point >= m_trackPoints.size())
        return;
    const GHPSFRecord& record = m_trackPoints.at(point);
    data.insert(QStringLiteral("trkpt_lat"), nineDigits(record.latitude));
    data.insert(QStringLiteral("trkpt_lon"), nineDigits(record.longitude));
    data.insert(QStringLiteral("ele"), altitudeText(record.altitude));
    data.insert(QStringLiteral("magvar"), QString::number(record.bearing));
    data.insert(QStringLiteral("time"), tm_i2s(record.time));
    data.insert(QStringLiteral("extensions"), QString());
    data.insert(QStringLiteral("x_speed"), QString::number(record.speed));
}

const QVector<GHPSFRecord>& GHTrackDP::getTrkptArray()
{
    return m_trackPoints;
}

bool GHTrackDP::hasExtensions()
{
    return !m_sensorRecords.isEmpty();
}

int GHTrackDP::getLogptCount()
{
    return m_sensorRecords.size();
}

void GHTrackDP::getLogptData(int index, QMap<QString, QString>& data)
{
    if (index < 0 || index >= m_sensorRecords.size())
        return;
    const GHPSFSensorRecord& record = m_sensorRecords.at(index);
    const bool wholeUnits = m_logVersion <= QLatin1String(LAST_WHOLE_UNIT_VERSION);
    data.insert(QStringLiteral("logpt_time"), tm_i2s(record.time));
    if (record.hrm != NO_HEART_RATE)
        data.insert(QStringLiteral("hrm"), QString::number(record.hrm));
    if (record.cad != NO_CADENCE)
        data.insert(QStringLiteral("cad"), QString::number(record.cad));
    if (record.spd != NO_SENSOR_SPEED)
        data.insert(QStringLiteral("spd"), speedText(record.spd));
    if (record.tmp != NO_TEMPERATURE)
        data.insert(QStringLiteral("tmp"), QString::number(record.tmp));
    if (m_logVersion > QLatin1String(LAST_WITHOUT_POWER_VERSION) && record.pwr != NO_POWER)
        data.insert(QStringLiteral("pwr"), QString::number(record.pwr));
    if (record.brm != NO_BAROMETER)
        data.insert(QStringLiteral("brm"), wholeUnits ? QString::number(record.brm) : scaled(record.brm, 2));
    if (record.pdm != 0)
        data.insert(QStringLiteral("pdm"), QString::number(record.pdm));
    if (record.gps != NO_SENSOR_SPEED)
        data.insert(QStringLiteral("gps"), speedText(record.gps));
}
