#include "sql/routedbm.h"

RouteDbm::RouteDbm(const QString& dbPath) : m_dbPath(dbPath) {}

QString RouteDbm::dbName() const
{
    return m_dbPath;
}

QString RouteDbm::tableName() const
{
    return QStringLiteral("Route");
}
