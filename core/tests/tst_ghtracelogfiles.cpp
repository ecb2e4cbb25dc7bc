#include <QtTest>

#include <QTemporaryDir>

#include <memory>

#include "ghtestdevicehomes.h"
#include "ghtestridelogs.h"
#include "ghtestsqlite.h"
#include "jxrealmount.h"
#include "jxtimezoneguard.h"
#include "location/ghlivelocation.h"
#include "search/ghdevicedb.h"
#include "training/ghworkout.h"
#include "util/ghtracelog.h"
#include "util/ghtrackdp.h"

using namespace GHTestRideLogs;

namespace {

struct StoredPoint
{
    qint32 lat;
    qint32 lon;
    qint16 altitude;
    quint32 time;
};

quint32 le32(const QByteArray& bytes, int offset)
{
    return quint32(quint8(bytes[offset])) | quint32(quint8(bytes[offset + 1])) << 8 |
           quint32(quint8(bytes[offset + 2])) << 16 | quint32(quint8(bytes[offset + 3])) << 24;
}

quint32 readBe32(const QByteArray& bytes, int offset)
{
    return quint32(quint8(bytes[offset])) << 24 | quint32(quint8(bytes[offset + 1])) << 16 |
           quint32(quint8(bytes[offset + 2])) << 8 | quint32(quint8(bytes[offset + 3]));
}

// The track records of a GPS log as the file holds them, read independently of the code under test.
QVector<StoredPoint> storedPoints(const QByteArray& log)
{
    QVector<StoredPoint> points;
    for (int offset = 52; offset + 20 <= log.size(); offset += 20) {
        const qint16 altitude = qint16(quint16(quint8(log[offset + 8]) << 8 | quint8(log[offset + 9])));
        points.append({qint32(readBe32(log, offset + 4)), qint32(readBe32(log, offset)), altitude,
                       readBe32(log, offset + 16)});
    }
    return points;
}

} // namespace

class TestGHTraceLogFiles : public GHTestDeviceHomes
{
    Q_OBJECT

private:
    GHLiveLocation m_location{QStringLiteral("gps")};

    QString row(quint32 id, const char* columns)
    {
        return GHTestSqlite::query(routeDb(), QByteArray("SELECT ") + columns +
                                                  " FROM TraceLog WHERE idRoute=" + QByteArray::number(id) + ";");
    }

    GHLiveLocation* at(qint32 lat, qint32 lon)
    {
        m_location.setLatLng(lat, lon);
        return &m_location;
    }

private slots:
    void init()
    {
        QVERIFY(startScratch());
        const QByteArray script = shippedScript();
        QVERIFY(!script.isEmpty());
        QVERIFY(GHTestSqlite::writeAll(routeSql(), script));
        GHTraceLog::setSystemVersion(kCurrentVersion);
        GHDeviceDB::setHomeDir(m_flash, m_card, m_scratch->path() + QLatin1String("/out"));
        QDir().mkpath(m_scratch->path() + QLatin1String("/out"));
        GHTraceLog::setHomeDir(m_scratch->path() + QLatin1String("/tracelog"));
        GHTraceLog::setUserProfile(m_scratch->path() + QLatin1String("/UserProfile.xml"));
        m_location.setSpeed(36.0f);
        m_location.setBearing(45.9f);
    }

    void cleanup() { stopScratch(); }

    void newLogHasHeadersRowAndProfile()
    {
        QVERIFY(GHTestSqlite::writeAll(GHTraceLog::getUserProfile(), "<user/>"));
        quint32 id = 0;
        {
            GHTraceLog log;
            id = quint32(log.getId().rowId);
            QCOMPARE(log.getId().location, GHId::STORAGE);
            QCOMPARE(QFileInfo(GHTraceLog::getTraceLogGPS(id)).size(), 52);
            QCOMPARE(QFileInfo(GHTraceLog::getTraceLogTRN(id)).size(), 52);
            QCOMPARE(row(id, "Title, CreateTime"), QStringLiteral("...|%1").arg(id));
            QCOMPARE(GHTestSqlite::readAll(GHTraceLog::getTraceLogUSR(id)), QByteArray("<user/>"));
        }
        // Local wall-clock time counted as UTC: within a minute of now, read that way.
        const QDateTime local = QDateTime::currentDateTime();
        const qint64 clock = QDateTime(local.date(), local.time(), Qt::UTC).toSecsSinceEpoch();
        QVERIFY(qAbs(clock - qint64(id)) < 60);
    }

