#include "system/jxplatform.h"

#include <QMap>
#include <QMutex>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "device/fitdevice/jxfitdevice.h"
#include "device/gal/jxgaldevice.h"
#include "device/jxdevicemanager.h"
#include "device/jxfsdeviceservice.h"
#include "device/zelto50/jxzelto50.h"
#include "device/zelto50/jxzelto60.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

namespace {

const QString kMatchText = QStringLiteral("VEXMOR:zelto:Zelto:TIRNA Device:TIRNA MS:TIRNA");
const QByteArray kDeviceText = "[MODEL]\nModel=Zelto\n[UUID]\nUUID=ZE01000000000001\n";

enum Factory { NoFactory, FitFactory, GalFactory, Zelto60Factory };

Factory factoryOf(const stRegDevInfo& row)
{
    if (row.factory == &JXFitDevice::create)
        return FitFactory;
    if (row.factory == &JXGalDevice::create)
        return GalFactory;
    if (row.factory == &JXZelto60::create)
        return Zelto60Factory;
    return NoFactory;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QString markOf(const QString& descriptionFile)
{
    QSettings settings(descriptionFile, QSettings::IniFormat);
    // Every section parsed first: a sub-group's section ("[UUID\\0]") sorting between a group and its keys hides them.
    settings.allKeys();
    return settings.value(QStringLiteral("UUID/JX")).toString();
}

JXFSDeviceService* fsService(const QVector<JXDeviceService*>& services)
{
    return services.size() == 1 ? dynamic_cast<JXFSDeviceService*>(services.first()) : nullptr;
}

stRegDevInfo makeRow(const QString& code, const QString& model, const QString& matchText = kMatchText)
{
    stRegDevInfo row;
    row.code = code;
    row.modelName = model;
    row.matchText = matchText;
    row.factory = &JXFitDevice::create;
    return row;
}

} // namespace

class TestJXPlatformDiscovery : public QObject
{
    Q_OBJECT

private:
    struct Volume
    {
        QString name;
        QString descriptionFile; // relative to the volume; empty: none
        QByteArray content = kDeviceText;
        QString usbManufacturer = QStringLiteral("Vexmor");
        QString scsiVendor = QStringLiteral("Vexmor");
        bool removable = true;
        QString type = QStringLiteral("vfat");
    };

    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<JXSimulatedSystem> m_system;
    std::unique_ptr<JXDeviceManager> m_manager;
    int m_disks = 0;

    // A USB disk with one partition mounted on a folder named after the volume; returns the mount point.
    QString addVolume(const Volume& volume)
    {
        const int index = m_disks++;
        JXSimulatedSystem::Disk disk;
        disk.name = QStringLiteral("sd") + QLatin1Char(char('b' + index));
        disk.minor = quint32(16 * (index + 1));
        disk.host = 6 + index;
        disk.genericName = QStringLiteral("sg%1").arg(index + 1);
        disk.usbManufacturer = volume.usbManufacturer;
        disk.scsiVendor = volume.scsiVendor;
        disk.removable = volume.removable;
        const QString mountPoint = m_temp->filePath(QStringLiteral("media/") + volume.name);
        if (!QDir().mkpath(mountPoint) || !m_system->addDisk(disk) ||
            !m_system->addPartition(disk.name, disk.name + QLatin1Char('1'), disk.minor + 1) ||
            !m_system->mount(disk.name + QLatin1Char('1'), mountPoint, volume.type))
            return QString();
        if (!volume.descriptionFile.isEmpty() &&
            !writeFile(mountPoint + QLatin1Char('/') + volume.descriptionFile, volume.content))
            return QString();
        return mountPoint;
    }

    QString addDevice(const QString& name, const QByteArray& content = kDeviceText,
                      const QString& descriptionFile = QStringLiteral("System/device.txt"))
    {
        Volume volume;
        volume.name = name;
        volume.descriptionFile = descriptionFile;
        volume.content = content;
        return addVolume(volume);
    }

    QVector<JXDeviceService*> scan(QStringList* diskNames = nullptr)
    {
        return JXPlatform().findFSDevices(m_manager.get(), diskNames);
    }

private slots:
    void init()
    {
        m_temp.reset(new QTemporaryDir);
        QVERIFY(m_temp->isValid());
        m_system.reset(new JXSimulatedSystem(m_temp->filePath(QStringLiteral("root"))));
        JXOperatingSystem::setSystemRoot(m_system->root());
        m_manager.reset(new JXDeviceManager);
        m_manager->setManagedDeviceType(JXDeviceManager::DEVICE_TYPE_FIT);
        m_disks = 0;
    }

