#include <QtTest>

#include <QDateTime>
#include <QTemporaryDir>

#include <memory>

#include <time.h>

#include "ghtestdevicehomes.h"
#include "ghtestsqlite.h"
#include "jxrealmount.h"
#include "search/ghdevicedb.h"
#include "search/ghid.h"
#include "util/ghtracelog.h"
#include "util/ghtrackdp.h"

namespace {

// Logs are spelled out byte by byte from the file layout, never produced by our logger.
QByteArray be32(quint32 value)
{
    const char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, 4);
}

QByteArray be16(quint16 value)
{
    const char bytes[2] = {char(value >> 8), char(value)};
    return QByteArray(bytes, 2);
}

QByteArray padded(const char* text, int size)
{
    QByteArray field(text);
    field.resize(size);
    for (int i = int(qstrlen(text)); i < size; ++i)
        field[i] = 0;
    return field;
}

// A header of the given format ("0.2.1.8"); times and count are written as zero, as a live log has them.
QByteArray header(const char* type, const QString& version, const char* systemVersion = "1.0.3.2")
{
    QByteArray bytes = padded(type, 16);
    for (const QString& part : version.split(QLatin1Char('.')))
        bytes += char(part.toInt());
    bytes += QByteArray(12, 0);
    bytes += padded(systemVersion, 16);
    bytes += QByteArray(4, 0);
    return bytes;
}

QByteArray gpsHeader(const QString& version, const char* systemVersion = "1.0.3.2")
{
    return header("gps track", version, systemVersion);
}

QByteArray sensorHeader(const QString& version)
{
    return header("sensor value", version);
}

QByteArray trackPoint(qint32 lat, qint32 lon, quint32 time, qint16 flag = 0)
{
    return be32(quint32(lon)) + be32(quint32(lat)) + be16(1234) + be16(90) + be16(600) + be16(quint16(flag)) +
           be32(time);
}

QByteArray routePoint(qint32 lat, qint32 lon)
{
    return trackPoint(lat, lon, 0, qint16(0x8002));
}

QByteArray gpsEvent(quint32 code, quint32 time)
{
    return be32(code) + be32(0) + be16(0) + be16(0) + be16(0) + be16(0xFFFF) + be32(time);
}

// 22 bytes; with extended, the 10 further bytes of the newer format.
QByteArray sensorRecord(quint32 time, quint8 hrm, bool extended = false)
{
    QByteArray bytes =
        be32(time) + char(hrm) + char(80) + be16(500) + be16(21) + be16(250) + be32(101325) + be32(7) + be16(510);
    if (extended)
        bytes += be32(0x01020304) + QByteArray::fromHex("fffe03040506");
    return bytes;
}

QByteArray sensorEvent(quint32 code, quint32 time)
{
    return be32(time) + char(0xFE) + char(0xFE) + be16(0) + be16(0) + be16(0) + be32(0) + be32(code) + be16(0);
}

quint32 utc(const char* text)
{
    return quint32(QDateTime::fromString(QLatin1String(text), Qt::ISODate).toSecsSinceEpoch());
}

const quint32 PAUSE = 0x00010000;
const quint32 RESUME_KIND = 0x00020000;

} // namespace

class TestGHTrackDP : public GHTestDeviceHomes
{
    Q_OBJECT

private:
    QString routeDb(const QString& home) const { return home + QLatin1String("/data/route/route.dat"); }

    void writeRide(quint32 id, const QByteArray& gps, const QByteArray& sensor)
    {
        QVERIFY(GHTestSqlite::writeAll(GHTraceLog::getTraceLogGPS(id), gps));
        QVERIFY(GHTestSqlite::writeAll(GHTraceLog::getTraceLogTRN(id), sensor));
    }

