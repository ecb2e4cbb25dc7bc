#include "jxsharepackage.h"

#include <QDir>

#include "compress/jxziputil.h"
#include "jxlog.h"
#include "jxutility.h"

bool JXSharePackage::unpack(const QString& package, const QString& folder, QFileInfoList& files)
{
    files.clear();
    JXUtility::deleteDir(folder);
    QDir dir(folder);
    if (!dir.exists())
        dir.mkpath(QStringLiteral("."));

    JXZipUtil zip;
    if (!zip.decompress(package, folder)) {
        JX_WARNING << "the shared package" << package << "could not be unpacked";
        return false;
    }
    QStringList paths;
    const QStringList names = dir.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString& name : names)
        paths.append(folder + QLatin1Char('/') + name);
    // A file that keeps its ".pmz" name is passed over by the importers; the rename logs it.
    JXUtility::batchRenameFileExt(paths, QStringLiteral(".pmz"), QStringLiteral(".gpx"));

    dir.refresh();
    files = dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    return true;
}
