#include <QtTest>

#include <QBuffer>
#include <QDirIterator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtEndian>

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/fitdevice/jxfitdevice.h"
#include "device/jxfsdeviceservice.h"
#include "jxenv.h"
#include "jxguardeddescription.h"
#include "jxrealmount.h"
#include "jxsimulatedsystem.h"
#include "jxtestpackage.h"
#include "jxvirtualclock.h"
#include "system/jxoperatingsystem.h"
#include "system/jxplatform.h"

using JXTestPackage::zipBytes;

namespace {

const QString kModel = QStringLiteral("Zelto99");

// A device that runs something of the test's just before each image is copied, on the client's thread.
// A device that garbles what was written: each time the clock is read, which the volume does before every read-back,
// every file at the volume's root longer than 1040 bytes gets 16 bytes of 0xA5 at offset 1024, under whichever name.
class GarblingClock : public JXVirtualClock
{
public:
    explicit GarblingClock(const QString& volume) : m_volume(volume) {}

    qint64 now() override
    {
        const QByteArray garbage(16, char(0xA5));
        const off_t offset = 1024;
        const QStringList names = QDir(m_volume).entryList(QDir::Files | QDir::Hidden);
        for (const QString& name : names) {
            const int fd = ::open(QFile::encodeName(m_volume + QLatin1Char('/') + name).constData(), O_WRONLY);
            struct stat info = {};
            if (fd >= 0 && ::fstat(fd, &info) == 0 && info.st_size > offset + garbage.size())
                (void)::pwrite(fd, garbage.constData(), size_t(garbage.size()), offset);
            if (fd >= 0)
                ::close(fd);
        }
        return JXVirtualClock::now();
    }

private:
    QString m_volume;
};

class HookedFitDevice : public JXFitDevice
{
public:
    std::function<void(const QString& fileName)> beforeCopy;

