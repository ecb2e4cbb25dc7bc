#include <QtTest>

#include <QSqlQuery>
#include <QTemporaryDir>

#include <memory>

#include <sys/stat.h>

#include "ghtestdevicehomes.h"
#include "ghtestsqlite.h"
#include "search/ghdevicedb.h"
#include "search/ghid.h"
#include "sql/ghsqlcrud.h"
#include "sql/tracelogdbm.h"
#include "util/ghtracelog.h"

using GHTestSqlite::query;

namespace {

// Name and declared type of each column, in table order.
QString columnsOf(const QString& db, const char* table)
{
    return query(db,
                 QByteArray("select group_concat(name || ' ' || type, ',') from pragma_table_info('") + table + "');");
}

QString namesOf(const QString& db, const char* table)
{
    return query(db, QByteArray("select group_concat(name, ',') from pragma_table_info('") + table + "');");
}

QString schemaObjects(const QString& db)
{
    return query(db, "select group_concat(name, ',') from (select name from sqlite_master where name not like "
                     "'sqlite_%' order by name);");
}

QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Bytes that no SQLite header starts with, the same on every run.
QByteArray noise(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = char(seed >> 24);
    }
    return bytes;
}

} // namespace

class TestGHDeviceDB : public GHTestDeviceHomes
{
    Q_OBJECT

private:
    QString poiDb() const { return m_flash + QLatin1String("/data/poi/poi.dat"); }

private slots:
    void init()
    {
        GHTraceLog::setSystemVersion(kCurrentVersion);
        QVERIFY(startScratch());
    }

    void cleanup() { stopScratch(); }

    void freshThenSecondRun()
    {
        QVERIFY(!shippedScript().isEmpty());
        QVERIFY(GHTestSqlite::writeAll(routeSql(), shippedScript() +
                                                       "INSERT INTO Route (idRoute, Title) VALUES (1, 'one');\n"
                                                       "insert into Route (idRoute, Title) values (2, 'two');\n"
                                                       "InSeRt INTO Route (idRoute, Title) VALUES (3, 'three');\n"));
        GHTestSqlite::WarningCapture warnings;
        GHDeviceDB::setHomeDir(m_flash, m_scratch->path() + "/card", m_scratch->path() + "/out");
        QCOMPARE(GHDeviceDB::getFlashHome(), m_flash);
        QCOMPARE(GHDeviceDB::getStorageHome(), m_scratch->path() + "/card");
        QCOMPARE(GHDeviceDB::getOutputHome(), m_scratch->path() + "/out");
        QVERIFY(QFileInfo(m_flash + "/data/poi").isDir());
        QCOMPARE(schemaObjects(routeDb()), QStringLiteral("Route,TraceLog,Workout,WorkoutInterval,WorkoutRoute"));
        QCOMPARE(query(routeDb(), "select group_concat(Title) from Route;"), QStringLiteral("one,two,three"));
        QCOMPARE(schemaObjects(favoriteDb()), QStringLiteral("FAVINDEX,MyFavorite"));
        QCOMPARE(query(favoriteDb(), "select idMyFavorite, CategoryID, Uploaded, length(Name) > 0, "
                                     "RecordTime is null, XIdx is null from MyFavorite;"),
                 QStringLiteral("1|19|0|1|1|1"));

        // The user's changes since: a route removed, one renamed, the built-in favourite replaced by another.
        QVERIFY(GHTestSqlite::run(routeDb(), "DELETE FROM Route WHERE idRoute = 2;"
                                             "UPDATE Route SET Title = 'kept' WHERE idRoute = 1;"));
        QVERIFY(GHTestSqlite::run(favoriteDb(), "DELETE FROM MyFavorite;"
                                                "INSERT INTO MyFavorite (idMyFavorite, Name, Longitude, Latitude) "
                                                "VALUES (5, 'home', 1, 2);"));
        GHDeviceDB::setHomeDir(m_flash, QString(), QString());
        QCOMPARE(query(routeDb(), "select group_concat(idRoute || ' ' || Title) from Route;"),
                 QStringLiteral("1 kept,3 three"));
        QCOMPARE(query(favoriteDb(), "select group_concat(idMyFavorite) from MyFavorite;"), QStringLiteral("5"));
        QCOMPARE(warnings.warnings(), QStringList());
    }

