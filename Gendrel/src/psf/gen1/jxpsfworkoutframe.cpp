#include "psf/gen1/jxpsfworkoutframe.h"

#include "jxlog.h"
#include "psf/gen1/jxpsfchain.h"

namespace {

// Workout frame head
const int kWorkoutTblOffset = 0;
const int kIntervalTblOffset = 4;
const int kWorkoutCount = 8;

// Workout record
const int kTime = 0;
const int kName = 4;
const int kWorkoutId = 132;
const int kIntervalOffset = 136;
const int kLogOffset = 140;
const int kFlags = 144;
const int kValues = 145;
const int kValue148 = 148;

const quint8 kFlag = 0x10;
const quint8 kBitmapName = 0x20;
const quint8 kUploaded = 0x40;

// Interval record
const int kTypes = 0;
const int kDurationType = 1;
const int kDurationValue = 2;
const int kNextInterval = 4;
const int kValue = 8;
const int kRepeat = 12;
const int kTargetLow = 13;
const int kTargetHigh = 14;
const int kByte15 = 15;
const int kByte16 = 16;
const int kFinalFlag = 17;

// Workout-log frame head
const int kListOffset = 0;

// Workout log
const int kWord0 = 0;
const int kWord1 = 4;
const int kNextLog = 8;
const int kRouteOffset = 12;
const int kIntervalCount = 16;

} // namespace

JXPSFIntervalLog::JXPSFIntervalLog(QByteArray* record, JXPSFField* parent) : JXPSFIntervalLog(JXPSFView(record), parent)
{
}

JXPSFIntervalLog::JXPSFIntervalLog(const JXPSFView& record, JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    m_startTime = record.u32(0);
    m_endTime = record.u32(4);
    setSizeInRawData(RecordSize);
}

JXPSFWorkoutLog::JXPSFWorkoutLog(QByteArray* log, JXPSFField* parent) : JXPSFWorkoutLog(JXPSFView(log), parent) {}

JXPSFWorkoutLog::JXPSFWorkoutLog(const JXPSFView& log, JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    m_word0 = log.u32(kWord0);
    m_word1 = log.u32(kWord1);
    m_nextOffset = log.u32(kNextLog);
    m_routeOffset = log.u32(kRouteOffset);
    const quint16 count = log.u16(kIntervalCount);
    m_intervalCount = count == 0xFFFF ? 0 : count;
    int k = 0;
    for (; k < m_intervalCount; ++k) {
        const qint64 offset = HeadSize + qint64(k) * JXPSFIntervalLog::RecordSize;
        if (!log.contains(offset, JXPSFIntervalLog::RecordSize)) {
            JX_WARNING << "workout log holds" << k << "of" << m_intervalCount << "interval logs";
            break;
        }
    }
    const JXPSFView records = log.sub(HeadSize, qint64(k) * JXPSFIntervalLog::RecordSize);
    m_intervalRecords = QByteArray(records.data(), int(records.size()));
    setSizeInRawData(unsigned(HeadSize + k * JXPSFIntervalLog::RecordSize));
}

JXPSFWorkoutLog::~JXPSFWorkoutLog()
{
    for (const QPointer<JXPSFIntervalLog>& log : qAsConst(m_intervalLogs)) {
        if (!m_intervalStore.owns(log.data()))
            delete log.data();
    }
}

const QVector<QPointer<JXPSFIntervalLog>>& JXPSFWorkoutLog::getIntervalLogs() const
{
    if (!m_intervalRecords.isEmpty()) {
        const JXPSFView records(&m_intervalRecords);
        const int count = m_intervalRecords.size() / JXPSFIntervalLog::RecordSize;
        m_intervalStore.reset(count);
        m_intervalLogs.reserve(count);
        for (int k = 0; k < count; ++k)
            m_intervalLogs.append(m_intervalStore.make(
                k, records.sub(qint64(k) * JXPSFIntervalLog::RecordSize, JXPSFIntervalLog::RecordSize)));
        m_intervalRecords = QByteArray();
    }
    return m_intervalLogs;
}

JXPSFWorkoutLogFrame::JXPSFWorkoutLogFrame(QByteArray* raw, JXPSFField* parent, const JXPSFTableArea& area)
    : JXPSFField(raw, parent)
{
    const JXPSFView frame(raw);
    m_listOffset = frame.u32(kListOffset);
    const JXPSFView list = area.cut(frame.sub(m_listOffset));
    m_raw = QByteArray(list.data(), int(list.size()));
    m_budget = m_raw.size();
}

QVector<QPointer<JXPSFWorkoutLog>> JXPSFWorkoutLogFrame::loadChain(unsigned int offset)
{
    QVector<QPointer<JXPSFWorkoutLog>> chain;
    const JXPSFView list(&m_raw);
    JXPSFChain links(list.size(), JXPSFWorkoutLog::HeadSize, "workout-log");
    while (links.admits(offset)) {
        // Each byte of the list pays for one record at most, however often the chains cross it.
        if (m_budget < JXPSFWorkoutLog::HeadSize) {
            JX_WARNING << "workout-log chains read more than their list holds";
            break;
        }
        const qint64 intervals = (m_budget - JXPSFWorkoutLog::HeadSize) / JXPSFIntervalLog::RecordSize;
        JXPSFWorkoutLog* log =
            new JXPSFWorkoutLog(list.sub(offset, JXPSFWorkoutLog::HeadSize + intervals * JXPSFIntervalLog::RecordSize));
        m_budget -= log->getSizeInRawData();
        chain.append(log);
        offset = log->getNextOffset();
    }
    return chain;
}

