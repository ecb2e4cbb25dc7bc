#include "device/zelto30/jxzelto30.h"

#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <cstring>

#include "../jxflashbackup.h"
#include "../jxsparebuffer.h"
#include "device/jxdeviceservice.h"
#include "jxclock.h"
#include "jxenv.h"
#include "jxflashwriteback.h"
#include "jxlog.h"
#include "profile/jxprofiledata.h"
#include "psf/gen1/jxpsf.h"
#include "system/jxscsideviceservice.h"

namespace {

const int kEraseDataSize = 512;
const int kCommandLength = 10;
const qint64 kReserveLimit = 16 * 1024 * 1024;
const int kIntegrityMarkOffset = 0x5000;
const quint32 kUntrustedImageMark = 0x77A0B2C3;
const int kModelZelto30SetUpOffset = 0x3C7;
// Within the profile block: zero while the device still shows its first-use page.
const int kFirstUsePageOffset = 0x4AA;
// From here to the end of the flash nothing of the data store lives; a rewrite erases it.
const int kUnusedTailStart = 0xFA000;

// Whole years from a valid birthday to today; a 29 February birthday falls on 28 February in a common year.
int ageOn(const QDate& today, const QDate& birthday)
{
    QDate thisYear(today.year(), birthday.month(), birthday.day());
    if (!thisYear.isValid())
        thisYear = QDate(today.year(), birthday.month(), birthday.day() - 1);
    return today.year() - birthday.year() - (today < thisYear ? 1 : 0);
}

// The first offset at which two byte arrays differ, or -1.
int firstDifference(const QByteArray& a, const QByteArray& b)
{
    const int common = qMin(a.size(), b.size());
    if (std::memcmp(a.constData(), b.constData(), size_t(common)) == 0)
        return a.size() == b.size() ? -1 : common;
    for (int i = 0; i < common; ++i)
        if (a.at(i) != b.at(i))
            return i;
    return a.size() == b.size() ? -1 : common;
}

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

JXSpareBuffer& spareFlashRead()
{
    // Never destroyed: a client that outlives the other statics still hands its buffer back.
    static JXSpareBuffer* spare = new JXSpareBuffer;
    return *spare;
}

} // namespace

JXZelto30::JXZelto30(QObject* parent) : JXClient(parent), m_flashHeaderRecord(FlashHeaderRecordSize, '\0')
{
    m_lang = QStringLiteral("eng");
}

JXZelto30::~JXZelto30()
{
    // A running write-back uses the image and the root.
    stopThread();
    delete m_profile;
    dropPSF();
    // The flash as read is the buffer the next client reads into; the image may share it.
    m_image.clear();
    spareFlashRead().give(m_imageOnDevice);
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
    // One allocation for a whole flash read, not one per block; a huge count is left to grow as blocks arrive.
    const qint64 expected = out.size() + (end - firstBlock) * blockSize;
    if (expected <= kReserveLimit)
        out.reserve(int(expected));
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
        out.append(block.constData(), blockSize);
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
    // A device that was never set up has a zero where its profile keeps a set value.
    const int offset = setUpOffset(model);
    return offset < 0 || profile.at(offset) != 0;
}

