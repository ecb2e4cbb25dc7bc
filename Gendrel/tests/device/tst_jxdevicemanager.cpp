#include <QtTest>

#include <QPointer>

#include "device/jxclient.h"
#include "device/jxdevicemanager.h"
#include "jxtestdevice.h"

// The device manager driven as its detector drives it: plug-in, unplug and eject reports with hand-made services.
class TestJXDeviceManager : public QObject
{
    Q_OBJECT

    static JXDeviceService* volume(const QString& model, const QString& uuid = QStringLiteral("ZE01000000000001"))
    {
        return new TestService(JXDeviceService::DEVICE_FS, uuid, testRow(model));
    }
    static JXDeviceService* rawFlash(const QString& model, const QString& uuid)
    {
        return new TestService(JXDeviceService::DEVICE_SCSI, uuid, testRow(model));
    }

private slots:
    void cleanup()
    {
        QCOMPARE(TestClient::live.load(), 0);
        QCOMPARE(TestService::live.load(), 0);
    }

    void registryKeepsOrderAndRemovesFirstMatchOnly()
    {
        JXDeviceManager manager;
        QCOMPARE(manager.getManagedDeviceType(), JXDeviceManager::DEVICE_TYPE_PSF | JXDeviceManager::DEVICE_TYPE_GAL);
        stRegDevInfo first = testRow(QStringLiteral("First"), QStringLiteral("0001"));
        stRegDevInfo second = testRow(QStringLiteral("Second"), QStringLiteral("0002"));
        stRegDevInfo front = testRow(QStringLiteral("Front"), QStringLiteral("0003"));
        front.matchText = QStringLiteral("SAVOLK");
        manager.registerDevice(first, false);
        manager.registerDevice(second, false);
        manager.registerDevice(front, true);

        manager.unregisterDevice(QString::fromLatin1(testMatchText()).toLower()); // case counts: nothing removed
        QCOMPARE(manager.getRegistryDevices().size(), 3);
        manager.unregisterDevice(QString::fromLatin1(testMatchText()));
        QStringList models;
        for (const stRegDevInfo& row : manager.getRegistryDevices())
            models << row.modelName;
        QCOMPARE(models, QStringList({"Front", "Second"}));
    }

    void plugInConnectsAndTellsListenersInOrder()
    {
        JXDeviceManager manager;
        QStringList order;
        DeviceEventRecorder daemon(QStringLiteral("daemon"), &order);
        DeviceEventRecorder controller(QStringLiteral("controller"), &order);
        manager.addListener(&daemon);
        manager.addListener(&controller);
        manager.addListener(&daemon); // once only

        manager.onDevicePlugin(volume(QStringLiteral("Zelto99")));
        JXClient* client = manager.getConnectedDevice();
        QVERIFY(client);
        QCOMPARE(order, QStringList({"daemon:connected", "controller:connected"}));
        QCOMPARE(daemon.events.first().client, client);
        QVERIFY(daemon.events.first().onMainThread);
        QString model;
        client->getName(model);
        QCOMPARE(model, QStringLiteral("Zelto99"));

        QVERIFY(manager.removeListener(&daemon));
        QVERIFY(!manager.removeListener(&daemon));
        manager.onDeviceEjected();
        QCOMPARE(order.last(), QStringLiteral("controller:ejected"));
        QCOMPARE(controller.events.last().client, client);
        QCOMPARE(manager.getConnectedDevice(), client); // an eject report changes nothing else
    }

    void secondPlugInWhileConnectedIsIgnored_data()
    {
        QTest::addColumn<int>("state");
        QTest::newRow("idle") << int(JXClient::State_Idle);
        QTest::newRow("in service") << int(JXClient::State_InService);
    }

    void secondPlugInWhileConnectedIsIgnored()
    {
        QFETCH(int, state);
        JXDeviceManager manager;
        DeviceEventRecorder listener;
        manager.addListener(&listener);
        manager.onDevicePlugin(volume(QStringLiteral("Zelto99")));
        JXClient* client = manager.getConnectedDevice();
        QVERIFY(client->setStateWithMatch(JXClient::State_Idle, JXClient::State(state)));

        manager.onDevicePlugin(volume(QStringLiteral("Other"), QStringLiteral("OT01000000000001")));
        manager.onDevicePlugin(rawFlash(QStringLiteral("Raw"), QStringLiteral("RA01")));
        QCOMPARE(manager.getConnectedDevice(), client);
        QCOMPARE(listener.names(), QStringList({"connected"}));
        QCOMPARE(TestClient::live.load(), 1);
        QCOMPARE(TestService::live.load(), 1); // only the connected client's
        client->setStateWithMatch(JXClient::State(state), JXClient::State_Idle);
    }

