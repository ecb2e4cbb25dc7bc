#ifndef JXPSFDISTHEADER_1_5_H
#define JXPSFDISTHEADER_1_5_H

// One directory entry of the distribution header: where a frame starts, from the data-store base.
//
// Record (20 bytes): u32 frame offset, u16 size (never read), 14 bytes not interpreted.
class JXPSFManagementHeaderRecord_1_5
{
public:
    static const unsigned int Size = 20;

    explicit JXPSFManagementHeaderRecord_1_5(char* record) : m_data(record) {}

    unsigned int getManHeaderOffset() const;
    unsigned short getManHeaderSize() const;

private:
    char* m_data;
};

// The distribution header at data-store base + 48: base date and time, then one management header record per
// frame. The caller keeps its 152 bytes inside the image.
//
// Header: u32 base date, u32 base time, 4 bytes not interpreted, seven 20-byte records from offset 12 (POI, route,
// workout, workout log, track data, sensor log, user info log).
class JXPSFDistHeader_1_5
{
public:
    static const unsigned int Size = 152;

    explicit JXPSFDistHeader_1_5(char* header);
    ~JXPSFDistHeader_1_5();

    JXPSFDistHeader_1_5(const JXPSFDistHeader_1_5&) = delete;
    JXPSFDistHeader_1_5& operator=(const JXPSFDistHeader_1_5&) = delete;

    unsigned int getBaseDate() const;
    unsigned int getBaseTime() const;

    JXPSFManagementHeaderRecord_1_5* getPOIMHR() const { return m_records[0]; }
    JXPSFManagementHeaderRecord_1_5* getRouteMHR() const { return m_records[1]; }
    JXPSFManagementHeaderRecord_1_5* getWorkoutMHR() const { return m_records[2]; }
    JXPSFManagementHeaderRecord_1_5* getWorkoutLogMHR() const { return m_records[3]; }
    JXPSFManagementHeaderRecord_1_5* getTrackDataMHR() const { return m_records[4]; }
    JXPSFManagementHeaderRecord_1_5* getSensorLogMHR() const { return m_records[5]; }
    JXPSFManagementHeaderRecord_1_5* getUserInfoLogMHR() const { return m_records[6]; }

private:
    void loadMHRs();

    static const int RecordCount = 7;
    JXPSFManagementHeaderRecord_1_5* m_records[RecordCount];
    char* m_data;
};

#endif