int JXZelto30::setUpOffset(const QString& model) const
{
    return model == QLatin1String("Zelto30") ? kModelZelto30SetUpOffset : -1;
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

JXZelto30::FirmwareStage JXZelto30::firmwareStage()
{
    QString total;
    getTotal(total);
    const int version = total.mid(1).toInt();
    QString model;
    getName(model);
    if (model == QLatin1String("Zelto20"))
        return version > 7 ? FirmwareStage::Later : FirmwareStage::Early;
    if (model == QLatin1String("Hemlar35"))
        return version > 2 ? FirmwareStage::Later : FirmwareStage::Early;
    return FirmwareStage::Other;
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
    using Def = flash_header_def;
    static const struct
    {
        int word;
        quint32 value;
    } layout[] = {
        {Def::HeaderAreaEnd, 0x6000},         {Def::DistHeaderEnd, 0x7000},       {Def::POIAreaStart, 0x6154},
        {Def::POITableStart, 0x6170},         {Def::POIAreaEnd, 0x6D00},          {Def::POITableSize, 0xB90},
        {Def::WorkoutAreaStart, 0x6D00},      {Def::WorkoutTableStart, 0x6D10},   {Def::WorkoutAreaEnd, 0x7F78},
        {Def::WorkoutTableSize, 0x1268},      {Def::RouteAreaStart, 0x7F78},      {Def::RouteTableStart, 0x8000},
        {Def::RouteAreaEnd, 0x101CC},         {Def::RouteTableSize, 0x81CC},      {Def::LapAreaStart, 0x11000},
        {Def::LapAreaEnd, 0x21000},           {Def::LapAreaSize, 0x10000},        {Def::IntervalAreaStart, 0x21000},
        {Def::IntervalAreaEnd, 0x23000},      {Def::IntervalAreaSize, 0x2000},    {Def::WorkoutLogAreaStart, 0x23000},
        {Def::WorkoutLogTableStart, 0x23010}, {Def::WorkoutLogAreaEnd, 0x2A000},  {Def::WorkoutLogTableSize, 0x6FF0},
        {Def::TrackAreaStart, 0x2A000},       {Def::TrackTableStart, 0x2A024},    {Def::TrackAreaEnd, 0xA8000},
        {Def::TrackTableSize, 0x7DFDC},       {Def::SensorLogAreaStart, 0xA8000}, {Def::SensorLogTableStart, 0xA8018},
        {Def::SensorLogAreaEnd, 0xF5000},     {Def::SensorLogTableSize, 0x4CFE8}, {Def::LanguageAreaStart, 0xF2000},
        {Def::LanguageTableStart, 0xF2018},   {Def::LanguageAreaEnd, 0xF8000},    {Def::LanguageTableSize, 0x5FE8},
        {Def::ImageAddress, 0x6000},
    };
    for (const auto& entry : layout)
        m_flashDef.words[entry.word] = entry.value;
}

bool JXZelto30::getInternalStorage(qint64& total, qint64& free)
{
    setFlashDef();
    // Not the client's record: it holds the pending deletes' ring resets until the write-back.
    QByteArray record(FlashHeaderRecordSize, '\0');
    if (!readNewestHeaderRecord(record.data(), FlashHeaderRecordSize))
        return false;
    total = 0;
    for (int word : {DefGroup1Size, DefGroup2Size, DefGroup3Size, DefGroup4Size, DefGroup5Size, DefGroup6Size,
                     DefGroup7Size, DefGroup8Size})
        total += m_flashDef.words[word];
    free = recordWordTotal(reinterpret_cast<const uchar*>(record.constData()));
    return true;
}

bool JXZelto30::getFlashInfo(void*, int count, QByteArray&)
{
    // Filled in place: the data-store root keeps a pointer into the record.
    return readNewestHeaderRecord(m_flashHeaderRecord.data(), count);
}

bool JXZelto30::readNewestHeaderRecord(char* record, int count)
{
    std::memset(record, 0, FlashHeaderRecordSize);
    if (m_flashDef.words[DefHeaderAreaEnd] == 0)
        setFlashDef();
    const int areaSize = int(m_flashDef.words[DefHeaderAreaEnd]);
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
        std::memcpy(record, area.constData() + newest, size_t(taken));
        return true;
    }
    JX_DEBUG << "no free slot in the flash header area";
    return true;
}

bool JXZelto30::finalizeFlashInfo(void* record, QByteArray& image)
{
    if (m_flashDef.words[DefHeaderAreaEnd] == 0)
        setFlashDef();
    const int areaSize = int(m_flashDef.words[DefHeaderAreaEnd]);
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
    if (m_flashDef.words[DefHeaderAreaEnd] == 0)
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
        const quint32 size = m_flashDef.words[entry.sizeWord];
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
    return passesIntegrity(m_image);
}

