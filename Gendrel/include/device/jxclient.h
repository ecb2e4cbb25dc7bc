#ifndef JXCLIENT_H
#define JXCLIENT_H

#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVariant>
#include <QVector>

#include <atomic>

#include "device/jxclientdata.h"
#include "psf/jxpsfbitfontcreator.h"
#include "system/jxexceptionhandler.h"

class JXClientTask;
class JXDeviceService;
class JXEnv;
class QDomDocument;
class QDomElement;

// One connected device. The object lives on the main thread: the entry operations start one action at a time on
// the client's own thread and never block; the getters answer at once on any thread; the end of an action comes
// back on the main thread as the action's signal and then as the device manager's action-done event.
class JXClient : public QThread, public JXExceptionTask
{
    Q_OBJECT

public:
    enum ClientAction {
        Action_None = -1,
        Action_UpdateTotal = 0,
        Action_UpdateOS = 1,
        Action_UpdateAP = 2,
        Action_UpdateBootLoader = 3,
        Action_ImportMap = 4,
        Action_DeleteMap = 5,
        Action_Finalize = 6,
        Action_ReadData = 7,
        Action_GetShareDataList = 8,
        Action_GetShareData = 9,
        Action_UpdateComponent = 10,
        // Parts of a batch overview only.
        Action_BatchDevice = 11,
        Action_BatchComponents = 12,
        Action_BatchProfile = 13,
        Action_BatchMaps = 14,
        Action_BatchLanguages = 15,
        Action_Batch = 16,
        Action_ExportTrack = 17,
        Action_MakeUploadZip = 18,
        Action_ImportDownloadZip = 19,
        Action_ReadProfile = 20,
        Action_WriteProfile = 21,
        Action_RestoreFactory = 22,
        Action_Silent = 23, // stored only by drivers; reports nothing
        Action_MapUpdate = 24,
        Action_UpdateAlp = 25
    };

    enum State {
        State_Idle = 0,
        State_WaitForUpdate = 1, // a driver waits for its device to come back during an update
        State_InService = 2,
        State_WaitForRestore = 3, // the same during a factory restore
        State_FactoryRestore = 4
    };

    struct ImageMetaInfo
    {
        QString name;
        qint32 size = 0;
        qint32 imageStartAddr = 0;
        qint32 langStartAddr = 0;
        QString langVersion;
        QString osVersion;
        QString bootLoaderVersion;
    };

    explicit JXClient(QObject* parent = nullptr);
    ~JXClient() override;

    // Whether a model name read from a device may become a folder or file name: not empty, not "." or "..", and
    // without "/", "\", NUL or control characters. Every path built from a model name asks this first.
    static bool isSafeModelName(const QString& model);

    // The thread body: claims the state, runs the action under the fault guard, releases the state.
    void run() override;

    virtual bool initial();
    virtual bool isBusy();
    virtual State getState();
    virtual int getServiceType();
    virtual int getDeviceType();
    virtual bool getDrive(QString& drive);
    virtual bool getShareDataPath(QString& path);
    virtual bool getUUID(QString& uuid);
    virtual bool getInternalStorage(qint64& total, qint64& free);
    virtual bool getOS(QString& version);
    virtual bool getBootloader(QString& version);
    virtual bool getTotal(QString& version);
    virtual bool getLaunchsec(QString& version);
    virtual bool getAP(QString& version);
    virtual quint32 getAlpExpiredDate();
    virtual QString getRequiredJX();
    virtual bool isExist();
    virtual bool getName(QString& model) = 0;
    virtual bool isSupportMassStorage();
    virtual bool isSupportImportPSFLanguageFilter();
    virtual bool prepareUploadData(QString& path, bool dontCheckUploaded) = 0;
    virtual void getPOIs(QVector<JXClientData>& items);
    virtual void getRoutes(QVector<JXClientData>& items);
    virtual void getTracks(QVector<JXClientData>& items);
    virtual void getWorkouts(QVector<JXClientData>& items);
    virtual bool deletePOIs(QVector<int> ids);
    virtual bool deleteRoutes(QVector<int> ids);
    virtual bool deleteTracks(QVector<int> ids);
    virtual bool deleteWorkouts(QVector<int> ids);
    virtual bool deleteAll();
    virtual bool saveProfile(QMap<QString, QString> profile);
    virtual bool updateTotal(QString file, QString lang);
    virtual void removeUpdatePackage();
    virtual bool updateBootLoader(QString file);
    virtual bool updateAP(QString file);
    virtual bool updateLaunchsec(QString file);
    virtual bool finalize();
    virtual bool getShareData(JXClientShareData data);
    virtual bool getShareDataList(JXClientShareDataList list);
    virtual bool batch(JXClientShareData data);
    virtual int SimualteFinalize();
    virtual bool updateAlp(QString file, unsigned int expiry);
    virtual bool readData();
    virtual bool importMap(JXClientTask* task);
    virtual bool deleteMap(JXClientTask* task);
    virtual void formatDevice();
    virtual bool eject();
    virtual void setTaskProgress(float progress);
    virtual float getTaskProgress();
    virtual void startCountProgress();
    virtual void stopCountProgress();
    virtual bool prepareUploadProfile(QString path);
    virtual bool restoreFactory(QString text);
    virtual int getRestoreFactorySteps();
    virtual bool mapUpdate(QString text);
    virtual void exportLog(QString path);
    virtual bool setShareData(QString path);
    virtual bool isDontCheckUploaded();
    virtual bool getSupportLanguage(QString path, QStringList& codes);
    virtual bool getLanguageOnDevice(QStringList& codes);
    virtual bool setDefLanguage(QStringList* codes, int index);
    virtual bool LanguageListXml(QString path);
    virtual bool setLocaleTimeFromePC();
    virtual int getMainActiveType();
    virtual QString GetComponentVersion(QString component);
    virtual bool updateComponent(QString a, QString b, QString c, QString d);
    virtual void cleanBatchAction();
    virtual bool setBatchAction(ClientAction action);
    virtual QStringList saveDeviceRawData(QString path) = 0;
    virtual bool exportTrack(QString path);
    virtual bool makeUploadZip();
    virtual bool importDownloadZip(QString path);
    virtual bool readDeviceProfile(QString path);
    virtual bool writeDeviceProfile(QString path);
    virtual void modifyForceUpdateInfo(JXEnv* env);
    virtual QString getCapability();
    virtual void saveExtFlashToFile(QString path);
    virtual void exportData(QString folder, QStringList& files);
    bool execute() override;
    void handleException() override;
    virtual ImageMetaInfo getImageMetaInfo(QString path);

