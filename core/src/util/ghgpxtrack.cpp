#include "util/ghgpxtrack.h"

GHGpxTrackSegment::~GHGpxTrackSegment()
{
    qDeleteAll(points);
}

void GHGpxTrackSegment::addTrackPoint(GHGpxTrackPoint* point)
{
    points.append(point);
}

GHGpxTrack::~GHGpxTrack()
{
    qDeleteAll(segments);
}

void GHGpxTrack::addTrackSegment(GHGpxTrackSegment* segment)
{
    currentSegment = segment;
    segments.append(segment);
}

void GHGpxTrack::addTrackPoint(GHGpxTrackPoint* point)
{
    if (!currentSegment) {
        delete point;
        return;
    }
    currentSegment->addTrackPoint(point);
}
