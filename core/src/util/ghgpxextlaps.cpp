#include "util/ghgpxextlaps.h"

GHGpxExtLaps::~GHGpxExtLaps()
{
    qDeleteAll(laps);
    delete summary;
}

void GHGpxExtLaps::addLap(GHGpxExtLap* lap)
{
    laps.append(lap);
}
