#include "psf/jxpsfobject.h"

#include <QFile>

#include <cstdio>

#include "jxlog.h"

namespace {

const unsigned int kBytesPerLine = 16;

} // namespace

void JXPSFObject::dumpRawBytes(QString path)
{
    const unsigned int count = getBytesCount();
    QFile file(path);
    const bool toFile = file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
    if (!toFile)
        JX_WARNING << "cannot write the record dump" << path << file.errorString();

    // One line more than the full lines, as the dumps have always been laid out: a count that fills its last line
    // ends with an empty one.
    const unsigned int lines = count / kBytesPerLine + 1;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(m_data);
    for (unsigned int line = 0; line < lines; ++line) {
        QByteArray text;
        for (unsigned int index = line * kBytesPerLine; index < count && index < (line + 1) * kBytesPerLine; ++index) {
            text += QByteArray::number(bytes[index], 16).rightJustified(2, '0') + ' ';
            std::printf("%02X ", bytes[index]);
        }
        text += '\n';
        std::printf("\n");
        if (toFile)
            file.write(text);
    }
    std::fflush(stdout);
}
