#ifndef GHPSFRECORD_H
#define GHPSFRECORD_H

#include <QtGlobal>

class QDataStream;

// One 20-byte record of a GPS log, big-endian in the file.
class GHPSFRecord
{
public:
    static constexpr int SIZE = 20;

    // Layout, in file order.
    static constexpr int LONGITUDE_OFFSET = 0;
    static constexpr int LATITUDE_OFFSET = 4;
    static constexpr int ALTITUDE_OFFSET = 8;
    static constexpr int BEARING_OFFSET = 10;
    static constexpr int SPEED_OFFSET = 12;
    static constexpr int TYPE_FLAG_OFFSET = 14;
    static constexpr int TIME_OFFSET = 16;

    static constexpr qint16 NO_ALTITUDE = 32767;
    static constexpr qint16 NO_BEARING = 32767;
    static constexpr quint16 NO_SPEED = 0xFFFF;
    static constexpr qint16 EVENT_FLAG = -1;   // longitude holds the event code
    static constexpr qint16 SEGMENT_REPEAT_FLAG = 64;
    static constexpr quint16 ROUTE_POINT_BIT = 0x8000;

    qint32 longitude = 0; // millionths of a degree
    qint32 latitude = 0;
    qint16 altitude = 0; // decimetres (whole metres in logs up to 0.2.1.2)
    qint16 bearing = 0;
    quint16 speed = 0; // metres per minute
    qint16 typeFlag = 0;
    quint32 time = 0;
    quint32 marks = 0; // not stored; bit 0: a track segment ends after this point

    // Added by readers to each record's time; process-wide, used from one thread at a time.
    static quint32 timebase;

    // Writes SIZE bytes.
    void toBytes(char* bytes) const;
    // Reads the next SIZE bytes; false, and the record unchanged, when fewer are left. Sets marks to 0.
    bool readFrom(QDataStream& stream);
    // Takes the record from SIZE bytes; sets marks to 0.
    void fromBytes(const char* bytes);
};

#endif
