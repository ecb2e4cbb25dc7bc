#include "device/jxclient.h"

#include <QBuffer>
#include <QFile>
#include <QSettings>

#include "device/jxdevicemanager.h"
#include "device/jxdeviceservice.h"
#include "gal/libgal.h"
#include "jxdaemon.h"
#include "jxenv.h"
#include "jxlog.h"
#include "jxutility.h"
#include "profile/jxprofiledata.h"
#include "psf/gen2/jxpsfmultilangstring_1_5.h"
#include "python/pqhelper.h"
#include "system/jxscsideviceservice.h"

namespace {

const unsigned long kThreadStopWaitMs = 20000;
const int kBitfontBufferSize = 0x100000;

} // namespace

JXClient::JXClient(QObject* parent) : QThread(parent)
{
    qRegisterMetaType<JXClientShareData>();
    qRegisterMetaType<JXClientShareDataList>();
    // finished() is emitted on the worker thread; the slot is queued to the main thread that owns the client. It
    // also follows a thread ended by the fault guard or by termination.
    connect(this, &QThread::finished, this, &JXClient::thread_done);
}

JXClient::~JXClient()
{
    stopThread();
}

void JXClient::stopThread()
{
    // Not isRunning(): it turns false as soon as the thread enters QThread's own ending, which still emits finished()
    // from this object. wait() returns at once for a thread that never started or has ended.
    if (wait(kThreadStopWaitMs))
        return;
    terminate();
    JX_WARNING << "Client thread stop in time and  terminate";
    // A running thread must not outlive its object.
    wait();
}

// ---- Action protocol -------------------------------------------------------------------------------------------

bool JXClient::claimAction(ClientAction action)
{
    int expected = Action_None;
    return m_action.compare_exchange_strong(expected, int(action));
}

bool JXClient::claimDataAction(ClientAction action, const char* busyMessage)
{
    if (claimAction(action))
        return true;
    JX_WARNING << busyMessage << m_action.load();
    return false;
}

bool JXClient::startDataAction(ClientAction action, const char* busyMessage, const QString& argument)
{
    if (!claimDataAction(action, busyMessage))
        return false;
    m_arguments.clear();
    m_arguments.append(argument);
    return startAction();
}

bool JXClient::startAction()
{
    start(QThread::InheritPriority);
    return true;
}

bool JXClient::updateTotal(QString file, QString lang)
{
    JX_DEBUG << "update total: file=" << file << ", changedLang=" << lang;
    if (!claimAction(Action_UpdateTotal))
        return false;
    m_file = file;
    m_lang = lang;
    return startAction();
}

bool JXClient::updateAlp(QString file, unsigned int expiry)
{
    JX_DEBUG << "updateAlp: file=" << file;
    if (!claimAction(Action_UpdateAlp))
        return false;
    m_file = file;
    m_number = expiry;
    return startAction();
}

bool JXClient::updateAP(QString file)
{
    if (!claimAction(Action_UpdateAP))
        return false;
    m_file = file;
    return startAction();
}

bool JXClient::updateBootLoader(QString file)
{
    if (!claimAction(Action_UpdateBootLoader))
        return false;
    m_file = file;
    return startAction();
}

bool JXClient::importMap(JXClientTask* task)
{
    if (!claimAction(Action_ImportMap))
        return false;
    m_task = task;
    return startAction();
}

bool JXClient::deleteMap(JXClientTask* task)
{
    if (!claimAction(Action_DeleteMap))
        return false;
    m_task = task;
    return startAction();
}

bool JXClient::finalize()
{
    if (!claimAction(Action_Finalize))
        return false;
    return startAction();
}

bool JXClient::readData()
{
    if (!claimAction(Action_ReadData))
        return false;
    return startAction();
}

bool JXClient::getShareDataList(JXClientShareDataList list)
{
    if (!claimAction(Action_GetShareDataList))
        return false;
    m_shareDataList = list;
    return startAction();
}

bool JXClient::getShareData(JXClientShareData data)
{
    if (!claimAction(Action_GetShareData))
        return false;
    m_shareData = data;
    return startAction();
}

