#include "device/jxzelto30.h"

#include <QFile>
#include <QtEndian>

#include <cstring>

#include "device/jxdeviceservice.h"
#include "jxclock.h"
#include "jxenv.h"
#include "jxlog.h"
#include "jxprofiledata.h"
#include "system/jxscsideviceservice.h"

namespace {

// The device needs this long after an erase before it takes the next command.
const qint64 kEraseSettleMs = 5000;
const int kEraseDataSize = 512;
const int kCommandLength = 10;
const int kIntegrityMarkOffset = 0x5000;
const quint32 kUntrustedImageMark = 0x77A0B2C3;
const int kModelZelto30SetUpOffset = 0x3C7;

// Free counts of groups 1-8 in a flash-header record: group 1's is 16 bits at 66, the others 32 bits at the start
// of their 12-byte entries.
quint32 recordWordTotal(const uchar* record)
{
    quint32 total = qFromLittleEndian<quint16>(record + JXZelto30::RecordGroup1Free);
    for (int k = 1; k < 8; ++k)
        total +=
            qFromLittleEndian<quint32>(record + JXZelto30::RecordGroupEntries + k * JXZelto30::RecordGroupEntrySize);
    return total;
}

void composeWriteCommand(unsigned char (&command)[10], int number, unsigned char area, int blockSize)
{
    JXSCSIDeviceService::composeReadCommand(command, number, area, blockSize);
    command[0] = 0x2A;
}

} // namespace

JXZelto30::JXZelto30(QObject* parent) : JXClient(parent), m_flashHeaderRecord(FlashHeaderRecordSize, '\0')
{
    m_lang = QStringLiteral("eng");
}

JXZelto30::~JXZelto30()
{
    delete m_profile;
    m_psf = nullptr;
}

