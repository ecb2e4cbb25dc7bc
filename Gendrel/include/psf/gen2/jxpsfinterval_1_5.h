#ifndef JXPSFINTERVAL_1_5_H
#define JXPSFINTERVAL_1_5_H

#include <QString>

#include "psf/jxpsfintervaltype.h"
#include "psf/jxpsfobject.h"

// One interval of a stored workout: a 24-byte record in the interval table, which the intervals of all workouts
// share. Little-endian:
//   0  u8   bits 0-2 interval type, bit 3 duration-value flag, bits 4-7 target kind
//   1  u8   duration kind
//   2  s16  duration value
//   4  u32  next interval, from the interval table start; 0xFFFFFFFF on the last
//   8  u32  repeat: index of the interval the repetition starts from, times 24; 0xFFFFFFFF none
//   12 u8   repeat count (0xFF reads as 0)
//   13 u8   low target, bits 0-7
//   14 u8   high target, bits 0-7
//   15 u8   start segment index
//   16 u8   end segment index
//   17 u8   bit 0 target-value flag, bit 1 hard condition, bit 2 lap needed, bit 3 manual, bits 4-6 log-resolution type
//   18 u8   bits 0-3 low target bits 8-11, bits 4-7 high target bits 8-11
//   19 u8   log resolution
//   20      4 bytes not used, zero in a new record
class JXPSFInterval_1_5 : public JXPSFObject
{
public:
    static const unsigned int RecordSize = 24;
    static const unsigned int NoRepeat = 0xFFFFFFFF;

    // With create the 24 bytes are cleared and the next offset set to none.
    JXPSFInterval_1_5(char* record, bool create);
    ~JXPSFInterval_1_5() override;

    unsigned int getBytesCount() override { return RecordSize; }

    // Held only in memory: the training interval this one was made from, to resolve repeat references.
    void setID(const QString& id) { m_id = id; }
    QString getID() const { return m_id; }

    JXPSFIntervalType getItvType() const;
    void setItvType(unsigned char type);
    bool getDurValueFlag() const;
    void setDurValueFlag(bool flag);
    unsigned char getTarget() const;
    void setTarget(unsigned char target);
    unsigned char getDuration() const;
    void setDuration(unsigned char duration);
    short getDurValue() const;
    void setDurValue(short value);
    unsigned int getNext() const;
    void setNext(unsigned int offset);
    // The index within the workout's intervals, or NoRepeat.
    unsigned int getRepeat() const;
    // -1 (any negative index) for none.
    void setRepeat(int index);
    unsigned char getRptCount() const;
    void setRptCount(unsigned char count);
    unsigned char getLowTarget() const;
    void setLowTarget(unsigned char target);
    unsigned char getHighTarget() const;
    void setHighTarget(unsigned char target);
    unsigned char getStartSegIdx() const;
    void setStartSegIdx(unsigned char index);
    unsigned char getEnsSegIdx() const;
    void setEnsSegIdx(unsigned char index);
    bool getTarValueFlag() const;
    void setTarValueFlag(bool flag);
    bool isHardCon() const;
    void setHardCon(bool hard);
    bool getNeedLap() const;
    void setNeedLap(bool needLap);
    bool isManual() const;
    void setManual(bool manual);
    unsigned char getLogResoType() const;
    void setLogResoType(unsigned char type);
    unsigned char getHundredLTarget() const;
    void setHundredLTarget(unsigned char bits);
    unsigned char getHundredHTarget() const;
    void setHundredHTarget(unsigned char bits);
    unsigned char getLogReso() const;
    void setLogReso(unsigned char resolution);

private:
    unsigned char byteAt(int offset) const;
    void setBits(int offset, unsigned char mask, int shift, unsigned char value);

    QString m_id;
};

#endif