    void insertRide(quint32 id, quint32 startTime)
    {
        QVERIFY(GHTestSqlite::run(routeDb(m_flash),
                                  QStringLiteral("INSERT INTO TraceLog (idRoute, Title, Abstract, CreateTime, Author, "
                                                 "LDLat, LDLon, RTLat, RTLon, StartCountry, EndCountry, StartPlace, "
                                                 "EndPlace, ActivityType, RouteType, StartTime, EndTime, "
                                                 "TotalLength) VALUES (%1, 'Ride %1', 'abs', %1, 'me', 1, 2, 3, 4, "
                                                 "'DE', 'AT', 'Here', 'There', 2, 3, %2, %3, 12345);")
                                      .arg(id)
                                      .arg(startTime)
                                      .arg(startTime + 3600)
                                      .toUtf8()));
    }

    // A provider's members are its only outputs until the GPX side lands; the test reads them as a friend.
    static const QVector<GHPSFRecord>& track(const GHTrackDP& dp) { return dp.m_trackPoints; }
    static const QVector<GHPSFRecord>& route(const GHTrackDP& dp) { return dp.m_routePoints; }
    static const QVector<GHPSFSensorRecord>& sensors(const GHTrackDP& dp) { return dp.m_sensorRecords; }
    static const QVector<QVariant>& trackOverview(const GHTrackDP& dp) { return dp.m_trackOverview; }
    static const QVector<QVariant>& routeOverview(const GHTrackDP& dp) { return dp.m_routeOverview; }
    static QString systemVersion(const GHTrackDP& dp) { return dp.m_systemVersion; }
    static QVector<int> bounds(const GHTrackDP& dp) { return {dp.m_minLat, dp.m_minLon, dp.m_maxLat, dp.m_maxLon}; }

    // A log of its header, recordBytes of records that are holes of zeros ending in last.
    void writeSparse(const QString& path, const QByteArray& start, qint64 recordBytes, const QByteArray& last)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(start), qint64(start.size()));
        QVERIFY(file.seek(start.size() + recordBytes - last.size()));
        QCOMPARE(file.write(last), qint64(last.size()));
    }

