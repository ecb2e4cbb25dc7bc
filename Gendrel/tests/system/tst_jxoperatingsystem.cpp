#include <QtTest>

#include <QTemporaryDir>
#include <QThreadPool>

#include <memory>
#include <sys/statvfs.h>

#include "jxrealmount.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "jxutility.h"
#include "system/jxdevicedetector.h"
#include "system/jxmacplatform.h"
#include "system/jxoperatingsystem.h"
#include "system/jxplatform.h"

namespace {

class RecordingDetector : public JXDeviceDetector
{
public:
    bool startWatching() override { return true; }
    void setInterestVendors(QStringList) override {}
    void addListener(JXDeviceDetectorListener*) override {}
    bool removeListener(JXDeviceDetectorListener*) override { return false; }
    void fireDeviceEjected() override
    {
        ++ejected;
        actionsWhenEjected = JXOperatingSystem::simulatedActions();
        thread = QThread::currentThread();
    }

    int ejected = 0;
    QStringList actionsWhenEjected;
    QThread* thread = nullptr;
};

class CountingDetector : public RecordingDetector
{
public:
    explicit CountingDetector(int& heard) : m_heard(heard) {}
    void fireDeviceEjected() override { ++m_heard; }

private:
    int& m_heard;
};

} // namespace

class TestJXOperatingSystem : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<JXSimulatedSystem> m_system;

    QString folder(const QString& name)
    {
        const QString path = m_temp->path() + QLatin1Char('/') + name;
        QDir().mkpath(path);
        return path;
    }
    QStringList folders(const QStringList& names)
    {
        QStringList paths;
        for (const QString& name : names)
            paths << folder(name);
        return paths;
    }

    // A Vexmor stick, an internal disk, a second stick of another maker, an
    // optical disc and a USB disk whose device names no manufacturer.
    void buildMachine()
    {
        QVERIFY(m_system->addVexmorStick(folder(QStringLiteral("VEX STICK"))));

        JXSimulatedSystem::Disk internal;
        internal.name = QStringLiteral("sda");
        internal.minor = 0;
        internal.removable = false;
        internal.usb = false;
        internal.scsiVendor = QStringLiteral("ATA");
        internal.scsiModel = QStringLiteral("SSD 870");
        internal.genericName = QStringLiteral("sg0");
        internal.host = 0;
        QVERIFY(m_system->addDisk(internal));
        QVERIFY(m_system->addPartition(QStringLiteral("sda"), QStringLiteral("sda1"), 1));
        QVERIFY(m_system->addPartition(QStringLiteral("sda"), QStringLiteral("sda2"), 2));
        QVERIFY(m_system->mount(QStringLiteral("sda1"), folder(QStringLiteral("efi"))));
        QVERIFY(m_system->mount(QStringLiteral("sda2"), folder(QStringLiteral("home")), QStringLiteral("ext4")));

        JXSimulatedSystem::Disk other;
        other.name = QStringLiteral("sdc");
        other.minor = 32;
        other.usbManufacturer = QStringLiteral("Kingmax Digital");
        other.scsiVendor = QStringLiteral("KMX");
        other.genericName = QStringLiteral("sg2");
        other.host = 7;
        QVERIFY(m_system->addDisk(other));
        QVERIFY(m_system->addPartition(QStringLiteral("sdc"), QStringLiteral("sdc1"), 33));
        QVERIFY(m_system->addPartition(QStringLiteral("sdc"), QStringLiteral("sdc2"), 34));
        QVERIFY(m_system->mount(QStringLiteral("sdc1"), folder(QStringLiteral("KINGMAX")), QStringLiteral("exfat")));
        QVERIFY(m_system->mount(QStringLiteral("sdc2"), folder(QStringLiteral("linux")), QStringLiteral("ext4")));

        JXSimulatedSystem::Disk disc;
        disc.name = QStringLiteral("sr0");
        disc.major = 11;
        disc.minor = 0;
        disc.usb = false;
        disc.scsiVendor = QStringLiteral("HL-DT-ST");
        disc.genericName = QStringLiteral("sg3");
        disc.host = 1;
        QVERIFY(m_system->addDisk(disc));
        QVERIFY(m_system->mount(QStringLiteral("sr0"), folder(QStringLiteral("dvd")), QStringLiteral("iso9660")));

        JXSimulatedSystem::Disk anonymous;
        anonymous.name = QStringLiteral("sdd");
        anonymous.minor = 48;
        anonymous.usbManufacturer.clear();
        anonymous.scsiVendor = QStringLiteral("Generic");
        anonymous.genericName = QStringLiteral("sg4");
        anonymous.host = 8;
        QVERIFY(m_system->addDisk(anonymous));
        QVERIFY(m_system->addPartition(QStringLiteral("sdd"), QStringLiteral("sdd1"), 49));
        QVERIFY(m_system->mount(QStringLiteral("sdd1"), folder(QStringLiteral("NONAME")), QStringLiteral("vfat")));
    }

