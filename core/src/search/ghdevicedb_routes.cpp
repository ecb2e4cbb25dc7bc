// Routes and the generic row access by table name and id.

#include "search/ghdevicedb.h"

#include <QSqlError>

#include "ghdevicedb_p.h"
#include "sql/ghsqlcrud.h"
#include "sql/routedbm.h"
#include "util/ghtracelog.h"

namespace {

const QString kConnection = deviceDbConnection();

struct KnownTable
{
    const char* name;
    const char* keyColumn;
    const char* database;
};

// The tables that the generic row access serves, by exact name.
const KnownTable kKnownTables[] = {
    {"Route", "idRoute", kRouteDb},
    {"TraceLog", "idRoute", kRouteDb},
    {"MyFavorite", "idMyFavorite", kFavoriteDb},
    {"POICategory", "idPOICategory", kPoiDb},
};

// Null for any other name, and for "POICategory" in the current layout, whose devices keep no poi.dat of that kind.
const KnownTable* knownTable(const QString& name)
{
    for (const KnownTable& table : kKnownTables) {
        if (name == QLatin1String(table.name)) {
            if (qstrcmp(table.name, "POICategory") == 0 && !GHTraceLog::deprecated())
                return nullptr;
            return &table;
        }
    }
    return nullptr;
}

// The database of a known table under the id's home; empty when the table, the home or the file is missing.
QString rowDatabase(const QString& table, GHId id, const KnownTable** known)
{
    *known = knownTable(table);
    if (!*known || !GHId::namesHome(id.location))
        return QString();
    return GHDeviceDB::findDbFile(GHDeviceDB::homeOf(id.location), QString(), (*known)->database);
}

} // namespace

void GHDeviceDB::getRouteList(int routeType, QMap<GHId, QString>& routes, QString extra)
{
    _getRouteList(routeType, routes, ms_homeFlash, GHId::FLASH, extra);
    _getRouteList(routeType, routes, ms_homeStorage, GHId::STORAGE, extra);
}

void GHDeviceDB::_getRouteList(int routeType, QMap<GHId, QString>& routes, QString home, GHId::DBLOC location,
                               QString extra)
{
    Q_UNUSED(extra)
    const QString database = findDbFile(home, QString(), kRouteDb);
    if (database.isEmpty())
        return;
    RouteDbm model(database);
    QStringList columns{QStringLiteral("idRoute"), QStringLiteral("Title")};
    QVector<QVariant> values;
    model.setColumns(&columns);
    model.setOrderby(QStringLiteral("order by Title"));
    if (routeType != ALL_ROUTE_TYPES) {
        model.setFilter(QStringLiteral("RouteType=?"));
        values << routeType;
        model.setValues(&values);
    }
    QSqlQuery query = GHSqlCRUD::select(&model, true);
    if (!query.isActive()) {
        qWarning("cannot list the routes of %s: %s", qUtf8Printable(database),
                 qUtf8Printable(query.lastError().text()));
        return;
    }
    while (query.next()) {
        bool ok = false;
        const int rowId = query.value(0).toInt(&ok);
        if (!ok) {
            qWarning("%s: skipping a route whose id \"%s\" is no number", qUtf8Printable(database),
                     qUtf8Printable(query.value(0).toString()));
            continue;
        }
        routes.insert(GHId(rowId, location), query.value(1).toString());
    }
}

bool GHDeviceDB::updateRoute(GHId id, QStringList& columns, QVector<QVariant>& values)
{
    if (!GHId::namesHome(id.location))
        return false;
    const QString database = findDbFile(homeOf(id.location), QString(), kRouteDb);
    if (database.isEmpty())
        return false;
    RouteDbm model(database);
    model.setFilter(QStringLiteral("idRoute=%1").arg(id.rowId));
    model.setColumns(&columns);
    model.setValues(&values);
    if (!GHSqlCRUD::update(&model)) {
        qWarning("cannot update %s of route %d in %s", qUtf8Printable(columns.join(QLatin1Char(','))), id.rowId,
                 qUtf8Printable(database));
        return false;
    }
    return true;
}