    bool copyBinFile(QString sourceDir, QString fileName, QString deviceSubFolder) override
    {
        if (beforeCopy)
            beforeCopy(fileName);
        return JXFitDevice::copyBinFile(sourceDir, fileName, deviceSubFolder);
    }
};

QByteArray deviceText(const QMap<QString, QString>& versions = {}, const QByteArray& extra = QByteArray())
{
    QMap<QString, QString> all{{QStringLiteral("OS"), QStringLiteral("1.9")},
                               {QStringLiteral("BootLoader"), QStringLiteral("B05")},
                               {QStringLiteral("DeviceLang"), QStringLiteral("LG0100")},
                               {QStringLiteral("NotificationLang"), QStringLiteral("NL10")},
                               {QStringLiteral("TimeZone"), QStringLiteral("TZ10")},
                               {QStringLiteral("Bluetooth"), QStringLiteral("BT5")}};
    for (auto it = versions.begin(); it != versions.end(); ++it)
        all[it.key()] = it.value();
    QByteArray text = "[UUID]\nUUID=ABCD000000000001\n";
    for (auto it = all.begin(); it != all.end(); ++it) {
        if (!it.value().isNull())
            text += "[" + it.key().toUtf8() + "]\nVersion=" + it.value().toUtf8() + "\n";
    }
    return text + extra;
}

// Deterministic bytes that no two images share.
QByteArray noise(int size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    quint32 state = seed * 2654435761u + 1u;
    for (int i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        data[i] = char(state >> 24);
    }
    return data;
}

// A package whose release.ini is given and which holds one image for every listed name.
QByteArray package(const QByteArray& releaseIni, const QStringList& imageNames, int largeImage = -1)
{
    JXTestPackage::Entries images;
    for (int i = 0; i < imageNames.size(); ++i)
        images.append({imageNames.at(i), noise(i == largeImage ? 3 * 1024 * 1024 + 17 : 4096 + i, quint32(i + 1))});
    return JXTestPackage::packageBytes(releaseIni, images);
}

QByteArray imageOf(const QByteArray& package, const QString& name)
{
    QBuffer buffer(const_cast<QByteArray*>(&package));
    QuaZip zip(&buffer);
    if (!zip.open(QuaZip::mdUnzip) || !zip.setCurrentFile(name))
        return QByteArray();
    QuaZipFile file(&zip);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList entriesOf(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

QByteArray bigEndian(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

struct Outcome
{
    bool started = false;
    bool finished = false;
    bool ok = false;
    int code = -1;
    bool signalOnMainThread = false;
};

} // namespace

class TestJXFitDevice : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<JXSimulatedSystem> m_system;
    QString m_volume;
    QString m_userData;

    QString path(const QString& name) const { return m_temp->path() + QLatin1Char('/') + name; }

    template <class Device = JXFitDevice>
    std::unique_ptr<Device> makeDevice(const QString& volume, const QString& model = kModel)
    {
        stRegDevInfo row;
        row.code = QStringLiteral("ABCD");
        row.modelName = model;
        std::unique_ptr<Device> device(new Device);
        device->setDeviceService(new JXFSDeviceService(volume, &row, volume + QLatin1String("/System/device.txt")));
        device->setReadBackTiming(2000, 20);
        return device;
    }

    QString writePackage(const QByteArray& bytes, const QString& name = QStringLiteral("Total.zip"))
    {
        const QString file = path(name);
        writeFile(file, bytes);
        return file;
    }

    // The software update through the client's action, up to its completion signal.
    Outcome runUpdateTotal(JXFitDevice& device, const QString& packagePath)
    {
        Outcome outcome;
        QThread* mainThread = QThread::currentThread();
        QSignalSpy spy(&device, &JXClient::updateTotalDone);
        const QMetaObject::Connection connection = connect(&device, &JXClient::updateTotalDone, this, [&] {
            outcome.signalOnMainThread = QThread::currentThread() == mainThread;
        });
        outcome.started = device.updateTotal(packagePath, QString());
        outcome.finished = outcome.started && spy.wait(60000);
        disconnect(connection);
        outcome.ok = !device.getError(&outcome.code);
        return outcome;
    }

    Outcome runUpdateComponent(JXFitDevice& device, const QString& packagePath, const QString& installSwitch)
    {
        Outcome outcome;
        QSignalSpy spy(&device, &JXClient::updateComponentDone);
        outcome.started = device.updateComponent(packagePath, QString(), QString(), installSwitch);
        outcome.finished = outcome.started && spy.wait(60000);
        outcome.ok = !device.getError(&outcome.code);
        return outcome;
    }

    // The assistance-data action reports no signal of its own: it is over when the client is free again.
    Outcome runUpdateAlp(JXFitDevice& device, quint32 expiry)
    {
        Outcome outcome;
        outcome.started = device.updateAlp(JXFitDevice::ALP_FILE, expiry);
        QDeadlineTimer deadline(60000);
        while (outcome.started && device.isBusy() && !deadline.hasExpired())
            QTest::qWait(5);
        outcome.finished = outcome.started && !device.isBusy();
        outcome.ok = !device.getError(&outcome.code);
        return outcome;
    }

    // A real size-limited tmpfs that the platform layer sees as a mounted volume holding a device.
    bool mountSmallVolume(JXRealMount& mount, const QString& mountPoint, const QString& size)
    {
        return QDir().mkpath(mountPoint) && mount.mountTmpfs(mountPoint, size) &&
               writeFile(mountPoint + QLatin1String("/System/device.txt"), deviceText()) &&
               m_system->mountEntry(0, 77, QStringLiteral("tmpfs"), mountPoint, QStringLiteral("tmpfs"));
    }

private slots:
    void init()
    {
        m_temp.reset(new QTemporaryDir);
        QVERIFY(m_temp->isValid());
        m_userData = path(QStringLiteral("user"));
        JXEnv::getInstance()->setUserDataBaseFolder(m_userData);
        m_system.reset(new JXSimulatedSystem(path(QStringLiteral("root"))));
        m_volume = path(QStringLiteral("volume"));
        QVERIFY(m_system->addVexmorStick(m_volume, deviceText()));
        JXOperatingSystem::setSystemRoot(m_system->root());
    }

    void cleanup()
    {
        JXOperatingSystem::setSystemRoot(QString());
        m_system.reset();
        m_temp.reset();
    }

    // ---- Identity ----------------------------------------------------------------------------------------------

    void composedVersion_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("version");

        QTest::newRow("long pieces are cut to their tails") << deviceText({{"OS", "1.20"},
                                                                           {"BootLoader", "B07"},
                                                                           {"DeviceLang", "LG0123"},
                                                                           {"Bluetooth", "BT5"},
                                                                           {"TimeZone", "TZ01"},
                                                                           {"NotificationLang", "NL12"}})
                                                            << true << "1.20.07.0123.T5.Z01.L12";
        QTest::newRow("short pieces stay whole") << deviceText({{"OS", "1.20"},
                                                                {"BootLoader", "7"},
                                                                {"DeviceLang", "0123"},
                                                                {"Bluetooth", "55"},
                                                                {"TimeZone", "001"},
                                                                {"NotificationLang", "012"}})
                                                 << true << "1.20..0123.55.001.012";
        QTest::newRow("missing components leave empty pieces") << deviceText({{"DeviceLang", QString()},
                                                                              {"Bluetooth", QString()},
                                                                              {"TimeZone", QString()},
                                                                              {"NotificationLang", QString()}})
                                                               << true << "1.9.05....";
        QTest::newRow("no boot loader gives the software version alone")
            << deviceText({{"BootLoader", QString()}}) << false << "1.9";
        // Each sub-group's section sorts between its group and the key "Version".
        QTest::newRow("sub-group sections hide nothing")
            << deviceText({}, "[OS\\1]\nA=1\n[BootLoader\\0]\n[DeviceLang\\0]\n[Bluetooth\\0]\n[TimeZone\\0]\n"
                              "[NotificationLang\\0]\n")
            << true << "1.9.05.0100.T5.Z10.L10";
    }

    void composedVersion()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, ok);
        QFETCH(QString, version);
        QVERIFY(writeFile(m_volume + QLatin1String("/System/device.txt"), text));
        auto device = makeDevice(m_volume);
        QString composed = QStringLiteral("untouched");
        QCOMPARE(device->getOS(composed), ok);
        QCOMPARE(composed, version);
    }

    void deviceType_data()
    {
        QTest::addColumn<QByteArray>("product");
        QTest::addColumn<int>("type");
        QTest::newRow("Watch") << QByteArray("[Product]\nType=Watch\n") << 0;
        QTest::newRow("watch is not Watch") << QByteArray("[Product]\nType=watch\n") << 1;
        QTest::newRow("any other type") << QByteArray("[Product]\nType=Bike\n") << 1;
        QTest::newRow("no Product group") << QByteArray() << 0;
    }

    void deviceType()
    {
        QFETCH(QByteArray, product);
        QFETCH(int, type);
        QVERIFY(writeFile(m_volume + QLatin1String("/System/device.txt"), deviceText({}, product)));
        QCOMPARE(makeDevice(m_volume)->getDeviceType(), type);
    }

    // Threads that ask at the same moment all see one reading, and the reading outlives the file.
    void identityIsReadOnceForAllThreads()
    {
        auto device = makeDevice(m_volume);
        const QString expected = QStringLiteral("1.9.05.0100.T5.Z10.L10");
        std::vector<QString> seen(8);
        std::vector<std::thread> threads;
        for (size_t i = 0; i < seen.size(); ++i)
            threads.emplace_back([&device, &seen, i] { device->getOS(seen[i]); });
        for (std::thread& thread : threads)
            thread.join();
        for (const QString& version : seen)
            QCOMPARE(version, expected);

        QVERIFY(QFile::remove(m_volume + QLatin1String("/System/device.txt")));
        QString version, uuid;
        QVERIFY(device->getOS(version));
        QCOMPARE(version, expected);
        QVERIFY(device->getUUID(uuid));
        QCOMPARE(uuid, QStringLiteral("ABCD000000000001"));
    }

    // A description file that is a link, or larger than any description file, is not read.
    void guardedDescriptionFile_data() { JXGuardedDescription::addRows(); }

    void guardedDescriptionFile()
    {
        QFETCH(bool, link);
        const QString file = m_volume + QLatin1String("/System/device.txt");
        QVERIFY(QFile::remove(file));
        JXGuardedDescription::place(file, path(QStringLiteral("outside.txt")), deviceText(), link);
        if (QTest::currentTestFailed())
            return;
        auto device = makeDevice(m_volume);
        QString uuid = QStringLiteral("x"), os;
        QVERIFY(device->getUUID(uuid));
        QCOMPARE(uuid, QString());
        QVERIFY(!device->getOS(os));
    }

    void identityWithoutDescriptionFile()
    {
        QVERIFY(QFile::remove(m_volume + QLatin1String("/System/device.txt")));
        auto device = makeDevice(m_volume);
        QString total = QStringLiteral("x"), uuid = QStringLiteral("x"), bootLoader, os, name, drive;
        QVERIFY(device->getTotal(total));
        QCOMPARE(total, QString());
        QVERIFY(device->getUUID(uuid));
        QCOMPARE(uuid, QString());
        QVERIFY(!device->getBootloader(bootLoader));
        QVERIFY(!device->getOS(os));
        QCOMPARE(device->getDeviceType(), 0);

        // The file is not looked for again.
        QVERIFY(writeFile(m_volume + QLatin1String("/System/device.txt"), deviceText()));
        QVERIFY(device->getTotal(total));
        QCOMPARE(total, QString());

        QVERIFY(device->getName(name));
        QCOMPARE(name, kModel);
        QVERIFY(device->getDrive(drive));
        QCOMPARE(drive, m_volume);
        QCOMPARE(device->getServiceType(), int(JXDeviceService::DEVICE_FS));
        QString upload;
        QVERIFY(!device->prepareUploadData(upload, false));
        QVERIFY(device->saveDeviceRawData(QString()).isEmpty());
        // The device manager has no connected client here.
        QVERIFY(!device->eject());
    }

    void alpExpiry_data()
    {
        QTest::addColumn<bool>("hasData");
        QTest::addColumn<QByteArray>("date");
        QTest::addColumn<quint32>("expiry");
        QTest::newRow("data and date") << true << bigEndian(0x9A000001u) << 0x9A000001u;
        QTest::newRow("date without data") << false << bigEndian(1234u) << 0u;
        QTest::newRow("date of five bytes") << true << QByteArray("12345") << 0u;
        QTest::newRow("no date") << true << QByteArray() << 0u;
    }

    void alpExpiry()
    {
        QFETCH(bool, hasData);
        QFETCH(QByteArray, date);
        QFETCH(quint32, expiry);
        if (hasData)
            QVERIFY(writeFile(m_volume + QLatin1String("/System/AssitOff.alp"), "alp"));
        if (!date.isEmpty())
            QVERIFY(writeFile(m_volume + QLatin1String("/System/date.txt"), date));
        QCOMPARE(makeDevice(m_volume)->getAlpExpiredDate(), expiry);
    }

    // ---- Software update ---------------------------------------------------------------------------------------

    // The device reports OS 1.9, BootLoader B05, DeviceLang LG0100, Bluetooth BT5.
    void softwareUpdate_data()
    {
        QTest::addColumn<QByteArray>("releaseIni");
        QTest::addColumn<QStringList>("images");
        QTest::addColumn<QStringList>("written");

        QTest::newRow("older and equal images by plain string order")
            << QByteArray("[OS]\nName=os.bin\nVersion=1.10\n[DeviceLang]\nName=lang.bin\nVersion=LG0100\n"
                          "[BootLoader]\nName=boot.bin\nVersion=B04\n")
            << QStringList{"os.bin", "lang.bin", "boot.bin"} << QStringList();
        QTest::newRow("newer and unknown components")
            << QByteArray("[MODEL]\nName=Zelto99\n[OS]\nName=os.bin\nVersion=2.0\n[Bluetooth]\nName=bt.bin\n"
                          "Version=BT5\n[GPS]\nName=gps.bin\nVersion=1\n[Extra]\nName=extra.bin\n")
            << QStringList{"os.bin", "bt.bin", "gps.bin", "extra.bin"} << QStringList{"gps.bin", "os.bin"};
        QTest::newRow("only a MODEL group") << QByteArray("[MODEL]\nName=Zelto99\n") << QStringList() << QStringList();
    }

    void softwareUpdate()
    {
        QFETCH(QByteArray, releaseIni);
        QFETCH(QStringList, images);
        QFETCH(QStringList, written);
        const QByteArray bytes = package(releaseIni, images, 0);
        // An earlier image on the device: replaced by a newer one, else left alone.
        QVERIFY(writeFile(m_volume + QLatin1String("/os.bin"), "old image"));
        auto device = makeDevice(m_volume);

        const Outcome outcome = runUpdateTotal(*device, writePackage(bytes));
        QVERIFY(outcome.finished);
        QVERIFY(outcome.signalOnMainThread);
        QVERIFY(outcome.ok);
        QCOMPARE(outcome.code, 0);

        QStringList expectedRoot = QStringList{"System"} + written;
        if (!written.isEmpty())
            expectedRoot << QStringLiteral("update.ini");
        if (!written.contains(QStringLiteral("os.bin")))
            expectedRoot << QStringLiteral("os.bin");
        expectedRoot.sort();
        QCOMPARE(entriesOf(m_volume), expectedRoot);
        for (const QString& name : written)
            QVERIFY(readFile(m_volume + QLatin1Char('/') + name) == imageOf(bytes, name));
        if (!written.contains(QStringLiteral("os.bin")))
            QCOMPARE(readFile(m_volume + QLatin1String("/os.bin")), QByteArray("old image"));
        if (!written.isEmpty())
            QCOMPARE(QFileInfo(m_volume + QLatin1String("/update.ini")).size(), 0);
    }

    // Nothing of a hostile or broken package reaches the volume or leaves it.
    void refusedPackages_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray newerOs("[OS]\nName=os.bin\nVersion=2.0\n");
        QTest::newRow("not a zip") << QByteArray("this is no archive");
        QTest::newRow("no release.ini") << zipBytes({{"os.bin", noise(100, 1)}});
        QTest::newRow("entry climbing out")
            << zipBytes({{"release.ini", newerOs}, {"os.bin", noise(100, 1)}, {"../../outside.bin", noise(100, 2)}});
        QTest::newRow("image name climbing out")
            << package("[OS]\nName=../../../outside.bin\nVersion=2.0\n", {"outside.bin"});
        QTest::newRow("absolute image name") << package("[OS]\nName=/outside.bin\nVersion=2.0\n", {"outside.bin"});
        QTest::newRow("image name climbing with backslashes")
            << package("[OS]\nName=..\\\\outside.bin\nVersion=2.0\n", {"outside.bin"});
        QTest::newRow("empty image name") << package("[OS]\nVersion=2.0\n", {});
    }

    void refusedPackages()
    {
        QFETCH(QByteArray, bytes);
        auto device = makeDevice(m_volume);
        const Outcome outcome = runUpdateTotal(*device, writePackage(bytes));
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.ok);
        QCOMPARE(outcome.code, 0);
        QCOMPARE(entriesOf(m_volume), QStringList{"System"});
        QCOMPARE(entriesOf(m_volume + QLatin1String("/System")), QStringList{"device.txt"});
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("outside.bin"))));
        QVERIFY(!QFileInfo::exists(QStringLiteral("/outside.bin")));
    }

    // The model becomes a folder name: one that is none is refused before any folder is touched.
    void refusesModelThatIsNoFolderName_data()
    {
        QTest::addColumn<QString>("model");
        QTest::newRow("empty") << QString();
        QTest::newRow("dot") << QStringLiteral(".");
        QTest::newRow("dot dot") << QStringLiteral("..");
        QTest::newRow("slash") << QStringLiteral("Zelto/99");
        QTest::newRow("backslash") << QStringLiteral("Zelto\\99");
    }

    void refusesModelThatIsNoFolderName()
    {
        QFETCH(QString, model);
        const QString tmp = JXEnv::getInstance()->getTmpFolder();
        QVERIFY(writeFile(tmp + QLatin1String("/keep.txt"), "keep"));
        QVERIFY(writeFile(m_userData + QLatin1String("/keep.txt"), "keep"));
        auto device = makeDevice(m_volume, model);
        const QString packagePath = writePackage(package("[OS]\nName=os.bin\nVersion=2.0\n", {"os.bin"}));

        Outcome outcome = runUpdateTotal(*device, packagePath);
        QVERIFY(outcome.finished && !outcome.ok);
        QCOMPARE(outcome.code, 0);
        outcome = runUpdateComponent(*device, packagePath, QStringLiteral("1"));
        QVERIFY(outcome.finished && !outcome.ok);
        QCOMPARE(outcome.code, 0);

        QCOMPARE(entriesOf(tmp), QStringList{"keep.txt"});
        QVERIFY(QFileInfo::exists(m_userData + QLatin1String("/keep.txt")));
        QCOMPARE(entriesOf(m_volume), QStringList{"System"});
    }

    // The second of three newer images is missing: the first stays, the third is not copied, no marker.
    void failedCopyStopsTheUpdate()
    {
        const QByteArray bytes = package("[A]\nName=a.bin\nVersion=1\n[B]\nName=b.bin\nVersion=1\n"
                                         "[C]\nName=c.bin\nVersion=1\n",
                                         {"a.bin", "c.bin"});
        auto device = makeDevice(m_volume);
        const Outcome outcome = runUpdateTotal(*device, writePackage(bytes));
        QVERIFY(outcome.finished && !outcome.ok);
        QCOMPARE(outcome.code, 4);
        QCOMPARE(entriesOf(m_volume), (QStringList{"System", "a.bin"}));
        QVERIFY(readFile(m_volume + QLatin1String("/a.bin")) == imageOf(bytes, "a.bin"));
    }

    // A copy that can only fail does not wait out the read-back limit.
    void copyFailsAtOnce_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::newRow("source missing") << "source missing";
        QTest::newRow("source is a folder") << "source is a folder";
        QTest::newRow("source is empty") << "source is empty";
        QTest::newRow("destination folder missing") << "destination folder missing";
        QTest::newRow("destination is a link") << "destination is a link";
    }

    void copyFailsAtOnce()
    {
        QFETCH(QString, setup);
        const QString source = path(QStringLiteral("source"));
        QVERIFY(QDir().mkpath(source));
        QString subFolder;
        if (setup == QLatin1String("source is a folder"))
            QVERIFY(QDir().mkpath(source + QLatin1String("/image.bin")));
        else if (setup == QLatin1String("source is empty"))
            QVERIFY(writeFile(source + QLatin1String("/image.bin"), QByteArray()));
        else if (setup != QLatin1String("source missing"))
            QVERIFY(writeFile(source + QLatin1String("/image.bin"), noise(5000, 3)));
        if (setup == QLatin1String("destination folder missing"))
            subFolder = QStringLiteral("Missing");
        const QString linkTarget = path(QStringLiteral("host-file"));
        if (setup == QLatin1String("destination is a link")) {
            QVERIFY(writeFile(linkTarget, "host"));
            QVERIFY(QFile::link(linkTarget, m_volume + QLatin1String("/image.bin")));
        }

        auto device = makeDevice(m_volume);
        device->setReadBackTiming(60000, 60000);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!device->copyBinFile(source, QStringLiteral("image.bin"), subFolder));
        QVERIFY2(timer.elapsed() < 20000, "the copy waited for a failure that was already certain");
        if (setup == QLatin1String("destination is a link"))
            QCOMPARE(readFile(linkTarget), QByteArray("host"));
    }

    // A device that garbles what was written never reads back equal, though the size is right: code 4 within the
    // limit the test sets. The bad copy goes, the device's earlier image stays.
    void readBackThatNeverMatches()
    {
        const QByteArray bytes = package("[OS]\nName=os.bin\nVersion=2.0\n", {"os.bin"}, 0);
        QVERIFY(writeFile(m_volume + QLatin1String("/os.bin"), "old image"));
        auto device = makeDevice(m_volume);
        device->setReadBackTiming(300, 20);
        GarblingClock clock(m_volume);

        const Outcome outcome = runUpdateTotal(*device, writePackage(bytes));
        QVERIFY(outcome.finished && !outcome.ok);
        QCOMPARE(outcome.code, 4);
        QCOMPARE(entriesOf(m_volume), (QStringList{"System", "os.bin"}));
        QCOMPARE(readFile(m_volume + QLatin1String("/os.bin")), QByteArray("old image"));
    }

    void volumeRemovedDuringTheCopy()
    {
        const QByteArray bytes =
            package("[A]\nName=a.bin\nVersion=1\n[B]\nName=b.bin\nVersion=1\n", {"a.bin", "b.bin"});
        auto device = makeDevice<HookedFitDevice>(m_volume);
        device->setReadBackTiming(60000, 60000);
        device->beforeCopy = [this](const QString& fileName) {
            if (fileName == QLatin1String("b.bin"))
                QDir(m_volume).removeRecursively();
        };
        QElapsedTimer timer;
        timer.start();
        const Outcome outcome = runUpdateTotal(*device, writePackage(bytes));
        QVERIFY(outcome.finished && !outcome.ok);
        QCOMPARE(outcome.code, 4);
        QVERIFY(timer.elapsed() < 20000);
        QVERIFY(!QFileInfo::exists(m_volume));
    }

    // After a re-plug the new client checks the package while the old client's update still reads its images.
    void workFoldersArePerClient()
    {
        const QByteArray bytes = zipBytes({{"release.ini", "[OS]\nName=os.bin\nVersion=2.0\n"},
                                           {"os.bin", noise(70000, 12)},
                                           {"workout.zip", zipBytes({{"Test/t.txt", "t"}})}});
        const QString packagePath = writePackage(bytes);
        auto running = makeDevice<HookedFitDevice>(m_volume);
        QSemaphore reached, proceed;
        running->beforeCopy = [&](const QString&) {
            reached.release();
            proceed.acquire();
        };
        QSignalSpy runningDone(running.get(), &JXClient::updateTotalDone);
        QVERIFY(running->updateTotal(packagePath, QString()));
        const auto release = qScopeGuard([&] { proceed.release(); });
        QVERIFY(reached.tryAcquire(1, 30000));

        {
            auto replugged = makeDevice(m_volume);
            const Outcome check = runUpdateComponent(*replugged, packagePath, QStringLiteral("0"));
            QVERIFY(check.finished && check.ok);
        }
        proceed.release();
        QVERIFY(runningDone.wait(30000));
        int code = -1;
        QVERIFY(!running->getError(&code));
        QVERIFY(readFile(m_volume + QLatin1String("/os.bin")) == imageOf(bytes, "os.bin"));
    }

    // ---- Software update on a real size-limited volume (root only) ---------------------------------------------

    void notEnoughSpace_data()
    {
        QTest::addColumn<int>("extraBytes");
        QTest::addColumn<int>("code");
        QTest::newRow("exactly the free space") << 0 << 0;
        QTest::newRow("one byte more than the free space") << 1 << 3;
    }

    void notEnoughSpace()
    {
        QFETCH(int, extraBytes);
        QFETCH(int, code);
        if (!JXRealMount::isPossible())
            QSKIP("mounting a tmpfs needs root");
        const QString volume = path(QStringLiteral("small"));
        JXRealMount mount;
        QVERIFY(mountSmallVolume(mount, volume, QStringLiteral("1m")));
        qint64 total = 0, free = 0;
        QVERIFY(JXPlatform().getDiskStorage(volume, total, free));
        QVERIFY(free > 0);

        const QByteArray bytes = zipBytes(
            {{"release.ini", "[OS]\nName=os.bin\nVersion=2.0\n"}, {"os.bin", noise(int(free) + extraBytes, 5)}});
        auto device = makeDevice(volume);
        const Outcome outcome = runUpdateTotal(*device, writePackage(bytes));
        QVERIFY(outcome.finished);
        QCOMPARE(outcome.code, code);
        QCOMPARE(outcome.ok, code == 0);
        if (code == 0) {
            QVERIFY(readFile(volume + QLatin1String("/os.bin")) == imageOf(bytes, "os.bin"));
            QVERIFY(QFileInfo::exists(volume + QLatin1String("/update.ini")));
        } else {
            QCOMPARE(entriesOf(volume), QStringList{"System"});
        }
    }

    // The volume changes under the copy: it fills up, or it is pulled and its mount point becomes a plain folder
    // of this computer again. Either fails at once, and nothing is written into the bare mount point.
    void volumeLostInTheMiddleOfTheUpdate_data()
    {
        QTest::addColumn<bool>("pull");
        QTest::newRow("volume fills up") << false;
        QTest::newRow("volume pulled") << true;
    }

    void volumeLostInTheMiddleOfTheUpdate()
    {
        QFETCH(bool, pull);
        if (!JXRealMount::isPossible())
            QSKIP("mounting a tmpfs needs root");
        const QString volume = path(QStringLiteral("small"));
        JXRealMount mount;
        QVERIFY(mountSmallVolume(mount, volume, QStringLiteral("4m")));

        const QByteArray bytes = zipBytes({{"release.ini", "[A]\nName=a.bin\nVersion=1\n[B]\nName=b.bin\nVersion=1\n"},
                                           {"a.bin", noise(100000, 6)},
                                           {"b.bin", noise(1024 * 1024, 7)}});
        auto device = makeDevice<HookedFitDevice>(volume);
        device->setReadBackTiming(60000, 60000);
        std::atomic<bool> hookDone{false};
        device->beforeCopy = [&](const QString& fileName) {
            if (fileName != QLatin1String("b.bin"))
                return;
            if (pull) {
                ::umount2(QFile::encodeName(volume).constData(), MNT_DETACH);
            } else {
                qint64 total = 0, free = 0;
                JXPlatform().getDiskStorage(volume, total, free);
                writeFile(volume + QLatin1String("/filler"), QByteArray(int(free - 64 * 1024), 'f'));
            }
            hookDone = true;
        };
        if (pull)
            mount.forget();

        QElapsedTimer timer;
        timer.start();
        const Outcome outcome = runUpdateTotal(*device, writePackage(bytes));
        QVERIFY(hookDone);
        QVERIFY(outcome.finished && !outcome.ok);
        QCOMPARE(outcome.code, 4);
        QVERIFY(timer.elapsed() < 20000);
        QVERIFY(!QFileInfo::exists(volume + QLatin1String("/update.ini")));
        if (pull) {
            QCOMPARE(entriesOf(volume), QStringList());
        } else {
            QCOMPARE(entriesOf(volume), (QStringList{"System", "a.bin", "filler"}));
            QVERIFY(readFile(volume + QLatin1String("/a.bin")) == imageOf(bytes, "a.bin"));
        }
    }

    // The space test counts bytes, the file system whole blocks: images that fit by bytes can still fill the volume.
    // The copy that runs out of room is taken away again; the image copied before it and the device's earlier image
    // of the failing name stay, and no marker is written.
    void volumeFullByBlocks_data()
    {
        QTest::addColumn<bool>("earlierImage");
        QTest::newRow("new name") << false;
        QTest::newRow("replacing an earlier image") << true;
    }

    void volumeFullByBlocks()
    {
        QFETCH(bool, earlierImage);
        if (!JXRealMount::isPossible())
            QSKIP("mounting a tmpfs needs root");
        const qint64 block = ::sysconf(_SC_PAGESIZE);
        const QString volume = path(QStringLiteral("small"));
        JXRealMount mount;
        QVERIFY(mountSmallVolume(mount, volume, QString::number(16 * block)));
        if (earlierImage)
            QVERIFY(writeFile(volume + QLatin1String("/b.bin"), "old image"));
        qint64 total = 0, free = 0;
        QVERIFY(JXPlatform().getDiskStorage(volume, total, free));
        QVERIFY(free > 4 * block);
        QCOMPARE(free % block, 0);

        // Exactly the free bytes, one block more than the free blocks.
        const int sizeA = int(block) + 1;
        const QByteArray bytes = zipBytes({{"release.ini", "[A]\nName=a.bin\nVersion=1\n[B]\nName=b.bin\nVersion=1\n"},
                                           {"a.bin", noise(sizeA, 30)},
                                           {"b.bin", noise(int(free) - sizeA, 31)}});
        auto device = makeDevice(volume);
        const Outcome outcome = runUpdateTotal(*device, writePackage(bytes));
        QVERIFY(outcome.finished && !outcome.ok);
        QCOMPARE(outcome.code, 4);
        QVERIFY(readFile(volume + QLatin1String("/a.bin")) == imageOf(bytes, "a.bin"));
        if (earlierImage) {
            QCOMPARE(entriesOf(volume), (QStringList{"System", "a.bin", "b.bin"}));
            QCOMPARE(readFile(volume + QLatin1String("/b.bin")), QByteArray("old image"));
        } else {
            QCOMPARE(entriesOf(volume), (QStringList{"System", "a.bin"}));
        }
        QCOMPARE(entriesOf(volume + QLatin1String("/System")), QStringList{"device.txt"});
    }

    // ---- Assistance data ---------------------------------------------------------------------------------------

    void assistanceDataReplaced()
    {
        const QByteArray fresh = noise(70000, 8);
        QVERIFY(writeFile(m_userData + QLatin1String("/updates/Zelto99/AssitOff.alp"), fresh));
        QVERIFY(writeFile(m_volume + QLatin1String("/System/AssitOff.alp"), "old data"));
        QVERIFY(writeFile(m_volume + QLatin1String("/System/date.txt"), bigEndian(100)));
        auto device = makeDevice(m_volume);
        QCOMPARE(device->getAlpExpiredDate(), 100u);

        const quint32 expiry = 0x9A00F00Du;
        const Outcome outcome = runUpdateAlp(*device, expiry);
        QVERIFY(outcome.finished);
        QVERIFY(outcome.ok);
        QCOMPARE(outcome.code, 0);
        QVERIFY(readFile(m_volume + QLatin1String("/System/AssitOff.alp")) == fresh);
        QCOMPARE(readFile(m_volume + QLatin1String("/System/date.txt")), bigEndian(expiry));
        QCOMPARE(entriesOf(m_volume + QLatin1String("/System")),
                 (QStringList{"AssitOff.alp", "date.txt", "device.txt"}));
        QCOMPARE(device->getAlpExpiredDate(), expiry);
        QCOMPARE(makeDevice(m_volume)->getAlpExpiredDate(), expiry);
    }

    // Whatever fails, the device keeps its old data and its date, and no part of the new data stays behind.
    void assistanceDataKeptOnFailure_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("source missing") << "source missing";
        QTest::newRow("source is empty") << "source is empty";
        QTest::newRow("date cannot be written") << "date cannot be written";
    }

    void assistanceDataKeptOnFailure()
    {
        QFETCH(QString, failure);
        const QString source = m_userData + QLatin1String("/updates/Zelto99/AssitOff.alp");
        QVERIFY(QDir().mkpath(QFileInfo(source).absolutePath()));
        if (failure == QLatin1String("source is empty"))
            QVERIFY(writeFile(source, QByteArray()));
        else if (failure != QLatin1String("source missing"))
            QVERIFY(writeFile(source, noise(5000, 9)));
        QVERIFY(writeFile(m_volume + QLatin1String("/System/AssitOff.alp"), "old data"));
        QVERIFY(writeFile(m_volume + QLatin1String("/System/date.txt"), bigEndian(100)));
        QStringList expectedEntries{"AssitOff.alp", "date.txt", "device.txt"};
        if (failure == QLatin1String("date cannot be written")) {
            QVERIFY(QDir().mkpath(m_volume + QLatin1String("/System/.date.txt.part/blocked")));
            expectedEntries.prepend(QStringLiteral(".date.txt.part"));
        }

        auto device = makeDevice(m_volume);
        const Outcome outcome = runUpdateAlp(*device, 5000);
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.ok);
        QCOMPARE(readFile(m_volume + QLatin1String("/System/AssitOff.alp")), QByteArray("old data"));
        QCOMPARE(readFile(m_volume + QLatin1String("/System/date.txt")), bigEndian(100));
        QCOMPARE(entriesOf(m_volume + QLatin1String("/System")), expectedEntries);
        QCOMPARE(device->getAlpExpiredDate(), 100u);
    }

    // ---- Workout component -------------------------------------------------------------------------------------

    void workoutComponent_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("installSwitch");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("installed");

        const QByteArray release("[OS]\nName=os.bin\nVersion=2.0\n");
        const QByteArray workout = zipBytes({{"Ruravodir/w1.wkt", noise(3000, 10)},
                                             {"Ruravodir/plans/w2.wkt", noise(2000, 11)},
                                             {"Test/t1.txt", "test"}});
        const QByteArray withWorkout = zipBytes({{"release.ini", release}, {"workout.zip", workout}});
        QTest::newRow("install") << withWorkout << "1" << true << 0 << true;
        QTest::newRow("test only") << withWorkout << "0" << true << 0 << false;
        QTest::newRow("' 1' is off") << withWorkout << " 1" << true << 0 << false;
        QTest::newRow("'true' is off") << withWorkout << "true" << true << 0 << false;
        QTest::newRow("no workout.zip") << zipBytes({{"release.ini", release}}) << "0" << false << 5 << false;
        QTest::newRow("package is no zip") << QByteArray("garbage") << "1" << false << 3 << false;
        QTest::newRow("workout.zip is no zip")
            << zipBytes({{"release.ini", release}, {"workout.zip", "garbage"}}) << "1" << false << 4 << false;
        QTest::newRow("workout.zip climbing out")
            << zipBytes({{"release.ini", release}, {"workout.zip", zipBytes({{"../../outside.txt", "x"}})}}) << "1"
            << false << 4 << false;
    }

    void workoutComponent()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, installSwitch);
        QFETCH(bool, ok);
        QFETCH(int, code);
        QFETCH(bool, installed);
        auto device = makeDevice(m_volume);
        const Outcome outcome = runUpdateComponent(*device, writePackage(bytes), installSwitch);
        QVERIFY(outcome.finished);
        QCOMPARE(outcome.ok, ok);
        QCOMPARE(outcome.code, code);
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("outside.txt"))));
        QCOMPARE(entriesOf(m_volume), QStringList{"System"});
        if (!installed) {
            QCOMPARE(entriesOf(m_volume + QLatin1String("/System")), QStringList{"device.txt"});
            return;
        }
        QCOMPARE(entriesOf(m_volume + QLatin1String("/System")), (QStringList{"Ruravodir", "Test", "device.txt"}));
        QVERIFY(readFile(m_volume + QLatin1String("/System/Ruravodir/plans/w2.wkt")) == noise(2000, 11));
        QCOMPARE(readFile(m_volume + QLatin1String("/System/Test/t1.txt")), QByteArray("test"));
    }

    void workoutWithoutDrive()
    {
        auto device = makeDevice(QString());
        const QString packagePath = writePackage(zipBytes({{"workout.zip", zipBytes({{"Test/t.txt", "t"}})}}));
        const Outcome outcome = runUpdateComponent(*device, packagePath, QStringLiteral("1"));
        QVERIFY(outcome.finished && !outcome.ok);
        QCOMPARE(outcome.code, 2);
    }

    // A link in the tree could lead the read-back off the volume or into a pipe that never answers.
    void checkFilesDoesNotFollowLinks()
    {
        const QString outside = path(QStringLiteral("outside"));
        QVERIFY(QDir().mkpath(outside));
        const QByteArray pipe = QFile::encodeName(outside + QLatin1String("/pipe"));
        QCOMPARE(::mkfifo(pipe.constData(), 0600), 0);
        const QString tree = m_volume + QLatin1String("/System/Test");
        QVERIFY(writeFile(tree + QLatin1String("/a.txt"), "a"));
        QVERIFY(writeFile(tree + QLatin1String("/sub/.hidden"), "h"));
        QVERIFY(QFile::link(outside + QLatin1String("/pipe"), tree + QLatin1String("/pipe-link")));
        QVERIFY(QFile::link(outside, tree + QLatin1String("/sub/folder-link")));

        auto device = makeDevice(m_volume);
        std::atomic<bool> done{false};
        std::thread reader([&] {
            device->checkFiles(tree);
            device->checkFiles(m_volume + QLatin1String("/System/Missing"));
            done = true;
        });
        const auto release = qScopeGuard([&] {
            // A reader stuck in the pipe is let go so that the test ends.
            while (!done.load()) {
                const int fd = ::open(pipe.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
                QThread::msleep(10);
            }
            reader.join();
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 10000);
    }
};

QTEST_GUILESS_MAIN(TestJXFitDevice)
#include "tst_jxfitdevice.moc"
