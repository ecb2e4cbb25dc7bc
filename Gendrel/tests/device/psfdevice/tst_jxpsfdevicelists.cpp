#include <QtTest>

#include <QTemporaryDir>
#include <QtEndian>

#include <csignal>
#include <sys/resource.h>
#include <cstring>
#include <memory>

#include "../../../../core/tests/ghtestxml.h"
#include "compress/jxziputil.h"
#include "device/psfdevice/jxpsfdevice.h"
#include "jxenv.h"
#include "jxpsftestimage.h"
#include "jxsimulatedflashbed.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "jxvirtualclock.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

namespace {

const int kFlashSize = 0x200000;
const quint32 kNone = 0xFFFFFFFF;

// Layout "1510" as the device writes it: frame heads, table starts and the flash header's end words.
const int kRouteFrame = 0x80000;
const int kRouteTable = 0x80018;
const int kLapTable = 0x89000;
const int kWorkoutFrame = 0x6D28;
const int kWorkoutTable = 0x6D40;
const int kHeaderWorkoutEnd = 84;
const int kHeaderRouteEnd = 96;
const int kHeaderLapEnd = 108;
const int kWorkoutLogTable = 0xA9010;
const int kHeaderWorkoutLogEnd = 132;

const quint8 kRecordedTrack = 0x01;
const quint8 kTrackUploaded = 0x08;
const quint32 kRideStart = 1400000000;

void put32(QByteArray& bytes, int offset, quint32 value)
{
    qToLittleEndian<quint32>(value, bytes.data() + offset);
}

void put16(QByteArray& bytes, int offset, quint16 value)
{
    qToLittleEndian<quint16>(value, bytes.data() + offset);
}

// One text name: flags (bit 1 another follows), width, u16 length, 3-byte code, reserved, picture size; the text.
QByteArray name(const char* code, const QByteArray& text, bool next = false)
{
    QByteArray head(12, '\0');
    head[0] = char(next ? 0x02 : 0x00);
    put16(head, 2, quint16(text.size()));
    memcpy(head.data() + 4, code, 3);
    return head + text;
}

// A 36-byte route record with its names; no track, laps or user info. The next offset is set by putRoutes.
QByteArray route(quint8 flags, quint16 reserve, quint32 summary, const QByteArray& names)
{
    QByteArray record(36, char(0xFF));
    put32(record, 0, kRideStart);
    record[4] = char(flags);
    record[5] = 0;
    put16(record, 6, 0);
    put32(record, 12, summary);
    put16(record, 26, reserve);
    put32(record, 32, names.isEmpty() ? kNone : 36u);
    return record + names;
}

// A 56-byte lap: start, end, distance; the figures zero.
QByteArray lap(quint32 start, quint32 end, quint32 distance)
{
    QByteArray record(56, '\0');
    put32(record, 0, start);
    put32(record, 4, end);
    put32(record, 8, distance);
    return record;
}

// A 40-byte workout record with its names and no intervals, log or description.
QByteArray workout(quint32 activation, quint32 id, quint8 flags, quint8 repeatAndType, quint8 subType,
                   const QByteArray& names)
{
    QByteArray record(40, char(0xFF));
    put32(record, 0, activation);
    put32(record, 4, id);
    record[16] = char(flags);
    record[17] = char(repeatAndType);
    record[18] = char(subType);
    put32(record, 32, 40);
    return record + names;
}

// An empty device image with the given route, lap and workout tables filled in.
class DeviceImage
{
public:
    DeviceImage() : m_bytes(JXPSFTestImage::emptyImage(JXPSFTestImage::Layout::A)) {}

