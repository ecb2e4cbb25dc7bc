#include <QtTest>

#include <QRegularExpression>
#include <QtEndian>
#include <QTemporaryDir>

#include <memory>

#include "jxrealmount.h"
#include "jxtimezoneguard.h"
#include "util/ghbinarylogger.h"
#include "util/ghgpx2.h"
#include "util/ghgpxroute.h"
#include "util/ghgpxtrack.h"
#include "util/ghtimetext.h"

namespace {

// Expected records written out field by field from the GPS record layout (big-endian: longitude, latitude,
// altitude, bearing, speed, type flag, time), never produced by the writer.
const char* const SEGMENTS_AND_ROUTE_HEX[] = {
    // first segment: lon -0.125, lat 51.5, 123.5 m, 270 degrees, 36 km/h = 600 m/min, no type, 2024-02-29T12:34:56Z
    "fffe17b8" "0311d3e0" "04d3" "010e" "0258" "0000" "65e079f0",
    // lon -0.25, lat 51.25, -12.5 m, -5 degrees, 18.5 km/h = 308 m/min, type "1,4", 2024-03-01T00:00:01Z
    "fffc2f70" "030e0350" "ff83" "fffb" "0134" "0005" "65e11a81",
    // lon 0, lat 51, nothing else: the none values
    "00000000" "030a32c0" "7fff" "7fff" "ffff" "0000" "00000000",
    // the same point again: another segment follows
    "00000000" "030a32c0" "7fff" "7fff" "ffff" "0040" "00000000",
    // (an empty segment: no repeat) last segment: lon 11.5, lat 48.75, zeros, type "3", 2024-03-01T00:00:05Z
    "00af79e0" "02e7ddb0" "0000" "0000" "0000" "0003" "65e11a85",
    // lon 11.625, lat 48.5, 7 m, 359 degrees, 7.2 km/h = 120 m/min; the last segment gets no repeat
    "00b16228" "02e40d20" "0046" "0167" "0078" "0000" "00000000",
    // route point of type "2": lon 151.25, lat -33.875
    "0903e450" "fdfb1bc8" "7fff" "7fff" "ffff" "8002" "00000000",
    // route point without anything
    "00000000" "00000000" "7fff" "7fff" "ffff" "8000" "00000000",
};

GHGpxTrackPoint* trackPoint(const char* lat, const char* lon, const char* ele = "", const char* magvar = "",
                            const char* speed = "", const char* type = "", const char* time = "")
{
    auto* point = new GHGpxTrackPoint;
    point->lat = QString::fromUtf8(lat);
    point->lon = QString::fromUtf8(lon);
    point->ele = QString::fromUtf8(ele);
    point->magvar = QString::fromUtf8(magvar);
    point->speed = QString::fromUtf8(speed);
    point->type = QString::fromUtf8(type);
    point->time = QString::fromUtf8(time);
    return point;
}

GHGpxRoutePoint* routePoint(const char* lat, const char* lon, const char* type)
{
    auto* point = new GHGpxRoutePoint;
    point->lat = QString::fromUtf8(lat);
    point->lon = QString::fromUtf8(lon);
    point->type = QString::fromUtf8(type);
    return point;
}

// A document whose track has the given segments.
std::unique_ptr<GHGpx2> trackDocument(const QVector<QVector<GHGpxTrackPoint*>>& segments)
{
    std::unique_ptr<GHGpx2> gpx(new GHGpx2);
    gpx->track = new GHGpxTrack;
    for (const QVector<GHGpxTrackPoint*>& points : segments) {
        gpx->track->addTrackSegment(new GHGpxTrackSegment);
        for (GHGpxTrackPoint* point : points)
            gpx->track->addTrackPoint(point);
    }
    return gpx;
}

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

quint32 countOf(const QByteArray& log)
{
    return qFromLittleEndian<quint32>(log.constData() + GHPSFHeader::COUNT_OFFSET);
}

} // namespace

