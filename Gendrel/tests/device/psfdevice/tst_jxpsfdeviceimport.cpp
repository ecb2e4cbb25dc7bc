#include <QtTest>

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <memory>

#include "jxpsfdeviceimportfixture.h"
#include "jxtestpackage.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsfmultilangstring_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsftrackpoint_1_5.h"
#include "psf/gen2/jxpsftrackseg_1_5.h"
#include "psf/gen2/jxpsfworkout_1_5.h"
#include "util/ghgpxtrack.h"

namespace {

using Layout = JXPSFTestImage::Layout;

// A GPX file of our dialect: metadata, then body.
QByteArray gpxFile(const QByteArray& metadata, const QByteArray& body, const char* version = "2.2.0.3")
{
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<gpx xmlns=\"http://www.vexmor.example/PMZ/2/2\" creator=\"vexmor\" version=\"") +
           version + "\">\n<metadata>" + metadata + "</metadata>\n" + body + "</gpx>\n";
}

QByteArray shared(const QByteArray& name = QByteArray(), const QByteArray& shareType = "1")
{
    return name + "<extensions><sharetype>" + shareType + "</sharetype></extensions>";
}

QByteArray trackPoint(const char* lat, const char* lon, const QByteArray& ele, const char* type = "")
{
    return QByteArray("<trkpt lat=\"") + lat + "\" lon=\"" + lon + "\"><ele>" + ele + "</ele><type>" + type +
           "</type></trkpt>";
}

QByteArray routePoints(int count)
{
    QByteArray points = "<rte>";
    for (int index = 0; index < count; ++index)
        points += "<rtept lat=\"1\" lon=\"2\"/>";
    return points + "</rte>";
}

// A route of one segment between two points of these elevations.
QByteArray stepFile(const QByteArray& from, const QByteArray& to)
{
    return gpxFile(shared(), routePoints(2) + "<trk><trkseg>" + trackPoint("1.5", "2.25", from) +
                                 trackPoint("1.5", "2.25", to) + "</trkseg></trk>");
}

// A route of one segment from a point at elevation 0 to another point.
QByteArray moveFile(const char* fromLat, const char* fromLon, const QByteArray& toLat, const QByteArray& toLon,
                    const QByteArray& toEle = "0")
{
    return gpxFile(shared(), routePoints(2) + "<trk><trkseg>" + trackPoint(fromLat, fromLon, "0") +
                                 trackPoint(toLat.constData(), toLon.constData(), toEle) + "</trkseg></trk>");
}

const QByteArray kCourse = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<trncrs xmlns=\"http://www.vexmor.example/WRK/1/3\" creator=\"vexmor\" version=\"1.0\">"
                           "<metadata><name>Hills</name></metadata>"
                           "<wrk id=\"42\" daily=\"1\"><name>Hills</name>"
                           "<itv id=\"1\"><name>Work</name><target type=\"2\" low=\"120\" high=\"150\"/>"
                           "<duration type=\"3\" value=\"60\"/></itv>"
                           "</wrk></trncrs>\n";

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QStringList routeNames(JXPSF_1_5* store)
{
    QVector<JXPSFRoute_1_5*> routes;
    if (!store->getAllRoutes(routes))
        return {QStringLiteral("(no route frame)")};
    QStringList names;
    for (JXPSFRoute_1_5* route : qAsConst(routes))
        names.append(route->getNames().isEmpty() ? QString() : route->getNames().first()->getTextString());
    names.sort();
    return names;
}

QVector<JXPSFTrackSeg_1_5*> segmentsOfFirstRoute(JXPSF_1_5* store)
{
    QVector<JXPSFRoute_1_5*> routes;
    QVector<JXPSFTrackSeg_1_5*> segments;
    if (store->getAllRoutes(routes) && !routes.isEmpty())
        store->getTrackOfRoute(routes.first(), segments);
    return segments;
}