bool JXZelto30::passesIntegrity(const QByteArray& image)
{
    return isWrittenImage(image) && qFromLittleEndian<quint32>(image.constData()) != kUntrustedImageMark;
}

bool JXZelto30::isWrittenImage(const QByteArray& image)
{
    if (image.size() < kIntegrityMarkOffset + 4) {
        JX_WARNING << "an image of" << image.size() << "bytes is incomplete";
        return false;
    }
    // A blank header area: the device was erased and not written again.
    return !(qFromLittleEndian<quint32>(image.constData()) == 0xFFFFFFFF &&
             qFromLittleEndian<quint32>(image.constData() + kIntegrityMarkOffset) == 0xFFFFFFFF);
}

bool JXZelto30::holdsDataStore(const QByteArray& image)
{
    return image.size() == int(m_flashSize) && passesIntegrity(image) &&
           !JXFlashBackup::isErased(image, int(m_profileAddress), ProfileBlockSize);
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
    dropPSF();
}

void JXZelto30::dropPSF()
{
    delete m_psf;
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
    JXClock::sleepMs(JXFlashWriteBack::EraseSettleMs);
    return true;
}

void JXZelto30::formatDevice()
{
    eraseExtFlash();
}

bool JXZelto30::isWritable(qint64 size, int blockSize, const QString& source)
{
    if (blockSize < 512 || blockSize > JXSCSIDeviceService::MaxBlockSize || blockSize % 512 != 0) {
        JX_WARNING << "invalid block size" << blockSize;
        return false;
    }
    if (size <= 0 || size / blockSize + (size % blockSize ? 1 : 0) - 1 > JXSCSIDeviceService::MaxBlockNumber) {
        JX_WARNING << "cannot write" << source << "of" << size << "bytes as blocks of" << blockSize;
        return false;
    }
    return true;
}

bool JXZelto30::sendBlocks(JXSCSIDeviceService& service, unsigned char area, int blockSize, qint64 size,
                           const std::function<bool(qint64 offset, char* block, int length)>& fill)
{
    const qint64 fullBlocks = size / blockSize;
    const int remainder = int(size % blockSize);
    QByteArray block(blockSize, '\0');
    auto sendBlock = [&](int number) {
        unsigned char command[kCommandLength];
        composeWriteCommand(command, number, area, blockSize);
        getMutex()->lock();
        const bool sent =
            service.writeClient(command, sizeof command, reinterpret_cast<const unsigned char*>(block.constData()),
                                static_cast<unsigned long>(blockSize));
        getMutex()->unlock();
        return sent;
    };
    // A whole block is sent only when filled whole; less than one block is still written, as one padded block.
    bool result = true;
    for (int i = 0; i < fullBlocks && result; ++i) {
        result = fill(qint64(i) * blockSize, block.data(), blockSize) && sendBlock(i);
        if (result)
            setTaskProgress(float(i) / float(fullBlocks));
    }
    if (result && remainder > 0) {
        block.fill('\0');
        result = fill(fullBlocks * blockSize, block.data(), remainder) && sendBlock(int(fullBlocks));
    }
    return result;
}

bool JXZelto30::writeData(QString file, unsigned char area, int blockSize)
{
    JXSCSIDeviceService* service = scsiService();
    if (!service)
        return false;
    QFile source(file);
    const qint64 size = source.size();
    if (!isWritable(size, blockSize, file) || !service->openClient())
        return false;
    if (!source.open(QIODevice::ReadOnly)) {
        JX_WARNING << "can not open file:" << file;
        service->closeClient();
        return false;
    }
    const bool result = sendBlocks(*service, area, blockSize, size, [&](qint64 offset, char* block, int length) {
        return source.seek(offset) && source.read(block, length) == length;
    });
    if (!result)
        JX_WARNING << "writing" << file << "to area" << area << "failed";
    source.close();
    service->closeClient();
    return result;
}

