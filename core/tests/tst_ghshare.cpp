#include <QtTest>

#include <QTemporaryDir>
#include <QtEndian>

#include <memory>
#include <unistd.h>
#include <zlib.h>

#include "ghtestdevicehomes.h"
#include "ghtestsqlite.h"
#include "jxrealmount.h"
#include "jxtimezoneguard.h"
#include "search/ghdevicedb.h"
#include "search/ghid.h"
#include "util/ghbinarylogger.h"
#include "util/ghgpx2.h"
#include "util/ghgpxreader.h"
#include "util/ghpsfheader.h"
#include "util/ghpsfrecord.h"
#include "util/ghtracelog.h"

using GHTestSqlite::query;
using GHTestSqlite::readAll;
using GHTestSqlite::writeAll;

namespace {

QByteArray xmlEscaped(const QByteArray& text)
{
    return QString::fromUtf8(text).toHtmlEscaped().toUtf8();
}

// A GPX share of our dialect: two track points and one route point; metadata only when sharetype is not null.
QByteArray shareGpx(const QByteArray& title, const QByteArray& sharetype, const QByteArray& trvdist = "1200",
                    const QByteArray& padding = QByteArray())
{
    QByteArray gpx = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<gpx xmlns=\"http://www.vexmor.example/PMZ/2/2\" creator=\"vexmor\" version=\"2.2.0.3\">\n";
    if (!sharetype.isNull()) {
        gpx += "<metadata><name>" + xmlEscaped(title) +
               "</name><desc>Lake" + padding +
               "</desc><author><name>Ana</name></author>"
               "<time>2024-05-01T08:30:00Z</time>"
               "<bounds minlat=\"47.1234567\" minlon=\"-8.2000009\" maxlat=\"47.3\" maxlon=\"8.5\"/>"
               "<extensions><sharetype>" + sharetype +
               "</sharetype><sctry>CH</sctry><ectry>DE</ectry><splace>Basel</splace><eplace>Lörrach</eplace>"
               "<acttype>1</acttype><trvTime>3600</trvTime><trvDist>" + trvdist +
               "</trvDist><rtetype>2</rtetype></extensions></metadata>\n";
    }
    gpx += "<rte><rtept lat=\"47.2\" lon=\"8.3\"/></rte>\n"
           "<trk><trkseg><trkpt lat=\"47.1\" lon=\"8.2\"><ele>400</ele><time>2024-05-01T08:30:00Z</time></trkpt>"
           "<trkpt lat=\"47.11\" lon=\"8.21\"><ele>401</ele><time>2024-05-01T08:30:01Z</time></trkpt>"
           "</trkseg></trk>\n</gpx>\n";
    return gpx;
}

// qCompress's layout made by zlib itself: the stated length, then the stream of data.
QByteArray compressed(const QByteArray& data, quint32 stated)
{
    uLongf size = compressBound(uLong(data.size()));
    QByteArray out(int(size) + 4, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()) + 4, &size, reinterpret_cast<const Bytef*>(data.constData()),
                  uLong(data.size()), 9) != Z_OK)
        qFatal("compress2 failed");
    out.resize(int(size) + 4);
    qToBigEndian<quint32>(stated, out.data());
    return out;
}

QByteArray inflated(const QByteArray& data)
{
    if (data.size() < 4)
        return "<short>";
    uLongf size = qFromBigEndian<quint32>(data.constData());
    QByteArray out(int(size), '\0');
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.constData()) + 4,
                   uLong(data.size() - 4)) != Z_OK)
        return "<not zlib>";
    out.resize(int(size));
    return out;
}

const QByteArray kCourseHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<trncrs xmlns=\"http://www.vexmor.example/WRK/1/3\" creator=\"vexmor\" "
                                 "version=\"1.0\">\n<metadata><time>2024-01-02T03:04:05Z</time></metadata>\n";

