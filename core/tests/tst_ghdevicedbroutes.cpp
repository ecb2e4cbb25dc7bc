#include <QtTest>

#include <QSqlQuery>
#include <QTemporaryDir>

#include <memory>

#include "ghtestdevicehomes.h"
#include "ghtestsqlite.h"
#include "search/ghdevicedb.h"
#include "search/ghid.h"
#include "util/ghtracelog.h"

using GHTestSqlite::query;

Q_DECLARE_METATYPE(GHId)

namespace {

// Routes 1 and 7 of type 2 share their ids with the card's, so the two homes' entries must stay apart.
const QByteArray kFlashRoutes = "INSERT INTO Route (idRoute, Title, RouteType, Uploaded) VALUES"
                                " (1, 'b', 2, 0), (2, 'a', 3, 0), (7, 'c', 2, 1);";
const QByteArray kCardRoutes = "INSERT INTO Route (idRoute, Title, RouteType) VALUES (1, 'z', 2), (3, 'y', 1);";

// "location:id title", in the map's order.
QString listed(const QMap<GHId, QString>& routes)
{
    QStringList entries;
    for (auto it = routes.cbegin(); it != routes.cend(); ++it)
        entries << QStringLiteral("%1:%2 %3").arg(it.key().location).arg(it.key().rowId).arg(it.value());
    return entries.join(QLatin1Char(','));
}

QString rowsOf(QSqlQuery& sqlQuery)
{
    QStringList rows;
    while (sqlQuery.next())
        rows << sqlQuery.value(0).toString() + QLatin1Char(' ') + sqlQuery.value(1).toString();
    return rows.join(QLatin1Char(','));
}

} // namespace

class TestGHDeviceDBRoutes : public GHTestDeviceHomes
{
    Q_OBJECT

private:
    QString flashRouteDb() const { return m_flash + QLatin1String("/data/route/route.dat"); }
    QString cardRouteDb() const { return m_card + QLatin1String("/data/route/route.dat"); }
    QString gpxOf(const QString& home, int rowId) const
    {
        return home + QStringLiteral("/data/route/route-%1.gpx").arg(rowId);
    }

    // Both homes with their routes; the card's database as a device wrote it.
    bool twoHomes()
    {
        if (!GHTestSqlite::writeAll(routeSql(), shippedScript()) ||
            !GHTestSqlite::build(cardRouteDb(), shippedScript() + kCardRoutes))
            return false;
        GHDeviceDB::setHomeDir(m_flash, m_card, QString());
        return GHTestSqlite::run(flashRouteDb(), kFlashRoutes);
    }

private slots:
    void init()
    {
        GHTraceLog::setSystemVersion(kCurrentVersion);
        QVERIFY(startScratch());
        QVERIFY(!shippedScript().isEmpty());
    }

    void cleanup()
    {
        GHTraceLog::setSystemVersion(kCurrentVersion);
        stopScratch();
    }

    void routeList_data()
    {
        QTest::addColumn<int>("routeType");
        QTest::addColumn<QString>("extra");
        QTest::addColumn<QString>("expected");
        const QString all = QStringLiteral("0:1 b,0:2 a,0:7 c,1:1 z,1:3 y");
        QTest::newRow("every type") << 5 << QString() << all;
        QTest::newRow("extra has no effect") << 5 << QStringLiteral("RouteType=1 --") << all;
        QTest::newRow("type 2") << 2 << QString() << QStringLiteral("0:1 b,0:7 c,1:1 z");
        QTest::newRow("type 1, card only") << 1 << QString() << QStringLiteral("1:3 y");
        QTest::newRow("no route of the type") << 4 << QString() << QString();
    }

    void routeList()
    {
        QFETCH(int, routeType);
        QFETCH(QString, extra);
        QFETCH(QString, expected);
        QVERIFY(twoHomes());
        QMap<GHId, QString> routes;
        GHDeviceDB::getRouteList(routeType, routes, extra);
        QCOMPARE(listed(routes), expected);
    }

    void routeListKeepsWhatItHolds()
    {
        QVERIFY(twoHomes());
        // An entry of an equal id takes the new title; the others stay.
        QMap<GHId, QString> routes{{GHId(1, GHId::FLASH), QStringLiteral("old")},
                                   {GHId(99, GHId::STORAGE), QStringLiteral("kept")}};
        GHDeviceDB::getRouteList(2, routes, QString());
        QCOMPARE(listed(routes), QStringLiteral("0:1 b,0:7 c,1:1 z,1:99 kept"));

        // Without a card database the flash routes are listed all the same.
        QVERIFY(QFile::remove(cardRouteDb()));
        routes.clear();
        GHDeviceDB::getRouteList(5, routes, QString());
        QCOMPARE(listed(routes), QStringLiteral("0:1 b,0:2 a,0:7 c"));
    }

