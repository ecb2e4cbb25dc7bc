#include "psf/gen2/jxextflashinfo_2m.h"

#include <QtEndian>

#include <cstring>

#include "jxlog.h"
#include "psf/jxpsfstore.h"

namespace {

const unsigned int kHeaderAreaEnd = 0x6000;
const unsigned int kDistHeaderEnd = 0x7000;
const unsigned int kFlashSize = 0x200000;
const unsigned int kProfileStart = 0x1F9000;
const unsigned int kProfilePageSize = 0x1000;

// The words that differ between the two tables.
const int kFirstTableWord = JXExtFlashInfo_2M::POIAreaStart;
const int kTableWords = JXExtFlashInfo_2M::UserInfoLogTableSize - kFirstTableWord + 1;

// Words 2 to 41 for data-store version 1510.
const unsigned int kLayoutA[] = {
    0x6154,   0x6170,   0x6D28,   3000,     // POI: area start, table start, area end, table size
    0x6D28,   0x6D40,   0x80000,  0x792C0,  // workouts
    0x80000,  0x80018,  0x882F0,  0x82D8,   // routes
    0x89000,  0xA5000,  0x1C000,            // laps: start, end, size
    0xA5000,  0xA8DE0,  0x3DE0,             // intervals
    0xA9000,  0xA9010,  0xB1000,  0x7FF0,   // workout logs
    0xB1000,  0xB1018,  0,        0x14F000, 0, 0x9DFE8, 0, 0, 0, 0, // tracks
    0x14F000, 0x14F018, 0x1EA000, 0x9AFE8,  // sensor logs
    0x1EA000, 0x1EA018, 0x1EEF8C, 0x4F74,   // user-info logs
};

// Words 2 to 41 for every other version.
const unsigned int kLayoutB[] = {
    0x6154,   0x6170,   0x6D28,   3000,
    0x6D28,   0x6D40,   0x7AC86,  0x73F46,
    0x7AC86,  0x7AC9E,  0x82F76,  0x82D8,
    0x83000,  0x9F000,  0x1C000,
    0x9F000,  0xA2DE0,  0x3DE0,
    0xA3000,  0xA3010,  0xAB000,  0x7FF0,
    0xAB000,  0xAB018,  0,        0x121000, 0, 0x75FE8, 0, 0, 0, 0,
    0x121000, 0x121018, 0x167000, 0x45FE8,
    0x167000, 0x167018, 0x16BF8C, 0x4F74,
};
static_assert(sizeof(kLayoutA) == kTableWords * sizeof(unsigned int), "layout A covers words 2 to 41");
static_assert(sizeof(kLayoutB) == kTableWords * sizeof(unsigned int), "layout B covers words 2 to 41");

// Slots rewritten by a flush: the first two erase blocks of the header area.
const int kFlushedBytes = 8192;
const int kKeptHeaderBytes = 224;
const int kReservedStart = 2;
const int kReservedEnd = 66;
const int kChecksumFirstByte = 66;
const int kChecksumEndByte = 220;
const int kEraseMarkOffset = 4096;
const quint32 kEraseMark = 0x44332211;
const quint16 kMagic = 0xAA55;
const quint16 kFreeSlot = 0xFFFF;

// The room left of every area that counts towards the total; the user-info logs do not.
const int kCountedRoomWords[] = {
    JXExtFlashInfo_2M::WorkoutRoomLeft, JXExtFlashInfo_2M::RouteRoomLeft,      JXExtFlashInfo_2M::LapRoomLeft,
    JXExtFlashInfo_2M::IntervalRoomLeft, JXExtFlashInfo_2M::WorkoutLogRoomLeft, JXExtFlashInfo_2M::TrackRoomLeft,
    JXExtFlashInfo_2M::SensorLogRoomLeft,
};

} // namespace

JXExtFlashInfo_2M::JXExtFlashInfo_2M(JXPSFStore* store) : m_store(store)
{
    // Word 42 is reserved and never set; zero keeps it from reading as garbage.
    memset(m_layout, 0, sizeof(m_layout));
    m_layout[PSFBase] = kHeaderAreaEnd;
    m_layout[DistHeaderEnd] = kDistHeaderEnd;
    m_layout[FlashSize] = kFlashSize;
    m_layout[ProfileStart] = kProfileStart;
    m_layout[ProfilePageSize] = kProfilePageSize;
}

void JXExtFlashInfo_2M::initialFlashDef(const unsigned char* version)
{
    const bool tableA = version && version[0] == '1' && version[1] == '5' && version[2] == '1' && version[3] == '0';
    memcpy(m_layout + kFirstTableWord, tableA ? kLayoutA : kLayoutB, sizeof(kLayoutA));
}

const unsigned int* JXExtFlashInfo_2M::getFlashDef() const
{
    return m_layout;
}

char* JXExtFlashInfo_2M::getFlashHeader()
{
    if (m_header)
        return m_header;
    char* area = nullptr;
    if (!m_store || !m_store->loadFlashInfoFrame(&area) || !area) {
        JX_WARNING << "flash header area not available";
        return nullptr;
    }
    m_area = area;
    const int current = currentHeaderOffset(area, int(kHeaderAreaEnd));
    if (current < 0) {
        JX_WARNING << "no free slot in the flash header area";
        return nullptr;
    }
    m_header = area + current;
    return m_header;
}

int JXExtFlashInfo_2M::currentHeaderOffset(const char* area, int areaSize)
{
    const int slotCount = areaSize / SlotSize;
    for (int slot = 0; slot < slotCount; ++slot) {
        if (qFromLittleEndian<quint16>(area + slot * SlotSize) != kFreeSlot)
            continue;
        // The slots are a ring: with slot 0 free the newest header is the last slot.
        return (slot == 0 ? slotCount - 1 : slot - 1) * SlotSize;
    }
    return -1;
}

void JXExtFlashInfo_2M::flushFlashHeader()
{
    if (!m_header || !m_area)
        return;
    char kept[kKeptHeaderBytes];
    memcpy(kept, m_header, sizeof(kept));
    memset(m_area, 0xFF, kFlushedBytes);
    memcpy(m_area, kept, sizeof(kept));
    m_header = m_area;

    qToLittleEndian<quint16>(kMagic, m_header + Magic);
    memset(m_header + kReservedStart, 0xFF, kReservedEnd - kReservedStart);

    quint32 total = qFromLittleEndian<quint16>(m_header + POIRoomLeft);
    for (int word : kCountedRoomWords)
        total += qFromLittleEndian<quint32>(m_header + word);
    qToLittleEndian<quint32>(total, m_header + TotalRoomLeft);

    quint32 sum = 0;
    for (int offset = kChecksumFirstByte; offset < kChecksumEndByte; ++offset)
        sum += quint8(m_header[offset]);
    qToLittleEndian<quint32>(sum << 16, m_header + Checksum);

    qToLittleEndian<quint16>(kFreeSlot, m_area + SlotSize);
    qToLittleEndian<quint32>(kEraseMark, m_area + kEraseMarkOffset);
}

unsigned int JXExtFlashInfo_2M::getFlashSize() const
{
    return m_layout[FlashSize];
}

unsigned int JXExtFlashInfo_2M::getTotalStorageSize() const
{
    return m_layout[TrackTableSize];
}

unsigned int JXExtFlashInfo_2M::getFreeStorageSize()
{
    const char* header = getFlashHeader();
    return header ? qFromLittleEndian<quint32>(header + TrackRoomLeft) : 0;
}
