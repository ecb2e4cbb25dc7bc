#include "device/psfdevice/jxpsfdevice.h"

#include <QFile>
#include <QMutexLocker>
#include <QtEndian>

#include <cstring>

#include "../jxflashbackup.h"
#include "../jxsparebuffer.h"
#include "jxclock.h"
#include "jxenv.h"
#include "jxlog.h"
#include "profile/jxprofiledata.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsf_1_5.h"
#include "system/jxscsideviceservice.h"

namespace {

const unsigned char kReadOpcode = 0x28;
const unsigned char kWriteOpcode = 0x2A;
const int kEraseBlockBytes = 512;
const unsigned int kFlashWaitMs = 60000;
const unsigned int kFlashPollMs = 10000;
// A byte of the profile page that a set-up device never leaves at zero.
const int kProfileSetUpByte = 0x1F84AA;
// Past this size the oldest dumps of the backup make room for the next ones.
const qint64 kBackupLimit = 0x1000000;
const quint16 kHeaderMark = 0xAA55;

JXSpareBuffer& spareImage()
{
    // Never destroyed: a client that outlives the other statics still hands its image back.
    static JXSpareBuffer* spare = new JXSpareBuffer;
    return *spare;
}

QByteArray erasedImage(int size)
{
    QByteArray image = spareImage().take(size);
    image.fill(char(0xFF), size);
    return image;
}

} // namespace

JXPSFDevice::JXPSFDevice() : m_flashInfo(new JXExtFlashInfo_2M(this)), m_image(erasedImage(FlashSize)) {}

JXPSFDevice::~JXPSFDevice()
{
    // An action still running uses the image and the store.
    stopThread();
    m_psf.reset();
    m_flashInfo.reset();
    spareImage().give(m_image);
    releaseLanguageBuffer();
}

bool JXPSFDevice::getName(QString& model)
{
    if (!registryModelName(model))
        model.clear();
    return true;
}

bool JXPSFDevice::getUUID(QString& uuid)
{
    if (m_uuid.isEmpty()) {
        JXDeviceService* service = getDeviceService();
        if (!service || !service->readDeviceUUID(m_uuid)) {
            m_uuid = QString();
            uuid = m_uuid;
            return false;
        }
    }
    uuid = m_uuid;
    return true;
}

bool JXPSFDevice::getInternalStorage(qint64& total, qint64& free)
{
    total = m_flashInfo->getTotalStorageSize();
    free = m_flashInfo->getFreeStorageSize();
    return true;
}

bool JXPSFDevice::getTotal(QString& version)
{
    if (auto* service = dynamic_cast<JXSCSIDeviceService*>(getDeviceService()))
        version = service->getAPVersion();
    return true;
}

bool JXPSFDevice::getLaunchsec(QString& version)
{
    if (auto* service = dynamic_cast<JXSCSIDeviceService*>(getDeviceService()))
        version = service->getIAPVersion();
    return true;
}

bool JXPSFDevice::getAP(QString& version)
{
    version.clear();
    return true;
}

bool JXPSFDevice::isSupportMassStorage()
{
    return true;
}

bool JXPSFDevice::isSupportBitfont()
{
    return getValue(QStringLiteral("bitfont"), QStringLiteral("0")) != QLatin1String("0");
}

bool JXPSFDevice::saveProfile(QMap<QString, QString> profile)
{
    if (!m_psf) {
        JX_WARNING << "no data store to take the profile";
        return false;
    }
    return m_psf->setProfile(profile);
}

