#include <QtTest>

#include <QDataStream>
#include <QJsonDocument>
#include <QLabel>
#include <QListWidget>
#include <QNetworkProxy>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QTemporaryDir>

#include "device/jxclient.h"
#include "device/jxdeviceimpl.h"
#include "device/jxdevicemanager.h"
#include "device/jxdeviceservice.h"
#include "dorvapp.h"
#include "dorvcontroller.h"
#include "jxdaemon.h"
#include "jxenv.h"
#include "jxtestfiles.h"
#include "jxtestpackage.h"
#include "messageboxanswerer.h"
#include "reriduruclient.h"
#include "testhttpserver.h"

namespace {

const char* const kQueryPath = "/versions/index";
const char* const kAlpPath = "/current_14d.alp";
const char* const kPackagePath = "/packages/Total.zip";

// What the next plugged test device reports and how its actions end.
struct DeviceScript
{
    QString model = QStringLiteral("Zelto70");
    QString uuid = QStringLiteral("7001-0001");
    QString os = QStringLiteral("1.0.0.1");
    quint32 alpExpiry = 0;
    int deviceType = 0;
    bool updateResult = true;
    int updateErrorCode = 0;
    bool checkResult = true; // the silent workout check
    bool installResult = true;
    int installErrorCode = 0;
    // Steps that wait for release(): "updateTotal", "check", "install", "alp".
    QSet<QString> blocked;
};

// A file-update device whose actions end as its script says, optionally only when the test lets them.
class TestDevice : public JXDeviceImpl<TestDevice, JXClient>
{
public:
    static DeviceScript nextScript;

    TestDevice() : m_script(nextScript) {}
    ~TestDevice() override
    {
        m_gate.release(100);
        stopThread();
    }

    bool getName(QString& model) override
    {
        model = m_script.model;
        return true;
    }
    bool getUUID(QString& uuid) override
    {
        uuid = m_script.uuid;
        return true;
    }
    bool getOS(QString& version) override
    {
        version = m_script.os;
        return true;
    }
    quint32 getAlpExpiredDate() override { return m_alpExpiry.load(); }
    int getDeviceType() override { return m_script.deviceType; }
    bool prepareUploadData(QString&, bool) override { return false; }
    QStringList saveDeviceRawData(QString) override { return {}; }

    // Requests as the controller made them, main thread only.
    bool updateTotal(QString file, QString lang) override
    {
        calls.append({QStringLiteral("updateTotal"), file, lang});
        return JXClient::updateTotal(file, lang);
    }
    bool updateComponent(QString a, QString b, QString c, QString d) override
    {
        calls.append({QStringLiteral("updateComponent"), a, b, c, d});
        return JXClient::updateComponent(a, b, c, d);
    }
    bool updateAlp(QString file, unsigned int expiry) override
    {
        calls.append({QStringLiteral("updateAlp"), file, QString::number(expiry)});
        return JXClient::updateAlp(file, expiry);
    }

    int callCount(const QString& name) const
    {
        return int(
            std::count_if(calls.begin(), calls.end(), [&](const QStringList& call) { return call.first() == name; }));
    }

    void release() { m_gate.release(); }
    // True once a blocked step waits for release().
    bool isWaiting() const { return m_waiting.load(); }

    QList<QStringList> calls;

protected:
    bool _updateTotal(QString, QString) override
    {
        pass(QStringLiteral("updateTotal"));
        m_errorCode = m_script.updateErrorCode;
        return m_script.updateResult;
    }
    bool _updateComponent(JXClientCompUpdateInfo info) override
    {
        const bool install = info.version == QLatin1String("1");
        pass(install ? QStringLiteral("install") : QStringLiteral("check"));
        m_errorCode = install ? m_script.installErrorCode : 5;
        return install ? m_script.installResult : m_script.checkResult;
    }
    bool _updateAlp(QString, unsigned int expiry) override
    {
        pass(QStringLiteral("alp"));
        m_alpExpiry = expiry;
        return true;
    }

private:
    void pass(const QString& step)
    {
        if (!m_script.blocked.contains(step))
            return;
        m_waiting = true;
        m_gate.acquire();
        m_waiting = false;
    }

    const DeviceScript m_script;
    std::atomic<quint32> m_alpExpiry{m_script.alpExpiry};
    std::atomic<bool> m_waiting{false};
    QSemaphore m_gate;
};

DeviceScript TestDevice::nextScript;

class TestService : public JXDeviceService
{
public:
    TestService()
    {
        m_row.code = QStringLiteral("7001");
        m_row.modelName = TestDevice::nextScript.model;
        m_row.matchText = QStringLiteral("Vexmor:test");
        m_row.factory = &TestDevice::create;
    }
    bool readDeviceUUID(QString& uuid) override
    {
        uuid = TestDevice::nextScript.uuid;
        return true;
    }
    stRegDevInfo* getRegistryInfo() override { return &m_row; }
    int getType() override { return DEVICE_FS; }

private:
    stRegDevInfo m_row;
};

QWidget* screen(const QString& objectName)
{
    return findScreen(objectName);
}

using JXTestFiles::readAll;
using JXTestFiles::writeFile;

QByteArray expiryBytes(quint32 expiry)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << expiry;
    return bytes;
}

quint32 freshExpiry()
{
    return ReriduruClient::expiryAfter(14, QDateTime::currentDateTime());
}

JXDeviceManager* manager()
{
    return JXDaemon::getInstance()->getDeviceManager();
}

TestDevice* currentDevice()
{
    return static_cast<TestDevice*>(JXDaemon::getInstance()->getClient());
}

template <class T> T* child(const QString& screenName, const QString& childName)
{
    QWidget* top = screen(screenName);
    return top ? top->findChild<T*>(childName) : nullptr;
}

