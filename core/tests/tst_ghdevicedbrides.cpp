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

namespace {

using RideList = QVector<QPair<GHId, QString>>;

// The per-ride files that GHDeviceDB removes with a ride, by the getter that names them.
using PathOf = QString (*)(quint32);
const PathOf kRideFiles[] = {&GHTraceLog::getTraceLogGPS, &GHTraceLog::getTraceLogTRN, &GHTraceLog::getTraceLogSTA,
                             &GHTraceLog::getTraceLogWRK, &GHTraceLog::getTraceLogUSR, &GHTraceLog::getTraceLogST2,
                             &GHTraceLog::getTraceLogPLN, &GHTraceLog::getTraceLogDBG};

// Which of the ride's files exist, as "GPS,TRN,..." in kRideFiles' order.
QString filesOf(quint32 rideId)
{
    static const char* const names[] = {"GPS", "TRN", "STA", "WRK", "USR", "ST2", "PLN", "DBG"};
    QStringList present;
    for (int i = 0; i < 8; ++i) {
        if (QFileInfo::exists(kRideFiles[i](rideId)))
            present << QLatin1String(names[i]);
    }
    return present.join(QLatin1Char(','));
}

bool writeRideFiles(quint32 rideId)
{
    for (const PathOf path : kRideFiles) {
        if (!GHTestSqlite::writeAll(path(rideId), QByteArray(100, 'x')))
            return false;
    }
    return true;
}

// "location:id title", in the list's order.
QString listed(const RideList& rides)
{
    QStringList entries;
    for (const auto& ride : rides)
        entries << QStringLiteral("%1:%2 %3").arg(ride.first.location).arg(ride.first.rowId).arg(ride.second);
    return entries.join(QLatin1Char(','));
}

} // namespace

class TestGHDeviceDBRides : public GHTestDeviceHomes
{
    Q_OBJECT

private:
    // A flash home as the device set-up leaves it, with the rides of the SQL text.
    bool flashHome(const QByteArray& rows)
    {
        return setUpFreshFlash() && (rows.isEmpty() || GHTestSqlite::run(routeDb(), rows));
    }

private slots:
    void init()
    {
        GHTraceLog::setSystemVersion(kCurrentVersion);
        QVERIFY(startScratch());
        GHTraceLog::setHomeDir(m_scratch->path() + QLatin1String("/logs"));
        QVERIFY(!shippedScript().isEmpty());
    }

    void cleanup()
    {
        GHTraceLog::setHomeDir(QString());
        stopScratch();
    }

    void listPurgesUnfinishedRides()
    {
        QVERIFY(flashHome("INSERT INTO TraceLog (idRoute, CreateTime, Title, StartTime) VALUES"
                          " (100, 100, '...', 90), (200, 200, '...', 10),"
                          " (300, 300, 'morning', 30), (400, 400, 'noon', 50), (500, 500, '....', 40);"));
        for (const quint32 rideId : {100u, 200u, 300u, 400u, 500u})
            QVERIFY(writeRideFiles(rideId));

        RideList rides{qMakePair(GHId(9, GHId::STORAGE), QStringLiteral("kept"))};
        GHDeviceDB::getTraceLogList(GHDeviceDB::ALL_ACTIVITIES, rides, false);
        // Appended after what was there, newest start first, all in the flash home.
        QCOMPARE(listed(rides), QStringLiteral("1:9 kept,0:400 noon,0:500 ....,0:300 morning"));
        QCOMPARE(query(routeDb(), "select count(*) from TraceLog;"), QStringLiteral("3"));
        // Only the logs and the statistics of an unfinished ride go.
        for (const quint32 rideId : {100u, 200u})
            QCOMPARE(filesOf(rideId), QStringLiteral("WRK,USR,ST2,PLN,DBG"));
        for (const quint32 rideId : {300u, 400u, 500u})
            QCOMPARE(filesOf(rideId), QStringLiteral("GPS,TRN,STA,WRK,USR,ST2,PLN,DBG"));
    }

    void listFilters_data()
    {
        QTest::addColumn<int>("activityType");
        QTest::addColumn<bool>("checkLogFile");
        QTest::addColumn<QString>("expected");
        QTest::newRow("every type") << 5 << false << "14,11,13,10";
        QTest::newRow("type 2") << 2 << false << "14,11,10";
        QTest::newRow("type 1") << 1 << false << "13";
        QTest::newRow("no ride of the type") << 3 << false << "";
        QTest::newRow("every type, logs over 92 bytes") << 5 << true << "14,10";
        QTest::newRow("type 1, log missing") << 1 << true << "";
    }

