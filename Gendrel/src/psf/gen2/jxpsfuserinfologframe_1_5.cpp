#include "psf/gen2/jxpsfuserinfologframe_1_5.h"

#include <cstring>

#include "jxlog.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsfuserinfolog_1_5.h"

using namespace JXPSFBytes;

JXPSFUserInfoLogFrame_1_5::JXPSFUserInfoLogFrame_1_5(char* frame, const JXExtFlashInfo_2M* info, const char* imageEnd)
    : m_data(frame)
{
    m_table = JXPSFArea::table(JXPSFTable::UserInfoLog, frame, HeadSize, getLogOffset(), info, imageEnd);
}

unsigned int JXPSFUserInfoLogFrame_1_5::getLogOffset() const
{
    return u32(m_data);
}

void JXPSFUserInfoLogFrame_1_5::loadUserInfoLog(JXPSFRoute_1_5* route)
{
    if (!route)
        return;
    char* record = m_table.at(route->getUsrInfoOffset(), JXPSFUserInfoLog_1_5::HeadSize);
    if (!record) {
        JX_WARNING << "user-info offset" << route->getUsrInfoOffset() << "lies outside the user-info table";
        return;
    }
    auto* log = new JXPSFUserInfoLog_1_5(record, m_table.end());
    if (!log->isComplete()) {
        delete log;
        return;
    }
    route->setUserInfoLog(log);
}

void JXPSFUserInfoLogFrame_1_5::eraseUserInfoLogTable(JXExtFlashInfo_2M* info)
{
    // Without a table in its area nothing is erased, and the flash header keeps saying what the area holds.
    if (!info || m_table.isEmpty()) {
        JX_WARNING << "no user-info table to erase";
        return;
    }
    memset(m_table.begin(), 0xFF, m_table.size());
    char* header = info->getFlashHeader();
    if (!header) {
        JX_WARNING << "user-info table erased without a flash header to record it";
        return;
    }
    setU32(header + JXExtFlashInfo_2M::UserInfoLogTableEnd, u32(header + JXExtFlashInfo_2M::UserInfoLogTableStart));
    setU32(header + JXExtFlashInfo_2M::UserInfoLogRoomLeft, info->getFlashDef()[JXExtFlashInfo_2M::UserInfoLogTableSize]);
}
