#include "system/jxdetectdevice.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "device/jxdeviceservice.h"
#include "jxlog.h"
#include "system/jxoperatingsystem.h"

namespace {

// sysfs sends no change notices, so without them the block devices are read again this often.
const int kRescanIntervalMs = 1000;

QString blockDeviceFolder(JXOperatingSystem* system)
{
    return QDir::cleanPath(system->rootFolder() + QLatin1String("/sys/class/block"));
}

QSet<QString> readBlockDevices(JXOperatingSystem* system)
{
    // Entries are links to the devices' folders.
    const QStringList names =
        QDir(blockDeviceFolder(system)).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    return QSet<QString>(names.begin(), names.end());
}

QStringList sorted(const QSet<QString>& names)
{
    QStringList list(names.begin(), names.end());
    std::sort(list.begin(), list.end());
    return list;
}

QString mountKey(const JXMountEntry& entry)
{
    return QStringLiteral("%1:%2 %3").arg(entry.major).arg(entry.minor).arg(entry.mountPoint);
}

QByteArray printable(const QString& text)
{
    return text.toLocal8Bit();
}

// The four callbacks run on the detection thread and only report.

void DiskAppearedCallback(const QString& name, JXDetectDevice* detector)
{
    JX_DEBUG << "DiskAppearedCallback";
    detector->fireDeviceAdded(JXDeviceService::DEVICE_SCSI);
}

// Every mount is approved; only a watched vendor's disk is reported.
void DiskMountApprovalCallback(const JXBlockDevice& disk, JXDetectDevice* detector)
{
    JX_DEBUG << "DiskMountApprovalCallback";
    const QString vendor = disk.scsi.scsiVendor;
    if (!vendor.isEmpty())
        fprintf(stdout, "disk:vendorName:%s\n", printable(vendor).constData());
    if (!disk.name.isEmpty())
        fprintf(stdout, "disk:diskName:%s\n", printable(disk.name).constData());
    detector->checkInterestDevice(vendor, disk.name);
}

void DiskUnmountApprovalCallback(JXDetectDevice* detector)
{
    JX_DEBUG << "DiskUnmountApprovalCallback";
    detector->fireDeviceRemoved(JXDeviceService::DEVICE_FS);
}

void DiskDisappearedCallback(const QString& name, JXDetectDevice* detector)
{
    JX_DEBUG << "DiskDisappearedCallback";
    detector->fireDeviceRemoved(JXDeviceService::DEVICE_SCSI);
}

} // namespace

JXDetectDevice::JXDetectDevice(QObject* parent) : QThread(parent)
{
    m_stopEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_stopEvent < 0)
        JX_CRITICAL << "cannot make the detection thread's stop event:" << strerror(errno);
    // Qt aborts when a running thread object is destroyed, and the owner of this one may outlive the application.
    if (QCoreApplication* application = QCoreApplication::instance()) {
        connect(application, &QCoreApplication::aboutToQuit, this, &JXDetectDevice::stopWatching);
        connect(application, &QObject::destroyed, this, &JXDetectDevice::stopWatching);
    }
}

JXDetectDevice::~JXDetectDevice()
{
    stopWatching();
    if (m_stopEvent >= 0)
        ::close(m_stopEvent);
}

void JXDetectDevice::setInterestVendors(QStringList vendors)
{
    m_interestVendors = vendors;
}

bool JXDetectDevice::startWatching(QThread::Priority priority)
{
    QMutexLocker lock(&m_watchStateMutex);
    if (isRunning())
        return m_watchState == WatchState::Watching;
    m_watchState = WatchState::Starting;
    start(priority);
    // Arming takes a read of the mount table and of sysfs; a thread that never runs must not hang the caller.
    QDeadlineTimer deadline(10000);
    while (m_watchState == WatchState::Starting) {
        if (!m_watchStateChanged.wait(&m_watchStateMutex, deadline)) {
            JX_CRITICAL << "the disk detection thread did not start";
            return false;
        }
    }
    return m_watchState == WatchState::Watching;
}

void JXDetectDevice::stopWatching()
{
    if (QThread::currentThread() == this)
        return;
    // isRunning() is already false while the thread is in QThread's own ending, which still emits finished() from
    // this object: wait for that end too, as the object may be destroyed next.
    if (!isRunning()) {
        wait();
        return;
    }
    const quint64 one = 1;
    if (::write(m_stopEvent, &one, sizeof one) != ssize_t(sizeof one))
        JX_CRITICAL << "cannot signal the detection thread to stop:" << strerror(errno);
    wait();
    quint64 count = 0;
    // Cleared, so that a later start watches again.
    if (::read(m_stopEvent, &count, sizeof count) < 0 && errno != EAGAIN)
        JX_WARNING << "cannot clear the stop event:" << strerror(errno);
}

void JXDetectDevice::checkInterestDevice(QString vendor, QString diskName)
{
    JX_DEBUG << QStringLiteral("checkInterestDevice: vendor=%1, diskname=%2").arg(vendor, diskName);
    for (const QString& interestVendor : qAsConst(m_interestVendors)) {
        JX_DEBUG << "instrest vendoers: " << interestVendor;
        if (vendor.indexOf(interestVendor, 0, Qt::CaseInsensitive) != -1) {
            emit DeviceMount(diskName);
            return;
        }
    }
}

