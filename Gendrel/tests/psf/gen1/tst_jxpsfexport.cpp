#include <QtTest>

#include <QTemporaryDir>

#include <memory>

#include "../../../../core/include/training/ghtrncrs.h"
#include "../../../../core/include/training/ghtrnduration.h"
#include "../../../../core/include/training/ghtrninterval.h"
#include "../../../../core/include/training/ghtrnmetadata.h"
#include "../../../../core/include/training/ghtrnreader.h"
#include "../../../../core/include/training/ghtrnworkout.h"
#include "../../../../core/include/util/ghgpx2.h"
#include "../../../../core/include/util/ghgpxextlaps.h"
#include "../../../../core/include/util/ghgpxextlogpoint.h"
#include "../../../../core/include/util/ghgpxextsensorlog.h"
#include "../../../../core/include/util/ghgpxextworkoutlog.h"
#include "../../../../core/include/util/ghgpxmetadata.h"
#include "../../../../core/include/util/ghgpxreader.h"
#include "../../../../core/include/util/ghgpxroute.h"
#include "../../../../core/include/util/ghgpxtrack.h"
#include "../../../../core/include/util/ghgpxwaypoint.h"
#include "device/jxdeviceimpl.h"
#include "device/jxdevicemanager.h"
#include "device/jxdeviceserviceclient.h"
#include "jxdaemon.h"
#include "jxenv.h"
#include "jxpsfimagefixture.h"
#include "jxtestdevice.h"
#include "psf/gen1/jxpsf.h"

using namespace PSF1;

namespace {

const int kRouteLapOffset = 144;
const int kRouteLapCount = 148;

// The connected device as the export sees it.
class ExportClient : public JXDeviceImpl<ExportClient, JXDeviceServiceClient>
{
public:
    bool getName(QString& model) override
    {
        model = QStringLiteral("Zelto30");
        return true;
    }
    bool getTotal(QString& version) override
    {
        version = QStringLiteral("7.1");
        return true;
    }
    int getMainActiveType() override { return 3; }
    bool prepareUploadData(QString&, bool) override { return false; }
    QStringList saveDeviceRawData(QString) override { return QStringList(); }
};

QByteArray lap(quint32 start, quint32 end, quint8 cadence = 0x40)
{
    return le32(start) + le32(end) + le32(3000) + u8(0x10) + u8(0x20) + u8(0x8C) + u8(0x9F) + u8(cadence) +
           u8(cadence) + le16(180) + le16(400) + le16(12) + le16(11) + le16(500) + le32(100);
}

// One recorded ride of two segments (the second with a break and a sensor log, and a summary lap), a planned
// route, a recorded ride without workout, one POI and one workout with two intervals and a log of the first ride.
Image rideImage()
{
    Image image = emptyImage();
    image.put32(kPOIFrame, 1);
    image.put(kPOIs, poi(121500000, 25035000, 0x00, "Summit"));

    image.put16(kRouteFrame + 8, 3);
    image.put(kRoutes, route("Morning", 0x01, 0, 1000, 64) + route("Plan", 0x00, 98, kNone) +
                           route("Evening", 0x01, 138, 5000, kNone, 0x02));
    image.put(kLaps + 64, lap(1000, 2100));
    image.put(kSegments, segment(52, 2, kNone, "0100 0200 03 04 FFFF FFFF FF 01") +
                             segment(kNone, 1, 0, "0A00 0B00 01 02", 0x01, 4, 2000) + segment(kNone, 0, kNone, "") +
                             segment(kNone, 1, kNone, "0100 0100 00 01", 0, 1, 5000));
    // Speed, cadence and power; the second sample has every channel erased.
    image.put(kSensorLogs, sensorLog(kNone, 0x0B, 2, "10 40 F401 FF FF FFFF"));

    image.put8(kWorkoutFrame + 8, 1);
    image.put(kWorkouts, workout("Tempo", 42, 0, 0));
    image.put(kIntervals, interval(20, 0x21, 600) + interval(kNone, 0x2B, 300));
    image.put(kWorkoutLogs, workoutLog(kNone, 0, 2, "0A000000 14000000 1E000000 28000000"));
    return image;
}

std::unique_ptr<JXPSF> read(Image& image)
{
    return std::unique_ptr<JXPSF>(
        JXPSFReader::getPSF(&image.bytes, nullptr, definition(), QStringLiteral("1.4.x.x"), JXPSFReader::AllLists));
}

std::unique_ptr<GHGpx2> readGpx(const QString& path)
{
    std::unique_ptr<GHGpx2> gpx(new GHGpx2);
    GHGpxReader reader(gpx.get());
    if (!reader.readFile(path) || reader.version() != 2)
        return nullptr;
    return gpx;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The file's text with its white space simplified.
QByteArray xml(const QString& path)
{
    return contents(path).simplified();
}

// A recorded ride named name of one segment with the given points, as the only route of an image.
Image oneRide(const QByteArray& name, quint32 count, const char* points, quint8 activity = 0x01)
{
    Image image = emptyImage();
    image.put16(kRouteFrame + 8, 1);
    image.put(kRoutes, route(name, 0x01, 0, 1000, kNone, activity));
    image.put(kSegments, segment(kNone, count, kNone, points));
    return image;
}

} // namespace

class TestJXPSFExport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    QString m_startFolder;

