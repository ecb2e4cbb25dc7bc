#include "rastermap/ghmaputils.h"

#include <cmath>
#include <limits>

#include "../location/ghtruncate_p.h"

// The arithmetic follows the stored tile files and POI databases bit for bit: where single and double precision mix,
// each narrowing and widening is written out. Integer pixel sums use 64 bits; they agree with 32 bits wherever those
// do not overflow.

namespace {

const int TOP_LEVEL = 17;
// Mercator's rows end at 85.0511 degrees; at the poles its y is infinite.
const qint32 MERCATOR_LIMIT = 85051100;
// A tile repeats once per world width across the screen; more copies than this mean a nonsense screen or scale.
const double MAX_TILE_COPIES = 1 << 16;

qint64 positiveMod(qint64 a, qint64 b)
{
    const qint64 r = a % b;
    return r < 0 ? r + b : r;
}

// One axis of a global pixel, already reduced by the world size, as a tile and an offset.
void splitPixel(qint64 pixel, qint32 tileSize, qint32& tile, qint32& offset)
{
    tile = static_cast<qint32>(pixel / tileSize);
    offset = static_cast<qint32>(pixel % tileSize);
}

} // namespace

int GHMapUtils::tilesOnLevel(int level)
{
    if (level < 0 || level > TOP_LEVEL) {
        qWarning("GHMapUtils: tile level %d is outside 0..17", level);
        return 0;
    }
    return 1 << (TOP_LEVEL - level);
}

int GHMapUtils::mod(int a, int b)
{
    if (b == 0) {
        qWarning("GHMapUtils::mod: remainder of %d by 0", a);
        return 0;
    }
    return static_cast<int>(positiveMod(a, b));
}

double GHMapUtils::deg2rad(double degrees)
{
    return degrees * 0.017453292519943295;
}

double GHMapUtils::rad2deg(double radians)
{
    return radians * 57.29577951308232;
}

GHMapTile GHMapUtils::latlngToTile(const GHLatLng& position, int level)
{
    const qint32 tiles = tilesOnLevel(level);
    if (tiles == 0)
        return GHMapTile();
    // Integer half: at level 17 it is 0, so the single tile's rows run from -0.5 to 0.5.
    const qint32 half = tiles / 2;
    const qint32 latitude = qBound(-MERCATOR_LIMIT, position.getLat(), MERCATOR_LIMIT);
    const float latitudeDegrees = static_cast<float>(latitude) / 1000000.0f;

    const float s = static_cast<float>(std::sin(static_cast<double>(latitudeDegrees) * 0.017453292519943295));
    const float q = (1.0f + s) / (1.0f - s);
    const float fx = static_cast<float>((static_cast<double>(position.getLngF()) + 180.0) * (tiles / 360.0));
    const float fy = static_cast<float>(std::log(static_cast<double>(q)) * -0.5 *
                                            static_cast<double>(static_cast<float>(tiles / 6.283185307179586)) +
                                        half);

    // Both are bounded: the longitude by its 32 bits, the latitude by the limit above.
    const qint32 tx = static_cast<qint32>(fx);
    const qint32 ty = static_cast<qint32>(fy);
    const qint32 offsetX = static_cast<qint32>((fx - static_cast<float>(tx)) * static_cast<float>(TILES_WIDTH));
    const qint32 offsetY = static_cast<qint32>((fy - static_cast<float>(ty)) * static_cast<float>(TILES_HEIGHT));
    return GHMapTile(tx % tiles, ty % tiles, level, offsetX, offsetY);
}

