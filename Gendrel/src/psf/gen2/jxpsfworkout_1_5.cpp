#include "psf/gen2/jxpsfworkout_1_5.h"

#include <QtEndian>

#include <cstring>

#include "jxlog.h"
#include "psf/gen2/jxpsfinterval_1_5.h"
#include "psf/gen2/jxpsfmultilangstring_1_5.h"
#include "psf/jxpsfarea.h"

namespace {

const int kActivateTimeOffset = 0;
const int kIDOffset = 4;
const int kItvOffset = 8;
const int kWrkLogOffset = 12;
const int kFlagsOffset = 16;
const int kRepeatOffset = 17;
const int kSubTypeOffset = 18;
const int kRteOffset = 20;
const int kNextOffset = 28;
const int kNameOffset = 32;
const int kDesOffset = 36;

const unsigned char kActTypeMask = 0x0F;
const unsigned char kDailyMask = 0x10;
const unsigned char kBitFontMask = 0x20;
const unsigned char kUploadedMask = 0x40;
const unsigned char kRepeatCountMask = 0x1F;
const unsigned char kWrkTypeMask = 0xE0;
const unsigned char kSubTypeMask = 0x0F;

} // namespace

JXPSFWorkout_1_5::JXPSFWorkout_1_5(char* record, const JXPSFArea* intervalTable, const char* end,
                                   unsigned int maxIntervals)
    : JXPSFNamedObject(record)
{
    if (!intervalTable) {
        memset(m_data, 0, RecordSize);
        for (int offset : {kNextOffset, kItvOffset, kWrkLogOffset, kRteOffset, kNameOffset, kDesOffset})
            qToLittleEndian<quint32>(None, m_data + offset);
        return;
    }
    loadInterval(*intervalTable, maxIntervals);
    loadNames(end);
    loadDescriptions(end);
}

JXPSFWorkout_1_5::~JXPSFWorkout_1_5()
{
    qDeleteAll(m_intervals);
    qDeleteAll(m_descriptions);
}

unsigned int JXPSFWorkout_1_5::getBytesCount()
{
    unsigned int count = RecordSize;
    for (JXPSFMultiLangString_1_5* name : qAsConst(m_names))
        count += name->getBytesCount();
    for (JXPSFMultiLangString_1_5* description : qAsConst(m_descriptions))
        count += description->getBytesCount();
    return count;
}

bool JXPSFWorkout_1_5::isBitFont()
{
    return (uchar(m_data[kFlagsOffset]) & kBitFontMask) != 0;
}

void JXPSFWorkout_1_5::setBitFont(bool bitFont)
{
    setBits(kFlagsOffset, kBitFontMask, 5, bitFont ? 1 : 0);
}

unsigned int JXPSFWorkout_1_5::getNameOffset()
{
    return qFromLittleEndian<quint32>(m_data + kNameOffset);
}

void JXPSFWorkout_1_5::setNameOffset(unsigned int offset)
{
    qToLittleEndian<quint32>(offset, m_data + kNameOffset);
}

void JXPSFWorkout_1_5::loadInterval(const JXPSFArea& intervalTable, unsigned int maxIntervals)
{
    qDeleteAll(m_intervals);
    m_intervals.clear();
    JXPSFVisitedOffsets visited;
    unsigned int offset = getItvOffset();
    while (offset != None) {
        if (!visited.insert(offset)) {
            JX_WARNING << "workout interval chain loops at" << offset << "; intervals kept:" << m_intervals.size();
            return;
        }
        char* record = intervalTable.at(offset, JXPSFInterval_1_5::RecordSize);
        if (!record) {
            JX_WARNING << "workout interval at" << offset
                       << "lies outside the interval table; intervals kept:" << m_intervals.size();
            return;
        }
        if (unsigned(m_intervals.size()) >= maxIntervals) {
            JX_WARNING << "workout interval chain longer than the interval table holds; intervals kept:"
                       << m_intervals.size();
            return;
        }
        auto* interval = new JXPSFInterval_1_5(record, false);
        m_intervals.append(interval);
        offset = interval->getNext();
    }
}

char* JXPSFWorkout_1_5::chainStart(unsigned int offset, const char* end, const char* what) const
{
    if (offset == None)
        return nullptr;
    if (!end || end <= m_data || offset >= quint64(end - m_data)) {
        JX_WARNING << "workout" << what << "offset" << offset << "lies outside the workout table";
        return nullptr;
    }
    return m_data + offset;
}

void JXPSFWorkout_1_5::loadNames(const char* end)
{
    char* first = chainStart(getNameOffset(), end, "name");
    if (first)
        loadMultiLangStrings(first, end);
    else
        deleteNames();
}

void JXPSFWorkout_1_5::loadDescriptions(const char* end)
{
    qDeleteAll(m_descriptions);
    m_descriptions.clear();
    char* first = chainStart(getDesOffset(), end, "description");
    if (!first)
        return;
    // Descriptions are name records in a chain of their own: the base's bounded walk fills the name list, so the
    // names step aside for it.
    QVector<JXPSFMultiLangString_1_5*> names;
    names.swap(m_names);
    loadMultiLangStrings(first, end);
    m_descriptions.swap(m_names);
    m_names.swap(names);
}

