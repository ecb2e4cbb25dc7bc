#include "device/jxdevicemanager.h"

#include <QDateTime>

#include "device/jxclient.h"
#include "device/jxdeviceservice.h"
#include "device/jxdeviceserviceclient.h"
#include "jxlog.h"
#include "system/jxdevicedetector.h"
#include "system/jxplatform.h"

namespace {

quint32 secondsSinceEpoch()
{
    return quint32(QDateTime::currentSecsSinceEpoch());
}

bool isWaitingForDevice(JXClient* client)
{
    const JXClient::State state = client->getState();
    return state == JXClient::State_WaitForUpdate || state == JXClient::State_WaitForRestore;
}

} // namespace

JXDeviceManager::JXDeviceManager() = default;

JXDeviceManager::~JXDeviceManager()
{
    delete m_previousClient;
    delete m_currentClient;
    m_detector.reset();
}

void JXDeviceManager::registerDevice(const stRegDevInfo& row, bool atFront)
{
    if (atFront)
        m_registry.prepend(row);
    else
        m_registry.append(row);
}

void JXDeviceManager::unregisterDevice(const QString& matchText)
{
    for (int i = 0; i < m_registry.size(); ++i) {
        if (m_registry.at(i).matchText == matchText) {
            m_registry.remove(i);
            return;
        }
    }
}

QVector<JXDeviceService*> JXDeviceManager::findFSDevices(QStringList* diskNames)
{
    return JXPlatform().findFSDevices(this, diskNames);
}

void JXDeviceManager::retireCurrentClient()
{
    if (!m_currentClient)
        return;
    JXClient* leaving = m_currentClient;
    m_currentClient = nullptr;
    if (m_previousClient != leaving) {
        delete m_previousClient;
        m_previousClient = leaving;
    }
}

JXClient* JXDeviceManager::createClient(JXDeviceService* service)
{
    const stRegDevInfo* row = service->getRegistryInfo();
    if (!row || !row->factory) {
        JX_WARNING << "a found device has no client factory; it is dropped";
        delete service;
        return nullptr;
    }
    // A factory whose client is not ready deletes the client and the service with it.
    return row->factory(service);
}

void JXDeviceManager::connectFirst(QVector<JXDeviceService*>& services, const char* message)
{
    JXDeviceService* service = services.takeFirst();
    qDeleteAll(services);
    services.clear();
    retireCurrentClient();
    m_currentClient = createClient(service);
    if (m_currentClient) {
        JX_DEBUG << message;
        sendEvent1(&JXDeviceManagerListener::onDeviceConnected, m_currentClient);
    }
}

bool JXDeviceManager::start()
{
    QVector<JXDeviceService*> services;
    {
        JXPlatform platform;
        services = platform.findSCSIDevices(m_registry);
        if (services.isEmpty())
            services = platform.findFSDevices(this, nullptr);
    }
    if (!services.isEmpty())
        connectFirst(services, "start():send onDeviceConnected");

    m_detector.reset(JXPlatform().createDevcieDetector(this));
    m_detector->setInterestVendors(QStringList() << QStringLiteral("Vexmor"));
    m_detector->addListener(this);
    return m_detector->startWatching();
}

bool JXDeviceManager::detectDevice()
{
    QVector<JXDeviceService*> services = JXPlatform().findSCSIDevices(m_registry);
    if (services.isEmpty()) {
        if (m_currentClient && m_currentClient->getServiceType() == JXDeviceService::DEVICE_SCSI) {
            JX_DEBUG << "detectDevice():send onDeviceDisonnected";
            sendEvent1(&JXDeviceManagerListener::onDeviceDisconnected, m_currentClient);
            retireCurrentClient();
        }
    } else if (!m_currentClient) {
        connectFirst(services, "detectDevice():send onDeviceConnected");
    }
    qDeleteAll(services);
    return true;
}

