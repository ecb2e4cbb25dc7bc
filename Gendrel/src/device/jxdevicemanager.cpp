#include "device/jxdevicemanager.h"

#include "device/jxclient.h"
#include "system/jxplatform.h"

JXDeviceManager::JXDeviceManager() = default;

JXDeviceManager::~JXDeviceManager()
{
    delete m_currentClient;
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
    // No detector is kept yet, so nobody hears of the unmount's end here.
    return JXPlatform().ejectDevice(drive, nullptr);
}