private slots:
    void initTestCase()
    {
        // Two hours east of UTC, so that local and UTC days differ in the evening.
        qputenv("TZ", "XST-2");
        tzset();
    }

    void init()
    {
        QVERIFY(startScratch());
        const QByteArray script = shippedScript();
        QVERIFY(!script.isEmpty());
        QVERIFY(GHTestSqlite::writeAll(routeSql(), script));
        QVERIFY(GHTestSqlite::build(routeDb(m_card), script));
        GHTraceLog::setSystemVersion(kCurrentVersion);
        GHDeviceDB::setHomeDir(m_flash, m_card, m_scratch->path() + QLatin1String("/out"));
        QVERIFY(QFileInfo::exists(routeDb(m_flash)));
        GHTraceLog::setHomeDir(m_scratch->path() + QLatin1String("/tracelog"));
        GHPSFRecord::timebase = 0;
        GHPSFSensorRecord::timebase = 0;
    }

    void cleanup() { stopScratch(); }

    void overviewRows()
    {
        insertRide(1000, 1600000000);
        QVERIFY(GHTestSqlite::run(routeDb(m_card), "INSERT INTO TraceLog (idRoute, Title) VALUES (1000, 'card');"
                                                   "INSERT INTO Route (idRoute, Title, TravelTime, TotalLength) "
                                                   "VALUES (7, 'Loop', 95, 31000);"));

        GHTrackDP flash;
        QVERIFY(flash.readTrackOverview(GHId(1000, GHId::FLASH)));
        const QVector<QVariant>& row = trackOverview(flash);
        QCOMPARE(row.size(), 17);
        QCOMPARE(row.at(0).toString(), QStringLiteral("Ride 1000"));
        QCOMPARE(row.at(4).toInt(), 1);
        QCOMPARE(row.at(8).toString(), QStringLiteral("DE"));
        QCOMPARE(row.at(12).toInt(), 2);
        QCOMPARE(row.at(14).toLongLong(), 1600000000LL);
        QCOMPARE(row.at(16).toInt(), 12345);

        GHTrackDP card;
        QVERIFY(card.readTrackOverview(GHId(1000, GHId::STORAGE)));
        QCOMPARE(trackOverview(card).at(0).toString(), QStringLiteral("card"));
        QVERIFY(trackOverview(card).at(14).isNull());

        GHTrackDP missing;
        QVERIFY(!missing.readTrackOverview(GHId(1001, GHId::FLASH)));
        QVERIFY(!missing.readTrackOverview(GHId(1000, GHId::DBLOC(2))));
        QVERIFY(trackOverview(missing).isEmpty());
        QVERIFY(!missing.readRouteOverview(GHId(7, GHId::FLASH)));

        GHTrackDP routeDp;
        QVERIFY(routeDp.readRouteOverview(GHId(7, GHId::STORAGE)));
        QCOMPARE(routeOverview(routeDp), (QVector<QVariant>{QStringLiteral("Loop"), 95, 31000}));
    }

    // Events before the first fix, pause marks, route points and the time base of a ride, on both logs.
    void rideRecords()
    {
        const quint32 start = utc("2021-03-01T10:00:00Z");
        insertRide(1000, start);
        QByteArray gps = gpsHeader(QStringLiteral("0.2.1.8")) + gpsEvent(PAUSE, 1) + gpsEvent(RESUME_KIND, 2);
        for (int i = 0; i < 10; ++i)
            gps += trackPoint(48000000 + 1000 * i, 11000000, 10 + quint32(i));
        gps += gpsEvent(PAUSE, 20) + trackPoint(48020000, 11000000, 30) + gpsEvent(RESUME_KIND, 31) +
               routePoint(48100000, 11100000) + trackPoint(48030000, 11000000, 40);
        QByteArray sensor = sensorHeader(QStringLiteral("0.2.1.8")) + sensorEvent(PAUSE, 1) + sensorRecord(10, 120) +
                            sensorRecord(11, 121) + sensorEvent(PAUSE, 12) + sensorEvent(RESUME_KIND, 13) +
                            sensorRecord(14, 122);
        writeRide(1000, gps, sensor);

        GHTrackDP dp;
        QVERIFY(dp.readData(1000, false));
        QCOMPARE(dp.getLogVersion(), QStringLiteral("0.2.1.8"));
        QCOMPARE(systemVersion(dp), QStringLiteral("1.0.3.2"));
        QCOMPARE(trackOverview(dp).size(), 17);
        const QVector<GHPSFRecord>& points = track(dp);
        QCOMPARE(points.size(), 12);
        for (int i = 0; i < points.size(); ++i)
            QCOMPARE(points.at(i).marks, quint32(i == 9 ? 1 : 0));
        QCOMPARE(points.first().time, start + 10);
        QCOMPARE(points.last().time, start + 40);
        QCOMPARE(points.first().altitude, qint16(1234));
        QCOMPARE(route(dp).size(), 1);
        QCOMPARE(route(dp).first().latitude, 48100000);
        QCOMPARE(route(dp).first().time, start);
        QCOMPARE(bounds(dp), (QVector<int>{48000000, 11000000, 48030000, 11000000}));

        const QVector<GHPSFSensorRecord>& records = sensors(dp);
        QCOMPARE(records.size(), 3);
        QCOMPARE(records.at(0).time, start + 10);
        QCOMPARE(records.at(1).marks, 1u);
        QCOMPARE(records.at(2).marks, 0u);
        QCOMPARE(records.at(2).hrm, quint8(122));
        QCOMPARE(records.at(2).brm, 101325);
        QCOMPARE(records.at(2).gps, quint16(510));
    }

    void thinning_data()
    {
        QTest::addColumn<bool>("thin");
        QTest::addColumn<int>("latStep");
        QTest::addColumn<int>("lonStep");
        QTest::addColumn<int>("kept");

        // Three points, each a step from the one before; a dropped second point leaves the third two steps from
        // the first one kept.
        QTest::newRow("500 apart: thinned") << true << 300 << 200 << 2;
        QTest::newRow("500 apart, southwest: thinned") << true << -300 << -200 << 2;
        QTest::newRow("501 apart: kept") << true << 300 << 201 << 3;
        QTest::newRow("550 apart: kept") << true << 300 << 250 << 3;
        QTest::newRow("without thinning") << false << 10 << 10 << 3;
        QTest::newRow("far apart over the date line") << true << 0 << -359999999 << 3;
    }

    void thinning()
    {
        QFETCH(bool, thin);
        QFETCH(int, latStep);
        QFETCH(int, lonStep);
        QFETCH(int, kept);
        const QString path = m_scratch->path() + QLatin1String("/thin.dat");
        QVERIFY(GHTestSqlite::writeAll(path, gpsHeader(QStringLiteral("0.2.1.1")) + trackPoint(1000000, 179999999, 1) +
                                                 trackPoint(1000000 + latStep, 179999999 + lonStep, 2) +
                                                 trackPoint(1000000 + 2 * latStep, 179999999 + 2 * lonStep, 3)));
        GHTrackDP dp;
        QDate date;
        QVERIFY(dp.readGpsData(path, thin, date));
        QCOMPARE(track(dp).size(), kept);
        QCOMPARE(track(dp).last().time, 3u);
        QCOMPARE(bounds(dp).at(2), 1000000 + qMax(0, 2 * latStep));
    }

    void routeOnlyAndSinglePoint()
    {
        const QString routeOnly = m_scratch->path() + QLatin1String("/route.dat");
        QVERIFY(GHTestSqlite::writeAll(routeOnly, gpsHeader(QStringLiteral("0.2.1.8")) + routePoint(1, 2) +
                                                      routePoint(3, 4) + routePoint(5, 6)));
        GHTrackDP routeDp;
        QDate date;
        QVERIFY(routeDp.readGpsData(routeOnly, true, date));
        QVERIFY(track(routeDp).isEmpty());
        QCOMPARE(route(routeDp).size(), 3);
        QVERIFY(date.isNull());
        QCOMPARE(bounds(routeDp), (QVector<int>{90000000, 180000000, -90000000, -180000000}));

        const QString single = m_scratch->path() + QLatin1String("/single.dat");
        QVERIFY(
            GHTestSqlite::writeAll(single, gpsHeader(QStringLiteral("0.2.1.8")) + trackPoint(-33900000, 151200000, 5)));
        GHTrackDP singleDp;
        QVERIFY(singleDp.readGpsData(single, true, date));
        QCOMPARE(bounds(singleDp), (QVector<int>{-33900000, 151200000, -33900000, 151200000}));
        QCOMPARE(date, QDate(1970, 1, 1));
    }

    void timeBases_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("withRow");
        QTest::addColumn<bool>("relative");
        QTest::addColumn<QString>("systemVersion");

        QTest::newRow("0.2.1.1: Unix times") << "0.2.1.1" << true << false << "";
        QTest::newRow("0.2.1.4: from StartTime") << "0.2.1.4" << true << true << "";
        QTest::newRow("0.2.1.8: from StartTime, device version") << "0.2.1.8" << true << true << "1.0.3.2";
        QTest::newRow("0.2.1.9") << "0.2.1.9" << true << true << "1.0.3.2";
        // Compared as texts, as the devices do: "0.2.1.10" sorts below "0.2.1.4".
        QTest::newRow("0.2.1.10 sorts as old") << "0.2.1.10" << true << false << "";
        QTest::newRow("0.2.1.8 without a row: no base") << "0.2.1.8" << false << false << "1.0.3.2";
    }

    void timeBases()
    {
        QFETCH(QString, version);
        QFETCH(bool, withRow);
        QFETCH(bool, relative);
        QFETCH(QString, systemVersion);
        const quint32 start = utc("2021-06-01T08:00:00Z");
        const quint32 stored = utc("2021-06-01T09:00:00Z");
        if (withRow)
            insertRide(2000, start);
        const bool extended = version.section(QLatin1Char('.'), 3).toInt() >= 9;
        writeRide(2000, gpsHeader(version) + trackPoint(1, 1, stored),
                  sensorHeader(version) + sensorRecord(stored, 100, extended));
        // What an earlier ride left behind must not leak into this one.
        GHPSFRecord::timebase = 999;
        GHPSFSensorRecord::timebase = 999;

        GHTrackDP dp;
        QVERIFY(dp.readData(2000, false));
        const quint32 expected = relative ? start + stored : stored;
        QCOMPARE(track(dp).size(), 1);
        QCOMPARE(track(dp).first().time, expected);
        QCOMPARE(sensors(dp).size(), 1);
        QCOMPARE(sensors(dp).first().time, expected);
        QCOMPARE(TestGHTrackDP::systemVersion(dp), systemVersion);
    }

    // A shared route is read without a ride row; its stored times are Unix times and stay so after a ride.
    void routeAfterRide()
    {
        const quint32 start = utc("2021-06-01T08:00:00Z");
        insertRide(3000, start);
        writeRide(3000, gpsHeader(QStringLiteral("0.2.1.8")) + trackPoint(1, 1, 60),
                  sensorHeader(QStringLiteral("0.2.1.8")));
        {
            GHTrackDP ride;
            QVERIFY(ride.readData(3000, false));
            QCOMPARE(track(ride).first().time, start + 60);
        }
        QVERIFY(GHTestSqlite::run(routeDb(m_flash), "INSERT INTO Route (idRoute, Title, TravelTime, TotalLength) "
                                                    "VALUES (5, 'shared', 30, 9000);"));
        const QString routeFile = m_flash + QLatin1String("/data/route/route-5.gpx");
        const quint32 pointTime = utc("2020-01-02T03:04:05Z");
        QVERIFY(GHTestSqlite::writeAll(routeFile, gpsHeader(QStringLiteral("0.2.1.8")) + trackPoint(2, 2, pointTime) +
                                                      routePoint(3, 3)));
        GHTrackDP route;
        QVERIFY(route.readRouteOverview(GHId(5, GHId::FLASH)));
        QDate date;
        QVERIFY(route.readGpsData(routeFile, false, date));
        QCOMPARE(track(route).first().time, pointTime);
        QCOMPARE(TestGHTrackDP::route(route).first().time, 0u);
    }

    void cutLogs_data()
    {
        QTest::addColumn<bool>("sensorLog");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("records");

        const QByteArray gpsFull = gpsHeader(QStringLiteral("0.2.1.8")) + trackPoint(1, 1, 1) + trackPoint(1, 9000, 2);
        const QByteArray sensorFull =
            sensorHeader(QStringLiteral("0.2.1.9")) + sensorRecord(1, 100, true) + sensorRecord(2, 101, true);
        QTest::newRow("gps: truncated last record") << false << gpsFull + trackPoint(5, 5, 3).left(19) << true << 2;
        QTest::newRow("gps: header only") << false << gpsHeader(QStringLiteral("0.2.1.8")) << true << 0;
        QTest::newRow("gps: short header") << false << gpsHeader(QStringLiteral("0.2.1.8")).left(51) << false << 0;
        QTest::newRow("gps: empty file") << false << QByteArray() << false << 0;
        QTest::newRow("gps: format 0.3") << false << gpsHeader(QStringLiteral("0.3.0.0")) + trackPoint(1, 1, 1) << false
                                         << 0;
        QTest::newRow("sensor: truncated last record")
            << true << sensorFull + sensorRecord(3, 102, true).left(31) << true << 2;
        QTest::newRow("sensor: 22-byte record in a 32-byte log")
            << true << sensorFull + sensorRecord(3, 102, false) << true << 2;
        QTest::newRow("sensor: header only") << true << sensorHeader(QStringLiteral("0.2.1.9")) << true << 0;
        QTest::newRow("sensor: short header") << true << sensorHeader(QStringLiteral("0.2.1.9")).left(40) << false << 0;
    }

    void cutLogs()
    {
        QFETCH(bool, sensorLog);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, result);
        QFETCH(int, records);
        const QString path = m_scratch->path() + QLatin1String("/cut.dat");
        QVERIFY(GHTestSqlite::writeAll(path, bytes));
        GHTrackDP dp;
        QDate date;
        QCOMPARE(sensorLog ? dp.readSensorData(path, date) : dp.readGpsData(path, false, date), result);
        QCOMPARE(sensorLog ? sensors(dp).size() : track(dp).size(), records);
    }

    void missingLogs()
    {
        GHTrackDP dp;
        QDate date;
        QVERIFY(!dp.readGpsData(m_scratch->path() + QLatin1String("/none.dat"), false, date));
        QVERIFY(!dp.readSensorData(m_scratch->path() + QLatin1String("/none.dat"), date));
        // A ride whose sensor log is gone is not read; one whose row is gone is.
        writeRide(4000, gpsHeader(QStringLiteral("0.2.1.1")) + trackPoint(1, 1, 1),
                  sensorHeader(QStringLiteral("0.2.1.1")));
        GHTrackDP withoutRow;
        QVERIFY(withoutRow.readData(4000, false));
        QCOMPARE(track(withoutRow).size(), 1);
        QVERIFY(trackOverview(withoutRow).isEmpty());
        QVERIFY(QFile::remove(GHTraceLog::getTraceLogTRN(4000)));
        GHTrackDP withoutSensors;
        QVERIFY(!withoutSensors.readData(4000, false));
    }

    void sensorRecordSizes_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("extended");

        QTest::newRow("0.2.1.9: 32 bytes") << "0.2.1.9" << true << true;
        QTest::newRow("0.2.2.0: 32 bytes") << "0.2.2.0" << true << true;
        QTest::newRow("0.2.1.8: 22 bytes") << "0.2.1.8" << true << false;
        QTest::newRow("0.2.1.1: 22 bytes") << "0.2.1.1" << true << false;
        QTest::newRow("0.2.1.0: refused") << "0.2.1.0" << false << false;
        QTest::newRow("0.2.0.0: refused") << "0.2.0.0" << false << false;
    }

    void sensorRecordSizes()
    {
        QFETCH(QString, version);
        QFETCH(bool, accepted);
        QFETCH(bool, extended);
        const QString path = m_scratch->path() + QLatin1String("/trn.dat");
        QVERIFY(GHTestSqlite::writeAll(path, sensorHeader(version) + sensorRecord(100, 90, extended) +
                                                 sensorRecord(200, 91, extended)));
        GHTrackDP dp;
        QCOMPARE(dp.readSensorData(path, QDate()), accepted);
        if (!accepted) {
            QVERIFY(sensors(dp).isEmpty());
            return;
        }
        // Without a GPS day every record stays.
        QCOMPARE(sensors(dp).size(), 2);
        const GHPSFSensorRecord& second = sensors(dp).at(1);
        QCOMPARE(second.time, 200u);
        QCOMPARE(second.hrm, quint8(91));
        QCOMPARE(second.tmp, qint16(21));
        QCOMPARE(second.pdm, 7u);
        QCOMPARE(second.extValue, extended ? 0x01020304 : 0);
        QCOMPARE(second.extBytes[0], qint8(extended ? -1 : 0));
        QCOMPARE(second.extBytes[5], qint8(extended ? 6 : 0));
    }

    // Sensor records start on the local day of the first GPS fix; TZ puts that day two hours ahead of UTC.
    void sensorDayFilter()
    {
        const quint32 firstFix = utc("2021-03-01T22:30:00Z"); // 00:30 on 2 March, local
        writeRide(5000,
                  gpsHeader(QStringLiteral("0.2.1.1")) + gpsEvent(PAUSE, firstFix - 100) + trackPoint(1, 1, firstFix),
                  sensorHeader(QStringLiteral("0.2.1.1")) +
                      sensorRecord(utc("2021-03-01T21:50:00Z"), 1) // 23:50 on 1 March: dropped
                      + sensorEvent(PAUSE, utc("2021-03-01T21:55:00Z")) +
                      sensorRecord(utc("2021-03-01T22:10:00Z"), 2)   // 00:10 on 2 March: the first kept
                      + sensorRecord(utc("2021-03-01T21:00:00Z"), 3) // then every day is kept
                      + sensorEvent(PAUSE, utc("2021-03-01T22:40:00Z")) + sensorRecord(utc("2021-03-05T10:00:00Z"), 4));
        GHTrackDP dp;
        QVERIFY(dp.readData(5000, false));
        QCOMPARE(track(dp).size(), 1);
        QCOMPARE(track(dp).first().marks, 0u);
        const QVector<GHPSFSensorRecord>& records = sensors(dp);
        QCOMPARE(records.size(), 3);
        QCOMPARE(records.at(0).hrm, quint8(2));
        QCOMPARE(records.at(0).marks, 0u);
        QCOMPARE(records.at(1).hrm, quint8(3));
        QCOMPARE(records.at(1).marks, 1u);
        QCOMPARE(records.at(2).hrm, quint8(4));
    }

    // Logs far larger than what is kept: 2 GiB of GPS records, thinned, and 1.25 GiB of sensor records before the
    // ride's day. Written sparse on a tmpfs of 1 MiB, so the records between the first and the last are holes that
    // read as zeros and take neither disk nor memory.
    void largeSparseLogs()
    {
        if (!JXRealMount::isPossible())
            QSKIP("needs root for a tmpfs");
        const QString folder = m_scratch->path() + QLatin1String("/sparse");
        QVERIFY(QDir().mkpath(folder));
        JXRealMount mount;
        QVERIFY(mount.mountTmpfs(folder, QStringLiteral("1m")));

        const quint32 rideTime = utc("2021-03-02T08:00:00Z");
        const QString gpsPath = folder + QLatin1String("/large-GPS.dat");
        writeSparse(gpsPath, gpsHeader(QStringLiteral("0.2.1.1")) + trackPoint(47000000, 8000000, rideTime),
                    (qint64(2) << 30) / 20 * 20, trackPoint(46000000, 7000000, rideTime + 60));
        GHTrackDP dp;
        QDate date;
        QVERIFY(dp.readGpsData(gpsPath, true, date));
        // The first point, the first zero record (far from it), then only the last point is far enough.
        QCOMPARE(track(dp).size(), 3);
        QCOMPARE(track(dp).last().latitude, 46000000);
        QVERIFY(track(dp).capacity() < 100000);
        QCOMPARE(date, QDate(2021, 3, 2));
        QVERIFY(QFile::remove(gpsPath));

        const QString sensorPath = folder + QLatin1String("/large-TRN.dat");
        writeSparse(sensorPath, sensorHeader(QStringLiteral("0.2.1.8")), (qint64(5) << 28) / 22 * 22,
                    sensorRecord(rideTime + 30, 7));
        QVERIFY(dp.readSensorData(sensorPath, date));
        QCOMPARE(sensors(dp).size(), 1);
        QCOMPARE(sensors(dp).first().hrm, quint8(7));
    }

    void noWaypoints()
    {
        GHTrackDP dp;
        QMap<QString, QString> data{{QStringLiteral("keep"), QStringLiteral("me")}};
        dp.getWptData(0, data);
        QCOMPARE(dp.getWptCount(), 0);
        QCOMPARE(data.size(), 1);
        QVERIFY(dp.getLogVersion().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestGHTrackDP)
#include "tst_ghtrackdp.moc"
