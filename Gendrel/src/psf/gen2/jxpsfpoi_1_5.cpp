#include "psf/gen2/jxpsfpoi_1_5.h"

#include "jxlog.h"
#include "psf/gen2/jxpsfmultilangstring_1_5.h"
#include "psf/jxpsfarea.h"

namespace {

const int kLng = 0;
const int kLat = 4;
const int kAlt = 8;
const int kFlags = 10;
const int kNext = 12;
const int kNameOffset = 20;

const quint8 kBitFontFlag = 0x01;
const quint8 kCalibrationFlag = 0x02;

} // namespace

using namespace JXPSFBytes;

JXPSFPOI_1_5::JXPSFPOI_1_5(char* record, const char* end) : JXPSFNamedObject(record)
{
    loadNames(end);
}

void JXPSFPOI_1_5::loadNames(const char* end)
{
    const quint32 offset = getNameOffset();
    if (offset == None || !m_names.isEmpty())
        return;
    if (offset >= quint64(end - m_data)) {
        JX_WARNING << "POI names lie outside the POI table";
        m_complete = false;
        return;
    }
    loadMultiLangStrings(m_data + offset, end);
    m_complete = !m_names.isEmpty() && !m_names.last()->hasNext();
}

int JXPSFPOI_1_5::getLng() const { return s32(m_data + kLng); }
void JXPSFPOI_1_5::setLng(int lng) { setU32(m_data + kLng, quint32(lng)); }
int JXPSFPOI_1_5::getLat() const { return s32(m_data + kLat); }
void JXPSFPOI_1_5::setLat(int lat) { setU32(m_data + kLat, quint32(lat)); }
short JXPSFPOI_1_5::getAlt() const { return s16(m_data + kAlt); }
void JXPSFPOI_1_5::setAlt(short alt) { setU16(m_data + kAlt, quint16(alt)); }
bool JXPSFPOI_1_5::isCalibration() const { return (u8(m_data + kFlags) & kCalibrationFlag) != 0; }
void JXPSFPOI_1_5::setCalibration(bool calibration) { setBits(m_data + kFlags, kCalibrationFlag, calibration ? 0xFF : 0); }
unsigned int JXPSFPOI_1_5::getNext() const { return u32(m_data + kNext); }
void JXPSFPOI_1_5::setNext(unsigned int next) { setU32(m_data + kNext, next); }

unsigned int JXPSFPOI_1_5::getBytesCount()
{
    unsigned int count = HeadSize;
    for (JXPSFMultiLangString_1_5* name : qAsConst(m_names))
        count += name->getBytesCount();
    return count;
}

bool JXPSFPOI_1_5::isBitFont() { return (u8(m_data + kFlags) & kBitFontFlag) != 0; }
void JXPSFPOI_1_5::setBitFont(bool bitFont) { setBits(m_data + kFlags, kBitFontFlag, bitFont ? 0xFF : 0); }
unsigned int JXPSFPOI_1_5::getNameOffset() { return u32(m_data + kNameOffset); }
void JXPSFPOI_1_5::setNameOffset(unsigned int offset) { setU32(m_data + kNameOffset, offset); }
