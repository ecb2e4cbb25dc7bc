// Volume and drive queries of JXUtility, over the operating-system layer.
#include "jxutility.h"

#include <QFile>
#include <QVector>

#include <cstdio>
#include <cstring>

#include "system/jxoperatingsystem.h"

namespace {

bool readMounts(QVector<JXMountEntry>& mounts)
{
    if (JXOperatingSystem::instance()->mountedVolumes(mounts))
        return true;
    fprintf(stderr, "unable to read the mount table\n");
    return false;
}

// 0 with the disk name of the volume mounted at path ("sdb1") in buffer, which
// holds 256 bytes; -1 when no volume is mounted there.
int GetBSDNameFromMntPath(const char* path, char* buffer, int length)
{
    Q_UNUSED(length);
    QVector<JXMountEntry> mounts;
    if (!readMounts(mounts))
        return -1;
    const QByteArray wanted(path);
    for (const JXMountEntry& entry : mounts) {
        if (QFile::encodeName(entry.mountPoint) != wanted)
            continue;
        QByteArray name;
        JXBlockDevice device;
        if (entry.major != 0 && JXOperatingSystem::instance()->blockDevice(entry.major, entry.minor, device))
            name = QFile::encodeName(device.name);
        else if (entry.source.startsWith(QLatin1String("/dev/")))
            name = QFile::encodeName(entry.source.mid(5));
        if (name.isEmpty() || name.size() >= 256)
            continue;
        std::memcpy(buffer, name.constData(), size_t(name.size()) + 1);
        return 0;
    }
    return -1;
}

bool volumeDevice(const QString& drive, JXBlockDevice& device)
{
    char bsdName[256] = {};
    if (GetBSDNameFromMntPath(QFile::encodeName(drive).constData(), bsdName, sizeof bsdName) != 0)
        return false;
    if (!JXOperatingSystem::instance()->blockDeviceByName(QFile::decodeName(bsdName), device)) {
        fprintf(stderr, "no block device named %s\n", bsdName);
        return false;
    }
    return true;
}

// Appends the mount points of the removable volumes of the type (a partition
// counts as removable when its disk is); false when the mount table cannot be
// read. The list is not cleared first.
bool GetRemovableDevices(QStringList& list, const QString& type)
{
    QVector<JXMountEntry> mounts;
    if (!readMounts(mounts))
        return false;
    const QStringList kernelTypes = JXOperatingSystem::fileSystemTypes(type);
    for (const JXMountEntry& entry : mounts) {
        if (!kernelTypes.contains(entry.fileSystemType))
            continue;
        JXBlockDevice device;
        if (entry.major != 0 && JXOperatingSystem::instance()->blockDevice(entry.major, entry.minor, device) &&
            device.removable)
            list.append(entry.mountPoint);
    }
    return true;
}

bool GetStorageSize(const QString& drive, qint64& total, qint64& free)
{
    QVector<JXMountEntry> mounts;
    if (!readMounts(mounts))
        return false;
    for (const JXMountEntry& entry : mounts) {
        if (entry.mountPoint != drive)
            continue;
        qint64 volumeTotal = 0, volumeFree = 0;
        if (!JXOperatingSystem::instance()->volumeSpace(entry.mountPoint, volumeTotal, volumeFree))
            return false;
        total = volumeTotal;
        free = volumeFree;
        return true;
    }
    return false;
}

// The label of the file system on the volume's device.
QString GetDriveLabel(const QString& drive)
{
    JXBlockDevice device;
    if (!volumeDevice(drive, device))
        return QString();
    return JXOperatingSystem::instance()->fileSystemLabel(device.name);
}

QString GetDriveVendorName(const QString& drive)
{
    JXBlockDevice device;
    if (!volumeDevice(drive, device))
        return QString();
    return device.scsi.usbManufacturer;
}

} // namespace

QStringList JXUtility::getRemovebleDrives(QString type)
{
    QStringList drives;
    GetRemovableDevices(drives, type);
    return drives;
}

bool JXUtility::getStorage(QString drive, qint64& total, qint64& free)
{
    return GetStorageSize(drive, total, free);
}

QString JXUtility::getDriveLabel(QString drive)
{
    return GetDriveLabel(drive);
}

QString JXUtility::getDriveName(QString drive)
{
    return GetDriveVendorName(drive);
}

bool JXUtility::isJXDeviceUSB()
{
    const QStringList drives = getRemovebleDrives(QStringLiteral("msdos"));
    for (const QString& drive : drives) {
        if (!findDeviceIni(drive).isEmpty() && getDriveName(drive).contains(QLatin1String("Vexmor")))
            return true;
    }
    return false;
}

bool JXUtility::isJXDeviceSCSI()
{
    return false;
}
