#include "dorvcontroller.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QMessageBox>
#include <QStringList>

#include "device/jxclient.h"
#include "dorvapp.h"
#include "dorvform.h"
#include "jxdaemon.h"
#include "jxenv.h"
#include "jxlog.h"
#include "recover_complete.h"
#include "recover_fail.h"
#include "softupdateform.h"

namespace {

const char* const kAlpFileName = "AssitOff.alp";
const char* const kPackageFileName = "/Total.zip";
const int kAlpDays = 14;
const int kProgressStep = 2;
const int kProgressCeiling = 99; // only the end of the action may show the bar full
// The release note has not been read yet.
const char* const kUnreadNote = "empty";

JXClient* daemonClient()
{
    return JXDaemon::getInstance()->getClient();
}

// The connected device, unless its model name cannot be a folder name: the per-model folder is built from it, so such
// a device is treated like one whose model cannot be read, and nothing is queried, downloaded or written for it.
JXClient* currentClient()
{
    JXClient* client = daemonClient();
    QString model;
    if (client)
        client->getName(model);
    return client && JXClient::isSafeModelName(model) ? client : nullptr;
}

} // namespace

DorvController::DorvController() : m_releaseNote(QString::fromLatin1(kUnreadNote))
{
    // Each screen is a top-level window of its own.
    m_mainForm = new DorvForm(nullptr);
    m_completeForm = new recover_complete_form(nullptr);
    m_failForm = new recover_fail_form(nullptr);
    m_softUpdateForm = new SoftUpdateForm(nullptr);
    m_apiClient.reset(new VexmorApiClient(this));
    m_reriduruClient.reset(new ReriduruClient(this));
    JXDaemon::getInstance()->getDeviceManager()->addListener(this);
    connect(&m_progressTimer, &QTimer::timeout, this, &DorvController::run);
}

DorvController::~DorvController()
{
    disconnect(&m_progressTimer, &QTimer::timeout, this, &DorvController::run);
    m_progressTimer.stop();
    JXDaemon::getInstance()->getDeviceManager()->removeListener(this);
    delete m_mainForm;
    delete m_softUpdateForm;
    delete m_completeForm;
    delete m_failForm;
    m_reriduruClient.reset();
    m_apiClient.reset();
}

void DorvController::setTransferTimeout(int milliseconds)
{
    m_apiClient->setTransferTimeout(milliseconds);
    m_reriduruClient->setTransferTimeout(milliseconds);
}

// ---- Device events ---------------------------------------------------------------------------------------------

void DorvController::onDeviceConnected(JXClient*)
{
    start();
}

void DorvController::onDeviceDisconnected(JXClient*)
{
    // The bar of an action on a device that left must not go on moving.
    m_progressTimer.stop();
    m_availableVersion.clear();
    m_deviceVersion.clear();
    m_releaseNote = QString::fromLatin1(kUnreadNote);
    m_cachedAlpDate = 0;
    m_checkFailed = false;
    m_alpDownloadFailed = false;
    show_index(true);
}

void DorvController::onDeviceEjected(JXClient*) {}

void DorvController::onClientActionFinished()
{
    m_finishedClient = qobject_cast<JXClient*>(sender());
}

void DorvController::watchActionEnd(JXClient* client)
{
    connect(client, &JXClient::updateTotalDone, this, &DorvController::onClientActionFinished, Qt::UniqueConnection);
    connect(client, &JXClient::updateComponentDone, this, &DorvController::onClientActionFinished,
            Qt::UniqueConnection);
}