    void plugClient()
    {
        stRegDevInfo row = testRow(QStringLiteral("Zelto30"));
        row.factory = &ExportClient::create;
        JXDaemon::getInstance()->getDeviceManager()->onDevicePlugin(
            new TestService(JXDeviceService::DEVICE_SCSI, QStringLiteral("ZE01-1"), row));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        m_startFolder = QDir::currentPath();
        plugClient();
        QVERIFY(JXDaemon::getInstance()->getClient());
    }

    // Every test writes into a folder of its own, the current directory.
    void init()
    {
        const QString folder = m_folder.filePath(QString::fromLatin1(QTest::currentTestFunction()) +
                                                 QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QDir::setCurrent(folder));
    }

    void cleanup() { QDir::setCurrent(m_startFolder); }

    void cleanupTestCase() { JXDaemon::getInstance()->getDeviceManager()->onDeviceUnplugin(); }

    void exportWritesTracksWorkoutsAndPOIs()
    {
        Image image = rideImage();
        auto root = read(image);
        root->m_userWeight = 70.5f;
        root->m_userAge = 41;
        const QList<QString> files = root->toXML();
        QCOMPARE(files.size(), 4);
        QCOMPARE(files.mid(0, 3), QList<QString>({"Morning0.gpx", "Evening0.gpx", "Tempo0.wrk"}));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+0\\.gpx$")).match(files.at(3)).hasMatch());

        auto ride = readGpx(files.at(0));
        QVERIFY(ride);
        const GHGpxMetadata* meta = ride->metadata;
        QCOMPARE(meta->name, QStringLiteral("Morning"));
        QCOMPARE(meta->sharetype, QStringLiteral("2"));
        QCOMPARE(meta->sys, QStringLiteral("Zelto30"));
        QCOMPARE(meta->sysVersion, QStringLiteral("1.0.0.7.1 JX") + JXEnv::getInstance()->getVersion());
        QCOMPARE(meta->acttype, QStringLiteral("1"));
        QCOMPARE(meta->acttypeSubtype, QStringLiteral("2"));
        QCOMPARE(meta->stime, QStringLiteral("1970-01-01T00:16:40Z")); // from the summary lap
        QCOMPARE(meta->etime, QStringLiteral("1970-01-01T00:35:00Z"));
        QCOMPARE(meta->trvtime, QStringLiteral("1008"));

        QCOMPARE(ride->track->segments.size(), 2);
        const QVector<GHGpxTrackPoint*>& first = ride->track->segments.at(0)->points;
        QCOMPARE(first.size(), 3);
        QCOMPARE(first.at(0)->lat, QStringLiteral("30.000000"));
        QCOMPARE(first.at(0)->ele, QStringLiteral("100.00"));
        QCOMPARE(first.at(1)->lon, QStringLiteral("120.000001"));
        QCOMPARE(first.at(1)->lat, QStringLiteral("30.000002"));
        QCOMPARE(first.at(1)->time, QStringLiteral("1970-01-01T00:16:44Z"));
        QCOMPARE(first.at(2)->lat, QStringLiteral("30.000001"));
        QCOMPARE(ride->track->segments.at(1)->points.at(1)->time, QStringLiteral("1970-01-01T00:33:28Z"));
        // Both segment starts, and where the last one ends.
        QCOMPARE(ride->route->points.size(), 3);
        QCOMPARE(ride->route->points.at(2)->lat, QStringLiteral("30.000011"));
        QCOMPARE(ride->route->points.at(2)->lon, QStringLiteral("120.000010"));

        // The reader leaves the ride extensions out; they are checked in the text.
        const QByteArray text = xml(files.at(0));
        QVERIFY(text.contains("<trkseg> <extensions> <breaktype>2</breaktype> </extensions>"));
        QVERIFY(text.contains("<ssrlog> <logseg> <logpt time=\"1970-01-01T00:16:40Z\"> <cad>60.00</cad> "
                              "<spd>7.20</spd> <pwr>500</pwr> </logpt> <logpt time=\"1970-01-01T00:16:41Z\"/> "
                              "</logseg> </ssrlog>"));
        QVERIFY(text.contains("<wrklog id=\"42\" type=\"2\""));
        QVERIFY(text.contains("<interval order=\"2\"> <start>1970-01-01T00:00:30Z</start> "
                              "<end>1970-01-01T00:00:40Z</end>"));
        QVERIFY(text.contains("<speed max=\"14.40\" avg=\"7.20\"/> <hrm max=\"159\" avg=\"140\"/> "
                              "<cad max=\"60.00\" avg=\"60.00\"/>"));
        QVERIFY(text.contains("<wrk id=\"42\""));
        QVERIFY(text.contains("<weight>70.50</weight> <height>180.00</height> <age>41</age>"));

        // A ride done without a workout has neither log nor plan.
        const QByteArray evening = xml(files.at(1));
        QVERIFY(!evening.isEmpty());
        QVERIFY(!evening.contains("wrklog") && !evening.contains("<wrk"));

        GHTrncrs course;
        QVERIFY(GHTrnReader(&course).readFile(files.at(2)));
        QCOMPARE(course.metadata->name, QStringLiteral("Tempo"));
        QCOMPARE(course.metadata->desc, QStringLiteral("Sample"));
        QCOMPARE(course.metadata->sys, QStringLiteral("Zelto30"));
        QCOMPARE(course.workouts.size(), 1);
        QCOMPARE(course.workouts.at(0)->time, QStringLiteral("2020-01-02T03:04:05Z"));
        QCOMPARE(course.workouts.at(0)->intervals.size(), 2);

        auto point = readGpx(files.at(3));
        QVERIFY(point);
        QCOMPARE(point->metadata->sharetype, QStringLiteral("0"));
        QCOMPARE(point->metadata->acttype, QStringLiteral("3"));
        QCOMPARE(point->waypoints.size(), 1);
        QCOMPARE(point->waypoints.at(0)->name, QStringLiteral("Summit"));
        QCOMPARE(point->waypoints.at(0)->lat, QStringLiteral("25.035000"));

        // Exported once: the uploaded marks keep a second export empty, unless the check is off.
        QCOMPARE(root->toXML(), QList<QString>());
        root->setDontCheckUploaded(true);
        QCOMPARE(root->toXML().size(), 4);
        QVERIFY(QFile::exists(QStringLiteral("Morning1.gpx")));
    }

