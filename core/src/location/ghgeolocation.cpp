#include "location/ghgeolocation.h"

#include "location/ghpoisearchcursor.h"

GHGeoLocation::GHGeoLocation() : m_cursor(nullptr), m_cursorPosition(0) {}

GHGeoLocation::GHGeoLocation(const QString& address) : m_customAddress(address), m_cursor(nullptr), m_cursorPosition(0)
{
}

void GHGeoLocation::setCursorPosition(GHPoiSearchCursor* cursor, int position)
{
    if (cursor) {
        cursor->moveTo(position);
        const GHLatLng point = cursor->getLatLng();
        m_location.setLatLng(point.getLat(), point.getLng());
        m_location.setId(cursor->getId());
    }
    m_cursor = cursor;
    m_cursorPosition = position;
}

// Each read moves the cursor first: other locations of the same result move it too. moveTo's answer is not needed,
// the cursor's own reads tell when the row is gone.

QString GHGeoLocation::getDisplayName(GHLocale* locale)
{
    if (!m_cursor)
        return m_customName;
    m_cursor->moveTo(m_cursorPosition);
    return m_cursor->getDisplayName(locale);
}

QString GHGeoLocation::getAddress(GHLocale* locale)
{
    if (!m_cursor)
        return QString();
    m_cursor->moveTo(m_cursorPosition);
    return m_cursor->getAddress(locale);
}

QString GHGeoLocation::getIntro(GHLocale* locale)
{
    if (!m_cursor)
        return QString();
    m_cursor->moveTo(m_cursorPosition);
    return m_cursor->getIntro(locale);
}

QString GHGeoLocation::getPhone()
{
    if (!m_cursor)
        return QString();
    m_cursor->moveTo(m_cursorPosition);
    return m_cursor->getPhone();
}

int GHGeoLocation::getCateID()
{
    if (!m_cursor)
        return -1;
    m_cursor->moveTo(m_cursorPosition);
    return m_cursor->getCateID();
}
