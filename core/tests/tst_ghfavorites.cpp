#include <QtTest>

#include <QSqlQuery>
#include <QTemporaryDir>

#include <memory>

#include "ghtestdevicehomes.h"
#include "ghtestsqlite.h"
#include "jxtimezoneguard.h"
#include "search/ghdevicedb.h"
#include "search/ghid.h"
#include "search/ghmyfavoriterecord.h"
#include "util/ghtracelog.h"

using GHTestSqlite::query;

namespace {

// The table as devices have it, with two places whose name order is the reverse of their id order.
const QByteArray kFavorites =
    "CREATE TABLE MyFavorite (idMyFavorite INTEGER PRIMARY KEY, CategoryID INTEGER NOT NULL DEFAULT 19,"
    " Name TEXT NOT NULL, Tel TEXT NULL, Place TEXT NULL, Info TEXT NULL, Longitude INTEGER NOT NULL,"
    " Latitude INTEGER NOT NULL, Country CHAR(3) NULL, RecordTime INTEGER NULL, RoadName TEXT NULL,"
    " HouseNumber TEXT NULL, Uploaded INTEGER NOT NULL DEFAULT 0, XIdx INTEGER NULL, YIdx INTEGER NULL);"
    "CREATE UNIQUE INDEX FAVINDEX on MyFavorite (Name, Longitude, Latitude);"
    "INSERT INTO MyFavorite (idMyFavorite, Name, Tel, Place, Info, Longitude, Latitude, Country, RecordTime,"
    " RoadName, HouseNumber) VALUES"
    " (1, 'B', '+1 555 0101', 'Harbour Road 1', 'bakery', 8541700, 47376900, 84, 0, 'Harbour Road', '1a'),"
    " (2, 'A', NULL, NULL, NULL, -122419400, 37774900, 'CHE', NULL, NULL, NULL);";

QString listed(const QMap<GHId, QString>& list)
{
    QStringList entries;
    for (auto it = list.cbegin(); it != list.cend(); ++it)
        entries << QStringLiteral("%1:%2 %3").arg(it.key().location).arg(it.key().rowId).arg(it.value());
    return entries.join(QLatin1Char(','));
}

} // namespace

class TestGHFavorites : public GHTestDeviceHomes
{
    Q_OBJECT

private:
    // A flash home of the current generation whose favorite.dat holds the two places above.
    bool twoFavorites() { return setUpFlashWith(favoriteDb(), kFavorites); }

private slots:
    void init()
    {
        GHTraceLog::setSystemVersion(kCurrentVersion);
        QVERIFY(startScratch());
    }

    void cleanup()
    {
        GHTraceLog::setSystemVersion(kCurrentVersion);
        stopScratch();
    }

    void missingDatabase()
    {
        // The older generation makes no favorite.dat.
        GHTraceLog::setSystemVersion(kOlderVersion);
        GHDeviceDB::setHomeDir(m_flash, QString(), QString());
        QVERIFY(!QFileInfo::exists(favoriteDb()));

        QMap<GHId, QString> list{{GHId(5, GHId::STORAGE), QStringLiteral("kept")}};
        GHDeviceDB::getFavoriteList(list);
        QCOMPARE(listed(list), QStringLiteral("1:5 kept"));
        QCOMPARE(GHDeviceDB::getFavoriteCount(), 0);
        GHMyFavoriteRecord record;
        record.name = QStringLiteral("untouched");
        QVERIFY(!GHDeviceDB::getMyFavorite(GHId(1, GHId::FLASH), record));
        QCOMPARE(record.id, -1);
        QCOMPARE(record.name, QStringLiteral("untouched"));
        QStringList columns{QStringLiteral("Name")};
        QSqlQuery rows = GHDeviceDB::getFavoriteData(columns);
        QVERIFY(!rows.next());
        GHDeviceDB::insertFavorite(record);
        GHDeviceDB::setFavoriteUpload(GHId(1, GHId::FLASH), true);
        QVERIFY(GHDeviceDB::deleteFavorite(GHId(1, GHId::FLASH)));
        QVERIFY(!QFileInfo::exists(favoriteDb()));
    }

    void listInIdOrder()
    {
        QVERIFY(twoFavorites());
        // The statement sorts by name; the map keeps its own key order, and a key it holds takes the new name.
        QMap<GHId, QString> list{{GHId(1, GHId::FLASH), QStringLiteral("old")},
                                 {GHId(1, GHId::STORAGE), QStringLiteral("card")}};
        GHDeviceDB::getFavoriteList(list);
        QCOMPARE(listed(list), QStringLiteral("0:1 B,0:2 A,1:1 card"));
        QCOMPARE(GHDeviceDB::getFavoriteCount(), 2);

        QStringList columns{QStringLiteral("idMyFavorite"), QStringLiteral("Name"), QStringLiteral("Info")};
        QSqlQuery rows = GHDeviceDB::getFavoriteData(columns);
        QStringList read;
        while (rows.next())
            read << QStringLiteral("%1 %2 %3")
                        .arg(rows.value(0).toInt())
                        .arg(rows.value(1).toString(), rows.value(2).toString());
        QCOMPARE(read.join(QLatin1Char(',')), QStringLiteral("1 B bakery,2 A "));

        QVERIFY(GHTestSqlite::run(favoriteDb(), "DELETE FROM MyFavorite;"));
        QCOMPARE(GHDeviceDB::getFavoriteCount(), 0);
    }