    void plannedRouteNeverExported()
    {
        Image image = emptyImage();
        image.put16(kRouteFrame + 8, 1);
        image.put(kRoutes, route("Plan", 0x00, 0, kNone));
        image.put(kSegments, segment(kNone, 1, kNone, "0100 0100 00 00"));
        auto root = read(image);
        root->setDontCheckUploaded(true);
        QCOMPARE(root->trackToXML(), QList<QString>());
    }

    void segmentWithoutPointsKeepsItsStartOutline()
    {
        Image image = oneRide("Short", 0, "");
        auto root = read(image);
        const QList<QString> files = root->trackToXML();
        QCOMPARE(files, QList<QString>({"Short0.gpx"}));
        auto gpx = readGpx(files.at(0));
        QVERIFY(gpx);
        QVERIFY(gpx->track->segments.isEmpty() || gpx->track->segments.at(0)->points.isEmpty());
        QCOMPARE(gpx->route->points.size(), 1);
        QCOMPARE(gpx->route->points.at(0)->lat, QStringLiteral("30.000000"));
        QCOMPARE(gpx->metadata->trvtime, QStringLiteral("0"));
    }

    void cadence_data()
    {
        QTest::addColumn<int>("activity");
        QTest::addColumn<QString>("cadence");
        QTest::newRow("cycling") << 1 << "60.00";
        QTest::newRow("other") << 2 << "64";
    }

