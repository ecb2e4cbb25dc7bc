#ifndef JXDAEMON_H
#define JXDAEMON_H

#include <QScopedPointer>
#include <QString>

#include "device/jxdevicemanager.h"

class JXClient;

// The process-wide entry to the device side: owns the device manager, registers the built-in device families when
// asked, starts detection, hands each connected device's identity to the ride-log layer and the closed device-access
// library, and exports the logs. Made on first use (on the main thread, at start-up) and destroyed when the process
// exits; the listener operations run on the main thread.
class JXDaemon : public JXDeviceManagerListener
{
public:
    virtual ~JXDaemon();

    void onDeviceConnected(JXClient* client) override;
    void onDeviceDisconnected(JXClient* client) override;
    void onDeviceEjected(JXClient* client) override;
    void onDeviceActionDone(JXClient* client, int action) override;

    // Registers the built-in rows when registerBuiltInDevices, then starts the device manager as its listener.
    virtual void start(bool registerBuiltInDevices);
    // The connected device's client; null when none.
    virtual JXClient* getClient();
    // Packs the logs (and what the connected client adds) into one zip file at zipPath.
    virtual void exportLog(QString zipPath);

    // A JXDaemonProxy for the role "user", else a JXDaemon; never null. Later calls, also from worker threads, only
    // read the instance.
    static JXDaemon* getInstance();
    JXDeviceManager* getDeviceManager();

protected:
    JXDaemon();

private:
    Q_DISABLE_COPY(JXDaemon)

    QScopedPointer<JXDeviceManager> m_deviceManager;
};

#endif
