#ifndef GHLOCATION_H
#define GHLOCATION_H

#include <QString>
#include <QtGlobal>

#include "location/ghlatlng.h"
#include "location/ghobject.h"

// A position with a time stamp and an optional altitude. The altitude is stored times 10000.
class GHLocation : public GHObject
{
public:
    GHLocation();
    ~GHLocation() override;

    // -1 when the location has none; a POI key for a location from a POI search.
    int getId() const { return m_id; }
    void setId(int id) { m_id = id; }

    void setLocationType(unsigned type) { m_locationType = type; }
    unsigned getLocationType() const { return m_locationType; }
    void setTimestamp(unsigned timestamp) { m_timestamp = timestamp; }
    unsigned getTimestamp() const { return m_timestamp; }

    int getLatitude() const { return m_position.getLat(); }
    int getLongitude() const { return m_position.getLng(); }
    GHLatLng getLatLng() const { return m_position; }
    void setLatLng(int lat, int lng) { m_position = GHLatLng(lat, lng); }

    float getAltitude() const;
    bool hasAltitude() const { return m_hasAltitude; }
    // A value without a 32-bit stored form (not a number, too large) leaves the location without altitude.
    void setAltitude(float altitude);
    // The stored form; the smallest 32-bit integer means "no altitude".
    void setInternalAltitude(int altitude);

    float distanceTo(const GHLocation* other) const;
    float directionTo(const GHLocation* other) const;
    float bearingTo(const GHLocation* other) const;

    QString toLatitudeString() const;
    QString toLongitudeString() const;
    // Degrees, minutes and seconds of a non-negative value in millionths: "  1° 30' 00.9"".
    static QString toLatLongString(int millionths);

protected:
    qint32 m_altitude;
    bool m_hasAltitude;

private:
    qint32 m_id;
    quint32 m_locationType;
    GHLatLng m_position;
    quint32 m_timestamp;
};

#endif