bool JXClient::batch(JXClientShareData data)
{
    if (!claimAction(Action_Batch))
        return false;
    m_shareData = data;
    return startAction();
}

bool JXClient::updateComponent(QString a, QString b, QString c, QString d)
{
    if (!claimAction(Action_UpdateComponent))
        return false;
    m_compUpdateInfo.model = b;
    m_compUpdateInfo.version = d;
    m_compUpdateInfo.component = c;
    m_compUpdateInfo.packageFile = a;
    return startAction();
}

bool JXClient::exportTrack(QString path)
{
    return startDataAction(Action_ExportTrack, "Busy when Action_ExportTrack", path);
}

bool JXClient::makeUploadZip()
{
    if (!claimDataAction(Action_MakeUploadZip, "Busy when Action_MakeUploadZip"))
        return false;
    return startAction();
}

bool JXClient::importDownloadZip(QString path)
{
    return startDataAction(Action_ImportDownloadZip, "Busy when Action_ImportDownloadZip", path);
}

bool JXClient::readDeviceProfile(QString path)
{
    return startDataAction(Action_ReadProfile, "Busy when Action_ReadProfile", path);
}

bool JXClient::writeDeviceProfile(QString path)
{
    return startDataAction(Action_WriteProfile, "Busy when Action_WriteProfile", path);
}

bool JXClient::restoreFactory(QString text)
{
    // Cleared whether or not the action is accepted.
    JXEnv::getInstance()->setForceDeviceUpdate(false);
    if (!claimAction(Action_RestoreFactory))
        return false;
    m_restoreFactoryText = text;
    return startAction();
}

bool JXClient::mapUpdate(QString text)
{
    if (!claimAction(Action_MapUpdate))
        return false;
    m_mapUpdateText = text;
    return startAction();
}

// Runs on the client's thread.
void JXClient::run()
{
    const int action = m_action.load();
    const State state = getState();
    // A driver waiting for its device to come back runs the action in the state it set.
    if (state != State_WaitForUpdate && state != State_WaitForRestore) {
        if (!setStateWithMatch(State_Idle, State_InService)) {
            JX_CRITICAL << "JXClient::run() : device is busy in action=" << action;
            m_error = true;
            return;
        }
    }
    QThread::setTerminationEnabled(true);
    startCountProgress();

    // A fault ends this thread inside the guard: the state then stays in service and the error flag unchanged.
    JXExceptionHandler handler;
    const bool result = handler.run(this);

    if (!setStateWithMatch(State_InService, State_Idle))
        JX_CRITICAL << "reset in service failed, action=" << action;
    m_error = !result;
}

// Runs on the client's thread, under the fault guard.
bool JXClient::execute()
{
    switch (m_action.load()) {
    case Action_UpdateTotal: return _updateTotal(m_file, m_lang);
    case Action_UpdateAP: return _updateAP(m_file);
    case Action_UpdateBootLoader: return _updateBootLoader(m_file);
    case Action_ImportMap: {
        const bool result = _importMap(m_task);
        m_task = nullptr;
        return result;
    }
    case Action_DeleteMap: {
        const bool result = _deleteMap(m_task);
        m_task = nullptr;
        return result;
    }
    case Action_Finalize: {
        const bool result = _finalize();
        m_results.clear();
        return result;
    }
    case Action_ReadData: return _readData();
    case Action_GetShareDataList: return _getShareDataList();
    case Action_GetShareData: return _getShareData();
    case Action_UpdateComponent: return _updateComponent(m_compUpdateInfo);
    case Action_Batch: return _batch();
    // The data actions report through the result list; their error flag is always set.
    case Action_ExportTrack: {
        const QStringList texts = saveDeviceRawData(m_arguments.value(0).toString());
        m_results.clear();
        for (const QString& text : texts)
            m_results.append(text);
        return false;
    }
    case Action_MakeUploadZip: {
        QString path;
        if (!prepareUploadData(path, true))
            path = QLatin1String("");
        m_results.clear();
        m_results.append(path);
        return false;
    }
    case Action_ImportDownloadZip:
        setShareData(m_arguments.value(0).toString());
        m_results.clear();
        return false;
    case Action_ReadProfile: {
        const bool result = prepareUploadProfile(m_arguments.value(0).toString());
        m_results.clear();
        m_results.append(result);
        return false;
    }
    case Action_WriteProfile: {
        QByteArray path = JXProfileReaderXML::pathBytes(m_arguments.value(0).toString());
        JXProfileData profile(path, ProfileFormat::XML);
        // The driver rewrites the device's whole profile from the map, so a missing or broken file sends nothing.
        const bool result = profile.readAll() && saveProfile(profile.getData());
        m_results.clear();
        m_results.append(result);
        return false;
    }
    case Action_RestoreFactory: return _restoreFactory(m_restoreFactoryText);
    case Action_MapUpdate: return _updateMapData(m_mapUpdateText);
    case Action_UpdateAlp: return _updateAlp(m_file, m_number);
    default: return false;
    }
}

