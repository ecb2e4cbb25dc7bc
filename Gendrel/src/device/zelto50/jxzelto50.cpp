#include "device/zelto50/jxzelto50.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QThread>

#include "../../../../core/include/search/ghdevicedb.h"
#include "../../../../core/include/training/ghworkout.h"
#include "../../../../core/include/util/ghtracelog.h"
#include "device/jxfsdeviceservice.h"
#include "jxenv.h"
#include "jxlog.h"
#include "jxutility.h"
#include "system/jxplatform.h"

bool JXZelto50::m_continueFactoryRestore = false;

namespace {

QString iniText(const QString& path, const QString& key)
{
    // A path that is no readable file gives nothing; QSettings never writes here since nothing is set.
    if (!QFileInfo(path).isFile())
        return QString();
    QSettings settings(path, QSettings::IniFormat);
    return settings.value(key).toString();
}

} // namespace

JXZelto50::JXZelto50(QObject* parent) : JXClient(parent)
{
    m_text1 = QStringLiteral("Zelto50");
}

JXZelto50::JXZelto50() : JXClient(nullptr) {}

JXZelto50::~JXZelto50()
{
    // An action may still walk the workouts.
    stopThread();
    releaseWorkouts();
}

void JXZelto50::releaseWorkouts()
{
    qDeleteAll(m_workouts);
    m_workouts.clear();
}

bool JXZelto50::driveRoot(QString& drive)
{
    return getDrive(drive) && !drive.isEmpty();
}

bool JXZelto50::devicePath(QString& path, const char* key, const char* defaultValue)
{
    if (!driveRoot(path))
        return false;
    path += getValue(QLatin1String(key), QLatin1String(defaultValue));
    return true;
}

bool JXZelto50::refusedWhileAction(const char* operation)
{
    if (!isBusy() || QThread::currentThread() == this)
        return false;
    JX_WARNING << operation << "refused: an action of the device runs";
    return true;
}

bool JXZelto50::getAPPath(QString& path)
{
    return devicePath(path, "appath", "/oriska");
}

bool JXZelto50::getShareDataPath(QString& path)
{
    return devicePath(path, "sharepath", "/oriska/applications/cycling");
}

bool JXZelto50::getTraceLogPath(QString& path)
{
    return devicePath(path, "tracelogpath", "/oriska/applications/cycling/data/tracelog");
}

bool JXZelto50::getDeviceIni(QString& path)
{
    return devicePath(path, "deviceinipath", "");
}

bool JXZelto50::getAPVersionIni(QString& path)
{
    return devicePath(path, "apversionpath", "");
}

bool JXZelto50::getProfileFilePath(QString& path)
{
    return devicePath(path, "profilepath", "");
}

bool JXZelto50::isNewLoadDBApi()
{
    return getValue(QStringLiteral("newLoaddbapi"), QStringLiteral("0")) != QLatin1String("0");
}

bool JXZelto50::existRouteDat()
{
    QString home;
    return getShareDataPath(home) && QFileInfo::exists(home + QLatin1String("/data/route/route.dat"));
}

bool JXZelto50::getUUID(QString& uuid)
{
    QString ini;
    if (!getDeviceIni(ini))
        return false;
    uuid = iniText(ini, QStringLiteral("UUID/UUID"));
    return !uuid.isEmpty();
}

bool JXZelto50::getTotal(QString& version)
{
    QString ini;
    if (!getDeviceIni(ini))
        return false;
    version = iniText(ini, QStringLiteral("Total/Version"));
    return !version.isEmpty();
}

bool JXZelto50::getAP(QString& version)
{
    QString ini;
    if (!getAPVersionIni(ini))
        return false;
    version = iniText(ini, QStringLiteral("version"));
    if (version.isEmpty())
        version = QStringLiteral("GH0.0.0.0");
    return true;
}

bool JXZelto50::getBootloader(QString& version)
{
    return getAP(version);
}

bool JXZelto50::getInternalStorage(qint64& total, qint64& free)
{
    QString drive;
    if (!driveRoot(drive))
        return false;
    JXUtility::getStorage(drive, total, free);
    return true;
}

bool JXZelto50::isSupportMassStorage()
{
    return true;
}

bool JXZelto50::isExistUpdatingFlag()
{
    QString drive;
    return driveRoot(drive) && QFileInfo::exists(drive + QLatin1String("/updating@@!.ini"));
}

QString JXZelto50::exportFolder() const
{
    return JXEnv::getInstance()->getTmpFolder() + QLatin1String("/Zelto50ExportTmp");
}

bool JXZelto50::initial()
{
    if (m_continueFactoryRestore) {
        JXEnv::getInstance()->setForceDeviceUpdate(true);
        return true;
    }
    if (!setShareDbHome())
        return false;
    if (isExistUpdatingFlag()) {
        QString folder;
        getAPPath(folder);
        for (const char* name : {"/version.ini", "/Version.ini", "/VERSION.ini", "/VERSION.INI"})
            removeFile(folder + QLatin1String(name));
    }
    return true;
}

bool JXZelto50::setShareDbHome()
{
    QString home;
    QString traceLogs;
    if (!getShareDataPath(home) || !getTraceLogPath(traceLogs))
        return false;
    QString version;
    getAP(version);
    GHTraceLog::setSystemVersion(version);
    GHDeviceDB::setHomeDir(home, QString(), exportFolder());
    GHTraceLog::setHomeDir(traceLogs);
    GHDeviceDB::closeStorageMapDb();
    return true;
}

void JXZelto50::setTransferSystemVersion()
{
    QString version;
    getAP(version);
    GHTraceLog::setSystemVersion(version + QLatin1String(" JX") + JXEnv::getInstance()->getVersion());
}

JXZelto50CR::JXZelto50CR() : JXDeviceImpl<JXZelto50CR, JXZelto50>(nullptr) {}

JXZelto50CR::~JXZelto50CR() = default;

bool JXZelto50CR::getName(QString& model)
{
    return registryModelName(model);
}

bool JXZelto50CR::getDrive(QString& drive)
{
    return JXFSDeviceService::driveOf(m_deviceService, drive);
}

bool JXZelto50CR::eject()
{
    // No database file on the volume may stay open across the unmount.
    GHDeviceDB::closeStorageMapDb();
    JXPlatform platform;
    QString drive;
    if (getDrive(drive) && !drive.isEmpty())
        platform.ejectDevice(drive, nullptr);
    JXFSDeviceService* service = dynamic_cast<JXFSDeviceService*>(m_deviceService);
    const QString storage = service ? service->getStorageDrive() : QString();
    if (!storage.isEmpty())
        platform.ejectDevice(storage, nullptr);
    return true;
}
