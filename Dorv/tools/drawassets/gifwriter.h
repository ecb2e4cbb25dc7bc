#ifndef GIFWRITER_H
#define GIFWRITER_H

#include <QImage>
#include <QString>
#include <QVector>

// Writes an endlessly looping GIF89a animation. Qt reads GIF but cannot write it.
// Pixels less than half opaque become transparent; the others are blended over
// `matte` (the colour the animation is shown on) so that soft edges keep their look
// without an alpha channel. One palette of at most 255 colours serves all frames.
class GifWriter
{
public:
    struct Frame
    {
        QImage image;
        int delayMs;
    };

    static bool write(const QString& path, const QVector<Frame>& frames, QRgb matte);
};

#endif