// Runs on the main thread once the client's thread has ended, however it ended.
void JXClient::thread_done()
{
    stopCountProgress();
    // From here on a new action is accepted, also from the slots and listeners called below.
    const int action = m_action.exchange(Action_None);

    const State state = getState();
    if (state == State_WaitForUpdate || state == State_WaitForRestore)
        return;

    switch (action) {
    case Action_UpdateTotal: emit updateTotalDone(); break;
    case Action_UpdateAP: emit updateAPDone(); break;
    case Action_UpdateBootLoader: emit updateBootLoaderDone(); break;
    case Action_ImportMap: emit importMapDone(); break;
    case Action_DeleteMap: emit deleteMapDone(); break;
    case Action_Finalize:
        emit finalizeDone();
        sendResultsToScriptBridge();
        break;
    case Action_ReadData: emit readDataDone(); break;
    case Action_GetShareDataList: emit getShareDataListDone(JXClientShareDataList(m_shareDataList)); break;
    case Action_GetShareData: emit getShareDataDone(JXClientShareData(m_shareData)); break;
    case Action_UpdateComponent:
        m_compUpdateInfo.clear();
        emit updateComponentDone();
        break;
    case Action_Batch: emit batchDone(JXClientShareData(m_shareData)); break;
    case Action_ExportTrack:
    case Action_MakeUploadZip:
    case Action_ImportDownloadZip:
    case Action_ReadProfile:
    case Action_WriteProfile: sendResultsToScriptBridge(); break;
    case Action_Silent: return;
    default: break;
    }

    JXDaemon::getInstance()->getDeviceManager()->dispatchActionDoneEvent(action);
}

void JXClient::sendResultsToScriptBridge()
{
    if (PythonCppBridge* bridge = PythonCppBridge::getInstance())
        bridge->doAsyncCallback(m_results);
}

void JXClient::handleException()
{
    JX_CRITICAL << "wrong data exception";
}

// ---- State and results -----------------------------------------------------------------------------------------

bool JXClient::isBusy()
{
    return m_action.load() != Action_None;
}

JXClient::State JXClient::getState()
{
    QMutexLocker lock(&m_stateMutex);
    return m_state;
}

bool JXClient::setStateWithMatch(State expected, State next)
{
    QMutexLocker lock(&m_stateMutex);
    if (m_state != expected)
        return false;
    m_state = next;
    return true;
}

bool JXClient::setStateWithoutMatch(State unwanted, State next)
{
    QMutexLocker lock(&m_stateMutex);
    if (m_state == unwanted)
        return false;
    m_state = next;
    return true;
}

bool JXClient::getError(int* code)
{
    if (code)
        *code = m_errorCode.load();
    return m_error.load();
}

QMutex* JXClient::getMutex()
{
    return &m_deviceMutex;
}

void JXClient::setTaskProgress(float progress)
{
    m_taskProgress.store(progress);
}

float JXClient::getTaskProgress()
{
    return m_taskProgress.load();
}

void JXClient::startCountProgress()
{
    setTaskProgress(0.0f);
}

void JXClient::stopCountProgress()
{
    setTaskProgress(-1.0f);
}

// ---- Defaults: not supported unless a driver says otherwise ----------------------------------------------------

bool JXClient::initial()
{
    return true;
}

int JXClient::getServiceType()
{
    return -1;
}