    void cleanup()
    {
        m_manager.reset();
        JXOperatingSystem::setSimulatedScsiProvider(nullptr);
        JXOperatingSystem::setSystemRoot(QString());
        m_system.reset();
        m_temp.reset();
    }

    void descriptionFileNames_data()
    {
        QTest::addColumn<int>("managedType");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("factory");

        const int fit = JXDeviceManager::DEVICE_TYPE_FIT;
        const int others = JXDeviceManager::DEVICE_TYPE_PSF | JXDeviceManager::DEVICE_TYPE_GAL;
        QTest::newRow("device.txt") << fit << "System/device.txt" << true << int(FitFactory);
        QTest::newRow("Device.txt") << fit << "System/Device.txt" << true << int(FitFactory);
        QTest::newRow("all families read device.txt")
            << int(JXDeviceManager::DEVICE_TYPE_ALL) << "System/device.txt" << true << int(FitFactory);
        QTest::newRow("device.ini") << others << "device.ini" << true << int(GalFactory);
        QTest::newRow("Device.ini") << others << "Device.ini" << true << int(GalFactory);
        QTest::newRow("file-update family ignores device.ini") << fit << "device.ini" << false << int(NoFactory);
        QTest::newRow("other families ignore device.txt") << others << "System/device.txt" << false << int(NoFactory);
        QTest::newRow("not in System") << fit << "device.txt" << false << int(NoFactory);
    }

    void descriptionFileNames()
    {
        QFETCH(int, managedType);
        QFETCH(QString, fileName);
        QFETCH(bool, found);
        QFETCH(int, factory);
        m_manager->setManagedDeviceType(managedType);
        const QString drive = addDevice(QStringLiteral("ZELTO"), kDeviceText, fileName);
        QVERIFY(!drive.isEmpty());

        const QVector<JXDeviceService*> services = scan();
        const auto release = qScopeGuard([&] { qDeleteAll(services); });
        if (!found) {
            QVERIFY(services.isEmpty());
            QVERIFY(m_manager->getRegistryDevices().isEmpty());
            return;
        }
        JXFSDeviceService* service = fsService(services);
        QVERIFY(service);
        QCOMPARE(service->getType(), int(JXDeviceService::DEVICE_FS));
        QCOMPARE(service->getDrive(), drive);
        QCOMPARE(service->getDescriptionFile(), drive + QLatin1Char('/') + fileName);
        QVERIFY(service->getStorageDrive().isEmpty());
        QCOMPARE(service->getRegistryInfo()->code, QStringLiteral("ZE01"));
        QCOMPARE(service->getRegistryInfo()->modelName, QStringLiteral("Zelto"));
        QCOMPARE(service->getRegistryInfo()->matchText, kMatchText);
        QCOMPARE(int(factoryOf(*service->getRegistryInfo())), factory);
        QCOMPARE(m_manager->getRegistryDevices().size(), 1);
        QCOMPARE(m_manager->getRegistryDevices().first().code, QStringLiteral("ZE01"));
        QCOMPARE(markOf(service->getDescriptionFile()), QStringLiteral("1"));
    }

