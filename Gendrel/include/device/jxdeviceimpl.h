#ifndef JXDEVICEIMPL_H
#define JXDEVICEIMPL_H

#include "device/jxclient.h"
#include "device/jxdeviceservice.h"

// Gives a driver its factory and its device service; Driver derives from JXDeviceImpl<Driver, Base>.
template <class Driver, class Base> class JXDeviceImpl : public Base
{
public:
    using Base::Base;

    ~JXDeviceImpl() override
    {
        // The action may still use the service.
        this->stopThread();
        delete m_deviceService;
    }

    // Makes the driver for a found device; null when the driver is not ready, and the service is gone with it.
    static JXClient* create(JXDeviceService* service)
    {
        Driver* driver = new Driver();
        driver->setDeviceService(service);
        if (driver->initial())
            return driver;
        delete driver;
        return nullptr;
    }

    // Takes ownership; a different service held before is deleted.
    virtual void setDeviceService(JXDeviceService* service)
    {
        if (service == m_deviceService)
            return;
        delete m_deviceService;
        m_deviceService = service;
    }

    int getServiceType() override { return m_deviceService ? m_deviceService->getType() : -1; }
    JXDeviceService* getDeviceService() override { return m_deviceService; }

protected:
    JXDeviceService* m_deviceService = nullptr;
};

#endif
