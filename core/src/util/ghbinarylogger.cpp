#include "util/ghbinarylogger.h"

#include <QDataStream>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstring>

#include "util/ghpack.h"

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
    quint8 bytes[4];
    putHeaderWord(bytes, 0, count);
    if (!_updateHeader(file, bytes, 4, GHPSFHeader::COUNT_OFFSET))
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
    const long position = std::ftell(file);
    if (std::fwrite(bytes, 1, size_t(size), file) == size_t(size)) {
        ++count;
        if (count % FLUSH_EVERY == 0)
            std::fflush(file);
        return true;
    }
    qWarning("short write of a ride-log record: %s", std::strerror(errno));
    // Back to where the record began, so that the next one overwrites the partial bytes.
    std::clearerr(file);
    if (position >= 0)
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
    quint32 flags = 0;
    for (const QString& part : type.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const uint value = part.toUInt(&ok, 10);
        if (ok)
            flags |= value;
    }
    return flags;
}
