#include "util/ghgpxextsensorlog.h"

#include "util/ghgpxextlogpoint.h"

GHGpxExtLogSegment::~GHGpxExtLogSegment()
{
    qDeleteAll(points);
}

void GHGpxExtLogSegment::addLogPoint(GHGpxExtLogPoint* point)
{
    points.append(point);
}

GHGpxExtSensorLog::~GHGpxExtSensorLog()
{
    qDeleteAll(segments);
}

void GHGpxExtSensorLog::addLogSegment(GHGpxExtLogSegment* segment)
{
    currentSegment = segment;
    segments.append(segment);
}

void GHGpxExtSensorLog::addLogPoint(GHGpxExtLogPoint* point)
{
    if (!currentSegment) {
        delete point;
        return;
    }
    currentSegment->addLogPoint(point);
}
