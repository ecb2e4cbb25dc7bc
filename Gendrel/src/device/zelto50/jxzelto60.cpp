#include "device/zelto50/jxzelto60.h"

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

bool JXZelto60::getDrive(QString& drive)
{
    return m_innerDevice && m_innerDevice->getDrive(drive);
}

bool JXZelto60::getUUID(QString& uuid)
{
    return m_innerDevice && m_innerDevice->getUUID(uuid);
}

bool JXZelto60::getOS(QString& version)
{
    return m_innerDevice && m_innerDevice->getOS(version);
}

bool JXZelto60::getBootloader(QString& version)
{
    return m_innerDevice && m_innerDevice->getBootloader(version);
}

bool JXZelto60::getTotal(QString& version)
{
    return m_innerDevice && m_innerDevice->getTotal(version);
}

bool JXZelto60::getLaunchsec(QString& version)
{
    return m_innerDevice && m_innerDevice->getLaunchsec(version);
}

QString JXZelto60::getRequiredJX()
{
    return m_innerDevice ? m_innerDevice->getRequiredJX() : QString();
}

QString JXZelto60::getCapability()
{
    return m_innerDevice ? m_innerDevice->getCapability() : QString();
}

JXClient::ImageMetaInfo JXZelto60::getImageMetaInfo(QString path)
{
    return m_innerDevice ? m_innerDevice->getImageMetaInfo(path) : ImageMetaInfo();
}
