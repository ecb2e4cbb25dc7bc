#ifndef JXPSFMULTILANGSTRING_1_5_H
#define JXPSFMULTILANGSTRING_1_5_H

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>

#include <atomic>

#include "psf/jxpsfobject.h"

class JXPSFBitFontCreator;
class QPainter;

// One name in one language, in the second-generation data store: a 12-byte head followed by ASCII text or a
// 1-bit bitmap. The caller keeps the buffer alive and large enough for the record.
//
// Head: flags (bit 0 compressed, bit 1 another name follows), width, payload length (u16), language code (3 bytes,
// not terminated), reserved, image width (u16), image height (u16); little-endian.
class JXPSFMultiLangString_1_5 : public JXPSFObject
{
public:
    static const unsigned int HeadSize = 12;

    // With create the head is zeroed for writing; otherwise the bytes are read as they are.
    JXPSFMultiLangString_1_5(char* data, bool create);
    ~JXPSFMultiLangString_1_5() override;

    unsigned int getBytesCount() override;

    bool isCompress() const;
    void setCompress(bool compress);
    bool hasNext() const;
    void setNext(bool next);
    unsigned short getLen() const;
    unsigned char* getEntity() const;
    void setEntity(const QByteArray& bytes);
    // The three code characters inside the head; not zero-terminated.
    const char* getLangCode() const;
    void setLangCode(const QString& code);
    unsigned short getImgWidth() const;
    void setImgWidth(unsigned short width);
    unsigned short getImgHeight() const;
    void setImgHeight(unsigned short height);

    QString getTextString() const;
    // Null when the record holds no picture.
    QImage getBitFontString() const;

    void setString(QString text, QString code, bool bitFont, bool isDesc);

    // Renders str here, on the calling thread.
    void createBitfont(QString str, bool isDesc);

    static void setBitFontCreator(JXPSFBitFontCreator* creator);

private:
    bool convertToBitfont(QString str, int& width, int& height, unsigned char* bits, int& size);
    QRect calcPaintSize(QPainter* painter, QString& str, int width, int height);

    static std::atomic<JXPSFBitFontCreator*> s_bitFontCreator;
};

#endif