quint32 header32(const QByteArray& image, int field)
{
    return qFromLittleEndian<quint32>(image.constData() + field);
}

} // namespace

// Shared packages into the second-generation client's store: the package's files, a route's fields and segments,
// the elevation steps, and routes that are hostile or do not fit; read back through a fresh store over the image.
class TestJXPSFDeviceImport : public QObject
{
    Q_OBJECT

    std::unique_ptr<JXPSFImportRig> m_rig;

    QString path(const QString& name) const { return m_rig->folder() + QLatin1Char('/') + name; }

    QString package(const JXTestPackage::Entries& entries)
    {
        const QString zip = path(QStringLiteral("share.zip"));
        const QByteArray bytes = JXTestPackage::zipBytes(entries);
        return !bytes.isEmpty() && writeFile(zip, bytes) ? zip : QString();
    }

private slots:
    void init() { m_rig.reset(new JXPSFImportRig); }
    void cleanup() { m_rig.reset(); }

    void packageImport()
    {
        std::unique_ptr<JXPSFImportClient> client = m_rig->client();
        QVERIFY(client);
        const QByteArray track =
            "<trk><trkseg>" + trackPoint("1.5", "2.25", "10") + trackPoint("1.5", "2.265625", "11") + "</trkseg></trk>";
        const QString zip = package({
            {QStringLiteral("lake.pmz"),
             gpxFile(shared("<name>Lake<extensions><shtname>LK</shtname></extensions></name>"),
                     routePoints(2) + track)},
            {QStringLiteral("HILL.GPX"), gpxFile(shared(), routePoints(2) + track)},
            {QStringLiteral("plan.WRK"), kCourse},
            {QStringLiteral("old.gpx"), gpxFile(shared("<name>Old</name>"), routePoints(2) + track, "1.1")},
            {QStringLiteral("place.gpx"), gpxFile(shared("<name>Place</name>", "0"), routePoints(2) + track)},
            {QStringLiteral("notes.txt"), "not a route"},
        });
        QVERIFY(!zip.isEmpty());
        // Whatever an earlier import left behind is not imported again.
        const QString work = JXEnv::getInstance()->getTmpFolder() + QLatin1String("/zelto40tmp");
        QVERIFY(QDir().mkpath(work));
        QVERIFY(writeFile(work + QLatin1String("/stale.gpx"),
                          gpxFile(shared("<name>Stale</name>"), routePoints(2) + track)));

        QVERIFY(client->setShareData(zip));
        QVERIFY(!client->getError(nullptr));
        QVERIFY(QFileInfo::exists(work + QLatin1String("/lake.gpx")));
        QVERIFY(!QFileInfo::exists(work + QLatin1String("/stale.gpx")));

        JXPSFReadBack stored(client->image());
        QCOMPARE(routeNames(stored.get()), (QStringList{QStringLiteral("LK"), QStringLiteral("no name")}));
        QVector<JXPSFWorkout_1_5*> workouts;
        QVERIFY(stored->getWorkouts(workouts));
        QCOMPARE(workouts.size(), 1);
        QCOMPARE(workouts.at(0)->getID(), 42u);
    }

