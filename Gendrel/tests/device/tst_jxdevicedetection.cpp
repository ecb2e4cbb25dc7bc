#include <QtTest>

#include <QElapsedTimer>
#include <QScopedPointer>
#include <QSettings>
#include <QTemporaryDir>

#include "device/jxclient.h"
#include "device/jxdevicemanager.h"
#include "jxsimulatedsystem.h"
#include "jxtestdevice.h"
#include "system/jxdetectdevice.h"
#include "system/jxmacdevicedetector.h"
#include "system/jxoperatingsystem.h"
#include "system/jxplatform.h"

namespace {

QString markOf(const QString& descriptionFile)
{
    return QSettings(descriptionFile, QSettings::IniFormat).value(QStringLiteral("UUID/JX")).toString();
}

// A second Vexmor stick: disk "sdc" with partition "sdc1".
JXSimulatedSystem::Disk secondDisk(const QString& vendor = QStringLiteral("Vexmor"))
{
    JXSimulatedSystem::Disk disk;
    disk.name = QStringLiteral("sdc");
    disk.minor = 32;
    disk.host = 7;
    disk.genericName = QStringLiteral("sg2");
    disk.scsiVendor = vendor;
    disk.usbManufacturer = vendor;
    return disk;
}

QByteArray deviceText(const QString& uuid)
{
    return QStringLiteral("[MODEL]\nModel=Zelto\n[UUID]\nUUID=%1\n").arg(uuid).toLatin1();
}

bool writeDeviceText(const QString& volume, const QByteArray& text)
{
    QDir().mkpath(volume + QLatin1String("/System"));
    QFile file(volume + QLatin1String("/System/device.txt"));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

// The detection thread's reports in arrival order, received on the main thread as the detector receives them:
// "plugin:1", "mount:sdb1", "unplug:0".
class DetectionLog : public QObject
{
public:
    explicit DetectionLog(JXDetectDevice* thread)
    {
        connect(thread, &JXDetectDevice::DevicePlugin, this, [this](int type) { add("plugin", type); });
        connect(thread, &JXDetectDevice::DeviceUnplug, this, [this](int type) { add("unplug", type); });
        connect(thread, &JXDetectDevice::DeviceMount, this,
                [this](const QString& disk) { entries.append(QLatin1String("mount:") + disk); });
    }

    QStringList entries;

    QStringList of(const QString& kind) const
    {
        return entries.filter(QRegularExpression(QLatin1Char('^') + kind + QLatin1Char(':')));
    }

private:
    void add(const char* kind, int type) { entries.append(QStringLiteral("%1:%2").arg(QLatin1String(kind)).arg(type)); }
};

} // namespace

// Detection against a simulated system: its mount table and sysfs change under a running detection thread, whose
// reports travel as queued signals to the detector and from there to the device manager on the main thread.
class TestJXDeviceDetection : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    QScopedPointer<JXSimulatedSystem> m_system;
    int m_rootNumber = 0;

    // Mount points of the current test's system.
    QString volume(const QString& name) const
    {
        return m_folder.path() + QStringLiteral("/volumes%1/").arg(m_rootNumber) + name;
    }

    // A manager of the file-update family that knows the sticks' UUIDs as a test client's row.
    static void prepare(JXDeviceManager& manager)
    {
        manager.setManagedDeviceType(JXDeviceManager::DEVICE_TYPE_FIT);
        manager.registerDevice(testRow(QStringLiteral("Zelto99"), QStringLiteral("ZE01")), false);
        manager.registerDevice(testRow(QStringLiteral("Zelto98"), QStringLiteral("ZE02")), false);
    }

    // The detector that the manager's start makes, wired up the same way, with its thread at hand.
    static JXMacDeviceDetector* startDetector(JXDeviceManager& manager, QScopedPointer<JXDeviceDetector>& holder)
    {
        holder.reset(JXPlatform().createDevcieDetector(&manager));
        holder->setInterestVendors(QStringList() << QStringLiteral("Vexmor"));
        holder->addListener(&manager);
        holder->startWatching();
        return dynamic_cast<JXMacDeviceDetector*>(holder.data());
    }

private slots:
    void initTestCase() { QVERIFY(m_folder.isValid()); }

