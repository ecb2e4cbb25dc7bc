#include "device/fitdevice/jxfitdevice.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSettings>
#include <QtEndian>

#include <atomic>
#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "compress/jxziputil.h"
#include "device/jxdevicemanager.h"
#include "device/jxdevicevolume.h"
#include "device/jxfsdeviceservice.h"
#include "jxdaemon.h"
#include "jxenv.h"
#include "jxlog.h"
#include "jxutility.h"
#include "system/jxplatform.h"

const QString JXFitDevice::ALP_FILE = QStringLiteral("AssitOff.alp");
const QString JXFitDevice::ALP_DIR = QStringLiteral("System");

namespace {

// Large enough to stream at the device's speed, small enough that an image never sits in memory.
constexpr qint64 kBlockSize = 1024 * 1024;

std::atomic<int> s_clientCount{0};

// A file name from a package or a caller names a file below the volume root: relative, without "..".
bool isSafeRelativeName(const QString& name)
{
    if (name.isEmpty() || name.contains(QChar(0)) || QDir::isAbsolutePath(name) || name.startsWith(QLatin1Char('\\')) ||
        QDir::cleanPath(name) == QLatin1String("."))
        return false;
    const QStringList parts = QString(name).replace(QLatin1Char('\\'), QLatin1Char('/')).split(QLatin1Char('/'));
    return !parts.contains(QStringLiteral(".."));
}

} // namespace

JXFitDevice::JXFitDevice(QObject* parent) : JXDeviceImpl(parent), m_clientNumber(++s_clientCount) {}

JXFitDevice::~JXFitDevice()
{
    // The action may still read the work folder.
    stopThread();
    if (!m_workFolder.isEmpty())
        JXUtility::deleteDir(m_workFolder);
}

// ---- Identity ------------------------------------------------------------------------------------------------

bool JXFitDevice::readDeviceIni()
{
    QMutexLocker lock(&m_identityMutex);
    m_deviceIniRead = true;

    QString drive;
    getDrive(drive);
    const QString path = JXUtility::findDeviceText(drive);
    if (path.isEmpty())
        return false;

    QVariantMap values;
    if (!JXFSDeviceService::readDescriptionValues(path, values))
        return false;
    const auto read = [&values](const char* group, const char* key) {
        return JXUtility::settingText(values.value(QLatin1String(group) + QLatin1Char('/') + QLatin1String(key), QString()));
    };
    m_uuid = read("UUID", "UUID");
    m_totalVersion = read("OS", "Version");
    m_bootLoaderVersion = read("BootLoader", "Version");
    m_deviceLangVersion = read("DeviceLang", "Version");
    m_notificationLangVersion = read("NotificationLang", "Version");
    m_timeZoneVersion = read("TimeZone", "Version");
    m_bluetoothVersion = read("Bluetooth", "Version");
    m_capability = read("CAP", "COM");
    const QString type = read("Product", "Type");
    if (!type.isEmpty())
        m_deviceType = type == QLatin1String("Watch") ? 0 : 1;
    return true;
}

// Runs on any thread: the first caller reads the file, later ones wait for it and see the same values.
void JXFitDevice::ensureDeviceIni()
{
    QMutexLocker lock(&m_identityMutex);
    if (!m_deviceIniRead)
        readDeviceIni();
}

QString JXFitDevice::identityField(const QString* field)
{
    QMutexLocker lock(&m_identityMutex);
    if (!m_deviceIniRead)
        readDeviceIni();
    return *field;
}

int JXFitDevice::getDeviceType()
{
    QMutexLocker lock(&m_identityMutex);
    ensureDeviceIni();
    return m_deviceType;
}

bool JXFitDevice::getDrive(QString& drive)
{
    return JXFSDeviceService::driveOf(getDeviceService(), drive);
}

bool JXFitDevice::getUUID(QString& uuid)
{
    uuid = identityField(&m_uuid);
    return true;
}

bool JXFitDevice::getTotal(QString& version)
{
    version = identityField(&m_totalVersion);
    return true;
}

