#ifndef GHTRNINTERVAL_H
#define GHTRNINTERVAL_H

#include <QString>

class GHTrnDuration;
class GHTrnTarget;

// One interval of a course workout, as the texts of the file; owns its target and duration.
class GHTrnInterval
{
public:
    GHTrnInterval();
    ~GHTrnInterval();

    QString id;
    QString needLap;
    QString name;
    QString goTo; // the interval to go back to
    QString goToRepeat; // how many times
    QString logreso;
    GHTrnTarget* target; // null when absent
    GHTrnDuration* duration; // null when absent

private:
    Q_DISABLE_COPY(GHTrnInterval)
};

#endif