    void refusedPackages()
    {
        std::unique_ptr<JXPSFImportClient> client = m_rig->client();
        QVERIFY(client);
        const QString broken = path(QStringLiteral("broken.zip"));
        QVERIFY(writeFile(broken, "PK\x03\x04 not really a zip"));
        QVERIFY(!client->setShareData(broken));
        QVERIFY(client->getError(nullptr));

        // A file that fails makes the package's result false; the other files still come in.
        const QString zip = package({
            {QStringLiteral("good.gpx"), stepFile("0", "1")},
            {QStringLiteral("bad.gpx"), stepFile("0", "inf")},
        });
        QVERIFY(!client->setShareData(zip));
        QVERIFY(client->getError(nullptr));
        QCOMPARE(routeNames(client->store()), QStringList{QStringLiteral("no name")});

        // A file that does not read to its end would make a route that stops short.
        const QByteArray whole = stepFile("0", "1");
        const QString cut = path(QStringLiteral("cut.gpx"));
        QVERIFY(writeFile(cut, whole.left(whole.indexOf("</trkseg>"))));
        QVERIFY(!client->setShareDataGPX(cut));
        QCOMPARE(routeNames(client->store()), QStringList{QStringLiteral("no name")});

        // Without a store nothing is unpacked.
        const QString work = JXEnv::getInstance()->getTmpFolder() + QLatin1String("/zelto40tmp");
        QVERIFY(writeFile(work + QLatin1String("/kept.txt"), "kept"));
        client->dropStore();
        QVERIFY(!client->setShareData(package({{QStringLiteral("other.gpx"), stepFile("0", "1")}})));
        QVERIFY(client->getError(nullptr));
        QVERIFY(QFileInfo::exists(work + QLatin1String("/kept.txt")));
        QVERIFY(!QFileInfo::exists(work + QLatin1String("/other.gpx")));
    }

    void routeFields()
    {
        std::unique_ptr<JXPSFImportClient> client = m_rig->client();
        QVERIFY(client);
        const QByteArray metadata = "<name>Lake<extensions><shtname>LK</shtname></extensions></name>"
                                    "<extensions><sharetype>1</sharetype><acttype subtype=\"2\">3</acttype>"
                                    "<trvdist>12345.6</trvdist></extensions>";
        const QByteArray body = "<rte><rtept lat=\"1\" lon=\"2\"><type>12</type></rtept>"
                                "<rtept lat=\"1\" lon=\"2\"><type>20</type></rtept>"
                                "<rtept lat=\"1\" lon=\"2\"><type>0</type></rtept></rte>"
                                "<trk><trkseg><extensions><acttype>5</acttype></extensions>" +
                                trackPoint("1.5", "2.25", "100") + trackPoint("1.515625", "2.234375", "105", "1,8") +
                                "</trkseg><trkseg>" + trackPoint("1.5", "2.25", "50") +
                                trackPoint("1.5", "2.25", "50", "4") + "</trkseg></trk>";
        const QString file = path(QStringLiteral("lake.gpx"));
        QVERIFY(writeFile(file, gpxFile(metadata, body)));
        QVERIFY(client->setShareDataGPX(file));

        JXPSFReadBack stored(client->image());
        QVector<JXPSFRoute_1_5*> routes;
        QVERIFY(stored->getAllRoutes(routes));
        QCOMPARE(routes.size(), 1);
        JXPSFRoute_1_5* route = routes.first();
        QCOMPARE(route->getNames().size(), 1);
        QCOMPARE(route->getNames().first()->getTextString(), QStringLiteral("LK"));
        QCOMPARE(QString::fromLatin1(route->getNames().first()->getLangCode(), 3), QStringLiteral("ENG"));
        QCOMPARE(route->getStartTime(), 0xFFFFFFFFu);
        QCOMPARE(int(route->getRouteType()), 0);
        QVERIFY(route->isUploaded());
        QCOMPARE(int(route->getActType()), 3);
        QCOMPARE(int(route->getSubActType()), 2);
        QCOMPARE(int(route->getWeight()), 0);
        QCOMPARE(int(route->getReserve()), 1234);

        const QVector<JXPSFTrackSeg_1_5*> segments = segmentsOfFirstRoute(stored.get());
        QCOMPARE(segments.size(), 2);
        // Segment i between route points i and i + 1: 12 = waypoint and interval start, 20 = waypoint and
        // interval end; the second segment starts at 20 (no interval start) and ends at 0.
        QVERIFY(segments.at(0)->isSWpt() && segments.at(0)->isItvStart());
        QVERIFY(segments.at(0)->isEWpt() && segments.at(0)->isItvEnd());
        QVERIFY(segments.at(1)->isSWpt() && !segments.at(1)->isItvStart());
        QVERIFY(!segments.at(1)->isEWpt() && !segments.at(1)->isItvEnd());
        QCOMPARE(int(segments.at(0)->getTimeInterval()), 4);
        QCOMPARE(int(segments.at(0)->getTimeType()), 2);
        QCOMPARE(int(segments.at(0)->getActType()), 5);
        QCOMPARE(segments.at(0)->getPntCount(), 1u);

        // Start and end positions in millionths, altitudes as (metres + 1000) x 4; then the point: turn and slope
        // base, altitude delta 5.05 m in tenths, longitude and latitude deltas.
        const char* head = segments.at(0)->getData();
        QCOMPARE(QByteArray(head + 4, 20).toHex(), QByteArray("1055220060e31600071822006920170030114411"));
        QCOMPARE(QByteArray(head + JXPSFTrackSeg_1_5::HeadSize, 6).toHex(), QByteArray("1432f7c2093d"));
        QVERIFY(segments.at(1)->getTrackPoints().first()->isSlopeCrest());
        QVERIFY(!segments.at(1)->getTrackPoints().first()->isTurn());
    }

