#include "psf/gen1/jxpsfmultilangstring.h"

#include "psf/gen1/jxpsfview.h"

JXPSFMultiLangString::JXPSFMultiLangString(JXPSFField* parent) : JXPSFField(nullptr, parent)
{
    setSizeInRawData(HeadSize);
}

JXPSFMultiLangString::JXPSFMultiLangString(const char* record, int size, JXPSFField* parent)
    : JXPSFField(nullptr, parent)
{
    const JXPSFView area(record, size);
    const quint8 flags = area.u8(0);
    m_firstFlag = (flags & 0x01) != 0;
    m_secondFlag = (flags & 0x02) != 0;
    m_byte1 = area.u8(1);
    m_length = area.u16(2);
    m_langCode = area.bytes(4, 3);
    m_picWidth = area.u16(8);
    m_picHeight = area.u16(10);
    const JXPSFView data = area.sub(HeadSize, m_length);
    m_data = QByteArray(data.data(), int(data.size()));
    setSizeInRawData(unsigned(HeadSize + m_length));
}