int JXClient::getDeviceType()
{
    return 1;
}

bool JXClient::getDrive(QString& drive)
{
    return false;
}

bool JXClient::getShareDataPath(QString& path)
{
    return false;
}

bool JXClient::getUUID(QString& uuid)
{
    return false;
}

bool JXClient::getInternalStorage(qint64& total, qint64& free)
{
    return false;
}

bool JXClient::getOS(QString& version)
{
    return getTotal(version);
}

bool JXClient::getBootloader(QString& version)
{
    return true;
}

bool JXClient::getTotal(QString& version)
{
    return false;
}

bool JXClient::getLaunchsec(QString& version)
{
    return false;
}

bool JXClient::getAP(QString& version)
{
    return false;
}

quint32 JXClient::getAlpExpiredDate()
{
    return 0;
}

bool JXClient::isExist()
{
    return true;
}

bool JXClient::isSupportMassStorage()
{
    return false;
}

void JXClient::getPOIs(QVector<JXClientData>& items) {}

void JXClient::getRoutes(QVector<JXClientData>& items) {}

void JXClient::getTracks(QVector<JXClientData>& items) {}

void JXClient::getWorkouts(QVector<JXClientData>& items) {}

bool JXClient::deletePOIs(QVector<int> ids)
{
    return false;
}

bool JXClient::deleteRoutes(QVector<int> ids)
{
    return false;
}

bool JXClient::deleteTracks(QVector<int> ids)
{
    return false;
}

bool JXClient::deleteWorkouts(QVector<int> ids)
{
    return false;
}

bool JXClient::deleteAll()
{
    return false;
}

bool JXClient::saveProfile(QMap<QString, QString> profile)
{
    return false;
}

void JXClient::removeUpdatePackage() {}

bool JXClient::updateLaunchsec(QString file)
{
    return false;
}

int JXClient::SimualteFinalize()
{
    return 1;
}

void JXClient::formatDevice() {}

bool JXClient::eject()
{
    return false;
}

bool JXClient::prepareUploadProfile(QString path)
{
    return false;
}

int JXClient::getRestoreFactorySteps()
{
    return 1;
}

void JXClient::exportLog(QString path) {}

bool JXClient::setShareData(QString path)
{
    return false;
}

bool JXClient::getSupportLanguage(QString path, QStringList& codes)
{
    return false;
}

bool JXClient::getLanguageOnDevice(QStringList& codes)
{
    return false;
}

bool JXClient::setDefLanguage(QStringList* codes, int index)
{
    return false;
}

bool JXClient::setLocaleTimeFromePC()
{
    return false;
}

int JXClient::getMainActiveType()
{
    return 0;
}

QString JXClient::GetComponentVersion(QString component)
{
    return QStringLiteral("not support");
}

void JXClient::cleanBatchAction()
{
    m_batchActions.clear();
}

bool JXClient::setBatchAction(ClientAction action)
{
    m_batchActions.append(action);
    return true;
}

void JXClient::saveExtFlashToFile(QString path) {}

JXClient::ImageMetaInfo JXClient::getImageMetaInfo(QString path)
{
    return ImageMetaInfo();
}

JXDeviceService* JXClient::getDeviceService()
{
    return nullptr;
}

