#include <QtTest>

#include <cmath>
#include <limits>

#include "location/ghgeolocation.h"
#include "location/ghlatlng.h"
#include "location/ghlivelocation.h"
#include "location/ghlocation.h"
#include "location/ghpoisearchcursor.h"
#include "rastermap/ghmaptile.h"
#include "rastermap/ghmaputils.h"

namespace {

const int INT_MIN_VALUE = std::numeric_limits<int>::min();
const int INT_MAX_VALUE = std::numeric_limits<int>::max();
const double PI = 3.14159265358979323846;

// The tile of a position by the textbook Mercator formula, in double precision, for positions away from pixel
// borders (float rounding in the code moves a value by far less than a pixel there).
QString mercatorTile(double latDeg, double lngDeg, int level)
{
    const double tiles = std::ldexp(1.0, 17 - level);
    const double x = (lngDeg + 180.0) / 360.0 * tiles;
    const double y = tiles / 2 * (1 - std::log(std::tan(PI / 4 + latDeg * PI / 360.0)) / PI);
    return QStringLiteral("((%1,%2,%3),(%4,%5))")
        .arg(int(x))
        .arg(int(y))
        .arg(level)
        .arg(int((x - std::floor(x)) * 256))
        .arg(int((y - std::floor(y)) * 256));
}

// Millionths of the latitude at the top edge of a pixel row, by the inverse Mercator formula.
double mercatorLatitude(double row, int level)
{
    const double tiles = std::ldexp(1.0, 17 - level);
    return std::atan(std::sinh(PI * (1 - 2 * row / tiles))) * 180.0 / PI * 1e6;
}

// A search result of rows whose values follow from the row number; it records every move.
class RowCursor : public GHPoiSearchCursor
{
public:
    bool moveTo(int position) override
    {
        moves.append(position);
        m_row = position;
        return true;
    }
    GHLatLng getLatLng() override { return GHLatLng(m_row * 1000, -m_row * 1000); }
    QString getDisplayName(GHLocale*) override { return QStringLiteral("name %1").arg(m_row); }
    QString getAddress(GHLocale*) override { return QStringLiteral("address %1").arg(m_row); }
    int getCateID() override { return 100 + m_row; }
    int getId() override { return 5000 + m_row; }
    QString getPhone() override { return QStringLiteral("phone %1").arg(m_row); }
    QString getIntro(GHLocale*) override { return QStringLiteral("intro %1").arg(m_row); }

    QList<int> moves;

private:
    int m_row = -1;
};

} // namespace

class TestGHLocation : public QObject
{
    Q_OBJECT

private slots:
    void positionFromDegrees();
    void degreeTexts_data();
    void degreeTexts();
    void latlngToTile_data();
    void latlngToTile();
    void tileToLatlng_data();
    void tileToLatlng();
    void levelsOutsideRange_data();
    void levelsOutsideRange();
    void remaindersStayNegative();
    void tileOnScreen();
    void distancesAndDirections();
    void liveLocationValues();
    void geoLocationWithoutCursor();
    void geoLocationMovesSharedCursor();
};

void TestGHLocation::positionFromDegrees()
{
    // Truncation toward zero, never rounding.
    QCOMPARE(GHLatLng(25.5, -0.0000019).toString(), QStringLiteral("LatLng:(25500000,-1)"));
    QCOMPARE(GHLatLng(25.5f, -0.0000019f).toString(), QStringLiteral("LatLng:(25500000,-1)"));
    QCOMPARE(GHLatLng(25500000, -1).getLatF(), 25.5f);
    QCOMPARE(GHLatLng(25500000, -1).getLatDL(), 25.5);

    // 1 deg 30 min = 1500000, 2 deg 15 min 36 sec = 2260000; type 1 is south and west.
    QCOMPARE(GHLatLng::fromWGS84(GHLatLng::South, 1, 30, 0, GHLatLng::West, 2, 15, 36), GHLatLng(-1500000, -2260000));
    QCOMPARE(GHLatLng::fromWGS84(GHLatLng::North, 1, 30, 0, GHLatLng::East, 2, 15, 36), GHLatLng(1500000, 2260000));

    // Degrees without a 32-bit value in millionths give the null position.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const GHLatLng& bad : {GHLatLng(nan, 1.0), GHLatLng(1.0, inf), GHLatLng(-inf, 1.0), GHLatLng(3000.0, 1.0),
                                GHLatLng(float(nan), 1.0f), GHLatLng(1.0f, 1e30f),
                                GHLatLng::fromWGS84(GHLatLng::South, 1e30f, 0, 0, GHLatLng::East, 0, 0, 0)})
        QVERIFY2(bad.isNull(), qPrintable(bad.toString()));
    // The largest value that still has one.
    QCOMPARE(GHLatLng(2147.4836479, -2147.4836479).toString(), QStringLiteral("LatLng:(2147483647,-2147483647)"));
}

