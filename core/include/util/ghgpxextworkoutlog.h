#ifndef GHGPXEXTWORKOUTLOG_H
#define GHGPXEXTWORKOUTLOG_H

#include <QString>
#include <QVector>

// One interval of the workout log.
class GHGpxExtWorkoutInterval
{
public:
    QString order;
    QString start;
    QString end;
};

// The wrklog of a ride done with a workout; owns its intervals.
class GHGpxExtWorkoutLog
{
public:
    GHGpxExtWorkoutLog() = default;
    ~GHGpxExtWorkoutLog();

    // Appends the interval; the log takes ownership.
    void addInterval(GHGpxExtWorkoutInterval* interval);

    QString id;
    QString type;
    QString subtype;
    QString lthr;
    QString mhr;
    QString ftp;
    QString map;
    QVector<GHGpxExtWorkoutInterval*> intervals; // owned

private:
    Q_DISABLE_COPY(GHGpxExtWorkoutLog)
};

#endif
