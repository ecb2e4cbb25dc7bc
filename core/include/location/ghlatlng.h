#ifndef GHLATLNG_H
#define GHLATLNG_H

#include <QString>
#include <QtGlobal>

// A position in millionths of a degree, the unit of the device formats, the ride logs and the databases. (0, 0) is
// the null position; degree values that have no 32-bit value in millionths (not a number, beyond about 2147 degrees)
// give it too.
class GHLatLng
{
public:
    // Only fromWGS84 reads these; a value other than South or West counts as North or East.
    enum LatitudeType { North = 0, South = 1 };
    enum LongitudeType { East = 0, West = 1 };

    GHLatLng();
    GHLatLng(int lat, int lng);
    // Degrees times 1e6 in double precision, truncated toward zero.
    GHLatLng(double lat, double lng);
    // Degrees times 1e6 in single precision, truncated toward zero.
    GHLatLng(float lat, float lng);

    int getLat() const { return m_lat; }
    int getLng() const { return m_lng; }
    int getY() const { return m_lat; }
    int getX() const { return m_lng; }
    void setY(int lat) { m_lat = lat; }
    void setX(int lng) { m_lng = lng; }

    float getLatF() const;
    float getLngF() const;
    double getLatDL() const;
    double getLngDL() const;

    bool isNull() const { return m_lat == 0 && m_lng == 0; }
    bool operator==(const GHLatLng& other) const { return m_lat == other.m_lat && m_lng == other.m_lng; }

    // Metres along the sphere to (lat, lng), in millionths.
    float distanceTo(int lat, int lng) const;
    // Degrees on the plane of raw degree differences: 0 east, 90 north, values in (-180, 180].
    float directionTo(int lat, int lng) const;

    QString toString() const;

    static GHLatLng fromWGS84(LatitudeType latType, float latDeg, float latMin, float latSec, LongitudeType lngType,
                              float lngDeg, float lngMin, float lngSec);

private:
    qint32 m_lat;
    qint32 m_lng;
};

#endif
