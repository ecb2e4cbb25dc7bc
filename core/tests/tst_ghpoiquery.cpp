#include <QtTest>

#include <QPointer>
#include <QTemporaryDir>

#include <memory>

#include "ghtestdevicehomes.h"
#include "ghtestsqlite.h"
#include "location/ghgeolocation.h"
#include "location/ghlocation.h"
#include "rastermap/ghmaputils.h"
#include "search/ghdevicedb.h"
#include "search/ghpoicategory.h"
#include "search/ghpoiquery.h"
#include "util/ghtracelog.h"

namespace {

// Level 10 has 128 tiles per axis; a factor of 2 puts 4 x 4 tiles in a file, so the ring of radius 1 around
// column 67 reaches into the files of columns 64..67 and 68..71.
const int kLevel = 10;
const int kCentreX = 67;
const int kCentreY = 45;

const QByteArray kPoiTable = "CREATE TABLE POI (idPOI INTEGER PRIMARY KEY, Name TEXT, CategoryID INTEGER,"
                             " Longitude INTEGER, Latitude INTEGER, XIdx INTEGER, YIdx INTEGER, Phone TEXT);"
                             "CREATE INDEX POIXY ON POI (XIdx, YIdx);";

const int kManyRows = 1000000;

struct Poi
{
    int id;
    QString name;
    int category;
    int x;
    int y;
    int longitudeOffset;
    int latitudeOffset;
};

GHLatLng cornerOf(int x, int y)
{
    return GHMapUtils::tileToLatlng(GHMapTile(x, y, kLevel, 0, TILES_HEIGHT - 1), kLevel);
}

// The middle of a tile, where the search starts.
GHLatLng middleOf(int x, int y)
{
    return GHMapUtils::tileToLatlng(GHMapTile(x, y, kLevel, 128, 128), kLevel);
}

QByteArray insertsOf(const QVector<Poi>& pois)
{
    QByteArray sql;
    for (const Poi& poi : pois) {
        QString name = poi.name;
        name.replace(QLatin1Char('\''), QLatin1String("''"));
        sql += QStringLiteral("INSERT INTO POI VALUES (%1, '%2', %3, %4, %5, %6, %7, '+1 555 %1');")
                   .arg(poi.id)
                   .arg(name)
                   .arg(poi.category)
                   .arg(poi.longitudeOffset)
                   .arg(poi.latitudeOffset)
                   .arg(poi.x)
                   .arg(poi.y)
                   .toUtf8();
    }
    return sql;
}

// "id@lat,lng" of every result, in result order.
QString resultsOf(const GHPOIQuery* query)
{
    const int count = query->getCount();
    QVector<GHGeoLocation> out(count);
    const int copied = query->getResult(0, count, out.data());
    QStringList entries;
    for (int i = 0; i < copied; ++i) {
        GHLocation* location = out[i].getLocation();
        entries << QStringLiteral("%1@%2,%3")
                       .arg(location->getId())
                       .arg(location->getLatitude())
                       .arg(location->getLongitude());
    }
    return entries.join(QLatin1Char(' '));
}

QString expected(int id, int x, int y, int longitudeOffset, int latitudeOffset)
{
    const GHLatLng corner = cornerOf(x, y);
    return QStringLiteral("%1@%2,%3")
        .arg(id)
        .arg(corner.getLat() + latitudeOffset)
        .arg(corner.getLng() + longitudeOffset);
}

QString ids(const GHPOIQuery* query)
{
    QStringList entries;
    for (const QString& entry : resultsOf(query).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        entries << entry.section(QLatin1Char('@'), 0, 0);
    return entries.join(QLatin1Char(','));
}

} // namespace

class TestGHPOIQuery : public GHTestDeviceHomes
{
    Q_OBJECT

private:
    // The file of tile (x, y) under a home.
    static QString tileFile(const QString& home, int x, int y)
    {
        return home + QStringLiteral("/data/poi/%1/poi%2.dat").arg(x >> 2).arg(y >> 2);
    }