QByteArray courseWorkout(const QByteArray& attributes, bool withInterval = true)
{
    QByteArray workout = "<wrk " + attributes + "><name>Tempo</name><time>2024-05-01T08:30:00Z</time>";
    if (withInterval)
        workout += "<itv id=\"1\" needLap=\"TRUE\"><name>Warm up</name>"
                   "<target type=\"2\" low=\"100\" high=\"140\" ishardcon=\"true\"/>"
                   "<duration type=\"1\" value=\"600\"><location lat=\"48.5\" lon=\"11.25\"/></duration>"
                   "<goto repeat=\"3\">0</goto><logreso>x</logreso></itv>";
    return workout + "</wrk>\n";
}

const QByteArray kStoredWorkout7 =
    "INSERT INTO Workout (id, wid, orgid, name) VALUES (50, 7, 7, 'old');"
    "INSERT INTO WorkoutInterval (wid, iid, name) VALUES (50, 1, 'old interval');";

} // namespace

class TestGHShare : public GHTestDeviceHomes
{
    Q_OBJECT

private:
    QString routeFile(int rowId) const { return m_flash + QStringLiteral("/data/route/route-%1.gpx").arg(rowId); }
    QString exported(const char* name) const { return m_flash + QLatin1String("/data/route/") + QLatin1String(name); }

    // A flash home of the layout; the older one's route.dat comes from the device, as the set-up does not make it.
    bool home(bool older, const QString& output = QString())
    {
        GHTraceLog::setSystemVersion(older ? kOlderVersion : kCurrentVersion);
        if (older ? !GHTestSqlite::build(routeDb(), shippedScript()) : !writeAll(routeSql(), shippedScript()))
            return false;
        GHDeviceDB::setHomeDir(m_flash, m_card, output);
        return QFileInfo(routeDb()).isFile();
    }

    QString share(const QByteArray& content, const QString& name = QStringLiteral("share.gpx"))
    {
        const QString path = m_scratch->path() + QLatin1String("/in/") + name;
        return writeAll(path, content) ? path : QString();
    }

    QString routes() const { return query(routeDb(), "select group_concat(Title, '|') from Route;"); }

private slots:
    void init()
    {
        QVERIFY(startScratch());
        QVERIFY(!shippedScript().isEmpty());
    }

    void cleanup()
    {
        GHTraceLog::setSystemVersion(kCurrentVersion);
        stopScratch();
    }

    void exportWorkoutAndUnknownType()
    {
        QVERIFY(home(false));
        QVERIFY(GHTestSqlite::run(routeDb(), "INSERT INTO Workout (id, wid, name, wtype) VALUES (3, 42, 'Hills', 1);"
                                             "INSERT INTO WorkoutInterval (wid, iid, name) VALUES (3, 1, 'Up');"));
        bool uploaded = true;
        QCOMPARE(GHDeviceDB::getShareData(GHShareType(4), GHId(42, GHId::FLASH), uploaded, 0), QString());
        const QString path = GHDeviceDB::getShareData(SHARE_WORKOUT, GHId(42, GHId::FLASH), uploaded, 0);
        QCOMPARE(path, exported("export-42.wrk"));
        QVERIFY(!uploaded);
        const QByteArray durable = readAll(path);
        QVERIFY(durable.contains("Hills"));
        // An export for packing is the same file in the same place, only not flushed; no part file stays behind.
        QCOMPARE(GHDeviceDB::getShareData(SHARE_WORKOUT, GHId(42, GHId::FLASH), uploaded, GHTraceLog::EXPORT_SCRATCH),
                 path);
        QCOMPARE(readAll(path), durable);
        QVERIFY(QDir(QFileInfo(path).path()).entryList({QStringLiteral("*export-42*")}, QDir::Files | QDir::Hidden) ==
                QStringList{QStringLiteral("export-42.wrk")});
        QCOMPARE(GHDeviceDB::getShareData(SHARE_WORKOUT, GHId(43, GHId::FLASH), uploaded, 0), QString());
    }