bool JXPSFDevice::prepareUploadProfile(QString path)
{
    QMap<QString, QString> profile;
    if (!m_psf || !m_psf->getProfile(profile)) {
        JX_WARNING << "the profile can not be read";
        return false;
    }
    QByteArray file = JXProfileReaderXML::pathBytes(path);
    JXProfileReaderXML writer;
    // The writer logs why a file could not be written.
    const bool saved = writer.save(file, &profile);
    const QDate birthday =
        QDate::fromString(profile.value(QStringLiteral("User Birthday")), QStringLiteral("yyyy/MM/dd"));
    const QDate today = m_today.isNull() ? QDate::currentDate() : m_today;
    if (birthday.isValid())
        m_userAge = today.year() - birthday.year() - 1;
    else
        JX_WARNING << "no birthday in the profile: the age stays" << m_userAge;
    m_userSex = profile.value(QStringLiteral("User Sex"));
    return saved;
}

void JXPSFDevice::formatDevice()
{
    eraseFlash();
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

bool JXPSFDevice::waitFlash(unsigned int totalMs, unsigned int intervalMs)
{
    auto* service = dynamic_cast<JXSCSIDeviceService*>(getDeviceService());
    if (!service || intervalMs == 0)
        return false;
    unsigned int tries = totalMs / intervalMs;
    bool ready = false;
    QByteArray status(int(PageSize), '\0');
    while (!ready && tries > 0) {
        --tries;
        {
            QMutexLocker locker(&m_waitMutex);
            JXClock::waitMs(m_waitCondition, m_waitMutex, intervalMs);
        }
        unsigned char command[10];
        JXSCSIDeviceService::composeReadCommand(command, 0, AreaFlashStatus, int(PageSize));
        const bool answered =
            service->readClient(command, sizeof command, reinterpret_cast<unsigned char*>(status.data()), PageSize);
        JX_DEBUG << "check flash ready return value=" << int(quint8(status.at(0)));
        ready = answered && status.at(0) == 0;
    }
    return ready;
}

bool JXPSFDevice::eraseFlash()
{
    auto* service = dynamic_cast<JXSCSIDeviceService*>(getDeviceService());
    if (!service) {
        JX_WARNING << "the device has no raw-flash service to erase";
        return false;
    }
    if (!service->openClient()) {
        JX_CRITICAL << "can not open the device to erase its flash";
        return false;
    }
    const unsigned char command[10] = {kWriteOpcode, 0, 0, 0, 0, 0, AreaEraseExtFlash, 0, 1, 0};
    const QByteArray zeros(kEraseBlockBytes, '\0');
    bool result = service->writeClient(command, sizeof command,
                                       reinterpret_cast<const unsigned char*>(zeros.constData()), kEraseBlockBytes);
    if (result)
        result = waitFlash(kFlashWaitMs, kFlashPollMs);
    else
        JX_CRITICAL << "the erase command failed";
    if (!result)
        JX_CRITICAL << "the external flash was not erased";
    service->closeClient();
    return result;
}

JXExtFlashInfo_2M* JXPSFDevice::getFlashInfo()
{
    return m_flashInfo.get();
}

bool JXPSFDevice::frameRange(Frame frame, int range, Range& out)
{
    const unsigned int* layout = m_flashInfo->getFlashDef();
    const quint32 profileStart = layout[JXExtFlashInfo_2M::ProfileStart];
    const quint32 profileSize = layout[JXExtFlashInfo_2M::ProfilePageSize];
    // Start word of the layout and end field of the header for the frames that end where their data ends.
    int startWord = -1;
    int endField = -1;
    out = Range();
    switch (frame) {
    case FlashInfoFrame:
        if (range == 0)
            out = {0, layout[JXExtFlashInfo_2M::PSFBase]};
        break;
    case DistHeaderFrame:
        if (range == 0)
            out = {layout[JXExtFlashInfo_2M::PSFBase], layout[JXExtFlashInfo_2M::DistHeaderEnd]};
        break;
    case RouteFrame:
        if (range == 0) {
            startWord = JXExtFlashInfo_2M::RouteAreaStart;
            endField = JXExtFlashInfo_2M::RouteTableEnd;
        }
        break;
    case WorkoutFrame:
        startWord = range == 0 ? JXExtFlashInfo_2M::WorkoutAreaStart : JXExtFlashInfo_2M::IntervalAreaStart;
        endField = range == 0 ? JXExtFlashInfo_2M::WorkoutTableEnd : JXExtFlashInfo_2M::IntervalTableEnd;
        break;
    case WorkoutLogFrame:
        if (range == 0) {
            startWord = JXExtFlashInfo_2M::WorkoutLogAreaStart;
            endField = JXExtFlashInfo_2M::WorkoutLogTableEnd;
        }
        break;
    case TrackFrame:
        if (range == 0) {
            startWord = JXExtFlashInfo_2M::TrackAreaStart;
            endField = JXExtFlashInfo_2M::TrackTableEnd;
        }
        break;
    case SensorLogFrame:
        if (range == 0) {
            startWord = JXExtFlashInfo_2M::SensorLogAreaStart;
            endField = JXExtFlashInfo_2M::SensorLogTableEnd;
        }
        break;
    case UserInfoLogFrame:
        if (range == 0) {
            startWord = JXExtFlashInfo_2M::UserInfoLogAreaStart;
            endField = JXExtFlashInfo_2M::UserInfoLogTableEnd;
        }
        break;
    case ProfileFrame:
        if (range == 0)
            out = {profileStart - profileSize, profileStart + profileSize};
        break;
    case Mag2Frame:
        if (range == 0)
            out = {profileStart + profileSize, layout[JXExtFlashInfo_2M::FlashSize]};
        break;
    case FrameCount: break;
    }
    const bool lapRange = frame == RouteFrame && range == 1;
    if (endField >= 0 || lapRange) {
        const char* header = m_flashInfo->getFlashHeader();
        if (!header) {
            JX_WARNING << "no flash header gives the end of frame" << int(frame);
            return false;
        }
        if (lapRange)
            out = {qFromLittleEndian<quint32>(header + JXExtFlashInfo_2M::LapTableStart),
                   qFromLittleEndian<quint32>(header + JXExtFlashInfo_2M::LapTableEnd)};
        else
            out = {layout[startWord], qFromLittleEndian<quint32>(header + endField)};
    }
    // The end words come from the device: a range outside the image is refused before any page is touched.
    if (out.start > out.end || out.end > quint32(m_image.size())) {
        JX_CRITICAL << "frame" << int(frame) << "range" << range << "from" << out.start << "to" << out.end
                    << "lies outside the flash of" << m_image.size() << "bytes";
        return false;
    }
    return true;
}

bool JXPSFDevice::loadPSFFrame(int offset, quint32 size)
{
    if (offset < 0 || quint64(offset) + size > quint64(m_image.size())) {
        JX_WARNING << "frame" << offset << "+" << size << "lies outside the flash";
        return false;
    }
    if (size == 0)
        return true;
    const int first = offset / int(PageSize);
    const int last = int((quint64(offset) + size - 1) / PageSize);
    // Pages read before may hold changes not yet saved: only the runs of unread pages are read.
    int page = first;
    while (page <= last) {
        if (m_loadedPages.contains(page)) {
            ++page;
            continue;
        }
        int runEnd = page;
        while (runEnd + 1 <= last && !m_loadedPages.contains(runEnd + 1))
            ++runEnd;
        if (!readFlashBlocks(m_image.data() + page * int(PageSize), AreaReadExtFlash,
                             (runEnd - page + 1) * int(PageSize), int(PageSize), page))
            return false;
        for (int read = page; read <= runEnd; ++read)
            m_loadedPages.insert(read);
        page = runEnd + 1;
    }
    return true;
}

bool JXPSFDevice::savePSFFrame(int offset, quint32 size, QSet<int>& written)
{
    if (offset < 0 || quint64(offset) + size > quint64(m_image.size())) {
        JX_WARNING << "frame" << offset << "+" << size << "lies outside the flash";
        return false;
    }
    if (size == 0)
        return true;
    auto* service = dynamic_cast<JXSCSIDeviceService*>(getDeviceService());
    if (!service) {
        JX_WARNING << "the device has no raw-flash service to write to";
        return false;
    }
    int first = offset / int(PageSize);
    int last = int((quint64(offset) + size - 1) / PageSize);
    if (written.contains(first))
        ++first;
    if (written.contains(last))
        --last;
    if (last < first)
        return true;
    if (!service->writeFlashBlocks(m_image.data() + first * int(PageSize), AreaWriteExtFlash,
                                   (last - first) * int(PageSize) + int(PageSize), int(PageSize), first))
        return false;
    written.insert(first);
    written.insert(last);
    return true;
}

bool JXPSFDevice::loadFrame(Frame frame)
{
    for (int range = 0; range < 2; ++range) {
        Range bounds;
        if (!frameRange(frame, range, bounds))
            return false;
        if (!loadPSFFrame(int(bounds.start), bounds.end - bounds.start))
            return false;
    }
    return true;
}

bool JXPSFDevice::openPSF(char** base)
{
    if (!loadPSFDistHeaderFrame())
        return false;
    *base = m_image.data() + m_flashInfo->getFlashDef()[JXExtFlashInfo_2M::PSFBase];
    return true;
}

bool JXPSFDevice::loadFlashInfoFrame(char** base)
{
    if (!m_loaded[FlashInfoFrame])
        m_loaded[FlashInfoFrame] = loadFrame(FlashInfoFrame);
    if (m_loaded[FlashInfoFrame])
        *base = m_image.data();
    return m_loaded[FlashInfoFrame];
}

bool JXPSFDevice::loadProfileFrame(char** profile)
{
    m_loaded[ProfileFrame] = loadFrame(ProfileFrame);
    if (m_loaded[ProfileFrame])
        *profile = m_image.data() + m_flashInfo->getFlashDef()[JXExtFlashInfo_2M::ProfileStart];
    return m_loaded[ProfileFrame];
}

bool JXPSFDevice::loadPSFDistHeaderFrame()
{
    return loadFrame(DistHeaderFrame);
}

bool JXPSFDevice::loadPSFRouteFrame()
{
    if (!m_loaded[RouteFrame])
        m_loaded[RouteFrame] = loadFrame(RouteFrame);
    return m_loaded[RouteFrame];
}

bool JXPSFDevice::loadPSFTrackFrame()
{
    if (!m_loaded[TrackFrame])
        m_loaded[TrackFrame] = loadFrame(TrackFrame);
    return m_loaded[TrackFrame];
}

bool JXPSFDevice::loadPSFWorkoutFrame()
{
    if (!m_loaded[WorkoutFrame])
        m_loaded[WorkoutFrame] = loadFrame(WorkoutFrame);
    return m_loaded[WorkoutFrame];
}

bool JXPSFDevice::loadPSFPOIFrame()
{
    // The POI area lies inside the dist-header frame.
    return true;
}

bool JXPSFDevice::loadPSFSensorLogFrame()
{
    if (!m_loaded[SensorLogFrame])
        m_loaded[SensorLogFrame] = loadFrame(SensorLogFrame);
    return m_loaded[SensorLogFrame];
}

bool JXPSFDevice::loadPSFWorkoutLogFrame()
{
    if (!m_loaded[WorkoutLogFrame])
        m_loaded[WorkoutLogFrame] = loadFrame(WorkoutLogFrame);
    return m_loaded[WorkoutLogFrame];
}

bool JXPSFDevice::loadPSFUserInfoLogFrame()
{
    if (!m_loaded[UserInfoLogFrame])
        m_loaded[UserInfoLogFrame] = loadFrame(UserInfoLogFrame);
    return m_loaded[UserInfoLogFrame];
}

bool JXPSFDevice::load()
{
    static const Frame order[] = {FlashInfoFrame, RouteFrame,       WorkoutFrame, WorkoutLogFrame, TrackFrame,
                                  SensorLogFrame, UserInfoLogFrame, ProfileFrame, Mag2Frame};
    bool complete = true;
    for (Frame frame : order) {
        if (!m_loaded[frame])
            m_loaded[frame] = loadFrame(frame);
        if (frame != FlashInfoFrame)
            complete = complete && m_loaded[frame];
    }
    return complete;
}

bool JXPSFDevice::save()
{
    JXFunctionTrace trace(QStringLiteral("save"));
    if (!load()) {
        JX_CRITICAL << "not every frame is in memory: the flash is not erased";
        return false;
    }
    struct Write
    {
        Frame frame;
        int range;
        const char* failure;
    };
    static const Write writes[] = {
        {FlashInfoFrame, -1, "write flash header frame failed"},
        {DistHeaderFrame, 0, "write distheader frame failed"},
        {RouteFrame, 0, "write route frame failed"},
        {RouteFrame, 1, "write lap frame failed"},
        {WorkoutFrame, 0, "write workout frame failed"},
        {WorkoutFrame, 1, "write workout interval frame failed"},
        {TrackFrame, 0, "write track seg frame failed"},
        {WorkoutLogFrame, 0, "write workout log frame failed"},
        {SensorLogFrame, 0, "write sensor log frame failed"},
        {UserInfoLogFrame, 0, "write info log frame failed"},
        {ProfileFrame, 0, "write profile frame failed"},
        {Mag2Frame, 0, "write mag2 frame failed"},
    };
    const int writeCount = int(sizeof writes / sizeof writes[0]);
    // Every range is checked before the erase: after it, a bad range would leave the device without its data.
    Range ranges[writeCount];
    for (int i = 0; i < writeCount; ++i) {
        if (writes[i].range < 0)
            ranges[i] = {0, HeaderBytes};
        else if (!frameRange(writes[i].frame, writes[i].range, ranges[i]))
            return false;
    }
    m_savedRanges.clear();
    if (!eraseFlash())
        return false;
    m_flashInfo->flushFlashHeader();

    QSet<int> written;
    bool result = true;
    for (int i = 0; i < writeCount; ++i) {
        if (!savePSFFrame(int(ranges[i].start), ranges[i].end - ranges[i].start, written)) {
            JX_CRITICAL << writes[i].failure;
            result = false;
        }
        m_savedRanges.append(ranges[i]);
    }
    return result;
}

bool JXPSFDevice::holdsSavedRanges(const QByteArray& flash) const
{
    if (flash.size() != m_image.size())
        return false;
    for (const Range& range : m_savedRanges) {
        if (std::memcmp(flash.constData() + range.start, m_image.constData() + range.start, range.end - range.start) !=
            0) {
            JX_CRITICAL << "the device does not hold what was written to" << range.start << "to" << range.end;
            return false;
        }
    }
    return true;
}

bool JXPSFDevice::saveToFile(QString path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        JX_WARNING << "can not open" << path << ":" << file.errorString();
        return false;
    }
    if (file.write(m_image) != m_image.size()) {
        JX_WARNING << "can not write the image to" << path << ":" << file.errorString();
        return false;
    }
    return true;
}

