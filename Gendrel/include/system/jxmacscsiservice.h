#ifndef JXMACSCSISERVICE_H
#define JXMACSCSISERVICE_H

#include <QByteArray>

#include <memory>

#include "device/stregdevinfo.h"
#include "system/jxoperatingsystem.h"
#include "system/jxscsideviceservice.h"

// The desktop's raw-flash service: vendor command blocks, each with a 24-byte
// command record and a 4096-byte data block, over a SCSI channel of the
// operating-system layer to the device's generic node. Each higher operation
// opens the channel at its start and closes it before it returns; only one
// may run at a time. The device is looked up once and again only after a
// failed open or command.
class JXMacSCSIService : public JXSCSIDeviceService
{
public:
    // device: a raw SCSI device of the layer (its generic node is used).
    explicit JXMacSCSIService(const JXScsiDevice& device);
    ~JXMacSCSIService() override;

    bool readDeviceUUID(QString& uuid) override;
    stRegDevInfo* getRegistryInfo() override { return &m_row; }
    int getType() override { return DEVICE_SCSI; }
    bool openClient() override;
    bool closeClient() override;
    // Sends the command with dataLength bytes of data, zero-padded to one block.
    bool writeClient(const unsigned char* command, unsigned long commandLength, const unsigned char* data,
                     unsigned long dataLength) override;
    // Sends the command and copies the first count bytes of the answer block.
    bool readClient(const unsigned char* command, unsigned long commandLength, unsigned char* buffer,
                    unsigned long count) override;

    // The 128-byte signature (inquiry 0x12 with length 128), or empty.
    QByteArray readDeviceSignature();
    void setRegistryDevInfo(const stRegDevInfo* row);

    // The vendor whose devices alone may receive raw commands.
    static QString driverVendor();

private:
    Q_DISABLE_COPY(JXMacSCSIService)

    JXScsiDevice m_device;
    std::unique_ptr<JXScsiChannel> m_channel; // open between openClient and closeClient, kept while it works
    bool m_failed = false;                    // a command failed since the last open
    stRegDevInfo m_row;
};

#endif