    void readRecord()
    {
        QVERIFY(twoFavorites());
        const JXTimeZoneGuard zone("XST-2");
        GHMyFavoriteRecord record;
        // Only the row-id half names the row.
        QVERIFY(GHDeviceDB::getMyFavorite(GHId(1, GHId::STORAGE), record));
        QCOMPARE(record.id, 1);
        QCOMPARE(record.name, QStringLiteral("B"));
        QCOMPARE(record.tel, QStringLiteral("+1 555 0101"));
        QCOMPARE(record.place, QStringLiteral("Harbour Road 1"));
        QCOMPARE(record.info, QStringLiteral("bakery"));
        QCOMPARE(record.longitude, 8541700);
        QCOMPARE(record.latitude, 47376900);
        // The integer 84 is the character code of T.
        QCOMPARE(record.country, QStringLiteral("T"));
        // Local time, two hours ahead of UTC, with the Z all the same.
        QCOMPARE(record.recordTime, QStringLiteral("1970-01-01T02:00:00Z"));
        QCOMPARE(record.roadName, QStringLiteral("Harbour Road"));
        QCOMPARE(record.houseNumber, QStringLiteral("1a"));

        GHMyFavoriteRecord second;
        QVERIFY(GHDeviceDB::getMyFavorite(GHId(2, GHId::FLASH), second));
        QCOMPARE(second.longitude, -122419400);
        // A text reads as the one character of code 0; no time is second 0.
        QCOMPARE(second.country, QString(QChar(0)));
        QCOMPARE(second.country.size(), 1);
        QCOMPARE(second.recordTime, QStringLiteral("1970-01-01T02:00:00Z"));
        QVERIFY(second.tel.isEmpty());

        GHMyFavoriteRecord missing;
        QVERIFY(!GHDeviceDB::getMyFavorite(GHId(3, GHId::FLASH), missing));
        QCOMPARE(missing.id, -1);
    }

    void insertDeleteAndUpload()
    {
        QVERIFY(twoFavorites());
        GHMyFavoriteRecord record;
        record.id = 99;
        record.name = QStringLiteral("Bob's café");
        record.tel = QStringLiteral("+41 44 000");
        record.place = QStringLiteral("Platz 3");
        record.info = QStringLiteral("'); drop table MyFavorite; --");
        record.longitude = -1;
        record.latitude = 2;
        record.country = QStringLiteral("T");
        record.recordTime = QStringLiteral("1970-01-01T02:00:00Z");
        GHDeviceDB::insertFavorite(record);
        // The row id is not written back; texts go in as they are (an empty one as NULL), the schema's defaults
        // fill the rest.
        QCOMPARE(record.id, 99);
        QCOMPARE(query(favoriteDb(), "select idMyFavorite, Name, Info, Longitude, Latitude, Country, RecordTime,"
                                     " CategoryID, Uploaded, RoadName is null from MyFavorite where idMyFavorite=3;"),
                 QStringLiteral("3|Bob's café|'); drop table MyFavorite; --|-1|2|T|1970-01-01T02:00:00Z|19|0|1"));

        {
            // The same name and position again: the index keeps the one there is, and that is no fault.
            GHTestSqlite::WarningCapture capture;
            record.info = QStringLiteral("second");
            GHDeviceDB::insertFavorite(record);
            QCOMPARE(capture.warnings(), QStringList());
        }
        QCOMPARE(GHDeviceDB::getFavoriteCount(), 3);
        QCOMPARE(query(favoriteDb(), "select Info from MyFavorite where idMyFavorite=3;"),
                 QStringLiteral("'); drop table MyFavorite; --"));

        GHDeviceDB::setFavoriteUpload(GHId(2, GHId::FLASH), true);
        QCOMPARE(query(favoriteDb(), "select idMyFavorite, Uploaded from MyFavorite order by idMyFavorite;"),
                 QStringLiteral("1|0\n2|1\n3|0"));
        GHDeviceDB::setFavoriteUpload(GHId(2, GHId::FLASH), false);
        QCOMPARE(query(favoriteDb(), "select Uploaded from MyFavorite where idMyFavorite=2;"), QStringLiteral("0"));

        QVERIFY(GHDeviceDB::deleteFavorite(GHId(1, GHId::STORAGE)));
        // No row of that id: the statement ran all the same.
        QVERIFY(GHDeviceDB::deleteFavorite(GHId(42, GHId::FLASH)));
        QCOMPARE(query(favoriteDb(), "select group_concat(idMyFavorite) from MyFavorite;"), QStringLiteral("2,3"));
    }

    void damagedDatabase()
    {
        QVERIFY(twoFavorites());
        GHDeviceDB::closeStorageMapDb();
        QVERIFY(GHTestSqlite::writeAll(favoriteDb(), QByteArray(4096, 'x')));
        GHTestSqlite::WarningCapture capture;
        QMap<GHId, QString> list;
        GHDeviceDB::getFavoriteList(list);
        QVERIFY(list.isEmpty());
        QCOMPARE(GHDeviceDB::getFavoriteCount(), 0);
        GHMyFavoriteRecord record;
        QVERIFY(!GHDeviceDB::getMyFavorite(GHId(1, GHId::FLASH), record));
        QCOMPARE(record.id, -1);
        QVERIFY(!GHDeviceDB::deleteFavorite(GHId(1, GHId::FLASH)));
        record.name = QStringLiteral("x");
        GHDeviceDB::insertFavorite(record);
        QVERIFY(!capture.warnings().isEmpty());
        QCOMPARE(GHTestSqlite::readAll(favoriteDb()), QByteArray(4096, 'x'));
    }
};

QTEST_GUILESS_MAIN(TestGHFavorites)
#include "tst_ghfavorites.moc"
