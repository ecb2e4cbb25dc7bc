#include "sql/tracelogdbm.h"

#include <QSqlQuery>

#include "../search/ghdevicedb_p.h"
#include "search/ghdevicedb.h"

QString TraceLogDbm::dbName() const
{
    return GHDeviceDB::flashDbFile(kRouteDb);
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
