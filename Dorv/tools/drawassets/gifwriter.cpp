#include "gifwriter.h"

#include <QFile>
#include <QHash>

#include <algorithm>
#include <climits>

namespace {

const int kMaxColours = 255; // the 256th palette entry is the transparent one

struct Colour
{
    QRgb rgb;
    int count;
};

int channel(QRgb rgb, int which)
{
    return which == 0 ? qRed(rgb) : which == 1 ? qGreen(rgb) : qBlue(rgb);
}

// Median cut: split the box with the widest weighted channel range until there are enough boxes.
QVector<QRgb> medianCut(QVector<Colour> colours)
{
    struct Box
    {
        int begin, end;
    };
    QVector<Box> boxes{{0, int(colours.size())}};
    while (boxes.size() < kMaxColours) {
        int bestBox = -1, bestChannel = 0;
        long long bestScore = 0;
        for (int b = 0; b < boxes.size(); ++b) {
            if (boxes[b].end - boxes[b].begin < 2)
                continue;
            long long weight = 0;
            for (int i = boxes[b].begin; i < boxes[b].end; ++i)
                weight += colours[i].count;
            for (int c = 0; c < 3; ++c) {
                int low = 255, high = 0;
                for (int i = boxes[b].begin; i < boxes[b].end; ++i) {
                    low = std::min(low, channel(colours[i].rgb, c));
                    high = std::max(high, channel(colours[i].rgb, c));
                }
                const long long score = (long long)(high - low) * (high - low) * weight;
                if (score > bestScore) {
                    bestScore = score;
                    bestBox = b;
                    bestChannel = c;
                }
            }
        }
        if (bestBox < 0)
            break;
        Box& box = boxes[bestBox];
        std::stable_sort(colours.begin() + box.begin, colours.begin() + box.end,
                         [bestChannel](const Colour& a, const Colour& b) {
                             return channel(a.rgb, bestChannel) < channel(b.rgb, bestChannel);
                         });
        long long total = 0;
        for (int i = box.begin; i < box.end; ++i)
            total += colours[i].count;
        long long running = 0;
        int split = box.begin + 1;
        for (int i = box.begin; i < box.end - 1; ++i) {
            running += colours[i].count;
            split = i + 1;
            if (running * 2 >= total)
                break;
        }
        const Box upper{split, box.end};
        box.end = split;
        boxes.append(upper);
    }

    QVector<QRgb> palette;
    for (const Box& box : boxes) {
        double r = 0, g = 0, b = 0, weight = 0;
        for (int i = box.begin; i < box.end; ++i) {
            r += qRed(colours[i].rgb) * double(colours[i].count);
            g += qGreen(colours[i].rgb) * double(colours[i].count);
            b += qBlue(colours[i].rgb) * double(colours[i].count);
            weight += colours[i].count;
        }
        palette.append(qRgb(int(r / weight + 0.5), int(g / weight + 0.5), int(b / weight + 0.5)));
    }
    return palette;
}

int nearest(const QVector<QRgb>& palette, QRgb rgb)
{
    int best = 0, bestDistance = INT_MAX;
    for (int i = 0; i < palette.size(); ++i) {
        const int dr = qRed(rgb) - qRed(palette[i]);
        const int dg = qGreen(rgb) - qGreen(palette[i]);
        const int db = qBlue(rgb) - qBlue(palette[i]);
        const int distance = dr * dr * 3 + dg * dg * 4 + db * db * 2;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

class BitWriter
{
public:
    void write(int code, int size)
    {
        m_buffer |= quint32(code) << m_bits;
        m_bits += size;
        while (m_bits >= 8) {
            m_bytes.append(char(m_buffer & 0xff));
            m_buffer >>= 8;
            m_bits -= 8;
        }
    }
    QByteArray finish()
    {
        if (m_bits > 0)
            m_bytes.append(char(m_buffer & 0xff));
        return m_bytes;
    }

private:
    QByteArray m_bytes;
    quint32 m_buffer = 0;
    int m_bits = 0;
};

QByteArray lzw(const QVector<uchar>& indices)
{
    const int minCodeSize = 8;
    const int clearCode = 1 << minCodeSize;
    BitWriter out;
    QHash<int, int> table; // (prefix code << 8 | next index) -> code
    int codeSize = minCodeSize + 1;
    int maxCode = clearCode + 1;
    int current = -1;
    out.write(clearCode, codeSize);
    for (uchar value : indices) {
        if (current < 0) {
            current = value;
            continue;
        }
        const int key = (current << 8) | value;
        const auto found = table.constFind(key);
        if (found != table.constEnd()) {
            current = found.value();
            continue;
        }
        out.write(current, codeSize);
        table.insert(key, ++maxCode);
        if (maxCode >= (1 << codeSize))
            ++codeSize;
        if (maxCode == 4095) {
            out.write(clearCode, codeSize);
            table.clear();
            codeSize = minCodeSize + 1;
            maxCode = clearCode + 1;
        }
        current = value;
    }
    out.write(current, codeSize);
    out.write(clearCode + 1, codeSize);
    return out.finish();
}

void appendWord(QByteArray& bytes, int value)
{
    bytes.append(char(value & 0xff));
    bytes.append(char((value >> 8) & 0xff));
}

} // namespace

bool GifWriter::write(const QString& path, const QVector<Frame>& frames, QRgb matte)
{
    if (frames.isEmpty())
        return false;
    const QSize size = frames.first().image.size();

    // Flatten every frame: transparent below half alpha, else blended over the matte.
    QVector<QImage> flat;
    QHash<QRgb, int> histogram;
    for (const Frame& frame : frames) {
        QImage image = frame.image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const QRgb pixel = line[x];
                const int alpha = qAlpha(pixel);
                if (alpha < 128) {
                    line[x] = 0;
                    continue;
                }
                const auto blend = [alpha](int fore, int back) { return (fore * alpha + back * (255 - alpha)) / 255; };
                line[x] = qRgb(blend(qRed(pixel), qRed(matte)), blend(qGreen(pixel), qGreen(matte)),
                               blend(qBlue(pixel), qBlue(matte)));
                ++histogram[line[x]];
            }
        }
        flat.append(image);
    }

