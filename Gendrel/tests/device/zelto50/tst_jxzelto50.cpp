#include <QtTest>

#include <QSemaphore>
#include <QSettings>
#include <QTemporaryDir>

#include <quazip.h>
#include <quazipfile.h>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include "../../../../core/include/search/ghdevicedb.h"
#include "../../../../core/include/search/ghmyfavoriterecord.h"
#include "../../../../core/include/training/ghworkout.h"
#include "../../../../core/include/training/ghworkoutprovider.h"
#include "../../../../core/include/util/ghtracelog.h"
#include "../../../../core/tests/ghtestridelogs.h"
#include "../../../../core/tests/ghtestsqlite.h"
#include "device/jxfsdeviceservice.h"
#include "device/zelto50/jxzelto50.h"
#include "jxenv.h"
#include "jxrealmount.h"
#include "jxtimezoneguard.h"
#include "profile/jxprofiledata.h"

using GHTestSqlite::query;
using GHTestSqlite::readAll;
using GHTestSqlite::writeAll;
using namespace GHTestRideLogs;

namespace {

const QString kModel = QStringLiteral("Zelto50CR");
const QString kHome = QStringLiteral("/oriska/applications/cycling");
const quint32 kRideA = 1714552200; // 2024-05-01 08:30 as a wall-clock id
const quint32 kRideB = 1714638600; // a day later

// A map device whose upload can be held on the worker thread, so that the caller's thread meets a running action.
class HeldZelto50 : public JXZelto50CR
{
public:
    QSemaphore entered;
    QSemaphore release;
    bool prepareUploadData(QString& path, bool all) override
    {
        entered.release();
        release.acquire();
        return JXZelto50CR::prepareUploadData(path, all);
    }
};

QStringList zipEntries(const QString& path)
{
    // The unzipper refuses an archive without entries: it is the end record alone.
    const QByteArray bytes = readAll(path);
    if (bytes.size() == 22 && bytes.startsWith("PK\x05\x06"))
        return {};
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdUnzip))
        return {QStringLiteral("<not a zip>")};
    QStringList names = zip.getFileNameList();
    names.sort();
    return names;
}

QByteArray zipEntry(const QString& path, const QString& name)
{
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdUnzip) || !zip.setCurrentFile(name))
        return QByteArray();
    QuaZipFile file(&zip);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool setModified(const QString& path, qint64 seconds)
{
    struct utimbuf times = {time_t(seconds), time_t(seconds)};
    return ::utime(QFile::encodeName(path).constData(), &times) == 0;
}

qint64 modifiedSeconds(const QString& path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? qint64(info.st_mtime) : -1;
}

QByteArray profileXml(const QMap<QString, QString>& map)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<settings>\n";
    for (auto it = map.begin(); it != map.end(); ++it)
        xml += "<property name=\"" + it.key().toUtf8() + "\" value=\"" + it.value().toUtf8() + "\"/>\n";
    return xml + "</settings>\n";
}

QMap<QString, QString> readProfileFile(const QString& path)
{
    QByteArray raw = path.toLatin1();
    JXProfileData data(raw, ProfileFormat::XML);
    return data.readAll() ? data.getData() : QMap<QString, QString>{{"<unreadable>", ""}};
}

} // namespace

class TestJXZelto50 : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<JXTimeZoneGuard> m_zone;
    QString m_volume;

    QString path(const QString& name) const { return m_temp->path() + QLatin1Char('/') + name; }
    QString home() const { return m_volume + kHome; }
    QString routeDb() const { return home() + QLatin1String("/data/route/route.dat"); }
    QString favoriteDb() const { return home() + QLatin1String("/data/poi/favorite.dat"); }
    QString profileFile() const { return home() + QLatin1String("/user_settings.xml"); }
    QString defaultsFile() const { return home() + QLatin1String("/default_settings.xml"); }
    QString coreUserFile() const { return m_volume + QLatin1String("/oriska/applications/core/user_settings.xml"); }
    QString tmp() const { return JXEnv::getInstance()->getTmpFolder(); }

    void setting(const QString& key, const QVariant& value, const QString& model = kModel)
    {
        QSettings settings(JXEnv::getInstance()->getJXSettingPath(), QSettings::IniFormat);
        settings.beginGroup(model);
        if (value.isNull())
            settings.remove(key);
        else
            settings.setValue(key, value);
    }

    template <class Device = JXZelto50CR>
    std::unique_ptr<Device> makeDevice(const QString& drive)
    {
        stRegDevInfo row;
        row.code = QStringLiteral("ZL50");
        row.modelName = kModel;
        std::unique_ptr<Device> device(new Device);
        device->setDeviceService(new JXFSDeviceService(drive, &row, QString()));
        return device;
    }

    // A device volume of the current generation whose databases the data-model layer makes from its route.sql.
    template <class Device = JXZelto50CR>
    std::unique_ptr<Device> servedDevice()
    {
        auto device = makeDevice<Device>(m_volume);
        if (!device->initial() || !QFileInfo(routeDb()).isFile())
            return nullptr;
        return device;
    }

    void addRide(quint32 id, const QByteArray& workoutLog = QByteArray(), bool withDebug = false)
    {
        GHTraceLogRecord record;
        record.id = id;
        record.title = QStringLiteral("Ride %1").arg(id);
        record.startTime = qint32(id);
        record.endTime = qint32(id + 3600);
        record.activityType = 2;
        record.totalLength = 12345;
        QVERIFY(GHDeviceDB::saveTraceLog(&record, true));
        QVERIFY(writeAll(GHTraceLog::getTraceLogGPS(id),
                         gpsHeader("0.2.1.8") + trackPoint(52500000, 13400000, 0) + trackPoint(52501000, 13401000, 10)));
        QVERIFY(writeAll(GHTraceLog::getTraceLogTRN(id),
                         sensorHeader("0.2.1.8") + sensorRecord({0, 120, 80, 500, 21, 250, 101325, 7, 510})));
        if (!workoutLog.isEmpty())
            QVERIFY(writeAll(GHTraceLog::getTraceLogWRK(id), workoutLog));
        if (withDebug)
            QVERIFY(writeAll(GHTraceLog::getTraceLogDBG(id), "debug"));
    }

    void addWorkout(quint32 wid, const QString& name, int type = 0)
    {
        GHWorkout workout(wid, name);
        workout.type = GHWorkout::WorkoutType(type);
        workout.time = QDateTime::fromSecsSinceEpoch(qint64(wid), Qt::UTC);
        QVERIFY(GHWorkoutProvider().create(&workout));
    }

