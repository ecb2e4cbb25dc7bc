#include "dorvapp.h"

#include <QFile>
#include <QLocale>

#include "device/jxdevicemanager.h"
#include "dorvcontroller.h"
#include "jxdaemon.h"
#include "jxenv.h"
#include "jxlog.h"

namespace {

const char* const kVersion = "1.0.0.64";
const char* const kFallbackTranslation = "qorl_en_us.qm";

} // namespace

DorvApp::DorvApp(int& argc, char** argv) : QApplication(argc, argv) {}

DorvApp::~DorvApp() = default;

QString DorvApp::getVersion()
{
    return QString::fromLatin1(kVersion);
}

DorvApp* DorvApp::instance()
{
    return qobject_cast<DorvApp*>(QCoreApplication::instance());
}

QString DorvApp::translationFile(const QString& localeName)
{
    JXEnv* env = JXEnv::getInstance();
    const QString path = env->getResourcePath(QStringLiteral("qorl_%1.qm").arg(localeName.toLower()));
    JX_DEBUG << path;
    if (QFile::exists(path))
        return path;
    JX_CRITICAL << path << "can not found";
    return env->getResourcePath(QString::fromLatin1(kFallbackTranslation));
}

int DorvApp::init()
{
    JXEnv::getInstance()->init(QStringLiteral("both"), QStringLiteral("dorvupdate.log"));

    // An untranslated interface is still usable, so a failed load is not reported.
    m_translator.load(translationFile(QLocale::system().name()));
    installTranslator(&m_translator);

    JXDaemon* daemon = JXDaemon::getInstance();
    daemon->getDeviceManager()->setManagedDeviceType(JXDeviceManager::DEVICE_TYPE_FIT);
    // The built-in rows of the older models are not wanted here.
    daemon->start(false);

    createController();
    return 0;
}

void DorvApp::createController()
{
    // The old controller goes first, so that only one listens to the device manager at a time.
    m_controller.reset();
    m_controller.reset(new DorvController);
}
