#include "device/gal/jxgaldevice.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include "device/jxdevicemanager.h"
#include "device/jxdeviceservice.h"
#include "gal/libgal.h"
#include "jxdaemon.h"
#include "jxenv.h"
#include "jxgallibrary.h"
#include "jxlog.h"
#include "jxutility.h"
#include "system/jxscsideviceservice.h"

namespace {

// Both binaries go into the external flash in 4096-byte blocks of area 15.
constexpr int kFlashBlockSize = 4096;
constexpr int kFlashBlockShift = 12;
constexpr unsigned char kExternalFlashArea = 15;
constexpr unsigned char kInternalFlashArea = 12;
constexpr int kInternalBlockSize = 2048;
constexpr int kLastBlock = JXSCSIDeviceService::MaxBlockNumber;
// Read of area 0x1A: tells the device that the flash holds the new firmware.
constexpr unsigned char kNotifyCommand[10] = {0x28, 0, 0, 0, 0, 0, 0x1A, 0, 1, 0};
constexpr int kNotifyAnswerSize = 512;
// The boot loader of this version on this model takes only a boot-loader update.
const char kBootLoaderOnlyVersion[] = "R001";
const char kBootLoaderOnlyModel[] = "Zelto20plus";

int blockCount(int bytes)
{
    return (bytes + kFlashBlockSize - 1) / kFlashBlockSize;
}

// The block writer sends nothing for less than one block; whole erased-state blocks reach the device in any case.
QByteArray wholeBlocks(const QByteArray& bytes)
{
    return bytes + QByteArray(blockCount(bytes.size()) * kFlashBlockSize - bytes.size(), char(0xFF));
}

bool isPlainName(const QString& name)
{
    return !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QLatin1String(".."));
}

} // namespace

qint32 JXGalDevice::getUpdateMethod()
{
    QMutexLocker lock(&m_iniMutex);
    ensureIniRead();
    return updateMethod;
}

bool JXGalDevice::_updateAP(QString)
{
    return false;
}

void JXGalDevice::unregisterSCSIDevice()
{
    QString match;
    {
        QMutexLocker lock(&m_iniMutex);
        match.swap(m_registeredMatch);
    }
    JXDeviceManager* manager = JXDaemon::getInstance()->getDeviceManager();
    // Only the row this client added: another row with the model's name may be the model's own.
    if (manager && !match.isEmpty())
        manager->unregisterDevice(match);
}

bool JXGalDevice::leaveForBootLoader(State waitState)
{
    registerSCSIDevice(QString());
    JX_DEBUG << "write update.ini";
    if (!writeVolumeFile(QStringLiteral("update.ini"), QByteArray())) {
        unregisterSCSIDevice();
        setStateWithMatch(waitState, State_InService);
        return false;
    }
    eject(); // the device leaves for its boot loader whether or not the eject is accepted
    return true;
}

bool JXGalDevice::isWritableIapLayout(const ImageMetaInfo& info, int imageSize, int langSize, QString* reason)
{
    QString problem;
    if (isUsableImageMetaInfo(info, &problem)) {
        const qint64 imageStart = info.imageStartAddr >> kFlashBlockShift;
        const qint64 imageEnd = imageStart + blockCount(imageSize);
        const qint64 langStart = info.langStartAddr >> kFlashBlockShift;
        const qint64 langEnd = langStart + blockCount(langSize);
        if (imageSize <= 0 || langSize <= 0)
            problem = QStringLiteral("an empty binary");
        else if (imageEnd > kLastBlock + 1 || langEnd > kLastBlock + 1)
            problem = QStringLiteral("a binary ends past block %1").arg(kLastBlock);
        else if (imageStart < langEnd && langStart < imageEnd)
            problem = QStringLiteral("image blocks %1-%2 overlap language blocks %3-%4")
                          .arg(imageStart)
                          .arg(imageEnd - 1)
                          .arg(langStart)
                          .arg(langEnd - 1);
    }
    if (reason)
        *reason = problem;
    return problem.isEmpty();
}

