#ifndef JXPSFSTORE_H
#define JXPSFSTORE_H

#include <QString>

class JXExtFlashInfo_2M;

// What the second-generation data store asks of the driver that holds the flash image in memory. Every pointer
// handed out points into that one image, which stays at the same address while the store's objects live. A load
// that failed may be asked for again; an out-parameter is not used after a false result.
//
// The operations keep their order: drivers implement this as a second base.
class JXPSFStore
{
public:
    virtual ~JXPSFStore() {}

    virtual JXExtFlashInfo_2M* getFlashInfo() = 0;
    // Stores the address of the data-store base (image offset 0x6000).
    virtual bool openPSF(char** base) = 0;
    virtual bool loadPSFDistHeaderFrame() = 0;
    virtual bool loadPSFRouteFrame() = 0;
    virtual bool loadPSFTrackFrame() = 0;
    virtual bool loadPSFWorkoutFrame() = 0;
    virtual bool loadPSFPOIFrame() = 0;
    virtual bool loadPSFSensorLogFrame() = 0;
    virtual bool loadPSFWorkoutLogFrame() = 0;
    virtual bool loadPSFUserInfoLogFrame() = 0;
    // Stores the start of the header area (image offset 0, 0x6000 bytes).
    virtual bool loadFlashInfoFrame(char** area) = 0;
    // Stores the address of the profile data (image offset 0x1F9000).
    virtual bool loadProfileFrame(char** profile) = 0;
    virtual bool load() = 0;
    virtual bool save() = 0;
    virtual bool saveToFile(QString path) = 0;
    virtual bool loadFromFile(QString path) = 0;
};

#endif
