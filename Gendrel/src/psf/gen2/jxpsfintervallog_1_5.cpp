#include "psf/gen2/jxpsfintervallog_1_5.h"

#include <QtEndian>

namespace {

const int kStartTimeOffset = 0;
const int kEndTimeOffset = 4;

} // namespace

unsigned int JXPSFIntervalLog_1_5::getStartTime() const
{
    return qFromLittleEndian<quint32>(m_data + kStartTimeOffset);
}

unsigned int JXPSFIntervalLog_1_5::getEndTime() const
{
    return qFromLittleEndian<quint32>(m_data + kEndTimeOffset);
}
