#include "device/gal/jxgaldevice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include "device/jxdevicevolume.h"
#include "device/jxlanguageimage.h"
#include "jxenv.h"
#include "jxlog.h"

namespace {

constexpr int kImageAlignment = 2048;
// The version stamp: bytes 148-151 of the image file, repeated in the last four bytes of the image binary.
constexpr int kStampOffset = 148;
constexpr int kStampSize = 4;
// Bytes between the language file and the stamp; nothing reads them, so they are left as erased flash.
constexpr char kFillByte = char(0xFF);

const char kEnglishTag[] = "_eng_";

QString languageTag(const QStringList* languages)
{
    if (!languages || languages->isEmpty())
        return QString::fromLatin1(kEnglishTag);
    return QLatin1Char('_') + languages->first() + QLatin1Char('_');
}

// Regular files only, by name, so that the first match is the same on every file system.
QStringList packageFiles(const QString& folder, const QStringList& filters = QStringList())
{
    return QDir(folder).entryList(filters, QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Name);
}

// The package's language file for the tag, else its English one; empty when it has neither.
QString languageFileName(const QStringList& files, const QString& tag)
{
    QString english;
    for (const QString& name : files) {
        if (name.contains(tag))
            return name;
        if (english.isEmpty() && name.contains(QLatin1String(kEnglishTag)))
            english = name;
    }
    return english;
}

// A package file whole when it holds at most limit bytes; false, logged, otherwise.
bool readPackage(const QString& path, qint64 limit, QByteArray& bytes)
{
    bool tooLarge = false;
    if (JXLanguageImageFile::readPackageFile(path, limit, bytes, tooLarge))
        return true;
    if (tooLarge)
        JX_CRITICAL << "not read:" << path << "is larger than the" << limit << "bytes the device can take";
    return false;
}

} // namespace

QString JXGalDevice::packageFolder()
{
    return JXEnv::getInstance()->getTmpFolder() + QLatin1String("/langpack");
}

bool JXGalDevice::prepareImageBinary(QStringList* languages, QByteArray& out, JXClient::ImageMetaInfo* meta)
{
    const QString folder = packageFolder();
    if (!QFileInfo(folder).isDir()) {
        JX_CRITICAL << "do not exist langpack folder";
        return false;
    }
    QString reason;
    if (!meta || !isUsableImageMetaInfo(*meta, &reason)) {
        JX_CRITICAL << "can not build the image binary:" << (meta ? reason : QStringLiteral("no image description"));
        return false;
    }
    const QStringList files = packageFiles(folder);
    QString image;
    QString header;
    for (const QString& name : files) {
        if (image.isEmpty() && name.contains(meta->name))
            image = name;
        if (header.isEmpty() && name.contains(QLatin1String("header.bin")))
            header = name;
    }
    const QString language = languageFileName(files, languageTag(languages));
    const QString wanted[] = {meta->name, QStringLiteral("header.bin"), languageTag(languages)};
    const QString* found[] = {&image, &header, &language};
    for (int i = 0; i < 3; ++i) {
        if (found[i]->isEmpty()) {
            JX_CRITICAL << qUtf8Printable(QStringLiteral("file %1 does NOT exist").arg(wanted[i]));
            return false;
        }
    }
    const QString imagePath = folder + QLatin1Char('/') + image;
    const QString headerPath = folder + QLatin1Char('/') + header;
    const QString languagePath = folder + QLatin1Char('/') + language;

    // Measured first, so that a file too large for the image is never read whole.
    const qint64 imageSize = QFileInfo(imagePath).size();
    const qint64 padded = (imageSize + kImageAlignment - 1) / kImageAlignment * kImageAlignment;
    const qint64 total = padded + QFileInfo(headerPath).size() + QFileInfo(languagePath).size();
    if (total > meta->size) {
        JX_CRITICAL << qUtf8Printable(QStringLiteral(" img_temp size > %1").arg(meta->size));
        return false;
    }

    // Each read is bounded by the image: a file that grew since it was measured is not read whole.
    QByteArray binary;
    if (!readPackage(imagePath, meta->size, binary) || binary.isEmpty()) {
        JX_CRITICAL << "read bin file failed";
        return false;
    }
    if (binary.size() > padded) {
        JX_CRITICAL << qUtf8Printable(QStringLiteral(" img_temp size > %1").arg(meta->size));
        return false;
    }
    binary.append(QByteArray(int(padded - binary.size()), '\0'));
    QByteArray headerBytes;
    if (!readPackage(headerPath, meta->size - binary.size(), headerBytes) || headerBytes.isEmpty()) {
        JX_CRITICAL << "read header.bin file failed";
        return false;
    }
    binary.append(headerBytes);
    QByteArray languageBytes;
    if (!readPackage(languagePath, meta->size - binary.size(), languageBytes)) {
        JX_CRITICAL << "read language file failed";
        return false;
    }
    binary.append(languageBytes);
    // The files may have changed since they were measured.
    if (binary.size() > meta->size) {
        JX_CRITICAL << qUtf8Printable(QStringLiteral(" img_temp size > %1").arg(meta->size));
        return false;
    }
    binary.append(QByteArray(meta->size - binary.size(), kFillByte));
    binary.replace(meta->size - kStampSize, kStampSize, binary.mid(kStampOffset, kStampSize));

    if (profileUpdateResult == 2) {
        // The profile follows the image in the flash: what is left of the flash bounds it.
        QByteArray profile;
        if (!readPackage(folder + QLatin1String("/Profile.bin"), kFlashBytes - binary.size(), profile)) {
            JX_CRITICAL << "can not read the changed profile" << folder + QLatin1String("/Profile.bin");
            return false;
        }
        binary.append(profile);
    }
    out.append(binary);
    return true;
}

