#ifndef GHPSFSENSORRECORD_H
#define GHPSFSENSORRECORD_H

#include <QtGlobal>

class GHPSFHeader;
class QDataStream;

// One record of a sensor log, big-endian in the file: 22 bytes, or 32 in the extended form of newer logs.
class GHPSFSensorRecord
{
public:
    static constexpr int SIZE = 22;
    static constexpr int EXTENDED_SIZE = 32;

    // Layout, in file order.
    static constexpr int TIME_OFFSET = 0;
    static constexpr int HRM_OFFSET = 4;
    static constexpr int CAD_OFFSET = 5;
    static constexpr int SPD_OFFSET = 6;
    static constexpr int TMP_OFFSET = 8;
    static constexpr int PWR_OFFSET = 10;
    static constexpr int BRM_OFFSET = 12;
    static constexpr int PDM_OFFSET = 16;
    static constexpr int GPS_OFFSET = 20;
    static constexpr int EXT_VALUE_OFFSET = 22; // extended form only
    static constexpr int EXT_BYTES_OFFSET = 26;
    static constexpr int EXT_BYTES_SIZE = 6;

    static constexpr quint8 EVENT_MARK = 0xFE; // in both hrm and cad; pdm holds the event code

    quint8 hrm = 0;
    quint8 cad = 0;
    quint16 spd = 0;
    qint16 tmp = 0;
    quint16 pwr = 0;
    qint32 brm = 0;
    quint32 pdm = 0;
    quint16 gps = 0;
    qint32 extValue = 0;
    qint8 extBytes[EXT_BYTES_SIZE] = {0, 0, 0, 0, 0, 0};
    quint32 time = 0;
    quint32 marks = 0; // not stored; bit 0: a sensor segment ends after this record

    // Added by readers to each record's time; process-wide, used from one thread at a time.
    static quint32 timebase;

    // The record size of a log with this header's version: extended when the third number is above 1 or the
    // fourth is 9 or more.
    static int recordSize(const GHPSFHeader& header);

    // Writes the SIZE-byte form; loggers write no other.
    void toBytes(char* bytes) const;
    // Reads the next SIZE or EXTENDED_SIZE bytes; false, and the record unchanged, when fewer are left. Sets marks
    // to 0.
    bool readFrom(QDataStream& stream, bool extended);
    // Takes the record from SIZE or EXTENDED_SIZE bytes; sets marks to 0.
    void fromBytes(const char* bytes, bool extended);
};

#endif