bool JXFitDevice::getBootloader(QString& version)
{
    version = identityField(&m_bootLoaderVersion);
    return !version.isEmpty();
}

QString JXFitDevice::getLangVersion()
{
    return identityField(&m_deviceLangVersion);
}

QString JXFitDevice::getBluetoothVersion()
{
    return identityField(&m_bluetoothVersion);
}

QString JXFitDevice::getTimeZoneVersion()
{
    return identityField(&m_timeZoneVersion);
}

QString JXFitDevice::getNotificationLangVersion()
{
    return identityField(&m_notificationLangVersion);
}

// The update controller compares this text with the server's by plain string order, so its shape is fixed.
bool JXFitDevice::getOS(QString& version)
{
    QString total;
    if (!getTotal(total))
        return false;
    version = total;
    QString bootLoader;
    if (!getBootloader(bootLoader))
        return false;
    const auto lastOf = [](const QString& text, int longest) {
        return text.size() > longest ? text.right(longest) : text;
    };
    version += QLatin1Char('.') + bootLoader.mid(1);
    version += QLatin1Char('.') + lastOf(getLangVersion(), 4);
    version += QLatin1Char('.') + lastOf(getBluetoothVersion(), 2);
    version += QLatin1Char('.') + lastOf(getTimeZoneVersion(), 3);
    version += QLatin1Char('.') + lastOf(getNotificationLangVersion(), 3);
    return true;
}

bool JXFitDevice::getName(QString& model)
{
    if (!registryModelName(model))
        model.clear();
    return true;
}

QString JXFitDevice::getCapability()
{
    {
        QMutexLocker lock(&m_identityMutex);
        ensureDeviceIni();
        if (!m_capability.isEmpty())
            return m_capability;
    }
    // Asked without the lock: the library call may take its time.
    const QString capability = JXClient::getCapability();
    QMutexLocker lock(&m_identityMutex);
    if (m_capability.isEmpty())
        m_capability = capability;
    return m_capability;
}

quint32 JXFitDevice::getAlpExpiredDate()
{
    const quint32 stored = m_alpExpiredDate.load();
    if (stored != 0)
        return stored;
    QString drive;
    getDrive(drive);
    const QString folder = drive + QLatin1Char('/') + ALP_DIR;
    if (!QFileInfo::exists(folder + QLatin1Char('/') + ALP_FILE)) {
        m_alpExpiredDate = 0;
        return 0;
    }
    QFile dateFile(folder + QLatin1String("/date.txt"));
    if (dateFile.open(QIODevice::ReadOnly) && dateFile.size() == 4) {
        QDataStream stream(&dateFile);
        qint32 expiry = 0;
        stream >> expiry;
        if (stream.status() == QDataStream::Ok)
            m_alpExpiredDate = quint32(expiry);
    }
    return m_alpExpiredDate.load();
}

bool JXFitDevice::prepareUploadData(QString&, bool)
{
    return false;
}

QStringList JXFitDevice::saveDeviceRawData(QString)
{
    return QStringList();
}

bool JXFitDevice::eject()
{
    JXDeviceManager* manager = JXDaemon::getInstance()->getDeviceManager();
    if (!manager)
        return false;
    return manager->ejectConnectedDevice();
}

void JXFitDevice::setReadBackTiming(int limitMs, int retryIntervalMs)
{
    m_readBackLimitMs = qMax(0, limitMs);
    m_readBackRetryMs = qMax(0, retryIntervalMs);
}

// ---- Software update (runs on the client's thread) -----------------------------------------------------------

void JXFitDevice::rememberVolume(const QString& drive)
{
    m_volume.reset(new JXDeviceVolume(drive));
    m_volume->setReadBack(m_readBackLimitMs.load(), m_readBackRetryMs.load());
}

void JXFitDevice::forgetVolume()
{
    m_volume.reset();
}

