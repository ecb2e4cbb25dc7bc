#ifndef JXPSFWORKOUTFRAME_H
#define JXPSFWORKOUTFRAME_H

#include <QByteArray>
#include <QPointer>
#include <QVector>

#include "psf/gen1/jxpsffield.h"
#include "psf/gen1/jxpsfview.h"

// Start and end time of one interval of a performed workout, 8 bytes.
class JXPSFIntervalLog : public JXPSFField
{
    Q_OBJECT

public:
    static const int RecordSize = 8;

    JXPSFIntervalLog(QByteArray* record, JXPSFField* parent);
    explicit JXPSFIntervalLog(const JXPSFView& record, JXPSFField* parent = nullptr);

    unsigned int getStartTime() const { return m_startTime; }
    unsigned int getEndTime() const { return m_endTime; }

private:
    unsigned int m_startTime = 0xFFFFFFFFu;
    unsigned int m_endTime = 0xFFFFFFFFu;
};

// The result of performing a workout on one ride: a 24-byte head (two kept words, next-log offset, the ride's route
// record offset in the route table, interval-log count) then the interval logs. Owns its interval logs, whose bytes
// it keeps as loaded and whose objects it makes when getIntervalLogs() is first called.
class JXPSFWorkoutLog : public JXPSFField
{
    Q_OBJECT

public:
    static const int HeadSize = 24;

    JXPSFWorkoutLog(QByteArray* log, JXPSFField* parent);
    explicit JXPSFWorkoutLog(const JXPSFView& log, JXPSFField* parent = nullptr);
    ~JXPSFWorkoutLog() override;

    unsigned int getWord0() const { return m_word0; }
    unsigned int getWord1() const { return m_word1; }
    unsigned int getNextOffset() const { return m_nextOffset; }
    unsigned int getRouteOffset() const { return m_routeOffset; }
    unsigned short getIntervalCount() const { return m_intervalCount; }
    const QVector<QPointer<JXPSFIntervalLog>>& getIntervalLogs() const;

private:
    unsigned int m_word0 = 0xFFFFFFFFu;
    unsigned int m_word1 = 0xFFFFFFFFu;
    unsigned int m_nextOffset = 0xFFFFFFFFu;
    unsigned int m_routeOffset = 0xFFFFFFFFu;
    unsigned short m_intervalCount = 0;
    // The loaded records, back to back, until the objects are made; then empty.
    mutable QByteArray m_intervalRecords;
    mutable JXPSFRecordStore<JXPSFIntervalLog> m_intervalStore;
    mutable QVector<QPointer<JXPSFIntervalLog>> m_intervalLogs;
};

// The workout-log frame: the list offset (u32) and the list's bytes, with a reading budget so that chains that
// overlap or loop read no more than the list holds.
class JXPSFWorkoutLogFrame : public JXPSFField
{
    Q_OBJECT

public:
    // raw holds the frame's bytes from its start to the end of the image.
    // The list is cut to its area.
    JXPSFWorkoutLogFrame(QByteArray* raw, JXPSFField* parent, const JXPSFTableArea& area = JXPSFTableArea());

    unsigned int getListOffset() const { return m_listOffset; }
    QByteArray* getLogRawData() { return &m_raw; }

    // The chain of logs that starts at offset in the list, as a workout owns it.
    QVector<QPointer<JXPSFWorkoutLog>> loadChain(unsigned int offset);

private:
    unsigned int m_listOffset = 0xFFFFFFFFu;
    QByteArray m_raw;
    qint64 m_budget = 0;
};

// One interval of a workout, read from 18 bytes (written as 20): type, flag and target type; duration type and
// value; next-interval offset; a 32-bit value; repeat value; target low and high; two kept bytes; a final flag.
class JXPSFInterval : public JXPSFField
{
    Q_OBJECT

public:
    static const int ReadSize = 18;
    static const int RecordSize = 20;

    explicit JXPSFInterval(JXPSFField* parent);
    JXPSFInterval(QByteArray* record, JXPSFField* parent);
    explicit JXPSFInterval(const JXPSFView& record, JXPSFField* parent = nullptr);

    unsigned char getIntervalType() const { return m_intervalType; }
    void setIntervalType(unsigned char type) { m_intervalType = type & 0x07; }
    bool getFlag() const { return m_flag; }
    void setFlag(bool flag) { m_flag = flag; }
    unsigned char getTargetType() const { return m_targetType; }
    void setTargetType(unsigned char type) { m_targetType = type & 0x0F; }
    unsigned char getDurationType() const { return m_durationType; }
    void setDurationType(unsigned char type) { m_durationType = type; }
    unsigned short getDurationValue() const { return m_durationValue; }
    void setDurationValue(unsigned short value) { m_durationValue = value; }
    unsigned int getNextOffset() const { return m_nextOffset; }
    void setNextOffset(unsigned int offset) { m_nextOffset = offset; }
    unsigned int getValue() const { return m_value; }
    void setValue(unsigned int value) { m_value = value; }
    unsigned char getRepeat() const { return m_repeat; }
    void setRepeat(unsigned char repeat) { m_repeat = repeat; }
    unsigned char getTargetLow() const { return m_targetLow; }
    void setTargetLow(unsigned char value) { m_targetLow = value; }
    unsigned char getTargetHigh() const { return m_targetHigh; }
    void setTargetHigh(unsigned char value) { m_targetHigh = value; }
    unsigned char getByte15() const { return m_byte15; }
    unsigned char getByte16() const { return m_byte16; }
    bool getFinalFlag() const { return m_finalFlag; }
    void setFinalFlag(bool flag) { m_finalFlag = flag; }

private:
    unsigned char m_intervalType = 0;
    bool m_flag = false;
    unsigned char m_targetType = 0;
    unsigned char m_durationType = 0;
    unsigned short m_durationValue = 0;
    unsigned int m_nextOffset = 0xFFFFFFFFu;
    unsigned int m_value = 0xFFFFFFFFu;
    unsigned char m_repeat = 0;
    unsigned char m_targetLow = 0;
    unsigned char m_targetHigh = 0;
    unsigned char m_byte15 = 0;
    unsigned char m_byte16 = 0;
    bool m_finalFlag = false;
};

