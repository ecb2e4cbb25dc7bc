#include "psf/gen2/jxpsfworkoutframe_1_5.h"

#include <QtEndian>

#include <cstring>
#include <vector>

#include "jxlog.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsfinterval_1_5.h"
#include "psf/gen2/jxpsfmultilangstring_1_5.h"
#include "psf/gen2/jxpsfworkout_1_5.h"

namespace {

const int kWorkoutTableOffset = 0;
const int kIntervalTableOffset = 4;
const int kCountOffset = 8;
const int kLastRecOffset = 12;

// A name record's payload length is a u16.
const size_t kLargestNameRecord = JXPSFMultiLangString_1_5::HeadSize + 0xFFFF;

quint32 headerWord(const char* header, int field)
{
    return qFromLittleEndian<quint32>(header + field);
}

void setHeaderWord(char* header, int field, quint32 value)
{
    qToLittleEndian<quint32>(value, header + field);
}

// Upper bound of a name record's size for a text, before it is written.
size_t nameRecordBound(const QString& text, bool bitFont)
{
    if (bitFont)
        return kLargestNameRecord;
    return JXPSFMultiLangString_1_5::HeadSize + qMin<size_t>(size_t(text.size()), 0xFFFF);
}

} // namespace

JXPSFWorkoutFrame_1_5::JXPSFWorkoutFrame_1_5(char* frame, const JXExtFlashInfo_2M* info, const char* imageEnd)
    : m_data(frame)
{
    if (!frame || !info || !imageEnd || frame >= imageEnd) {
        JX_WARNING << "workout frame without an image or a layout";
        return;
    }
    m_workoutTable = JXPSFArea::table(JXPSFTable::Workout, frame, HeadSize, getWkrTblOffset(), info, imageEnd);
    m_intervalTable = JXPSFArea::table(JXPSFTable::Interval, frame, HeadSize, getWrkLstOffset(), info, imageEnd);
    loadWorkouts();
}

JXPSFWorkoutFrame_1_5::~JXPSFWorkoutFrame_1_5()
{
    qDeleteAll(m_workouts);
}

void JXPSFWorkoutFrame_1_5::loadWorkouts()
{
    const unsigned int count = getWrkCount();
    if (count == 0)
        return;
    if (m_workoutTable.isEmpty()) {
        JX_WARNING << "workout count" << count << "without a workout table";
        return;
    }
    // In a sound table no two records overlap, so all workouts together take at most the table, and all interval
    // chains together at most the interval table's records. Spending these budgets ends loops and overlaps.
    unsigned int bytesLeft = m_workoutTable.size();
    unsigned int intervalsLeft = m_intervalTable.size() / JXPSFInterval_1_5::RecordSize;
    JXPSFVisitedOffsets visited;
    unsigned int offset = 0;
    for (unsigned int index = 0; index < count; ++index) {
        char* record = m_workoutTable.at(offset, JXPSFWorkout_1_5::RecordSize);
        if (!record) {
            JX_WARNING << "workout" << index << "of" << count << "at" << offset << "lies outside the workout table";
            break;
        }
        auto* workout = new JXPSFWorkout_1_5(record, &m_intervalTable, m_workoutTable.end(), intervalsLeft);
        if (workout->getBytesCount() > bytesLeft) {
            JX_WARNING << "workouts overlap: workout" << index << "would exceed the workout table";
            delete workout;
            break;
        }
        bytesLeft -= workout->getBytesCount();
        intervalsLeft -= unsigned(workout->getIntervals().size());
        m_workouts.append(workout);
        if (index + 1 == count)
            break;
        visited.insert(offset);
        offset = workout->getNextOffset();
        if (offset == JXPSFWorkout_1_5::None || visited.contains(offset)) {
            JX_WARNING << "workout chain ends or loops after" << index + 1 << "of" << count << "workouts";
            break;
        }
    }
}

