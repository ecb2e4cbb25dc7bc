#ifndef GHPSFHEADER_H
#define GHPSFHEADER_H

#include <QString>

// The 52-byte header at the start of both ride logs (GPS and sensor). Unlike the big-endian records after it, its
// integers are little-endian.
class GHPSFHeader
{
public:
    static constexpr int SIZE = 52;

    // Layout, in file order.
    static constexpr int TYPE_OFFSET = 0; // ASCII, NUL-padded
    static constexpr int TYPE_SIZE = 16;
    static constexpr int VERSION_OFFSET = 16; // four bytes
    static constexpr int CREATE_TIME_OFFSET = 20;
    static constexpr int START_TIME_OFFSET = 24;
    static constexpr int RESERVED_OFFSET = 28; // zero bytes, read as text
    static constexpr int RESERVED_SIZE = 4;
    static constexpr int SYSTEM_VERSION_OFFSET = 32; // ASCII, at most 15 characters and a NUL
    static constexpr int SYSTEM_VERSION_SIZE = 16;
    static constexpr int COUNT_OFFSET = 48;

    QString type; // "gps track" or "sensor value"
    qint8 version[4] = {0, 0, 0, 0};
    quint32 createTime = 0;
    quint32 startTime = 0;
    QString reserved;
    QString systemVersion;
    int count = 0;
};

#endif
