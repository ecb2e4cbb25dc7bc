#ifndef JXPSFTRACKPOINT_1_5_H
#define JXPSFTRACKPOINT_1_5_H

#include <QtEndian>

#include "../../../../core/include/location/ghlatlng.h"
#include "psf/jxpsfobject.h"
#include "psf/jxpsfvalue.h"

class JXPSFTrackSeg_1_5;

// One delta-coded point of a track segment. The tag byte's bits 0-1 are the class, which fixes the size and the
// delta widths; bit 2 turn, bit 3 slope crest, bit 4 slope base; bits 2-7 together are the time count.
//
// Class 0 (6 bytes): i8 altitude, i16 longitude, i16 latitude. Class 1 (7): i16, i16, i16.
// Class 2 (10 bytes): i8 altitude, i32 longitude, i32 latitude. Class 3 (11): i16, i32, i32.
// Altitude deltas in tenths of a metre, position deltas in millionths of a degree.
class JXPSFTrackPoint_1_5 : public JXPSFObject
{
public:
    // With create the tag is cleared: class 0, no flags, time count 0.
    JXPSFTrackPoint_1_5(char* tag, bool create);

    // Size of a point of that class.
    static unsigned int sizeOfClass(unsigned char locType) { return 6 + (locType & 1) + ((locType & 2) ? 4 : 0); }

    unsigned char getLocType() const { return quint8(*m_data) & 0x03; }
    void setLocType(unsigned char type);
    bool isTurn() const;
    void setTurn(bool turn);
    bool isSlopeCrest() const;
    void setSlopeCrest(bool crest);
    bool isSlopeBase() const;
    void setSlopeBase(bool base);
    unsigned char getDelTime() const { return quint8(*m_data) >> 2; }

    int getDelLat() const;
    int getDelLon() const;
    short getDelAlt() const;
    // Write the low bytes into the field of the current class: set the class first.
    void setDelLat(int delta);
    void setDelLon(int delta);
    void setDelAlt(short delta);

    unsigned int getBytesCount() override { return sizeOfClass(getLocType()); }

private:
    friend class JXPSFTrackSeg_1_5; // moves its points when the list is packed

    int positionAt() const { return 2 + (getLocType() & 1); }
};

// Walks a segment's points, rebuilding absolute positions, altitudes and times. The segment's own start is not one
// of the points: the first next() gives start + first delta. A value type that reads the points' bytes in place
// (they lie back to back behind the head); no allocation per step.
class JXPSFTrackPointIter
{
public:
    explicit JXPSFTrackPointIter(JXPSFTrackSeg_1_5* segment);

    bool next()
    {
        if (m_index + 1 >= m_count) {
            finish();
            return false;
        }
        ++m_index;
        // Class bit 0 widens the altitude delta to 16 bits, bit 1 the position deltas to 32.
        const char* point = m_cursor;
        const quint8 tag = quint8(point[0]);
        const bool wideAltitude = (tag & 1) != 0;
        const bool widePosition = (tag & 2) != 0;
        const int altitude = wideAltitude ? qFromLittleEndian<qint16>(point + 1) : qint8(point[1]);
        const char* position = point + (wideAltitude ? 3 : 2);
        const int lon = widePosition ? qFromLittleEndian<qint32>(position) : qFromLittleEndian<qint16>(position);
        const int lat = widePosition ? qFromLittleEndian<qint32>(position + 4) : qFromLittleEndian<qint16>(position + 2);
        m_cursor = position + (widePosition ? 8 : 4);
        // 32-bit sums wrap as the device's do.
        m_position.setY(int(quint32(m_position.getLat()) + quint32(lat)));
        m_position.setX(int(quint32(m_position.getLng()) + quint32(lon)));
        m_alt += altitude / 10.0;
        m_time += quint32(tag >> 2) * m_timeInterval;
        return true;
    }

    GHLatLng getLatlng() const { return m_position; }
    // Metres; the invalid marker from the end on.
    double getAlt() const { return m_alt; }
    unsigned int getTime() const { return m_time; }

private:
    void finish();

    // The points loaded when the iterator was made.
    int m_count = 0;
    const char* m_cursor = nullptr;
    unsigned int m_timeInterval = 0;
    int m_index = -1;
    GHLatLng m_position;
    double m_alt = JXPSFValue::InvalidValue;
    unsigned int m_time = 0;
};

#endif