void TestGHLocation::degreeTexts_data()
{
    QTest::addColumn<QString>("axis");
    QTest::addColumn<int>("millionths");
    QTest::addColumn<QString>("text");

    QTest::newRow("half a degree south") << "lat" << -500000 << QStringLiteral("S   0° 30' 00.0\"");
    QTest::newRow("equator") << "lat" << 0 << QStringLiteral("N   0° 00' 00.0\"");
    QTest::newRow("plain half degree") << "plain" << 500000 << QStringLiteral("  0° 30' 00.0\"");
    QTest::newRow("0.9 seconds") << "plain" << 1500250 << QStringLiteral("  1° 30' 00.9\"");
    // 419400 millionths = 25.164 minutes = 25 minutes 9.84 seconds.
    QTest::newRow("west, three digits") << "lng" << -122419400 << QStringLiteral("W 122° 25' 09.8\"");
    QTest::newRow("east") << "lng" << 7654321 << QStringLiteral("E   7° 39' 15.6\"");
    // Its absolute value has no 32-bit form: 2147 degrees and 483648 millionths = 29.01888 minutes.
    QTest::newRow("smallest latitude") << "lat" << INT_MIN_VALUE << QStringLiteral("S 2147° 29' 01.1\"");
}

void TestGHLocation::degreeTexts()
{
    QFETCH(QString, axis);
    QFETCH(int, millionths);
    QFETCH(QString, text);

    GHLocation location;
    location.setLatLng(millionths, millionths);
    if (axis == "lat")
        QCOMPARE(location.toLatitudeString(), text);
    else if (axis == "lng")
        QCOMPARE(location.toLongitudeString(), text);
    else
        QCOMPARE(GHLocation::toLatLongString(millionths), text);
}

void TestGHLocation::latlngToTile_data()
{
    QTest::addColumn<int>("lat");
    QTest::addColumn<int>("lng");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("tile");

    QTest::newRow("origin, level 16") << 0 << 0 << 16 << "((1,1,16),(0,0))";
    // The integer half of one tile is 0, so the equator lies on row 0's top edge.
    QTest::newRow("origin, level 17") << 0 << 0 << 17 << "((0,0,17),(128,0))";
    // 225 / 360 of 2 tiles = 1.25.
    QTest::newRow("45 degrees east, level 16") << 0 << 45000000 << 16 << "((1,1,16),(64,0))";
    QTest::newRow("Sydney, level 10") << -33868800 << 151209300 << 10 << mercatorTile(-33.8688, 151.2093, 10);
    QTest::newRow("Ushuaia, level 8") << -54800000 << -68300000 << 8 << mercatorTile(-54.8, -68.3, 8);
    // The poles lie on the map's first and last pixel rows.
    QTest::newRow("north pole") << 90000000 << 0 << 16 << "((1,0,16),(0,0))";
    QTest::newRow("south pole") << -90000000 << 0 << 16 << "((1,1,16),(0,255))";
    QTest::newRow("beyond the north pole") << INT_MAX_VALUE << 0 << 16 << "((1,0,16),(0,0))";
    QTest::newRow("beyond the south pole") << INT_MIN_VALUE << 0 << 16 << "((1,1,16),(0,255))";
    // West of -180: -0.0556 tiles truncate toward zero, to tile 0 and offset -14 (-14.2 pixels).
    QTest::newRow("190 degrees west") << 0 << -190000000 << 16 << "((0,1,16),(-14,0))";
    QTest::newRow("level 18") << 0 << 0 << 18 << "((0,0,0),(0,0))";
    QTest::newRow("level -1") << 0 << 0 << -1 << "((0,0,0),(0,0))";
}

