#include "device/zelto30/jxhemlar30.h"

#include <QMutex>
#include <QMutexLocker>
#include <QWaitCondition>

#include "jxclock.h"
#include "jxflashwriteback.h"
#include "jxlog.h"
#include "profile/jxprofiledata.h"
#include "psf/gen1/jxpsf.h"

namespace {

// Within the profile block: non-zero once the device's user has set it up.
const int kHemlar30SetUpOffset = 0x376;
const int kHemlar35SetUpOffset = 0x4AA;

const qint64 kDeleteAllPauseMs = 1000;

// The clock block: seven date bytes at the start of one zeroed 512-byte block.
const unsigned char kAreaClock = 0x06;
const int kClockBlockSize = 512;
const int kClockCommandBlockSize = 2048;
enum ClockByte { ClockSecond = 0, ClockMinute, ClockHour, ClockDay, ClockMonth, ClockYearLow, ClockYearHigh };

const char* const kLanguageKey = "User Lang";

} // namespace

JXHemlar30::JXHemlar30() = default;

JXHemlar30::~JXHemlar30() = default;

void JXHemlar30::setFlashDef()
{
    using Def = flash_header_def;
    static const struct
    {
        int word;
        quint32 value;
    } layout[] = {
        {Def::HeaderAreaEnd, 0x6000},         {Def::DistHeaderEnd, 0x7000},       {Def::POIAreaStart, 0x6154},
        {Def::POITableStart, 0x6170},         {Def::POIAreaEnd, 0x6D00},          {Def::POITableSize, 0xB90},
        {Def::WorkoutAreaStart, 0x6D00},      {Def::WorkoutTableStart, 0x6D10},   {Def::WorkoutAreaEnd, 0x8E94},
        {Def::WorkoutTableSize, 0x2184},      {Def::RouteAreaStart, 0x8E94},      {Def::RouteTableStart, 0x8EAC},
        {Def::RouteAreaEnd, 0x10FDC},         {Def::RouteTableSize, 0x8130},      {Def::LapAreaStart, 0x11000},
        {Def::LapAreaEnd, 0x2D000},           {Def::LapAreaSize, 0x1C000},        {Def::IntervalAreaStart, 0x2D000},
        {Def::IntervalAreaEnd, 0x2F000},      {Def::IntervalAreaSize, 0x2000},    {Def::WorkoutLogAreaStart, 0x2F000},
        {Def::WorkoutLogTableStart, 0x2F010}, {Def::WorkoutLogAreaEnd, 0x36000},  {Def::WorkoutLogTableSize, 0x6FF0},
        {Def::TrackAreaStart, 0x36000},       {Def::TrackTableStart, 0x36018},    {Def::TrackAreaEnd, 0x7C000},
        {Def::TrackTableSize, 0x45FE8},       {Def::SensorLogAreaStart, 0xAE000}, {Def::SensorLogTableStart, 0xAE018},
        {Def::SensorLogAreaEnd, 0xF2000},     {Def::SensorLogTableSize, 0x43FE8}, {Def::LanguageAreaStart, 0xF2000},
        {Def::LanguageTableStart, 0xF2018},   {Def::LanguageAreaEnd, 0xF8000},    {Def::LanguageTableSize, 0x5FE8},
        {Def::ImageAddress, 0x6000},
    };
    for (const auto& entry : layout)
        m_flashDef.words[entry.word] = entry.value;
}

int JXHemlar30::setUpOffset(const QString& model) const
{
    if (model == QLatin1String("Hemlar30"))
        return kHemlar30SetUpOffset;
    if (model == QLatin1String("Hemlar35") || model == QLatin1String("Zelto20"))
        return kHemlar35SetUpOffset;
    return -1;
}

int JXHemlar30::getMainActiveType()
{
    return 1;
}

bool JXHemlar30::getAP(QString& version)
{
    version.clear();
    return false;
}

bool JXHemlar30::checkIntegrity()
{
    return passesIntegrity(*getExtFlash());
}

bool JXHemlar30::passesIntegrity(const QByteArray& image)
{
    // These models know no mark of an untrusted image.
    return isWrittenImage(image);
}

bool JXHemlar30::setShareData(QString path)
{
    JX_WARNING << "this model takes no shared data: the device is cleared instead of importing" << path;
    return deleteAll();
}

bool JXHemlar30::deleteTracks(QVector<int> ids)
{
    // Deleting tracks on these models always ends in a cleared device: routes and workouts go with them.
    JXZelto30::deleteTracks(ids);
    JX_WARNING << "deleting tracks clears the whole device on this model";
    return deleteAll();
}

