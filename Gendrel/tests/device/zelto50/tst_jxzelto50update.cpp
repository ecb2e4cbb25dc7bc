#include <QtTest>

#include <QSemaphore>
#include <QSettings>
#include <QTemporaryDir>

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

#include <functional>
#include <memory>

#include <sys/stat.h>

#include "device/jxclienttask.h"
#include "device/jxfsdeviceservice.h"
#include "device/zelto50/jxzelto50.h"
#include "jxenv.h"
#include "jxtestfiles.h"
#include "jxtestpackage.h"

using JXTestFiles::readAll;
using JXTestFiles::snapshot;
using JXTestFiles::writeFile;
using JXTestPackage::Entries;

namespace {

const QString kModel = QStringLiteral("Zelto50CR");
const QString kPrefix = QStringLiteral("Vexm0r!#@");

// A map device where whatever may happen to the volume between the copy and its read-back can be made to happen:
// the image description is asked for right after the copy. The name it answers stands for a model that reads it
// from the package.
class HookedZelto50 : public JXZelto50CR
{
public:
    std::function<void()> afterCopy;
    bool answerName = false;
    QString imageName;

    ImageMetaInfo getImageMetaInfo(QString path) override
    {
        if (afterCopy)
            afterCopy();
        if (!answerName)
            return JXZelto50CR::getImageMetaInfo(path);
        ImageMetaInfo info;
        info.name = imageName;
        return info;
    }

    static void setRestorePending(bool pending) { m_continueFactoryRestore = pending; }
    static bool restorePending() { return m_continueFactoryRestore; }
};

// Map work that waits until the test lets it go.
class HeldTask : public JXClientTask
{
public:
    QSemaphore entered;
    QSemaphore release;
    bool run() override
    {
        entered.release();
        release.acquire();
        return true;
    }
};

// Entries with a modification time, as a package built on another day carries them.
void writeZip(const QString& path, const Entries& entries, const QDateTime& time = QDateTime())
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QuaZip zip(path);
    QVERIFY(zip.open(QuaZip::mdCreate));
    for (const auto& entry : entries) {
        QuaZipNewInfo info(entry.first);
        if (time.isValid())
            info.dateTime = time;
        QuaZipFile file(&zip);
        QVERIFY(file.open(QIODevice::WriteOnly, info));
        QCOMPARE(file.write(entry.second), qint64(entry.second.size()));
        file.close();
    }
    zip.close();
    QCOMPARE(zip.getZipError(), 0);
}

QStringList zipEntries(const QString& path)
{
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdUnzip))
        return {QStringLiteral("<not a zip>")};
    QStringList names = zip.getFileNameList();
    names.sort();
    return names;
}

} // namespace

class TestJXZelto50Update : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_temp;
    QString m_volume;

    QString path(const QString& name) const { return m_temp->path() + QLatin1Char('/') + name; }
    QString onVolume(const QString& name) const { return m_volume + QLatin1Char('/') + name; }
    QString flag() const { return onVolume(QStringLiteral("updating@@!.ini")); }
    QString controlFile() const { return onVolume(QStringLiteral("Update.ini")); }
    QString tmp() const { return JXEnv::getInstance()->getTmpFolder(); }

    QStringList packageFolders() const
    {
        return QDir(m_volume).entryList({kPrefix + QLatin1Char('*')}, QDir::Dirs | QDir::NoDotAndDotDot);
    }

    std::unique_ptr<HookedZelto50> makeDevice(const QString& drive = QString())
    {
        stRegDevInfo row;
        row.code = QStringLiteral("1104");
        row.modelName = kModel;
        std::unique_ptr<HookedZelto50> device(new HookedZelto50);
        device->setDeviceService(new JXFSDeviceService(drive.isNull() ? m_volume : drive, &row, QString()));
        return device;
    }

    // Starts an action and waits for its end; the result is the action's error flag.
    bool failsAction(JXClient& device, const std::function<bool()>& start)
    {
        if (!start())
            return true;
        [&] { QTRY_VERIFY_WITH_TIMEOUT(!device.isBusy(), 20000); }();
        return device.getError(nullptr);
    }

    QString firmwarePackage(const QByteArray& releaseIni = "[OS]\nVersion=2.0\n")
    {
        const QString package = path(QStringLiteral("Total.zip"));
        writeFile(package, JXTestPackage::packageBytes(releaseIni, {{"Tirna.bin", JXTestPackage::seededBytes(5000, 1)},
                                                                    {"CKS.TXT", "1234"},
                                                                    {"lib/part.bin", "part"}}));
        return package;
    }

    QString applicationPackage(const QString& name = QStringLiteral("DeviceAp.zip"))
    {
        const QString package = path(name);
        writeZip(package,
                 {{"oriska/applications/cycling/app.bin", JXTestPackage::seededBytes(3000, 2)},
                  {"oriska/applications/cycling/res/icon.png", "png"},
                  {"release.ini", "[Update]\nMinJXVer=9.9.9.9\n"}},
                 QDateTime(QDate(2020, 1, 2), QTime(3, 4, 6), Qt::UTC));
        return package;
    }

