#include "jxlinuxsystem.h"

#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QObject>
#include <QSaveFile>
#include <QThreadPool>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "jxlinuxscsi.h"
#include "jxlinuxudisks.h"
#include "jxlog.h"

namespace {

const int kMaxLinkHops = 40;

// mountinfo writes space, tab, newline and backslash as \ooo.
QString decodeMountField(const QByteArray& field)
{
    QByteArray decoded;
    decoded.reserve(field.size());
    for (int i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c == '\\' && i + 3 < field.size()) {
            const char a = field.at(i + 1), b = field.at(i + 2), d = field.at(i + 3);
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && d >= '0' && d <= '7') {
                decoded.append(char(((a - '0') << 6) | ((b - '0') << 3) | (d - '0')));
                i += 3;
                continue;
            }
        }
        decoded.append(c);
    }
    return QFile::decodeName(decoded);
}

// udev writes unsafe characters of a label as \xHH.
QString decodeUdevName(const QByteArray& name)
{
    QByteArray decoded;
    for (int i = 0; i < name.size(); ++i) {
        if (name.at(i) == '\\' && i + 3 < name.size() && name.at(i + 1) == 'x') {
            bool ok = false;
            const int value = name.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                decoded.append(char(value));
                i += 3;
                continue;
            }
        }
        decoded.append(name.at(i));
    }
    return QString::fromUtf8(decoded);
}

bool parseDeviceNumber(const QByteArray& text, quint32& major, quint32& minor)
{
    const int colon = text.indexOf(':');
    if (colon <= 0)
        return false;
    bool majorOk = false, minorOk = false;
    major = text.left(colon).toUInt(&majorOk);
    minor = text.mid(colon + 1).toUInt(&minorOk);
    return majorOk && minorOk;
}

QString parentOf(const QString& systemPath)
{
    const int slash = systemPath.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : systemPath.left(slash);
}

QString baseName(const QString& systemPath)
{
    return systemPath.mid(systemPath.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

JXLinuxSystem::JXLinuxSystem(const QString& root)
{
    QString cleaned = QDir::cleanPath(root.isEmpty() ? QStringLiteral("/") : root);
    if (cleaned == QLatin1String("/"))
        cleaned.clear();
    m_root = cleaned;
    m_simulated = !m_root.isEmpty();
}

QString JXLinuxSystem::rootFolder() const
{
    return m_root.isEmpty() ? QStringLiteral("/") : m_root;
}

QString JXLinuxSystem::inRoot(const QString& systemPath) const
{
    return m_root + systemPath;
}

QString JXLinuxSystem::mountTablePath() const
{
    return inRoot(QStringLiteral("/proc/self/mountinfo"));
}

bool JXLinuxSystem::exists(const QString& systemPath) const
{
    struct stat info;
    return ::lstat(QFile::encodeName(inRoot(systemPath)).constData(), &info) == 0;
}

// Follows links component by component and never leaves the root: ".." stops
// at it and a link to an absolute path starts again from it.
QString JXLinuxSystem::resolve(const QString& systemPath) const
{
    QStringList pending = systemPath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QStringList done;
    int hops = 0;
    while (!pending.isEmpty()) {
        const QString part = pending.takeFirst();
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!done.isEmpty())
                done.removeLast();
            continue;
        }
        const QByteArray path = QFile::encodeName(inRoot(QLatin1Char('/') + (done + QStringList(part)).join('/')));
        struct stat info;
        if (::lstat(path.constData(), &info) != 0)
            return QString();
        if (S_ISLNK(info.st_mode)) {
            if (++hops > kMaxLinkHops)
                return QString();
            char target[4096];
            const ssize_t length = ::readlink(path.constData(), target, sizeof target - 1);
            if (length <= 0)
                return QString();
            const QString text = QFile::decodeName(QByteArray(target, int(length)));
            if (text.startsWith(QLatin1Char('/')))
                done.clear();
            pending = text.split(QLatin1Char('/'), Qt::SkipEmptyParts) + pending;
            continue;
        }
        done.append(part);
    }
    return QLatin1Char('/') + done.join(QLatin1Char('/'));
}

QString JXLinuxSystem::readAttribute(const QString& systemPath) const
{
    QFile file(inRoot(systemPath));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.read(4096)).trimmed();
}

