#include "util/ghgpxroute.h"

GHGpxRoute::~GHGpxRoute()
{
    qDeleteAll(points);
}

void GHGpxRoute::addRoutePoint(GHGpxRoutePoint* point)
{
    points.append(point);
}