    void cadence()
    {
        QFETCH(int, activity);
        QFETCH(QString, cadence);
        Image image = oneRide("Ride", 1, "0100 0100 00 01", quint8(activity));
        image.put32(kSegments + 36, 0);
        image.put(kSensorLogs, sensorLog(kNone, 0x02, 1, "40"));
        image.put32(kRoutes + 140, 0);
        image.put(kLaps, lap(1000, 1001));
        auto root = read(image);
        const QByteArray text = xml(root->trackToXML().value(0));
        QVERIFY(text.contains("<cad>" + cadence.toLatin1() + "</cad>"));
        QVERIFY(text.contains("<cad max=\"" + cadence.toLatin1() + "\" avg=\"" + cadence.toLatin1() + "\"/>"));
    }

    void fileNames_data()
    {
        QTest::addColumn<QByteArray>("firstName");
        QTest::addColumn<QByteArray>("secondName");
        QTest::addColumn<quint8>("flags");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("separators removed")
            << QByteArray("a b/c") << QByteArray("abc") << quint8(0x01) << QStringList({"abc0.gpx", "abc1.gpx"});
        QTest::newRow("printable ASCII only")
            << QByteArray("Caf\xE9\t:\\") << QByteArray(" ") << quint8(0x01) << QStringList({"Caf0.gpx", "0.gpx"});
        QTest::newRow("bitmap names") << QByteArray("\x7F\x20\x41") << QByteArray("\x41\x42") << quint8(0x03)
                                      << QStringList({"0.gpx", "1.gpx"});
    }

    void fileNames()
    {
        QFETCH(QByteArray, firstName);
        QFETCH(QByteArray, secondName);
        QFETCH(quint8, flags);
        QFETCH(QStringList, files);
        Image image = emptyImage();
        image.put16(kRouteFrame + 8, 2);
        image.put(kRoutes, route(firstName, flags, 0) + route(secondName, flags, 0));
        image.put(kSegments, segment(kNone, 1, kNone, "0100 0100 00 01"));
        auto root = read(image);
        QCOMPARE(QStringList(root->trackToXML()), files);
        auto gpx = readGpx(files.at(0));
        QVERIFY(gpx);
        // A bitmap name is no text.
        if (flags & 0x02)
            QVERIFY(gpx->metadata->name.isEmpty() && gpx->route->name.isEmpty());
        else
            QCOMPARE(gpx->route->name, QString::fromLatin1(firstName));
    }

    void lastAttemptIsOverwritten()
    {
        for (int attempt = 0; attempt <= 99; ++attempt) {
            QFile file(QStringLiteral("abc%1.gpx").arg(attempt));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("taken");
        }
        Image image = oneRide("abc", 1, "0100 0100 00 01");
        auto root = read(image);
        QCOMPARE(root->trackToXML(), QList<QString>({"abc99.gpx"}));
        QVERIFY(readGpx(QStringLiteral("abc99.gpx")));
        QCOMPARE(contents(QStringLiteral("abc98.gpx")), QByteArray("taken"));
    }