// The update server's answer offering version 2.0.0.0 of the package at url.
QByteArray totalReply(const QString& url, const QString& md5hash)
{
    const QVariantList reply{QVariantMap{
        {"name", "Total"}, {"version", "2.0.0.0"}, {"url", url}, {"note", "Faster maps"}, {"md5hash", md5hash}}};
    return QJsonDocument::fromVariant(reply).toJson();
}

const QString kNotEnoughSpace = QStringLiteral("Not_Enough_Space_Msg");
const QString kCheckFailed = QStringLiteral("Checking for new software failed. Please try again later.");
const QString kGenericFailure = QStringLiteral("Fail. Please try again later.");

const QByteArray kReleaseIni = "[OS]\nName=os.bin\nVersion=2.0.0.0\n";

// The same bytes on every call: a zip carries the time it was made.
QByteArray usablePackage()
{
    static const QByteArray package =
        JXTestPackage::packageBytes(kReleaseIni, {{"os.bin", JXTestPackage::seededBytes(3000, 1)}});
    return package;
}

} // namespace

class TestDorvController : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void busyMessage_data();
    void busyMessage();
    void updateButtonAnswer_data();
    void updateButtonAnswer();
    void failedCheckIsNoAnswer_data();
    void failedCheckIsNoAnswer();
    void unsafeModelName_data();
    void unsafeModelName();
    void softwareUpdateResult_data();
    void softwareUpdateResult();
    void brokenPackageIsFetchedAgain_data();
    void brokenPackageIsFetchedAgain();
    void brokenDownloadIsNotCached_data();
    void brokenDownloadIsNotCached();
    void progressSteps_data();
    void progressSteps();
    void refusedActionShowsGenericFailure();
    void unplugDuringUpdate_data();
    void unplugDuringUpdate();
    void actionDoneWithoutClient_data();
    void actionDoneWithoutClient();
    void workoutCheckAndInstall_data();
    void workoutCheckAndInstall();
    void refusedCheckRunsAfterTheAction();
    void assistanceDataFreshness_data();
    void assistanceDataFreshness();
    void assistanceDownloadFails();
    void assistanceDownloadOutlivesDevice();
    void assistanceButtonAfterFailedDownload();
    void releaseNoteFollowsDevice();
    void betaServerChoice_data();
    void betaServerChoice();

private:
    QString modelFolder(const QString& model = TestDevice::nextScript.model) const
    {
        return m_userData->path() + QStringLiteral("/updates/") + model;
    }
    // Cached assistance data that is fresh today, and a device that already holds it.
    void cacheFreshAssistanceData();
    TestDevice* plug();
    // Plugs and waits until the update query and the silent workout check have ended.
    TestDevice* plugAndSettle();
    void unplug();
    void verifyBarFrozen(QProgressBar* bar);

    DorvController* m_controller = nullptr;
    QScopedPointer<QTemporaryDir> m_userData;
    QScopedPointer<TestHttpServer> m_server;
    QScopedPointer<MessageBoxAnswerer> m_answerer;
    QList<QPointer<TestDevice>> m_devices;
};

void TestDorvController::initTestCase()
{
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    JXEnv::getInstance()->init(QStringLiteral("both"), QStringLiteral("dorvupdate.log"));
    manager()->setManagedDeviceType(JXDeviceManager::DEVICE_TYPE_FIT);
    // Kept for the whole run: a box that a late reply raises between two tests is answered too.
    m_answerer.reset(new MessageBoxAnswerer);
}

void TestDorvController::init()
{
    m_userData.reset(new QTemporaryDir);
    QVERIFY(m_userData->isValid());
    JXEnv::getInstance()->setUserDataBaseFolder(m_userData->path());

    m_server.reset(new TestHttpServer);
    QVERIFY(m_server->listen());
    m_server->setReply(kQueryPath, 200, "[]");
    m_server->setReply(kAlpPath, 200, "assistance data");
    qputenv("JX_RELEASE_UPDATE_URL", m_server->url(kQueryPath).toUtf8());
    qputenv("JX_BETA_UPDATE_URL", m_server->url(kQueryPath).toUtf8());
    qputenv("JX_ASSIST_HOST", m_server->baseUrl().toUtf8());

    TestDevice::nextScript = DeviceScript();
    DorvApp::instance()->createController();
    m_controller = DorvApp::instance()->getController();
    m_controller->setProgressInterval(1);
    m_controller->setTransferTimeout(3000);
    m_answerer->boxes.clear();
}

void TestDorvController::cleanup()
{
    if (JXDaemon::getInstance()->getClient())
        unplug();
    // Every action ends here, so that no late event reaches the next test's controller.
    for (const QPointer<TestDevice>& device : qAsConst(m_devices)) {
        if (!device)
            continue;
        device->release();
        device->release();
        QTRY_VERIFY_WITH_TIMEOUT(!device->isBusy(), 10000);
    }
    m_devices.clear();
    m_server.reset();
    m_userData.reset();
}

void TestDorvController::cacheFreshAssistanceData()
{
    writeFile(modelFolder() + "/AssitOff.alp", "assistance data");
    writeFile(modelFolder() + "/date.txt", expiryBytes(freshExpiry()));
    TestDevice::nextScript.alpExpiry = freshExpiry();
}

TestDevice* TestDorvController::plug()
{
    manager()->onDevicePlugin(new TestService);
    TestDevice* device = currentDevice();
    m_devices.append(device);
    return device;
}

TestDevice* TestDorvController::plugAndSettle()
{
    TestDevice* device = plug();
    const bool settled =
        device &&
        QTest::qWaitFor([device] { return device->callCount("updateComponent") == 1 && !device->isBusy(); }, 10000);
    return settled ? device : nullptr;
}

