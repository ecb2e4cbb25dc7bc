#include "device/jxfitdevice.h"

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSettings>
#include <QtEndian>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "compress/jxziputil.h"
#include "device/jxdevicemanager.h"
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
// New files go onto the volume under a hidden name with this suffix and are renamed only once complete.
const char* const kPartSuffix = ".part";

std::atomic<int> s_clientCount{0};

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A value written by hand as a,b reads back from an INI file as a list.
QString settingText(const QVariant& value)
{
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

// A file name from a package or a caller names a file below the volume root: relative, without "..".
bool isSafeRelativeName(const QString& name)
{
    if (name.isEmpty() || name.contains(QChar(0)) || QDir::isAbsolutePath(name) || name.startsWith(QLatin1Char('\\')) ||
        QDir::cleanPath(name) == QLatin1String("."))
        return false;
    const QStringList parts = QString(name).replace(QLatin1Char('\\'), QLatin1Char('/')).split(QLatin1Char('/'));
    return !parts.contains(QStringLiteral(".."));
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    bool isOpen() const { return m_fd >= 0; }
    // Closes now, so that a failing close is seen; false with errno set then.
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

int openPath(const QString& path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Reads up to size bytes at offset; fewer only at the end of the file. -1 on error.
qint64 readAt(int fd, char* buffer, qint64 size, qint64 offset)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t count = ::pread(fd, buffer + done, size_t(size - done), off_t(offset + done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return -1;
        if (count == 0)
            break;
        done += count;
    }
    return done;
}

bool writeAll(int fd, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t count = ::write(fd, data, size_t(size));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            if (count == 0)
                errno = EIO;
            return false;
        }
        data += count;
        size -= count;
    }
    return true;
}

// The folder that is to hold path: files are created through it, and it is flushed after them.
int openParentFolder(const QString& path)
{
    return openPath(QFileInfo(path).absolutePath(), O_RDONLY | O_DIRECTORY);
}

// A new, empty file in the folder; never through a link, so the bytes go to the volume and nowhere else.
int createInFolder(int folderFd, const QString& path)
{
    const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
    int fd;
    do {
        fd = ::openat(folderFd, name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The new directory entry must reach the device with the file's data. Some file systems cannot sync a folder;
// their entries were synced with the file.
bool syncFolder(int folderFd)
{
    return ::fsync(folderFd) == 0 || errno == EINVAL;
}

// The hidden name beside path that a file is written under until it is complete.
QString partPathFor(const QString& path)
{
    const QFileInfo info(path);
    return info.path() + QLatin1String("/.") + info.fileName() + QLatin1String(kPartSuffix);
}

// Takes away what a failed write left in the folder, but only while the name still is the file that write opened:
// never a file that someone else put there meanwhile.
void removeWrittenFile(int folderFd, const QString& path, const struct stat& written)
{
    const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
    struct stat current = {};
    if (::fstatat(folderFd, name.constData(), &current, AT_SYMLINK_NOFOLLOW) != 0 || current.st_dev != written.st_dev ||
        current.st_ino != written.st_ino)
        return;
    if (::unlinkat(folderFd, name.constData(), 0) != 0 || !syncFolder(folderFd))
        JX_WARNING << "cannot remove the unfinished" << path << ":" << qUtf8Printable(errorText(errno));
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

    QSettings settings(path, QSettings::IniFormat);
    // Every section parsed at once: QSettings parses a section only when one of its keys is asked for, and misses it
    // when a sub-group's section sorts between the two ("[OS\1]" hides [OS] Version).
    settings.allKeys();
    const auto read = [&settings](const char* group, const char* key) {
        return settingText(settings.value(QLatin1String(group) + QLatin1Char('/') + QLatin1String(key), QString()));
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
    auto* service = dynamic_cast<JXFSDeviceService*>(getDeviceService());
    if (!service)
        return false;
    drive = service->getDrive();
    return true;
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
    struct stat info = {};
    m_volumeDevice = ::stat(QFile::encodeName(drive).constData(), &info) == 0 ? qint64(info.st_dev) : -1;
}

bool JXFitDevice::isOnVolume(int fd, const QString& path)
{
    if (m_volumeDevice < 0)
        return true;
    struct stat info = {};
    if (::fstat(fd, &info) == 0 && qint64(info.st_dev) == m_volumeDevice)
        return true;
    JX_CRITICAL << path << "is no longer on the device's volume: the volume is gone";
    return false;
}

// The folder of destination, opened; -1, logged, when it does not open or is no longer on the device's volume (a
// pulled volume leaves its mount point behind as a folder of this computer).
int JXFitDevice::openFolderOnVolume(const QString& destination, const QString& label)
{
    FileDescriptor folder(openParentFolder(destination));
    if (!folder.isOpen()) {
        JX_CRITICAL << "failed to copy" << label << ": cannot open the folder of" << destination << ":"
                    << qUtf8Printable(errorText(errno));
        return -1;
    }
    if (!isOnVolume(folder.get(), destination))
        return -1;
    return folder.release();
}

// Writes data into a new file at path, flushed to the device with its folder entry.
bool JXFitDevice::writeMarkerFile(const QString& path, const QByteArray& data)
{
    FileDescriptor folder(openParentFolder(path));
    if (folder.isOpen() && !isOnVolume(folder.get(), path))
        return false;
    if (folder.isOpen()) {
        FileDescriptor fd(createInFolder(folder.get(), path));
        struct stat written = {};
        if (fd.isOpen() && ::fstat(fd.get(), &written) == 0) {
            if (writeAll(fd.get(), data.constData(), data.size()) && ::fsync(fd.get()) == 0 && fd.close() &&
                syncFolder(folder.get()))
                return true;
            const int error = errno;
            removeWrittenFile(folder.get(), path, written);
            errno = error;
        }
    }
    JX_CRITICAL << "cannot write" << path << ":" << qUtf8Printable(errorText(errno));
    return false;
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
        if (!writeMarkerFile(drive + QLatin1String("/update.ini"), QByteArray())) {
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
        image.fileName = settingText(settings.value(QStringLiteral("Name"), QString()));
        image.version = settingText(settings.value(QStringLiteral("Version"), QString()));
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
    QString drive;
    if (!mountedDrive(drive))
        return false;
    const QString folder = deviceSubFolder.isEmpty() ? drive : drive + QLatin1Char('/') + deviceSubFolder;
    const QString destination = folder + QLatin1Char('/') + fileName;
    struct stat existing = {};
    if (::lstat(QFile::encodeName(destination).constData(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        JX_CRITICAL << "failed to copy" << fileName << ":" << destination << "is no file";
        return false;
    }
    // The image replaces the device's earlier one of that name only once it reads back equal, so a failed copy
    // leaves the earlier image as it was. Both are on the volume for a moment; that needs no room beyond what the
    // space test asked for, because the earlier image was already in use when the free space was measured.
    const QString part = partPathFor(destination);
    if (!copyAndVerify(source, part, drive, fileName))
        return false;
    return moveIntoPlace(part, destination, fileName);
}

// Renames the complete copy at part to destination in one step and flushes the folder; the copy is removed when
// the rename fails.
bool JXFitDevice::moveIntoPlace(const QString& part, const QString& destination, const QString& label)
{
    FileDescriptor folder(openFolderOnVolume(destination, label));
    if (!folder.isOpen())
        return false;
    const QByteArray partName = QFile::encodeName(QFileInfo(part).fileName());
    const QByteArray name = QFile::encodeName(QFileInfo(destination).fileName());
    if (::renameat(folder.get(), partName.constData(), folder.get(), name.constData()) != 0) {
        JX_CRITICAL << "failed to copy" << label << ": cannot move it into place:" << qUtf8Printable(errorText(errno));
        ::unlinkat(folder.get(), partName.constData(), 0);
        syncFolder(folder.get());
        return false;
    }
    if (!syncFolder(folder.get())) {
        JX_CRITICAL << "failed to copy" << label << ": flushing the folder of" << destination << ":"
                    << qUtf8Printable(errorText(errno));
        return false;
    }
    return true;
}

// Streams source to destination, flushes it to the device and reads it back until it equals the source. A
// failure that waiting cannot mend (the source, a write, the flush, a vanished volume) ends the copy at once. A
// copy that fails takes its file away again: no cut-off or unverified copy stays on the device.
bool JXFitDevice::copyAndVerify(const QString& source, const QString& destination, const QString& volume,
                                const QString& label)
{
    FileDescriptor input(openPath(source, O_RDONLY));
    struct stat sourceInfo = {};
    if (!input.isOpen() || ::fstat(input.get(), &sourceInfo) != 0) {
        JX_CRITICAL << "failed to copy" << label << ": cannot open" << source << ":"
                    << qUtf8Printable(errorText(errno));
        return false;
    }
    if (!S_ISREG(sourceInfo.st_mode) || sourceInfo.st_size <= 0) {
        JX_CRITICAL << "failed to copy" << label << ":" << source << "is no file or is empty";
        return false;
    }
    const qint64 size = sourceInfo.st_size;

    FileDescriptor folder(openFolderOnVolume(destination, label));
    if (!folder.isOpen())
        return false;
    bool result = false;
    struct stat written = {};
    bool created = false;
    const auto removeUnfinished = qScopeGuard([&] {
        if (created && !result)
            removeWrittenFile(folder.get(), destination, written);
    });
    {
        FileDescriptor output(createInFolder(folder.get(), destination));
        created = output.isOpen() && ::fstat(output.get(), &written) == 0;
        if (!created) {
            JX_CRITICAL << "failed to copy" << label << ": cannot create" << destination << ":"
                        << qUtf8Printable(errorText(errno));
            return false;
        }
        std::vector<char> buffer(static_cast<size_t>(kBlockSize));
        for (qint64 offset = 0; offset < size;) {
            const qint64 count = readAt(input.get(), buffer.data(), qMin(kBlockSize, size - offset), offset);
            if (count <= 0) {
                JX_CRITICAL << "failed to copy" << label << ": reading" << source << "stopped at byte" << offset << "of"
                            << size << ":" << qUtf8Printable(count < 0 ? errorText(errno) : QString());
                return false;
            }
            if (!writeAll(output.get(), buffer.data(), count)) {
                JX_CRITICAL << "failed to copy" << label << ": writing" << destination << "at byte" << offset << ":"
                            << qUtf8Printable(errorText(errno));
                return false;
            }
            offset += count;
        }
        // "Done" lets the user pull the cable: the bytes must be on the device, not in this computer's cache.
        if (::fsync(output.get()) != 0 || !output.close()) {
            JX_CRITICAL << "failed to copy" << label << ": flushing" << destination << ":"
                        << qUtf8Printable(errorText(errno));
            return false;
        }
    }
    if (!syncFolder(folder.get())) {
        JX_CRITICAL << "failed to copy" << label << ": flushing the folder of" << destination << ":"
                    << qUtf8Printable(errorText(errno));
        return false;
    }

    const int limitMs = m_readBackLimitMs.load();
    const int retryMs = m_readBackRetryMs.load();
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (timer.elapsed() >= limitMs) {
            JX_CRITICAL << "failed to copy" << label << ": it did not read back within" << limitMs << "ms";
            break;
        }
        const ReadBack outcome = readBack(input.get(), size, destination, label);
        if (outcome == ReadBack::Match) {
            result = true;
            break;
        }
        if (outcome == ReadBack::Failed)
            break;
        if (!QFileInfo(volume).isDir()) {
            JX_CRITICAL << "failed to copy" << label << ": the volume" << volume << "is gone";
            break;
        }
        JX_DEBUG << qUtf8Printable(QStringLiteral("wait for completion of %1").arg(label));
        QThread::msleep(ulong(retryMs));
    }
    JX_DEBUG << "AC";
    return result;
}

// One read-back try: the device's copy against the source, block by block.
JXFitDevice::ReadBack JXFitDevice::readBack(int sourceFd, qint64 sourceSize, const QString& destination,
                                            const QString& label)
{
    FileDescriptor copy(openPath(destination, O_RDONLY | O_NOFOLLOW));
    if (!copy.isOpen()) {
        JX_CRITICAL << qUtf8Printable(QStringLiteral("open  %1 failed").arg(label)) << ":"
                    << qUtf8Printable(errorText(errno));
        return ReadBack::Differs;
    }
    if (!isOnVolume(copy.get(), destination))
        return ReadBack::Failed;
    // The cached pages are what was written, not what the device holds: drop them so the reads reach the device.
    ::posix_fadvise(copy.get(), 0, 0, POSIX_FADV_DONTNEED);

    struct stat copyInfo = {};
    const qint64 copySize = ::fstat(copy.get(), &copyInfo) == 0 ? qint64(copyInfo.st_size) : -1;
    JX_DEBUG << qUtf8Printable(QStringLiteral("total bytes=%1, write bytes=%2").arg(sourceSize).arg(copySize));
    if (copySize != sourceSize)
        return ReadBack::Differs;

    std::vector<char> expected(static_cast<size_t>(kBlockSize));
    std::vector<char> actual(static_cast<size_t>(kBlockSize));
    for (qint64 offset = 0; offset < sourceSize;) {
        const qint64 wanted = qMin(kBlockSize, sourceSize - offset);
        const qint64 sourceCount = readAt(sourceFd, expected.data(), wanted, offset);
        if (sourceCount != wanted) {
            JX_CRITICAL << "failed to copy" << label << ": the source changed or cannot be read at byte" << offset;
            return ReadBack::Failed;
        }
        const qint64 copyCount = readAt(copy.get(), actual.data(), wanted, offset);
        if (copyCount != wanted || std::memcmp(expected.data(), actual.data(), size_t(wanted)) != 0) {
            JX_WARNING << "the copy of" << label << "differs from the source in the block at byte" << offset;
            return ReadBack::Differs;
        }
        offset += wanted;
    }
    return ReadBack::Match;
}

// ---- Assistance data and workout component (run on the client's thread) -------------------------------------

bool JXFitDevice::writeExpiryFile(const QString& path, quint32 expiry)
{
    QByteArray data;
    QDataStream stream(&data, QIODevice::WriteOnly);
    stream << qint32(expiry);
    return writeMarkerFile(path, data);
}

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

    rememberVolume(drive);
    const auto forget = qScopeGuard([this] { forgetVolume(); });
    const QString folder = drive + QLatin1Char('/') + ALP_DIR;
    const QString target = folder + QLatin1Char('/') + file;
    const QString dateFile = folder + QLatin1String("/date.txt");
    const QString partialData = folder + QLatin1String("/.") + file + QLatin1String(kPartSuffix);
    const QString partialDate = folder + QLatin1String("/.date.txt") + QLatin1String(kPartSuffix);

    JX_DEBUG << qUtf8Printable(QStringLiteral("copy file=%1 from sourceDir=%2").arg(file, sourceDir));
    if (!copyAndVerify(source, partialData, drive, file))
        return false;
    JX_DEBUG << "write date.txt";
    if (!writeExpiryFile(partialDate, expiry)) {
        QFile::remove(partialData);
        QFile::remove(partialDate);
        return false;
    }
    // rename replaces the old file in one step; the date follows the data it belongs to.
    if (::rename(QFile::encodeName(partialData).constData(), QFile::encodeName(target).constData()) != 0) {
        JX_CRITICAL << "cannot move the new assistance data into place:" << qUtf8Printable(errorText(errno));
        QFile::remove(partialData);
        QFile::remove(partialDate);
        return false;
    }
    if (::rename(QFile::encodeName(partialDate).constData(), QFile::encodeName(dateFile).constData()) != 0) {
        JX_CRITICAL << "cannot move the new date.txt into place:" << qUtf8Printable(errorText(errno));
        QFile::remove(partialDate);
        return false;
    }
    FileDescriptor folderFd(openPath(folder, O_RDONLY | O_DIRECTORY));
    if (!folderFd.isOpen() || !syncFolder(folderFd.get())) {
        JX_CRITICAL << "cannot flush" << folder << ":" << qUtf8Printable(errorText(errno));
        return false;
    }
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
    FileDescriptor volume(openPath(system, O_RDONLY | O_DIRECTORY));
    if (!volume.isOpen() || !isOnVolume(volume.get(), system) || ::syncfs(volume.get()) != 0) {
        m_errorCode = 4;
        JX_CRITICAL << "unzip workout.zip to device failed: cannot flush" << system << ":"
                    << qUtf8Printable(errorText(errno));
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
        FileDescriptor file(openPath(entry.absoluteFilePath(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
        if (!file.isOpen())
            continue;
        ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_DONTNEED);
        buffer.resize(size_t(kBlockSize));
        for (qint64 offset = 0;; offset += kBlockSize) {
            if (readAt(file.get(), buffer.data(), kBlockSize, offset) < kBlockSize)
                break;
        }
    }
    for (const QString& child : folders)
        checkFiles(child);
}