    void putRoutes(const QVector<QByteArray>& records) { putChain(kRouteFrame, kRouteTable, kHeaderRouteEnd, records); }
    void putWorkouts(const QVector<QByteArray>& records)
    {
        putChain(kWorkoutFrame, kWorkoutTable, kHeaderWorkoutEnd, records);
    }
    void putLaps(const QVector<QByteArray>& laps)
    {
        int offset = kLapTable;
        for (const QByteArray& record : laps) {
            m_bytes.replace(offset, record.size(), record);
            offset += record.size();
        }
        put32(m_bytes, kHeaderLapEnd, quint32(offset));
    }
    void putWorkoutLog(const QByteArray& log)
    {
        m_bytes.replace(kWorkoutLogTable, log.size(), log);
        put32(m_bytes, kHeaderWorkoutLogEnd, quint32(kWorkoutLogTable + log.size()));
    }
    QByteArray bytes() const { return m_bytes; }

private:
    // Records one after the other from the table start, chained by the next word at 28; the count in the frame head
    // and the table end in the flash header.
    void putChain(int frame, int table, int headerEnd, const QVector<QByteArray>& records)
    {
        int offset = 0;
        for (int index = 0; index < records.size(); ++index) {
            QByteArray record = records.at(index);
            const int next = offset + record.size();
            put32(record, 28, index + 1 < records.size() ? quint32(next) : kNone);
            m_bytes.replace(table + offset, record.size(), record);
            offset = next;
        }
        put16(m_bytes, frame + 8, quint16(records.size()));
        put32(m_bytes, headerEnd, quint32(table + offset));
    }

    QByteArray m_bytes;
};

// Planned route "Loop" (no summary, reserve 123); track "Ride 1" with a summary lap, marked uploaded; track
// "Evening" without one (reserve 7).
DeviceImage listImage()
{
    DeviceImage image;
    image.putRoutes({route(0, 123, kNone, name("eng", "Loop")),
                     route(kRecordedTrack | kTrackUploaded, 0, 0, name("eng", "Ride 1")),
                     route(kRecordedTrack, 7, kNone, name("eng", "Evening"))});
    image.putLaps({lap(kRideStart, kRideStart + 3600, 25000)});
    // Activity type 2, uploaded (bit 6); repeat 3, type 1; sub-type 4. Then one valid only in English, and one
    // whose only name is empty.
    image.putWorkouts({workout(kRideStart, 77, 0x42, 0x23, 4, name("eng", "Hills", true) + name("ger", "Berge")),
                       workout(kNone, 78, 0x01, 0x00, 0, name("eng", "Tempo")),
                       workout(kRideStart, 79, 0x01, 0x00, 0, name("eng", ""))});
    return image;
}

// Two tracks with the same name, the first of which followed the workout "Hills: 2", and one already uploaded.
DeviceImage uploadImage()
{
    DeviceImage image;
    image.putRoutes({route(kRecordedTrack, 0, kNone, name("eng", "Ride 1")),
                     route(kRecordedTrack, 0, kNone, name("eng", "Ride 1")),
                     route(kRecordedTrack | kTrackUploaded, 0, kNone, name("eng", "Done"))});
    QByteArray hills = workout(kRideStart, 77, 0x01, 0x00, 0, name("eng", "Hills: 2"));
    put32(hills, 12, 0);
    image.putWorkouts({hills});
    // Its log: start and end time, no interval logs, the route at table offset 0.
    image.putWorkoutLog(QByteArray::fromHex("01000000"
                                            "02000000"
                                            "ffffffff"
                                            "00000000"
                                            "0000"
                                            "ffffffffffff"));
    return image;
}

// The device with its device languages set by the test, and a fault on demand on the thread that loads routes.
class PSFDeviceUnder : public JXPSFDevice
{
public:
    QStringList deviceLanguages;
    bool faultOnRouteLoad = false;

