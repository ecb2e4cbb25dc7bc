#ifndef JXEXTFLASHINFO_2M_H
#define JXEXTFLASHINFO_2M_H

class JXPSFStore;

// The layout of the 2 MB external-flash image of the second-generation data store, and its current flash header:
// per area, the table start, the first free byte and the room left. Never owns the image.
class JXExtFlashInfo_2M
{
public:
    static constexpr int LayoutWords = 46;

    // The layout words, by what they give; the ones not named have no role. A table start word is the value that
    // the flash header's table start field holds, hence the suffix.
    enum Word {
        PSFBase = 0, // the flash-header slots run from address 0 to here
        DistHeaderEnd = 1,
        POIAreaStart = 2,
        POITableStartWord = 3,
        POIAreaEnd = 4,
        POITableSize = 5,
        WorkoutAreaStart = 6,
        WorkoutTableStartWord = 7,
        WorkoutAreaEnd = 8,
        WorkoutTableSize = 9,
        RouteAreaStart = 10,
        RouteTableStartWord = 11,
        RouteAreaEnd = 12,
        RouteTableSize = 13,
        LapAreaStart = 14,
        LapAreaEnd = 15,
        LapAreaSize = 16,
        IntervalAreaStart = 17,
        IntervalAreaEnd = 18,
        IntervalAreaSize = 19,
        WorkoutLogAreaStart = 20,
        WorkoutLogTableStartWord = 21,
        WorkoutLogAreaEnd = 22,
        WorkoutLogTableSize = 23,
        TrackAreaStart = 24,
        TrackTableStartWord = 25,
        TrackAreaEnd = 27,
        TrackTableSize = 29,
        SensorLogAreaStart = 34,
        SensorLogTableStartWord = 35,
        SensorLogAreaEnd = 36,
        SensorLogTableSize = 37,
        UserInfoLogAreaStart = 38,
        UserInfoLogTableStartWord = 39,
        UserInfoLogAreaEnd = 40,
        UserInfoLogTableSize = 41,
        FlashSize = 43,
        ProfileStart = 44,
        ProfilePageSize = 45,
    };

    // Flash header fields (byte offsets in one 256-byte slot).
    enum HeaderField {
        Magic = 0,
        POIRoomLeft = 66, // u16
        WorkoutRoomLeft = 76,
        WorkoutTableStart = 80,
        WorkoutTableEnd = 84,
        RouteRoomLeft = 88,
        RouteTableStart = 92,
        RouteTableEnd = 96,
        LapRoomLeft = 100,
        LapTableStart = 104,
        LapTableEnd = 108,
        IntervalRoomLeft = 112,
        IntervalTableStart = 116,
        IntervalTableEnd = 120,
        WorkoutLogRoomLeft = 124,
        WorkoutLogTableStart = 128,
        WorkoutLogTableEnd = 132,
        TrackRoomLeft = 136,
        TrackTableStart = 140,
        TrackTableEnd = 144,
        SensorLogRoomLeft = 148,
        SensorLogTableStart = 152,
        SensorLogTableEnd = 156,
        UserInfoLogRoomLeft = 160,
        UserInfoLogTableStart = 164,
        UserInfoLogTableEnd = 168,
        TotalRoomLeft = 216,
        Checksum = 220,
    };

    static constexpr int SlotSize = 256;

    explicit JXExtFlashInfo_2M(JXPSFStore* store);

    // Words 2 to 41 for the four version bytes of the data store.
    void initialFlashDef(const unsigned char* version);
    const unsigned int* getFlashDef() const;

    // Null when the store cannot supply the header area or no slot is free; nothing is cached then, so a later
    // call asks the store again.
    char* getFlashHeader();
    // The offset of the current header in a header area of areaSize bytes: the slot before the first free one, the
    // last slot when the first is free; -1 when no slot is free.
    static int currentHeaderOffset(const char* area, int areaSize);
    // Moves the current header to slot 0 before the image is written back; without a header nothing changes.
    void flushFlashHeader();

    unsigned int getFlashSize() const;
    unsigned int getTotalStorageSize() const;
    // The track room left; 0 without a flash header.
    unsigned int getFreeStorageSize();

private:
    JXPSFStore* m_store;
    char* m_header = nullptr;
    char* m_area = nullptr;
    unsigned int m_layout[LayoutWords];
};

#endif
