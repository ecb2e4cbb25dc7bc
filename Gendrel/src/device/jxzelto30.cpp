#include "device/jxzelto30.h"

#include <algorithm>
#include <iterator>

#include "device/jxdeviceservice.h"
#include "jxlog.h"
#include "jxprofiledata.h"
#include "system/jxscsideviceservice.h"

namespace {

// The vendor read command for one block of an area; the block number travels big-endian in bytes 4 and 5.
void composeReadCommand(unsigned char (&command)[10], int number, unsigned char area, int blockSize)
{
    std::fill(std::begin(command), std::end(command), 0);
    command[0] = 0x28;
    command[4] = static_cast<unsigned char>(number >> 8);
    command[5] = static_cast<unsigned char>(number & 0xFF);
    command[6] = area;
    command[8] = static_cast<unsigned char>(blockSize / 512);
}

} // namespace

JXZelto30::JXZelto30(QObject* parent) : JXClient(parent), m_flashHeaderRecord(FlashHeaderRecordSize, '\0')
{
    m_lang = QStringLiteral("eng");
}

JXZelto30::~JXZelto30()
{
    delete m_profile;
}

bool JXZelto30::getName(QString& model)
{
    JXDeviceService* service = getDeviceService();
    const stRegDevInfo* row = service ? service->getRegistryInfo() : nullptr;
    model = row ? row->modelName : QString();
    return true;
}

// The data store these operations read is not part of this build yet.
bool JXZelto30::prepareUploadData(QString&, bool)
{
    return false;
}

QStringList JXZelto30::saveDeviceRawData(QString)
{
    return QStringList();
}

bool JXZelto30::readData(QByteArray& out, unsigned char area, int byteCount, int blockSize, int firstBlock)
{
    auto* service = dynamic_cast<JXSCSIDeviceService*>(getDeviceService());
    if (!service) {
        JX_WARNING << "the device has no raw-flash service to read from";
        return false;
    }
    if (blockSize <= 0 || blockSize > JXSCSIDeviceService::MaxBlockSize || blockSize % 512 != 0 || byteCount < 0 ||
        firstBlock < 0) {
        JX_WARNING << "unreadable block range: block size" << blockSize << ", bytes" << byteCount << ", first"
                   << firstBlock;
        return false;
    }
    if (!service->openClient())
        return false;

    QByteArray block(blockSize, '\0');
    const int end = firstBlock + byteCount / blockSize + (byteCount % blockSize ? 1 : 0);
    bool result = false;
    for (int number = firstBlock; number < end; ++number) {
        if (number > JXSCSIDeviceService::MaxBlockNumber) {
            JX_WARNING << "block" << number << "lies beyond the addressable blocks";
            result = false;
            break;
        }
        unsigned char command[10];
        composeReadCommand(command, number, area, blockSize);
        getMutex()->lock();
        result = service->readClient(command, sizeof command, reinterpret_cast<unsigned char*>(block.data()),
                                     static_cast<unsigned long>(blockSize));
        getMutex()->unlock();
        if (!result)
            break;
        out.append(block);
        setTaskProgress(float(number) / float(end));
    }
    service->closeClient();
    return result;
}

bool JXZelto30::readProfileBlock(QByteArray& block)
{
    block.clear();
    if (!readData(block, AreaReadExtFlash, ProfileBlockSize, ProfileBlockSize,
                  int(m_profileAddress / ProfileBlockSize)) ||
        block.size() < int(ProfileBlockSize)) {
        JX_DEBUG << " read profile from flash failed";
        block.clear();
        return false;
    }
    return true;
}

bool JXZelto30::initial()
{
    QByteArray profile;
    if (!readProfileBlock(profile))
        return false;
    QString model;
    getName(model);
    // A device that was never set up has no profile yet.
    if (model == QLatin1String("Zelto30"))
        return profile.at(0x3C7) != 0;
    return true;
}
