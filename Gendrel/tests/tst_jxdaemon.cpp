#include <QtTest>

#include <QSettings>
#include <QTemporaryDir>

#include "compress/jxziputil.h"
#include "device/jxclient.h"
#include "device/jxdevicemanager.h"
#include "gal/libgal.h"
#include "jxclienttestdriver.h"
#include "jxdaemon.h"
#include "jxdaemonproxy.h"
#include "jxenv.h"
#include "jxsimulatedsystem.h"
#include "jxtestdevice.h"
#include "python/pqhelper.h"
#include "system/jxoperatingsystem.h"
#include "util/ghtracelog.h"

namespace {

// What one of the closed library's model setters last received; null when it was not called.
QVariant recorded(int (*reader)(char*, int))
{
    char buffer[64];
    if (!reader(buffer, sizeof buffer))
        return QVariant();
    return QByteArray(buffer);
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

} // namespace

// The daemon of the updater's role, started against a simulated system; it stays alive until the process exits,
// as in the application, so its detection thread must stop when the application object goes away.
class TestJXDaemon : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    QScopedPointer<JXSimulatedSystem> m_system;
    QString m_appFolder;

    JXDeviceManager* manager() { return JXDaemon::getInstance()->getDeviceManager(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        m_appFolder = QDir::currentPath();
        JXEnv::getInstance()->init(QStringLiteral("both"), QStringLiteral("dorvupdate.log"));
        m_system.reset(new JXSimulatedSystem(m_folder.path() + QLatin1String("/root")));
        JXOperatingSystem::setSystemRoot(m_system->root());
        QVERIFY(JXDaemon::getInstance());
        QCOMPARE(JXDaemon::getInstance(), JXDaemon::getInstance());
        QVERIFY(!dynamic_cast<JXDaemonProxy*>(JXDaemon::getInstance()));
    }

    void init() { GalClearModelRecord(); }

    void connectedDevicePassesItsIdentity_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("total");
        QTest::addColumn<QString>("bootLoader");
        QTest::addColumn<QVariant>("name");
        QTest::addColumn<QVariant>("image");
        QTest::addColumn<QVariant>("iap");
        const QVariant none;
        QTest::newRow("all fit") << "Zelto20"
                                 << "12"
                                 << "3" << QVariant("Zelto20") << QVariant("12") << QVariant("3");
        QTest::newRow("9 and 3 characters") << "Zelto20pl"
                                            << "123"
                                            << "456" << QVariant("Zelto20pl") << QVariant("123") << QVariant("456");
        QTest::newRow("10 and 4 characters") << "Zelto20plu"
                                             << "1234"
                                             << "4567" << none << none << none;
        QTest::newRow("empty versions") << "Zelto21"
                                        << ""
                                        << "" << QVariant("Zelto21") << none << none;
        // The limits count the bytes handed over, not the characters.
        QTest::newRow("9 characters, 10 bytes") << QString::fromUtf8("Zelto\xc3\xa9"
                                                                     "123")
                                                << QString::fromUtf8("\xc3\xa9"
                                                                     "12")
                                                << QString::fromUtf8("\xc3\xa9"
                                                                     "1")
                                                << none << none
                                                << QVariant(QByteArray("\xc3\xa9"
                                                                       "1"));
        QTest::newRow("8 characters, 9 bytes") << QString::fromUtf8("Zelto\xc3\xa9"
                                                                    "12")
                                               << "1"
                                               << "2"
                                               << QVariant(QByteArray("Zelto\xc3\xa9"
                                                                      "12"))
                                               << QVariant("1") << QVariant("2");
    }

