#include "psf/gen2/jxpsfinterval_1_5.h"

#include <QtEndian>

#include <cstring>

namespace {

const int kTypeOffset = 0;
const int kDurationOffset = 1;
const int kDurValueOffset = 2;
const int kNextOffset = 4;
const int kRepeatOffset = 8;
const int kRptCountOffset = 12;
const int kLowTargetOffset = 13;
const int kHighTargetOffset = 14;
const int kStartSegOffset = 15;
const int kEndSegOffset = 16;
const int kFlagsOffset = 17;
const int kTargetHighBitsOffset = 18;
const int kLogResoOffset = 19;

const quint32 kNone = 0xFFFFFFFF;

} // namespace

JXPSFInterval_1_5::JXPSFInterval_1_5(char* record, bool create) : JXPSFObject(record)
{
    if (create) {
        memset(m_data, 0, RecordSize);
        setNext(kNone);
    }
}

JXPSFInterval_1_5::~JXPSFInterval_1_5() = default;

unsigned char JXPSFInterval_1_5::byteAt(int offset) const
{
    return uchar(m_data[offset]);
}

// Changes only the masked bits; the value keeps the low bits that fit.
void JXPSFInterval_1_5::setBits(int offset, unsigned char mask, int shift, unsigned char value)
{
    const unsigned char placed = uchar((value << shift) & mask);
    m_data[offset] = char((byteAt(offset) & ~mask) | placed);
}

JXPSFIntervalType JXPSFInterval_1_5::getItvType() const
{
    return JXPSFIntervalType(byteAt(kTypeOffset) & 0x07);
}

void JXPSFInterval_1_5::setItvType(unsigned char type)
{
    setBits(kTypeOffset, 0x07, 0, type);
}

bool JXPSFInterval_1_5::getDurValueFlag() const
{
    return (byteAt(kTypeOffset) & 0x08) != 0;
}

void JXPSFInterval_1_5::setDurValueFlag(bool flag)
{
    setBits(kTypeOffset, 0x08, 3, flag ? 1 : 0);
}

unsigned char JXPSFInterval_1_5::getTarget() const
{
    return byteAt(kTypeOffset) >> 4;
}

void JXPSFInterval_1_5::setTarget(unsigned char target)
{
    setBits(kTypeOffset, 0xF0, 4, target);
}

unsigned char JXPSFInterval_1_5::getDuration() const
{
    return byteAt(kDurationOffset);
}

void JXPSFInterval_1_5::setDuration(unsigned char duration)
{
    m_data[kDurationOffset] = char(duration);
}

short JXPSFInterval_1_5::getDurValue() const
{
    return qFromLittleEndian<qint16>(m_data + kDurValueOffset);
}

void JXPSFInterval_1_5::setDurValue(short value)
{
    qToLittleEndian<qint16>(value, m_data + kDurValueOffset);
}

unsigned int JXPSFInterval_1_5::getNext() const
{
    return qFromLittleEndian<quint32>(m_data + kNextOffset);
}

void JXPSFInterval_1_5::setNext(unsigned int offset)
{
    qToLittleEndian<quint32>(offset, m_data + kNextOffset);
}

unsigned int JXPSFInterval_1_5::getRepeat() const
{
    const quint32 stored = qFromLittleEndian<quint32>(m_data + kRepeatOffset);
    return stored == kNone ? NoRepeat : stored / RecordSize;
}

void JXPSFInterval_1_5::setRepeat(int index)
{
    const quint32 stored = index < 0 ? kNone : quint32(index) * RecordSize;
    qToLittleEndian<quint32>(stored, m_data + kRepeatOffset);
}

unsigned char JXPSFInterval_1_5::getRptCount() const
{
    const unsigned char count = byteAt(kRptCountOffset);
    return count == 0xFF ? 0 : count;
}

void JXPSFInterval_1_5::setRptCount(unsigned char count)
{
    m_data[kRptCountOffset] = char(count);
}

unsigned char JXPSFInterval_1_5::getLowTarget() const
{
    return byteAt(kLowTargetOffset);
}

void JXPSFInterval_1_5::setLowTarget(unsigned char target)
{
    m_data[kLowTargetOffset] = char(target);
}

unsigned char JXPSFInterval_1_5::getHighTarget() const
{
    return byteAt(kHighTargetOffset);
}

void JXPSFInterval_1_5::setHighTarget(unsigned char target)
{
    m_data[kHighTargetOffset] = char(target);
}

unsigned char JXPSFInterval_1_5::getStartSegIdx() const
{
    return byteAt(kStartSegOffset);
}

void JXPSFInterval_1_5::setStartSegIdx(unsigned char index)
{
    m_data[kStartSegOffset] = char(index);
}

unsigned char JXPSFInterval_1_5::getEnsSegIdx() const
{
    return byteAt(kEndSegOffset);
}

void JXPSFInterval_1_5::setEnsSegIdx(unsigned char index)
{
    m_data[kEndSegOffset] = char(index);
}

bool JXPSFInterval_1_5::getTarValueFlag() const
{
    return (byteAt(kFlagsOffset) & 0x01) != 0;
}

void JXPSFInterval_1_5::setTarValueFlag(bool flag)
{
    setBits(kFlagsOffset, 0x01, 0, flag ? 1 : 0);
}

bool JXPSFInterval_1_5::isHardCon() const
{
    return (byteAt(kFlagsOffset) & 0x02) != 0;
}

void JXPSFInterval_1_5::setHardCon(bool hard)
{
    setBits(kFlagsOffset, 0x02, 1, hard ? 1 : 0);
}

bool JXPSFInterval_1_5::getNeedLap() const
{
    return (byteAt(kFlagsOffset) & 0x04) != 0;
}

void JXPSFInterval_1_5::setNeedLap(bool needLap)
{
    setBits(kFlagsOffset, 0x04, 2, needLap ? 1 : 0);
}

bool JXPSFInterval_1_5::isManual() const
{
    return (byteAt(kFlagsOffset) & 0x08) != 0;
}

void JXPSFInterval_1_5::setManual(bool manual)
{
    setBits(kFlagsOffset, 0x08, 3, manual ? 1 : 0);
}

unsigned char JXPSFInterval_1_5::getLogResoType() const
{
    return (byteAt(kFlagsOffset) >> 4) & 0x07;
}

void JXPSFInterval_1_5::setLogResoType(unsigned char type)
{
    setBits(kFlagsOffset, 0x70, 4, type);
}

unsigned char JXPSFInterval_1_5::getHundredLTarget() const
{
    return byteAt(kTargetHighBitsOffset) & 0x0F;
}

void JXPSFInterval_1_5::setHundredLTarget(unsigned char bits)
{
    setBits(kTargetHighBitsOffset, 0x0F, 0, bits);
}

unsigned char JXPSFInterval_1_5::getHundredHTarget() const
{
    return byteAt(kTargetHighBitsOffset) >> 4;
}

void JXPSFInterval_1_5::setHundredHTarget(unsigned char bits)
{
    setBits(kTargetHighBitsOffset, 0xF0, 4, bits);
}

unsigned char JXPSFInterval_1_5::getLogReso() const
{
    return byteAt(kLogResoOffset);
}

void JXPSFInterval_1_5::setLogReso(unsigned char resolution)
{
    m_data[kLogResoOffset] = char(resolution);
}