void TestDorvController::unplug()
{
    manager()->onDeviceUnplugin();
}

void TestDorvController::verifyBarFrozen(QProgressBar* bar)
{
    const int value = bar->value();
    // The timer period is 1 ms: a timer that still ran would move the bar many times over.
    QTest::qWait(50);
    QCOMPARE(bar->value(), value);
}

// ---- Requests refused or answered by a box ---------------------------------------------------------------------

void TestDorvController::busyMessage_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<bool>("busy");

    QTest::newRow("no device") << "none" << true;
    QTest::newRow("device runs an action") << "action" << true;
    QTest::newRow("assistance data downloading") << "download" << true;
    QTest::newRow("idle device") << "idle" << false;
}

void TestDorvController::busyMessage()
{
    QFETCH(QString, situation);
    QFETCH(bool, busy);

    if (situation == "none") {
        m_controller->start(); // as main does: the main window shows no device
    } else if (situation == "download") {
        m_server->setStall(kAlpPath);
        TestDevice* device = plug();
        QVERIFY(device);
        QTRY_COMPARE(m_server->requestCount(kAlpPath), 1);
    } else if (situation == "action") {
        cacheFreshAssistanceData();
        TestDevice::nextScript.blocked = {"check"};
        TestDevice* device = plug();
        QVERIFY(device);
        QTRY_VERIFY(device->isWaiting());
    } else if (situation == "idle") {
        cacheFreshAssistanceData();
        QVERIFY(plugAndSettle());
    }

    QCOMPARE(m_controller->showBusyMessage(), busy);
    if (!busy) {
        QVERIFY(m_answerer->boxes.isEmpty());
        return;
    }
    QCOMPARE(m_answerer->texts(), QStringList{"Busy. Please try again later."});
    const ShownBox box = m_answerer->boxes.first();
    QVERIFY(box.parentIsMainWindow);
    QVERIFY(box.centredOverMainWindow);
    QVERIFY(box.onlyOk);
    QVERIFY(box.informativeText.isEmpty());
}

void TestDorvController::updateButtonAnswer_data()
{
    QTest::addColumn<QString>("deviceVersion");
    QTest::addColumn<QByteArray>("cachedVersionFile"); // empty: no "version.txt"
    QTest::addColumn<bool>("queryEnds");
    QTest::addColumn<QString>("answer"); // a box text, or "dialog"

    QTest::newRow("query not ended") << "1.0.0.1" << QByteArray("2.0.0.0") << false << "Checking new version now";
    QTest::newRow("string order: .10 before .9")
        << "1.2.0.9" << QByteArray("1.2.0.10") << true << "Your software is up-to-date.";
    QTest::newRow("no cached package") << "1.2.0.9" << QByteArray() << true << "Your software is up-to-date.";
    QTest::newRow("same version") << "2.1.0.5" << QByteArray("2.1.0.5") << true << "Your software is up-to-date.";
    QTest::newRow("newer package, text ends at zero byte")
        << "2.0.0.1" << QByteArray("2.1.0.5\0trailing", 16) << true << "dialog";
}

void TestDorvController::updateButtonAnswer()
{
    QFETCH(QString, deviceVersion);
    QFETCH(QByteArray, cachedVersionFile);
    QFETCH(bool, queryEnds);
    QFETCH(QString, answer);

    cacheFreshAssistanceData();
    TestDevice::nextScript.os = deviceVersion;
    if (!cachedVersionFile.isEmpty())
        writeFile(modelFolder() + "/version.txt", cachedVersionFile);
    if (!queryEnds)
        m_server->setStall(kQueryPath);

    TestDevice* device = queryEnds ? plugAndSettle() : plug();
    QVERIFY(device);
    if (!queryEnds)
        QTRY_COMPARE(m_server->requestCount(kQueryPath), 1);
    auto* badge = child<QLabel>("Dorv_Form", "download_count_label");
    QVERIFY(badge);
    QCOMPARE(!badge->isHidden(), answer == "dialog");

    QVERIFY(!m_controller->showBusyMessage());
    m_controller->show_update_form();

    QWidget* dialog = screen("SoftUpdateForm");
    QVERIFY(dialog);
    if (answer != "dialog") {
        QCOMPARE(m_answerer->texts(), QStringList{answer});
        QVERIFY(m_answerer->boxes.first().parentIsMainWindow);
        QVERIFY(!dialog->isVisible());
        return;
    }
    QVERIFY(m_answerer->boxes.isEmpty());
    QVERIFY(dialog->isVisible());
    QVERIFY(!screen("Dorv_Form")->isVisible());
    auto* list = dialog->findChild<QListWidget*>("soft_update_list");
    QVERIFY(list);
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->item(1)->text(), QStringLiteral("Current: 2.0.0.1"));
    QCOMPARE(list->item(2)->text(), QStringLiteral("Update: 2.1.0.5"));
    // The server is not asked again.
    QCOMPARE(m_server->requestCount(kQueryPath), 1);
}

void TestDorvController::failedCheckIsNoAnswer_data()
{
    QTest::addColumn<QString>("fault");

    QTest::newRow("connection closed") << "closed";
    QTest::newRow("status 500") << "500";
    QTest::newRow("no answer in time") << "stall";
    QTest::newRow("reply is no JSON") << "html";
    QTest::newRow("reply is no list") << "object";
    QTest::newRow("package MD5 differs") << "md5";
}