    void connectedDevicePassesItsIdentity()
    {
        QFETCH(QString, model);
        QFETCH(QString, total);
        QFETCH(QString, bootLoader);
        QFETCH(QVariant, name);
        QFETCH(QVariant, image);
        QFETCH(QVariant, iap);
        TestDriver client;
        client.model = model;
        client.total = total;
        client.totalOk = true;
        client.bootLoader = bootLoader;

        JXDaemon::getInstance()->onDeviceConnected(&client);
        QCOMPARE(GHTraceLog::getModelName(), model);
        QCOMPARE(recorded(&GalRecordedModelName).toByteArray(), name.toByteArray());
        QCOMPARE(recorded(&GalRecordedModelName).isValid(), name.isValid());
        QCOMPARE(recorded(&GalRecordedModelIMG).toByteArray(), image.toByteArray());
        QCOMPARE(recorded(&GalRecordedModelIMG).isValid(), image.isValid());
        QCOMPARE(recorded(&GalRecordedModelIAP).toByteArray(), iap.toByteArray());
        QCOMPARE(recorded(&GalRecordedModelIAP).isValid(), iap.isValid());
    }

    void scriptBridgeStaysInert()
    {
        QVERIFY(!PythonCppBridge::getInstance());
        // A volume device reaches the bridge's calls, which are skipped while there is no bridge.
        JXDeviceService* service = new JXFSDeviceService(m_folder.path(), nullptr, QString());
        service->getRegistryInfo()->modelName = QStringLiteral("Zelto99");
        QScopedPointer<JXClient> client(TestClient::create(service));
        JXDaemon::getInstance()->onDeviceConnected(client.data());
        QCOMPARE(recorded(&GalRecordedModelName).toByteArray(), QByteArray("Zelto99"));

        PythonCppBridge::init();
        PythonCppBridge* bridge = PythonCppBridge::getInstance();
        QVERIFY(bridge);
        QVERIFY(!bridge->yield());
        QVERIFY(!bridge->registerCallback(nullptr));
        JXDaemon::getInstance()->onDeviceConnected(client.data());
        PythonCppBridge::cleanup();
        QVERIFY(!PythonCppBridge::getInstance());
        PythonCppBridge::init(); // only the first init makes one
        QVERIFY(!PythonCppBridge::getInstance());
    }

