#include "psf/jxpsfvalue.h"

#include <cmath>
#include <limits>

namespace {

// Truncated toward zero and held at the signed 16-bit limits; NaN has no nearer limit and is stored as 0.
short saturatedShort(double value)
{
    if (std::isnan(value))
        return 0;
    const double truncated = std::trunc(value);
    if (truncated >= std::numeric_limits<short>::max())
        return std::numeric_limits<short>::max();
    if (truncated <= std::numeric_limits<short>::min())
        return std::numeric_limits<short>::min();
    return static_cast<short>(truncated);
}

} // namespace

JXPSFValue::JXPSFValue() : m_value(InvalidValue), m_valid(false) {}

JXPSFValue::JXPSFValue(double value) : m_value(value), m_valid(true) {}

JXPSFValue::JXPSFValue(unsigned char raw) : JXPSFValue()
{
    if (isValueValid(raw))
        *this = JXPSFValue(double(raw));
}

JXPSFValue::JXPSFValue(unsigned short raw) : JXPSFValue()
{
    if (isValueValid(raw))
        *this = JXPSFValue(double(raw));
}

JXPSFValue::JXPSFValue(unsigned int raw) : JXPSFValue()
{
    if (raw != 0xFFFFFFFFu)
        *this = JXPSFValue(double(raw));
}

int JXPSFValue::getIntValue() const
{
    // Out of range or NaN would be undefined for a plain cast.
    if (std::isnan(m_value))
        return 0;
    if (m_value >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (m_value <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(m_value);
}

bool JXPSFValue::isValueValid(unsigned char raw)
{
    return raw != 0xFF;
}

bool JXPSFValue::isValueValid(unsigned short raw)
{
    return raw != 0xFFFF;
}

bool JXPSFValue::isValueValid(double value)
{
    return !(value == InvalidValue);
}

bool JXPSFValue::isValueValid(const unsigned char* bytes, int n)
{
    for (int index = 0; index < n; ++index) {
        if (bytes[index] != 0xFF)
            return true;
    }
    return false;
}

JXPSFValue JXPSFValue::fromPSFSpeed(unsigned char raw)
{
    return isValueValid(raw) ? JXPSFValue(raw * 3.6 * 0.125) : JXPSFValue();
}

JXPSFValue JXPSFValue::stridefromPSFRpm(unsigned char raw)
{
    return isValueValid(raw) ? JXPSFValue(raw * 60 * 0.015625) : JXPSFValue();
}

JXPSFValue JXPSFValue::fromPSFTemperature(short raw)
{
    return JXPSFValue(raw / 10.0);
}

JXPSFValue JXPSFValue::fromPSFBrm(unsigned short raw)
{
    return isValueValid(raw) ? JXPSFValue(raw * 2.0) : JXPSFValue();
}

JXPSFAlt JXPSFAlt::fromDouble(double metres)
{
    return JXPSFAlt(metres);
}

JXPSFAlt JXPSFAlt::fromPSFAlt(short raw)
{
    return JXPSFAlt(raw * 0.25 - 1000);
}

JXPSFAlt JXPSFAlt::fromPSFDeltAlt(short raw, short delta)
{
    return JXPSFAlt(raw * 0.25 - 1000 + delta / 10.0);
}

short JXPSFAlt::toPSFAlt() const
{
    return saturatedShort((m_value + 1000) * 4);
}

short JXPSFAlt::toPSFDeltAlt(double nextMetres) const
{
    return saturatedShort((nextMetres - m_value) * 10);
}

void JXPSFAlt::addPSFAlt(short delta)
{
    m_value += delta / 10.0;
}

JXPSFUserValue JXPSFUserValue::fromPSFUserValue(unsigned short raw)
{
    return isValueValid(raw) ? JXPSFUserValue(raw / 100.0) : JXPSFUserValue();
}

JXPSFBikeValue JXPSFBikeValue::fromPSFBikeValue(unsigned char raw)
{
    return isValueValid(raw) ? JXPSFBikeValue(raw / 10.0) : JXPSFBikeValue();
}

JXPSFBikeValue JXPSFBikeValue::fromPSFBikeValue(unsigned short raw)
{
    return isValueValid(raw) ? JXPSFBikeValue(raw / 10.0) : JXPSFBikeValue();
}
