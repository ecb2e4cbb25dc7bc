#ifndef GHOFFSET_H
#define GHOFFSET_H

#include <QtGlobal>

// A pixel offset, inside a tile or between two tiles.
class GHOffset
{
public:
    GHOffset() = default;
    GHOffset(int x, int y) : x(x), y(y) {}

    qint32 x = 0;
    qint32 y = 0;
};

#endif
