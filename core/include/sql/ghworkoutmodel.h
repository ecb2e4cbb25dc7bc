#ifndef GHWORKOUTMODEL_H
#define GHWORKOUTMODEL_H

#include <QSqlDatabase>

#include "sql/ghtrainmodel.h"

class GHWorkoutModel : public GHTrainModel
{
public:
    QString tableName() const override;

    // Creates the Workout table and, only when that ran, adds the later columns (which fail, unheeded, when they
    // are there already). True when the creation ran.
    static bool createTabel(QSqlDatabase& db);
};

#endif
