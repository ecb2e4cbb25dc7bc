#ifndef GHTRAINMODEL_H
#define GHTRAINMODEL_H

#include "sql/ghdbmodel.h"

// Base of the workout tables, which live in the flash home's route database.
class GHTrainModel : public GHDbModel
{
public:
    // The cached path; while the cache is empty it is first looked up in the flash home.
    QString dbName() const override;

    // The flash route database once found. GHDeviceDB::setHomeDir empties it, so that a second device's workouts
    // go to that device's database.
    static QString ms_dbnamecache;

protected:
    ~GHTrainModel();
};

#endif
