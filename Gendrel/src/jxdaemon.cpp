#include "jxdaemon.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstring>

#include "compress/jxziputil.h"
#include "device/gal/jxgaldevice.h"
#include "device/jxclient.h"
#include "device/jxdeviceservice.h"
#include "device/psfdevice/jxpsfdevice.h"
#include "device/zelto30/jxhemlar30.h"
#include "device/zelto30/jxzelto35.h"
#include "device/zelto50/jxzelto50.h"
#include "gal/libgal.h"
#include "jxcurrentfolder.h"
#include "jxdaemonproxy.h"
#include "jxenv.h"
#include "jxlog.h"
#include "jxutility.h"
#include "python/pqhelper.h"
#include "util/ghtracelog.h"

namespace {

QScopedPointer<JXDaemon> s_daemon;

const char kMassStorageMatchText[] = "Vexmor:zelto:Zelto:TIRNA Device:TIRNA MS:TIRNA";

// The device families that the daemon registers when asked, in registry order.
QVector<stRegDevInfo> builtInRows()
{
    const QString massStorage = QLatin1String(kMassStorageMatchText);
    return {
        {QStringLiteral("1207"), QStringLiteral("Zelto21"),
         QStringLiteral("VEXMOR:zelto:Zelto:TIRNA Device:TIRNA MS:TIRNA"),
         &JXDeviceImpl<JXGalDevice, JXDeviceServiceClient>::create},
        {QStringLiteral("1206"), QStringLiteral("Zelto20plus"), massStorage,
         &JXDeviceImpl<JXGalDevice, JXDeviceServiceClient>::create},
        {QStringLiteral("1102"), QStringLiteral("Zelto20"), QStringLiteral("DOLVRANE"),
         &JXDeviceImpl<JXHemlar30, JXZelto30>::create},
        {QStringLiteral("1105"), QStringLiteral("Zelto40"), QStringLiteral("SAVOLK"),
         &JXDeviceImpl<JXPSFDevice, JXClient>::create},
        {QStringLiteral("1104"), QStringLiteral("Zelto50CR"), massStorage,
         &JXDeviceImpl<JXZelto50CR, JXZelto50>::create},
        {QStringLiteral("0901"), QStringLiteral("Zelto50"), massStorage, &JXDeviceImpl<JXZelto50CR, JXZelto50>::create},
        {QStringLiteral("1103"), QStringLiteral("Hemlar35"), QStringLiteral("ZOPHEL"),
         &JXDeviceImpl<JXHemlar30, JXZelto30>::create},
        {QStringLiteral("1004"), QStringLiteral("Hemlar30"), QStringLiteral("MIRDO"),
         &JXDeviceImpl<JXHemlar30, JXZelto30>::create},
        {QStringLiteral("1003"), QStringLiteral("Zelto35"), QStringLiteral("FENDIR"),
         &JXDeviceImpl<JXZelto35, JXZelto30>::create},
        {QStringLiteral("1101"), QStringLiteral("Zelto35"), QStringLiteral("FENDIR"),
         &JXDeviceImpl<JXZelto35, JXZelto30>::create},
    };
}

// Hands text to one of the closed library's setters as a terminated copy in a buffer of Size bytes; a text that
// does not fit (the limit counts the bytes passed, not the characters) is not passed at all.
template <int Size> void passToLibrary(int (*setter)(const char*), const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.size() > Size - 1)
        return;
    char buffer[Size] = {};
    std::memcpy(buffer, bytes.constData(), size_t(bytes.size()));
    setter(buffer);
}

} // namespace

JXDaemon::JXDaemon() : m_deviceManager(new JXDeviceManager) {}

JXDaemon::~JXDaemon() = default;

// The first call comes from the start-up on the main thread, before any other thread exists.
JXDaemon* JXDaemon::getInstance()
{
    if (!s_daemon) {
        if (JXEnv::getInstance()->getRole() == QLatin1String("user"))
            s_daemon.reset(new JXDaemonProxy);
        else
            s_daemon.reset(new JXDaemon);
    }
    return s_daemon.data();
}

