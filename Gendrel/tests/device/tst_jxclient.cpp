#include <QtTest>

#include <QBuffer>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "compress/lz.h"
#include "device/jxclient.h"
#include "device/jxdeviceimpl.h"
#include "device/jxdevicemanager.h"
#include "jxclienttestdriver.h"
#include "jxdaemon.h"
#include "jxenv.h"
#include "profile/jxprofiledata.h"
#include "psf/gen2/jxpsfmultilangstring_1_5.h"
#include "system/jxscsideviceservice.h"

namespace {

class CountedService : public JXDeviceService
{
public:
    static int alive;
    CountedService() { ++alive; }
    ~CountedService() override { --alive; }
    bool readDeviceUUID(QString&) override { return false; }
    stRegDevInfo* getRegistryInfo() override { return nullptr; }
    int getType() override { return DEVICE_FS; }
};
int CountedService::alive = 0;

// A SCSI channel that keeps what is written to it.
class RecordingScsiService : public JXSCSIDeviceService
{
public:
    QList<QByteArray> commands;
    QByteArray written;
    bool readDeviceUUID(QString&) override { return false; }
    stRegDevInfo* getRegistryInfo() override { return nullptr; }
    int getType() override { return DEVICE_SCSI; }
    bool openClient() override { return true; }
    bool closeClient() override { return true; }
    bool writeClient(const unsigned char* command, unsigned long commandLength, const unsigned char* data,
                     unsigned long dataLength) override
    {
        commands << QByteArray(reinterpret_cast<const char*>(command), int(commandLength));
        written.append(reinterpret_cast<const char*>(data), int(dataLength));
        return true;
    }
    bool readClient(const unsigned char*, unsigned long, unsigned char*, unsigned long) override { return false; }
};

class FactoryDriver : public JXDeviceImpl<FactoryDriver, TestDriver>
{
public:
    static bool ready;
    bool initial() override { return ready; }
};
bool FactoryDriver::ready = false;

QByteArray textRecord(const QString& text, const QString& code)
{
    QByteArray buffer(256, '\0');
    JXPSFMultiLangString_1_5 record(buffer.data(), true);
    record.setString(text, code, false, false);
    buffer.truncate(int(record.getBytesCount()));
    return buffer;
}

// A record whose payload is a compressed 1-bit picture: marker bit and size, signed width, then the stream.
QByteArray compressedRecord(const QByteArray& stream, signed char width)
{
    QByteArray record(12, '\0');
    record[0] = 0x01;
    record[2] = char(stream.size() + 2);
    record[4] = 'e';
    record[5] = 'n';
    record[6] = 'g';
    record.append(char(0x80 | stream.size()));
    record.append(char(width));
    record.append(stream);
    return record;
}

bool ink(const QImage& image, int x, int y)
{
    return qGray(image.pixel(x, y)) < 128;
}

} // namespace

class TestJXClient : public QObject, public JXDeviceManagerListener
{
    Q_OBJECT

public:
    void onDeviceConnected(JXClient*) override {}
    void onDeviceDisconnected(JXClient*) override {}
    void onDeviceEjected(JXClient*) override {}
    void onDeviceActionDone(JXClient* client, int action) override
    {
        record(QStringLiteral("actionDone %1").arg(action));
        m_doneClient = client;
        if (m_onDone)
            m_onDone(action);
    }

private:
    QTemporaryDir m_home;
    QStringList m_events;
    bool m_offMainThread = false;
    JXClient* m_doneClient = reinterpret_cast<JXClient*>(1);
    std::function<void(int)> m_onDone;

    void record(const QString& event)
    {
        if (QThread::currentThread() != thread())
            m_offMainThread = true;
        m_events << event;
    }

