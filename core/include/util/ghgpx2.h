#ifndef GHGPX2_H
#define GHGPX2_H

#include "util/ghgpx1.h"

class GHGpxExtLap;
class GHGpxExtLaps;
class GHGpxExtSensorLog;
class GHGpxExtWorkoutLog;
class GHTrncrs;

// A GPX document with the second-generation ride extensions: sensor log, laps, workout log and workout plan. How
// metadata extensions and log points are imported depends on the file's version: 2 fills the second-generation
// fields, 1 behaves as GHGpx1, and anything else (a document nobody gave a version) ignores them.
class GHGpx2 : public GHGpx1
{
public:
    GHGpx2();

    void onMetadataExtensions(QMap<QString, QString>& values) override;
    void onTrackSegment(QMap<QString, QString>& values) override;
    void startSensorLog() override;
    void startLogSegment() override;
    void onLogPoint(QMap<QString, QString>& values) override;
    void startWorkoutLog() override;
    void onWorkoutLog(QMap<QString, QString>& values) override;
    void onInterval(QMap<QString, QString>& values) override;
    void startLaps() override;
    void onLap(QMap<QString, QString>& values) override;
    void onSummary(QMap<QString, QString>& values) override;

    ~GHGpx2() override;

    // The second-generation parts in place of the training log; the plan only with a workout log.
    void writeExtensions(QXmlStreamWriter& writer) override;
    // The user part (copied from the user-profile file when that parses whole), sys and the ride texts.
    void writeMetaExtensions(QXmlStreamWriter& writer) override;
    void writeTrksegExtensions(QXmlStreamWriter& writer, GHGpxTrackSegment* segment) override;
    void writeSensorLog(QXmlStreamWriter& writer);
    void writeWorkoutLog(QXmlStreamWriter& writer);
    void writeLaps(QXmlStreamWriter& writer);
    void writeWorkoutPlan(QXmlStreamWriter& writer);
    // The body shared by a lap and the summary: start and end, then the figures.
    void writeLap(QXmlStreamWriter& writer, GHGpxExtLap* lap);

    // Each null until started or set by device code; owned.
    GHGpxExtSensorLog* sensorLog;
    GHGpxExtLaps* laps;
    GHGpxExtWorkoutLog* workoutLog;
    GHTrncrs* workoutPlan; // set only by device code

private:
    Q_DISABLE_COPY(GHGpx2)
};

#endif
