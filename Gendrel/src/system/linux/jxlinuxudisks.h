#ifndef JXLINUXUDISKS_H
#define JXLINUXUDISKS_H

#include <QString>

// Unmount and eject through the UDisks2 service on the system bus, the way a
// desktop user without root rights may do them. The calls block (up to a
// minute) and may run on any thread.
class JXLinuxUDisks
{
public:
    // The system bus is reachable and UDisks2 runs there or can be started.
    static bool isAvailable();
    // A forced unmount of the file system on the block device ("sdb1").
    static bool unmount(const QString& blockName);
    // Ejects the drive of the block device, or powers it off when it has no
    // ejectable medium (a USB stick).
    static bool ejectDrive(const QString& blockName);
};

#endif
