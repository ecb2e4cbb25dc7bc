#include "device/jxpsfdevice.h"

#include "jxlog.h"
#include "system/jxscsideviceservice.h"

JXPSFDevice::JXPSFDevice() : m_image(FlashSize, char(0xFF)) {}

JXPSFDevice::~JXPSFDevice() = default;

bool JXPSFDevice::getName(QString& model)
{
    if (!registryModelName(model))
        model.clear();
    return true;
}

// The data store these operations read is not part of this build yet.
bool JXPSFDevice::prepareUploadData(QString&, bool)
{
    return false;
}

QStringList JXPSFDevice::saveDeviceRawData(QString)
{
    return QStringList();
}

bool JXPSFDevice::readFlashBlocks(char* dest, unsigned char area, int length, int blockSize, int startBlock)
{
    auto* service = dynamic_cast<JXSCSIDeviceService*>(getDeviceService());
    if (!service) {
        JX_WARNING << "the device has no raw-flash service to read from";
        return false;
    }
    if (!dest) {
        JX_WARNING << "no buffer to read the blocks into";
        return false;
    }
    if (!JXSCSIDeviceService::isReadableRange(length, blockSize, startBlock))
        return false;
    if (!service->openClient())
        return false;
    const int end = startBlock + length / blockSize + (length % blockSize ? 1 : 0);
    bool result = false;
    for (int number = startBlock; number < end; ++number) {
        if (number > JXSCSIDeviceService::MaxBlockNumber) {
            JX_WARNING << "block" << number << "lies beyond the addressable blocks";
            result = false;
            break;
        }
        unsigned char command[10];
        JXSCSIDeviceService::composeReadCommand(command, number, area, blockSize);
        result = service->readClient(command, sizeof command, reinterpret_cast<unsigned char*>(dest),
                                     static_cast<unsigned long>(blockSize));
        if (!result)
            break;
        dest += blockSize;
    }
    service->closeClient();
    return result;
}

bool JXPSFDevice::loadPSFFrame(int offset, quint32 size)
{
    if (offset < 0 || size == 0 || quint64(offset) + size > quint64(m_image.size())) {
        JX_WARNING << "frame" << offset << "+" << size << "lies outside the flash";
        return false;
    }
    int first = offset / int(PageSize);
    int last = int((quint64(offset) + size - 1) / PageSize);
    if (m_loadedPages.contains(first))
        ++first;
    if (m_loadedPages.contains(last))
        --last;
    if (last < first)
        return true;
    if (!readFlashBlocks(m_image.data() + first * int(PageSize), AreaReadExtFlash,
                         (last - first) * int(PageSize) + int(PageSize), int(PageSize), first))
        return false;
    m_loadedPages.insert(first);
    m_loadedPages.insert(last);
    return true;
}

bool JXPSFDevice::loadProfileFrame()
{
    m_profileLoaded = loadPSFFrame(int(ProfileAddress - ProfileSize), 2 * ProfileSize);
    return m_profileLoaded;
}

bool JXPSFDevice::initial()
{
    if (!loadProfileFrame())
        return false;
    QString model;
    getName(model);
    // A device that was never set up has a zero where its profile keeps a set value.
    if (model == QLatin1String("Zelto40") && m_image.at(0x1F84AA) == 0)
        return false;
    return true;
}
