#ifndef JXDEVICEMANAGER_H
#define JXDEVICEMANAGER_H

#include <QScopedPointer>
#include <QString>
#include <QStringList>
#include <QVector>

#include "device/gheventbroadcaster.h"
#include "device/stregdevinfo.h"

class JXClient;
class JXDeviceDetector;
class JXDeviceService;

// Told by the platform detector about devices, on the main thread.
class JXDeviceDetectorListener
{
public:
    // The listener takes ownership of the service.
    virtual void onDevicePlugin(JXDeviceService* service) = 0;
    virtual void onDeviceUnplugin() = 0;
    virtual void onDeviceEjected() = 0;
};

// Told by the device manager about the connected device, on the main thread.
class JXDeviceManagerListener
{
public:
    virtual void onDeviceConnected(JXClient* client) = 0;
    virtual void onDeviceDisconnected(JXClient* client) = 0;
    virtual void onDeviceEjected(JXClient* client) = 0;
    virtual void onDeviceActionDone(JXClient* client, int action) = 0;
};

// Knows the connected device: holds the registry of device families, the platform detector and at most one client,
// and turns the detector's reports into events for its listeners. Serves one device at a time. Lives on the main
// thread; drivers may change the registry and eject from their worker threads during an update, without a lock.
class JXDeviceManager : public JXDeviceDetectorListener, public GHEventBroadcaster<JXDeviceManagerListener>
{
public:
    static const int DEVICE_TYPE_PSF = 1; // flash-image family
    static const int DEVICE_TYPE_GAL = 2; // closed-library family
    static const int DEVICE_TYPE_FIT = 4; // file-update family
    static const int DEVICE_TYPE_ALL = 7;

    JXDeviceManager();
    ~JXDeviceManager();

    int getManagedDeviceType() const { return m_managedDeviceType; }
    void setManagedDeviceType(int type) { m_managedDeviceType = type; }

    // A copy of the row goes to the front when atFront, else to the end.
    void registerDevice(const stRegDevInfo& row, bool atFront);
    // Removes the first row whose match text equals matchText exactly.
    void unregisterDevice(const QString& matchText);
    // The registry itself: the platform layer searches it and adds rows.
    QVector<stRegDevInfo>& getRegistryDevices() { return m_registry; }

    // Mass-storage devices on the volumes of the given disks (null: every removable volume); the caller owns them.
    QVector<JXDeviceService*> findFSDevices(QStringList* diskNames);
    JXClient* getConnectedDevice() const { return m_currentClient; }

    // Announces a device already present, then starts the platform detector; the detector's result.
    bool start();
    // Looks for raw-flash devices now and connects or disconnects accordingly; always true.
    bool detectDevice();

    void onDevicePlugin(JXDeviceService* service) override;
    void onDeviceUnplugin() override;
    void onDeviceEjected() override;

    void addListener(JXDeviceManagerListener* listener);
    // Removes the first occurrence; true when there was one.
    bool removeListener(JXDeviceManagerListener* listener);

    // The end of a client action, with the current client (null when none).
    void dispatchActionDoneEvent(int action);

    // A forced unmount and an eject of the connected device's volume; false when no device is connected.
    bool ejectConnectedDevice();
    // Ejects a volume device, tells the listeners it left and retires its client; false when none is connected.
    bool disconnectDevice();

private:
    Q_DISABLE_COPY(JXDeviceManager)

    // The current client becomes the previous one; the client that was previous until now is deleted.
    void retireCurrentClient();
    // The client of the service's registry row, or null; the service is the client's (or gone) afterwards.
    static JXClient* createClient(JXDeviceService* service);
    // Makes the client of the first service current and announces it; the other services are deleted.
    void connectFirst(QVector<JXDeviceService*>& services, const char* message);
    // The awaited return of a client that waits for its device in raw-flash mode; false when the service is not it.
    bool resumeWaitingClient(JXDeviceService* service);

    QVector<stRegDevInfo> m_registry;
    QScopedPointer<JXDeviceDetector> m_detector;
    JXClient* m_currentClient = nullptr;  // owned
    JXClient* m_previousClient = nullptr; // owned; kept alive until the next change
    quint32 m_lastUnplugTime = 0;         // whole seconds since 1970, UTC
    int m_managedDeviceType = DEVICE_TYPE_PSF | DEVICE_TYPE_GAL;
};

#endif
