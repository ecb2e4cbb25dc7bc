#ifndef GHDEVICEDB_P_H
#define GHDEVICEDB_P_H

#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QString>

#include <optional>

#include "search/ghdevicedb.h"
#include "sql/ghsqlcrud.h"

// What the files of GHDeviceDB, the table models and the ride logs share about a device home's databases.

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

// A forward-only query on the shared connection, pointed at the database file; none when the path is empty or the
// file does not open.
inline std::optional<QSqlQuery> forwardQuery(const QString& database)
{
    if (database.isEmpty())
        return std::nullopt;
    QSqlDatabase db = GHSqlCRUD::opendb(database, deviceDbConnection());
    if (!db.isOpen())
        return std::nullopt;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    return query;
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
