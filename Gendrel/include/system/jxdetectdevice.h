#ifndef JXDETECTDEVICE_H
#define JXDETECTDEVICE_H

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

// The thread on which disk changes arrive. It watches the operating-system layer's mount table and block devices,
// turns each change into one of four callbacks (disk appeared, mount, unmount, disk disappeared) and reports them
// as Qt signals; it decides nothing about devices. The detector that owns it receives the signals on the main
// thread. A mount is reported only for a disk whose vendor contains one of the interest vendors (case ignored).
//
// The object lives on the main thread; it is stopped by stopWatching, by its destructor, or when the application
// object goes away, whichever comes first.
class JXDetectDevice : public QThread
{
    Q_OBJECT

public:
    explicit JXDetectDevice(QObject* parent = nullptr);
    ~JXDetectDevice() override;

    // Before the thread starts.
    void setInterestVendors(QStringList vendors);
    // Starts the thread and returns once its watches are armed, so that no later change goes unreported; false when
    // nothing can be watched (the thread has then ended).
    bool startWatching(QThread::Priority priority = QThread::InheritPriority);
    // Ends the watch and waits for the thread; nothing when it does not run. Not from the thread itself.
    void stopWatching();

    // On the detection thread, from the callbacks.
    void checkInterestDevice(QString vendor, QString diskName);
    void fireDeviceAdded(int type);
    void fireDeviceRemoved(int type);

signals:
    // A service type of JXDeviceService: DEVICE_FS or DEVICE_SCSI.
    void DevicePlugin(int type);
    void DeviceUnplug(int type);
    // The kernel name of a watched vendor's mounted disk or partition ("sdb1").
    void DeviceMount(QString diskName);

protected:
    void run() override;
    // Arms the watches and takes the state that later changes are measured against; false when nothing can be
    // watched.
    bool setupMountNotification();

private:
    Q_DISABLE_COPY(JXDetectDevice)

    // Reads the system again and runs the callbacks for what changed since the last look.
    void checkChanges();
    void closeWatches();

    enum class WatchState { Starting, Watching, Failed };

    QStringList m_interestVendors;
    int m_stopEvent = -1; // eventfd: a write ends the thread
    QMutex m_watchStateMutex;
    QWaitCondition m_watchStateChanged;
    WatchState m_watchState = WatchState::Starting;

    // Used on the detection thread only.
    int m_mountTableFd = -1; // polled for POLLPRI
    int m_inotifyFd = -1;    // the folders of a simulated system, whose files are replaced whole
    int m_pollTimeoutMs = -1;
    QSet<QString> m_blockDevices;
    QHash<QString, bool> m_mounts; // mount key -> it is a disk's mount
};

#endif