bool JXZelto30::writeImage(const QByteArray& data, qint64 size, unsigned char area, int blockSize,
                           const QString& source)
{
    JXSCSIDeviceService* service = scsiService();
    if (!service || size > data.size() || !isWritable(size, blockSize, source) || !service->openClient())
        return false;
    const bool result = sendBlocks(*service, area, blockSize, size, [&](qint64 offset, char* block, int length) {
        std::memcpy(block, data.constData() + offset, size_t(length));
        return true;
    });
    if (!result)
        JX_WARNING << "writing" << source << "to area" << area << "failed";
    service->closeClient();
    return result;
}

bool JXZelto30::writeFlashImage(const QByteArray& image, qint64 size)
{
    // Not staged in a file: this runs after the erase, when the user's data is already in the backup, and a full
    // temporary folder must not leave the device erased.
    return writeImage(image, size, AreaWriteExtFlash, ExtFlashBlockSize, QStringLiteral("the flash image"));
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
    // The bytes just staged whole are the file's: they go to the device from memory.
    return writeImage(*data, size, area, blockSize, path);
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
    if (!loadProfile()) {
        JX_WARNING << "the profile can not be read for" << path;
        return false;
    }
    QByteArray file = JXProfileReaderXML::pathBytes(path);
    QMap<QString, QString> map = m_profile->getData();
    JXProfileReaderXML writer(nullptr);
    // The writer logs why a file could not be written.
    return writer.save(file, &map);
}

void JXZelto30::convertProfile(QMap<QString, QString> profile, HRUPPreData& record)
{
    record = HRUPPreData();
    record.sex = profile.value(QStringLiteral("User Sex")) == QLatin1String("Male") ? 1 : 0;
    record.heightMetric = profile.value(QStringLiteral("User Height.Metric")).toFloat();
    record.heightImperial = profile.value(QStringLiteral("User Height.Imperial")).toFloat();
    record.weightMetric = profile.value(QStringLiteral("User Weight.Metric")).toFloat();
    record.weightImperial = profile.value(QStringLiteral("User Weight.Imperial")).toFloat();

    const QDate birthday =
        QDate::fromString(profile.value(QStringLiteral("User Birthday")), QStringLiteral("yyyy/MM/dd"));
    record.age = birthday.isValid() ? quint8(ageOn(today(), birthday)) : 0;
}

QByteArray* JXZelto30::getExtFlash()
{
    if (m_image.isEmpty())
        loadExtFlash();
    return &m_image;
}

bool JXZelto30::loadExtFlash()
{
    setFlashDef();
    const bool read = !m_psf && _readData();
    const bool errorBefore = m_error;
    m_error = false;
    m_errorCode = 0;
    return read && !errorBefore;
}

bool JXZelto30::_readData()
{
    readPSF();
    return m_psf != nullptr;
}

