#include "jxenv.h"

#include <QFileInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QSettings>
#include <QStringList>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "device/jxclient.h"
#include "jxcurrentfolder.h"
#include "jxdaemon.h"
#include "jxlog.h"
#include "jxutility.h"
#include "system/jxenvinterface.h"
#include "system/jxplatform.h"

#ifndef JX_RELEASE_UPDATE_URL
#define JX_RELEASE_UPDATE_URL "http://update.vexmor.example/versions/index"
#endif
#ifndef JX_BETA_UPDATE_URL
#define JX_BETA_UPDATE_URL "http://beta.vexmor.example/versions/index"
#endif
#ifndef JX_RELEASE_HOMELINK
#define JX_RELEASE_HOMELINK "http://www.vexmor.example"
#endif
#ifndef JX_BETA_HOMELINK
#define JX_BETA_HOMELINK "http://beta.vexmor.example"
#endif

namespace {

const char* const kSection = "Jaxmere";

// -1: not read yet. Read from the settings at the first message.
std::atomic<int> DBG_LEVEL{-1};

JXEnv* s_instance = nullptr;
std::once_flag s_instanceOnce;
std::atomic<bool> s_instanceAlive{false};
// Set while the environment is destroyed at process exit, when Qt's own
// globals (which the settings layer needs) may already be gone.
std::atomic<bool> s_exiting{false};

qint64 toNumber(const QString& text)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok, 10);
    return ok ? value : 0;
}

// A deployment address: an environment variable wins over the built-in one.
QString deploymentValue(const char* variable, const char* builtIn)
{
    const QByteArray configured = qgetenv(variable);
    return configured.isEmpty() ? QString::fromLatin1(builtIn) : QString::fromUtf8(configured);
}

// Local time as "yyyy-MM-dd hh:mm:ss,zzz". Formatted by hand: it must still
// work while Qt's locale data is torn down at process exit.
QString logTimestamp()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local {};
    localtime_r(&now.tv_sec, &local);
    char text[64];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d,%03d", local.tm_year + 1900, local.tm_mon + 1,
             local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, int(now.tv_nsec / 1000000));
    return QString::fromLatin1(text);
}

const char* typeLabel(QtMsgType type)
{
    switch (type) {
    case QtWarningMsg:
        return " [Warning]\t";
    case QtCriticalMsg:
        return " [Critical]\t";
    default:
        return " [Debug]\t";
    }
}

void JXLogHandler(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    if (type == QtFatalMsg)
        abort();
    if (type == QtInfoMsg)
        type = QtDebugMsg;

    // Reading the level opens the settings file, which may itself log: such a
    // nested message is dropped instead of recursing.
    thread_local bool inHandler = false;
    if (inHandler || !s_instanceAlive.load())
        return;
    inHandler = true;

    int level = DBG_LEVEL.load();
    if (level == -1 && s_exiting.load()) {
        inHandler = false;
        return;
    }
    if (level == -1) {
        level = JXEnv::getInstance()->getDebugLevel();
        DBG_LEVEL.store(level);
        // Debug lines would be dropped below: let Qt drop them before anyone
        // builds one (JX_DEBUG asks the same category first).
        if (level - 1 > int(QtDebugMsg)) {
            if (QLoggingCategory* category = QLoggingCategory::defaultCategory()) {
                category->setEnabled(QtDebugMsg, false);
                category->setEnabled(QtInfoMsg, false);
            }
        }
    }
    if (level - 1 <= int(type)) {
        QString line = logTimestamp()
                       + QLatin1String(typeLabel(type)) + msg + QLatin1Char('\n');
        JXEnv::getInstance()->appendLog(type, line);
    }
    inHandler = false;
}

}  // namespace

struct JXEnvHolder
{
    ~JXEnvHolder()
    {
        if (!s_instance)
            return;
        delete s_instance;
        s_instance = nullptr;
    }
};

static JXEnvHolder s_holder;

JXEnv::JXEnv() = default;

JXEnv::~JXEnv()
{
    s_exiting.store(true);
    qDebug() << "[" << "~JXEnv" << "]\t[" << __LINE__ << "]\t" << "JXEnv destructor";
    s_instanceAlive.store(false);
    QMutexLocker lock(&m_logMutex);
    m_logFile.close();
}

JXEnv* JXEnv::getInstance()
{
    std::call_once(s_instanceOnce, [] {
        s_instance = new JXEnv();
        s_instanceAlive.store(true);
    });
    return s_instance;
}

void JXEnv::init(const QString& role, const QString& logName)
{
    qInstallMessageHandler(JXLogHandler);
    m_role = role;
    m_mainThread = QThread::currentThreadId();
    JXPlatform platform;
    m_platformEnv.reset(platform.createEnv());
    m_closeOnRemoveDevice = true;
    m_appFolder = QDir::currentPath();
    setUserDataBaseFolder(m_platformEnv->getUserFolder());
    initjxlog(logName);
}