// The event carries the current client, which after an unplug is none or a newly plugged device. The result is
// read from the client that ran the action, named by its own signal just before; when that is unknown or gone
// the action counts as failed.
void DorvController::onDeviceActionDone(JXClient*, int action)
{
    m_progressTimer.stop();
    JXClient* runner = m_finishedClient.data();
    m_finishedClient.clear();

    int errorCode = 0;
    const bool failed = !runner || runner->getError(&errorCode);

    switch (action) {
    case JXClient::Action_UpdateAlp: m_mainForm->notifyGpsDataUpdate(false); break;
    case JXClient::Action_UpdateComponent:
        if (m_workoutCheckClient && runner == m_workoutCheckClient) {
            m_workoutCheckClient.clear();
            if (!failed)
                m_mainForm->enableWorkoutUpdate();
            break;
        }
        m_mainForm->notifyWorkoutUpdate(false);
        showMessageBox(failed ? QCoreApplication::translate("recover_complete_form", "Fail. Please try again later.")
                              : QCoreApplication::translate("recover_complete_form", "Completion"),
                       QString());
        break;
    case JXClient::Action_UpdateTotal:
        if (failed)
            show_fail_form(errorCode);
        else
            show_complete_form();
        // Code 0: the driver stopped before it looked at the images, perhaps at a package it cannot open.
        if (failed && errorCode == 0 && runner && runner == currentClient())
            forgetBrokenPackage();
        break;
    default: show_fail_form(0); break;
    }

    if (action == JXClient::Action_UpdateTotal) {
        // The user is told to pull the cable now: nothing more is written to the device.
        m_deferredAlpInstall.clear();
        m_deferredWorkoutCheck.clear();
    } else {
        startDeferredRequest();
    }
}

// A request that the client refused while another action ran: the assistance data first, since the main window
// shows it as being updated, then the silent workout check.
void DorvController::startDeferredRequest()
{
    JXClient* client = currentClient();
    if (!client || client->isBusy())
        return;
    if (m_deferredAlpInstall == client) {
        m_deferredAlpInstall.clear();
        if (client->getAlpExpiredDate() < m_cachedAlpDate) {
            installAlp(client);
            return;
        }
        m_mainForm->notifyGpsDataUpdate(false);
    }
    if (m_deferredWorkoutCheck == client) {
        m_deferredWorkoutCheck.clear();
        checkWorkout();
    }
}

void DorvController::installAlp(JXClient* client)
{
    if (!client->updateAlp(QString::fromLatin1(kAlpFileName), m_cachedAlpDate))
        m_deferredAlpInstall = client;
}

// ---- Update query ----------------------------------------------------------------------------------------------

void DorvController::start()
{
    show_index(false);
    if (!currentClient()) {
        if (JXClient* refused = daemonClient()) {
            QString model;
            refused->getName(model);
            JX_CRITICAL << "refusing the device's model name" << model << ": it is no folder name";
        }
        return;
    }
    queryUpdate();
    updateAlp(false);
}

void DorvController::queryUpdate()
{
    JXClient* client = currentClient();
    if (!client)
        return;
    m_checkFailed = false;
    m_mainForm->showUpdateIndicator();
    QString model;
    client->getName(model);
    m_apiClient->queryUpdate(model, JXEnv::getInstance()->getUserDataBaseFolder() + QStringLiteral("/updates/") + model,
                             isBetaVersion());
}

// A package that is no zip, or holds no "release.ini", would stay cached for good, since its version equals the
// server's: it is forgotten and fetched again.
void DorvController::forgetBrokenPackage()
{
    const QString folder = getUpdateDataFolder();
    const QString package = folder + QLatin1String(kPackageFileName);
    const bool packageExists = QFile::exists(package);
    if (!packageExists && !QFile::exists(folder + QStringLiteral("/version.txt")))
        return;
    if (packageExists) {
        QFile file(package);
        if (VexmorApiClient::isUsablePackage(file))
            return;
    }
    JX_CRITICAL << "the cached package" << package << "cannot be used: it is downloaded again";
    VexmorApiClient::discardPackage(folder);
    m_availableVersion.clear();
    m_deviceVersion.clear();
    queryUpdate();
}

void DorvController::onUpdateFinished(bool)
{
    JX_DEBUG << "onQureyUpdateFinished";
    m_availableVersion.clear();
    m_deviceVersion.clear();
    m_checkFailed = m_apiClient->lastQueryFailed();

    if (JXClient* client = currentClient()) {
        client->getOS(m_deviceVersion);
        bool updateOffered = false;
        if (VexmorApiClient::readCachedText(getUpdateDataFolder() + QStringLiteral("/version.txt"),
                                            m_availableVersion) &&
            m_deviceVersion < m_availableVersion) {
            m_mainForm->showUpdateCounts();
            updateOffered = true;
        }
        checkWorkout();
        if (updateOffered)
            return;
    }
    m_mainForm->hideUpdateIndicator();
}