    void exportRide_data()
    {
        QTest::addColumn<bool>("older");
        QTest::addColumn<unsigned>("flags");
        QTest::addColumn<QString>("result");
        QTest::newRow("plain") << false << 0u << "GPX";
        QTest::newRow("sensor log required, none there") << false << 2u << "";
        QTest::newRow("current layout, flag 1") << false << 1u << "GPX";
        QTest::newRow("old layout, flag 1") << true << 1u << "compressed GPX";
    }

    void exportRide()
    {
        QFETCH(bool, older);
        QFETCH(unsigned, flags);
        QFETCH(QString, result);
        QVERIFY(home(older));
        const QString rides = m_flash + QLatin1String("/data/tracelog");
        GHTraceLog::setHomeDir(rides);
        // A ride started at 08:30 local time on 1 May 2024: its id is that wall-clock time counted as UTC.
        const quint32 rideId = 1714552200;
        QVERIFY(GHTestSqlite::run(routeDb(), QStringLiteral("INSERT INTO TraceLog (idRoute, Title, CreateTime, "
                                                            "Uploaded) VALUES (%1, 'ride', %1, 1);")
                                                 .arg(rideId)
                                                 .toUtf8()));
        GHGpx2 ride;
        QVERIFY(GHGpxReader(&ride).readFile(share(shareGpx("Loop", "2"))));
        QVERIFY(GHBinaryLogger::saveGpsData(GHTraceLog::getTraceLogGPS(rideId), ride));

        bool uploaded = false;
        const QString path = GHDeviceDB::getShareData(SHARE_TRACE_LOG, GHId(int(rideId), GHId::FLASH), uploaded, flags);
        if (result.isEmpty()) {
            QCOMPARE(path, QString());
            return;
        }
        QCOMPARE(path, rides + QLatin1String("/20240501083000.gpx"));
        QVERIFY(uploaded);
        const QByteArray gpx = result == QLatin1String("GPX") ? readAll(path) : inflated(readAll(path));
        QVERIFY2(gpx.contains("<trkpt"), gpx.left(300).constData());
    }

    void routeExportedOnceFromItsText()
    {
        QVERIFY(home(false));
        QVERIFY(GHTestSqlite::run(routeDb(), "INSERT INTO Route (idRoute, Title, Uploaded, Route) VALUES "
                                             "(5, 'r', 1, '<gpx>Zürich</gpx>');"));
        bool uploaded = false;
        const QString output = exported("export-5.gpx");
        QCOMPARE(GHDeviceDB::getShareData(SHARE_ROUTE, GHId(5, GHId::FLASH), uploaded, 0), output);
        QVERIFY(uploaded);
        QCOMPARE(readAll(output), QByteArray("<gpx>Zürich</gpx>"));
        QCOMPARE(readAll(routeFile(5)), QByteArray("<gpx>Zürich</gpx>"));
        QCOMPARE(query(routeDb(), "select quote(Route) from Route;"), QStringLiteral("''"));

        // From now on the file is what is exported.
        QVERIFY(writeAll(routeFile(5), "<gpx>edited</gpx>"));
        QCOMPARE(GHDeviceDB::_preRouteToGpx(GHId(5, GHId::FLASH), uploaded), output);
        QCOMPARE(readAll(output), QByteArray("<gpx>edited</gpx>"));

        QCOMPARE(GHDeviceDB::_preRouteToGpx(GHId(6, GHId::FLASH), uploaded), QString());
        QCOMPARE(GHDeviceDB::_preRouteToGpx(GHId(5, GHId::DBLOC(2)), uploaded), QString());
    }

