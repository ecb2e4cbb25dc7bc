#include "psf/gen2/jxpsf_1_5.h"

#include <QtEndian>

#include <cstring>

#include "jxlog.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsfdistheader_1_5.h"
#include "psf/gen2/jxpsfpoiframe_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsfrouteframe_1_5.h"
#include "psf/gen2/jxpsfsensorlogframe_1_5.h"
#include "psf/gen2/jxpsftrackframe_1_5.h"
#include "psf/gen2/jxpsftrackseg_1_5.h"
#include "psf/gen2/jxpsfuserinfologframe_1_5.h"
#include "psf/gen2/jxpsfworkout_1_5.h"
#include "psf/gen2/jxpsfworkoutframe_1_5.h"
#include "psf/gen2/jxpsfworkoutlog_1_5.h"
#include "psf/gen2/jxpsfworkoutlogframe_1_5.h"
#include "psf/jxpsfstore.h"

namespace {

const unsigned int kVersionOffset = 16;
const unsigned int kVersionSize = 4;
const unsigned int kDistHeaderOffset = 48;
const quint32 kNone = 0xFFFFFFFF;

quint32 u32(const char* at)
{
    return qFromLittleEndian<quint32>(at);
}

void setU32(char* at, quint32 value)
{
    qToLittleEndian<quint32>(value, at);
}

} // namespace

JXPSF_1_5::JXPSF_1_5(JXPSFStore* store) : m_store(store)
{
    char* base = nullptr;
    if (!store || !store->openPSF(&base) || !base) {
        JX_WARNING << "data store of the flash image cannot be opened";
        return;
    }
    m_base = base;
    m_distHeader = new JXPSFDistHeader_1_5(m_base + kDistHeaderOffset);
}

JXPSF_1_5::~JXPSF_1_5()
{
    delete m_userInfoFrame;
    delete m_workoutLogFrame;
    delete m_workoutFrame;
    delete m_sensorLogFrame;
    delete m_trackFrame;
    delete m_routeFrame;
    delete m_poiFrame;
    delete m_distHeader;
}

char* JXPSF_1_5::frameStart(unsigned int managementOffset, JXPSFTable area, unsigned int headSize)
{
    const JXExtFlashInfo_2M* info = m_store->getFlashInfo();
    quint64 areaStart = 0;
    quint64 areaEnd = 0;
    if (!JXPSFArea::layoutArea(area, info, areaStart, areaEnd)) {
        JX_WARNING << "no flash layout to place a frame in";
        return nullptr;
    }
    // The directory comes from the device: a frame is built only where its whole head lies in its own area.
    const quint64 start = quint64(info->getFlashDef()[JXExtFlashInfo_2M::PSFBase]) + managementOffset;
    if (start < areaStart || start + headSize > areaEnd) {
        JX_WARNING << "frame at image offset" << start << "lies outside its area" << areaStart << "to" << areaEnd;
        return nullptr;
    }
    return m_base + managementOffset;
}

const char* JXPSF_1_5::imageEnd() const
{
    const JXExtFlashInfo_2M* info = m_store->getFlashInfo();
    return m_base - info->getFlashDef()[JXExtFlashInfo_2M::PSFBase] + info->getFlashSize();
}

template <typename Frame>
Frame* JXPSF_1_5::lazyFrame(Frame*& frame, bool (JXPSFStore::*load)(), ManagementRecord record, JXPSFTable area,
                            unsigned int headSize)
{
    if (!m_base)
        return nullptr;
    if (frame)
        return frame;
    if (!(m_store->*load)())
        return nullptr;
    char* head = frameStart(((*m_distHeader).*record)()->getManHeaderOffset(), area, headSize);
    if (head)
        frame = new Frame(head, m_store->getFlashInfo(), imageEnd());
    return frame;
}

JXPSFPOIFrame_1_5* JXPSF_1_5::getPOIFrame()
{
    return lazyFrame(m_poiFrame, &JXPSFStore::loadPSFPOIFrame, &JXPSFDistHeader_1_5::getPOIMHR, JXPSFTable::POI,
                     JXPSFPOIHeader_1_5::Size);
}

JXPSFRouteFrame_1_5* JXPSF_1_5::getRouteFrame()
{
    return lazyFrame(m_routeFrame, &JXPSFStore::loadPSFRouteFrame, &JXPSFDistHeader_1_5::getRouteMHR, JXPSFTable::Route,
                     JXPSFRouteHeader_1_5::Size);
}

JXPSFTrackFrame_1_5* JXPSF_1_5::getTrackFrame()
{
    return lazyFrame(m_trackFrame, &JXPSFStore::loadPSFTrackFrame, &JXPSFDistHeader_1_5::getTrackDataMHR,
                     JXPSFTable::Track, JXPSFTrackFrame_1_5::HeadSize);
}