bool JXGalDevice::_updateTotal(QString package, QString)
{
    JX_DEBUG << "_updateTotal state=" << int(getState());
    if (getState() == State_WaitForUpdate) {
        bool result = false;
        if (isScsiService()) {
            result = upgradeInIAPMode();
            JX_DEBUG << "complete upgradeInIAPMode";
            unregisterSCSIDevice();
        }
        if (!setStateWithMatch(State_WaitForUpdate, State_InService))
            JX_CRITICAL << "_updateTotal: setStateWithMatch to STATE_OUT_OF_SERVICE failed";
        return result;
    }

    const QString folder = packageFolder();
    JX_DEBUG << "getSupportLanguage";
    QStringList packageLanguages;
    if (!JXUtility::getSupportLanguage(package, folder, packageLanguages, kFlashBytes))
        return false;
    JX_DEBUG << "getLanguageOnDevice";
    QStringList deviceLanguages;
    getLanguageOnDevice(deviceLanguages);
    QString drive;
    if (!getDrive(drive))
        return false;
    const QString release = folder + QLatin1String("/release.ini");
    if (!QFileInfo::exists(release))
        JX_WARNING << qUtf8Printable(release + QLatin1String(" not exist"));
    ImageMetaInfo meta = getImageMetaInfo(release);

    QString deviceBootLoader;
    getBootloader(deviceBootLoader);
    if (!meta.bootLoaderVersion.isEmpty() && meta.bootLoaderVersion != deviceBootLoader) {
        JX_DEBUG << "copy iap bin";
        if (!copyIAPBin(folder)) {
            JX_CRITICAL << "copy iap.bin failed";
            return false;
        }
    }

    JX_DEBUG << "device iap version=" << deviceBootLoader;
    if (deviceBootLoader == QLatin1String(kBootLoaderOnlyVersion)) {
        QString model;
        getName(model);
        if (model == QLatin1String(kBootLoaderOnlyModel)) {
            JX_DEBUG << "special handle: write update.ini for only bootloader update";
            return writeVolumeFile(QStringLiteral("update.ini"), QByteArray());
        }
    }

    profileUpdateResult = 1;
    const qint32 method = getUpdateMethod();
    if (method == 2) {
        const QString profile = folder + QLatin1String("/Profile.bin");
        const QString map = folder + QLatin1String("/ProfileMap.txt");
        if (QFileInfo::exists(profile) && QFileInfo::exists(map)) {
            QString volume = drive;
            if (!volume.endsWith(QLatin1Char('/')))
                volume += QLatin1Char('/');
            const QByteArray volumeBytes = JXGalLibrary::text(volume);
            const QByteArray mapBytes = JXGalLibrary::text(map);
            const QByteArray profileBytes = JXGalLibrary::text(profile);
            if (volumeBytes.isEmpty() || mapBytes.isEmpty() || profileBytes.isEmpty()) {
                // The library's buffers would cut the path: the profile stays as it is on the device.
                JX_CRITICAL << "UpdateProfile refused: a path does not fit the library's 256-byte buffers";
                profileUpdateResult = 0;
            } else {
                profileUpdateResult =
                    UpdateProfile(volumeBytes.constData(), mapBytes.constData(), profileBytes.constData());
                if (profileUpdateResult == 2)
                    writeVolumeFile(QStringLiteral("syncprofile.ini"), QByteArray());
                else if (profileUpdateResult == 0)
                    JX_WARNING << "UpdateProfile() return failed";
            }
        } else {
            JX_DEBUG << "not profile bin exist";
            profileUpdateResult = 0;
        }
    }

    QString deviceImage;
    getTotal(deviceImage);
    const QString deviceLanguage = getLangVersion();
    const bool fullUpdate = (!meta.osVersion.isEmpty() && meta.osVersion != deviceImage) ||
                            (!meta.langVersion.isEmpty() && meta.langVersion != deviceLanguage);
    if (!fullUpdate) {
        JX_DEBUG << qUtf8Printable(
            QStringLiteral(
                "write update.ini for only bootloader: device imgver=%1, langVer=%2; release imgver=%3, langver=%4")
                .arg(deviceImage, deviceLanguage, meta.osVersion, meta.langVersion));
        return writeVolumeFile(QStringLiteral("update.ini"), QByteArray());
    }

    switch (method) {
    case 1: return setDefLanguage(&deviceLanguages, 0, &meta);
    case 2: {
        // Once ejected the device only takes flash writes: both binaries must be good before it goes.
        QByteArray image;
        QByteArray language;
        QString reason;
        if (!prepareImageBinary(&deviceLanguages, image, &meta) || !prepareLangBinary(language))
            return false;
        if (!isWritableIapLayout(meta, image.size(), language.size(), &reason)) {
            JX_CRITICAL << "the package does not fit the flash:" << reason;
            return false;
        }
        if (!setStateWithMatch(getState(), State_WaitForUpdate)) {
            JX_CRITICAL << "_updateTotal: can not wait for the device";
            return false;
        }
        return leaveForBootLoader(State_WaitForUpdate);
    }
    default:
        // Nothing would be installed: the update must not pass for done.
        JX_CRITICAL << "unknown update method" << method << "in device.ini: nothing installed";
        return false;
    }
}