    bool getLanguageOnDevice(QStringList& codes) override
    {
        codes = deviceLanguages;
        return true;
    }
    bool loadPSFRouteFrame() override
    {
        if (faultOnRouteLoad)
            raise(SIGSEGV);
        return JXPSFDevice::loadPSFRouteFrame();
    }
};

QStringList names(const QVector<JXClientData>& items)
{
    QStringList list;
    for (const JXClientData& item : items)
        list << item.name;
    return list;
}

// Unpacks a package into folder; its entry names, sorted.
QStringList unpack(const QString& zipPath, const QString& folder)
{
    JXZipUtil zip;
    if (!zip.decompress(zipPath, folder))
        return QStringList();
    QStringList entries = QDir(folder).entryList(QDir::Files);
    entries.sort();
    return entries;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The read side of the second-generation client against a simulated device: lists, deletes, the upload package
// and the flash dumps.
class TestJXPSFDeviceLists : public QObject
{
    Q_OBJECT

    JXSimulatedFlashBed m_bed;
    QString m_dumpName;

    JXMacSCSIService* rawFlashService()
    {
        auto* service =
            JXSimulatedFlashBed::service(QStringLiteral("1004"), QStringLiteral("Zelto40"), QStringLiteral("MIRDO"));
        return service;
    }

    std::unique_ptr<PSFDeviceUnder> makeClient(const DeviceImage& image, bool start = true)
    {
        m_bed.flash()->setExternalFlash(image.bytes());
        std::unique_ptr<PSFDeviceUnder> client(new PSFDeviceUnder);
        client->setDeviceService(rawFlashService());
        if (start && !client->initial())
            return nullptr;
        return client;
    }

    QString backupPath() const { return m_bed.folder()->filePath(m_dumpName); }
    QString tmpFolder() const { return JXEnv::getInstance()->getTmpFolder(); }

private slots:
    void init()
    {
        QVERIFY(m_bed.setUp());
        JXEnv* env = JXEnv::getInstance();
        m_dumpName = QStringLiteral("zelto40flash.jx%1.dat").arg(env->getVersion());
        QFile log(env->getLogFile());
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write("a line of the log\n");
        log.close();
    }

    void cleanup() { m_bed.reset(); }

    void routeAndTrackLists()
    {
        std::unique_ptr<PSFDeviceUnder> client = makeClient(listImage());
        QVERIFY(client);

        // Lists append to what the caller holds.
        JXClientData earlier;
        earlier.name = QStringLiteral("earlier");
        QVector<JXClientData> routes{earlier};
        client->getRoutes(routes);
        QCOMPARE(routes.size(), 2);
        const JXClientData& loop = routes.at(1);
        QCOMPARE(loop.id, 0);
        QCOMPARE(loop.name, QStringLiteral("Loop"));
        QCOMPARE(loop.distance, 1230);
        QVERIFY(loop.startTime.isNull());
        QVERIFY(loop.endTime.isNull());
        QCOMPARE(loop.dataKind, 2);
        QVERIFY(!loop.uploaded);

        QVector<JXClientData> tracks;
        client->getTracks(tracks);
        QCOMPARE(names(tracks), (QStringList{"Ride 1", "Evening"}));
        const JXClientData& ride = tracks.at(0);
        QCOMPARE(ride.id, 0);
        QCOMPARE(ride.distance, 25000);
        QCOMPARE(ride.startTime.toSecsSinceEpoch(), qint64(kRideStart));
        QCOMPARE(ride.endTime.toSecsSinceEpoch(), qint64(kRideStart + 3600));
        QCOMPARE(ride.dataKind, 2);
        QVERIFY(ride.uploaded);
        QCOMPARE(tracks.at(1).id, 1);
        QCOMPARE(tracks.at(1).distance, 70);
        QVERIFY(tracks.at(1).startTime.isNull());
        QVERIFY(!tracks.at(1).uploaded);

        QVector<JXClientData> pois{earlier};
        client->getPOIs(pois);
        QCOMPARE(names(pois), QStringList{"earlier"});
    }

    void workoutNamesFollowTheDeviceLanguages_data()
    {
        QTest::addColumn<QStringList>("languages");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("device language first") << QStringList{"ger"} << QStringList{"Berge", "Tempo", ""};
        QTest::newRow("unknown language falls back") << QStringList{"fra"} << QStringList{"Hills", "Tempo", ""};
        QTest::newRow("no device languages") << QStringList() << QStringList{"Hills", "Tempo", ""};
    }

    void workoutNamesFollowTheDeviceLanguages()
    {
        QFETCH(QStringList, languages);
        QFETCH(QStringList, expected);
        std::unique_ptr<PSFDeviceUnder> client = makeClient(listImage());
        QVERIFY(client);
        client->deviceLanguages = languages;

        QVector<JXClientData> workouts;
        client->getWorkouts(workouts);
        QCOMPARE(names(workouts), expected);
        QVERIFY(workouts.at(2).name.isNull());
        QVERIFY(workouts.at(2).namePicture.isNull());
        const JXClientData& hills = workouts.at(0);
        QCOMPARE(hills.id, 0);
        QCOMPARE(hills.dataKind, 3);
        QCOMPARE(hills.startTime.toSecsSinceEpoch(), qint64(kRideStart));
        QCOMPARE(hills.activityType, 2);
        QCOMPARE(hills.wrkType, 1);
        QCOMPARE(hills.subType, 4);
        QCOMPARE(hills.itemId, 77u);
        QVERIFY(hills.uploaded);
        // An erased activation time is no time.
        QVERIFY(workouts.at(1).startTime.isNull());
        QCOMPARE(workouts.at(1).id, 1);
        QVERIFY(!workouts.at(1).uploaded);
    }

    void deletesTakeWholeTables_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("routesLeft");
        QTest::addColumn<int>("tracksLeft");
        QTest::addColumn<int>("workoutsLeft");
        QTest::newRow("routes also takes the tracks") << "routes" << 0 << 0 << 3;
        QTest::newRow("tracks keep planned routes") << "tracks" << 1 << 0 << 3;
        QTest::newRow("workouts") << "workouts" << 1 << 2 << 0;
        QTest::newRow("all") << "all" << 0 << 0 << 0;
    }

    void deletesTakeWholeTables()
    {
        QFETCH(QString, operation);
        QFETCH(int, routesLeft);
        QFETCH(int, tracksLeft);
        QFETCH(int, workoutsLeft);
        std::unique_ptr<PSFDeviceUnder> client = makeClient(listImage());
        QVERIFY(client);

        // The numbers are ignored, whatever they are.
        const QVector<int> numbers{1, 99, -5};
        bool deleted = false;
        if (operation == QLatin1String("routes"))
            deleted = client->deleteRoutes(numbers);
        else if (operation == QLatin1String("tracks"))
            deleted = client->deleteTracks(numbers);
        else if (operation == QLatin1String("workouts"))
            deleted = client->deleteWorkouts(numbers);
        else
            deleted = client->deleteAll();
        QVERIFY(deleted);
        QVERIFY(!client->deletePOIs(numbers));

        QVector<JXClientData> routes, tracks, workouts;
        client->getRoutes(routes);
        client->getTracks(tracks);
        client->getWorkouts(workouts);
        QCOMPARE(routes.size(), routesLeft);
        QCOMPARE(tracks.size(), tracksLeft);
        QCOMPARE(workouts.size(), workoutsLeft);
    }

    void withoutStoreNothingIsListedOrDeleted()
    {
        std::unique_ptr<PSFDeviceUnder> client = makeClient(listImage(), false);
        QVector<JXClientData> items(1);
        client->getRoutes(items);
        client->getTracks(items);
        client->getWorkouts(items);
        QCOMPARE(items.size(), 1);
        QVERIFY(!client->deleteRoutes({}));
        QVERIFY(!client->deleteTracks({}));
        QVERIFY(!client->deleteWorkouts({}));
        QVERIFY(!client->deleteAll());
        QVERIFY(client->trackToXml(false).isEmpty());
    }

    void faultWhileReadingTracksEndsOnlyTheReader()
    {
        std::unique_ptr<PSFDeviceUnder> client = makeClient(listImage());
        QVERIFY(client);
        client->faultOnRouteLoad = true;
        QVector<JXClientData> tracks(1);
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("signal handler for wrong data"));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("getTracks\\(\\) raise exception"));
        client->getTracks(tracks);
        QCOMPARE(tracks.size(), 1);

