#include "location/ghlocation.h"

#include <limits>

#include "ghtruncate_p.h"

namespace {

const qint32 NO_VALUE = std::numeric_limits<qint32>::min();

// Millionths as a non-negative value; 64 bits so that the smallest 32-bit value has one.
QString degreeText(qint64 millionths)
{
    const qint64 degrees = millionths / 1000000;
    const double minutes = static_cast<double>((millionths - degrees * 1000000) * 60) / 1e6;
    const int wholeMinutes = static_cast<int>(minutes);
    const double seconds = (minutes - wholeMinutes) * 60.0;
    return QString::fromUtf8("%1\u00b0 %2' %3\"")
        .arg(degrees, 3, 10, QLatin1Char(' '))
        .arg(wholeMinutes, 2, 10, QLatin1Char('0'))
        .arg(QStringLiteral("%1").arg(seconds, 2, 'f', 1).rightJustified(4, QLatin1Char('0')));
}

QString signedDegreeText(qint32 millionths, const char* positive, const char* negative)
{
    if (millionths < 0)
        return QLatin1String(negative) + degreeText(-static_cast<qint64>(millionths));
    return QLatin1String(positive) + degreeText(millionths);
}

} // namespace

GHLocation::GHLocation() : m_altitude(0), m_hasAltitude(false), m_id(-1), m_locationType(0), m_timestamp(0) {}

GHLocation::~GHLocation() = default;

float GHLocation::getAltitude() const
{
    return static_cast<float>(m_altitude) / 10000.0f;
}

void GHLocation::setAltitude(float altitude)
{
    qint32 stored = 0;
    if (!ghTruncateToInt(static_cast<double>(altitude * 10000.0f), stored)) {
        qWarning("GHLocation::setAltitude: %g has no stored form; the location has no altitude",
                 static_cast<double>(altitude));
        setInternalAltitude(NO_VALUE);
        return;
    }
    m_altitude = stored;
    m_hasAltitude = true;
}

void GHLocation::setInternalAltitude(int altitude)
{
    m_hasAltitude = altitude != NO_VALUE;
    m_altitude = m_hasAltitude ? altitude : 0;
}

float GHLocation::distanceTo(const GHLocation* other) const
{
    if (!other) {
        qWarning("GHLocation::distanceTo: no location");
        return 0.0f;
    }
    return m_position.distanceTo(other->getLatitude(), other->getLongitude());
}

float GHLocation::directionTo(const GHLocation* other) const
{
    if (!other) {
        qWarning("GHLocation::directionTo: no location");
        return 0.0f;
    }
    return m_position.directionTo(other->getLatitude(), other->getLongitude());
}

float GHLocation::bearingTo(const GHLocation*) const
{
    return 0.0f;
}

QString GHLocation::toLatitudeString() const
{
    return signedDegreeText(m_position.getLat(), "N ", "S ");
}

QString GHLocation::toLongitudeString() const
{
    return signedDegreeText(m_position.getLng(), "E ", "W ");
}

QString GHLocation::toLatLongString(int millionths)
{
    return degreeText(millionths);
}
