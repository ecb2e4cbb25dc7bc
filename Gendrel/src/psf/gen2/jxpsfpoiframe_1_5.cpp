#include "psf/gen2/jxpsfpoiframe_1_5.h"

#include "jxlog.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsfpoi_1_5.h"

namespace {

const int kCount = 0;
const int kTableOffset = 4;
const int kLastRecOffset = 8;

// Fields of a POI record that a new one starts with.
const int kPOINext = 12;
const int kPOINameOffset = 20;

} // namespace

using namespace JXPSFBytes;

unsigned int JXPSFPOIHeader_1_5::getPOICount() const
{
    const quint32 count = u32(m_data + kCount);
    return count == None ? 0 : count;
}

void JXPSFPOIHeader_1_5::setPOICount(unsigned int count) { setU32(m_data + kCount, count); }
unsigned int JXPSFPOIHeader_1_5::getPOITblOffset() const { return u32(m_data + kTableOffset); }
void JXPSFPOIHeader_1_5::setPOITblOffset(unsigned int offset) { setU32(m_data + kTableOffset, offset); }
void JXPSFPOIHeader_1_5::setLastRecOffset(unsigned int offset) { setU32(m_data + kLastRecOffset, offset); }

JXPSFPOIFrame_1_5::JXPSFPOIFrame_1_5(char* frame, const JXExtFlashInfo_2M* info, const char* imageEnd)
    : m_data(frame), m_imageEnd(imageEnd), m_info(info)
{
    loadHeader();
    loadPOIs();
}

JXPSFPOIFrame_1_5::~JXPSFPOIFrame_1_5()
{
    qDeleteAll(m_pois);
    delete m_header;
}

void JXPSFPOIFrame_1_5::loadHeader()
{
    m_header = new JXPSFPOIHeader_1_5(m_data);
    locateTable();
}

void JXPSFPOIFrame_1_5::locateTable()
{
    // An erased head has no table yet; createPOI gives it one.
    const quint32 offset = m_header->getPOITblOffset();
    m_table = offset == None
                  ? JXPSFArea()
                  : JXPSFArea::table(JXPSFTable::POI, m_data, JXPSFPOIHeader_1_5::Size, offset, m_info, m_imageEnd);
}

void JXPSFPOIFrame_1_5::loadPOIs()
{
    // Every record takes 24 bytes at least, which bounds both the count and a chain that loops.
    const unsigned int count = qMin(m_header->getPOICount(), m_table.size() / JXPSFPOI_1_5::HeadSize);
    if (count < m_header->getPOICount())
        JX_WARNING << "POI count" << m_header->getPOICount() << "exceeds the POI table; at most" << count << "read";
    quint32 offset = 0;
    for (unsigned int index = 0; index < count; ++index) {
        char* record = m_table.at(offset, JXPSFPOI_1_5::HeadSize);
        if (!record) {
            JX_WARNING << "POI" << index << "lies outside the POI table; POIs read:" << m_pois.size();
            break;
        }
        auto* poi = new JXPSFPOI_1_5(record, m_table.end());
        if (!poi->isComplete()) {
            JX_WARNING << "names of POI" << index << "cross the POI table end; POIs read:" << m_pois.size();
            delete poi;
            break;
        }
        m_pois.append(poi);
        offset = poi->getNext();
        if (offset == None)
            break;
    }
}

unsigned int JXPSFPOIFrame_1_5::getPOICount() const
{
    return m_header->getPOICount();
}

unsigned int JXPSFPOIFrame_1_5::getFreeRecOffset()
{
    // Behind the furthest POI: a chain out of order must not make a new record overwrite another.
    unsigned int free = 0;
    for (JXPSFPOI_1_5* poi : qAsConst(m_pois))
        free = qMax(free, m_table.offsetOf(poi->getData()) + poi->getExtent());
    return free;
}

JXPSFPOI_1_5* JXPSFPOIFrame_1_5::createPOI()
{
    // An erased head has no table offset; the table follows the head in every layout.
    if (m_header->getPOITblOffset() == None) {
        m_header->setPOITblOffset(JXPSFPOIHeader_1_5::Size);
        locateTable();
    }
    const unsigned int offset = getFreeRecOffset();
    char* record = m_table.at(offset, JXPSFPOI_1_5::HeadSize);
    if (!record) {
        JX_WARNING << "no room for another POI in the POI table";
        return nullptr;
    }
    m_header->setPOICount(m_header->getPOICount() + 1);
    // Next and name offset: none, before the view looks for names.
    setU32(record + kPOINext, None);
    setU32(record + kPOINameOffset, None);
    auto* poi = new JXPSFPOI_1_5(record, m_table.end());
    if (!m_pois.isEmpty())
        m_pois.last()->setNext(offset);
    m_pois.append(poi);
    return poi;
}

void JXPSFPOIFrame_1_5::deleteAllPOIs()
{
    m_header->setPOICount(0);
    qDeleteAll(m_pois);
    m_pois.clear();
}
