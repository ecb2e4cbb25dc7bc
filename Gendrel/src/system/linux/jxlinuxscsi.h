#ifndef JXLINUXSCSI_H
#define JXLINUXSCSI_H

#include <sys/types.h>

#include "system/jxoperatingsystem.h"

// A raw SCSI channel through the kernel's SG_IO on one device node.
class JXLinuxScsiChannel : public JXScsiChannel
{
public:
    // open() refuses a node whose device number is not expectedDevice, so a
    // renamed node never receives commands meant for another device.
    JXLinuxScsiChannel(const QString& nodePath, dev_t expectedDevice, bool blockDevice);
    ~JXLinuxScsiChannel() override;

    bool open() override;
    bool close() override;
    bool execute(const JXScsiCommandRecord& record, JXScsiDirection direction, quint8* block) override;

    // Allows medium removal and sends START STOP UNIT with the eject bit to a
    // disk node; false (and a logged error) when the disk refuses.
    static bool ejectMedium(const QString& diskNodePath);

private:
    Q_DISABLE_COPY(JXLinuxScsiChannel)

    QString m_nodePath;
    dev_t m_expectedDevice;
    bool m_blockDevice;
    int m_descriptor = -1;
};

#endif
