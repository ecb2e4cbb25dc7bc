#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>

#include <memory>

#include "ghtestdevicehomes.h"
#include "ghtestridelogs.h"
#include "ghtestsqlite.h"
#include "ghtestxml.h"
#include "jxtimezoneguard.h"
#include "search/ghdevicedb.h"
#include "util/ghgpxwriter.h"
#include "util/ghtracelog.h"
#include "util/ghtrackdp.h"

using namespace GHTestRideLogs;

namespace {

// 2024-05-01T08:30:00Z
const quint32 START = 1714552200;
const quint32 RIDE = 1714552200;

using GHTestXml::lint;


} // namespace

class TestGHTrackDPExport : public GHTestDeviceHomes
{
    Q_OBJECT

private:
    std::unique_ptr<JXTimeZoneGuard> m_zone;

    void insertRide(quint32 id, const QByteArray& title = "'Ride' || char(1) || ' one'")
    {
        QVERIFY(GHTestSqlite::run(routeDb(),
                                  "INSERT INTO TraceLog (idRoute, Title, Abstract, CreateTime, Author, LDLat, LDLon, "
                                  "RTLat, RTLon, StartCountry, EndCountry, StartPlace, EndPlace, ActivityType, "
                                  "RouteType, StartTime, EndTime, TotalLength) VALUES (" +
                                      QByteArray::number(id) + ", " + title + ", '', " + QByteArray::number(id) +
                                      ", 'me', 1, 2, 3, 4, 'DE', '', 'Here', 'There', 2, 3, " +
                                      QByteArray::number(START) + ", " + QByteArray::number(START + 3599) +
                                      ", 12345);"));
    }

    void writeFile(const QString& path, const QByteArray& content) { QVERIFY(GHTestSqlite::writeAll(path, content)); }

    void writeGoldenRide()
    {
        insertRide(RIDE);
        writeFile(GHTraceLog::getTraceLogGPS(RIDE),
                  gpsHeader("0.2.1.8") + trackPoint(52500000, 13400000, 0, 1234, 90) +
                      trackPoint(52501000, 13401000, 10, -5, -7) + gpsEvent(PAUSE, 15) +
                      trackPoint(52502000, 13402000, 60, 32767, 32767) + gpsEvent(RESUME, 61) +
                      trackPoint(-1000, -2000000, 70, 0, 0) + gpsEvent(PAUSE, 75));
        writeFile(GHTraceLog::getTraceLogTRN(RIDE),
                  sensorHeader("0.2.1.8") + sensorRecord({0, 120, 80, 500, 21, 250, 101325, 7, 510}) +
                      sensorRecord({10, 255, 255, 0xFFFF, 32767, 0xFFFF, 0x7FFFFFFF, 0, 600}) +
                      sensorEvent(PAUSE, 15) +
                      sensorRecord({60, 130, 255, 1000, -3, 0xFFFF, -50, 0, 0xFFFF}));
        writeFile(GHTraceLog::getTraceLogUSR(RIDE), "<?xml version=\"1.0\"?>\n<!-- profile -->\n<?setup fast?>\n"
                                                    "<user><name>Me</name></user>\n");
        writeFile(GHTraceLog::getTraceLogSTA(RIDE), "<laps><lap order=\"1\" start=\"2024-05-01T08:30:00Z\" "
                                                    "end=\"2024-05-01T08:31:10Z\"/></laps>");
        // Cut short: copying it in part would leave its elements open around the rest of the document.
        writeFile(GHTraceLog::getTraceLogWRK(RIDE), "<wrklog id=\"1\"><interval order=\"1\">");
    }

    QByteArray exported(GHTrackDP& provider)
    {
        const QString path = m_scratch->path() + QLatin1String("/out.gpx");
        GHGpxWriter writer(QStringLiteral("2.0"), &provider);
        if (!writer.writeFile(path))
            return QByteArray();
        return GHTestSqlite::readAll(path);
    }

private slots:
    void initTestCase() { m_zone.reset(new JXTimeZoneGuard("XST-2")); }

    void init()
    {
        QVERIFY(startScratch());
        const QByteArray script = shippedScript();
        QVERIFY(!script.isEmpty());
        QVERIFY(GHTestSqlite::writeAll(routeSql(), script));
        GHTraceLog::setSystemVersion(QStringLiteral("GH2.0.1.3 JX7"));
        GHTraceLog::setModelName(QStringLiteral("Zelto50"));
        GHDeviceDB::setHomeDir(m_flash, m_card, m_scratch->path() + QLatin1String("/out"));
        GHTraceLog::setHomeDir(m_scratch->path() + QLatin1String("/tracelog"));
    }

    void cleanup() { stopScratch(); }