QVector<JXMountEntry> JXLinuxSystem::parseMountInfo(const QByteArray& text)
{
    // id parent major:minor root mount-point options [optional...] - type source super-options
    QVector<JXMountEntry> entries;
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray& line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        const QList<QByteArray> fields = line.split(' ');
        const int separator = fields.indexOf(QByteArray("-"), 6);
        JXMountEntry entry;
        if (fields.size() < 10 || separator < 6 || separator + 2 >= fields.size() ||
            !parseDeviceNumber(fields.at(2), entry.major, entry.minor) || !fields.at(4).startsWith('/')) {
            JX_WARNING << "skipping a malformed mount table line:" << line.left(200);
            continue;
        }
        entry.mountPoint = decodeMountField(fields.at(4));
        entry.fileSystemType = decodeMountField(fields.at(separator + 1));
        entry.source = decodeMountField(fields.at(separator + 2));
        entries.append(entry);
    }
    return entries;
}

// Linux keeps the mount of a pulled stick in the table; its device number
// then names no device any more.
bool JXLinuxSystem::isStale(const JXMountEntry& entry) const
{
    if (entry.major == 0 || !exists(QStringLiteral("/sys/dev/block")))
        return false;
    return resolve(QStringLiteral("/sys/dev/block/%1:%2").arg(entry.major).arg(entry.minor)).isEmpty();
}

bool JXLinuxSystem::mountedVolumes(QVector<JXMountEntry>& mounts)
{
    QFile table(mountTablePath());
    if (!table.open(QIODevice::ReadOnly)) {
        JX_CRITICAL << "unable to read the mount table" << table.fileName() << table.errorString();
        return false;
    }
    const QVector<JXMountEntry> entries = parseMountInfo(table.readAll());
    mounts.clear();
    for (const JXMountEntry& entry : entries) {
        if (isStale(entry)) {
            JX_DEBUG << "mount of a departed disk:" << entry.mountPoint << entry.source;
            continue;
        }
        mounts.append(entry);
    }
    return true;
}

void JXLinuxSystem::findUsbAncestor(const QString& folder, JXScsiDevice& device) const
{
    for (QString current = folder; current.startsWith(QLatin1String("/sys/devices/")); current = parentOf(current)) {
        if (!exists(current + QLatin1String("/idVendor")) || !exists(current + QLatin1String("/idProduct")))
            continue;
        device.usb = true;
        device.usbManufacturer = readAttribute(current + QLatin1String("/manufacturer"));
        device.usbVendorId = quint16(readAttribute(current + QLatin1String("/idVendor")).toUInt(nullptr, 16));
        device.usbProductId = quint16(readAttribute(current + QLatin1String("/idProduct")).toUInt(nullptr, 16));
        return;
    }
}

JXScsiDevice JXLinuxSystem::scsiDeviceAt(const QString& scsiFolder) const
{
    JXScsiDevice device;
    device.scsiVendor = readAttribute(scsiFolder + QLatin1String("/vendor"));
    device.scsiModel = readAttribute(scsiFolder + QLatin1String("/model"));
    const QStringList generic =
        QDir(inRoot(scsiFolder + QLatin1String("/scsi_generic"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (!generic.isEmpty())
        device.genericName = generic.first();
    findUsbAncestor(scsiFolder, device);
    return device;
}

bool JXLinuxSystem::blockDevice(quint32 major, quint32 minor, JXBlockDevice& device)
{
    return blockDeviceAt(resolve(QStringLiteral("/sys/dev/block/%1:%2").arg(major).arg(minor)), device);
}

bool JXLinuxSystem::blockDeviceByName(const QString& name, JXBlockDevice& device)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
        return false;
    return blockDeviceAt(resolve(QStringLiteral("/sys/class/block/") + name), device);
}

bool JXLinuxSystem::blockDeviceAt(const QString& folder, JXBlockDevice& device) const
{
    if (folder.isEmpty() || !exists(folder + QLatin1String("/dev")))
        return false;
    const bool partition = exists(folder + QLatin1String("/partition"));
    const QString diskFolder = partition ? parentOf(folder) : folder;

    JXBlockDevice result;
    result.name = baseName(folder);
    result.diskName = baseName(diskFolder);
    for (QString current = folder;; current = parentOf(current)) {
        if (readAttribute(current + QLatin1String("/removable")) == QLatin1String("1")) {
            result.removable = true;
            break;
        }
        if (!exists(current + QLatin1String("/partition")))
            break;
    }
    // Only a SCSI device has both texts; virtio and NVMe devices lack one.
    const QString scsiFolder = resolve(diskFolder + QLatin1String("/device"));
    if (!scsiFolder.isEmpty() && exists(scsiFolder + QLatin1String("/vendor")) &&
        exists(scsiFolder + QLatin1String("/model")))
        result.scsi = scsiDeviceAt(scsiFolder);
    else
        findUsbAncestor(diskFolder, result.scsi);
    device = result;
    return true;
}

QString JXLinuxSystem::fileSystemLabel(const QString& blockName)
{
    const QString folder = inRoot(QStringLiteral("/dev/disk/by-label"));
    const QStringList labels = QDir(folder).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& label : labels) {
        char target[4096];
        const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + label);
        const ssize_t length = ::readlink(path.constData(), target, sizeof target - 1);
        if (length > 0 && baseName(QFile::decodeName(QByteArray(target, int(length)))) == blockName)
            return decodeUdevName(QFile::encodeName(label));
    }
    return QString();
}

