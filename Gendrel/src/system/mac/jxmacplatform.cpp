#include "system/jxmacplatform.h"

#include <QFile>
#include <QPointer>
#include <QVector>

#include <cstdio>
#include <cstring>
#include <memory>

#include "jxlog.h"
#include "jxutility.h"
#include "system/jxdevicedetector.h"
#include "system/jxmacdevicedetector.h"
#include "system/jxmacenv.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

namespace {

// The first mount whose mount point is the given text, byte for byte.
bool findMount(const QString& mountPoint, JXMountEntry& found)
{
    QVector<JXMountEntry> mounts;
    if (!JXOperatingSystem::instance()->mountedVolumes(mounts))
        return false;
    for (const JXMountEntry& entry : mounts) {
        if (entry.mountPoint == mountPoint) {
            found = entry;
            return true;
        }
    }
    return false;
}

// The kernel's name of the mounted device; for a device that the system does
// not describe, the device path without "/dev/".
QString diskNameOf(const JXMountEntry& entry)
{
    JXBlockDevice device;
    if (entry.major != 0 && JXOperatingSystem::instance()->blockDevice(entry.major, entry.minor, device))
        return device.name;
    if (entry.source.startsWith(QLatin1String("/dev/")))
        return entry.source.mid(5);
    return QString();
}

QByteArray printable(const QString& text)
{
    return text.toLocal8Bit();
}

// Runs on the thread that asked for the eject, once the unmount is over.
void DiskUnmountCallback(bool unmounted, JXDeviceDetector* detector)
{
    if (!unmounted)
        fprintf(stdout, "Unmount failed\n");
    if (detector)
        detector->fireDeviceEjected();
}

QString versionText(const QByteArray& signature, int start)
{
    if (start < 0 || start >= signature.size())
        return QString();
    QByteArray text = signature.mid(start, 4);
    const int zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);
    return QString::fromLatin1(text);
}

} // namespace

JXMacPlatform::~JXMacPlatform() = default;

JXEnvInterface* JXMacPlatform::createEnv()
{
    return new JXMacEnv();
}

JXDeviceDetector* JXMacPlatform::createDevcieDetector(JXDeviceManager* manager)
{
    return new JXMacDeviceDetector(manager);
}

QStringList JXMacPlatform::getRemovableDrives(QString type, QStringList* diskNames)
{
    QStringList drives;
    QVector<JXMountEntry> mounts;
    if (!JXOperatingSystem::instance()->mountedVolumes(mounts))
        return drives;
    const QStringList kernelTypes = JXOperatingSystem::fileSystemTypes(type);
    for (const JXMountEntry& entry : mounts) {
        if (!kernelTypes.contains(entry.fileSystemType))
            continue;
        const QString bsdName = diskNameOf(entry);
        if (!getAdditionalVolumeInfoRemovable(bsdName))
            continue;
        if (!diskNames) {
            drives.append(entry.mountPoint);
            JX_DEBUG << QStringLiteral("removable: disk=%1, mntp=%2").arg(bsdName, entry.mountPoint);
            continue;
        }
        const QString diskName = getDriveDiskName(entry.mountPoint);
        JX_DEBUG << QStringLiteral("driveDiskNmae=%1").arg(diskName);
        for (int i = 0; i < diskNames->size(); ++i) {
            JX_DEBUG << QStringLiteral("disknamesRef[%1]=%2").arg(i).arg(diskNames->at(i));
            if (diskNames->at(i) == diskName) {
                drives.append(entry.mountPoint);
                JX_DEBUG << QStringLiteral("removable: disk=%1, mntp=%2").arg(bsdName, entry.mountPoint);
                break;
            }
        }
    }
    return drives;
}

bool JXMacPlatform::getAdditionalVolumeInfoRemovable(const QString& bsdName)
{
    JXBlockDevice device;
    if (!JXOperatingSystem::instance()->blockDeviceByName(bsdName, device)) {
        JX_DEBUG << "no block device named" << bsdName;
        return false;
    }
    return device.removable;
}

QString JXMacPlatform::getDriveDiskName(QString drive)
{
    QString diskName;
    JXMountEntry entry;
    if (findMount(drive, entry)) {
        diskName = diskNameOf(entry);
        fprintf(stdout, "disk:diskName:%s\n", printable(diskName).constData());
    }
    fprintf(stdout, "getDriveDiskName:%s\n", printable(diskName).constData());
    return diskName;
}

int JXMacPlatform::getBSDNameFromMntPath(const char* mountPoint, char* buffer, int size)
{
    if (!mountPoint || !buffer || size <= 0)
        return -1;
    QVector<JXMountEntry> mounts;
    if (!JXOperatingSystem::instance()->mountedVolumes(mounts))
        return -1;
    const QByteArray wanted(mountPoint);
    for (const JXMountEntry& entry : mounts) {
        if (QFile::encodeName(entry.mountPoint) != wanted)
            continue;
        const QByteArray name = QFile::encodeName(diskNameOf(entry));
        if (name.isEmpty() || name.size() >= size)
            continue;
        std::memcpy(buffer, name.constData(), size_t(name.size()) + 1);
        return 0;
    }
    return -1;
}

