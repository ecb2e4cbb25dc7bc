#ifndef JXPSFFIELD_H
#define JXPSFFIELD_H

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

// Base of every object of the first-generation data store. Each object copies its fields out of the image when it
// is made and gives its bytes back through commit(). The statics convert between the store's integer encodings and
// the numbers and texts of GPX and training files, and render texts as 1-bit "bit font" pictures.
class JXPSFField : public QObject
{
    Q_OBJECT

public:
    JXPSFField();
    JXPSFField(QByteArray* raw, QObject* parent);

    unsigned int getSizeInRawData() const;
    void setSizeInRawData(unsigned int size);

    virtual QByteArray commit();

    // Copies n bytes and returns dst + n, so that writers can chain it as a cursor.
    static char* finalizeField(char* dst, char* src, int n);

    static int altToPSF(double metres);
    static int altDeltaToPSF(double metres);
    static QString altFromPSF(int delta, int base, bool baseEncoded);
    static int coordinateToPSF(double degrees);
    static QString coordinateFromPSF(int value);
    // The text of units / 10^decimals (decimals 0..6) with exactly that many decimals, made without a double:
    // exports make one for every point and sample.
    static QString fixedUnits(qint64 units, int decimals);
    static qint64 speedToPSF(double kmh);
    static QString speedFromPSF(int value);
    // Text that does not parse gives 0xFFFFFFFF, the "not set" time that the drivers test for.
    static unsigned int timeToPSF(QString text);
    static QString timeFromPSF(unsigned int seconds);
    static QString temperatureFromPSF(int value);
    static QString brmFromPSF(int value);
    static bool isValueVaid(unsigned char* p, int n);
    static QString intervalTypeFromPSF(unsigned char code);
    static unsigned char intervalTypeToPSF(QString name);

    // A stored name picture: plain 1-bit rows, or LZ-compressed 16-row rows when bit 7 of byte 0 is set. Only the
    // length bytes at data are read; a null image when the picture cannot be made.
    static QImage BitmapStringFromPSF(char* data, int length, int width, int height);
    // Wraps text into a picture 128 pixels wide; the bytes are inverted. The second and third arguments are unused.
    static bool convertToBitfont(QString text, QString, int, QByteArray& bits, QSize& size);
    // Fits text into a width x height picture (never shortened below 6 characters) and copies at most maxBytes.
    static bool convertToBitfont(QString text, QString, int, int& width, int& height, unsigned char* out, int maxBytes);

private:
    unsigned int m_sizeInRawData = 0;
};

#endif
