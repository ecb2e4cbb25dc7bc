#include "util/ghbinarylogger.h"

#include <QDataStream>
#include <QFile>
#include <QStringList>

#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/ghgpx2.h"
#include "util/ghgpxroute.h"
#include "util/ghgpxtrack.h"
#include "util/ghpack.h"
#include "util/ghtimetext.h"

// GHBinaryLogger::ms_systemVersion is defined with the other trace-log settings, in ghtracelog.cpp.

namespace {

// The format version that this writer produces; readers accept any that begins 0, 2.
const quint8 WRITTEN_VERSION[4] = {0, 2, 1, 8};
const char GPS_LOG_TYPE[] = "gps track";
const char SENSOR_LOG_TYPE[] = "sensor value";
// Records reach the disk at least this often even without an event.
const quint32 FLUSH_EVERY = 10;

// Little-endian, as every integer of the header.
void putHeaderWord(quint8* header, int offset, quint32 value)
{
    Convert_ULONG_To_Bytes(value, header + offset + 3, header + offset + 2, header + offset + 1, header + offset);
}

// The ASCII text of a NUL-padded field, which need not hold a NUL.
QString fieldText(const char* bytes, int offset, int size)
{
    const void* end = std::memchr(bytes + offset, 0, size_t(size));
    const int length = end ? int(static_cast<const char*>(end) - (bytes + offset)) : size;
    return QString::fromLatin1(bytes + offset, length);
}

} // namespace

GHBinaryLogger::GHBinaryLogger() : m_gpsLog(nullptr), m_sensorLog(nullptr), m_gpsRecords(0), m_sensorRecords(0)
{
}

GHBinaryLogger::~GHBinaryLogger()
{
    closeLog(m_gpsLog, m_gpsRecords);
    closeLog(m_sensorLog, m_sensorRecords);
}

bool GHBinaryLogger::createGpsLog(const QString& path)
{
    return createLog(m_gpsLog, m_gpsRecords, path, QLatin1String(GPS_LOG_TYPE));
}

bool GHBinaryLogger::createSensorLog(const QString& path)
{
    return createLog(m_sensorLog, m_sensorRecords, path, QLatin1String(SENSOR_LOG_TYPE));
}

bool GHBinaryLogger::createLog(FILE*& file, quint32& count, const QString& path, const QString& type)
{
    closeLog(file, count);
    count = 0;
    // glibc would take the "c" of the historical "w+bc" for a flag of its own. The path goes through the file-name
    // encoding so that folders with non-ASCII names work.
    FILE* created = std::fopen(QFile::encodeName(path).constData(), "w+b");
    if (!created) {
        qWarning("cannot create the ride log %s: %s", qUtf8Printable(path), std::strerror(errno));
        return false;
    }
    // A version followed by a device code keeps only the version.
    QString version = ms_systemVersion;
    const QStringList words = version.split(QLatin1Char(' '));
    if (words.size() == 2)
        version = words.first();
    if (!_writeHeader(created, 0, version, type, 0)) {
        qWarning("cannot write the header of the ride log %s: %s", qUtf8Printable(path), std::strerror(errno));
        std::fclose(created);
        // Freshly truncated by us: nothing of value is lost, and no log without a whole header stays behind.
        QFile::remove(path);
        return false;
    }
    file = created;
    return true;
}

void GHBinaryLogger::closeLog(FILE*& file, quint32 count)
{
    if (!file)
        return;
    if (!_updateHeaderWord(file, GHPSFHeader::COUNT_OFFSET, count))
        qWarning("cannot write the record count %u into a ride log's header", count);
    if (std::fclose(file) != 0)
        qWarning("closing a ride log failed: %s", std::strerror(errno));
    file = nullptr;
}