QString JXFitDevice::getWorkFolder(const QString& model) const
{
    return JXEnv::getInstance()->getTmpFolder() + QLatin1Char('/') + model + QLatin1Char('/') +
           QStringLiteral("client-%1").arg(m_clientNumber);
}

// An empty work folder of this client for the model; false (nothing touched) for a model that is no folder name.
bool JXFitDevice::prepareWorkFolder(const QString& model, QString& workFolder)
{
    if (!JXClient::isSafeModelName(model)) {
        JX_CRITICAL << "refusing the model name" << model << ": it is no folder name";
        return false;
    }
    workFolder = getWorkFolder(model);
    if (!m_workFolder.isEmpty() && m_workFolder != workFolder)
        JXUtility::deleteDir(m_workFolder);
    m_workFolder = workFolder;
    QDir().mkpath(workFolder);
    JXUtility::deleteDir(workFolder);
    return true;
}

bool JXFitDevice::mountedDrive(QString& drive)
{
    if (!getDrive(drive) || drive.isEmpty()) {
        JX_CRITICAL << "can not get mounted drive";
        return false;
    }
    return true;
}

JXFitDevice::UpdateStart JXFitDevice::prepareUpdate(QString& workFolder, QString& drive)
{
    QString model;
    if (!getName(model) || !prepareWorkFolder(model, workFolder))
        return UpdateStart::Failed;
    return mountedDrive(drive) ? UpdateStart::Ready : UpdateStart::NoDrive;
}

bool JXFitDevice::_updateTotal(QString package, QString language)
{
    Q_UNUSED(language)
    m_errorCode = 0;

    QString workFolder;
    QString drive;
    if (prepareUpdate(workFolder, drive) != UpdateStart::Ready)
        return false;
    rememberVolume(drive);
    const auto forget = qScopeGuard([this] { forgetVolume(); });

    JX_DEBUG << "unzip " << package << " to " << workFolder;
    JXZipUtil zip;
    if (!zip.decompress(package, workFolder)) {
        JX_CRITICAL << "unzip file to temporary directory failed";
        return false;
    }
    const QString releaseIni = workFolder + QLatin1String("/release.ini");
    if (!QFileInfo(releaseIni).isFile()) {
        JX_CRITICAL << qUtf8Printable(releaseIni + QLatin1String(" not exist"));
        return false;
    }

    const QList<FitImageInfo> images = readImageInfo(releaseIni);
    for (const FitImageInfo& image : images) {
        if (!isSafeRelativeName(image.fileName)) {
            JX_CRITICAL << "refusing the package: the image" << image.fileName << "of" << image.component
                        << "would be written outside the volume";
            return false;
        }
    }
    if (!isStorageSpaceEnough(workFolder, images)) {
        m_errorCode = 3;
        return false;
    }

    bool copied = false;
    for (const FitImageInfo& image : images) {
        if (!isNewVersion(image))
            continue;
        JX_DEBUG << qUtf8Printable(QStringLiteral("write %1, version=%2").arg(image.fileName, image.version));
        if (!copyBinFile(workFolder, image.fileName, QString())) {
            m_errorCode = 4;
            return false;
        }
        copied = true;
    }

    if (copied) {
        JX_DEBUG << "write update.ini ";
        if (!m_volume->writeFile(QStringLiteral("update.ini"), QByteArray())) {
            m_errorCode = 4;
            return false;
        }
    }
    return true;
}

QList<JXFitDevice::FitImageInfo> JXFitDevice::readImageInfo(QString path)
{
    JX_DEBUG << "getImageMetaInfo from " << path;
    QList<FitImageInfo> images;
    if (!QFileInfo::exists(path))
        return images;
    QSettings settings(path, QSettings::IniFormat);
    const QStringList groups = settings.childGroups();
    for (const QString& group : groups) {
        if (group == QLatin1String("MODEL"))
            continue;
        settings.beginGroup(group);
        FitImageInfo image;
        image.component = group;
        image.fileName = JXUtility::settingText(settings.value(QStringLiteral("Name"), QString()));
        image.version = JXUtility::settingText(settings.value(QStringLiteral("Version"), QString()));
        images.append(image);
        settings.endGroup();
    }
    return images;
}

