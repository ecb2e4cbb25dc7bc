#include "psf/gen2/jxpsftrackpoint_1_5.h"

#include "psf/gen2/jxpsftrackseg_1_5.h"
#include "psf/jxpsfarea.h"

namespace {

const quint8 kClassBits = 0x03;
const quint8 kTurnBit = 0x04;
const quint8 kSlopeCrestBit = 0x08;
const quint8 kSlopeBaseBit = 0x10;
const int kAltitude = 1;

bool wideAltitude(unsigned char locType)
{
    return (locType & 1) != 0;
}

bool widePosition(unsigned char locType)
{
    return (locType & 2) != 0;
}

} // namespace

using namespace JXPSFBytes;

JXPSFTrackPoint_1_5::JXPSFTrackPoint_1_5(char* tag, bool create) : JXPSFObject(tag)
{
    if (create)
        *m_data = 0;
}

void JXPSFTrackPoint_1_5::setLocType(unsigned char type) { setBits(m_data, kClassBits, type); }
bool JXPSFTrackPoint_1_5::isTurn() const { return (u8(m_data) & kTurnBit) != 0; }
void JXPSFTrackPoint_1_5::setTurn(bool turn) { setBits(m_data, kTurnBit, turn ? 0xFF : 0); }
bool JXPSFTrackPoint_1_5::isSlopeCrest() const { return (u8(m_data) & kSlopeCrestBit) != 0; }
void JXPSFTrackPoint_1_5::setSlopeCrest(bool crest) { setBits(m_data, kSlopeCrestBit, crest ? 0xFF : 0); }
bool JXPSFTrackPoint_1_5::isSlopeBase() const { return (u8(m_data) & kSlopeBaseBit) != 0; }
void JXPSFTrackPoint_1_5::setSlopeBase(bool base) { setBits(m_data, kSlopeBaseBit, base ? 0xFF : 0); }

// Longitude first, then latitude, both of the class's position width.
int JXPSFTrackPoint_1_5::getDelLon() const
{
    const char* at = m_data + positionAt();
    return widePosition(getLocType()) ? s32(at) : s16(at);
}

int JXPSFTrackPoint_1_5::getDelLat() const
{
    const unsigned char type = getLocType();
    const char* at = m_data + positionAt() + (widePosition(type) ? 4 : 2);
    return widePosition(type) ? s32(at) : s16(at);
}

short JXPSFTrackPoint_1_5::getDelAlt() const
{
    return wideAltitude(getLocType()) ? s16(m_data + kAltitude) : qint8(*(m_data + kAltitude));
}

void JXPSFTrackPoint_1_5::setDelLon(int delta)
{
    char* at = m_data + positionAt();
    if (widePosition(getLocType()))
        setU32(at, quint32(delta));
    else
        setU16(at, quint16(delta));
}

void JXPSFTrackPoint_1_5::setDelLat(int delta)
{
    const unsigned char type = getLocType();
    char* at = m_data + positionAt() + (widePosition(type) ? 4 : 2);
    if (widePosition(type))
        setU32(at, quint32(delta));
    else
        setU16(at, quint16(delta));
}

void JXPSFTrackPoint_1_5::setDelAlt(short delta)
{
    if (wideAltitude(getLocType()))
        setU16(m_data + kAltitude, quint16(delta));
    else
        setU8(m_data + kAltitude, quint8(delta));
}

JXPSFTrackPointIter::JXPSFTrackPointIter(JXPSFTrackSeg_1_5* segment)
{
    if (!segment)
        return;
    m_count = segment->getLoadedPointCount();
    m_cursor = segment->getData() + JXPSFTrackSeg_1_5::HeadSize;
    m_position = GHLatLng(segment->getStartLat(), segment->getStartLon());
    m_alt = segment->getStartAlt().getValue();
    m_time = segment->getTime();
    m_timeInterval = segment->getTimeInterval();
}

void JXPSFTrackPointIter::finish()
{
    m_index = m_count;
    m_position = GHLatLng();
    m_alt = JXPSFAlt().getValue();
    m_time = 0;
}