void JXZelto30::readPSF()
{
    m_image.clear();
    m_imageOnDevice.clear();
    JX_DEBUG << "start read psf";
    if (m_flashDef.words[DefHeaderAreaEnd] == 0)
        setFlashDef();
    QByteArray bytes = spareFlashRead().take(int(m_flashSize));
    if (!readData(bytes, AreaReadExtFlash, int(m_flashSize), ExtFlashBlockSize, 0) ||
        bytes.size() != int(m_flashSize)) {
        JX_WARNING << "failed read flash";
        return;
    }
    JX_DEBUG << "read psf done";
    // Kept for inspection only: the image is the bytes read, whatever became of this file on a full disk.
    const QString tmpPath = JXEnv::getInstance()->getTmpFolder() + QLatin1String("/flash.tmp");
    QFile tmp(tmpPath);
    if (!tmp.open(QIODevice::WriteOnly | QIODevice::Truncate) || tmp.write(bytes) != bytes.size() || !tmp.flush())
        JX_WARNING << "can not write" << tmpPath << ":" << tmp.errorString();
    tmp.close();
    m_image = bytes;
    m_imageOnDevice = bytes;

    if (!getFlashInfo(m_flashHeaderRecord.data(), FlashHeaderRecordSize, m_image)) {
        dropPSF();
        JX_WARNING << "failed read flash header";
        return;
    }
    const int storeOffset = int(qMin<quint32>(m_flashDef.words[DefDataStoreOffset], quint32(bytes.size())));
    // A view of the bytes as read, which stay unchanged until the store is parsed: no copy of the megabyte.
    QByteArray dataStore = QByteArray::fromRawData(bytes.constData() + storeOffset, bytes.size() - storeOffset);

    loadProfile();
    if (!m_profile) {
        dropPSF();
        JX_WARNING << "load profile failed";
        return;
    }

    if (firmwareStage() == FirmwareStage::Later && m_image.at(int(m_profileAddress) + kFirstUsePageOffset) == 0) {
        dropPSF();
        JX_WARNING << " in first use page";
        return;
    }
    if (!checkIntegrity()) {
        dropPSF();
        JX_WARNING << "checkIntegrity failed";
        return;
    }

    JXPSF* root =
        JXPSFReader::getPSF(&dataStore, m_flashHeaderRecord.data(), m_flashDef, m_psfVersion, JXPSFReader::AllLists);
    dropPSF();
    m_psf = root;
    if (!m_psf)
        return;

    const QMap<QString, QString> user = m_profile->getData();
    m_psf->m_userHeight = user.value(QStringLiteral("User Height.Metric")).toFloat();
    m_psf->m_userWeight = user.value(QStringLiteral("User Weight.Metric")).toFloat();
    const QString sex = user.value(QStringLiteral("User Sex"));
    m_psf->m_userSex = sex == QLatin1String("1") ? 1 : 0;
    if (sex == QLatin1String("Male"))
        m_psf->m_userSex = 1;
    else if (sex == QLatin1String("Female"))
        m_psf->m_userSex = 0;
    m_psf->m_userMHR = user.value(QStringLiteral("User MHR")).toInt();
    const QDate birthday = QDate::fromString(user.value(QStringLiteral("User Birthday")), QStringLiteral("yyyy/MM/dd"));
    // Without a birthday the root keeps its own default age.
    if (birthday.isValid())
        m_psf->m_userAge = ageOn(today(), birthday);
    m_psf->m_userMLSS = user.value(QStringLiteral("User MLSS")).toInt();
    m_psf->setSupportBitfont(isSupportBitfont());
}

bool JXZelto30::holdImageAndProfile()
{
    if (m_image.isEmpty())
        getExtFlash();
    if (!m_profile)
        loadProfile();
    return m_profile != nullptr;
}

bool JXZelto30::saveProfile(QMap<QString, QString> profile)
{
    if (!holdImageAndProfile()) {
        JX_WARNING << "no profile to change: the device's profile block can not be read";
        return false;
    }
    m_dirtyProfile = true;
    m_profile->setData(profile);
    m_profile->save();
    return true;
}

int JXZelto30::SimualteFinalize()
{
    if (!m_psf)
        return 3;
    // Each is asked even when an earlier one removed something.
    const bool pois = m_psf->removeOverSizePois();
    const bool routes = m_psf->removeOverSizeRoutes();
    const bool workouts = m_psf->removeOverWorkouts();
    return pois || routes || workouts ? 2 : 1;
}

void JXZelto30::saveExtFlashToFile(QString path)
{
    const QByteArray* image = getExtFlash();
    if (image->isEmpty()) {
        JX_WARNING << "no image of the flash to write to" << path;
        return;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(*image) != image->size() || !file.commit())
        JX_WARNING << "can not write the flash image to" << path << ":" << file.errorString();
}

bool JXZelto30::getShareDataList(JXClientShareDataList list)
{
    shareDataListArguments() = list;
    const bool result = _getShareDataList();
    m_error = !result;
    emit getShareDataListDone(JXClientShareDataList(shareDataListArguments()));
    return result;
}

QStringList JXZelto30::flashBackups()
{
    return JXFlashBackup::timedBackups(flashBackupStem());
}

