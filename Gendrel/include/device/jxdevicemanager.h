#ifndef JXDEVICEMANAGER_H
#define JXDEVICEMANAGER_H

#include "device/gheventbroadcaster.h"

class JXClient;

// Told by the device manager about the connected device, on the main thread.
class JXDeviceManagerListener
{
public:
    virtual void onDeviceConnected(JXClient* client) = 0;
    virtual void onDeviceDisconnected(JXClient* client) = 0;
    virtual void onDeviceEjected(JXClient* client) = 0;
    virtual void onDeviceActionDone(JXClient* client, int action) = 0;
};

// Knows the connected device and tells its listeners about it. Lives on the main thread.
class JXDeviceManager : public GHEventBroadcaster<JXDeviceManagerListener>
{
public:
    JXDeviceManager();
    ~JXDeviceManager();

    void addListener(JXDeviceManagerListener* listener);
    // Removes the first occurrence; true when there was one.
    bool removeListener(JXDeviceManagerListener* listener);

    // The end of a client action, with the current client (null when none).
    void dispatchActionDoneEvent(int action);

    // Ejects the connected device's volume through the platform layer; false when no device is connected. Minimal
    // for the drivers' eject until the manager keeps its connected client and detector.
    bool ejectConnectedDevice();

private:
    JXClient* m_currentClient = nullptr; // owned
};

#endif