private slots:
    void init()
    {
        m_temp.reset(new QTemporaryDir);
        QVERIFY(m_temp->isValid());
        m_system.reset(new JXSimulatedSystem(m_temp->path() + QLatin1String("/root")));
        JXOperatingSystem::setSystemRoot(m_system->root());
        JXOperatingSystem::setSimulatedScsiProvider(nullptr);
        JXOperatingSystem::clearSimulatedActions();
    }

    void cleanup()
    {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::sendPostedEvents();
        JXOperatingSystem::setSimulatedScsiProvider(nullptr);
        JXOperatingSystem::setSystemRoot(QString());
        m_system.reset();
        m_temp.reset();
    }

    void removableDrives_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("expected");
        // A partition is removable when its disk is; internal disks never are.
        QTest::newRow("msdos") << "msdos" << QStringList{"VEX STICK", "KINGMAX", "NONAME"};
        QTest::newRow("cd9660") << "cd9660" << QStringList{"dvd"};
        QTest::newRow("kernel name") << "ext4" << QStringList{"linux"};
        QTest::newRow("none") << "hfs" << QStringList();
    }

    void removableDrives()
    {
        QFETCH(QString, type);
        QFETCH(QStringList, expected);
        buildMachine();
        QCOMPARE(JXUtility::getRemovebleDrives(type), folders(expected));
        QCOMPARE(JXPlatform().getRemovableDrives(type), folders(expected));
    }

    void removableDrivesByDiskName_data()
    {
        QTest::addColumn<QStringList>("diskNames");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("table order") << QStringList{"sdc1", "sdb1"} << QStringList{"VEX STICK", "KINGMAX"};
        QTest::newRow("one") << QStringList{"sdc1"} << QStringList{"KINGMAX"};
        QTest::newRow("whole disk name") << QStringList{"sdb"} << QStringList();
        QTest::newRow("internal") << QStringList{"sda1"} << QStringList();
        QTest::newRow("empty list") << QStringList() << QStringList();
    }

    void removableDrivesByDiskName()
    {
        QFETCH(QStringList, diskNames);
        QFETCH(QStringList, expected);
        buildMachine();
        QCOMPARE(JXPlatform().getRemovableDrives(QStringLiteral("msdos"), &diskNames), folders(expected));
    }

    void vendorNames_data()
    {
        QTest::addColumn<QString>("volume");
        QTest::addColumn<QString>("usbVendor");
        QTest::addColumn<QString>("platformVendor");
        QTest::addColumn<QString>("diskName");
        // The platform's vendor text is the SCSI vendor followed by the USB manufacturer.
        QTest::newRow("stick") << "VEX STICK"
                               << "Vexmor"
                               << "VexmorVexmor"
                               << "sdb1";
        QTest::newRow("other maker") << "KINGMAX"
                                     << "Kingmax Digital"
                                     << "KMXKingmax Digital"
                                     << "sdc1";
        QTest::newRow("internal") << "efi"
                                  << ""
                                  << "ATA"
                                  << "sda1";
        // The root hub above it names a manufacturer; it is not the device's.
        QTest::newRow("no manufacturer") << "NONAME"
                                         << ""
                                         << "Generic"
                                         << "sdd1";
        QTest::newRow("not mounted") << "elsewhere"
                                     << ""
                                     << ""
                                     << "";
    }

    void vendorNames()
    {
        QFETCH(QString, volume);
        QFETCH(QString, usbVendor);
        QFETCH(QString, platformVendor);
        QFETCH(QString, diskName);
        buildMachine();
        const QString path = folder(volume);
        QCOMPARE(JXUtility::getDriveName(path), usbVendor);
        QCOMPARE(JXPlatform().getDriveVendorName(path), platformVendor);
        QCOMPARE(JXMacPlatform().getDriveDiskName(path), diskName);
    }

    void labels()
    {
        buildMachine();
        QVERIFY(m_system->setLabel(QStringLiteral("sdb1"), QStringLiteral("VEX STICK")));
        QCOMPARE(JXUtility::getDriveLabel(folder(QStringLiteral("VEX STICK"))), QStringLiteral("VEX STICK"));
        QCOMPARE(JXUtility::getDriveLabel(folder(QStringLiteral("efi"))), QString());
    }

    void storage()
    {
        buildMachine();
        const QString stick = folder(QStringLiteral("VEX STICK"));
        qint64 total = -7, free = -7;
        QVERIFY(JXUtility::getStorage(stick, total, free));
        QVERIFY(total > 0);
        QVERIFY(free >= 0 && free <= total);
        qint64 platformTotal = -7, platformFree = -7;
        QVERIFY(JXPlatform().getDiskStorage(stick, platformTotal, platformFree));
        QCOMPARE(platformTotal, total);

        // Only a mount point counts, not a folder inside a volume.
        total = free = -7;
        QVERIFY(!JXUtility::getStorage(stick + QLatin1String("/System"), total, free));
        QVERIFY(!JXPlatform().getDiskStorage(stick + QLatin1String("/System"), total, free));
        QVERIFY(!JXUtility::getStorage(folder(QStringLiteral("elsewhere")), total, free));
        QCOMPARE(total, qint64(-7));
        QCOMPARE(free, qint64(-7));
    }

    // The kernel's own escapes, written by hand rather than by the builder.
    void mountTableEscapes()
    {
        QVERIFY(m_system->addVexmorStick(folder(QStringLiteral("stick"))));
        QFile table(m_system->root() + QLatin1String("/proc/self/mountinfo"));
        QVERIFY(table.open(QIODevice::Append));
        table.write("300 21 8:17 / /media/user/VEX\\040MOR\\011tab\\134slash\\012line rw - vfat /dev/sdb1 rw\n"
                    "garbage\n"
                    "301 21 8:17 / /media/user/short rw\n"
                    "302 21 x:y / /media/user/bad rw - vfat /dev/sdb1 rw\n"
                    "\n"
                    "303 21 8:17 / /media/user/after\\ rw master:1 - vfat /dev/sdb1 rw,errors=remount-ro\n");
        table.close();

        QVector<JXMountEntry> mounts;
        QVERIFY(JXOperatingSystem::instance()->mountedVolumes(mounts));
        QStringList mountPoints;
        for (const JXMountEntry& entry : mounts)
            mountPoints << entry.mountPoint;
        QCOMPARE(mountPoints, QStringList({"/", "/proc", folder(QStringLiteral("stick")),
                                           "/media/user/VEX MOR\ttab\\slash\nline", "/media/user/after\\"}));
        QCOMPARE(mounts.at(3).fileSystemType, QStringLiteral("vfat"));
        QCOMPARE(mounts.at(3).source, QStringLiteral("/dev/sdb1"));
        QCOMPARE(mounts.at(3).major, 8u);
        QCOMPARE(mounts.at(3).minor, 17u);
        QVERIFY(
            JXUtility::getRemovebleDrives(QStringLiteral("msdos")).contains("/media/user/VEX MOR\ttab\\slash\nline"));
    }

    // Linux keeps the mount of a pulled stick in the table.
    void pulledStickIsGone()
    {
        buildMachine();
        const QString stick = folder(QStringLiteral("VEX STICK"));
        QVERIFY(m_system->pull(QStringLiteral("sdb")));

        QFile table(m_system->root() + QLatin1String("/proc/self/mountinfo"));
        QVERIFY(table.open(QIODevice::ReadOnly));
        QVERIFY(table.readAll().contains(JXSimulatedSystem::escapeMountField(stick)));
        QVERIFY(!isMountListed(stick));
        QCOMPARE(JXUtility::getRemovebleDrives(QStringLiteral("msdos")), folders({"KINGMAX", "NONAME"}));
        qint64 total = 0, free = 0;
        QVERIFY(!JXUtility::getStorage(stick, total, free));
        QCOMPARE(JXUtility::getDriveName(stick), QString());
        QCOMPARE(JXMacPlatform().getDriveDiskName(stick), QString());
        QVERIFY(!JXUtility::isJXDeviceUSB());
    }

    void isJXDeviceUSB_data()
    {
        QTest::addColumn<QString>("iniName");
        QTest::addColumn<QString>("manufacturer");
        QTest::addColumn<bool>("expected");
        QTest::newRow("device.ini") << "device.ini"
                                    << "Vexmor" << true;
        QTest::newRow("Device.ini") << "Device.ini"
                                    << "Vexmor Inc." << true;
        QTest::newRow("no ini") << ""
                                << "Vexmor" << false;
        QTest::newRow("other maker") << "device.ini"
                                     << "Kingmax" << false;
        QTest::newRow("case") << "device.ini"
                              << "VEXMOR" << false;
    }

    void isJXDeviceUSB()
    {
        QFETCH(QString, iniName);
        QFETCH(QString, manufacturer);
        QFETCH(bool, expected);
        JXSimulatedSystem::Disk disk;
        disk.usbManufacturer = manufacturer;
        QVERIFY(m_system->addDisk(disk));
        QVERIFY(m_system->addPartition(QStringLiteral("sdb"), QStringLiteral("sdb1"), 17));
        const QString volume = folder(QStringLiteral("MAPS"));
        QVERIFY(m_system->mount(QStringLiteral("sdb1"), volume));
        if (!iniName.isEmpty()) {
            QFile ini(volume + QLatin1Char('/') + iniName);
            QVERIFY(ini.open(QIODevice::WriteOnly));
        }
        QCOMPARE(JXUtility::isJXDeviceUSB(), expected);
        QVERIFY(!JXUtility::isJXDeviceSCSI());
    }

    void ejectSimulated()
    {
        buildMachine();
        const QString stick = folder(QStringLiteral("VEX STICK"));
        RecordingDetector detector;
        QVERIFY(JXPlatform().ejectDevice(stick, &detector));
        QTRY_COMPARE(detector.ejected, 1);
        QCOMPARE(detector.thread, QThread::currentThread());
        QCOMPARE(detector.actionsWhenEjected.value(0), QStringLiteral("unmount ") + stick);
        QTRY_COMPARE(JXOperatingSystem::simulatedActions(),
                     QStringList({QStringLiteral("unmount ") + stick, QStringLiteral("eject sdb")}));
        QVERIFY(!isMountListed(stick));
        QVERIFY(!JXUtility::getRemovebleDrives(QStringLiteral("msdos")).contains(stick));
        // Simulated: the files stay where they were.
        QVERIFY(QFile::exists(stick + QLatin1String("/System/device.txt")));

        // Nothing is mounted there any more.
        QVERIFY(!JXPlatform().ejectDevice(stick, &detector));
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(JXOperatingSystem::simulatedActions().size(), 2);
    }

    // The manager can be stopped while an unmount runs: its detector's end must not be called into.
    void detectorGoneBeforeUnmountEnds()
    {
        buildMachine();
        const QString stick = folder(QStringLiteral("VEX STICK"));
        int heard = 0;
        auto* detector = new CountingDetector(heard);
        QVERIFY(JXPlatform().ejectDevice(stick, detector));
        delete detector;
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(heard, 0);
        QCOMPARE(JXOperatingSystem::simulatedActions(),
                 QStringList({QStringLiteral("unmount ") + stick, QStringLiteral("eject sdb")}));
    }

    // A disk is not ejected while another of its volumes is mounted.
    void ejectKeepsBusyDisk()
    {
        buildMachine();
        QVERIFY(m_system->addPartition(QStringLiteral("sdb"), QStringLiteral("sdb2"), 18));
        QVERIFY(m_system->mount(QStringLiteral("sdb2"), folder(QStringLiteral("DATA"))));
        const QString stick = folder(QStringLiteral("VEX STICK"));
        QVERIFY(JXPlatform().ejectDevice(stick, nullptr));
        QTRY_VERIFY(!isMountListed(stick));
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(JXOperatingSystem::simulatedActions(), QStringList(QStringLiteral("unmount ") + stick));
        QVERIFY(isMountListed(folder(QStringLiteral("DATA"))));
    }

    void realMountTable()
    {
        JXOperatingSystem::setSystemRoot(QStringLiteral("/"));
        JXOperatingSystem* system = JXOperatingSystem::instance();
        QVERIFY(!system->isSimulated());
        QCOMPARE(system->mountTablePath(), QStringLiteral("/proc/self/mountinfo"));
        QVector<JXMountEntry> mounts;
        QVERIFY(system->mountedVolumes(mounts));
        QVERIFY(!mounts.isEmpty());
        for (const JXMountEntry& entry : mounts) {
            JXBlockDevice device;
            system->blockDevice(entry.major, entry.minor, device);
            system->fileSystemLabel(device.name);
            JXUtility::getDriveName(entry.mountPoint);
        }
        system->scsiDevices();
        JXUtility::getRemovebleDrives(QStringLiteral("msdos"));
        JXPlatform().getRemovableDrives(QStringLiteral("msdos"));
    }

    void realTmpfsStorage()
    {
        if (!JXRealMount::isPossible())
            QSKIP("mounting a tmpfs needs root");
        const QString volume = folder(QStringLiteral("tmpfs"));
        JXRealMount mount;
        if (!mount.mountTmpfs(volume, QStringLiteral("1m")))
            QSKIP("tmpfs cannot be mounted here");

        // The real system's table.
        JXOperatingSystem::setSystemRoot(QStringLiteral("/"));
        qint64 total = 0, free = 0;
        QVERIFY(JXUtility::getStorage(volume, total, free));
        QCOMPARE(total, qint64(1024 * 1024));
        QCOMPARE(free, total);
        QFile file(volume + QLatin1String("/fill"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(QByteArray(256 * 1024, 'x')), qint64(256 * 1024));
        file.close();
        QVERIFY(JXUtility::getStorage(volume, total, free));
        QVERIFY(free <= total - 256 * 1024);

        // A simulated stick whose volume is that tmpfs.
        JXOperatingSystem::setSystemRoot(m_system->root());
        QVERIFY(m_system->addVexmorStick(volume));
        qint64 stickTotal = 0, stickFree = 0;
        QVERIFY(JXPlatform().getDiskStorage(volume, stickTotal, stickFree));
        QCOMPARE(stickTotal, qint64(1024 * 1024));
        QVERIFY(stickFree < stickTotal);
    }

    // Free space counts the blocks reserved for the superuser.
    void freeCountsReservedBlocks()
    {
        if (!JXRealMount::isPossible())
            QSKIP("a loop mount needs root");
        const QString volume = folder(QStringLiteral("ext2"));
        JXRealMount mount;
        if (!mount.mountExt2Image(m_temp->path() + QLatin1String("/ext2.img"), 4 * 1024 * 1024, 50, volume))
            QSKIP("no mke2fs or no loop devices here");

        JXOperatingSystem::setSystemRoot(QStringLiteral("/"));
        qint64 total = 0, free = 0;
        QVERIFY(JXUtility::getStorage(volume, total, free));
        struct statvfs info;
        QCOMPARE(::statvfs(QFile::encodeName(volume).constData(), &info), 0);
        const qint64 availableToUsers = qint64(info.f_bavail) * qint64(info.f_frsize);
        QVERIFY2(
            free > availableToUsers + total / 4,
            qPrintable(QStringLiteral("free %1, available %2, total %3").arg(free).arg(availableToUsers).arg(total)));
    }

    void realUnmount_data()
    {
        QTest::addColumn<bool>("disk");
        QTest::addColumn<bool>("busy");
        QTest::newRow("tmpfs") << false << false;
        // A loop disk also gets the SCSI eject, which it refuses.
        QTest::newRow("loop disk") << true << false;
        // A file open on it: the volume stays mounted and the disk is not ejected.
        QTest::newRow("busy tmpfs") << false << true;
        QTest::newRow("busy loop disk") << true << true;
    }

    void realUnmount()
    {
        QFETCH(bool, disk);
        QFETCH(bool, busy);
        if (!JXRealMount::isPossible())
            QSKIP("unmounting without UDisks2 needs root");
        const QString volume = folder(QStringLiteral("volume"));
        JXRealMount mount;
        const bool mounted =
            disk ? mount.mountExt2Image(m_temp->path() + QLatin1String("/disk.img"), 1024 * 1024, 5, volume)
                 : mount.mountTmpfs(volume, QStringLiteral("64k"));
        if (!mounted)
            QSKIP("the volume cannot be mounted here");
        JXOperatingSystem::setSystemRoot(QStringLiteral("/"));
        QVERIFY(isMountListed(volume));
        QFile open(volume + QLatin1String("/open"));
        if (busy)
            QVERIFY(open.open(QIODevice::WriteOnly));

        RecordingDetector detector;
        QVERIFY(JXPlatform().ejectDevice(volume, &detector));
        QTRY_COMPARE(detector.ejected, 1);
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(isMountListed(volume), busy);
        if (busy) {
            // Still the same file system: what was written reaches it.
            QCOMPARE(open.write("kept"), qint64(4));
            QVERIFY(open.flush());
            QCOMPARE(QFileInfo(volume + QLatin1String("/open")).size(), qint64(4));
        } else {
            mount.forget();
        }
        QCOMPARE(JXOperatingSystem::simulatedActions(), QStringList());
    }

    void scsiDevices()
    {
        buildMachine();
        const QVector<JXScsiDevice> devices = JXOperatingSystem::instance()->scsiDevices();
        QStringList names;
        for (const JXScsiDevice& device : devices)
            names << device.genericName;
        QCOMPARE(names, QStringList({"sg0", "sg1", "sg2", "sg3", "sg4"}));
        const JXScsiDevice& stick = devices.at(1);
        QVERIFY(stick.usb);
        QCOMPARE(stick.usbManufacturer, QStringLiteral("Vexmor"));
        QCOMPARE(stick.scsiVendor, QStringLiteral("Vexmor"));
        QCOMPARE(stick.scsiModel, QStringLiteral("Zelto"));
        QCOMPARE(stick.usbVendorId, quint16(0x2f0e));
        QCOMPARE(stick.usbProductId, quint16(0x0101));
        QVERIFY(!devices.at(0).usb);

        JXBlockDevice partition;
        QVERIFY(JXOperatingSystem::instance()->blockDevice(8, 17, partition));
        QCOMPARE(partition.name, QStringLiteral("sdb1"));
        QCOMPARE(partition.diskName, QStringLiteral("sdb"));
        QVERIFY(partition.removable);
        QCOMPARE(partition.scsi.genericName, QStringLiteral("sg1"));
    }

    void scsiChannelOnlyForWatchedUsbDevice_data()
    {
        QTest::addColumn<QString>("genericName");
        QTest::addColumn<QString>("vendor");
        QTest::addColumn<bool>("opened");
        QTest::newRow("watched stick") << "sg1"
                                       << "Vexmor" << true;
        QTest::newRow("case ignored") << "sg1"
                                      << "vexmor" << true;
        QTest::newRow("internal disk") << "sg0"
                                       << "ATA" << false;
        QTest::newRow("optical drive") << "sg3"
                                       << "HL-DT-ST" << false;
        QTest::newRow("other maker") << "sg2"
                                     << "Vexmor" << false;
        QTest::newRow("no vendor") << "sg1"
                                   << "" << false;
        QTest::newRow("unknown node") << "sg9"
                                      << "Vexmor" << false;
        QTest::newRow("outside") << "../sg1"
                                 << "Vexmor" << false;
        QTest::newRow("block node") << "sdb"
                                    << "Vexmor" << false;
    }

    void scsiChannelOnlyForWatchedUsbDevice()
    {
        QFETCH(QString, genericName);
        QFETCH(QString, vendor);
        QFETCH(bool, opened);
        buildMachine();
        JXSimulatedFlashDevice flash;
        int provided = 0;
        JXOperatingSystem::setSimulatedScsiProvider([&](const JXScsiDevice& device) {
            ++provided;
            return device.genericName == QLatin1String("sg1") ? flash.createChannel() : nullptr;
        });
        std::unique_ptr<JXScsiChannel> channel(JXOperatingSystem::instance()->createScsiChannel(genericName, vendor));
        QCOMPARE(channel != nullptr, opened);
        QCOMPARE(provided, opened ? 1 : 0);
    }

    void scsiChannelNeedsProvider()
    {
        buildMachine();
        QVERIFY(!JXOperatingSystem::instance()->createScsiChannel(QStringLiteral("sg1"), QStringLiteral("Vexmor")));
    }

    void signatureVersions_data()
    {
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<QString>("iap");
        QTest::addColumn<QString>("ap");
        QByteArray full(128, '\0');
        full.replace(0, 12, "VEXMOR Zelto");
        full.replace(40, 9, "IAP I1.02");
        full.replace(27, 4, "2.31");
        QTest::newRow("full") << full << "I1.0"
                              << "2.31";
        QByteArray zeros = full;
        zeros.replace(27, 4, QByteArray("2\0\0\0", 4));
        zeros.replace(44, 4, QByteArray("I7\0x", 4));
        QTest::newRow("zero ends") << zeros << "I7"
                                   << "2";
        QByteArray noIap(128, 'a');
        noIap.replace(3, 4, "3456");
        QTest::newRow("no IAP I") << noIap << "3456"
                                  << "aaaa";
        QByteArray atEnd(128, '\0');
        atEnd.replace(122, 6, "IAP I9");
        QTest::newRow("IAP I at the end") << atEnd << "I9"
                                          << "";
        QTest::newRow("short") << QByteArray("IAP I1") << "I1"
                               << "";
        QTest::newRow("empty") << QByteArray() << ""
                               << "";
    }

    void signatureVersions()
    {
        QFETCH(QByteArray, signature);
        QFETCH(QString, iap);
        QFETCH(QString, ap);
        QString iapVersion = QStringLiteral("old"), apVersion = QStringLiteral("old");
        JXMacPlatform::readSignatureVersions(signature, iapVersion, apVersion);
        QCOMPARE(iapVersion, iap);
        QCOMPARE(apVersion, ap);
    }
};

QTEST_GUILESS_MAIN(TestJXOperatingSystem)
#include "tst_jxoperatingsystem.moc"