// Asks the driver, without installing, whether the cached package holds a workout component.
void DorvController::checkWorkout()
{
    JXClient* client = currentClient();
    if (!client)
        return;
    watchActionEnd(client);
    if (client->updateComponent(getUpdateDataFolder() + QLatin1String(kPackageFileName), QString(), QString(),
                                QStringLiteral("0")))
        m_workoutCheckClient = client;
    else
        m_deferredWorkoutCheck = client;
}

// ---- User requests ---------------------------------------------------------------------------------------------

bool DorvController::showBusyMessage()
{
    bool busy = m_reriduruClient->isDownloading();
    if (!busy) {
        JXClient* client = currentClient();
        busy = !client || client->isBusy();
    }
    if (busy)
        execMessageBox(m_mainForm, QCoreApplication::translate("dorvcontroller", "Busy. Please try again later."),
                       QString());
    return busy;
}

void DorvController::show_update_form()
{
    if (m_deviceVersion.isEmpty() && m_availableVersion.isEmpty()) {
        execMessageBox(m_mainForm, QCoreApplication::translate("dorvcontroller", "Checking new version now"),
                       QString());
    } else if (m_deviceVersion < m_availableVersion) {
        m_softUpdateForm->updateForm(m_availableVersion, m_deviceVersion, QString());
        m_softUpdateForm->setVisible(true);
        m_mainForm->setVisible(false);
        m_failForm->setVisible(false);
    } else if (m_checkFailed) {
        // Not "up-to-date": nobody knows. The server is asked again, so that a later press has an answer.
        execMessageBox(m_mainForm,
                       QCoreApplication::translate("dorvcontroller",
                                                   "Checking for new software failed. Please try again later."),
                       QString());
        m_availableVersion.clear();
        m_deviceVersion.clear();
        queryUpdate();
    } else {
        execMessageBox(m_mainForm, QCoreApplication::translate("dorvcontroller", "Your software is up-to-date."),
                       QString());
    }
}

void DorvController::updateDevice()
{
    JXClient* client = currentClient();
    if (!client)
        return;
    watchActionEnd(client);
    if (!client->updateTotal(getUpdateDataFolder() + QLatin1String(kPackageFileName), QString())) {
        showFailScreenGeneric();
        return;
    }
    startProgress(false);
}

void DorvController::updateWorkout()
{
    m_mainForm->notifyWorkoutUpdate(true);
    JXClient* client = currentClient();
    if (!client)
        return;
    watchActionEnd(client);
    if (!client->updateComponent(getUpdateDataFolder() + QLatin1String(kPackageFileName), QString(), QString(),
                                 QStringLiteral("1"))) {
        showFailScreenGeneric();
        return;
    }
    startProgress(true);
}

// A refused action leaves no result of its own: the screen says the generic failure, not what it said last time.
void DorvController::showFailScreenGeneric()
{
    m_failForm->set_fail_msg(0);
    m_failForm->setVisible(true);
}

void DorvController::startProgress(bool onMainWindow)
{
    m_progressOnMainWindow = onMainWindow;
    m_progress = 0;
    m_progressTimer.start(m_progressInterval);
}

void DorvController::run()
{
    m_progress = qMin(m_progress + kProgressStep, kProgressCeiling);
    if (m_progressOnMainWindow)
        m_mainForm->setProgress(m_progress);
    else
        m_softUpdateForm->setProgress(m_progress);
}

// ---- Assistance data -------------------------------------------------------------------------------------------

void DorvController::updateAlp(bool userAsked)
{
    m_cachedAlpDate = getCachedAlpDate();
    // Cached data counts as fresh only on its download day: from then on its expiry lies before this limit.
    const quint32 limit = ReriduruClient::expiryAfter(kAlpDays, QDateTime::currentDateTime());
    // After a failed download the button asks the server again, whatever is cached.
    if (m_cachedAlpDate < limit || (userAsked && m_alpDownloadFailed)) {
        m_alpDownloadFailed = false;
        JX_DEBUG << "start downloading AssitOff.alp";
        m_reriduruClient->download(getUpdateDataFolder(), QString::fromLatin1(kAlpFileName), kAlpDays);
        m_mainForm->notifyGpsDataUpdate(true);
        return;
    }

    JXClient* client = currentClient();
    if (!client)
        return;
    if (client->getAlpExpiredDate() < m_cachedAlpDate) {
        installAlp(client);
        m_mainForm->notifyGpsDataUpdate(true);
    } else if (userAsked) {
        execMessageBox(nullptr, QCoreApplication::translate("dorvcontroller", "GPS data on device is up-to-date"),
                       QString());
    }
}

