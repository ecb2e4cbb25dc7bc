#ifndef GHGPXWAYPOINT_H
#define GHGPXWAYPOINT_H

#include <QString>

// One wpt, as the texts of the file.
class GHGpxWayPoint
{
public:
    QString lat;
    QString lon;
    QString ele;
    QString time;
    QString name;
    QString cmt;
    QString desc;
    QString sym;
    QString type;
    QString isCal; // attribute of type
    QString tel;
    QString ctry;
    QString place;
    QString road;
    QString hnum;
};

#endif
