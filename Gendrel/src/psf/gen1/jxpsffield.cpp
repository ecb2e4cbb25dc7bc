#include "psf/gen1/jxpsffield.h"

#include <QDateTime>
#include <QFont>
#include <QPainter>
#include <QRect>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "../../../../core/include/util/ghtimetext.h"
#include "compress/lz.h"
#include "jxlog.h"

namespace {

const int kWrapWidth = 128;
const int kWrapStep = 16;
const int kWrapMeasureHeight = 2048;
const int kWrapHeightLimit = 2000;
const int kShortestShortened = 7;
const int kCompressedHeight = 16;
// Stored names are at most 128 pixels wide and 2000 high; anything far beyond is damage, not a picture.
const int kLargestPictureSide = 4096;

const char* const kIntervalTypes[] = {"Warmup", "Work", "Steady", "Cool-down", "Recovery", "Sprint", "Walk"};

// Truncates toward zero, saturating instead of overflowing on numbers outside the range.
template <typename T> T truncated(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= double(std::numeric_limits<T>::max()))
        return std::numeric_limits<T>::max();
    if (value <= double(std::numeric_limits<T>::min()))
        return std::numeric_limits<T>::min();
    return T(value);
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}


QFont bitFont()
{
    QFont font(QStringLiteral("Monaco"));
    JX_DEBUG << "bit font" << font.family();
    font.setStyleStrategy(QFont::NoAntialias);
    font.setPixelSize(12);
    return font;
}

void preparePainter(QPainter& painter, const QFont& font)
{
    painter.setPen(Qt::black);
    // Text antialiasing and the high-quality hint (0x08, obsolete since Qt 5.14); the font itself is not antialiased.
    painter.setRenderHints(QPainter::RenderHints(int(QPainter::TextAntialiasing) | 0x08), true);
    painter.setFont(font);
}

// Painted into images rather than pixmaps so that a worker thread can render; 1-bit rows, 1 = ink.
QImage toMono(const QImage& picture)
{
    return picture.convertToFormat(QImage::Format_Mono, Qt::MonoOnly | Qt::ThresholdDither);
}

QImage monoImage(const unsigned char* rows, int available, int rowBytes, int width, int height)
{
    QImage image(width, height, QImage::Format_Mono);
    if (image.isNull())
        return QImage();
    image.setColorCount(2);
    image.setColor(0, qRgb(255, 255, 255));
    image.setColor(1, qRgb(0, 0, 0));
    for (int row = 0; row < height; ++row) {
        uchar* line = image.scanLine(row);
        const qint64 start = qint64(row) * rowBytes;
        const qint64 copied = qBound<qint64>(0, available - start, rowBytes);
        if (copied > 0)
            memcpy(line, rows + start, size_t(copied));
        // Rows past the given bytes stay blank.
        memset(line + copied, 0, size_t(image.bytesPerLine() - copied));
    }
    return image;
}

} // namespace