bool JXClient::isSafeModelName(const QString& model)
{
    if (model.isEmpty() || model == QLatin1String(".") || model == QLatin1String(".."))
        return false;
    for (const QChar c : model) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

bool JXClient::registryModelName(QString& model)
{
    JXDeviceService* service = getDeviceService();
    const stRegDevInfo* row = service ? service->getRegistryInfo() : nullptr;
    if (!row)
        return false;
    model = row->modelName;
    return true;
}

bool JXClient::_updateAlp(QString file, unsigned int expiry)
{
    return true;
}

bool JXClient::_updateTotal(QString file, QString lang)
{
    return true;
}

bool JXClient::_updateBootLoader(QString file)
{
    return true;
}

bool JXClient::_updateAP(QString file)
{
    return true;
}

bool JXClient::_importMap(JXClientTask* task)
{
    return true;
}

bool JXClient::_deleteMap(JXClientTask* task)
{
    return true;
}

bool JXClient::_finalize()
{
    return true;
}

bool JXClient::_readData()
{
    return true;
}

bool JXClient::_getShareData()
{
    return prepareUploadData(m_shareData.path, isDontCheckUploaded());
}

bool JXClient::_updateComponent(JXClientCompUpdateInfo info)
{
    return true;
}

bool JXClient::_restoreFactory(QString text)
{
    return false;
}

bool JXClient::_updateMapData(QString text)
{
    return false;
}

// ---- Settings and versions -------------------------------------------------------------------------------------

QString JXClient::getValue(QString key, QString defaultValue)
{
    QString model;
    if (!getName(model))
        return defaultValue;
    QSettings settings(JXEnv::getInstance()->getJXSettingPath(), QSettings::IniFormat);
    settings.beginGroup(model);
    return JXUtility::settingText(settings.value(key, defaultValue));
}

bool JXClient::isDontCheckUploaded()
{
    return getValue(QStringLiteral("dontcheckuploaded"), QStringLiteral("0")) != QLatin1String("0");
}

bool JXClient::isSupportImportPSFLanguageFilter()
{
    return getValue(QStringLiteral("psflanguagefilter"), QStringLiteral("1")) != QLatin1String("0");
}

QString JXClient::getRequiredJX()
{
    QSettings settings(JXEnv::getInstance()->getJXSettingPath(), QSettings::IniFormat);
    QString model;
    getName(model);
    if (model.isEmpty())
        return QString();
    settings.beginGroup(model);
    return JXUtility::settingText(settings.value(QStringLiteral("MinJXVer"), QString()));
}

void JXClient::getVersions(QStringList& list)
{
    QString os;
    getOS(os);
    if (!os.isEmpty())
        list.append(os);
    QString ap;
    getAP(ap);
    if (!ap.isEmpty())
        list.append(ap);
}

void JXClient::modifyForceUpdateInfo(JXEnv* env)
{
    QString model;
    QString bootLoader;
    if (!getName(model) || !getBootloader(bootLoader))
        return;
    QString total;
    QString ap;
    getTotal(total);
    getAP(ap);

    QString minImage;
    QString minIap;
    QString minAp;
    {
        QSettings settings(env->getJXSettingPath(), QSettings::IniFormat);
        settings.beginGroup(model);
        minImage = JXUtility::settingText(settings.value(QStringLiteral("MinImgVer"), QString()));
        minIap = JXUtility::settingText(settings.value(QStringLiteral("MinIapVer"), QString()));
        minAp = JXUtility::settingText(settings.value(QStringLiteral("MinApVer"), QString()));
    }

    // Device versions compare as plain text.
    if (!minImage.isEmpty() && total < minImage)
        env->setForceDeviceUpdate(true);
    else if (!minIap.isEmpty() && !bootLoader.isEmpty() && bootLoader < minIap)
        env->setForceDeviceUpdate(true);
    else if (!minAp.isEmpty() && !ap.isEmpty() && ap < minAp)
        env->setForceDeviceUpdate(true);

    // The companion version compares part by part as numbers.
    const QString required = getRequiredJX();
    const QString current = env->getVersion();
    if (required.isEmpty() || current.isEmpty())
        return;
    const QStringList requiredParts = required.split(QLatin1Char('.'));
    const QStringList currentParts = current.split(QLatin1Char('.'));
    if (requiredParts.size() != currentParts.size())
        return;
    for (int i = 0; i < requiredParts.size(); ++i) {
        const int requiredPart = requiredParts.at(i).toInt();
        const int currentPart = currentParts.at(i).toInt();
        if (requiredPart > currentPart) {
            env->setForceJXUpdate(true);
            return;
        }
        if (requiredPart < currentPart)
            return;
    }
}

QString JXClient::getCapability()
{
    QString model;
    getName(model);
    const QByteArray ascii = model.toLatin1();
    ProjSwCapabilityRecord record = {};
    if (ProjSwCapability(ascii.constData(), &record) == 0 || !record.capability) {
        JX_CRITICAL << "call ProjSwCapability failed";
        return QString();
    }
    return QString::fromLatin1(record.capability);
}

// ---- Flash images ----------------------------------------------------------------------------------------------

namespace {

// Raw flash is written through a SCSI device service, from block 0.
bool writeFlashImage(JXDeviceService* service, QByteArray data, unsigned char area, int blockSize)
{
    if (!service || service->getType() != JXDeviceService::DEVICE_SCSI) {
        JX_CRITICAL << "no raw flash service for area" << area;
        return false;
    }
    return static_cast<JXSCSIDeviceService*>(service)->writeFlashBlocks(data.data(), area, data.size(), blockSize, 0);
}

} // namespace

bool JXClient::writeInternalFlash(QString folder, QString name, unsigned char area, int blockSize)
{
    const QString path = folder + QLatin1Char('/') + name + QLatin1String(".bin");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        JX_CRITICAL << "can not open file: " << path;
        m_error = true;
        return false;
    }
    const QByteArray data = file.readAll();
    if (!writeFlashImage(getDeviceService(), data, area, blockSize)) {
        JX_CRITICAL << "fail to write internal flash for " << name;
        m_error = true;
        return false;
    }
    return true;
}