    void watch(TestDriver& client)
    {
        connect(&client, &JXClient::updateTotalDone, this, [this] { record(QStringLiteral("updateTotalDone")); });
        connect(&client, &JXClient::updateAPDone, this, [this] { record(QStringLiteral("updateAPDone")); });
        connect(&client, &JXClient::updateBootLoaderDone, this,
                [this] { record(QStringLiteral("updateBootLoaderDone")); });
        connect(&client, &JXClient::importMapDone, this, [this] { record(QStringLiteral("importMapDone")); });
        connect(&client, &JXClient::deleteMapDone, this, [this] { record(QStringLiteral("deleteMapDone")); });
        connect(&client, &JXClient::finalizeDone, this, [this] { record(QStringLiteral("finalizeDone")); });
        connect(&client, &JXClient::readDataDone, this, [this] { record(QStringLiteral("readDataDone")); });
        connect(&client, &JXClient::getShareDataListDone, this, [this](JXClientShareDataList list) {
            record(QStringLiteral("getShareDataListDone ") + list.path + list.param1 + list.param2);
        });
        connect(&client, &JXClient::getShareDataDone, this, [this](JXClientShareData data) {
            record(QStringLiteral("getShareDataDone ") + data.path + data.param1 + data.param2);
        });
        connect(&client, &JXClient::updateComponentDone, this,
                [this] { record(QStringLiteral("updateComponentDone")); });
        connect(&client, &JXClient::batchDone, this,
                [this](JXClientShareData data) { record(QStringLiteral("batchDone ") + data.path); });
    }

    static bool startAction(TestDriver& client, int action)
    {
        switch (action) {
        case 0: return client.updateTotal(QStringLiteral("Total.zip"), QStringLiteral("ENG"));
        case 2: return client.updateAP(QStringLiteral("ap.bin"));
        case 3: return client.updateBootLoader(QStringLiteral("boot.bin"));
        case 4: return client.importMap(nullptr);
        case 5: return client.deleteMap(nullptr);
        case 6: return client.finalize();
        case 7: return client.readData();
        case 8: return client.getShareDataList({QStringLiteral("list.xml"), QStringLiteral("a"), QStringLiteral("b")});
        case 9: return client.getShareData({QStringLiteral("share.zip"), QStringLiteral("c"), QStringLiteral("d")});
        case 10: return client.updateComponent(QStringLiteral("Total.zip"), QString(), QString(), QStringLiteral("1"));
        case 16: return client.batch({QStringLiteral("overview.xml"), QString(), QString()});
        case 17: return client.exportTrack(QStringLiteral("tracks"));
        case 18: return client.makeUploadZip();
        case 19: return client.importDownloadZip(QStringLiteral("down.zip"));
        case 20: return client.readDeviceProfile(QStringLiteral("profile.xml"));
        case 21: return client.writeDeviceProfile(QStringLiteral("profile.xml"));
        case 22: return client.restoreFactory(QStringLiteral("factory"));
        case 23: client.startSilentAction(); return true;
        case 24: return client.mapUpdate(QStringLiteral("map"));
        case 25: return client.updateAlp(QStringLiteral("alp.bin"), 7);
        default: return false;
        }
    }

