#ifndef JXSCSIDEVICESERVICE_H
#define JXSCSIDEVICESERVICE_H

#include <QString>

#include "device/jxdeviceservice.h"

// A raw-flash device reached through a SCSI pass-through channel. The platform
// class supplies the channel (the four client operations); the block writes
// and erases are built on them here.
class JXSCSIDeviceService : public JXDeviceService
{
public:
    // Blocks are numbered 0 to MaxBlockNumber; a block has 512 to
    // MaxBlockSize bytes, a multiple of 512.
    enum { MaxBlockNumber = 65535, MaxBlockSize = 4096, EraseArea = 24 };

    virtual bool openClient() = 0;
    virtual bool closeClient() = 0;
    virtual bool writeClient(const unsigned char* command, unsigned long commandLength, const unsigned char* data,
                             unsigned long dataLength) = 0;
    virtual bool readClient(const unsigned char* command, unsigned long commandLength, unsigned char* buffer,
                            unsigned long count) = 0;

    // Writes size bytes as blocks from firstBlock on; a short last block is
    // padded with 0xFF. Opens and closes the channel itself.
    virtual bool writeFlashBlocks(char* data, unsigned char area, int size, int blockSize, int firstBlock);
    // Erases the blocks that size bytes occupy from firstBlock on.
    virtual bool eraseFlashBlocks(int size, int blockSize, int firstBlock);

    // The vendor read command for one block of an area, for the drivers' block reads.
    static void composeReadCommand(unsigned char (&command)[10], int number, unsigned char area, int blockSize);
    // Whether byteCount bytes can be read as blocks of blockSize from firstBlock on; logs why not.
    static bool isReadableRange(int byteCount, int blockSize, int firstBlock);

    QString getIAPVersion() const { return m_iapVersion; }
    QString getAPVersion() const { return m_apVersion; }
    void setVersions(const QString& iapVersion, const QString& apVersion)
    {
        m_iapVersion = iapVersion;
        m_apVersion = apVersion;
    }

protected:
    QString m_iapVersion;
    QString m_apVersion;
};

#endif