QVector<JXScsiDevice> JXLinuxSystem::scsiDevices()
{
    QVector<JXScsiDevice> devices;
    const QStringList names = QDir(inRoot(QStringLiteral("/sys/class/scsi_generic")))
                                  .entryList(QDir::Dirs | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        const QString scsiFolder = resolve(QStringLiteral("/sys/class/scsi_generic/%1/device").arg(name));
        if (scsiFolder.isEmpty())
            continue;
        JXScsiDevice device = scsiDeviceAt(scsiFolder);
        device.genericName = name;
        devices.append(device);
    }
    return devices;
}

bool JXLinuxSystem::volumeSpace(const QString& mountPoint, qint64& total, qint64& free)
{
    struct statvfs info;
    if (::statvfs(QFile::encodeName(mountPoint).constData(), &info) != 0) {
        JX_WARNING << "statvfs failed for" << mountPoint << std::strerror(errno);
        return false;
    }
    total = qint64(info.f_frsize) * qint64(info.f_blocks);
    free = qint64(info.f_frsize) * qint64(info.f_bfree);
    return true;
}

JXScsiChannel* JXLinuxSystem::createScsiChannel(const QString& genericName, const QString& watchedVendor)
{
    if (!genericName.startsWith(QLatin1String("sg")) || genericName.contains(QLatin1Char('/'))) {
        JX_CRITICAL << "not a SCSI generic node:" << genericName;
        return nullptr;
    }
    const QString genericFolder = resolve(QStringLiteral("/sys/class/scsi_generic/") + genericName);
    const QString scsiFolder = genericFolder.isEmpty() ? QString() : resolve(genericFolder + QLatin1String("/device"));
    if (scsiFolder.isEmpty()) {
        JX_CRITICAL << "no such SCSI device:" << genericName;
        return nullptr;
    }
    // Vendor commands are standard WRITE(10) commands: they must reach no
    // other disk than the watched vendor's.
    JXScsiDevice device = scsiDeviceAt(scsiFolder);
    device.genericName = genericName;
    const bool watched =
        !watchedVendor.isEmpty() && (device.usbManufacturer.contains(watchedVendor, Qt::CaseInsensitive) ||
                                     device.scsiVendor.contains(watchedVendor, Qt::CaseInsensitive));
    if (!device.usb || !watched) {
        JX_CRITICAL << "refusing raw SCSI access to" << genericName << "of" << device.usbManufacturer
                    << device.scsiVendor << "(usb:" << device.usb << ")";
        return nullptr;
    }
    if (m_simulated)
        return createSimulatedScsiChannel(device);

    quint32 major = 0, minor = 0;
    if (!parseDeviceNumber(readAttribute(genericFolder + QLatin1String("/dev")).toLatin1(), major, minor)) {
        JX_CRITICAL << "no device number for" << genericName;
        return nullptr;
    }
    return new JXLinuxScsiChannel(QStringLiteral("/dev/") + genericName, makedev(major, minor), false);
}

