#ifndef JXPSFSENSORLOG_1_5_H
#define JXPSFSENSORLOG_1_5_H

#include <QVector>
#include <QtEndian>

#include <vector>

#include "psf/jxpsfobject.h"
#include "psf/jxpsfvalue.h"

class JXPSFSensorLog_1_5;
class JXPSFSsrLogPointIter;

// One sample of a sensor log: the fields its log marks present, packed in the order speed (u8), cadence (u8),
// heart rate (u8), power (u16), temperature (i16), BRM (u16), GPS signal (u8).
class JXPSFSensorLogPoint_1_5 : public JXPSFObject
{
public:
    JXPSFSensorLogPoint_1_5(char* sample, const JXPSFSensorLog_1_5* log) : JXPSFObject(sample), m_log(log) {}

    // An absent field reads as all 0xFF.
    unsigned char getSpeed() const;
    unsigned char getRPM() const;
    unsigned char getBPM() const;
    unsigned short getInstPower() const;
    short getTmp() const;
    unsigned short getBRM() const;
    unsigned char getGPSSig() const;

    unsigned int getBytesCount() override;

private:
    const JXPSFSensorLog_1_5* m_log;
};

// The sensor samples of one track segment: a 16-byte head followed by the samples. Owns the sample views, made when
// first asked for (the iterator reads the bytes without them).
//
// Head: u32 start time (of sample 0), u32 next, u8 time interval, u8 presence flags (bit 0 speed, 1 cadence, 2
// heart rate, 3 power, 4 temperature, 5 BRM, 6 GPS signal), u16 sample count (0xFFFF: none), u8 (bits 0-1 time
// type, 2-4 break type), 3 bytes not used.
class JXPSFSensorLog_1_5 : public JXPSFObject
{
public:
    static const unsigned int HeadSize = 16;
    enum Field { Speed, Cadence, HeartRate, Power, Temperature, Brm, GPSSignal, FieldCount };

    // end: the end of the sensor-log table; samples that would cross it are not loaded and the log is not complete.
    JXPSFSensorLog_1_5(char* head, const char* end);
    ~JXPSFSensorLog_1_5() override;

    JXPSFSensorLog_1_5(const JXPSFSensorLog_1_5&) = delete;
    JXPSFSensorLog_1_5& operator=(const JXPSFSensorLog_1_5&) = delete;

    bool isComplete() const { return m_complete; }

    unsigned int getStartTime() const;
    unsigned int getNext() const;
    unsigned char getTimeInterval() const;
    unsigned short getPntCount() const;
    unsigned char getTimeType() const;
    unsigned char getBreadkType() const;
    bool getSpeedFlag() const;
    bool getCadenceFlag() const;
    bool getHRFlag() const;
    bool getPowerFlag() const;
    bool getTmpFlag() const;
    bool getBrmFlag() const;
    bool getGPSSigFlag() const;

    // Position of the field within a sample; -1 when absent.
    int fieldPosition(Field field) const { return m_positions[field]; }
    unsigned int getSampleSize() const { return m_sampleSize; }

    QVector<JXPSFSensorLogPoint_1_5*>& getSensorPoints();
    const QVector<JXPSFSensorLogPoint_1_5*>& getSensorPoints() const;
    // The samples loaded, without making their views.
    int getLoadedPointCount() const { return m_count; }
    JXPSFSsrLogPointIter getPointIterator();

    unsigned int getBytesCount() override;

private:
    void computeLayout();
    void loadPoints(const char* end);
    void makeViews() const;

    int m_count = 0;
    // The views by value in one block, which m_points points into.
    mutable std::vector<JXPSFSensorLogPoint_1_5> m_views;
    mutable QVector<JXPSFSensorLogPoint_1_5*> m_points;
    mutable bool m_viewsMade = false;
    int m_positions[FieldCount];
    unsigned int m_sampleSize = 0;
    bool m_complete = true;
};

// Walks a log's samples, reading their bytes in place (they lie back to back behind the head); before the first
// next() and from the end on every value is invalid and the time 0. No allocation per step.
class JXPSFSsrLogPointIter
{
public:
    explicit JXPSFSsrLogPointIter(JXPSFSensorLog_1_5* log);

    bool next()
    {
        if (m_index + 1 >= m_count) {
            m_index = m_count;
            m_sample = nullptr;
            return false;
        }
        ++m_index;
        m_sample = m_first + m_index * int(m_sampleSize);
        return true;
    }

    unsigned int getTime() const { return m_sample ? m_startTime + m_timeInterval * quint32(m_index) : 0; }
    JXPSFValue getSpeed() const { return m_sample ? JXPSFValue::fromPSFSpeed(byteOf(JXPSFSensorLog_1_5::Speed)) : JXPSFValue(); }
    JXPSFValue getRPM() const { return m_sample ? JXPSFValue(byteOf(JXPSFSensorLog_1_5::Cadence)) : JXPSFValue(); }
    JXPSFValue getStride() const
    {
        return m_sample ? JXPSFValue::stridefromPSFRpm(byteOf(JXPSFSensorLog_1_5::Cadence)) : JXPSFValue();
    }
    JXPSFValue getBPM() const { return m_sample ? JXPSFValue(byteOf(JXPSFSensorLog_1_5::HeartRate)) : JXPSFValue(); }
    JXPSFValue getPower() const { return m_sample ? JXPSFValue(wordOf(JXPSFSensorLog_1_5::Power)) : JXPSFValue(); }
    // Temperatures have no absent code of their own (all 0xFF would read -0.1); the presence bit says it.
    JXPSFValue getTemperature() const
    {
        const int at = m_positions[JXPSFSensorLog_1_5::Temperature];
        if (!m_sample || at < 0)
            return JXPSFValue();
        return JXPSFValue::fromPSFTemperature(qFromLittleEndian<qint16>(m_sample + at));
    }
    JXPSFValue getBRM() const { return m_sample ? JXPSFValue::fromPSFBrm(wordOf(JXPSFSensorLog_1_5::Brm)) : JXPSFValue(); }

private:
    unsigned char byteOf(JXPSFSensorLog_1_5::Field field) const
    {
        const int at = m_positions[field];
        return at < 0 ? 0xFF : quint8(m_sample[at]);
    }
    unsigned short wordOf(JXPSFSensorLog_1_5::Field field) const
    {
        const int at = m_positions[field];
        return at < 0 ? 0xFFFF : qFromLittleEndian<quint16>(m_sample + at);
    }

    int m_count = 0;
    const char* m_first = nullptr;
    const char* m_sample = nullptr;
    int m_index = -1;
    unsigned int m_sampleSize = 0;
    unsigned int m_startTime = 0;
    unsigned int m_timeInterval = 0;
    int m_positions[JXPSFSensorLog_1_5::FieldCount];
};

#endif
