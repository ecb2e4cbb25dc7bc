#include "device/jxzelto60.h"

JXZelto60::JXZelto60() : JXDeviceImpl<JXZelto60, JXZelto50>(nullptr) {}

JXZelto60::~JXZelto60()
{
    // An action may still use the service that the inner device is about to delete.
    stopThread();
    if (m_innerDevice)
        m_deviceService = nullptr;
}

bool JXZelto60::initial()
{
    if (!m_innerDevice) {
        m_innerDevice.reset(new JXGalDevice);
        m_innerDevice->setDeviceService(m_deviceService);
    }
    return JXZelto50::initial();
}

void JXZelto60::setDeviceService(JXDeviceService* service)
{
    if (!m_innerDevice) {
        JXDeviceImpl<JXZelto60, JXZelto50>::setDeviceService(service);
        return;
    }
    m_innerDevice->setDeviceService(service);
    m_deviceService = service;
}

bool JXZelto60::getName(QString& model)
{
    return m_innerDevice && m_innerDevice->getName(model);
}
