#include "device/gal/jxgaldevice.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>

#include "jxenv.h"
#include "jxlog.h"
#include "python/acquiregil.h"
#include "python/galapi.h"

namespace {

// The restore package names its images; a name that leaves the folder is refused.
bool readImageName(const QString& folder, QString& name)
{
    const QString release = folder + QLatin1String("/release.ini");
    if (!QFileInfo::exists(release)) {
        JX_CRITICAL << "release.ini not found";
        return false;
    }
    name = QSettings(release, QSettings::IniFormat).value(QStringLiteral("Name")).toString();
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) || name.contains(QLatin1String(".."))) {
        JX_CRITICAL << "release.ini names" << name << "outside its folder";
        return false;
    }
    return true;
}

} // namespace

bool JXGalDevice::_restoreFactory(QString folder)
{
    switch (getUpdateMethod()) {
    case 1: return restoreFactoryMethod1(folder);
    case 2: return restoreFactoryMethod2(folder);
    default:
        JX_CRITICAL << "unknown update method" << getUpdateMethod() << "in device.ini: no factory restore";
        return false;
    }
}

bool JXGalDevice::restoreFactoryMethod1(QString)
{
    // The device restores itself from a forced update.
    JXEnv::getInstance()->setForceDeviceUpdate(true);
    return false;
}

bool JXGalDevice::restoreFactoryMethod2(QString folder)
{
    if (getState() == State_WaitForRestore) {
        if (!isScsiService()) {
            JX_CRITICAL << "fail to enter IAP mode";
            m_error = true;
            return false;
        }
        const bool result = updateFlashes(restoreFolder);
        setStateWithMatch(getState(), State_InService);
        if (!result) {
            m_error = true;
            return false;
        }
        return true;
    }

    // Once ejected the device only takes flash writes: the package must name its images before it goes.
    QString name;
    QString drive;
    if (!readImageName(folder, name))
        return false;
    if (!getDrive(drive) || drive.isEmpty()) {
        JX_CRITICAL << "restoreFactory: no volume";
        return false;
    }
    if (!setStateWithMatch(getState(), State_WaitForRestore)) {
        JX_CRITICAL << "restoreFactory: can not wait for the device";
        return false;
    }
    // Reported as the silent action: the restore ends with the second visit.
    m_action = Action_Silent;
    restoreFolder = folder;
    return leaveForBootLoader(State_WaitForRestore);
}

QStringList JXGalDevice::saveDeviceRawData(QString target)
{
    AcquireGIL gil(!JXEnv::getInstance()->isMainThread());
    JX_DEBUG << "saveDeviceRawData";
    const auto module = JXScriptModule::importModule(QStringLiteral("galapi"));
    if (!module) {
        JX_CRITICAL << "Failed import galapi";
        return QStringList();
    }
    if (!module->has(QStringLiteral("ExportPmz"))) {
        JX_CRITICAL << "ExportPmz function not found";
        return QStringList();
    }
    QString model;
    QString image;
    QString drive;
    getName(model);
    getTotal(image);
    // Without a volume the library would read the computer's root as the device.
    if (!getDrive(drive) || drive.isEmpty()) {
        JX_CRITICAL << "saveDeviceRawData: no volume";
        return QStringList();
    }
    const QString volume = drive + QLatin1Char('/');
    const QString version = QStringLiteral("1.0.0.%1 JX%2").arg(image, JXEnv::getInstance()->getVersion());
    const QString profile = libraryProfileFile(volume);
    const QVariant result = module->call(QStringLiteral("ExportPmz"), {target, model, version, profile, volume});
    if (result.type() == QVariant::StringList)
        return result.toStringList();
    if (result.type() != QVariant::List) {
        JX_WARNING << "ExportPmz gave no list";
        return QStringList();
    }
    QStringList paths;
    for (const QVariant& value : result.toList()) {
        if (value.type() != QVariant::String) {
            JX_WARNING << "ExportPmz gave a list that is not all texts";
            return QStringList();
        }
        paths << value.toString();
    }
    return paths;
}

QString JXGalDevice::getCapability()
{
    QMutexLocker lock(&m_iniMutex);
    ensureIniRead();
    if (capability.isEmpty())
        capability = JXClient::getCapability();
    return capability;
}