private slots:
    void init()
    {
        m_temp.reset(new QTemporaryDir);
        QVERIFY(m_temp->isValid());
        JXEnv::getInstance()->setUserDataBaseFolder(path(QStringLiteral("user")));
        m_volume = path(QStringLiteral("volume"));
        QVERIFY(QDir().mkpath(m_volume + QLatin1String("/oriska")));
        QSettings settings(JXEnv::getInstance()->getJXSettingPath(), QSettings::IniFormat);
        settings.remove(kModel);
        settings.setValue(kModel + QLatin1String("/apversionpath"), QStringLiteral("/oriska/version.ini"));
        settings.setValue(kModel + QLatin1String("/deviceinipath"), QStringLiteral("/oriska/device.ini"));
        HookedZelto50::setRestorePending(false);
        JXEnv::getInstance()->setForceDeviceUpdate(false);
    }

    // ---- Firmware package -------------------------------------------------------------------------------------

    void firmwareUpdate()
    {
        writeFile(onVolume(kPrefix + QLatin1String("100/old.bin")), "old");
        writeFile(onVolume(kPrefix + QLatin1String("file")), "a file, not a package folder");
        writeFile(onVolume(QStringLiteral("Vexm0rOther/keep.bin")), "keep");
        const QString package = firmwarePackage();
        auto device = makeDevice();

        const qint64 before = QDateTime::currentSecsSinceEpoch();
        QVERIFY(!failsAction(*device, [&] { return device->updateTotal(package, QString()); }));
        const qint64 after = QDateTime::currentSecsSinceEpoch();

        const QStringList folders = packageFolders();
        QCOMPARE(folders.size(), 1);
        const qint64 seconds = folders.first().mid(kPrefix.size()).toLongLong();
        QVERIFY(seconds >= before && seconds <= after);
        const QByteArray folder = "/My Disk/" + folders.first().toUtf8();
        QCOMPARE(readAll(controlFile()), "[Update.ini]\r\nVersion=02\r\n[Total]\r\nUpdate=true\r\nName=" + folder +
                                             "/Tirna.bin\r\nCRC=" + folder + "/CKS.TXT\r\n");
        const JXTestFiles::FileSnapshot copied = snapshot(onVolume(folders.first()));
        QCOMPARE(copied.keys(), (QStringList{"CKS.TXT", "Tirna.bin", "lib", "lib/part.bin", "release.ini"}));
        QCOMPARE(copied.value("Tirna.bin"), JXTestPackage::seededBytes(5000, 1));
        QVERIFY(QFileInfo(onVolume(kPrefix + QLatin1String("file"))).isFile());
        QVERIFY(QFileInfo::exists(onVolume(QStringLiteral("Vexm0rOther/keep.bin"))));
        QVERIFY(!QFileInfo::exists(flag()));
        QVERIFY(!QFileInfo::exists(tmp() + QLatin1String("/zelto50image")));

        // The next update replaces the package folder, whatever second it runs in.
        writeFile(onVolume(folders.first() + QLatin1String("/marker")), "from the first update");
        QVERIFY(!failsAction(*device, [&] { return device->updateTotal(package, QString()); }));
        QCOMPARE(packageFolders().size(), 1);
        QVERIFY(!QFileInfo::exists(onVolume(packageFolders().first() + QLatin1String("/marker"))));
    }

    // Whatever step fails, the installer finds neither a control file nor part of a package, and the flag is gone.
    void firmwareUpdateFailures_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("not a zip") << "not a zip";
        QTest::newRow("copied file unreadable") << "unreadable";
        QTest::newRow("copied folder gone") << "folder gone";
        QTest::newRow("image name with a slash") << "a/b";
        QTest::newRow("image name with a backslash") << "a\\b";
        QTest::newRow("image name leaving the folder") << "..";
        QTest::newRow("image name with a line break") << "Tirna\r\nCRC=/x";
    }

    void firmwareUpdateFailures()
    {
        QFETCH(QString, failure);
        // What an earlier update left: the control file names its package folder.
        writeFile(onVolume(kPrefix + QLatin1String("100/Tirna.bin")), "old");
        writeFile(controlFile(), "[Update.ini]\r\nName=/My Disk/Vexm0r!#@100/Tirna.bin\r\n");
        QString package = firmwarePackage();
        auto device = makeDevice();
        if (failure == QLatin1String("not a zip")) {
            writeFile(package, "PK but no archive");
        } else if (failure == QLatin1String("unreadable")) {
            device->afterCopy = [this] {
                const QString copied = onVolume(packageFolders().value(0) + QLatin1String("/lib/part.bin"));
                QFile::remove(copied);
                QFile::link(path(QStringLiteral("nowhere")), copied);
            };
        } else if (failure == QLatin1String("folder gone")) {
            device->afterCopy = [this] { QDir(onVolume(packageFolders().value(0))).removeRecursively(); };
        } else {
            device->answerName = true;
            device->imageName = failure;
        }

        QVERIFY(failsAction(*device, [&] { return device->updateTotal(package, QString()); }));
        QCOMPARE(packageFolders(), QStringList());
        QVERIFY(!QFileInfo::exists(controlFile()));
        QVERIFY(!QFileInfo::exists(flag()));
        QVERIFY(!QFileInfo::exists(tmp() + QLatin1String("/zelto50image")));
    }

    // The volume goes mid-copy: the flag stays on it, and the client of its next connection drops the application
    // versions so that the device asks for the application again.
    void volumePulledMidCopy()
    {
        const QStringList versions{"version.ini", "Version.ini", "VERSION.ini", "VERSION.INI"};
        for (const QString& name : versions)
            writeFile(onVolume(QLatin1String("oriska/") + name), "version=GH1.3.0.8\n");
        const QString pulled = path(QStringLiteral("pulled"));
        auto device = makeDevice();
        device->afterCopy = [&] { QVERIFY(QDir().rename(m_volume, pulled)); };
        QVERIFY(failsAction(*device, [&] { return device->updateTotal(firmwarePackage(), QString()); }));

        QVERIFY(QDir().rename(pulled, m_volume));
        QVERIFY(QFileInfo::exists(flag()));
        QVERIFY(!QFileInfo::exists(controlFile()));
        QVERIFY(makeDevice()->initial());
        for (const QString& name : versions)
            QVERIFY2(!QFileInfo::exists(onVolume(QLatin1String("oriska/") + name)), qPrintable(name));
    }

    void readBack_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("expected");
        QTest::newRow("empty") << "file" << 0 << true;
        QTest::newRow("1024 bytes, read whole") << "file" << 1024 << true;
        QTest::newRow("1025 bytes, read from the end") << "file" << 1025 << true;
        QTest::newRow("large") << "file" << 300000 << true;
        QTest::newRow("read-only") << "read-only" << 2000 << true;
        QTest::newRow("missing") << "missing" << 0 << false;
        QTest::newRow("folder") << "folder" << 0 << false;
        QTest::newRow("dangling link") << "link" << 0 << false;
        QTest::newRow("pipe, never waited on") << "fifo" << 0 << false;
    }

    void readBack()
    {
        QFETCH(QString, kind);
        QFETCH(int, size);
        QFETCH(bool, expected);
        const QString file = onVolume(QStringLiteral("tree/sub/file.bin"));
        QVERIFY(QDir().mkpath(QFileInfo(file).path()));
        writeFile(onVolume(QStringLiteral("tree/good.bin")), "good");
        if (kind == QLatin1String("file") || kind == QLatin1String("read-only"))
            writeFile(file, QByteArray(size, 'x'));
        if (kind == QLatin1String("read-only"))
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(file));
        if (kind == QLatin1String("link"))
            QVERIFY(QFile::link(path(QStringLiteral("nowhere")), file));
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);

        auto device = makeDevice();
        QStringList files{onVolume(QStringLiteral("tree/good.bin")), file};
        QCOMPARE(device->checkFiles(files), expected);
        // A folder is walked into, and a missing file is not listed at all.
        if (kind != QLatin1String("folder") && kind != QLatin1String("missing"))
            QCOMPARE(device->checkDirectory(onVolume(QStringLiteral("tree"))), expected);
    }

    void readBackOfFolders()
    {
        auto device = makeDevice();
        QVERIFY(QDir().mkpath(onVolume(QStringLiteral("empty"))));
        QVERIFY(device->checkDirectory(onVolume(QStringLiteral("empty"))));
        QVERIFY(!device->checkDirectory(onVolume(QStringLiteral("missing"))));
    }

    // ---- Application tree -------------------------------------------------------------------------------------

    void applicationUpdate_data()
    {
        QTest::addColumn<QByteArray>("deviceVersion");
        QTest::addColumn<bool>("settingsRemoved");
        QTest::newRow("GH1.3.0.7") << QByteArray("GH1.3.0.7") << true;
        QTest::newRow("GH1.3.0.8") << QByteArray("GH1.3.0.8") << false;
        QTest::newRow("GH1.3.1.0") << QByteArray("GH1.3.1.0") << false;
        QTest::newRow("GH1.3, equal as far as it goes") << QByteArray("GH1.3") << false;
        QTest::newRow("GH1.3.0.10, numbers not text") << QByteArray("GH1.3.0.10") << false;
        QTest::newRow("GH1.2.10.0") << QByteArray("GH1.2.10.0") << true;
        QTest::newRow("no version file") << QByteArray() << true;
    }

    void applicationUpdate()
    {
        QFETCH(QByteArray, deviceVersion);
        QFETCH(bool, settingsRemoved);
        if (!deviceVersion.isEmpty())
            writeFile(onVolume(QStringLiteral("oriska/version.ini")), "version=" + deviceVersion + "\n");
        const QStringList settingsFiles{
            onVolume(QStringLiteral("oriska/applications/protrainingapp/user_settings.xml")),
            onVolume(QStringLiteral("oriska/applications/training/user_settings.xml"))};
        for (const QString& file : settingsFiles)
            writeFile(file, "<settings/>");
        const QString package = applicationPackage();
        auto device = makeDevice();

        QVERIFY(!failsAction(*device, [&] { return device->updateAP(package); }));
        for (const QString& file : settingsFiles)
            QCOMPARE(QFileInfo::exists(file), !settingsRemoved);
        const QString app = onVolume(QStringLiteral("oriska/applications/cycling/app.bin"));
        QCOMPARE(readAll(app), JXTestPackage::seededBytes(3000, 2));
        QCOMPARE(QFileInfo(app).lastModified().toUTC(), QDateTime(QDate(2020, 1, 2), QTime(3, 4, 6), Qt::UTC));
        QCOMPARE(readAll(onVolume(QStringLiteral("oriska/applications/cycling/res/icon.png"))), QByteArray("png"));
        QVERIFY(!QFileInfo::exists(onVolume(QStringLiteral("oriska/release.ini"))));
        QVERIFY(!QFileInfo::exists(flag()));
        QVERIFY(!QFileInfo::exists(tmp() + QLatin1String("/deviceAP")));
        QSettings settings(JXEnv::getInstance()->getJXSettingPath(), QSettings::IniFormat);
        QCOMPARE(settings.value(kModel + QLatin1String("/MinJXVer")).toString(), QStringLiteral("9.9.9.9"));
    }

    // A failed application update reports false; one whose package holds no tree leaves the device untouched.
    void applicationUpdateFailures_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<bool>("settingsKept");
        QTest::newRow("copy fails") << "copy" << false;
        QTest::newRow("no application tree") << "no tree" << true;
        QTest::newRow("not a zip") << "not a zip" << true;
    }

    void applicationUpdateFailures()
    {
        QFETCH(QString, failure);
        QFETCH(bool, settingsKept);
        writeFile(onVolume(QStringLiteral("oriska/version.ini")), "version=GH1.3.0.7\n");
        const QString settingsFile = onVolume(QStringLiteral("oriska/applications/training/user_settings.xml"));
        writeFile(settingsFile, "<settings/>");
        QString package = applicationPackage();
        if (failure == QLatin1String("copy"))
            writeFile(onVolume(QStringLiteral("oriska/applications/cycling")), "a file where the folder goes");
        if (failure == QLatin1String("no tree"))
            writeZip(package, {{"applications/cycling/app.bin", "app"}});
        if (failure == QLatin1String("not a zip"))
            writeFile(package, "no archive");
        auto device = makeDevice();

        QVERIFY(failsAction(*device, [&] { return device->updateAP(package); }));
        QCOMPARE(QFileInfo::exists(settingsFile), settingsKept);
        QVERIFY(!QFileInfo::exists(flag()));
        QVERIFY(!QFileInfo::exists(onVolume(QStringLiteral("applications"))));
    }

    // ---- Launch section, map tasks, launch-section version -----------------------------------------------------

    void launchSection()
    {
        const QString package = path(QStringLiteral("LaunchSec.zip"));
        writeFile(package, JXTestPackage::zipBytes({{"LaunchSec/boot.bin", "boot"}, {"launch.ini", "[L]\n"}}));
        auto device = makeDevice();

        // The caller's thread meets a running action: the volume is left to it.
        HeldTask task;
        QVERIFY(device->importMap(&task));
        QVERIFY(task.entered.tryAcquire(1, 10000));
        QVERIFY(!device->updateLaunchsec(package));
        QVERIFY(!QFileInfo::exists(onVolume(QStringLiteral("LaunchSec"))));
        task.release.release();
        QTRY_VERIFY(!device->isBusy());
        QVERIFY(!device->getError(nullptr));

        QVERIFY(device->updateLaunchsec(package));
        QCOMPARE(readAll(onVolume(QStringLiteral("LaunchSec/boot.bin"))), QByteArray("boot"));
        QCOMPARE(readAll(onVolume(QStringLiteral("launch.ini"))), QByteArray("[L]\n"));
        QVERIFY(!QFileInfo::exists(flag()));
        QVERIFY(!device->updateLaunchsec(path(QStringLiteral("missing.zip"))));
        QVERIFY(!QFileInfo::exists(flag()));

        // No task: the map actions fail.
        QVERIFY(failsAction(*device, [&] { return device->importMap(nullptr); }));
        QVERIFY(failsAction(*device, [&] { return device->deleteMap(nullptr); }));
    }

    void launchSectionVersion_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("expected");
        QTest::newRow("version") << QByteArray("[LaunchSec]\nVersion=1.0.2.3\n") << true << "1.0.2.3";
        QTest::newRow("no group") << QByteArray("[Total]\nVersion=2\n") << true << "0.0.0.0";
        QTest::newRow("empty version") << QByteArray("[LaunchSec]\nVersion=\n") << true << "0.0.0.0";
        QTest::newRow("no device ini") << QByteArray() << false << "kept";
    }

    void launchSectionVersion()
    {
        QFETCH(QByteArray, ini);
        QFETCH(bool, result);
        QFETCH(QString, expected);
        if (!ini.isEmpty())
            writeFile(onVolume(QStringLiteral("oriska/device.ini")), ini);
        QString version = QStringLiteral("kept");
        QCOMPARE(makeDevice()->getLaunchsec(version), result);
        QCOMPARE(version, expected);
    }

    // ---- Factory restore --------------------------------------------------------------------------------------

    void factoryRestoreInTwoSteps()
    {
        const QString folder = path(QStringLiteral("restore"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::rename(firmwarePackage(), folder + QLatin1String("/Total.zip")));
        writeFile(folder + QLatin1String("/LaunchSec.zip"), JXTestPackage::zipBytes({{"LaunchSec/boot.bin", "boot"}}));
        QVERIFY(QFile::rename(applicationPackage(), folder + QLatin1String("/DeviceAp.zip")));

        auto first = makeDevice();
        QCOMPARE(first->getRestoreFactorySteps(), 2);
        QVERIFY(!failsAction(*first, [&] { return first->restoreFactory(folder); }));
        QCOMPARE(readAll(onVolume(QStringLiteral("format.ini"))), QByteArray("1"));
        QCOMPARE(first->getState(), JXClient::State_FactoryRestore);
        QVERIFY(HookedZelto50::restorePending());
        // That client takes no further action.
        QVERIFY(failsAction(*first, [&] { return first->updateTotal(folder + QLatin1String("/Total.zip"), {}); }));
        QCOMPARE(packageFolders(), QStringList());
        QVERIFY(!first->updateLaunchsec(folder + QLatin1String("/LaunchSec.zip")));
        QVERIFY(!QFileInfo::exists(onVolume(QStringLiteral("LaunchSec"))));

        // The device formatted itself and is back as a new connection.
        auto second = makeDevice();
        QVERIFY(second->initial());
        QVERIFY(JXEnv::getInstance()->isForceDeviceUpdate());
        QVERIFY(!failsAction(*second, [&] { return second->restoreFactory(folder); }));
        QCOMPARE(packageFolders().size(), 1);
        QVERIFY(QFileInfo::exists(controlFile()));
        QCOMPARE(readAll(onVolume(QStringLiteral("LaunchSec/boot.bin"))), QByteArray("boot"));
        QVERIFY(QFileInfo::exists(onVolume(QStringLiteral("oriska/applications/cycling/app.bin"))));
        QVERIFY(!HookedZelto50::restorePending());
        QVERIFY(!JXEnv::getInstance()->isForceDeviceUpdate());
        QCOMPARE(second->getState(), JXClient::State_Idle);
        QVERIFY(!QFileInfo::exists(flag()));
    }

    // A second step that cannot finish is over all the same: the next restore starts with the format request.
    void factoryRestoreWithoutLaunchSection()
    {
        const QString folder = path(QStringLiteral("restore"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::rename(firmwarePackage(), folder + QLatin1String("/Total.zip")));
        HookedZelto50::setRestorePending(true);
        auto device = makeDevice();
        QVERIFY(failsAction(*device, [&] { return device->restoreFactory(folder); }));
        QVERIFY(QFileInfo::exists(controlFile()));
        QVERIFY(!HookedZelto50::restorePending());
        QCOMPARE(device->getState(), JXClient::State_Idle);
        QVERIFY(!QFileInfo::exists(onVolume(QStringLiteral("format.ini"))));

        auto next = makeDevice();
        QVERIFY(!failsAction(*next, [&] { return next->restoreFactory(folder); }));
        QCOMPARE(readAll(onVolume(QStringLiteral("format.ini"))), QByteArray("1"));
        QCOMPARE(next->getState(), JXClient::State_FactoryRestore);
    }

    // Without the request the device would come back unformatted: the first step fails and changes nothing.
    void unwritableFormatRequest()
    {
        QVERIFY(QDir().mkpath(onVolume(QStringLiteral("format.ini"))));
        auto device = makeDevice();
        QVERIFY(failsAction(*device, [&] { return device->restoreFactory(path(QStringLiteral("restore"))); }));
        QCOMPARE(device->getState(), JXClient::State_Idle);
        QVERIFY(!HookedZelto50::restorePending());
        device->formatDevice();
        QVERIFY(QFileInfo(onVolume(QStringLiteral("format.ini"))).isDir());
    }

    // ---- Log export -------------------------------------------------------------------------------------------

    void exportLog_data()
    {
        QTest::addColumn<bool>("withSystemLogs");
        QTest::addColumn<bool>("archiveWritable");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("dumps and system logs") << true << true << QStringList{"a.dmp", "b.dmp", "messages.log"};
        QTest::newRow("dumps only") << false << true << QStringList{"a.dmp", "b.dmp"};
        QTest::newRow("archive not written") << true << false << QStringList();
    }

    void exportLog()
    {
        QFETCH(bool, withSystemLogs);
        QFETCH(bool, archiveWritable);
        QFETCH(QStringList, entries);
        writeFile(onVolume(QStringLiteral("DumpFiles/a.dmp")), "a");
        writeFile(onVolume(QStringLiteral("DumpFiles/sub/b.dmp")), "b");
        if (withSystemLogs)
            writeFile(onVolume(QStringLiteral("syslog/messages.log")), "log");
        writeFile(tmp() + QLatin1String("/zelto50Log/syslog/stale.log"), "from an earlier export");
        const QString archive =
            archiveWritable ? path(QStringLiteral("logs.zip")) : path(QStringLiteral("no/logs.zip"));

        makeDevice()->exportLog(archive);
        QCOMPARE(QFileInfo::exists(archive), archiveWritable);
        if (archiveWritable)
            QCOMPARE(zipEntries(archive), entries);
        // The device's system logs go only once they are in the archive; its crash dumps stay.
        QCOMPARE(QFileInfo::exists(onVolume(QStringLiteral("syslog/messages.log"))),
                 withSystemLogs && !archiveWritable);
        QVERIFY(QFileInfo::exists(onVolume(QStringLiteral("DumpFiles/sub/b.dmp"))));
    }

    // ---- Without a drive --------------------------------------------------------------------------------------

    void noDriveTouchesNothing()
    {
        QVERIFY(QDir::setCurrent(m_temp->path()));
        const QString package = firmwarePackage();
        writeFile(tmp() + QLatin1String("/zelto50Log/crashdump/kept.dmp"), "kept");
        const JXTestFiles::FileSnapshot before = snapshot(m_temp->path());
        auto device = makeDevice(QStringLiteral(""));
        QVERIFY(failsAction(*device, [&] { return device->updateTotal(package, QString()); }));
        QVERIFY(failsAction(*device, [&] { return device->updateAP(package); }));
        QVERIFY(failsAction(*device, [&] { return device->restoreFactory(m_temp->path()); }));
        QVERIFY(!device->updateLaunchsec(package));
        QVERIFY(!device->setUpdatingFlag(true));
        QVERIFY(!device->setUpdatingFlag(false));
        device->removeUpdatePackage();
        device->formatDevice();
        device->exportLog(path(QStringLiteral("logs.zip")));
        QCOMPARE(snapshot(m_temp->path()), before);
        for (const char* name : {"/updating@@!.ini", "/format.ini", "/Update.ini"})
            QVERIFY2(!QFileInfo::exists(QLatin1String(name)), name);
    }
};

QTEST_GUILESS_MAIN(TestJXZelto50Update)
#include "tst_jxzelto50update.moc"
