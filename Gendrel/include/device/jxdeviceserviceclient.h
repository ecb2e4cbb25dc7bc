#ifndef JXDEVICESERVICECLIENT_H
#define JXDEVICESERVICECLIENT_H

#include "device/jxclient.h"

// A client that can be handed a new device service after it was made: the device manager gives it the service of
// its device when the device comes back in another mode during an update. JXDeviceImpl supplies the service
// handling of the drivers built on it.
class JXDeviceServiceClient : public JXClient
{
public:
    explicit JXDeviceServiceClient(QObject* parent = nullptr) : JXClient(parent) {}

    // Takes ownership; a different service held before is deleted.
    virtual void setDeviceService(JXDeviceService* service) = 0;
};

#endif
