#include <QtEndian>
#include <QtTest>

#include <QTemporaryDir>

#include <memory>

#include "device/gal/jxgaldevice.h"
#include "device/jxdevicemanager.h"
#include "device/jxfsdeviceservice.h"
#include "gal/libgal.h"
#include "jxdaemon.h"
#include "jxenv.h"
#include "jxsimulatedflashbed.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "jxtestfiles.h"
#include "jxtestpackage.h"
#include "jxvirtualclock.h"
#include "system/jxmacscsiservice.h"

namespace {

const char kUuid[] = "ZG20000000000001";
const int kFlashSize = 0x40000;

QByteArray imageFile()
{
    return JXTestPackage::seededBytes(2000, 7);
}

QByteArray deviceIni(int method, const QByteArray& bootLoader = "B1.00")
{
    return "[UUID]\nUUID=" + QByteArray(kUuid) + "\n[OS]\nVersion=1.0\n[BootLoader]\nVersion=" + bootLoader +
           "\n[IMG]\nUpdateMethod=" + QByteArray::number(method) + "\nLangVersion=01010101\n[IAP]\nNAME=GAL IAP\n";
}

// A package of image version 1.1: 4 KiB image at 0x10000, language area at 0x20000.
QByteArray releaseIni(const QByteArray& image = "[IMG]\nName=Dolvrane\nSize=4\nExt_FlashImageStartAddr=10000\n"
                                                "Ext_FlashLangStartAddr=20000\n",
                      const QByteArray& osVersion = "1.1", const QByteArray& langVersion = "01010101")
{
    return image + "LangVersion=" + langVersion + "\n[OS]\nVersion=" + osVersion + "\n[BootLoader]\nVersion=B1.00\n";
}

QByteArray commandBytes(const JXSimulatedFlashDevice::Command& command)
{
    return QByteArray(reinterpret_cast<const char*>(command.record.command), int(command.record.commandLength));
}

QByteArray cdb(quint8 opcode, int block, quint8 area, quint8 sizeCode)
{
    const char bytes[10] = {char(opcode),   0, 0, 0, char(block >> 8), char(block & 0xFF), char(area), 0,
                            char(sizeCode), 0};
    return QByteArray(bytes, 10);
}

} // namespace

// The closed-library software update with the device manager, a volume, and a simulated flash device for the
// device's return in IAP mode.
class TestJXGalDeviceUpdate : public QObject
{
    Q_OBJECT

    JXSimulatedFlashBed m_bed;
    QString m_volume;

    JXDeviceManager* manager() { return JXDaemon::getInstance()->getDeviceManager(); }

    static stRegDevInfo row(const QString& model)
    {
        stRegDevInfo info;
        info.code = QStringLiteral("ZG20");
        info.modelName = model;
        info.matchText = model;
        info.factory = &JXGalDevice::create;
        return info;
    }

    // The device as the manager's connected client on the volume.
    JXGalDevice* connect(const QByteArray& ini, const QString& model = QStringLiteral("Zelto20"))
    {
        JXTestFiles::writeFile(m_volume + "/device.ini", ini);
        const stRegDevInfo info = row(model);
        manager()->onDevicePlugin(new JXFSDeviceService(m_volume, &info, QString()));
        return qobject_cast<JXGalDevice*>(manager()->getConnectedDevice());
    }

    QString package(const QByteArray& release, const QByteArray& profile = QByteArray())
    {
        JXTestPackage::Entries entries{{"release.ini", release},
                                       {"Dolvrane.bin", imageFile()},
                                       {"header.bin", QByteArray(100, 'H')},
                                       {"Dolvrane_eng_.lng", QByteArray(50, 'L')},
                                       {"eng.bft", QByteArray("STMPeng-english")},
                                       {"ger.bft", QByteArray("STMPger-german")},
                                       {"iap.bin", QByteArray("boot loader")}};
        if (!profile.isNull())
            entries << qMakePair(QStringLiteral("Profile.bin"), profile)
                    << qMakePair(QStringLiteral("ProfileMap.txt"), QByteArray("map"));
        const QString path = m_bed.folder()->filePath("Total.zip");
        JXTestFiles::writeFile(path, JXTestPackage::zipBytes(entries));
        return path;
    }