void JXPSFWorkout_1_5::addInterval(JXPSFInterval_1_5* interval)
{
    m_intervals.append(interval);
}

JXPSFMultiLangString_1_5* JXPSFWorkout_1_5::createDescription(QString text, QString code)
{
    unsigned int position = 0;
    if (m_descriptions.isEmpty()) {
        position = getBytesCount();
        setDesOffset(position);
    } else {
        position = getDesOffset();
        for (JXPSFMultiLangString_1_5* description : qAsConst(m_descriptions))
            position += description->getBytesCount();
        m_descriptions.last()->setNext(true);
    }
    // Cleared like a name's head: on erased flash the flag bits, the reserved byte and the image size would
    // otherwise stay 0xFF.
    auto* description = new JXPSFMultiLangString_1_5(m_data + position, true);
    description->setString(text, code, isBitFont(), true);
    m_descriptions.append(description);
    return description;
}

void JXPSFWorkout_1_5::setBits(int offset, unsigned char mask, int shift, unsigned char value)
{
    const unsigned char placed = uchar((value << shift) & mask);
    m_data[offset] = char((uchar(m_data[offset]) & ~mask) | placed);
}

unsigned int JXPSFWorkout_1_5::getActivateTime() const
{
    return qFromLittleEndian<quint32>(m_data + kActivateTimeOffset);
}

void JXPSFWorkout_1_5::setActivateTime(unsigned int time)
{
    qToLittleEndian<quint32>(time, m_data + kActivateTimeOffset);
}

unsigned int JXPSFWorkout_1_5::getID() const
{
    return qFromLittleEndian<quint32>(m_data + kIDOffset);
}

void JXPSFWorkout_1_5::setID(unsigned int id)
{
    qToLittleEndian<quint32>(id, m_data + kIDOffset);
}

unsigned int JXPSFWorkout_1_5::getItvOffset() const
{
    return qFromLittleEndian<quint32>(m_data + kItvOffset);
}

void JXPSFWorkout_1_5::setItvOffset(unsigned int offset)
{
    qToLittleEndian<quint32>(offset, m_data + kItvOffset);
}

unsigned int JXPSFWorkout_1_5::getWrkLogOffset() const
{
    return qFromLittleEndian<quint32>(m_data + kWrkLogOffset);
}

void JXPSFWorkout_1_5::setWrkLogOffset(unsigned int offset)
{
    qToLittleEndian<quint32>(offset, m_data + kWrkLogOffset);
}

unsigned char JXPSFWorkout_1_5::getActType() const
{
    return uchar(m_data[kFlagsOffset]) & kActTypeMask;
}

void JXPSFWorkout_1_5::setActType(unsigned char type)
{
    setBits(kFlagsOffset, kActTypeMask, 0, type);
}

bool JXPSFWorkout_1_5::isDaily() const
{
    return (uchar(m_data[kFlagsOffset]) & kDailyMask) != 0;
}

void JXPSFWorkout_1_5::setDaily(bool daily)
{
    setBits(kFlagsOffset, kDailyMask, 4, daily ? 1 : 0);
}

bool JXPSFWorkout_1_5::isUploaded() const
{
    return (uchar(m_data[kFlagsOffset]) & kUploadedMask) != 0;
}

void JXPSFWorkout_1_5::setUploaded(bool uploaded)
{
    setBits(kFlagsOffset, kUploadedMask, 6, uploaded ? 1 : 0);
}

unsigned char JXPSFWorkout_1_5::getRepeatCount() const
{
    return uchar(m_data[kRepeatOffset]) & kRepeatCountMask;
}

void JXPSFWorkout_1_5::setRepeatCount(unsigned char count)
{
    setBits(kRepeatOffset, kRepeatCountMask, 0, count);
}

unsigned char JXPSFWorkout_1_5::getWrkType() const
{
    return uchar(m_data[kRepeatOffset]) >> 5;
}

void JXPSFWorkout_1_5::setWrkType(unsigned char type)
{
    setBits(kRepeatOffset, kWrkTypeMask, 5, type);
}

unsigned char JXPSFWorkout_1_5::getSubType() const
{
    return uchar(m_data[kSubTypeOffset]) & kSubTypeMask;
}

void JXPSFWorkout_1_5::setSubType(unsigned char type)
{
    setBits(kSubTypeOffset, kSubTypeMask, 0, type);
}

unsigned int JXPSFWorkout_1_5::getRteOffset() const
{
    return qFromLittleEndian<quint32>(m_data + kRteOffset);
}

void JXPSFWorkout_1_5::setRteOffset(unsigned int offset)
{
    qToLittleEndian<quint32>(offset, m_data + kRteOffset);
}

unsigned int JXPSFWorkout_1_5::getNextOffset() const
{
    return qFromLittleEndian<quint32>(m_data + kNextOffset);
}

void JXPSFWorkout_1_5::setNextOffset(unsigned int offset)
{
    qToLittleEndian<quint32>(offset, m_data + kNextOffset);
}

unsigned int JXPSFWorkout_1_5::getDesOffset() const
{
    return qFromLittleEndian<quint32>(m_data + kDesOffset);
}

void JXPSFWorkout_1_5::setDesOffset(unsigned int offset)
{
    qToLittleEndian<quint32>(offset, m_data + kDesOffset);
}