    void init()
    {
        // Every test starts from an empty system; no detection thread runs across tests.
        m_system.reset(new JXSimulatedSystem(m_folder.path() + QStringLiteral("/root%1").arg(++m_rootNumber)));
        JXOperatingSystem::setSystemRoot(m_system->root());
    }

    void cleanup()
    {
        JXOperatingSystem::setSystemRoot(QString());
        QCOMPARE(TestClient::live.load(), 0);
        QCOMPARE(TestService::live.load(), 0);
    }

    void threadReportsTheLifeOfADisk()
    {
        JXDetectDevice thread;
        thread.setInterestVendors(QStringList() << QStringLiteral("Vexmor"));
        DetectionLog log(&thread);
        QVERIFY(thread.startWatching());

        QVERIFY(m_system->addVexmorStick(volume(QStringLiteral("stick"))));
        // The disk and its partition arrive, then the partition mounts.
        QTRY_COMPARE(log.entries, QStringList({"plugin:1", "plugin:1", "mount:sdb1"}));
        QVERIFY(m_system->unmount(volume(QStringLiteral("stick"))));
        QTRY_COMPARE(log.entries.mid(3), QStringList({"unplug:0"}));
        QVERIFY(m_system->pull(QStringLiteral("sdb")));
        QTRY_COMPARE(log.entries.mid(4), QStringList({"unplug:1", "unplug:1"}));
    }

    void mountIsReportedOnlyForWatchedVendor_data()
    {
        QTest::addColumn<QString>("interest");
        QTest::addColumn<QString>("vendor");
        QTest::addColumn<bool>("reported");
        QTest::newRow("same") << "Vexmor"
                              << "Vexmor" << true;
        QTest::newRow("other case, more words") << "Vexmor"
                                                << "VEXMOR Tech" << true;
        QTest::newRow("inside a word") << "Vexmor"
                                       << "xvexmorx" << true;
        QTest::newRow("first letters only") << "Vexmor"
                                            << "Vexmo" << false;
        QTest::newRow("other vendor") << "Vexmor"
                                      << "Kingston" << false;
        QTest::newRow("no vendor") << "Vexmor"
                                   << "" << false;
        QTest::newRow("empty interest name") << ""
                                             << "Kingston" << true;
    }

    void mountIsReportedOnlyForWatchedVendor()
    {
        QFETCH(QString, interest);
        QFETCH(QString, vendor);
        QFETCH(bool, reported);
        JXDetectDevice thread;
        thread.setInterestVendors(QStringList() << interest);
        DetectionLog log(&thread);
        QVERIFY(thread.startWatching());

        // The disk under test mounts first; a watched stick mounted after it marks when both were seen.
        QVERIFY(m_system->addDisk(secondDisk(vendor)));
        QVERIFY(m_system->addPartition(QStringLiteral("sdc"), QStringLiteral("sdc1"), 33));
        QVERIFY(m_system->mount(QStringLiteral("sdc1"), volume(QStringLiteral("tested"))));
        QVERIFY(m_system->addVexmorStick(volume(QStringLiteral("marker"))));
        QTRY_VERIFY(log.entries.contains(QStringLiteral("mount:sdb1")));
        QCOMPARE(log.entries.contains(QStringLiteral("mount:sdc1")), reported);
        // Every disk that arrives is reported, watched or not.
        QCOMPARE(log.of(QStringLiteral("plugin")), QStringList({"plugin:1", "plugin:1", "plugin:1", "plugin:1"}));
    }

    void threadStopsWithinASecond_data()
    {
        QTest::addColumn<bool>("simulated");
        QTest::newRow("simulated system") << true;
        QTest::newRow("this machine") << false;
    }

