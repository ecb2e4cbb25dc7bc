#include "psf/gen2/jxpsfmultilangstring_1_5.h"

#include <QFont>
#include <QPainter>
#include <QtEndian>

#include <cstring>
#include <vector>

#include "compress/lz.h"
#include "jxlog.h"
#include "psf/jxpsfbitfontcreator.h"

namespace {

const int kFlagsOffset = 0;
const int kWidthOffset = 1;
const int kLenOffset = 2;
const int kCodeOffset = 4;
const int kImgWidthOffset = 8;
const int kImgHeightOffset = 10;

const unsigned char kCompressFlag = 0x01;
const unsigned char kNextFlag = 0x02;

const int kNameWidth = 128;
const int kNameHeight = 16;
const int kNameBufferSize = 256;
const int kDescBufferSize = 32768;
const int kDescCanvasHeight = 2048;
const int kDescHeightLimit = 2001;
const int kShortestShortenedName = 7;
const int kCompressedHeight = 16;
// No writer makes a picture anywhere near this; a head that announces more is corrupt, and building it would cost
// gigabytes.
const size_t kLargestPlainPicture = 0x100000;

// "Monaco" is a monospaced face that is not installed everywhere; where it is missing the toolkit silently picks a
// proportional one. Registered once for the process.
void registerFontSubstitute()
{
    static const bool registered = [] {
        QFont::insertSubstitution(QStringLiteral("Monaco"), QStringLiteral("DejaVu Sans Mono"));
        return true;
    }();
    Q_UNUSED(registered);
}

// A 1-bit picture from rows of ceil(width / 8) bytes, most significant bit first, 1 = ink.
QImage monoImage(const unsigned char* rows, int rowBytes, int width, int height)
{
    QImage image(width, height, QImage::Format_Mono);
    if (image.isNull())
        return QImage();
    image.setColorCount(2);
    image.setColor(0, qRgb(255, 255, 255));
    image.setColor(1, qRgb(0, 0, 0));
    for (int row = 0; row < height; ++row)
        memcpy(image.scanLine(row), rows + row * rowBytes, size_t(rowBytes));
    return image;
}

// Black ink; the font itself is not antialiased, so the hints change nothing on a 1-bit picture.
void preparePainter(QPainter& painter, const QFont& font)
{
    painter.setPen(Qt::black);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setFont(font);
}

} // namespace

std::atomic<JXPSFBitFontCreator*> JXPSFMultiLangString_1_5::s_bitFontCreator{nullptr};

JXPSFMultiLangString_1_5::JXPSFMultiLangString_1_5(char* data, bool create) : JXPSFObject(data)
{
    if (create)
        memset(m_data, 0, HeadSize);
}

JXPSFMultiLangString_1_5::~JXPSFMultiLangString_1_5() = default;

unsigned int JXPSFMultiLangString_1_5::getBytesCount()
{
    return HeadSize + getLen();
}

bool JXPSFMultiLangString_1_5::isCompress() const
{
    return (uchar(m_data[kFlagsOffset]) & kCompressFlag) != 0;
}

void JXPSFMultiLangString_1_5::setCompress(bool compress)
{
    if (compress)
        m_data[kFlagsOffset] = char(uchar(m_data[kFlagsOffset]) | kCompressFlag);
    else
        m_data[kFlagsOffset] = char(uchar(m_data[kFlagsOffset]) & ~kCompressFlag);
}

bool JXPSFMultiLangString_1_5::hasNext() const
{
    return (uchar(m_data[kFlagsOffset]) & kNextFlag) != 0;
}

void JXPSFMultiLangString_1_5::setNext(bool next)
{
    if (next)
        m_data[kFlagsOffset] = char(uchar(m_data[kFlagsOffset]) | kNextFlag);
    else
        m_data[kFlagsOffset] = char(uchar(m_data[kFlagsOffset]) & ~kNextFlag);
}

unsigned short JXPSFMultiLangString_1_5::getLen() const
{
    return qFromLittleEndian<quint16>(m_data + kLenOffset);
}

unsigned char* JXPSFMultiLangString_1_5::getEntity() const
{
    return reinterpret_cast<unsigned char*>(m_data + HeadSize);
}

