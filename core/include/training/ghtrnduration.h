#ifndef GHTRNDURATION_H
#define GHTRNDURATION_H

#include <QString>

// An interval's duration, as the texts of the file.
class GHTrnDuration
{
public:
    QString type;
    QString value;
    QString ismanual;
    QString segidxStart;
    QString segidxEnd;
    QString locationLat;
    QString locationLon;
};

#endif
