// Share-data import of the first-generation client.

#include "device/jxzelto30.h"

#include <QDir>
#include <QFileInfo>

#include "compress/jxziputil.h"
#include "jxenv.h"
#include "jxlog.h"
#include "jxutility.h"
#include "psf/jxpsf.h"

bool JXZelto30::setShareData(QString path)
{
    // Loading the image clears the error flag; without a data store this import leaves it as the caller saw it.
    const bool errorBefore = m_error;
    getExtFlash();
    if (!m_psf) {
        JX_WARNING << "no data store to import into";
        m_error = errorBefore;
        return false;
    }
    const QString folder = JXEnv::getInstance()->getTmpFolder() + QLatin1String("/zelto30tmp");
    JXUtility::deleteDir(folder);
    QDir dir(folder);
    if (!dir.exists())
        dir.mkpath(QStringLiteral("."));

    JXZipUtil zip;
    const bool unpacked = zip.decompress(path, folder);
    if (unpacked) {
        QStringList files;
        const QStringList names = dir.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
        for (const QString& name : names)
            files.append(folder + QLatin1Char('/') + name);
        // A file that keeps its ".pmz" name is passed over below; the rename logs it.
        JXUtility::batchRenameFileExt(files, QStringLiteral(".pmz"), QStringLiteral(".gpx"));

        dir.refresh();
        const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
        for (const QFileInfo& entry : entries) {
            const QString kind = entry.fileName().right(3);
            if (kind.compare(QLatin1String("wrk"), Qt::CaseInsensitive) == 0)
                setShareDataTrn(entry.absoluteFilePath());
            if (kind.compare(QLatin1String("gpx"), Qt::CaseInsensitive) == 0)
                setShareDataGPX(entry.absoluteFilePath());
            m_dirty = true;
        }
    } else {
        JX_WARNING << "the shared package" << path << "could not be unpacked";
    }
    m_error = !unpacked;
    return unpacked;
}

bool JXZelto30::setShareDataTrn(QString path)
{
    if (!m_psf)
        return false;
    // A course the store can not read adds nothing; the store logs it.
    m_psf->TrnFromGPX(path);
    return true;
}

bool JXZelto30::setShareDataGPX(QString path)
{
    if (!m_psf)
        return false;
    m_psf->fromGPX(path);
    return true;
}
