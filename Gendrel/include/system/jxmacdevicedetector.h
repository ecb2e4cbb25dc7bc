#ifndef JXMACDEVICEDETECTOR_H
#define JXMACDEVICEDETECTOR_H

#include <QObject>
#include <QScopedPointer>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include "device/gheventbroadcaster.h"
#include "device/jxdevicemanager.h"
#include "system/jxdetectdevice.h"
#include "system/jxdevicedetector.h"

class JXDeviceService;

// The desktop's device detector: receives the detection thread's reports on the main thread and turns them into
// device searches through the platform layer: raw-flash devices when a disk arrives, volumes (retried every 100 ms
// until one is found) when a watched vendor's disk mounts, and whether the connected device is still there when a
// disk leaves. What it finds goes to its listeners. Lives on the main thread; every slot runs there.
class JXMacDeviceDetector : public QObject, public JXDeviceDetector, public GHEventBroadcaster<JXDeviceDetectorListener>
{
    Q_OBJECT

public:
    explicit JXMacDeviceDetector(JXDeviceManager* manager);
    ~JXMacDeviceDetector() override;

    // Returns once disk changes are watched; false when they cannot be.
    bool startWatching() override;
    void setInterestVendors(QStringList vendors) override;
    void addListener(JXDeviceDetectorListener* listener) override;
    bool removeListener(JXDeviceDetectorListener* listener) override;
    // The end of an unmount that the platform was asked for; there is no separate eject event here.
    void fireDeviceEjected() override {}

    // Only while a client is connected: true when one of the services has the client's UUID.
    bool isConnectedDevice(QVector<JXDeviceService*> services);

public slots:
    void DevicePlugin(int type);
    void DeviceUnplug(int type);
    void DeviceMount(QString diskName);
    void findFSDevice();

private:
    Q_DISABLE_COPY(JXMacDeviceDetector)

    // Hands the first service to the listeners and deletes the others; false when there is none.
    bool sendFirstService(QVector<JXDeviceService*>& services);

    JXDetectDevice m_detectThread; // a child as well, so that it can be found; stopped before it is destroyed
    JXDeviceManager* m_manager;    // not owned
    QStringList m_diskNames;       // watched disks that mounted and have not given a device yet
    QScopedPointer<QTimer> m_checkTimer;
};

#endif
