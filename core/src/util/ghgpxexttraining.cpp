#include "util/ghgpxexttraining.h"

#include "util/ghgpxextlogpoint.h"

GHGpxExtTraining::~GHGpxExtTraining()
{
    qDeleteAll(points);
}

void GHGpxExtTraining::addLogPoint(GHGpxExtLogPoint* point)
{
    points.append(point);
}
