#ifndef JXPSFWORKOUT_1_5_H
#define JXPSFWORKOUT_1_5_H

#include <QString>
#include <QVector>

#include "psf/jxpsfnamedobject.h"

class JXPSFArea;
class JXPSFInterval_1_5;
class JXPSFMultiLangString_1_5;

// One planned workout of the second-generation data store: a 40-byte record in the workout table, then its name
// records, then its description records. Owns the views on its intervals, names and descriptions, never the bytes.
// Little-endian; offsets of 0xFFFFFFFF are none:
//   0  u32  activation time
//   4  u32  workout ID
//   8  u32  first interval, from the interval table start
//   12 u32  first workout log, from the workout-log list start
//   16 u8   bits 0-3 activity type, bit 4 daily, bit 5 names are bitmaps, bit 6 uploaded
//   17 u8   bits 0-4 repeat count, bits 5-7 workout type
//   18 u8   bits 0-3 sub-type
//   19      not used
//   20 u32  route offset
//   24      4 bytes not used
//   28 u32  next workout, from the workout table start
//   32 u32  first name, from this record's first byte
//   36 u32  first description, from this record's first byte
//   40      names, then descriptions, each chain ended by a record without its has-next bit
class JXPSFWorkout_1_5 : public JXPSFNamedObject
{
public:
    static const unsigned int RecordSize = 40;
    static const unsigned int None = 0xFFFFFFFF;

    // With a null interval table the record is initialised as a new one: its 40 bytes cleared, then every offset
    // set to none. Otherwise its intervals (at most maxIntervals) are loaded from the interval table and its names
    // and descriptions up to end, the workout table end.
    JXPSFWorkout_1_5(char* record, const JXPSFArea* intervalTable, const char* end, unsigned int maxIntervals);
    ~JXPSFWorkout_1_5() override;

    unsigned int getBytesCount() override;
    bool isBitFont() override;
    void setBitFont(bool bitFont) override;
    unsigned int getNameOffset() override;
    void setNameOffset(unsigned int offset) override;

    // An interval chain ends at an absent offset, at an offset outside the table and after maxIntervals steps.
    void loadInterval(const JXPSFArea& intervalTable, unsigned int maxIntervals);
    void loadNames(const char* end);
    void loadDescriptions(const char* end);

    QVector<JXPSFInterval_1_5*>& getIntervals() { return m_intervals; }
    // Takes ownership.
    void addInterval(JXPSFInterval_1_5* interval);
    QVector<JXPSFMultiLangString_1_5*>& getDescriptions() { return m_descriptions; }
    // Appends a description after the names and earlier descriptions; the caller has made room for it.
    JXPSFMultiLangString_1_5* createDescription(QString text, QString code);

    unsigned int getActivateTime() const;
    void setActivateTime(unsigned int time);
    unsigned int getID() const;
    void setID(unsigned int id);
    unsigned int getItvOffset() const;
    void setItvOffset(unsigned int offset);
    unsigned int getWrkLogOffset() const;
    void setWrkLogOffset(unsigned int offset);
    unsigned char getActType() const;
    void setActType(unsigned char type);
    bool isDaily() const;
    void setDaily(bool daily);
    bool isUploaded() const;
    void setUploaded(bool uploaded);
    unsigned char getRepeatCount() const;
    void setRepeatCount(unsigned char count);
    unsigned char getWrkType() const;
    void setWrkType(unsigned char type);
    unsigned char getSubType() const;
    void setSubType(unsigned char type);
    unsigned int getRteOffset() const;
    void setRteOffset(unsigned int offset);
    unsigned int getNextOffset() const;
    void setNextOffset(unsigned int offset);
    unsigned int getDesOffset() const;
    void setDesOffset(unsigned int offset);

private:
    // The first record of a chain at offset from this record, or null when it is absent or not below end.
    char* chainStart(unsigned int offset, const char* end, const char* what) const;
    void setBits(int offset, unsigned char mask, int shift, unsigned char value);

    QVector<JXPSFInterval_1_5*> m_intervals;
    QVector<JXPSFMultiLangString_1_5*> m_descriptions;
};

#endif
