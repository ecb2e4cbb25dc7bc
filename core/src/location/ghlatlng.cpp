#include "location/ghlatlng.h"

#include <cmath>

#include "ghtruncate_p.h"
#include "rastermap/ghmaputils.h"

namespace {

GHLatLng fromMillionths(double lat, double lng, const char* caller)
{
    qint32 latValue = 0;
    qint32 lngValue = 0;
    if (!ghTruncateToInt(lat, latValue) || !ghTruncateToInt(lng, lngValue)) {
        qWarning("%s: (%g, %g) millionths of a degree has no 32-bit value; using the null position", caller, lat, lng);
        return GHLatLng();
    }
    return GHLatLng(latValue, lngValue);
}

// Degrees, minutes and seconds summed in single precision, left to right.
double wgs84Millionths(bool negative, float degrees, float minutes, float seconds)
{
    const float value = degrees * 1000000.0f + minutes * 1000000.0f / 60.0f + seconds * 1000000.0f / 3600.0f;
    // Negating before truncating equals negating after it, and cannot overflow.
    return static_cast<double>(negative ? -value : value);
}

} // namespace

GHLatLng::GHLatLng() : m_lat(0), m_lng(0) {}

GHLatLng::GHLatLng(int lat, int lng) : m_lat(lat), m_lng(lng) {}

GHLatLng::GHLatLng(double lat, double lng) : GHLatLng(fromMillionths(lat * 1e6, lng * 1e6, "GHLatLng")) {}

GHLatLng::GHLatLng(float lat, float lng)
    : GHLatLng(fromMillionths(static_cast<double>(lat * 1000000.0f), static_cast<double>(lng * 1000000.0f), "GHLatLng"))
{
}

float GHLatLng::getLatF() const
{
    return static_cast<float>(m_lat) / 1000000.0f;
}

float GHLatLng::getLngF() const
{
    return static_cast<float>(m_lng) / 1000000.0f;
}

double GHLatLng::getLatDL() const
{
    return static_cast<double>(m_lat) / 1e6;
}

double GHLatLng::getLngDL() const
{
    return static_cast<double>(m_lng) / 1e6;
}

float GHLatLng::distanceTo(int lat, int lng) const
{
    return static_cast<float>(GHMapUtils::calcDistance(m_lat, m_lng, lat, lng));
}

float GHLatLng::directionTo(int lat, int lng) const
{
    // 64 bits: the 32-bit difference of far-apart values overflows.
    const float dy = static_cast<float>(static_cast<qint64>(lat) - m_lat);
    const float dx = static_cast<float>(static_cast<qint64>(lng) - m_lng);
    return static_cast<float>(std::atan2(static_cast<double>(dy), static_cast<double>(dx)) * 57.29577951308232);
}

QString GHLatLng::toString() const
{
    return QStringLiteral("LatLng:(%1,%2)").arg(m_lat).arg(m_lng);
}

GHLatLng GHLatLng::fromWGS84(LatitudeType latType, float latDeg, float latMin, float latSec, LongitudeType lngType,
                             float lngDeg, float lngMin, float lngSec)
{
    return fromMillionths(wgs84Millionths(latType == South, latDeg, latMin, latSec),
                          wgs84Millionths(lngType == West, lngDeg, lngMin, lngSec), "GHLatLng::fromWGS84");
}
