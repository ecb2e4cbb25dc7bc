#include "psf/gen1/jxpsf.h"

#include <QSet>

#include <algorithm>
#include <climits>

#include "jxlog.h"
#include "psf/gen1/jxpsfdistheader.h"
#include "psf/gen1/jxpsfpoiframe.h"
#include "psf/gen1/jxpsfrouteframe.h"
#include "psf/gen1/jxpsfsensorlogframe.h"
#include "psf/gen1/jxpsftrackframe.h"
#include "psf/gen1/jxpsfview.h"
#include "psf/gen1/jxpsfworkoutframe.h"

namespace {

using Def = flash_header_def;

const int kImageHeadSize = 48;
const int kPOILimit = 10;

template <typename T> void replace(QPointer<T>& held, T* frame)
{
    if (held.data() != frame)
        delete held.data();
    held = frame;
}

// Empties the given slots (indices before the call), then closes the gaps; returns the new length.
template <typename T> int deleteAt(QVector<QPointer<T>>* list, const QVector<int>& indices)
{
    const int count = list->size();
    for (int index : indices) {
        if (index >= 0 && index < count)
            delete (*list)[index].data();
    }
    list->erase(std::remove_if(list->begin(), list->end(), [](const QPointer<T>& item) { return item.isNull(); }),
                list->end());
    return list->size();
}

// Deletes the records from keep on; returns whether any went.
template <typename T> bool cutTo(QVector<QPointer<T>>* list, int keep)
{
    if (list->size() <= keep)
        return false;
    for (int i = list->size() - 1; i >= keep; --i)
        delete (*list)[i].data();
    list->resize(keep);
    return true;
}

} // namespace

JXPSF::JXPSF(QByteArray* image, void* flashHeader, QObject* parent)
    : JXPSFField(image, parent), m_flashHeader(flashHeader)
{
    QByteArray header = JXPSFView(image).bytes(kImageHeadSize, JXPSFDistHeader::HeaderSize);
    m_distHeader = new JXPSFDistHeader(&header, nullptr);
}

JXPSF::~JXPSF()
{
    delete m_distHeader.data();
    delete m_poiFrame.data();
    delete m_trackFrame.data();
    delete m_routeFrame.data();
    delete m_sensorLogFrame.data();
    delete m_workoutFrame.data();
    delete m_workoutLogFrame.data();
}

QByteArray JXPSF::commit()
{
    QByteArray bytes(kImageHeadSize, char(0xFF));
    if (m_distHeader)
        bytes += m_distHeader->commit();
    if (m_poiFrame)
        bytes += m_poiFrame->commit();
    if (m_routeFrame)
        bytes += m_routeFrame->commit();
    if (m_trackFrame)
        bytes += m_trackFrame->commit();
    if (m_sensorLogFrame)
        bytes += m_sensorLogFrame->commit();
    return bytes;
}

void JXPSF::setDistHeader(JXPSFDistHeader* header)
{
    replace(m_distHeader, header);
}

void JXPSF::setPOIFrame(JXPSFPOIFrame* frame)
{
    replace(m_poiFrame, frame);
}

void JXPSF::setRouteFrame(JXPSFRouteFrame* frame)
{
    replace(m_routeFrame, frame);
}

void JXPSF::setTrackFrame(JXPSFTrackFrame* frame)
{
    replace(m_trackFrame, frame);
}

void JXPSF::setSnesorLogFrame(JXPSFSensorLogFrame* frame)
{
    replace(m_sensorLogFrame, frame);
}

void JXPSF::setWorkoutFrame(JXPSFWorkoutFrame* frame)
{
    replace(m_workoutFrame, frame);
}

void JXPSF::setWorkoutLogFrame(JXPSFWorkoutLogFrame* frame)
{
    replace(m_workoutLogFrame, frame);
}

void JXPSF::setDontCheckUploaded(bool dontCheck)
{
    m_dontCheckUploaded = dontCheck;
}

