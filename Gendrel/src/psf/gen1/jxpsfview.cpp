#include "psf/gen1/jxpsfview.h"

// Out of line: inlined into the writers, GCC takes the image for Qt's empty shared array and warns about every
// write, although contains() has checked the bounds.
bool JXPSFViewWriter::put(qint64 offset, const void* value, int length)
{
    if (!contains(offset, length))
        return false;
    memcpy(m_data + offset, value, size_t(length));
    return true;
}