quint32 DorvController::getCachedAlpDate()
{
    if (m_cachedAlpDate == 0)
        m_cachedAlpDate = ReriduruClient::readExpiry(getUpdateDataFolder() + QStringLiteral("/date.txt"));
    return m_cachedAlpDate;
}

void DorvController::onReriduruFinished(bool result)
{
    JX_DEBUG << "onReriduruFinished";
    m_alpDownloadFailed = !result;
    if (!result)
        execMessageBox(nullptr, QCoreApplication::translate("dorvcontroller", "Download GPS data failed."),
                       QCoreApplication::translate("dorvcontroller", "Check the netwrok and try again."));

    m_cachedAlpDate = 0;
    getCachedAlpDate();

    // The device may have been pulled while the data downloaded.
    JXClient* client = currentClient();
    if (!client)
        return;
    if (client->getAlpExpiredDate() < m_cachedAlpDate)
        installAlp(client);
    else
        m_mainForm->notifyGpsDataUpdate(false);
}

// ---- Screens ---------------------------------------------------------------------------------------------------

void DorvController::show_index(bool noDevice)
{
    QString name;
    QString uuid;
    QStringList versions;
    bool folderExists = false;
    JXClient* client = currentClient();
    if (!noDevice && client) {
        client->getName(name);
        client->getUUID(uuid);
        client->getVersions(versions);
        folderExists = QFile::exists(getUpdateDataFolder());
    }
    m_mainForm->updateForm(name, uuid, versions, folderExists);
    m_mainForm->setVisible(true);
    m_softUpdateForm->setVisible(false);
    m_failForm->setVisible(false);
    m_completeForm->setVisible(false);
}

void DorvController::show_complete_form()
{
    m_softUpdateForm->setVisible(false);
    m_mainForm->setVisible(false);
    m_completeForm->setVisible(true);
}

void DorvController::show_fail_form(int errorCode)
{
    m_softUpdateForm->setVisible(false);
    m_mainForm->setVisible(false);
    m_failForm->set_fail_msg(errorCode);
    m_failForm->setVisible(true);
}

void DorvController::showMessageBox(const QString& text, const QString& informativeText)
{
    execMessageBox(nullptr, text, informativeText);
}

void DorvController::execMessageBox(QWidget* parent, const QString& text, const QString& informativeText)
{
    QMessageBox box(parent);
    box.setText(text);
    if (!informativeText.isEmpty())
        box.setInformativeText(informativeText);
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.adjustSize();
    const QSize free = m_mainForm->size() - box.size();
    box.move(m_mainForm->pos() + QPoint(free.width() / 2, free.height() / 2));
    box.exec();
}

// ---- Queries ---------------------------------------------------------------------------------------------------

QString DorvController::getReleaseNote()
{
    if (m_releaseNote == QLatin1String(kUnreadNote))
        readNoteText();
    return m_releaseNote;
}

void DorvController::readNoteText()
{
    if (!currentClient())
        return;
    VexmorApiClient::readCachedText(getUpdateDataFolder() + QStringLiteral("/note.txt"), m_releaseNote);
}

bool DorvController::isBetaVersion()
{
    return isBetaVersion(DorvApp::getVersion());
}

bool DorvController::isBetaVersion(const QString& applicationVersion)
{
    const QStringList parts = applicationVersion.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return true;
    const int build = parts.at(3).toInt(); // 0 when it is not a number
    return build % 2 != 0;
}

bool DorvController::isWatchDevice()
{
    JXClient* client = currentClient();
    return !client || client->getDeviceType() != 1;
}

QString DorvController::getUpdateDataFolder()
{
    QString model;
    if (JXClient* client = currentClient())
        client->getName(model);
    return JXEnv::getInstance()->getUserDataBaseFolder() + QStringLiteral("/updates/") + model;
}
