#include <QtTest>

#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>

#include "device/jxdeviceimpl.h"
#include "device/zelto30/jxzelto30.h"
#include "jxenv.h"
#include "jxsimulatedflashbed.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "jxtestfiles.h"
#include "jxtestpackage.h"
#include "jxvirtualclock.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

namespace {

const int kFlashSize = 0x100000;
const int kAreaFirmware = 0x0A;
const int kAreaInternalWrite = 0x0C;
const int kAreaErase = 0x0E;
const int kAreaExternalWrite = 0x0F;

// A first-generation client whose device answers isExist as a test says: absent for the first absentAnswers
// questions (every one when negative). While it waits for the device, it records whether the client counted as
// busy to everyone else.
class IapClient : public JXDeviceImpl<IapClient, JXZelto30>
{
public:
    int absentAnswers = 0;
    int existQuestions = 0;
    bool busyWhileWaiting = true;

    bool isExist() override
    {
        ++existQuestions;
        // An entry operation must be refused here; claiming it would start the worker thread.
        busyWhileWaiting = busyWhileWaiting && getState() == State_InService && !JXClient::readData();
        if (absentAnswers < 0)
            return false;
        if (absentAnswers > 0) {
            --absentAnswers;
            return false;
        }
        return true;
    }
    bool runRestore(const QString& folder) { return _restoreFactory(folder); }
    void setPendingAction(ClientAction action) { m_action = action; }
    int pendingAction() const { return m_action.load(); }
};

int area(const JXSimulatedFlashDevice::Command& command)
{
    return command.record.command[6];
}

// The areas written, each once, in the order they were first written.
QList<int> writtenAreas(const QVector<JXSimulatedFlashDevice::Command>& log)
{
    QList<int> areas;
    for (const JXSimulatedFlashDevice::Command& command : log) {
        if (command.record.command[0] == 0x2A && !areas.contains(area(command)))
            areas.append(area(command));
    }
    return areas;
}

// The bytes sent to an area, blocks in order.
QByteArray bytesTo(const QVector<JXSimulatedFlashDevice::Command>& log, int target)
{
    QByteArray bytes;
    for (const JXSimulatedFlashDevice::Command& command : log) {
        if (command.record.command[0] == 0x2A && area(command) == target)
            bytes += command.block.left(command.record.command[8] * 512);
    }
    return bytes;
}

QByteArray padded(const QByteArray& bytes, int blockSize, char fill)
{
    const int size = (bytes.size() + blockSize - 1) / blockSize * blockSize;
    return bytes + QByteArray(size - bytes.size(), fill);
}

} // namespace

// The firmware update in IAP mode and the factory restore of the first-generation client, against the simulated
// flash device and the virtual clock.
class TestJXZelto30Update : public QObject
{
    Q_OBJECT

    JXSimulatedFlashBed m_bed;

    std::unique_ptr<IapClient> makeClient()
    {
        auto* service =
            JXSimulatedFlashBed::service(QStringLiteral("1003"), QStringLiteral("Zelto30"), QStringLiteral("FENDIR"));
        std::unique_ptr<IapClient> client(static_cast<IapClient*>(IapClient::create(service)));
        m_bed.flash()->clearCommands();
        return client;
    }

    QString writePackage(const JXTestPackage::Entries& entries)
    {
        const QString path = m_bed.folder()->path() + QLatin1String("/iap.zip");
        JXTestFiles::writeFile(path, JXTestPackage::zipBytes(entries));
        return path;
    }

private slots:
    void init()
    {
        QVERIFY(m_bed.setUp(kFlashSize));
        JXEnv::getInstance()->setCloseOnRemoveDevice(true);
    }

    void cleanup() { m_bed.reset(); }

    // Which entry is the loader and which the firmware, and what reaches the device in which order.
    void firmwareUpdateByEntryNames_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("absentPeriods");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("loader");   // entry written to area 12, empty: none
        QTest::addColumn<QString>("firmware"); // entry written to area 10, empty: none
        QTest::addColumn<QList<int>>("resets");
        QTest::addColumn<int>("sleeps");
        QTest::addColumn<QString>("warning"); // bare warning expected, empty: none

