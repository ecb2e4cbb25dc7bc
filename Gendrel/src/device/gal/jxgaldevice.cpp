#include "device/gal/jxgaldevice.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <limits>

#include "device/jxdevicemanager.h"
#include "device/jxdevicevolume.h"
#include "device/jxdeviceservice.h"
#include "device/jxfsdeviceservice.h"
#include "jxdaemon.h"
#include "jxlog.h"
#include "jxutility.h"
#include "system/jxplatform.h"

namespace {

// The version stamp sits at bytes 148-151 of the image binary, so a smaller image cannot hold it.
constexpr qint64 kMinimumImageSize = 152;
// Used when a package carries no "release.ini".
constexpr qint32 kDefaultImageSize = 985088;
// How long the boot-loader file may take to read back whole, and the pause between tries.
constexpr qint64 kIapReadBackLimitMs = 29999;
constexpr qint64 kIapReadBackRetryMs = 5000;

// A hexadecimal address; a text that is no number gives 0, one beyond 32 bits -1 (refused later).
qint32 hexAddress(const QString& text)
{
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok, 16);
    if (!ok)
        return 0;
    return value > quint64(std::numeric_limits<qint32>::max()) ? -1 : qint32(value);
}

} // namespace

JXGalDevice::JXGalDevice() : JXDeviceImpl<JXGalDevice, JXDeviceServiceClient>(nullptr) {}

JXGalDevice::~JXGalDevice() = default;

bool JXGalDevice::isScsiService()
{
    return getServiceType() == JXDeviceService::DEVICE_SCSI;
}

bool JXGalDevice::readDeviceIni()
{
    QMutexLocker lock(&m_iniMutex);
    return readDeviceIniLocked();
}

bool JXGalDevice::readDeviceIniLocked()
{
    if (isScsiService())
        return false;
    // Set before the file is looked for: a volume without one is not searched again.
    iniRead = true;
    QString drive;
    getDrive(drive);
    const QString path = JXUtility::findDeviceIni(drive);
    if (path.isEmpty()) {
        JX_WARNING << "no device.ini on" << drive;
        return false;
    }
    QVariantMap ini;
    if (!JXFSDeviceService::readDescriptionValues(path, ini))
        return false;
    uuid = ini.value(QStringLiteral("UUID/UUID"), QString()).toString();
    osVersion = ini.value(QStringLiteral("OS/Version"), QString()).toString();
    requiredJXVersion = ini.value(QStringLiteral("JX/Version"), QString()).toString();
    bootLoaderVersion = ini.value(QStringLiteral("BootLoader/Version"), QString()).toString();
    if (ini.contains(QStringLiteral("IMG/UpdateMethod")))
        updateMethod = qint32(ini.value(QStringLiteral("IMG/UpdateMethod")).toUInt());
    deviceLangVersion = ini.value(QStringLiteral("IMG/LangVersion"), QString()).toString();
    capability = ini.value(QStringLiteral("CAP/COM"), QString()).toString();
    launchSecVersion = ini.value(QStringLiteral("LaunchSec/Version"), QString()).toString();
    if (launchSecVersion.isEmpty())
        launchSecVersion = QStringLiteral("0.0.0.0");
    iapName = ini.value(QStringLiteral("IAP/NAME"), QString()).toString().trimmed();
    return true;
}

void JXGalDevice::ensureIniRead()
{
    if (!iniRead)
        readDeviceIniLocked();
}

bool JXGalDevice::getDrive(QString& drive)
{
    return !isScsiService() && JXFSDeviceService::driveOf(getDeviceService(), drive);
}

bool JXGalDevice::getUUID(QString& text)
{
    QMutexLocker lock(&m_iniMutex);
    ensureIniRead();
    text = uuid;
    return true;
}

bool JXGalDevice::getTotal(QString& version)
{
    QMutexLocker lock(&m_iniMutex);
    ensureIniRead();
    version = osVersion;
    return true;
}