QString JXZelto30::flashBackupStem()
{
    QString model;
    getName(model);
    if (!isSafeModelName(model))
        model = QStringLiteral("Zelto30");
    return model + QLatin1String("flash-backup");
}

bool JXZelto30::saveFlashBackup()
{
    if (m_imageOnDevice.size() != int(m_flashSize)) {
        JX_CRITICAL << "no image of what the device holds to keep; the flash is not erased";
        return false;
    }
    if (!holdsDataStore(m_imageOnDevice)) {
        JX_WARNING << "the device holds no data store: nothing of it is kept, the earlier backups stay";
        return true;
    }
    if (!JXFlashBackup::keepTimedBackup(flashBackupStem(), m_imageOnDevice)) {
        JX_CRITICAL << "the flash is not erased without a backup of it";
        return false;
    }
    return true;
}

void JXZelto30::logKeptBackup()
{
    const QStringList backups = flashBackups();
    if (backups.isEmpty())
        JX_CRITICAL << "no backup of the device's data is kept";
    else
        JX_CRITICAL << "the device's data from before the erase is kept in" << backups.last();
}

bool JXZelto30::rebuildDataStore()
{
    const quint32* def = m_flashDef.words;
    const qint64 imageSize = m_image.size();
    const int storeOffset = int(qMin<quint32>(def[DefHeaderAreaEnd], quint32(imageSize)));
    // Groups 1, 2, 5, 3 and 7: their data areas, written anew from the records. Erases what of them lies in
    // [from, to) of the image, held at bytes.
    static const int areas[][2] = {{DefGroup1Data, DefGroup1Size},
                                   {DefGroup2Data, DefGroup2Size},
                                   {DefGroup5Start, DefGroup5Size},
                                   {DefGroup3Data, DefGroup3Size},
                                   {DefGroup7Data, DefGroup7Size}};
    auto eraseAreas = [&](char* bytes, qint64 from, qint64 to) {
        for (const auto& area : areas) {
            const qint64 start = def[area[0]];
            const qint64 end = start + def[area[1]];
            const qint64 first = qMax(start, from);
            const qint64 last = qMin(end, to);
            if (end <= imageSize && first < last)
                std::memset(bytes + (first - from), 0xFF, size_t(last - first));
        }
    };
    // Built in a buffer of its own, kept between write-backs: a data store that cannot be written whole leaves the
    // image and the header record as read.
    m_dataStore.resize(int(imageSize) - storeOffset);
    std::memcpy(m_dataStore.data(), m_image.constData() + storeOffset, size_t(m_dataStore.size()));
    eraseAreas(m_dataStore.data(), storeOffset, imageSize);
    SimualteFinalize(); // drops what the areas cannot hold, as the caller's preview said
    const QByteArray recordAsRead(m_flashHeaderRecord.constData(), m_flashHeaderRecord.size());
    if (!m_psf->finalize(m_dataStore)) {
        std::memcpy(m_flashHeaderRecord.data(), recordAsRead.constData(), size_t(recordAsRead.size()));
        JX_CRITICAL << "the data store can not be written back whole; the device is left as it is";
        return false;
    }
    // A new image of the header area as read and the data store as rebuilt: the one held is shared with what the
    // device holds, so changing it in place would copy the megabyte first.
    QByteArray rebuilt(storeOffset + m_dataStore.size(), Qt::Uninitialized);
    std::memcpy(rebuilt.data(), m_image.constData(), size_t(storeOffset));
    eraseAreas(rebuilt.data(), 0, storeOffset);
    std::memcpy(rebuilt.data() + storeOffset, m_dataStore.constData(), size_t(m_dataStore.size()));
    m_image = std::move(rebuilt);
    cleanUnusedFlashArea();
    return true;
}