    QString settingsPath() const { return JXEnv::getInstance()->getJXSettingPath(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        JXEnv::getInstance()->setUserDataBaseFolder(m_home.path());
        // The share-data rows write their relative file names here.
        QVERIFY(QDir::setCurrent(m_home.path()));
        JXDaemon::getInstance()->getDeviceManager()->addListener(this);
    }

    void cleanupTestCase() { QVERIFY(JXDaemon::getInstance()->getDeviceManager()->removeListener(this)); }

    void init()
    {
        m_events.clear();
        m_offMainThread = false;
        m_onDone = nullptr;
        QFile::remove(settingsPath());
    }

    void secondActionIsRefusedAndKeepsFirstArguments()
    {
        QSemaphore gate;
        TestDriver client;
        client.gate = &gate;
        watch(client);

        QVERIFY(client.updateTotal(QStringLiteral("first.zip"), QStringLiteral("ENG")));
        QVERIFY(client.started.tryAcquire(1, 5000));
        QVERIFY(client.isBusy());
        QVERIFY(!client.updateTotal(QStringLiteral("second.zip"), QStringLiteral("GER")));
        QVERIFY(!client.updateAP(QStringLiteral("ap.bin")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Busy when Action_WriteProfile 0$")));
        QVERIFY(!client.writeDeviceProfile(QStringLiteral("profile.xml")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Busy when Action_MakeUploadZip 0$")));
        QVERIFY(!client.makeUploadZip());

        gate.release();
        QTRY_VERIFY(!client.isBusy());
        QCOMPARE(m_events, QStringList({QStringLiteral("updateTotalDone"), QStringLiteral("actionDone 0")}));
        QCOMPARE(client.seenFile, QStringLiteral("first.zip"));
        QCOMPARE(client.seenLang, QStringLiteral("ENG"));
        QCOMPARE(client.runs.load(), 1);
    }

    void completionArrivesOnMainThreadInOrder_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<bool>("error");

        QTest::newRow("0 updateTotal") << 0 << QStringList{"updateTotalDone", "actionDone 0"} << false;
        QTest::newRow("2 updateAP") << 2 << QStringList{"updateAPDone", "actionDone 2"} << false;
        QTest::newRow("3 updateBootLoader") << 3 << QStringList{"updateBootLoaderDone", "actionDone 3"} << false;
        QTest::newRow("4 importMap") << 4 << QStringList{"importMapDone", "actionDone 4"} << false;
        QTest::newRow("5 deleteMap") << 5 << QStringList{"deleteMapDone", "actionDone 5"} << false;
        QTest::newRow("6 finalize") << 6 << QStringList{"finalizeDone", "actionDone 6"} << false;
        QTest::newRow("7 readData") << 7 << QStringList{"readDataDone", "actionDone 7"} << false;
        QTest::newRow("8 getShareDataList")
            << 8 << QStringList{"getShareDataListDone list.xmlab", "actionDone 8"} << false;
        QTest::newRow("9 getShareData") << 9 << QStringList{"getShareDataDone share.zipcd", "actionDone 9"} << true;
        QTest::newRow("10 updateComponent") << 10 << QStringList{"updateComponentDone", "actionDone 10"} << false;
        QTest::newRow("16 batch") << 16 << QStringList{"batchDone overview.xml", "actionDone 16"} << false;
        QTest::newRow("17 exportTrack") << 17 << QStringList{"actionDone 17"} << true;
        QTest::newRow("18 makeUploadZip") << 18 << QStringList{"actionDone 18"} << true;
        QTest::newRow("19 importDownloadZip") << 19 << QStringList{"actionDone 19"} << true;
        QTest::newRow("20 readDeviceProfile") << 20 << QStringList{"actionDone 20"} << true;
        QTest::newRow("21 writeDeviceProfile") << 21 << QStringList{"actionDone 21"} << true;
        QTest::newRow("22 restoreFactory") << 22 << QStringList{"actionDone 22"} << false;
        QTest::newRow("23 silent") << 23 << QStringList{} << true;
        QTest::newRow("24 mapUpdate") << 24 << QStringList{"actionDone 24"} << false;
        QTest::newRow("25 updateAlp") << 25 << QStringList{"actionDone 25"} << false;
    }

    void completionArrivesOnMainThreadInOrder()
    {
        QFETCH(int, action);
        QFETCH(QStringList, events);
        QFETCH(bool, error);

        TestDriver client;
        watch(client);
        m_doneClient = reinterpret_cast<JXClient*>(1);
        QVERIFY(startAction(client, action));
        QTRY_VERIFY(!client.isBusy());
        QCOMPARE(m_events, events);
        QVERIFY(!m_offMainThread);
        QCOMPARE(client.getError(nullptr), error);
        QCOMPARE(client.getState(), JXClient::State_Idle);
        if (!events.isEmpty())
            QCOMPARE(m_doneClient, static_cast<JXClient*>(nullptr)); // no connected device in the manager
    }

    void errorFlagIsNegationOfResult_data()
    {
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("code");
        QTest::newRow("success") << true << 0;
        QTest::newRow("failure with code") << false << 4;
    }

    void errorFlagIsNegationOfResult()
    {
        QFETCH(bool, result);
        QFETCH(int, code);
        TestDriver client;
        client.result = result;
        client.errorCode = code;
        QVERIFY(client.updateTotal(QStringLiteral("Total.zip"), QString()));
        QTRY_VERIFY(!client.isBusy());
        int readCode = -1;
        QCOMPARE(client.getError(&readCode), !result);
        QCOMPARE(readCode, code);
        QVERIFY(client.workerThread != QThread::currentThread());
    }

    void newActionMayStartFromCompletionHandlers()
    {
        TestDriver client;
        watch(client);
        connect(&client, &JXClient::updateTotalDone, this,
                [&client] { QVERIFY(client.updateAP(QStringLiteral("from signal"))); });
        m_onDone = [&client](int action) {
            if (action == JXClient::Action_UpdateAP)
                QVERIFY(client.mapUpdate(QStringLiteral("from listener")));
        };
        QVERIFY(client.updateTotal(QStringLiteral("Total.zip"), QString()));
        QTRY_COMPARE(m_events.size(), 5);
        QCOMPARE(m_events,
                 QStringList({"updateTotalDone", "actionDone 0", "updateAPDone", "actionDone 2", "actionDone 24"}));
        QTRY_VERIFY(!client.isBusy());
        QCOMPARE(client.runs.load(), 3);
        QCOMPARE(client.seenFile, QStringLiteral("from listener"));
    }

    void stateCompareAndSetHasOneWinner()
    {
        TestDriver client;
        const int threadCount = 8;
        for (int round = 0; round < 100; ++round) {
            std::atomic<bool> go{false};
            std::atomic<int> winners{0};
            std::vector<std::thread> threads;
            for (int t = 0; t < threadCount; ++t)
                threads.emplace_back([&] {
                    while (!go.load())
                        std::this_thread::yield();
                    if (client.setStateWithMatch(JXClient::State_Idle, JXClient::State_InService))
                        ++winners;
                });
            go = true;
            for (std::thread& thread : threads)
                thread.join();
            QCOMPARE(winners.load(), 1);
            QCOMPARE(client.getState(), JXClient::State_InService);
            QVERIFY(client.setStateWithMatch(JXClient::State_InService, JXClient::State_Idle));
        }
        QVERIFY(!client.setStateWithoutMatch(JXClient::State_Idle, JXClient::State_FactoryRestore));
        QVERIFY(client.setStateWithoutMatch(JXClient::State_InService, JXClient::State_FactoryRestore));
        QCOMPARE(client.getState(), JXClient::State_FactoryRestore);
    }

    void refusedClaimStillCompletes()
    {
        TestDriver client;
        watch(client);
        QVERIFY(client.setStateWithMatch(JXClient::State_Idle, JXClient::State_InService));
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression(QStringLiteral("JXClient::run\\(\\) : device is busy in action= 0$")));
        QVERIFY(client.updateTotal(QStringLiteral("Total.zip"), QString()));
        QTRY_VERIFY(!client.isBusy());
        QCOMPARE(m_events, QStringList({"updateTotalDone", "actionDone 0"}));
        QVERIFY(client.getError(nullptr));
        QCOMPARE(client.runs.load(), 0);
        QCOMPARE(client.getState(), JXClient::State_InService);
    }

    void waitingStateRunsWithoutEvents()
    {
        TestDriver client;
        watch(client);
        QVERIFY(client.setStateWithMatch(JXClient::State_Idle, JXClient::State_WaitForRestore));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("reset in service failed, action= 0$")));
        QVERIFY(client.updateTotal(QStringLiteral("Total.zip"), QString()));
        QTRY_VERIFY(!client.isBusy());
        QCOMPARE(client.runs.load(), 1);
        QCOMPARE(client.getState(), JXClient::State_WaitForRestore);
        QCOMPARE(m_events, QStringList());
    }

    void progressDuringAndAfterAction()
    {
        TestDriver client;
        QCOMPARE(client.getTaskProgress(), -1.0f);
        QVERIFY(client.readData());
        QTRY_VERIFY(!client.isBusy());
        QCOMPARE(client.progressSeen, 0.0f);
        QCOMPARE(client.getTaskProgress(), -1.0f);
    }

    void restoreFactoryClearsForceFlagEvenWhenBusy()
    {
        QSemaphore gate;
        TestDriver client;
        client.gate = &gate;
        QVERIFY(client.readData());
        JXEnv::getInstance()->setForceDeviceUpdate(true);
        QVERIFY(!client.restoreFactory(QStringLiteral("factory")));
        QVERIFY(!JXEnv::getInstance()->isForceDeviceUpdate());
        gate.release();
        QTRY_VERIFY(!client.isBusy());
    }

    void componentArgumentsAndClear()
    {
        TestDriver client;
        QVERIFY(client.updateComponent(QStringLiteral("Total.zip"), QString(), QString(), QStringLiteral("1")));
        QTRY_VERIFY(!client.isBusy());
        QCOMPARE(client.seenComponent.packageFile, QStringLiteral("Total.zip"));
        QCOMPARE(client.seenComponent.version, QStringLiteral("1"));
        QVERIFY(client.seenComponent.model.isEmpty());
        QVERIFY(client.seenComponent.component.isEmpty());

        JXClientCompUpdateInfo info{QStringLiteral("a"), QString(""), QStringLiteral("c"), QStringLiteral("d")};
        info.clear();
        QVERIFY(info.model.isNull() && info.version.isNull() && info.component.isNull() && info.packageFile.isNull());
    }

    void defaultOperations()
    {
        TestDriver client;
        QString text = QStringLiteral("unchanged");
        QVERIFY(client.initial());
        QCOMPARE(client.getServiceType(), -1);
        QCOMPARE(client.getDeviceType(), 1);
        QVERIFY(client.JXClient::getBootloader(text));
        QCOMPARE(text, QStringLiteral("unchanged"));
        QVERIFY(!client.JXClient::getTotal(text));
        client.total = QStringLiteral("1.2");
        client.totalOk = true;
        QVERIFY(client.getOS(text)); // follows getTotal
        QCOMPARE(text, QStringLiteral("1.2"));
        QVERIFY(!client.getDrive(text));
        QVERIFY(!client.eject());
        QVERIFY(client.isExist());
        QCOMPARE(client.GetComponentVersion(QStringLiteral("CYCLEROAD")), QStringLiteral("not support"));
        QCOMPARE(client.SimualteFinalize(), 1);
        QCOMPARE(client.getRestoreFactorySteps(), 1);
        QCOMPARE(client.getMainActiveType(), 0);
        QCOMPARE(client.getAlpExpiredDate(), 0u);
        QVERIFY(client.setBatchAction(JXClient::Action_BatchDevice));
        QCOMPARE(client.getImageMetaInfo(QString()).name, QString());
        QCOMPARE(client.getImageMetaInfo(QString()).size, 0);
        QVERIFY(client.getMutex() != nullptr);

        QStringList versions;
        client.ap = QStringLiteral("3.0");
        client.getVersions(versions);
        QCOMPARE(versions, QStringList({"1.2", "3.0"}));

        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("call ProjSwCapability failed$")));
        QCOMPARE(client.getCapability(), QString());
    }

    void settingsSwitches_data()
    {
        QTest::addColumn<bool>("nameOk");
        QTest::addColumn<QVariant>("value"); // invalid: no key
        QTest::addColumn<bool>("filter");
        QTest::addColumn<bool>("dontCheck");

        QTest::newRow("no key") << true << QVariant() << true << false;
        QTest::newRow("0") << true << QVariant("0") << false << false;
        QTest::newRow("1") << true << QVariant("1") << true << true;
        QTest::newRow("empty") << true << QVariant("") << true << true;
        QTest::newRow("name fails") << false << QVariant("0") << true << false;
    }

    void settingsSwitches()
    {
        QFETCH(bool, nameOk);
        QFETCH(QVariant, value);
        QFETCH(bool, filter);
        QFETCH(bool, dontCheck);
        {
            QSettings settings(settingsPath(), QSettings::IniFormat);
            settings.beginGroup(QStringLiteral("Zelto99"));
            if (value.isValid()) {
                settings.setValue(QStringLiteral("psflanguagefilter"), value);
                settings.setValue(QStringLiteral("dontcheckuploaded"), value);
            }
            settings.setValue(QStringLiteral("MinJXVer"), QStringLiteral("2.9"));
        }
        TestDriver client;
        client.nameOk = nameOk;
        QCOMPARE(client.isSupportImportPSFLanguageFilter(), filter);
        QCOMPARE(client.isDontCheckUploaded(), dontCheck);
        // The required version looks at the model text, not at the result.
        QCOMPARE(client.getRequiredJX(), QStringLiteral("2.9"));
        client.model.clear();
        QCOMPARE(client.getRequiredJX(), QString());
    }

    void modifyForceUpdateInfo_data()
    {
        QTest::addColumn<bool>("nameOk");
        QTest::addColumn<QString>("total");
        QTest::addColumn<QString>("bootLoader");
        QTest::addColumn<QString>("ap");
        QTest::addColumn<QStringList>("minimums"); // MinImgVer, MinIapVer, MinApVer, MinJXVer
        QTest::addColumn<bool>("forceDevice");
        QTest::addColumn<bool>("forceJX");

        QTest::newRow("nothing required") << true << "1.0"
                                          << "1"
                                          << "1.0" << QStringList{"", "", "", ""} << false << false;
        QTest::newRow("image below") << true << "1.5"
                                     << "1"
                                     << "1.0" << QStringList{"1.6", "", "", ""} << true << false;
        QTest::newRow("image as text") << true << "10.0"
                                       << "1"
                                       << "1.0" << QStringList{"9.0", "", "", ""} << true << false;
        QTest::newRow("image at minimum") << true << "1.6"
                                          << "1"
                                          << "1.0" << QStringList{"1.6", "", "", ""} << false << false;
        QTest::newRow("boot loader below") << true << "1.6"
                                           << "2"
                                           << "1.0" << QStringList{"", "3", "", ""} << true << false;
        QTest::newRow("empty boot loader") << true << "1.6"
                                           << ""
                                           << "1.0" << QStringList{"", "3", "", ""} << false << false;
        QTest::newRow("ap below") << true << "1.6"
                                  << "2"
                                  << "1.0" << QStringList{"", "", "1.1", ""} << true << false;
        QTest::newRow("empty ap") << true << "1.6"
                                  << "2"
                                  << "" << QStringList{"", "", "1.1", ""} << false << false;
        QTest::newRow("companion older") << true << "1.6"
                                         << "2"
                                         << "1.0" << QStringList{"", "", "", "2.9.0.1"} << false << true;
        QTest::newRow("companion parts as numbers") << true << "1.6"
                                                    << "2"
                                                    << "1.0" << QStringList{"", "", "", "2.8.0.100"} << false << true;
        QTest::newRow("companion newer") << true << "1.6"
                                         << "2"
                                         << "1.0" << QStringList{"", "", "", "2.8.0.98"} << false << false;
        QTest::newRow("companion three parts") << true << "1.6"
                                               << "2"
                                               << "1.0" << QStringList{"", "", "", "2.9.0"} << false << false;
        QTest::newRow("name fails") << false << "1.5"
                                    << "1"
                                    << "1.0" << QStringList{"1.6", "", "", "2.9.0.1"} << false << false;
    }

    void modifyForceUpdateInfo()
    {
        QFETCH(bool, nameOk);
        QFETCH(QString, total);
        QFETCH(QString, bootLoader);
        QFETCH(QString, ap);
        QFETCH(QStringList, minimums);
        QFETCH(bool, forceDevice);
        QFETCH(bool, forceJX);
        {
            QSettings settings(settingsPath(), QSettings::IniFormat);
            settings.beginGroup(QStringLiteral("Zelto99"));
            const QStringList keys{"MinImgVer", "MinIapVer", "MinApVer", "MinJXVer"};
            for (int i = 0; i < keys.size(); ++i)
                if (!minimums.at(i).isEmpty())
                    settings.setValue(keys.at(i), minimums.at(i));
        }
        JXEnv* env = JXEnv::getInstance();
        env->setForceDeviceUpdate(false);
        env->setForceJXUpdate(false);
        TestDriver client;
        client.nameOk = nameOk;
        client.total = total;
        client.bootLoader = bootLoader;
        client.ap = ap;
        client.modifyForceUpdateInfo(env);
        QCOMPARE(env->isForceDeviceUpdate(), forceDevice);
        QCOMPARE(env->isForceJXUpdate(), forceJX);
        env->setForceDeviceUpdate(false);
        env->setForceJXUpdate(false);
    }

    void flashWritersHandImageToScsiService()
    {
        TestDriver client;
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression(QStringLiteral("can not open file: .*/ZeltoExData.bin")));
        QVERIFY(!client.writeExternalFlash(m_home.path(), QStringLiteral("Zelto"), 15, 4096));
        QVERIFY(client.getError(nullptr));

        const QByteArray image = QByteArray(2 * 4096, '\x5A') + QByteArray(100, '\x11');
        QFile file(m_home.path() + QStringLiteral("/Zelto.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(image);
        file.close();
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("no raw flash service")));
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression(QStringLiteral("fail to write internal flash for  \"Zelto\"$")));
        QVERIFY(!client.writeInternalFlash(m_home.path(), QStringLiteral("Zelto"), 15, 4096));

        FactoryDriver::ready = true;
        auto* service = new RecordingScsiService;
        QScopedPointer<JXClient> scsiClient(FactoryDriver::create(service));
        QVERIFY(scsiClient->writeInternalFlash(m_home.path(), QStringLiteral("Zelto"), 15, 4096));
        QCOMPARE(service->commands.size(), 3);
        QCOMPARE(int(service->commands.at(2).at(6)), 15);
        QCOMPARE(service->written.left(image.size()), image);
        QCOMPARE(service->written.mid(image.size()), QByteArray(4096 - 100, '\xFF'));
    }

    void exportDataListsOnlyWrittenFile()
    {
        TestDriver client;
        QStringList files{QStringLiteral("jxlog.txt")};
        client.exportData(m_home.path(), files);
        QCOMPARE(files, QStringList({"jxlog.txt"}));
        client.writeFlashFile = true;
        client.exportData(m_home.path(), files);
        QCOMPARE(files, QStringList({"jxlog.txt", "Zelto99flash.dat"}));
        QVERIFY(QFile::exists(m_home.path() + QStringLiteral("/Zelto99flash.dat")));
    }

    void bitmapNameRecordOnEveryThread()
    {
        TestDriver client;
        const QByteArray direct = client.toPsfBitfont(QStringLiteral("Cafe"), QStringLiteral("eng"), true, false, true);
        QCOMPARE(direct.size(), 12 + 256);
        QCOMPARE(quint8(direct.at(0)), quint8(0x02)); // has next, not compressed
        QCOMPARE(direct.mid(4, 3), QByteArray("eng"));
        QCOMPARE(qFromLittleEndian<quint16>(direct.constData() + 8), quint16(128));
        QCOMPARE(qFromLittleEndian<quint16>(direct.constData() + 10), quint16(16));
        QVERIFY(direct.mid(12).count('\0') < 256); // some ink

        // Through the creator from its own thread: painted at once instead of waiting on itself.
        QCOMPARE(client.toPsfBitfont(QStringLiteral("Cafe"), QStringLiteral("eng"), true, false, false), direct);

        // From the worker: painted on the main thread while the worker waits.
        client.renderOnWorker = true;
        QVERIFY(client.readData());
        QTRY_VERIFY(!client.isBusy());
        QCOMPARE(client.rendered, direct);
    }

    void nameRecordsReadBack()
    {
        TestDriver client;
        QString code;
        QCOMPARE(client.toTextString(textRecord(QStringLiteral("Home"), QStringLiteral("deu")), code),
                 QStringLiteral("Home"));
        QCOMPARE(code, QStringLiteral("deu"));

        const QByteArray record =
            client.toPsfBitfont(QStringLiteral("Cafe"), QStringLiteral("fra"), false, false, true);
        const QImage picture = QImage::fromData(client.toPngString(record, code), "PNG");
        QCOMPARE(code, QStringLiteral("fra"));
        QCOMPARE(picture.size(), QSize(128, 16));
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 128; ++x) {
                const bool bit = (quint8(record.at(12 + y * 16 + x / 8)) >> (7 - x % 8)) & 1;
                QCOMPARE(ink(picture, x, y), bit);
            }
    }

    void compressedPictureRecord()
    {
        QByteArray rows(2 * 16, '\0');
        for (int y = 0; y < 16; ++y)
            rows[y * 2 + y / 8] = char(0x80 >> (y % 8)); // a diagonal
        QByteArray stream(int(LZ_CompressBound(unsigned(rows.size()))), '\0');
        const int streamSize = LZ_Compress(reinterpret_cast<const unsigned char*>(rows.constData()),
                                           reinterpret_cast<unsigned char*>(stream.data()), unsigned(rows.size()));
        QVERIFY(streamSize > 0 && streamSize < 128);
        stream.truncate(streamSize);

        TestDriver client;
        QString code;
        const QImage picture = QImage::fromData(client.toPngString(compressedRecord(stream, 16), code), "PNG");
        QCOMPARE(picture.size(), QSize(16, 16));
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                QCOMPARE(ink(picture, x, y), x == y);
    }

    void malformedNameRecords_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("sizeRejected");
        QByteArray cut(12, '\0');
        cut[2] = 20;
        cut.append("Home");
        QTest::newRow("empty") << QByteArray() << "name record too short" << true;
        QTest::newRow("head cut") << QByteArray(11, '\0') << "name record too short" << true;
        QTest::newRow("payload cut") << cut << "name record cut off" << true;
        // A copy that reaches before the start of the output.
        QTest::newRow("corrupt stream") << compressedRecord(QByteArray("\x01\x01\x04\x05", 4), 16)
                                        << "corrupt compressed name picture" << false;
        QTest::newRow("negative width") << compressedRecord(QByteArray("\x01\x41", 2), -3) << "" << false;
    }

    void malformedNameRecords()
    {
        QFETCH(QByteArray, record);
        QFETCH(QString, message);
        QFETCH(bool, sizeRejected);
        TestDriver client;
        QString code;
        if (!message.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(message));
        QVERIFY(client.toPngString(record, code).isEmpty());
        if (sizeRejected) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(message));
            QCOMPARE(client.toTextString(record, code), QString());
        }
    }

    void writeProfileReadsXmlFile_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<QStringList>("entries"); // key=value

        QTest::newRow("nested and odd elements")
            << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<settings><property name=\"User Name\" "
                          "value=\"Ann &amp; Bo\"/><group><property name=\"User MHR\" value=\"180\"/></group>"
                          "<Property name=\"Ignored\" value=\"x\"/><property name=\"No Value\"/>"
                          "<property name=\"User MHR\" value=\"181\"/></settings>\n")
            << true << QStringList{"No Value=", "User MHR=181", "User Name=Ann & Bo"};
        QTest::newRow("root is a property")
            << QByteArray("<property name=\"A\" value=\"1\"/>") << true << QStringList{"A=1"};
        // The driver would rewrite the device's profile from a partial or empty map.
        QTest::newRow("cut off") << QByteArray("<settings><property name=\"A\" value=\"1\"/><property name=\"B\" "
                                               "value=\"2\"/><property na")
                                 << false << QStringList{};
        QTest::newRow("no file") << QByteArray() << false << QStringList{};
    }

    void writeProfileReadsXmlFile()
    {
        QFETCH(QByteArray, xml);
        QFETCH(bool, sent);
        QFETCH(QStringList, entries);
        const QString path = m_home.path() + QStringLiteral("/profile.xml");
        QFile::remove(path);
        if (!xml.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(xml);
        }
        TestDriver client;
        const QMap<QString, QString> untouched{{QStringLiteral("not sent"), QStringLiteral("1")}};
        client.savedProfile = untouched;
        if (!sent)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("profile.xml")));
        QVERIFY(client.writeDeviceProfile(path));
        QTRY_VERIFY(!client.isBusy());
        QVERIFY(client.getError(nullptr)); // the data actions report through their results
        if (!sent) {
            QCOMPARE(client.savedProfile, untouched);
            return;
        }
        QStringList read;
        for (auto it = client.savedProfile.constBegin(); it != client.savedProfile.constEnd(); ++it)
            read << it.key() + QLatin1Char('=') + it.value();
        QCOMPARE(read, entries);
    }

    void profileFormatWithoutReader()
    {
        QByteArray raw(4096, '\0');
        JXProfileData profile(raw, ProfileFormat::type(5));
        profile.setData({{QStringLiteral("User Sex"), QStringLiteral("1")}});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("no reader for this profile format")));
        QVERIFY(!profile.readAll());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("no reader for this profile format")));
        QVERIFY(!profile.save());
        QCOMPARE(profile.getRawData(), raw);
        QCOMPARE(profile.getData().size(), 1);
    }

    void factoryGivesServiceToReadyDriver()
    {
        FactoryDriver::ready = false;
        QCOMPARE(FactoryDriver::create(new CountedService), static_cast<JXClient*>(nullptr));
        QCOMPARE(CountedService::alive, 0);

        FactoryDriver::ready = true;
        CountedService* first = new CountedService;
        JXClient* client = FactoryDriver::create(first);
        QVERIFY(client);
        QCOMPARE(client->getServiceType(), int(JXDeviceService::DEVICE_FS));
        auto* driver = static_cast<FactoryDriver*>(client);
        QCOMPARE(static_cast<JXDeviceService*>(first), driver->getDeviceService());
        driver->setDeviceService(first);
        QCOMPARE(CountedService::alive, 1);
        driver->setDeviceService(new CountedService);
        QCOMPARE(CountedService::alive, 1);
        delete client;
        QCOMPARE(CountedService::alive, 0);
    }
};

// Qt 5.15's offscreen platform never frees what it makes for its screen. The full allocation stacks let the
// suppression name that one place, so that no leak of ours can hide behind it.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:QGuiApplicationPrivate::createPlatformIntegration\n";
}

QTEST_MAIN(TestJXClient)

#include "tst_jxclient.moc"
