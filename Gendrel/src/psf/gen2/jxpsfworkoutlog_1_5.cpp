#include "psf/gen2/jxpsfworkoutlog_1_5.h"

#include <QtEndian>

#include "jxlog.h"
#include "psf/gen2/jxpsfintervallog_1_5.h"

namespace {

const int kStartTimeOffset = 0;
const int kEndTimeOffset = 4;
const int kNextOffset = 8;
const int kRteOffset = 12;
const int kCountOffset = 16;

} // namespace

JXPSFWorkoutLog_1_5::JXPSFWorkoutLog_1_5(char* head, JXPSFWorkout_1_5* workout, unsigned int maxIntervalLogs)
    : m_data(head), m_workout(workout)
{
    unsigned int count = getItvLogCount();
    if (count > maxIntervalLogs) {
        JX_WARNING << "workout log announces" << count << "interval logs; the list holds" << maxIntervalLogs;
        count = maxIntervalLogs;
    }
    m_intervalLogs.reserve(int(count));
    for (unsigned int index = 0; index < count; ++index)
        m_intervalLogs.append(new JXPSFIntervalLog_1_5(m_data + HeadSize + index * JXPSFIntervalLog_1_5::RecordSize));
}

JXPSFWorkoutLog_1_5::~JXPSFWorkoutLog_1_5()
{
    qDeleteAll(m_intervalLogs);
}

unsigned int JXPSFWorkoutLog_1_5::getStartTime() const
{
    return qFromLittleEndian<quint32>(m_data + kStartTimeOffset);
}

unsigned int JXPSFWorkoutLog_1_5::getEndTime() const
{
    return qFromLittleEndian<quint32>(m_data + kEndTimeOffset);
}

unsigned int JXPSFWorkoutLog_1_5::getNext() const
{
    return qFromLittleEndian<quint32>(m_data + kNextOffset);
}

unsigned int JXPSFWorkoutLog_1_5::getRteOffset() const
{
    return qFromLittleEndian<quint32>(m_data + kRteOffset);
}

void JXPSFWorkoutLog_1_5::setRteOffset(unsigned int offset)
{
    qToLittleEndian<quint32>(offset, m_data + kRteOffset);
}

unsigned short JXPSFWorkoutLog_1_5::getItvLogCount() const
{
    const quint16 count = qFromLittleEndian<quint16>(m_data + kCountOffset);
    return count == 0xFFFF ? 0 : count;
}

unsigned int JXPSFWorkoutLog_1_5::getBytesCount() const
{
    return HeadSize + unsigned(m_intervalLogs.size()) * JXPSFIntervalLog_1_5::RecordSize;
}
