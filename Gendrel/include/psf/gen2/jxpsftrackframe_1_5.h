#ifndef JXPSFTRACKFRAME_1_5_H
#define JXPSFTRACKFRAME_1_5_H

#include <QVector>

#include "psf/jxpsfarea.h"
#include "psf/jxpsfobject.h"

class JXExtFlashInfo_2M;
class JXPSFRoute_1_5;

// The track segments of every route, in the segment list (layout word 29 bytes). Frame head (24 bytes): u32
// segment list offset from the frame start, 20 bytes not used. Owns nothing: segments belong to their routes.
class JXPSFTrackFrame_1_5 : public JXPSFObject
{
public:
    static const unsigned int HeadSize = 24;

    // The caller keeps the head inside the image (imageEnd). A list that does not start inside the track area is
    // absent: nothing is loaded from it, created in it, erased or packed there.
    JXPSFTrackFrame_1_5(char* frame, const JXExtFlashInfo_2M* info, const char* imageEnd);

    void erase(JXExtFlashInfo_2M* info) override;
    unsigned int getBytesCount() override { return 0; }

    unsigned int getSegListOffset() const;
    const JXPSFArea& getSegList() const { return m_list; }

    // Hands the route its chain of segments. A chain that leaves the list, loops, whose points cross the list end or
    // that would take the segments of all routes together past the list's size stops there.
    void loadTrackSegs(JXPSFRoute_1_5* route);
    // Packs the segments of these routes to the list start, route by route. The routes keep their segment views,
    // which then view the packed bytes; their sensor-log links are cleared.
    void rearrangeTrackTable(QVector<JXPSFRoute_1_5*>& routes, JXExtFlashInfo_2M* info);

private:
    JXPSFArea m_list;
    // Shared by the segments of all routes.
    std::shared_ptr<JXPSFLoadBudget> m_budget;
};

#endif