void TestDorvController::failedCheckIsNoAnswer()
{
    QFETCH(QString, fault);

    cacheFreshAssistanceData();
    const QString packageUrl = m_server->url(kPackagePath);
    m_server->setReply(kPackagePath, 200, usablePackage());
    if (fault == "closed") {
        m_server->setCloseImmediately(kQueryPath);
    } else if (fault == "500") {
        m_server->setReply(kQueryPath, 500, totalReply(packageUrl, QString()));
    } else if (fault == "stall") {
        m_controller->setTransferTimeout(300);
        m_server->setStall(kQueryPath);
    } else if (fault == "html") {
        m_server->setReply(kQueryPath, 200, "<html><body>Service busy</body></html>");
    } else if (fault == "object") {
        m_server->setReply(kQueryPath, 200, "{\"name\": \"Total\", \"version\": \"2.0.0.0\"}");
    } else if (fault == "md5") {
        m_server->setReply(kQueryPath, 200, totalReply(packageUrl, QStringLiteral("0123456789abcdef0123456789abcdef")));
    }
    TestDevice* device = plugAndSettle();
    QVERIFY(device);
    QVERIFY(!QFile::exists(modelFolder() + "/version.txt"));

    // The server is back: the press says the check failed, and asks again.
    m_server->setReply(kQueryPath, 200, totalReply(packageUrl, QString()));
    const int queries = m_server->requestCount(kQueryPath);
    QVERIFY(!m_controller->showBusyMessage());
    m_controller->show_update_form();
    QCOMPARE(m_answerer->texts(), QStringList{kCheckFailed});
    QVERIFY(m_answerer->boxes.first().parentIsMainWindow);
    QVERIFY(!screen("SoftUpdateForm")->isVisible());
    QTRY_COMPARE(m_server->requestCount(kQueryPath), queries + 1);

    QTRY_VERIFY_WITH_TIMEOUT(device->callCount("updateComponent") == 2 && !device->isBusy(), 10000);
    m_answerer->boxes.clear();
    QVERIFY(!m_controller->showBusyMessage());
    m_controller->show_update_form();
    QVERIFY(m_answerer->boxes.isEmpty());
    QVERIFY(screen("SoftUpdateForm")->isVisible());
    QCOMPARE(m_server->requestCount(kQueryPath), queries + 1);
}

// A model name that is no folder name: the device counts as none, nothing is asked, downloaded or written.
void TestDorvController::unsafeModelName_data()
{
    QTest::addColumn<QString>("model");

    QTest::newRow("climbs out") << "../../escaped-model";
    QTest::newRow("..") << "..";
    QTest::newRow(".") << ".";
    QTest::newRow("empty") << "";
    QTest::newRow("slash") << "Zelto/70";
    QTest::newRow("backslash") << "..\\escaped-model";
    QTest::newRow("NUL") << QString::fromLatin1("Zelto\0" "70", 7);
    QTest::newRow("line feed") << "Zelto\n70";
    QTest::newRow("DEL") << "Zelto\x7f" "70";
}

void TestDorvController::unsafeModelName()
{
    QFETCH(QString, model);

    // The user-data folder sits two levels below a folder of the test's own, where an escape would land.
    QTemporaryDir outer;
    QVERIFY(outer.isValid());
    const QString userData = outer.path() + "/home/data";
    QVERIFY(QDir().mkpath(userData));
    JXEnv::getInstance()->setUserDataBaseFolder(userData);
    m_server->setReply(kQueryPath, 200, totalReply(m_server->url(kPackagePath), QString()));
    m_server->setReply(kPackagePath, 200, "package");

    TestDevice::nextScript.model = model;
    TestDevice* device = plug();
    QVERIFY(device);
    // The buttons find no device to work on.
    QVERIFY(m_controller->showBusyMessage());
    QCOMPARE(m_answerer->texts(), QStringList{"Busy. Please try again later."});
    m_controller->updateDevice();
    QTest::qWait(100);

    QVERIFY(m_server->requestTargets().isEmpty());
    QVERIFY(device->calls.isEmpty());
    QCOMPARE(m_controller->getReleaseNote(), QStringLiteral("empty"));
    auto* uuid = child<QLabel>("Dorv_Form", "uuid_info_label");
    QVERIFY(uuid);
    QVERIFY(uuid->text().isEmpty());
    QCOMPARE(QDir(outer.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"home"});
    QCOMPARE(QDir(outer.path() + "/home").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"data"});
    QVERIFY(!QFileInfo::exists(userData + "/updates"));
}

// ---- Software update -------------------------------------------------------------------------------------------

void TestDorvController::softwareUpdateResult_data()
{
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("errorCode");
    QTest::addColumn<QString>("failText"); // empty: the completion screen

    QTest::newRow("success") << true << 0 << QString();
    QTest::newRow("not enough space") << false << 3 << kNotEnoughSpace;
    QTest::newRow("copy not read back") << false << 4 << kGenericFailure;
}

void TestDorvController::softwareUpdateResult()
{
    QFETCH(bool, result);
    QFETCH(int, errorCode);
    QFETCH(QString, failText);

    cacheFreshAssistanceData();
    writeFile(modelFolder() + "/version.txt", "2.0.0.0");
    TestDevice::nextScript.updateResult = result;
    TestDevice::nextScript.updateErrorCode = errorCode;
    TestDevice::nextScript.blocked = {"updateTotal"};
    TestDevice* device = plugAndSettle();
    QVERIFY(device);
    m_controller->show_update_form();
    QVERIFY(screen("SoftUpdateForm")->isVisible());

    m_controller->updateDevice();
    QCOMPARE(device->calls.last(), (QStringList{"updateTotal", modelFolder() + "/Total.zip", QString()}));
    auto* bar = child<QProgressBar>("SoftUpdateForm", "step_progressBar");
    QVERIFY(bar);
    // The timer moves the dialog's bar while the copy runs.
    QTRY_VERIFY(bar->value() >= 6);
    device->release();

    QWidget* complete = screen("recover_complete_form");
    QWidget* fail = screen("recover_fail_form");
    QTRY_VERIFY(complete->isVisible() || fail->isVisible());
    QVERIFY(!screen("SoftUpdateForm")->isVisible());
    QVERIFY(!screen("Dorv_Form")->isVisible());
    QCOMPARE(complete->isVisible(), failText.isEmpty());
    if (!failText.isEmpty()) {
        auto* message = fail->findChild<QLabel*>("msg_label");
        QVERIFY(message);
        QVERIFY2(message->text().contains(failText), qPrintable(message->text()));
    }
    QVERIFY(bar->value() < 100);
    verifyBarFrozen(bar);
    QVERIFY(m_answerer->boxes.isEmpty());
}

