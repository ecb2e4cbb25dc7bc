#include "psf/gen1/jxpsfsensorlogframe.h"

#include "jxlog.h"
#include "psf/gen1/jxpsfchain.h"

namespace {

// Frame head
const int kListOffset = 0;

// Log head
const int kStartTime = 0;
const int kNextOffset = 4;
const int kInterval = 8;
const int kMask = 9;
const int kSampleCount = 10;

const quint8 kSpeed = 0x01;
const quint8 kCadence = 0x02;
const quint8 kHeartRate = 0x04;
const quint8 kPower = 0x08;
const quint8 kTemperature = 0x10;
const quint8 kBrm = 0x20;
const quint8 kBreak = 0x80;

} // namespace

JXPSFSensorLogPoint::JXPSFSensorLogPoint(QByteArray* sample, char mask, JXPSFField* parent)
    : JXPSFSensorLogPoint(JXPSFView(sample), mask, parent)
{
}

JXPSFSensorLogPoint::JXPSFSensorLogPoint(const JXPSFView& sample, char mask, JXPSFField* parent)
    : JXPSFField(nullptr, parent)
{
    const quint8 bits = quint8(mask);
    int at = 0;
    if (bits & kSpeed)
        m_speed = sample.u8(at++);
    if (bits & kCadence)
        m_cadence = sample.u8(at++);
    if (bits & kHeartRate)
        m_heartRate = sample.u8(at++);
    if (bits & kPower) {
        m_power = sample.u16(at);
        at += 2;
    }
    if (bits & kTemperature) {
        m_temperature = short(sample.u16(at));
        at += 2;
    }
    if (bits & kBrm) {
        m_brm = sample.u16(at);
        at += 2;
    }
    setSizeInRawData(unsigned(at));
}

int JXPSFSensorLogPoint::sampleSize(char mask)
{
    const quint8 bits = quint8(mask);
    return ((bits & kSpeed) ? 1 : 0) + ((bits & kCadence) ? 1 : 0) + ((bits & kHeartRate) ? 1 : 0) +
           ((bits & kPower) ? 2 : 0) + ((bits & kTemperature) ? 2 : 0) + ((bits & kBrm) ? 2 : 0);
}

JXPSFSensorLog::JXPSFSensorLog(QByteArray* log, JXPSFField* parent) : JXPSFField(log, parent)
{
    parse(JXPSFView(log), 0x7FFF);
}

JXPSFSensorLog::JXPSFSensorLog(const JXPSFView& log, int maxSamples, JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    parse(log, maxSamples);
}

JXPSFSensorLog::~JXPSFSensorLog()
{
    for (const QPointer<JXPSFSensorLogPoint>& point : qAsConst(m_points)) {
        if (!m_pointStore.owns(point.data()))
            delete point.data();
    }
}

const QVector<QPointer<JXPSFSensorLogPoint>>& JXPSFSensorLog::getPoints() const
{
    if (m_pendingPoints > 0) {
        const JXPSFView records(&m_sampleRecords);
        const int sampleSize = JXPSFSensorLogPoint::sampleSize(m_mask);
        m_pointStore.reset(m_pendingPoints);
        m_points.reserve(m_pendingPoints);
        for (int i = 0; i < m_pendingPoints; ++i)
            m_points.append(m_pointStore.make(i, records.sub(qint64(i) * sampleSize, sampleSize), m_mask));
        m_pendingPoints = 0;
        m_sampleRecords = QByteArray();
    }
    return m_points;
}

void JXPSFSensorLog::parse(const JXPSFView& log, int maxSamples)
{
    m_startTime = log.u32(kStartTime);
    m_nextOffset = log.u32(kNextOffset);
    m_interval = log.u8(kInterval);
    const quint8 mask = log.u8(kMask);
    m_mask = char(mask);
    m_hasSpeed = (mask & kSpeed) != 0;
    m_hasCadence = (mask & kCadence) != 0;
    m_hasHeartRate = (mask & kHeartRate) != 0;
    m_hasPower = (mask & kPower) != 0;
    m_hasTemperature = (mask & kTemperature) != 0;
    m_hasBrm = (mask & kBrm) != 0;
    m_isBreak = (mask & kBreak) != 0;
    const quint16 count = log.u16(kSampleCount);
    m_sampleCount = count == 0xFFFF ? 0 : short(count);

    // The samples that fit are counted and their bytes kept; their objects are made when first asked for.
    const int sampleSize = JXPSFSensorLogPoint::sampleSize(m_mask);
    qint64 fitting = qMin<qint64>(m_sampleCount, maxSamples);
    if (sampleSize > 0)
        fitting = qMin<qint64>(fitting, qMax<qint64>(log.size() - HeadSize, 0) / sampleSize);
    else if (!log.contains(HeadSize, 0))
        fitting = 0;
    const int samples = int(qMax<qint64>(fitting, 0));
    if (samples < m_sampleCount)
        JX_WARNING << "sensor log holds" << samples << "of" << m_sampleCount << "samples";
    const qint64 at = HeadSize + qint64(samples) * sampleSize;
    const JXPSFView records = log.sub(HeadSize, qint64(samples) * sampleSize);
    m_sampleRecords = QByteArray(records.data(), int(records.size()));
    m_pendingPoints = samples;
    setSizeInRawData(unsigned(qMin<qint64>(at, log.size())));
}

JXPSFSensorLogFrame::JXPSFSensorLogFrame(QByteArray* raw, JXPSFField* parent, const JXPSFTableArea& area)
    : JXPSFField(raw, parent)
{
    const JXPSFView frame(raw);
    m_logOffset = frame.u32(kListOffset);
    const JXPSFView list = area.cut(frame.sub(m_logOffset));
    // One copy per frame; records are read in place from it.
    m_raw = QByteArray(list.data(), int(list.size()));
    m_budget = m_raw.size();
}

JXPSFSensorLogFrame::~JXPSFSensorLogFrame()
{
    for (const QPointer<JXPSFSensorLog>& log : qAsConst(m_logs))
        delete log.data();
}

void JXPSFSensorLogFrame::setLogRawData(QByteArray* raw)
{
    m_raw = raw ? *raw : QByteArray();
    m_budget = m_raw.size();
}

QVector<QPointer<JXPSFSensorLog>> JXPSFSensorLogFrame::loadChain(unsigned int offset, JXPSFField* parent)
{
    QVector<QPointer<JXPSFSensorLog>> chain;
    const JXPSFView list(&m_raw);
    JXPSFChain links(list.size(), JXPSFSensorLog::HeadSize, "sensor-log");
    while (links.admits(offset)) {
        // Each byte of the list pays for one record at most, however often the chains cross it.
        if (m_budget < JXPSFSensorLog::HeadSize) {
            JX_WARNING << "sensor-log chains read more than their list holds";
            break;
        }
        const int maxSamples = int(qMin<qint64>(m_budget - JXPSFSensorLog::HeadSize, 0x7FFF));
        JXPSFSensorLog* log = new JXPSFSensorLog(list.sub(offset), maxSamples, parent);
        m_budget -= JXPSFSensorLog::HeadSize +
                    qMax<qint64>(log->getSizeInRawData() - JXPSFSensorLog::HeadSize, log->getLoadedPointCount());
        chain.append(log);
        offset = log->getNextOffset();
    }
    return chain;
}
