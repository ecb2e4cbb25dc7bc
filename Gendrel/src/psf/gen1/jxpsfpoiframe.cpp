#include "psf/gen1/jxpsfpoiframe.h"

#include "jxlog.h"
#include "psf/gen1/jxpsfview.h"

namespace {

// Frame head
const int kCount = 0;
const int kTableOffset = 4;

// POI record
const int kLng = 0;
const int kLat = 4;
const int kAlt = 8;
const int kFlags = 10;
const int kReserved = 11;
const int kName = 12;
const int kTrailer = 140;
const int kTrailerSize = 8;

const quint8 kBitmapName = 0x01;
const quint8 kCalibration = 0x02;
const quint8 kUploaded = 0x04;

} // namespace

JXPSFPOIHeader::JXPSFPOIHeader(QByteArray* raw, JXPSFField* parent) : JXPSFPOIHeader(JXPSFView(raw), parent) {}

JXPSFPOIHeader::JXPSFPOIHeader(const JXPSFView& area, JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    setCount(area.u32(kCount));
    m_offset = area.u32(kTableOffset);
    setSizeInRawData(HeaderSize);
}

void JXPSFPOIHeader::setCount(unsigned int count)
{
    m_count = count == 0xFFFFFFFFu ? 0 : count;
}

QByteArray JXPSFPOIHeader::commit()
{
    QByteArray bytes(HeaderSize, char(0xFF));
    JXPSFViewWriter writer(bytes);
    writer.u32(kCount, m_count);
    writer.u32(kTableOffset, m_offset);
    return bytes;
}

JXPSFPOI::JXPSFPOI(JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    setSizeInRawData(RecordSize);
}

JXPSFPOI::JXPSFPOI(QByteArray* record, JXPSFField* parent) : JXPSFField(record, parent)
{
    parse(JXPSFView(record));
}

JXPSFPOI::JXPSFPOI(const JXPSFView& record, JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    parse(record);
}

void JXPSFPOI::parse(const JXPSFView& record)
{
    m_lng = int(record.u32(kLng));
    m_lat = int(record.u32(kLat));
    m_alt = short(record.u16(kAlt));
    const quint8 flags = record.u8(kFlags);
    m_nameType = (flags & kBitmapName) != 0;
    m_isCalibration = (flags & kCalibration) != 0;
    m_uploaded = (flags & kUploaded) != 0;
    m_name = record.bytes(kName, NameSize);
    setSizeInRawData(RecordSize);
}

QByteArray JXPSFPOI::commit()
{
    QByteArray bytes(RecordSize, char(0xFF));
    JXPSFViewWriter writer(bytes);
    writer.u32(kLng, quint32(m_lng));
    writer.u32(kLat, quint32(m_lat));
    writer.u16(kAlt, quint16(m_alt));
    writer.u8(kFlags, quint8((m_nameType ? kBitmapName : 0) | (m_isCalibration ? kCalibration : 0)));
    writer.u8(kReserved, 0);
    writer.bytes(kName, m_name, NameSize, 0);
    writer.fill(kTrailer, kTrailerSize, char(0xFF));
    return bytes;
}

JXPSFPOIFrame::JXPSFPOIFrame(QByteArray* raw, JXPSFField* parent, const JXPSFTableArea& area) : JXPSFField(raw, parent)
{
    loadHeader(raw);
    if (m_header)
        loadPOIs(area.cut(JXPSFView(raw).sub(m_header->getOffset())));
}

JXPSFPOIFrame::~JXPSFPOIFrame()
{
    for (const QPointer<JXPSFPOI>& poi : qAsConst(m_pois))
        delete poi.data();
    delete m_header.data();
}

void JXPSFPOIFrame::loadHeader(QByteArray* raw)
{
    delete m_header.data();
    m_header = new JXPSFPOIHeader(JXPSFView(raw));
}

void JXPSFPOIFrame::loadPOIs(const char* frameStart, int size)
{
    if (m_header)
        loadPOIs(JXPSFView(frameStart, size).sub(m_header->getOffset()));
}

void JXPSFPOIFrame::loadPOIs(const JXPSFView& table)
{
    if (!m_header)
        return;
    for (unsigned int i = 0; i < m_header->getCount(); ++i) {
        const qint64 offset = qint64(i) * JXPSFPOI::RecordSize;
        if (!table.contains(offset, JXPSFPOI::RecordSize)) {
            JX_WARNING << "POI table holds" << i << "of" << m_header->getCount() << "records";
            break;
        }
        m_pois.append(new JXPSFPOI(table.sub(offset, JXPSFPOI::RecordSize)));
    }
    // The count written back is the count of POIs held, never one the table could not give.
    m_header->setCount(unsigned(m_pois.size()));
}

QByteArray JXPSFPOIFrame::commit()
{
    QByteArray bytes = m_header ? m_header->commit() : QByteArray();
    const int count = m_header ? int(qMin<unsigned int>(m_header->getCount(), unsigned(m_pois.size()))) : 0;
    for (int i = 0; i < count; ++i) {
        if (m_pois.at(i))
            bytes += m_pois.at(i)->commit();
    }
    return bytes;
}