JXPSFSensorLogFrame_1_5* JXPSF_1_5::getSensorLogFrame()
{
    return lazyFrame(m_sensorLogFrame, &JXPSFStore::loadPSFSensorLogFrame, &JXPSFDistHeader_1_5::getSensorLogMHR,
                     JXPSFTable::SensorLog, JXPSFSensorLogFrame_1_5::HeadSize);
}

JXPSFWorkoutFrame_1_5* JXPSF_1_5::getWorkoutFrame()
{
    return lazyFrame(m_workoutFrame, &JXPSFStore::loadPSFWorkoutFrame, &JXPSFDistHeader_1_5::getWorkoutMHR,
                     JXPSFTable::Workout, JXPSFWorkoutFrame_1_5::HeadSize);
}

JXPSFWorkoutLogFrame_1_5* JXPSF_1_5::getWorkoutLogFrame()
{
    if (!m_base)
        return nullptr;
    // Logs are attached to their workouts and routes as they are made.
    JXPSFWorkoutFrame_1_5* workouts = getWorkoutFrame();
    if (!workouts)
        return nullptr;
    JXPSFRouteFrame_1_5* routes = getRouteFrame();
    if (!routes)
        return nullptr;
    if (m_workoutLogFrame)
        return m_workoutLogFrame;
    JXPSFWorkoutLogFrame_1_5* logs =
        lazyFrame(m_workoutLogFrame, &JXPSFStore::loadPSFWorkoutLogFrame, &JXPSFDistHeader_1_5::getWorkoutLogMHR,
                  JXPSFTable::WorkoutLog, JXPSFWorkoutLogFrame_1_5::HeadSize);
    if (logs)
        logs->loadWorkoutLogs(routes->getRoutes(), workouts->getWorkouts());
    return logs;
}

JXPSFUserInfoLogFrame_1_5* JXPSF_1_5::getUserInfoFrame()
{
    return lazyFrame(m_userInfoFrame, &JXPSFStore::loadPSFUserInfoLogFrame, &JXPSFDistHeader_1_5::getUserInfoLogMHR,
                     JXPSFTable::UserInfoLog, JXPSFUserInfoLogFrame_1_5::HeadSize);
}

void JXPSF_1_5::getVersion(unsigned char* out)
{
    if (!m_base || !out)
        return;
    memcpy(out, m_base + kVersionOffset, kVersionSize);
}

bool JXPSF_1_5::getAllRoutes(QVector<JXPSFRoute_1_5*>& out)
{
    JXPSFRouteFrame_1_5* routes = getRouteFrame();
    if (!routes)
        return false;
    out = routes->getRoutes();
    return true;
}

bool JXPSF_1_5::getRoutes(unsigned char type, QVector<JXPSFRoute_1_5*>& out)
{
    JXPSFRouteFrame_1_5* routes = getRouteFrame();
    if (!routes)
        return false;
    for (JXPSFRoute_1_5* route : qAsConst(routes->getRoutes())) {
        if (route->getRouteType() == type)
            out.append(route);
    }
    return true;
}

bool JXPSF_1_5::routeSegments(JXPSFTrackFrame_1_5* tracks, JXPSFRoute_1_5* route, QVector<JXPSFTrackSeg_1_5*>& out)
{
    if (!tracks || !route)
        return false;
    if (route->getTrack().isEmpty())
        tracks->loadTrackSegs(route);
    out = route->getTrack();
    return true;
}

bool JXPSF_1_5::getTrackOfRoute(JXPSFRoute_1_5* route, QVector<JXPSFTrackSeg_1_5*>& out)
{
    return routeSegments(getTrackFrame(), route, out);
}

bool JXPSF_1_5::getSensorLogOfRoute(JXPSFRoute_1_5* route, QVector<JXPSFSensorLog_1_5*>& out)
{
    JXPSFSensorLogFrame_1_5* logs = getSensorLogFrame();
    if (!logs || !route || route->getRouteType() == 0)
        return false;
    if (!route->hasTrack())
        return true;
    if (route->getSensorLog().isEmpty()) {
        // The logs hang from the segments.
        QVector<JXPSFTrackSeg_1_5*> segments;
        if (!getTrackOfRoute(route, segments))
            return false;
        logs->loadSensorLogOfRoute(route);
    }
    out = route->getSensorLog();
    return true;
}

bool JXPSF_1_5::getWorkoutLogOfRoute(JXPSFRoute_1_5* route, JXPSFWorkoutLog_1_5** out)
{
    if (!getWorkoutLogFrame() || !route || !out)
        return false;
    *out = route->getWorkoutLog();
    return true;
}

