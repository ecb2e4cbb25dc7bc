// Share-data import of the first-generation client.

#include "device/zelto30/jxzelto30.h"

#include <QFileInfo>

#include "../jxsharepackage.h"
#include "jxenv.h"
#include "jxlog.h"
#include "psf/gen1/jxpsf.h"

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
    QFileInfoList entries;
    const bool unpacked = JXSharePackage::unpack(path, folder, entries);
    for (const QFileInfo& entry : entries) {
        const QString kind = entry.fileName().right(3);
        if (kind.compare(QLatin1String("wrk"), Qt::CaseInsensitive) == 0)
            setShareDataTrn(entry.absoluteFilePath());
        if (kind.compare(QLatin1String("gpx"), Qt::CaseInsensitive) == 0)
            setShareDataGPX(entry.absoluteFilePath());
        m_dirty = true;
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