    // The action's end reaches the client on this thread: only then does it take the next one.
    static bool finish(JXClient* client)
    {
        const bool ended = client->wait(60000);
        QCoreApplication::processEvents();
        return ended && !client->getError(nullptr);
    }

    static bool run(JXClient* client, const QString& file)
    {
        client->updateTotal(file, QString());
        return finish(client);
    }

    JXMacSCSIService* rawFlashService()
    {
        JXScsiDevice device;
        device.genericName = QStringLiteral("sg1");
        auto* service = new JXMacSCSIService(device);
        const stRegDevInfo info = row(QStringLiteral("Zelto20"));
        service->setRegistryDevInfo(&info);
        return service;
    }

    bool hasRow(const QString& match)
    {
        for (const stRegDevInfo& info : manager()->getRegistryDevices())
            if (info.matchText == match)
                return true;
        return false;
    }

private slots:
    void initTestCase()
    {
        // No log handler of our own: the test checks the messages.
        QVERIFY(manager());
    }

    void init()
    {
        QVERIFY(m_bed.setUp(kFlashSize, JXSimulatedFlashBed::UserSubfolder));
        m_volume = m_bed.folder()->filePath("volume");
        QVERIFY(QDir().mkpath(m_volume + "/Lang"));
        m_bed.flash()->setUuid(kUuid);
        GalResetLibrary();
    }

    void cleanup()
    {
        manager()->disconnectDevice();
        // A failed test leaves no row behind for the next one.
        manager()->unregisterDevice(QStringLiteral("GAL IAP"));
        m_bed.reset();
    }

    void methodTwoOverTwoVisits()
    {
        GalSetUpdateProfileResult(2);
        JXGalDevice* client = connect(deviceIni(2));
        QVERIFY(client);
        const QByteArray profile(904, 'P');
        QVERIFY(run(client, package(releaseIni(), profile)));

        // First visit: the profile went through the library, the device waits to come back in IAP mode.
        QCOMPARE(client->getState(), JXClient::State_WaitForUpdate);
        QVERIFY(QFile::exists(m_volume + "/update.ini"));
        QVERIFY(QFile::exists(m_volume + "/syncprofile.ini"));
        char path[256];
        QVERIFY(GalRecordedUpdateProfile(0, path, sizeof path));
        QCOMPARE(QString(path), m_volume + "/");
        QCOMPARE(manager()->getRegistryDevices().first().matchText, QString("GAL IAP"));
        QVERIFY(m_bed.flash()->commands().isEmpty());
        // A row under the model's name that this client did not add.
        manager()->registerDevice(row("Zelto20"), false);

        manager()->onDevicePlugin(rawFlashService());
        QCOMPARE(manager()->getConnectedDevice(), client);
        QVERIFY(finish(client));
        QCOMPARE(client->getState(), JXClient::State_Idle);
        QVERIFY(!hasRow("GAL IAP"));
        QVERIFY(hasRow("Zelto20"));
        manager()->unregisterDevice("Zelto20");

        // Image: the file padded to 2048, header, language, filled to 4 KiB with the stamp last, then the profile:
        // 5000 bytes from block 16 erase and write blocks 16 and 17.
        QByteArray image = imageFile() + QByteArray(48, '\0') + QByteArray(100, 'H') + QByteArray(50, 'L');
        image += QByteArray(4096 - image.size(), char(0xFF));
        image.replace(4092, 4, imageFile().mid(148, 4));
        image += profile;
        QCOMPARE(image.size(), 5000);
        const QByteArray flash = m_bed.flash()->externalFlash();
        QCOMPARE(flash.mid(0x10000, 5000), image);
        QCOMPARE(qFromLittleEndian<quint32>(flash.constData() + 0x20000), 0x77A0B2C3u);
        QCOMPARE(int(quint8(flash[0x20008])), 2);

        QVector<QByteArray> sent;
        for (const JXSimulatedFlashDevice::Command& command : m_bed.flash()->commands())
            sent.append(commandBytes(command));
        QVERIFY(sent.indexOf(cdb(0x2A, 16, 0x18, 1)) >= 0);
        QVERIFY(sent.indexOf(cdb(0x2A, 17, 0x18, 1)) > sent.indexOf(cdb(0x2A, 16, 0x18, 1)));
        QVERIFY(sent.indexOf(cdb(0x2A, 18, 0x18, 1)) < 0);
        QVERIFY(sent.indexOf(cdb(0x2A, 17, 0x0F, 8)) > sent.indexOf(cdb(0x2A, 17, 0x18, 1)));
        QVERIFY(sent.indexOf(cdb(0x2A, 32, 0x18, 1)) > sent.indexOf(cdb(0x2A, 17, 0x0F, 8)));
        QCOMPARE(sent.last(), QByteArray::fromHex("2800000000001A000100"));
        QCOMPARE(m_bed.flash()->updateNotices(), 1);
    }

