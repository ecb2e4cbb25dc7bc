#ifndef GHBINARYLOGGER_H
#define GHBINARYLOGGER_H

#include <QString>

#include <cstdio>

#include "util/ghpsfheader.h"
#include "util/ghpsfrecord.h"
#include "util/ghpsfsensorrecord.h"

class GHGpx2;
class QDataStream;

// Writer of the binary ride logs (a GPS log and a sensor log, each a header and fixed-size records) and reader of
// their header. The header's record count is right only once the logger has closed the file: until then it holds 0,
// or the count of the previous close for a log that was reopened.
class GHBinaryLogger
{
public:
    GHBinaryLogger();
    // Writes each open log's record count into its header and closes it.
    virtual ~GHBinaryLogger();

    // Create or truncate the file and write a fresh header. A log of the same kind that is still open is closed
    // first, with its count.
    bool createGpsLog(const QString& path);
    bool createSensorLog(const QString& path);

    // Appends one record. A short write is undone (the next record overwrites it) and not counted. Records reach the
    // disk every ten; when that fails the call fails, the log is cut after its last whole record on disk and the
    // count drops to match.
    bool writeRecord(const GHPSFRecord& record);
    bool writeRecord(const GHPSFSensorRecord& record);
    // Appends an event record to each open log and flushes both; true also when no log is open.
    bool writeEvent(quint32 time, int code);
    void flush();

    // Reads a header from the stream's current position; false for a header shorter than GHPSFHeader::SIZE or a
    // version that does not begin 0, 2. The two times are not read back: they stay 0.
    static bool readHeader(QDataStream& stream, GHPSFHeader& header);

    // Writes the document's track points (segment by segment, the last point of a segment that another follows once
    // more with the repeat flag) and then its route points as a new GPS log. A point whose position cannot be stored
    // (not a number, or beyond 32 bits in millionths of a degree) is left out; an elevation, bearing or speed beyond
    // its field is stored as the nearest value that is not "none". False when the file cannot be created or a write
    // fails: the log is then closed with the records that reached it.
    static bool saveGpsData(const QString& path, const GHGpx2& gpx);

    // The device's system version that new headers carry.
    static QString ms_systemVersion;

protected:
    bool _writeHeader(FILE* file, quint32 time, const QString& version, const QString& type, int count);
    // Overwrites length bytes of the header at offset and returns to where the file was.
    bool _updateHeader(FILE* file, const quint8* bytes, int length, int offset);
    // Overwrites the little-endian header word at offset.
    bool _updateHeaderWord(FILE* file, int offset, quint32 value);

    FILE* m_gpsLog;
    FILE* m_sensorLog;
    quint32 m_gpsRecords;
    quint32 m_sensorRecords;

private:
    GHBinaryLogger(const GHBinaryLogger&) = delete;
    GHBinaryLogger& operator=(const GHBinaryLogger&) = delete;

    bool createLog(FILE*& file, quint32& count, const QString& path, const QString& type);
    void closeLog(FILE*& file, quint32 count);
    bool appendRecord(FILE* file, quint32& count, const char* bytes, int size);
};

// The flag word of a point's type text: decimal numbers separated by commas, combined by OR ("1,4" gives 5); a part
// that is not a number counts 0.
quint32 convertTypeFlag(const QString& type);

#endif