    void listFilters()
    {
        QFETCH(int, activityType);
        QFETCH(bool, checkLogFile);
        QFETCH(QString, expected);
        QVERIFY(flashHome("INSERT INTO TraceLog (idRoute, CreateTime, Title, ActivityType, pause, StartTime) VALUES"
                          " (10, 10, 'a', 2, NULL, 10), (11, 11, 'b', 2, 0, 30), (12, 12, 'paused', 1, 1, 40),"
                          " (13, 13, 'c', 1, 0, 20), (14, 14, 'd', 2, 0, 50);"));
        // 93 bytes: the header and two GPS records; 92 falls one byte short.
        const QPair<quint32, int> logs[] = {{10, 93}, {11, 92}, {12, 93}, {14, 200}};
        for (const auto& log : logs)
            QVERIFY(GHTestSqlite::writeAll(GHTraceLog::getTraceLogGPS(log.first), QByteArray(log.second, '\0')));
        QVERIFY(QDir().mkpath(GHTraceLog::getTraceLogGPS(13)));

        RideList rides;
        GHDeviceDB::getTraceLogList(GHDeviceDB::ActivityType(activityType), rides, checkLogFile);
        QStringList ids;
        for (const auto& ride : qAsConst(rides)) {
            QCOMPARE(ride.first.location, GHId::FLASH);
            ids << QString::number(ride.first.rowId);
        }
        QCOMPARE(ids.join(QLatin1Char(',')), expected);
    }

    void newest()
    {
        QVERIFY(flashHome(QByteArray()));
        QCOMPARE(GHDeviceDB::getNewestTraceLog(), -1);
        // Paused and unfinished rides count.
        QVERIFY(GHTestSqlite::run(routeDb(), "INSERT INTO TraceLog (idRoute, Title, pause, StartTime) VALUES"
                                             " (1, 'a', 0, 10), (2, 'paused', 1, 30), (3, '...', NULL, 20);"));
        QCOMPARE(GHDeviceDB::getNewestTraceLog(), 2);
        QVERIFY(
            GHTestSqlite::run(routeDb(), "INSERT INTO TraceLog (idRoute, Title, StartTime) VALUES (4, '...', 90);"));
        QCOMPARE(GHDeviceDB::getNewestTraceLog(), 4);
    }

    void saveThenUpdate()
    {
        QVERIFY(flashHome(QByteArray()));
        // Above 2^31: the id is stored as the unsigned number it is.
        GHTraceLogRecord record;
        record.title = QStringLiteral("...");
        record.id = 3000000000u;
        QVERIFY(GHDeviceDB::saveTraceLog(&record, true));
        QCOMPARE(query(routeDb(), "select idRoute, CreateTime, Title, TotalLength, StartPlace, Uploaded, "
                                  "pause is null from TraceLog;"),
                 QStringLiteral("3000000000|3000000000|...|0||0|1"));
        QVERIFY(!GHDeviceDB::saveTraceLog(&record, true));
        QVERIFY(GHDeviceDB::markTraceLogPause(record.id, 1));
        QVERIFY(GHTestSqlite::run(routeDb(), "UPDATE TraceLog SET Uploaded=1;"));

        record.title = QStringLiteral("Ride");
        record.abstract = QStringLiteral("abstract");
        record.author = QStringLiteral("author");
        record.startCountry = QStringLiteral("CHE");
        record.endCountry = QStringLiteral("FRA");
        record.startPlace = QStringLiteral("start");
        record.endPlace = QStringLiteral("end");
        qint32* numbers[] = {&record.totalLength,   &record.elevation,     &record.startLon,     &record.startLat,
                             &record.endLon,        &record.endLat,        &record.lowerLeftLat, &record.lowerLeftLon,
                             &record.upperRightLon, &record.upperRightLat, &record.maxElevation, &record.minElevation,
                             &record.startTime,     &record.endTime,       &record.activityType, &record.routeType};
        for (int i = 0; i < 16; ++i)
            *numbers[i] = i % 2 ? i + 1 : -(i + 1);
        QVERIFY(GHDeviceDB::saveTraceLog(&record, false));
        QCOMPARE(query(routeDb(), "select * from TraceLog;"),
                 QStringLiteral("3000000000|Ride|abstract|-1|3000000000|author|2|-3|4|-5|6|-7|8|-9|10|CHE|FRA|start|"
                                "end|-11|12|-13|14|-15|16|1|1"));

        // No row of that id: the update runs and changes nothing.
        record.id = 7;
        QVERIFY(GHDeviceDB::saveTraceLog(&record, false));
        QCOMPARE(query(routeDb(), "select count(*) from TraceLog;"), QStringLiteral("1"));
        QVERIFY(!GHDeviceDB::saveTraceLog(nullptr, true));
    }

