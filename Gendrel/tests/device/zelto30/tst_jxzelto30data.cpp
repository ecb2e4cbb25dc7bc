#include <QtTest>

#include <QTemporaryDir>

#include <memory>

#include <quazip.h>

#include "compress/jxziputil.h"
#include "device/jxdeviceimpl.h"
#include "device/zelto30/jxzelto35.h"
#include "jxcurrentfolder.h"
#include "jxenv.h"
#include "jxpsfimagefixture.h"
#include "jxsimulatedflashbed.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "jxvirtualclock.h"
#include "psf/gen1/jxpsf.h"
#include "psf/gen1/jxpsffield.h"
#include "psf/gen1/jxpsfpoiframe.h"
#include "psf/gen1/jxpsfrouteframe.h"
#include "psf/gen1/jxpsfworkoutframe.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

using namespace PSF1;

namespace {

const int kFlashSize = 0x100000;
const qint64 kRoutes = kRouteFrame + kRouteTable;
const qint64 kLaps = kRouteFrame + kLapTable;
const qint64 kSegments = kTrackFrame + kSegmentList;
const qint64 kWorkouts = kWorkoutFrame + kWorkoutTable;
const int kWorkoutSize = 152;

class Zelto30Under : public JXDeviceImpl<Zelto30Under, JXZelto30>
{
public:
    JXPSF* psf() { return m_psf; }
    void setErrorFlag(bool error) { m_error = error; }
};

quint32 recordWord(const QByteArray& record, int offset)
{
    return qFromLittleEndian<quint32>(record.constData() + offset);
}

// A ring entry of the header record (free count and two addresses) is described as empty by the layout words.
bool ringIsReset(const JXZelto30& client, int entry, int sizeWord, int startWord)
{
    const QByteArray record = client.getFlashHeaderRecord();
    const quint32* words = client.getFlashDef();
    return recordWord(record, entry) == words[sizeWord] && recordWord(record, entry + 4) == words[startWord] &&
           recordWord(record, entry + 8) == words[startWord];
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

const QByteArray kRouteGpx =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<gpx xmlns=\"http://www.vexmor.example/PMZ/2/2\" creator=\"vexmor\" version=\"2.2.0.3\">\n"
    "<metadata><name>Lake</name><extensions><sharetype>2</sharetype></extensions></metadata>\n"
    "<rte><rtept lat=\"30\" lon=\"120\"><type>12</type></rtept>"
    "<rtept lat=\"30.01\" lon=\"120\"><type>20</type></rtept></rte>"
    "<trk><trkseg><trkpt lat=\"30\" lon=\"120\"><ele>100</ele></trkpt>"
    "<trkpt lat=\"30.015625\" lon=\"120.03125\"><ele>101</ele></trkpt></trkseg></trk></gpx>\n";

const QByteArray kCourse = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<trncrs xmlns=\"http://www.vexmor.example/WRK/1/3\" creator=\"vexmor\" version=\"1.0\">"
                           "<metadata><name>Hills</name></metadata>"
                           "<wrk id=\"43\" daily=\"0\"><name>Walk</name><itv id=\"1\"><name>Walk</name>"
                           "<target type=\"1\" low=\"3\" high=\"4\"/><duration type=\"1\" value=\"600\"/></itv></wrk>"
                           "</trncrs>\n";

QByteArray lap(quint32 start, quint32 end, quint32 distance)
{
    return le32(start) + le32(end) + le32(distance) + QByteArray(20, '\0');
}

// In route-frame order: an uploaded track with a summary lap, a route of one segment, a track without summary
// and a route without segments whose name is a picture. Two workouts: one dated, one with no date and uploaded.
Image listImage()
{
    Image image = emptyImage();
    image.put16(kRouteFrame + 8, 4);
    image.put(kRoutes, route("Ride", 0x09, 0, 1000, 64) + route("Plan", 0x00, 52) + route("Bare", 0x01, kNone) +
                           route(QByteArray(128, 0x0F), 0x02, kNone));
    image.put(kLaps + 64, lap(1000, 2100, 3000));
    image.put(kSegments, segment(kNone, 2, kNone, "0100 0200 03 04 FFFF FFFF FF 01") +
                             segment(kNone, 1, kNone, "0100 0100 00 01", 0, 1, 5000, 8000000, -2500000));
    image.put8(kWorkoutFrame + 8, 2);
    image.put(kWorkouts, workout("Tempo", 42, kNone, kNone) + workout("Easy", 43, kNone, kNone, 0x43));
    image.put32(kWorkouts + kWorkoutSize, kNone);
    return image;
}

// The device's flash: the newest header record in slot 0, the data store from 0x6000 and a zero profile block.
QByteArray deviceFlash(const Image& store)
{
    QByteArray flash(kFlashSize, char(0xFF));
    QByteArray slot(212, '\0');
    slot[0] = char(0x55);
    slot[1] = char(0xAA);
    flash.replace(0, slot.size(), slot);
    flash.replace(int(kFlashBase), store.bytes.size(), store.bytes);
    flash.replace(0xF8000, 4096, QByteArray(4096, '\0'));
    return flash;
}

QStringList entries(const QString& zipPath)
{
    QuaZip zip(zipPath);
    if (!zip.open(QuaZip::mdUnzip))
        return QStringList();
    QStringList names = zip.getFileNameList();
    names.sort();
    return names;
}

QStringList withSuffix(const QStringList& names, const QString& suffix)
{
    QStringList matching;
    for (const QString& name : names)
        if (name.endsWith(suffix))
            matching << name;
    return matching;
}

} // namespace

// The read side of the first-generation client against a simulated device: its lists, the upload package and the
// raw-data export.
class TestJXZelto30Data : public QObject
{
    Q_OBJECT