bool JXPSF::deletePOIs(QVector<int> indices)
{
    if (!m_poiFrame)
        return true;
    // Deleted at once: the worker thread that calls this runs no event loop for deferred deletes.
    const int count = deleteAt(m_poiFrame->getPOIs(), indices);
    if (m_poiFrame->getHeader())
        m_poiFrame->getHeader()->setCount(unsigned(count));
    return true;
}

bool JXPSF::deleteRoutes(QVector<int> indices)
{
    if (!m_routeFrame)
        return true;
    const int count = deleteAt(m_routeFrame->getRoutes(), indices);
    if (m_routeFrame->getHeader())
        m_routeFrame->getHeader()->setRouteCount(quint16(count));
    return true;
}

bool JXPSF::deleteTracks(QVector<int> indices)
{
    return deleteRoutes(indices);
}

bool JXPSF::deleteWorkouts(QVector<int> indices)
{
    if (!m_workoutFrame)
        return true;
    const int count = deleteAt(m_workoutFrame->getWorkouts(), indices);
    m_workoutFrame->setWorkoutCount(quint8(count));
    return true;
}

bool JXPSF::canBitfont()
{
    return m_supportBitfont;
}

void JXPSF::setSupportBitfont(bool support)
{
    m_supportBitfont = support;
}

bool JXPSF::removeOverSizeRoutes()
{
    if (!m_routeFrame)
        return false;
    QVector<QPointer<JXPSFRoute>>* routes = m_routeFrame->getRoutes();
    bool dropped = cutTo(routes, int(qMin<unsigned int>(word(Def::RouteTableSize) / JXPSFRoute::RecordSize, INT_MAX)));

    // Every segment takes its 40-byte head as well as 6 bytes a point in the track area.
    const qint64 budget = word(Def::TrackTableSize);
    qint64 used = 0;
    for (int i = 0; i < routes->size(); ++i) {
        const JXPSFRoute* route = routes->at(i);
        if (!route)
            continue;
        for (const QPointer<JXPSFTrack>& segment : route->getTracks()) {
            if (segment)
                used += segment->writtenSize(route->getTrackFlag());
        }
        if (used > budget) {
            dropped = cutTo(routes, i) || dropped;
            break;
        }
    }
    if (dropped && m_routeFrame->getHeader())
        m_routeFrame->getHeader()->setRouteCount(quint16(routes->size()));
    return dropped;
}

bool JXPSF::removeOverSizePois()
{
    if (!m_poiFrame || !cutTo(m_poiFrame->getPOIs(), kPOILimit))
        return false;
    if (m_poiFrame->getHeader())
        m_poiFrame->getHeader()->setCount(kPOILimit);
    return true;
}

bool JXPSF::removeOverWorkouts()
{
    if (!m_workoutFrame)
        return false;
    QVector<QPointer<JXPSFWorkout>>* workouts = m_workoutFrame->getWorkouts();
    bool dropped =
        cutTo(workouts, int(qMin<unsigned int>(word(Def::WorkoutTableSize) / JXPSFWorkout::RecordSize, INT_MAX)));

    const qint64 budget = word(Def::IntervalAreaSize) / JXPSFInterval::RecordSize;
    qint64 used = 0;
    for (int i = 0; i < workouts->size(); ++i) {
        JXPSFWorkout* workout = workouts->at(i);
        if (!workout)
            continue;
        used += workout->getIntervals()->size();
        if (used > budget) {
            dropped = cutTo(workouts, i) || dropped;
            break;
        }
    }
    if (dropped)
        m_workoutFrame->setWorkoutCount(quint8(workouts->size()));
    return dropped;
}

void JXPSF::setFlashHeaderDef(flash_header_def def)
{
    // Words without a role here are not kept.
    for (int index : {27, 29, 34, 35, 36, 37, 43, 44, 45})
        def.words[index] = 0;
    m_def = def;
}
