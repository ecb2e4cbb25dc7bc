#ifndef ROUTEDBM_H
#define ROUTEDBM_H

#include "sql/ghdbmodel.h"

// The Route table of a route database that the creator names (flash or storage card).
class RouteDbm : public GHDbModel
{
public:
    explicit RouteDbm(const QString& dbPath);

    QString dbName() const override;
    QString tableName() const override;

private:
    QString m_dbPath;
};

#endif