    bool setStateWithMatch(State expected, State next);
    bool setStateWithoutMatch(State unwanted, State next);
    // Error flag of the last action (true also when it was refused); code receives the driver's error code.
    bool getError(int* code);
    QMutex* getMutex();

    QString getValue(QString key, QString defaultValue);
    void getVersions(QStringList& list);
    bool writeInternalFlash(QString folder, QString name, unsigned char area, int blockSize);
    bool writeExternalFlash(QString folder, QString name, unsigned char area, int blockSize);
    QByteArray toPsfBitfont(QString text, QString langCode, bool hasNext, bool option, bool direct);
    QByteArray toPngString(QByteArray record, QString& langCode);
    QString toTextString(QByteArray record, QString& langCode);

signals:
    void updateTotalDone();
    void updateOSDone();
    void updateBootLoaderDone();
    void updateAPDone();
    void importMapDone();
    void deleteMapDone();
    void finalizeDone();
    void readDataDone();
    void getShareDataListDone(JXClientShareDataList list);
    void getShareDataDone(JXClientShareData data);
    void updateComponentDone();
    void batchDone(JXClientShareData data);

protected:
    // Worker operations: run on the client's thread by execute.
    virtual bool _updateAlp(QString file, unsigned int expiry);
    virtual bool _updateTotal(QString file, QString lang);
    virtual bool _updateBootLoader(QString file);
    virtual bool _updateAP(QString file);
    virtual bool _importMap(JXClientTask* task);
    virtual bool _deleteMap(JXClientTask* task);
    virtual bool _finalize();
    virtual bool _readData();
    virtual bool _getShareDataList();
    virtual bool _getShareData();
    virtual bool _updateComponent(JXClientCompUpdateInfo info);
    virtual bool _batch();
    virtual bool _restoreFactory(QString text);
    virtual bool _updateMapData(QString text);
    virtual JXDeviceService* getDeviceService();
    // The model name of the registry row the device was found by; false, and model untouched, without a service.
    bool registryModelName(QString& model);

    // Waits for a running action, up to 20000 ms, then terminates it. Drivers whose members the action uses call
    // it from their own destructor.
    void stopThread();
    // The arguments of the share-data-list action, for drivers that run it on the caller's thread.
    JXClientShareDataList& shareDataListArguments() { return m_shareDataList; }

    std::atomic<bool> m_error{false};
    std::atomic<int> m_errorCode{0};
    QString m_file;
    QString m_lang;
    quint32 m_number = 0;
    JXClientTask* m_task = nullptr;
    // Kept for drivers.
    QString m_text1;
    QString m_text2;
    // The pending action: written on the main thread (and by drivers that store their own silent action before
    // starting the thread), read by the worker and by getters on any thread.
    std::atomic<int> m_action{Action_None};

private slots:
    void thread_done();

private:
    Q_DISABLE_COPY(JXClient)

    // Runs on the main thread at the end of actions 6 and 17 to 21.
    void sendResultsToScriptBridge();

    // Records the action when none is pending; the caller then stores its arguments and starts the thread.
    bool claimAction(ClientAction action);
    bool claimDataAction(ClientAction action, const char* busyMessage);
    // Claims one of the actions 17 to 21, whose one argument goes into the argument list.
    bool startDataAction(ClientAction action, const char* busyMessage, const QString& argument);
    bool startAction();

    State m_state = State_Idle;
    JXPSFBitFontCreatorSupport m_bitFontCreator;
    QMutex m_deviceMutex;
    QMutex m_stateMutex;
    // Written by the worker during an action and by the main thread when it ends.
    std::atomic<float> m_taskProgress{-1.0f};
    JXClientShareDataList m_shareDataList;
    JXClientShareData m_shareData;
    JXClientCompUpdateInfo m_compUpdateInfo;
    QList<ClientAction> m_batchActions;
    QList<QVariant> m_results;
    QList<QVariant> m_arguments;
    QString m_restoreFactoryText;
    QString m_mapUpdateText;
};

// Appends one "item" (name, drive, version) to parent for every part of components of the form drive^version;
// parts are separated by "|", and a part with no or more than one "^" gives nothing.
void ComponentStringToXmlNode(QDomDocument& doc, QDomElement& parent, QString name, QString components);

#endif
