#include "device/psfdevice/jxpsfdevice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "../jxsparebuffer.h"
#include "compress/jxziputil.h"
#include "device/jxlanguageimage.h"
#include "jxenv.h"
#include "jxlanguagemap.h"
#include "jxlog.h"
#include "jxutility.h"
#include "system/jxscsideviceservice.h"

namespace {

const int kLanguageAreaSize = 0xF8800;
const unsigned char kLanguageWriteArea = 12;
const unsigned char kLanguageReadArea = 13;
const int kLanguageBlockSize = 2048;
// The language table is looked for in the area's first 0xF87FF bytes, 232 bytes at a time.
const int kHeaderSearchEnd = 0xF87FF;
const int kHeaderReadBytes = 232;
const int kBaseImageAlignment = 16;
const int kWriteAttempts = 51;

QString languagePackFolder()
{
    return JXEnv::getInstance()->getTmpFolder() + QLatin1String("/langpack");
}

// Regular files by name, so that "the first match" is the same on every file system.
QStringList packageFiles(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
}

bool isBaseImage(const QString& name)
{
    return name.contains(QLatin1String("fendir.bin"), Qt::CaseInsensitive) ||
           name.contains(QLatin1String("savolk.bin"), Qt::CaseInsensitive);
}

QString languageFileOf(const QStringList& files, const QString& code)
{
    const QString tag = QLatin1Char('_') + code + QLatin1Char('_');
    for (const QString& name : files) {
        if (name.contains(tag, Qt::CaseInsensitive))
            return name;
    }
    return QString();
}

JXSpareBuffer& spareLanguageArea()
{
    // Never destroyed: a client that outlives the other statics still hands its buffer back.
    static JXSpareBuffer* spare = new JXSpareBuffer;
    return *spare;
}

QString sizeLimitMessage()
{
    return QStringLiteral(" img_temp size > \"%1\"").arg(kLanguageAreaSize);
}


} // namespace

bool JXPSFDevice::getLanguageOnDevice(QStringList& codes)
{
    if (m_languageBuffer.isEmpty()) {
        m_languageBuffer = spareLanguageArea().take(kLanguageAreaSize);
        m_languageBuffer.fill('\0', kLanguageAreaSize);
        if (!readFlashBlocks(m_languageBuffer.data(), kLanguageReadArea, kLanguageAreaSize, kLanguageBlockSize, 0)) {
            // A partly read area must not stand for the device's languages next time.
            m_languageBuffer.clear();
            JX_WARNING << "can not read the language area";
            return false;
        }
    }
    const int offset = JXLanguageHeader::lastHeaderOffset(m_languageBuffer);
    if (offset + kHeaderReadBytes > kHeaderSearchEnd) {
        JX_WARNING << "the language table at" << offset << "reaches past the language area";
        return false;
    }
    return JXLanguageHeader::appendKnownCodes(m_languageBuffer, offset, codes);
}

void JXPSFDevice::releaseLanguageBuffer()
{
    spareLanguageArea().give(m_languageBuffer);
}

bool JXPSFDevice::getSupportLanguage(QString path, QStringList& names)
{
    const QString folder = languagePackFolder();
    // Files of an earlier package would pass for this one's.
    if (!JXUtility::deleteDir(folder)) {
        JX_CRITICAL << "can not empty the language folder" << folder;
        return false;
    }
    if (!QDir().mkpath(folder)) {
        JX_CRITICAL << "can not make the language folder" << folder;
        return false;
    }
    if (!JXZipUtil().decompress(path, folder)) {
        JX_CRITICAL << "can not unpack the language package" << path;
        return false;
    }
    JXLanguageMap map;
    map.createMap();
    const QStringList codes = map.getLangCodes();
    for (const QString& name : packageFiles(folder)) {
        for (const QString& code : codes) {
            if (name.contains(QLatin1Char('_') + code + QLatin1Char('_'), Qt::CaseInsensitive))
                names.append(map.getLangName(code));
        }
    }
    return true;
}