        // The store is whole: the next reader lists the tracks.
        client->faultOnRouteLoad = false;
        client->getTracks(tracks);
        QCOMPARE(tracks.size(), 3);
    }

    void uploadPackage_data()
    {
        QTest::addColumn<bool>("givenPath");
        QTest::addColumn<bool>("all");
        QTest::addColumn<QStringList>("tracks");
        QTest::newRow("default path keeps .gpx") << false << false << QStringList{"Ride10.gpx", "Ride11.gpx"};
        QTest::newRow("given path packs .pmz") << true << false << QStringList{"Ride10.pmz", "Ride11.pmz"};
        QTest::newRow("all takes uploaded tracks")
            << true << true << QStringList{"Done0.pmz", "Ride10.pmz", "Ride11.pmz"};
    }

    void uploadPackage()
    {
        QFETCH(bool, givenPath);
        QFETCH(bool, all);
        QFETCH(QStringList, tracks);
        std::unique_ptr<PSFDeviceUnder> client = makeClient(uploadImage());
        QVERIFY(client);
        const QString before = QDir::currentPath();
        QString path = givenPath ? m_bed.folder()->filePath(QStringLiteral("out.zip")) : QString();

        QVERIFY(client->prepareUploadData(path, all));
        QCOMPARE(QDir::currentPath(), before);
        if (!givenPath)
            QCOMPARE(path, tmpFolder() + QLatin1String("/up.zip"));
        QTemporaryDir unpacked;
        QStringList expected = tracks + QStringList{"Hills20.wrk", "jx.log", m_dumpName};
        expected.sort();
        QCOMPARE(unpack(path, unpacked.path()), expected);
        for (const QString& track : tracks) {
            const QString file = unpacked.filePath(track);
            if (GHTestXml::available())
                QCOMPARE(GHTestXml::lint(file), QString());
            QVERIFY(readFile(file).contains("<gpx"));
        }
        if (GHTestXml::available())
            QCOMPARE(GHTestXml::lint(unpacked.filePath(QStringLiteral("Hills20.wrk"))), QString());
        QVERIFY(readFile(unpacked.filePath(QStringLiteral("Hills20.wrk"))).contains("Hills: 2"));
        QCOMPARE(readFile(unpacked.filePath(m_dumpName)), m_bed.flash()->externalFlash());
        QCOMPARE(readFile(unpacked.filePath(QStringLiteral("jx.log"))), QByteArray("a line of the log\n"));
        QCOMPARE(readFile(backupPath()), m_bed.flash()->externalFlash());
    }

    void exportedDumpsTravelWithTheNextPackage()
    {
        // No tracks: the package still carries the dumps and the log.
        std::unique_ptr<PSFDeviceUnder> client = makeClient(DeviceImage());
        QVERIFY(client);
        QStringList files{QStringLiteral("earlier")};
        client->exportData(QStringLiteral("ignored"), files);
        client->exportData(QString(), files);
        QCOMPARE(files, (QStringList{"earlier", m_dumpName, m_dumpName}));
        QCOMPARE(QFileInfo(backupPath()).size(), qint64(2 * kFlashSize));

        QString path = m_bed.folder()->filePath(QStringLiteral("out.zip"));
        QVERIFY(client->prepareUploadData(path, false));
        QTemporaryDir unpacked;
        QCOMPARE(unpack(path, unpacked.path()), (QStringList{"jx.log", m_dumpName}));
        const QByteArray dumps = readFile(unpacked.filePath(m_dumpName));
        QCOMPARE(dumps.size(), 3 * kFlashSize);
        for (int dump = 0; dump < 3; ++dump)
            QVERIFY(dumps.mid(dump * kFlashSize, kFlashSize) == m_bed.flash()->externalFlash());
        QCOMPARE(readFile(backupPath()), dumps);
    }

    void dumpsStayBounded_data()
    {
        QTest::addColumn<bool>("package"); // else an export
        QTest::newRow("upload package") << true;
        QTest::newRow("export") << false;
    }

    // The dump file is never removed, so every dump added makes room for itself past the limit.
    void dumpsStayBounded()
    {
        QFETCH(bool, package);
        const qint64 limit = 16 * 1024 * 1024;
        {
            // Dumps of zeros hold no data store: the oldest of them goes.
            QFile old(backupPath());
            QVERIFY(old.open(QIODevice::WriteOnly));
            QVERIFY(old.resize(limit + kFlashSize));
        }
        std::unique_ptr<PSFDeviceUnder> client = makeClient(uploadImage());
        QVERIFY(client);
        QStringList files;
        QString path = m_bed.folder()->filePath(QStringLiteral("out.zip"));
        if (package)
            QVERIFY(client->prepareUploadData(path, false));
        else
            client->exportData(QString(), files);
        QFile backup(backupPath());
        QCOMPARE(backup.size(), limit + kFlashSize);
        QVERIFY(backup.open(QIODevice::ReadOnly));
        QVERIFY(backup.seek(limit));
        QCOMPARE(backup.read(kFlashSize), m_bed.flash()->externalFlash());
    }

    void failingZipKeepsTheBackup()
    {
        std::unique_ptr<PSFDeviceUnder> client = makeClient(uploadImage());
        QVERIFY(client);
        QStringList files;
        client->exportData(QString(), files);
        QFile blocker(m_bed.folder()->filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString before = QDir::currentPath();

        QString path = blocker.fileName() + QLatin1String("/up.zip");
        QVERIFY(!client->prepareUploadData(path, true));
        QCOMPARE(QDir::currentPath(), before);
        // The dump of this attempt joins the earlier one; neither is lost.
        QCOMPARE(QFileInfo(backupPath()).size(), qint64(2 * kFlashSize));

        QString good = m_bed.folder()->filePath(QStringLiteral("out.zip"));
        QVERIFY(client->prepareUploadData(good, true));
        QCOMPARE(QFileInfo(backupPath()).size(), qint64(3 * kFlashSize));
    }

    void failedAppendLeavesNoPartialDump()
    {
        std::unique_ptr<PSFDeviceUnder> client = makeClient(uploadImage());
        QVERIFY(client);
        QStringList files;
        client->exportData(QString(), files);
        QCOMPARE(QFileInfo(backupPath()).size(), qint64(kFlashSize));

        // The file-size limit lets half of the next dump through, as a full disk would.
        rlimit saved = {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit limited = saved;
        limited.rlim_cur = rlim_t(kFlashSize + kFlashSize / 2);
        void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        client->exportData(QString(), files);
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, previous);

        QCOMPARE(QFileInfo(backupPath()).size(), qint64(kFlashSize));
        QCOMPARE(readFile(backupPath()), m_bed.flash()->externalFlash());
    }

    void unreadableFlashLeavesTheDumpOut()
    {
        std::unique_ptr<PSFDeviceUnder> client = makeClient(uploadImage());
        QVERIFY(client);
        QVector<JXClientData> tracks;
        client->getTracks(tracks);
        QCOMPARE(tracks.size(), 3);
        QStringList files;
        m_bed.flash()->setFailAtCommand(1);
        client->exportData(QString(), files);
        QVERIFY(files.isEmpty());
        QVERIFY(!QFileInfo::exists(backupPath()));

        // The device is gone: the tracks come from the image in memory (their workout log was never read), the
        // package goes without a dump.
        m_bed.flash()->setFailOnOpen(true);
        QString path = m_bed.folder()->filePath(QStringLiteral("out.zip"));
        QVERIFY(client->prepareUploadData(path, false));
        QTemporaryDir unpacked;
        QCOMPARE(unpack(path, unpacked.path()), (QStringList{"Ride10.pmz", "Ride11.pmz", "jx.log"}));
    }

    void takenNamesLeaveTheTrackOut()
    {
        std::unique_ptr<PSFDeviceUnder> client = makeClient(uploadImage());
        QVERIFY(client);
        const QString folder = m_bed.folder()->filePath(QStringLiteral("raw"));
        QVERIFY(QDir().mkpath(folder));
        for (int counter = 0; counter < 100; ++counter) {
            QFile taken(folder + QStringLiteral("/Ride1%1.gpx").arg(counter));
            QVERIFY(taken.open(QIODevice::WriteOnly));
        }
        const QString before = QDir::currentPath();

        const QStringList paths = client->saveDeviceRawData(folder);
        // The workout the first track followed is still written; its track is not.
        QCOMPARE(paths, (QStringList{QDir(folder).filePath(QStringLiteral("Hills20.wrk")),
                                     QDir(folder).filePath(QStringLiteral("Done0.gpx"))}));
        QCOMPARE(QDir::currentPath(), before);
        // No earlier file was written over.
        QCOMPARE(QFileInfo(folder + QStringLiteral("/Ride10.gpx")).size(), qint64(0));
        QCOMPARE(QFileInfo(folder + QStringLiteral("/Ride199.gpx")).size(), qint64(0));
    }
};

QTEST_GUILESS_MAIN(TestJXPSFDeviceLists)
#include "tst_jxpsfdevicelists.moc"