    void threadStopsWithinASecond()
    {
        QFETCH(bool, simulated);
        if (!simulated)
            JXOperatingSystem::setSystemRoot(QStringLiteral("/"));
        QScopedPointer<JXDetectDevice> thread(new JXDetectDevice);
        QVERIFY(thread->startWatching());
        if (simulated) {
            // Once it has reported a change it is back waiting for the next one.
            DetectionLog log(thread.data());
            QVERIFY(m_system->addDisk(JXSimulatedSystem::Disk()));
            QTRY_COMPARE(log.entries, QStringList({"plugin:1"}));
        }

        QElapsedTimer clock;
        clock.start();
        thread->stopWatching();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
        QVERIFY(thread->isFinished());

        // It watches again after a restart, and its destructor stops it.
        QVERIFY(thread->startWatching());
        clock.restart();
        thread.reset();
        QVERIFY(clock.elapsed() < 1000);
    }

    void deviceAlreadyPresentConnectsAtStart()
    {
        const QString stick = volume(QStringLiteral("stick"));
        QVERIFY(m_system->addVexmorStick(stick));
        JXDeviceManager manager;
        prepare(manager);
        DeviceEventRecorder listener;
        manager.addListener(&listener);

        QVERIFY(manager.start());
        QCOMPARE(listener.names(), QStringList({"connected"}));
        JXClient* client = manager.getConnectedDevice();
        QString model;
        client->getName(model);
        QCOMPARE(model, QStringLiteral("Zelto99"));
        QCOMPARE(markOf(stick + QLatin1String("/System/device.txt")), QStringLiteral("1"));

        // Pulled without an eject: the unmount of the departed disk is the unplug.
        QSignalSpy recorded(&listener, &DeviceEventRecorder::recorded);
        QVERIFY(m_system->pull(QStringLiteral("sdb")));
        QVERIFY(recorded.wait());
        QCOMPARE(listener.names(), QStringList({"connected", "disconnected"}));
        QCOMPARE(listener.events.last().client, client);
        QVERIFY(listener.events.last().onMainThread);
        QVERIFY(!manager.getConnectedDevice());
    }

    void devicePluggedWhileRunningConnectsAndLeaves()
    {
        JXDeviceManager manager;
        prepare(manager);
        QStringList order;
        DeviceEventRecorder daemon(QStringLiteral("daemon"), &order);
        DeviceEventRecorder controller(QStringLiteral("controller"), &order);
        manager.addListener(&daemon);
        manager.addListener(&controller);
        QVERIFY(manager.start());
        QVERIFY(order.isEmpty());

        QSignalSpy recorded(&controller, &DeviceEventRecorder::recorded);
        const QString stick = volume(QStringLiteral("stick"));
        QVERIFY(m_system->addVexmorStick(stick));
        QVERIFY(recorded.wait());
        QCOMPARE(order, QStringList({"daemon:connected", "controller:connected"}));
        QVERIFY(daemon.events.first().onMainThread && controller.events.first().onMainThread);
        JXClient* client = manager.getConnectedDevice();
        QString drive;
        QVERIFY(client->getDrive(drive));
        QCOMPARE(drive, stick);

        // A second device while one is connected: searched, then dropped by the manager.
        const QString second = volume(QStringLiteral("second"));
        QVERIFY(writeDeviceText(second, deviceText(QStringLiteral("ZE02000000000002"))));
        QVERIFY(m_system->addDisk(secondDisk()));
        QVERIFY(m_system->addPartition(QStringLiteral("sdc"), QStringLiteral("sdc1"), 33));
        QVERIFY(m_system->mount(QStringLiteral("sdc1"), second));
        QTRY_COMPARE(markOf(second + QLatin1String("/System/device.txt")), QStringLiteral("1"));
        QCOMPARE(order.size(), 2);
        QCOMPARE(manager.getConnectedDevice(), client);

        // The connected stick is unmounted; the other one stays but was never connected.
        QVERIFY(m_system->unmount(stick));
        QVERIFY(recorded.wait());
        QCOMPARE(order.mid(2), QStringList({"daemon:disconnected", "controller:disconnected"}));
        QCOMPARE(controller.events.last().client, client);
        QVERIFY(!manager.getConnectedDevice());
    }

