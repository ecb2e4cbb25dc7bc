#ifndef GHWORKOUTROUTEMODEL_H
#define GHWORKOUTROUTEMODEL_H

#include <QSqlDatabase>

// The WorkoutRoute table: nothing reads or writes it through a model, only its creation lives here.
class GHWorkoutRouteModel
{
public:
    // True when the creation ran.
    static bool createTabel(QSqlDatabase& db);
};

#endif
