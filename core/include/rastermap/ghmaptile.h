#ifndef GHMAPTILE_H
#define GHMAPTILE_H

#include <QString>
#include <QtGlobal>

#include "rastermap/ghoffset.h"
#include "rastermap/ghtileindex.h"

// Size of a map tile in pixels.
inline constexpr qint32 TILES_WIDTH = 256;
inline constexpr qint32 TILES_HEIGHT = 256;

// A pixel of the map: its tile and its offset inside the tile.
class GHMapTile
{
public:
    GHMapTile() = default;
    GHMapTile(const GHTileIndex& index, const GHOffset& offset);
    GHMapTile(int x, int y, int level, int offsetX, int offsetY);

    GHTileIndex& index() { return m_index; }
    const GHTileIndex& index() const { return m_index; }
    GHOffset& offset() { return m_offset; }
    const GHOffset& offset() const { return m_offset; }

    // The pixel column in the world of the tile's level: a truncating remainder, so a negative column stays negative.
    // 0 at a level outside 0..17.
    int getX() const;
    int getY() const;

    bool operator==(const GHMapTile& other) const;
    // "((x,y,level),(offsetX,offsetY))"
    QString toString() const;

private:
    GHTileIndex m_index;
    GHOffset m_offset;
};

#endif
