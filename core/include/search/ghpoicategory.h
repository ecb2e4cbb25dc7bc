#ifndef GHPOICATEGORY_H
#define GHPOICATEGORY_H

#include <QString>

// One POI category of the older devices' poi.dat.
class GHPoiCategory
{
public:
    int id = 0;
    QString name;
    QString icon;
};

#endif
