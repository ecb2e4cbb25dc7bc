#include <QtTest>

#include <QDataStream>
#include <QJsonDocument>
#include <QLabel>
#include <QMovie>
#include <QNetworkProxy>
#include <QPushButton>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "device/jxclient.h"
#include "dorvapp.h"
#include "dorvcontroller.h"
#include "jxdaemon.h"
#include "jxenv.h"
#include "jxrealmount.h"
#include "jxsimulatedsystem.h"
#include "jxtestpackage.h"
#include "messageboxanswerer.h"
#include "reriduruclient.h"
#include "testhttpserver.h"

namespace {

const char* const kQueryPath = "/versions/index";
const char* const kPackagePath = "/packages/Total.zip";
const QString kModel = QStringLiteral("Zelto");
const QByteArray kDescription = "[MODEL]\nModel=Zelto\n[UUID]\nUUID=ZE01000000000001\n"
                                "[OS]\nVersion=1.0.0.1\n[BootLoader]\nVersion=B1\n";

// Made in main before the application, because the start-up reads them.
QTemporaryDir* s_folder = nullptr;
JXSimulatedSystem* s_system = nullptr;
TestHttpServer* s_server = nullptr;

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray expiryBytes(quint32 expiry)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << expiry;
    return bytes;
}

QString translated(const char* context, const char* text)
{
    return QCoreApplication::translate(context, text);
}

// Reads a FIFO until its writer closes it, on a thread of its own: the blocking open waits for the writer.
class FifoDrain
{
public:
    explicit FifoDrain(const QString& path) : m_path(QFile::encodeName(path))
    {
        m_thread = std::thread([this] {
            const int fd = ::open(m_path.constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                return;
            char buffer[65536];
            while (::read(fd, buffer, sizeof buffer) > 0) {
            }
            ::close(fd);
        });
    }
    ~FifoDrain()
    {
        // A writer that never came: open and close one, so that the reader sees the end.
        const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
        m_thread.join();
    }

private:
    QByteArray m_path;
    std::thread m_thread;
};

} // namespace

// The whole updater against a local update server and a simulated device: the real start-up, daemon, device
// manager, detection thread, platform discovery, file-update driver, controller and screens. The user's part is
// played by pressing the screens' buttons.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void softwareUpdate_data();
    void softwareUpdate();
    void completionShowsDevicePluggedLater();
    void hostileModelNameStaysInside();

private:
    // A Vexmor stick of its own disk name, mounted on volume, whose description file gives the model and versions.
    bool plugStick(const QString& volume, const QByteArray& description = kDescription);
    void pressUpdateSoftware();
    // The server offers version 2.0.0.0: a package with a newer boot loader and system image.
    bool serveUpdate(const QByteArray& bootImage, const QByteArray& osImage);

    QScopedPointer<QTemporaryDir> m_userData;
    QScopedPointer<MessageBoxAnswerer> m_answerer;
    QString m_diskName;
    int m_diskNumber = 0;
    QByteArray m_package;
};

void TestEndToEnd::initTestCase()
{
    m_answerer.reset(new MessageBoxAnswerer);
    DorvApp* app = DorvApp::instance();
    QVERIFY(app);
    QCOMPARE(app->init(), 0);
    app->getController()->start();
    QVERIFY(!JXDaemon::getInstance()->getClient());
}

void TestEndToEnd::init()
{
    m_userData.reset(new QTemporaryDir);
    QVERIFY(m_userData->isValid());
    JXEnv::getInstance()->setUserDataBaseFolder(m_userData->path());
    m_answerer->boxes.clear();
    m_diskName.clear();
}

void TestEndToEnd::cleanup()
{
    if (!m_diskName.isEmpty() && JXDaemon::getInstance()->getClient()) {
        s_system->pull(m_diskName);
        QTRY_VERIFY_WITH_TIMEOUT(!JXDaemon::getInstance()->getClient(), 10000);
    }
    m_userData.reset();
}

