#ifndef STREGDEVINFO_H
#define STREGDEVINFO_H

#include <QString>

class JXClient;
class JXDeviceService;

// Makes the client for a found device, or null when the device is not ready.
typedef JXClient* (*JXDeviceFactory)(JXDeviceService* service);

// One registry row: a device family and how to make its client.
struct stRegDevInfo
{
    QString code;       // four characters; for rows made at detection, the UUID's first four
    QString modelName;  // what the family's client reports through getName
    QString matchText;  // a SCSI product word, or a colon-separated vendor and product list
    JXDeviceFactory factory = nullptr;
};

#endif