void TestGHLocation::latlngToTile()
{
    QFETCH(int, lat);
    QFETCH(int, lng);
    QFETCH(int, level);
    QFETCH(QString, tile);

    QCOMPARE(GHMapUtils::latlngToTile(GHLatLng(lat, lng), level).toString(), tile);
}

void TestGHLocation::tileToLatlng_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("offsetY");
    QTest::addColumn<int>("level");
    QTest::addColumn<double>("lat");
    QTest::addColumn<int>("lng");
    QTest::addColumn<double>("tolerance");
    QTest::addColumn<bool>("onMap");

    QTest::newRow("centre of the map") << 1 << 1 << 0 << 16 << 0.0 << 0 << 0.0 << true;
    // Single precision near the pole: a tenth of a metre per millionth.
    QTest::newRow("top left corner") << 0 << 0 << 0 << 16 << mercatorLatitude(0, 16) << -180000000 << 100.0 << true;
    // The offset counts: the last pixel row of the first tile, not its top.
    QTest::newRow("south-western pixel") << 0 << 0 << 255 << 16 << mercatorLatitude(255.0 / 256, 16) << -180000000
                                         << 10.0 << true;
    // Column 16 of 128 starts at -180 + 16 / 128 x 360 degrees.
    QTest::newRow("row 30 of level 10, column 16")
        << 16 << 30 << 128 << 10 << mercatorLatitude(30.5, 10) << -135000000 << 10.0 << true;
    // Rows and columns so far off the map that they have no position in 32 bits give the null position.
    QTest::newRow("far north of the map") << 0 << -1000 << 0 << 16 << 0.0 << 0 << 0.0 << false;
    QTest::newRow("far east of the map") << 100 << 0 << 0 << 16 << 0.0 << 0 << 0.0 << false;
}

void TestGHLocation::tileToLatlng()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, offsetY);
    QFETCH(int, level);
    QFETCH(double, lat);
    QFETCH(int, lng);
    QFETCH(double, tolerance);
    QFETCH(bool, onMap);

    if (!onMap)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("GHMapUtils::tileToLatlng: tile .* is off the map"));
    // The tile's own level is not read.
    const GHLatLng position = GHMapUtils::tileToLatlng(GHMapTile(x, y, 3, 0, offsetY), level);
    QVERIFY2(std::abs(position.getLat() - lat) <= tolerance, qPrintable(position.toString()));
    QCOMPARE(position.getLng(), lng);
}

void TestGHLocation::levelsOutsideRange_data()
{
    QTest::addColumn<int>("level");
    QTest::newRow("18") << 18;
    QTest::newRow("-1") << -1;
    QTest::newRow("smallest") << INT_MIN_VALUE;
}

void TestGHLocation::levelsOutsideRange()
{
    QFETCH(int, level);

    QCOMPARE(GHMapUtils::tilesOnLevel(0), 131072);
    QCOMPARE(GHMapUtils::tilesOnLevel(17), 1);

    QTest::ignoreMessage(QtWarningMsg,
                         qPrintable(QStringLiteral("GHMapUtils: tile level %1 is outside 0..17").arg(level)));
    QCOMPARE(GHMapUtils::tilesOnLevel(level), 0);
    const GHMapTile tile(3, 4, level, 5, 6);
    QCOMPARE(tile.getX(), 0);
    QCOMPARE(tile.getY(), 0);
    QVERIFY(GHMapUtils::tileToLatlng(GHMapTile(1, 1, 16, 0, 0), level).isNull());
    QCOMPARE(GHMapUtils::tileAdjustEx(level, GHTileIndex(3, 4, 16), GHOffset(300, 5)), GHMapTile());
    QCOMPARE(GHMapUtils::screenToTile(QRect(0, 0, 100, 100), QPoint(10, 10), GHMapTile(1, 1, 16, 0, 0), level),
             GHMapTile());
    QVector<QPoint> points;
    GHMapUtils::tileOnScreen(GHTileIndex(0, 0, level), QRect(0, 0, 100, 100), GHMapTile(0, 0, 16, 0, 0), points, 1.0);
    QVERIFY(points.isEmpty());
}