    void shippedScriptHoldsEveryColumn()
    {
        QVERIFY(setUpFreshFlash());
        // The share import binds numbers as texts: only INTEGER columns turn them back into numbers.
        QCOMPARE(columnsOf(routeDb(), "Route"),
                 QStringLiteral("idRoute INTEGER,Title TEXT,Abstract TEXT,Author TEXT,CreateTime INTEGER,"
                                "StartCountry TEXT,EndCountry TEXT,StartPlace TEXT,EndPlace TEXT,LDLon INTEGER,"
                                "LDLat INTEGER,RTLon INTEGER,RTLat INTEGER,TravelTime INTEGER,TotalLength INTEGER,"
                                "ActiveType INTEGER,RouteType INTEGER,Uploaded INTEGER,Route TEXT"));
        QCOMPARE(columnsOf(routeDb(), "TraceLog"),
                 QStringLiteral("idRoute INTEGER,Title TEXT,Abstract TEXT,TotalLength INTEGER,CreateTime INTEGER,"
                                "Author TEXT,Elevation INTEGER,StartLon INTEGER,StartLat INTEGER,EndLon INTEGER,"
                                "EndLat INTEGER,LDLat INTEGER,LDLon INTEGER,RTLon INTEGER,RTLat INTEGER,"
                                "StartCountry TEXT,EndCountry TEXT,StartPlace TEXT,EndPlace TEXT,MaxElev INTEGER,"
                                "MinElev INTEGER,StartTime INTEGER,EndTime INTEGER,ActivityType INTEGER,"
                                "RouteType INTEGER,Uploaded INTEGER,pause INTEGER"));
        // A new ride row, written without these two, is neither uploaded nor paused.
        QVERIFY(GHTestSqlite::run(routeDb(), "INSERT INTO TraceLog (idRoute, Title) VALUES (7, '...');"));
        QCOMPARE(query(routeDb(), "select Uploaded, coalesce(pause, 0) from TraceLog;"), QStringLiteral("0|0"));

        // The workout tables match what the older generation's upgrade makes, column for column.
        const QString upgraded = m_scratch->path() + "/upgraded/data/route/route.dat";
        QVERIFY(GHTestSqlite::build(upgraded, "CREATE TABLE TraceLog (idRoute INTEGER PRIMARY KEY);"));
        GHTraceLog::setSystemVersion(kOlderVersion);
        GHDeviceDB::setHomeDir(m_scratch->path() + "/upgraded", QString(), QString());
        for (const char* table : {"Workout", "WorkoutInterval", "WorkoutRoute"})
            QCOMPARE(namesOf(routeDb(), table), namesOf(upgraded, table));
        QCOMPARE(namesOf(routeDb(), "Workout"),
                 QStringLiteral("id,wid,daily,repeatcnt,wtype,subtype,acttype,name,datetime,createtime,orgid,oneshot,"
                                "desc,listOrder"));
    }

    void scriptOnExistingDatabase()
    {
        QVERIFY(GHTestSqlite::build(routeDb(), "CREATE TABLE keep (x INTEGER);"));
        QVERIFY(GHTestSqlite::writeAll(routeSql(),
                                       "CREATE TABLE if not exists a (x INTEGER);;  \n;INSERT INTO a VALUES (1);\n"));
        QSqlQuery onRoute(GHSqlCRUD::opendb(routeDb(), QStringLiteral("ghddb")));
        GHDeviceDB::executeSqlFile(onRoute, routeSql(), false);
        QCOMPARE(query(routeDb(), "select count(*) from a;"), QStringLiteral("0"));
        GHDeviceDB::executeSqlFile(onRoute, routeSql(), true);
        QCOMPARE(query(routeDb(), "select count(*) from a;"), QStringLiteral("1"));
    }

    void scriptStaysInsideItsDatabase_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QByteArray>("check");
        QTest::addColumn<QString>("result");