void JXPSFMultiLangString_1_5::setEntity(const QByteArray& bytes)
{
    const int length = qMin(bytes.size(), 0xFFFF);
    if (length > 0)
        memcpy(m_data + HeadSize, bytes.constData(), size_t(length));
    qToLittleEndian<quint16>(quint16(length), m_data + kLenOffset);
}

const char* JXPSFMultiLangString_1_5::getLangCode() const
{
    return m_data + kCodeOffset;
}

void JXPSFMultiLangString_1_5::setLangCode(const QString& code)
{
    const QByteArray ascii = code.left(3).toLatin1();
    for (int i = 0; i < 3; ++i)
        m_data[kCodeOffset + i] = i < ascii.size() ? ascii.at(i) : '\0';
}

unsigned short JXPSFMultiLangString_1_5::getImgWidth() const
{
    return qFromLittleEndian<quint16>(m_data + kImgWidthOffset);
}

void JXPSFMultiLangString_1_5::setImgWidth(unsigned short width)
{
    qToLittleEndian<quint16>(width, m_data + kImgWidthOffset);
}

unsigned short JXPSFMultiLangString_1_5::getImgHeight() const
{
    return qFromLittleEndian<quint16>(m_data + kImgHeightOffset);
}

void JXPSFMultiLangString_1_5::setImgHeight(unsigned short height)
{
    qToLittleEndian<quint16>(height, m_data + kImgHeightOffset);
}

QString JXPSFMultiLangString_1_5::getTextString() const
{
    return QString::fromLatin1(m_data + HeadSize, getLen());
}

QImage JXPSFMultiLangString_1_5::getBitFontString() const
{
    const int length = getLen();
    if (length == 0)
        return QImage();
    const unsigned char* payload = getEntity();

    if ((payload[0] & 0x80) == 0) {
        const int width = getImgWidth();
        const int height = getImgHeight();
        if (width == 0 || height == 0)
            return QImage();
        const int rowBytes = (width + 7) / 8;
        if (size_t(rowBytes) * size_t(height) > kLargestPlainPicture) {
            JX_WARNING << "name picture too large:" << width << "x" << height;
            return QImage();
        }
        // A payload shorter than the picture it announces leaves the missing rows blank.
        std::vector<unsigned char> rows(size_t(rowBytes) * size_t(height), 0);
        memcpy(rows.data(), payload, qMin(size_t(length), rows.size()));
        return monoImage(rows.data(), rowBytes, width, height);
    }

    if (length < 2)
        return QImage();
    const int width = static_cast<signed char>(payload[1]);
    if (width <= 0)
        return QImage();
    const unsigned int compressedSize = qMin<unsigned int>(payload[0] & 0x7F, unsigned(length - 2));
    const int rowBytes = (width + 7) / 8;
    const size_t capacity = qMax(size_t(2) * size_t(length), size_t(rowBytes) * kCompressedHeight);
    std::vector<unsigned char> rows(capacity, 0);
    if (LZ_UncompressBounded(payload + 2, compressedSize, rows.data(), unsigned(capacity)) < 0) {
        JX_WARNING << "corrupt compressed name picture";
        return QImage();
    }
    return monoImage(rows.data(), rowBytes, width, kCompressedHeight);
}

void JXPSFMultiLangString_1_5::setString(QString text, QString code, bool bitFont, bool isDesc)
{
    setCompress(false);
    setNext(false);
    m_data[kWidthOffset] = 0;
    setLangCode(code);
    if (!bitFont) {
        setEntity(text.toLatin1());
        return;
    }
    JXPSFBitFontCreator* creator = s_bitFontCreator.load();
    if (creator)
        creator->createBitfont(this, text, isDesc);
    else
        createBitfont(text, isDesc);
}

void JXPSFMultiLangString_1_5::setBitFontCreator(JXPSFBitFontCreator* creator)
{
    s_bitFontCreator.store(creator);
}

