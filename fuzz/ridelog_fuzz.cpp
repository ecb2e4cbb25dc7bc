// libFuzzer target for the ride-log reader: the header and the GPS and sensor records of a log that comes from a
// device or a shared file. The input is written to a scratch file and read the way the track reader reads it.
//
// Checks: a header is accepted exactly when it has all 52 bytes and a version that begins 0, 2; its texts keep to
// their fields' sizes; the records that follow are read whole until too few bytes are left; and GPS records written
// back through the logger read back the same, with their count in the new header.

#include "util/ghbinarylogger.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QVector>

#include <cstdint>

#include "fuzzsupport.h"

using JXFuzz::require;

namespace {

QString s_input;
QString s_copy;

// Texts of a header hold no NUL and no more characters than their field.
bool fitsField(const QString& text, int size)
{
    return text.size() <= size && !text.contains(QChar(0));
}

bool sameRecord(const GHPSFRecord& a, const GHPSFRecord& b)
{
    return a.longitude == b.longitude && a.latitude == b.latitude && a.altitude == b.altitude &&
           a.bearing == b.bearing && a.speed == b.speed && a.typeFlag == b.typeFlag && a.time == b.time;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    JXFuzz::silenceMessages();
    const QString root = JXFuzz::scratchRoot("ridelog");
    s_input = root + QLatin1String("/1-GPS.dat");
    s_copy = root + QLatin1String("/2-GPS.dat");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), int(size));
    require(JXFuzz::writeFile(s_input, input), "cannot write the input");

    QFile file(s_input);
    require(file.open(QIODevice::ReadOnly), "cannot open the input");
    QDataStream stream(&file);
    GHPSFHeader header;
    const bool accepted = GHBinaryLogger::readHeader(stream, header);
    const bool wellFormed = input.size() >= GHPSFHeader::SIZE && input.at(GHPSFHeader::VERSION_OFFSET) == 0 &&
                            input.at(GHPSFHeader::VERSION_OFFSET + 1) == 2;
    require(accepted == wellFormed, "a header is accepted against its size or version");
    if (!accepted)
        return 0;

    require(file.pos() == GHPSFHeader::SIZE, "the header is not 52 bytes");
    require(fitsField(header.type, GHPSFHeader::TYPE_SIZE), "the log type overruns its field");
    require(fitsField(header.reserved, GHPSFHeader::RESERVED_SIZE), "the reserved text overruns its field");
    require(fitsField(header.systemVersion, GHPSFHeader::SYSTEM_VERSION_SIZE - 1),
            "the system version overruns its field");
    for (int i = 0; i < 4; ++i)
        require(header.version[i] == qint8(input.at(GHPSFHeader::VERSION_OFFSET + i)), "a version byte differs");
    const auto countByte = [&](int i) { return quint32(quint8(input.at(GHPSFHeader::COUNT_OFFSET + i))) << (8 * i); };
    require(quint32(header.count) == (countByte(0) | countByte(1) | countByte(2) | countByte(3)),
            "the count is not little-endian");

    const int body = input.size() - GHPSFHeader::SIZE;
    QVector<GHPSFRecord> records;
    GHPSFRecord record;
    while (record.readFrom(stream))
        records.append(record);
    require(records.size() == body / GHPSFRecord::SIZE, "GPS records are lost or invented");

    const int sensorSize = GHPSFSensorRecord::recordSize(header);
    require(file.seek(GHPSFHeader::SIZE), "cannot seek back to the records");
    stream.resetStatus();
    GHPSFSensorRecord sensor;
    int sensorRecords = 0;
    while (sensor.readFrom(stream, sensorSize == GHPSFSensorRecord::EXTENDED_SIZE))
        ++sensorRecords;
    require(sensorRecords == body / sensorSize, "sensor records are lost or invented");
    file.close();

    {
        GHBinaryLogger logger;
        require(logger.createGpsLog(s_copy), "cannot create the copy");
        for (const GHPSFRecord& each : records)
            require(logger.writeRecord(each), "cannot write a record");
    }
    QFile copy(s_copy);
    require(copy.open(QIODevice::ReadOnly), "cannot open the copy");
    require(copy.size() == GHPSFHeader::SIZE + records.size() * GHPSFRecord::SIZE, "the copy has another size");
    QDataStream copyStream(&copy);
    GHPSFHeader copyHeader;
    require(GHBinaryLogger::readHeader(copyStream, copyHeader), "the writer's header is refused");
    require(copyHeader.count == records.size(), "the copy's header has another count");
    for (const GHPSFRecord& each : records)
        require(record.readFrom(copyStream) && sameRecord(record, each), "a record comes back changed");
    return 0;
}
