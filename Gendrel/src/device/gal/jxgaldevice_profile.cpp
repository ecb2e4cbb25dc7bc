#include "device/gal/jxgaldevice.h"

#include <QFile>

#include "gal/libgal.h"
#include "jxenv.h"
#include "jxgallibrary.h"
#include "jxlog.h"
#include "python/acquiregil.h"
#include "python/galapi.h"
#include "python/pqhelper.h"

namespace {

QString workingFile(const char* name)
{
    return JXEnv::getInstance()->getTmpFolder() + JXGalLibrary::separator() + QLatin1String(name);
}

// The profile as the library reads it, in "pfread.ini"; empty when it cannot.
QString GAL_GetProfile(const QString& dir)
{
    const QString path = workingFile("pfread.ini");
    QFile::remove(path);
    const QByteArray dirBytes = JXGalLibrary::text(dir);
    const QByteArray pathBytes = JXGalLibrary::text(path);
    if (dirBytes.isEmpty() || pathBytes.isEmpty())
        return QString();
    if (!GetProfile(dirBytes.constData(), pathBytes.constData())) {
        JX_WARNING << "GetProfile failed for" << dir;
        return QString();
    }
    return path;
}

bool onMainThread()
{
    return JXEnv::getInstance()->isMainThread();
}

// Calls a function of the script module with the interpreter held; true when it ran and answered true.
bool callScript(const QString& function, const QVariantList& arguments)
{
    AcquireGIL gil(!onMainThread());
    JX_DEBUG << "GIL for" << function;
    const auto module = JXScriptModule::importModule(QStringLiteral("galapi"));
    if (!module) {
        JX_CRITICAL << "Failed import galapi";
        return false;
    }
    const QVariant result = module->call(function, arguments);
    return result.isValid() && result.toBool();
}

} // namespace

bool JXGalDevice::prepareUploadProfile(QString target)
{
    QString drive;
    // Without a volume the library would be handed the separator alone, the root of the computer.
    if (!getDrive(drive)) {
        JX_WARNING << "prepareUploadProfile: no volume";
        return false;
    }
    const QString ini = GAL_GetProfile(drive + JXGalLibrary::separator());
    if (ini.isEmpty())
        return false;
    return callScript(QStringLiteral("CreateProfileXml"), {ini, target});
}

bool JXGalDevice::saveProfile(QMap<QString, QString> profile)
{
    const QString ini = workingFile("pfwrite.ini");
    QFile::remove(ini);
    const QStringList keys = profile.keys();
    const QStringList values = profile.values();
    if (!callScript(QStringLiteral("CreateProfileIni"), {keys, values, ini})) {
        JX_CRITICAL << "CreateProfileIni failed";
        return false;
    }
    QString drive;
    if (!getDrive(drive)) {
        JX_WARNING << "saveProfile: no volume";
        return false;
    }
    const QByteArray dirBytes = JXGalLibrary::text(drive + JXGalLibrary::separator());
    const QByteArray iniBytes = JXGalLibrary::text(ini);
    if (dirBytes.isEmpty() || iniBytes.isEmpty())
        return false;
    if (!RefreshProfile(dirBytes.constData(), iniBytes.constData())) {
        JX_CRITICAL << "RefreshProfile failed for" << drive;
        return false;
    }
    return true;
}

bool JXGalDevice::setShareData(QString zipPath)
{
    QString drive;
    if (!getDrive(drive))
        return false;
    {
        AcquireGIL gil(!onMainThread());
        JX_DEBUG << "gal setShareData";
        if (PythonCppBridge* bridge = PythonCppBridge::getInstance())
            bridge->galWriteZip(drive, zipPath);
    }
    // The bridge writes nothing, so nothing reached the device.
    JX_WARNING << "setShareData: share data is not supported for this device family";
    return false;
}

QString JXGalDevice::libraryProfileFile(const QString& dir)
{
    return GAL_GetProfile(dir);
}
