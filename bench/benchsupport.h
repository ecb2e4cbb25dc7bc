#ifndef BENCHSUPPORT_H
#define BENCHSUPPORT_H

// What the benchmarks share: a quiet message handler and realistic image data.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <cstdio>

// Debug lines are dropped as the log drops them at its default level.
inline void quietHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

inline bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.flush();
}

// Like a device software image: blocks of already-compressed assets (noise),
// of code (a small set of words with varying operands) and of sparse tables,
// so deflate gets to roughly 60 %, neither all zeros nor pure noise.
inline QByteArray imageData(qint64 size, quint32 seed)
{
    QByteArray data(int(size), Qt::Uninitialized);
    quint32 state = seed * 2654435761u + 12345u;
    const auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    quint32 words[64];
    for (quint32& word : words)
        word = next();
    const int blockSize = 64 * 1024;
    for (int blockStart = 0; blockStart < data.size(); blockStart += blockSize) {
        const int blockEnd = qMin(blockStart + blockSize, data.size());
        const quint32 kind = (next() >> 16) % 20;
        for (int i = blockStart; i < blockEnd; i += 4) {
            quint32 value = next();
            if (kind >= 7 && kind < 16)
                value = (value >> 30) != 0 ? words[(value >> 8) % 64] : value; // code
            else if (kind >= 16)
                value = (value >> 28) == 0 ? (value & 0xFF) : 0; // sparse table
            for (int byte = 0; byte < 4 && i + byte < blockEnd; ++byte)
                data[i + byte] = char(value >> (8 * byte));
        }
    }
    return data;
}

#endif