GHLatLng GHMapUtils::tileToLatlng(const GHMapTile& tile, int level)
{
    const qint32 tiles = tilesOnLevel(level);
    if (tiles == 0)
        return GHLatLng();
    const double half = tiles * 0.5;

    const float u =
        static_cast<float>((tile.index().y + static_cast<double>(tile.offset().y) / TILES_HEIGHT) / half - 1.0);
    const float e = static_cast<float>(std::exp((static_cast<double>(u) * -2.0) * 3.141592653589793));
    const double latitudeRadians = std::asin(static_cast<double>((e - 1.0f) / (1.0f + e)));
    const double latitude = static_cast<double>(static_cast<float>(latitudeRadians * 57.29577951308232)) * 1e6;

    const float unitX =
        static_cast<float>((static_cast<double>(tile.offset().x) / TILES_WIDTH + tile.index().x) / half - 1.0);
    const float longitude = unitX * 180.0f * 1000000.0f;

    qint32 latitudeValue = 0;
    qint32 longitudeValue = 0;
    if (!ghTruncateToInt(latitude, latitudeValue) || !ghTruncateToInt(static_cast<double>(longitude), longitudeValue)) {
        qWarning("GHMapUtils::tileToLatlng: tile %s is off the map at level %d", qPrintable(tile.toString()), level);
        return GHLatLng();
    }
    return GHLatLng(latitudeValue, longitudeValue);
}

GHMapTile GHMapUtils::tileAdjustEx(int level, const GHTileIndex& index, const GHOffset& offset)
{
    const qint64 tiles = tilesOnLevel(level);
    if (tiles == 0)
        return GHMapTile();
    const qint64 pixelX = (static_cast<qint64>(index.x) * TILES_WIDTH + offset.x) % (TILES_WIDTH * tiles);
    const qint64 pixelY = (static_cast<qint64>(index.y) * TILES_HEIGHT + offset.y) % (TILES_HEIGHT * tiles);
    GHMapTile result(0, 0, level, 0, 0);
    splitPixel(pixelX, TILES_WIDTH, result.index().x, result.offset().x);
    splitPixel(pixelY, TILES_HEIGHT, result.index().y, result.offset().y);
    return result;
}

GHMapTile GHMapUtils::screenToTile(const QRect& screen, const QPoint& point, const GHMapTile& centre, int level)
{
    const qint64 tiles = tilesOnLevel(level);
    if (tiles == 0)
        return GHMapTile();
    // right() and bottom() are inclusive.
    const qint64 centreX = (static_cast<qint64>(screen.left()) + screen.right()) / 2;
    const qint64 centreY = (static_cast<qint64>(screen.top()) + screen.bottom()) / 2;
    const qint64 pixelX =
        (static_cast<qint64>(centre.index().x) * TILES_WIDTH + centre.offset().x + (point.x() - centreX)) %
        (TILES_WIDTH * tiles);
    const qint64 pixelY =
        (static_cast<qint64>(centre.index().y) * TILES_HEIGHT + centre.offset().y + (point.y() - centreY)) %
        (TILES_HEIGHT * tiles);
    GHMapTile result(0, 0, level, 0, 0);
    splitPixel(pixelX, TILES_WIDTH, result.index().x, result.offset().x);
    splitPixel(pixelY, TILES_HEIGHT, result.index().y, result.offset().y);
    return result;
}

GHOffset GHMapUtils::tileOffset(const GHMapTile& a, const GHMapTile& b)
{
    return GHOffset(b.getX() - a.getX(), b.getY() - a.getY());
}

