#ifndef JXPSFUSERINFOLOGFRAME_1_5_H
#define JXPSFUSERINFOLOGFRAME_1_5_H

#include "psf/jxpsfarea.h"

class JXExtFlashInfo_2M;
class JXPSFRoute_1_5;

// The user-info snapshots of recorded rides. Frame head: u32 table offset from the frame start; the table holds
// layout word 41 bytes.
class JXPSFUserInfoLogFrame_1_5
{
public:
    static const unsigned int HeadSize = 4;

    // The caller keeps the head inside the image (imageEnd). A table that does not start inside the user-info area
    // is absent: nothing is loaded from it or erased there.
    JXPSFUserInfoLogFrame_1_5(char* frame, const JXExtFlashInfo_2M* info, const char* imageEnd);

    unsigned int getLogOffset() const;
    // Attaches the route's snapshot; nothing when its offset lies outside the table or its zones cross the end.
    void loadUserInfoLog(JXPSFRoute_1_5* route);
    void eraseUserInfoLogTable(JXExtFlashInfo_2M* info);

private:
    char* m_data;
    JXPSFArea m_table;
};

#endif
