#ifndef JXLINUXSYSTEM_H
#define JXLINUXSYSTEM_H

#include <QByteArray>

#include "system/jxoperatingsystem.h"

// The layer on Linux: the mount table from proc/self/mountinfo, the disks
// from sysfs, sizes from statvfs, unmount and eject through UDisks2 (or, as
// root, umount2 and a SCSI eject), raw SCSI through SG_IO. Every path of the
// system is read below the root folder; links are followed inside it, so a
// simulated sys tree with relative links reads like the real one.
//
// The object keeps nothing but its root: every query reads the system anew,
// and it may be used from any thread.
class JXLinuxSystem : public JXOperatingSystem
{
public:
    explicit JXLinuxSystem(const QString& root);

    bool mountedVolumes(QVector<JXMountEntry>& mounts) override;
    bool blockDevice(quint32 major, quint32 minor, JXBlockDevice& device) override;
    bool blockDeviceByName(const QString& name, JXBlockDevice& device) override;
    QString fileSystemLabel(const QString& blockName) override;
    QVector<JXScsiDevice> scsiDevices() override;
    bool volumeSpace(const QString& mountPoint, qint64& total, qint64& free) override;
    bool unmountAndEject(const JXMountEntry& mount, std::function<void(bool unmounted)> unmountFinished) override;
    JXScsiChannel* createScsiChannel(const QString& genericName, const QString& watchedVendor) override;
    QString mountTablePath() const override;
    QString rootFolder() const override;
    bool isSimulated() const override { return m_simulated; }

    // The entries of a mountinfo text; malformed lines are skipped.
    static QVector<JXMountEntry> parseMountInfo(const QByteArray& text);

private:
    QString inRoot(const QString& systemPath) const;
    QString resolve(const QString& systemPath) const;
    bool exists(const QString& systemPath) const;
    QString readAttribute(const QString& systemPath) const;
    bool blockDeviceAt(const QString& folder, JXBlockDevice& device) const;
    JXScsiDevice scsiDeviceAt(const QString& scsiFolder) const;
    void findUsbAncestor(const QString& folder, JXScsiDevice& device) const;
    bool isStale(const JXMountEntry& entry) const;
    bool hasOtherMountOnDisk(const QString& diskName);
    bool removeSimulatedMount(const QString& mountPoint);
    bool unmount(const JXMountEntry& mount, const JXBlockDevice* device);
    void eject(const JXBlockDevice& device);

    QString m_root; // without a trailing slash; empty for "/"
    bool m_simulated;
};

#endif