    // Two scans of the same device: what each one returns and how the registry grows.
    void malformedDescriptions_data()
    {
        QTest::addColumn<int>("managedType");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("rowsAfterSecondScan");

        const int fit = JXDeviceManager::DEVICE_TYPE_FIT;
        const int gal = JXDeviceManager::DEVICE_TYPE_GAL;
        QByteArray garbage(700, '\0');
        for (int i = 0; i < garbage.size(); ++i)
            garbage[i] = char((i * 131 + 7) % 251);
        garbage.insert(100, "\n=x\n[UUID]\nUUID");

        QTest::newRow("no model") << fit << QByteArray("[UUID]\nUUID=ZE01000000000001\n") << false << ""
                                  << "" << 0;
        // The model becomes folder names on this computer: a name that is none, or leaves its folder, is no model.
        const QList<QPair<const char*, QByteArray>> unsafeModels = {
            {"empty model", ""},
            {"model climbs out", "../../../../escaped-model"},
            {"model is ..", ".."},
            {"model is .", "\".\""},
            {"model with a slash", "Zelto/70"},
            {"model with a backslash", "Zelto\\\\70"},
            {"model with a control character", "Zelto\x01" "70"},
            {"other family, model climbs out", "../escaped-model"},
        };
        for (const auto& unsafe : unsafeModels) {
            const int family = QByteArray(unsafe.first).startsWith("other family") ? gal : fit;
            QTest::newRow(unsafe.first) << family
                                        << QByteArray("[MODEL]\nModel=") + unsafe.second +
                                               "\n[UUID]\nUUID=ZE01000000000001\n"
                                        << false << "" << "" << 0;
        }
        QTest::newRow("model trimmed") << fit
                                       << QByteArray("[MODEL]\nModel=\" Zelto \"\n[UUID]\nUUID=ZE01000000000001\n")
                                       << true << "ZE01"
                                       << "Zelto" << 1;
        // An empty UUID matches the row with the empty code made by the first scan.
        QTest::newRow("no UUID") << fit << QByteArray("[MODEL]\nModel=Zelto\n") << true << ""
                                 << "Zelto" << 1;
        QTest::newRow("short UUID") << fit << QByteArray("[MODEL]\nModel=Zelto\n[UUID]\nUUID=ZE01\n") << true << ""
                                    << "Zelto" << 2;
        QTest::newRow("long UUID") << fit << QByteArray("[MODEL]\nModel=Zelto\n[UUID]\nUUID=ZE010000000000012\n")
                                   << true << ""
                                   << "Zelto" << 2;
        QTest::newRow("UUID with a comma")
            << fit << QByteArray("[MODEL]\nModel=Zelto\n[UUID]\nUUID=ZE01,00000000001\n") << true << "ZE01"
            << "Zelto" << 1;
        QTest::newRow("binary garbage") << fit << garbage << false << ""
                                        << "" << 0;
        QTest::newRow("other family, short UUID")
            << gal << QByteArray("[MODEL]\nModel=Zelto\n[UUID]\nUUID=ZE01\n") << false << ""
            << "" << 0;
        QTest::newRow("other family, no UUID") << gal << QByteArray("[MODEL]\nModel=Zelto\n") << false << ""
                                               << "" << 0;
    }

    void malformedDescriptions()
    {
        QFETCH(int, managedType);
        QFETCH(QByteArray, content);
        QFETCH(bool, found);
        QFETCH(QString, code);
        QFETCH(QString, model);
        QFETCH(int, rowsAfterSecondScan);
        m_manager->setManagedDeviceType(managedType);
        const QString fileName = managedType == JXDeviceManager::DEVICE_TYPE_FIT ? QStringLiteral("System/device.txt")
                                                                                 : QStringLiteral("device.ini");
        QVERIFY(!addDevice(QStringLiteral("ZELTO"), content, fileName).isEmpty());

        for (int scanNumber = 1; scanNumber <= 2; ++scanNumber) {
            const QVector<JXDeviceService*> services = scan();
            const auto release = qScopeGuard([&] { qDeleteAll(services); });
            QCOMPARE(services.size(), found ? 1 : 0);
            if (found) {
                QCOMPARE(services.first()->getRegistryInfo()->code, code);
                QCOMPARE(services.first()->getRegistryInfo()->modelName, model);
            }
            QCOMPARE(m_manager->getRegistryDevices().size(), scanNumber == 1 ? int(found) : rowsAfterSecondScan);
        }
    }

