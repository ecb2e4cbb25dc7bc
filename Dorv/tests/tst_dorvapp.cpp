#include <QtTest>

#include <QLabel>
#include <QNetworkProxy>
#include <QTemporaryDir>

#include "device/jxclient.h"
#include "device/jxdevicemanager.h"
#include "dorvapp.h"
#include "dorvcontroller.h"
#include "jxdaemon.h"
#include "jxenv.h"
#include "jxsimulatedsystem.h"
#include "messageboxanswerer.h"
#include "testhttpserver.h"

namespace {

const char* const kQueryPath = "/versions/index";

// Made in main before the application, because the start-up reads them.
QTemporaryDir* s_folder = nullptr;
TestHttpServer* s_server = nullptr;

} // namespace

// The start-up as main runs it: environment, translation, device side and controller, with a device that was
// plugged in before the program started and a system locale that has no translation of its own.
class TestDorvApp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        JXSimulatedSystem system(s_folder->path() + "/root");
        QVERIFY(system.addVexmorStick(s_folder->path() + "/volume"));
        qputenv("JX_SYSTEM_ROOT", system.root().toUtf8());

        DorvApp* app = DorvApp::instance();
        QVERIFY(app);
        QCOMPARE(app->init(), 0);
        QVERIFY(app->getController());
        app->getController()->start();
    }

    void fallsBackToEnglishTranslation()
    {
        QCOMPARE(QLocale::system().name(), QStringLiteral("de_DE"));
        QFile log(JXEnv::getInstance()->getUserDataBaseFolder() + "/dorvupdate.log");
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray expected = "/qorl_de_de.qm\" can not found";
        QVERIFY2(log.readAll().contains(expected), expected.constData());
        // The English file is installed in its place.
        QCOMPARE(QCoreApplication::translate("dorvcontroller", "Checking new version now"),
                 QStringLiteral("Checking for a new version now."));
    }

    void startsOnlyTheFileUpdateFamily()
    {
        JXDeviceManager* manager = JXDaemon::getInstance()->getDeviceManager();
        QCOMPARE(manager->getManagedDeviceType(), JXDeviceManager::DEVICE_TYPE_FIT);
        // No built-in row: only the one discovery made for the plugged device.
        QCOMPARE(manager->getRegistryDevices().size(), 1);
    }

    void showsDevicePluggedBeforeStart()
    {
        QVERIFY(JXDaemon::getInstance()->getClient());
        QWidget* mainWindow = findScreen("Dorv_Form");
        QVERIFY(mainWindow);
        QVERIFY(mainWindow->isVisible());
        auto* uuid = mainWindow->findChild<QLabel*>("uuid_info_label");
        QVERIFY(uuid);
        QCOMPARE(uuid->text(), QStringLiteral("ZE01000000000001"));
        // The update server was asked at once, for the release channel of version 1.0.0.64.
        QTRY_COMPARE(s_server->requestCount(kQueryPath), 1);
        QVERIFY(!DorvApp::instance()->getController()->isBetaVersion());
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

int main(int argc, char* argv[])
{
    // The system locale comes from the environment; this one has no translation file.
    qputenv("LC_ALL", "de_DE.UTF-8");
    QTemporaryDir folder;
    s_folder = &folder;
    DorvApp app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);

    TestHttpServer server;
    if (!server.listen())
        return 1;
    s_server = &server;
    server.setReply(kQueryPath, 200, "[]");
    server.setReply("/current_14d.alp", 200, "assistance data");
    qputenv("JX_RELEASE_UPDATE_URL", server.url(kQueryPath).toUtf8());
    qputenv("JX_BETA_UPDATE_URL", server.url(kQueryPath).toUtf8());
    qputenv("JX_ASSIST_HOST", server.baseUrl().toUtf8());

    TestDorvApp test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dorvapp.moc"