    void elevationStepsGetMidpoints()
    {
        std::unique_ptr<JXPSFImportClient> client = m_rig->client();
        QVERIFY(client);
        // A one-point segment is no segment; the one after it keeps its route points.
        const QByteArray body = routePoints(3) + "<trk><trkseg>" + trackPoint("1", "2", "0") + "</trkseg><trkseg>" +
                                trackPoint("1.5", "2.25", "100") + trackPoint("1.5", "2.3125", "130") +
                                "</trkseg></trk>";
        const QString file = path(QStringLiteral("climb.gpx"));
        QVERIFY(writeFile(file, gpxFile(shared(), body)));
        QVERIFY(client->setShareDataGPX(file));

        JXPSFReadBack stored(client->image());
        const QVector<JXPSFTrackSeg_1_5*> segments = segmentsOfFirstRoute(stored.get());
        QCOMPARE(segments.size(), 1);
        QVERIFY(!segments.at(0)->isSWpt() && !segments.at(0)->isEWpt());
        QCOMPARE(segments.at(0)->getTrackPoints().size(), 4);
        QList<double> altitudes;
        QList<int> longitudes;
        JXPSFTrackPointIter points = segments.at(0)->getPointIterator();
        while (points.next()) {
            altitudes.append(points.getAlt());
            longitudes.append(points.getLatlng().getLng());
        }
        QCOMPARE(altitudes, (QList<double>{107.5, 115.0, 122.5, 130.0}));
        QCOMPARE(longitudes, (QList<int>{2265625, 2281250, 2296875, 2312500}));
        QCOMPARE(segments.at(0)->getEndAlt().getValue(), 130.0);
    }

    void longStepsKeepTheirPositions_data()
    {
        QTest::addColumn<QByteArray>("lat");
        QTest::addColumn<QByteArray>("lon");
        QTest::addColumn<int>("endLat");
        QTest::addColumn<int>("endLon");
        // From (-45, 100); a point's position deltas hold 32,767 millionths of a degree.
        QTest::newRow("0.001") << QByteArray("-44.999") << QByteArray("99.999") << -44999000 << 99999000;
        QTest::newRow("0.04") << QByteArray("-44.96") << QByteArray("99.96") << -44960000 << 99960000;
        QTest::newRow("1") << QByteArray("-44") << QByteArray("99") << -44000000 << 99000000;
        QTest::newRow("90") << QByteArray("45") << QByteArray("10") << 45000000 << 10000000;
    }

