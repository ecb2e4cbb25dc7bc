#include "jxdaemon.h"

#include "device/jxdevicemanager.h"

namespace {

QScopedPointer<JXDaemon> s_daemon;

} // namespace

JXDaemon::JXDaemon() : m_deviceManager(new JXDeviceManager) {}

JXDaemon::~JXDaemon() = default;

// The first call comes from the start-up on the main thread, before any other thread exists.
JXDaemon* JXDaemon::getInstance()
{
    if (!s_daemon)
        s_daemon.reset(new JXDaemon);
    return s_daemon.data();
}

JXDeviceManager* JXDaemon::getDeviceManager()
{
    return m_deviceManager.data();
}
