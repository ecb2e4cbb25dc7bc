#ifndef JXPLATFORM_H
#define JXPLATFORM_H

#include <QScopedPointer>

#include "system/jxplatforminterface.h"

class JXDeviceManager;

// The one door to the operating system; made on the stack for each use.
class JXPlatform
{
public:
    JXPlatform();
    ~JXPlatform();

    static JXPlatformInterface* createInstance();

    bool getDiskStorage(QString drive, qint64& total, qint64& free);
    JXEnvInterface* createEnv();
    QStringList getRemovableDrives(QString type, QStringList* diskNames = nullptr);
    QString getDriveVendorName(QString drive);
    bool ejectDevice(QString drive, JXDeviceDetector* detector);
    QVector<JXDeviceService*> findSCSIDevices(QVector<stRegDevInfo>& registry);
    JXDeviceDetector* createDevcieDetector(JXDeviceManager* manager);

    // Discovery of mass-storage devices, on the main thread: the removable "msdos" volumes (only those whose disk
    // name is in diskNames, when given) are searched for a description file; the first one whose UUID matches a
    // registry row, or for which a row can be made, gives the one device service returned (owned by the caller).
    QVector<JXDeviceService*> findFSDevices(JXDeviceManager* manager, QStringList* diskNames);
    // Registers a row of the file-update family made from a description file; a pointer into the manager's
    // registry (valid until it changes), or null when the file names no model.
    stRegDevInfo* findFitDeviceInfo(JXDeviceManager* manager, QString descriptionFile);
    // The same for the other mass-storage families; null also when the UUID does not have 16 characters.
    stRegDevInfo* findGalDeviceInfo(JXDeviceManager* manager, QString descriptionFile);

private:
    QScopedPointer<JXPlatformInterface> m_platform;
};

#endif