bool JXZelto30::_finalize()
{
    JXFunctionTrace trace(QStringLiteral("_finalize"));
    const bool dirty = isDirty();
    if (!dirty && !isDirtyProfile())
        return true;
    if (m_flashDef.words[DefHeaderAreaEnd] == 0)
        setFlashDef();
    if (m_image.size() != int(m_flashSize)) {
        JX_CRITICAL << "no image of the flash to write back:" << m_image.size() << "bytes";
        return false;
    }
    if (dirty) {
        if (!m_psf) {
            JX_CRITICAL << "the data changed but no data store is held to write";
            return false;
        }
        if (!rebuildDataStore())
            return false;
    }
    if (specifyExtFlash())
        return false;

    if (!scsiService() || !saveFlashBackup())
        return false;
    return writeBackInPasses(dirty);
}

bool JXZelto30::writeBackInPasses(bool dirty)
{
    for (int attempt = 1; attempt <= JXFlashWriteBack::Attempts; ++attempt) {
        const WriteBackPass pass = writeBackPass(attempt, dirty);
        if (pass == WriteBackPass::Written) {
            m_imageOnDevice = m_image;
            resetDirty();
            loadProfile();
            return true;
        }
        if (pass == WriteBackPass::DeviceGone) {
            logKeptBackup();
            return false;
        }
    }
    JX_CRITICAL << "the write-back failed" << JXFlashWriteBack::Attempts << "times";
    logKeptBackup();
    return false;
}

JXZelto30::WriteBackPass JXZelto30::writeBackPass(int attempt, bool dirty)
{
    if (writeBackAttempt(dirty))
        return WriteBackPass::Written;
    // A device that went away would only be erased again, were it to come back mid-attempt.
    JXSCSIDeviceService* service = scsiService();
    if (!service || !service->openClient()) {
        JX_CRITICAL << "the device is gone after write-back attempt" << attempt;
        return WriteBackPass::DeviceGone;
    }
    service->closeClient();
    JX_WARNING << "write-back attempt" << attempt << "failed";
    return WriteBackPass::Failed;
}

bool JXZelto30::readBack(int byteCount)
{
    // resize(0) of a reserved array keeps its buffer: one megabyte for every read-back of this client.
    m_readBack.reserve(int(m_flashSize));
    m_readBack.resize(0);
    return readData(m_readBack, AreaReadExtFlash, byteCount, ExtFlashBlockSize, 0);
}

bool JXZelto30::writeBackAttempt(bool dirty)
{
    if (!eraseExtFlash())
        return false;
    const int headerAreaEnd = int(m_flashDef.words[DefHeaderAreaEnd]);
    if (dirty) {
        std::memset(m_image.data(), 0xFF, size_t(headerAreaEnd));
        std::memset(m_image.data() + kUnusedTailStart, 0xFF, size_t(m_image.size() - kUnusedTailStart));
    }
    if (m_profile) {
        const QByteArray raw = m_profile->getRawData();
        m_image.replace(int(m_profileAddress), qMin(raw.size(), int(ProfileBlockSize)),
                        raw.left(int(ProfileBlockSize)));
    }
    if (dirty)
        JXFlashWriteBack::putRewrittenMark(m_image);
    if (!writeFlashImage(m_image, m_flashSize)) {
        JX_WARNING << "failed to write the image";
        return false;
    }
    JXClock::sleepMs(JXFlashWriteBack::ReadBackSettleMs);
    if (!readBack(int(m_flashSize))) {
        JX_WARNING << "failed to read the image back";
        return false;
    }
    const int difference = firstDifference(m_readBack, m_image);
    if (difference >= 0) {
        JX_WARNING << "the image read back differs at" << difference;
        return false;
    }
    if (dirty) {
        finalizeFlashInfo(m_flashHeaderRecord.data(), m_image);
        JXFlashWriteBack::putRewrittenMark(m_image);
        if (!writeFlashImage(m_image, ExtFlashBlockSize)) {
            JX_WARNING << "failed to write the header block";
            return false;
        }
        if (!readBack(ExtFlashBlockSize) ||
            firstDifference(m_readBack, m_image.left(int(ExtFlashBlockSize))) >= 0) {
            JX_WARNING << "the header block read back differs";
            return false;
        }
    }
    return true;
}
