#include <QtTest>

#include <QTemporaryDir>

#include <memory>

#include "../../../../core/include/training/ghtrncrs.h"
#include "../../../../core/include/training/ghtrnduration.h"
#include "../../../../core/include/training/ghtrninterval.h"
#include "../../../../core/include/training/ghtrntarget.h"
#include "../../../../core/include/training/ghtrnworkout.h"
#include "../../../../core/include/util/ghgpx2.h"
#include "../../../../core/include/util/ghgpxmetadata.h"
#include "../../../../core/include/util/ghgpxroute.h"
#include "../../../../core/include/util/ghgpxtrack.h"
#include "jxpsfimagefixture.h"
#include "psf/gen1/jxpsf.h"

using namespace PSF1;

namespace {

const char* const kGpxHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<gpx xmlns=\"http://www.vexmor.example/PMZ/2/2\" creator=\"vexmor\" version=\"%1\">\n";

std::unique_ptr<JXPSF> read(QByteArray& image)
{
    return std::unique_ptr<JXPSF>(
        JXPSFReader::getPSF(&image, nullptr, definition(), QStringLiteral("1.4.x.x"), JXPSFReader::AllLists));
}

bool writeFile(const QString& name, const QByteArray& content)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// A GPX file of our dialect: metadata with a name and share type, then body.
QByteArray gpxFile(const QByteArray& shareType, const QByteArray& body, const char* version = "2.2.0.3")
{
    return QByteArray(kGpxHead).replace("%1", version) + "<metadata><name>Lake</name><extensions><sharetype>" +
           shareType + "</sharetype><acttype subtype=\"2\">3</acttype></extensions></metadata>\n" + body + "</gpx>\n";
}

QByteArray trackPoint(const char* lat, const char* lon, const char* ele, const char* type = "")
{
    return QByteArray("<trkpt lat=\"") + lat + "\" lon=\"" + lon + "\"><ele>" + ele + "</ele><type>" + type +
           "</type></trkpt>";
}

// A document made in memory with one segment of the given (lat, lon, ele) texts, and a route of two points.
struct Document
{
    GHGpx2 gpx;

    explicit Document(const QVector<QStringList>& points)
    {
        gpx.metadata = new GHGpxMetadata;
        gpx.metadata->name = QStringLiteral("Hills");
        gpx.route = new GHGpxRoute;
        gpx.route->addRoutePoint(new GHGpxRoutePoint);
        gpx.route->addRoutePoint(new GHGpxRoutePoint);
        gpx.track = new GHGpxTrack;
        auto* segment = new GHGpxTrackSegment;
        for (const QStringList& texts : points) {
            auto* point = new GHGpxTrackPoint;
            point->lat = texts.value(0);
            point->lon = texts.value(1);
            point->ele = texts.value(2);
            point->type = texts.value(3);
            segment->addTrackPoint(point);
        }
        gpx.track->addTrackSegment(segment);
    }

    QStringList elevations() const
    {
        QStringList list;
        for (const GHGpxTrackPoint* point : gpx.track->segments.at(0)->points)
            list << point->ele;
        return list;
    }
};

JXPSFRoute* lastRoute(JXPSF* root)
{
    return root->getRouteFrame()->getRoutes()->isEmpty() ? nullptr : root->getRouteFrame()->getRoutes()->last();
}

JXPSFTrack* firstTrack(JXPSF* root)
{
    JXPSFRoute* route = lastRoute(root);
    return route && !route->getTracks().isEmpty() ? route->getTracks().first().data() : nullptr;
}

} // namespace