bool JXClient::writeExternalFlash(QString folder, QString name, unsigned char area, int blockSize)
{
    const QString path = folder + QLatin1Char('/') + name + QLatin1String("ExData.bin");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        JX_CRITICAL << "can not open file: " << path;
        m_error = true;
        return false;
    }
    const QByteArray data = file.readAll();
    if (!writeFlashImage(getDeviceService(), data, area, blockSize)) {
        JX_CRITICAL << "fail to write external flash for" << name;
        m_error = true;
        return false;
    }
    return true;
}

void JXClient::exportData(QString folder, QStringList& files)
{
    QString model;
    getName(model);
    // Without a model the copy is plain "flash.dat".
    if (!model.isEmpty() && !isSafeModelName(model)) {
        JX_CRITICAL << "no flash copy for the model" << model << ": it is no file name";
        return;
    }
    const QString fileName = model + QLatin1String("flash.dat");
    const QString path = folder + QLatin1Char('/') + fileName;
    QFile::remove(path);
    saveExtFlashToFile(path);
    if (QFile::exists(path))
        files.append(fileName);
}

// ---- Name records ----------------------------------------------------------------------------------------------

QByteArray JXClient::toPsfBitfont(QString text, QString langCode, bool hasNext, bool option, bool direct)
{
    // Painting belongs to the thread that owns the creator; direct renders on the calling thread.
    JXPSFMultiLangString_1_5::setBitFontCreator(direct ? nullptr : &m_bitFontCreator);
    QByteArray buffer(kBitfontBufferSize, '\0');
    JXPSFMultiLangString_1_5 record(buffer.data(), true);
    record.setString(text, langCode, true, option);
    record.setNext(hasNext);
    buffer.truncate(int(record.getBytesCount()));
    JXPSFMultiLangString_1_5::setBitFontCreator(nullptr);
    return buffer;
}

namespace {

// The record must hold its head and the payload its head announces.
bool recordFits(const QByteArray& record)
{
    if (record.size() < int(JXPSFMultiLangString_1_5::HeadSize)) {
        JX_WARNING << "name record too short:" << record.size();
        return false;
    }
    QByteArray copy = record;
    JXPSFMultiLangString_1_5 view(copy.data(), false);
    if (view.getBytesCount() > unsigned(record.size())) {
        JX_WARNING << "name record cut off:" << record.size() << "of" << view.getBytesCount();
        return false;
    }
    return true;
}

} // namespace

QByteArray JXClient::toPngString(QByteArray record, QString& langCode)
{
    if (!recordFits(record))
        return QByteArray();
    JXPSFMultiLangString_1_5 view(record.data(), false);
    langCode = QString::fromLatin1(view.getLangCode(), 3);
    const QImage picture = view.getBitFontString();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return png;
}

QString JXClient::toTextString(QByteArray record, QString& langCode)
{
    if (!recordFits(record))
        return QString();
    JXPSFMultiLangString_1_5 view(record.data(), false);
    langCode = QString::fromLatin1(view.getLangCode(), 3);
    return view.getTextString();
}