JXSCSIDeviceService* JXZelto30::scsiService()
{
    auto* service = dynamic_cast<JXSCSIDeviceService*>(getDeviceService());
    if (!service)
        JX_WARNING << "the device has no raw-flash service";
    return service;
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
    JXSCSIDeviceService* service = scsiService();
    if (!service)
        return false;
    if (!JXSCSIDeviceService::isReadableRange(byteCount, blockSize, firstBlock))
        return false;
    if (!service->openClient())
        return false;

    QByteArray block(blockSize, '\0');
    const qint64 end = qint64(firstBlock) + byteCount / blockSize + (byteCount % blockSize ? 1 : 0);
    bool result = false;
    for (int number = firstBlock; number < end; ++number) {
        if (number > JXSCSIDeviceService::MaxBlockNumber) {
            JX_WARNING << "block" << number << "lies beyond the addressable blocks";
            result = false;
            break;
        }
        unsigned char command[kCommandLength];
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
        return profile.at(kModelZelto30SetUpOffset) != 0;
    return true;
}

bool JXZelto30::getTotal(QString& version)
{
    if (JXSCSIDeviceService* service = scsiService())
        version = service->getAPVersion();
    return true;
}

bool JXZelto30::getLaunchsec(QString& version)
{
    if (JXSCSIDeviceService* service = scsiService())
        version = service->getIAPVersion();
    return true;
}

bool JXZelto30::specifyExtFlash()
{
    return getValue(QStringLiteral("specifyextflash"), QStringLiteral("0")) != QLatin1String("0");
}

bool JXZelto30::isSupportBitfont()
{
    return getValue(QStringLiteral("bitfont"), QStringLiteral("0")) != QLatin1String("0");
}

bool JXZelto30::getUUID(QString& uuid)
{
    // A model group may pin the UUID, so that a device with a blank UUID block is still told apart.
    if (specifyExtFlash())
        m_uuid = QStringLiteral("1003");
    if (m_uuid.isEmpty()) {
        JXDeviceService* service = getDeviceService();
        if (!service || !service->readDeviceUUID(m_uuid))
            m_uuid = QString();
    }
    uuid = m_uuid;
    return !uuid.isEmpty();
}

void JXZelto30::setFlashDef()
{
    static const struct
    {
        int word;
        quint32 value;
    } layout[] = {
        {0, 0x6000},   {1, 0x7000},                                 // header areas
        {2, 0x6154},   {3, 0x6170},   {4, 0x6D00},   {5, 0xB90},    // group 1
        {6, 0x6D00},   {7, 0x6D10},   {8, 0x7F78},   {9, 0x1268},   // group 2
        {10, 0x7F78},  {11, 0x8000},  {12, 0x101CC}, {13, 0x81CC},  // group 3
        {14, 0x11000}, {15, 0x21000}, {16, 0x10000},                // group 4
        {17, 0x21000}, {18, 0x23000}, {19, 0x2000},                 // group 5
        {20, 0x23000}, {21, 0x23010}, {22, 0x2A000}, {23, 0x6FF0},  // group 6
        {24, 0x2A000}, {25, 0x2A024}, {26, 0xA8000}, {28, 0x7DFDC}, // group 7
        {30, 0xA8000}, {31, 0xA8018}, {32, 0xF5000}, {33, 0x4CFE8}, // group 8
        {38, 0xF2000}, {39, 0xF2018}, {40, 0xF8000}, {41, 0x5FE8},  // language area
        {42, 0x6000},                                               // data store
    };
    for (const auto& entry : layout)
        m_flashDef[entry.word] = entry.value;
}

bool JXZelto30::getInternalStorage(qint64& total, qint64& free)
{
    setFlashDef();
    if (!getFlashInfo(m_flashHeaderRecord.data(), FlashHeaderRecordSize, m_image))
        return false;
    total = 0;
    for (int word : {DefGroup1Size, DefGroup2Size, DefGroup3Size, DefGroup4Size, DefGroup5Size, DefGroup6Size,
                     DefGroup7Size, DefGroup8Size})
        total += m_flashDef[word];
    free = recordWordTotal(reinterpret_cast<const uchar*>(m_flashHeaderRecord.constData()));
    return true;
}

bool JXZelto30::getFlashInfo(void*, int count, QByteArray&)
{
    m_flashHeaderRecord.fill('\0', FlashHeaderRecordSize);
    if (m_flashDef[DefHeaderAreaEnd] == 0)
        setFlashDef();
    const int areaSize = int(m_flashDef[DefHeaderAreaEnd]);
    QByteArray area;
    if (!readData(area, AreaReadExtFlash, areaSize, ExtFlashBlockSize, 0) || area.size() < areaSize) {
        JX_WARNING << "cannot read the flash header area";
        return false;
    }
    const int taken = qBound(0, count, int(FlashHeaderRecordSize));
    for (int offset = 0; offset + FlashHeaderSlotSize <= areaSize; offset += FlashHeaderSlotSize) {
        if (qFromLittleEndian<quint16>(area.constData() + offset) != 0xFFFF)
            continue;
        // The slot before the first free one is the newest; a free first slot means the ring wrapped.
        const int newest = offset > 0 ? offset - FlashHeaderSlotSize : areaSize - FlashHeaderSlotSize;
        std::memcpy(m_flashHeaderRecord.data(), area.constData() + newest, size_t(taken));
        return true;
    }
    JX_DEBUG << "no free slot in the flash header area";
    return true;
}

bool JXZelto30::finalizeFlashInfo(void* record, QByteArray& image)
{
    if (m_flashDef[DefHeaderAreaEnd] == 0)
        setFlashDef();
    const int areaSize = int(m_flashDef[DefHeaderAreaEnd]);
    if (!record || image.size() < areaSize) {
        JX_WARNING << "the image of" << image.size() << "bytes holds no flash header area";
        return false;
    }
    auto* bytes = static_cast<uchar*>(record);
    std::memset(image.data(), 0xFF, size_t(areaSize));
    qToLittleEndian<quint16>(RecordMagic, bytes + RecordMagicOffset);
    std::memset(bytes + RecordFillStart, 0xFF, RecordFillEnd - RecordFillStart);
    qToLittleEndian<quint32>(recordWordTotal(bytes), bytes + RecordWordTotal);
    quint32 sum = 0;
    for (int i = RecordGroup1Free; i < RecordChecksum; ++i)
        sum += bytes[i];
    qToLittleEndian<quint32>(sum << 16, bytes + RecordChecksum);
    std::memcpy(image.data(), bytes, FlashHeaderRecordSize);
    return true;
}

bool JXZelto30::cleanUnusedFlashArea()
{
    if (m_flashDef[DefHeaderAreaEnd] == 0)
        setFlashDef();
    // Group number and its data-size word; the group's entry holds its free count and, after it, its data start.
    static const struct
    {
        int group;
        int sizeWord;
    } groups[] = {{4, DefGroup4Size}, {8, DefGroup8Size}, {7, DefGroup7Size}, {6, DefGroup6Size}};
    const auto* record = reinterpret_cast<const uchar*>(m_flashHeaderRecord.constData());
    bool inside = true;
    for (const auto& entry : groups) {
        const int freeOffset = RecordGroupEntries + (entry.group - 1) * RecordGroupEntrySize;
        const quint32 size = m_flashDef[entry.sizeWord];
        if (qFromLittleEndian<quint32>(record + freeOffset) != size)
            continue;
        const quint32 address = qFromLittleEndian<quint32>(record + freeOffset + 4);
        if (qint64(address) + size > m_image.size()) {
            JX_WARNING << "group" << entry.group << "lies outside the image at" << address;
            inside = false;
            continue;
        }
        std::memset(m_image.data() + address, 0xFF, size);
    }
    return inside;
}

bool JXZelto30::checkIntegrity()
{
    if (m_image.size() < kIntegrityMarkOffset + 4) {
        JX_WARNING << "an image of" << m_image.size() << "bytes is incomplete";
        return false;
    }
    const quint32 first = qFromLittleEndian<quint32>(m_image.constData());
    if (first == kUntrustedImageMark)
        return false;
    // A blank header area: the device was erased and not written again.
    return !(first == 0xFFFFFFFF &&
             qFromLittleEndian<quint32>(m_image.constData() + kIntegrityMarkOffset) == 0xFFFFFFFF);
}

bool JXZelto30::isDirty()
{
    return m_dirty;
}

bool JXZelto30::isDirtyProfile()
{
    return m_dirtyProfile;
}

void JXZelto30::resetDirty()
{
    m_dirty = false;
    m_dirtyProfile = false;
}

void JXZelto30::deletePSF()
{
    m_psf = nullptr;
}

bool JXZelto30::_eraseExtFlash()
{
    JXSCSIDeviceService* service = scsiService();
    if (!service || !service->openClient())
        return false;
    unsigned char command[kCommandLength];
    // One 512-byte block of zeros to the erase area clears the whole external flash.
    composeWriteCommand(command, 0, AreaEraseExtFlash, kEraseDataSize);
    const QByteArray zeros(kEraseDataSize, '\0');
    const bool result =
        service->writeClient(command, sizeof command, reinterpret_cast<const unsigned char*>(zeros.constData()),
                             static_cast<unsigned long>(zeros.size()));
    if (!result)
        JX_WARNING << "erasing the external flash failed";
    service->closeClient();
    return result;
}

bool JXZelto30::eraseExtFlash()
{
    if (!_eraseExtFlash())
        return false;
    JXClock::sleepMs(kEraseSettleMs);
    return true;
}

void JXZelto30::formatDevice()
{
    eraseExtFlash();
}

bool JXZelto30::writeData(QString file, unsigned char area, int blockSize)
{
    JXSCSIDeviceService* service = scsiService();
    if (!service)
        return false;
    if (blockSize < 512 || blockSize > JXSCSIDeviceService::MaxBlockSize || blockSize % 512 != 0) {
        JX_WARNING << "invalid block size" << blockSize;
        return false;
    }
    QFile source(file);
    const qint64 size = source.size();
    const qint64 fullBlocks = size / blockSize;
    const int remainder = int(size % blockSize);
    if (size <= 0 || fullBlocks + (remainder ? 1 : 0) - 1 > JXSCSIDeviceService::MaxBlockNumber) {
        JX_WARNING << "cannot write" << file << "of" << size << "bytes as blocks of" << blockSize;
        return false;
    }
    if (!service->openClient())
        return false;
    if (!source.open(QIODevice::ReadOnly)) {
        JX_WARNING << "can not open file:" << file;
        service->closeClient();
        return false;
    }

    QByteArray block(blockSize, '\0');
    auto sendBlock = [&](int number) {
        unsigned char command[kCommandLength];
        composeWriteCommand(command, number, area, blockSize);
        getMutex()->lock();
        const bool sent =
            service->writeClient(command, sizeof command, reinterpret_cast<const unsigned char*>(block.constData()),
                                 static_cast<unsigned long>(blockSize));
        getMutex()->unlock();
        return sent;
    };
    // A file shorter than one block is still written, as one padded block.
    bool result = true;
    for (int i = 0; i < fullBlocks && result; ++i) {
        block.fill('\0');
        result =
            source.seek(qint64(i) * blockSize) && source.read(block.data(), blockSize) == blockSize && sendBlock(i);
        if (result)
            setTaskProgress(float(i) / float(fullBlocks));
    }
    if (result && remainder > 0) {
        block.fill('\0');
        result = source.seek(fullBlocks * blockSize) && source.read(block.data(), remainder) == remainder &&
                 sendBlock(int(fullBlocks));
    }
    if (!result)
        JX_WARNING << "writing" << file << "to area" << area << "failed";
    source.close();
    service->closeClient();
    return result;
}

bool JXZelto30::writeData(QByteArray* data, unsigned char area, int blockSize, qint64 size)
{
    if (!data || size < 0 || size > data->size()) {
        JX_WARNING << "cannot write" << size << "bytes of" << (data ? data->size() : 0);
        return false;
    }
    if (size == 0) {
        // The whole flash; what the caller did not fill is erased flash, never stray memory.
        if (data->size() < int(m_flashSize))
            data->append(QByteArray(int(m_flashSize) - data->size(), char(0xFF)));
        else
            data->truncate(int(m_flashSize));
        size = data->size();
    }
    const QString path = JXEnv::getInstance()->getTmpFolder() + QLatin1String("/Zelto30flash.tmp");
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        JX_WARNING << "can not create" << path;
        return false;
    }
    const bool whole = file.write(data->constData(), size) == size && file.flush();
    file.close();
    // A full disk would leave a cut file: the device would get part of the data as if it were all of it.
    if (!whole || file.error() != QFileDevice::NoError) {
        JX_WARNING << "can not write" << size << "bytes to" << path << ":" << file.errorString();
        return false;
    }
    return writeData(path, area, blockSize);
}