// Packages that the driver cannot use: an error page, a zip without "release.ini", a "release.ini" whose data fails
// its checksum.
void addBrokenPackageRows()
{
    QTest::addColumn<QByteArray>("package");
    QTest::addColumn<bool>("broken");

    QByteArray damaged = JXTestPackage::zipBytes({{"release.ini", kReleaseIni}});
    QVERIFY(!damaged.isEmpty());
    // The first entry's data follows its 30-byte local header, its name and its extra field.
    const int extraLength = quint8(damaged.at(28)) | quint8(damaged.at(29)) << 8;
    const int dataStart = 30 + int(qstrlen("release.ini")) + extraLength;
    damaged[dataStart] = char(damaged.at(dataStart) ^ 0x20);

    QTest::newRow("HTML page") << QByteArray("<html><body>Please log in</body></html>") << true;
    QTest::newRow("zip without release.ini")
        << JXTestPackage::zipBytes({{"os.bin", JXTestPackage::seededBytes(3000, 1)}}) << true;
    QTest::newRow("release.ini damaged") << damaged << true;
}

void TestDorvController::brokenPackageIsFetchedAgain_data()
{
    addBrokenPackageRows();
    QTest::newRow("usable package") << usablePackage() << false;
}

// A cached package that the driver cannot use (one cached before it was checked, or damaged since) is forgotten once
// an update fails on it and fetched again; one that it can use stays.
void TestDorvController::brokenPackageIsFetchedAgain()
{
    QFETCH(QByteArray, package);
    QFETCH(bool, broken);

    cacheFreshAssistanceData();
    writeFile(modelFolder() + "/note.txt", "Faster maps");
    writeFile(modelFolder() + "/version.txt", "2.0.0.0");
    writeFile(modelFolder() + "/Total.zip", package);
    m_server->setReply(kQueryPath, 200, totalReply(m_server->url(kPackagePath), QString()));
    m_server->setReply(kPackagePath, 200, usablePackage());
    // The driver refuses what it cannot unpack before the space test: a failure without a code.
    TestDevice::nextScript.updateResult = false;
    TestDevice::nextScript.updateErrorCode = 0;
    TestDevice* device = plugAndSettle();
    QVERIFY(device);
    QCOMPARE(m_server->requestCount(kPackagePath), 0);
    m_controller->show_update_form();
    QVERIFY(screen("SoftUpdateForm")->isVisible());

    m_controller->updateDevice();
    QTRY_VERIFY(screen("recover_fail_form")->isVisible());
    if (broken) {
        QTRY_COMPARE(m_server->requestCount(kQueryPath), 2);
        QTRY_COMPARE(m_server->requestCount(kPackagePath), 1);
    } else {
        QTest::qWait(100);
        QCOMPARE(m_server->requestCount(kQueryPath), 1);
    }
    QTRY_COMPARE(readAll(modelFolder() + "/version.txt"), QByteArray("2.0.0.0"));
    QCOMPARE(readAll(modelFolder() + "/Total.zip"), broken ? usablePackage() : package);
    QCOMPARE(readAll(modelFolder() + "/AssitOff.alp"), QByteArray("assistance data"));
    QVERIFY(m_answerer->boxes.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!device->isBusy(), 10000);
}

void TestDorvController::brokenDownloadIsNotCached_data()
{
    addBrokenPackageRows();
}

// A broken package served with status 200 and no md5 is not cached: the check counts as failed, the next press asks
// the server again, and once the server is healthy the update completes on the first press.
void TestDorvController::brokenDownloadIsNotCached()
{
    QFETCH(QByteArray, package);

    cacheFreshAssistanceData();
    m_server->setReply(kQueryPath, 200, totalReply(m_server->url(kPackagePath), QString()));
    m_server->setReply(kPackagePath, 200, package);
    TestDevice* device = plugAndSettle();
    QVERIFY(device);
    QCOMPARE(m_server->requestCount(kPackagePath), 1);
    for (const char* name : {"version.txt", "Total.zip", "note.txt", "filename.txt"})
        QVERIFY2(!QFile::exists(modelFolder() + "/" + name), name);

    m_server->setReply(kPackagePath, 200, usablePackage());
    m_controller->show_update_form();
    QCOMPARE(m_answerer->texts(), QStringList{kCheckFailed});
    QVERIFY(!screen("SoftUpdateForm")->isVisible());
    QTRY_COMPARE(m_server->requestCount(kPackagePath), 2);
    QTRY_COMPARE(readAll(modelFolder() + "/version.txt"), QByteArray("2.0.0.0"));
    QTRY_VERIFY_WITH_TIMEOUT(device->callCount("updateComponent") == 2 && !device->isBusy(), 10000);

    m_answerer->boxes.clear();
    m_controller->show_update_form();
    QVERIFY(m_answerer->boxes.isEmpty());
    QVERIFY(screen("SoftUpdateForm")->isVisible());
    m_controller->updateDevice();
    QTRY_VERIFY(screen("recover_complete_form")->isVisible());
    QCOMPARE(device->callCount("updateTotal"), 1);
    QCOMPARE(readAll(modelFolder() + "/Total.zip"), usablePackage());
}