    void routeExportIntoAMissingFolder()
    {
        QVERIFY(home(false, m_scratch->path() + QLatin1String("/missing")));
        QVERIFY(GHTestSqlite::run(routeDb(), "INSERT INTO Route (idRoute, Title, Route) VALUES (5, 'f', 'x'),"
                                             "(6, 't', '<gpx/>');"));
        QVERIFY(writeAll(routeFile(5), "<gpx/>"));
        bool uploaded = false;
        // The copy of the route file fails, and so does the text's write: no path to a file that is not there.
        QCOMPARE(GHDeviceDB::getShareData(SHARE_ROUTE, GHId(5, GHId::FLASH), uploaded, 0), QString());
        QCOMPARE(GHDeviceDB::getShareData(SHARE_ROUTE, GHId(6, GHId::FLASH), uploaded, 0), QString());
        QCOMPARE(query(routeDb(), "select Route from Route where idRoute=6;"), QStringLiteral("<gpx/>"));
        QVERIFY(!QFileInfo::exists(routeFile(6)));
    }

    void exportCompression_data()
    {
        QTest::addColumn<bool>("older");
        QTest::addColumn<unsigned>("flags");
        QTest::addColumn<bool>("compressed");
        QTest::newRow("current layout, flag 1") << false << 1u << false;
        QTest::newRow("old layout, flag 1") << true << 1u << true;
        QTest::newRow("old layout, flags 6") << true << 6u << false;
    }

    void exportCompression()
    {
        QFETCH(bool, older);
        QFETCH(unsigned, flags);
        QFETCH(bool, compressed);
        QVERIFY(home(older));
        const QByteArray gpx = shareGpx("Loop", "1");
        QVERIFY(GHTestSqlite::run(routeDb(), "INSERT INTO Route (idRoute, Title) VALUES (5, 'f');"));
        QVERIFY(writeAll(routeFile(5), gpx));
        bool uploaded = true;
        const QString path = GHDeviceDB::getShareData(SHARE_ROUTE, GHId(5, GHId::FLASH), uploaded, flags);
        QCOMPARE(path, exported("export-5.gpx"));
        QVERIFY(!uploaded);
        QCOMPARE(compressed ? inflated(readAll(path)) : readAll(path), gpx);
        QCOMPARE(readAll(routeFile(5)), gpx);
    }