    // An older-generation device whose poi.dat names the tiling; the tile files come from each test.
    bool setUpHomes(const QByteArray& categories = QByteArray())
    {
        const QByteArray poiDb =
            "CREATE TABLE Metadata (TileLevel INTEGER, TileFactor INTEGER);"
            "INSERT INTO Metadata VALUES (10, 2);" +
            (categories.isEmpty() ? QByteArray("CREATE TABLE POICategory (idPOICategory INTEGER PRIMARY KEY,"
                                               " Name TEXT, Icon TEXT, Priority INTEGER);")
                                  : categories);
        if (!GHTestSqlite::build(m_flash + QLatin1String("/data/poi/poi.dat"), poiDb))
            return false;
        GHTraceLog::setSystemVersion(kOlderVersion);
        GHDeviceDB::setHomeDir(m_flash, m_card, QString());
        return POI_TILE_LEVEL == kLevel && TILE_PER_POIDB == 2;
    }

    static bool buildTile(const QString& path, const QVector<Poi>& pois)
    {
        return GHTestSqlite::build(path, kPoiTable + "BEGIN;" + insertsOf(pois) + "COMMIT;");
    }

    // The centre tile with the 1 000 000 rows, copied from the one made once.
    bool manyRowsInCentre()
    {
        const QString path = tileFile(m_flash, kCentreX, kCentreY);
        QDir().mkpath(QFileInfo(path).absolutePath());
        return QFile::copy(m_manyRows, path);
    }

    static GHPOIQuery* search(int radius, const QString& name = QString(), int category = -1, int cap = 1000)
    {
        const GHLatLng centre = middleOf(kCentreX, kCentreY);
        return GHDeviceDB::findPOI(0, centre.getLat(), centre.getLng(), radius, name, category, cap);
    }