bool JXPSFDevice::loadFromFile(QString path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        JX_WARNING << "can not open" << path << ":" << file.errorString();
        return false;
    }
    const QByteArray data = file.read(m_image.size());
    std::memcpy(m_image.data(), data.constData(), size_t(data.size()));
    for (int frame = 0; frame < FrameCount; ++frame) {
        if (frame != FlashInfoFrame)
            m_loaded[frame] = true;
    }
    return true;
}

bool JXPSFDevice::dumpExtFlash(const QString& path, QByteArray* read)
{
    QByteArray flash(m_image.size(), char(0xFF));
    if (!readFlashBlocks(flash.data(), AreaReadExtFlash, flash.size(), int(PageSize), 0)) {
        JX_CRITICAL << "fail to readFlashBlocks for saveExtFlashToFile" << path;
        return false;
    }
    if (read)
        *read = flash;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        JX_CRITICAL << "fail to write file for saveExtFlashToFile" << path << ":" << file.errorString();
        return false;
    }
    const qint64 before = file.size();
    if (file.write(flash) != flash.size() || !file.flush()) {
        JX_CRITICAL << "fail to write file for saveExtFlashToFile" << path << ":" << file.errorString();
        // A part of a dump would shift every later one in the backup.
        if (!file.resize(before))
            JX_CRITICAL << "the backup" << path << "keeps a partial dump";
        return false;
    }
    return true;
}