bool TestEndToEnd::plugStick(const QString& volume, const QByteArray& description)
{
    if (!writeFile(volume + "/System/device.txt", description))
        return false;
    const int number = ++m_diskNumber;
    JXSimulatedSystem::Disk disk;
    disk.name = QStringLiteral("sd") + QChar('b' + number);
    disk.minor = quint32(16 * number);
    disk.host = 6 + number;
    disk.genericName = QStringLiteral("sg%1").arg(number);
    m_diskName = disk.name;
    return s_system->addDisk(disk) && s_system->addPartition(disk.name, disk.name + "1", disk.minor + 1) &&
           s_system->mount(disk.name + "1", volume);
}

bool TestEndToEnd::serveUpdate(const QByteArray& bootImage, const QByteArray& osImage)
{
    m_package =
        JXTestPackage::packageBytes("[BootLoader]\nName=boot.bin\nVersion=B2\n[OS]\nName=os.bin\nVersion=2.0.0.0\n",
                                    {{"boot.bin", bootImage}, {"os.bin", osImage}});
    const QVariantList reply{QVariantMap{{"name", "Total"},
                                         {"version", "2.0.0.0"},
                                         {"url", s_server->url(kPackagePath)},
                                         {"note", "Faster maps"},
                                         {"md5hash", ""}}};
    s_server->setReply(kQueryPath, 200, QJsonDocument::fromVariant(reply).toJson());
    s_server->setReply(kPackagePath, 200, m_package);
    return !m_package.isEmpty();
}

void TestEndToEnd::pressUpdateSoftware()
{
    QWidget* mainWindow = findScreen("Dorv_Form");
    QVERIFY(mainWindow && mainWindow->isVisible());
    auto* button = mainWindow->findChild<QPushButton*>("soft_update_button");
    QVERIFY(button && button->isEnabled());
    button->click();
}

void TestEndToEnd::softwareUpdate_data()
{
    QTest::addColumn<QString>("situation");

    QTest::newRow("newer package") << "normal";
    QTest::newRow("volume too small") << "full";
    QTest::newRow("server down") << "server down";
    QTest::newRow("device pulled during the copy") << "pulled";
}