bool JXGalDevice::prepareLangBinary(QByteArray& out)
{
    const QString folder = packageFolder();
    if (!QFileInfo(folder).isDir()) {
        JX_CRITICAL << "do not exist langpack folder";
        return false;
    }
    JXLanguageHeader table(JXLanguageHeader::StampOfFirstNonZeroFile);
    for (const QString& name : packageFiles(folder, {QStringLiteral("*.bft")})) {
        const QString path = folder + QLatin1Char('/') + name;
        // The whole area goes into the flash: what is left of it bounds each file.
        QByteArray bytes;
        bool tooLarge = false;
        if (!JXLanguageImageFile::readPackageFile(path, kFlashBytes - table.table().size(), bytes, tooLarge)) {
            if (tooLarge) {
                JX_CRITICAL << "the language files do not fit the device's flash:" << path;
                return false;
            }
            JX_CRITICAL << "can not open file " << path;
            continue;
        }
        if (bytes.size() < JXLanguageHeader::MIN_FILE_SIZE)
            continue;
        // A language the table cannot list would be missing on the device without anyone noticing.
        if (table.isFull()) {
            JX_CRITICAL << "the package holds more than" << int(JXLanguageHeader::MAX_FILES) << "language files";
            return false;
        }
        table.add(bytes);
    }
    out = table.table();
    return true;
}

bool JXGalDevice::getLanguageOnDevice(QStringList& codes)
{
    if (isScsiService()) {
        QMutexLocker lock(&m_iniMutex);
        codes.append(languages);
        return true;
    }
    {
        QMutexLocker lock(&m_iniMutex);
        languages.clear();
    }
    QString drive;
    if (!getDrive(drive))
        return false;
    JX_DEBUG << "getLanguageOnDevice: GAL_GetProfile";
    const QString profile = libraryProfileFile(drive + QLatin1Char('/'));
    if (profile.isEmpty())
        return false;
    QString code = QSettings(profile, QSettings::IniFormat).value(QStringLiteral("Sys-langCode")).toString();
    if (code.isEmpty()) {
        JX_WARNING << "no language on device , set to english";
        code = QStringLiteral("eng");
    }
    QMutexLocker lock(&m_iniMutex);
    languages = QStringList{code};
    codes.append(languages);
    return true;
}

bool JXGalDevice::setDefLanguage(QStringList* languages, int, JXClient::ImageMetaInfo* meta)
{
    QByteArray binary;
    if (!prepareImageBinary(languages, binary, meta))
        return false;
    // The device installs whatever "/update.ini" announces: never a partial image.
    if (!writeVolumeFile(QStringLiteral("IMG.bin"), binary)) {
        JX_CRITICAL << "failed to write IMG.bin";
        return false;
    }
    if (!writeVolumeFile(QStringLiteral("update.ini"), QByteArray()))
        return false;
    copyLangFiles(packageFolder(), languages);
    return true;
}

void JXGalDevice::copyLangFiles(QString folder, QStringList* languages)
{
    QString drive;
    if (!getDrive(drive) || drive.isEmpty())
        return;
    const QString name = languageFileName(packageFiles(folder), languageTag(languages));
    const QString source = folder + QLatin1Char('/') + name;
    QByteArray stamp;
    QFile sourceFile(source);
    if (name.isEmpty() || !sourceFile.open(QIODevice::ReadOnly)) {
        JX_CRITICAL << "can not open " << source;
        return;
    }
    stamp = sourceFile.read(kStampSize);
    const JXDeviceVolume volume(drive);
    const QString langFolder = drive + QLatin1String("/Lang");
    const QString target = langFolder + QLatin1Char('/') + name;
    bool refresh = false;
    const JXDeviceVolume::Kind kind = volume.kindOf(target);
    if (kind == JXDeviceVolume::Kind::Missing) {
        copyFile(source, target);
        refresh = true;
    } else if (kind == JXDeviceVolume::Kind::File) {
        QByteArray onDevice;
        refresh = volume.readStart(target, kStampSize, onDevice) && onDevice != stamp;
    } else {
        JX_WARNING << "left alone:" << target << "is no file";
    }
    JX_DEBUG << "copyLangFile=" << (refresh ? "true" : "false");
    if (!refresh)
        return;
    for (const QString& file : volume.entryNames(langFolder)) {
        if (file.endsWith(QLatin1String(".bft")) && QFileInfo(folder + QLatin1Char('/') + file).isFile())
            copyFile(folder + QLatin1Char('/') + file, langFolder + QLatin1Char('/') + file);
    }
}

bool JXGalDevice::copyFile(QString source, QString target)
{
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.isFile()) {
        JX_CRITICAL << "can not open file " << source;
        return false;
    }
    QString drive;
    if (!getDrive(drive) || drive.isEmpty()) {
        JX_CRITICAL << "failed to copy" << source << ": no volume";
        return false;
    }
    JXDeviceVolume volume(drive);
    if (sourceInfo.size() > volume.capacity()) {
        JX_CRITICAL << "failed to copy" << source << ": it is larger than the volume";
        return false;
    }
    // Renamed over the device's own file once it reads back whole: the old file stays on every failure.
    if (!volume.copyFileIn(source, target)) {
        JX_CRITICAL << "failed to copy" << source << "to" << target;
        return false;
    }
    JX_DEBUG << "copied" << source << "to" << target;
    return true;
}