    // Every ride begun within the same second keeps its own files and row.
    void rideIdsNeverCollide()
    {
        QSet<quint32> ids;
        std::vector<std::unique_ptr<GHTraceLog>> logs;
        for (int i = 0; i < 3; ++i) {
            logs.emplace_back(new GHTraceLog);
            QVERIFY(logs.back()->writeLocation(100, at(1000000 + i, 2000000), 50));
            ids.insert(quint32(logs.back()->getId().rowId));
        }
        logs.clear();
        QCOMPARE(ids.size(), 3);
        for (quint32 id : ids) {
            QCOMPARE(QFileInfo(GHTraceLog::getTraceLogGPS(id)).size(), 72);
            QCOMPARE(row(id, "Title"), QStringLiteral("..."));
        }
    }

    void recordsInTimeOrder()
    {
        quint32 id = 0;
        {
            GHTraceLog log;
            id = quint32(log.getId().rowId);
            QVERIFY(log.writeLocation(100, at(1000000, 2000000), GHTraceLog::NO_ALTITUDE));
            QVERIFY(log.writeLocation(100, at(1000001, 2000000), 120)); // equal time accepted
            QVERIFY(!log.writeLocation(99, at(1000002, 2000000), 130)); // earlier refused
            QVERIFY(!log.writeLocation(105, at(0, 0), 140));             // no fix, yet its time counts
            QVERIFY(!log.writeLocation(104, at(1000003, 2000000), 150));
            QVERIFY(log.writeLocation(106, at(1000004, 2000000), GHTraceLog::NO_ALTITUDE)); // carries 120
            QVERIFY(log.writeLocation(107, at(1000005, 2000000), 40000));                  // saturates
            QVERIFY(log.writeLocation(108, at(1000006, 2000000), -40000));
            int values[9] = {120, 80, 500, 21, 250, 101325, 0, 7, 510};
            QVERIFY(log.writeSensor(108, values));
            QVERIFY(!log.writeSensor(107, values));
            QVERIFY(!log.writeEventTag(107, int(PAUSE)));
            QVERIFY(log.writeEventTag(108, int(PAUSE)));
            QCOMPARE(row(id, "pause"), QStringLiteral("1"));
            log.updateStartTime(0x01020304);
        }
        QCOMPARE(row(id, "pause"), QStringLiteral("0"));
        const QByteArray gps = GHTestSqlite::readAll(GHTraceLog::getTraceLogGPS(id));
        QCOMPARE(le32(gps, 48), 6u); // five locations and the event
        QCOMPARE(le32(gps, 24), 0x01020304u);
        const QVector<StoredPoint> points = storedPoints(gps);
        QCOMPARE(points.size(), 6);
        QCOMPARE(points[0].altitude, qint16(0));
        QCOMPARE(points[1].altitude, qint16(120));
        QCOMPARE(points[2].altitude, qint16(120));
        QCOMPARE(points[2].lat, 1000004);
        QCOMPARE(points[3].altitude, qint16(32766));
        QCOMPARE(points[4].altitude, qint16(-32768));
        QCOMPARE(points[5].lon, qint32(PAUSE));
        // 36 km/h is 600 m/min; the bearing is truncated.
        QCOMPARE(quint16(quint8(gps[52 + 12]) << 8 | quint8(gps[52 + 13])), quint16(600));
        QCOMPARE(quint16(quint8(gps[52 + 10]) << 8 | quint8(gps[52 + 11])), quint16(45));
        const QByteArray sensor = GHTestSqlite::readAll(GHTraceLog::getTraceLogTRN(id));
        QCOMPARE(sensor.size(), 52 + 2 * 22);
        QCOMPARE(sensor.mid(52, 22), sensorRecord({108, 120, 80, 500, 21, 250, 101325, 7, 510}));
    }

