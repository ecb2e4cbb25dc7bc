#include "system/jxmacscsiservice.h"

#include <cstdio>
#include <cstring>

#include "jxlog.h"

JXMacSCSIService::JXMacSCSIService(const JXScsiDevice& device) : m_device(device) {}

JXMacSCSIService::~JXMacSCSIService()
{
    closeClient();
}

QString JXMacSCSIService::driverVendor()
{
    return QStringLiteral("Vexmor");
}

void JXMacSCSIService::setRegistryDevInfo(const stRegDevInfo* row)
{
    if (row)
        m_row = *row;
}

bool JXMacSCSIService::openClient()
{
    // The layer refuses every device but a USB device of the driver's vendor. Its look-up reads sysfs, so the channel
    // it makes is kept between operations until its device fails an open or a command.
    if (!m_channel)
        m_channel.reset(JXOperatingSystem::instance()->createScsiChannel(m_device.genericName, driverVendor()));
    // A volume-only device has no raw channel: that is no error worth a user's attention.
    if (!m_channel) {
        JX_DEBUG << "no channel to" << m_device.genericName;
        return false;
    }
    if (!m_channel->open()) {
        m_channel.reset();
        fprintf(stderr, "unable to open the channel to %s\n", m_device.genericName.toLocal8Bit().constData());
        return false;
    }
    fprintf(stdout, "MyOpenUserClient was successful.\n");
    return true;
}

bool JXMacSCSIService::closeClient()
{
    if (!m_channel)
        return true;
    const bool closed = m_channel->close();
    // A device that failed a command may have gone; whatever takes its node next is looked up anew.
    if (!closed || m_failed)
        m_channel.reset();
    m_failed = false;
    if (closed)
        fprintf(stdout, "IOServiceClose was successful.\n");
    return closed;
}

bool JXMacSCSIService::writeClient(const unsigned char* command, unsigned long commandLength, const unsigned char* data,
                                   unsigned long dataLength)
{
    JXScsiCommandRecord record;
    if (!m_channel || !record.set(command, commandLength, dataLength) || (dataLength > 0 && !data))
        return false;
    quint8 block[JXScsiCommandRecord::BlockSize] = {};
    if (dataLength > 0)
        std::memcpy(block, data, dataLength);
    if (!m_channel->execute(record, JXScsiDirection::ToDevice, block)) {
        m_failed = true;
        JX_CRITICAL << "IOConnectCallStructMethod error code" << Qt::hex << command[0];
        return false;
    }
    return true;
}

bool JXMacSCSIService::readClient(const unsigned char* command, unsigned long commandLength, unsigned char* buffer,
                                  unsigned long count)
{
    JXScsiCommandRecord record;
    if (!m_channel || !record.set(command, commandLength, count) || (count > 0 && !buffer))
        return false;
    quint8 block[JXScsiCommandRecord::BlockSize] = {};
    if (!m_channel->execute(record, JXScsiDirection::FromDevice, block)) {
        m_failed = true;
        return false;
    }
    if (count > 0)
        std::memcpy(buffer, block, count);
    return true;
}

QByteArray JXMacSCSIService::readDeviceSignature()
{
    QByteArray signature;
    if (!openClient())
        return signature;
    static const unsigned char inquiry[6] = {0x12, 0x80, 0x00, 0x00, 0x80, 0x00};
    unsigned char buffer[128] = {};
    if (readClient(inquiry, sizeof inquiry, buffer, sizeof buffer))
        signature = QByteArray(reinterpret_cast<const char*>(buffer), sizeof buffer);
    closeClient();
    return signature;
}

bool JXMacSCSIService::readDeviceUUID(QString& uuid)
{
    uuid.clear();
    if (!openClient())
        return false;
    // Block 0 of area 3, size code 4: 2048 bytes; the UUID is the last 16.
    static const unsigned char read[10] = {0x28, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x04, 0x00};
    QByteArray buffer(2048, '\0');
    if (readClient(read, sizeof read, reinterpret_cast<unsigned char*>(buffer.data()), 2048))
        uuid = QString::fromLatin1(buffer.constData() + 2032, 16);
    closeClient();
    return !uuid.isEmpty();
}