    // An image or boot-loader file that cannot take its name on the volume stops the update before "update.ini"
    // announces anything.
    void copyThatCannotTakeItsName_data()
    {
        QTest::addColumn<QByteArray>("bootLoader");
        QTest::addColumn<QString>("blocked");
        QTest::newRow("image") << QByteArray("B1.00") << "IMG.bin";
        QTest::newRow("boot loader") << QByteArray("B0.90") << "iap.bin";
    }

    void copyThatCannotTakeItsName()
    {
        QFETCH(QByteArray, bootLoader);
        QFETCH(QString, blocked);
        JXGalDevice* client = connect(deviceIni(1, bootLoader));
        QVERIFY(client);
        JXTestFiles::writeFile(m_volume + "/" + blocked + "/kept", "kept");
        QVERIFY(!run(client, package(releaseIni())));
        QCOMPARE(JXTestFiles::readAll(m_volume + "/" + blocked + "/kept"), QByteArray("kept"));
        QVERIFY(!QFile::exists(m_volume + "/update.ini"));
        QVERIFY(!QFile::exists(m_volume + "/." + blocked + ".part"));
        QCOMPARE(client->getState(), JXClient::State_Idle);
    }

    // A method the driver does not know installs nothing, and says so.
    void unknownUpdateMethod()
    {
        JXGalDevice* client = connect(deviceIni(3));
        QVERIFY(client);
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("unknown update method 3"));
        QVERIFY(!run(client, package(releaseIni())));
        QVERIFY(!QFile::exists(m_volume + "/update.ini"));
        QVERIFY(!QFile::exists(m_volume + "/IMG.bin"));
        QCOMPARE(client->getState(), JXClient::State_Idle);
    }

    void bootLoaderR001_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<bool>("image");
        QTest::newRow("Zelto20plus: update.ini alone") << "Zelto20plus" << false;
        QTest::newRow("other models go on") << "Zelto20" << true;
    }

    void bootLoaderR001()
    {
        QFETCH(QString, model);
        QFETCH(bool, image);
        JXGalDevice* client = connect(deviceIni(1, "R001"), model);
        QVERIFY(client);
        QVERIFY(run(client, package(releaseIni())));
        QVERIFY(QFile::exists(m_volume + "/update.ini"));
        QCOMPARE(QFile::exists(m_volume + "/IMG.bin"), image);
    }

    // Versions the device already has: "/update.ini" alone; the profile step of method 2 runs before.
    void profileStepWithoutFullUpdate_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("sync");
        QTest::newRow("changed") << 2 << true;
        QTest::newRow("taken") << 1 << false;
        QTest::newRow("failed") << 0 << false;
    }

    void profileStepWithoutFullUpdate()
    {
        QFETCH(int, result);
        QFETCH(bool, sync);
        GalSetUpdateProfileResult(result);
        JXGalDevice* client = connect(deviceIni(2));
        QVERIFY(client);
        QVERIFY(run(client, package(releaseIni("[IMG]\nName=Dolvrane\nSize=4\n", "1.0"), "profile")));
        QCOMPARE(QFile::exists(m_volume + "/syncprofile.ini"), sync);
        QVERIFY(QFile::exists(m_volume + "/update.ini"));
        QCOMPARE(client->getState(), JXClient::State_Idle);
        QVERIFY(!hasRow("GAL IAP"));
    }

    void profilePathsLongerThanTheLibraryTakes()
    {
        // The unpacked package lies under a folder whose paths do not fit 256 bytes.
        JXEnv::getInstance()->setUserDataBaseFolder(
            m_bed.folder()->filePath(QString(120, 'u') + '/' + QString(120, 'v')));
        GalSetUpdateProfileResult(2);
        JXGalDevice* client = connect(deviceIni(2));
        QVERIFY(client);
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("UpdateProfile refused"));
        QVERIFY(run(client, package(releaseIni("[IMG]\nName=Dolvrane\nSize=4\n", "1.0"), "profile")));
        char path[256];
        QVERIFY(!GalRecordedUpdateProfile(0, path, sizeof path));
        QVERIFY(!QFile::exists(m_volume + "/syncprofile.ini"));
        QVERIFY(QFile::exists(m_volume + "/update.ini"));
    }

    // Checked on the volume, before the device is sent into its boot loader.
    void hostilePackageIsRefusedBeforeEject_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::newRow("overlapping areas") << QByteArray("[IMG]\nName=Dolvrane\nSize=8\nExt_FlashImageStartAddr=10000\n"
                                                         "Ext_FlashLangStartAddr=11000\n");
        QTest::newRow("past block 65535")
            << QByteArray("[IMG]\nName=Dolvrane\nSize=8\nExt_FlashImageStartAddr=FFFF000\n"
                          "Ext_FlashLangStartAddr=20000\n");
        QTest::newRow("address beyond 31 bits") << QByteArray("[IMG]\nName=Dolvrane\nSize=8\n"
                                                              "Ext_FlashImageStartAddr=FFFFFFFF\n");
        QTest::newRow("size 0") << QByteArray("[IMG]\nName=Dolvrane\nSize=0\n");
        QTest::newRow("empty name") << QByteArray("[IMG]\nName=\nSize=8\n");
    }

    void hostilePackageIsRefusedBeforeEject()
    {
        QFETCH(QByteArray, image);
        JXGalDevice* client = connect(deviceIni(2));
        QVERIFY(client);
        QVERIFY(!run(client, package(releaseIni(image))));
        QCOMPARE(client->getState(), JXClient::State_Idle);
        QVERIFY(!QFile::exists(m_volume + "/update.ini"));
        QVERIFY(!hasRow("GAL IAP"));
    }

    void waitingStateOnAVolume()
    {
        JXGalDevice* client = connect(deviceIni(2));
        QVERIFY(client);
        QVERIFY(client->setStateWithMatch(JXClient::State_Idle, JXClient::State_WaitForUpdate));
        QVERIFY(!run(client, QString()));
        QCOMPARE(client->getState(), JXClient::State_Idle);
        QVERIFY(m_bed.flash()->commands().isEmpty());
        QVERIFY(QDir(m_volume).entryList({"*.ini"}, QDir::Files) == QStringList({"device.ini"}));
    }

    void flashesFromAPackageFolder()
    {
        const QString folder = m_bed.folder()->filePath("restore");
        const QByteArray internal = JXTestPackage::seededBytes(3000, 1);
        const QByteArray external = JXTestPackage::seededBytes(5000, 2);
        JXTestFiles::writeFile(folder + "/release.ini", "Name=Fac\n");
        JXTestFiles::writeFile(folder + "/Fac.bin", internal);
        JXTestFiles::writeFile(folder + "/FacExData.bin", external);
        JXGalDevice* client = connect(deviceIni(2));
        QVERIFY(client);
        QVERIFY(client->registerSCSIDevice(QString()));
        client->setDeviceService(rawFlashService());

        QVERIFY(client->updateFlashes(folder));
        QVERIFY(!hasRow("GAL IAP"));
        QCOMPARE(m_bed.flash()->internalFlash().left(3000), internal);
        QCOMPARE(m_bed.flash()->externalFlash().left(5000), external);

        JXTestFiles::writeFile(folder + "/release.ini", "Name=../Fac\n");
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("outside its folder"));
        QVERIFY(!client->updateFlashes(folder));
        QVERIFY(QFile::remove(folder + "/release.ini"));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("release.ini not found"));
        QVERIFY(!client->updateFlashes(folder));
    }
};

QTEST_GUILESS_MAIN(TestJXGalDeviceUpdate)
#include "tst_jxgaldeviceupdate.moc"
