#ifndef GHGPXIMPORTABLE_H
#define GHGPXIMPORTABLE_H

#include <QMap>
#include <QString>

// Receives a GPX document element by element from the reader. A start call opens a part; the on calls that fill a
// part or add to it come after its start call. Each map holds one element's values (attributes under
// "element_attribute").
class GHGpxImportable
{
public:
    virtual void setVersion(int version) = 0;
    virtual void startMetadata() = 0;
    virtual void onMetadata(QMap<QString, QString>& values) = 0;
    virtual void onMetadataExtensions(QMap<QString, QString>& values) = 0;
    virtual void startRoute() = 0;
    virtual void onRoute(QMap<QString, QString>& values) = 0;
    virtual void onRoutePoint(QMap<QString, QString>& values) = 0;
    virtual void startTrack() = 0;
    virtual void startTrackSegment() = 0;
    virtual void onTrackSegment(QMap<QString, QString>& values) = 0;
    virtual void onTrackPoint(QMap<QString, QString>& values) = 0;
    virtual void onWayPoint(QMap<QString, QString>& values) = 0;
    virtual void startTraining() = 0;
    virtual void startSensorLog() = 0;
    virtual void startLogSegment() = 0;
    virtual void onLogPoint(QMap<QString, QString>& values) = 0;
    virtual void startWorkoutLog() = 0;
    virtual void onWorkoutLog(QMap<QString, QString>& values) = 0;
    virtual void onInterval(QMap<QString, QString>& values) = 0;
    virtual void startLaps() = 0;
    virtual void onLap(QMap<QString, QString>& values) = 0;
    virtual void onSummary(QMap<QString, QString>& values) = 0;

protected:
    // Receivers are never deleted through this interface.
    ~GHGpxImportable() = default;
};

#endif