class TestGHSaveGpsData : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_scratch;
    // Far from UTC, so that a time read through the local zone shows.
    std::unique_ptr<JXTimeZoneGuard> m_zone;

    QString pathOf(const QString& name) const { return m_scratch.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_scratch.isValid());
        m_zone.reset(new JXTimeZoneGuard("XST-2"));
    }

    void cleanupTestCase() { m_zone.reset(); }

    void segmentsAndRoute()
    {
        std::unique_ptr<GHGpx2> gpx = trackDocument(
            {{trackPoint("51.5", "-0.125", "123.5", "270", "36", "", "2024-02-29T12:34:56Z"),
              trackPoint(" 51.25", "-0.25 ", "-12.5", "-5", "+18.5", "1,4", "2024-03-01T00:00:01Z"),
              trackPoint("51", "0")},
             {},
             {trackPoint("48.75", "11.5", "0", "0", "0", "3", "2024-03-01T00:00:05Z"),
              trackPoint("48.5", "11.625", "7", "359", "7.2")}});
        gpx->route = new GHGpxRoute;
        gpx->route->addRoutePoint(routePoint("-33.875", "151.25", "2"));
        gpx->route->addRoutePoint(routePoint("", "", ""));

        GHPSFRecord::timebase = 99;
        const QString path = pathOf("route-7.gpx");
        QVERIFY(GHBinaryLogger::saveGpsData(path, *gpx));
        QCOMPARE(GHPSFRecord::timebase, 0u);

        const QByteArray log = contentsOf(path);
        const int records = int(sizeof SEGMENTS_AND_ROUTE_HEX / sizeof *SEGMENTS_AND_ROUTE_HEX);
        QCOMPARE(log.size(), GHPSFHeader::SIZE + records * GHPSFRecord::SIZE);
        QCOMPARE(log.left(9), QByteArray("gps track"));
        QCOMPARE(countOf(log), quint32(records));
        for (int i = 0; i < records; ++i)
            QCOMPARE(log.mid(GHPSFHeader::SIZE + i * GHPSFRecord::SIZE, GHPSFRecord::SIZE).toHex(),
                     QByteArray(SEGMENTS_AND_ROUTE_HEX[i]));
    }

    // One point between two good ones: its record, or none when the point is left out.
    void fieldLimits_data()
    {
        QTest::addColumn<QString>("lat");
        QTest::addColumn<QString>("lon");
        QTest::addColumn<QString>("ele");
        QTest::addColumn<QString>("magvar");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("warning");

        const QString saturated = QStringLiteral("beyond their field");
        const QString skipped = QStringLiteral("left out");
        const QString unreadable = QStringLiteral("no number or time");
        // lon 2, lat 1, then altitude, bearing, speed
        const QByteArray at = "001e8480" "000f4240";
        const QByteArray tail = "0000" "00000000";
        QTest::newRow("ele 4000 m") << "1" << "2" << "4000" << "" << "" << at + "7ffe7fffffff" + tail << saturated;
        QTest::newRow("ele 3276.7 m") << "1" << "2" << "3276.7" << "" << "" << at + "7ffe7fffffff" + tail
                                      << saturated;
        QTest::newRow("ele -4000 m") << "1" << "2" << "-4000" << "" << "" << at + "80007fffffff" + tail << saturated;
        QTest::newRow("ele inf") << "1" << "2" << "inf" << "" << "" << at + "7ffe7fffffff" + tail << saturated;
        QTest::newRow("ele not a number") << "1" << "2" << "12 m" << "" << "" << at + "7fff7fffffff" + tail
                                          << unreadable;
        QTest::newRow("speed huge") << "1" << "2" << "" << "" << "1e9" << at + "7fff7ffffffe" + tail << saturated;
        QTest::newRow("speed at the none value") << "1" << "2" << "" << "" << "3932.1" << at + "7fff7ffffffe" + tail
                                                 << saturated;
        QTest::newRow("speed negative") << "1" << "2" << "" << "" << "-5" << at + "7fff7fff0000" + tail << saturated;
        QTest::newRow("speed nan") << "1" << "2" << "" << "" << "nan" << at + "7fff7fffffff" + tail << unreadable;
        QTest::newRow("magvar huge") << "1" << "2" << "" << "100000" << "" << at + "7fff7ffeffff" + tail
                                     << saturated;
        QTest::newRow("magvar with a fraction") << "1" << "2" << "" << "12.9" << "" << at + "7fff000cffff" + tail
                                                << QString();
        // Single precision: 2147 x 1 000 000 rounds up to the next float.
        QTest::newRow("lat near the limit") << "2147" << "-2147" << "" << "" << ""
                                            << "80076100" "7ff89f00" "7fff7fffffff" + tail << QString();
        QTest::newRow("lat beyond 32 bits") << "2148" << "2" << "" << "" << "" << QByteArray() << skipped;
        QTest::newRow("lon beyond 32 bits") << "1" << "-2148" << "" << "" << "" << QByteArray() << skipped;
        QTest::newRow("lat nan") << "nan" << "2" << "" << "" << "" << QByteArray() << skipped;
        QTest::newRow("lat inf") << "inf" << "2" << "" << "" << "" << QByteArray() << skipped;
        QTest::newRow("lon -inf") << "1" << "-inf" << "" << "" << "" << QByteArray() << skipped;
        QTest::newRow("lat not a number") << "1,5" << "2" << "" << "" << "" << QByteArray() << skipped;
        QTest::newRow("lat not ASCII") << QStringLiteral("１") << "2" << "" << "" << "" << QByteArray() << skipped;
    }

    void fieldLimits()
    {
        QFETCH(QString, lat);
        QFETCH(QString, lon);
        QFETCH(QString, ele);
        QFETCH(QString, magvar);
        QFETCH(QString, speed);
        QFETCH(QByteArray, record);
        QFETCH(QString, warning);

        GHGpxTrackPoint* point = trackPoint("", "");
        point->lat = lat;
        point->lon = lon;
        point->ele = ele;
        point->magvar = magvar;
        point->speed = speed;
        // Two segments: a left-out last point must not be repeated either.
        std::unique_ptr<GHGpx2> gpx = trackDocument({{trackPoint("0", "0"), point}, {trackPoint("0", "0")}});
        const QByteArray origin = "00000000" "00000000" "7fff" "7fff" "ffff" "0000" "00000000";
        QByteArray repeat = record.isEmpty() ? origin : record;
        repeat.replace(2 * GHPSFRecord::TYPE_FLAG_OFFSET, 4, "0040");
        const QByteArray expected = origin + record + repeat + origin;

        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(warning)));
        const QString path = pathOf("limits-GPS.dat");
        QVERIFY(GHBinaryLogger::saveGpsData(path, *gpx));
        const QByteArray log = contentsOf(path);
        QCOMPARE(log.mid(GHPSFHeader::SIZE).toHex(), expected);
        QCOMPARE(countOf(log), quint32(expected.size() / 2 / GHPSFRecord::SIZE));
    }

    void nonAsciiFolder()
    {
        const QString folder = pathOf(QStringLiteral("Fahrt-ü"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/route-1.gpx");
        QVERIFY(GHBinaryLogger::saveGpsData(path, GHGpx2()));
        QCOMPARE(contentsOf(path).size(), GHPSFHeader::SIZE);

        std::unique_ptr<GHGpx2> gpx = trackDocument({{trackPoint("51.5", "-0.125")}});
        QVERIFY(GHBinaryLogger::saveGpsData(path, *gpx));
        const QByteArray log = contentsOf(path);
        QCOMPARE(log.mid(GHPSFHeader::SIZE).toHex(), QByteArray("fffe17b8" "0311d3e0" "7fff7fffffff" "0000" "00000000"));
        QCOMPARE(countOf(log), 1u);

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot create the ride log .*Fahrt-ü/missing/"));
        QVERIFY(!GHBinaryLogger::saveGpsData(folder + QStringLiteral("/missing/route-1.gpx"), *gpx));
    }

    // A full volume: false, and the header counts only records that are whole in the file.
    void fullVolume()
    {
        if (!JXRealMount::isPossible())
            QSKIP("mounting a small tmpfs needs root");
        const QString mountPoint = pathOf("small");
        QVERIFY(QDir().mkpath(mountPoint));
        JXRealMount mount;
        QVERIFY(mount.mountTmpfs(mountPoint, QStringLiteral("64k")));

        QVector<GHGpxTrackPoint*> points;
        for (int i = 0; i < 10000; ++i)
            points.append(trackPoint("51.5", "-0.125"));
        std::unique_ptr<GHGpx2> gpx = trackDocument({points});
        const QString path = mountPoint + QStringLiteral("/route-2.gpx");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot write the GPS log .*route-2.gpx"));
        QVERIFY(!GHBinaryLogger::saveGpsData(path, *gpx));

        const QByteArray log = contentsOf(path);
        const quint32 count = countOf(log);
        QVERIFY2(count > 0 && count < 10000, qPrintable(QString::number(count)));
        QVERIFY(log.size() >= GHPSFHeader::SIZE + int(count) * GHPSFRecord::SIZE);
        QVERIFY(log.size() < GHPSFHeader::SIZE + int(count + 1) * GHPSFRecord::SIZE);
        QCOMPARE(log.mid(GHPSFHeader::SIZE + int(count - 1) * GHPSFRecord::SIZE, GHPSFRecord::SIZE).toHex(),
                 QByteArray("fffe17b8" "0311d3e0" "7fff7fffffff" "0000" "00000000"));
    }

    void timeTexts_data()
    {
        QTest::addColumn<quint32>("seconds");
        QTest::addColumn<QString>("text");

        QTest::newRow("epoch") << 0u << "1970-01-01T00:00:00Z";
        QTest::newRow("leap day") << 951782400u << "2000-02-29T00:00:00Z";
        QTest::newRow("leap day of 2024") << 1709210096u << "2024-02-29T12:34:56Z";
        QTest::newRow("past 31 bits") << 2147483648u << "2038-01-19T03:14:08Z";
        QTest::newRow("last") << 4294967295u << "2106-02-07T06:28:15Z";
    }

    void timeTexts()
    {
        QFETCH(quint32, seconds);
        QFETCH(QString, text);
        QCOMPARE(tm_i2s(seconds), text);
        QCOMPARE(tm_s2i(text), seconds);
    }

    void malformedTimeTexts_data()
    {
        QTest::addColumn<QString>("text");

        QTest::newRow("empty") << "";
        QTest::newRow("no Z") << "2024-02-29T12:34:56";
        QTest::newRow("offset instead of Z") << "2024-02-29T12:34:56+02:00";
        QTest::newRow("fraction") << "2024-02-29T12:34:56.5Z";
        QTest::newRow("blank for T") << "2024-02-29 12:34:56Z";
        QTest::newRow("lower-case z") << "2024-02-29T12:34:56z";
        QTest::newRow("29 February 2023") << "2023-02-29T12:34:56Z";
        QTest::newRow("31 April") << "2024-04-31T00:00:00Z";
        QTest::newRow("month 13") << "2024-13-01T00:00:00Z";
        QTest::newRow("day 0") << "2024-01-00T00:00:00Z";
        QTest::newRow("hour 24") << "2024-01-01T24:00:00Z";
        QTest::newRow("second 60") << "2024-01-01T23:59:60Z";
        QTest::newRow("sign in a field") << "2024-+1-01T00:00:00Z";
        QTest::newRow("not ASCII digits") << QStringLiteral("２０２４-01-01T00:00:00Z");
        QTest::newRow("before 1970") << "1969-12-31T23:59:59Z";
        QTest::newRow("after 32 bits") << "2106-02-07T06:28:16Z";
    }

    void malformedTimeTexts()
    {
        QFETCH(QString, text);
        QCOMPARE(tm_s2i(text), 0u);
    }
};

QTEST_GUILESS_MAIN(TestGHSaveGpsData)
#include "tst_ghsavegpsdata.moc"
