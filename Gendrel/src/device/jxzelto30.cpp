#include "device/jxzelto30.h"

#include "device/jxdeviceservice.h"
#include "jxlog.h"
#include "jxprofiledata.h"
#include "system/jxscsideviceservice.h"

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
    if (!registryModelName(model))
        model.clear();
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
    if (!JXSCSIDeviceService::isReadableRange(byteCount, blockSize, firstBlock))
        return false;
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
        JXSCSIDeviceService::composeReadCommand(command, number, area, blockSize);
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