    void factoryWithoutClientLeavesManagerEmpty()
    {
        JXDeviceManager manager;
        DeviceEventRecorder listener;
        manager.addListener(&listener);
        manager.onDevicePlugin(volume(QStringLiteral("NotReady")));
        stRegDevInfo noFactory = testRow(QStringLiteral("Zelto99"));
        noFactory.factory = nullptr;
        manager.onDevicePlugin(new TestService(JXDeviceService::DEVICE_FS, QString(), noFactory));
        QVERIFY(!manager.getConnectedDevice());
        QVERIFY(listener.events.isEmpty());
    }

    void unplugRetiresClientUntilNextChange()
    {
        JXDeviceManager manager;
        DeviceEventRecorder listener;
        manager.addListener(&listener);
        manager.onDeviceUnplugin(); // no client: nothing
        QVERIFY(listener.events.isEmpty());

        manager.onDevicePlugin(volume(QStringLiteral("Zelto99")));
        QPointer<JXClient> first = manager.getConnectedDevice();
        manager.onDeviceUnplugin();
        QCOMPARE(listener.names(), QStringList({"connected", "disconnected"}));
        QCOMPARE(listener.events.last().client, first.data());
        QVERIFY(!manager.getConnectedDevice());
        QVERIFY(first); // listeners may still use it

        // Another model may come back at once.
        manager.onDevicePlugin(volume(QStringLiteral("Zelto50"), QStringLiteral("ZE02000000000002")));
        QPointer<JXClient> second = manager.getConnectedDevice();
        QVERIFY(second);
        QVERIFY(first); // still the previous client
        manager.onDeviceUnplugin();
        QVERIFY(!first); // deleted when the next client was retired
        QVERIFY(second);
    }

