#ifndef GHTILEINDEX_H
#define GHTILEINDEX_H

#include <QtGlobal>

// A map tile: column x from longitude -180 eastward, row y from the top southward, at a level of 0 (finest) to 17.
class GHTileIndex
{
public:
    GHTileIndex() = default;
    GHTileIndex(int x, int y, int level) : x(x), y(y), level(level) {}

    qint32 x = 0;
    qint32 y = 0;
    qint32 level = 0;
};

#endif