unsigned short JXPSFWorkoutFrame_1_5::getWrkCount() const
{
    const quint16 count = qFromLittleEndian<quint16>(m_data + kCountOffset);
    return count == 0xFFFF ? 0 : count;
}

void JXPSFWorkoutFrame_1_5::setWrkCount(unsigned short count)
{
    qToLittleEndian<quint16>(count, m_data + kCountOffset);
}

unsigned int JXPSFWorkoutFrame_1_5::getWkrTblOffset() const
{
    return qFromLittleEndian<quint32>(m_data + kWorkoutTableOffset);
}

unsigned int JXPSFWorkoutFrame_1_5::getWrkLstOffset() const
{
    return qFromLittleEndian<quint32>(m_data + kIntervalTableOffset);
}

void JXPSFWorkoutFrame_1_5::setLastRecOffset(unsigned int offset)
{
    qToLittleEndian<quint32>(offset, m_data + kLastRecOffset);
}

unsigned int JXPSFWorkoutFrame_1_5::getFreeRecOffset()
{
    // Behind the last workout, which in a table written in order is also the furthest one; a chain out of order
    // must not make a new record overwrite another.
    unsigned int free = 0;
    for (JXPSFWorkout_1_5* workout : qAsConst(m_workouts))
        free = qMax(free, m_workoutTable.offsetOf(workout->getData()) + workout->getBytesCount());
    return free;
}

JXPSFWorkout_1_5* JXPSFWorkoutFrame_1_5::createWorkout(QStringList names, QStringList nameCodes,
                                                       QStringList descriptions, QStringList descriptionCodes,
                                                       bool bitFont, JXExtFlashInfo_2M* flash)
{
    char* header = flash ? flash->getFlashHeader() : nullptr;
    if (m_workoutTable.isEmpty() || !header) {
        JX_WARNING << "cannot create a workout: no workout table or no flash header";
        return nullptr;
    }

    // Bitmap sizes are known only once rendered, so the record is built aside and copied in once it fits.
    size_t bound = JXPSFWorkout_1_5::RecordSize;
    for (const QString& text : qAsConst(names))
        bound += nameRecordBound(text, bitFont);
    for (const QString& text : qAsConst(descriptions))
        bound += nameRecordBound(text, bitFont);
    std::vector<char> draftBytes(bound, 0);
    unsigned int size = 0;
    {
        JXPSFWorkout_1_5 draft(draftBytes.data(), nullptr, nullptr, 0);
        draft.setBitFont(bitFont);
        for (int index = 0; index < names.size(); ++index)
            draft.createName(names.at(index), nameCodes.value(index));
        for (int index = 0; index < descriptions.size(); ++index)
            draft.createDescription(descriptions.at(index), descriptionCodes.value(index));
        size = draft.getBytesCount();
    }

    const unsigned int offset = getFreeRecOffset();
    const quint32 roomLeft = headerWord(header, JXExtFlashInfo_2M::WorkoutRoomLeft);
    char* record = m_workoutTable.at(offset, size);
    if (size > roomLeft || !record) {
        JX_WARNING << "no room for a workout of" << size << "bytes at" << offset << "; room left" << roomLeft;
        return nullptr;
    }

    JXPSFWorkout_1_5* last = m_workouts.isEmpty() ? nullptr : m_workouts.last();
    memcpy(record, draftBytes.data(), size);
    auto* workout = new JXPSFWorkout_1_5(record, &m_intervalTable, record + size, 0);
    m_workouts.append(workout);
    if (last)
        last->setNextOffset(offset);
    setWrkCount(quint16(getWrkCount() + 1));
    setHeaderWord(header, JXExtFlashInfo_2M::WorkoutTableEnd,
                  headerWord(header, JXExtFlashInfo_2M::WorkoutTableEnd) + size);
    setHeaderWord(header, JXExtFlashInfo_2M::WorkoutRoomLeft, roomLeft - size);
    return workout;
}

