#ifndef GHMAPUTILS_H
#define GHMAPUTILS_H

#include <QPair>
#include <QPoint>
#include <QRect>
#include <QVector>

#include "location/ghlatlng.h"
#include "rastermap/ghmaptile.h"
#include "rastermap/ghoffset.h"
#include "rastermap/ghtileindex.h"

// Tile math of the spherical Mercator map and distances on the earth. Level L has 2^(17 - L) tiles per axis; a
// level outside 0..17 is logged and gives a zero result (no tile, a null position, no points).
class GHMapUtils
{
public:
    GHMapUtils() = delete;

    static int tilesOnLevel(int level);
    // The remainder brought into 0..b-1 for a positive b; 0 for b = 0.
    static int mod(int a, int b);
    static double deg2rad(double degrees);
    static double rad2deg(double radians);

    // Latitudes beyond +-85.0511 degrees (where Mercator's rows end) are taken as that latitude.
    static GHMapTile latlngToTile(const GHLatLng& position, int level);
    // The tile's own level is not read. A tile so far off the map that it has no position gives the null position.
    static GHLatLng tileToLatlng(const GHMapTile& tile, int level);
    // The same pixel with the offset brought into 0..255; negative pixels are not wrapped.
    static GHMapTile tileAdjustEx(int level, const GHTileIndex& index, const GHOffset& offset);
    // The tile and offset under a point of a screen whose centre shows the pixel centre.
    static GHMapTile screenToTile(const QRect& screen, const QPoint& point, const GHMapTile& centre, int level);
    // b's pixel minus a's, each at its own level.
    static GHOffset tileOffset(const GHMapTile& a, const GHMapTile& b);
    // Appends the top-left screen position of every copy of the tile that the scaled screen shows.
    static void tileOnScreen(const GHTileIndex& tile, const QRect& screen, const GHMapTile& centre,
                             QVector<QPoint>& out, double scale);

    // Radius of curvature in metres at a latitude in degrees.
    static double calculateRad(double latDeg);
    // Metres on a sphere between positions in millionths; 0 where rounding leaves no number.
    static double calcDistance(int lat1, int lng1, int lat2, int lng2);
    static double calcDistance(const GHLatLng& a, const GHLatLng& b);
    // Metres on the ellipsoid between positions in degrees.
    static double earthDistance(double lat1, double lng1, double lat2, double lng2);
    // a's position relative to b in metres: (east, north).
    static QPair<double, double> meterOffset(const GHLatLng& a, const GHLatLng& b);
};

#endif