void TestGHLocation::remaindersStayNegative()
{
    QCOMPARE(GHMapUtils::mod(-1, 256), 255);
    // getX keeps the truncating remainder: -256 + 10.
    QCOMPARE(GHMapTile(-1, 0, 17, 10, 0).getX(), -246);
    QCOMPARE(GHMapUtils::tileAdjustEx(17, GHTileIndex(-1, 0, 0), GHOffset(10, 0)).toString(),
             QStringLiteral("((0,0,17),(-246,0))"));
    // 2 tiles of 256 at level 16: pixel 3 * 256 + 300 = 1068, less 512 twice = 44.
    QCOMPARE(GHMapUtils::tileAdjustEx(16, GHTileIndex(3, 0, 0), GHOffset(300, 5)).toString(),
             QStringLiteral("((0,0,16),(44,5))"));
    QCOMPARE(GHMapUtils::tileOffset(GHMapTile(1, 0, 16, 10, 0), GHMapTile(0, 1, 16, 0, 20)).x, -266);
    QCOMPARE(GHMapUtils::tileOffset(GHMapTile(1, 0, 16, 10, 0), GHMapTile(0, 1, 16, 0, 20)).y, 276);

    QTest::ignoreMessage(QtWarningMsg, "GHMapUtils::mod: remainder of 5 by 0");
    QCOMPARE(GHMapUtils::mod(5, 0), 0);
    QCOMPARE(GHMapUtils::mod(INT_MIN_VALUE, -1), 0);
    // Far off the map the pixel sum needs more than 32 bits: (2^31 - 1) x 256 + 255 = 2^39 - 1, whose remainder by
    // the 2^25 pixels of level 0 is 2^25 - 1.
    QCOMPARE(GHMapTile(INT_MAX_VALUE, 0, 0, 255, 0).getX(), 33554431);
}

void TestGHLocation::tileOnScreen()
{
    // A 512 x 300 screen whose centre pixel (255, 149) shows tile (1, 1) of level 16 at offset (0, 0).
    const QRect screen(0, 0, 512, 300);
    const GHMapTile centre(1, 1, 16, 0, 0);
    QCOMPARE(GHMapUtils::screenToTile(screen, QPoint(255, 149), centre, 16).toString(),
             QStringLiteral("((1,1,16),(0,0))"));
    QCOMPARE(GHMapUtils::screenToTile(screen, QPoint(0, 0), centre, 16).toString(),
             QStringLiteral("((0,0,16),(1,107))"));

    // The tile starts at the centre (256, 150); the world is 512 pixels wide, so its copy one world to the west
    // ends exactly at the left edge and is listed too.
    QVector<QPoint> points;
    GHMapUtils::tileOnScreen(GHTileIndex(1, 1, 16), screen, centre, points, 1.0);
    QCOMPARE(points, QVector<QPoint>({QPoint(-256, 150), QPoint(256, 150)}));

    // Level 17's world is one tile of 256 pixels: on a 600 x 100 screen centred on its top-left pixel it starts at
    // (300, 50), less one world on each axis, and repeats every 256 pixels; columns in the outer loop.
    points.clear();
    GHMapUtils::tileOnScreen(GHTileIndex(0, 0, 17), QRect(0, 0, 600, 100), GHMapTile(0, 0, 17, 0, 0), points, 1.0);
    QCOMPARE(points, QVector<QPoint>({QPoint(-212, -206), QPoint(-212, 50), QPoint(44, -206), QPoint(44, 50),
                                      QPoint(300, -206), QPoint(300, 50), QPoint(556, -206), QPoint(556, 50)}));

    // A scale that is no number, infinite or absurd appends nothing instead of looping.
    for (double scale : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 1e300}) {
        points.clear();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("too many copies of a tile"));
        GHMapUtils::tileOnScreen(GHTileIndex(0, 0, 17), screen, GHMapTile(0, 0, 17, 0, 0), points, scale);
        QVERIFY(points.isEmpty());
    }
}

