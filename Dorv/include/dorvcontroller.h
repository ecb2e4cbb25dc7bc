#ifndef DORVCONTROLLER_H
#define DORVCONTROLLER_H

#include <QObject>
#include <QPointer>
#include <QScopedPointer>
#include <QString>
#include <QTimer>

#include "device/jxdevicemanager.h"
#include "reriduruclient.h"
#include "vexmorapiclient.h"

class DorvForm;
class JXClient;
class QWidget;
class SoftUpdateForm;
class recover_complete_form;
class recover_fail_form;

// The updater's one controller: follows the connected file-update device, drives the software update, the GPS
// assistance data and the workout component, owns the screens and the two HTTP clients, and shows every message
// box. It always works on the daemon's current client. Main thread only.
class DorvController : public QObject,
                       public JXDeviceManagerListener,
                       public VexmorApiClientDelegate,
                       public ReriduruClientDelegate
{
    Q_OBJECT

public:
    static const int DefaultProgressInterval = 5000;

    DorvController();
    ~DorvController() override;

    void onDeviceConnected(JXClient* client) override;
    void onDeviceDisconnected(JXClient* client) override;
    void onDeviceEjected(JXClient* client) override;
    void onDeviceActionDone(JXClient* client, int action) override;
    void onUpdateFinished(bool result) override;
    void onReriduruFinished(bool result) override;

    void start();
    // True, after the busy box, when the device cannot take a request now.
    bool showBusyMessage();
    void show_update_form();
    void updateAlp(bool userAsked);
    void updateWorkout();
    void updateDevice();
    void show_index(bool noDevice);
    void show_complete_form();
    void show_fail_form(int errorCode);
    void showMessageBox(const QString& text, const QString& informativeText);
    QString getReleaseNote();
    bool isBetaVersion();
    // With four dotted parts: whether the fourth is odd; with any other number of parts: true.
    static bool isBetaVersion(const QString& applicationVersion);
    bool isWatchDevice();
    QString getUpdateDataFolder();
    quint32 getCachedAlpDate();

    // For tests: the progress step period (5000 ms) and the HTTP clients' transfer time-out.
    void setProgressInterval(int milliseconds) { m_progressInterval = milliseconds; }
    void setTransferTimeout(int milliseconds);

private slots:
    void run();
    // The client's own end-of-action signal, which comes just before the manager's action-done event.
    void onClientActionFinished();

private:
    void queryUpdate();
    void forgetBrokenPackage();
    void checkWorkout();
    void installAlp(JXClient* client);
    void startDeferredRequest();
    void readNoteText();
    void startProgress(bool onMainWindow);
    void showFailScreenGeneric();
    void execMessageBox(QWidget* parent, const QString& text, const QString& informativeText);
    void watchActionEnd(JXClient* client);

    DorvForm* m_mainForm = nullptr;
    SoftUpdateForm* m_softUpdateForm = nullptr;
    recover_complete_form* m_completeForm = nullptr;
    recover_fail_form* m_failForm = nullptr;
    QScopedPointer<VexmorApiClient> m_apiClient;
    QScopedPointer<ReriduruClient> m_reriduruClient;
    QTimer m_progressTimer;
    int m_progress = 0;
    QString m_availableVersion;
    QString m_deviceVersion;
    QString m_releaseNote;
    quint32 m_cachedAlpDate = 0;
    bool m_progressOnMainWindow = false;
    // The last update query or assistance download failed: the buttons say so instead of "up-to-date".
    bool m_checkFailed = false;
    bool m_alpDownloadFailed = false;
    // The client the silent workout check runs on; null when none runs.
    QPointer<JXClient> m_workoutCheckClient;
    // Requests a client refused because another action was running; made again when that action ends.
    QPointer<JXClient> m_deferredAlpInstall;
    QPointer<JXClient> m_deferredWorkoutCheck;
    // The client whose action just ended, as its own signal told; taken by the action-done event that follows.
    QPointer<JXClient> m_finishedClient;
    int m_progressInterval = DefaultProgressInterval;
};

#endif
