#ifndef GHGPXROUTE_H
#define GHGPXROUTE_H

#include <QString>
#include <QVector>

// One rtept, as the texts of the file.
class GHGpxRoutePoint
{
public:
    QString lat;
    QString lon;
    QString name;
    QString cmt;
    QString desc;
    QString type;
};

// The rte of a document; owns its points.
class GHGpxRoute
{
public:
    GHGpxRoute() = default;
    ~GHGpxRoute();

    // Appends the point; the route takes ownership.
    void addRoutePoint(GHGpxRoutePoint* point);

    QString name;
    QString cmt;
    QString desc;
    QString src;
    QString number; // as read; the writer counts the points instead
    QString type;
    QVector<GHGpxRoutePoint*> points; // owned

private:
    Q_DISABLE_COPY(GHGpxRoute)
};

#endif
