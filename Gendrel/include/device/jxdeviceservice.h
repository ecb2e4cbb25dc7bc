#ifndef JXDEVICESERVICE_H
#define JXDEVICESERVICE_H

#include <QString>

#include "device/stregdevinfo.h"

// The handle to one found device: a mounted volume or a raw SCSI channel. Its client owns it.
class JXDeviceService
{
public:
    enum Type { DEVICE_FS = 0, DEVICE_SCSI = 1 };

    virtual ~JXDeviceService() {}
    virtual bool readDeviceUUID(QString& uuid) = 0;
    virtual stRegDevInfo* getRegistryInfo() = 0;
    virtual int getType() = 0;
};

#endif