bool JXFitDevice::isNewVersion(FitImageInfo image)
{
    QString deviceVersion;
    const QString& component = image.component;
    if (component == QLatin1String("OS"))
        getTotal(deviceVersion);
    else if (component == QLatin1String("BootLoader"))
        getBootloader(deviceVersion);
    else if (component == QLatin1String("DeviceLang"))
        deviceVersion = getLangVersion();
    else if (component == QLatin1String("NotificationLang"))
        deviceVersion = getNotificationLangVersion();
    else if (component == QLatin1String("TimeZone"))
        deviceVersion = getTimeZoneVersion();
    else if (component == QLatin1String("Bluetooth"))
        deviceVersion = getBluetoothVersion();
    JX_DEBUG << "update version=" << image.version << ", device version=" << deviceVersion;
    return deviceVersion < image.version;
}

bool JXFitDevice::isStorageSpaceEnough(QString sourceDir, QList<FitImageInfo> images)
{
    qint64 needed = 0;
    for (const FitImageInfo& image : images) {
        if (isNewVersion(image))
            needed += QFileInfo(sourceDir + QLatin1Char('/') + image.fileName).size();
    }
    QString drive;
    if (!getDrive(drive))
        return false;
    qint64 total = 0;
    qint64 free = 0;
    // A volume that the platform cannot measure counts as full.
    JXPlatform().getDiskStorage(drive, total, free);
    JX_DEBUG << qUtf8Printable(QStringLiteral("copied file size=%1, free size=%2").arg(needed).arg(free));
    return free >= needed;
}

bool JXFitDevice::copyBinFile(QString sourceDir, QString fileName, QString deviceSubFolder)
{
    const QString source = sourceDir + QLatin1Char('/') + fileName;
    if (!QFileInfo::exists(source)) {
        JX_CRITICAL << qUtf8Printable(QStringLiteral(" file %1 is not found").arg(source));
        return false;
    }
    if (!QFileInfo(source).isFile() || QFileInfo(source).size() <= 0) {
        JX_CRITICAL << "failed to copy" << fileName << ":" << source << "is no file or is empty";
        return false;
    }
    QString drive;
    if (!mountedDrive(drive))
        return false;
    // Outside an action the volume is taken as it is now.
    std::unique_ptr<JXDeviceVolume> ownVolume;
    JXDeviceVolume* volume = m_volume.get();
    if (!volume) {
        ownVolume.reset(new JXDeviceVolume(drive));
        ownVolume->setReadBack(m_readBackLimitMs.load(), m_readBackRetryMs.load());
        volume = ownVolume.get();
    }
    const QString destination =
        deviceSubFolder.isEmpty() ? fileName : deviceSubFolder + QLatin1Char('/') + fileName;
    const JXDeviceVolume::Kind existing = volume->kindOf(destination);
    if (existing != JXDeviceVolume::Kind::Missing && existing != JXDeviceVolume::Kind::File) {
        JX_CRITICAL << "failed to copy" << fileName << ":" << destination << "is no file";
        return false;
    }
    // The image replaces the device's earlier one of that name only once it reads back equal, so a failed copy
    // leaves the earlier image as it was. Both are on the volume for a moment; that needs no room beyond what the
    // space test asked for, because the earlier image was already in use when the free space was measured.
    return volume->copyFileIn(source, destination);
}

// ---- Assistance data and workout component (run on the client's thread) -------------------------------------

