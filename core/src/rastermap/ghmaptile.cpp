#include "rastermap/ghmaptile.h"

#include "rastermap/ghmaputils.h"

GHMapTile::GHMapTile(const GHTileIndex& index, const GHOffset& offset) : m_index(index), m_offset(offset) {}

GHMapTile::GHMapTile(int x, int y, int level, int offsetX, int offsetY)
    : m_index(x, y, level), m_offset(offsetX, offsetY)
{
}

// 64 bits inside: an index far off the map would overflow the pixel count; the remainder is below the world size.

int GHMapTile::getX() const
{
    const qint64 tiles = GHMapUtils::tilesOnLevel(m_index.level);
    if (tiles == 0)
        return 0;
    return static_cast<int>((static_cast<qint64>(m_index.x) * TILES_WIDTH + m_offset.x) % (TILES_WIDTH * tiles));
}

int GHMapTile::getY() const
{
    const qint64 tiles = GHMapUtils::tilesOnLevel(m_index.level);
    if (tiles == 0)
        return 0;
    return static_cast<int>((static_cast<qint64>(m_index.y) * TILES_HEIGHT + m_offset.y) % (TILES_HEIGHT * tiles));
}

bool GHMapTile::operator==(const GHMapTile& other) const
{
    return m_index.x == other.m_index.x && m_index.y == other.m_index.y && m_index.level == other.m_index.level &&
           m_offset.x == other.m_offset.x && m_offset.y == other.m_offset.y;
}

QString GHMapTile::toString() const
{
    return QStringLiteral("((%1,%2,%3),(%4,%5))")
        .arg(m_index.x)
        .arg(m_index.y)
        .arg(m_index.level)
        .arg(m_offset.x)
        .arg(m_offset.y);
}
