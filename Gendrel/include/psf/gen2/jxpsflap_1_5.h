#ifndef JXPSFLAP_1_5_H
#define JXPSFLAP_1_5_H

#include "psf/jxpsfobject.h"
#include "psf/jxpsfvalue.h"

// One lap (or the summary lap) of a recorded track, as the device writes it; read only.
//
// Record (56 bytes): u32 start time, u32 end time, u32 distance, u8 average and maximum speed (speed code), u8
// average and maximum heart rate, u8 average and maximum cadence (or stride code), u16 average and maximum power,
// u16 altitude gain, u16 altitude loss, u16 calories, u32 riding time, u32 length climbed, u32 length descended,
// u32 time climbing, u32 time descending, u32 work, u8 (bits 0-3 sub-activity type), 3 bytes not used.
class JXPSFLap_1_5 : public JXPSFObject
{
public:
    static const unsigned int Size = 56;

    explicit JXPSFLap_1_5(char* record) : JXPSFObject(record) {}

    unsigned int getStartTime() const;
    unsigned int getEndTime() const;
    unsigned int getDistance() const;
    JXPSFValue getAvgSpeed() const;
    JXPSFValue getMaxSpeed() const;
    unsigned char getAvgBPM() const;
    unsigned char getMaxBPM() const;
    unsigned char getAvgRPM() const;
    unsigned char getMaxRPM() const;
    JXPSFValue getAvgStride() const;
    JXPSFValue getMaxStride() const;
    unsigned short getAvgPower() const;
    unsigned short getMaxPower() const;
    unsigned short getGainAlt() const;
    unsigned short getLostAlt() const;
    unsigned short getCalorie() const;
    unsigned int getRTime() const;
    unsigned int getGainLen() const;
    unsigned int getLostLen() const;
    unsigned int getGainTime() const;
    unsigned int getLostTime() const;
    unsigned int getWork() const;
    unsigned char getSubActType() const;

    unsigned int getBytesCount() override { return Size; }
};

#endif