JXPSFInterval_1_5* JXPSFWorkoutFrame_1_5::createWorkoutInterval(JXPSFWorkout_1_5* workout, JXExtFlashInfo_2M* flash)
{
    char* header = flash ? flash->getFlashHeader() : nullptr;
    if (!workout || !m_workouts.contains(workout) || m_intervalTable.isEmpty() || !header) {
        JX_WARNING << "cannot create an interval: unknown workout, no interval table or no flash header";
        return nullptr;
    }
    // The intervals of all workouts fill the table from its start without gaps. Where a damaged table has gaps, the
    // new interval still goes behind the furthest one, never over another.
    unsigned int offset = 0;
    unsigned int furthestEnd = 0;
    for (JXPSFWorkout_1_5* each : qAsConst(m_workouts)) {
        offset += unsigned(each->getIntervals().size()) * JXPSFInterval_1_5::RecordSize;
        for (JXPSFInterval_1_5* interval : qAsConst(each->getIntervals()))
            furthestEnd =
                qMax(furthestEnd, m_intervalTable.offsetOf(interval->getData()) + JXPSFInterval_1_5::RecordSize);
    }
    offset = qMax(offset, furthestEnd);
    const unsigned int size = JXPSFInterval_1_5::RecordSize;
    const quint32 roomLeft = headerWord(header, JXExtFlashInfo_2M::IntervalRoomLeft);
    char* record = m_intervalTable.at(offset, size);
    if (size > roomLeft || !record) {
        JX_WARNING << "no room for an interval at" << offset << "; room left" << roomLeft;
        return nullptr;
    }

    auto* interval = new JXPSFInterval_1_5(record, true);
    if (workout->getIntervals().isEmpty())
        workout->setItvOffset(offset);
    else
        workout->getIntervals().last()->setNext(offset);
    workout->addInterval(interval);
    setHeaderWord(header, JXExtFlashInfo_2M::IntervalTableEnd,
                  headerWord(header, JXExtFlashInfo_2M::IntervalTableEnd) + size);
    setHeaderWord(header, JXExtFlashInfo_2M::IntervalRoomLeft, roomLeft - size);
    return interval;
}

bool JXPSFWorkoutFrame_1_5::erase(JXExtFlashInfo_2M* flash)
{
    char* header = flash ? flash->getFlashHeader() : nullptr;
    if (!header) {
        JX_WARNING << "cannot erase the workouts without a flash header";
        return false;
    }
    // Half an erase would leave intervals without workouts or workouts naming erased intervals.
    if (m_workoutTable.isEmpty() || m_intervalTable.isEmpty()) {
        JX_WARNING << "cannot erase the workouts: the workout or the interval table lies outside its area";
        return false;
    }
    const unsigned int* layout = flash->getFlashDef();
    qDeleteAll(m_workouts);
    m_workouts.clear();

    memset(m_workoutTable.begin(), 0xFF, m_workoutTable.size());
    setHeaderWord(header, JXExtFlashInfo_2M::WorkoutTableEnd, headerWord(header, JXExtFlashInfo_2M::WorkoutTableStart));
    setHeaderWord(header, JXExtFlashInfo_2M::WorkoutRoomLeft, layout[JXExtFlashInfo_2M::WorkoutTableSize]);
    memset(m_intervalTable.begin(), 0xFF, m_intervalTable.size());
    setWrkCount(0);
    setHeaderWord(header, JXExtFlashInfo_2M::IntervalTableEnd,
                  headerWord(header, JXExtFlashInfo_2M::IntervalTableStart));
    setHeaderWord(header, JXExtFlashInfo_2M::IntervalRoomLeft, layout[JXExtFlashInfo_2M::IntervalAreaSize]);
    return true;
}

void JXPSFWorkoutFrame_1_5::eraseWorkoutLogOffsset()
{
    for (JXPSFWorkout_1_5* workout : qAsConst(m_workouts))
        workout->setWrkLogOffset(JXPSFWorkout_1_5::None);
}
