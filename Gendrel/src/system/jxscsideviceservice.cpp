#include "system/jxscsideviceservice.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "jxlog.h"

namespace {

const unsigned char kWriteOpcode = 0x2A;
const int kCommandLength = 10;

void setBlockNumber(unsigned char* command, int block)
{
    command[4] = static_cast<unsigned char>((block / 256) & 0xFF);
    command[5] = static_cast<unsigned char>(block & 0xFF);
}

bool validBlockSize(int blockSize)
{
    if (blockSize < 512 || blockSize > JXSCSIDeviceService::MaxBlockSize || blockSize % 512 != 0) {
        JX_CRITICAL << "invalid block size" << blockSize;
        return false;
    }
    return true;
}

// The last block must still have a 16-bit number.
bool validBlockRange(int firstBlock, qint64 count)
{
    if (firstBlock < 0 || qint64(firstBlock) + count - 1 > JXSCSIDeviceService::MaxBlockNumber) {
        JX_CRITICAL << "blocks" << firstBlock << "to" << qint64(firstBlock) + count - 1 << "lie beyond block"
                    << int(JXSCSIDeviceService::MaxBlockNumber);
        return false;
    }
    return true;
}

} // namespace

void JXSCSIDeviceService::composeReadCommand(unsigned char (&command)[10], int number, unsigned char area,
                                             int blockSize)
{
    // The block number travels big-endian in bytes 4 and 5.
    std::fill(std::begin(command), std::end(command), 0);
    command[0] = 0x28;
    command[4] = static_cast<unsigned char>(number >> 8);
    command[5] = static_cast<unsigned char>(number & 0xFF);
    command[6] = area;
    command[8] = static_cast<unsigned char>(blockSize / 512);
}

bool JXSCSIDeviceService::isReadableRange(int byteCount, int blockSize, int firstBlock)
{
    if (blockSize <= 0 || blockSize > MaxBlockSize || blockSize % 512 != 0 || byteCount < 0 || firstBlock < 0) {
        JX_WARNING << "unreadable block range: block size" << blockSize << ", bytes" << byteCount << ", first"
                   << firstBlock;
        return false;
    }
    return true;
}

bool JXSCSIDeviceService::writeFlashBlocks(char* data, unsigned char area, int size, int blockSize, int firstBlock)
{
    if (!validBlockSize(blockSize))
        return false;
    if (size < 0 || (size > 0 && data == nullptr)) {
        JX_CRITICAL << "invalid data of" << size << "bytes";
        return false;
    }
    const int fullBlocks = size / blockSize;
    const int tail = size % blockSize;
    if (!validBlockRange(firstBlock, fullBlocks + (tail != 0 ? 1 : 0)))
        return false;
    if (fullBlocks == 0)
        JX_CRITICAL << "nothing is written:" << size << "bytes are less than one block";

    if (!openClient()) {
        JX_CRITICAL << "open client failed";
        return false;
    }
    unsigned char command[kCommandLength] = {
        kWriteOpcode, 0, 0, 0, 0, 0, area, 0, static_cast<unsigned char>(blockSize / 512), 0};
    const unsigned char* next = reinterpret_cast<const unsigned char*>(data);
    bool result = false;
    bool failed = false;
    for (int i = 0; i < fullBlocks; ++i) {
        const int block = firstBlock + i;
        setBlockNumber(command, block);
        result = writeClient(command, kCommandLength, next, static_cast<unsigned long>(blockSize));
        if (!result) {
            JX_CRITICAL << "write client failed at loop " << block;
            failed = true;
            break;
        }
        next += blockSize;
    }
    // The tail only follows a successful full block: a write shorter than one
    // block sends nothing.
    if (tail != 0 && fullBlocks > 0 && !failed) {
        QByteArray padded(blockSize, char(0xFF));
        std::memcpy(padded.data(), next, size_t(tail));
        setBlockNumber(command, firstBlock + fullBlocks);
        result = writeClient(command, kCommandLength, reinterpret_cast<const unsigned char*>(padded.constData()),
                             static_cast<unsigned long>(blockSize));
        if (!result)
            JX_CRITICAL << "write client failed";
    }
    closeClient();
    return result;
}

bool JXSCSIDeviceService::eraseFlashBlocks(int size, int blockSize, int firstBlock)
{
    if (!validBlockSize(blockSize))
        return false;
    if (size < 0) {
        JX_CRITICAL << "invalid erase size" << size;
        return false;
    }
    const int count = size / blockSize + (size % blockSize != 0 ? 1 : 0);
    if (count > 0 && !validBlockRange(firstBlock, count))
        return false;
    if (count == 0)
        JX_CRITICAL << "nothing is erased: the size is 0";

    if (!openClient()) {
        JX_CRITICAL << "open client failed";
        return false;
    }
    // An erase is one 512-byte write of zeros per block to the erase area,
    // whatever the block size.
    const QByteArray zeros(blockSize, '\0');
    unsigned char command[kCommandLength] = {kWriteOpcode, 0, 0, 0, 0, 0, EraseArea, 0, 1, 0};
    bool result = false;
    for (int i = 0; i < count; ++i) {
        const int block = firstBlock + i;
        setBlockNumber(command, block);
        result = writeClient(command, kCommandLength, reinterpret_cast<const unsigned char*>(zeros.constData()), 512);
        if (!result) {
            JX_CRITICAL << "erase client failed at loop " << block;
            break;
        }
    }
    closeClient();
    return result;
}