JXPSFInterval::JXPSFInterval(JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    setSizeInRawData(RecordSize);
}

JXPSFInterval::JXPSFInterval(QByteArray* record, JXPSFField* parent) : JXPSFInterval(JXPSFView(record), parent) {}

JXPSFInterval::JXPSFInterval(const JXPSFView& record, JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    const quint8 types = record.u8(kTypes);
    m_intervalType = types & 0x07;
    m_flag = (types & 0x08) != 0;
    m_targetType = types >> 4;
    m_durationType = record.u8(kDurationType);
    m_durationValue = record.u16(kDurationValue);
    m_nextOffset = record.u32(kNextInterval);
    m_value = record.u32(kValue);
    m_repeat = record.u8(kRepeat);
    m_targetLow = record.u8(kTargetLow);
    m_targetHigh = record.u8(kTargetHigh);
    m_byte15 = record.u8(kByte15);
    m_byte16 = record.u8(kByte16);
    m_finalFlag = record.u8(kFinalFlag) != 0;
    setSizeInRawData(RecordSize);
}

JXPSFWorkout::JXPSFWorkout(JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    setSizeInRawData(RecordSize);
}

JXPSFWorkout::JXPSFWorkout(QByteArray* record, JXPSFField* parent) : JXPSFField(record, parent)
{
    parse(JXPSFView(record));
}

JXPSFWorkout::JXPSFWorkout(const JXPSFView& record, JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    parse(record);
}

JXPSFWorkout::~JXPSFWorkout()
{
    for (const QPointer<JXPSFInterval>& interval : qAsConst(m_intervals))
        delete interval.data();
    for (const QPointer<JXPSFWorkoutLog>& log : qAsConst(m_workoutLogs))
        delete log.data();
}

void JXPSFWorkout::parse(const JXPSFView& record)
{
    m_time = record.u32(kTime);
    m_name = record.bytes(kName, NameSize);
    m_workoutId = record.u32(kWorkoutId);
    m_intervalOffset = record.u32(kIntervalOffset);
    m_logOffset = record.u32(kLogOffset);
    const quint8 flags = record.u8(kFlags);
    m_typeValue = flags & 0x0F;
    m_flag = (flags & kFlag) != 0;
    m_nameType = (flags & kBitmapName) != 0;
    m_uploaded = (flags & kUploaded) != 0;
    const quint8 values = record.u8(kValues);
    m_lowValue = values & 0x1F;
    m_highValue = values >> 5;
    m_value148 = record.u32(kValue148);
    setSizeInRawData(RecordSize);
}

void JXPSFWorkout::loadInterval(QByteArray* intervals)
{
    const JXPSFView area(intervals);
    qint64 budget = area.size() / JXPSFInterval::ReadSize;
    loadInterval(area, budget);
}

void JXPSFWorkout::loadInterval(const JXPSFView& intervals, qint64& budget)
{
    unsigned int offset = m_intervalOffset;
    JXPSFChain links(intervals.size(), JXPSFInterval::ReadSize, "interval");
    while (links.admits(offset)) {
        if (budget <= 0) {
            JX_WARNING << "interval chains read more than their table holds";
            break;
        }
        --budget;
        JXPSFInterval* interval = new JXPSFInterval(intervals.sub(offset, JXPSFInterval::ReadSize));
        m_intervals.append(interval);
        offset = interval->getNextOffset();
    }
}

void JXPSFWorkout::loadWorkoutLog(JXPSFWorkoutLogFrame* logs)
{
    if (logs)
        m_workoutLogs += logs->loadChain(m_logOffset);
}

JXPSFWorkoutFrame::JXPSFWorkoutFrame(QByteArray* raw, JXPSFWorkoutLogFrame* logs, JXPSFField* parent,
                                     const JXPSFTableArea& workoutArea, const JXPSFTableArea& intervalArea)
    : JXPSFField(raw, parent)
{
    const JXPSFView frame(raw);
    m_workoutTblOffset = frame.u32(kWorkoutTblOffset);
    m_intervalTblOffset = frame.u32(kIntervalTblOffset);
    const quint8 count = frame.u8(kWorkoutCount);
    m_workoutCount = count == 0xFF ? 0 : count;
    loadWorkout(workoutArea.cut(frame.sub(m_workoutTblOffset)), intervalArea.cut(frame.sub(m_intervalTblOffset)), logs);
}

JXPSFWorkoutFrame::~JXPSFWorkoutFrame()
{
    for (const QPointer<JXPSFWorkout>& workout : qAsConst(m_workouts))
        delete workout.data();
}

void JXPSFWorkoutFrame::loadWorkout(QByteArray* table, QByteArray* intervals, JXPSFWorkoutLogFrame* logs)
{
    loadWorkout(JXPSFView(table), JXPSFView(intervals), logs);
}

void JXPSFWorkoutFrame::loadWorkout(const JXPSFView& table, const JXPSFView& intervals, JXPSFWorkoutLogFrame* logs)
{
    // Each interval record of the table is read once at most, however often the chains cross it.
    qint64 budget = intervals.size() / JXPSFInterval::ReadSize;
    for (int i = 0; i < m_workoutCount; ++i) {
        const qint64 offset = qint64(i) * JXPSFWorkout::RecordSize;
        if (!table.contains(offset, JXPSFWorkout::RecordSize)) {
            JX_WARNING << "workout table holds" << i << "of" << m_workoutCount << "records";
            break;
        }
        JXPSFWorkout* workout = new JXPSFWorkout(table.sub(offset, JXPSFWorkout::RecordSize));
        workout->loadInterval(intervals, budget);
        workout->loadWorkoutLog(logs);
        m_workouts.append(workout);
    }
}