void TestDorvController::progressSteps_data()
{
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("value");

    QTest::newRow("1 period") << 1 << 2;
    QTest::newRow("49 periods") << 49 << 98;
    QTest::newRow("50 periods stop short of full") << 50 << 99;
    QTest::newRow("60 periods") << 60 << 99;
}

void TestDorvController::progressSteps()
{
    QFETCH(int, ticks);
    QFETCH(int, value);

    // The workout installation moves the main window's bar, from 0.
    cacheFreshAssistanceData();
    TestDevice::nextScript.blocked = {"install"};
    TestDevice* device = plugAndSettle();
    QVERIFY(device);
    m_controller->setProgressInterval(3600 * 1000); // only the ticks below move the bar
    m_controller->updateWorkout();
    auto* bar = child<QProgressBar>("Dorv_Form", "step_progressBar");
    QVERIFY(bar);
    QCOMPARE(bar->value(), 0);
    for (int i = 0; i < ticks; ++i)
        QVERIFY(QMetaObject::invokeMethod(m_controller, "run"));
    QCOMPARE(bar->value(), value);
    device->release();
    QTRY_COMPARE(m_answerer->texts(), QStringList{"Completion"});
}

// A refusal has no error code of its own: the failure screen must not repeat the last update's message.
void TestDorvController::refusedActionShowsGenericFailure()
{
    cacheFreshAssistanceData();
    writeFile(modelFolder() + "/version.txt", "2.0.0.0");
    TestDevice::nextScript.updateResult = false;
    TestDevice::nextScript.updateErrorCode = 3;
    TestDevice::nextScript.blocked = {"alp"};
    TestDevice* device = plugAndSettle();
    QVERIFY(device);
    m_controller->updateDevice();
    QWidget* fail = screen("recover_fail_form");
    auto* message = fail->findChild<QLabel*>("msg_label");
    QTRY_VERIFY(fail->isVisible());
    QVERIFY(message->text().contains(kNotEnoughSpace));

    // Another action holds the device when the user asks.
    QVERIFY(device->updateAlp("AssitOff.alp", 1));
    QTRY_VERIFY(device->isWaiting());
    for (const QString& request : {QStringLiteral("update"), QStringLiteral("workout")}) {
        m_controller->show_fail_form(3);
        m_controller->show_index(false);
        QVERIFY(!fail->isVisible());
        if (request == "update")
            m_controller->updateDevice();
        else
            m_controller->updateWorkout();
        QVERIFY(fail->isVisible());
        QVERIFY2(message->text().contains(kGenericFailure), qPrintable(message->text()));
    }
    QCOMPARE(device->callCount("updateTotal"), 2);
    QCOMPARE(device->callCount("updateComponent"), 2);
    device->release();
    QTRY_VERIFY(!device->isBusy());
    QVERIFY(m_answerer->boxes.isEmpty());
}

void TestDorvController::unplugDuringUpdate_data()
{
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("replug");
    QTest::addColumn<bool>("completion");

    QTest::newRow("failed copy, no device left") << false << false << false;
    // The new device has no error of its own; its state must not decide the old update's screen.
    QTest::newRow("failed copy, another device plugged meanwhile") << false << true << false;
    QTest::newRow("finished copy, then pulled") << true << false << true;
}

void TestDorvController::unplugDuringUpdate()
{
    QFETCH(bool, result);
    QFETCH(bool, replug);
    QFETCH(bool, completion);

    cacheFreshAssistanceData();
    writeFile(modelFolder() + "/version.txt", "2.0.0.0");
    TestDevice::nextScript.updateResult = result;
    TestDevice::nextScript.updateErrorCode = result ? 0 : 4;
    TestDevice::nextScript.blocked = {"updateTotal"};
    TestDevice* pulled = plugAndSettle();
    QVERIFY(pulled);
    m_controller->show_update_form();
    m_controller->updateDevice();
    QTRY_VERIFY(pulled->isWaiting());
    auto* bar = child<QProgressBar>("SoftUpdateForm", "step_progressBar");
    QTRY_VERIFY(bar->value() > 0);

    unplug();
    QVERIFY(!JXDaemon::getInstance()->getClient());
    QVERIFY(screen("Dorv_Form")->isVisible());
    QVERIFY(!screen("SoftUpdateForm")->isVisible());
    verifyBarFrozen(bar);

    if (replug) {
        TestDevice::nextScript = DeviceScript();
        TestDevice::nextScript.uuid = "7001-0002";
        TestDevice::nextScript.alpExpiry = freshExpiry();
        TestDevice* second = plugAndSettle();
        QVERIFY(second);
        QVERIFY(second != pulled);
    }

    pulled->release();
    QWidget* complete = screen("recover_complete_form");
    QWidget* fail = screen("recover_fail_form");
    QTRY_VERIFY(complete->isVisible() || fail->isVisible());
    QCOMPARE(complete->isVisible(), completion);
    if (!completion)
        QVERIFY(fail->findChild<QLabel*>("msg_label")->text().contains(kGenericFailure));
    QVERIFY(m_answerer->boxes.isEmpty());
}

void TestDorvController::actionDoneWithoutClient_data()
{
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("expected"); // "fail screen", "gps button" or a box text

    QTest::newRow("software update") << int(JXClient::Action_UpdateTotal) << "fail screen";
    QTest::newRow("workout installation") << int(JXClient::Action_UpdateComponent) << kGenericFailure;
    QTest::newRow("assistance data") << int(JXClient::Action_UpdateAlp) << "gps button";
    QTest::newRow("other action") << int(JXClient::Action_ReadData) << "fail screen";
}

