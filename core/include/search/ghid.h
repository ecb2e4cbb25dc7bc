#ifndef GHID_H
#define GHID_H

#include <QtGlobal>

// A row of a device database: the table's integer key and which home's database holds it. Passed as one 64-bit
// integer, the row id is the low half and the location the high half.
class GHId
{
public:
    // Other values name no home.
    enum DBLOC : qint32 { FLASH = 0, STORAGE = 1 };

    static bool namesHome(DBLOC loc) { return loc == FLASH || loc == STORAGE; }

    GHId() : rowId(0), location(FLASH) {}
    GHId(qint32 id, DBLOC loc) : rowId(id), location(loc) {}

    static GHId fromInt64(qint64 value)
    {
        return GHId(qint32(quint32(quint64(value))), DBLOC(qint32(quint64(value) >> 32)));
    }
    qint64 toInt64() const { return qint64((quint64(quint32(location)) << 32) | quint32(rowId)); }

    // Map key order: location first, then row id, both signed.
    bool operator<(const GHId& other) const
    {
        return location != other.location ? location < other.location : rowId < other.rowId;
    }
    bool operator==(const GHId& other) const { return rowId == other.rowId && location == other.location; }
    bool operator!=(const GHId& other) const { return !(*this == other); }

    qint32 rowId;
    DBLOC location;
};

#endif