    void longStepsKeepTheirPositions()
    {
        QFETCH(QByteArray, lat);
        QFETCH(QByteArray, lon);
        QFETCH(int, endLat);
        QFETCH(int, endLon);
        std::unique_ptr<JXPSFImportClient> client = m_rig->client();
        QVERIFY(client);
        const QString file = path(QStringLiteral("far.gpx"));
        QVERIFY(writeFile(file, moveFile("-45", "100", lat, lon)));
        QVERIFY(client->setShareDataGPX(file));

        JXPSFReadBack stored(client->image());
        const QVector<JXPSFTrackSeg_1_5*> segments = segmentsOfFirstRoute(stored.get());
        QCOMPARE(segments.size(), 1);
        const qint64 startLat = -45000000;
        const qint64 startLon = 100000000;
        QVERIFY(std::abs(segments.at(0)->getStartLat() - startLat) <= 1);
        QVERIFY(std::abs(segments.at(0)->getStartLon() - startLon) <= 1);
        // Every point in between lies on the straight line, each one further along it.
        const double spanLat = double(endLat - startLat);
        const double spanLon = double(endLon - startLon);
        double along = 0.0;
        GHLatLng last;
        JXPSFTrackPointIter points = segments.at(0)->getPointIterator();
        while (points.next()) {
            last = points.getLatlng();
            const double fraction = (last.getLat() - startLat) / spanLat;
            QVERIFY2(fraction > along && fraction <= 1.0 + 1e-6, qPrintable(QString::number(last.getLat())));
            QVERIFY2(std::fabs(startLon + fraction * spanLon - last.getLng()) <= 2.0,
                     qPrintable(QStringLiteral("%1 %2").arg(last.getLat()).arg(last.getLng())));
            along = fraction;
        }
        QVERIFY(std::abs(last.getLat() - endLat) <= 1);
        QVERIFY(std::abs(last.getLng() - endLon) <= 1);
        QVERIFY(std::abs(segments.at(0)->getEndLat() - endLat) <= 1);
        QVERIFY(std::abs(segments.at(0)->getEndLon() - endLon) <= 1);
    }

    void hostilePoints_data()
    {
        QTest::addColumn<QByteArray>("lat");
        QTest::addColumn<QByteArray>("lon");
        QTest::addColumn<QByteArray>("elevation");
        QTest::addColumn<bool>("imported");
        QTest::newRow("inf") << QByteArray("1.5") << QByteArray("2.25") << QByteArray("inf") << false;
        QTest::newRow("-inf") << QByteArray("1.5") << QByteArray("2.25") << QByteArray("-inf") << false;
        QTest::newRow("nan") << QByteArray("1.5") << QByteArray("2.25") << QByteArray("nan") << false;
        QTest::newRow("1e9") << QByteArray("1.5") << QByteArray("2.25") << QByteArray("1e9") << false;
        QTest::newRow("-1e300") << QByteArray("1.5") << QByteArray("2.25") << QByteArray("-1e300") << false;
        QTest::newRow("just above") << QByteArray("1.5") << QByteArray("2.25") << QByteArray("7191.76") << false;
        QTest::newRow("just below") << QByteArray("1.5") << QByteArray("2.25") << QByteArray("-9192.01") << false;
        QTest::newRow("no number") << QByteArray("1.5") << QByteArray("2.25") << QByteArray("high") << false;
        QTest::newRow("highest") << QByteArray("1.5") << QByteArray("2.25") << QByteArray("7191.75") << true;
        QTest::newRow("lowest") << QByteArray("1.5") << QByteArray("2.25") << QByteArray("-9192") << true;
        QTest::newRow("empty") << QByteArray("1.5") << QByteArray("2.25") << QByteArray("") << true;
        // Coordinates whose millionths of a degree have no 32-bit value would be stored as 0.
        QTest::newRow("lat nan") << QByteArray("nan") << QByteArray("2.25") << QByteArray("0") << false;
        QTest::newRow("lon inf") << QByteArray("1.5") << QByteArray("inf") << QByteArray("0") << false;
        QTest::newRow("lat past 32 bits") << QByteArray("2147.483648") << QByteArray("2.25") << QByteArray("0") << false;
        QTest::newRow("lon -1e300") << QByteArray("1.5") << QByteArray("-1e300") << QByteArray("0") << false;
    }