    void updateRoute()
    {
        QVERIFY(twoHomes());
        QStringList columns{QStringLiteral("Title"), QStringLiteral("RouteType")};
        QVector<QVariant> values{QStringLiteral("renamed"), 4};
        QVERIFY(GHDeviceDB::updateRoute(GHId(1, GHId::STORAGE), columns, values));
        QCOMPARE(query(cardRouteDb(), "select Title, RouteType from Route where idRoute=1;"),
                 QStringLiteral("renamed|4"));
        QCOMPARE(query(flashRouteDb(), "select Title, RouteType from Route where idRoute=1;"), QStringLiteral("b|2"));

        // No home of that location, and a column that does not exist.
        QVERIFY(!GHDeviceDB::updateRoute(GHId(1, GHId::DBLOC(2)), columns, values));
        QStringList unknown{QStringLiteral("Colour")};
        QVector<QVariant> one{1};
        QVERIFY(!GHDeviceDB::updateRoute(GHId(1, GHId::FLASH), unknown, one));
        QCOMPARE(query(flashRouteDb(), "select group_concat(Title) from Route;"), QStringLiteral("b,a,c"));

        QVERIFY(QFile::remove(cardRouteDb()));
        QVERIFY(!GHDeviceDB::updateRoute(GHId(1, GHId::STORAGE), columns, values));
    }

    void deleteRoute()
    {
        QVERIFY(twoHomes());
        for (const QString& gpx :
             {gpxOf(m_flash, 2), gpxOf(m_flash, 7), gpxOf(m_card, 2), gpxOf(m_card, 3), gpxOf(m_flash, 40)})
            QVERIFY(GHTestSqlite::writeAll(gpx, "<gpx/>"));

        QVERIFY(GHDeviceDB::deleteRoute(GHId(2, GHId::FLASH)));
        QCOMPARE(query(flashRouteDb(), "select group_concat(idRoute) from Route;"), QStringLiteral("1,7"));
        QVERIFY(!QFileInfo::exists(gpxOf(m_flash, 2)));
        QVERIFY(QFileInfo::exists(gpxOf(m_card, 2)));

        QVERIFY(GHDeviceDB::deleteRoute(GHId(3, GHId::STORAGE)));
        QCOMPARE(query(cardRouteDb(), "select group_concat(idRoute) from Route;"), QStringLiteral("1"));
        QVERIFY(!QFileInfo::exists(gpxOf(m_card, 3)));

        // No row of that id: the statement runs, and the file of the id goes.
        QVERIFY(GHDeviceDB::deleteRoute(GHId(40, GHId::FLASH)));
        QVERIFY(!QFileInfo::exists(gpxOf(m_flash, 40)));

        // A location that names no home touches nothing.
        QVERIFY(!GHDeviceDB::deleteRoute(GHId(7, GHId::DBLOC(2))));
        QVERIFY(QFileInfo::exists(gpxOf(m_flash, 7)));

        // A delete that fails keeps the file.
        QVERIFY(GHTestSqlite::run(flashRouteDb(), "CREATE TRIGGER keep BEFORE DELETE ON Route "
                                                  "BEGIN SELECT RAISE(ABORT, 'kept'); END;"));
        QVERIFY(!GHDeviceDB::deleteRoute(GHId(7, GHId::FLASH)));
        QVERIFY(QFileInfo::exists(gpxOf(m_flash, 7)));
        QCOMPARE(query(flashRouteDb(), "select group_concat(idRoute) from Route;"), QStringLiteral("1,7"));

        QVERIFY(QFile::remove(cardRouteDb()));
        QVERIFY(!GHDeviceDB::deleteRoute(GHId(2, GHId::STORAGE)));
        QVERIFY(QFileInfo::exists(gpxOf(m_card, 2)));
    }