    JXSimulatedFlashBed m_bed;

    std::unique_ptr<Zelto30Under> makeClient(const Image& store = listImage())
    {
        m_bed.flash()->setExternalFlash(deviceFlash(store));
        auto* service =
            JXSimulatedFlashBed::service(QStringLiteral("1003"), QStringLiteral("Zelto35"), QStringLiteral("FENDIR"));
        return std::unique_ptr<Zelto30Under>(static_cast<Zelto30Under*>(Zelto30Under::create(service)));
    }

private slots:
    void init()
    {
        QVERIFY(m_bed.setUp(kFlashSize));
        QFile log(JXEnv::getInstance()->getLogFile());
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write("a line of the log\n");
    }

    void cleanup() { m_bed.reset(); }

    void routesAndTracksShareOneIndex()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVector<JXClientData> routes;
        QVector<JXClientData> tracks;
        client->getRoutes(routes);
        client->getTracks(tracks);

        QCOMPARE(routes.size(), 2);
        QCOMPARE(routes[0].id, 1);
        QCOMPARE(routes[0].name, QStringLiteral("Plan"));
        QVERIFY(routes[0].namePicture.isNull());
        QCOMPARE(routes[0].dataKind, 1);
        QCOMPARE(routes[0].startPlace, QStringLiteral("-2.500000,8.000000"));
        QCOMPARE(routes[0].endPlace, QStringLiteral("-2.499940,8.000050"));
        QVERIFY(routes[0].startTime.isNull());
        // A route without segments; its name is a picture.
        QCOMPARE(routes[1].id, 3);
        QVERIFY(routes[1].name.isNull());
        QCOMPARE(routes[1].namePicture.size(), QSize(64, 16));
        QCOMPARE(routes[1].distance, 0);
        QCOMPARE(routes[1].startPlace, QStringLiteral("0.000000,0.000000"));
        QCOMPARE(routes[1].endPlace, QStringLiteral("0.000000,0.000000"));

        QCOMPARE(tracks.size(), 2);
        QCOMPARE(tracks[0].id, 0);
        QCOMPARE(tracks[0].name, QStringLiteral("Ride"));
        QCOMPARE(tracks[0].dataKind, 2);
        QVERIFY(tracks[0].uploaded);
        QCOMPARE(tracks[0].startTime, QDateTime::fromTime_t(1000));
        QCOMPARE(tracks[0].endTime, QDateTime::fromTime_t(2100));
        QCOMPARE(tracks[0].distance, 3000);
        QCOMPARE(tracks[0].startPlace, QStringLiteral("30.000000,120.000000"));
        QCOMPARE(tracks[0].endPlace, QStringLiteral("30.000060,120.000050"));
        // Without a summary lap only the index, name, kind and mark are set.
        QCOMPARE(tracks[1].id, 2);
        QCOMPARE(tracks[1].name, QStringLiteral("Bare"));
        QVERIFY(!tracks[1].uploaded);
        QVERIFY(tracks[1].startTime.isNull());
        QVERIFY(tracks[1].endTime.isNull());
        QCOMPARE(tracks[1].distance, 0);
        QVERIFY(tracks[1].startPlace.isNull());
        QVERIFY(tracks[1].endPlace.isNull());
    }