    void laps_data()
    {
        QTest::addColumn<quint32>("firstLap");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("exported");
        QTest::newRow("inside the table") << 10u << 3 << 3;
        QTest::newRow("ending at the last record") << 2045u << 3 << 3;
        QTest::newRow("past the last record") << 2046u << 3 << 0;
        QTest::newRow("count erased") << 10u << 0xFF << 0;
    }

    void laps()
    {
        QFETCH(quint32, firstLap);
        QFETCH(int, count);
        QFETCH(int, exported);
        Image image = oneRide("Laps", 1, "0100 0100 00 01");
        image.put32(kRoutes + kRouteLapOffset, firstLap * 32);
        image.put8(kRoutes + kRouteLapCount, quint8(count));
        for (quint32 index = firstLap; index < qMin(firstLap + 3, 2048u); ++index)
            image.put(kLaps + 32 * index, lap(index, index + 1));
        auto root = read(image);
        const QByteArray text = xml(root->trackToXML().value(0));
        QVERIFY(!text.isEmpty());
        QCOMPARE(text.count("<lap "), exported);
        if (exported)
            QVERIFY(text.contains("<lap order=\"3\" start=\"" + JXPSFField::timeFromPSF(firstLap + 2).toLatin1()));
    }

    void userValuesHaveTwoDecimals_data()
    {
        QTest::addColumn<float>("weight");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("70.5") << 70.5f << QByteArray("<weight>70.50</weight>");
        QTest::newRow("70.555") << 70.555f << QByteArray("<weight>70.56</weight>");
        QTest::newRow("0.5") << 0.5f << QByteArray("<weight>0.50</weight>");
    }

    void userValuesHaveTwoDecimals()
    {
        QFETCH(float, weight);
        QFETCH(QByteArray, text);
        Image image = oneRide("User", 1, "0100 0100 00 01");
        auto root = read(image);
        root->m_userWeight = weight;
        QVERIFY(contents(root->trackToXML().value(0)).contains(text));
    }

    void shortStepsAddUp()
    {
        // 100 steps of 8 millionths of a degree of latitude, 0.89 m each.
        QByteArray points;
        for (int i = 0; i < 100; ++i)
            points += "0000 0800 00 01 ";
        Image image = oneRide("Steps", 100, points.constData());
        auto root = read(image);
        auto gpx = readGpx(root->trackToXML().value(0));
        QVERIFY(gpx);
        QCOMPARE(gpx->metadata->trvdist, QStringLiteral("88"));
    }

    void noClientLeavesDeviceTextsEmpty()
    {
        JXDaemon::getInstance()->getDeviceManager()->onDeviceUnplugin();
        QVERIFY(!JXDaemon::getInstance()->getClient());
        Image image = rideImage();
        auto root = read(image);
        const QList<QString> files = root->toXML();
        plugClient();
        QCOMPARE(files.size(), 4);
        auto ride = readGpx(files.at(0));
        QVERIFY(ride);
        QVERIFY(ride->metadata->sys.isEmpty() && ride->metadata->desc.isEmpty());
        auto point = readGpx(files.at(3));
        QVERIFY(point);
        QVERIFY(point->metadata->acttype.isEmpty());
        GHTrncrs course;
        QVERIFY(GHTrnReader(&course).readFile(files.at(2)));
        QVERIFY(course.metadata->sys.isEmpty());
    }

    void unwritableFolderListsNothingAndKeepsRecords()
    {
        // A current directory that is gone takes no file, also for root.
        const QString gone = QDir::current().filePath(QStringLiteral("gone"));
        QVERIFY(QDir().mkpath(gone));
        QVERIFY(QDir::setCurrent(gone));
        QVERIFY(QDir().rmdir(gone));
        Image image = rideImage();
        auto root = read(image);
        QCOMPARE(root->toXML(), QList<QString>());

        // Nothing counts as uploaded: a later export into a folder that works writes everything.
        QVERIFY(QDir::setCurrent(m_folder.path()));
        const QString again = m_folder.filePath(QStringLiteral("again"));
        QVERIFY(QDir().mkpath(again));
        QVERIFY(QDir::setCurrent(again));
        QCOMPARE(root->toXML().size(), 4);
    }

