#ifndef JXPSFDISTHEADER_H
#define JXPSFDISTHEADER_H

#include <QByteArray>
#include <QPointer>
#include <QString>

#include "psf/gen1/jxpsffield.h"

// Where one frame of a first-generation image starts. 20 bytes: frame offset (u32, from image byte 0, the 48-byte
// head included), frame size (u16), a word held as 0, a 12-byte name held as 0xFF.
class JXPSFManagementHeaderRecord : public JXPSFField
{
    Q_OBJECT

public:
    static const int RecordSize = 20;

    JXPSFManagementHeaderRecord(QByteArray* raw, QObject* parent);

    unsigned int getManHeaderOffset() const { return m_offset; }
    void setManHeaderOffset(unsigned int offset) { m_offset = offset; }
    unsigned short getManHeaderSize() const { return m_size; }
    void setManHeaderSize(unsigned short size) { m_size = size; }
    QString getFName() const;
    // The name is not stored: it stays twelve 0xFF bytes.
    void setFName(QString name);

    // The record's 20 bytes as laid out in the header.
    QByteArray toBytes() const;

private:
    unsigned int m_offset = 0xFFFFFFFFu;
    unsigned short m_size = 0xFFFF;
    unsigned short m_word = 0;
    QByteArray m_name;
};

// The directory of a first-generation image, at image offset 48 (132 bytes): base date (u32), base time (u32),
// a 4-byte marker, then the management records of the POI, route, workout, workout-log, track ("tracer data") and
// sensor-log frames.
class JXPSFDistHeader : public JXPSFField
{
    Q_OBJECT

public:
    static const int HeaderSize = 132;

    // raw holds the image from offset 48 on.
    JXPSFDistHeader(QByteArray* raw, QObject* parent);
    ~JXPSFDistHeader() override;

    void loadMHRs(QByteArray* raw);

    unsigned int getBaseDate() const { return m_baseDate; }
    void setBaseDate(unsigned int date) { m_baseDate = date; }
    unsigned int getBaseTime() const { return m_baseTime; }
    void setBaseTime(unsigned int time) { m_baseTime = time; }

    JXPSFManagementHeaderRecord* POIMHRData() const { return m_poi; }
    JXPSFManagementHeaderRecord* RouteMHRData() const { return m_route; }
    JXPSFManagementHeaderRecord* WorkoutMHRData() const { return m_workout; }
    JXPSFManagementHeaderRecord* WorkoutLogMHRData() const { return m_workoutLog; }
    JXPSFManagementHeaderRecord* TracerDataMHRData() const { return m_tracerData; }
    JXPSFManagementHeaderRecord* SensorLogMHRData() const { return m_sensorLog; }

    // 132 bytes; the workout and workout-log records are given back as 0xFF, as the device keeps them.
    QByteArray commit() override;

private:
    QPointer<JXPSFManagementHeaderRecord> m_poi;
    QPointer<JXPSFManagementHeaderRecord> m_route;
    QPointer<JXPSFManagementHeaderRecord> m_workout;
    QPointer<JXPSFManagementHeaderRecord> m_workoutLog;
    QPointer<JXPSFManagementHeaderRecord> m_tracerData;
    QPointer<JXPSFManagementHeaderRecord> m_sensorLog;
    unsigned int m_baseDate = 0xFFFFFFFFu;
    unsigned int m_baseTime = 0xFFFFFFFFu;
};

#endif