QString JXPSFField::fixedUnits(qint64 units, int decimals)
{
    static const quint64 scale[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
    const bool negative = units < 0;
    quint64 magnitude = negative ? quint64(-(units + 1)) + 1 : quint64(units);
    quint64 fraction = magnitude % scale[decimals];
    magnitude /= scale[decimals];
    char buffer[32];
    int at = sizeof buffer;
    for (int i = 0; i < decimals; ++i) {
        buffer[--at] = char('0' + fraction % 10);
        fraction /= 10;
    }
    buffer[--at] = '.';
    do {
        buffer[--at] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (negative)
        buffer[--at] = '-';
    return QString::fromLatin1(buffer + at, int(sizeof buffer) - at);
}

JXPSFField::JXPSFField() : QObject(nullptr) {}

JXPSFField::JXPSFField(QByteArray* raw, QObject* parent) : QObject(parent)
{
    Q_UNUSED(raw);
}

unsigned int JXPSFField::getSizeInRawData() const
{
    return m_sizeInRawData;
}

void JXPSFField::setSizeInRawData(unsigned int size)
{
    m_sizeInRawData = size;
}

QByteArray JXPSFField::commit()
{
    return QByteArray();
}

char* JXPSFField::finalizeField(char* dst, char* src, int n)
{
    if (n <= 0)
        return dst;
    memcpy(dst, src, size_t(n));
    return dst + n;
}

int JXPSFField::altToPSF(double metres)
{
    return truncated<int>((metres + 1000.0) * 4.0);
}

int JXPSFField::altDeltaToPSF(double metres)
{
    return truncated<int>(metres * 10.0);
}

QString JXPSFField::altFromPSF(int delta, int base, bool baseEncoded)
{
    // In hundredths of a metre: the base in quarter metres above -1000 m, or in metres.
    const qint64 baseHundredths = baseEncoded ? qint64(base) * 25 - 100000 : qint64(base) * 100;
    return fixedUnits(qint64(delta / 10) * 100 + baseHundredths, 2);
}

int JXPSFField::coordinateToPSF(double degrees)
{
    return truncated<int>(degrees * 1000000.0);
}

QString JXPSFField::coordinateFromPSF(int value)
{
    if (value == -1)
        return QStringLiteral("0.000000");
    return fixedUnits(value, 6);
}

qint64 JXPSFField::speedToPSF(double kmh)
{
    return truncated<qint64>(kmh * 8.0 / 3.6);
}

QString JXPSFField::speedFromPSF(int value)
{
    // 0.45 km/h a unit: exact in hundredths.
    return fixedUnits(qint64(value) * 45, 2);
}

unsigned int JXPSFField::timeToPSF(QString text)
{
    // Date and time are parsed apart: a whole-text parse is local time and moves times that fall in a
    // daylight-saving gap.
    if (text.size() != 20 || text.at(10) != QLatin1Char('T') || text.at(19) != QLatin1Char('Z'))
        return 0xFFFFFFFFu;
    const QDate date = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime clock = QTime::fromString(text.mid(11, 8), QStringLiteral("hh:mm:ss"));
    if (!date.isValid() || !clock.isValid())
        return 0xFFFFFFFFu;
    const qint64 seconds = QDateTime(date, clock, Qt::UTC).toSecsSinceEpoch();
    if (seconds < 0 || seconds >= qint64(0xFFFFFFFFu))
        return 0xFFFFFFFFu;
    return unsigned(seconds);
}

QString JXPSFField::timeFromPSF(unsigned int seconds)
{
    // The same text as QDateTime's, without its formatting machinery: exports call this for every point and sample.
    return tm_i2s(seconds);
}

QString JXPSFField::temperatureFromPSF(int value)
{
    return fixed(double(value / 10), 1);
}

QString JXPSFField::brmFromPSF(int value)
{
    return QString::number(qint64(value) * 2);
}

bool JXPSFField::isValueVaid(unsigned char* p, int n)
{
    if (!p || n <= 0)
        return false;
    for (int i = 0; i < n; ++i) {
        if (p[i] != 0xFF)
            return true;
    }
    return false;
}

QString JXPSFField::intervalTypeFromPSF(unsigned char code)
{
    if (code >= 1 && code <= 7)
        return QLatin1String(kIntervalTypes[code - 1]);
    return QStringLiteral("Other");
}

unsigned char JXPSFField::intervalTypeToPSF(QString name)
{
    for (int i = 0; i < 7; ++i) {
        if (name.compare(QLatin1String(kIntervalTypes[i]), Qt::CaseInsensitive) == 0)
            return uchar(i + 1);
    }
    return 0;
}

QImage JXPSFField::BitmapStringFromPSF(char* data, int length, int width, int height)
{
    if (!data || length <= 0)
        return QImage();
    const uchar* bytes = reinterpret_cast<const uchar*>(data);
    if ((bytes[0] & 0x80) == 0) {
        if (width <= 0 || height <= 0 || width > kLargestPictureSide || height > kLargestPictureSide) {
            JX_WARNING << "name picture of" << width << "x" << height << "refused";
            return QImage();
        }
        return monoImage(bytes, length, (width + 7) / 8, width, height);
    }

    if (length < 2)
        return QImage();
    const int pictureWidth = qint8(bytes[1]);
    if (pictureWidth <= 0)
        return QImage();
    const int rowBytes = (pictureWidth + 7) / 8;
    const int streamSize = qMin(int(bytes[0] & 0x7F), length - 2);
    // Room for a whole 16-row picture even when twice the record length is less.
    std::vector<uchar> expanded(size_t(qMax(2 * length, kCompressedHeight * rowBytes)), 0);
    const int produced =
        LZ_UncompressBounded(bytes + 2, unsigned(streamSize), expanded.data(), unsigned(expanded.size()));
    if (produced < 0) {
        JX_WARNING << "compressed name picture is damaged";
        return QImage();
    }
    return monoImage(expanded.data(), int(expanded.size()), rowBytes, pictureWidth, kCompressedHeight);
}

bool JXPSFField::convertToBitfont(QString text, QString, int, QByteArray& bits, QSize& size)
{
    const QFont font = bitFont();
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;

    QRect measured;
    {
        QImage canvas(kWrapWidth, kWrapMeasureHeight, QImage::Format_RGB32);
        canvas.fill(Qt::white);
        QPainter painter(&canvas);
        preparePainter(painter, font);
        QRect trial(0, 0, kWrapWidth, kWrapStep);
        for (;;) {
            measured = painter.boundingRect(trial, flags, text);
            if (trial.contains(measured))
                break;
            if (trial.height() + kWrapStep > kWrapHeightLimit) {
                // Too long to wrap into the limit: the picture keeps what the last trial box shows.
                measured = measured.intersected(trial);
                break;
            }
            trial.setHeight(trial.height() + kWrapStep);
        }
    }

    QImage picture(kWrapWidth, qMax(measured.height(), 0), QImage::Format_RGB32);
    bits.clear();
    size = QSize(kWrapWidth, qMax(measured.height(), 0));
    if (picture.isNull())
        return true;
    picture.fill(Qt::white);
    {
        QPainter painter(&picture);
        preparePainter(painter, font);
        painter.drawText(measured, flags, text);
    }
    const QImage mono = toMono(picture);
    bits = QByteArray(reinterpret_cast<const char*>(mono.constBits()), int(mono.sizeInBytes()));
    for (int i = 0; i < bits.size(); ++i)
        bits[i] = char(~uchar(bits[i]));
    size = mono.size();
    return true;
}

bool JXPSFField::convertToBitfont(QString text, QString, int, int& width, int& height, unsigned char* out, int maxBytes)
{
    const QFont font = bitFont();
    QImage picture(qMax(width, 0), qMax(height, 0), QImage::Format_RGB32);
    if (picture.isNull()) {
        width = picture.width();
        height = picture.height();
        return true;
    }
    picture.fill(Qt::white);
    {
        QPainter painter(&picture);
        preparePainter(painter, font);
        const QRect box = picture.rect();
        while (!text.isEmpty()) {
            const QRect measured = painter.boundingRect(box, Qt::AlignLeft | Qt::AlignVCenter, text);
            if (box.contains(measured) || text.size() < kShortestShortened)
                break;
            text.chop(1);
        }
        painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
    }
    const QImage mono = toMono(picture);
    const int copied = int(qMin<qint64>(mono.sizeInBytes(), qMax(maxBytes, 0)));
    if (out && copied > 0)
        memcpy(out, mono.constBits(), size_t(copied));
    width = mono.width();
    height = mono.height();
    return true;
}