    void workoutsAndPOIs()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVector<JXClientData> workouts;
        client->getWorkouts(workouts);
        QCOMPARE(workouts.size(), 2);
        QCOMPARE(workouts[0].id, 0);
        QCOMPARE(workouts[0].name, QStringLiteral("Tempo"));
        QCOMPARE(workouts[0].dataKind, 3);
        QCOMPARE(workouts[0].startTime, QDateTime::fromTime_t(1577934245));
        QVERIFY(!workouts[0].uploaded);
        QCOMPARE(workouts[1].id, 1);
        QVERIFY(workouts[1].startTime.isNull());
        QVERIFY(workouts[1].uploaded);

        QVector<JXClientData> pois(1);
        pois[0].id = 77;
        client->getPOIs(pois);
        QCOMPARE(pois.size(), 1);
        QCOMPARE(pois[0].id, 77);
    }

    void noDataStoreListsNothing()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        m_bed.flash()->setExternalFlash(QByteArray(kFlashSize, char(0xFF)));
        QVector<JXClientData> items;
        client->getRoutes(items);
        client->getTracks(items);
        client->getWorkouts(items);
        QVERIFY(items.isEmpty());
    }

    void uploadPackageNames_data()
    {
        QTest::addColumn<bool>("givenPath");
        QTest::addColumn<QString>("gpxSuffix");
        QTest::newRow("default path keeps .gpx") << false << ".gpx";
        QTest::newRow("given path packs .pmz") << true << ".pmz";
    }

    void uploadPackageNames()
    {
        QFETCH(bool, givenPath);
        QFETCH(QString, gpxSuffix);
        std::unique_ptr<Zelto30Under> client = makeClient();
        const QString tmp = JXEnv::getInstance()->getTmpFolder();
        const QString before = QDir::currentPath();
        QString path = givenPath ? m_bed.folder()->filePath(QStringLiteral("out.zip")) : QString();

        QVERIFY(client->prepareUploadData(path, true));
        QVERIFY(!client->getError(nullptr));
        QCOMPARE(QDir::currentPath(), before);
        if (!givenPath)
            QCOMPARE(path, tmp + QLatin1String("/up.zip"));
        const QStringList names = entries(path);
        QVERIFY(names.contains(QStringLiteral("flash.dat")));
        QVERIFY(names.contains(QStringLiteral("jx.log")));
        QCOMPARE(withSuffix(names, gpxSuffix).size(), 2);
        QCOMPARE(withSuffix(names, QStringLiteral(".wrk")).size(), 2);
        QCOMPARE(names.size(), 6);
        // The files stay in the temporary folder; flash.dat is the whole image.
        QFile flash(tmp + QLatin1String("/flash.dat"));
        QVERIFY(flash.open(QIODevice::ReadOnly));
        QCOMPARE(flash.readAll(), m_bed.flash()->externalFlash());
    }

    void uploadedMarksLeaveRecordsOut()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        const QString path = m_bed.folder()->filePath(QStringLiteral("out.zip"));
        const int expected[3][2] = {{1, 1}, {0, 0}, {2, 2}}; // tracks, workouts
        const bool all[3] = {false, false, true};
        for (int call = 0; call < 3; ++call) {
            QString target = path;
            QVERIFY(client->prepareUploadData(target, all[call]));
            const QStringList names = entries(path);
            QCOMPARE(withSuffix(names, QStringLiteral(".pmz")).size(), expected[call][0]);
            QCOMPARE(withSuffix(names, QStringLiteral(".wrk")).size(), expected[call][1]);
        }
        QVERIFY(!client->isDirty());
    }

    void failedPackageTakesItsMarksBack()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        QFile blocker(m_bed.folder()->filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString before = QDir::currentPath();
        QString path = blocker.fileName() + QLatin1String("/up.zip");
        QVERIFY(!client->prepareUploadData(path, false));
        QVERIFY(client->getError(nullptr));
        QCOMPARE(QDir::currentPath(), before);

        // The ride and the workout not yet uploaded go with the next package that is made.
        QString good = m_bed.folder()->filePath(QStringLiteral("out.zip"));
        QVERIFY(client->prepareUploadData(good, false));
        const QStringList names = entries(good);
        QCOMPARE(withSuffix(names, QStringLiteral(".pmz")).size(), 1);
        QCOMPARE(withSuffix(names, QStringLiteral(".wrk")).size(), 1);
    }

    void temporaryFolderThatIsAFileStopsThePackage()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        const QString tmp = JXEnv::getInstance()->getTmpFolder();
        QVERIFY(QDir(tmp).removeRecursively());
        QVERIFY(writeFile(tmp, "not a folder"));
        QDir work(m_bed.folder()->filePath(QStringLiteral("work")));
        QVERIFY(work.mkpath(QStringLiteral(".")));
        QVERIFY(writeFile(work.filePath(QStringLiteral("precious.txt")), "mine"));

        JXCurrentFolderGuard folderGuard;
        QVERIFY(QDir::setCurrent(work.path()));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("no upload package")));
        QString path;
        QVERIFY(!client->prepareUploadData(path, false));
        QVERIFY(client->getError(nullptr));
        QCOMPARE(QDir::currentPath(), work.path());
        QCOMPARE(work.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{QStringLiteral("precious.txt")});
        QVector<JXClientData> tracks;
        client->getTracks(tracks);
        QVERIFY(!tracks.at(1).uploaded);
    }

    void rawDataExportWritesTracksIntoANewFolder()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        const QString before = QDir::currentPath();
        const QString folder = m_bed.folder()->filePath(QStringLiteral("raw/inner"));
        const QStringList paths = client->saveDeviceRawData(folder);
        QCOMPARE(paths.size(), 2);
        for (const QString& path : paths) {
            QCOMPARE(QFileInfo(path).absolutePath(), folder);
            QVERIFY(path.endsWith(QLatin1String(".gpx")));
            QVERIFY(QFileInfo(path).size() > 0);
        }
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);
        QCOMPARE(QDir::currentPath(), before);

        const QString blocked = m_bed.folder()->filePath(QStringLiteral("raw/inner/") + QFileInfo(paths[0]).fileName());
        QVERIFY(client->saveDeviceRawData(blocked + QLatin1String("/below")).isEmpty());
        QCOMPARE(QDir::currentPath(), before);
    }

    // The frame holds track 0, route 1, track 2, route 3.
    void lastTrackResetsTheTrackRings_data()
    {
        QTest::addColumn<QVector<int>>("indexes");
        QTest::addColumn<bool>("reset");
        QTest::addColumn<int>("left");
        QTest::newRow("every track") << QVector<int>{0, 2} << true << 2;
        QTest::newRow("tracks and routes") << QVector<int>{3, 0, 1, 2} << true << 0;
        QTest::newRow("all but one track") << QVector<int>{0, 1} << false << 2;
        QTest::newRow("one track twice") << QVector<int>{2, 2} << false << 3;
        QTest::newRow("out of range and negative") << QVector<int>{0, -1, 4, 99} << false << 3;
        QTest::newRow("every track among strays") << QVector<int>{2, -3, 0, 2, 4} << true << 2;
    }

    void lastTrackResetsTheTrackRings()
    {
        QFETCH(QVector<int>, indexes);
        QFETCH(bool, reset);
        QFETCH(int, left);
        std::unique_ptr<Zelto30Under> client = makeClient();

        QVERIFY(client->deleteRoutes(indexes));
        QVERIFY(client->isDirty());
        QCOMPARE(client->psf()->getRouteFrame()->getRoutes()->size(), left);
        QCOMPARE(ringIsReset(*client, 148, JXZelto30::DefGroup8Size, 31), reset);
        QCOMPARE(ringIsReset(*client, 100, JXZelto30::DefGroup4Size, JXZelto30::DefGroup4Start), reset);
    }

    void deletesWithoutAnImage()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        m_bed.flash()->setExternalFlash(QByteArray(kFlashSize, char(0xFF)));
        QVERIFY(!client->deleteRoutes({0}));
        QVERIFY(!client->deleteWorkouts({0}));
        QVERIFY(!client->deletePOIs({0}));
        QVERIFY(!client->isDirty());
    }

    void tracksNeedIndexes()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVERIFY(!client->deleteTracks({}));
        QVERIFY(client->psf());
        QCOMPARE(client->psf()->getRouteFrame()->getRoutes()->size(), 4);
        QVERIFY(client->deleteTracks({0}));
        QCOMPARE(client->psf()->getRouteFrame()->getRoutes()->size(), 3);
    }

    void lastWorkoutResetsTheWorkoutRings()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVERIFY(client->deleteWorkouts({1, 1, 5}));
        QVERIFY(!ringIsReset(*client, 76, JXZelto30::DefGroup2Size, JXZelto30::DefGroup2Data));
        QVERIFY(client->deleteWorkouts({0}));
        QVERIFY(client->psf()->getWorkoutFrame()->getWorkouts()->isEmpty());
        QVERIFY(ringIsReset(*client, 76, JXZelto30::DefGroup2Size, JXZelto30::DefGroup2Data));
        QVERIFY(ringIsReset(*client, 124, JXZelto30::DefGroup6Size, 21));
    }

    void deleteAllWritesTheDevice()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        QVERIFY(client->deleteAll());
        QVERIFY(!client->isDirty());

        const QByteArray written = m_bed.flash()->externalFlash();
        std::unique_ptr<Zelto30Under> reader = makeClient();
        m_bed.flash()->setExternalFlash(written);
        QVector<JXClientData> items;
        reader->getRoutes(items);
        reader->getTracks(items);
        reader->getWorkouts(items);
        QVERIFY(reader->psf());
        QVERIFY(items.isEmpty());
    }

    void deleteAllReportsAFailedWriteBack()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        const QByteArray before = m_bed.flash()->externalFlash();
        QVERIFY(client->getExtFlash());
        m_bed.flash()->setGoneAtCommand(1);
        QVERIFY(!client->deleteAll());
        QVERIFY(client->isDirty());
        QCOMPARE(m_bed.flash()->externalFlash(), before);
    }

    void shareDataImportsByTheLastThreeCharacters()
    {
        std::unique_ptr<Zelto30Under> client = makeClient(emptyImage());
        const QString source = m_bed.folder()->filePath(QStringLiteral("share"));
        QVERIFY(QDir().mkpath(source));
        QVERIFY(writeFile(source + QLatin1String("/a.pmz"), kRouteGpx));
        QVERIFY(writeFile(source + QLatin1String("/b.WRK"), kCourse));
        QVERIFY(writeFile(source + QLatin1String("/c.txt"), kRouteGpx));
        QVERIFY(writeFile(source + QLatin1String("/d.PMZ"), kRouteGpx));
        const QString package = m_bed.folder()->filePath(QStringLiteral("share.zip"));
        QStringList files;
        for (const char* name : {"a.pmz", "b.WRK", "c.txt", "d.PMZ"})
            files << source + QLatin1Char('/') + QLatin1String(name);
        {
            // The packing names entries by base name, relative to the current folder.
            JXCurrentFolderGuard folderGuard;
            QVERIFY(QDir::setCurrent(source));
            QVERIFY(JXZipUtil().compress(package, files));
        }
        client->setErrorFlag(true);

        QVERIFY(client->setShareData(package));
        QVERIFY(!client->getError(nullptr));
        QVERIFY(client->isDirty());
        QCOMPARE(client->psf()->getRouteFrame()->getRoutes()->size(), 1);
        QCOMPARE(client->psf()->getWorkoutFrame()->getWorkouts()->size(), 1);
        QCOMPARE(client->psf()->getPOIFrame()->POICount(), 0);
        const QString work = JXEnv::getInstance()->getTmpFolder() + QLatin1String("/zelto30tmp");
        QStringList unpacked = QDir(work).entryList(QDir::Files);
        unpacked.sort();
        QCOMPARE(unpacked, QStringList({"a.gpx", "b.WRK", "c.txt", "d.PMZ"}));
    }

    void shareDataPackageFailures_data()
    {
        QTest::addColumn<QByteArray>("package"); // null: an empty archive
        QTest::addColumn<bool>("result");
        QTest::newRow("empty archive") << QByteArray() << true;
        QTest::newRow("damaged archive") << QByteArray("PK\x03\x04 not really") << false;
    }

    void shareDataPackageFailures()
    {
        QFETCH(QByteArray, package);
        QFETCH(bool, result);
        std::unique_ptr<Zelto30Under> client = makeClient();
        const QString path = m_bed.folder()->filePath(QStringLiteral("share.zip"));
        if (package.isNull())
            QVERIFY(JXZipUtil().compress(path, QStringList()));
        else
            QVERIFY(writeFile(path, package));
        QCOMPARE(client->setShareData(path), result);
        QCOMPARE(client->getError(nullptr), !result);
        QVERIFY(!client->isDirty());
    }

    void shareDataWithoutAnImage()
    {
        std::unique_ptr<Zelto30Under> client = makeClient();
        m_bed.flash()->setExternalFlash(QByteArray(kFlashSize, char(0xFF)));
        client->setErrorFlag(true);
        QVERIFY(!client->setShareData(m_bed.folder()->filePath(QStringLiteral("missing.zip"))));
        QVERIFY(client->getError(nullptr));
        QVERIFY(!QFileInfo::exists(JXEnv::getInstance()->getTmpFolder() + QLatin1String("/zelto30tmp")));
        QVERIFY(!client->setShareDataGPX(QStringLiteral("x.gpx")));
        QVERIFY(!client->setShareDataTrn(QStringLiteral("x.wrk")));
    }
};

QTEST_GUILESS_MAIN(TestJXZelto30Data)
#include "tst_jxzelto30data.moc"