void TestDorvController::actionDoneWithoutClient()
{
    QFETCH(int, action);
    QFETCH(QString, expected);

    m_controller->start();
    manager()->dispatchActionDoneEvent(action);

    QWidget* fail = screen("recover_fail_form");
    QCOMPARE(fail->isVisible(), expected == "fail screen");
    QVERIFY(!screen("recover_complete_form")->isVisible());
    if (fail->isVisible())
        QVERIFY(fail->findChild<QLabel*>("msg_label")->text().contains(kGenericFailure));
    if (expected == "gps button")
        QVERIFY(child<QPushButton>("Dorv_Form", "gpsdata_update_button")->isEnabled());
    QCOMPARE(m_answerer->texts(), expected.startsWith("Fail") ? QStringList{expected} : QStringList());
}

// ---- Workout component -----------------------------------------------------------------------------------------

void TestDorvController::workoutCheckAndInstall_data()
{
    QTest::addColumn<bool>("checkResult");
    QTest::addColumn<bool>("installResult");
    QTest::addColumn<QString>("box");

    QTest::newRow("component found and installed") << true << true << "Completion";
    QTest::newRow("component found, installation fails") << true << false << kGenericFailure;
    QTest::newRow("no component in the package") << false << true << "Completion";
}

void TestDorvController::workoutCheckAndInstall()
{
    QFETCH(bool, checkResult);
    QFETCH(bool, installResult);
    QFETCH(QString, box);

    cacheFreshAssistanceData();
    TestDevice::nextScript.checkResult = checkResult;
    TestDevice::nextScript.installResult = installResult;
    TestDevice::nextScript.installErrorCode = installResult ? 0 : 4;
    TestDevice::nextScript.blocked = {"install"};
    TestDevice* device = plugAndSettle();
    QVERIFY(device);
    const QString package = modelFolder() + "/Total.zip";
    QCOMPARE(device->calls.last(), (QStringList{"updateComponent", package, QString(), QString(), "0"}));
    auto* workoutButton = child<QPushButton>("Dorv_Form", "workout_update_button");
    QVERIFY(workoutButton);
    // The silent check only ever enables the button; it never shows a result.
    QCOMPARE(workoutButton->isEnabled(), checkResult);
    QVERIFY(m_answerer->boxes.isEmpty());

    QVERIFY(!m_controller->showBusyMessage());
    m_controller->updateWorkout();
    QCOMPARE(device->calls.last(), (QStringList{"updateComponent", package, QString(), QString(), "1"}));
    QVERIFY(!workoutButton->isEnabled());
    auto* bar = child<QProgressBar>("Dorv_Form", "step_progressBar");
    QTRY_VERIFY(bar->value() >= 4);
    device->release();

    QTRY_COMPARE(m_answerer->texts(), QStringList{box});
    QVERIFY(m_answerer->boxes.first().centredOverMainWindow);
    QVERIFY(!m_answerer->boxes.first().parentIsMainWindow);
    QVERIFY(workoutButton->isEnabled());
    QVERIFY(bar->isHidden());
    QVERIFY(!screen("recover_fail_form")->isVisible());
    QVERIFY(!screen("recover_complete_form")->isVisible());
}

void TestDorvController::refusedCheckRunsAfterTheAction()
{
    // Fresh data cached, older data on the device: its installation starts at once and is held there.
    writeFile(modelFolder() + "/AssitOff.alp", "assistance data");
    writeFile(modelFolder() + "/date.txt", expiryBytes(freshExpiry()));
    TestDevice::nextScript.alpExpiry = 100;
    TestDevice::nextScript.blocked = {"alp"};
    TestDevice* device = plug();
    QVERIFY(device);
    QTRY_VERIFY(device->isWaiting());

    // The query ends while the installation runs, so the client refuses the silent check...
    QTRY_COMPARE(device->callCount("updateComponent"), 1);
    auto* workoutButton = child<QPushButton>("Dorv_Form", "workout_update_button");
    QVERIFY(!workoutButton->isEnabled());

    // ...which is made once the installation has ended, and enables the button.
    device->release();
    QTRY_COMPARE(device->callCount("updateComponent"), 2);
    QTRY_VERIFY(workoutButton->isEnabled());
    QCOMPARE(device->callCount("updateAlp"), 1);
    QCOMPARE(device->getAlpExpiredDate(), freshExpiry());
    QVERIFY(m_answerer->boxes.isEmpty());
}

// ---- Assistance data -------------------------------------------------------------------------------------------

void TestDorvController::assistanceDataFreshness_data()
{
    QTest::addColumn<QByteArray>("dateFile"); // empty: none
    QTest::addColumn<bool>("downloads");

    QTest::newRow("nothing cached") << QByteArray() << true;
    QTest::newRow("downloaded yesterday")
        << expiryBytes(ReriduruClient::expiryAfter(13, QDateTime::currentDateTime())) << true;
    QTest::newRow("date file of 3 bytes") << expiryBytes(freshExpiry()).left(3) << true;
    QTest::newRow("date file of 5 bytes") << expiryBytes(freshExpiry()) + "x" << true;
    QTest::newRow("downloaded today") << expiryBytes(freshExpiry()) << false;
}