bool JXEnv::isMainThread() const
{
    return QThread::currentThreadId() == m_mainThread;
}

QString JXEnv::getVersion() const
{
    return QStringLiteral("2.8.0.99");
}

QString JXEnv::getBuildNum() const
{
    return QStringLiteral("9999");
}

void JXEnv::setUserDataBaseFolder(const QString& folder)
{
    m_userDataFolder = folder;
    QDir().mkpath(folder);
}

QString JXEnv::getResourceDir()
{
    return m_platformEnv ? m_platformEnv->getResourceDir() : QString();
}

QString JXEnv::getPathSeparator()
{
    return m_platformEnv ? m_platformEnv->getPathSeparator() : QStringLiteral("/");
}

QString JXEnv::getResourcePath(const QString& name)
{
    return getResourceDir() + QLatin1Char('/') + name;
}

QString JXEnv::getTmpFolder()
{
    const QString defaultName = QStringLiteral("tmpdir");
    QString name = getValue(defaultName, defaultName);
    // The folder is emptied: a name that leads to the user-data folder or out of it would empty that instead.
    const QString clean = QDir::cleanPath(name);
    if (clean.isEmpty() || clean == QLatin1String(".") || clean == QLatin1String("..") ||
        clean.startsWith(QLatin1String("../")) || QDir::isAbsolutePath(clean)) {
        JX_WARNING << "the temporary folder name" << name << "does not name a folder inside the user-data folder;"
                   << defaultName << "is used";
        name = defaultName;
    }
    const QString folder = m_userDataFolder + QLatin1Char('/') + name;
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        JX_WARNING << "the temporary folder" << folder << "can not be created";
    return folder;
}

bool JXEnv::cleanTmpFolder()
{
    // By its absolute path, never ".": when the folder could not be made or entered, "." is some other folder.
    const QDir tmp(QDir(getTmpFolder()).absolutePath());
    if (!QFileInfo(tmp.path()).isDir()) {
        JX_WARNING << "the temporary folder" << tmp.path() << "is not a folder; nothing is removed";
        return false;
    }
    bool clean = true;
    const QFileInfoList entries = tmp.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir() && !entry.isSymLink())
            continue; // folders stay, by design
        if (!QFile::remove(entry.absoluteFilePath())) {
            JX_WARNING << "the temporary file" << entry.absoluteFilePath() << "can not be removed";
            clean = false;
        }
    }
    return clean;
}

namespace {

// Under the process's current-folder lock, so that no change lands in the middle of a guarded holder's work.
bool enterFolder(const QString& folder)
{
    QMutexLocker locker(&JXCurrentFolderGuard::lock());
    if (QDir::setCurrent(folder))
        return true;
    JX_WARNING << "the folder" << folder << "can not be entered";
    return false;
}

} // namespace

QDir JXEnv::cdTmpFolder()
{
    QDir current(QStringLiteral("."));
    enterFolder(getTmpFolder());
    return current;
}

bool JXEnv::isInTmpFolder()
{
    const QString tmp = QFileInfo(getTmpFolder()).canonicalFilePath();
    return !tmp.isEmpty() && QFileInfo(QDir::currentPath()).canonicalFilePath() == tmp;
}

QDir JXEnv::cdUserDataFolder()
{
    QDir current(QStringLiteral("."));
    enterFolder(m_userDataFolder);
    return current;
}

QDir JXEnv::cdAppFolder()
{
    QDir current(QStringLiteral("."));
    enterFolder(m_appFolder);
    return current;
}

QString JXEnv::getBackupFolder()
{
    const QString folder = getValue(QStringLiteral("backupdir"));
    return folder.isEmpty() ? m_userDataFolder + QStringLiteral("/backup") : folder;
}

void JXEnv::setBackupFolder(const QString& folder)
{
    setValue(QStringLiteral("backupdir"), folder);
}

QString JXEnv::getJXSettingIniName() const
{
    return m_role == QLatin1String("user") ? QStringLiteral("jxuser.ini") : QStringLiteral("jx.ini");
}

QString JXEnv::getJXSettingPath() const
{
    return m_userDataFolder + QLatin1Char('/') + getJXSettingIniName();
}

QString JXEnv::getJXIniSection() const
{
    return QString::fromLatin1(kSection);
}

QString JXEnv::getValue(const QString& key, const QString& defaultValue)
{
    QSettings settings(getJXSettingPath(), QSettings::IniFormat);
    settings.beginGroup(QLatin1String(kSection));
    const QVariant value = settings.value(key);
    settings.endGroup();
    return value.isValid() ? JXUtility::settingText(value) : defaultValue;
}