// One workout, 152 bytes: time, 128 name bytes, workout number, first-interval offset, first-log offset, flags
// (bits 0-3 a value, bit 4 a flag, bit 5 bitmap name, bit 6 uploaded mark), a byte of a 5-bit and a 3-bit value,
// a kept word at 148. Owns its intervals and logs.
class JXPSFWorkout : public JXPSFField
{
    Q_OBJECT

public:
    static const int RecordSize = 152;
    static const int NameSize = 128;

    explicit JXPSFWorkout(JXPSFField* parent);
    JXPSFWorkout(QByteArray* record, JXPSFField* parent);
    explicit JXPSFWorkout(const JXPSFView& record, JXPSFField* parent = nullptr);
    ~JXPSFWorkout() override;

    void loadInterval(QByteArray* intervals);
    // Follows the interval chain in intervals, reading no more than budget records (which it lowers).
    void loadInterval(const JXPSFView& intervals, qint64& budget);
    void loadWorkoutLog(JXPSFWorkoutLogFrame* logs);

    QVector<QPointer<JXPSFInterval>>* getIntervals() { return &m_intervals; }
    QVector<QPointer<JXPSFWorkoutLog>>* getWorkoutLogs() { return &m_workoutLogs; }

    unsigned int getTime() const { return m_time; }
    void setTime(unsigned int time) { m_time = time; }
    QByteArray getName() const { return m_name; }
    void setName(QByteArray name) { m_name = name; }
    unsigned int getWorkoutId() const { return m_workoutId; }
    void setWorkoutId(unsigned int id) { m_workoutId = id; }
    unsigned int getIntervalOffset() const { return m_intervalOffset; }
    unsigned int getLogOffset() const { return m_logOffset; }
    unsigned char getTypeValue() const { return m_typeValue; }
    void setTypeValue(unsigned char value) { m_typeValue = value & 0x0F; }
    bool getFlag() const { return m_flag; }
    void setFlag(bool flag) { m_flag = flag; }
    bool getNameType() const { return m_nameType; }
    void setNameType(bool bitmap) { m_nameType = bitmap; }
    bool getUploaded() const { return m_uploaded; }
    void setUploaded(bool uploaded) { m_uploaded = uploaded; }
    unsigned char getLowValue() const { return m_lowValue; }
    void setLowValue(unsigned char value) { m_lowValue = value & 0x1F; }
    unsigned char getHighValue() const { return m_highValue; }
    void setHighValue(unsigned char value) { m_highValue = value & 0x07; }
    unsigned int getValue148() const { return m_value148; }

private:
    void parse(const JXPSFView& record);

    unsigned int m_time = 0xFFFFFFFFu;
    QByteArray m_name;
    unsigned int m_workoutId = 0;
    unsigned int m_intervalOffset = 0xFFFFFFFFu;
    unsigned int m_logOffset = 0xFFFFFFFFu;
    unsigned char m_typeValue = 0;
    bool m_flag = false;
    bool m_nameType = false;
    bool m_uploaded = false;
    unsigned char m_lowValue = 0;
    unsigned char m_highValue = 0;
    unsigned int m_value148 = 0xFFFFFFFFu;
    QVector<QPointer<JXPSFInterval>> m_intervals;
    QVector<QPointer<JXPSFWorkoutLog>> m_workoutLogs;
};

// The workout frame: workout table offset, interval table offset (u32, from the frame start), workout count (u8,
// 0xFF = none). Owns its workouts.
class JXPSFWorkoutFrame : public JXPSFField
{
    Q_OBJECT

public:
    // raw holds the frame's bytes from its header to the end of the image.
    // The workout and interval tables are cut to their areas.
    JXPSFWorkoutFrame(QByteArray* raw, JXPSFWorkoutLogFrame* logs, JXPSFField* parent,
                      const JXPSFTableArea& workoutArea = JXPSFTableArea(),
                      const JXPSFTableArea& intervalArea = JXPSFTableArea());
    ~JXPSFWorkoutFrame() override;

    void loadWorkout(QByteArray* table, QByteArray* intervals, JXPSFWorkoutLogFrame* logs);

    QVector<QPointer<JXPSFWorkout>>* getWorkouts() { return &m_workouts; }
    unsigned int getWorkoutTblOffset() const { return m_workoutTblOffset; }
    void setWorkoutTblOffset(unsigned int offset) { m_workoutTblOffset = offset; }
    unsigned int getIntervalTblOffset() const { return m_intervalTblOffset; }
    void setIntervalTblOffset(unsigned int offset) { m_intervalTblOffset = offset; }
    unsigned char getWorkoutCount() const { return m_workoutCount; }
    void setWorkoutCount(unsigned char count) { m_workoutCount = count; }

private:
    void loadWorkout(const JXPSFView& table, const JXPSFView& intervals, JXPSFWorkoutLogFrame* logs);

    unsigned int m_workoutTblOffset = 0xFFFFFFFFu;
    unsigned int m_intervalTblOffset = 0xFFFFFFFFu;
    unsigned char m_workoutCount = 0;
    QVector<QPointer<JXPSFWorkout>> m_workouts;
};

#endif
