#ifndef GHDEVICEDBFILES_P_H
#define GHDEVICEDBFILES_P_H

#include <QFile>
#include <QFileInfo>
#include <QString>

#include "search/ghdevicedb.h"

// Where a device home keeps its databases, relative to the home. Inline arrays have one address in the whole
// program, which GHDeviceDB::flashDbFile tells its paths apart by.
inline constexpr char kRouteDb[] = "/data/route/route.dat";
inline constexpr char kFavoriteDb[] = "/data/poi/favorite.dat";
inline constexpr char kPoiDb[] = "/data/poi/poi.dat";

// The one connection that every device database is opened on.
inline QString deviceDbConnection()
{
    return QStringLiteral("ghddb");
}

// A route's GPX file beside the route database of its home.
inline QString routeGpxFile(const QString& home, qint32 rowId)
{
    return home + QStringLiteral("/data/route/route-%1.gpx").arg(rowId);
}

// Sets or clears the Uploaded column of one row in a table of the generic row access.
inline void setUploadedColumn(const QString& table, GHId id, bool uploaded)
{
    QStringList columns{QStringLiteral("Uploaded")};
    QVector<QVariant> values{uploaded ? 1 : 0};
    GHDeviceDB::_setDbData(table, id, columns, values);
}

// Removes the file, or a link left dangling in its place; true when nothing is there any more, and a file that never
// was is no error.
inline bool removeIfThere(const QString& path)
{
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return true;
    if (QFile::remove(path))
        return true;
    qWarning("cannot remove %s", qUtf8Printable(path));
    return false;
}

#endif
