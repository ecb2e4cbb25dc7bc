#ifndef JXSIMULATEDSYSTEM_H
#define JXSIMULATEDSYSTEM_H

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// Builds, in a folder, the part of a Linux system that the operating-system
// layer reads: proc/self/mountinfo and a sys tree shaped like the kernel's
// (device folders under sys/devices, relative links in sys/dev/block and
// sys/class). Point the layer at root() (JXOperatingSystem::setSystemRoot or
// JX_SYSTEM_ROOT) and it reads this tree instead of the machine.
//
// Mount points are real folders outside the tree: the layer takes sizes from
// them, and the drivers read and write their files.
class JXSimulatedSystem
{
public:
    struct Disk
    {
        QString name = QStringLiteral("sdb");
        quint32 major = 8;
        quint32 minor = 16;
        bool removable = true;
        bool usb = true;
        QString usbManufacturer = QStringLiteral("Vexmor"); // empty: the attribute is missing
        QString usbVendorId = QStringLiteral("2f0e");
        QString usbProductId = QStringLiteral("0101");
        QString scsiVendor = QStringLiteral("Vexmor");
        QString scsiModel = QStringLiteral("Zelto");
        QString genericName = QStringLiteral("sg1"); // empty: no SCSI generic node
        int host = 6;                                // SCSI host; also the USB port number
    };

    // Makes an empty tree (the folder is created when missing).
    explicit JXSimulatedSystem(const QString& root);

    QString root() const { return m_root; }

    bool addDisk(const Disk& disk);
    // A partition of a disk added before; it gets the disk's major number.
    bool addPartition(const QString& diskName, const QString& name, quint32 minor);
    // Adds a mount-table line for a disk or partition, source "/dev/<name>".
    bool mount(const QString& deviceName, const QString& mountPoint, const QString& type = QStringLiteral("vfat"));
    // Adds a raw mount-table line.
    bool mountEntry(quint32 major, quint32 minor, const QString& source, const QString& mountPoint,
                    const QString& type);
    bool unmount(const QString& mountPoint);
    // The disk leaves sysfs like a pulled stick; its mounts stay in the table.
    bool pull(const QString& diskName);
    // A file-system label, as udev publishes it under dev/disk/by-label.
    bool setLabel(const QString& deviceName, const QString& label);

    // The usual device: a removable USB disk "sdb" of vendor "Vexmor" with
    // the partition "sdb1" mounted (vfat) on mountPoint, a folder made here
    // that holds System/device.txt with deviceText.
    bool addVexmorStick(const QString& mountPoint, const QByteArray& deviceText = defaultDeviceText());
    static QByteArray defaultDeviceText();

    // Escapes a mount-table field as the kernel does (space, tab, newline, backslash).
    static QByteArray escapeMountField(const QString& text);

private:
    QString path(const QString& systemPath) const { return m_root + systemPath; }
    bool writeFile(const QString& systemPath, const QByteArray& content);
    bool makeLink(const QString& linkSystemPath, const QString& targetSystemPath);
    bool writeMountTable();

    struct Device
    {
        QString folder; // system path of the device's sysfs folder
        QString disk;   // the disk it belongs to (itself for a disk)
        quint32 major = 0;
        quint32 minor = 0;
    };

    QString m_root;
    QStringList m_mountLines;
    int m_nextMountId = 100;
    QMap<QString, Device> m_devices;
    QMap<QString, QString> m_diskRemovalFolders; // disk name -> folder removed when it is pulled
    QMap<QString, QString> m_genericNodes;       // disk name -> SCSI generic node name
};

#endif