    void disconnectClearsForcedUpdates_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("deviceUpdateKept");
        QTest::newRow("idle") << int(JXClient::State_Idle) << false;
        QTest::newRow("waiting") << int(JXClient::State_WaitForUpdate) << false;
        QTest::newRow("factory restore") << int(JXClient::State_FactoryRestore) << true;
    }

    void disconnectClearsForcedUpdates()
    {
        QFETCH(int, state);
        QFETCH(bool, deviceUpdateKept);
        TestDriver client;
        QVERIFY(client.setStateWithMatch(JXClient::State_Idle, JXClient::State(state)));
        JXEnv* env = JXEnv::getInstance();
        env->setForceJXUpdate(true);
        env->setForceDeviceUpdate(true);
        JXDaemon::getInstance()->onDeviceDisconnected(&client);
        QVERIFY(!env->isForceJXUpdate());
        QCOMPARE(env->isForceDeviceUpdate(), deviceUpdateKept);
        client.setStateWithMatch(JXClient::State(state), JXClient::State_Idle);
    }

    void exportLogWithoutLogsLeavesNothingBehind()
    {
        const QString folder = JXEnv::getInstance()->getUserDataBaseFolder();
        const QString zip = m_folder.path() + QLatin1String("/empty.zip");
        QVERIFY(writeFile(zip, "old"));
        JXDaemon::getInstance()->exportLog(zip);
        QVERIFY(QFileInfo(zip).size() != 3); // the old file is gone
        QCOMPARE(QDir(folder).entryList({"*.txt"}, QDir::Files), QStringList());
        QCOMPARE(QDir::currentPath(), m_appFolder);
    }

    void startRegistersBuiltInRowsOnlyWhenAsked()
    {
        manager()->setManagedDeviceType(JXDeviceManager::DEVICE_TYPE_FIT);
        JXDaemon::getInstance()->start(false);
        QVERIFY(manager()->getRegistryDevices().isEmpty());

        JXDaemon::getInstance()->start(true);
        JXDaemon::getInstance()->start(true);
        const QVector<stRegDevInfo>& rows = manager()->getRegistryDevices();
        QCOMPARE(rows.size(), 20);
        QStringList codes;
        QStringList models;
        for (const stRegDevInfo& row : rows) {
            codes << row.code;
            models << row.modelName;
            QVERIFY(row.factory);
        }
        const QStringList builtInCodes = {"1207", "1206", "1102", "1105", "1104",
                                          "0901", "1103", "1004", "1003", "1101"};
        QCOMPARE(codes, builtInCodes + builtInCodes);
        QCOMPARE(models.mid(0, 10), QStringList({"Zelto21", "Zelto20plus", "Zelto20", "Zelto40", "Zelto50CR", "Zelto50",
                                                 "Hemlar35", "Hemlar30", "Zelto35", "Zelto35"}));
        QCOMPARE(rows.at(0).matchText, QStringLiteral("VEXMOR:zelto:Zelto:TIRNA Device:TIRNA MS:TIRNA"));
        QCOMPARE(rows.at(1).matchText, QStringLiteral("Vexmor:zelto:Zelto:TIRNA Device:TIRNA MS:TIRNA"));
        QCOMPARE(rows.at(3).matchText, QStringLiteral("SAVOLK"));
        QVERIFY(rows.at(2).factory == rows.at(7).factory); // one driver for the heart-rate models
        QVERIFY(rows.at(2).factory != rows.at(8).factory);
    }

    void startAnnouncesDeviceAlreadyPresent()
    {
        // Registered in front of the built-in rows; the stick's UUID starts with its code.
        manager()->registerDevice(testRow(QStringLiteral("Zelto99"), QStringLiteral("ZE01")), true);
        QVERIFY(m_system->addVexmorStick(m_folder.path() + QLatin1String("/stick")));
        QSettings settings(JXEnv::getInstance()->getJXSettingPath(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Zelto99/MinJXVer"), QStringLiteral("9.0.0.0"));
        settings.sync();

        JXDaemon::getInstance()->start(false);
        auto* client = dynamic_cast<TestClient*>(JXDaemon::getInstance()->getClient());
        QVERIFY(client);
        QCOMPARE(recorded(&GalRecordedModelName).toByteArray(), QByteArray("Zelto99"));
        QCOMPARE(GHTraceLog::getModelName(), QStringLiteral("Zelto99"));
        QCOMPARE(client->forceUpdateChecks.load(), 2); // as a listener, and once more after the start
        QVERIFY(JXEnv::getInstance()->isForceJXUpdate());
    }

    void exportLogPacksLogsAndClientData()
    {
        const QString folder = JXEnv::getInstance()->getUserDataBaseFolder();
        QVERIFY(writeFile(folder + QLatin1String("/jx.log"), "library log\n"));
        QVERIFY(writeFile(folder + QLatin1String("/jxuser.log"), "user log\n"));
        QVERIFY(JXDaemon::getInstance()->getClient());
        QDir::setCurrent(m_folder.path());
        const QString zip = QStringLiteral("export.zip"); // relative to the caller's folder
        JXDaemon::getInstance()->exportLog(zip);
        QCOMPARE(QDir::currentPath(), m_appFolder);

        const QString unpacked = m_folder.path() + QLatin1String("/unpacked");
        QVERIFY(QDir().mkpath(unpacked));
        JXZipUtil unzip;
        QVERIFY(unzip.decompress(m_folder.path() + QLatin1String("/export.zip"), unpacked));
        QCOMPARE(QDir(unpacked).entryList(QDir::Files, QDir::Name),
                 QStringList({"Zelto99flash.dat", "jxlog.txt", "jxuserlog.txt"}));
        QFile log(unpacked + QLatin1String("/jxlog.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("library log\n"));
        // The copies are gone, the logs stay.
        QCOMPARE(QDir(folder).entryList({"*.txt", "*.dat"}, QDir::Files), QStringList());
        QVERIFY(QFile::exists(folder + QLatin1String("/jx.log")));
    }
};

QTEST_GUILESS_MAIN(TestJXDaemon)
#include "tst_jxdaemon.moc"
