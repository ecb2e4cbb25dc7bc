#ifndef GHTRNCRS_H
#define GHTRNCRS_H

#include "training/ghtrnexportable.h"
#include "training/ghtrnimportable.h"

#include <QVector>

class GHTrnInterval;
class GHTrnMetadata;
class GHTrnWorkout;

// A training course in memory: filled once, by GHTrnReader or by device code that sets the records directly, then
// written any number of times through GHTrnWriter. Values stay the texts of the file; an empty text is not written.
// The course owns its metadata and workouts, also the ones device code puts in.
class GHTrncrs : public GHTrnImportable, public GHTrnExportable
{
public:
    GHTrncrs();

    void startMetadata() override;
    void onMetadata(QMap<QString, QString>& values) override;
    void startWorkout() override;
    void onWorkout(QMap<QString, QString>& values) override;
    void startInterval() override;
    void startTarget() override;
    void onTarget(QMap<QString, QString>& values) override;
    void startDuration() override;
    void onDuration(QMap<QString, QString>& values) override;
    void onInterval(QMap<QString, QString>& values) override;

    virtual ~GHTrncrs();

    void writeMeta(QXmlStreamWriter& writer) override;
    void writeWorkout(QXmlStreamWriter& writer) override;
    // One workout's itv elements.
    virtual void writeIntervals(QXmlStreamWriter& writer, GHTrnWorkout* workout);

    GHTrnMetadata* metadata; // null until metadata arrives
    QVector<GHTrnWorkout*> workouts; // in file order
    // Being read: not yet in the lists, and freed when reading stops before their end.
    GHTrnWorkout* currentWorkout;
    GHTrnInterval* currentInterval;

private:
    Q_DISABLE_COPY(GHTrncrs)
};

#endif
