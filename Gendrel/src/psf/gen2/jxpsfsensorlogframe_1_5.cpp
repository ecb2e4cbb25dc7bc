#include "psf/gen2/jxpsfsensorlogframe_1_5.h"

#include <cstring>
#include <vector>

#include "jxlog.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsfsensorlog_1_5.h"
#include "psf/gen2/jxpsftrackseg_1_5.h"

using namespace JXPSFBytes;

JXPSFSensorLogFrame_1_5::JXPSFSensorLogFrame_1_5(char* frame, const JXExtFlashInfo_2M* info, const char* imageEnd)
    : m_data(frame)
{
    m_table = JXPSFArea::table(JXPSFTable::SensorLog, frame, HeadSize, getLogOffset(), info, imageEnd);
    m_budget = std::make_shared<JXPSFLoadBudget>(m_table.size(), "sensor logs");
}

unsigned int JXPSFSensorLogFrame_1_5::getLogOffset() const
{
    return u32(m_data);
}

void JXPSFSensorLogFrame_1_5::loadSensorLogOfRoute(JXPSFRoute_1_5* route)
{
    if (!route)
        return;
    QVector<JXPSFSensorLog_1_5*> logs;
    JXPSFLoadShare& share = route->sensorLogShare();
    share.reset(m_budget);
    for (JXPSFTrackSeg_1_5* segment : qAsConst(route->getTrack())) {
        const quint32 offset = segment->getSsrLogOffset();
        if (offset == None)
            continue;
        char* head = m_table.at(offset, JXPSFSensorLog_1_5::HeadSize);
        if (!head) {
            JX_WARNING << "sensor-log offset" << offset << "lies outside the sensor-log table";
            continue;
        }
        auto* log =
            share.load<JXPSFSensorLog_1_5>(head, m_table.end(), JXPSFSensorLog_1_5::HeadSize,
                                           [head](const char* end) { return new JXPSFSensorLog_1_5(head, end); });
        if (!log)
            break;
        segment->setSensorLogSeg(log);
        logs.append(log);
    }
    route->setSensorLog(logs);
}

void JXPSFSensorLogFrame_1_5::eraseSensorLogTable(JXExtFlashInfo_2M* info)
{
    // Without a table in its area nothing is erased, and the flash header keeps saying what the area holds.
    if (m_table.isEmpty()) {
        JX_WARNING << "no sensor-log table to erase";
        return;
    }
    memset(m_table.begin(), 0xFF, m_table.size());
    char* header = info ? info->getFlashHeader() : nullptr;
    if (!header) {
        JX_WARNING << "sensor-log table erased without a flash header to record it";
        return;
    }
    setU32(header + JXExtFlashInfo_2M::SensorLogTableEnd, u32(header + JXExtFlashInfo_2M::SensorLogTableStart));
    setU32(header + JXExtFlashInfo_2M::SensorLogRoomLeft, info->getFlashDef()[JXExtFlashInfo_2M::SensorLogTableSize]);
}

void JXPSFSensorLogFrame_1_5::rearrangeSensorLogTable(QVector<JXPSFRoute_1_5*>& routes)
{
    if (routes.isEmpty())
        return;
    // Logs are read afresh from the segments' offsets: a link lost to a repacked track would otherwise leave its
    // log out of the packed table while its offset still pointed into it.
    for (JXPSFRoute_1_5* route : qAsConst(routes))
        reloadSensorLogs(route);
    std::vector<char> packed;
    for (JXPSFRoute_1_5* route : qAsConst(routes)) {
        for (JXPSFTrackSeg_1_5* segment : qAsConst(route->getTrack())) {
            JXPSFSensorLog_1_5* log = segment->getSensorLogSeg();
            if (!log)
                continue;
            const unsigned int size = log->getBytesCount();
            // Segments of a damaged table may share a log, so the packed bytes can outgrow the table.
            if (packed.size() + size > m_table.size()) {
                JX_WARNING << "a sensor log does not fit in the packed sensor-log table and is dropped";
                segment->setSsrLogOffset(None);
                segment->setSensorLogSeg(nullptr);
                continue;
            }
            segment->setSsrLogOffset(quint32(packed.size()));
            packed.insert(packed.end(), log->getData(), log->getData() + size);
        }
    }
    if (packed.empty())
        return;
    memcpy(m_table.begin(), packed.data(), packed.size());
    // The log views read the old places, which the copy has overwritten.
    for (JXPSFRoute_1_5* route : qAsConst(routes))
        reloadSensorLogs(route);
}

void JXPSFSensorLogFrame_1_5::reloadSensorLogs(JXPSFRoute_1_5* route)
{
    qDeleteAll(route->getSensorLog());
    route->getSensorLog().clear();
    for (JXPSFTrackSeg_1_5* segment : qAsConst(route->getTrack()))
        segment->setSensorLogSeg(nullptr);
    loadSensorLogOfRoute(route);
}