    // The mark is one more line in the group "UUID"; every byte the device wrote stays as it was.
    void descriptionFileKeepsItsBytes_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("uuid");
        const QString uuid = QStringLiteral("ZE01000000000001");
        QTest::newRow("comments, ';' in a value")
            << QByteArray("; written by the device\n[MODEL]\nModel=Zelto\nName=Ride;Track\n# build 7\n[UUID]\n"
                          "UUID=ZE01000000000001\n; end\n")
            << QByteArray("; written by the device\n[MODEL]\nModel=Zelto\nName=Ride;Track\n# build 7\n[UUID]\n"
                          "UUID=ZE01000000000001\nJX=1\n; end\n")
            << uuid;
        QTest::newRow("key with a blank, list with commas, device order")
            << QByteArray("[UUID]\nUUID = ZE01000000000001\n[MODEL]\nModel=Zelto\nDisplay Name=My Zelto\n[CAP]\n"
                          "COM=GPS,BT\n")
            << QByteArray("[UUID]\nUUID = ZE01000000000001\nJX=1\n[MODEL]\nModel=Zelto\nDisplay Name=My Zelto\n"
                          "[CAP]\nCOM=GPS,BT\n")
            << uuid;
        QTest::newRow("CRLF")
            << QByteArray("[MODEL]\r\nModel=Zelto\r\n[UUID]\r\nUUID=ZE01000000000001\r\n[CAP]\r\nCOM=GPS,BT\r\n")
            << QByteArray("[MODEL]\r\nModel=Zelto\r\n[UUID]\r\nUUID=ZE01000000000001\r\nJX=1\r\n[CAP]\r\n"
                          "COM=GPS,BT\r\n")
            << uuid;
        QTest::newRow("no final line end")
            << QByteArray("[MODEL]\nModel=Zelto\n[UUID]\nUUID=ZE01000000000001")
            << QByteArray("[MODEL]\nModel=Zelto\n[UUID]\nUUID=ZE01000000000001\nJX=1") << uuid;
        QTest::newRow("no group UUID") << QByteArray("[MODEL]\nModel=Zelto\n")
                                       << QByteArray("[MODEL]\nModel=Zelto\n[UUID]\nJX=1\n") << QString();
        QTest::newRow("no group UUID, CRLF, no final line end")
            << QByteArray("[MODEL]\r\nModel=Zelto") << QByteArray("[MODEL]\r\nModel=Zelto\r\n[UUID]\r\nJX=1")
            << QString();
        QTest::newRow("group UUID without keys")
            << QByteArray("[MODEL]\nModel=Zelto\n[UUID]\n\n[CAP]\nCOM=GPS,BT\n")
            << QByteArray("[MODEL]\nModel=Zelto\n[UUID]\nJX=1\n\n[CAP]\nCOM=GPS,BT\n") << QString();
        QTest::newRow("mark in another group only")
            << QByteArray("[MODEL]\nJX=1\nModel=Zelto\n[UUID]\nUUID=\"ZE01000000000001\" ; quoted\n")
            << QByteArray("[MODEL]\nJX=1\nModel=Zelto\n[UUID]\nUUID=\"ZE01000000000001\" ; quoted\nJX=1\n") << uuid;
        const QByteArray marked = "[MODEL]\r\nModel=Zelto\r\n[UUID]\r\nJX = 1\r\nUUID=ZE01000000000001\r\n; end";
        QTest::newRow("marked") << marked << marked << uuid;
        // The value goes on past the line end: a mark line there would become part of it.
        const QByteArray continued = "[MODEL]\nModel=Zelto\n[UUID]\nUUID=ZE0100000000000\\\n1\n";
        QTest::newRow("line continued") << continued << continued << uuid;
    }

