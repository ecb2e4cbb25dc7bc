#include "sql/ghworkoutmodel.h"

#include <QSqlQuery>

QString GHWorkoutModel::tableName() const
{
    return QStringLiteral("Workout");
}

bool GHWorkoutModel::createTabel(QSqlDatabase& db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("CREATE TABLE if not exists Workout (id INTEGER PRIMARY KEY,wid INTEGER NOT NULL,"
                                   "daily INTEGER,repeatcnt INTEGER,wtype INTEGER,subtype INTEGER,acttype INTEGER,"
                                   "name TEXT,datetime INTEGER);")))
        return false;
    // Columns of later versions; on a database that has them already these fail, which is expected.
    static const char* const laterColumns[] = {
        "alter table Workout add column createtime TEXT;", "alter table Workout add column orgid INTEGER;",
        "alter table Workout add column oneshot INTEGER;", "alter table Workout add column desc TEXT;",
        "alter table Workout add column listOrder INTEGER;"};
    for (const char* statement : laterColumns)
        query.exec(QLatin1String(statement));
    return true;
}