    void replugWithinFiveSecondsIsRefusedForTwoModels_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<bool>("connects");
        QTest::newRow("Zelto21") << QStringLiteral("Zelto21") << false;
        QTest::newRow("Zelto20plus") << QStringLiteral("Zelto20plus") << false;
        QTest::newRow("other model") << QStringLiteral("Zelto20") << true;
        QTest::newRow("case counts") << QStringLiteral("zelto21") << true;
    }

    void replugWithinFiveSecondsIsRefusedForTwoModels()
    {
        QFETCH(QString, model);
        QFETCH(bool, connects);
        JXDeviceManager manager;
        DeviceEventRecorder listener;
        manager.addListener(&listener);

        // Never unplugged before: any model connects.
        manager.onDevicePlugin(volume(model));
        QVERIFY(manager.getConnectedDevice());
        manager.onDeviceUnplugin();
        listener.events.clear();

        manager.onDevicePlugin(volume(model));
        QCOMPARE(manager.getConnectedDevice() != nullptr, connects);
        QCOMPARE(listener.names(), connects ? QStringList({"connected"}) : QStringList());
        QCOMPARE(TestClient::live.load(), connects ? 2 : 1); // the refused client is gone, the retired one kept
    }

    void waitingClientIgnoresUnplugAndVolumes()
    {
        JXDeviceManager manager;
        DeviceEventRecorder listener;
        manager.addListener(&listener);
        manager.onDevicePlugin(volume(QStringLiteral("Zelto21")));
        JXClient* client = manager.getConnectedDevice();
        QVERIFY(client->setStateWithMatch(JXClient::State_Idle, JXClient::State_WaitForUpdate));

        manager.onDeviceUnplugin();
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("find device service DEVICE_FS for software update"));
        manager.onDevicePlugin(volume(QStringLiteral("Zelto21")));
        QCOMPARE(manager.getConnectedDevice(), client);
        QCOMPARE(listener.names(), QStringList({"connected"}));
        QCOMPARE(TestService::live.load(), 1);
        QVERIFY(client->setStateWithMatch(JXClient::State_WaitForUpdate, JXClient::State_Idle));
    }

    void waitingClientResumesWithItsReturningDevice_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("resumed");
        QTest::newRow("update") << int(JXClient::State_WaitForUpdate) << QStringLiteral("updateTotal(,)");
        QTest::newRow("factory restore") << int(JXClient::State_WaitForRestore) << QStringLiteral("restoreFactory()");
    }

    void waitingClientResumesWithItsReturningDevice()
    {
        QFETCH(int, state);
        QFETCH(QString, resumed);
        JXDeviceManager manager;
        DeviceEventRecorder listener;
        manager.addListener(&listener);
        const QString uuid = QStringLiteral("ZE21000000000009");
        manager.onDevicePlugin(volume(QStringLiteral("Zelto21"), uuid));
        auto* client = static_cast<TestClient*>(manager.getConnectedDevice());
        QVERIFY(client->setStateWithMatch(JXClient::State_Idle, JXClient::State(state)));

        manager.onDevicePlugin(rawFlash(QStringLiteral("Zelto21"), uuid));
        // finished() is emitted on the client's thread: a spy on it would record there while this thread reads.
        QVERIFY(client->wait(5000));
        QCOMPARE(client->resumedActions(), QStringList({resumed}));
        QCOMPARE(client->getServiceType(), int(JXDeviceService::DEVICE_SCSI)); // the client now holds it
        QCOMPARE(manager.getConnectedDevice(), client);
        QCOMPARE(listener.names(), QStringList({"connected"}));
        QCOMPARE(TestService::live.load(), 1);
    }

    void waitingClientIsReplacedByAnotherRawFlashDevice()
    {
        JXDeviceManager manager;
        DeviceEventRecorder listener;
        manager.addListener(&listener);
        manager.onDevicePlugin(volume(QStringLiteral("Zelto21"), QStringLiteral("ZE21000000000009")));
        QPointer<JXClient> waiting = manager.getConnectedDevice();
        QVERIFY(waiting->setStateWithMatch(JXClient::State_Idle, JXClient::State_WaitForUpdate));

        manager.onDevicePlugin(rawFlash(QStringLiteral("Zelto40"), QStringLiteral("ZE40000000000001")));
        JXClient* replacement = manager.getConnectedDevice();
        QVERIFY(replacement && replacement != waiting);
        QCOMPARE(listener.names(), QStringList({"connected", "connected"})); // no disconnect in between
        QVERIFY(waiting);                                                    // retired, not deleted
        QVERIFY(static_cast<TestClient*>(waiting.data())->resumedActions().isEmpty());
        waiting->setStateWithMatch(JXClient::State_WaitForUpdate, JXClient::State_Idle);
    }

    void actionDoneGoesOutWithTheCurrentClientOrNull()
    {
        JXDeviceManager manager;
        DeviceEventRecorder listener;
        manager.addListener(&listener);
        manager.dispatchActionDoneEvent(25);
        QCOMPARE(listener.events.size(), 1);
        QCOMPARE(listener.events.last().client, nullptr);
        QCOMPARE(listener.events.last().action, 25);

        manager.onDevicePlugin(volume(QStringLiteral("Zelto99")));
        manager.dispatchActionDoneEvent(0);
        QCOMPARE(listener.events.last().name, QStringLiteral("actionDone"));
        QCOMPARE(listener.events.last().client, manager.getConnectedDevice());
        QCOMPARE(listener.events.last().action, 0);
    }

    void listenerAddedDuringEventIsCalledInTheSameDispatch()
    {
        JXDeviceManager manager;
        QStringList order;
        DeviceEventRecorder first(QStringLiteral("first"), &order);
        DeviceEventRecorder late(QStringLiteral("late"), &order);
        first.onEvent = [&](const DeviceEventRecorder::Event&) { manager.addListener(&late); };
        manager.addListener(&first);
        manager.onDevicePlugin(volume(QStringLiteral("Zelto99")));
        QCOMPARE(order, QStringList({"first:connected", "late:connected"}));
        manager.dispatchActionDoneEvent(2);
        QCOMPARE(order.mid(2), QStringList({"first:actionDone", "late:actionDone"}));
    }

    void disconnectDeviceTellsListenersAndRetires()
    {
        JXDeviceManager manager;
        DeviceEventRecorder listener;
        manager.addListener(&listener);
        QVERIFY(!manager.disconnectDevice());
        QVERIFY(!manager.ejectConnectedDevice());

        manager.onDevicePlugin(rawFlash(QStringLiteral("Zelto40"), QStringLiteral("ZE40000000000001")));
        QPointer<JXClient> client = manager.getConnectedDevice();
        QVERIFY(manager.disconnectDevice());
        QCOMPARE(listener.names(), QStringList({"connected", "disconnected"}));
        QVERIFY(!manager.getConnectedDevice());
        QVERIFY(client);
    }
};

QTEST_GUILESS_MAIN(TestJXDeviceManager)
#include "tst_jxdevicemanager.moc"