bool JXPSF_1_5::getUserInfoLogOfRoute(JXPSFRoute_1_5* route, JXPSFUserInfoLog_1_5** out)
{
    JXPSFUserInfoLogFrame_1_5* userInfo = getUserInfoFrame();
    if (!userInfo || !route || !out || route->getRouteType() == 0)
        return false;
    if (route->getUsrInfoOffset() == kNone) {
        *out = nullptr;
        return true;
    }
    if (!route->getUserInfoLog())
        userInfo->loadUserInfoLog(route);
    *out = route->getUserInfoLog();
    return true;
}

bool JXPSF_1_5::getWorkouts(QVector<JXPSFWorkout_1_5*>& out)
{
    JXPSFWorkoutFrame_1_5* workouts = getWorkoutFrame();
    if (!workouts)
        return false;
    out = workouts->getWorkouts();
    return true;
}

JXPSFRoute_1_5* JXPSF_1_5::createRoute(QStringList names, QStringList codes, bool bitFont)
{
    JXPSFRouteFrame_1_5* routes = getRouteFrame();
    return routes ? routes->createRoute(names, codes, bitFont, m_store->getFlashInfo()) : nullptr;
}

JXPSFTrackSeg_1_5* JXPSF_1_5::createTrackSeg(JXPSFRoute_1_5* route)
{
    JXPSFRouteFrame_1_5* routeFrame = getRouteFrame();
    if (!routeFrame || !route)
        return nullptr;
    const QVector<JXPSFRoute_1_5*> routes = routeFrame->getRoutes();
    if (!routes.contains(route)) {
        JX_WARNING << "a track segment can only be added to a route of this data store";
        return nullptr;
    }
    JXPSFTrackFrame_1_5* tracks = getTrackFrame();
    if (!tracks)
        return nullptr;

    // A stored route's own segments first: otherwise its track offset would be pointed past them and they would
    // be lost.
    QVector<JXPSFTrackSeg_1_5*> own;
    routeSegments(tracks, route, own);

    // The list is filled in route order: a new segment goes after the last segment of the last route holding one.
    JXPSFRoute_1_5* lastHolder = nullptr;
    JXPSFTrackSeg_1_5* lastSegment = nullptr;
    for (int index = routes.size() - 1; index >= 0 && !lastHolder; --index) {
        QVector<JXPSFTrackSeg_1_5*> segments;
        routeSegments(tracks, routes.at(index), segments);
        if (!segments.isEmpty()) {
            lastHolder = routes.at(index);
            lastSegment = segments.last();
        }
    }
    if (!own.isEmpty() && lastHolder != route) {
        JX_WARNING << "segments of a later route follow this route's; a new segment would overwrite them";
        return nullptr;
    }

    const JXPSFArea& list = tracks->getSegList();
    const quint64 position =
        lastSegment ? quint64(lastSegment->getData() - list.begin()) + lastSegment->getBytesCount() : 0;
    char* head = list.at(position, JXPSFTrackSeg_1_5::HeadSize);
    JXExtFlashInfo_2M* info = m_store->getFlashInfo();
    char* header = info ? info->getFlashHeader() : nullptr;
    if (!head || !header || u32(header + JXExtFlashInfo_2M::TrackRoomLeft) < JXPSFTrackSeg_1_5::HeadSize) {
        JX_WARNING << "no room for a track segment at" << position << "in the segment list";
        return nullptr;
    }

    auto* segment = new JXPSFTrackSeg_1_5(head, true, list.end());
    const quint32 offset = quint32(position);
    if (own.isEmpty())
        route->setTrkOffset(offset);
    else
        own.last()->setNext(offset);
    route->addTrack(segment);

    const quint32 bytes = segment->getBytesCount();
    setU32(header + JXExtFlashInfo_2M::TrackTableEnd, u32(header + JXExtFlashInfo_2M::TrackTableEnd) + bytes);
    setU32(header + JXExtFlashInfo_2M::TrackRoomLeft, u32(header + JXExtFlashInfo_2M::TrackRoomLeft) - bytes);
    return segment;
}

JXPSFPOI_1_5* JXPSF_1_5::createPOI()
{
    JXPSFPOIFrame_1_5* pois = getPOIFrame();
    return pois ? pois->createPOI() : nullptr;
}

JXPSFWorkout_1_5* JXPSF_1_5::createWorkout(QStringList names, QStringList nameCodes, QStringList descriptions,
                                           QStringList descriptionCodes, bool bitFont)
{
    JXPSFWorkoutFrame_1_5* workouts = getWorkoutFrame();
    if (!workouts)
        return nullptr;
    return workouts->createWorkout(names, nameCodes, descriptions, descriptionCodes, bitFont, m_store->getFlashInfo());
}

