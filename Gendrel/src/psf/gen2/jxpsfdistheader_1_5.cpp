#include "psf/gen2/jxpsfdistheader_1_5.h"

#include "psf/jxpsfarea.h"

namespace {

// Management header record.
const int kFrameOffset = 0;
const int kFrameSize = 4;

// Distribution header.
const int kBaseDate = 0;
const int kBaseTime = 4;
const int kFirstRecord = 12;

} // namespace

unsigned int JXPSFManagementHeaderRecord_1_5::getManHeaderOffset() const
{
    return JXPSFBytes::u32(m_data + kFrameOffset);
}

unsigned short JXPSFManagementHeaderRecord_1_5::getManHeaderSize() const
{
    return JXPSFBytes::u16(m_data + kFrameSize);
}

JXPSFDistHeader_1_5::JXPSFDistHeader_1_5(char* header) : m_data(header)
{
    loadMHRs();
}

JXPSFDistHeader_1_5::~JXPSFDistHeader_1_5()
{
    for (JXPSFManagementHeaderRecord_1_5* record : m_records)
        delete record;
}

void JXPSFDistHeader_1_5::loadMHRs()
{
    for (int index = 0; index < RecordCount; ++index)
        m_records[index] = new JXPSFManagementHeaderRecord_1_5(m_data + kFirstRecord + index * int(JXPSFManagementHeaderRecord_1_5::Size));
}

unsigned int JXPSFDistHeader_1_5::getBaseDate() const
{
    return JXPSFBytes::u32(m_data + kBaseDate);
}

unsigned int JXPSFDistHeader_1_5::getBaseTime() const
{
    return JXPSFBytes::u32(m_data + kBaseTime);
}