    // A crash in the middle of a record leaves a partial one at the end: continuing cuts it off, so that every
    // later record stays aligned; the newest time stays the limit.
    void continuingDropsPartialTail()
    {
        quint32 id = 0;
        {
            GHTraceLog log;
            id = quint32(log.getId().rowId);
            QVERIFY(log.writeLocation(100, at(1000000, 2000000), 10));
            QVERIFY(log.writeLocation(110, at(1000100, 2000000), 10));
            int values[9] = {1, 2, 3, 4, 5, 6, 0, 8, 9};
            QVERIFY(log.writeSensor(110, values));
        }
        QFile gps(GHTraceLog::getTraceLogGPS(id));
        QVERIFY(gps.open(QIODevice::Append));
        gps.write(QByteArray(7, char(0x55)));
        gps.close();
        QFile sensor(GHTraceLog::getTraceLogTRN(id));
        QVERIFY(sensor.open(QIODevice::Append));
        sensor.write(QByteArray(5, char(0x55)));
        sensor.close();
        {
            GHTraceLog log(id);
            QCOMPARE(quint32(log.getId().rowId), id);
            QVERIFY(!log.writeLocation(109, at(1000200, 2000000), 10));
            QVERIFY(log.writeLocation(120, at(1000300, 2000000), 10));
            int values[9] = {1, 2, 3, 4, 5, 6, 0, 8, 9};
            QVERIFY(log.writeSensor(120, values));
        }
        const QByteArray gpsBytes = GHTestSqlite::readAll(GHTraceLog::getTraceLogGPS(id));
        QCOMPARE(gpsBytes.size(), 52 + 3 * 20);
        QCOMPARE(le32(gpsBytes, 48), 3u);
        QCOMPARE(storedPoints(gpsBytes).last().lat, 1000300);
        const QByteArray sensorBytes = GHTestSqlite::readAll(GHTraceLog::getTraceLogTRN(id));
        QCOMPARE(sensorBytes.size(), 52 + 2 * 22);
        QCOMPARE(le32(sensorBytes, 48), 2u);
        QCOMPARE(readBe32(sensorBytes, 52 + 22), 120u);
    }

    void continuingWithoutRowStartsNew()
    {
        GHTraceLog log(12345);
        QVERIFY(quint32(log.getId().rowId) != 12345u);
        QVERIFY(QFileInfo::exists(GHTraceLog::getTraceLogGPS(quint32(log.getId().rowId))));
        QVERIFY(!QFileInfo::exists(GHTraceLog::getTraceLogGPS(12345)));
    }

    void workoutLogAndStatistics()
    {
        GHTraceLog log;
        const quint32 id = quint32(log.getId().rowId);
        GHWorkout workout(4711, QStringLiteral("Intervals"));
        workout.subtype = 3;
        workout.mhr = 190;
        workout.ftp = 250;
        QVector<GHIntervalLogData> intervals;
        QVector<GHTripStatistic> statistics(1);
        QVERIFY(log.writeWorkout(&workout, &intervals, &statistics));
        QVERIFY(!QFileInfo::exists(GHTraceLog::getTraceLogWRK(id)));
        QVERIFY(!QFileInfo::exists(GHTraceLog::getTraceLogST2(id)));

        intervals.append({1714552200, 1714552500});
        QVERIFY(log.writeWorkout(&workout, &intervals, &statistics));
        QCOMPARE(GHTestSqlite::readAll(GHTraceLog::getTraceLogWRK(id)),
                 QByteArray("\n<wrklog id=\"4711\" type=\"0\" subtype=\"3\">\n"
                            "    <interval order=\"1\">\n"
                            "        <start>2024-05-01T08:30:00Z</start>\n"
                            "        <end>2024-05-01T08:35:00Z</end>\n"
                            "    </interval>\n"
                            "    <mhr>190</mhr>\n"
                            "    <ftp>250</ftp>\n"
                            "</wrklog>"));
        QVERIFY(QFileInfo::exists(GHTraceLog::getTraceLogST2(id)));
        QVERIFY(!GHTraceLog::hasStatistic(id));
        QVERIFY(log.writeStatistic(&statistics));
        QVERIFY(GHTraceLog::hasStatistic(id));
    }

    void exportFlagsAndName()
    {
        JXTimeZoneGuard zone("XST-2");
        // 2024-05-01 08:30:00 on the device's clock, stored as if it were UTC.
        const quint32 id = 1714552200;
        QVERIFY(GHTestSqlite::run(routeDb(), "INSERT INTO TraceLog (idRoute, Title, CreateTime, StartTime, Uploaded) "
                                             "VALUES (1714552200, 'Ride', 1714552200, 1714552200, 1);"));
        QVERIFY(GHTestSqlite::writeAll(GHTraceLog::getTraceLogGPS(id), gpsHeader("0.2.1.8") +
                                                                           trackPoint(1000000, 2000000, 0) +
                                                                           trackPoint(1100000, 2000000, 10)));
        bool uploaded = false;
        const GHId rideId(qint32(id), GHId::FLASH);
        QCOMPARE(GHTraceLog::gpsTrackToGpx(rideId, uploaded, GHTraceLog::EXPORT_NEEDS_SENSOR_LOG), QString());

        // Without the flag a ride recorded without sensors is exported with its track.
        const QString path = GHTraceLog::gpsTrackToGpx(rideId, uploaded, 0);
        QCOMPARE(path, m_scratch->path() + QLatin1String("/out/20240501083000.gpx"));
        QVERIFY(uploaded);
        const QByteArray gpx = GHTestSqlite::readAll(path);
        QVERIFY(gpx.contains("<trkpt lat=\"1.100000\" lon=\"2.000000\">"));
        QVERIFY(!gpx.contains("<ssrlog>"));

        QVERIFY(GHTestSqlite::writeAll(GHTraceLog::getTraceLogTRN(id),
                                       sensorHeader("0.2.1.8") + sensorRecord({0, 99, 255, 0xFFFF, 32767, 0xFFFF,
                                                                               0x7FFFFFFF, 0, 0xFFFF})));
        GHDeviceDB::setHomeDir(m_flash, QString(), QString());
        QCOMPARE(GHTraceLog::gpsTrackToGpx(rideId, uploaded, GHTraceLog::EXPORT_NEEDS_SENSOR_LOG),
                 GHTraceLog::getHomeDir() + QLatin1String("/20240501083000.gpx"));
        QVERIFY(GHTestSqlite::readAll(GHTraceLog::getHomeDir() + QLatin1String("/20240501083000.gpx"))
                    .contains("<hrm>99</hrm>"));

        QCOMPARE(GHTraceLog::gpsTrackToGpx(GHId(5, GHId::FLASH), uploaded, 0), QString());
    }

