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

bool JXPSFValue::isValueValid(const unsigned char* bytes, int n)
{
    for (int index = 0; index < n; ++index) {
        if (bytes[index] != 0xFF)
            return true;
    }
    return false;
}

JXPSFAlt JXPSFAlt::fromDouble(double metres)
{
    return JXPSFAlt(metres);
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