void JXPSFMultiLangString_1_5::createBitfont(QString str, bool isDesc)
{
    int width = isDesc ? 0 : kNameWidth;
    int height = isDesc ? 0 : kNameHeight;
    int size = isDesc ? kDescBufferSize : kNameBufferSize;
    std::vector<unsigned char> bits(size_t(size), 0);
    convertToBitfont(str, width, height, bits.data(), size);
    if (isDesc)
        qDebug("w=%d,h=%d, size=%d", width, height, size);
    setImgWidth(quint16(width));
    setImgHeight(quint16(height));
    setEntity(QByteArray(reinterpret_cast<const char*>(bits.data()), size));
}

// Paints into an image rather than a pixmap, so that it works on any thread.
bool JXPSFMultiLangString_1_5::convertToBitfont(QString str, int& width, int& height, unsigned char* bits, int& size)
{
    const bool description = width == 0 && height == 0;
    registerFontSubstitute();
    QImage canvas(description ? kNameWidth : width, description ? kDescCanvasHeight : height, QImage::Format_RGB32);
    canvas.fill(Qt::white);

    QFont font(QStringLiteral("Monaco"));
    JX_DEBUG << "bit font" << font.family();
    font.setStyleStrategy(QFont::NoAntialias);
    font.setPixelSize(12);

    QRect rect;
    {
        QPainter painter(&canvas);
        preparePainter(painter, font);
        rect = calcPaintSize(&painter, str, width, height);
    }

    // Rows past the buffer would be cut anyway; leaving them unpainted also keeps a pathological word (whose
    // height grows with its length) from costing a huge picture. The stored height is then the rows kept.
    const int pictureWidth = qMax(rect.width(), 0);
    int pictureHeight = qMax(rect.height(), 0);
    const int paddedRowBytes = (pictureWidth + 31) / 32 * 4;
    if (size > 0 && paddedRowBytes > 0)
        pictureHeight = qMin(pictureHeight, size / paddedRowBytes);
    QImage picture(pictureWidth, pictureHeight, QImage::Format_RGB32);
    int byteCount = 0;
    int rowBytes = 0;
    if (!picture.isNull()) {
        picture.fill(Qt::white);
        QPainter painter(&picture);
        preparePainter(painter, font);
        painter.drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, str);
        painter.end();
        rowBytes = (picture.width() + 31) / 32 * 4;
        byteCount = rowBytes * picture.height();
    }

    if (size == 0 || size > byteCount)
        size = byteCount;
    width = picture.width();
    height = picture.height();

    // Rows padded to 32 bits, most significant bit first, 1 = ink.
    memset(bits, 0, size_t(size));
    for (int offset = 0; offset < size; ++offset) {
        const int row = offset / rowBytes;
        const int firstPixel = (offset % rowBytes) * 8;
        const QRgb* line = reinterpret_cast<const QRgb*>(picture.constScanLine(row));
        unsigned char byte = 0;
        for (int bit = 0; bit < 8; ++bit) {
            const int x = firstPixel + bit;
            if (x < picture.width() && qGray(line[x]) < 128)
                byte |= uchar(0x80 >> bit);
        }
        bits[offset] = byte;
    }
    return true;
}

QRect JXPSFMultiLangString_1_5::calcPaintSize(QPainter* painter, QString& str, int width, int height)
{
    if (width != 0 || height != 0) {
        const QRect rect(0, 0, width, height);
        while (!str.isEmpty()) {
            const QRect measured =
                painter->boundingRect(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, str);
            if (rect.contains(measured) || str.size() < kShortestShortenedName)
                break;
            str.chop(1);
        }
        return rect;
    }

    QRect rect(0, 0, kNameWidth, kNameHeight);
    for (;;) {
        const QRect measured = painter->boundingRect(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, str);
        if (rect.contains(measured)) {
            rect.setHeight(measured.height());
            break;
        }
        if (measured.width() > kNameWidth) {
            qDebug("calcPaintSize: word is too long toPaint width=%d, canPaint width=%d", measured.width(), kNameWidth);
            rect.setHeight(measured.width() * measured.height() / kNameWidth);
            break;
        }
        rect.setHeight(measured.height() + 16);
        if (measured.height() + 16 >= kDescHeightLimit)
            break;
    }
    return rect;
}
