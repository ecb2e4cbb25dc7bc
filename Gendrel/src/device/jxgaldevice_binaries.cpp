#include "device/jxgaldevice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include "device/jxlanguageimage.h"
#include "jxclock.h"
#include "jxenv.h"
#include "jxlog.h"

namespace {

constexpr int kImageAlignment = 2048;
// The version stamp: bytes 148-151 of the image file, repeated in the last four bytes of the image binary.
constexpr int kStampOffset = 148;
constexpr int kStampSize = 4;
// Bytes between the language file and the stamp; nothing reads them, so they are left as erased flash.
constexpr char kFillByte = char(0xFF);
// How long a file written onto the volume may take to read back whole, and the pause between tries.
constexpr qint64 kReadBackLimitMs = 30000;
constexpr qint64 kReadBackRetryMs = 5000;

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

QByteArray readWhole(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool createEmptyFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        JX_CRITICAL << "can not create" << path << ":" << file.errorString();
        return false;
    }
    file.close();
    return true;
}

bool writeWhole(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() || !file.flush()) {
        JX_CRITICAL << "can not write" << path << ":" << file.errorString();
        return false;
    }
    file.close();
    return file.error() == QFileDevice::NoError;
}

// A volume may hold written data back for a while: true once path reads back as bytes, trying for at most 30 s.
bool readsBackWhole(const QString& path, const QByteArray& bytes, const char* waitMessage)
{
    const qint64 written = JXClock::nowMs();
    while (JXClock::nowMs() - written < kReadBackLimitMs) {
        QFile copy(path);
        if (!copy.open(QIODevice::ReadOnly))
            JX_WARNING << "open" << QFileInfo(path).fileName() << "failed";
        else if (copy.readAll() == bytes)
            return true;
        JX_WARNING << waitMessage;
        JXClock::sleepMs(kReadBackRetryMs);
    }
    return false;
}

QByteArray firstBytes(const QString& path, int count, bool* opened)
{
    QFile file(path);
    *opened = file.open(QIODevice::ReadOnly);
    return *opened ? file.read(count) : QByteArray();
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

    QByteArray binary = readWhole(imagePath);
    if (binary.isEmpty()) {
        JX_CRITICAL << "read bin file failed";
        return false;
    }
    binary.append(QByteArray(int(padded - binary.size()), '\0'));
    const QByteArray headerBytes = readWhole(headerPath);
    if (headerBytes.isEmpty()) {
        JX_CRITICAL << "read header.bin file failed";
        return false;
    }
    binary.append(headerBytes);
    binary.append(readWhole(languagePath));
    // The files may have changed since they were measured.
    if (binary.size() > meta->size) {
        JX_CRITICAL << qUtf8Printable(QStringLiteral(" img_temp size > %1").arg(meta->size));
        return false;
    }
    binary.append(QByteArray(meta->size - binary.size(), kFillByte));
    binary.replace(meta->size - kStampSize, kStampSize, binary.mid(kStampOffset, kStampSize));

    if (profileUpdateResult == 2) {
        QFile profile(folder + QLatin1String("/Profile.bin"));
        if (!profile.open(QIODevice::ReadOnly)) {
            JX_CRITICAL << "can not read the changed profile" << profile.fileName();
            return false;
        }
        binary.append(profile.readAll());
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
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            JX_CRITICAL << "can not open file " << path;
            continue;
        }
        const QByteArray bytes = file.readAll();
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
    QString drive;
    if (!getDrive(drive)) {
        JX_CRITICAL << "failed to write IMG.bin: no volume";
        return false;
    }
    const QString target = drive + QLatin1String("/IMG.bin");
    {
        QFile file(target);
        if (!file.open(QIODevice::WriteOnly) || file.write(binary) != binary.size() || !file.flush()) {
            JX_CRITICAL << "failed to write IMG.bin:" << file.errorString();
            return false;
        }
    }
    // The device installs whatever "/update.ini" announces: never a partial image.
    if (!readsBackWhole(target, binary, "wait for completion of IMG.bin")) {
        JX_CRITICAL << "failed to write IMG.bin: it did not read back whole in time";
        return false;
    }
    if (!createEmptyFile(drive + QLatin1String("/update.ini")))
        return false;
    copyLangFiles(packageFolder(), languages);
    return true;
}

void JXGalDevice::copyLangFiles(QString folder, QStringList* languages)
{
    QString drive;
    if (!getDrive(drive))
        return;
    const QString name = languageFileName(packageFiles(folder), languageTag(languages));
    const QString source = folder + QLatin1Char('/') + name;
    bool opened = false;
    const QByteArray stamp = name.isEmpty() ? QByteArray() : firstBytes(source, kStampSize, &opened);
    if (!opened) {
        JX_CRITICAL << "can not open " << source;
        return;
    }
    const QString langFolder = drive + QLatin1String("/Lang");
    const QString target = langFolder + QLatin1Char('/') + name;
    bool refresh = false;
    if (!QFileInfo::exists(target)) {
        copyFile(source, target);
        refresh = true;
    } else {
        const QByteArray onDevice = firstBytes(target, kStampSize, &opened);
        refresh = opened && onDevice != stamp;
    }
    JX_DEBUG << "copyLangFile=" << (refresh ? "true" : "false");
    if (!refresh)
        return;
    for (const QString& file : packageFiles(langFolder, {QStringLiteral("*.bft")})) {
        if (QFileInfo(folder + QLatin1Char('/') + file).isFile())
            copyFile(folder + QLatin1Char('/') + file, langFolder + QLatin1Char('/') + file);
    }
}

bool JXGalDevice::copyFile(QString source, QString target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        JX_CRITICAL << "can not open file " << source;
        return false;
    }
    const QByteArray bytes = in.readAll();
    in.close();
    // The device's own file stays until its replacement reads back whole.
    const QString partial = target + QLatin1String(".part");
    bool copied = writeWhole(partial, bytes) && readsBackWhole(partial, bytes, "wait for completion of the copy");
    if (copied) {
        QFile::remove(target);
        copied = QFile::rename(partial, target);
    }
    if (!copied) {
        QFile::remove(partial);
        JX_CRITICAL << "failed to copy" << source << "to" << target;
        return false;
    }
    JX_DEBUG << "copied" << source << "to" << target;
    return true;
}
