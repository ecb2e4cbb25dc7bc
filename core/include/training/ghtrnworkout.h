#ifndef GHTRNWORKOUT_H
#define GHTRNWORKOUT_H

#include <QString>
#include <QVector>

class GHTrnInterval;

// One workout of a training course, as the texts of the file; owns its intervals.
class GHTrnWorkout
{
public:
    GHTrnWorkout();
    ~GHTrnWorkout();

    // Appends the interval; the workout takes ownership.
    void addInterval(GHTrnInterval* interval);

    QString id;
    QString orgid;
    QString daily;
    QString repeat;
    QString type;
    QString subtype;
    QString listOrder;
    QString acttype;
    QString desc; // multi-language text
    QString name; // multi-language text
    QString nameShort;
    QString time;
    QString route;
    QString routeId;
    QVector<GHTrnInterval*> intervals; // in course order, owned

private:
    Q_DISABLE_COPY(GHTrnWorkout)
};

#endif