    void importCompressed_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("imported");
        const QByteArray gpx = shareGpx("Loop", "1");
        QTest::newRow("valid") << compressed(gpx, quint32(gpx.size())) << true;
        QTest::newRow("stated longer than the data") << compressed(gpx, quint32(gpx.size()) + 100) << true;
        QTest::newRow("prefix claiming 2 GB") << compressed(gpx, 0x80000000u) << false;
        QTest::newRow("inflating past its prefix") << compressed(gpx, quint32(gpx.size()) - 1) << false;
        QTest::newRow("prefix 0") << compressed(gpx, 0) << false;
        QTest::newRow("inflating to nothing") << compressed(QByteArray(), 10) << false;
        QTest::newRow("stream cut short") << compressed(gpx, quint32(gpx.size())).left(40) << false;
        QTest::newRow("not zlib") << QByteArray("\0\0\1\0<gpx>not compressed</gpx>", 29) << false;
        QTest::newRow("three bytes") << QByteArray("\0\0\1", 3) << false;
    }

    void importCompressed()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, imported);
        QVERIFY(home(true));
        QString path = share(content);
        GHDeviceDB::setShareData(path, true);
        QCOMPARE(routes(), imported ? QStringLiteral("Loop") : QString());
        QCOMPARE(QFileInfo::exists(path), !imported);
        if (!imported)
            QCOMPARE(readAll(path), content);
        else
            QCOMPARE(readAll(routeFile(1)), shareGpx("Loop", "1"));
    }

    void importShares_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("stored");
        QTest::newRow("route") << shareGpx("Loop", "1") << "Loop";
        QTest::newRow("ride") << shareGpx("Loop", "2") << "Loop";
        QTest::newRow("workout type") << shareGpx("Loop", "3") << "";
        QTest::newRow("type not a number") << shareGpx("Loop", "x") << "";
        QTest::newRow("no metadata") << shareGpx("Loop", QByteArray()) << "";
        QTest::newRow("quote that would end the statement")
            << shareGpx("'; drop table Route; --", "1") << "'; drop table Route; --";
        QTest::newRow("apostrophe") << shareGpx("Bob's ride", "1") << "Bob's ride";
    }

    void importShares()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, stored);
        QVERIFY(home(false));
        QString path = share(content);
        GHDeviceDB::setShareData(path, false);
        QCOMPARE(routes(), stored);
        // Every one of these is done with: imported, or no share to import.
        QVERIFY(!QFileInfo::exists(path));
        if (stored.isEmpty())
            return;
        // The current layout stores the points as a GPS log: two track points, then the route point.
        QCOMPARE(QFileInfo(routeFile(1)).size(), qint64(GHPSFHeader::SIZE + 3 * GHPSFRecord::SIZE));

        // A second import of the same title and length adds nothing and is done with too.
        path = share(content);
        GHDeviceDB::setShareData(path, false);
        QCOMPARE(routes(), stored);
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(!QFileInfo::exists(routeFile(2)));
    }

    void importedColumns()
    {
        // Zone 2 hours east of UTC: a time read as local would come out two hours early. Files of this version
        // carry no route type.
        JXTimeZoneGuard zone("XST-2");
        QVERIFY(home(false));
        QString path = share(shareGpx("Loop", "1"));
        GHDeviceDB::setShareData(path, false);
        QCOMPARE(query(routeDb(), "select Title, Abstract, Author, CreateTime, StartCountry, EndCountry, StartPlace,"
                                  " EndPlace, LDLon, LDLat, RTLon, RTLat, TravelTime, TotalLength, ActiveType,"
                                  " RouteType, Uploaded from Route;"),
                 QStringLiteral("Loop|Lake|Ana|1714552200|CH|DE|Basel|Lörrach|-8200000|47123456|8500000|47300000|"
                                "3600|1200|1||0"));
    }

    // Route CreateTime and workout datetime are unsigned seconds: a time they cannot hold is not stored, never
    // wrapped into another date.
    void importedDates_data()
    {
        QTest::addColumn<QByteArray>("time");
        QTest::addColumn<QString>("createTime");
        QTest::addColumn<QString>("datetime");
        QTest::addColumn<bool>("refused");
        QTest::newRow("1970") << QByteArray("1970-01-01T00:00:00Z") << "0" << "0" << false;
        QTest::newRow("last second of 2106")
            << QByteArray("2106-02-07T06:28:15Z") << "4294967295" << "4294967295" << false;
        QTest::newRow("a second before 1970") << QByteArray("1969-12-31T23:59:59Z") << "0" << "NULL" << true;
        QTest::newRow("2200") << QByteArray("2200-01-01T00:00:00Z") << "0" << "NULL" << true;
        QTest::newRow("9999") << QByteArray("9999-12-31T23:59:59Z") << "0" << "NULL" << true;
    }

    void importedDates()
    {
        QFETCH(QByteArray, time);
        QFETCH(QString, createTime);
        QFETCH(QString, datetime);
        QFETCH(bool, refused);
        QVERIFY(home(false));
        const QRegularExpression outside(QStringLiteral("lies outside 1970 to 2106; not stored$"));
        if (refused)
            QTest::ignoreMessage(QtWarningMsg, outside);
        QString path = share(shareGpx("Loop", "1").replace("<time>2024-05-01T08:30:00Z</time><bounds",
                                                            "<time>" + time + "</time><bounds"));
        GHDeviceDB::setShareData(path, false);
        QCOMPARE(query(routeDb(), "select CreateTime from Route;"), createTime);

        if (refused)
            QTest::ignoreMessage(QtWarningMsg, outside);
        path = share(kCourseHeader + courseWorkout("id=\"9\"").replace("2024-05-01T08:30:00Z", time) + "</trncrs>\n",
                     QStringLiteral("course.wrk"));
        GHDeviceDB::setShareData(path, false);
        QCOMPARE(query(routeDb(), "select quote(datetime) from Workout;"), datetime);
    }

    void importFailureKeepsTheShare_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("route.dat missing") << "no database";
        QTest::newRow("insert fails") << "trigger";
        QTest::newRow("route file cannot be written") << "folder in the way";
    }

    void importFailureKeepsTheShare()
    {
        QFETCH(QString, fault);
        QVERIFY(home(false));
        if (fault == QLatin1String("no database"))
            QVERIFY(QFile::remove(routeDb()));
        if (fault == QLatin1String("trigger"))
            QVERIFY(GHTestSqlite::run(routeDb(), "CREATE TRIGGER refuse BEFORE INSERT ON Route "
                                                 "BEGIN SELECT RAISE(ABORT, 'refused'); END;"));
        if (fault == QLatin1String("folder in the way"))
            QVERIFY(writeAll(routeFile(1) + QLatin1String("/inside"), "x"));
        const QByteArray content = shareGpx("Loop", "1");
        QString path = share(content);
        GHDeviceDB::setShareData(path, false);
        QCOMPARE(readAll(path), content);
        if (fault != QLatin1String("no database"))
            QCOMPARE(query(routeDb(), "select count(*) from Route;"), QStringLiteral("0"));
    }

    void importOlderLayoutCopiesTheShare()
    {
        QVERIFY(home(true));
        const QByteArray content = shareGpx("Loop", "2");
        QString path = share(content);
        GHDeviceDB::setShareData(path, false);
        QCOMPARE(readAll(routeFile(1)), content);
        QVERIFY(!QFileInfo::exists(path));
    }

    void fullFileSystemLeavesTheCompressedShare()
    {
        if (!JXRealMount::isPossible())
            QSKIP("needs root to mount a tmpfs");
        QVERIFY(home(true));
        const QString mountPoint = m_scratch->path() + QLatin1String("/small");
        QVERIFY(QDir().mkpath(mountPoint));
        JXRealMount mount;
        QVERIFY(mount.mountTmpfs(mountPoint, QStringLiteral("64k")));
        // Compresses to a few hundred bytes, inflates to far more than is left.
        const QByteArray gpx = shareGpx("Loop", "1", "1200", QByteArray(300 * 1024, 'a'));
        const QByteArray content = compressed(gpx, quint32(gpx.size()));
        QString path = mountPoint + QLatin1String("/share.gpx");
        QVERIFY(writeAll(path, content));
        QVERIFY(writeAll(mountPoint + QLatin1String("/filler"), QByteArray(56 * 1024, 'f')) ||
                QFileInfo(mountPoint + QLatin1String("/filler")).size() > 0);
        GHDeviceDB::setShareData(path, true);
        QCOMPARE(readAll(path), content);
        QCOMPARE(routes(), QString());
        QCOMPARE(QDir(mountPoint).entryList(QDir::Files), QStringList({"filler", "share.gpx"}));
    }

    void importCourse_data()
    {
        QTest::addColumn<QByteArray>("workouts");
        QTest::addColumn<QByteArray>("setUp");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("stored");
        QTest::newRow("second workout stored: the first is imported")
            << courseWorkout("id=\"8\"") + courseWorkout("id=\"9\"") + courseWorkout("id=\"10\"")
            << QByteArray("INSERT INTO Workout (id, wid, name) VALUES (60, 9, 'there');") << true << "8 Tempo,9 there";
        QTest::newRow("orgid 7 replaced by wid 9") << courseWorkout("id=\"9\" orgid=\"7\"") << kStoredWorkout7 << true
                                                   << "9 Tempo";
        QTest::newRow("insert fails: 7 stays")
            << courseWorkout("id=\"9\" orgid=\"7\"")
            << kStoredWorkout7 + "CREATE TRIGGER refuse BEFORE INSERT ON Workout "
                                 "BEGIN SELECT RAISE(ABORT, 'refused'); END;"
            << false << "7 old";
        QTest::newRow("workout without intervals") << courseWorkout("id=\"9\"", false) << QByteArray() << false
                                                   << "";
    }

    void importCourse()
    {
        QFETCH(QByteArray, workouts);
        QFETCH(QByteArray, setUp);
        QFETCH(bool, result);
        QFETCH(QString, stored);
        QVERIFY(home(false));
        if (!setUp.isEmpty())
            QVERIFY(GHTestSqlite::run(routeDb(), setUp));
        QString path = share(kCourseHeader + workouts + "</trncrs>\n", QStringLiteral("course.wrk"));
        QCOMPARE(GHDeviceDB::_importTraining(path), result);
        QCOMPARE(query(routeDb(),
                       "select group_concat(wid || ' ' || name, ',') from (select * from Workout order by wid);"),
                 stored);
        // Intervals only of stored workouts.
        QCOMPARE(query(routeDb(), "select count(*) from WorkoutInterval where wid not in (select id from Workout);"),
                 QStringLiteral("0"));
    }

    // A commit held up by another program's read fails the import, and takes no later import down with it.
    void importAfterFailedCommit()
    {
        QVERIFY(home(false));
        const auto course = [this](const char* id) {
            return share(kCourseHeader + courseWorkout(QByteArray("id=\"") + id + "\"") + "</trncrs>\n",
                         QStringLiteral("course%1.wrk").arg(id));
        };
        QString path = course("8");
        QVERIFY(GHDeviceDB::_importTraining(path));
        QVERIFY(GHTestSqlite::setBusyWait(QStringLiteral("ghddb"), 20));
        {
            GHTestSqlite::ReadLock reader(routeDb());
            QVERIFY(reader.isHolding());
            GHTestSqlite::WarningCapture warnings;
            path = course("9");
            QVERIFY(!GHDeviceDB::_importTraining(path));
        }
        path = course("10");
        QVERIFY(GHDeviceDB::_importTraining(path));
        GHDeviceDB::closeStorageMapDb();
        QCOMPARE(query(routeDb(), "select group_concat(w.wid || ':' || i.iid) from (select * from Workout order by "
                                  "wid) w join WorkoutInterval i on i.wid = w.id;"),
                 QStringLiteral("8:1,10:1"));
    }

    void importedWorkoutColumns()
    {
        QVERIFY(home(false));
        QString path = share(kCourseHeader +
                                 courseWorkout("id=\"9\" orgid=\"9\" daily=\"True\" repeat=\"2\" type=\"3\" "
                                               "subtype=\"4\" listOrder=\"6\"") +
                                 "</trncrs>\n",
                             QStringLiteral("course.wrk"));
        GHDeviceDB::setShareData(path, false);
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(query(routeDb(), "select wid, orgid, daily, repeatcnt, wtype, subtype, name, quote(acttype), datetime,"
                                  " createtime, listOrder from Workout;"),
                 QStringLiteral("9|9|1|2|3|4|Tempo|NULL|1714552200|2024-01-02T03:04:05Z|6"));
        QCOMPARE(query(routeDb(), "select iid, needlap, name, targettype, targetlow, targethigh, targetishard, durtype,"
                                  " durvalue, durismanual, quote(dursegstart), durlat, durlon, nextiid, repeatcnt,"
                                  " quote(logreso) from WorkoutInterval;"),
                 QStringLiteral("1|1|Warm up|2|100|140|1|1|600|0|NULL|48500000|11250000|0|3|NULL"));

        // A file that is neither GPX nor a course is kept.
        path = share("not a share");
        GHDeviceDB::setShareData(path, false);
        QCOMPARE(readAll(path), QByteArray("not a share"));
    }
};

QTEST_GUILESS_MAIN(TestGHShare)
#include "tst_ghshare.moc"