    void renameMarkAndColumns()
    {
        QVERIFY(flashHome("INSERT INTO TraceLog (idRoute, CreateTime, Title) VALUES (5, 5, 'old'), (6, 6, 'other');"));
        // The location is not looked at: rides live in the flash home only.
        QVERIFY(GHDeviceDB::renameTraceLog(GHId(5, GHId::STORAGE), QStringLiteral("new")));
        QVERIFY(GHDeviceDB::markTraceLogPause(5, 1));
        GHDeviceDB::setTraceLogUpload(GHId(5, GHId::FLASH), true);
        GHDeviceDB::setTraceLogUpload(GHId(6, GHId::FLASH), false);
        QCOMPARE(query(routeDb(), "select group_concat(Title || ':' || ifnull(pause, '-') || ':' || Uploaded) "
                                  "from TraceLog;"),
                 QStringLiteral("new:1:1,other:-:0"));

        QStringList columns{QStringLiteral("Title"), QStringLiteral("CreateTime")};
        QVector<QVariant> values;
        GHDeviceDB::getTraceLogData(GHId(5, GHId::FLASH), columns, values);
        QCOMPARE(values, (QVector<QVariant>{QStringLiteral("new"), qlonglong(5)}));
        QSqlQuery all = GHDeviceDB::getTraceLogData(columns);
        QStringList rows;
        while (all.next())
            rows << all.value(0).toString();
        QCOMPARE(rows, (QStringList{"new", "other"}));
    }

    void deleteRide_data()
    {
        QTest::addColumn<QByteArray>("workoutLog");
        QTest::addColumn<QString>("workoutsLeft");
        QTest::newRow("one-shot workout") << QByteArray("<wrklog id=\"500\" type=\"5\" subtype=\"0\"/>") << "1,3";
        QTest::newRow("workout of the list") << QByteArray("<wrklog id=\"600\" type=\"1\" subtype=\"0\"/>") << "1,2,3";
        QTest::newRow("id not a number") << QByteArray("<wrklog id=\"x\"/>") << "1,2,3";
        QTest::newRow("id absent") << QByteArray("<wrklog type=\"5\"/>") << "1,2,3";
        QTest::newRow("id negative") << QByteArray("<wrklog id=\"-1\"/>") << "1,2,3";
        QTest::newRow("no wrklog") << QByteArray("<other id=\"500\"/>") << "1,2,3";
        QTest::newRow("not XML") << QByteArray("\x01\x02 id=500") << "1,2,3";
        QTest::newRow("no workout log") << QByteArray() << "1,2,3";
    }

    void deleteRide()
    {
        QFETCH(QByteArray, workoutLog);
        QFETCH(QString, workoutsLeft);
        // The files are named by CreateTime; workout 0 is one-shot, so an id read as 0 would delete it.
        QVERIFY(flashHome("INSERT INTO TraceLog (idRoute, CreateTime, Title) VALUES (7, 1700000000, 'ride'),"
                          " (8, 8, 'other');"
                          "INSERT INTO Workout (id, wid, name, oneshot) VALUES (1, 0, 'zero', 1), (2, 500, 'once', 1),"
                          " (3, 600, 'plan', 0);"));
        QVERIFY(writeRideFiles(1700000000));
        QVERIFY(writeRideFiles(7));
        QVERIFY(writeRideFiles(8));
        const QString wrk = GHTraceLog::getTraceLogWRK(1700000000);
        if (workoutLog.isEmpty())
            QVERIFY(QFile::remove(wrk));
        else
            QVERIFY(GHTestSqlite::writeAll(wrk, workoutLog));

        QVERIFY(GHDeviceDB::deleteTraceLog(GHId(7, GHId::STORAGE)));
        QCOMPARE(query(routeDb(), "select group_concat(idRoute) from TraceLog;"), QStringLiteral("8"));
        QCOMPARE(query(routeDb(), "select group_concat(id) from Workout;"), workoutsLeft);
        QCOMPARE(filesOf(1700000000), QString());
        QCOMPARE(filesOf(7), QStringLiteral("GPS,TRN,STA,WRK,USR,ST2,PLN,DBG"));
        QCOMPARE(filesOf(8), QStringLiteral("GPS,TRN,STA,WRK,USR,ST2,PLN,DBG"));
    }

