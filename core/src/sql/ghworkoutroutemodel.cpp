#include "sql/ghworkoutroutemodel.h"

#include <QSqlQuery>

bool GHWorkoutRouteModel::createTabel(QSqlDatabase& db)
{
    QSqlQuery query(db);
    return query.exec(QStringLiteral(
        "CREATE TABLE if not exists WorkoutRoute (id INTEGER PRIMARY KEY,wid INTEGER NOT NULL,gpx BLOB);"));
}