void TestDorvController::assistanceDataFreshness()
{
    QFETCH(QByteArray, dateFile);
    QFETCH(bool, downloads);

    if (!dateFile.isEmpty()) {
        writeFile(modelFolder() + "/AssitOff.alp", "older data");
        writeFile(modelFolder() + "/date.txt", dateFile);
    }
    // The device holds data older than anything cached. No query ends, so no workout check competes.
    TestDevice::nextScript.alpExpiry = 100;
    m_server->setStall(kQueryPath);
    TestDevice* device = plug();
    QVERIFY(device);

    // Whatever was cached or downloaded reaches the device with today's expiry.
    QTRY_COMPARE_WITH_TIMEOUT(device->callCount("updateAlp"), 1, 10000);
    QCOMPARE(m_server->requestCount(kAlpPath), downloads ? 1 : 0);
    QCOMPARE(device->calls.first(), (QStringList{"updateAlp", "AssitOff.alp", QString::number(freshExpiry())}));
    QTRY_VERIFY(!device->isBusy());
    auto* gpsButton = child<QPushButton>("Dorv_Form", "gpsdata_update_button");
    QTRY_VERIFY(gpsButton->isEnabled());

    // With the device now as fresh as the cache, the button says so and sends nothing.
    QVERIFY(!m_controller->showBusyMessage());
    m_controller->updateAlp(true);
    QCOMPARE(m_answerer->texts(), QStringList{"GPS data on device is up-to-date"});
    QVERIFY(!m_answerer->boxes.first().parentIsMainWindow);
    QCOMPARE(device->callCount("updateAlp"), 1);
    QCOMPARE(m_server->requestCount(kAlpPath), downloads ? 1 : 0);
}

void TestDorvController::assistanceDownloadFails()
{
    // Data cached yesterday is still offered to a device that holds older data.
    const quint32 yesterdays = ReriduruClient::expiryAfter(13, QDateTime::currentDateTime());
    writeFile(modelFolder() + "/AssitOff.alp", "older data");
    writeFile(modelFolder() + "/date.txt", expiryBytes(yesterdays));
    m_server->setReply(kAlpPath, 500, "no");
    m_server->setStall(kQueryPath);
    TestDevice::nextScript.alpExpiry = 100;
    TestDevice* device = plug();
    QVERIFY(device);

    QTRY_COMPARE_WITH_TIMEOUT(m_answerer->texts(), QStringList{"Download GPS data failed."}, 10000);
    QCOMPARE(m_answerer->boxes.first().informativeText, QStringLiteral("Check the netwrok and try again."));
    QTRY_COMPARE(device->callCount("updateAlp"), 1);
    QCOMPARE(device->calls.first(), (QStringList{"updateAlp", "AssitOff.alp", QString::number(yesterdays)}));
}

void TestDorvController::assistanceDownloadOutlivesDevice()
{
    m_server->setStall(kAlpPath);
    m_controller->setTransferTimeout(500);
    TestDevice* device = plug();
    QVERIFY(device);
    QTRY_COMPARE(m_server->requestCount(kAlpPath), 1);
    unplug();

    // The stalled transfer times out; its end must install nothing anywhere.
    QTRY_COMPARE_WITH_TIMEOUT(m_answerer->texts(), QStringList{"Download GPS data failed."}, 10000);
    QCOMPARE(device->callCount("updateAlp"), 0);
}

// A failed download leaves no fresh data behind, so the button asks the server again.
void TestDorvController::assistanceButtonAfterFailedDownload()
{
    m_server->setReply(kAlpPath, 500, "no");
    TestDevice* device = plugAndSettle();
    QVERIFY(device);
    QTRY_COMPARE_WITH_TIMEOUT(m_answerer->texts(), QStringList{"Download GPS data failed."}, 10000);
    QCOMPARE(device->callCount("updateAlp"), 0);

    m_server->setReply(kAlpPath, 200, "assistance data");
    m_answerer->boxes.clear();
    QVERIFY(!m_controller->showBusyMessage());
    m_controller->updateAlp(true);
    QTRY_COMPARE(m_server->requestCount(kAlpPath), 2);
    QTRY_COMPARE_WITH_TIMEOUT(device->callCount("updateAlp"), 1, 10000);
    QCOMPARE(device->calls.last(), (QStringList{"updateAlp", "AssitOff.alp", QString::number(freshExpiry())}));
    QVERIFY(m_answerer->boxes.isEmpty());
}

// ---- Release note and server choice ----------------------------------------------------------------------------

void TestDorvController::releaseNoteFollowsDevice()
{
    const QString firstModel = "Zelto70";
    const QString secondModel = "Zelto71";
    writeFile(modelFolder(firstModel) + "/note.txt", QString::fromUtf8("Größere Karten ✓").toUtf8());
    writeFile(modelFolder(secondModel) + "/note.txt", "Second model's note");

    // Unread until a device is there.
    QCOMPARE(m_controller->getReleaseNote(), QStringLiteral("empty"));
    cacheFreshAssistanceData();
    QVERIFY(plugAndSettle());
    QCOMPARE(m_controller->getReleaseNote(), QString::fromUtf8("Größere Karten ✓"));

    unplug();
    TestDevice::nextScript.model = secondModel;
    cacheFreshAssistanceData();
    QVERIFY(plugAndSettle());
    QCOMPARE(m_controller->getReleaseNote(), QStringLiteral("Second model's note"));
}

void TestDorvController::betaServerChoice_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("beta");

    QTest::newRow("the application's own") << DorvApp::getVersion() << false;
    QTest::newRow("even fourth part") << "1.0.0.64" << false;
    QTest::newRow("odd fourth part") << "1.0.0.65" << true;
    QTest::newRow("three parts") << "1.0.64" << true;
    QTest::newRow("five parts") << "1.0.0.64.1" << true;
    QTest::newRow("fourth part not a number") << "1.0.0.x" << false;
}

void TestDorvController::betaServerChoice()
{
    QFETCH(QString, version);
    QFETCH(bool, beta);

    QCOMPARE(DorvController::isBetaVersion(version), beta);
}

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

// The screens reach the controller through the running application, so the test runs inside a DorvApp.
int main(int argc, char* argv[])
{
    DorvApp app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestDorvController test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dorvcontroller.moc"
