#include "psf/gen2/jxpsfuserinfolog_1_5.h"

#include "jxlog.h"
#include "psf/jxpsfarea.h"

namespace {

// Zone record.
const int kZoneTypeAndCount = 0;
const int kZoneBaseValue = 2;
const int kZoneLow = 4;
const int kZoneHigh = 6;
const int kZoneStride = 4;

// User-info record.
const int kTime = 0;
const int kWeight = 4;
const int kLongStride = 6;
const int kShortStride = 7;
const int kHeight = 8;
const int kBike = 10;
const int kBikeWeight = 11;
const int kWheel = 12;
const int kZones = 14;
const int kRaceDistance = 20;
const int kRaceTime = 22;

const unsigned short kAbsentBound = 0xFFFF;

} // namespace

using namespace JXPSFBytes;

unsigned char JXPSFTZone_1_5::getZType() const { return u8(m_data + kZoneTypeAndCount) & 0x0F; }
unsigned char JXPSFTZone_1_5::getZoneNum() const { return u8(m_data + kZoneTypeAndCount) >> 4; }
unsigned short JXPSFTZone_1_5::getZtypeBV() const { return u16(m_data + kZoneBaseValue); }

unsigned short JXPSFTZone_1_5::getZoneL(int index) const
{
    if (index < 0 || index >= getZoneNum())
        return kAbsentBound;
    return u16(m_data + kZoneLow + kZoneStride * index);
}

unsigned short JXPSFTZone_1_5::getZoneH(int index) const
{
    if (index < 0 || index >= getZoneNum())
        return kAbsentBound;
    return u16(m_data + kZoneHigh + kZoneStride * index);
}

unsigned int JXPSFTZone_1_5::getBytesCount()
{
    return HeadSize + kZoneStride * getZoneNum();
}

JXPSFUserInfoLog_1_5::JXPSFUserInfoLog_1_5(char* record, const char* end) : JXPSFObject(record)
{
    loadZones(end);
}

JXPSFUserInfoLog_1_5::~JXPSFUserInfoLog_1_5()
{
    qDeleteAll(m_zones);
}

void JXPSFUserInfoLog_1_5::loadZones(const char* end)
{
    char* next = m_data + HeadSize;
    for (int index = 0; index < getZTypeNum(); ++index) {
        if (end - next < qptrdiff(JXPSFTZone_1_5::HeadSize)) {
            m_complete = false;
            break;
        }
        auto* zone = new JXPSFTZone_1_5(next);
        if (qptrdiff(zone->getBytesCount()) > end - next) {
            delete zone;
            m_complete = false;
            break;
        }
        m_zones.append(zone);
        next += zone->getBytesCount();
    }
    if (!m_complete)
        JX_WARNING << "training zones cross the user-info table end; zones read:" << m_zones.size();
}

unsigned int JXPSFUserInfoLog_1_5::getTime() const { return u32(m_data + kTime); }
JXPSFUserValue JXPSFUserInfoLog_1_5::getWeight() const { return JXPSFUserValue::fromPSFUserValue(u16(m_data + kWeight)); }
unsigned char JXPSFUserInfoLog_1_5::getLStrideLen() const { return u8(m_data + kLongStride); }
unsigned char JXPSFUserInfoLog_1_5::getSStrideLen() const { return u8(m_data + kShortStride); }
JXPSFUserValue JXPSFUserInfoLog_1_5::getHeight() const { return JXPSFUserValue::fromPSFUserValue(u16(m_data + kHeight)); }
unsigned char JXPSFUserInfoLog_1_5::getBikeID() const { return u8(m_data + kBike) & 0x07; }
unsigned char JXPSFUserInfoLog_1_5::getBikeType() const { return u8(m_data + kBike) >> 4; }
JXPSFBikeValue JXPSFUserInfoLog_1_5::getBikeWeight() const { return JXPSFBikeValue::fromPSFBikeValue(u8(m_data + kBikeWeight)); }
JXPSFBikeValue JXPSFUserInfoLog_1_5::getBikeWheel() const { return JXPSFBikeValue::fromPSFBikeValue(u16(m_data + kWheel)); }
unsigned char JXPSFUserInfoLog_1_5::getTZoneIdx() const { return u8(m_data + kZones) & 0x07; }
unsigned char JXPSFUserInfoLog_1_5::getZTypeNum() const { return (u8(m_data + kZones) >> 3) & 0x07; }
unsigned short JXPSFUserInfoLog_1_5::getRaceDist() const { return u16(m_data + kRaceDistance); }
unsigned short JXPSFUserInfoLog_1_5::getRaceTime() const { return u16(m_data + kRaceTime); }

JXPSFTZone_1_5* JXPSFUserInfoLog_1_5::findZone(unsigned char type) const
{
    for (JXPSFTZone_1_5* zone : m_zones) {
        if (zone->getZType() == type)
            return zone;
    }
    return nullptr;
}

unsigned int JXPSFUserInfoLog_1_5::getBytesCount()
{
    unsigned int count = HeadSize;
    for (JXPSFTZone_1_5* zone : qAsConst(m_zones))
        count += zone->getBytesCount();
    return count;
}