    void mountWithoutDescriptionIsSearchedAgainUntilFound()
    {
        JXDeviceManager manager;
        prepare(manager);
        DeviceEventRecorder listener;
        manager.addListener(&listener);
        QScopedPointer<JXDeviceDetector> holder;
        JXDetectDevice* thread = startDetector(manager, holder)->findChild<JXDetectDevice*>();
        QVERIFY(thread);
        DetectionLog log(thread); // connected after the detector: it hears each report after the detector did

        const QString stick = volume(QStringLiteral("undescribed"));
        QVERIFY(QDir().mkpath(stick));
        QVERIFY(m_system->addDisk(JXSimulatedSystem::Disk()));
        QVERIFY(m_system->addPartition(QStringLiteral("sdb"), QStringLiteral("sdb1"), 17));
        QVERIFY(m_system->mount(QStringLiteral("sdb1"), stick));
        QTRY_VERIFY(log.entries.contains(QStringLiteral("mount:sdb1")));
        QVERIFY(listener.events.isEmpty()); // the search at the mount found nothing

        // The check timer searches again until the volume describes a device.
        QSignalSpy recorded(&listener, &DeviceEventRecorder::recorded);
        QVERIFY(writeDeviceText(stick, deviceText(QStringLiteral("ZE01000000000001"))));
        QVERIFY(recorded.wait());
        QCOMPARE(listener.names(), QStringList({"connected"}));
    }

    void unplugOfAnotherVolumeKeepsTheDevice()
    {
        const QString stick = volume(QStringLiteral("stick"));
        QVERIFY(m_system->addVexmorStick(stick));
        JXDeviceManager manager;
        prepare(manager);
        DeviceEventRecorder listener;
        manager.addListener(&listener);
        QScopedPointer<JXDeviceDetector> holder;
        QVERIFY(manager.start());
        QVERIFY(manager.getConnectedDevice());

        // An unwatched disk comes and goes; each report checks that the connected device is still there.
        JXSimulatedSystem::Disk other = secondDisk(QStringLiteral("Kingston"));
        QVERIFY(m_system->addDisk(other));
        QVERIFY(m_system->addPartition(QStringLiteral("sdc"), QStringLiteral("sdc1"), 33));
        QVERIFY(m_system->mount(QStringLiteral("sdc1"), volume(QStringLiteral("other"))));
        JXMacDeviceDetector* detector = startDetector(manager, holder); // a second watcher, for its reports
        JXDetectDevice* thread = detector->findChild<JXDetectDevice*>();
        QVERIFY(thread);
        DetectionLog log(thread); // connected after the detector: it hears each report after the detector did
        QVERIFY(m_system->pull(QStringLiteral("sdc")));
        // The departed disk's mount and its two block devices; their order depends on when the thread looks.
        QTRY_COMPARE(log.entries.size(), 3);
        QCOMPARE(log.of(QStringLiteral("unplug")).size(), 3);
        QCOMPARE(listener.names(), QStringList({"connected"}));
        QVERIFY(manager.getConnectedDevice());
    }

    void mountWhileRawFlashClientIsConnectedIsIgnored()
    {
        JXDeviceManager manager;
        prepare(manager);
        DeviceEventRecorder listener;
        manager.addListener(&listener);
        manager.onDevicePlugin(
            new TestService(JXDeviceService::DEVICE_SCSI, QStringLiteral("ZE40000000000001"), testRow("Zelto40")));
        QVERIFY(manager.getConnectedDevice());
        QScopedPointer<JXDeviceDetector> holder;
        JXMacDeviceDetector* detector = startDetector(manager, holder);
        JXDetectDevice* thread = detector->findChild<JXDetectDevice*>();
        QVERIFY(thread);
        DetectionLog log(thread); // connected after the detector: it hears each report after the detector did

        const QString stick = volume(QStringLiteral("stick"));
        QVERIFY(m_system->addVexmorStick(stick));
        QTRY_VERIFY(log.entries.contains(QStringLiteral("mount:sdb1")));
        // No search ran: the description file was never read.
        QVERIFY(markOf(stick + QLatin1String("/System/device.txt")).isEmpty());
        QCOMPARE(listener.names(), QStringList({"connected"}));
        QCOMPARE(manager.getConnectedDevice()->getServiceType(), int(JXDeviceService::DEVICE_SCSI));
    }
};

QTEST_GUILESS_MAIN(TestJXDeviceDetection)
#include "tst_jxdevicedetection.moc"
