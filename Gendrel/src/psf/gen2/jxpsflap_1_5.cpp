#include "psf/gen2/jxpsflap_1_5.h"

#include "psf/jxpsfarea.h"

namespace {

const int kStartTime = 0;
const int kEndTime = 4;
const int kDistance = 8;
const int kAvgSpeed = 12;
const int kMaxSpeed = 13;
const int kAvgBPM = 14;
const int kMaxBPM = 15;
const int kAvgCadence = 16;
const int kMaxCadence = 17;
const int kAvgPower = 18;
const int kMaxPower = 20;
const int kGainAlt = 22;
const int kLostAlt = 24;
const int kCalorie = 26;
const int kRTime = 28;
const int kGainLen = 32;
const int kLostLen = 36;
const int kGainTime = 40;
const int kLostTime = 44;
const int kWork = 48;
const int kSubActType = 52;

} // namespace

using namespace JXPSFBytes;

unsigned int JXPSFLap_1_5::getStartTime() const { return u32(m_data + kStartTime); }
unsigned int JXPSFLap_1_5::getEndTime() const { return u32(m_data + kEndTime); }
unsigned int JXPSFLap_1_5::getDistance() const { return u32(m_data + kDistance); }
JXPSFValue JXPSFLap_1_5::getAvgSpeed() const { return JXPSFValue::fromPSFSpeed(u8(m_data + kAvgSpeed)); }
JXPSFValue JXPSFLap_1_5::getMaxSpeed() const { return JXPSFValue::fromPSFSpeed(u8(m_data + kMaxSpeed)); }
unsigned char JXPSFLap_1_5::getAvgBPM() const { return u8(m_data + kAvgBPM); }
unsigned char JXPSFLap_1_5::getMaxBPM() const { return u8(m_data + kMaxBPM); }
unsigned char JXPSFLap_1_5::getAvgRPM() const { return u8(m_data + kAvgCadence); }
unsigned char JXPSFLap_1_5::getMaxRPM() const { return u8(m_data + kMaxCadence); }
JXPSFValue JXPSFLap_1_5::getAvgStride() const { return JXPSFValue::stridefromPSFRpm(u8(m_data + kAvgCadence)); }
JXPSFValue JXPSFLap_1_5::getMaxStride() const { return JXPSFValue::stridefromPSFRpm(u8(m_data + kMaxCadence)); }
unsigned short JXPSFLap_1_5::getAvgPower() const { return u16(m_data + kAvgPower); }
unsigned short JXPSFLap_1_5::getMaxPower() const { return u16(m_data + kMaxPower); }
unsigned short JXPSFLap_1_5::getGainAlt() const { return u16(m_data + kGainAlt); }
unsigned short JXPSFLap_1_5::getLostAlt() const { return u16(m_data + kLostAlt); }
unsigned short JXPSFLap_1_5::getCalorie() const { return u16(m_data + kCalorie); }
unsigned int JXPSFLap_1_5::getRTime() const { return u32(m_data + kRTime); }
unsigned int JXPSFLap_1_5::getGainLen() const { return u32(m_data + kGainLen); }
unsigned int JXPSFLap_1_5::getLostLen() const { return u32(m_data + kLostLen); }
unsigned int JXPSFLap_1_5::getGainTime() const { return u32(m_data + kGainTime); }
unsigned int JXPSFLap_1_5::getLostTime() const { return u32(m_data + kLostTime); }
unsigned int JXPSFLap_1_5::getWork() const { return u32(m_data + kWork); }
unsigned char JXPSFLap_1_5::getSubActType() const { return u8(m_data + kSubActType) & 0x0F; }
