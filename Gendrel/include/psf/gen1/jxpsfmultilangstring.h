#ifndef JXPSFMULTILANGSTRING_H
#define JXPSFMULTILANGSTRING_H

#include <QByteArray>

#include "psf/gen1/jxpsffield.h"

// One first-generation name record: a text or a bit-font picture in one language.
//
// Layout (little-endian): flags (bit 0 first flag, bit 1 second flag), a byte (width of the bit-font text), data
// length (u16), language code (3 ASCII letters), one unread byte, picture width (u16), picture height (u16), then
// the data.
class JXPSFMultiLangString : public JXPSFField
{
    Q_OBJECT

public:
    static const int HeadSize = 12;

    explicit JXPSFMultiLangString(JXPSFField* parent);
    // Reads at most size bytes from record: data cut off by the end keeps only what is there.
    JXPSFMultiLangString(const char* record, int size, JXPSFField* parent);

    bool getFirstFlag() const { return m_firstFlag; }
    bool getSecondFlag() const { return m_secondFlag; }
    unsigned char getByte1() const { return m_byte1; }
    unsigned short getLength() const { return m_length; }
    QByteArray getLangCode() const { return m_langCode; }
    unsigned short getPicWidth() const { return m_picWidth; }
    unsigned short getPicHeight() const { return m_picHeight; }
    QByteArray getData() const { return m_data; }

private:
    bool m_firstFlag = false;
    bool m_secondFlag = false;
    unsigned char m_byte1 = 0;
    unsigned short m_length = 0;
    QByteArray m_langCode;
    unsigned short m_picWidth = 0;
    unsigned short m_picHeight = 0;
    QByteArray m_data;
};

#endif