void TestGHLocation::distancesAndDirections()
{
    // Equal points: acos may see a cosine just above 1 (no number) or just below it (about 9 cm).
    for (const GHLatLng& point : {GHLatLng(45123456, 7654321), GHLatLng(-33868800, 151209300), GHLatLng(0, 0),
                                  GHLatLng(89999999, -179999999), GHLatLng(51477928, -1)}) {
        const float distance = point.distanceTo(point.getLat(), point.getLng());
        QVERIFY2(distance >= 0 && distance < 0.2f, qPrintable(point.toString()));
        const double earth =
            GHMapUtils::earthDistance(point.getLatDL(), point.getLngDL(), point.getLatDL(), point.getLngDL());
        QVERIFY2(earth >= 0 && earth < 1.0, qPrintable(point.toString()));
    }
    // A quarter of the equator on the sphere of 6371 km.
    QVERIFY(std::abs(GHMapUtils::calcDistance(0, 0, 0, 90000000) - 6371000 * PI / 2) < 0.01);

    // a relative to b, east and north positive: one degree of the equator's radius of curvature, 6336.205 km.
    const double degree = 6336205.273084499 * PI / 180;
    const QPair<double, double> west = GHMapUtils::meterOffset(GHLatLng(0, 0), GHLatLng(0, 1000000));
    QVERIFY2(std::abs(west.first + degree) < 1.0 && std::abs(west.second) < 0.2,
             qPrintable(QString::number(west.first)));
    const QPair<double, double> north = GHMapUtils::meterOffset(GHLatLng(1000000, 0), GHLatLng(0, 0));
    QVERIFY(std::abs(north.first) < 0.2 && north.second > 110000 && north.second < 111000);

    const GHLatLng origin;
    QCOMPARE(origin.directionTo(0, 5), 0.0f);
    QCOMPARE(origin.directionTo(5, 0), 90.0f);
    QCOMPARE(origin.directionTo(-5, 0), -90.0f);
    QCOMPARE(origin.directionTo(0, -5), 180.0f);
    // The differences need 33 bits; wrapped to 32 they would point south-west.
    QCOMPARE(GHLatLng(INT_MIN_VALUE, INT_MIN_VALUE).directionTo(INT_MAX_VALUE, INT_MAX_VALUE), 45.0f);

    GHLocation here;
    GHLocation there;
    there.setLatLng(0, 90000000);
    QCOMPARE(here.distanceTo(&there), float(6371000 * PI / 2));
    QCOMPARE(here.directionTo(&there), 0.0f);
    QCOMPARE(here.bearingTo(&there), 0.0f);
    QTest::ignoreMessage(QtWarningMsg, "GHLocation::distanceTo: no location");
    QCOMPARE(here.distanceTo(nullptr), 0.0f);
}

