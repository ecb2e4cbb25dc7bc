#include "psf/gen1/jxpsfview.h"

#include "jxlog.h"

// Out of line: inlined into the writers, GCC takes the image for Qt's empty shared array and warns about every
// write, although contains() has checked the bounds.
bool JXPSFViewWriter::put(qint64 offset, const void* value, int length)
{
    if (!contains(offset, length))
        return false;
    memcpy(m_data + offset, value, size_t(length));
    return true;
}

JXPSFView JXPSFTableArea::cut(const JXPSFView& table) const
{
    if (!m_bounded || table.isEmpty())
        return table;
    const char* start = table.data();
    if (start < m_begin || start >= m_end) {
        JX_WARNING << m_what << "table lies outside its area";
        return JXPSFView();
    }
    return JXPSFView(start, qMin<qint64>(table.size(), m_end - start));
}