JXDeviceManager* JXDaemon::getDeviceManager()
{
    return m_deviceManager.data();
}

void JXDaemon::start(bool registerBuiltInDevices)
{
    if (registerBuiltInDevices) {
        for (const stRegDevInfo& row : builtInRows())
            m_deviceManager->registerDevice(row, false);
    }
    // A device already present is announced during the manager's start, to this daemon among the listeners.
    m_deviceManager->addListener(this);
    m_deviceManager->start();
    if (JXClient* client = m_deviceManager->getConnectedDevice())
        client->modifyForceUpdateInfo(JXEnv::getInstance());
}

JXClient* JXDaemon::getClient()
{
    return m_deviceManager->getConnectedDevice();
}

void JXDaemon::onDeviceConnected(JXClient* client)
{
    if (!client)
        return;
    client->modifyForceUpdateInfo(JXEnv::getInstance());

    QString model;
    client->getName(model);
    GHTraceLog::setModelName(model);
    passToLibrary<10>(&SetModelName, model);

    QString imageVersion;
    client->getTotal(imageVersion);
    if (!imageVersion.isEmpty())
        passToLibrary<4>(&SetModelIMG, imageVersion);
    QString bootLoaderVersion;
    client->getBootloader(bootLoaderVersion);
    if (!bootLoaderVersion.isEmpty())
        passToLibrary<4>(&SetModelIAP, bootLoaderVersion);

    PythonCppBridge* bridge = PythonCppBridge::getInstance();
    if (client->getServiceType() == JXDeviceService::DEVICE_FS && !model.startsWith(QLatin1String("Zelto50"))) {
        QString drive;
        if (client->getDrive(drive) && bridge)
            bridge->updateDeviceReriduRU(drive);
    }
    if (bridge)
        bridge->checkUpdate(model);
}

void JXDaemon::onDeviceDisconnected(JXClient* client)
{
    JXEnv* env = JXEnv::getInstance();
    env->setForceJXUpdate(false);
    // A map device that restarts for the second step of a factory restore keeps the forced update.
    if (!client || client->getState() != JXClient::State_FactoryRestore)
        env->setForceDeviceUpdate(false);
}

void JXDaemon::onDeviceEjected(JXClient*) {}

void JXDaemon::onDeviceActionDone(JXClient*, int) {}

void JXDaemon::exportLog(QString zipPath)
{
    JXEnv* env = JXEnv::getInstance();
    // The current directory changes below; a relative path means the caller's.
    const QString zipFile = QFileInfo(zipPath).absoluteFilePath();
    if (QFile::exists(zipFile))
        QFile::remove(zipFile);

    {
        // The entries are read by relative name: no other thread may move the current folder meanwhile.
        JXCurrentFolderGuard folderGuard;
        env->cdUserDataFolder();
        const QString folder = env->getUserDataBaseFolder();
        QStringList files;
        // A copy left behind by an earlier export stays and is packed as it is.
        const QStringList logs[] = {{QStringLiteral("jx.log"), QStringLiteral("jxlog.txt")},
                                    {QStringLiteral("jxuser.log"), QStringLiteral("jxuserlog.txt")}};
        for (const QStringList& log : logs) {
            const QString source = folder + QLatin1Char('/') + log.at(0);
            if (!QFile::exists(source))
                continue;
            JXUtility::copyFile(source, folder + QLatin1Char('/') + log.at(1), false, 1);
            files.append(log.at(1));
        }
        if (JXClient* client = getClient())
            client->exportData(folder, files);

        // Entries are read by name from the current directory, the user-data folder.
        JXZipUtil zip;
        if (!zip.compress(zipFile, files))
            JX_WARNING << "log export to" << zipFile << "failed";
        for (const QString& name : qAsConst(files))
            QFile::remove(folder + QLatin1Char('/') + name);
    }
    env->cdAppFolder();
}