void TestEndToEnd::softwareUpdate()
{
    QFETCH(QString, situation);

    const QByteArray bootImage = JXTestPackage::seededBytes(4096, 1);
    const QByteArray osImage =
        situation == "full" ? QByteArray(2 * 1024 * 1024, '\0') : JXTestPackage::seededBytes(70000, 2);
    QVERIFY(serveUpdate(bootImage, osImage));
    const bool serverDown = situation == "server down";
    if (serverDown) {
        // Both servers at a port where nothing listens any more.
        TestHttpServer gone;
        QVERIFY(gone.listen());
        const QString address = gone.baseUrl();
        gone.close();
        qputenv("JX_RELEASE_UPDATE_URL", (address + kQueryPath).toUtf8());
        qputenv("JX_ASSIST_HOST", address.toUtf8());
    }
    auto pointAtServer = qScopeGuard([] {
        qputenv("JX_RELEASE_UPDATE_URL", s_server->url(kQueryPath).toUtf8());
        qputenv("JX_ASSIST_HOST", s_server->baseUrl().toUtf8());
    });

    const QString volume = s_folder->path() + "/volume-" + QString::number(m_diskNumber + 1);
    JXRealMount smallVolume;
    if (situation == "full") {
        if (!JXRealMount::isPossible())
            QSKIP("a size-limited volume needs root to mount a tmpfs");
        QVERIFY(QDir().mkpath(volume));
        QVERIFY(smallVolume.mountTmpfs(volume, "1m"));
    }
    if (!serverDown) {
        // Assistance data fresh today on the computer and the device: no assistance action competes with the
        // update.
        const quint32 expiry = ReriduruClient::expiryAfter(14, QDateTime::currentDateTime());
        const QString cache = m_userData->path() + "/updates/" + kModel;
        QVERIFY(writeFile(cache + "/AssitOff.alp", "assistance data"));
        QVERIFY(writeFile(cache + "/date.txt", expiryBytes(expiry)));
        QVERIFY(writeFile(volume + "/System/AssitOff.alp", "assistance data"));
        QVERIFY(writeFile(volume + "/System/date.txt", expiryBytes(expiry)));
    }
    // The driver writes os.bin under the hidden name ".os.bin.part" until it reads back equal. Its open of that
    // name waits on this FIFO until the test has pulled the device; the flush of what it then writes fails, as it
    // does on a device that is gone.
    if (situation == "pulled")
        QCOMPARE(::mkfifo(QFile::encodeName(volume + "/.os.bin.part").constData(), 0644), 0);

    // Plug: the detection thread sees the stick, the driver is made, the controller shows it and asks the server.
    const int queriesBefore = s_server->requestCount(kQueryPath);
    QVERIFY(plugStick(volume));
    QTRY_VERIFY_WITH_TIMEOUT(JXDaemon::getInstance()->getClient(), 10000);
    JXClient* client = JXDaemon::getInstance()->getClient();
    QWidget* mainWindow = findScreen("Dorv_Form");
    QCOMPARE(mainWindow->findChild<QLabel*>("uuid_info_label")->text(), QStringLiteral("ZE01000000000001"));
    auto* badge = mainWindow->findChild<QLabel*>("download_count_label");
    if (serverDown) {
        QTRY_COMPARE_WITH_TIMEOUT(m_answerer->texts(),
                                  QStringList{translated("dorvcontroller", "Download GPS data failed.")}, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(mainWindow->findChild<QLabel*>("download_indicator")->isHidden(), 10000);
        QVERIFY(badge->isHidden());
        QTRY_VERIFY(!client->isBusy());
        // The failed check is not taken for an answer; with the server back, the press asks it again.
        pointAtServer.dismiss();
        qputenv("JX_RELEASE_UPDATE_URL", s_server->url(kQueryPath).toUtf8());
        qputenv("JX_ASSIST_HOST", s_server->baseUrl().toUtf8());
        pressUpdateSoftware();
        QCOMPARE(m_answerer->texts().last(),
                 translated("dorvcontroller", "Checking for new software failed. Please try again later."));
        QVERIFY(!findScreen("SoftUpdateForm")->isVisible());
        QTRY_COMPARE(s_server->requestCount(kQueryPath), queriesBefore + 1);
        QTRY_VERIFY_WITH_TIMEOUT(!badge->isHidden(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!client->isBusy(), 10000);
        pressUpdateSoftware();
        QVERIFY(findScreen("SoftUpdateForm")->isVisible());
        QVERIFY(!QFileInfo::exists(volume + "/update.ini"));
        return;
    }
    // The update count appears once the package is cached; the silent workout check then ends.
    QTRY_VERIFY_WITH_TIMEOUT(!badge->isHidden(), 10000);
    QCOMPARE(s_server->requestCount(kQueryPath), queriesBefore + 1);
    QCOMPARE(readFile(m_userData->path() + "/updates/" + kModel + "/Total.zip"), m_package);
    QTRY_VERIFY_WITH_TIMEOUT(!client->isBusy(), 10000);

    pressUpdateSoftware();
    QWidget* dialog = findScreen("SoftUpdateForm");
    QVERIFY(dialog->isVisible());
    auto* confirm = dialog->findChild<QPushButton*>("soft_update_button");
    QVERIFY(confirm && confirm->isEnabled());
    confirm->click();
    QVERIFY(client->isBusy());

    QWidget* complete = findScreen("recover_complete_form");
    QWidget* fail = findScreen("recover_fail_form");
    auto* failMessage = fail->findChild<QLabel*>("msg_label");
    if (situation == "pulled") {
        QTRY_COMPARE_WITH_TIMEOUT(readFile(volume + "/boot.bin"), bootImage, 10000);
        QVERIFY(s_system->pull(m_diskName));
        QTRY_VERIFY_WITH_TIMEOUT(!JXDaemon::getInstance()->getClient(), 10000);
        QVERIFY(mainWindow->isVisible());
        QVERIFY(!dialog->isVisible());
        {
            FifoDrain drain(volume + "/.os.bin.part");
            QTRY_VERIFY_WITH_TIMEOUT(fail->isVisible(), 30000);
        }
        QVERIFY(!complete->isVisible());
        QVERIFY2(failMessage->text().contains(translated("recover_fail_form", "Fail. Please try again later.")),
                 qPrintable(failMessage->text()));
        QVERIFY(!QFileInfo::exists(volume + "/update.ini"));
        QVERIFY(m_answerer->boxes.isEmpty());
        return;
    }

    QTRY_VERIFY_WITH_TIMEOUT(complete->isVisible() || fail->isVisible(), 30000);
    QVERIFY(!dialog->isVisible());
    QVERIFY(!mainWindow->isVisible());
    QVERIFY(m_answerer->boxes.isEmpty());
    if (situation == "full") {
        QVERIFY(fail->isVisible());
        QVERIFY2(failMessage->text().contains(translated("recover_fail_form", "Not_Enough_Space_Msg")),
                 qPrintable(failMessage->text()));
        QVERIFY(!QFileInfo::exists(volume + "/boot.bin"));
        QVERIFY(!QFileInfo::exists(volume + "/os.bin"));
        QVERIFY(!QFileInfo::exists(volume + "/update.ini"));
        return;
    }
    QVERIFY(complete->isVisible());
    QCOMPARE(readFile(volume + "/boot.bin"), bootImage);
    QCOMPARE(readFile(volume + "/os.bin"), osImage);
    QCOMPARE(readFile(volume + "/update.ini"), QByteArray());
}

// The updater started with no device, so the completion screen was built without one; the bike computer plugged in
// later updates to that screen, which then shows the bike computer's animation.
void TestEndToEnd::completionShowsDevicePluggedLater()
{
    const QString model = QStringLiteral("Zelto70");
    const QByteArray osImage = JXTestPackage::seededBytes(70000, 3);
    QVERIFY(serveUpdate(JXTestPackage::seededBytes(4096, 4), osImage));

    // Assistance data fresh today on both sides: no assistance action competes with the update.
    const QString volume = s_folder->path() + "/volume-" + QString::number(m_diskNumber + 1);
    const quint32 expiry = ReriduruClient::expiryAfter(14, QDateTime::currentDateTime());
    const QString cache = m_userData->path() + "/updates/" + model;
    QVERIFY(writeFile(cache + "/AssitOff.alp", "assistance data"));
    QVERIFY(writeFile(cache + "/date.txt", expiryBytes(expiry)));
    QVERIFY(writeFile(volume + "/System/AssitOff.alp", "assistance data"));
    QVERIFY(writeFile(volume + "/System/date.txt", expiryBytes(expiry)));

    QWidget* complete = findScreen("recover_complete_form");
    QVERIFY(complete && !complete->isVisible());
    QVERIFY(!JXDaemon::getInstance()->getClient());
    QVERIFY(plugStick(volume, "[MODEL]\nModel=Zelto70\n[UUID]\nUUID=ZE70000000000001\n"
                              "[OS]\nVersion=1.0.0.1\n[BootLoader]\nVersion=B1\n[Product]\nType=Bike\n"));
    QTRY_VERIFY_WITH_TIMEOUT(JXDaemon::getInstance()->getClient(), 10000);
    JXClient* client = JXDaemon::getInstance()->getClient();
    QCOMPARE(client->getDeviceType(), 1);
    // The main window shows the model's own picture, the one the animation draws.
    QWidget* mainWindow = findScreen("Dorv_Form");
    QCOMPARE(mainWindow->findChild<QLabel*>("device_label")->styleSheet(),
             QStringLiteral("background-image: url(:/device/Zelto70_device.png)"));
    QTRY_VERIFY_WITH_TIMEOUT(!mainWindow->findChild<QLabel*>("download_count_label")->isHidden(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!client->isBusy(), 10000);

    pressUpdateSoftware();
    auto* confirm = findScreen("SoftUpdateForm")->findChild<QPushButton*>("soft_update_button");
    QVERIFY(confirm && confirm->isEnabled());
    confirm->click();
    QTRY_VERIFY_WITH_TIMEOUT(complete->isVisible() || findScreen("recover_fail_form")->isVisible(), 30000);
    QVERIFY(complete->isVisible());
    QCOMPARE(readFile(volume + "/os.bin"), osImage);
    QMovie* movie = complete->findChild<QLabel*>("pic_label")->movie();
    QVERIFY(movie);
    QCOMPARE(movie->fileName(), QStringLiteral(":/zelto_release_cable.gif"));
    QCOMPARE(movie->state(), QMovie::Running);
    QVERIFY(m_answerer->boxes.isEmpty());
}

// A description file whose model name climbs out of the per-model folder: the device is not taken for one, and
// nothing is asked for it or written anywhere. A good stick plugged after it is served as usual.
void TestEndToEnd::hostileModelNameStaysInside()
{
    // The user-data folder sits four levels below a scratch folder, where the escaped cache would land.
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString userData = scratch.path() + "/a/b/c/data";
    QVERIFY(QDir().mkpath(userData));
    JXEnv::getInstance()->setUserDataBaseFolder(userData);
    s_server->setReply(kQueryPath, 200, "[]");
    const int requestsBefore = s_server->requestTargets().size();

    const QString model = QStringLiteral("../../../../escaped-model");
    const QString hostileVolume = s_folder->path() + "/volume-" + QString::number(m_diskNumber + 1);
    QVERIFY(plugStick(hostileVolume, "[MODEL]\nModel=" + model.toUtf8() + "\n[UUID]\nUUID=ZE01000000000009\n"
                                     "[OS]\nVersion=1.0.0.1\n"));
    const QString hostileDisk = m_diskName;
    const auto pullHostile = qScopeGuard([&] { s_system->pull(hostileDisk); });
    const QString goodVolume = s_folder->path() + "/volume-" + QString::number(m_diskNumber + 1);
    QVERIFY(plugStick(goodVolume));
    QTRY_VERIFY_WITH_TIMEOUT(JXDaemon::getInstance()->getClient(), 10000);
    JXClient* client = JXDaemon::getInstance()->getClient();
    QString name;
    client->getName(name);
    QCOMPARE(name, kModel);
    QTRY_VERIFY_WITH_TIMEOUT(s_server->requestCount(kQueryPath) > 0 && !client->isBusy(), 10000);

    const QList<QByteArray> requests = s_server->requestTargets().mid(requestsBefore);
    for (const QByteArray& target : requests)
        QVERIFY2(!target.contains("escaped"), target.constData());
    QDirIterator walk(scratch.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                      QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QString path = walk.next();
        QVERIFY2(!path.contains("escaped"), qPrintable(path));
    }
    QVERIFY(!QFileInfo::exists(QDir::cleanPath(userData + "/updates/" + model)));
    QVERIFY(!QFileInfo::exists(QDir::cleanPath(JXEnv::getInstance()->getTmpFolder() + "/" + model)));
    QCOMPARE(readFile(hostileVolume + "/System/device.txt").left(6), QByteArray("[MODEL"));
    QVERIFY(m_answerer->boxes.isEmpty());
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

int main(int argc, char* argv[])
{
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    s_folder = &folder;
    JXSimulatedSystem system(folder.path() + "/root");
    s_system = &system;
    qputenv("JX_SYSTEM_ROOT", system.root().toUtf8());

    DorvApp app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);

    TestHttpServer server;
    if (!server.listen())
        return 1;
    s_server = &server;
    qputenv("JX_RELEASE_UPDATE_URL", server.url(kQueryPath).toUtf8());
    qputenv("JX_BETA_UPDATE_URL", server.url(kQueryPath).toUtf8());
    qputenv("JX_ASSIST_HOST", server.baseUrl().toUtf8());

    TestEndToEnd test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_endtoend.moc"
