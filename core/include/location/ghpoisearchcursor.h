#ifndef GHPOISEARCHCURSOR_H
#define GHPOISEARCHCURSOR_H

#include <QString>

#include "location/ghlatlng.h"

class GHLocale;

// A cursor over the rows of a POI search result. Every read answers for the row of the last moveTo; cursors are
// shared, so readers move before each read.
class GHPoiSearchCursor
{
public:
    virtual ~GHPoiSearchCursor() = default;

    virtual bool moveTo(int position) = 0;
    virtual GHLatLng getLatLng() = 0;
    virtual QString getDisplayName(GHLocale* locale) = 0;
    virtual QString getAddress(GHLocale* locale) = 0;
    virtual int getCateID() = 0;
    virtual int getId() = 0;
    virtual QString getPhone() = 0;
    virtual QString getIntro(GHLocale* locale) = 0;
};

#endif
