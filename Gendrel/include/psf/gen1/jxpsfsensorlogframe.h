#ifndef JXPSFSENSORLOGFRAME_H
#define JXPSFSENSORLOGFRAME_H

#include <QByteArray>
#include <QPointer>
#include <QVector>

#include "psf/gen1/jxpsffield.h"
#include "psf/gen1/jxpsfview.h"

// One sample: only the channels of the log's presence mask, in the order speed (u8, 1/8 m/s), cadence (u8), heart
// rate (u8), power (u16), temperature (i16, tenths of a degree), sixth channel (u16). Absent channels hold all ones.
class JXPSFSensorLogPoint : public JXPSFField
{
    Q_OBJECT

public:
    static const int LargestSize = 9;

    JXPSFSensorLogPoint(QByteArray* sample, char mask, JXPSFField* parent);
    JXPSFSensorLogPoint(const JXPSFView& sample, char mask, JXPSFField* parent = nullptr);

    // Bytes a sample takes under mask.
    static int sampleSize(char mask);

    unsigned char getSpeed() const { return m_speed; }
    unsigned char getCadence() const { return m_cadence; }
    unsigned char getHeartRate() const { return m_heartRate; }
    unsigned short getPower() const { return m_power; }
    short getTemperature() const { return m_temperature; }
    unsigned short getBrm() const { return m_brm; }

private:
    unsigned char m_speed = 0xFF;
    unsigned char m_cadence = 0xFF;
    unsigned char m_heartRate = 0xFF;
    unsigned short m_power = 0xFFFF;
    short m_temperature = -1;
    unsigned short m_brm = 0xFFFF;
};

// A sensor log: 16-byte head (start time, next-log offset, sampling interval, presence mask, sample count) and its
// samples back to back. Owns its samples, whose bytes it keeps as loaded and whose objects it makes when getPoints()
// is first called.
class JXPSFSensorLog : public JXPSFField
{
    Q_OBJECT

public:
    static const int HeadSize = 16;

    JXPSFSensorLog(QByteArray* log, JXPSFField* parent);
    // Reads at most maxSamples samples, and only those that fit in log.
    JXPSFSensorLog(const JXPSFView& log, int maxSamples, JXPSFField* parent = nullptr);
    ~JXPSFSensorLog() override;

    unsigned int getStartTime() const { return m_startTime; }
    unsigned int getNextOffset() const { return m_nextOffset; }
    unsigned char getInterval() const { return m_interval; }
    char getMask() const { return m_mask; }
    bool hasSpeed() const { return m_hasSpeed; }
    bool hasCadence() const { return m_hasCadence; }
    bool hasHeartRate() const { return m_hasHeartRate; }
    bool hasPower() const { return m_hasPower; }
    bool hasTemperature() const { return m_hasTemperature; }
    bool hasBrm() const { return m_hasBrm; }
    bool isBreak() const { return m_isBreak; }
    short getSampleCount() const { return m_sampleCount; }
    const QVector<QPointer<JXPSFSensorLogPoint>>& getPoints() const;
    // getPoints().size(), without making the samples.
    int getLoadedPointCount() const { return m_pendingPoints > 0 ? m_pendingPoints : m_points.size(); }

private:
    void parse(const JXPSFView& log, int maxSamples);

    unsigned int m_startTime = 0xFFFFFFFFu;
    unsigned int m_nextOffset = 0xFFFFFFFFu;
    unsigned char m_interval = 0;
    char m_mask = 0;
    bool m_hasSpeed = false;
    bool m_hasCadence = false;
    bool m_hasHeartRate = false;
    bool m_hasPower = false;
    bool m_hasTemperature = false;
    bool m_hasBrm = false;
    bool m_isBreak = false;
    short m_sampleCount = 0;
    // Samples loaded but not made yet (a sample without channels takes no bytes), and their bytes.
    mutable int m_pendingPoints = 0;
    mutable QByteArray m_sampleRecords;
    mutable JXPSFRecordStore<JXPSFSensorLogPoint> m_pointStore;
    mutable QVector<QPointer<JXPSFSensorLogPoint>> m_points;
};

// The sensor-log frame: the list offset (u32) and the list's bytes. Logs are reached through the track segments,
// which own them; the frame keeps the bytes and a reading budget, so that logs that overlap or loop cannot make a
// damaged image read more records than its bytes could hold.
class JXPSFSensorLogFrame : public JXPSFField
{
    Q_OBJECT

public:
    // raw holds the frame's bytes from its start to the end of the image.
    // The log list is cut to its area.
    JXPSFSensorLogFrame(QByteArray* raw, JXPSFField* parent, const JXPSFTableArea& area = JXPSFTableArea());
    ~JXPSFSensorLogFrame() override;

    unsigned int getLogOffset() const { return m_logOffset; }
    void setLogOffset(unsigned int offset) { m_logOffset = offset; }
    QByteArray* getLogRawData() { return &m_raw; }
    void setLogRawData(QByteArray* raw);

    // The chain of logs that starts at offset in the list, as a segment owns it (parent).
    QVector<QPointer<JXPSFSensorLog>> loadChain(unsigned int offset, JXPSFField* parent);

private:
    unsigned int m_logOffset = 0xFFFFFFFFu;
    QByteArray m_raw;
    qint64 m_budget = 0;
    QVector<QPointer<JXPSFSensorLog>> m_logs;
};

#endif
