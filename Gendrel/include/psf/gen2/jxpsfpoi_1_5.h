#ifndef JXPSFPOI_1_5_H
#define JXPSFPOI_1_5_H

#include "psf/jxpsfnamedobject.h"

// One point of interest of the second-generation data store, followed by its names.
//
// Record (24 bytes): s32 longitude, s32 latitude, s16 altitude, u8 flags (bit 0 bitmap names, bit 1 calibration
// point), 1 byte not interpreted, u32 next (from the table start; 0xFFFFFFFF none), 4 bytes not interpreted, u32
// name offset (from the record start; 0xFFFFFFFF none).
class JXPSFPOI_1_5 : public JXPSFNamedObject
{
public:
    static const unsigned int HeadSize = 24;

    // end: the end of the POI table; names that would cross it are not loaded and the record is not complete.
    JXPSFPOI_1_5(char* record, const char* end);

    // False when the name chain ran past the table end.
    bool isComplete() const { return m_complete; }

    int getLng() const;
    void setLng(int lng);
    int getLat() const;
    void setLat(int lat);
    short getAlt() const;
    void setAlt(short alt);
    bool isCalibration() const;
    void setCalibration(bool calibration);
    unsigned int getNext() const;
    void setNext(unsigned int next);

    unsigned int getBytesCount() override;
    bool isBitFont() override;
    void setBitFont(bool bitFont) override;
    unsigned int getNameOffset() override;
    void setNameOffset(unsigned int offset) override;

private:
    void loadNames(const char* end);

    bool m_complete = true;
};

#endif