void JXDetectDevice::fireDeviceAdded(int type)
{
    emit DevicePlugin(type);
}

void JXDetectDevice::fireDeviceRemoved(int type)
{
    emit DeviceUnplug(type);
}

bool JXDetectDevice::setupMountNotification()
{
    if (m_stopEvent < 0)
        return false;
    JXOperatingSystem* system = JXOperatingSystem::instance();
    m_pollTimeoutMs = -1;
    if (system->isSimulated()) {
        // A simulated system replaces its mount table whole and changes its block devices by links: its folders
        // are watched.
        m_inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        const uint32_t mask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE;
        const QStringList folders = {QFileInfo(system->mountTablePath()).path(), blockDeviceFolder(system)};
        for (const QString& folder : folders) {
            if (m_inotifyFd < 0 || ::inotify_add_watch(m_inotifyFd, QFile::encodeName(folder).constData(), mask) < 0) {
                JX_WARNING << "cannot watch" << folder << strerror(errno) << "; it is read again every"
                           << kRescanIntervalMs << "ms";
                m_pollTimeoutMs = kRescanIntervalMs;
            }
        }
    } else {
        // The kernel flags the mount table with POLLPRI on every change.
        m_mountTableFd = ::open(QFile::encodeName(system->mountTablePath()).constData(), O_RDONLY | O_CLOEXEC);
        if (m_mountTableFd < 0)
            JX_WARNING << "cannot watch the mount table" << system->mountTablePath() << strerror(errno);
        m_pollTimeoutMs = kRescanIntervalMs;
    }

    // Armed first, then read: a change in between is seen twice, never missed. What is there now is not reported.
    m_blockDevices = readBlockDevices(system);
    m_mounts.clear();
    QVector<JXMountEntry> mounts;
    if (system->mountedVolumes(mounts)) {
        for (const JXMountEntry& entry : qAsConst(mounts)) {
            JXBlockDevice disk;
            m_mounts.insert(mountKey(entry), entry.major != 0 && system->blockDevice(entry.major, entry.minor, disk));
        }
    }
    return true;
}

void JXDetectDevice::closeWatches()
{
    if (m_mountTableFd >= 0)
        ::close(m_mountTableFd);
    if (m_inotifyFd >= 0)
        ::close(m_inotifyFd);
    m_mountTableFd = -1;
    m_inotifyFd = -1;
}

void JXDetectDevice::run()
{
    const bool watching = setupMountNotification();
    {
        QMutexLocker lock(&m_watchStateMutex);
        m_watchState = watching ? WatchState::Watching : WatchState::Failed;
        m_watchStateChanged.wakeAll();
    }
    if (!watching) {
        JX_CRITICAL << "disk detection does not run";
        closeWatches();
        return;
    }
    pollfd watches[3];
    nfds_t count = 0;
    watches[count++] = pollfd{m_stopEvent, POLLIN, 0};
    if (m_mountTableFd >= 0)
        watches[count++] = pollfd{m_mountTableFd, POLLPRI, 0};
    const nfds_t inotifyIndex = count;
    if (m_inotifyFd >= 0)
        watches[count++] = pollfd{m_inotifyFd, POLLIN, 0};

    for (;;) {
        const int ready = ::poll(watches, count, m_pollTimeoutMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            JX_CRITICAL << "disk detection stops: poll failed:" << strerror(errno);
            break;
        }
        if (watches[0].revents != 0)
            break;
        if (m_inotifyFd >= 0 && watches[inotifyIndex].revents != 0) {
            char events[4096];
            while (::read(m_inotifyFd, events, sizeof events) > 0) {
            }
        }
        checkChanges();
    }
    closeWatches();
}

void JXDetectDevice::checkChanges()
{
    JXOperatingSystem* system = JXOperatingSystem::instance();
    const QSet<QString> blockDevices = readBlockDevices(system);
    QVector<JXMountEntry> mounts;
    const bool mountsRead = system->mountedVolumes(mounts);

    // In the order a disk lives: it appears, mounts, unmounts, disappears.
    for (const QString& name : sorted(blockDevices - m_blockDevices))
        DiskAppearedCallback(name, this);

    if (mountsRead) {
        QHash<QString, bool> current;
        for (const JXMountEntry& entry : qAsConst(mounts)) {
            const QString key = mountKey(entry);
            if (current.contains(key))
                continue;
            if (m_mounts.contains(key)) {
                current.insert(key, m_mounts.value(key));
                continue;
            }
            JXBlockDevice disk;
            const bool isDisk = entry.major != 0 && system->blockDevice(entry.major, entry.minor, disk);
            current.insert(key, isDisk);
            if (isDisk)
                DiskMountApprovalCallback(disk, this);
        }
        for (auto it = m_mounts.cbegin(); it != m_mounts.cend(); ++it) {
            if (it.value() && !current.contains(it.key()))
                DiskUnmountApprovalCallback(this);
        }
        m_mounts = current;
    }

    for (const QString& name : sorted(m_blockDevices - blockDevices))
        DiskDisappearedCallback(name, this);
    m_blockDevices = blockDevices;
}