void TestGHLocation::liveLocationValues()
{
    GHLiveLocation live(QStringLiteral("gps"));
    QVERIFY(!live.hasSpeed() && !live.hasBearing() && !live.hasAltitude());
    QCOMPARE(live.getId(), -1);

    live.setLiveData(25000, INT_MIN_VALUE, 1234567);
    QVERIFY(live.hasSpeed() && !live.hasBearing() && live.hasAltitude());
    QCOMPARE(live.getSpeed(), 2.5f);
    QCOMPARE(live.getBearing(), 0.0f);
    QCOMPARE(live.getAltitude(), 123.4567f);
    live.setLiveData(INT_MIN_VALUE, 900000, INT_MIN_VALUE);
    QVERIFY(!live.hasSpeed() && live.hasBearing() && !live.hasAltitude());
    QCOMPARE(live.getSpeed(), 0.0f);
    QCOMPARE(live.getAltitude(), 0.0f);

    // Times 10000, truncated toward zero.
    live.setAltitude(-0.00009f);
    QVERIFY(live.hasAltitude());
    QCOMPARE(live.getAltitude(), 0.0f);
    live.setSpeed(12.5f);
    QCOMPARE(live.getSpeed(), 12.5f);

    // A value without a stored form leaves no value behind.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("GHLocation::setAltitude: nan"));
    live.setAltitude(std::numeric_limits<float>::quiet_NaN());
    QVERIFY(!live.hasAltitude());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("GHLiveLocation::setSpeed: inf"));
    live.setSpeed(std::numeric_limits<float>::infinity());
    QVERIFY(!live.hasSpeed());
    QCOMPARE(live.getSpeed(), 0.0f);

    GHLiveLocation source(QStringLiteral("replay"));
    source.setId(7);
    source.setLocationType(3);
    source.setTimestamp(1700000000u);
    source.setLatLng(48858370, 2294481);
    source.setLiveData(55555, 1800000, -4000);
    live.setId(1);
    live.setLocationType(2);
    live.set(&source);
    QCOMPARE(live.getProvider(), QStringLiteral("replay"));
    QVERIFY(live.hasSpeed() && live.hasBearing() && live.hasAltitude());
    QCOMPARE(live.getSpeed(), 5.5555f);
    QCOMPARE(live.getBearing(), 180.0f);
    QCOMPARE(live.getAltitude(), -0.4f);
    QCOMPARE(live.getTimestamp(), 1700000000u);
    QCOMPARE(live.getLatLng(), GHLatLng(48858370, 2294481));
    // The id and the location type are not copied.
    QCOMPARE(live.getId(), 1);
    QCOMPARE(live.getLocationType(), 2u);
}

void TestGHLocation::geoLocationWithoutCursor()
{
    GHGeoLocation place(QStringLiteral("1 Main Street"));
    place.setCustomName(QStringLiteral("Home"));
    QCOMPARE(place.getCustomAddress(), QStringLiteral("1 Main Street"));
    QCOMPARE(place.getDisplayName(), QStringLiteral("Home"));
    // The custom address is not the address.
    QCOMPARE(place.getAddress(), QString());
    QCOMPARE(place.getIntro(), QString());
    QCOMPARE(place.getPhone(), QString());
    QCOMPARE(place.getCateID(), -1);
    QCOMPARE(place.getPostcode(), QString());
    QCOMPARE(place.getLocation()->getId(), -1);
    QVERIFY(place.getLocation()->getLatLng().isNull());
}

void TestGHLocation::geoLocationMovesSharedCursor()
{
    RowCursor cursor;
    GHGeoLocation first;
    GHGeoLocation second;
    first.setCursorPosition(&cursor, 3);
    second.setCursorPosition(&cursor, 5);
    QCOMPARE(first.getLocation()->getId(), 5003);
    QCOMPARE(first.getLocation()->getLatLng(), GHLatLng(3000, -3000));
    QCOMPARE(second.getLocation()->getId(), 5005);

    // Interleaved reads: each answers for its own row.
    QCOMPARE(first.getDisplayName(), QStringLiteral("name 3"));
    QCOMPARE(second.getAddress(), QStringLiteral("address 5"));
    QCOMPARE(first.getCateID(), 103);
    QCOMPARE(second.getPhone(), QStringLiteral("phone 5"));
    QCOMPARE(first.getIntro(), QStringLiteral("intro 3"));
    QCOMPARE(first.getPostcode(), QString());
    QCOMPARE(cursor.moves, QList<int>({3, 5, 3, 5, 3, 5, 3}));
}

QTEST_GUILESS_MAIN(TestGHLocation)
#include "tst_ghlocation.moc"