    QTemporaryDir m_shared;
    QString m_manyRows;

private slots:
    void initTestCase()
    {
        QVERIFY(m_shared.isValid());
        m_manyRows = m_shared.filePath(QStringLiteral("many.dat"));
        const QByteArray sql =
            kPoiTable + QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1)"
                                       " INSERT INTO POI SELECT i, 'poi ' || i, i % 7, i % 1000, i % 997,"
                                       " %2, %3, NULL FROM n;")
                            .arg(kManyRows)
                            .arg(kCentreX)
                            .arg(kCentreY)
                            .toUtf8();
        QVERIFY(GHTestSqlite::build(m_manyRows, sql));
    }

    void init() { QVERIFY(startScratch()); }

    void cleanup()
    {
        GHDeviceDB::closeStorageMapDb();
        GHTraceLog::setSystemVersion(kCurrentVersion);
        GHDeviceDB::setHomeDir(QString(), QString(), QString());
        stopScratch();
    }

    void ringsOverTwoFilesAndHomes_data()
    {
        QTest::addColumn<int>("radius");
        QTest::addColumn<QString>("ids");
        // Centre first; then per ring the top and bottom rows file by file, then the side columns file by file.
        QTest::newRow("radius 0: the centre tile") << 0 << QStringLiteral("1");
        QTest::newRow("radius 1") << 1 << QStringLiteral("1,2,3,4,5");
        QTest::newRow("radius 2") << 2 << QStringLiteral("1,2,3,4,5,6,7");
    }

    void ringsOverTwoFilesAndHomes()
    {
        QFETCH(int, radius);
        QFETCH(QString, ids);
        QVERIFY(setUpHomes());
        // Columns 64..67 in a flash file, 68..71 in a card file.
        const QVector<Poi> west{{1, "centre", 1, kCentreX, kCentreY, 10, 20},
                                {2, "top row", 1, kCentreX - 1, kCentreY - 1, 0, 0},
                                {4, "left column", 1, kCentreX - 1, kCentreY, 5, 6},
                                {6, "second ring", 1, kCentreX - 2, kCentreY + 2, 7, 8}};
        const QVector<Poi> east{{3, "bottom row", 1, kCentreX + 1, kCentreY + 1, -3, -4},
                                {5, "right column", 1, kCentreX + 1, kCentreY, 1, 1},
                                {7, "second ring", 1, kCentreX + 2, kCentreY - 2, 9, 9},
                                {8, "third ring", 1, kCentreX + 3, kCentreY, 0, 0}};
        QVERIFY(buildTile(tileFile(m_flash, kCentreX, kCentreY), west));
        QVERIFY(buildTile(tileFile(m_card, kCentreX + 1, kCentreY), east));
        // The card's copy of the flash file is not read: the flash home comes first.
        QVERIFY(buildTile(tileFile(m_card, kCentreX, kCentreY), {{9, "shadowed", 1, kCentreX, kCentreY, 0, 0}}));

        GHPOIQuery* query = search(radius);
        QVERIFY(query->wait(30000));
        QCOMPARE(query->getProgress(), 100);
        QCOMPARE(::ids(query), ids);
        if (radius == 1)
            QCOMPARE(
                resultsOf(query),
                QStringList({expected(1, kCentreX, kCentreY, 10, 20), expected(2, kCentreX - 1, kCentreY - 1, 0, 0),
                             expected(3, kCentreX + 1, kCentreY + 1, -3, -4), expected(4, kCentreX - 1, kCentreY, 5, 6),
                             expected(5, kCentreX + 1, kCentreY, 1, 1)})
                    .join(QLatin1Char(' ')));
    }

    void noFilesNoResults()
    {
        QVERIFY(setUpHomes());
        GHPOIQuery* query = search(3);
        QVERIFY(query->wait(30000));
        QCOMPARE(query->getCount(), 0);
        QCOMPARE(query->getProgress(), 100);
    }

    void filters_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("category");
        QTest::addColumn<QString>("ids");
        QTest::newRow("none") << QString() << -1 << QStringLiteral("1,2,3,4");
        QTest::newRow("name anywhere, any case") << QStringLiteral("cafe") << -1 << QStringLiteral("1,2,4");
        QTest::newRow("category 0 is a filter") << QString() << 0 << QStringLiteral("1,3");
        QTest::newRow("both") << QStringLiteral("cafe") << 0 << QStringLiteral("1");
        QTest::newRow("a quote in the name") << QStringLiteral("Bob's") << -1 << QStringLiteral("4");
    }

    void filters()
    {
        QFETCH(QString, name);
        QFETCH(int, category);
        QFETCH(QString, ids);
        QVERIFY(setUpHomes());
        QVERIFY(
            buildTile(tileFile(m_flash, kCentreX, kCentreY), {{1, "cafe", 0, kCentreX, kCentreY, 0, 0},
                                                              {2, "Old CAFE bar", 3, kCentreX, kCentreY, 0, 0},
                                                              {3, "Bakery", 0, kCentreX, kCentreY + 1, 0, 0},
                                                              {4, "Bob's cafe", 5, kCentreX + 1, kCentreY - 1, 0, 0}}));
        GHPOIQuery* query = search(1, name, category);
        QVERIFY(query->wait(30000));
        QCOMPARE(::ids(query), ids);
    }

    void capAndResultWindow()
    {
        QVERIFY(setUpHomes());
        QVector<Poi> pois;
        for (int id = 1; id <= 20; ++id)
            pois.append({id, QStringLiteral("poi %1").arg(id), 1, kCentreX, kCentreY, id, id});
        QVERIFY(buildTile(tileFile(m_flash, kCentreX, kCentreY), pois));

        // The search stops once it holds more than the cap: cap + 1 results. Stopped in the centre tile, its
        // progress stays 0.
        GHPOIQuery* query = search(2, QString(), -1, 5);
        QVERIFY(query->wait(30000));
        QCOMPARE(query->getCount(), 6);
        QCOMPARE(query->getProgress(), 0);

        QVector<GHGeoLocation> out(10);
        QCOMPARE(query->getResult(3, 10, out.data()), 3);
        QCOMPARE(out[0].getLocation()->getId(), 4);
        QCOMPARE(out[2].getLocation()->getId(), 6);
        QCOMPARE(out[3].getLocation()->getId(), -1);

        query = search(0, QString(), -1, 4);
        QVERIFY(query->wait(30000));
        QCOMPARE(query->getCount(), 5);
        GHGeoLocation window[10];
        QCOMPARE(query->getResult(3, 10, window), 2);
        QCOMPARE(window[0].getLocation()->getId(), 4);
        QCOMPARE(window[1].getLocation()->getId(), 5);
        QCOMPARE(window[1].getLocation()->getLatitude(), cornerOf(kCentreX, kCentreY).getLat() + 5);
        QCOMPARE(window[2].getLocation()->getId(), -1);
        QCOMPARE(query->getResult(5, 1, window), 0);
        QCOMPARE(query->getResult(0, 0, window), 0);
        QCOMPARE(query->getResult(-1, 3, window), 0);
    }

    void damagedTileFile()
    {
        QVERIFY(setUpHomes());
        QVERIFY(buildTile(tileFile(m_flash, kCentreX, kCentreY), {{1, "kept", 1, kCentreX, kCentreY, 0, 0}}));
        QVERIFY(GHTestSqlite::writeAll(tileFile(m_flash, kCentreX + 1, kCentreY), QByteArray(8192, '\x5a')));
        GHTestSqlite::WarningCapture capture;
        GHPOIQuery* query = search(1);
        QVERIFY(query->wait(30000));
        // The results before the failure stay; the failure ends the search.
        QCOMPARE(::ids(query), QStringLiteral("1"));
        QCOMPARE(query->getProgress(), 100);
        QVERIFY(!capture.warnings().isEmpty());
    }

    void cancelKeepsResults()
    {
        QVERIFY(setUpHomes());
        QVERIFY(manyRowsInCentre());
        GHPOIQuery* query = search(0, QString(), -1, 2 * kManyRows);
        QTRY_VERIFY_WITH_TIMEOUT(query->getCount() > 0, 30000);
        query->cancelSearch();
        QVERIFY(query->wait(30000));
        const int count = query->getCount();
        QVERIFY2(count > 0 && count < kManyRows, qPrintable(QString::number(count)));
        QCOMPARE(resultsOf(query).section(QLatin1Char(' '), 0, 0), expected(1, kCentreX, kCentreY, 1, 1));
    }

    void secondSearchStopsTheFirst()
    {
        QVERIFY(setUpHomes());
        QVERIFY(manyRowsInCentre());
        QPointer<GHPOIQuery> first = search(0, QString(), -1, 2 * kManyRows);
        QTRY_VERIFY_WITH_TIMEOUT(first->getCount() > 0, 30000);
        GHPOIQuery* second = search(0, QString(), -1, 2);
        // The first was stopped, waited for and deleted.
        QVERIFY(first.isNull());
        QVERIFY(second->wait(30000));
        QCOMPARE(::ids(second), QStringLiteral("1,2,3"));
    }

    void closeStorageMapDbEndsTheSearch()
    {
        QVERIFY(setUpHomes());
        QVERIFY(manyRowsInCentre());
        const QString file = tileFile(m_flash, kCentreX, kCentreY);
        GHPOIQuery* query = search(0, QString(), -1, 2 * kManyRows);
        QTRY_VERIFY_WITH_TIMEOUT(query->getCount() > 0, 30000);
        QCOMPARE(GHTestSqlite::openDescriptors(file), 1);
        GHDeviceDB::closeStorageMapDb();
        QVERIFY(query->isFinished());
        QCOMPARE(GHTestSqlite::openDescriptors(file), 0);
        QVERIFY(query->getCount() > 0);
    }

    void geoDataBesideTheSearch()
    {
        QVERIFY(setUpHomes());
        QVERIFY(buildTile(tileFile(m_flash, kCentreX, kCentreY),
                          {{1, "\\ENG Cafe\\GER Kaffee", 4, kCentreX, kCentreY, 100, 200},
                           {2, "Bakery", 5, kCentreX, kCentreY, 300, 400}}));
        // "ghddb" is used on this thread before, during and after the search, which has its own connection.
        QVector<GHPoiCategory> categories;
        GHDeviceDB::getPoiCategories(categories, QStringLiteral("ENG"));
        GHPOIQuery* query = search(1);

        const GHLatLng corner = cornerOf(kCentreX, kCentreY);
        const QStringList columns{QStringLiteral("Name"), QStringLiteral("CategoryID"), QStringLiteral("Phone")};
        GHLocation byId;
        byId.setLatLng(corner.getLat() + 1, corner.getLng() + 1);
        byId.setId(2);
        QVector<QVariant> values;
        GHDeviceDB::getGeoData(&byId, columns, values, QStringLiteral("GER"));
        QCOMPARE(values,
                 QVector<QVariant>({QStringLiteral("Bakery"), QStringLiteral("5"), QStringLiteral("+1 555 2")}));

        QVERIFY(query->wait(30000));
        QCOMPARE(::ids(query), QStringLiteral("1,2"));

        // By position: within two millionths of the stored offsets, the first match only.
        GHLocation byPosition;
        byPosition.setLatLng(corner.getLat() + 202, corner.getLng() + 98);
        values.clear();
        GHDeviceDB::getGeoData(&byPosition, columns, values, QStringLiteral("GER"));
        QCOMPARE(values.value(0).toString(), QStringLiteral("Kaffee"));
        QCOMPARE(values.size(), 3);
        byPosition.setLatLng(corner.getLat() + 203, corner.getLng() + 100);
        values.clear();
        GHDeviceDB::getGeoData(&byPosition, columns, values, QStringLiteral("GER"));
        QVERIFY(values.isEmpty());

        // A position whose tile has no file gives nothing.
        GHLocation elsewhere;
        const GHLatLng far = middleOf(kCentreX + 20, kCentreY);
        elsewhere.setLatLng(far.getLat(), far.getLng());
        elsewhere.setId(1);
        GHDeviceDB::getGeoData(&elsewhere, columns, values, QStringLiteral("GER"));
        QVERIFY(values.isEmpty());

        // The search after all this still runs on its own connection.
        query = search(0, QStringLiteral("Kaffee"));
        QVERIFY(query->wait(30000));
        QCOMPARE(::ids(query), QStringLiteral("1"));
    }

    void categories_data()
    {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("expected");
        const QByteArray rows = "INSERT INTO POICategory (idPOICategory, Name, Icon) VALUES"
                                " (1, 'Hotel', 'h.png'), (2, '\\ENG Food\\GER Essen', 'f.png'), (3, 'Bank', NULL);";
        QTest::newRow("by priority")
            << QByteArray("CREATE TABLE POICategory (idPOICategory INTEGER PRIMARY KEY, Name TEXT, Icon TEXT,"
                          " Priority INTEGER);") +
                   rows + "UPDATE POICategory SET Priority = 4 - idPOICategory;"
            << kOlderVersion << QStringLiteral("3 Bank ,2 Essen f.png,1 Hotel h.png");
        QTest::newRow("by name without priority")
            << QByteArray("CREATE TABLE POICategory (idPOICategory INTEGER PRIMARY KEY, Name TEXT, Icon TEXT);") + rows
            << kOlderVersion << QStringLiteral("3 Bank ,1 Hotel h.png,2 Essen f.png");
        QTest::newRow("current generation")
            << QByteArray("CREATE TABLE POICategory (idPOICategory INTEGER PRIMARY KEY, Name TEXT, Icon TEXT);") + rows
            << kCurrentVersion << QString();
    }

    void categories()
    {
        QFETCH(QByteArray, table);
        QFETCH(QString, version);
        QFETCH(QString, expected);
        QVERIFY(setUpHomes(table));
        GHTraceLog::setSystemVersion(version);
        QVector<GHPoiCategory> categories;
        GHDeviceDB::getPoiCategories(categories, QStringLiteral("GER"));
        QStringList read;
        for (const GHPoiCategory& category : qAsConst(categories))
            read << QStringLiteral("%1 %2 %3").arg(category.id).arg(category.name, category.icon);
        QCOMPARE(read.join(QLatin1Char(',')), expected);
    }
};

QTEST_GUILESS_MAIN(TestGHPOIQuery)
#include "tst_ghpoiquery.moc"
