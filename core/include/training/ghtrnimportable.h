#ifndef GHTRNIMPORTABLE_H
#define GHTRNIMPORTABLE_H

#include <QMap>
#include <QString>

// Receives a training course element by element from GHTrnReader. Each start call comes at the element's start tag;
// each on call brings the element's finished map at its end tag, so a workout's intervals arrive before its
// onWorkout. An element cut short by bad input gets its start call but never its on call.
class GHTrnImportable
{
public:
    virtual void startMetadata() = 0;
    virtual void onMetadata(QMap<QString, QString>& values) = 0;
    virtual void startWorkout() = 0;
    virtual void onWorkout(QMap<QString, QString>& values) = 0;
    virtual void startInterval() = 0;
    virtual void startTarget() = 0;
    virtual void onTarget(QMap<QString, QString>& values) = 0;
    virtual void startDuration() = 0;
    virtual void onDuration(QMap<QString, QString>& values) = 0;
    virtual void onInterval(QMap<QString, QString>& values) = 0;

protected:
    // Receivers are never deleted through this interface.
    ~GHTrnImportable() = default;
};

#endif