    void firstWorkoutWithTheRideWins()
    {
        Image image = oneRide("Ride", 1, "0100 0100 00 01");
        image.put8(kWorkoutFrame + 8, 2);
        image.put(kWorkouts, workout("First", 7, kNone, 0) + workout("Second", 8, kNone, 40));
        image.put(kWorkoutLogs, workoutLog(kNone, 0, 1, "0A000000 14000000") + QByteArray(8, char(0xFF)) +
                                    workoutLog(kNone, 0, 1, "1E000000 28000000"));
        auto root = read(image);
        QCOMPARE(root->getWorkoutByRoute(0)->getWorkoutId(), 7u);
        QVERIFY(!root->getWorkoutByRoute(JXPSFRoute::RecordSize));
        QVERIFY(!root->getWorkoutLogByRoute(JXPSFRoute::RecordSize));
        const QByteArray text = xml(root->trackToXML().value(0));
        QVERIFY(text.contains("<wrklog id=\"7\""));
        QVERIFY(text.contains("<start>1970-01-01T00:00:10Z</start>"));
        QVERIFY(!text.contains("<wrklog id=\"8\""));
    }

    void workoutNamesOfRemovedCharacters()
    {
        Image image = emptyImage();
        image.put8(kWorkoutFrame + 8, 2);
        image.put(kWorkouts, workout(" /:", 1, kNone, kNone) + workout("\\ ", 2, kNone, kNone));
        auto root = read(image);
        QCOMPARE(root->workoutToXML(), QList<QString>({"0.wrk", "1.wrk"}));
        QCOMPARE(root->workoutToXML(), QList<QString>());
    }

    void intervalTexts()
    {
        Image image = oneRide("Ride", 1, "0100 0100 00 01");
        image.put8(kWorkoutFrame + 8, 1);
        image.put(kWorkouts, workout("Goto", 5, 0, 0));
        image.put(kWorkoutLogs, workoutLog(kNone, 0, 0, ""));
        // The first interval has no goto value but a repeat; the second goes to 7, and lasts 0xFFFF.
        QByteArray second = interval(kNone, 0x22, 0xFFFF);
        second.replace(8, 5, le32(7) + u8(2));
        image.put(kIntervals, interval(20, 0x21, 600).replace(12, 1, u8(3)) + second);
        auto root = read(image);

        // The plan of a ride holds the same workout as the course file.
        GHGpx2 gpx;
        QVERIFY(root->workoutlogToXML(&gpx, 0));
        root->workoutPlanToXML(&gpx);
        QVERIFY(gpx.workoutPlan && gpx.workoutPlan->workouts.size() == 1);
        const QVector<GHTrnInterval*>& planned = gpx.workoutPlan->workouts.at(0)->intervals;
        QCOMPARE(planned.size(), 2);
        QVERIFY(planned.at(0)->goTo.isEmpty());
        QCOMPARE(planned.at(0)->goToRepeat, QStringLiteral("3"));

        const QList<QString> files = root->workoutToXML();
        QCOMPARE(files, QList<QString>({"Goto0.wrk"}));
        GHTrncrs course;
        QVERIFY(GHTrnReader(&course).readFile(files.at(0)));
        QCOMPARE(course.workouts.at(0)->id, QStringLiteral("5"));
        const QVector<GHTrnInterval*>& intervals = course.workouts.at(0)->intervals;
        QCOMPARE(intervals.size(), 2);
        QCOMPARE(intervals.at(0)->id, QStringLiteral("1"));
        QCOMPARE(intervals.at(0)->name, QStringLiteral("Warmup"));
        QVERIFY(intervals.at(0)->goTo.isEmpty());
        QCOMPARE(intervals.at(1)->goTo, QStringLiteral("7"));
        QCOMPARE(intervals.at(1)->goToRepeat, QStringLiteral("2"));
        QCOMPARE(intervals.at(1)->name, QStringLiteral("Work"));
        QCOMPARE(intervals.at(1)->duration->value, QStringLiteral("-1"));
    }
};

QTEST_GUILESS_MAIN(TestJXPSFExport)
#include "tst_jxpsfexport.moc"