bool GHDeviceDB::deleteRoute(GHId id)
{
    if (!GHId::namesHome(id.location))
        return false;
    const QString home = homeOf(id.location);
    const QString database = findDbFile(home, QString(), kRouteDb);
    if (database.isEmpty())
        return false;
    RouteDbm model(database);
    QVector<QVariant> values{id.rowId};
    model.setFilter(QStringLiteral("idRoute=?"));
    model.setValues(&values);
    if (!GHSqlCRUD::remove(&model)) {
        qWarning("cannot delete route %d from %s", id.rowId, qUtf8Printable(database));
        return false;
    }
    // Only once the row is gone, so that a failed delete leaves the route whole.
    removeIfThere(routeGpxFile(home, id.rowId));
    return true;
}

void GHDeviceDB::_getDbData(QString table, GHId id, QStringList& columns, QVector<QVariant>& values)
{
    const KnownTable* known = nullptr;
    const QString database = rowDatabase(table, id, &known);
    std::optional<QSqlQuery> opened = forwardQuery(database);
    if (!opened)
        return;
    QSqlQuery& query = *opened;
    const QString text = QStringLiteral("select %1 from %2 where %3=?")
                             .arg(columns.join(QLatin1Char(',')), table, QLatin1String(known->keyColumn));
    bool ran = query.prepare(text);
    if (ran) {
        query.addBindValue(id.rowId);
        ran = query.exec();
    }
    if (!ran) {
        qWarning("cannot read %s of %s: %s", qUtf8Printable(columns.join(QLatin1Char(','))), qUtf8Printable(table),
                 qUtf8Printable(query.lastError().text()));
        return;
    }
    if (!query.next())
        return;
    for (int i = 0; i < columns.size(); ++i)
        values << query.value(i);
}

void GHDeviceDB::_setDbData(QString table, GHId id, QStringList& columns, QVector<QVariant>& values)
{
    const KnownTable* known = nullptr;
    const QString database = rowDatabase(table, id, &known);
    if (database.isEmpty())
        return;
    QStringList assignments;
    for (const QString& column : qAsConst(columns))
        assignments << column + QLatin1String("=?");
    const QString text = QStringLiteral("update %1 set %2 where %3=%4")
                             .arg(table, assignments.join(QLatin1Char(',')), QLatin1String(known->keyColumn))
                             .arg(id.rowId);
    std::optional<QSqlQuery> opened = forwardQuery(database);
    if (!opened)
        return;
    QSqlQuery& query = *opened;
    bool ran = query.prepare(text);
    if (ran) {
        for (const QVariant& value : qAsConst(values))
            query.addBindValue(value);
        ran = query.exec();
    }
    if (!ran)
        qWarning("cannot write %s of %s row %d: %s", qUtf8Printable(columns.join(QLatin1Char(','))),
                 qUtf8Printable(table), id.rowId, qUtf8Printable(query.lastError().text()));
}

QSqlQuery GHDeviceDB::getTableData(GHId::DBLOC location, QString table, QStringList& columns)
{
    // Every table read this way lives in the route database, the Workout table too.
    const QString database = findDbFile(homeOf(location), QString(), kRouteDb);
    QSqlDatabase db = GHSqlCRUD::opendb(database, kConnection);
    QSqlQuery query(db);
    // On a closed connection the query stays unexecuted; executing it would only add Qt's warning.
    if (db.isOpen() && !query.exec(QStringLiteral("select %1 from %2").arg(columns.join(QLatin1Char(',')), table)))
        qWarning("cannot read the table %s of %s: %s", qUtf8Printable(table), qUtf8Printable(database),
                 qUtf8Printable(query.lastError().text()));
    return query;
}

QSqlQuery GHDeviceDB::getMyDiskRouteData(QStringList& columns)
{
    return getTableData(GHId::FLASH, QStringLiteral("Route"), columns);
}

QSqlQuery GHDeviceDB::getStorageCardRouteData(QStringList& columns)
{
    return getTableData(GHId::STORAGE, QStringLiteral("Route"), columns);
}

QSqlQuery GHDeviceDB::getWorkoutData(QStringList& columns)
{
    return getTableData(GHId::FLASH, QStringLiteral("Workout"), columns);
}

void GHDeviceDB::getRouteData(GHId id, QStringList& columns, QVector<QVariant>& values)
{
    _getDbData(QStringLiteral("Route"), id, columns, values);
}

void GHDeviceDB::setRouteUpload(GHId id, bool uploaded)
{
    setUploadedColumn(QStringLiteral("Route"), id, uploaded);
}
