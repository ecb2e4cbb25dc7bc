#ifndef JXOPERATINGSYSTEM_H
#define JXOPERATINGSYSTEM_H

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// The small operating-system layer beneath the platform classes: mounted
// volumes, what the kernel knows of their disks, free space, unmount and eject,
// and raw SCSI channels. The platform classes and the volume queries reach the
// system only through it.
//
// The layer reads the system through a root folder: "/" normally, or a folder
// named by JX_SYSTEM_ROOT (or setSystemRoot) that holds a proc/self/mountinfo
// and a sys tree. With such a root it is simulated: unmount and eject are
// recorded instead of done, and raw SCSI commands go to a simulated device
// that a test registers, never to a real node.

// One mounted file system, in mount-table order.
struct JXMountEntry
{
    QString mountPoint;     // absolute path, escapes decoded
    QString fileSystemType; // the kernel's name: "vfat", "iso9660", "tmpfs" ...
    QString source;         // "/dev/sdb1", or a pseudo name such as "tmpfs"
    quint32 major = 0;      // device number of the mounted file system
    quint32 minor = 0;
};

// A raw SCSI device (a SCSI generic node) and the USB device above it.
struct JXScsiDevice
{
    QString genericName; // "sg2"; empty when the device has no generic node
    QString scsiVendor;  // INQUIRY vendor and model, trimmed
    QString scsiModel;
    bool usb = false; // a USB device is among the ancestors
    QString usbManufacturer;
    quint16 usbVendorId = 0;
    quint16 usbProductId = 0;
};

// A block device (partition or whole disk) as the kernel describes it.
struct JXBlockDevice
{
    QString name;           // kernel name, "sdb1": the BSD-style disk name
    QString diskName;       // the whole disk, "sdb"; equals name for a whole disk
    bool removable = false; // set on the device itself or on a parent disk
    JXScsiDevice scsi;      // empty texts when the disk is not a SCSI disk
};

enum class JXScsiDirection { None, ToDevice, FromDevice };

// One command toward a raw SCSI device: the command block and the number of
// data bytes that follow it or that are wanted back. The data always travels
// in a block of JXScsiCommandRecord::BlockSize bytes.
struct JXScsiCommandRecord
{
    enum { MaxCommandLength = 16, BlockSize = 4096 };

    quint32 commandLength = 0;
    quint8 command[MaxCommandLength] = {};
    quint32 dataLength = 0;

    // False (and a logged error) for an empty or over-long command block or
    // more data than one block.
    bool set(const quint8* commandBlock, unsigned long length, unsigned long dataBytes);
};
static_assert(sizeof(JXScsiCommandRecord) == 24, "the command record is 24 bytes");

// An open-able channel to one raw SCSI device. Not shared between threads.
class JXScsiChannel
{
public:
    virtual ~JXScsiChannel() {}
    virtual bool open() = 0;
    virtual bool close() = 0;
    // block holds BlockSize bytes: the data for ToDevice (record.dataLength of
    // them are sent), the answer for FromDevice (record.dataLength are read).
    virtual bool execute(const JXScsiCommandRecord& record, JXScsiDirection direction, quint8* block) = 0;
};

class JXOperatingSystem
{
public:
    virtual ~JXOperatingSystem() {}

    // The mounted file systems in table order; false when the table cannot be
    // read. A mount whose disk has left the system is not listed.
    virtual bool mountedVolumes(QVector<JXMountEntry>& mounts) = 0;
    // The block device with this number; false when the system has none.
    virtual bool blockDevice(quint32 major, quint32 minor, JXBlockDevice& device) = 0;
    // The same by kernel name ("sdb1").
    virtual bool blockDeviceByName(const QString& name, JXBlockDevice& device) = 0;
    // The label of the file system on a block device; empty when it has none.
    virtual QString fileSystemLabel(const QString& blockName) = 0;
    // The raw SCSI devices with a generic node, in name order.
    virtual QVector<JXScsiDevice> scsiDevices() = 0;
    // Fragment size times total and free blocks; free counts every free block,
    // also those reserved for the superuser.
    virtual bool volumeSpace(const QString& mountPoint, qint64& total, qint64& free) = 0;
    // A forced unmount of the mount and then, only when it succeeded, the
    // eject of its disk. Both run on a worker; unmountFinished (may be empty)
    // runs on the calling thread's event loop as soon as the unmount is over,
    // with its outcome. False when nothing was started.
    virtual bool unmountAndEject(const JXMountEntry& mount, std::function<void(bool unmounted)> unmountFinished) = 0;
    // A channel to the raw SCSI device with this generic node; null (and a
    // logged error) unless it is a USB device whose USB manufacturer or SCSI
    // vendor contains watchedVendor (case ignored). The caller owns it.
    virtual JXScsiChannel* createScsiChannel(const QString& genericName, const QString& watchedVendor) = 0;
    // The file the mount table is read from; a watcher polls it for POLLPRI
    // (in simulated mode it is a plain file, replaced whole on each change).
    virtual QString mountTablePath() const = 0;
    // The folder the system is read through: "/" unless simulated.
    virtual QString rootFolder() const = 0;
    virtual bool isSimulated() const = 0;

    // The process-wide layer, made on first use with the root of
    // JX_SYSTEM_ROOT (or "/").
    static JXOperatingSystem* instance();
    // Tests: replaces the layer by one reading through root ("" restores the
    // default). Only while no other thread uses the layer.
    static void setSystemRoot(const QString& root);

    // The kernel's names for a file-system type name of the desktop's
    // conventions: "msdos" is vfat, msdos or exfat; "cd9660" is iso9660 or
    // udf; any other name stands for itself.
    static QStringList fileSystemTypes(const QString& typeName);

    // ---- Simulation -------------------------------------------------------
    using SimulatedScsiProvider = std::function<JXScsiChannel*(const JXScsiDevice&)>;
    // Makes the channels of createScsiChannel in simulated mode; without a
    // provider no channel opens there.
    static void setSimulatedScsiProvider(SimulatedScsiProvider provider);
    // What the simulated layer did in place of the system, in order:
    // "unmount <mount point>", "eject <disk name>".
    static QStringList simulatedActions();
    static void clearSimulatedActions();

protected:
    static void recordSimulatedAction(const QString& action);
    static JXScsiChannel* createSimulatedScsiChannel(const JXScsiDevice& device);
};

#endif
