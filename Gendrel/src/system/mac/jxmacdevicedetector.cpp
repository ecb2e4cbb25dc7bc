#include "system/jxmacdevicedetector.h"

#include <cstdio>

#include "device/jxclient.h"
#include "device/jxdeviceservice.h"
#include "jxlog.h"
#include "system/jxplatform.h"

namespace {

const int kCheckIntervalMs = 100;

QString matchTextOf(JXDeviceService* service)
{
    const stRegDevInfo* row = service->getRegistryInfo();
    return row ? row->matchText : QString();
}

bool isWaitingForDevice(JXClient* client)
{
    const JXClient::State state = client->getState();
    return state == JXClient::State_WaitForUpdate || state == JXClient::State_WaitForRestore;
}

} // namespace

JXMacDeviceDetector::JXMacDeviceDetector(JXDeviceManager* manager) : m_detectThread(this), m_manager(manager) {}

// The timer goes first, then the thread, which stops before it is destroyed.
JXMacDeviceDetector::~JXMacDeviceDetector() = default;

bool JXMacDeviceDetector::startWatching()
{
    connect(&m_detectThread, &JXDetectDevice::DevicePlugin, this, &JXMacDeviceDetector::DevicePlugin,
            Qt::UniqueConnection);
    connect(&m_detectThread, &JXDetectDevice::DeviceUnplug, this, &JXMacDeviceDetector::DeviceUnplug,
            Qt::UniqueConnection);
    connect(&m_detectThread, &JXDetectDevice::DeviceMount, this, &JXMacDeviceDetector::DeviceMount,
            Qt::UniqueConnection);
    return m_detectThread.startWatching(QThread::InheritPriority);
}

void JXMacDeviceDetector::setInterestVendors(QStringList vendors)
{
    m_detectThread.setInterestVendors(vendors);
}

void JXMacDeviceDetector::addListener(JXDeviceDetectorListener* listener)
{
    registerReceiver(listener);
}

bool JXMacDeviceDetector::removeListener(JXDeviceDetectorListener* listener)
{
    return m_receivers.removeOne(listener);
}

bool JXMacDeviceDetector::sendFirstService(QVector<JXDeviceService*>& services)
{
    if (services.isEmpty())
        return false;
    JXDeviceService* first = services.takeFirst();
    qDeleteAll(services);
    services.clear();
    JX_DEBUG << QStringLiteral("send onDevicePlugin: %1").arg(matchTextOf(first));
    sendEvent1(&JXDeviceDetectorListener::onDevicePlugin, first);
    return true;
}

void JXMacDeviceDetector::DevicePlugin(int type)
{
    // A raw-flash search runs only with no client, or with a volume client that waits for its device to come back
    // in raw-flash mode.
    if (JXClient* client = m_manager->getConnectedDevice()) {
        if (client->getServiceType() != JXDeviceService::DEVICE_FS || !isWaitingForDevice(client))
            return;
    }
    if (type == JXDeviceService::DEVICE_FS)
        return;
    QVector<JXDeviceService*> services = JXPlatform().findSCSIDevices(m_manager->getRegistryDevices());
    sendFirstService(services);
}

void JXMacDeviceDetector::DeviceMount(QString diskName)
{
    JXClient* client = m_manager->getConnectedDevice();
    if (client && client->getServiceType() == JXDeviceService::DEVICE_SCSI)
        return;
    JX_DEBUG << "start check timer";
    m_diskNames.append(diskName);
    if (!m_checkTimer) {
        m_checkTimer.reset(new QTimer);
        connect(m_checkTimer.data(), &QTimer::timeout, this, &JXMacDeviceDetector::findFSDevice);
    }
    findFSDevice();
    if (!m_checkTimer->isActive())
        m_checkTimer->start(kCheckIntervalMs);
}

void JXMacDeviceDetector::findFSDevice()
{
    if (m_checkTimer)
        m_checkTimer->stop();
    // Every removable volume: the pending names do not narrow the search.
    QVector<JXDeviceService*> services = JXPlatform().findFSDevices(m_manager, nullptr);
    for (const QString& diskName : qAsConst(m_diskNames))
        JX_DEBUG << QStringLiteral("m_disknames=%1").arg(diskName);
    if (sendFirstService(services)) {
        m_diskNames.clear();
        return;
    }
    if (m_checkTimer)
        m_checkTimer->start(kCheckIntervalMs);
}

void JXMacDeviceDetector::DeviceUnplug(int type)
{
    JXClient* client = m_manager->getConnectedDevice();
    if (!client || isWaitingForDevice(client))
        return;
    QVector<JXDeviceService*> services;
    {
        JXPlatform platform;
        services = platform.findSCSIDevices(m_manager->getRegistryDevices());
        if (services.isEmpty())
            services = platform.findFSDevices(m_manager, nullptr);
    }
    if (services.isEmpty() || !isConnectedDevice(services)) {
        QString text = QStringLiteral("send onDeviceUnplugin:");
        if (!services.isEmpty())
            text += matchTextOf(services.first());
        JX_DEBUG << text;
        m_diskNames.clear();
        sendEvent(&JXDeviceDetectorListener::onDeviceUnplugin);
    }
    qDeleteAll(services);
}

bool JXMacDeviceDetector::isConnectedDevice(QVector<JXDeviceService*> services)
{
    JXClient* client = m_manager->getConnectedDevice();
    if (!client)
        return false;
    QString clientUuid;
    client->getUUID(clientUuid);
    for (JXDeviceService* service : qAsConst(services)) {
        QString serviceUuid;
        service->readDeviceUUID(serviceUuid);
        fprintf(stdout, "uuid1=%s, uuid2=%s\n", clientUuid.toLocal8Bit().constData(),
                serviceUuid.toLocal8Bit().constData());
        if (clientUuid == serviceUuid)
            return true;
    }
    return false;
}
