#ifndef JXENV_H
#define JXENV_H

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QPoint>
#include <QScopedPointer>
#include <QString>
#include <QThread>

class JXEnvInterface;

// The process-wide environment: role, folders, settings file and log.
// Made by getInstance on its first call (on the main thread, from init) and
// destroyed when the process exits.
class JXEnv
{
public:
    ~JXEnv();

    static JXEnv* getInstance();

    void init(const QString& role, const QString& logName);
    QString getRole() const { return m_role; }
    bool isMainThread() const;

    QString getVersion() const;
    QString getBuildNum() const;
    qint32 getCmd() const { return m_cmd; }

    // Folders
    QString getUserDataBaseFolder() const { return m_userDataFolder; }
    void setUserDataBaseFolder(const QString& folder);
    QString getResourceDir();
    QString getPathSeparator();
    QString getResourcePath(const QString& name);
    // The temporary folder, made with its parents when missing (a failure is logged; the path is returned anyway).
    QString getTmpFolder();
    // Removes the files of the temporary folder by its absolute path; sub-folders and hidden files stay. False
    // (logged) when it is not a folder or a file stays.
    bool cleanTmpFolder();
    // Whoever writes into the temporary folder by relative name checks this after cdTmpFolder.
    bool isInTmpFolder();
    // The current-folder changes wait for a JXCurrentFolderGuard held by another thread; a failure is logged. The
    // returned QDir names ".", whatever is current when it is used.
    QDir cdTmpFolder();
    QDir cdUserDataFolder();
    QDir cdAppFolder();
    QString getBackupFolder();
    void setBackupFolder(const QString& folder);

    // Settings
    QString getJXSettingIniName() const;
    QString getJXSettingPath() const;
    QString getJXIniSection() const;
    QString getValue(const QString& key, const QString& defaultValue = QString());
    void setValue(const QString& key, const QString& value);
    void copyNewIni();

    qint64 getMaxLogSize();
    QString getOldLogFile();
    QString getLogFileName();
    QString getLogFile();
    int getDebugLevel();
    QString getLanguage();
    void setLanguage(const QString& language);
    QString getSysLanguage() const;
    QPoint getLastWinPos();
    void setLastWinPos(const QPoint& position);
    QString getHomelink();
    QString getCheckUpdateUrl();
    QString getCheckUpdateUrl(bool beta) const;
    int getFileDiffTimeTolerance();
    QString getUploadFilename();

    // Log
    void initjxlog(const QString& name);
    void appendLog(QtMsgType type, QString& line);

    // Flags
    void setCloseOnRemoveDevice(bool value) { m_closeOnRemoveDevice = value; }
    bool isCloseOnRemoveDevice() const { return m_closeOnRemoveDevice; }
    void setForceDeviceUpdate(bool value) { m_forceDeviceUpdate = value; }
    bool isForceDeviceUpdate() const { return m_forceDeviceUpdate; }
    void setForceJXUpdate(bool value) { m_forceJXUpdate = value; }
    bool isForceJXUpdate() const { return m_forceJXUpdate; }

    bool isSessionValid(const QString& reply) const;

    // Per-model minimum versions: copies "MinJXVer" (updateDeviceJXInfo), or "MinImgVer", "MinIapVer" and
    // "MinApVer" (updateDeviceInfo), from the group "Update" of the INI file at path into the model's group of the
    // settings; when something was copied, the connected client re-evaluates its forced updates.
    void updateDeviceJXInfo(const QString& model, const QString& path);
    void updateDeviceInfo(const QString& model, const QString& path);

    // Map disc: the first optical volume with "/maps.xml" at its root.
    QString getDVDDrive();
    bool getDVDInfo();
    bool isVectorMapDVD();

private:
    JXEnv();
    Q_DISABLE_COPY(JXEnv)

    static bool releaseForTest(const QString& version);

    QString m_appFolder;
    QString m_userDataFolder;
    Qt::HANDLE m_mainThread = nullptr;
    QFile m_logFile;
    QScopedPointer<JXEnvInterface> m_platformEnv;
    QString m_role = QStringLiteral("both");
    bool m_closeOnRemoveDevice = false;
    bool m_forceDeviceUpdate = false;
    bool m_forceJXUpdate = false;
    qint32 m_cmd = 0;

    QMutex m_logMutex;  // appends from several threads never interleave

    friend struct JXEnvHolder;
    friend class TestJXEnv;
};

#endif
