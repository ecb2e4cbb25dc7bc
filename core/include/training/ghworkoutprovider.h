#ifndef GHWORKOUTPROVIDER_H
#define GHWORKOUTPROVIDER_H

#include <QString>
#include <QVector>

#include "training/ghworkout.h"

// Workouts in the Workout and WorkoutInterval tables of the flash home's route database, on the shared connection
// of the table models. Holds nothing: make one on the stack where needed. Every GHWorkout* returned is new and the
// caller's.
class GHWorkoutProvider
{
public:
    enum SortType { SORT_BY_NAME = 0, SORT_BY_LIST_ORDER = 1, SORT_BY_TIME = 2 };

    // Appends the listing workouts (ids, name, time, one-shot flag) of the plain list, or of the one-shot list.
    void listAll(QVector<GHWorkout*>& workouts, bool oneShotList);
    GHWorkout* findById(unsigned int wid);
    // Appends the listing workouts of the given types, each with its sub-type when subtypes has one other than -1
    // at the same index; no types select every workout. A sort outside SortType leaves the database's order.
    void findByType(QVector<GHWorkout*>& workouts, QVector<GHWorkout::WorkoutType>& types, QVector<int>& subtypes,
                    SortType sort);

    // The local wall-clock time counted as if it were UTC, stepped up past the ids already stored.
    unsigned int getNextNewId();

    // Inserts the workout and its intervals as one transaction: false with nothing written when any insert fails.
    // A name that is blank in English is stored, and left in the workout, as "NoName". The workout's rowId is not
    // set.
    bool create(GHWorkout* workout);
    // What getPrimaryKey gives when no workout has the id.
    static constexpr unsigned int NO_PRIMARY_KEY = 4294967295u;
    // NO_PRIMARY_KEY when no workout has this id.
    unsigned int getPrimaryKey(unsigned int wid);
    // The Workout row and its interval rows; failures go unreported.
    void remove(unsigned int rowId);
    void remove(GHWorkout* workout);

    // Fills the columns and intervals that a listing workout lacks, once; false, with nothing changed, when its row
    // is gone.
    bool loadDetail(GHWorkout* workout);
    // Writes the workout and the rows of its intervals back as one transaction: false with nothing changed when any
    // statement fails. Intervals without a row are not added and rows without an interval stay.
    bool update(GHWorkout* workout);

    // Writes the stored workout as a training-course file, flushed to the disk unless durable is false; a one-shot
    // workout is deleted once the file is written.
    bool exportWorkout(unsigned int wid, QString& path, bool durable = true);
    // The fully loaded workout, or null.
    GHWorkout* _createWorkout(unsigned int wid);
};

#endif
