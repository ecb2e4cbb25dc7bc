#ifndef JXFSDEVICESERVICE_H
#define JXFSDEVICESERVICE_H

#include <QVariantMap>

#include "device/jxdeviceservice.h"

// A device reached through its mounted volume.
class JXFSDeviceService : public JXDeviceService
{
public:
    JXFSDeviceService(const QString& drive, const stRegDevInfo* row, const QString& descriptionFile);

    // A description file holds a few hundred bytes; it is read on the main thread, so a far larger one is refused.
    static constexpr qint64 kMaxDescriptionSize = 64 * 1024;

    bool readDeviceUUID(QString& uuid) override;
    // Reads the UUID from a description file and marks the file as seen by this library: the line "JX=1" added to
    // its group "UUID", every other byte kept. A file larger than kMaxDescriptionSize, a link, or a file in a
    // linked folder is neither read nor written.
    static bool readDeviceUUID(const QString& descriptionFile, QString& uuid);
    // Every key of a description file ("UUID/UUID", "OS/Version" ...) with its value as the INI reader gives it,
    // read the way readDeviceUUID reads it: no more than kMaxDescriptionSize bytes, never through a link. False,
    // logged, when the file cannot be read so.
    static bool readDescriptionValues(const QString& descriptionFile, QVariantMap& values);
    stRegDevInfo* getRegistryInfo() override { return &m_row; }
    int getType() override { return DEVICE_FS; }

    virtual QString getDrive() { return m_drive; }
    // The volume of service when it is one of these; false, drive untouched, for any other service or none.
    static bool driveOf(JXDeviceService* service, QString& drive)
    {
        auto* volumeService = dynamic_cast<JXFSDeviceService*>(service);
        if (!volumeService)
            return false;
        drive = volumeService->getDrive();
        return true;
    }
    virtual QString getStorageDrive() { return m_storageDrive; }
    virtual void setStorageDrive(const QString& drive) { m_storageDrive = drive; }

    QString getDescriptionFile() const { return m_descriptionFile; }

private:
    QString m_drive;
    QString m_storageDrive;
    stRegDevInfo m_row;
    QString m_descriptionFile;
};

#endif
