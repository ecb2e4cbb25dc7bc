#include "util/ghgpxextworkoutlog.h"

GHGpxExtWorkoutLog::~GHGpxExtWorkoutLog()
{
    qDeleteAll(intervals);
}

void GHGpxExtWorkoutLog::addInterval(GHGpxExtWorkoutInterval* interval)
{
    intervals.append(interval);
}
