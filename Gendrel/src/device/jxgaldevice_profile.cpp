#include "device/jxgaldevice.h"

#include <QFile>

#include "gal/libgal.h"
#include "jxenv.h"
#include "jxlog.h"
#include "python/acquiregil.h"
#include "python/galapi.h"
#include "python/pqhelper.h"

namespace {

// The separator the library wants between a drive path and its own names.
QString separatorText()
{
    char separator[8] = "/";
    SetPathDirect(separator);
    separator[sizeof separator - 1] = '\0';
    return QString::fromLatin1(separator);
}

QString workingFile(const char* name)
{
    return JXEnv::getInstance()->getTmpFolder() + separatorText() + QLatin1String(name);
}

// A path for one of the library's 256-byte buffers; empty when it does not fit.
QByteArray libraryPath(const QString& path)
{
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.size() >= GAL_PATH_SIZE) {
        JX_CRITICAL << "path too long for the device library:" << path;
        return QByteArray();
    }
    return bytes;
}

// The profile as the library reads it, in "pfread.ini"; empty when it cannot.
QString GAL_GetProfile(const QString& dir)
{
    const QString path = workingFile("pfread.ini");
    QFile::remove(path);
    const QByteArray dirBytes = libraryPath(dir);
    const QByteArray pathBytes = libraryPath(path);
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

} // namespace

bool JXGalDevice::prepareUploadProfile(QString target)
{
    QString drive;
    // Without a volume the library would be handed the separator alone, the root of the computer.
    if (!getDrive(drive)) {
        JX_WARNING << "prepareUploadProfile: no volume";
        return false;
    }
    const QString ini = GAL_GetProfile(drive + separatorText());
    if (ini.isEmpty())
        return false;
    AcquireGIL gil(!onMainThread());
    JX_DEBUG << "GIL for CreateProfileXml";
    const auto module = JXScriptModule::importModule(QStringLiteral("galapi"));
    if (!module) {
        JX_CRITICAL << "Failed import galapi";
        return false;
    }
    const QVariant result = module->call(QStringLiteral("CreateProfileXml"), {ini, target});
    return result.isValid() && result.toBool();
}

bool JXGalDevice::saveProfile(QMap<QString, QString> profile)
{
    const QString ini = workingFile("pfwrite.ini");
    QFile::remove(ini);
    const QStringList keys = profile.keys();
    const QStringList values = profile.values();
    {
        AcquireGIL gil(!onMainThread());
        JX_DEBUG << "GIL for CreateProfileIni";
        const auto module = JXScriptModule::importModule(QStringLiteral("galapi"));
        if (!module) {
            JX_CRITICAL << "Failed import galapi";
            return false;
        }
        const QVariant result = module->call(QStringLiteral("CreateProfileIni"), {keys, values, ini});
        if (!result.isValid() || !result.toBool()) {
            JX_CRITICAL << "CreateProfileIni failed";
            return false;
        }
    }
    QString drive;
    if (!getDrive(drive)) {
        JX_WARNING << "saveProfile: no volume";
        return false;
    }
    const QByteArray dirBytes = libraryPath(drive + separatorText());
    const QByteArray iniBytes = libraryPath(ini);
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