        // DIR stands for the database's folder.
        QTest::newRow("attach") << QByteArray("ATTACH DATABASE 'DIR/other.dat' AS other;CREATE TABLE other.t (x)")
                                << "not authorized" << QByteArray("select count(*) from keep;") << "1";
        // Denied when it runs, as it attaches its copy.
        QTest::newRow("vacuum into") << QByteArray("VACUUM INTO 'DIR/copy.dat'") << "authorization denied"
                                     << QByteArray("select count(*) from keep;") << "1";
        QTest::newRow("write-ahead log") << QByteArray("PRAGMA journal_mode=WAL;CREATE TABLE w (x);"
                                                       "INSERT INTO w VALUES (1)")
                                         << "not authorized" << QByteArray("pragma journal_mode;") << "delete";
        QTest::newRow("persistent journal") << QByteArray("pragma main.journal_mode = persist;CREATE TABLE p (x);"
                                                          "INSERT INTO p VALUES (1)")
                                            << "not authorized" << QByteArray("select count(*) from p;") << "1";
        QTest::newRow("exclusive lock") << QByteArray("PRAGMA locking_mode=EXCLUSIVE;CREATE TABLE e (x)")
                                        << "not authorized" << QByteArray("select count(*) from e;") << "0";
        QTest::newRow("transaction left open")
            << QByteArray("BEGIN;CREATE TABLE t (x);INSERT INTO t VALUES (1)") << "left a transaction open"
            << QByteArray("select count(*) from t;") << "1";
        QTest::newRow("endless insert") << QByteArray("CREATE TABLE n (x);INSERT INTO n WITH RECURSIVE c(x) AS "
                                                      "(SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x FROM c")
                                        << "interrupted" << QByteArray("select count(*) from n;") << "0";
        QTest::newRow("huge value") << QByteArray("CREATE TABLE b (x);INSERT INTO b VALUES (zeroblob(100000000))")
                                    << "too big" << QByteArray("select count(*) from b;") << "0";
    }

    void scriptStaysInsideItsDatabase()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, warning);
        QFETCH(QByteArray, check);
        QFETCH(QString, result);
        const QString folder = QFileInfo(routeDb()).path();
        QVERIFY(GHTestSqlite::build(routeDb(), "CREATE TABLE keep (x INTEGER);INSERT INTO keep VALUES (42);"));
        QVERIFY(GHTestSqlite::writeAll(routeSql(), script.replace("DIR", QFile::encodeName(folder))));

        QSqlDatabase db = GHSqlCRUD::opendb(routeDb(), QStringLiteral("ghddb"));
        {
            GHTestSqlite::WarningCapture warnings;
            QSqlQuery onRoute(db);
            GHDeviceDB::executeSqlFile(onRoute, routeSql(), true);
            QCOMPARE(warnings.warnings().size(), 1);
            QVERIFY2(warnings.warnings().first().contains(warning), qPrintable(warnings.warnings().first()));
        }
        QCOMPARE(folderEntries(folder), (QStringList{"route.dat", "route.sql"}));
        QCOMPARE(query(routeDb(), check), result);

        // The fence is gone once the script has run.
        QVERIFY(QSqlQuery(db).exec("ATTACH DATABASE ':memory:' AS scratch"));
        QVERIFY(QSqlQuery(db).exec("select count(*) from keep"));
    }

    void olderLayoutStartsFromShippedCopies()
    {
        GHTraceLog::setSystemVersion(kOlderVersion);
        const QString shippedRoute = m_flash + "/data/route/route.000";
        const QString shippedFavorite = m_flash + "/data/poi/favorite.000";
        QVERIFY(GHTestSqlite::build(shippedRoute, "CREATE TABLE Route (idRoute INTEGER PRIMARY KEY, Title TEXT);"
                                                  "CREATE TABLE TraceLog (idRoute INTEGER PRIMARY KEY, Title TEXT);"
                                                  "INSERT INTO TraceLog VALUES (100, 'ride');"));
        QVERIFY(GHTestSqlite::build(shippedFavorite, "CREATE TABLE Places (x INTEGER);"));
        QVERIFY(GHTestSqlite::writeAll(routeSql(), "CREATE TABLE Marker (x INTEGER);"));
        const QByteArray routeBytes = GHTestSqlite::readAll(shippedRoute);
        const QByteArray favoriteBytes = GHTestSqlite::readAll(shippedFavorite);

        GHTestSqlite::WarningCapture warnings;
        for (int run = 0; run < 2; ++run) {
            GHDeviceDB::setHomeDir(m_flash, QString(), QString());
            QCOMPARE(GHTestSqlite::readAll(shippedRoute), routeBytes);
            QCOMPARE(schemaObjects(routeDb()), QStringLiteral("Route,TraceLog,Workout,WorkoutInterval,WorkoutRoute"));
            QCOMPARE(namesOf(routeDb(), "TraceLog"), QStringLiteral("idRoute,Title,pause"));
            QCOMPARE(query(routeDb(), "select idRoute, Title, pause is null from TraceLog;"),
                     QStringLiteral("100|ride|1"));
            QCOMPARE(namesOf(routeDb(), "WorkoutInterval").split(',').last(), QStringLiteral("logreso"));
            QCOMPARE(GHTestSqlite::readAll(favoriteDb()), favoriteBytes);
        }
        QVERIFY(!QFileInfo::exists(poiDb()));
        QCOMPARE(warnings.warnings(), QStringList());
    }

    void poiTiling_data()
    {
        QTest::addColumn<QByteArray>("metadata");
        QTest::addColumn<bool>("shippedOnly");
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("shift");
        QTest::addColumn<bool>("warns");

        // Every row follows one with other values: a device never inherits the previous device's tiling.
        QTest::newRow("level 40, shift -1") << QByteArray("(40, -1)") << false << 0 << 9 << true;
        QTest::newRow("largest") << QByteArray("(17, 30)") << false << 17 << 30 << false;
        QTest::newRow("level 18, shift 31") << QByteArray("(18, 31)") << false << 0 << 9 << true;
        QTest::newRow("shipped copy") << QByteArray("(12, 8)") << true << 12 << 8 << false;
        QTest::newRow("beyond int") << QByteArray("(4294967308, 8)") << false << 0 << 9 << true;
        QTest::newRow("shipped copy again") << QByteArray("(12, 8)") << true << 12 << 8 << false;
        QTest::newRow("text") << QByteArray("('twelve', 8)") << false << 0 << 9 << true;
        QTest::newRow("shipped copy once more") << QByteArray("(12, 8)") << true << 12 << 8 << false;
        QTest::newRow("no row") << QByteArray() << false << 0 << 9 << false;
        QTest::newRow("smallest") << QByteArray("(0, 0)") << false << 0 << 0 << false;
    }

    void poiTiling()
    {
        QFETCH(QByteArray, metadata);
        QFETCH(bool, shippedOnly);
        QFETCH(int, level);
        QFETCH(int, shift);
        QFETCH(bool, warns);
        GHTraceLog::setSystemVersion(kOlderVersion);
        QByteArray fixture = "CREATE TABLE Metadata (TileLevel INTEGER, TileFactor INTEGER);";
        if (!metadata.isEmpty())
            fixture += "INSERT INTO Metadata VALUES " + metadata + ";";
        const QString file = shippedOnly ? m_flash + "/data/poi/poi.000" : poiDb();
        QVERIFY(GHTestSqlite::build(file, fixture));
        if (warns)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("poi.dat: tile level .* out of range"));
        GHDeviceDB::setHomeDir(m_flash, QString(), QString());
        QCOMPARE(POI_TILE_LEVEL, level);
        QCOMPARE(TILE_PER_POIDB, shift);
        QVERIFY(QFileInfo(poiDb()).isFile());
    }

    void findDbFile_data()
    {
        QTest::addColumn<bool>("inFirst");
        QTest::addColumn<bool>("inSecond");
        QTest::addColumn<QString>("found");

        QTest::newRow("first only") << true << false << "first";
        QTest::newRow("second only") << false << true << "second";
        QTest::newRow("both") << true << true << "first";
        QTest::newRow("neither") << false << false << "";
    }

    void findDbFile()
    {
        QFETCH(bool, inFirst);
        QFETCH(bool, inSecond);
        QFETCH(QString, found);
        const QString first = m_scratch->path() + "/first";
        const QString second = m_scratch->path() + "/second";
        if (inFirst)
            QVERIFY(GHTestSqlite::writeAll(first + "/data/poi/poi.dat", "x"));
        if (inSecond)
            QVERIFY(GHTestSqlite::writeAll(second + "/data/poi/poi.dat", "x"));
        // A folder of the name is no database file.
        QVERIFY(QDir().mkpath(first + "/data/route/route.dat"));
        const QString expected = found.isEmpty() ? QString() : m_scratch->path() + "/" + found + "/data/poi/poi.dat";
        QCOMPARE(GHDeviceDB::findDbFile(first, second, "/data/poi/poi.dat"), expected);
        QCOMPARE(GHDeviceDB::findDbFile(first, second, QStringLiteral("/data/poi/poi.dat")), expected);
        QCOMPARE(GHDeviceDB::findDbFile(first, QString(), "/data/route/route.dat"), QString());
        // An empty home names no folder, not the file-system root.
        const QString absolute = m_scratch->path() + "/first/data/poi/poi.dat";
        if (inFirst)
            QCOMPARE(GHDeviceDB::findDbFile(QString(), QString(), absolute), QString());
    }

    void idOrderAndPacking()
    {
        QMap<GHId, int> map;
        map.insert(GHId(5, GHId::STORAGE), 1);
        map.insert(GHId(100, GHId::FLASH), 2);
        map.insert(GHId(-7, GHId::STORAGE), 3);
        map.insert(GHId(-3, GHId::FLASH), 4);
        map.insert(GHId(100, GHId::FLASH), 5);
        QCOMPARE(map.keys(), (QList<GHId>{GHId(-3, GHId::FLASH), GHId(100, GHId::FLASH), GHId(-7, GHId::STORAGE),
                                          GHId(5, GHId::STORAGE)}));
        QCOMPARE(map.value(GHId(100, GHId::FLASH)), 5);

        const GHId packed(-2, GHId::STORAGE);
        QCOMPARE(packed.toInt64(), qint64(0x1FFFFFFFELL));
        QCOMPARE(GHId::fromInt64(packed.toInt64()), packed);
        QCOMPARE(GHId::fromInt64(qint64(2) << 32 | 9).location, GHId::DBLOC(2));
    }

    void badDatabaseFiles_data()
    {
        QTest::addColumn<QByteArray>("content");

        QTest::newRow("random bytes") << noise(4096, 7);
        QTest::newRow("SQLite magic then garbage") << QByteArray("SQLite format 3", 16) + noise(4080, 11);
        QTest::newRow("empty file") << QByteArray();
    }

    void badDatabaseFiles()
    {
        QFETCH(QByteArray, content);
        QVERIFY(GHTestSqlite::writeAll(routeSql(), shippedScript()));
        QVERIFY(GHTestSqlite::writeAll(routeDb(), content));
        QVERIFY(GHTestSqlite::writeAll(favoriteDb(), content));
        GHTestSqlite::WarningCapture warnings;
        GHDeviceDB::setHomeDir(m_flash, QString(), QString());

        if (content.isEmpty()) {
            // To SQLite an empty file is an empty database; existing files get no rows.
            QCOMPARE(schemaObjects(routeDb()), QStringLiteral("Route,TraceLog,Workout,WorkoutInterval,WorkoutRoute"));
            QCOMPARE(schemaObjects(favoriteDb()), QStringLiteral("FAVINDEX,MyFavorite"));
            QCOMPARE(query(favoriteDb(), "select count(*) from MyFavorite;"), QStringLiteral("0"));
            QCOMPARE(warnings.warnings(), QStringList());
            return;
        }
        QCOMPARE(GHTestSqlite::readAll(routeDb()), content);
        QCOMPARE(GHTestSqlite::readAll(favoriteDb()), content);
        QCOMPARE(folderEntries(QFileInfo(routeDb()).path()), (QStringList{"route.dat", "route.sql"}));
        QCOMPARE(folderEntries(QFileInfo(favoriteDb()).path()), QStringList{"favorite.dat"});
        // One warning for the route script, one for the favourite statements.
        QCOMPARE(warnings.warnings().size(), 2);
        for (const QString& warning : warnings.warnings())
            QVERIFY2(warning.contains("file is not a database"), qPrintable(warning));
    }

    void unusableRouteScript_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("warns");

        QTest::newRow("missing") << "missing" << false;
        QTest::newRow("folder") << "folder" << false;
        QTest::newRow("pipe") << "pipe" << false;
        QTest::newRow("link to an endless device") << "zero" << false;
        QTest::newRow("larger than 4 MiB") << "large" << true;
    }

    // The route database stays without tables, and the rest of the set-up goes on.
    void unusableRouteScript()
    {
        QFETCH(QString, kind);
        QFETCH(bool, warns);
        QVERIFY(QDir().mkpath(QFileInfo(routeSql()).path()));
        if (kind == "folder")
            QVERIFY(QDir().mkpath(routeSql()));
        else if (kind == "pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(routeSql()).constData(), 0600), 0);
        else if (kind == "zero")
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), routeSql()));
        else if (kind == "large")
            QVERIFY(GHTestSqlite::writeAll(routeSql(), "CREATE TABLE big (x);" + QByteArray(4 << 20, ' ')));
        GHTestSqlite::WarningCapture warnings;
        GHDeviceDB::setHomeDir(m_flash, QString(), QString());
        QVERIFY(QFileInfo(routeDb()).isFile());
        QCOMPARE(schemaObjects(routeDb()), QString());
        QCOMPARE(query(favoriteDb(), "select count(*) from MyFavorite;"), QStringLiteral("1"));
        QCOMPARE(warnings.warnings().size(), warns ? 1 : 0);
    }

    void closeReleasesDatabaseFiles()
    {
        QVERIFY(setUpFreshFlash());
        const QString poiTile = m_flash + "/data/poi/0/poi0.dat";
        const QString mapTile = m_flash + "/map/tile.dat";
        QVERIFY(GHTestSqlite::build(poiTile, "CREATE TABLE POI (idPOI INTEGER PRIMARY KEY);"));
        QVERIFY(GHTestSqlite::build(mapTile, "CREATE TABLE Tile (x INTEGER);"));
        TraceLogDbm model;
        QStringList columns{"idRoute"};
        model.setColumns(&columns);
        QVERIFY(GHSqlCRUD::select(&model).isActive());
        QVERIFY(GHSqlCRUD::opendb(poiTile, QStringLiteral("ghpoi")).isOpen());
        QVERIFY(GHSqlCRUD::opendb(mapTile, QStringLiteral("map_tile_0")).isOpen());
        for (const QString& file : {routeDb(), poiTile, mapTile})
            QCOMPARE(GHTestSqlite::openDescriptors(file), 1);

        GHDeviceDB::closeStorageMapDb();
        for (const QString& file : {routeDb(), favoriteDb(), poiTile, mapTile})
            QCOMPARE(GHTestSqlite::openDescriptors(file), 0);
        for (const char* name : {"ghddb", "ghpoi", "map_tile_0"}) {
            const QSqlDatabase db = QSqlDatabase::database(QLatin1String(name), false);
            QVERIFY(!db.isOpen());
            QCOMPARE(db.databaseName(), QString());
        }
        // Pointed at no file, a model's select gives an unexecuted query and makes no file.
        TraceLogDbm afterClose;
        afterClose.setColumns(&columns);
        QVERIFY(GHSqlCRUD::select(&afterClose).isActive());
        GHDeviceDB::closeStorageMapDb();
        QCOMPARE(GHTestSqlite::openDescriptors(routeDb()), 0);
    }
};

QTEST_GUILESS_MAIN(TestGHDeviceDB)
#include "tst_ghdevicedb.moc"