    void hostilePoints()
    {
        QFETCH(QByteArray, lat);
        QFETCH(QByteArray, lon);
        QFETCH(QByteArray, elevation);
        QFETCH(bool, imported);
        std::unique_ptr<JXPSFImportClient> client = m_rig->client();
        QVERIFY(client);
        const QString file = path(QStringLiteral("wild.gpx"));
        QVERIFY(writeFile(file, moveFile("1.5", "2.25", lat, lon, elevation)));
        QCOMPARE(client->setShareDataGPX(file), imported);

        JXPSFReadBack stored(client->image());
        QVector<JXPSFRoute_1_5*> routes;
        QVERIFY(stored->getAllRoutes(routes));
        QCOMPARE(routes.size(), imported ? 1 : 0);
        if (imported) {
            const QVector<JXPSFTrackSeg_1_5*> segments = segmentsOfFirstRoute(stored.get());
            QCOMPARE(segments.size(), 1);
            QCOMPARE(segments.at(0)->getEndAlt().getValue(), elevation.toDouble());
        }
    }

    void routeThatDoesNotFitIsLeftOut_data()
    {
        QTest::addColumn<quint32>("trackRoom");
        QTest::addColumn<bool>("imported");
        // A 30 m step becomes four steps of 7.5 m: a head with the first point, and four points of six bytes.
        QTest::newRow("one point short") << quint32(JXPSFTrackSeg_1_5::HeadSize + 3 * 6) << false;
        QTest::newRow("just enough") << quint32(JXPSFTrackSeg_1_5::HeadSize + 4 * 6) << true;
    }

    void routeThatDoesNotFitIsLeftOut()
    {
        QFETCH(quint32, trackRoom);
        QFETCH(bool, imported);
        QByteArray flash = JXPSFTestImage::emptyImage(Layout::A);
        qToLittleEndian<quint32>(trackRoom, flash.data() + JXExtFlashInfo_2M::TrackRoomLeft);
        m_rig->flash()->setExternalFlash(flash);
        std::unique_ptr<JXPSFImportClient> client = m_rig->client();
        QVERIFY(client);
        const QString file = path(QStringLiteral("climb.gpx"));
        QVERIFY(writeFile(file, stepFile("100", "130")));
        QCOMPARE(client->setShareDataGPX(file), imported);

        const QByteArray& image = client->image();
        const JXPSFTestImage::Area track = JXPSFTestImage::track(Layout::A);
        const JXPSFTestImage::Area route = JXPSFTestImage::route(Layout::A);
        QCOMPARE(header32(image, JXExtFlashInfo_2M::TrackTableEnd),
                 imported ? track.tableStart + trackRoom : track.tableStart);
        QCOMPARE(header32(image, JXExtFlashInfo_2M::RouteTableEnd) > route.tableStart, imported);
        JXPSFReadBack stored(image);
        QVector<JXPSFRoute_1_5*> routes;
        QVERIFY(stored->getAllRoutes(routes));
        QCOMPARE(routes.size(), imported ? 1 : 0);
    }

    void segmentLongerThanItsCount_data()
    {
        QTest::addColumn<int>("points");
        QTest::addColumn<bool>("imported");
        // A head counts up to 0xFFFD points (steps after the first); more read back as none at all.
        QTest::newRow("most") << int(JXPSFTrackSeg_1_5::MostPoints) + 1 << true;
        QTest::newRow("one more") << int(JXPSFTrackSeg_1_5::MostPoints) + 2 << false;
    }

