#include "psf/gen2/jxpsfsensorlog_1_5.h"

#include "jxlog.h"
#include "psf/jxpsfarea.h"

namespace {

const int kStartTime = 0;
const int kNext = 4;
const int kTimeInterval = 8;
const int kFlags = 9;
const int kCount = 10;
const int kTypes = 12;

const quint16 kAbsentCount = 0xFFFF;
// Widths of the sample fields, in the order of the presence bits.
const int kFieldWidths[JXPSFSensorLog_1_5::FieldCount] = {1, 1, 1, 2, 2, 2, 1};

} // namespace

using namespace JXPSFBytes;

unsigned int JXPSFSensorLogPoint_1_5::getBytesCount()
{
    return m_log->getSampleSize();
}

unsigned char JXPSFSensorLogPoint_1_5::getSpeed() const
{
    const int at = m_log->fieldPosition(JXPSFSensorLog_1_5::Speed);
    return at < 0 ? 0xFF : u8(m_data + at);
}

unsigned char JXPSFSensorLogPoint_1_5::getRPM() const
{
    const int at = m_log->fieldPosition(JXPSFSensorLog_1_5::Cadence);
    return at < 0 ? 0xFF : u8(m_data + at);
}

unsigned char JXPSFSensorLogPoint_1_5::getBPM() const
{
    const int at = m_log->fieldPosition(JXPSFSensorLog_1_5::HeartRate);
    return at < 0 ? 0xFF : u8(m_data + at);
}

unsigned short JXPSFSensorLogPoint_1_5::getInstPower() const
{
    const int at = m_log->fieldPosition(JXPSFSensorLog_1_5::Power);
    return at < 0 ? 0xFFFF : u16(m_data + at);
}

short JXPSFSensorLogPoint_1_5::getTmp() const
{
    const int at = m_log->fieldPosition(JXPSFSensorLog_1_5::Temperature);
    return at < 0 ? short(0xFFFF) : s16(m_data + at);
}

unsigned short JXPSFSensorLogPoint_1_5::getBRM() const
{
    const int at = m_log->fieldPosition(JXPSFSensorLog_1_5::Brm);
    return at < 0 ? 0xFFFF : u16(m_data + at);
}

unsigned char JXPSFSensorLogPoint_1_5::getGPSSig() const
{
    const int at = m_log->fieldPosition(JXPSFSensorLog_1_5::GPSSignal);
    return at < 0 ? 0xFF : u8(m_data + at);
}

JXPSFSensorLog_1_5::JXPSFSensorLog_1_5(char* head, const char* end) : JXPSFObject(head)
{
    computeLayout();
    loadPoints(end);
}

JXPSFSensorLog_1_5::~JXPSFSensorLog_1_5() = default;

void JXPSFSensorLog_1_5::computeLayout()
{
    const quint8 flags = u8(m_data + kFlags);
    int position = 0;
    for (int field = 0; field < FieldCount; ++field) {
        if ((flags >> field) & 1) {
            m_positions[field] = position;
            position += kFieldWidths[field];
        } else {
            m_positions[field] = -1;
        }
    }
    m_sampleSize = unsigned(position);
}

void JXPSFSensorLog_1_5::loadPoints(const char* end)
{
    const unsigned int count = getPntCount();
    char* sample = m_data + HeadSize;
    if (sample > end || quint64(count) * m_sampleSize > quint64(end - sample)) {
        JX_WARNING << "sensor samples cross the sensor-log table end; log of" << count << "samples not read";
        m_complete = false;
        return;
    }
    m_count = int(count);
}

void JXPSFSensorLog_1_5::makeViews() const
{
    if (m_viewsMade)
        return;
    m_viewsMade = true;
    m_views.reserve(size_t(m_count));
    m_points.reserve(m_count);
    char* sample = m_data + HeadSize;
    for (int index = 0; index < m_count; ++index) {
        m_views.emplace_back(sample, this);
        m_points.append(&m_views.back());
        sample += m_sampleSize;
    }
}

QVector<JXPSFSensorLogPoint_1_5*>& JXPSFSensorLog_1_5::getSensorPoints()
{
    makeViews();
    return m_points;
}

const QVector<JXPSFSensorLogPoint_1_5*>& JXPSFSensorLog_1_5::getSensorPoints() const
{
    makeViews();
    return m_points;
}

unsigned int JXPSFSensorLog_1_5::getStartTime() const { return u32(m_data + kStartTime); }
unsigned int JXPSFSensorLog_1_5::getNext() const { return u32(m_data + kNext); }
unsigned char JXPSFSensorLog_1_5::getTimeInterval() const { return u8(m_data + kTimeInterval); }

unsigned short JXPSFSensorLog_1_5::getPntCount() const
{
    const quint16 count = u16(m_data + kCount);
    return count == kAbsentCount ? 0 : count;
}

unsigned char JXPSFSensorLog_1_5::getTimeType() const { return u8(m_data + kTypes) & 0x03; }
unsigned char JXPSFSensorLog_1_5::getBreadkType() const { return (u8(m_data + kTypes) >> 2) & 0x07; }
bool JXPSFSensorLog_1_5::getSpeedFlag() const { return m_positions[Speed] >= 0; }
bool JXPSFSensorLog_1_5::getCadenceFlag() const { return m_positions[Cadence] >= 0; }
bool JXPSFSensorLog_1_5::getHRFlag() const { return m_positions[HeartRate] >= 0; }
bool JXPSFSensorLog_1_5::getPowerFlag() const { return m_positions[Power] >= 0; }
bool JXPSFSensorLog_1_5::getTmpFlag() const { return m_positions[Temperature] >= 0; }
bool JXPSFSensorLog_1_5::getBrmFlag() const { return m_positions[Brm] >= 0; }
bool JXPSFSensorLog_1_5::getGPSSigFlag() const { return m_positions[GPSSignal] >= 0; }

JXPSFSsrLogPointIter JXPSFSensorLog_1_5::getPointIterator()
{
    return JXPSFSsrLogPointIter(this);
}

unsigned int JXPSFSensorLog_1_5::getBytesCount()
{
    return HeadSize + unsigned(m_count) * m_sampleSize;
}

JXPSFSsrLogPointIter::JXPSFSsrLogPointIter(JXPSFSensorLog_1_5* log)
{
    for (int field = 0; field < JXPSFSensorLog_1_5::FieldCount; ++field)
        m_positions[field] = log ? log->fieldPosition(JXPSFSensorLog_1_5::Field(field)) : -1;
    if (!log)
        return;
    m_count = log->getLoadedPointCount();
    m_first = log->getData() + JXPSFSensorLog_1_5::HeadSize;
    m_sampleSize = log->getSampleSize();
    m_startTime = log->getStartTime();
    m_timeInterval = log->getTimeInterval();
}