private slots:
    void initTestCase() { m_zone.reset(new JXTimeZoneGuard("XST-2")); }

    void init()
    {
        m_temp.reset(new QTemporaryDir);
        QVERIFY(m_temp->isValid());
        JXEnv::getInstance()->setUserDataBaseFolder(path(QStringLiteral("user")));
        m_volume = path(QStringLiteral("volume"));
        setting(QStringLiteral("apversionpath"), QStringLiteral("/oriska/version.ini"));
        setting(QStringLiteral("deviceinipath"), QStringLiteral("/oriska/device.ini"));
        setting(QStringLiteral("profilepath"), kHome + QLatin1String("/user_settings.xml"));
        QVERIFY(writeAll(m_volume + QLatin1String("/oriska/version.ini"), "version=GH2.0.1.3\n"));
        QVERIFY(writeAll(home() + QLatin1String("/data/route/route.sql"),
                         readAll(QFINDTESTDATA("../../../../core/tests/flashhome/data/route/route.sql"))));
        QVERIFY(QDir::setCurrent(m_temp->path()));
    }

    void cleanup()
    {
        GHDeviceDB::closeStorageMapDb();
        GHDeviceDB::setHomeDir(QString(), QString(), QString());
    }

    // ---- Paths, device ini, versions -----------------------------------------------------------------------

    void pathsWithoutSettingsAreTheDrive()
    {
        QSettings(JXEnv::getInstance()->getJXSettingPath(), QSettings::IniFormat).remove(kModel);
        auto device = makeDevice(m_volume);
        QString text;
        QVERIFY(device->getDeviceIni(text));
        QCOMPARE(text, m_volume);
        QVERIFY(device->getAPVersionIni(text));
        QCOMPARE(text, m_volume);
        QVERIFY(device->getShareDataPath(text));
        QCOMPARE(text, home());
        QVERIFY(device->getTraceLogPath(text));
        QCOMPARE(text, home() + QLatin1String("/data/tracelog"));
        QVERIFY(!device->getUUID(text));
        QVERIFY(text.isEmpty());
        QVERIFY(!device->getTotal(text));
        QVERIFY(device->getAP(text));
        QCOMPARE(text, QStringLiteral("GH0.0.0.0"));
        QString bootLoader;
        QVERIFY(device->getBootloader(bootLoader));
        QCOMPARE(bootLoader, text);
        QVERIFY(!device->isNewLoadDBApi());
    }

    void deviceIniAndVersions()
    {
        QVERIFY(writeAll(m_volume + QLatin1String("/oriska/device.ini"),
                         "[UUID]\nUUID=ZL50000000000042\n[Total]\nVersion=T1.2\n"));
        auto device = makeDevice(m_volume);
        QString text;
        QVERIFY(device->getUUID(text));
        QCOMPARE(text, QStringLiteral("ZL50000000000042"));
        QVERIFY(device->getTotal(text));
        QCOMPARE(text, QStringLiteral("T1.2"));
        QVERIFY(device->getAP(text));
        QCOMPARE(text, QStringLiteral("GH2.0.1.3"));
        QVERIFY(writeAll(m_volume + QLatin1String("/oriska/version.ini"), "version=\n"));
        QVERIFY(device->getAP(text));
        QCOMPARE(text, QStringLiteral("GH0.0.0.0"));
        QVERIFY(device->getBootloader(text));
        QCOMPARE(text, QStringLiteral("GH0.0.0.0"));
        qint64 total = -1;
        qint64 free = -1;
        QVERIFY(device->getInternalStorage(total, free));
    }

    void newLoadDbApi_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("expected");
        QTest::newRow("absent") << QVariant() << false;
        QTest::newRow("0") << QVariant(QStringLiteral("0")) << false;
        QTest::newRow("1") << QVariant(QStringLiteral("1")) << true;
        QTest::newRow("yes") << QVariant(QStringLiteral("yes")) << true;
        QTest::newRow("empty") << QVariant(QStringLiteral("")) << true;
    }

    void newLoadDbApi()
    {
        QFETCH(QVariant, value);
        QFETCH(bool, expected);
        setting(QStringLiteral("newLoaddbapi"), value);
        QCOMPARE(makeDevice(m_volume)->isNewLoadDBApi(), expected);
    }

    // Without a drive, or with an empty one, nothing is read or written at the file-system root.
    void noDriveTouchesNothing()
    {
        {
            auto device = makeDevice(QString());
            QString text;
            QVERIFY(!device->getAPPath(text));
            QVERIFY(!device->getProfileFilePath(text));
            QString version = QStringLiteral("kept");
            QVERIFY(!device->getAP(version));
            QCOMPARE(version, QStringLiteral("kept"));
            QVERIFY(!device->getBootloader(text));
            QVERIFY(!device->existRouteDat());
            QVERIFY(!device->isExistUpdatingFlag());
            qint64 total = 0;
            qint64 free = 0;
            QVERIFY(!device->getInternalStorage(total, free));
            QVERIFY(!device->initial());
            QMap<QString, QString> profile;
            QVERIFY(!device->getProfile(profile));
            QVERIFY(!device->saveProfile({{QStringLiteral("User Name"), QStringLiteral("x")}}));
            QVERIFY(!device->prepareUploadProfile(path(QStringLiteral("up.xml"))));
            QVERIFY(!device->setShareData(path(QStringLiteral("none.zip"))));
        }
        QVERIFY(!QFileInfo::exists(QStringLiteral("/oriska")));
    }

    void initialAfterCutCopy()
    {
        const QStringList names{"version.ini", "Version.ini", "VERSION.ini", "VERSION.INI"};
        for (const QString& name : names)
            QVERIFY(writeAll(m_volume + QLatin1String("/oriska/") + name, "version=GH2.0.1.3\n"));
        QVERIFY(servedDevice());
        for (const QString& name : names)
            QVERIFY2(QFileInfo::exists(m_volume + QLatin1String("/oriska/") + name), qPrintable(name));

        QVERIFY(writeAll(m_volume + QLatin1String("/updating@@!.ini"), "1"));
        QVERIFY(servedDevice());
        for (const QString& name : names)
            QVERIFY2(!QFileInfo::exists(m_volume + QLatin1String("/oriska/") + name), qPrintable(name));
        QCOMPARE(GHDeviceDB::getFlashHome(), home());
        QCOMPARE(GHDeviceDB::getOutputHome(), tmp() + QLatin1String("/Zelto50ExportTmp"));
        QCOMPARE(GHTraceLog::getHomeDir(), home() + QLatin1String("/data/tracelog"));
    }

    // ---- Lists and deletes ------------------------------------------------------------------------------------

    void listsBothWays()
    {
        auto device = servedDevice();
        QVERIFY(device);
        addRide(kRideA);
        addRide(kRideB);
        QVERIFY(GHTestSqlite::run(routeDb(), QStringLiteral("UPDATE TraceLog SET pause=1 WHERE idRoute=%1;"
                                                            "INSERT INTO Route (idRoute, Title, ActiveType, "
                                                            "TotalLength, StartPlace, EndPlace, Uploaded) VALUES "
                                                            "(9, 'Lake', 3, 4200, 'Basel', 'Bern', 1),"
                                                            "(4, 'Hill', 1, 800, 'A', 'B', 0);")
                                                 .arg(kRideB)
                                                 .toUtf8()));
        for (const char* way : {"0", "1"}) {
            setting(QStringLiteral("newLoaddbapi"), QLatin1String(way));
            QVector<JXClientData> routes;
            device->getRoutes(routes);
            device->getRoutes(routes);
            QCOMPARE(routes.size(), 4);
            QCOMPARE(routes.at(0).id, 4);
            QCOMPARE(routes.at(1).id, 9);
            QCOMPARE(routes.at(2).id, 4);
            const JXClientData& lake = routes.at(1);
            QCOMPARE(lake.name, QStringLiteral("Lake"));
            QCOMPARE(lake.activityType, 3);
            QCOMPARE(lake.distance, 4200);
            QCOMPARE(lake.startPlace, QStringLiteral("Basel"));
            QCOMPARE(lake.endPlace, QStringLiteral("Bern"));
            QVERIFY(lake.uploaded);
            QCOMPARE(lake.dataKind, 1);

            QVector<JXClientData> tracks;
            device->getTracks(tracks);
            // The paused ride is listed the new way only.
            QCOMPARE(tracks.size(), way[0] == '0' ? 1 : 2);
            QCOMPARE(quint32(tracks.at(0).id), kRideA);
            QCOMPARE(tracks.at(0).name, QStringLiteral("Ride %1").arg(kRideA));
            QCOMPARE(tracks.at(0).startTime, QDateTime::fromSecsSinceEpoch(kRideA, Qt::UTC).toLocalTime());
            QCOMPARE(tracks.at(0).endTime.toSecsSinceEpoch(), qint64(kRideA) + 3600);
            QCOMPARE(tracks.at(0).activityType, 2);
            QCOMPARE(tracks.at(0).distance, 12345);
            QCOMPARE(tracks.at(0).dataKind, 2);

            QVector<JXClientData> pois;
            device->getPOIs(pois);
            QCOMPARE(pois.size(), 1);
            QCOMPARE(pois.at(0).name, QStringLiteral("Vexmor Head Office"));
            QCOMPARE(pois.at(0).desc, QStringLiteral("Vexmor customer service"));
            QCOMPARE(pois.at(0).latitude, 47376900);
            QCOMPARE(pois.at(0).longitude, 8541700);
        }
        QCOMPARE(GHTestSqlite::openDescriptors(routeDb()), 0);
    }

    // The old way reads each favourite on its own: one whose row cannot be read lends nothing of its neighbour.
    void unreadableFavouriteBetweenGoodOnes()
    {
        auto device = servedDevice();
        QVERIFY(device);
        // The middle id does not fit the list's 32-bit ids, so the row it is listed under does not exist.
        QVERIFY(GHTestSqlite::run(favoriteDb(), "DELETE FROM MyFavorite;"
                                                "INSERT INTO MyFavorite (idMyFavorite, Name, Info, Place, Longitude, "
                                                "Latitude) VALUES (-10, 'first', 'i1', 'p1', 11, 12),"
                                                "(4294967346, 'lost', 'i2', 'p2', 21, 22),"
                                                "(100, 'last', 'i3', 'p3', 31, 32);"));
        QVector<JXClientData> pois;
        device->getPOIs(pois);
        QCOMPARE(pois.size(), 3);
        QCOMPARE(pois.at(0).name, QStringLiteral("first"));
        QCOMPARE(pois.at(0).place, QStringLiteral("p1"));
        QCOMPARE(pois.at(1).name, QStringLiteral("lost"));
        QCOMPARE(pois.at(1).desc, QString());
        QCOMPARE(pois.at(1).place, QString());
        QCOMPARE(pois.at(1).latitude, 0);
        QCOMPARE(pois.at(1).longitude, 0);
        QCOMPARE(pois.at(2).desc, QStringLiteral("i3"));
        QCOMPARE(pois.at(2).latitude, 32);
    }

    void deletes()
    {
        auto device = servedDevice();
        QVERIFY(device);
        addRide(kRideA);
        QVERIFY(GHTestSqlite::run(routeDb(), "INSERT INTO Route (idRoute, Title) VALUES (9, 'Lake');"));
        QVERIFY(device->deleteRoutes({9, 77}));
        QVERIFY(device->deleteTracks({int(kRideA)}));
        QVERIFY(device->deletePOIs({1, 55}));
        QCOMPARE(query(routeDb(), "select count(*) from Route; select count(*) from TraceLog;"),
                 QStringLiteral("0\n0"));
        QCOMPARE(query(favoriteDb(), "select count(*) from MyFavorite;"), QStringLiteral("0"));
        QVERIFY(!QFileInfo::exists(GHTraceLog::getTraceLogGPS(kRideA)));

        QFile::remove(routeDb());
        QVERIFY(!device->deleteRoutes({1}));
        QVERIFY(!device->deleteTracks({1}));
        QVERIFY(!device->deleteWorkouts({0}));
        QVERIFY(device->deletePOIs({1}));
        QVector<JXClientData> items;
        device->getRoutes(items);
        device->getTracks(items);
        device->getWorkouts(items);
        QVERIFY(items.isEmpty());
    }

    void workoutsListedAndDeletedByIndex()
    {
        auto device = servedDevice();
        QVERIFY(device);
        addWorkout(1000, QStringLiteral("Old"));
        addWorkout(2000, QStringLiteral("Mid"));
        addWorkout(3000, QStringLiteral("New"));
        addWorkout(4000, QStringLiteral("Kept apart"), 5);
        QVector<JXClientData> workouts;
        device->getWorkouts(workouts);
        QCOMPARE(workouts.size(), 3);
        QCOMPARE(workouts.at(0).id, 0);
        QCOMPARE(workouts.at(0).dataKind, 3);
        QStringList names;
        for (const JXClientData& item : workouts)
            names << item.name;
        QVERIFY2(names.contains(QStringLiteral("Mid")), qPrintable(names.join(',')));
        const int mid = names.indexOf(QStringLiteral("Mid"));
        QCOMPARE(workouts.at(mid).startTime, QDateTime::fromSecsSinceEpoch(2000, Qt::UTC).toLocalTime());

        QVERIFY(device->deleteWorkouts({-1, 3, 99}));
        QCOMPARE(query(routeDb(), "select count(*) from Workout;"), QStringLiteral("4"));
        // The same index twice, then again in a later call: one workout goes, the others keep their indexes.
        QVERIFY(device->deleteWorkouts({mid, mid}));
        QVERIFY(device->deleteWorkouts({mid}));
        QCOMPARE(query(routeDb(), "select count(*) from Workout;"), QStringLiteral("3"));
        QCOMPARE(query(routeDb(), "select count(*) from Workout where name like '%Mid%';"), QStringLiteral("0"));
        const int other = mid == 0 ? 1 : 0;
        QVERIFY(device->deleteWorkouts({other}));
        QCOMPARE(query(routeDb(), QStringLiteral("select count(*) from Workout where name like '%%1%';")
                                      .arg(names.at(other))
                                      .toUtf8()),
                 QStringLiteral("0"));
    }

    // While an action runs on the worker thread, the caller's thread leaves the shared connections alone.
    void listsWaitForRunningAction()
    {
        auto device = servedDevice<HeldZelto50>();
        QVERIFY(device);
        QVERIFY(GHTestSqlite::run(routeDb(), "INSERT INTO Route (idRoute, Title) VALUES (9, 'Lake');"));
        QVERIFY(device->makeUploadZip());
        QVERIFY(device->entered.tryAcquire(1, 10000));
        QVector<JXClientData> items;
        device->getRoutes(items);
        device->getPOIs(items);
        QVERIFY(items.isEmpty());
        QVERIFY(!device->deleteRoutes({9}));
        QVERIFY(!device->deletePOIs({1}));
        device->release.release();
        QTRY_VERIFY(!device->isBusy());
        device->getRoutes(items);
        QCOMPARE(items.size(), 1);
    }

    // ---- Transfers ------------------------------------------------------------------------------------------

    void workoutReference_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("inside") << "<gpx><wrklog id=\"7\" type=\"0\">" << qint64(7);
        QTest::newRow("at position 0") << "<wrklog id=\"7\">" << qint64(-1);
        QTest::newRow("twice") << "<gpx><wrklog id=\"12\"/><wrklog id=\"9\"/>" << qint64(12);
        QTest::newRow("case differs") << "<gpx><WRKLOG id=\"7\">" << qint64(-1);
        QTest::newRow("no closing quote") << "<gpx><wrklog id=\"7" << qint64(-1);
        QTest::newRow("not a number") << "<gpx><wrklog id=\"x7\">" << qint64(-1);
    }

    void workoutReference()
    {
        QFETCH(QString, text);
        QFETCH(qint64, expected);
        quint32 id = 0;
        QCOMPARE(JXZelto50::workoutIdOfRide(text, id), expected >= 0);
        if (expected >= 0)
            QCOMPARE(qint64(id), expected);
    }

    void uploadPackage()
    {
        auto device = servedDevice();
        QVERIFY(device);
        addWorkout(7, QStringLiteral("Tempo"));
        addRide(kRideA, "<wrklog id=\"7\" type=\"0\" subtype=\"0\"></wrklog>", true);
        addRide(kRideB);
        const QString pmzA = QStringLiteral("20240501083000.pmz");
        const QString pmzB = QStringLiteral("20240502083000.pmz");

        QString package;
        QVERIFY(device->prepareUploadData(package, false));
        QCOMPARE(package, tmp() + QLatin1String("/up.zip"));
        QCOMPARE(zipEntries(package), (QStringList{pmzA, pmzB, "export-7.wrk", "flash.dat"}));
        QVERIFY(zipEntry(package, pmzA).contains("<wrklog id=\"7\""));
        QVERIFY(zipEntry(package, pmzA).contains("JX2.8.0.99"));
        const QString flash = path(QStringLiteral("flash.dat"));
        QVERIFY(writeAll(flash, zipEntry(package, QStringLiteral("flash.dat"))));
        QCOMPARE(zipEntries(flash), (QStringList{QFileInfo(GHTraceLog::getTraceLogDBG(kRideA)).fileName(),
                                                 QFileInfo(GHTraceLog::getTraceLogGPS(kRideA)).fileName(),
                                                 QFileInfo(GHTraceLog::getTraceLogTRN(kRideA)).fileName(),
                                                 QFileInfo(GHTraceLog::getTraceLogGPS(kRideB)).fileName(),
                                                 QFileInfo(GHTraceLog::getTraceLogTRN(kRideB)).fileName()}));
        QCOMPARE(query(routeDb(), "select group_concat(Uploaded) from TraceLog;"), QStringLiteral("1,1"));

        // Every ride went out already: the next package carries none.
        QString second = path(QStringLiteral("second.zip"));
        QVERIFY(writeAll(second, "old"));
        QVERIFY(device->prepareUploadData(second, false));
        QCOMPARE(zipEntries(second), QStringList());

        QVERIFY(GHTestSqlite::run(routeDb(), QStringLiteral("UPDATE TraceLog SET Uploaded=0 WHERE idRoute=%1;")
                                                 .arg(kRideB)
                                                 .toUtf8()));
        QString all = path(QStringLiteral("all.zip"));
        QVERIFY(device->prepareUploadData(all, true));
        QCOMPARE(zipEntries(all), (QStringList{pmzA, pmzB, "export-7.wrk", "flash.dat"}));
        QCOMPARE(query(routeDb(), "select group_concat(Uploaded) from TraceLog order by idRoute;"),
                 QStringLiteral("1,0"));
    }

    void failedPackageLeavesRidesUnmarked()
    {
        auto device = servedDevice();
        QVERIFY(device);
        addRide(kRideA);
        QString package = path(QStringLiteral("missing/folder/up.zip"));
        QVERIFY(!device->prepareUploadData(package, false));
        QCOMPARE(query(routeDb(), "select Uploaded from TraceLog;"), QStringLiteral("0"));
        QVERIFY(!QFileInfo::exists(package));
    }

    void rawExport()
    {
        auto device = servedDevice();
        QVERIFY(device);
        addRide(kRideA);
        const QStringList copied = device->saveDeviceRawData(path(QStringLiteral("out/rides")));
        QCOMPARE(copied, QStringList{path(QStringLiteral("out/rides/20240501083000.gpx"))});
        QCOMPARE(query(routeDb(), "select Uploaded from TraceLog;"), QStringLiteral("0"));

        // A file stands where the folder should go.
        QVERIFY(writeAll(path(QStringLiteral("blocked")), "x"));
        QVERIFY(device->saveDeviceRawData(path(QStringLiteral("blocked/rides"))).isEmpty());
        QVERIFY(QDir(tmp() + QLatin1String("/Zelto50ExportTmp")).isEmpty());
    }

    void shareImport()
    {
        auto device = servedDevice();
        QVERIFY(device);
        const QByteArray gpx = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                               "<gpx xmlns=\"http://www.vexmor.example/PMZ/2/2\" creator=\"vexmor\" version=\"2.2.0.3\">"
                               "<metadata><name>Shared</name><extensions><SHARETYPE>2</SHARETYPE><trvDist>900"
                               "</trvDist></extensions></metadata>"
                               "<trk><trkseg><trkpt lat=\"47.1\" lon=\"8.2\"><ele>400</ele>"
                               "<time>2024-05-01T08:30:00Z</time></trkpt><trkpt lat=\"47.11\" lon=\"8.21\">"
                               "<ele>401</ele><time>2024-05-01T08:30:01Z</time></trkpt></trkseg></trk></gpx>\n";
        QVERIFY(writeAll(path(QStringLiteral("pack/ride.pmz")), gpx));
        // Over the cap of whole-file reads: skipped, and the rest still goes in.
        QFile huge(path(QStringLiteral("pack/huge.pmz")));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(JXZelto50::kMaxWholeFileRead + 1));
        huge.close();
        QStringList names{QStringLiteral("huge.pmz"), QStringLiteral("ride.pmz")};
        QVERIFY(device->zipFiles(path(QStringLiteral("share.zip")), path(QStringLiteral("pack")), names));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("import skipped, file larger than")));
        QVERIFY(device->setShareData(path(QStringLiteral("share.zip"))));
        QCOMPARE(query(routeDb(), "select Title from Route;"), QStringLiteral("Shared"));

        QVERIFY(writeAll(path(QStringLiteral("broken.zip")), "not a zip"));
        QVERIFY(!device->setShareData(path(QStringLiteral("broken.zip"))));
        QVERIFY(!device->setShareData(path(QStringLiteral("absent.zip"))));
    }

    // ---- Copies and packing ------------------------------------------------------------------------------------

    void sameFileWindow_data()
    {
        QTest::addColumn<qint64>("apart");
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<bool>("copied");
        QTest::newRow("59 s, same size") << qint64(59) << QByteArray("12345") << false;
        QTest::newRow("-59 s, same size") << qint64(-59) << QByteArray("12345") << false;
        QTest::newRow("60 s, same size") << qint64(60) << QByteArray("12345") << true;
        QTest::newRow("0 s, other size") << qint64(0) << QByteArray("1234") << true;
    }

    void sameFileWindow()
    {
        QFETCH(qint64, apart);
        QFETCH(QByteArray, existing);
        QFETCH(bool, copied);
        const qint64 when = 1700000000;
        QVERIFY(writeAll(path(QStringLiteral("src/sub/a.bin")), "abcde"));
        QVERIFY(setModified(path(QStringLiteral("src/sub/a.bin")), when));
        QVERIFY(writeAll(path(QStringLiteral("dst/sub/a.bin")), existing));
        QVERIFY(setModified(path(QStringLiteral("dst/sub/a.bin")), when + apart));
        QStringList list;
        auto device = makeDevice(m_volume);
        QVERIFY(device->copyFiles(path(QStringLiteral("src")), path(QStringLiteral("dst")), true, &list));
        QCOMPARE(list.size(), copied ? 1 : 0);
        QCOMPARE(readAll(path(QStringLiteral("dst/sub/a.bin"))), copied ? QByteArray("abcde") : existing);
        if (copied)
            QCOMPARE(modifiedSeconds(path(QStringLiteral("dst/sub/a.bin"))), when);
    }

    void copyTreeAndRemoveTree()
    {
        auto device = makeDevice(m_volume);
        QVERIFY(writeAll(path(QStringLiteral("src/one.txt")), "1"));
        QVERIFY(writeAll(path(QStringLiteral("src/.hidden")), "h"));
        QVERIFY(writeAll(path(QStringLiteral("src/deep/two.txt")), "2"));
        QVERIFY(setModified(path(QStringLiteral("src/one.txt")), 1600000000));
        QVERIFY(QDir().mkpath(path(QStringLiteral("dst"))));
        QStringList list;
        QVERIFY(device->copyFiles(path(QStringLiteral("src")), path(QStringLiteral("dst")), false, &list));
        QCOMPARE(list.size(), 2);
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("dst/.hidden"))));
        QVERIFY(modifiedSeconds(path(QStringLiteral("dst/one.txt"))) != 1600000000);
        QVERIFY(device->copyFiles(path(QStringLiteral("src")), path(QStringLiteral("dst")), true, nullptr));

        QVERIFY(device->removeFiles(path(QStringLiteral("src"))));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("src"))));
        QVERIFY(device->removeFiles(path(QStringLiteral("never"))));
        QVERIFY(device->removeFile(path(QStringLiteral("never.txt"))));
    }

    // A tree larger than one batch of copies: every file arrives; a rename that fails in the second batch keeps what
    // the first placed, takes away every copy not yet placed and leaves the name's folder alone.
    void treeCopyInBatches()
    {
        auto device = makeDevice(m_volume);
        const auto name = [](int i) { return QStringLiteral("f%1.bin").arg(i, 3, 10, QLatin1Char('0')); };
        for (int i = 0; i < 300; ++i)
            QVERIFY(writeAll(path(QStringLiteral("src/maps/")) + name(i), QByteArray(i + 1, char('a' + i % 26))));
        QStringList list;
        QVERIFY(device->copyFiles(path(QStringLiteral("src")), path(QStringLiteral("dst")), true, &list));
        QCOMPARE(list.size(), 300);
        QCOMPARE(list.first(), path(QStringLiteral("dst/maps/")) + name(299));
        for (int i = 0; i < 300; i += 37)
            QCOMPARE(readAll(path(QStringLiteral("dst/maps/")) + name(i)), QByteArray(i + 1, char('a' + i % 26)));
        QCOMPARE(QDir(path(QStringLiteral("dst/maps"))).entryList(QDir::Files | QDir::Hidden).size(), 300);

        QVERIFY(writeAll(path(QStringLiteral("blocked/maps/")) + name(270) + QLatin1String("/keep.txt"), "kept"));
        QVERIFY(!device->copyFiles(path(QStringLiteral("src")), path(QStringLiteral("blocked")), false, nullptr));
        const QStringList left =
            QDir(path(QStringLiteral("blocked/maps"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(left.size(), 271);
        QCOMPARE(left.last(), name(270));
        QCOMPARE(readAll(path(QStringLiteral("blocked/maps/")) + name(269)), QByteArray(270, char('a' + 269 % 26)));
        QCOMPARE(readAll(path(QStringLiteral("blocked/maps/")) + name(270) + QLatin1String("/keep.txt")),
                 QByteArray("kept"));
    }

    void copyOverExistingDestination()
    {
        auto device = makeDevice(m_volume);
        const QString source = path(QStringLiteral("new.bin"));
        const QString destination = path(QStringLiteral("dst/old.bin"));
        QVERIFY(writeAll(source, "new content"));
        QVERIFY(setModified(source, 1650000000));
        QVERIFY(writeAll(destination, "old"));
        // Locked: the first try is refused (unless root), the retry unlocks it and replaces it.
        QVERIFY(QFile::setPermissions(destination, QFile::ReadOwner));
        QVERIFY(device->copyFile(source, destination, true));
        QCOMPARE(readAll(destination), QByteArray("new content"));
        QCOMPARE(modifiedSeconds(destination), qint64(1650000000));
        QVERIFY(QFileInfo(destination).permissions() & QFile::WriteOwner);

        // Every try fails: the old file stays whole.
        QVERIFY(!device->copyFile(path(QStringLiteral("absent.bin")), destination, true));
        QCOMPARE(readAll(destination), QByteArray("new content"));
        QCOMPARE(QDir(path(QStringLiteral("dst"))).entryList(QDir::Files | QDir::Hidden), QStringList{"old.bin"});
    }

    // Names from a package reach no shell.
    void hostileNamesRunNothing()
    {
        auto device = makeDevice(m_volume);
        const QStringList names{QStringLiteral("a\"b.txt"), QStringLiteral("$(touch pwned1).txt"),
                                QStringLiteral("x; touch pwned2"), QStringLiteral("`touch pwned3`")};
        for (const QString& name : names) {
            const QString file = path(QStringLiteral("in/")) + name;
            QVERIFY(writeAll(file, "data"));
            QVERIFY(writeAll(path(QStringLiteral("out/")) + name, "old"));
            QVERIFY(QFile::setPermissions(path(QStringLiteral("out/")) + name, QFile::ReadOwner));
            device->removeReadOnlyAttribute(path(QStringLiteral("out/")) + name);
            QVERIFY(device->copyFile(file, path(QStringLiteral("out/")) + name, true));
        }
        QStringList packed = names;
        QVERIFY(device->zipFiles(path(QStringLiteral("names.zip")), path(QStringLiteral("in")), packed));
        QStringList sorted = names;
        sorted.sort();
        QCOMPARE(zipEntries(path(QStringLiteral("names.zip"))), sorted);
        for (const QString& name : names)
            QVERIFY(device->removeFile(path(QStringLiteral("out/")) + name));
        for (const char* marker : {"pwned1", "pwned2", "pwned3"}) {
            QVERIFY(!QFileInfo::exists(path(QLatin1String(marker))));
            QVERIFY(!QFileInfo::exists(QDir::current().filePath(QLatin1String(marker))));
        }
    }

    void zipFilesKeepsCurrentFolder()
    {
        auto device = makeDevice(m_volume);
        QVERIFY(writeAll(path(QStringLiteral("files/a.txt")), "a"));
        QVERIFY(writeAll(path(QStringLiteral("elsewhere/b.txt")), "b"));
        const QString before = QDir::currentPath();
        QStringList names{QStringLiteral("a.txt"), path(QStringLiteral("elsewhere/b.txt")),
                          QStringLiteral("missing.txt")};
        QVERIFY(device->zipFiles(path(QStringLiteral("out.zip")), path(QStringLiteral("files")), names));
        QCOMPARE(QDir::currentPath(), before);
        QCOMPARE(zipEntries(path(QStringLiteral("out.zip"))), (QStringList{"a.txt", "b.txt"}));
        QCOMPARE(zipEntry(path(QStringLiteral("out.zip")), QStringLiteral("b.txt")), QByteArray("b"));
        QVERIFY(device->zipDirectory(path(QStringLiteral("dir.zip")), path(QStringLiteral("files"))));
        QCOMPARE(zipEntries(path(QStringLiteral("dir.zip"))), QStringList{"a.txt"});
    }

    // A volume that fills up mid-copy keeps the file it had.
    void fullVolumeMidCopy()
    {
        if (!JXRealMount::isPossible())
            QSKIP("needs root for a real tmpfs");
        JXRealMount mount;
        const QString volume = path(QStringLiteral("small"));
        QVERIFY(QDir().mkpath(volume));
        QVERIFY(mount.mountTmpfs(volume, QStringLiteral("256k")));
        auto device = makeDevice(volume);
        QVERIFY(writeAll(volume + QLatin1String("/map.bin"), QByteArray(100 * 1024, 'o')));
        QVERIFY(writeAll(path(QStringLiteral("big.bin")), QByteArray(200 * 1024, 'n')));
        QVERIFY(!device->copyFile(path(QStringLiteral("big.bin")), volume + QLatin1String("/map.bin"), true));
        QCOMPARE(readAll(volume + QLatin1String("/map.bin")), QByteArray(100 * 1024, 'o'));
        QCOMPARE(QDir(volume).entryList(QDir::Files | QDir::Hidden), QStringList{"map.bin"});
    }

    // ---- Profile ----------------------------------------------------------------------------------------------

    void profileMerge()
    {
        auto device = makeDevice(m_volume);
        QVERIFY(writeAll(defaultsFile(), profileXml({{"User Name", "Default"}, {"User MHR", "190"}})));
        QMap<QString, QString> profile;
        // Without a user file the defaults serve as both.
        QVERIFY(device->getProfile(profile));
        QCOMPARE(profile.value("User Name"), QStringLiteral("Default"));
        QCOMPARE(profile.value("Dst Unit"), QStringLiteral("Metric"));
        QVERIFY(profile.contains("System Language"));

        QVERIFY(writeAll(profileFile(), profileXml({{"User Name", ""}, {"User MHR", "185"}})));
        QVERIFY(writeAll(coreUserFile(), profileXml({{"unit system", "1"}, {"System Language", "DEU"}})));
        profile.clear();
        QVERIFY(device->getProfile(profile));
        QCOMPARE(profile.value("User Name"), QStringLiteral("Default"));
        QCOMPARE(profile.value("User MHR"), QStringLiteral("185"));
        QCOMPARE(profile.value("Dst Unit"), QStringLiteral("Imperial"));
        QCOMPARE(profile.value("System Language"), QStringLiteral("DEU"));
    }

    void saveProfileKeys_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("unitSystem");
        QTest::newRow("Imperial") << QStringLiteral("Imperial") << QStringLiteral("1");
        QTest::newRow("Metric") << QStringLiteral("Metric") << QStringLiteral("0");
        QTest::newRow("absent") << QString() << QStringLiteral("1");
    }

    void saveProfileKeys()
    {
        QFETCH(QString, unit);
        QFETCH(QString, unitSystem);
        auto device = makeDevice(m_volume);
        QVERIFY(writeAll(defaultsFile(), profileXml({{"User Name", "Default"}, {"Device Only", "kept"}})));
        QVERIFY(writeAll(coreUserFile(), profileXml({{"unit system", "5"}, {"System Language", "ITA"}})));
        QMap<QString, QString> given{{"Foo", "bar"}, {"User Name", "Ana"}};
        if (!unit.isNull())
            given.insert("Dst Unit", unit);
        QVERIFY(device->saveProfile(given));
        const QMap<QString, QString> written = readProfileFile(profileFile());
        QCOMPARE(written.value("User Name"), QStringLiteral("Ana"));
        QCOMPARE(written.value("Device Only"), QStringLiteral("kept"));
        QVERIFY(!written.contains("Foo"));
        const QMap<QString, QString> core = readProfileFile(coreUserFile());
        QCOMPARE(core.value("unit system"), unitSystem);
        QCOMPARE(core.value("System Language"), QStringLiteral("ITA"));
    }

    void unreadableProfileLeftAlone()
    {
        auto device = makeDevice(m_volume);
        QVERIFY(writeAll(profileFile(), "<settings><property name=\"User Name\""));
        QVERIFY(!device->saveProfile({{"User Name", "Ana"}}));
        QCOMPARE(readAll(profileFile()), QByteArray("<settings><property name=\"User Name\""));
        QVERIFY(!device->prepareUploadProfile(path(QStringLiteral("up.xml"))));

        // No profile at all: the given keys alone make the new user file.
        QFile::remove(profileFile());
        QVERIFY(QDir().mkpath(QFileInfo(coreUserFile()).path()));
        QVERIFY(device->saveProfile({{"User Name", "Ana"}}));
        QCOMPARE(readProfileFile(profileFile()).value("User Name"), QStringLiteral("Ana"));

        // A core settings folder that cannot take the file fails the save.
        QVERIFY(QDir(QFileInfo(coreUserFile()).path()).removeRecursively());
        QVERIFY(writeAll(QFileInfo(coreUserFile()).path(), "a file in the way"));
        QVERIFY(!device->saveProfile({{"User Name", "Bo"}}));
    }

    void uploadProfile()
    {
        auto device = makeDevice(m_volume);
        QVERIFY(writeAll(defaultsFile(), profileXml({{"User Name", "Ana"},
                                                     {"User MHR.zone1.high", "120"},
                                                     {"User MHR.zone2.low", "121"},
                                                     {"User MHR.zone7.high", "200"},
                                                     {"Device Only", "x"}})));
        const QStringList keys = JXZelto50::keysOfProfileCompatibleWithServer();
        QCOMPARE(keys.size(), 68);
        QCOMPARE(keys.at(7), QStringLiteral("Dst Unit"));
        QCOMPARE(keys.at(8), QStringLiteral("User LTHR"));
        QCOMPARE(keys.at(9), QStringLiteral("User LTHR.zone1.low"));
        QCOMPARE(keys.last(), QStringLiteral("User FTP.zone7.high"));
        QVERIFY(device->prepareUploadProfile(path(QStringLiteral("up.xml"))));
        const QMap<QString, QString> written = readProfileFile(path(QStringLiteral("up.xml")));
        QCOMPARE(written.size(), 68);
        QCOMPARE(written.value("User Name"), QStringLiteral("Ana"));
        QCOMPARE(written.value("User MHR.zone1.high"), QStringLiteral("121"));
        for (const char* measure : {"LTHR", "MHR", "MAP", "FTP"})
            QCOMPARE(written.value(QStringLiteral("User %1.zone7.high").arg(QLatin1String(measure))),
                     QStringLiteral("-1"));
    }
};

QTEST_GUILESS_MAIN(TestJXZelto50)
#include "tst_jxzelto50.moc"
