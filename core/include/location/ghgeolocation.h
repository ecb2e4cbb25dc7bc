#ifndef GHGEOLOCATION_H
#define GHGEOLOCATION_H

#include <QString>

#include "location/ghlocation.h"

class GHLocale;
class GHPoiSearchCursor;

// One point of interest: a position with an id, and either a row of a search cursor or a custom name and address.
class GHGeoLocation
{
public:
    GHGeoLocation();
    explicit GHGeoLocation(const QString& address);

    GHLocation* getLocation() { return &m_location; }

    QString getCustomAddress() const { return m_customAddress; }
    QString getCustomName() const { return m_customName; }
    void setCustomName(const QString& name) { m_customName = name; }

    // The cursor is not owned. With a cursor the position and id are taken from its row at position.
    void setCursorPosition(GHPoiSearchCursor* cursor, int position);

    // The cursor's row, or without a cursor the custom name, -1 or an empty text.
    QString getDisplayName(GHLocale* locale = nullptr);
    QString getAddress(GHLocale* locale = nullptr);
    QString getIntro(GHLocale* locale = nullptr);
    QString getPhone();
    int getCateID();
    QString getPostcode() const { return QString(); }

private:
    GHLocation m_location;
    QString m_customAddress;
    QString m_customName;
    GHPoiSearchCursor* m_cursor;
    int m_cursorPosition;
};

#endif
