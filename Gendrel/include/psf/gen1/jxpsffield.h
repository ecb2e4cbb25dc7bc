#ifndef JXPSFFIELD_H
#define JXPSFFIELD_H

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

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

// Records of a loaded area made on first use live here by value, in one block made once for a known count: none
// moves, so that the pointers handed out stay valid. owns() tells them from records a caller made on the heap.
template <typename T> class JXPSFRecordStore
{
public:
    bool isEmpty() const { return m_count == 0; }
    int size() const { return m_count; }
    void reset(int count)
    {
        m_slots.reset(count > 0 ? new std::optional<T>[size_t(count)] : nullptr);
        m_count = qMax(count, 0);
    }
    // The record at index, made from the arguments the first time.
    template <typename... Args> T* make(int index, Args&&... args)
    {
        std::optional<T>& slot = m_slots[size_t(index)];
        if (!slot)
            slot.emplace(std::forward<Args>(args)...);
        return &*slot;
    }
    bool owns(const void* record) const
    {
        const char* begin = reinterpret_cast<const char*>(m_slots.get());
        const char* end = begin + size_t(m_count) * sizeof(std::optional<T>);
        const char* at = static_cast<const char*>(record);
        return m_count > 0 && !std::less<const char*>()(at, begin) && std::less<const char*>()(at, end);
    }

private:
    std::unique_ptr<std::optional<T>[]> m_slots;
    int m_count = 0;
};

#endif
