#include "training/ghtrnworkout.h"

#include "training/ghtrninterval.h"

GHTrnWorkout::GHTrnWorkout() = default;

GHTrnWorkout::~GHTrnWorkout()
{
    qDeleteAll(intervals);
}

void GHTrnWorkout::addInterval(GHTrnInterval* interval)
{
    intervals.append(interval);
}