bool GHBinaryLogger::_writeHeader(FILE* file, quint32 time, const QString& version, const QString& type, int count)
{
    if (!file)
        return false;
    quint8 header[GHPSFHeader::SIZE] = {};
    const QByteArray typeBytes = type.left(GHPSFHeader::TYPE_SIZE).toLatin1();
    std::memcpy(header + GHPSFHeader::TYPE_OFFSET, typeBytes.constData(), size_t(typeBytes.size()));
    std::memcpy(header + GHPSFHeader::VERSION_OFFSET, WRITTEN_VERSION, sizeof WRITTEN_VERSION);
    putHeaderWord(header, GHPSFHeader::CREATE_TIME_OFFSET, time);
    putHeaderWord(header, GHPSFHeader::START_TIME_OFFSET, time);
    // One byte stays for the terminating NUL.
    const QByteArray versionBytes = version.left(GHPSFHeader::SYSTEM_VERSION_SIZE - 1).toLatin1();
    std::memcpy(header + GHPSFHeader::SYSTEM_VERSION_OFFSET, versionBytes.constData(), size_t(versionBytes.size()));
    putHeaderWord(header, GHPSFHeader::COUNT_OFFSET, quint32(count));
    return std::fseek(file, 0, SEEK_SET) == 0 && std::fwrite(header, 1, sizeof header, file) == sizeof header &&
           std::fflush(file) == 0;
}

bool GHBinaryLogger::_updateHeaderWord(FILE* file, int offset, quint32 value)
{
    quint8 bytes[4];
    putHeaderWord(bytes, 0, value);
    return _updateHeader(file, bytes, 4, offset);
}

bool GHBinaryLogger::_updateHeader(FILE* file, const quint8* bytes, int length, int offset)
{
    if (!file || !bytes || offset < 0 || length < 0 || length > GHPSFHeader::SIZE - offset) {
        qWarning("a ride-log header patch of %d bytes at %d is outside the header", length, offset);
        return false;
    }
    std::fflush(file);
    const long position = std::ftell(file);
    if (position < 0)
        return false;
    bool written = std::fseek(file, offset, SEEK_SET) == 0 &&
                   std::fwrite(bytes, 1, size_t(length), file) == size_t(length) && std::fflush(file) == 0;
    if (std::fseek(file, position, SEEK_SET) != 0)
        written = false;
    return written;
}

bool GHBinaryLogger::appendRecord(FILE* file, quint32& count, const char* bytes, int size)
{
    if (!file)
        return false;
    // Records follow the header without a gap, so the count says where this one begins; asking the stream (ftell)
    // would cost a system call per record.
    const long position = long(GHPSFHeader::SIZE) + long(count) * size;
    if (std::fwrite(bytes, 1, size_t(size), file) == size_t(size)) {
        ++count;
        if (count % FLUSH_EVERY != 0 || std::fflush(file) == 0)
            return true;
        // The records since the last flush may never have reached the disk although each was reported written:
        // count only whole records that are in the file, and cut it after the last one.
        const int error = errno;
        __fpurge(file);
        std::clearerr(file);
        struct stat status;
        if (::fstat(fileno(file), &status) == 0 && status.st_size >= GHPSFHeader::SIZE) {
            count = qMin(count, quint32((status.st_size - GHPSFHeader::SIZE) / size));
            const off_t end = off_t(GHPSFHeader::SIZE) + off_t(count) * size;
            if (::ftruncate(fileno(file), end) != 0 || std::fseek(file, long(end), SEEK_SET) != 0)
                qWarning("cannot cut a ride log after its last whole record: %s", std::strerror(errno));
        }
        qWarning("cannot write ride-log records to the disk: %s; the log keeps %u records", std::strerror(error),
                 count);
        return false;
    }
    qWarning("short write of a ride-log record: %s", std::strerror(errno));
    // Back to where the record began, so that the next one overwrites the partial bytes.
    std::clearerr(file);
    std::fseek(file, position, SEEK_SET);
    return false;
}

bool GHBinaryLogger::writeRecord(const GHPSFRecord& record)
{
    char bytes[GHPSFRecord::SIZE];
    record.toBytes(bytes);
    return appendRecord(m_gpsLog, m_gpsRecords, bytes, GHPSFRecord::SIZE);
}

bool GHBinaryLogger::writeRecord(const GHPSFSensorRecord& record)
{
    char bytes[GHPSFSensorRecord::SIZE];
    record.toBytes(bytes);
    return appendRecord(m_sensorLog, m_sensorRecords, bytes, GHPSFSensorRecord::SIZE);
}

