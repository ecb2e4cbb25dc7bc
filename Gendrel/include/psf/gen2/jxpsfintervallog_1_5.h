#ifndef JXPSFINTERVALLOG_1_5_H
#define JXPSFINTERVALLOG_1_5_H

// The start and end of one ridden interval of a workout log: 8 bytes, two u32 times in seconds since
// 1970-01-01 00:00 UTC, little-endian.
class JXPSFIntervalLog_1_5
{
public:
    static const unsigned int RecordSize = 8;

    explicit JXPSFIntervalLog_1_5(char* record) : m_data(record) {}

    unsigned int getStartTime() const;
    unsigned int getEndTime() const;

private:
    char* m_data;
};

#endif
