#ifndef GHGPXEXTSENSORLOG_H
#define GHGPXEXTSENSORLOG_H

#include <QString>
#include <QVector>

class GHGpxExtLogPoint;

// One logseg of the sensor log; owns its points.
class GHGpxExtLogSegment
{
public:
    GHGpxExtLogSegment() = default;
    ~GHGpxExtLogSegment();

    // Appends the point; the segment takes ownership.
    void addLogPoint(GHGpxExtLogPoint* point);

    QVector<GHGpxExtLogPoint*> points; // owned
    QString breaktype;

private:
    Q_DISABLE_COPY(GHGpxExtLogSegment)
};

// The ssrlog of a second-generation ride; owns its segments.
class GHGpxExtSensorLog
{
public:
    GHGpxExtSensorLog() = default;
    ~GHGpxExtSensorLog();

    // Appends the segment and makes it the current one; the log takes ownership.
    void addLogSegment(GHGpxExtLogSegment* segment);
    // Appends the point to the current segment; without one the point is deleted.
    void addLogPoint(GHGpxExtLogPoint* point);

    QVector<GHGpxExtLogSegment*> segments; // owned
    GHGpxExtLogSegment* currentSegment = nullptr; // one of segments, or null

private:
    Q_DISABLE_COPY(GHGpxExtSensorLog)
};

#endif