        const QList<int> both{1, 0};
        const QList<int> intoIap{1};
        const QList<int> none;
        QTest::newRow("IT and I") << QStringList{"IT_boot.bin", "I_main.bin"} << 0 << true << "IT_boot.bin"
                                  << "I_main.bin" << both << 2 << QString();
        QTest::newRow("later I replaces earlier")
            << QStringList{"I_a.bin", "IT_boot.bin", "I_b.bin"} << 0 << true << "IT_boot.bin"
            << "I_b.bin" << both << 2 << QString();
        QTest::newRow("back after three periods")
            << QStringList{"IT_boot.bin", "I_main.bin"} << 2 << true << "IT_boot.bin"
            << "I_main.bin" << both << 4 << QString();
        QTest::newRow("IT only") << QStringList{"IT_boot.bin", "readme.txt"} << 0 << true << "IT_boot.bin" << QString()
                                 << intoIap << 1 << QString();
        QTest::newRow("I only") << QStringList{"I_main.bin"} << 0 << false << QString() << QString() << none << 0
                                << QStringLiteral("write iap temp failed  \"\"");
        QTest::newRow("neither") << QStringList{"boot.bin", "main.bin"} << 0 << false << QString() << QString() << none
                                 << 0 << QStringLiteral("write iap temp failed  \"\"");
    }

    void firmwareUpdateByEntryNames()
    {
        QFETCH(QStringList, names);
        QFETCH(int, absentPeriods);
        QFETCH(bool, result);
        QFETCH(QString, loader);
        QFETCH(QString, firmware);
        QFETCH(QList<int>, resets);
        QFETCH(int, sleeps);
        QFETCH(QString, warning);

        JXTestPackage::Entries entries;
        QMap<QString, QByteArray> contents;
        quint32 seed = 1;
        for (const QString& name : names) {
            contents.insert(name, JXTestPackage::seededBytes(3000 + 1000 * int(seed), seed));
            entries.append({name, contents.value(name)});
            ++seed;
        }
        const QString package = writePackage(entries);
        std::unique_ptr<IapClient> client = makeClient();
        client->absentAnswers = absentPeriods;
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, warning.toUtf8().constData());

        QCOMPARE(client->updateLaunchsec(package), result);

        const QVector<JXSimulatedFlashDevice::Command> log = m_bed.flash()->commands();
        QList<int> areas;
        if (!loader.isEmpty())
            areas << kAreaInternalWrite << 1;
        if (!firmware.isEmpty())
            areas << kAreaFirmware << 0;
        QCOMPARE(writtenAreas(log), areas);
        if (!loader.isEmpty())
            QCOMPARE(bytesTo(log, kAreaInternalWrite), padded(contents.value(loader), 2048, '\0'));
        if (!firmware.isEmpty())
            QCOMPARE(bytesTo(log, kAreaFirmware), padded(contents.value(firmware), 2048, '\0'));
        QCOMPARE(m_bed.flash()->resets(), resets);
        QCOMPARE(m_bed.clock()->sleeps(), QVector<qint64>(sleeps, 5000));
        QVERIFY(client->busyWhileWaiting);
        QVERIFY(JXEnv::getInstance()->isCloseOnRemoveDevice());
        QCOMPARE(client->getState(), JXClient::State_Idle);
        QCOMPARE(client->pendingAction(), int(JXClient::Action_None));
    }

    // A firmware entry that cannot be written is found out before the loader sends the device into IAP mode, where
    // it would stay.
    void unusableFirmwareImageIsRefusedBeforeAnyWrite_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty file") << "I_main.bin" << QByteArray();
        QTest::newRow("folder named I") << "Imain/inner.bin" << QByteArray("firmware");
    }

    void unusableFirmwareImageIsRefusedBeforeAnyWrite()
    {
        QFETCH(QString, entry);
        QFETCH(QByteArray, bytes);
        const QString package = writePackage({{"IT_boot.bin", "loader"}, {entry, bytes}});
        std::unique_ptr<IapClient> client = makeClient();

        QVERIFY(!client->updateLaunchsec(package));
        QVERIFY(m_bed.flash()->commands().isEmpty());
        QVERIFY(m_bed.clock()->sleeps().isEmpty());
        QVERIFY(JXEnv::getInstance()->isCloseOnRemoveDevice());
    }

    void deviceThatNeverReturns()
    {
        const QString package = writePackage({{"IT_boot.bin", "loader"}, {"I_main.bin", "firmware"}});
        std::unique_ptr<IapClient> client = makeClient();
        client->absentAnswers = -1;

        QVERIFY(!client->updateLaunchsec(package));
        QCOMPARE(client->existQuestions, 20);
        QCOMPARE(m_bed.clock()->sleeps(), QVector<qint64>(20, 5000));
        QCOMPARE(writtenAreas(m_bed.flash()->commands()), (QList<int>{kAreaInternalWrite, 1}));
        // The application must notice the next removal again.
        QVERIFY(JXEnv::getInstance()->isCloseOnRemoveDevice());
        QCOMPARE(client->getState(), JXClient::State_Idle);
    }

    void refusedWhileTheClientIsBusy_data()
    {
        QTest::addColumn<bool>("actionPending");
        QTest::newRow("action pending") << true;
        QTest::newRow("in service") << false;
    }

    void refusedWhileTheClientIsBusy()
    {
        QFETCH(bool, actionPending);
        const QString package = writePackage({{"IT_boot.bin", "loader"}, {"I_main.bin", "firmware"}});
        std::unique_ptr<IapClient> client = makeClient();
        if (actionPending)
            client->setPendingAction(JXClient::Action_ReadData);
        else
            QVERIFY(client->setStateWithMatch(JXClient::State_Idle, JXClient::State_InService));

        QVERIFY(!client->updateLaunchsec(package));
        QVERIFY(m_bed.flash()->commands().isEmpty());
        // What the running action holds stays its own.
        QCOMPARE(client->pendingAction(), actionPending ? int(JXClient::Action_ReadData) : int(JXClient::Action_None));
        QCOMPARE(client->getState(), actionPending ? JXClient::State_Idle : JXClient::State_InService);
        client->setPendingAction(JXClient::Action_None);
        client->setStateWithMatch(JXClient::State_InService, JXClient::State_Idle);
    }

    void damagedPackage()
    {
        const QString package = m_bed.folder()->path() + QLatin1String("/iap.zip");
        JXTestFiles::writeFile(package, "PK\x03\x04 not a zip");
        std::unique_ptr<IapClient> client = makeClient();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^uncompress iap package failed  ")));
        QVERIFY(!client->updateLaunchsec(package));
        QVERIFY(m_bed.flash()->commands().isEmpty());
    }

    // Internal image to area 12, erase, external image to area 15 unless the folder's release.ini says no.
    void factoryRestore_data()
    {
        QTest::addColumn<QByteArray>("releaseIni"); // empty: no release.ini
        QTest::addColumn<bool>("external");
        QTest::newRow("no release.ini") << QByteArray() << true;
        QTest::newRow("ExData no") << QByteArray("ExData=no\n") << false;
        QTest::newRow("ExData yes") << QByteArray("ExData=yes\n") << true;
        QTest::newRow("ExData absent") << QByteArray("Name=FENDIR\n") << true;
    }

    void factoryRestore()
    {
        QFETCH(QByteArray, releaseIni);
        QFETCH(bool, external);
        const QString folder = m_bed.folder()->path() + QLatin1String("/restore");
        const QByteArray internal = JXTestPackage::seededBytes(5000, 7);
        const QByteArray externalImage = JXTestPackage::seededBytes(9000, 8);
        JXTestFiles::writeFile(folder + QLatin1String("/FENDIR.bin"), internal);
        JXTestFiles::writeFile(folder + QLatin1String("/FENDIRExData.bin"), externalImage);
        if (!releaseIni.isEmpty())
            JXTestFiles::writeFile(folder + QLatin1String("/release.ini"), releaseIni);
        m_bed.flash()->setExternalFlash(QByteArray(kFlashSize, 'x'));
        std::unique_ptr<IapClient> client = makeClient();

        QVERIFY(client->runRestore(folder));

        const QVector<JXSimulatedFlashDevice::Command> log = m_bed.flash()->commands();
        QList<int> areas{kAreaInternalWrite, kAreaErase};
        if (external)
            areas << kAreaExternalWrite;
        QCOMPARE(writtenAreas(log), areas);
        QCOMPARE(m_bed.flash()->internalFlash().left(6144), padded(internal, 2048, char(0xFF)));
        const QByteArray expected = external ? padded(externalImage, 4096, char(0xFF)) : QByteArray();
        QCOMPARE(m_bed.flash()->externalFlash(), expected + QByteArray(kFlashSize - expected.size(), char(0xFF)));
        QVERIFY(!client->getError(nullptr));
    }

    // Each failing step makes the restore fail, with the error flag set.
    void factoryRestoreFailures_data()
    {
        QTest::addColumn<int>("failAtCommand"); // 0: none
        QTest::addColumn<bool>("externalFile");
        QTest::addColumn<QList<int>>("areas");
        // The internal image is three 2048-byte blocks: the erase is the fourth command.
        QTest::newRow("internal write") << 2 << true << QList<int>{kAreaInternalWrite};
        QTest::newRow("erase") << 4 << true << QList<int>{kAreaInternalWrite, kAreaErase};
        QTest::newRow("external write") << 6 << true << QList<int>{kAreaInternalWrite, kAreaErase, kAreaExternalWrite};
        QTest::newRow("no external image") << 0 << false << QList<int>{kAreaInternalWrite, kAreaErase};
    }

    void factoryRestoreFailures()
    {
        QFETCH(int, failAtCommand);
        QFETCH(bool, externalFile);
        QFETCH(QList<int>, areas);
        const QString folder = m_bed.folder()->path() + QLatin1String("/restore");
        JXTestFiles::writeFile(folder + QLatin1String("/FENDIR.bin"), JXTestPackage::seededBytes(5000, 7));
        if (externalFile)
            JXTestFiles::writeFile(folder + QLatin1String("/FENDIRExData.bin"), JXTestPackage::seededBytes(9000, 8));
        std::unique_ptr<IapClient> client = makeClient();
        m_bed.flash()->setFailAtCommand(failAtCommand);

        QVERIFY(!client->runRestore(folder));
        QCOMPARE(writtenAreas(m_bed.flash()->commands()), areas);
        QVERIFY(client->getError(nullptr));
    }
};

QTEST_GUILESS_MAIN(TestJXZelto30Update)
#include "tst_jxzelto30update.moc"