void GHMapUtils::tileOnScreen(const GHTileIndex& tile, const QRect& screen, const GHMapTile& centre,
                              QVector<QPoint>& out, double scale)
{
    const qint64 tiles = tilesOnLevel(tile.level);
    if (tiles == 0)
        return;
    const qint64 width = static_cast<qint64>(screen.right()) - screen.left() + 1;
    const qint64 height = static_cast<qint64>(screen.bottom()) - screen.top() + 1;
    const qint64 worldWidth = TILES_WIDTH * tiles;
    const qint64 worldHeight = TILES_HEIGHT * tiles;

    qint64 screenX = positiveMod(
        (static_cast<qint64>(tile.x) - centre.index().x) * TILES_WIDTH + width / 2 - centre.offset().x, worldWidth);
    qint64 screenY = positiveMod(
        (static_cast<qint64>(tile.y) - centre.index().y) * TILES_HEIGHT + height / 2 - centre.offset().y, worldHeight);
    const double tileWidth = TILES_WIDTH * scale;
    const double tileHeight = TILES_HEIGHT * scale;
    if (screenX + tileWidth >= worldWidth)
        screenX -= worldWidth;
    if (screenY + tileHeight >= worldHeight)
        screenY -= worldHeight;

    const double right = width * scale;
    const double bottom = height * scale;
    if (screenX + tileWidth < 0 || right <= screenX || screenY + tileHeight < 0 || bottom <= screenY)
        return;
    const double columns = std::ceil((right - screenX) / worldWidth);
    const double rows = std::ceil((bottom - screenY) / worldHeight);
    // Also false for a scale that is not a number or infinite.
    if (!(right <= std::numeric_limits<int>::max() && bottom <= std::numeric_limits<int>::max() &&
          columns * rows <= MAX_TILE_COPIES)) {
        qWarning("GHMapUtils::tileOnScreen: a screen of %lldx%lld at scale %g shows too many copies of a tile",
                 static_cast<long long>(width), static_cast<long long>(height), scale);
        return;
    }
    for (qint64 x = screenX; x < right; x += worldWidth) {
        for (qint64 y = screenY; y < bottom; y += worldHeight)
            out.append(QPoint(static_cast<int>(x), static_cast<int>(y)));
    }
}

double GHMapUtils::calculateRad(double latDeg)
{
    const double sine = std::sin(deg2rad(latDeg));
    return 6336.205273084499 / std::pow(1 - 0.006574290724 * sine * sine, 1.5) * 1000;
}

double GHMapUtils::calcDistance(int lat1, int lng1, int lat2, int lng2)
{
    const double phi1 = lat1 / 1e6 * 0.017453292519943295;
    const double lambda1 = lng1 / 1e6 * 0.017453292519943295;
    const double phi2 = lat2 / 1e6 * 0.017453292519943295;
    const double lambda2 = lng2 / 1e6 * 0.017453292519943295;
    const double distance =
        std::acos(std::sin(phi1) * std::sin(phi2) + std::cos(phi1) * std::cos(phi2) * std::cos(lambda2 - lambda1)) *
        6371000;
    // Rounding can put the cosine of equal points just above 1.
    return std::isnan(distance) ? 0.0 : distance;
}

double GHMapUtils::calcDistance(const GHLatLng& a, const GHLatLng& b)
{
    return calcDistance(a.getLat(), a.getLng(), b.getLat(), b.getLng());
}

double GHMapUtils::earthDistance(double lat1, double lng1, double lat2, double lng2)
{
    const double radius1 = calculateRad(lat1);
    const double radius2 = calculateRad(lat2);
    const double meanRadius = calculateRad((lat1 + lat2) / 2);
    const double polar1 = deg2rad(90 - lat1);
    const double polar2 = deg2rad(90 - lat2);
    const double lambda1 = deg2rad(lng1);
    const double lambda2 = deg2rad(lng2);

    const double x1 = radius1 * std::sin(polar1) * std::cos(lambda1);
    const double y1 = radius1 * std::sin(polar1) * std::sin(lambda1);
    const double z1 = radius1 * std::cos(polar1);
    const double x2 = radius2 * std::sin(polar2) * std::cos(lambda2);
    const double y2 = radius2 * std::sin(polar2) * std::sin(lambda2);
    const double z2 = radius2 * std::cos(polar2);
    const double cosine = qBound(-1.0, (x1 * x2 + y1 * y2 + z1 * z2) / (meanRadius * meanRadius), 1.0);
    return meanRadius * std::acos(cosine);
}

QPair<double, double> GHMapUtils::meterOffset(const GHLatLng& a, const GHLatLng& b)
{
    const double aLat = static_cast<double>(a.getLatF());
    const double aLng = static_cast<double>(a.getLngF());
    float x = static_cast<float>(earthDistance(aLat, aLng, aLat, static_cast<double>(b.getLngF())));
    float y = static_cast<float>(earthDistance(aLat, aLng, static_cast<double>(b.getLatF()), aLng));
    if (b.getLng() > a.getLng())
        x = -x;
    if (b.getLat() > a.getLat())
        y = -y;
    return qMakePair(static_cast<double>(x), static_cast<double>(y));
}
