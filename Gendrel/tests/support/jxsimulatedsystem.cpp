#include "jxsimulatedsystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <unistd.h>

namespace {

QByteArray padded(const QString& text, int width)
{
    QByteArray bytes = text.toLatin1();
    while (bytes.size() < width)
        bytes.append(' ');
    return bytes + '\n';
}

} // namespace

JXSimulatedSystem::JXSimulatedSystem(const QString& root) : m_root(QDir::cleanPath(QDir(root).absolutePath()))
{
    for (const char* folder : {"/proc/self", "/sys/dev/block", "/sys/class/block", "/sys/class/scsi_generic",
                               "/sys/devices/pci0000:00/0000:00:14.0/usb1", "/dev/disk/by-label"})
        QDir().mkpath(path(QLatin1String(folder)));
    // The host controller's root hub: a USB ancestor of every stick, which the
    // layer must not take for the stick itself.
    const QString hub = QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb1");
    writeFile(hub + QLatin1String("/idVendor"), "1d6b\n");
    writeFile(hub + QLatin1String("/idProduct"), "0002\n");
    writeFile(hub + QLatin1String("/manufacturer"), "Linux xhci-hcd\n");
    // Pseudo file systems, as in every table.
    m_mountLines << QStringLiteral("21 1 0:20 / / rw,relatime - overlay overlay rw")
                 << QStringLiteral("22 21 0:21 / /proc rw,relatime - proc proc rw");
    writeMountTable();
}

bool JXSimulatedSystem::writeFile(const QString& systemPath, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path(systemPath)).path());
    QFile file(path(systemPath));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

bool JXSimulatedSystem::makeLink(const QString& linkSystemPath, const QString& targetSystemPath)
{
    const QString link = path(linkSystemPath);
    QDir().mkpath(QFileInfo(link).path());
    const QString relative = QDir(QFileInfo(link).path()).relativeFilePath(path(targetSystemPath));
    QFile::remove(link);
    return ::symlink(QFile::encodeName(relative).constData(), QFile::encodeName(link).constData()) == 0;
}

QByteArray JXSimulatedSystem::escapeMountField(const QString& text)
{
    QByteArray escaped;
    for (const char c : QFile::encodeName(text)) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\\')
            escaped += '\\' + QByteArray::number(int(quint8(c)), 8).rightJustified(3, '0');
        else
            escaped += c;
    }
    return escaped;
}

bool JXSimulatedSystem::writeMountTable()
{
    // Replaced whole, like the layer's own changes, so readers never see half of it.
    QSaveFile table(path(QStringLiteral("/proc/self/mountinfo")));
    if (!table.open(QIODevice::WriteOnly))
        return false;
    for (const QString& line : qAsConst(m_mountLines))
        table.write(line.toUtf8() + '\n');
    return table.commit();
}

bool JXSimulatedSystem::addDisk(const Disk& disk)
{
    if (disk.name.isEmpty() || m_devices.contains(disk.name))
        return false;
    const QString host = QString::number(disk.host);
    QString parent;
    QString removalFolder;
    if (disk.usb) {
        const QString usbDevice = QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-%1").arg(host);
        writeFile(usbDevice + QLatin1String("/idVendor"), disk.usbVendorId.toLatin1() + '\n');
        writeFile(usbDevice + QLatin1String("/idProduct"), disk.usbProductId.toLatin1() + '\n');
        if (!disk.usbManufacturer.isEmpty())
            writeFile(usbDevice + QLatin1String("/manufacturer"), disk.usbManufacturer.toUtf8() + '\n');
        parent = usbDevice + QStringLiteral("/1-%1:1.0").arg(host);
        writeFile(parent + QLatin1String("/bInterfaceClass"), "08\n");
        removalFolder = usbDevice;
    } else {
        parent = QStringLiteral("/sys/devices/pci0000:00/0000:00:17.0/ata%1").arg(host);
    }
    const QString scsiDevice = parent + QStringLiteral("/host%1/target%1:0:0/%1:0:0:0").arg(host);
    if (!disk.usb)
        removalFolder = scsiDevice;
    writeFile(scsiDevice + QLatin1String("/vendor"), padded(disk.scsiVendor, 8));
    writeFile(scsiDevice + QLatin1String("/model"), padded(disk.scsiModel, 16));
    writeFile(scsiDevice + QLatin1String("/scsi_level"), "7\n");

    const QString folder = scsiDevice + QLatin1String("/block/") + disk.name;
    writeFile(folder + QLatin1String("/dev"), QStringLiteral("%1:%2\n").arg(disk.major).arg(disk.minor).toLatin1());
    writeFile(folder + QLatin1String("/removable"), disk.removable ? "1\n" : "0\n");
    writeFile(folder + QLatin1String("/size"), "7831552\n");
    makeLink(folder + QLatin1String("/device"), scsiDevice);
    makeLink(QStringLiteral("/sys/dev/block/%1:%2").arg(disk.major).arg(disk.minor), folder);
    makeLink(QStringLiteral("/sys/class/block/") + disk.name, folder);

    if (!disk.genericName.isEmpty()) {
        const QString generic = scsiDevice + QLatin1String("/scsi_generic/") + disk.genericName;
        writeFile(generic + QLatin1String("/dev"),
                  QStringLiteral("21:%1\n").arg(disk.genericName.mid(2).toInt()).toLatin1());
        makeLink(generic + QLatin1String("/device"), scsiDevice);
        makeLink(QStringLiteral("/sys/class/scsi_generic/") + disk.genericName, generic);
        m_genericNodes.insert(disk.name, disk.genericName);
    }
    m_devices.insert(disk.name, Device{folder, disk.name, disk.major, disk.minor});
    m_diskRemovalFolders.insert(disk.name, removalFolder);
    return true;
}