class TestJXPSFImport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    QString m_startFolder;
    Image m_image;

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        m_startFolder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_folder.path()));
    }

    void cleanupTestCase() { QDir::setCurrent(m_startFolder); }

    void init() { m_image = emptyImage(); }

    void poiFromFirstWaypoint()
    {
        QVERIFY(writeFile("poi.gpx", gpxFile("0", "<wpt lat=\"25.035\" lon=\"121.5\"><name>A</name></wpt>"
                                                  "<wpt lat=\"1\" lon=\"2\"/><wpt lat=\"3\" lon=\"4\"/>")));
        auto root = read(m_image.bytes);
        QVERIFY(root->fromGPX("poi.gpx"));
        QCOMPARE(root->getPOIFrame()->POICount(), 1);

        // Written back and read again, as the device will see it.
        QVERIFY(root->finalize(m_image.bytes));
        auto again = read(m_image.bytes);
        QCOMPARE(again->getPOIFrame()->POICount(), 1);
        const JXPSFPOI* poi = again->getPOIFrame()->getPOIs()->at(0);
        QCOMPARE(poi->getLat(), 25035000);
        QCOMPARE(poi->getLng(), 121500000);
        QCOMPARE(poi->getAlt(), short(-1));
        QVERIFY(!poi->getNameType() && poi->getUploaded());
        QCOMPARE(poi->getName().left(5), QByteArray("Lake\0", 5));
    }

    void poiWithoutUsableWaypoint()
    {
        QVERIFY(writeFile("bad.gpx", gpxFile("0", "<wpt lat=\"95\" lon=\"2\"/>")));
        QVERIFY(writeFile("none.gpx", gpxFile("0", "")));
        auto root = read(m_image.bytes);
        QVERIFY(!root->fromGPX("bad.gpx"));
        QVERIFY(!root->fromGPX("none.gpx"));
        QCOMPARE(root->getPOIFrame()->POICount(), 0);
    }

    void routeRoundTrip()
    {
        const QByteArray body = "<rte><rtept lat=\"30\" lon=\"120\"><type>12</type></rtept>"
                                "<rtept lat=\"30.01\" lon=\"120\"><type>20</type></rtept></rte>"
                                "<trk><trkseg>" +
                                trackPoint("30", "120", "100") + trackPoint("30.015625", "120.03125", "101", "1,,8") +
                                trackPoint("30", "120.015625", "100.5", "4") + "</trkseg></trk>";
        QVERIFY(writeFile("route.gpx", gpxFile("2", body)));
        auto root = read(m_image.bytes);
        QVERIFY(root->fromGPX("route.gpx"));
        QCOMPARE(root->getRouteFrame()->getHeader()->getRouteCount(), quint16(1));
        QVERIFY(root->finalize(m_image.bytes));

        auto again = read(m_image.bytes);
        JXPSFRoute* route = lastRoute(again.get());
        QVERIFY(route);
        QVERIFY(!route->getTrackFlag() && !route->getNameType());
        QCOMPARE(route->getStartTime(), kNone);
        QCOMPARE(route->getName().left(5), QByteArray("Lake\0", 5));
        QCOMPARE(route->getActType(), quint8(3));
        QCOMPARE(route->getActSubType(), quint8(2));
        QVERIFY(route->getUploaded());
        JXPSFTrack* track = firstTrack(again.get());
        QVERIFY(track);
        QCOMPARE(track->getStartLat(), 30000000);
        QCOMPARE(track->getEndLng(), 120015625);
        QCOMPARE(track->getStartAlt(), short(4400));
        QCOMPARE(track->getEndAlt(), short(4402));
        QCOMPARE(track->getTimeUnit(), quint8(4));
        QVERIFY(track->getStartFlagA() && track->getStartFlagB());
        QVERIFY(track->getEndFlagA() && track->getEndFlagB());
        QVERIFY(!track->getBreakFlag());
        const QVector<QPointer<JXPSFRoutePoint>>& points = *track->getRoutePoints();
        QCOMPARE(points.size(), 2);
        QCOMPARE(points.at(0)->getLatDelta(), short(15625));
        QCOMPARE(points.at(0)->getLngDelta(), short(31250));
        QCOMPARE(points.at(0)->getAltDelta(), qint8(10));
        QVERIFY(points.at(0)->getFlag1() && !points.at(0)->getFlag2() && points.at(0)->getFlag3());
        QCOMPARE(points.at(1)->getLatDelta(), short(-15625));
        QCOMPARE(points.at(1)->getAltDelta(), qint8(-4));
        QVERIFY(!points.at(1)->getFlag1() && points.at(1)->getFlag2() && !points.at(1)->getFlag3());
    }

    void routeNeedsRouteAndTrack_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("route only") << QByteArray("<rte><rtept lat=\"1\" lon=\"2\"/></rte>");
        QTest::newRow("track only") << QByteArray("<trk><trkseg>") + trackPoint("1", "2", "0") +
                                           trackPoint("1.1", "2", "0") + "</trkseg></trk>";
    }

    void routeNeedsRouteAndTrack()
    {
        QFETCH(QByteArray, body);
        QVERIFY(writeFile("half.gpx", gpxFile("2", body)));
        auto root = read(m_image.bytes);
        QVERIFY(!root->fromGPX("half.gpx"));
        QVERIFY(root->getRouteFrame()->getRoutes()->isEmpty());
    }

    void onlyVersionTwoIsImported()
    {
        const QByteArray body = "<rte><rtept lat=\"1\" lon=\"2\"/></rte><trk><trkseg>" + trackPoint("1", "2", "0") +
                                trackPoint("1.1", "2", "0") + "</trkseg></trk>";
        QVERIFY(writeFile("one.gpx", gpxFile("2", body, "1.1")));
        QVERIFY(writeFile("cut.gpx", gpxFile("2", body).left(300)));
        auto root = read(m_image.bytes);
        QVERIFY(!root->fromGPX("one.gpx"));
        QVERIFY(!root->fromGPX("cut.gpx"));
        QVERIFY(!root->fromGPX("missing.gpx"));
        QVERIFY(root->getRouteFrame()->getRoutes()->isEmpty());
    }

    void elevationStepsGetMidpoints()
    {
        Document document({{"30", "120", "0"}, {"30", "120", "30"}});
        auto root = read(m_image.bytes);
        QVERIFY(root->addRoute(&document.gpx));
        QCOMPARE(document.elevations(), QStringList({"0", "7.500000", "15.000000", "22.500000", "30"}));
        JXPSFTrack* track = firstTrack(root.get());
        QVERIFY(track);
        QCOMPARE(track->getPointCount(), 4u);
        for (const JXPSFRoutePoint* point : *track->getRoutePoints())
            QCOMPARE(point->getAltDelta(), qint8(75));
    }

    void segmentsOfOnePoint()
    {
        Document document({{"30", "120", "0"}});
        auto* second = new GHGpxTrackSegment;
        second->addTrackPoint(new GHGpxTrackPoint);
        document.gpx.track->addTrackSegment(second);
        auto root = read(m_image.bytes);
        QVERIFY(root->addRoute(&document.gpx));
        QVERIFY(lastRoute(root.get()));
        QVERIFY(!firstTrack(root.get()));
        QVERIFY(!root->addTrackSegment(second, lastRoute(root.get()), nullptr, nullptr));
    }

    void altitudeDelta_data()
    {
        QTest::addColumn<QString>("elevation");
        QTest::addColumn<int>("delta");
        QTest::newRow("+0.26") << "100.26" << 3;
        QTest::newRow("-0.26") << "99.74" << -2;
        QTest::newRow("+12.5") << "112.5" << 125;
    }

    void altitudeDelta()
    {
        QFETCH(QString, elevation);
        QFETCH(int, delta);
        Document document({{"30", "120", "100"}, {"30", "120", elevation}});
        auto root = read(m_image.bytes);
        QVERIFY(root->addRoute(&document.gpx));
        JXPSFTrack* track = firstTrack(root.get());
        QVERIFY(track && track->getRoutePoints()->size() == 1);
        QCOMPARE(int(track->getRoutePoints()->at(0)->getAltDelta()), delta);
    }

    void wildElevations_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<int>("points");
        QTest::addColumn<int>("endAltitude");
        QTest::newRow("inf") << "10"
                             << "inf" << 1 << 4040;
        QTest::newRow("-inf") << "10"
                              << "-inf" << 1 << 4040;
        QTest::newRow("nan") << "10"
                             << "nan" << 1 << 4040;
        QTest::newRow("nan first") << "nan"
                                   << "0" << 1 << 4000;
        QTest::newRow("1e9") << "0"
                             << "1e9" << 1024 << 32767;
        QTest::newRow("-1e9") << "0"
                              << "-1e9" << 128 << 0;
    }

    void wildElevations()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(int, points);
        QFETCH(int, endAltitude);
        Document document({{"30", "120", first}, {"30", "120", second}});
        auto root = read(m_image.bytes);
        QVERIFY(root->addRoute(&document.gpx));
        JXPSFTrack* track = firstTrack(root.get());
        QVERIFY(track);
        QCOMPARE(track->getRoutePoints()->size(), points);
        QCOMPARE(int(track->getEndAlt()), endAltitude);
        // Every step fits the 8-bit delta without wrapping: all go the same way.
        for (const JXPSFRoutePoint* point : *track->getRoutePoints())
            QVERIFY(point->getAltDelta() * (endAltitude - track->getStartAlt()) >= 0);
    }

    void longStepsAreSplit()
    {
        // 0.09375 degrees of latitude (10.4 km), then points that are no positions at all.
        Document document({{"30", "120", "0"}, {"30.09375", "120", "0"}, {"91", "120", "0"}, {"30.1", "nan", "0"}});
        auto root = read(m_image.bytes);
        QVERIFY(root->addRoute(&document.gpx));
        JXPSFTrack* track = firstTrack(root.get());
        QVERIFY(track);
        QCOMPARE(track->getRoutePoints()->size(), 4);
        int latitude = track->getStartLat();
        for (const JXPSFRoutePoint* point : *track->getRoutePoints()) {
            QVERIFY(point->getLatDelta() > 20000);
            latitude += point->getLatDelta();
        }
        QCOMPARE(latitude, 30093750);
        QCOMPARE(track->getEndLat(), 30093750);
    }

    void oversizeRoutesAreRefused()
    {
        // From one pole to the other and back: more points than the track area of the definition holds.
        QVector<QStringList> points;
        for (int i = 0; i < 16; ++i)
            points.append({i % 2 ? "89" : "-89", i % 4 < 2 ? "179" : "-179", "0"});
        Document document(points);
        auto root = read(m_image.bytes);
        QVERIFY(!root->addRoute(&document.gpx));
        QVERIFY(root->getRouteFrame()->getRoutes()->isEmpty());
    }

    void segmentStepsMustFit()
    {
        Document document({{"30", "120", "0"}, {"30", "120", "13"}});
        auto root = read(m_image.bytes);
        auto* route = new JXPSFRoute(static_cast<JXPSFField*>(nullptr));
        QVERIFY(!root->addTrackSegment(document.gpx.track->segments.at(0), route, nullptr, nullptr));
        QVERIFY(route->getTracks().isEmpty());
        document.gpx.track->segments.at(0)->breaktype = QStringLiteral("2");
        document.gpx.track->segments.at(0)->points.at(1)->ele = QStringLiteral("12");
        QVERIFY(root->addTrackSegment(document.gpx.track->segments.at(0), route, nullptr, nullptr));
        QVERIFY(route->getTracks().at(0)->getBreakFlag());
        delete route;
    }

    void bitmapNames()
    {
        Document document({{"30", "120", "0"}, {"30", "120", "1"}});
        document.gpx.metadata->name.clear();
        auto root = read(m_image.bytes);
        root->setSupportBitfont(true);
        QVERIFY(root->addRoute(&document.gpx));
        const JXPSFRoute* route = lastRoute(root.get());
        QVERIFY(route->getNameType());
        QCOMPARE(route->getName().size(), 128);
        QVERIFY(route->getName().count('\0') < 128); // "no name" was drawn
    }

    void workoutsFromCourse()
    {
        const QByteArray course =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<trncrs xmlns=\"http://www.vexmor.example/WRK/1/3\" creator=\"vexmor\" version=\"1.0\">"
            "<metadata><name>Hills</name></metadata>"
            "<wrk id=\"42\" daily=\"1\" repeat=\"5\" type=\"2\"><acttype>3</acttype><name>Hills</name>"
            "<time>2020-01-02T03:04:05Z</time>"
            "<itv id=\"1\"><name>work</name><target type=\"2\" low=\"120\" high=\"150\"/>"
            "<duration type=\"3\" value=\"-1\"/><goto repeat=\"4\">1</goto></itv>"
            "<itv id=\"2\"><name>Warmup</name><target type=\"2\" low=\"1\" high=\"2\"/></itv>"
            "</wrk>"
            "<wrk id=\"43\" daily=\"0\"><itv id=\"1\"><name>Walk</name><target type=\"1\" low=\"3\" high=\"4\"/>"
            "<duration type=\"1\" value=\"600\"/></itv></wrk>"
            "</trncrs>\n";
        QVERIFY(writeFile("hills.wrk", course));
        auto root = read(m_image.bytes);
        QVERIFY(root->TrnFromGPX("hills.wrk"));
        QCOMPARE(root->getWorkoutFrame()->getWorkoutCount(), quint8(2));
        QVERIFY(root->finalize(m_image.bytes));

        auto again = read(m_image.bytes);
        const QVector<QPointer<JXPSFWorkout>>& workouts = *again->getWorkoutFrame()->getWorkouts();
        QCOMPARE(workouts.size(), 2);
        const JXPSFWorkout* first = workouts.at(0);
        QCOMPARE(first->getTime(), 1577934245u);
        QCOMPARE(first->getWorkoutId(), 42u);
        QVERIFY(first->getFlag() && first->getUploaded() && !first->getNameType());
        QCOMPARE(first->getTypeValue(), quint8(3));
        QCOMPARE(first->getLowValue(), quint8(5));
        QCOMPARE(first->getHighValue(), quint8(2));
        QCOMPARE(first->getName().left(6), QByteArray("Hills\0", 6));
        // The interval without a duration is left out.
        QCOMPARE(workouts.at(0)->getIntervals()->size(), 1);
        const JXPSFInterval* interval = workouts.at(0)->getIntervals()->at(0);
        QCOMPARE(interval->getIntervalType(), quint8(2));
        QCOMPARE(interval->getTargetType(), quint8(2));
        QCOMPARE(interval->getDurationType(), quint8(3));
        QCOMPARE(interval->getDurationValue(), quint16(0xFFFF));
        QCOMPARE(interval->getTargetLow(), quint8(120));
        QCOMPARE(interval->getTargetHigh(), quint8(150));
        QCOMPARE(interval->getValue(), kNone);

        JXPSFWorkout* second = workouts.at(1);
        QCOMPARE(second->getWorkoutId(), 43u);
        QCOMPARE(second->getTime(), kNone);
        QVERIFY(!second->getFlag());
        QCOMPARE(second->getIntervals()->size(), 1);
        QCOMPARE(second->getIntervals()->at(0)->getIntervalType(), quint8(7));
        QCOMPARE(second->getIntervals()->at(0)->getDurationValue(), quint16(600));
    }

    // Course values too large for their bits stay in them: none reaches the daily, picture or uploaded bits of the
    // workout, the repeat count the type beside it, or the target type the interval's type and flag.
    void outOfRangeCourseFields_data()
    {
        QTest::addColumn<QString>("acttype");
        QTest::addColumn<QString>("repeat");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("target");
        // Stored activity type, repeat, type and target type.
        QTest::addColumn<QVector<int>>("stored");

        QTest::newRow("largest that fit") << "15" << "31" << "7" << "15" << QVector<int>{15, 31, 7, 15};
        QTest::newRow("activity type 16") << "16" << "5" << "2" << "2" << QVector<int>{0, 5, 2, 2};
        QTest::newRow("activity type 255") << "255" << "5" << "2" << "2" << QVector<int>{15, 5, 2, 2};
        QTest::newRow("activity type 4096") << "4096" << "5" << "2" << "2" << QVector<int>{0, 5, 2, 2};
        QTest::newRow("repeat 32") << "3" << "32" << "2" << "2" << QVector<int>{3, 0, 2, 2};
        QTest::newRow("repeat 255") << "3" << "255" << "2" << "2" << QVector<int>{3, 31, 2, 2};
        QTest::newRow("type 8") << "3" << "5" << "8" << "2" << QVector<int>{3, 5, 0, 2};
        QTest::newRow("type 255") << "3" << "5" << "255" << "2" << QVector<int>{3, 5, 7, 2};
        QTest::newRow("target type 16") << "3" << "5" << "2" << "16" << QVector<int>{3, 5, 2, 0};
        QTest::newRow("target type 300") << "3" << "5" << "2" << "300" << QVector<int>{3, 5, 2, 12};
    }

    void outOfRangeCourseFields()
    {
        QFETCH(QString, acttype);
        QFETCH(QString, repeat);
        QFETCH(QString, type);
        QFETCH(QString, target);
        QFETCH(QVector<int>, stored);

        const QString course =
            QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<trncrs xmlns=\"http://www.vexmor.example/WRK/1/3\" creator=\"vexmor\" version=\"1.0\">"
                           "<metadata><name>Odd</name></metadata>"
                           "<wrk id=\"1\" daily=\"0\" repeat=\"%1\" type=\"%2\"><acttype>%3</acttype><name>Odd</name>"
                           "<itv id=\"1\"><name>work</name><target type=\"%4\" low=\"1\" high=\"2\"/>"
                           "<duration type=\"1\" value=\"60\"/></itv></wrk></trncrs>\n")
                .arg(repeat, type, acttype, target);
        QVERIFY(writeFile("odd.wrk", course.toUtf8()));
        auto root = read(m_image.bytes);
        QVERIFY(root->TrnFromGPX("odd.wrk"));
        QVERIFY(root->finalize(m_image.bytes));

        const qint64 record = kWorkoutFrame + kWorkoutTable;
        const quint8 flags = m_image.at8(record + 144);
        QCOMPARE(flags & 0xF0, 0x40); // not daily, a text name, uploaded
        QCOMPARE(flags & 0x0F, stored[0]);
        QCOMPARE(m_image.at8(record + 145) & 0x1F, stored[1]);
        QCOMPARE(m_image.at8(record + 145) >> 5, stored[2]);
        const quint8 types = m_image.at8(kWorkoutFrame + kIntervalTable);
        QCOMPARE(types & 0x0F, 2); // "work", flag clear
        QCOMPARE(types >> 4, stored[3]);
    }
};

// Bitmap names need fonts, so this test runs a GUI application. Qt 5.15's offscreen platform never frees what it
// makes for its screen; the full allocation stacks let the suppression name that one place.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:QGuiApplicationPrivate::createPlatformIntegration\n";
}

QTEST_MAIN(TestJXPSFImport)
#include "tst_jxpsfimport.moc"
