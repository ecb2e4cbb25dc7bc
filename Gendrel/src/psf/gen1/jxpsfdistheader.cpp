#include "psf/gen1/jxpsfdistheader.h"

#include "psf/gen1/jxpsfview.h"

namespace {

// Management record
const int kOffset = 0;
const int kSize = 4;
const int kNameSize = 12;

// Distribution header
const int kBaseDate = 0;
const int kBaseTime = 4;
const int kRecords = 12;
const char kMarker[] = {0x00, 0x78, 0x66, 0x66};

} // namespace

JXPSFManagementHeaderRecord::JXPSFManagementHeaderRecord(QByteArray* raw, QObject* parent)
    : JXPSFField(raw, parent), m_name(kNameSize, char(0xFF))
{
    const JXPSFView area(raw);
    m_offset = area.u32(kOffset);
    m_size = area.u16(kSize);
    setSizeInRawData(RecordSize);
}

QString JXPSFManagementHeaderRecord::getFName() const
{
    return QString::fromLatin1(m_name);
}

void JXPSFManagementHeaderRecord::setFName(QString name)
{
    Q_UNUSED(name);
    m_name = QByteArray(kNameSize, char(0xFF));
}

QByteArray JXPSFManagementHeaderRecord::toBytes() const
{
    QByteArray bytes(RecordSize, char(0xFF));
    JXPSFViewWriter writer(bytes);
    writer.u32(kOffset, m_offset);
    writer.u16(kSize, m_size);
    writer.u16(6, m_word);
    writer.bytes(8, m_name, kNameSize, char(0xFF));
    return bytes;
}

JXPSFDistHeader::JXPSFDistHeader(QByteArray* raw, QObject* parent) : JXPSFField(raw, parent)
{
    const JXPSFView area(raw);
    m_baseDate = area.u32(kBaseDate);
    m_baseTime = area.u32(kBaseTime);
    QByteArray records = area.bytes(kRecords, 6 * JXPSFManagementHeaderRecord::RecordSize);
    loadMHRs(&records);
    setSizeInRawData(HeaderSize);
}

JXPSFDistHeader::~JXPSFDistHeader()
{
    delete m_poi;
    delete m_route;
    delete m_workout;
    delete m_workoutLog;
    delete m_tracerData;
    delete m_sensorLog;
}

void JXPSFDistHeader::loadMHRs(QByteArray* raw)
{
    const JXPSFView area(raw);
    QPointer<JXPSFManagementHeaderRecord>* records[] = {&m_poi,        &m_route,      &m_workout,
                                                        &m_workoutLog, &m_tracerData, &m_sensorLog};
    for (int i = 0; i < 6; ++i) {
        // Missing bytes read as erased flash: the frame then starts nowhere.
        QByteArray bytes =
            area.bytes(qint64(i) * JXPSFManagementHeaderRecord::RecordSize, JXPSFManagementHeaderRecord::RecordSize);
        delete records[i]->data();
        *records[i] = new JXPSFManagementHeaderRecord(&bytes, this);
    }
}

QByteArray JXPSFDistHeader::commit()
{
    QByteArray bytes;
    bytes.reserve(HeaderSize);
    QByteArray head(8, char(0xFF));
    JXPSFViewWriter writer(head);
    writer.u32(kBaseDate, m_baseDate);
    writer.u32(kBaseTime, m_baseTime);
    bytes += head;
    bytes += QByteArray(kMarker, 4);
    const QByteArray erased(JXPSFManagementHeaderRecord::RecordSize, char(0xFF));
    bytes += m_poi ? m_poi->toBytes() : erased;
    bytes += m_route ? m_route->toBytes() : erased;
    bytes += erased;
    bytes += erased;
    bytes += m_tracerData ? m_tracerData->toBytes() : erased;
    bytes += m_sensorLog ? m_sensorLog->toBytes() : erased;
    return bytes;
}