bool JXLinuxSystem::hasOtherMountOnDisk(const QString& diskName)
{
    QVector<JXMountEntry> mounts;
    if (!mountedVolumes(mounts))
        return false;
    for (const JXMountEntry& mount : mounts) {
        JXBlockDevice other;
        if (mount.major != 0 && blockDevice(mount.major, mount.minor, other) && other.diskName == diskName) {
            JX_WARNING << "not ejecting" << diskName << ":" << mount.mountPoint << "is still mounted";
            return true;
        }
    }
    return false;
}

bool JXLinuxSystem::removeSimulatedMount(const QString& mountPoint)
{
    QFile table(mountTablePath());
    if (!table.open(QIODevice::ReadOnly)) {
        JX_CRITICAL << "unable to read the mount table" << table.fileName();
        return false;
    }
    const QList<QByteArray> lines = table.readAll().split('\n');
    table.close();
    QByteArray kept;
    bool removed = false;
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        const QVector<JXMountEntry> entry = parseMountInfo(line);
        if (!removed && entry.size() == 1 && entry.first().mountPoint == mountPoint) {
            removed = true;
            continue;
        }
        kept += line + '\n';
    }
    if (!removed) {
        JX_WARNING << "not mounted:" << mountPoint;
        return false;
    }
    // Replaced whole, so that a reader never sees half a table.
    QSaveFile out(mountTablePath());
    if (!out.open(QIODevice::WriteOnly) || out.write(kept) != kept.size() || !out.commit()) {
        JX_CRITICAL << "unable to write the mount table" << out.fileName() << out.errorString();
        return false;
    }
    return true;
}

bool JXLinuxSystem::unmount(const JXMountEntry& mount, const JXBlockDevice* device)
{
    if (m_simulated) {
        if (!removeSimulatedMount(mount.mountPoint))
            return false;
        recordSimulatedAction(QStringLiteral("unmount ") + mount.mountPoint);
        return true;
    }
    if (device != nullptr && JXLinuxUDisks::isAvailable())
        return JXLinuxUDisks::unmount(device->name);
    if (::geteuid() != 0) {
        JX_CRITICAL << "cannot unmount" << mount.mountPoint << ": no UDisks2 service and no root rights";
        return false;
    }
    const QByteArray path = QFile::encodeName(mount.mountPoint);
    if (::umount2(path.constData(), MNT_FORCE) == 0)
        return true;
    // No lazy detach: it would report the volume gone while files on it are still open, and the eject that
    // follows would cut their writes off. The volume stays mounted until what uses it is closed.
    if (errno == EBUSY) {
        JX_CRITICAL << "unable to unmount" << mount.mountPoint << ": it is in use; close what uses the device first";
        return false;
    }
    JX_CRITICAL << "unable to unmount" << mount.mountPoint << ":" << std::strerror(errno);
    return false;
}

void JXLinuxSystem::eject(const JXBlockDevice& device)
{
    if (hasOtherMountOnDisk(device.diskName))
        return;
    if (m_simulated) {
        recordSimulatedAction(QStringLiteral("eject ") + device.diskName);
        return;
    }
    if (JXLinuxUDisks::isAvailable()) {
        JXLinuxUDisks::ejectDrive(device.name);
        return;
    }
    JXLinuxScsiChannel::ejectMedium(QStringLiteral("/dev/") + device.diskName);
}

bool JXLinuxSystem::unmountAndEject(const JXMountEntry& mount, std::function<void(bool unmounted)> unmountFinished)
{
    JXBlockDevice device;
    const bool hasDevice = mount.major != 0 && blockDevice(mount.major, mount.minor, device);

    // Made on the calling thread, so that the callback is delivered there.
    QObject* receiver = new QObject;
    JXLinuxSystem system = *this;
    QThreadPool::globalInstance()->start([system, mount, device, hasDevice, receiver, unmountFinished]() mutable {
        const bool unmounted = system.unmount(mount, hasDevice ? &device : nullptr);
        const bool delivered = QMetaObject::invokeMethod(
            receiver,
            [receiver, unmountFinished, unmounted]() {
                if (unmountFinished)
                    unmountFinished(unmounted);
                delete receiver;
            },
            Qt::QueuedConnection);
        if (!delivered)
            JX_WARNING << "the caller of the eject of" << mount.mountPoint << "is gone";
        if (unmounted && hasDevice)
            system.eject(device);
    });
    return true;
}
