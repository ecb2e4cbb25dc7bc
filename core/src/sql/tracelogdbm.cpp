#include "sql/tracelogdbm.h"

#include <QSqlQuery>

#include "search/ghdevicedb.h"

QString TraceLogDbm::dbName() const
{
    return GHDeviceDB::flashDbFile("/data/route/route.dat");
}

QString TraceLogDbm::tableName() const
{
    return QStringLiteral("TraceLog");
}

bool TraceLogDbm::createTabel(QSqlDatabase& db)
{
    QSqlQuery query(db);
    return query.exec(QStringLiteral("alter table TraceLog add column pause INTEGER;"));
}