bool JXGalDevice::upgradeInIAPMode()
{
    QStringList deviceLanguages;
    getLanguageOnDevice(deviceLanguages);
    ImageMetaInfo meta = getImageMetaInfo(packageFolder() + QLatin1String("/release.ini"));
    auto* service = dynamic_cast<JXSCSIDeviceService*>(getDeviceService());
    if (!service)
        return false;

    JX_DEBUG << "prepare GAL image";
    QByteArray image;
    if (!prepareImageBinary(&deviceLanguages, image, &meta)) {
        JX_CRITICAL << "prepare GAL image failed ";
        return false;
    }
    QByteArray language;
    if (!prepareLangBinary(language)) {
        JX_CRITICAL << "prepare language binary failed";
        return false;
    }
    // Checked again: the package folder may have changed while the device was away.
    QString reason;
    if (!isWritableIapLayout(meta, image.size(), language.size(), &reason)) {
        JX_CRITICAL << "the package does not fit the flash:" << reason;
        return false;
    }

    const int imageBlock = meta.imageStartAddr >> kFlashBlockShift;
    JX_DEBUG << "erase img startBlock = " << imageBlock << ", size=" << image.size();
    if (!service->eraseFlashBlocks(image.size(), kFlashBlockSize, imageBlock)) {
        JX_CRITICAL << "erase GAL image failed ";
        return false;
    }
    image = wholeBlocks(image);
    if (!service->writeFlashBlocks(image.data(), kExternalFlashArea, image.size(), kFlashBlockSize, imageBlock)) {
        JX_CRITICAL << "write GAL image failed ";
        return false;
    }

    const int langBlock = meta.langStartAddr >> kFlashBlockShift;
    JX_DEBUG << "erase language startBlock = " << langBlock << ", size=" << language.size();
    if (!service->eraseFlashBlocks(language.size(), kFlashBlockSize, langBlock)) {
        JX_CRITICAL << "erase language binary failed";
        return false;
    }
    language = wholeBlocks(language);
    if (!service->writeFlashBlocks(language.data(), kExternalFlashArea, language.size(), kFlashBlockSize, langBlock)) {
        JX_CRITICAL << "write language binary failed";
        return false;
    }
    return notifyIAPUpdate();
}

bool JXGalDevice::notifyIAPUpdate()
{
    auto* service = dynamic_cast<JXSCSIDeviceService*>(getDeviceService());
    if (!service || !service->openClient())
        return false;
    unsigned char answer[kNotifyAnswerSize] = {};
    const bool result = service->readClient(kNotifyCommand, sizeof kNotifyCommand, answer, sizeof answer);
    if (!result)
        JX_CRITICAL << "notify IAP update failed";
    service->closeClient();
    return result;
}

bool JXGalDevice::updateFlashes(QString folder)
{
    unregisterSCSIDevice();
    const QString release = folder + QLatin1String("/release.ini");
    if (!QFileInfo::exists(release)) {
        JX_CRITICAL << "release.ini not found";
        return false;
    }
    const QString name = QSettings(release, QSettings::IniFormat).value(QStringLiteral("Name")).toString();
    if (!isPlainName(name)) {
        JX_CRITICAL << "release.ini names" << name << "outside its folder";
        return false;
    }
    auto* service = dynamic_cast<JXSCSIDeviceService*>(getDeviceService());
    if (!service) {
        JX_CRITICAL << "updateFlashes: the device is not in IAP mode";
        return false;
    }
    if (!writeInternalFlash(folder, name, kInternalFlashArea, kInternalBlockSize))
        return false;
    const qint64 dataSize = QFileInfo(folder + QLatin1Char('/') + name + QLatin1String("ExData.bin")).size();
    if (dataSize > qint64(kLastBlock + 1) * kFlashBlockSize) {
        JX_CRITICAL << "external flash data of" << dataSize << "bytes is larger than the flash";
        return false;
    }
    if (!service->eraseFlashBlocks(int(dataSize), kFlashBlockSize, 0))
        return false;
    return writeExternalFlash(folder, name, kExternalFlashArea, kFlashBlockSize);
}