bool JXGalDevice::getBootloader(QString& version)
{
    QMutexLocker lock(&m_iniMutex);
    ensureIniRead();
    version = bootLoaderVersion;
    return !version.isEmpty();
}

bool JXGalDevice::getLaunchsec(QString& version)
{
    QMutexLocker lock(&m_iniMutex);
    ensureIniRead();
    version = launchSecVersion;
    return true;
}

bool JXGalDevice::getAP(QString& version)
{
    QMutexLocker lock(&m_iniMutex);
    ensureIniRead();
    version = apVersion;
    return true;
}

bool JXGalDevice::getIapName(QString& name)
{
    QMutexLocker lock(&m_iniMutex);
    ensureIniRead();
    name = iapName;
    return true;
}

QString JXGalDevice::getLangVersion()
{
    QMutexLocker lock(&m_iniMutex);
    ensureIniRead();
    return deviceLangVersion;
}

bool JXGalDevice::getOS(QString& version)
{
    QString scratch;
    if (!getTotal(scratch))
        return false;
    version = scratch;
    if (!getBootloader(scratch))
        return false;
    version += QLatin1Char('.') + scratch.mid(1);
    const QString language = getLangVersion();
    if (language.size() == 8) {
        QString digits;
        for (int i = 0; i < 8; i += 2)
            digits += QString::number(language.midRef(i, 2).toInt());
        version += QLatin1Char('.') + digits;
    }
    return true;
}

QString JXGalDevice::getRequiredJX()
{
    QMutexLocker lock(&m_iniMutex);
    if (!iniRead) {
        readDeviceIniLocked();
        if (requiredJXVersion.isEmpty())
            requiredJXVersion = JXClient::getRequiredJX();
    }
    return requiredJXVersion;
}

bool JXGalDevice::getInternalStorage(qint64& total, qint64& free)
{
    QString drive;
    if (isScsiService() || !getDrive(drive))
        return false;
    return JXPlatform().getDiskStorage(drive, total, free);
}

bool JXGalDevice::isExist()
{
    return true;
}

bool JXGalDevice::getName(QString& model)
{
    return registryModelName(model);
}

void JXGalDevice::getPOIs(QVector<JXClientData>&) {}

void JXGalDevice::getRoutes(QVector<JXClientData>&) {}

bool JXGalDevice::deletePOIs(QVector<int>)
{
    return true;
}

bool JXGalDevice::deleteRoutes(QVector<int>)
{
    return true;
}

void JXGalDevice::formatDevice() {}

QString JXGalDevice::GetComponentVersion(QString)
{
    return QString();
}

bool JXGalDevice::eject()
{
    JX_DEBUG << "JXGalDevice::eject()";
    if (isScsiService())
        return false;
    JXDeviceManager* manager = JXDaemon::getInstance()->getDeviceManager();
    if (!manager)
        return false;
    return manager->ejectConnectedDevice();
}

JXClient::ImageMetaInfo JXGalDevice::getImageMetaInfo(QString path)
{
    JX_DEBUG << "getImageMetaInfo from " << path;
    QMutexLocker lock(&m_iniMutex);
    if (QFileInfo::exists(path)) {
        QSettings ini(path, QSettings::IniFormat);
        imageMetaInfo.name = ini.value(QStringLiteral("IMG/Name"), QString()).toString();
        // KiB in the file; a size that does not fit in bytes becomes 0, which nothing accepts.
        const quint64 kib = ini.value(QStringLiteral("IMG/Size"), QString()).toString().toULongLong();
        const quint64 bytes = kib * 1024;
        imageMetaInfo.size = (kib > quint64(std::numeric_limits<qint32>::max()) / 1024) ? 0 : qint32(bytes);
        imageMetaInfo.imageStartAddr = hexAddress(ini.value(QStringLiteral("IMG/Ext_FlashImageStartAddr")).toString());
        imageMetaInfo.langStartAddr = hexAddress(ini.value(QStringLiteral("IMG/Ext_FlashLangStartAddr")).toString());
        imageMetaInfo.langVersion = ini.value(QStringLiteral("IMG/LangVersion"), QString()).toString();
        imageMetaInfo.osVersion = ini.value(QStringLiteral("OS/Version"), QString()).toString();
        imageMetaInfo.bootLoaderVersion = ini.value(QStringLiteral("BootLoader/Version"), QString()).toString();
        QString reason;
        if (!isUsableImageMetaInfo(imageMetaInfo, &reason))
            JX_CRITICAL << "unusable image description in" << path << ":" << reason;
    } else {
        lock.unlock();
        QString model;
        getName(model);
        lock.relock();
        if (model == QLatin1String("Zelto20plus"))
            imageMetaInfo.name = QStringLiteral("DolvranePlus");
        else if (model == QLatin1String("Zelto21"))
            imageMetaInfo.name = QStringLiteral("DolvraneBR");
        imageMetaInfo.size = kDefaultImageSize;
        imageMetaInfo.langVersion.clear();
    }
    return imageMetaInfo;
}