    void providers()
    {
        QVERIFY(GHTraceLog::getRouteDP(GHId(7, GHId::DBLOC(2))) == nullptr);
        QVERIFY(GHTraceLog::getRouteDP(GHId(7, GHId::FLASH)) == nullptr);
        QVERIFY(GHTestSqlite::run(routeDb(), "INSERT INTO Route (idRoute, Title, TravelTime, TotalLength) "
                                             "VALUES (7, 'Loop', 95, 31000);"));
        QVERIFY(GHTestSqlite::writeAll(m_flash + QLatin1String("/data/route/route-7.gpx"),
                                       gpsHeader("0.2.1.8") + trackPoint(1000000, 2000000, 1714552200)));
        std::unique_ptr<GHTrackDP> route(GHTraceLog::getRouteDP(GHId(7, GHId::FLASH)));
        QVERIFY(route);
        QMap<QString, QString> point;
        route->getTrkptData(0, 0, 0, point);
        QCOMPARE(point.value(QStringLiteral("time")), QStringLiteral("2024-05-01T08:30:00Z"));

        QVERIFY(GHTraceLog::getTrackDP(GHId(8, GHId::FLASH), false) == nullptr);
        QVERIFY(GHTestSqlite::writeAll(GHTraceLog::getTraceLogGPS(8), gpsHeader("0.2.1.8")));
        QVERIFY(GHTestSqlite::writeAll(GHTraceLog::getTraceLogTRN(8), sensorHeader("0.2.1.8")));
        std::unique_ptr<GHTrackDP> ride(GHTraceLog::getTrackDP(GHId(8, GHId::FLASH), false));
        QVERIFY(ride);
        QCOMPARE(ride->getTrkCount(), 0);
    }

    // On a full disk a record that never reached the file is reported, never counted: the header's count and the
    // file's length agree once the log is closed.
    void fullDiskIsAFailedWrite()
    {
        if (!JXRealMount::isPossible())
            QSKIP("needs root for a tmpfs");
        const QString mountPoint = m_scratch->path() + QLatin1String("/full");
        QVERIFY(QDir().mkpath(mountPoint));
        JXRealMount mount;
        QVERIFY(mount.mountTmpfs(mountPoint, QStringLiteral("16k")));
        GHTraceLog::setHomeDir(mountPoint);
        quint32 id = 0;
        int accepted = 0;
        bool refused = false;
        {
            GHTraceLog log;
            id = quint32(log.getId().rowId);
            QVERIFY(QFileInfo::exists(GHTraceLog::getTraceLogGPS(id)));
            for (quint32 i = 0; i < 2000 && !refused; ++i) {
                if (log.writeLocation(i, at(1000000 + int(i), 2000000), 10))
                    ++accepted;
                else
                    refused = true;
            }
        }
        QVERIFY(refused);
        const QByteArray gps = GHTestSqlite::readAll(GHTraceLog::getTraceLogGPS(id));
        QCOMPARE((gps.size() - 52) % 20, 0);
        const int stored = (gps.size() - 52) / 20;
        QVERIFY(stored <= accepted);
        QCOMPARE(int(le32(gps, 48)), stored);
        const QVector<StoredPoint> points = storedPoints(gps);
        for (int i = 0; i < points.size(); ++i)
            QCOMPARE(points[i].time, quint32(i));
    }
};

QTEST_GUILESS_MAIN(TestGHTraceLogFiles)
#include "tst_ghtracelogfiles.moc"
