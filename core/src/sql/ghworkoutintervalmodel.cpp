#include "sql/ghworkoutintervalmodel.h"

#include <QSqlQuery>

QString GHWorkoutIntervalModel::tableName() const
{
    return QStringLiteral("WorkoutInterval");
}

bool GHWorkoutIntervalModel::createTabel(QSqlDatabase& db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral(
            "CREATE TABLE if not exists WorkoutInterval (wid INTEGER NOT NULL,iid INTEGER NOT NULL,needlap INTEGER,"
            "name TEXT,targettype INTEGER,targetlow INTEGER,targethigh INTEGER,targetishard INTEGER,durtype INTEGER,"
            "durvalue INTEGER,durismanual INTEGER,dursegstart INTEGER,dursegend INTEGER,durlat INTEGER,"
            "durlon INTEGER,nextiid INTEGER,repeatcnt INTEGER,PRIMARY KEY(wid,iid));")))
        return false;
    // Fails, as expected, on a database that has the column already.
    query.exec(QStringLiteral("alter table WorkoutInterval add column logreso INTEGER;"));
    return true;
}