    void descriptionFileKeepsItsBytes()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, expected);
        QFETCH(QString, uuid);
        const QString drive = addDevice(QStringLiteral("ZELTO"), content);
        QVERIFY(!drive.isEmpty());
        const QString path = drive + QLatin1String("/System/device.txt");
        for (int scanNumber = 1; scanNumber <= 2; ++scanNumber) {
            qDeleteAll(scan());
            QCOMPARE(readFile(path), expected);
        }
        // Readers of the file see the mark (unless it could not be added) and the same UUID; nothing is left beside
        // the file.
        QCOMPARE(markOf(path), expected.contains("JX") ? QStringLiteral("1") : QString());
        QString read;
        QCOMPARE(JXFSDeviceService::readDeviceUUID(path, read), !uuid.isEmpty());
        QCOMPARE(read, uuid);
        QCOMPARE(
            QDir(drive + QLatin1String("/System")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList(QStringLiteral("device.txt")));
    }

    // What is not a small file of the volume's own is neither read nor written, and gives no device.
    void descriptionFileGuarded_data()
    {
        QTest::addColumn<QString>("setUp");
        QTest::newRow("too large") << "large";
        QTest::newRow("file is a link") << "file link";
        QTest::newRow("folder is a link") << "folder link";
    }

    void descriptionFileGuarded()
    {
        QFETCH(QString, setUp);
        Volume volume;
        volume.name = QStringLiteral("ZELTO");
        const QString drive = addVolume(volume);
        QVERIFY(!drive.isEmpty());
        const QString outside = m_temp->filePath(QStringLiteral("outside"));
        const QString path = drive + QLatin1String("/System/device.txt");
        QVERIFY(QDir().mkpath(outside));
        QByteArray content = kDeviceText;
        QString watched = outside + QLatin1String("/device.txt");
        if (setUp == QLatin1String("large")) {
            content += QByteArray(1024 * 1024, ' ');
            QVERIFY(writeFile(path, content));
            watched = path;
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("has %1 bytes").arg(content.size())));
        } else if (setUp == QLatin1String("file link")) {
            QVERIFY(writeFile(watched, content));
            QVERIFY(QDir().mkpath(drive + QLatin1String("/System")));
            QVERIFY(QFile::link(watched, path));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot read the description file")));
        } else {
            QVERIFY(writeFile(watched, content));
            QVERIFY(QFile::link(outside, drive + QLatin1String("/System")));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot open the folder")));
        }
        const QVector<JXDeviceService*> services = scan();
        qDeleteAll(services);
        QVERIFY(services.isEmpty());
        QVERIFY(m_manager->getRegistryDevices().isEmpty());
        QCOMPARE(readFile(watched), content);
        QCOMPARE(
            QDir(QFileInfo(watched).path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(),
            1);
    }

    // A file that does not read as INI text is left as it is.
    void garbageIsNotRewritten()
    {
        QByteArray garbage;
        for (int i = 0; i < 2048; ++i)
            garbage.append(char((i * 7919 + 13) & 0xFF));
        const QString drive = addDevice(QStringLiteral("ZELTO"), garbage);
        QVERIFY(!drive.isEmpty());
        const QVector<JXDeviceService*> services = scan();
        qDeleteAll(services);
        QVERIFY(services.isEmpty());
        QCOMPARE(readFile(drive + QLatin1String("/System/device.txt")), garbage);
    }

    // The detector scans ten times a second: the mark is written once, and a file that holds it is never rewritten.
    void descriptionFileMarkedOnce_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("firstScanWrites");
        QTest::newRow("unmarked") << QByteArray("; from the factory\n") + kDeviceText << true;
        QTest::newRow("marked") << QByteArray("; from the factory\n[MODEL]\nModel=Zelto\n[UUID]\nJX=1\n"
                                              "UUID=ZE01000000000001\n")
                                << false;
        // Each sub-group's section sorts between its group and the keys read from it.
        QTest::newRow("marked, with sub-group sections")
            << QByteArray("[MODEL\\0]\nA=1\n[MODEL]\nModel=Zelto\n[UUID\\0]\nA=1\n[UUID]\nJX=1\n"
                          "UUID=ZE01000000000001\n")
            << false;
    }

    void descriptionFileMarkedOnce()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, firstScanWrites);
        const QString drive = addDevice(QStringLiteral("ZELTO"), content);
        QVERIFY(!drive.isEmpty());
        const QString path = drive + QLatin1String("/System/device.txt");
        const QDateTime old(QDate(2001, 1, 1), QTime(12, 0), Qt::UTC);

        for (int scanNumber = 1; scanNumber <= 3; ++scanNumber) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
            file.close();
            const QByteArray before = readFile(path);

            const QVector<JXDeviceService*> services = scan();
            qDeleteAll(services);
            QCOMPARE(services.size(), 1);
            QCOMPARE(markOf(path), QStringLiteral("1"));
            const bool written = QFileInfo(path).lastModified() != old;
            QCOMPARE(written, firstScanWrites && scanNumber == 1);
            if (!written)
                QCOMPARE(readFile(path), before);
        }
    }

    void registryRowMatchedByCode()
    {
        m_manager->registerDevice(makeRow(QStringLiteral("AB12"), QStringLiteral("Other")), false);
        m_manager->registerDevice(makeRow(QStringLiteral("ze01"), QStringLiteral("Lower case")), false);
        m_manager->registerDevice(makeRow(QStringLiteral("ZE01"), QStringLiteral("Known"), QStringLiteral("KNOWN")),
                                  false);
        m_manager->registerDevice(makeRow(QStringLiteral("ZE01"), QStringLiteral("Later")), false);
        QVERIFY(!addDevice(QStringLiteral("ZELTO")).isEmpty());

        const QVector<JXDeviceService*> services = scan();
        const auto release = qScopeGuard([&] { qDeleteAll(services); });
        QCOMPARE(services.size(), 1);
        QCOMPARE(services.first()->getRegistryInfo()->modelName, QStringLiteral("Known"));
        QCOMPARE(services.first()->getRegistryInfo()->matchText, QStringLiteral("KNOWN"));
        QCOMPARE(m_manager->getRegistryDevices().size(), 4);
        // The service holds a copy: the registry may change afterwards.
        m_manager->getRegistryDevices().clear();
        QCOMPARE(services.first()->getRegistryInfo()->modelName, QStringLiteral("Known"));
    }

    void firstOfTwoDevicesWins()
    {
        const QString first = addDevice(QStringLiteral("FIRST"));
        const QString second =
            addDevice(QStringLiteral("SECOND"), "[MODEL]\nModel=Zelto2\n[UUID]\nUUID=ZE02000000000002\n");
        QVERIFY(!first.isEmpty() && !second.isEmpty());

        const QVector<JXDeviceService*> services = scan();
        const auto release = qScopeGuard([&] { qDeleteAll(services); });
        JXFSDeviceService* service = fsService(services);
        QVERIFY(service);
        QCOMPARE(service->getDrive(), first);
        QCOMPARE(m_manager->getRegistryDevices().size(), 1);
        QCOMPARE(m_manager->getRegistryDevices().first().code, QStringLiteral("ZE01"));
        QCOMPARE(markOf(second + QLatin1String("/System/device.txt")), QStringLiteral("1"));
    }

    void storageDrive_data()
    {
        QTest::addColumn<bool>("storageFirst");
        QTest::addColumn<bool>("rowKnownBefore");
        QTest::addColumn<QString>("manufacturer");
        QTest::addColumn<QString>("scsiVendor");
        QTest::addColumn<bool>("isStorage");

        QTest::newRow("after the device") << false << false << "Vexmor"
                                          << "Vexmor" << true;
        QTest::newRow("before the device, first scan") << true << false << "Vexmor"
                                                       << "Vexmor" << false;
        QTest::newRow("before the device, row known") << true << true << "Vexmor"
                                                      << "Vexmor" << true;
        QTest::newRow("vendor in any case") << false << false << ""
                                            << "vexMOR" << true;
        QTest::newRow("other vendor") << false << false << "Kingmax"
                                      << "KMX" << false;
    }

    void storageDrive()
    {
        QFETCH(bool, storageFirst);
        QFETCH(bool, rowKnownBefore);
        QFETCH(QString, manufacturer);
        QFETCH(QString, scsiVendor);
        QFETCH(bool, isStorage);
        if (rowKnownBefore)
            m_manager->registerDevice(makeRow(QStringLiteral("XX00"), QStringLiteral("Zelto")), false);
        Volume storage;
        storage.name = QStringLiteral("STORAGE");
        storage.usbManufacturer = manufacturer;
        storage.scsiVendor = scsiVendor;
        QString storagePath;
        if (storageFirst)
            storagePath = addVolume(storage);
        const QString drive = addDevice(QStringLiteral("ZELTO"));
        if (!storageFirst)
            storagePath = addVolume(storage);
        QVERIFY(!drive.isEmpty() && !storagePath.isEmpty());

        const QVector<JXDeviceService*> services = scan();
        const auto release = qScopeGuard([&] { qDeleteAll(services); });
        JXFSDeviceService* service = fsService(services);
        QVERIFY(service);
        QCOMPARE(service->getDrive(), drive);
        QCOMPARE(service->getStorageDrive(), isStorage ? storagePath : QString());
    }

    // The last storage candidate before the device is found wins, and the scan stops once both are known.
    void storageDriveStopsTheScan()
    {
        m_manager->registerDevice(makeRow(QStringLiteral("XX00"), QStringLiteral("Zelto")), false);
        Volume storage;
        storage.name = QStringLiteral("STORAGE1");
        QVERIFY(!addVolume(storage).isEmpty());
        storage.name = QStringLiteral("STORAGE2");
        const QString lastStorage = addVolume(storage);
        const QString drive = addDevice(QStringLiteral("ZELTO"));
        const QString later = addDevice(QStringLiteral("LATER"));
        QVERIFY(!lastStorage.isEmpty() && !drive.isEmpty() && !later.isEmpty());

        const QVector<JXDeviceService*> services = scan();
        const auto release = qScopeGuard([&] { qDeleteAll(services); });
        JXFSDeviceService* service = fsService(services);
        QVERIFY(service);
        QCOMPARE(service->getStorageDrive(), lastStorage);
        QVERIFY(markOf(later + QLatin1String("/System/device.txt")).isEmpty());
    }

    void volumesLeftOut_data()
    {
        QTest::addColumn<bool>("removable");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("pulled");
        QTest::addColumn<bool>("useDiskNames");
        QTest::addColumn<QStringList>("diskNames");
        QTest::addColumn<bool>("found");

        QTest::newRow("every volume") << true << "vfat" << false << false << QStringList() << true;
        QTest::newRow("exfat is msdos too") << true << "exfat" << false << false << QStringList() << true;
        QTest::newRow("fixed disk") << false << "vfat" << false << false << QStringList() << false;
        QTest::newRow("other file system") << true << "ext4" << false << false << QStringList() << false;
        QTest::newRow("stale mount after a pull") << true << "vfat" << true << false << QStringList() << false;
        QTest::newRow("disk in the list") << true << "vfat" << false << true << QStringList{"sdz1", "sdb1"} << true;
        QTest::newRow("disk not in the list") << true << "vfat" << false << true << QStringList{"sdc1"} << false;
        QTest::newRow("empty list") << true << "vfat" << false << true << QStringList() << false;
    }

    void volumesLeftOut()
    {
        QFETCH(bool, removable);
        QFETCH(QString, type);
        QFETCH(bool, pulled);
        QFETCH(bool, useDiskNames);
        QFETCH(QStringList, diskNames);
        QFETCH(bool, found);
        Volume volume;
        volume.name = QStringLiteral("ZELTO");
        volume.descriptionFile = QStringLiteral("System/device.txt");
        volume.removable = removable;
        volume.type = type;
        QVERIFY(!addVolume(volume).isEmpty());
        if (pulled)
            QVERIFY(m_system->pull(QStringLiteral("sdb")));

        const QVector<JXDeviceService*> services = scan(useDiskNames ? &diskNames : nullptr);
        qDeleteAll(services);
        QCOMPARE(services.size(), found ? 1 : 0);
        QCOMPARE(m_manager->getRegistryDevices().size(), found ? 1 : 0);
    }

    void otherFamilyFactories_data()
    {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<int>("factory");
        QTest::newRow("Zelto60") << QByteArray("Zelto60") << int(Zelto60Factory);
        QTest::newRow("Zelto60 with spaces") << QByteArray("\"Zelto60 \"") << int(Zelto60Factory);
        QTest::newRow("zelto60") << QByteArray("zelto60") << int(GalFactory);
        QTest::newRow("Zelto50") << QByteArray("Zelto50") << int(GalFactory);
    }

    void otherFamilyFactories()
    {
        QFETCH(QByteArray, model);
        QFETCH(int, factory);
        m_manager->setManagedDeviceType(JXDeviceManager::DEVICE_TYPE_GAL);
        const QString drive =
            addDevice(QStringLiteral("MAP"), "[MODEL]\nModel=" + model + "\n[UUID]\nUUID=GA60000000000001\n",
                      QStringLiteral("device.ini"));
        QVERIFY(!drive.isEmpty());

        QVector<JXDeviceService*> services = scan();
        QCOMPARE(services.size(), 1);
        const stRegDevInfo row = *services.first()->getRegistryInfo();
        QCOMPARE(row.code, QStringLiteral("GA60"));
        QCOMPARE(int(factoryOf(row)), factory);

        // The factory owns the service from here on, also when it returns nothing.
        std::unique_ptr<JXClient> client(row.factory(services.takeFirst()));
        QVERIFY(client);
        QString name;
        QVERIFY(client->getName(name));
        QCOMPARE(name, row.modelName);
        QCOMPARE(client->getServiceType(), int(JXDeviceService::DEVICE_FS));
    }

    // Both map-device models start on their volume.
    void mapDeviceFactories()
    {
        const stRegDevInfo row = makeRow(QStringLiteral("1104"), QStringLiteral("Zelto50CR"));
        std::unique_ptr<JXClient> client(JXZelto50CR::create(new JXFSDeviceService(m_temp->path(), &row, QString())));
        QVERIFY(client);
        std::unique_ptr<JXClient> sixty(JXZelto60::create(new JXFSDeviceService(m_temp->path(), &row, QString())));
        QVERIFY(sixty);
    }

    // Several raw-flash devices: the first, in node order, whose signature a registry row knows; the others are
    // not asked, and devices of other makers are never opened.
    void findSCSIDevices_data()
    {
        QTest::addColumn<QByteArray>("firstSignature");
        QTest::addColumn<bool>("firstFailsToOpen");

        QTest::newRow("first has no row") << QByteArray("VEXMOR  ZELTO99 IAP I999") << false;
        QTest::newRow("first cannot be opened") << QByteArray("VEXMOR  ZELTO30 IAP I999") << true;
    }

    void findSCSIDevices()
    {
        QFETCH(QByteArray, firstSignature);
        QFETCH(bool, firstFailsToOpen);
        JXSimulatedSystem::Disk disk;
        QMap<QString, std::shared_ptr<JXSimulatedFlashDevice>> devices;
        const QStringList makers{"Vexmor", "Kingmax", "Vexmor", "Vexmor"};
        for (int i = 0; i < makers.size(); ++i) {
            disk.name = QStringLiteral("sd") + QLatin1Char(char('b' + i));
            disk.minor = quint32(16 * (i + 1));
            disk.host = 6 + i;
            disk.genericName = QStringLiteral("sg%1").arg(i + 1);
            disk.usbManufacturer = makers.at(i);
            disk.scsiVendor =
                makers.at(i) == QLatin1String("Vexmor") ? QStringLiteral("Vexmor") : QStringLiteral("KMX");
            QVERIFY(m_system->addDisk(disk));
            devices.insert(disk.genericName, std::make_shared<JXSimulatedFlashDevice>());
        }
        // sg1: the case's first device; sg2: another maker's; sg3 and sg4 both known to the registry.
        devices.value("sg1")->setSignature(firstSignature);
        devices.value("sg1")->setFailOnOpen(firstFailsToOpen);
        devices.value("sg2")->setSignature("KMX     ZELTO30 IAP I888");
        devices.value("sg3")->setSignature(QByteArray("VEXMOR  ZELTO30 IAP I102xxxA123", 31) + QByteArray(10, '\0'));
        devices.value("sg4")->setSignature("VEXMOR  ZELTO30 IAP I777");
        QStringList asked;
        QMutex askedMutex;
        JXOperatingSystem::setSimulatedScsiProvider([&](const JXScsiDevice& device) -> JXScsiChannel* {
            QMutexLocker locker(&askedMutex);
            asked.append(device.genericName);
            return devices.contains(device.genericName) ? devices.value(device.genericName)->createChannel() : nullptr;
        });

        QVector<stRegDevInfo> registry{makeRow(QStringLiteral("0301"), QStringLiteral("Zelto30"), "ZELTO30"),
                                       makeRow(QStringLiteral("0302"), QStringLiteral("Later row"), "I777")};
        const QVector<JXDeviceService*> services = JXPlatform().findSCSIDevices(registry);
        const auto release = qScopeGuard([&] { qDeleteAll(services); });

        QCOMPARE(services.size(), 1);
        auto* service = dynamic_cast<JXMacSCSIService*>(services.first());
        QVERIFY(service);
        QCOMPARE(service->getType(), int(JXDeviceService::DEVICE_SCSI));
        QCOMPARE(service->getRegistryInfo()->code, QStringLiteral("0301"));
        QCOMPARE(service->getRegistryInfo()->modelName, QStringLiteral("Zelto30"));
        QCOMPARE(service->getIAPVersion(), QStringLiteral("I102"));
        QCOMPARE(service->getAPVersion(), QStringLiteral("A123"));
        QCOMPARE(asked, (QStringList{"sg1", "sg3"}));
        QCOMPARE(devices.value("sg3")->openCount(), devices.value("sg3")->closeCount());
    }

    void nullManager()
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("no device manager")));
        QVERIFY(JXPlatform().findFSDevices(nullptr, nullptr).isEmpty());
        QVERIFY(!JXPlatform().findFitDeviceInfo(nullptr, QString()));
        QVERIFY(!JXPlatform().findGalDeviceInfo(nullptr, QString()));
    }
};

QTEST_GUILESS_MAIN(TestJXPlatformDiscovery)
#include "tst_jxplatformdiscovery.moc"