    void deleteTouchesNothingWithoutARow()
    {
        QVERIFY(flashHome("INSERT INTO TraceLog (idRoute, CreateTime, Title) VALUES (7, 7, 'ride');"
                          "INSERT INTO Workout (id, wid, name, oneshot) VALUES (2, 500, 'once', 1);"));
        QVERIFY(writeRideFiles(7));
        QVERIFY(writeRideFiles(9));
        QVERIFY(GHTestSqlite::writeAll(GHTraceLog::getTraceLogWRK(7), "<wrklog id=\"500\"/>"));
        const QString all = QStringLiteral("GPS,TRN,STA,WRK,USR,ST2,PLN,DBG");

        // An id without a row.
        QVERIFY(!GHDeviceDB::deleteTraceLog(GHId(9, GHId::FLASH)));
        QCOMPARE(filesOf(9), all);

        // A delete that the database refuses leaves the ride whole: row, files and workout.
        QVERIFY(GHTestSqlite::run(routeDb(), "CREATE TRIGGER keep BEFORE DELETE ON TraceLog "
                                             "BEGIN SELECT RAISE(ABORT, 'kept'); END;"));
        QVERIFY(!GHDeviceDB::deleteTraceLog(GHId(7, GHId::FLASH)));
        QCOMPARE(filesOf(7), all);
        QCOMPARE(query(routeDb(), "select count(*) from TraceLog;"), QStringLiteral("1"));
        QCOMPARE(query(routeDb(), "select count(*) from Workout;"), QStringLiteral("1"));
    }

    // The result says whether the ride's files went with its row.
    void deleteReportsFilesLeft()
    {
        QVERIFY(flashHome("INSERT INTO TraceLog (idRoute, CreateTime, Title) VALUES (7, 'soon', 'ride'),"
                          " (8, 1700000000, 'ride');"));
        QVERIFY(writeRideFiles(7));
        QVERIFY(writeRideFiles(1700000000));

        // CreateTime names no files: the row goes, whatever files the ride had stay unnamed.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^ride 7 has no usable CreateTime")));
        QVERIFY(!GHDeviceDB::deleteTraceLog(GHId(7, GHId::FLASH)));
        QCOMPARE(query(routeDb(), "select group_concat(idRoute) from TraceLog;"), QStringLiteral("8"));
        QCOMPARE(filesOf(7), QStringLiteral("GPS,TRN,STA,WRK,USR,ST2,PLN,DBG"));

        // A GPS log that cannot be removed (a folder with something in it stands in its place).
        const QString gps = GHTraceLog::getTraceLogGPS(1700000000);
        QVERIFY(QFile::remove(gps));
        QVERIFY(QDir().mkpath(gps));
        QVERIFY(GHTestSqlite::writeAll(gps + QLatin1String("/inside"), "x"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^cannot remove .*-GPS\\.dat$")));
        QVERIFY(!GHDeviceDB::deleteTraceLog(GHId(8, GHId::FLASH)));
        QCOMPARE(query(routeDb(), "select count(*) from TraceLog;"), QStringLiteral("0"));
        QCOMPARE(filesOf(1700000000), QStringLiteral("GPS"));
    }

    void withoutDatabase()
    {
        // A flash home whose route database is gone.
        QVERIFY(flashHome(QByteArray()));
        GHDeviceDB::closeStorageMapDb();
        QVERIFY(QFile::remove(routeDb()));
        QVERIFY(writeRideFiles(7));
        RideList rides{qMakePair(GHId(1, GHId::FLASH), QStringLiteral("kept"))};
        GHDeviceDB::getTraceLogList(GHDeviceDB::ALL_ACTIVITIES, rides, true);
        QCOMPARE(listed(rides), QStringLiteral("0:1 kept"));
        QCOMPARE(GHDeviceDB::getNewestTraceLog(), -1);
        GHTraceLogRecord record;
        record.id = 7;
        QVERIFY(!GHDeviceDB::saveTraceLog(&record, true));
        QVERIFY(!GHDeviceDB::renameTraceLog(GHId(7, GHId::FLASH), QStringLiteral("x")));
        QVERIFY(!GHDeviceDB::markTraceLogPause(7, 1));
        QVERIFY(!GHDeviceDB::deleteTraceLog(GHId(7, GHId::FLASH)));
        QCOMPARE(filesOf(7), QStringLiteral("GPS,TRN,STA,WRK,USR,ST2,PLN,DBG"));
        QVERIFY(!QFileInfo::exists(routeDb()));
    }
};

QTEST_GUILESS_MAIN(TestGHDeviceDBRides)
#include "tst_ghdevicedbrides.moc"