bool GHBinaryLogger::writeEvent(quint32 time, int code)
{
    if (m_gpsLog) {
        GHPSFRecord event;
        event.longitude = code;
        event.typeFlag = GHPSFRecord::EVENT_FLAG;
        event.time = time;
        if (!writeRecord(event))
            return false;
    }
    if (m_sensorLog) {
        GHPSFSensorRecord event;
        event.time = time;
        event.hrm = GHPSFSensorRecord::EVENT_MARK;
        event.cad = GHPSFSensorRecord::EVENT_MARK;
        event.pdm = quint32(code);
        if (!writeRecord(event))
            return false;
    }
    flush();
    return true;
}

void GHBinaryLogger::flush()
{
    for (FILE* file : {m_gpsLog, m_sensorLog}) {
        if (file && std::fflush(file) != 0)
            qWarning("flushing a ride log failed: %s", std::strerror(errno));
    }
}

bool GHBinaryLogger::readHeader(QDataStream& stream, GHPSFHeader& header)
{
    char bytes[GHPSFHeader::SIZE];
    const int got = stream.readRawData(bytes, GHPSFHeader::SIZE);
    if (got != GHPSFHeader::SIZE) {
        qWarning("a ride-log header has %d of its %d bytes", qMax(got, 0), GHPSFHeader::SIZE);
        return false;
    }
    const char* version = bytes + GHPSFHeader::VERSION_OFFSET;
    if (version[0] != 0 || version[1] != 2) {
        qWarning("ride-log format %d.%d.%d.%d is not one of 0.2", qint8(version[0]), qint8(version[1]),
                 qint8(version[2]), qint8(version[3]));
        return false;
    }
    header.type = fieldText(bytes, GHPSFHeader::TYPE_OFFSET, GHPSFHeader::TYPE_SIZE);
    for (int i = 0; i < 4; ++i)
        header.version[i] = qint8(version[i]);
    header.createTime = 0;
    header.startTime = 0;
    header.reserved = fieldText(bytes, GHPSFHeader::RESERVED_OFFSET, GHPSFHeader::RESERVED_SIZE);
    header.systemVersion =
        fieldText(bytes, GHPSFHeader::SYSTEM_VERSION_OFFSET, GHPSFHeader::SYSTEM_VERSION_SIZE - 1);
    const quint8* count = reinterpret_cast<const quint8*>(bytes + GHPSFHeader::COUNT_OFFSET);
    header.count = int(Convert_Bytes_To_ULONG(count[3], count[2], count[1], count[0]));
    return true;
}

quint32 convertTypeFlag(const QString& type)
{
    // Most points carry no type or a single small number; they need no list of parts.
    if (type.isEmpty())
        return 0;
    if (type.size() <= 9) {
        quint32 value = 0;
        bool digitsOnly = true;
        for (const QChar c : type) {
            if (c.unicode() < '0' || c.unicode() > '9') {
                digitsOnly = false;
                break;
            }
            value = value * 10 + (c.unicode() - '0');
        }
        if (digitsOnly)
            return value;
    }
    quint32 flags = 0;
    for (const QString& part : type.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const uint value = part.toUInt(&ok, 10);
        if (ok)
            flags |= value;
    }
    return flags;
}

namespace {

enum class FieldState { Empty, Number, Unreadable };

// Reads a number field of a point as the C locale writes it, whatever the process's locale: blanks around it and a
// leading "+" are allowed, anything else after the number is not. "nan" and "inf" are read as such, so the callers
// decide about them.
template<typename T>
FieldState readNumber(const QString& text, T& value)
{
    const QChar* begin = text.constData();
    const QChar* end = begin + text.size();
    while (begin < end && begin->isSpace())
        ++begin;
    while (end > begin && (end - 1)->isSpace())
        --end;
    if (begin == end)
        return FieldState::Empty;
    if (begin->unicode() == '+')
        ++begin;
    char ascii[64];
    const int length = int(end - begin);
    if (length <= 0 || length > int(sizeof ascii))
        return FieldState::Unreadable;
    for (int i = 0; i < length; ++i) {
        const ushort c = begin[i].unicode();
        if (c > 0x7F)
            return FieldState::Unreadable;
        ascii[i] = char(c);
    }
    const std::from_chars_result result = std::from_chars(ascii, ascii + length, value);
    return result.ec == std::errc() && result.ptr == ascii + length ? FieldState::Number : FieldState::Unreadable;
}

// The texts of a document are small separate blocks on the heap, one cache miss each: asking for those of a point a
// few places ahead lets their loads overlap the conversion of this one, which more than halves the time of a long
// track.
const int PREFETCH_AHEAD = 8;

void prefetchTexts(const GHGpxTrackPoint& point)
{
#if defined(Q_CC_GNU)
    for (const QString* text : {&point.lat, &point.lon, &point.ele, &point.time, &point.speed, &point.magvar})
        __builtin_prefetch(const_cast<QString*>(text)->data_ptr());
#else
    Q_UNUSED(point);
#endif
}

// Converts the texts of one point into a record; counts what it had to change so that one warning can say so.
struct PointConverter
{
    int unreadable = 0;
    int saturated = 0;