bool JXSimulatedSystem::addPartition(const QString& diskName, const QString& name, quint32 minor)
{
    if (!m_devices.contains(diskName) || m_devices.value(diskName).disk != diskName || m_devices.contains(name))
        return false;
    const Device disk = m_devices.value(diskName);
    const QString folder = disk.folder + QLatin1Char('/') + name;
    // A partition carries no removable flag of its own: its disk has it.
    writeFile(folder + QLatin1String("/dev"), QStringLiteral("%1:%2\n").arg(disk.major).arg(minor).toLatin1());
    writeFile(folder + QLatin1String("/partition"), "1\n");
    makeLink(QStringLiteral("/sys/dev/block/%1:%2").arg(disk.major).arg(minor), folder);
    makeLink(QStringLiteral("/sys/class/block/") + name, folder);
    m_devices.insert(name, Device{folder, diskName, disk.major, minor});
    return true;
}

bool JXSimulatedSystem::mount(const QString& deviceName, const QString& mountPoint, const QString& type)
{
    if (!m_devices.contains(deviceName))
        return false;
    const Device device = m_devices.value(deviceName);
    return mountEntry(device.major, device.minor, QStringLiteral("/dev/") + deviceName, mountPoint, type);
}

bool JXSimulatedSystem::mountEntry(quint32 major, quint32 minor, const QString& source, const QString& mountPoint,
                                   const QString& type)
{
    const int id = m_nextMountId++;
    m_mountLines << QStringLiteral("%1 21 %2:%3 / %4 rw,nosuid,nodev,relatime shared:%1 - %5 %6 rw")
                        .arg(id)
                        .arg(major)
                        .arg(minor)
                        .arg(QString::fromUtf8(escapeMountField(mountPoint)), type,
                             QString::fromUtf8(escapeMountField(source)));
    return writeMountTable();
}

bool JXSimulatedSystem::unmount(const QString& mountPoint)
{
    // The layer itself may have changed the table (a simulated unmount).
    QFile table(path(QStringLiteral("/proc/self/mountinfo")));
    if (table.open(QIODevice::ReadOnly))
        m_mountLines = QString::fromUtf8(table.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QString escaped = QString::fromUtf8(escapeMountField(mountPoint));
    for (int i = 0; i < m_mountLines.size(); ++i) {
        if (m_mountLines.at(i).section(QLatin1Char(' '), 4, 4) == escaped) {
            m_mountLines.removeAt(i);
            return writeMountTable();
        }
    }
    return false;
}

bool JXSimulatedSystem::pull(const QString& diskName)
{
    if (!m_diskRemovalFolders.contains(diskName))
        return false;
    for (auto it = m_devices.begin(); it != m_devices.end();) {
        if (it->disk != diskName) {
            ++it;
            continue;
        }
        QFile::remove(path(QStringLiteral("/sys/dev/block/%1:%2").arg(it->major).arg(it->minor)));
        QFile::remove(path(QStringLiteral("/sys/class/block/") + it.key()));
        it = m_devices.erase(it);
    }
    if (m_genericNodes.contains(diskName))
        QFile::remove(path(QStringLiteral("/sys/class/scsi_generic/") + m_genericNodes.take(diskName)));
    return QDir(path(m_diskRemovalFolders.take(diskName))).removeRecursively();
}

bool JXSimulatedSystem::setLabel(const QString& deviceName, const QString& label)
{
    // udev writes unsafe characters as \xHH.
    QString encoded;
    for (const char c : label.toUtf8()) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.';
        encoded += plain ? QString(QLatin1Char(c)) : QStringLiteral("\\x%1").arg(quint8(c), 2, 16, QLatin1Char('0'));
    }
    return makeLink(QStringLiteral("/dev/disk/by-label/") + encoded, QStringLiteral("/dev/") + deviceName);
}

QByteArray JXSimulatedSystem::defaultDeviceText()
{
    return "[MODEL]\nModel=Zelto\n[UUID]\nUUID=ZE01000000000001\n";
}

bool JXSimulatedSystem::addVexmorStick(const QString& mountPoint, const QByteArray& deviceText)
{
    if (!QDir().mkpath(mountPoint + QLatin1String("/System")))
        return false;
    QFile text(mountPoint + QLatin1String("/System/device.txt"));
    if (!text.open(QIODevice::WriteOnly | QIODevice::Truncate) || text.write(deviceText) != deviceText.size())
        return false;
    text.close();
    return addDisk(Disk()) && addPartition(QStringLiteral("sdb"), QStringLiteral("sdb1"), 17) &&
           mount(QStringLiteral("sdb1"), mountPoint);
}
