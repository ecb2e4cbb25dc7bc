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
#include "python/galapi.h"
#include "system/jxmacscsiservice.h"

namespace {

const char kUuid[] = "ZG20000000000001";

QByteArray deviceIni(int method, const QByteArray& extra = QByteArray())
{
    return "[UUID]\nUUID=" + QByteArray(kUuid) + "\n[OS]\nVersion=1.30\n[IMG]\nUpdateMethod=" +
           QByteArray::number(method) + "\n[IAP]\nNAME=GAL IAP\n" + extra;
}

// Counts the action-done events the manager sends.
class ActionListener : public JXDeviceManagerListener
{
public:
    QVector<int> actions;
    void onDeviceConnected(JXClient*) override {}
    void onDeviceDisconnected(JXClient*) override {}
    void onDeviceEjected(JXClient*) override {}
    void onDeviceActionDone(JXClient*, int action) override { actions << action; }
};

} // namespace

// The closed-library factory restore, raw-data export and capability, with the device manager, a volume and a
// simulated flash device for the device's return in IAP mode.
class TestJXGalDeviceRestore : public QObject
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

    JXGalDevice* connect(const QByteArray& ini)
    {
        JXTestFiles::writeFile(m_volume + "/device.ini", ini);
        const stRegDevInfo info = row(QStringLiteral("Zelto20"));
        manager()->onDevicePlugin(new JXFSDeviceService(m_volume, &info, QString()));
        return qobject_cast<JXGalDevice*>(manager()->getConnectedDevice());
    }

    static bool finish(JXClient* client)
    {
        const bool ended = client->wait(60000);
        QCoreApplication::processEvents();
        return ended && !client->getError(nullptr);
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

    QStringList volumeFiles() { return QDir(m_volume).entryList(QDir::Files, QDir::Name); }

    // A restore package: internal image and external data named by "release.ini".
    QString restorePackage(const QByteArray& release)
    {
        const QString folder = m_bed.folder()->filePath("restore");
        if (!release.isNull())
            JXTestFiles::writeFile(folder + "/release.ini", release);
        JXTestFiles::writeFile(folder + "/Fac.bin", JXTestPackage::seededBytes(3000, 1));
        JXTestFiles::writeFile(folder + "/FacExData.bin", JXTestPackage::seededBytes(5000, 2));
        return folder;
    }

private slots:
    void initTestCase() { QVERIFY(manager()); }

    void init()
    {
        QVERIFY(m_bed.setUp(0x40000, JXSimulatedFlashBed::UserSubfolder));
        JXEnv::getInstance()->setForceDeviceUpdate(false);
        m_volume = m_bed.folder()->filePath("volume");
        QVERIFY(QDir().mkpath(m_volume));
        m_bed.flash()->setUuid(kUuid);
        GalResetLibrary();
        JXScriptModule::restoreBuiltins();
    }

    void cleanup()
    {
        if (JXClient* client = manager()->getConnectedDevice())
            client->setStateWithMatch(JXClient::State_WaitForRestore, JXClient::State_Idle);
        manager()->disconnectDevice();
        manager()->unregisterDevice(QStringLiteral("GAL IAP"));
        JXScriptModule::restoreBuiltins();
        m_bed.reset();
    }

    void methodTwoOverTwoVisits()
    {
        const QString folder = restorePackage("Name=Fac\n");
        JXGalDevice* client = connect(deviceIni(2));
        QVERIFY(client);
        ActionListener listener;
        manager()->addListener(&listener);

        // First visit: reported as the silent action, the device waits to come back in IAP mode.
        QVERIFY(client->restoreFactory(folder));
        QVERIFY(finish(client));
        QCOMPARE(client->getState(), JXClient::State_WaitForRestore);
        QCOMPARE(volumeFiles(), QStringList({"device.ini", "update.ini"}));
        QCOMPARE(manager()->getRegistryDevices().first().matchText, QString("GAL IAP"));
        QVERIFY(m_bed.flash()->commands().isEmpty());
        QVERIFY(listener.actions.isEmpty());

        // Second visit in IAP mode: the manager restarts the restore without a folder.
        manager()->onDevicePlugin(rawFlashService());
        QCOMPARE(manager()->getConnectedDevice(), client);
        QVERIFY(finish(client));
        manager()->removeListener(&listener);
        QCOMPARE(client->getState(), JXClient::State_Idle);
        QVERIFY(!hasRow("GAL IAP"));
        QCOMPARE(m_bed.flash()->internalFlash().left(3000), JXTestPackage::seededBytes(3000, 1));
        QCOMPARE(m_bed.flash()->externalFlash().left(5000), JXTestPackage::seededBytes(5000, 2));
        QCOMPARE(listener.actions, QVector<int>({JXClient::Action_RestoreFactory}));
    }

    void refusedBeforeTheDeviceLeaves_data()
    {
        QTest::addColumn<QByteArray>("release");
        QTest::addColumn<QString>("message");
        QTest::newRow("no release.ini") << QByteArray() << "release.ini not found";
        QTest::newRow("name outside") << QByteArray("Name=../Fac\n") << "outside its folder";
    }

    void refusedBeforeTheDeviceLeaves()
    {
        QFETCH(QByteArray, release);
        QFETCH(QString, message);
        const QString folder = restorePackage(release);
        JXGalDevice* client = connect(deviceIni(2));
        QVERIFY(client);
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(message));
        QVERIFY(client->restoreFactory(folder));
        QVERIFY(!finish(client));
        QCOMPARE(client->getState(), JXClient::State_Idle);
        QCOMPARE(volumeFiles(), QStringList({"device.ini"}));
        QVERIFY(!hasRow("GAL IAP"));
    }

    void secondVisitOnAVolumeKeepsWaiting()
    {
        JXGalDevice* client = connect(deviceIni(2));
        QVERIFY(client);
        QVERIFY(client->setStateWithMatch(JXClient::State_Idle, JXClient::State_WaitForRestore));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("fail to enter IAP mode"));
        QVERIFY(client->restoreFactory(QString()));
        QVERIFY(!finish(client));
        QCOMPARE(client->getState(), JXClient::State_WaitForRestore);
        QVERIFY(m_bed.flash()->commands().isEmpty());
    }

    void methodOneAsksForAForcedUpdate()
    {
        const QString folder = restorePackage("Name=Fac\n");
        JXGalDevice* client = connect(deviceIni(1));
        QVERIFY(client);
        QVERIFY(client->restoreFactory(folder));
        QVERIFY(!finish(client));
        QVERIFY(JXEnv::getInstance()->isForceDeviceUpdate());
        QCOMPARE(client->getState(), JXClient::State_Idle);
        QCOMPARE(volumeFiles(), QStringList({"device.ini"}));
        QVERIFY(m_bed.flash()->commands().isEmpty());
    }

    void rawDataThroughTheScriptModule()
    {
        JXGalDevice* client = connect(deviceIni(2));
        QVERIFY(client);
        JXTestFiles::writeFile(m_volume + "/Activity/250102030405.gal", QByteArray(88, '\0'));
        const QString target = m_bed.folder()->filePath("export");
        QVERIFY(QDir().mkpath(target));
        const QStringList written = client->saveDeviceRawData(target);
        QCOMPARE(written, QStringList({QDir(target).filePath("250102030405.pmz")}));
        QFile gpx(written.first());
        QVERIFY(gpx.open(QIODevice::ReadOnly));
        QVERIFY(gpx.readAll().contains("Zelto20 1.0.0.1.30 JX2.8.0.99"));

        JXScriptModule::removeFunction("galapi", "ExportPmz");
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("ExportPmz function not found"));
        QCOMPARE(client->saveDeviceRawData(target), QStringList());
        JXScriptModule::setModule("galapi", nullptr);
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Failed import galapi"));
        QCOMPARE(client->saveDeviceRawData(target), QStringList());
    }

    void capabilityAskedOnce()
    {
        GalSetCapability("GPS,BLE");
        JXGalDevice* client = connect(deviceIni(2));
        QVERIFY(client);
        QCOMPARE(client->getCapability(), QString("GPS,BLE"));
        GalSetCapability("changed");
        QCOMPARE(client->getCapability(), QString("GPS,BLE"));
        manager()->disconnectDevice();

        // The description file's text wins; the library is not asked.
        JXGalDevice* described = connect(deviceIni(2, "[CAP]\nCOM=WIFI\n"));
        QVERIFY(described);
        QCOMPARE(described->getCapability(), QString("WIFI"));
    }
};

QTEST_GUILESS_MAIN(TestJXGalDeviceRestore)
#include "tst_jxgaldevicerestore.moc"
