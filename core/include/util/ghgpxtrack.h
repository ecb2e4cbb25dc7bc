#ifndef GHGPXTRACK_H
#define GHGPXTRACK_H

#include <QString>
#include <QVector>

// One trkpt, as the texts of the file.
class GHGpxTrackPoint
{
public:
    QString lat;
    QString lon;
    QString ele;
    QString cmt;
    QString time;
    QString type;
    QString magvar;
    QString speed;
};

// One trkseg with its extension texts; owns its points.
class GHGpxTrackSegment
{
public:
    GHGpxTrackSegment() = default;
    ~GHGpxTrackSegment();

    // Appends the point; the segment takes ownership.
    void addTrackPoint(GHGpxTrackPoint* point);

    QString itvSegStart;
    QString itvSegEnd;
    QString order;
    QString acttype;
    QString acttypeSubtype;
    QString breaktype;
    QVector<GHGpxTrackPoint*> points; // owned

private:
    Q_DISABLE_COPY(GHGpxTrackSegment)
};

// The trk of a document; owns its segments.
class GHGpxTrack
{
public:
    GHGpxTrack() = default;
    ~GHGpxTrack();

    // Appends the segment and makes it the current one; the track takes ownership.
    void addTrackSegment(GHGpxTrackSegment* segment);
    // Appends the point to the current segment; without one the point is deleted, so the caller never keeps a
    // pointer it has handed over.
    void addTrackPoint(GHGpxTrackPoint* point);

    QVector<GHGpxTrackSegment*> segments; // owned
    GHGpxTrackSegment* currentSegment = nullptr; // one of segments, or null

private:
    Q_DISABLE_COPY(GHGpxTrack)
};

#endif
