#ifndef JXPSFUSERINFOLOG_1_5_H
#define JXPSFUSERINFOLOG_1_5_H

#include <QVector>

#include "psf/jxpsfobject.h"
#include "psf/jxpsfvalue.h"

// One set of training zones of a user-info snapshot.
//
// Record (4 + 4 n bytes): u8 (bits 0-3 zone type, bits 4-7 zone count n), 1 byte not interpreted, u16 base value,
// then n pairs of u16 low and high bounds.
class JXPSFTZone_1_5 : public JXPSFObject
{
public:
    static const unsigned int HeadSize = 4;

    explicit JXPSFTZone_1_5(char* record) : JXPSFObject(record) {}

    unsigned char getZType() const;
    unsigned char getZoneNum() const;
    unsigned short getZtypeBV() const;
    // 0xFFFF for an index outside the zone count: those bytes belong to the next record.
    unsigned short getZoneL(int index) const;
    unsigned short getZoneH(int index) const;

    unsigned int getBytesCount() override;
};

// The user's settings as the device stored them with a recorded ride, followed by its training zones.
//
// Record (24 bytes): u32 time, u16 weight (/100), u8 long stride, u8 short stride, u16 height (/100), u8 (bits 0-2
// bike ID, bit 3 not interpreted, bits 4-7 bike type), u8 bike weight (/10), u16 wheel size (/10), u8 (bits 0-2
// zone index, bits 3-5 zone record count), 5 bytes not interpreted, u16 race distance, u16 race time.
class JXPSFUserInfoLog_1_5 : public JXPSFObject
{
public:
    static const unsigned int HeadSize = 24;
    // Zone types with a name of their own.
    enum ZoneType { MHR = 4, LTHR = 5, MAP = 7, FTP = 8 };

    // end: the end of the user-info table; zones that would cross it are not loaded and the record is not complete.
    JXPSFUserInfoLog_1_5(char* record, const char* end);
    ~JXPSFUserInfoLog_1_5() override;

    JXPSFUserInfoLog_1_5(const JXPSFUserInfoLog_1_5&) = delete;
    JXPSFUserInfoLog_1_5& operator=(const JXPSFUserInfoLog_1_5&) = delete;

    bool isComplete() const { return m_complete; }

    unsigned int getTime() const;
    JXPSFUserValue getWeight() const;
    unsigned char getLStrideLen() const;
    unsigned char getSStrideLen() const;
    JXPSFUserValue getHeight() const;
    unsigned char getBikeID() const;
    unsigned char getBikeType() const;
    JXPSFBikeValue getBikeWeight() const;
    JXPSFBikeValue getBikeWheel() const;
    unsigned char getTZoneIdx() const;
    unsigned char getZTypeNum() const;
    unsigned short getRaceDist() const;
    unsigned short getRaceTime() const;

    QVector<JXPSFTZone_1_5*>& getZones() { return m_zones; }
    JXPSFTZone_1_5* findZone(unsigned char type) const;
    JXPSFTZone_1_5* getMHRZone() const { return findZone(MHR); }
    JXPSFTZone_1_5* getLTHRZone() const { return findZone(LTHR); }
    JXPSFTZone_1_5* getMAPZone() const { return findZone(MAP); }
    JXPSFTZone_1_5* getFTPZone() const { return findZone(FTP); }

    unsigned int getBytesCount() override;

private:
    void loadZones(const char* end);

    QVector<JXPSFTZone_1_5*> m_zones;
    bool m_complete = true;
};

#endif