    QVector<Colour> colours;
    for (auto it = histogram.constBegin(); it != histogram.constEnd(); ++it)
        colours.append({it.key(), it.value()});
    // QHash order changes from run to run; the same drawing must give the same file.
    std::sort(colours.begin(), colours.end(), [](const Colour& a, const Colour& b) { return a.rgb < b.rgb; });
    QVector<QRgb> palette;
    if (colours.size() <= kMaxColours) {
        for (const Colour& colour : colours)
            palette.append(colour.rgb);
    } else {
        palette = medianCut(colours);
    }
    if (palette.isEmpty())
        palette.append(matte);
    const int transparentIndex = palette.size();
    QHash<QRgb, uchar> lookup;

    QByteArray gif("GIF89a");
    appendWord(gif, size.width());
    appendWord(gif, size.height());
    gif.append(char(0xF7)); // global table of 256 entries
    gif.append(char(transparentIndex));
    gif.append(char(0));
    for (int i = 0; i < 256; ++i) {
        const QRgb entry = i < palette.size() ? palette[i] : matte;
        gif.append(char(qRed(entry)));
        gif.append(char(qGreen(entry)));
        gif.append(char(qBlue(entry)));
    }
    gif.append("\x21\xFF\x0BNETSCAPE2.0\x03\x01", 16);
    appendWord(gif, 0); // loop for ever
    gif.append(char(0));

    for (int f = 0; f < flat.size(); ++f) {
        // Graphic control: restore to background (transparent) after each frame, so moving parts leave no trail.
        gif.append("\x21\xF9\x04", 3);
        gif.append(char((2 << 2) | 1));
        appendWord(gif, (frames[f].delayMs + 5) / 10);
        gif.append(char(transparentIndex));
        gif.append(char(0));

        gif.append(char(0x2C));
        appendWord(gif, 0);
        appendWord(gif, 0);
        appendWord(gif, size.width());
        appendWord(gif, size.height());
        gif.append(char(0));

        QVector<uchar> indices;
        indices.reserve(size.width() * size.height());
        const QImage& image = flat[f];
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                if (qAlpha(line[x]) == 0) {
                    indices.append(uchar(transparentIndex));
                    continue;
                }
                auto found = lookup.constFind(line[x]);
                if (found == lookup.constEnd())
                    found = lookup.insert(line[x], uchar(nearest(palette, line[x])));
                indices.append(found.value());
            }
        }
        gif.append(char(8));
        const QByteArray data = lzw(indices);
        for (int offset = 0; offset < data.size(); offset += 255) {
            const int length = std::min(255, int(data.size()) - offset);
            gif.append(char(length));
            gif.append(data.mid(offset, length));
        }
        gif.append(char(0));
    }
    gif.append(char(0x3B));

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(gif) == gif.size();
}