    // Millionths of a degree in single precision, as the devices compute them; false when they do not fit the
    // record (or the text is no number), so that no out-of-range float is ever cast.
    bool position(const QString& text, qint32& millionths)
    {
        float degrees = 0;
        const FieldState state = readNumber(text, degrees);
        if (state == FieldState::Empty) {
            millionths = 0;
            return true;
        }
        const float scaled = degrees * 1000000.0f;
        if (state == FieldState::Unreadable || !(scaled >= -2147483648.0f && scaled < 2147483648.0f))
            return false;
        millionths = qint32(scaled);
        return true;
    }

    // A whole number of the field's unit, kept below the field's "none" value (and above its lowest value).
    template<typename T>
    T clamped(double value, double lowest, double highest)
    {
        if (value < lowest) {
            ++saturated;
            return T(lowest);
        }
        if (value >= highest + 1) {
            ++saturated;
            return T(highest);
        }
        return T(std::trunc(value));
    }

    // A signed field in units of 1/scale of the text's unit, or none when the text is empty or no number.
    qint16 signedField(const QString& text, double scale, qint16 none)
    {
        double value = 0;
        const FieldState state = readNumber(text, value);
        if (state == FieldState::Empty)
            return none;
        if (state == FieldState::Unreadable || std::isnan(value)) {
            ++unreadable;
            return none;
        }
        return clamped<qint16>(value * scale, -32768, none - 1);
    }

    qint16 altitude(const QString& ele) { return signedField(ele, 10, GHPSFRecord::NO_ALTITUDE); }

    qint16 bearing(const QString& magvar) { return signedField(magvar, 1, GHPSFRecord::NO_BEARING); }

    // Kilometres per hour in, metres per minute out, in single precision; a negative speed is stored as standing.
    quint16 speed(const QString& text)
    {
        float kmh = 0;
        const FieldState state = readNumber(text, kmh);
        if (state == FieldState::Empty)
            return GHPSFRecord::NO_SPEED;
        if (state == FieldState::Unreadable || std::isnan(kmh)) {
            ++unreadable;
            return GHPSFRecord::NO_SPEED;
        }
        const float metresPerMinute = kmh * 1000.0f / 60.0f;
        return clamped<quint16>(metresPerMinute, 0, GHPSFRecord::NO_SPEED - 1);
    }

    quint32 time(const QString& text)
    {
        if (text.isEmpty())
            return 0;
        const quint32 seconds = tm_s2i(text);
        if (seconds == 0 && text != QLatin1String("1970-01-01T00:00:00Z"))
            ++unreadable;
        return seconds;
    }

    bool trackRecord(const GHGpxTrackPoint& point, GHPSFRecord& record)
    {
        if (!position(point.lat, record.latitude) || !position(point.lon, record.longitude))
            return false;
        record.altitude = altitude(point.ele);
        record.bearing = bearing(point.magvar);
        record.speed = speed(point.speed);
        record.typeFlag = qint16(convertTypeFlag(point.type));
        record.time = time(point.time);
        return true;
    }

    // Readers use only the position and the flag of a route point; the other fields say "none".
    bool routeRecord(const GHGpxRoutePoint& point, GHPSFRecord& record)
    {
        if (!position(point.lat, record.latitude) || !position(point.lon, record.longitude))
            return false;
        record.altitude = GHPSFRecord::NO_ALTITUDE;
        record.bearing = GHPSFRecord::NO_BEARING;
        record.speed = GHPSFRecord::NO_SPEED;
        record.typeFlag = qint16(convertTypeFlag(point.type) + GHPSFRecord::ROUTE_POINT_BIT);
        record.time = 0;
        return true;
    }
};

// Collects records and writes them a block at a time: a conversion either completes or fails as a whole for its
// caller, so it needs none of the recording path's flushes every ten records. After a failed block the file itself
// says how many records reached it.
class RecordBlockWriter
{
public:
    RecordBlockWriter(FILE* file, quint32& count) : m_file(file), m_count(count), m_bytes(BLOCK_RECORDS * SIZE) {}

