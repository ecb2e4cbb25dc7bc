#ifndef GHGPXEXTLAPS_H
#define GHGPXEXTLAPS_H

#include <QString>
#include <QVector>

// One lap of a ride, or its summary (which leaves order empty).
class GHGpxExtLap
{
public:
    QString order;
    QString start;
    QString end;
    QString distance;
    QString calorie;
    QString step;
    QString altloss;
    QString altgain;
    QString speedMax;
    QString speedAvg;
    QString hrmMax;
    QString hrmAvg;
    QString cadMax;
    QString cadAvg;
    QString pwrMax;
    QString pwrAvg;
    QString rtime;
    QString gainaltlen;
    QString lostaltlen;
    QString gainalttime;
    QString lostalttime;
};

// The laps of a ride; owns its laps and the summary.
class GHGpxExtLaps
{
public:
    GHGpxExtLaps() = default;
    ~GHGpxExtLaps();

    // Appends the lap; the laps take ownership.
    void addLap(GHGpxExtLap* lap);

    QVector<GHGpxExtLap*> laps; // owned
    GHGpxExtLap* summary = nullptr; // owned; whoever replaces it deletes the old one

private:
    Q_DISABLE_COPY(GHGpxExtLaps)
};

#endif