void JXPSFDevice::saveExtFlashToFile(QString path)
{
    // The result is logged where it is known; callers that need it use dumpExtFlash.
    dumpExtFlash(path);
}

QString JXPSFDevice::flashDumpName()
{
    return QStringLiteral("zelto40flash.jx%1.dat").arg(JXEnv::getInstance()->getVersion());
}

bool JXPSFDevice::holdsDataStore(const QByteArray& dump)
{
    if (dump.size() != int(FlashSize))
        return false;
    // The words of the layout that every data-store version shares.
    const JXExtFlashInfo_2M layout(nullptr);
    const int headerAreaEnd = int(layout.getFlashDef()[JXExtFlashInfo_2M::PSFBase]);
    const int profileStart = int(layout.getFlashDef()[JXExtFlashInfo_2M::ProfileStart]);
    const int current = JXExtFlashInfo_2M::currentHeaderOffset(dump.constData(), headerAreaEnd);
    return current >= 0 &&
           qFromLittleEndian<quint16>(dump.constData() + current + JXExtFlashInfo_2M::Magic) == kHeaderMark &&
           !JXFlashBackup::isErased(dump, profileStart, int(PageSize));
}

QString JXPSFDevice::trimmedFlashDumpPath()
{
    const QString path = JXFlashBackup::userDataPath(flashDumpName());
    // The newest dump that holds the user's data stays, also after a failed write-back left only blank flash to
    // dump. A file that cannot be cut only grows.
    JXFlashBackup::trimDumps(path, m_image.size(), kBackupLimit, &JXPSFDevice::holdsDataStore);
    return path;
}

