#include "psf/gen2/jxpsftrackframe_1_5.h"

#include <cstring>
#include <vector>

#include "jxlog.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsftrackseg_1_5.h"

namespace {

// Segment head field that packing rewrites in the copied bytes.
const int kSegmentNext = 28;

} // namespace

using namespace JXPSFBytes;

JXPSFTrackFrame_1_5::JXPSFTrackFrame_1_5(char* frame, const JXExtFlashInfo_2M* info, const char* imageEnd)
    : JXPSFObject(frame)
{
    m_list = JXPSFArea::table(JXPSFTable::Track, frame, HeadSize, getSegListOffset(), info, imageEnd);
    m_budget = std::make_shared<JXPSFLoadBudget>(m_list.size(), "track segments");
}

unsigned int JXPSFTrackFrame_1_5::getSegListOffset() const
{
    return u32(m_data);
}

void JXPSFTrackFrame_1_5::loadTrackSegs(JXPSFRoute_1_5* route)
{
    if (!route || !route->hasTrack())
        return;
    QVector<JXPSFTrackSeg_1_5*> track;
    JXPSFLoadShare& share = route->trackShare();
    share.reset(m_budget);
    // Every segment takes 40 bytes at least, which bounds the walk; a chain that comes back to a segment it has read
    // ends there, so that a loop does not make copies of the same points until the bound.
    const unsigned int mostSteps = m_list.size() / JXPSFTrackSeg_1_5::HeadSize;
    JXPSFVisitedOffsets visited;
    quint32 offset = route->getTrkOffset();
    for (unsigned int step = 0; step < mostSteps; ++step) {
        char* head = m_list.at(offset, JXPSFTrackSeg_1_5::HeadSize);
        if (!head) {
            JX_WARNING << "track segment offset" << offset << "lies outside the segment list; segments read:" << track.size();
            break;
        }
        if (!visited.insert(offset)) {
            JX_WARNING << "track segment chain loops back to offset" << offset << "; segments read:" << track.size();
            break;
        }
        const char* listEnd = m_list.end();
        bool cut = false;
        auto* segment = share.load<JXPSFTrackSeg_1_5>(head, listEnd, JXPSFTrackSeg_1_5::HeadSize,
                                                      [head, listEnd, &cut](const char* end) {
                                                          cut = end != listEnd;
                                                          return new JXPSFTrackSeg_1_5(head, false, end);
                                                      });
        if (!segment)
            break;
        // New points may still go up to the list end.
        if (cut)
            segment->moveTo(head, listEnd);
        track.append(segment);
        offset = segment->getNext();
        if (offset == None)
            break;
        if (step + 1 == mostSteps)
            JX_WARNING << "track segment chain does not end within the segment list; segments read:" << track.size();
    }
    route->setTrack(track);
}

void JXPSFTrackFrame_1_5::erase(JXExtFlashInfo_2M* info)
{
    // Without a list in its area nothing is erased, and the flash header keeps saying what the area holds.
    if (m_list.isEmpty()) {
        JX_WARNING << "no segment list to erase";
        return;
    }
    memset(m_list.begin(), 0xFF, m_list.size());
    char* header = info ? info->getFlashHeader() : nullptr;
    if (!header) {
        JX_WARNING << "segment list erased without a flash header to record it";
        return;
    }
    setU32(header + JXExtFlashInfo_2M::TrackTableEnd, u32(header + JXExtFlashInfo_2M::TrackTableStart));
    setU32(header + JXExtFlashInfo_2M::TrackRoomLeft, info->getFlashDef()[JXExtFlashInfo_2M::TrackTableSize]);
}

void JXPSFTrackFrame_1_5::rearrangeTrackTable(QVector<JXPSFRoute_1_5*>& routes, JXExtFlashInfo_2M* info)
{
    // Without a list the routes' track offsets lead nowhere that can be read; they are kept as the device wrote them.
    if (m_list.isEmpty()) {
        JX_WARNING << "no segment list to pack";
        return;
    }
    if (routes.isEmpty()) {
        erase(info);
        return;
    }
    std::vector<char> packed;
    for (JXPSFRoute_1_5* route : qAsConst(routes)) {
        if (route->getTrack().isEmpty())
            loadTrackSegs(route);
        QVector<JXPSFTrackSeg_1_5*>& track = route->getTrack();
        if (track.isEmpty()) {
            // An offset that led nowhere would point into the packed list afterwards.
            if (route->hasTrack())
                route->setTrkOffset(None);
            continue;
        }
        quint64 size = 0;
        for (JXPSFTrackSeg_1_5* segment : qAsConst(track))
            size += segment->getBytesCount();
        // Chains of a damaged list may share segments, so the kept bytes can outgrow the list.
        if (packed.size() + size > m_list.size()) {
            JX_WARNING << "a route's track does not fit in the packed segment list and is dropped";
            route->setTrkOffset(None);
            QVector<JXPSFTrackSeg_1_5*> none;
            route->setTrack(none);
            route->trackShare().release();
            continue;
        }
        route->setTrkOffset(quint32(packed.size()));
        for (int index = 0; index < track.size(); ++index) {
            const size_t start = packed.size();
            const char* bytes = track.at(index)->getData();
            const unsigned int count = track.at(index)->getBytesCount();
            packed.insert(packed.end(), bytes, bytes + count);
            const quint32 next = index + 1 < track.size() ? quint32(packed.size()) : None;
            setU32(packed.data() + start + kSegmentNext, next);
        }
    }
    memset(m_list.begin(), 0xFF, m_list.size());
    if (!packed.empty())
        memcpy(m_list.begin(), packed.data(), packed.size());
    char* header = info ? info->getFlashHeader() : nullptr;
    if (header) {
        setU32(header + JXExtFlashInfo_2M::TrackTableEnd,
               u32(header + JXExtFlashInfo_2M::TrackTableStart) + quint32(packed.size()));
        setU32(header + JXExtFlashInfo_2M::TrackRoomLeft,
               info->getFlashDef()[JXExtFlashInfo_2M::TrackTableSize] - quint32(packed.size()));
    } else {
        JX_WARNING << "segment list packed without a flash header to record it";
    }
    // The packed list holds each route's segments back to back from its track offset, byte for byte as they were
    // read, so the views move with them instead of being read again.
    for (JXPSFRoute_1_5* route : qAsConst(routes)) {
        if (!route->hasTrack())
            continue;
        char* head = m_list.begin() + route->getTrkOffset();
        for (JXPSFTrackSeg_1_5* segment : qAsConst(route->getTrack())) {
            segment->moveTo(head, m_list.end());
            head += segment->getBytesCount();
        }
    }
}
