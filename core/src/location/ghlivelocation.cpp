#include "location/ghlivelocation.h"

#include <limits>

#include "ghtruncate_p.h"

namespace {

const qint32 NO_VALUE = std::numeric_limits<qint32>::min();

// The stored form of a value times 10000, in single precision; false when it has none.
bool storedForm(float value, qint32& stored, const char* caller)
{
    if (ghTruncateToInt(static_cast<double>(value * 10000.0f), stored))
        return true;
    qWarning("%s: %g has no stored form; clearing it", caller, static_cast<double>(value));
    return false;
}

} // namespace

GHLiveLocation::GHLiveLocation(const QString& provider)
    : m_hasSpeed(false), m_speed(0), m_hasBearing(false), m_bearing(0), m_provider(provider)
{
}

GHLiveLocation::~GHLiveLocation() = default;

float GHLiveLocation::getSpeed() const
{
    return static_cast<float>(m_speed) / 10000.0f;
}

void GHLiveLocation::setSpeed(float speed)
{
    qint32 stored = 0;
    m_hasSpeed = storedForm(speed, stored, "GHLiveLocation::setSpeed");
    m_speed = m_hasSpeed ? stored : 0;
}

float GHLiveLocation::getBearing() const
{
    return static_cast<float>(m_bearing) / 10000.0f;
}

void GHLiveLocation::setBearing(float bearing)
{
    qint32 stored = 0;
    m_hasBearing = storedForm(bearing, stored, "GHLiveLocation::setBearing");
    m_bearing = m_hasBearing ? stored : 0;
}

void GHLiveLocation::setLiveData(int speed, int bearing, int altitude)
{
    m_hasSpeed = speed != NO_VALUE;
    m_speed = m_hasSpeed ? speed : 0;
    m_hasBearing = bearing != NO_VALUE;
    m_bearing = m_hasBearing ? bearing : 0;
    setInternalAltitude(altitude);
}

void GHLiveLocation::set(const GHLiveLocation* other)
{
    if (!other) {
        qWarning("GHLiveLocation::set: no location to copy");
        return;
    }
    m_provider = other->m_provider;
    m_hasSpeed = other->m_hasSpeed;
    m_speed = other->m_speed;
    m_hasBearing = other->m_hasBearing;
    m_bearing = other->m_bearing;
    m_altitude = other->m_altitude;
    m_hasAltitude = other->m_hasAltitude;
    setTimestamp(other->getTimestamp());
    setLatLng(other->getLatitude(), other->getLongitude());
}
