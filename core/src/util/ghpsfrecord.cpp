#include "util/ghpsfrecord.h"

#include <QDataStream>
#include <QtEndian>

#include "util/ghpsfheader.h"
#include "util/ghpsfsensorrecord.h"

quint32 GHPSFRecord::timebase = 0;
quint32 GHPSFSensorRecord::timebase = 0;

namespace {

template<typename T>
T bigEndianAt(const char* bytes, int offset)
{
    return qFromBigEndian<T>(bytes + offset);
}

template<typename T>
void putBigEndian(char* bytes, int offset, T value)
{
    qToBigEndian<T>(value, bytes + offset);
}

// All requested bytes or none: a short read leaves the caller's record as it was.
bool readExactly(QDataStream& stream, char* bytes, int size)
{
    return stream.readRawData(bytes, size) == size;
}

} // namespace

void GHPSFRecord::toBytes(char* bytes) const
{
    putBigEndian(bytes, LONGITUDE_OFFSET, longitude);
    putBigEndian(bytes, LATITUDE_OFFSET, latitude);
    putBigEndian(bytes, ALTITUDE_OFFSET, altitude);
    putBigEndian(bytes, BEARING_OFFSET, bearing);
    putBigEndian(bytes, SPEED_OFFSET, speed);
    putBigEndian(bytes, TYPE_FLAG_OFFSET, typeFlag);
    putBigEndian(bytes, TIME_OFFSET, time);
}

bool GHPSFRecord::readFrom(QDataStream& stream)
{
    char bytes[SIZE];
    if (!readExactly(stream, bytes, SIZE))
        return false;
    fromBytes(bytes);
    return true;
}

void GHPSFRecord::fromBytes(const char* bytes)
{
    longitude = bigEndianAt<qint32>(bytes, LONGITUDE_OFFSET);
    latitude = bigEndianAt<qint32>(bytes, LATITUDE_OFFSET);
    altitude = bigEndianAt<qint16>(bytes, ALTITUDE_OFFSET);
    bearing = bigEndianAt<qint16>(bytes, BEARING_OFFSET);
    speed = bigEndianAt<quint16>(bytes, SPEED_OFFSET);
    typeFlag = bigEndianAt<qint16>(bytes, TYPE_FLAG_OFFSET);
    time = bigEndianAt<quint32>(bytes, TIME_OFFSET);
    marks = 0;
}

int GHPSFSensorRecord::recordSize(const GHPSFHeader& header)
{
    return header.version[2] > 1 || header.version[3] >= 9 ? EXTENDED_SIZE : SIZE;
}

void GHPSFSensorRecord::toBytes(char* bytes) const
{
    putBigEndian(bytes, TIME_OFFSET, time);
    bytes[HRM_OFFSET] = char(hrm);
    bytes[CAD_OFFSET] = char(cad);
    putBigEndian(bytes, SPD_OFFSET, spd);
    putBigEndian(bytes, TMP_OFFSET, tmp);
    putBigEndian(bytes, PWR_OFFSET, pwr);
    putBigEndian(bytes, BRM_OFFSET, brm);
    putBigEndian(bytes, PDM_OFFSET, pdm);
    putBigEndian(bytes, GPS_OFFSET, gps);
}

bool GHPSFSensorRecord::readFrom(QDataStream& stream, bool extended)
{
    char bytes[EXTENDED_SIZE];
    if (!readExactly(stream, bytes, extended ? EXTENDED_SIZE : SIZE))
        return false;
    fromBytes(bytes, extended);
    return true;
}

void GHPSFSensorRecord::fromBytes(const char* bytes, bool extended)
{
    time = bigEndianAt<quint32>(bytes, TIME_OFFSET);
    hrm = quint8(bytes[HRM_OFFSET]);
    cad = quint8(bytes[CAD_OFFSET]);
    spd = bigEndianAt<quint16>(bytes, SPD_OFFSET);
    tmp = bigEndianAt<qint16>(bytes, TMP_OFFSET);
    pwr = bigEndianAt<quint16>(bytes, PWR_OFFSET);
    brm = bigEndianAt<qint32>(bytes, BRM_OFFSET);
    pdm = bigEndianAt<quint32>(bytes, PDM_OFFSET);
    gps = bigEndianAt<quint16>(bytes, GPS_OFFSET);
    extValue = 0;
    for (qint8& value : extBytes)
        value = 0;
    if (extended) {
        extValue = bigEndianAt<qint32>(bytes, EXT_VALUE_OFFSET);
        for (int i = 0; i < EXT_BYTES_SIZE; ++i)
            extBytes[i] = qint8(bytes[EXT_BYTES_OFFSET + i]);
    }
    marks = 0;
}
