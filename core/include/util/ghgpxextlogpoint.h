#ifndef GHGPXEXTLOGPOINT_H
#define GHGPXEXTLOGPOINT_H

#include <QString>

// One sensor sample (logpt) of a training or sensor log, as the texts of the file.
class GHGpxExtLogPoint
{
public:
    QString time;
    QString hrm; // heart rate
    QString cad; // cadence
    QString spd; // speed
    QString tmp; // temperature
    QString pwr; // power
    QString brm;
    QString pdm;
    QString cps;
};

#endif
