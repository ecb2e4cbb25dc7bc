// Language packs of the first-generation client: the language image written to the internal flash.

#include "device/zelto30/jxzelto30.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "compress/jxziputil.h"
#include "device/jxlanguageimage.h"
#include "jxenv.h"
#include "jxlanguagemap.h"
#include "jxlog.h"
#include "jxutility.h"

namespace {

const int kLanguageWriteAttempts = 51;
// The language table follows the base image at a 16-byte boundary.
const int kBaseAlignment = 16;

QString languageFolder()
{
    return JXEnv::getInstance()->getTmpFolder() + QLatin1String("/langpack");
}

// The package's files in folder order.
QFileInfoList packageFiles(const QString& folder)
{
    return QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
}

bool isLanguageFileOf(const QFileInfo& entry, const QString& code)
{
    return entry.fileName().contains(QLatin1Char('_') + code + QLatin1Char('_'), Qt::CaseInsensitive);
}

// A file too short for its own 7-byte header carries no language: it is neither offered nor entered.
bool isUsableLanguageFile(const QFileInfo& entry)
{
    return entry.size() >= JXLanguageHeader::MIN_FILE_SIZE;
}


} // namespace

bool JXZelto30::isSaveFendirWithLanguage()
{
    return JXLanguageImageFile::isRequested(*this);
}

bool JXZelto30::getSupportLanguage(QString package, QStringList& names)
{
    const QString folder = languageFolder();
    JXUtility::deleteDir(folder);
    QDir().mkpath(folder);
    if (!JXZipUtil().decompress(package, folder)) {
        JX_WARNING << "uncompress language package failed" << package << "to" << folder;
        return false;
    }
    const QFileInfoList entries = packageFiles(folder);
    JXLanguageMap map;
    map.createMap();
    const QStringList codes = map.getLangCodes();
    for (const QString& code : codes) {
        for (const QFileInfo& entry : entries) {
            if (isLanguageFileOf(entry, code) && isUsableLanguageFile(entry))
                names.append(map.getLangName(code));
        }
    }
    return true;
}

bool JXZelto30::getLanguageOnDevice(QStringList& codes)
{
    if (m_internalImage.isEmpty()) {
        QByteArray area;
        if (!readData(area, AreaReadInternal, InternalImageSize, InternalBlockSize, 0)) {
            JX_WARNING << "reading the language area failed";
            return false;
        }
        m_internalImage = area;
    }
    const int offset = JXLanguageHeader::lastHeaderOffset(m_internalImage);
    if (!JXLanguageHeader::appendKnownCodes(m_internalImage, offset, codes)) {
        JX_WARNING << "the language table at" << offset << "reaches past the language area";
        return false;
    }
    return true;
}

bool JXZelto30::setDefLanguage(QStringList* codes, int)
{
    m_internalImage.clear();
    const QString folder = languageFolder();
    if (!QFileInfo(folder).isDir()) {
        JX_WARNING << "no unpacked language package in" << folder;
        return false;
    }
    if (!codes) {
        JX_WARNING << "no language list";
        return false;
    }

    // Everything is checked before the first block goes out: a refused package leaves the device as it was.
    const QFileInfoList entries = packageFiles(folder);
    JXLanguageHeader header(JXLanguageHeader::StampOfLastFile);
    for (const QString& code : *codes) {
        QString path;
        for (const QFileInfo& entry : entries) {
            if (!isLanguageFileOf(entry, code))
                continue;
            if (isUsableLanguageFile(entry))
                path = entry.absoluteFilePath();
            else
                JX_WARNING << "language file" << entry.absoluteFilePath() << "is shorter than its own header, skipped";
        }
        if (path.isEmpty())
            continue;
        if (header.isFull()) {
            JX_WARNING << "more than" << JXLanguageHeader::MAX_FILES << "languages: the language table holds no more";
            return false;
        }
        QByteArray file;
        bool tooLarge = false;
        if (!JXLanguageImageFile::readPackageFile(path, InternalImageSize, file, tooLarge) || !header.add(file)) {
            JX_WARNING << "can not read language file" << path << (tooLarge ? "(larger than the image)" : "");
            return false;
        }
    }

    QString basePath;
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        if (name.contains(QLatin1String("fendir.bin"), Qt::CaseInsensitive) ||
            name.contains(QLatin1String("savolk.bin"), Qt::CaseInsensitive)) {
            basePath = entry.absoluteFilePath();
            break;
        }
    }
    QByteArray image;
    bool tooLarge = false;
    if (!basePath.isEmpty() && !JXLanguageImageFile::readPackageFile(basePath, InternalImageSize, image, tooLarge) &&
        tooLarge) {
        qWarning() << " img_temp size > " << int(InternalImageSize);
        return false;
    }
    if (image.isEmpty()) {
        JX_WARNING << "no readable base image in the language package" << folder;
        return false;
    }
    const int padding = (kBaseAlignment - image.size() % kBaseAlignment) % kBaseAlignment;
    image.append(QByteArray(padding, '\0'));
    image.append(header.table());
    if (image.size() > int(InternalImageSize)) {
        // Cutting it would drop language data the table still points to.
        qWarning() << " img_temp size > " << int(InternalImageSize);
        return false;
    }
    image.append(QByteArray(int(InternalImageSize) - image.size(), '\0'));

    if (isSaveFendirWithLanguage())
        return JXLanguageImageFile::save(*this, image);

    const QString transferFile = JXEnv::getInstance()->getTmpFolder() + QLatin1String("/Zelto30flash.tmp");
    for (int attempt = 0; attempt < kLanguageWriteAttempts; ++attempt) {
        if (!writeData(&image, AreaWriteInternal, InternalBlockSize, image.size())) {
            qWarning() << "write fendir image failed " << transferFile << " retry " << attempt;
            continue;
        }
        QByteArray readBack;
        readData(readBack, AreaReadInternal, InternalImageSize, InternalBlockSize, 0);
        if (readBack.size() >= image.size() && readBack.left(image.size()) == image)
            return true;
        JX_WARNING << "language image read back differs, attempt" << attempt;
    }
    JX_WARNING << "language image not written after" << kLanguageWriteAttempts << "attempts";
    return false;
}

bool JXZelto30::_updateTotal(QString package, QString)
{
    QStringList names;
    if (!getSupportLanguage(package, names))
        return false;
    QStringList codes;
    getLanguageOnDevice(codes);
    if (codes.isEmpty())
        codes.append(QStringLiteral("eng"));
    const bool ok = setDefLanguage(&codes, 0);
    const QString releaseIni = languageFolder() + QLatin1String("/release.ini");
    if (ok && QFileInfo(releaseIni).isFile()) {
        QString model;
        getName(model);
        JXEnv::getInstance()->updateDeviceJXInfo(model, releaseIni);
    }
    return ok;
}