bool JXDeviceManager::resumeWaitingClient(JXDeviceService* service)
{
    JX_DEBUG << "devicePlugin for software update";
    QString serviceUuid;
    service->readDeviceUUID(serviceUuid);
    QString clientUuid;
    m_currentClient->getUUID(clientUuid);
    if (clientUuid.isEmpty() || clientUuid != serviceUuid)
        return false;

    // Only a client that holds a device service waits for its device.
    auto* serviceClient = dynamic_cast<JXDeviceServiceClient*>(m_currentClient);
    if (!serviceClient) {
        JX_CRITICAL << "the waiting client cannot take a device service; the device is dropped";
        delete service;
        return true;
    }
    serviceClient->setDeviceService(service);
    const JXClient::State state = m_currentClient->getState();
    if (state == JXClient::State_WaitForUpdate) {
        JX_DEBUG << "updateTotal";
        m_currentClient->updateTotal(QString(), QString());
    } else if (state == JXClient::State_WaitForRestore) {
        m_currentClient->restoreFactory(QString());
    }
    return true;
}

void JXDeviceManager::onDevicePlugin(JXDeviceService* service)
{
    if (!service)
        return;

    if (m_currentClient && isWaitingForDevice(m_currentClient)) {
        if (service->getType() != JXDeviceService::DEVICE_SCSI) {
            JX_CRITICAL << "find device service DEVICE_FS for software update";
            delete service;
            return;
        }
        if (resumeWaitingClient(service))
            return;
        // Another device: it replaces the waiting client, which nobody is told about.
        retireCurrentClient();
    }

    if (m_currentClient) {
        // One device at a time.
        delete service;
        return;
    }

    JXClient* client = createClient(service);
    if (client && quint32(secondsSinceEpoch() - m_lastUnplugTime) <= 5) {
        // These models come back at once after they leave; that return is not a new connection.
        QString model;
        client->getName(model);
        if (model == QLatin1String("Zelto21") || model == QLatin1String("Zelto20plus")) {
            qDebug("plugin device in 5 seconds , do not connect the device");
            delete client;
            return;
        }
    }

    retireCurrentClient();
    m_currentClient = client;
    if (m_currentClient) {
        JX_DEBUG << "send onDeviceConnected";
        sendEvent1(&JXDeviceManagerListener::onDeviceConnected, m_currentClient);
    }
}

void JXDeviceManager::onDeviceUnplugin()
{
    // A device that leaves for its raw-flash mode during an update has not left.
    if (!m_currentClient || isWaitingForDevice(m_currentClient))
        return;
    m_lastUnplugTime = secondsSinceEpoch();
    sendEvent1(&JXDeviceManagerListener::onDeviceDisconnected, m_currentClient);
    retireCurrentClient();
}

void JXDeviceManager::onDeviceEjected()
{
    sendEvent1(&JXDeviceManagerListener::onDeviceEjected, m_currentClient);
}

void JXDeviceManager::addListener(JXDeviceManagerListener* listener)
{
    registerReceiver(listener);
}

bool JXDeviceManager::removeListener(JXDeviceManagerListener* listener)
{
    return m_receivers.removeOne(listener);
}

void JXDeviceManager::dispatchActionDoneEvent(int action)
{
    sendEvent2(&JXDeviceManagerListener::onDeviceActionDone, m_currentClient, action);
}

bool JXDeviceManager::ejectConnectedDevice()
{
    if (!m_currentClient)
        return false;
    QString drive;
    m_currentClient->getDrive(drive); // an empty drive matches no mount, so the platform refuses it
    return JXPlatform().ejectDevice(drive, m_detector.data());
}

bool JXDeviceManager::disconnectDevice()
{
    if (!m_currentClient)
        return false;
    if (m_currentClient->getServiceType() == JXDeviceService::DEVICE_FS)
        ejectConnectedDevice(); // the listeners hear of the departure whether or not the eject was accepted
    sendEvent1(&JXDeviceManagerListener::onDeviceDisconnected, m_currentClient);
    retireCurrentClient();
    return true;
}
