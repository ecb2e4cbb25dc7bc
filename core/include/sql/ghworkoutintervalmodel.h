#ifndef GHWORKOUTINTERVALMODEL_H
#define GHWORKOUTINTERVALMODEL_H

#include <QSqlDatabase>

#include "sql/ghtrainmodel.h"

// One row per interval; its wid is the row id (column id) of the workout's Workout row.
class GHWorkoutIntervalModel : public GHTrainModel
{
public:
    QString tableName() const override;

    // Creates the WorkoutInterval table and, only when that ran, adds the later column. True when the creation
    // ran.
    static bool createTabel(QSqlDatabase& db);
};

#endif