bool JXGalDevice::isUsableImageMetaInfo(const ImageMetaInfo& info, QString* reason)
{
    QString problem;
    if (info.name.isEmpty())
        problem = QStringLiteral("no image name");
    else if (info.name.contains(QLatin1Char('/')) || info.name.contains(QLatin1Char('\\'))
             || info.name.contains(QLatin1String("..")))
        problem = QStringLiteral("image name %1 leaves the package").arg(info.name);
    else if (info.size < kMinimumImageSize)
        problem = QStringLiteral("image size %1 cannot hold the version stamp").arg(info.size);
    else if (info.imageStartAddr < 0 || info.langStartAddr < 0)
        problem = QStringLiteral("negative flash address");
    if (reason)
        *reason = problem;
    return problem.isEmpty();
}

bool JXGalDevice::registerSCSIDevice(QString product)
{
    JXDeviceManager* manager = JXDaemon::getInstance()->getDeviceManager();
    if (!manager) {
        JX_WARNING << "registerSCSIDevice: no device manager";
        return false;
    }
    QString code;
    QString name;
    getUUID(code);
    getIapName(name);
    stRegDevInfo row;
    row.code = code.left(4);
    getName(row.modelName);
    row.matchText = !product.isEmpty() ? product.toUpper() : (!name.isEmpty() ? name : row.modelName);
    row.factory = &JXGalDevice::create;
    manager->registerDevice(row, true);
    QMutexLocker lock(&m_iniMutex);
    m_registeredMatch = row.matchText;
    return true;
}

QString JXGalDevice::registeredSCSIMatch() const
{
    QMutexLocker lock(&m_iniMutex);
    return m_registeredMatch;
}

bool JXGalDevice::copyIAPBin(QString folder)
{
    const QString source = folder + QLatin1String("/iap.bin");
    if (!QFileInfo::exists(source)) {
        JX_CRITICAL << qUtf8Printable(QStringLiteral("IAP file %1 is not found").arg(source));
        return false;
    }
    QString drive;
    if (!getDrive(drive) || drive.isEmpty()) {
        JX_CRITICAL << "failed to copy iap.bin: no volume";
        return false;
    }
    if (QFileInfo(source).size() > kFlashBytes) {
        JX_CRITICAL << "failed to copy iap.bin: it is larger than the device's flash";
        return false;
    }
    JXDeviceVolume volume(drive);
    volume.setReadBack(kIapReadBackLimitMs, kIapReadBackRetryMs);
    if (!volume.copyFileIn(source, drive + QLatin1String("/iap.bin"))) {
        JX_CRITICAL << "failed to copy iap.bin";
        return false;
    }
    return true;
}

bool JXGalDevice::writeVolumeFile(const QString& name, const QByteArray& bytes)
{
    QString drive;
    if (!getDrive(drive) || drive.isEmpty()) {
        JX_CRITICAL << "cannot write" << name << ": no volume";
        return false;
    }
    return JXDeviceVolume(drive).writeFile(drive + QLatin1Char('/') + name, bytes);
}