bool JXPSFDevice::buildLanguageImage(const QStringList* codes, const char* caller, QByteArray& image,
                                     QString& baseImage)
{
    m_languageBuffer.clear();
    image.clear();
    baseImage.clear();
    const QString folder = languagePackFolder();
    if (!QFileInfo(folder).isDir()) {
        JX_CRITICAL << caller << "do not exist langpack folder";
        return false;
    }
    const QStringList wanted = codes ? *codes : QStringList();
    // The table has twenty slots: a longer list would lose languages the caller asked for.
    if (wanted.size() > JXLanguageHeader::MAX_FILES) {
        JX_CRITICAL << caller << wanted.size() << "languages asked for, the language table holds"
                    << int(JXLanguageHeader::MAX_FILES);
        return false;
    }
    const QStringList files = packageFiles(folder);
    JXLanguageHeader table(JXLanguageHeader::StampOfLastFile);
    qint64 room = kLanguageAreaSize - JXLanguageHeader::SIZE;
    for (const QString& code : wanted) {
        const QString name = languageFileOf(files, code);
        if (name.isEmpty())
            continue;
        const QString path = folder + QLatin1Char('/') + name;
        QByteArray bytes;
        bool tooLarge = false;
        if (!JXLanguageImageFile::readPackageFile(path, room, bytes, tooLarge)) {
            if (tooLarge) {
                JX_CRITICAL << caller << qUtf8Printable(sizeLimitMessage());
                return false;
            }
            continue;
        }
        // Shorter files hold no language code.
        if (!table.add(bytes)) {
            JX_WARNING << caller << "language file" << path << "of" << bytes.size() << "bytes left out";
            continue;
        }
        room -= bytes.size();
    }

    QByteArray base;
    for (const QString& name : files) {
        if (!isBaseImage(name))
            continue;
        const QString path = folder + QLatin1Char('/') + name;
        bool tooLarge = false;
        if (!JXLanguageImageFile::readPackageFile(path, room, base, tooLarge) && tooLarge) {
            JX_CRITICAL << caller << qUtf8Printable(sizeLimitMessage());
            return false;
        }
        if (!base.isEmpty())
            baseImage = path;
        break;
    }
    const int padding = (kBaseImageAlignment - base.size() % kBaseImageAlignment) % kBaseImageAlignment;
    image = base + QByteArray(padding, '\0') + table.table();
    if (image.size() > kLanguageAreaSize) {
        JX_CRITICAL << caller << qUtf8Printable(sizeLimitMessage());
        image.clear();
        return false;
    }
    return true;
}

bool JXPSFDevice::setDefLanguage(QStringList* codes, int)
{
    QByteArray image;
    QString baseImage;
    if (!buildLanguageImage(codes, "setDefLanguage", image, baseImage))
        return false;
    // The rest of the area is written as zeros and compared on read-back like the rest.
    image.append(QByteArray(kLanguageAreaSize - image.size(), '\0'));
    if (JXLanguageImageFile::isRequested(*this))
        return JXLanguageImageFile::save(*this, image);
    if (baseImage.isEmpty()) {
        JX_CRITICAL << "setDefLanguage image is empty";
        return false;
    }
    auto* service = dynamic_cast<JXSCSIDeviceService*>(getDeviceService());
    if (!service) {
        JX_CRITICAL << "the device has no raw-flash service to take the language image";
        return false;
    }
    QByteArray readBack(kLanguageAreaSize, '\0');
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        if (!service->writeFlashBlocks(image.data(), kLanguageWriteArea, image.size(), kLanguageBlockSize, 0)) {
            JX_CRITICAL << "write fendir image failed " << baseImage << " retry " << attempt;
            continue;
        }
        if (readFlashBlocks(readBack.data(), kLanguageReadArea, kLanguageAreaSize, kLanguageBlockSize, 0) &&
            readBack.left(image.size()) == image)
            return true;
    }
    JX_CRITICAL << "the language image did not read back equal in" << kWriteAttempts << "attempts";
    return false;
}

bool JXPSFDevice::writeLanguageFile(QStringList* codes, int)
{
    QByteArray image;
    QString baseImage;
    if (!buildLanguageImage(codes, "writeLanguageFile", image, baseImage))
        return false;
    if (JXLanguageImageFile::isRequested(*this))
        return JXLanguageImageFile::save(*this, image);
    if (baseImage.isEmpty()) {
        JX_CRITICAL << "writeLanguageFile image is empty";
        return false;
    }
    QSaveFile file(JXEnv::getInstance()->getTmpFolder() + QLatin1String("/lanfile.txt"));
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size() || !file.commit()) {
        JX_CRITICAL << "Cannot open file for writing!" << file.fileName() << file.errorString();
        return false;
    }
    return true;
}

bool JXPSFDevice::_updateTotal(QString path, QString language)
{
    QStringList names;
    // A package that does not unpack leaves the folder empty or half filled: nothing of it goes to the device.
    if (!getSupportLanguage(path, names)) {
        JX_CRITICAL << "the language package" << path << "was not unpacked: the device keeps its languages";
        JX_DEBUG << "JXPSFDevice: end of _updateTotal";
        return false;
    }
    QStringList codes;
    if (!language.isEmpty()) {
        codes.append(language);
    } else {
        // A device whose languages can not be read gets English, as one without any.
        getLanguageOnDevice(codes);
        if (codes.isEmpty())
            codes.append(QStringLiteral("eng"));
    }
    const bool ok = setDefLanguage(&codes, 0);
    const QString release = languagePackFolder() + QLatin1String("/release.ini");
    if (ok && QFileInfo::exists(release)) {
        QString model;
        getName(model);
        JXEnv::getInstance()->updateDeviceJXInfo(model, release);
    }
    JX_DEBUG << "JXPSFDevice: end of _updateTotal";
    return ok;
}