void JXEnv::setValue(const QString& key, const QString& value)
{
    // Before init there is no user-data folder, and the settings path would
    // name a file at the filesystem root.
    if (m_userDataFolder.isEmpty()) {
        JX_WARNING << "settings written before init are dropped:" << key;
        return;
    }
    QSettings settings(getJXSettingPath(), QSettings::IniFormat);
    settings.beginGroup(QLatin1String(kSection));
    settings.setValue(key, value);
    settings.endGroup();
}

void JXEnv::copyNewIni()
{
    const QString newPath = getResourcePath(getJXSettingIniName());
    const QString currentPath = getJXSettingPath();
    if (m_userDataFolder.isEmpty())
        return;

    const bool upToDate = QFileInfo::exists(currentPath) && getValue(QStringLiteral("version")) == getVersion();
    if (!upToDate) {
        QFile newFile(newPath);
        if (!newFile.open(QIODevice::ReadOnly)) {
            JX_CRITICAL << "open new settings file failed";
        } else {
            const QByteArray content = newFile.readAll();
            QFile currentFile(currentPath);
            if (!currentFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
                JX_CRITICAL << "open current settings file failed";
            else
                currentFile.write(content);
        }
    }
    setValue(QStringLiteral("version"), getVersion());
}

qint64 JXEnv::getMaxLogSize()
{
    return toNumber(getValue(QStringLiteral("maxlogsize"), QStringLiteral("5242880")));
}

QString JXEnv::getOldLogFile()
{
    return m_userDataFolder + QLatin1Char('/') + getValue(QStringLiteral("oldlogfilename"), QStringLiteral("jx.old"));
}

QString JXEnv::getLogFileName()
{
    if (m_role == QLatin1String("user"))
        return QStringLiteral("jxuser.log");
    return getValue(QStringLiteral("logfilename"), QStringLiteral("jx.log"));
}

QString JXEnv::getLogFile()
{
    return m_userDataFolder + QLatin1Char('/') + getLogFileName();
}

int JXEnv::getDebugLevel()
{
    return int(toNumber(getValue(QStringLiteral("debug"), QStringLiteral("2"))));
}

QString JXEnv::getLanguage()
{
    const QString language = getValue(QStringLiteral("language"), QStringLiteral("xxx"));
    return language == QLatin1String("xxx") ? getSysLanguage() : language;
}

void JXEnv::setLanguage(const QString& language)
{
    setValue(QStringLiteral("language"), language);
}

QString JXEnv::getSysLanguage() const
{
    const QLocale locale = QLocale::system();
    switch (locale.language()) {
    case QLocale::Chinese:
        return locale.country() == QLocale::China ? QStringLiteral("CHI") : QStringLiteral("ZHO");
    case QLocale::Czech: return QStringLiteral("CZE");
    case QLocale::Danish: return QStringLiteral("DAN");
    case QLocale::Dutch: return QStringLiteral("DUT");
    case QLocale::Finnish: return QStringLiteral("FIN");
    case QLocale::French: return QStringLiteral("FRA");
    case QLocale::German: return QStringLiteral("GER");
    case QLocale::Hebrew: return QStringLiteral("HEB");
    case QLocale::Hungarian: return QStringLiteral("HUN");
    case QLocale::Italian: return QStringLiteral("ITA");
    case QLocale::Japanese: return QStringLiteral("JPN");
    case QLocale::Korean: return QStringLiteral("KOR");
    case QLocale::NorwegianBokmal:
    case QLocale::NorwegianNynorsk: return QStringLiteral("NOR");
    case QLocale::Polish: return QStringLiteral("POL");
    case QLocale::Portuguese: return QStringLiteral("POR");
    case QLocale::Spanish: return QStringLiteral("SPA");
    case QLocale::Swedish: return QStringLiteral("SWE");
    default: return QStringLiteral("ENG");
    }
}

QPoint JXEnv::getLastWinPos()
{
    const QStringList parts = getValue(QStringLiteral("lastWinPos"), QStringLiteral("0,0")).split(QLatin1Char(','));
    if (parts.size() < 2)
        return QPoint(0, 0);
    // Stored vertical first.
    return QPoint(int(toNumber(parts.at(1))), int(toNumber(parts.at(0))));
}

void JXEnv::setLastWinPos(const QPoint& position)
{
    setValue(QStringLiteral("lastWinPos"), QString::number(position.y()) + QLatin1Char(',') + QString::number(position.x()));
}

bool JXEnv::releaseForTest(const QString& version)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return true;
    return toNumber(parts.at(3)) % 2 != 0;
}