    void segmentLongerThanItsCount()
    {
        QFETCH(int, points);
        QFETCH(bool, imported);
        std::unique_ptr<JXPSFImportClient> client = m_rig->client();
        QVERIFY(client);
        QByteArray body = routePoints(2) + "<trk><trkseg>";
        for (int index = 0; index < points; ++index)
            body += "<trkpt lat=\"1.5\" lon=\"2.25\"/>";
        const QString file = path(QStringLiteral("long.gpx"));
        QVERIFY(writeFile(file, gpxFile(shared(), body + "</trkseg></trk>")));
        QCOMPARE(client->setShareDataGPX(file), imported);

        JXPSFReadBack stored(client->image());
        const QVector<JXPSFTrackSeg_1_5*> segments = segmentsOfFirstRoute(stored.get());
        QCOMPARE(segments.size(), imported ? 1 : 0);
        if (imported)
            QCOMPARE(segments.at(0)->getTrackPoints().size(), points - 1);
    }

    void storeThatGivesNoRecord()
    {
        std::unique_ptr<JXPSFImportClient> client = m_rig->client();
        QVERIFY(client);
        const QString file = path(QStringLiteral("climb.gpx"));
        QVERIFY(writeFile(file, stepFile("100", "101")));
        // The device leaves before the route and track frames are read.
        m_rig->flash()->setGoneAtCommand(1);
        QVERIFY(!client->setShareDataGPX(file));
    }

    // A segment handed over directly, not read from a file, may lack a point: refused, and the route keeps only
    // what the file gave it.
    void segmentWithAMissingPoint()
    {
        std::unique_ptr<JXPSFImportClient> client = m_rig->client();
        QVERIFY(client);
        const QString file = path(QStringLiteral("climb.gpx"));
        QVERIFY(writeFile(file, stepFile("100", "101")));
        QVERIFY(client->setShareDataGPX(file));
        QVector<JXPSFRoute_1_5*> routes;
        QVERIFY(client->store()->getAllRoutes(routes) && routes.size() == 1);

        GHGpxTrackSegment segment;
        segment.points = {new GHGpxTrackPoint, nullptr};
        segment.points.first()->lat = QStringLiteral("1");
        segment.points.first()->lon = QStringLiteral("2");
        QVERIFY(!client->addTrackSegment(&segment, routes.first(), nullptr, nullptr));
        QCOMPARE(segmentsOfFirstRoute(client->store()).size(), 1);
    }

    void importedRecordsReachTheDevice()
    {
        std::unique_ptr<JXPSFImportClient> client = m_rig->client();
        QVERIFY(client);
        const QString zip = package({
            {QStringLiteral("climb.pmz"), stepFile("100", "130")},
            {QStringLiteral("plan.wrk"), kCourse},
        });
        QVERIFY(client->setShareData(zip));
        QVERIFY(client->_finalize());
        client.reset();

        std::unique_ptr<JXPSFImportClient> later = m_rig->client();
        QVERIFY(later);
        QCOMPARE(routeNames(later->store()), QStringList{QStringLiteral("no name")});
        const QVector<JXPSFTrackSeg_1_5*> segments = segmentsOfFirstRoute(later->store());
        QCOMPARE(segments.size(), 1);
        QCOMPARE(segments.at(0)->getTrackPoints().size(), 4);
        QVector<JXPSFWorkout_1_5*> workouts;
        QVERIFY(later->store()->getWorkouts(workouts));
        QCOMPARE(workouts.size(), 1);
        QCOMPARE(workouts.at(0)->getIntervals().size(), 1);

        // The new client's own lists show them too.
        QVector<JXClientData> routes;
        later->getRoutes(routes);
        QCOMPARE(routes.size(), 1);
        QCOMPARE(routes.at(0).name, QStringLiteral("no name"));
        QVector<JXClientData> plans;
        later->getWorkouts(plans);
        QCOMPARE(plans.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestJXPSFDeviceImport)
#include "tst_jxpsfdeviceimport.moc"