    void readRow_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<GHId>("id");
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<QString>("expected");
        const QStringList titleType{QStringLiteral("RouteType"), QStringLiteral("Title")};
        QTest::newRow("flash row") << "Route" << GHId(7, GHId::FLASH) << titleType << "before,2,c";
        QTest::newRow("card row, same id") << "Route" << GHId(1, GHId::STORAGE) << titleType << "before,2,z";
        QTest::newRow("no such row") << "Route" << GHId(5, GHId::FLASH) << titleType << "before";
        QTest::newRow("no such home") << "Route" << GHId(1, GHId::DBLOC(2)) << titleType << "before";
        QTest::newRow("lower-case table") << "route" << GHId(1, GHId::FLASH) << titleType << "before";
        QTest::newRow("table outside the four") << "Workout" << GHId(1, GHId::FLASH) << titleType << "before";
        QTest::newRow("no such column") << "Route" << GHId(1, GHId::FLASH) << QStringList{"Colour"} << "before";
        QTest::newRow("favourite") << "MyFavorite" << GHId(1, GHId::FLASH) << QStringList{"CategoryID", "Uploaded"}
                                   << "before,19,0";
        QTest::newRow("categories in the current layout")
            << "POICategory" << GHId(1, GHId::FLASH) << QStringList{"Name"} << "before";
    }

    void readRow()
    {
        QFETCH(QString, table);
        QFETCH(GHId, id);
        QFETCH(QStringList, columns);
        QFETCH(QString, expected);
        QVERIFY(twoHomes());
        QVERIFY(GHTestSqlite::build(m_flash + "/data/poi/poi.dat",
                                    "CREATE TABLE POICategory (idPOICategory INTEGER PRIMARY KEY, Name TEXT);"
                                    "INSERT INTO POICategory VALUES (1, 'fuel');"));
        // What is there stays: the values are appended.
        QVector<QVariant> values{QStringLiteral("before")};
        GHDeviceDB::_getDbData(table, id, columns, values);
        QStringList texts;
        for (const QVariant& value : qAsConst(values))
            texts << value.toString();
        QCOMPARE(texts.join(QLatin1Char(',')), expected);
    }

    void olderLayoutReadsCategories()
    {
        GHTraceLog::setSystemVersion(kOlderVersion);
        QVERIFY(GHTestSqlite::build(m_flash + "/data/poi/poi.dat",
                                    "CREATE TABLE POICategory (idPOICategory INTEGER PRIMARY KEY, Name TEXT);"
                                    "INSERT INTO POICategory VALUES (3, 'fuel');"));
        GHDeviceDB::setHomeDir(m_flash, QString(), QString());
        QStringList columns{QStringLiteral("Name")};
        QVector<QVariant> values;
        GHDeviceDB::_getDbData(QStringLiteral("POICategory"), GHId(3, GHId::FLASH), columns, values);
        QCOMPARE(values, QVector<QVariant>{QStringLiteral("fuel")});
    }

    void writeRow()
    {
        QVERIFY(twoHomes());
        GHDeviceDB::setRouteUpload(GHId(1, GHId::FLASH), true);
        GHDeviceDB::setRouteUpload(GHId(7, GHId::FLASH), false);
        GHDeviceDB::setRouteUpload(GHId(3, GHId::STORAGE), true);
        QCOMPARE(query(flashRouteDb(), "select group_concat(idRoute || ':' || Uploaded || typeof(Uploaded)) "
                                       "from Route;"),
                 QStringLiteral("1:1integer,2:0integer,7:0integer"));
        QCOMPARE(query(cardRouteDb(), "select group_concat(Uploaded) from Route;"), QStringLiteral("0,1"));

        // Two columns and one value: the statement fails and the row stays as it was.
        QStringList columns{QStringLiteral("Title"), QStringLiteral("RouteType")};
        QVector<QVariant> values{QStringLiteral("half")};
        GHDeviceDB::_setDbData(QStringLiteral("Route"), GHId(2, GHId::FLASH), columns, values);
        values << 9;
        GHDeviceDB::_setDbData(QStringLiteral("route"), GHId(2, GHId::FLASH), columns, values);
        GHDeviceDB::_setDbData(QStringLiteral("Route"), GHId(2, GHId::DBLOC(-1)), columns, values);
        QCOMPARE(query(flashRouteDb(), "select Title, RouteType from Route where idRoute=2;"), QStringLiteral("a|3"));
        GHDeviceDB::_setDbData(QStringLiteral("Route"), GHId(2, GHId::FLASH), columns, values);
        QCOMPARE(query(flashRouteDb(), "select Title, RouteType from Route where idRoute=2;"),
                 QStringLiteral("half|9"));
    }

    void tableData()
    {
        QVERIFY(twoHomes());
        QVERIFY(GHTestSqlite::run(flashRouteDb(), "INSERT INTO Workout (id, wid, name) VALUES (4, 40, 'intervals');"));
        QStringList columns{QStringLiteral("idRoute"), QStringLiteral("Title")};
        {
            QSqlQuery routes = GHDeviceDB::getMyDiskRouteData(columns);
            QCOMPARE(rowsOf(routes), QStringLiteral("1 b,2 a,7 c"));
        }
        {
            QSqlQuery routes = GHDeviceDB::getStorageCardRouteData(columns);
            QCOMPARE(rowsOf(routes), QStringLiteral("1 z,3 y"));
        }
        {
            QStringList workoutColumns{QStringLiteral("wid"), QStringLiteral("name")};
            QSqlQuery workouts = GHDeviceDB::getWorkoutData(workoutColumns);
            QCOMPARE(rowsOf(workouts), QStringLiteral("40 intervals"));
        }
        {
            QSqlQuery none = GHDeviceDB::getTableData(GHId::DBLOC(2), QStringLiteral("Route"), columns);
            QVERIFY(!none.isActive());
            QVERIFY(!none.next());
        }

        // A query lives on "ghddb": pointing the connection at the card's database ends the flash query, which then
        // yields no further row instead of reading a closed file.
        QSqlQuery flashRoutes = GHDeviceDB::getMyDiskRouteData(columns);
        QVERIFY(flashRoutes.next());
        QCOMPARE(flashRoutes.value(1).toString(), QStringLiteral("b"));
        QSqlQuery cardRoutes = GHDeviceDB::getStorageCardRouteData(columns);
        QVERIFY(!flashRoutes.next());
        QCOMPARE(rowsOf(cardRoutes), QStringLiteral("1 z,3 y"));
        GHDeviceDB::closeStorageMapDb();
        QVERIFY(!cardRoutes.next());
        QCOMPARE(GHTestSqlite::openDescriptors(cardRouteDb()), 0);
    }
};

QTEST_GUILESS_MAIN(TestGHDeviceDBRoutes)
#include "tst_ghdevicedbroutes.moc"