QString JXMacPlatform::getAdditionalVolumeInfoVendorName(const QString& bsdName)
{
    JXBlockDevice device;
    if (!JXOperatingSystem::instance()->blockDeviceByName(bsdName, device)) {
        JX_DEBUG << "no block device named" << bsdName;
        return QString();
    }
    fprintf(stdout, "vendorName=%s, vid=%d, pid=%d\n", printable(device.scsi.usbManufacturer).constData(),
            int(device.scsi.usbVendorId), int(device.scsi.usbProductId));
    return device.scsi.usbManufacturer;
}

QString JXMacPlatform::getDescriptionVendorName(const QString& drive)
{
    JXMountEntry entry;
    JXBlockDevice device;
    if (!findMount(drive, entry) || entry.major == 0 ||
        !JXOperatingSystem::instance()->blockDevice(entry.major, entry.minor, device))
        return QString();
    fprintf(stdout, "disk:vendorName:%s\n", printable(device.scsi.scsiVendor).constData());
    return device.scsi.scsiVendor;
}

// The disk's SCSI vendor followed directly by the USB manufacturer.
QString JXMacPlatform::getDriveVendorName(QString drive)
{
    char bsdName[256] = {};
    QString usbVendor;
    if (getBSDNameFromMntPath(QFile::encodeName(drive).constData(), bsdName, sizeof bsdName) == 0)
        usbVendor = getAdditionalVolumeInfoVendorName(QFile::decodeName(bsdName));
    JX_DEBUG << QStringLiteral("getDriveVendorName: %1 for mount point=%2, bsdname=%3")
                    .arg(usbVendor, drive, QFile::decodeName(bsdName));
    fprintf(stdout, "getDriveVendorName: %s for mount point=%s, bsdname=%s\n", printable(usbVendor).constData(),
            printable(drive).constData(), bsdName);

    const QString diskVendor = getDescriptionVendorName(drive);
    fprintf(stdout, "getDescriptionVendorNameByMnpt:%s\n", printable(diskVendor).constData());
    return diskVendor + usbVendor;
}

bool JXMacPlatform::getDiskStorage(QString drive, qint64& total, qint64& free)
{
    JXMountEntry entry;
    if (!findMount(drive, entry))
        return false;
    qint64 volumeTotal = 0, volumeFree = 0;
    if (!JXOperatingSystem::instance()->volumeSpace(entry.mountPoint, volumeTotal, volumeFree))
        return false;
    total = volumeTotal;
    free = volumeFree;
    return true;
}

// Issues a forced unmount and, once it succeeded, the eject; the detector
// hears of the unmount's end on this thread's event loop.
bool JXMacPlatform::ejectDevice(QString drive, JXDeviceDetector* detector)
{
    JXMountEntry entry;
    if (!findMount(drive, entry)) {
        JX_WARNING << "no volume is mounted at" << drive;
        return false;
    }
    fprintf(stdout, "disk name=%s\n", printable(diskNameOf(entry)).constData());
    // The detector may be destroyed (the manager stopped or restarted) before the unmount is over.
    const QPointer<const QObject> alive(detector ? detector->lifetime() : nullptr);
    return JXOperatingSystem::instance()->unmountAndEject(
        entry, [detector, alive](bool unmounted) { DiskUnmountCallback(unmounted, alive ? detector : nullptr); });
}

QVector<JXDeviceService*> JXMacPlatform::findSCSIDevices(QVector<stRegDevInfo>& registry)
{
    QVector<JXDeviceService*> services;
    const QString vendor = JXMacSCSIService::driverVendor();
    const QVector<JXScsiDevice> devices = JXOperatingSystem::instance()->scsiDevices();
    for (const JXScsiDevice& device : devices) {
        if (!device.usb || !(device.usbManufacturer.contains(vendor, Qt::CaseInsensitive) ||
                             device.scsiVendor.contains(vendor, Qt::CaseInsensitive)))
            continue;
        std::unique_ptr<JXMacSCSIService> service(new JXMacSCSIService(device));
        const QByteArray signature = service->readDeviceSignature();
        if (signature.isEmpty())
            continue;
        const stRegDevInfo* row = JXUtility::getRegistryDevice(signature, registry);
        if (!row)
            continue;
        service->setRegistryDevInfo(row);
        QString iapVersion;
        QString apVersion;
        readSignatureVersions(signature, iapVersion, apVersion);
        service->setVersions(iapVersion, apVersion);
        JX_DEBUG << QStringLiteral("iap=%1").arg(iapVersion);
        JX_DEBUG << QStringLiteral("ap=%1").arg(apVersion);
        services.append(service.release());
        break;
    }
    return services;
}

void JXMacPlatform::readSignatureVersions(const QByteArray& signature, QString& iapVersion, QString& apVersion)
{
    const int iap = signature.indexOf("IAP I");
    iapVersion = versionText(signature, iap >= 0 ? iap + 4 : 3);
    apVersion = versionText(signature, 27);
}