JXPSFInterval_1_5* JXPSF_1_5::createWorkoutInterval(JXPSFWorkout_1_5* workout)
{
    JXPSFWorkoutFrame_1_5* workouts = getWorkoutFrame();
    if (!workouts || !workout)
        return nullptr;
    return workouts->createWorkoutInterval(workout, m_store->getFlashInfo());
}

bool JXPSF_1_5::deleteAllPOIs()
{
    JXPSFPOIFrame_1_5* pois = getPOIFrame();
    if (!pois)
        return false;
    pois->deleteAllPOIs();
    return true;
}

bool JXPSF_1_5::deleteAllRoutes()
{
    JXPSFRouteFrame_1_5* routes = getRouteFrame();
    JXPSFTrackFrame_1_5* tracks = routes ? getTrackFrame() : nullptr;
    JXPSFSensorLogFrame_1_5* sensorLogs = tracks ? getSensorLogFrame() : nullptr;
    JXPSFUserInfoLogFrame_1_5* userInfo = sensorLogs ? getUserInfoFrame() : nullptr;
    JXPSFWorkoutLogFrame_1_5* workoutLogs = userInfo ? getWorkoutLogFrame() : nullptr;
    if (!workoutLogs)
        return false;

    JXExtFlashInfo_2M* info = m_store->getFlashInfo();
    routes->erase(info);
    tracks->erase(info);
    sensorLogs->eraseSensorLogTable(info);
    userInfo->eraseUserInfoLogTable(info);
    // Workouts that kept naming logs in an erased table would claim the first log the device writes there.
    if (workoutLogs->eraseWorkoutLogTable(info))
        m_workoutFrame->eraseWorkoutLogOffsset();
    return true;
}

bool JXPSF_1_5::deleteAllRoutes(unsigned char type)
{
    JXPSFRouteFrame_1_5* routes = getRouteFrame();
    JXPSFTrackFrame_1_5* tracks = routes ? getTrackFrame() : nullptr;
    JXPSFSensorLogFrame_1_5* sensorLogs = tracks ? getSensorLogFrame() : nullptr;
    JXPSFUserInfoLogFrame_1_5* userInfo = sensorLogs ? getUserInfoFrame() : nullptr;
    JXPSFWorkoutLogFrame_1_5* workoutLogs = userInfo ? getWorkoutLogFrame() : nullptr;
    if (!workoutLogs)
        return false;

    // The kept routes are made anew at packed offsets; their logs are carried over to them.
    QVector<JXPSFWorkoutLog_1_5*> keptLogs;
    for (JXPSFRoute_1_5* route : qAsConst(routes->getRoutes())) {
        if (route->getRouteType() != (type & 1))
            keptLogs.append(route->getWorkoutLog());
    }

    JXExtFlashInfo_2M* info = m_store->getFlashInfo();
    routes->deleteAllRoutes(type, info);
    QVector<JXPSFRoute_1_5*> remaining = routes->getRoutes();
    tracks->rearrangeTrackTable(remaining, info);

    if (type == 1) {
        sensorLogs->eraseSensorLogTable(info);
        userInfo->eraseUserInfoLogTable(info);
        if (workoutLogs->eraseWorkoutLogTable(info)) {
            m_workoutFrame->eraseWorkoutLogOffsset();
            for (JXPSFRoute_1_5* route : qAsConst(remaining))
                route->setWorkoutLog(nullptr);
        }
        return true;
    }
    reattachWorkoutLogs(keptLogs);
    return true;
}

void JXPSF_1_5::reattachWorkoutLogs(const QVector<JXPSFWorkoutLog_1_5*>& logs)
{
    const QVector<JXPSFRoute_1_5*>& routes = m_routeFrame->getRoutes();
    if (routes.size() != logs.size()) {
        // Only a damaged table drops kept routes while packing; which log went with which is then unknown.
        JX_WARNING << "packed route table lost records; workout logs of the kept routes are not carried over";
        return;
    }
    quint32 offset = 0;
    for (int index = 0; index < routes.size(); ++index) {
        if (JXPSFWorkoutLog_1_5* log = logs.at(index)) {
            log->setRteOffset(offset);
            routes.at(index)->setWorkoutLog(log);
        }
        offset = routes.at(index)->getNextOffset();
    }
}

bool JXPSF_1_5::deleteAllWorkouts()
{
    JXPSFWorkoutFrame_1_5* workouts = getWorkoutFrame();
    if (!workouts)
        return false;
    if (!workouts->erase(m_store->getFlashInfo()))
        return false;
    // The logs name workouts that are gone, and no workout leads to them any more.
    if (m_routeFrame) {
        for (JXPSFRoute_1_5* route : qAsConst(m_routeFrame->getRoutes()))
            route->setWorkoutLog(nullptr);
    }
    return true;
}