    void goldenRide()
    {
        writeGoldenRide();
        GHTrackDP provider;
        QVERIFY(provider.readData(int(RIDE), false));
        // A 0.2.1.8 ride with a pause after its second point and one after its last; the second sensor record has
        // only a GPS speed, the third a negative temperature and barometer value. Written by hand from the format.
        const QByteArray golden = GHTestSqlite::readAll(QFINDTESTDATA("gpx/storedride.gpx"));
        QVERIFY(!golden.isEmpty());
        QCOMPARE(QString::fromUtf8(exported(provider)), QString::fromUtf8(golden));

        if (!GHTestXml::available())
            QSKIP("xmllint is not installed");
        QCOMPARE(lint(m_scratch->path() + QLatin1String("/out.gpx")), QString());
    }

    void gettersOfTheGoldenRide()
    {
        writeGoldenRide();
        GHTrackDP provider;
        QVERIFY(provider.readData(int(RIDE), false));

        QMap<QString, QString> meta;
        provider.getMetaData(meta);
        QCOMPARE(meta.value(QStringLiteral("bounds_minlat")), QStringLiteral("-0.001"));
        QCOMPARE(meta.value(QStringLiteral("bounds_maxlon")), QStringLiteral("13.402"));
        QCOMPARE(meta.value(QStringLiteral("x_stime")), QString::number(START));
        QCOMPARE(meta.value(QStringLiteral("x_trvTime")), QStringLiteral("59"));
        QVERIFY(meta.contains(QStringLiteral("desc")));
        QVERIFY(meta.value(QStringLiteral("x_ectry")).isEmpty() && meta.contains(QStringLiteral("x_ectry")));

        QCOMPARE(provider.getRteCount(), 1);
        QCOMPARE(provider.getRteptCount(0), 2);
        QCOMPARE(provider.getRteptCount(1), 0);
        QMap<QString, QString> point;
        provider.getRteptData(0, 1, point);
        QCOMPARE(point.value(QStringLiteral("rtept_lat")), QStringLiteral("-0.001"));
        QCOMPARE(point.value(QStringLiteral("rtept_lon")), QStringLiteral("-2"));
        provider.getRteptData(0, 2, point);
        QCOMPARE(point.value(QStringLiteral("rtept_lat")), QStringLiteral("0"));

        QCOMPARE(provider.getTrkCount(), 1);
        QCOMPARE(provider.getTrkptCount(0, 0), 4);
        QMap<QString, QString> track;
        provider.getTrkptData(0, 0, 1, track);
        QCOMPARE(track.value(QStringLiteral("trkpt_lat")), QStringLiteral("52.501"));
        QCOMPARE(track.value(QStringLiteral("ele")), QStringLiteral("-0.5"));
        QCOMPARE(track.value(QStringLiteral("time")), QStringLiteral("2024-05-01T08:30:10Z"));
        QCOMPARE(track.value(QStringLiteral("x_speed")), QStringLiteral("600"));
        track.clear();
        provider.getTrkptData(0, 0, 4, track);
        QVERIFY(track.isEmpty());

        QVERIFY(provider.hasExtensions());
        QCOMPARE(provider.getLogptCount(), 3);
        QMap<QString, QString> log;
        provider.getLogptData(1, log);
        // The map keeps the GPS speed apart and leaves out what the record lacks.
        QCOMPARE(log.value(QStringLiteral("gps")), QStringLiteral("36.0"));
        QVERIFY(!log.contains(QStringLiteral("spd")) && !log.contains(QStringLiteral("brm")));
        log.clear();
        provider.getLogptData(0, log);
        QCOMPARE(log.value(QStringLiteral("brm")), QStringLiteral("1013.25"));
        QCOMPARE(log.value(QStringLiteral("pwr")), QStringLiteral("250"));
        QCOMPARE(log.value(QStringLiteral("pdm")), QStringLiteral("7"));
    }