bool JXZelto30::reset()
{
    QByteArray zeros(ResetBlockSize, '\0');
    return writeData(&zeros, AreaReset, ResetBlockSize, zeros.size());
}

bool JXZelto30::resetWithIAPFlag()
{
    QByteArray zeros(ResetBlockSize, '\0');
    return writeData(&zeros, AreaResetIntoIAP, ResetBlockSize, zeros.size());
}

bool JXZelto30::loadProfile()
{
    delete m_profile;
    m_profile = nullptr;
    QByteArray block;
    if (!readProfileBlock(block))
        return false;

    QString model;
    getName(model);
    ProfileFormat::type format = ProfileFormat::PSF_Obsolete;
    if (model == QLatin1String("Hemlar30"))
        format = ProfileFormat::PSF_Obsolete_Hemlar30;
    else if (model == QLatin1String("Zelto30") || model == QLatin1String("Zelto35"))
        format = ProfileFormat::PSF_Obsolete;
    else if (block.at(2) == 1 && block.at(3) == 0 && uchar(block.at(4)) <= 2)
        format = ProfileFormat::PSF_1_0_0;
    m_profile = new JXProfileData(block, format, nullptr);
    return m_profile->readAll();
}

bool JXZelto30::prepareUploadProfile(QString path)
{
    const bool loaded = loadProfile();
    if (loaded) {
        QByteArray file = path.toLocal8Bit();
        QMap<QString, QString> map = m_profile->getData();
        JXProfileReaderXML writer(nullptr);
        if (!writer.save(file, &map))
            JX_WARNING << "can not write the profile to" << path;
    }
    return loaded;
}

void JXZelto30::convertProfile(QMap<QString, QString> profile, HRUPPreData& record)
{
    record = HRUPPreData();
    record.sex = profile.value(QStringLiteral("User Sex")) == QLatin1String("Male") ? 1 : 0;
    record.heightMetric = profile.value(QStringLiteral("User Height.Metric")).toFloat();
    record.heightImperial = profile.value(QStringLiteral("User Height.Imperial")).toFloat();
    record.weightMetric = profile.value(QStringLiteral("User Weight.Metric")).toFloat();
    record.weightImperial = profile.value(QStringLiteral("User Weight.Imperial")).toFloat();

    const QDate now = today();
    const QDate birthday =
        QDate::fromString(profile.value(QStringLiteral("User Birthday")), QStringLiteral("yyyy/MM/dd"));
    int age = now.year() - 1 - birthday.year();
    // This year's birthday; a 29 February birthday falls on 28 February in a common year.
    QDate thisYear(now.year(), birthday.month(), birthday.day());
    if (!thisYear.isValid() && birthday.isValid())
        thisYear = QDate(now.year(), birthday.month(), birthday.day() - 1);
    if (thisYear.isValid() && thisYear <= now)
        ++age;
    record.age = birthday.isValid() ? quint8(age) : 0;
}
