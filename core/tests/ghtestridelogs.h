#ifndef GHTESTRIDELOGS_H
#define GHTESTRIDELOGS_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// Ride logs spelled out byte by byte from the file layout, never produced by our logger, so that a fault in the
// logger cannot hide in its own read-back.
namespace GHTestRideLogs {

inline QByteArray be32(quint32 value)
{
    const char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, 4);
}

inline QByteArray be16(quint16 value)
{
    const char bytes[2] = {char(value >> 8), char(value)};
    return QByteArray(bytes, 2);
}

inline QByteArray padded(const char* text, int size)
{
    QByteArray field(text);
    field.append(QByteArray(size - field.size(), 0));
    return field;
}

// Format version as "0.2.1.8"; times and count zero, as a live log has them.
inline QByteArray header(const char* type, const char* version, const char* systemVersion = "1.0.3.2")
{
    QByteArray bytes = padded(type, 16);
    for (const QString& part : QString::fromLatin1(version).split(QLatin1Char('.')))
        bytes += char(part.toInt());
    bytes += QByteArray(12, 0);
    bytes += padded(systemVersion, 16);
    bytes += QByteArray(4, 0);
    return bytes;
}

inline QByteArray gpsHeader(const char* version, const char* systemVersion = "1.0.3.2")
{
    return header("gps track", version, systemVersion);
}

inline QByteArray sensorHeader(const char* version)
{
    return header("sensor value", version);
}

inline QByteArray trackPoint(qint32 lat, qint32 lon, quint32 time, qint16 altitude = 1234, qint16 bearing = 90,
                             quint16 speed = 600)
{
    return be32(quint32(lon)) + be32(quint32(lat)) + be16(quint16(altitude)) + be16(quint16(bearing)) + be16(speed) +
           be16(0) + be32(time);
}

inline QByteArray gpsEvent(quint32 code, quint32 time)
{
    return be32(code) + be32(0) + be16(0) + be16(0) + be16(0) + be16(0xFFFF) + be32(time);
}

struct Sensor
{
    quint32 time;
    quint8 hrm;
    quint8 cad;
    quint16 spd;
    qint16 tmp;
    quint16 pwr;
    qint32 brm;
    quint32 pdm;
    quint16 gps;
};

inline QByteArray sensorRecord(const Sensor& s)
{
    return be32(s.time) + char(s.hrm) + char(s.cad) + be16(s.spd) + be16(quint16(s.tmp)) + be16(s.pwr) +
           be32(quint32(s.brm)) + be32(s.pdm) + be16(s.gps);
}

inline QByteArray sensorEvent(quint32 code, quint32 time)
{
    return sensorRecord({time, 0xFE, 0xFE, 0, 0, 0, 0, code, 0});
}

const quint32 PAUSE = 0x00010000;
const quint32 RESUME = 0x00020000;

} // namespace GHTestRideLogs

#endif