bool JXHemlar30::deleteAll()
{
    JXFunctionTrace trace(QStringLiteral("deleteAll"));
    // The profile block comes from the image as read; taken after the erase it would be an erased block.
    QByteArray* image = getExtFlash();
    if (image->size() != int(m_flashSize) || !m_psf) {
        JX_WARNING << "nothing is erased: no image of the flash or no data store is held (" << image->size()
                   << "bytes)";
        m_error = true;
        return false;
    }
    const QByteArray profileBlock = image->mid(int(m_profileAddress), int(ProfileBlockSize));
    if (!saveFlashBackup()) {
        m_error = true;
        return false;
    }

    // Writing over flash that was not erased would not give the image; the device keeps its data then.
    if (!eraseExtFlash()) {
        JX_WARNING << "the flash could not be erased; nothing was written";
        m_error = true;
        return false;
    }
    {
        // Nothing signals this: it is a pause of the full length for the device to settle.
        QMutex mutex;
        QWaitCondition condition;
        QMutexLocker locker(&mutex);
        JXClock::waitMs(condition, mutex, kDeleteAllPauseMs);
    }

    image->fill(char(0xFF));
    image->replace(int(m_profileAddress), profileBlock.size(), profileBlock);
    m_psf->initFlashHeader(m_flashHeaderRecord.data());
    finalizeFlashInfo(m_flashHeaderRecord.data(), *image);
    JXFlashWriteBack::putRewrittenMark(*image);

    bool result = writeFlashImage(*image, m_flashSize);
    if (result) {
        result = readBack(int(m_flashSize)) && m_readBack == *image;
        if (!result)
            JX_WARNING << "the cleared image read back differs from what was written";
    } else {
        JX_WARNING << "failed to write the cleared image";
    }
    if (result) {
        m_imageOnDevice = *image;
        resetDirty();
    } else {
        // The device may be erased: the next write-back must put the cleared image, with the profile, on it.
        m_dirty = true;
        m_dirtyProfile = true;
    }
    m_error = !result;
    return result;
}

bool JXHemlar30::_finalize()
{
    JXFunctionTrace trace(QStringLiteral("_finalize"));
    if (!isDirty() && !isDirtyProfile())
        return true;
    if (specifyExtFlash())
        return false;
    // The whole flash is erased and written from the image: without one read from the device, the user's data
    // would be replaced by erased bytes.
    if (m_image.size() != int(m_flashSize)) {
        JX_CRITICAL << "no image of the flash to write back:" << m_image.size() << "bytes";
        return false;
    }
    if (!saveFlashBackup())
        return false;
    return writeBackInPasses(false);
}

JXZelto30::WriteBackPass JXHemlar30::writeBackPass(int attempt, bool)
{
    // A device that went away fails each pass at its erase.
    if (!eraseExtFlash()) {
        JX_WARNING << "write-back attempt" << attempt << ": the erase failed";
        return WriteBackPass::Failed;
    }
    if (m_profile) {
        const QByteArray raw = m_profile->getRawData().left(int(ProfileBlockSize));
        m_image.replace(int(m_profileAddress), raw.size(), raw);
    }
    if (!writeFlashImage(m_image, m_flashSize)) {
        JX_WARNING << "write-back attempt" << attempt << ": failed to write the image";
        return WriteBackPass::Failed;
    }
    JXClock::sleepMs(JXFlashWriteBack::ReadBackSettleMs);
    if (!readBack(int(m_flashSize)) || m_readBack != m_image) {
        JX_WARNING << "write-back attempt" << attempt << ": the image read back differs";
        return WriteBackPass::Failed;
    }
    return WriteBackPass::Written;
}

bool JXHemlar30::getLanguageOnDevice(QStringList& codes)
{
    JXFunctionTrace trace(QStringLiteral("getLanguageOnDevice"));
    if (!m_profile)
        loadProfile();
    if (!m_profile)
        return false;
    codes.append(m_profile->value(QLatin1String(kLanguageKey)));
    return !codes.first().isEmpty();
}

bool JXHemlar30::setDefLanguage(QStringList* codes, int)
{
    JXFunctionTrace trace(QStringLiteral("setDefLanguage"));
    if (!codes || codes->isEmpty())
        return false;
    if (!holdImageAndProfile()) {
        JX_WARNING << "no profile to keep the language in: the device's profile block can not be read";
        return false;
    }
    QMap<QString, QString> map = m_profile->getData();
    map.insert(QLatin1String(kLanguageKey), codes->first());
    m_profile->setData(map);
    if (!m_profile->save()) {
        JX_WARNING << "the language could not be put into the profile";
        return false;
    }
    m_dirtyProfile = true;
    return true;
}

bool JXHemlar30::setLocaleTimeFromePC()
{
    const QDateTime now = JXClock::localNow();
    const QDate date = now.date();
    const QTime time = now.time();
    QByteArray block(kClockBlockSize, '\0');
    block[ClockSecond] = char(time.second());
    block[ClockMinute] = char(time.minute());
    block[ClockHour] = char(time.hour());
    block[ClockDay] = char(date.day());
    block[ClockMonth] = char(date.month());
    block[ClockYearLow] = char(date.year() & 0xFF);
    block[ClockYearHigh] = char((date.year() >> 8) & 0xFF);
    return writeData(&block, kAreaClock, kClockCommandBlockSize, block.size());
}