bool JXPSFDevice::_finalize()
{
    JXFunctionTrace trace(QStringLiteral("_finalize"));
    const QString path = trimmedFlashDumpPath();
    // Without a copy of the flash as it was, nothing is erased.
    if (!dumpExtFlash(path))
        return false;
    const bool saved = save();
    // The copy after the write-back helps to diagnose it, and it is the read-back: a device can take writes that it
    // does not keep.
    QByteArray after;
    dumpExtFlash(path, &after);
    if (!saved)
        return false;
    if (after.isEmpty()) {
        JX_CRITICAL << "the written flash could not be read back";
        return false;
    }
    return holdsSavedRanges(after);
}

bool JXPSFDevice::_restoreFactory(QString folder)
{
    JXDeviceService* service = getDeviceService();
    stRegDevInfo* info = service ? service->getRegistryInfo() : nullptr;
    if (!info) {
        JX_CRITICAL << "no registry row names the factory files";
        m_error = true;
        return false;
    }
    const QString name = info->matchText;
    // The flash writes set the error flag themselves.
    if (!writeInternalFlash(folder, name, 12, 2048))
        return false;
    if (!eraseFlash()) {
        JX_CRITICAL << "fail to erase external flash for " << name;
        m_error = true;
        return false;
    }
    return writeExternalFlash(folder, name, AreaWriteExtFlash, int(PageSize));
}

bool JXPSFDevice::initial()
{
    char* profile = nullptr;
    if (!loadProfileFrame(&profile))
        return false;
    QString model;
    getName(model);
    // A device that was never set up has a zero where its profile keeps a set value.
    if (model == QLatin1String("Zelto40") && m_image.at(kProfileSetUpByte) == 0)
        return false;
    m_psf.reset();
    m_psf.reset(new JXPSF_1_5(this));
    unsigned char version[4] = {};
    m_psf->getVersion(version);
    m_flashInfo->initialFlashDef(version);
    return true;
}