QString JXEnv::getHomelink()
{
    const QString builtIn = releaseForTest(getVersion()) ? deploymentValue("JX_BETA_HOMELINK", JX_BETA_HOMELINK)
                                                         : deploymentValue("JX_RELEASE_HOMELINK", JX_RELEASE_HOMELINK);
    return getValue(QStringLiteral("homelink"), builtIn);
}

QString JXEnv::getCheckUpdateUrl()
{
    return getValue(QStringLiteral("urlcheckupdate"), getCheckUpdateUrl(releaseForTest(getVersion())));
}

QString JXEnv::getCheckUpdateUrl(bool beta) const
{
    return beta ? deploymentValue("JX_BETA_UPDATE_URL", JX_BETA_UPDATE_URL)
                : deploymentValue("JX_RELEASE_UPDATE_URL", JX_RELEASE_UPDATE_URL);
}

int JXEnv::getFileDiffTimeTolerance()
{
    return int(toNumber(getValue(QStringLiteral("filedifftimetolerance"), QStringLiteral("10"))));
}

QString JXEnv::getUploadFilename()
{
    return getValue(QStringLiteral("uploadfile"), QStringLiteral("up.zip"));
}

void JXEnv::initjxlog(const QString& name)
{
    const bool defaultLog = name.isEmpty();
    const QString path = defaultLog ? getLogFile() : m_userDataFolder + QLatin1Char('/') + name;

    if (QFileInfo(path).size() >= getMaxLogSize()) {
        if (defaultLog) {
            const QString old = getOldLogFile();
            QFile::remove(old);
            JXUtility::copyFile(path, old, true, 10, 5);
        }
        QFile::remove(path);
    }

    QMutexLocker lock(&m_logMutex);
    m_logFile.close();
    m_logFile.setFileName(path);
    m_logFile.open(QIODevice::Append | QIODevice::Text);
}

void JXEnv::appendLog(QtMsgType type, QString& line)
{
    const QByteArray bytes = line.toUtf8();
    QMutexLocker lock(&m_logMutex);
    if (!m_logFile.isOpen())
        return;
    m_logFile.write(bytes);
    if (type != QtDebugMsg && type != QtInfoMsg)
        m_logFile.flush();
}

QString JXEnv::getDVDDrive()
{
    for (const QString& drive : JXUtility::getRemovebleDrives(QStringLiteral("cd9660"))) {
        if (QFileInfo::exists(drive + QStringLiteral("/maps.xml")))
            return drive;
    }
    return QString();
}

bool JXEnv::getDVDInfo()
{
    const QString drive = getDVDDrive();
    return !drive.isEmpty() && QFileInfo::exists(drive + QStringLiteral("/maps.xml"));
}

bool JXEnv::isVectorMapDVD()
{
    const QString drive = getDVDDrive();
    if (drive.isEmpty())
        return false;
    QFile file(drive + QStringLiteral("/maps.xml"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray content = file.readAll();
    const int end = content.indexOf('\0');
    if (end >= 0)
        content.truncate(end);
    return content.contains("vectormap");
}

bool JXEnv::isSessionValid(const QString& reply) const
{
    return !reply.contains(QLatin1String("Please Login!"));
}

namespace {

// Copies the non-empty values of keys from the group "Update" of the INI file at path into the model's group of the
// settings file; false when there was nothing to copy.
bool copyModelKeys(const QString& settingsPath, const QString& model, const QString& path, const QStringList& keys)
{
    if (model.isEmpty() || !QFileInfo::exists(path))
        return false;
    QStringList values;
    {
        QSettings source(path, QSettings::IniFormat);
        source.beginGroup(QStringLiteral("Update"));
        for (const QString& key : keys)
            values.append(JXUtility::settingText(source.value(key, QString())));
    }
    bool copied = false;
    QSettings settings(settingsPath, QSettings::IniFormat);
    settings.beginGroup(model);
    for (int i = 0; i < keys.size(); ++i) {
        if (values.at(i).isEmpty())
            continue;
        settings.setValue(keys.at(i), values.at(i));
        copied = true;
    }
    settings.endGroup();
    return copied;
}

} // namespace

void JXEnv::updateDeviceJXInfo(const QString& model, const QString& path)
{
    if (!copyModelKeys(getJXSettingPath(), model, path, {QStringLiteral("MinJXVer")}))
        return;
    // The settings are written before the client reads them again.
    if (JXClient* client = JXDaemon::getInstance()->getClient())
        client->modifyForceUpdateInfo(this);
}

void JXEnv::updateDeviceInfo(const QString& model, const QString& path)
{
    if (!copyModelKeys(getJXSettingPath(), model, path,
                       {QStringLiteral("MinImgVer"), QStringLiteral("MinIapVer"), QStringLiteral("MinApVer")}))
        return;
    if (JXClient* client = JXDaemon::getInstance()->getClient())
        client->modifyForceUpdateInfo(this);
}