    bool add(const GHPSFRecord& record)
    {
        record.toBytes(m_bytes.data() + m_pending * SIZE);
        return ++m_pending < BLOCK_RECORDS || writeOut();
    }

    // Writes what is pending and makes sure it reached the file.
    bool finish() { return writeOut(); }

private:
    static constexpr int SIZE = GHPSFRecord::SIZE;
    static constexpr int BLOCK_RECORDS = 4096;

    bool writeOut()
    {
        const size_t size = size_t(m_pending) * SIZE;
        const bool written = std::fwrite(m_bytes.data(), 1, size, m_file) == size && std::fflush(m_file) == 0;
        if (written) {
            m_count += quint32(m_pending);
        } else {
            const int error = errno;
            // Only whole records that are in the file count; a partial one at the end is not read back.
            struct stat status;
            if (::fstat(fileno(m_file), &status) == 0 && status.st_size >= GHPSFHeader::SIZE)
                m_count = qMin(m_count + quint32(m_pending), quint32((status.st_size - GHPSFHeader::SIZE) / SIZE));
            errno = error;
        }
        m_pending = 0;
        return written;
    }

    FILE* m_file;
    quint32& m_count;
    std::vector<char> m_bytes;
    int m_pending = 0;
};

} // namespace

bool GHBinaryLogger::saveGpsData(const QString& path, const GHGpx2& gpx)
{
    GHBinaryLogger logger;
    if (!logger.createGpsLog(path))
        return false;
    GHPSFRecord::timebase = 0;
    PointConverter converter;
    RecordBlockWriter writer(logger.m_gpsLog, logger.m_gpsRecords);
    int skipped = 0;
    bool written = true;

    if (gpx.track) {
        const QVector<GHGpxTrackSegment*>& segments = gpx.track->segments;
        for (int s = 0; s < segments.size() && written; ++s) {
            GHPSFRecord last;
            bool hasLast = false;
            const QVector<GHGpxTrackPoint*>& points = segments[s]->points;
            for (int i = 0; i < points.size(); ++i) {
                const GHGpxTrackPoint* point = points[i];
                if (i + PREFETCH_AHEAD < points.size())
                    prefetchTexts(*points[i + PREFETCH_AHEAD]);
                GHPSFRecord record;
                if (!converter.trackRecord(*point, record)) {
                    ++skipped;
                    continue;
                }
                if (!(written = writer.add(record)))
                    break;
                last = record;
                hasLast = true;
            }
            // Tells readers that the segment ends here and another begins.
            if (written && hasLast && s + 1 < segments.size()) {
                last.typeFlag = GHPSFRecord::SEGMENT_REPEAT_FLAG;
                written = writer.add(last);
            }
        }
    }
    if (gpx.route) {
        for (const GHGpxRoutePoint* point : qAsConst(gpx.route->points)) {
            if (!written)
                break;
            GHPSFRecord record;
            if (!converter.routeRecord(*point, record)) {
                ++skipped;
                continue;
            }
            written = writer.add(record);
        }
    }
    if (written)
        written = writer.finish();

    if (skipped > 0)
        qWarning("%d points with a position that is no number or out of range were left out of %s", skipped,
                 qUtf8Printable(path));
    if (converter.unreadable > 0)
        qWarning("%d values of points that are no number or time were stored as none in %s", converter.unreadable,
                 qUtf8Printable(path));
    if (converter.saturated > 0)
        qWarning("%d values of points beyond their field were stored as its nearest value in %s",
                 converter.saturated, qUtf8Printable(path));
    if (!written) {
        qWarning("cannot write the GPS log %s: %s; it keeps %u records", qUtf8Printable(path), std::strerror(errno),
                 logger.m_gpsRecords);
        return false;
    }
    // The logger's destructor writes the count into the header.
    return true;
}