    // Logs up to 0.2.1.2 count whole metres, kilometres per hour and whole barometer units, and store Unix times.
    void oldUnits()
    {
        insertRide(RIDE, "'Old'");
        writeFile(GHTraceLog::getTraceLogGPS(RIDE), gpsHeader("0.2.1.1") + trackPoint(1000000, 2000000, START, 120) +
                                                        trackPoint(1100000, 2000000, START + 5, 121));
        writeFile(GHTraceLog::getTraceLogTRN(RIDE),
                  sensorHeader("0.2.1.1") + sensorRecord({START, 255, 255, 25, 32767, 40, 120, 0, 0xFFFF}));
        GHTrackDP provider;
        QVERIFY(provider.readData(int(RIDE), false));
        const QString gpx = QString::fromUtf8(exported(provider));
        QVERIFY2(gpx.contains(QLatin1String("<ele>120</ele>")), qPrintable(gpx));
        QVERIFY(gpx.contains(QLatin1String("<time>2024-05-01T08:30:05Z</time>")));
        QVERIFY(gpx.contains(QLatin1String("<spd>25.0</spd>")));
        QVERIFY(gpx.contains(QLatin1String("<brm>1.20</brm>")));
        // Before 0.2.1.7 the header's device version is not the ride's: the current text stands, unchanged.
        QVERIFY(gpx.contains(QLatin1String("<sys version=\"GH2.0.1.3 JX7\">")));

        QMap<QString, QString> log;
        provider.getLogptData(0, log);
        QCOMPARE(log.value(QStringLiteral("brm")), QStringLiteral("120"));
        QCOMPARE(log.value(QStringLiteral("spd")), QStringLiteral("25.0"));
        QVERIFY(!log.contains(QStringLiteral("pwr")));
        QMap<QString, QString> track;
        provider.getTrkptData(0, 0, 0, track);
        QCOMPARE(track.value(QStringLiteral("ele")), QStringLiteral("120"));
    }

    // No row: no metadata; one track point: no route, no track; no sensor record: no extensions, side files unread.
    void sparseRide()
    {
        writeFile(GHTraceLog::getTraceLogGPS(RIDE), gpsHeader("0.2.1.8") + trackPoint(-33000000, 151000000, 0));
        writeFile(GHTraceLog::getTraceLogTRN(RIDE), sensorHeader("0.2.1.8"));
        writeFile(GHTraceLog::getTraceLogSTA(RIDE), "<laps/>");
        GHTrackDP provider;
        QVERIFY(provider.readData(int(RIDE), false));
        const QString gpx = QString::fromUtf8(exported(provider));
        for (const char* absent : {"<metadata", "<rte", "<trk", "<extensions", "<laps"})
            QVERIFY2(!gpx.contains(QLatin1String(absent)), absent);

        QMap<QString, QString> meta;
        provider.getMetaData(meta);
        QVERIFY(meta.isEmpty());
        QCOMPARE(provider.getRteCount(), 0);
        QCOMPARE(provider.getTrkCount(), 1);
        QVERIFY(!provider.hasExtensions());
        QMap<QString, QString> point;
        provider.getRteptData(0, 0, point);
        QCOMPARE(point.value(QStringLiteral("rtept_lat")), QStringLiteral("-33"));
        provider.getRteptData(0, 1, point);
        QCOMPARE(point.value(QStringLiteral("rtept_lat")), QStringLiteral("0"));
    }

    // A sys version with one word, or whose second word is not a device code, adds nothing to the log's version.
    void sysVersion_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("expected");
        QTest::newRow("device code") << "GH2.0.1.3 JX7" << "1.0.3.2 JX7";
        QTest::newRow("one word") << "GH2.0.1.3" << "1.0.3.2";
        QTest::newRow("other word") << "GH2.0.1.3 jx7" << "1.0.3.2";
        QTest::newRow("three words") << "GH2.0.1.3 JX7 x" << "1.0.3.2";
    }

    void sysVersion()
    {
        QFETCH(QString, current);
        QFETCH(QString, expected);
        insertRide(RIDE, "'Sys'");
        writeFile(GHTraceLog::getTraceLogGPS(RIDE), gpsHeader("0.2.1.8") + trackPoint(1, 1, 0));
        writeFile(GHTraceLog::getTraceLogTRN(RIDE), sensorHeader("0.2.1.8"));
        GHTraceLog::setSystemVersion(current);
        GHTrackDP provider;
        QVERIFY(provider.readData(int(RIDE), false));
        const QString gpx = QString::fromUtf8(exported(provider));
        QVERIFY2(gpx.contains(QStringLiteral("<sys version=\"%1\">").arg(expected)), qPrintable(gpx));
    }

    void routeMeta()
    {
        QVERIFY(GHTestSqlite::run(routeDb(), "INSERT INTO Route (idRoute, Title, TravelTime, TotalLength) "
                                             "VALUES (7, 'Loop', 95, 31000);"));
        GHTrackDP provider;
        QMap<QString, QString> meta;
        provider.getRouteMeta(meta);
        QVERIFY(meta.isEmpty());
        QVERIFY(provider.readRouteOverview(GHId(7, GHId::FLASH)));
        provider.getRouteMeta(meta);
        QCOMPARE(meta.value(QStringLiteral("name")), QStringLiteral("Loop"));
        QCOMPARE(meta.value(QStringLiteral("x_trvTime")), QStringLiteral("95"));
        QCOMPARE(meta.value(QStringLiteral("x_trvDist")), QStringLiteral("31000"));
    }
};

QTEST_GUILESS_MAIN(TestGHTrackDPExport)
#include "tst_ghtrackdpexport.moc"