// The old data stays on the device until the new data and its date are complete there.
bool JXFitDevice::_updateAlp(QString file, unsigned int expiry)
{
    m_errorCode = 0;

    QString model;
    getName(model);
    QString drive;
    if (!mountedDrive(drive))
        return false;
    if (!JXClient::isSafeModelName(model) || !isSafeRelativeName(file) || file.contains(QLatin1Char('/')) ||
        file.contains(QLatin1Char('\\'))) {
        JX_CRITICAL << "refusing the assistance file" << file << "of model" << model;
        return false;
    }
    const QString sourceDir = JXEnv::getInstance()->getUserDataBaseFolder() + QLatin1String("/updates/") + model;
    const QString source = sourceDir + QLatin1Char('/') + file;
    if (!QFileInfo(source).isFile()) {
        JX_CRITICAL << qUtf8Printable(QStringLiteral(" file %1 is not found").arg(source));
        return false;
    }

    if (QFileInfo(source).size() <= 0) {
        JX_CRITICAL << "refusing the assistance file" << source << ": it is empty";
        return false;
    }

    rememberVolume(drive);
    const auto forget = qScopeGuard([this] { forgetVolume(); });
    const QString target = ALP_DIR + QLatin1Char('/') + file;
    const QString dateFile = ALP_DIR + QLatin1String("/date.txt");

    JX_DEBUG << qUtf8Printable(QStringLiteral("copy file=%1 from sourceDir=%2").arg(file, sourceDir));
    if (!m_volume->copyBeside(source, target))
        return false;
    JX_DEBUG << "write date.txt";
    QByteArray date;
    QDataStream stream(&date, QIODevice::WriteOnly);
    stream << qint32(expiry);
    if (!m_volume->writeBeside(dateFile, date)) {
        m_volume->discardBeside(target);
        return false;
    }
    // Each rename replaces the old file in one step; the date follows the data it belongs to.
    if (!m_volume->moveIntoPlace(target)) {
        m_volume->discardBeside(dateFile);
        return false;
    }
    if (!m_volume->moveIntoPlace(dateFile))
        return false;
    m_alpExpiredDate = expiry;
    return true;
}

bool JXFitDevice::_updateComponent(JXClientCompUpdateInfo info)
{
    m_errorCode = 0;
    const QString package = info.packageFile;
    const QString installSwitch = info.version;

    QString workFolder;
    QString drive;
    const UpdateStart start = prepareUpdate(workFolder, drive);
    if (start != UpdateStart::Ready) {
        if (start == UpdateStart::NoDrive)
            m_errorCode = 2;
        return false;
    }
    rememberVolume(drive);
    const auto forget = qScopeGuard([this] { forgetVolume(); });

    JX_DEBUG << "unzip " << package << " to " << workFolder;
    JXZipUtil zip;
    if (!zip.decompress(package, workFolder)) {
        m_errorCode = 3;
        JX_CRITICAL << "unzip file to temporary directory failed";
        return false;
    }
    const QString workout = workFolder + QLatin1String("/workout.zip");
    if (!QFileInfo(workout).isFile()) {
        m_errorCode = 5;
        JX_CRITICAL << qUtf8Printable(workout + QLatin1String(" not exist"));
        return false;
    }
    if (installSwitch != QLatin1String("1"))
        return true;

    const QString system = drive + QLatin1String("/System");
    if (!zip.decompress(workout, system)) {
        m_errorCode = 4;
        JX_CRITICAL << "unzip workout.zip to device failed";
        return false;
    }
    // As with the images: done means on the device.
    if (!m_volume->syncAll()) {
        m_errorCode = 4;
        JX_CRITICAL << "unzip workout.zip to device failed: cannot flush" << system;
        return false;
    }
    checkFiles(system + QLatin1String("/Ruravodir"));
    checkFiles(system + QLatin1String("/Test"));
    return true;
}

void JXFitDevice::checkFiles(QString folder)
{
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Unsorted);
    QStringList folders;
    std::vector<char> buffer;
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink())
            continue;
        if (entry.isDir()) {
            folders.append(entry.absoluteFilePath());
            continue;
        }
        QFile file(entry.absoluteFilePath());
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            continue;
        ::posix_fadvise(file.handle(), 0, 0, POSIX_FADV_DONTNEED);
        buffer.resize(size_t(kBlockSize));
        while (file.read(buffer.data(), kBlockSize) == kBlockSize) {
        }
    }
    for (const QString& child : folders)
        checkFiles(child);
}
