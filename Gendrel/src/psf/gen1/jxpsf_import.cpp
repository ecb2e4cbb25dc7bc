// Importing shared files into a first-generation root: a GPX file becomes a POI or a planned route, a training
// course becomes workouts. Records are appended in memory; trims and finalize bring them into the image.

#include "psf/gen1/jxpsf.h"

#include <QDateTime>

#include <cmath>
#include <memory>
#include <vector>

#include "../../../../core/include/training/ghtrncrs.h"
#include "../../../../core/include/training/ghtrnduration.h"
#include "../../../../core/include/training/ghtrninterval.h"
#include "../../../../core/include/training/ghtrnmetadata.h"
#include "../../../../core/include/training/ghtrnreader.h"
#include "../../../../core/include/training/ghtrntarget.h"
#include "../../../../core/include/training/ghtrnworkout.h"
#include "../../../../core/include/util/ghgpx2.h"
#include "../../../../core/include/util/ghgpxmetadata.h"
#include "../../../../core/include/util/ghgpxreader.h"
#include "../../../../core/include/util/ghgpxroute.h"
#include "../../../../core/include/util/ghgpxtrack.h"
#include "../../../../core/include/util/ghgpxwaypoint.h"
#include "jxlog.h"

namespace {

using Def = flash_header_def;

const unsigned int kNone = 0xFFFFFFFFu;
const int kNameBytes = 128;
const int kNameWidth = 64;
const int kNameHeight = 16;
// Largest elevation step a point record holds, in metres (8-bit tenths).
const double kLargestAltitudeStep = 12.7;
// Largest position step a point record holds, in millionths of a degree (16 bits).
const int kLargestPositionStep = 32767;
// Elevations the 16-bit start and end altitudes hold: (metres + 1000) x 4 up to 32767.
const double kLowestAltitude = -1000.0;
const double kHighestAltitude = 7191.75;
// A segment head counts its points in 32 bits, but 0xFFFE and more read back as no points at all.
const qint64 kMostSegmentPoints = 0xFFFD;
const unsigned char kSegmentTimeUnit = 4;
const qint64 kSegmentHeadSize = 40;
const qint64 kPointSize = 6;

// One GPX point as numbers.
struct Position
{
    double lat = 0.0;
    double lon = 0.0;
    double ele = 0.0;
};

bool validCoordinates(double lat, double lon)
{
    return std::isfinite(lat) && std::isfinite(lon) && std::fabs(lat) <= 90.0 && std::fabs(lon) <= 180.0;
}

// A non-finite elevation counts as missing and takes the previous point's; the rest is clamped to what the
// altitude fields hold. (Texts that are no number read as 0.)
double elevationOf(double ele, double previous)
{
    if (!std::isfinite(ele))
        return previous;
    return qBound(kLowestAltitude, ele, kHighestAltitude);
}

bool stepFits(const Position& from, const Position& to)
{
    return std::fabs(to.ele - from.ele) <= kLargestAltitudeStep &&
           std::abs(qint64(JXPSFField::coordinateToPSF(to.lat)) - JXPSFField::coordinateToPSF(from.lat)) <=
               kLargestPositionStep &&
           std::abs(qint64(JXPSFField::coordinateToPSF(to.lon)) - JXPSFField::coordinateToPSF(from.lon)) <=
               kLargestPositionStep;
}

QString sixDecimals(double value)
{
    return QString::number(value, 'f', 6);
}

// The midpoint as a new GPX point (texts with six decimals), and its numbers as read back from those texts.
GHGpxTrackPoint* midpoint(const Position& a, const Position& b, Position& mid)
{
    auto* point = new GHGpxTrackPoint;
    point->lat = sixDecimals((a.lat + b.lat) / 2);
    point->lon = sixDecimals((a.lon + b.lon) / 2);
    point->ele = sixDecimals((a.ele + b.ele) / 2);
    mid.lat = point->lat.toDouble();
    mid.lon = point->lon.toDouble();
    mid.ele = point->ele.toDouble();
    return point;
}

// Makes every step of the segment fit a point record: points without usable coordinates go, elevations are made
// finite and clamped, and a step that is too large gets a midpoint, tested again against the point before it. False
// when the segment would need more than maxPoints points; it then still owns every point it held.
bool smoothSegment(GHGpxTrackSegment* segment, qint64 maxPoints)
{
    struct Pending
    {
        Position position;
        GHGpxTrackPoint* point; // a new midpoint; null for the segment's own point
    };
    QVector<GHGpxTrackPoint*> source;
    source.swap(segment->points);
    QVector<GHGpxTrackPoint*>& out = segment->points;
    out.reserve(source.size());
    std::vector<Pending> pending;
    Position previous;
    bool first = true;
    for (int i = 0; i < source.size(); ++i) {
        GHGpxTrackPoint* point = source.at(i);
        if (!point)
            continue;
        Position current;
        current.lat = point->lat.toDouble();
        current.lon = point->lon.toDouble();
        if (!validCoordinates(current.lat, current.lon)) {
            JX_WARNING << "track point" << point->lat << point->lon << "has no usable coordinates; skipped";
            delete point;
            continue;
        }
        const double ele = point->ele.toDouble();
        current.ele = elevationOf(ele, first ? 0.0 : previous.ele);
        if (ele != current.ele)
            point->ele = sixDecimals(current.ele);

        bool fits = out.size() < maxPoints;
        if (!first) {
            // Depth first: the last pending position is the next one to reach from at.
            Position at = previous;
            pending.assign(1, Pending{current, nullptr});
            while (fits && (pending.size() > 1 || !stepFits(at, pending.back().position))) {
                if (stepFits(at, pending.back().position)) {
                    at = pending.back().position;
                    out.append(pending.back().point);
                    pending.pop_back();
                } else if (out.size() + qint64(pending.size()) >= maxPoints) {
                    fits = false;
                } else {
                    Position mid;
                    GHGpxTrackPoint* inserted = midpoint(at, pending.back().position, mid);
                    pending.push_back(Pending{mid, inserted});
                }
            }
            for (size_t k = 1; k < pending.size(); ++k)
                out.append(pending[k].point);
        }
        if (!fits) {
            out.append(point);
            for (int rest = i + 1; rest < source.size(); ++rest)
                out.append(source.at(rest));
            JX_WARNING << "track segment needs more than" << maxPoints << "points; refused";
            return false;
        }
        out.append(point);
        previous = current;
        first = false;
    }
    return true;
}

// The 128-byte name field and its bitmap flag for a metadata name.
QByteArray nameField(bool bitfont, const QString& name, const QString& shortName, bool& bitmap)
{
    bitmap = bitfont;
    if (!bitfont)
        return name.toLatin1();
    QByteArray field(kNameBytes, '\0');
    int width = kNameWidth;
    int height = kNameHeight;
    JXPSFField::convertToBitfont(shortName.isEmpty() ? name : shortName, QString(), 0, width, height,
                                 reinterpret_cast<unsigned char*>(field.data()), kNameBytes);
    return field;
}

bool typeHas(const GHGpxRoutePoint* point, unsigned int bit)
{
    return point && (point->type.toUInt() & bit) != 0;
}

} // namespace

bool JXPSF::fromGPX(QString path)
{
    GHGpx2 gpx;
    GHGpxReader reader(&gpx);
    const bool read = reader.readFile(path);
    if (reader.version() != 2) {
        JX_WARNING << path << "is not a GPX file of version 2; nothing imported";
        return false;
    }
    // What came before a parse error would make a route that stops short.
    if (!read) {
        JX_WARNING << path << "does not read to its end; nothing imported";
        return false;
    }
    if (gpx.metadata && gpx.metadata->sharetype == QLatin1String("0"))
        return addPOI(&gpx);
    return addRoute(&gpx);
}

bool JXPSF::addPOI(GHGpx2* gpx)
{
    if (!gpx || gpx->waypoints.isEmpty() || !gpx->waypoints.first() || !m_poiFrame)
        return false;
    const GHGpxWayPoint* waypoint = gpx->waypoints.first();
    const double lat = waypoint->lat.toDouble();
    const double lon = waypoint->lon.toDouble();
    if (!validCoordinates(lat, lon)) {
        JX_WARNING << "waypoint" << waypoint->lat << waypoint->lon << "has no usable coordinates; no POI added";
        return false;
    }
    auto* poi = new JXPSFPOI(static_cast<JXPSFField*>(nullptr));
    poi->setLng(coordinateToPSF(lon));
    poi->setLat(coordinateToPSF(lat));
    poi->setAlt(short(-1)); // not set: the import has no altitude for it
    bool bitmap = false;
    const GHGpxMetadata* metadata = gpx->metadata;
    poi->setName(nameField(canBitfont(), metadata ? metadata->name : QString(),
                           metadata ? metadata->shortName : QString(), bitmap));
    poi->setNameType(bitmap);
    poi->setIsCalibration(false);
    poi->setUploaded(true);
    m_poiFrame->getPOIs()->append(poi);
    if (m_poiFrame->getHeader())
        m_poiFrame->getHeader()->setCount(unsigned(m_poiFrame->getPOIs()->size()));
    return true;
}

bool JXPSF::addRoute(GHGpx2* gpx)
{
    if (!gpx)
        return false;
    if (!gpx->route || !gpx->track) {
        JX_DEBUG << " JXPSF::addRoute rte =" << static_cast<void*>(gpx->route)
                 << " trk =" << static_cast<void*>(gpx->track);
        return false;
    }
    if (!m_routeFrame)
        return false;

    GHGpxMetadata none;
    const GHGpxMetadata* metadata = gpx->metadata ? gpx->metadata : &none;
    QString shortName = metadata->shortName;
    if (canBitfont() && metadata->name.isEmpty() && shortName.isEmpty())
        shortName = QStringLiteral("no name");

    std::unique_ptr<JXPSFRoute> route(new JXPSFRoute(static_cast<JXPSFField*>(nullptr)));
    route->setStartTime(kNone);
    route->setTrackFlag(false);
    bool bitmap = false;
    route->setName(nameField(canBitfont(), metadata->name, shortName, bitmap));
    route->setNameType(bitmap);
    route->setUploaded(true);
    route->setTwoBitValue(quint8(metadata->deviceBikeId.toUInt()));
    route->setActType(quint8(metadata->acttype.toUInt()));
    route->setActSubType(quint8(metadata->acttypeSubtype.toUInt()));
    route->setMetaValue(quint16(metadata->deviceWeight.toUInt() * 100));
    route->setSummaryOffset(kNone);

    // A route that could never fit the device's track area is refused here, before it costs its memory.
    const qint64 area = word(Def::TrackTableSize);
    qint64 used = 0;
    const QVector<GHGpxRoutePoint*>& outline = gpx->route->points;
    const QVector<GHGpxTrackSegment*>& segments = gpx->track->segments;
    for (int i = 0; i < segments.size(); ++i) {
        GHGpxTrackSegment* segment = segments.at(i);
        if (!segment)
            continue;
        const qint64 room = (area - used - kSegmentHeadSize) / kPointSize + 1;
        if (segment->points.size() >= 2 && !smoothSegment(segment, qBound<qint64>(0, room, kMostSegmentPoints + 1))) {
            JX_WARNING << "route" << metadata->name << "does not fit a segment or the track area of" << area
                       << "bytes; not added";
            return false;
        }
        if (addTrackSegment(segment, route.get(), outline.value(i), outline.value(i + 1)))
            used += route->getTracks().last()->writtenSize(false);
    }

    m_routeFrame->getRoutes()->append(route.release());
    if (m_routeFrame->getHeader())
        m_routeFrame->getHeader()->setRouteCount(quint16(m_routeFrame->getRoutes()->size()));
    return true;
}

bool JXPSF::addTrackSegment(GHGpxTrackSegment* segment, JXPSFRoute* route, GHGpxRoutePoint* start, GHGpxRoutePoint* end)
{
    if (!segment || !route || segment->points.size() < 2)
        return false;
    if (segment->points.size() - 1 > kMostSegmentPoints) {
        JX_WARNING << "track segment of" << segment->points.size() << "points is more than a segment counts";
        return false;
    }

    std::vector<Position> positions;
    std::vector<const GHGpxTrackPoint*> sources;
    positions.reserve(size_t(segment->points.size()));
    sources.reserve(size_t(segment->points.size()));
    for (const GHGpxTrackPoint* point : qAsConst(segment->points)) {
        if (!point)
            continue;
        Position position;
        position.lat = point->lat.toDouble();
        position.lon = point->lon.toDouble();
        if (!validCoordinates(position.lat, position.lon))
            continue;
        position.ele = elevationOf(point->ele.toDouble(), positions.empty() ? 0.0 : positions.back().ele);
        if (!positions.empty() && !stepFits(positions.back(), position)) {
            JX_WARNING << "track segment has a step that a point record cannot hold; refused";
            return false;
        }
        positions.push_back(position);
        sources.push_back(point);
    }
    if (positions.size() < 2)
        return false;

    auto* track = new JXPSFTrack(static_cast<JXPSFField*>(nullptr));
    const unsigned int id = unsigned(QDateTime::currentMSecsSinceEpoch() & 0xFFFFFFFF);
    JX_DEBUG << "id =" << id;
    track->setStartTime(id);
    const Position& first = positions.front();
    const Position& last = positions.back();
    track->setStartLng(coordinateToPSF(first.lon));
    track->setStartLat(coordinateToPSF(first.lat));
    track->setStartAlt(short(altToPSF(first.ele)));
    track->setEndLng(coordinateToPSF(last.lon));
    track->setEndLat(coordinateToPSF(last.lat));
    track->setEndAlt(short(altToPSF(last.ele)));
    track->setBreakFlag(segment->breaktype.toInt() == 2);
    track->setStartFlagA(typeHas(start, 4));
    track->setStartFlagB(typeHas(start, 8));
    track->setEndFlagA(typeHas(end, 4));
    track->setEndFlagB(typeHas(end, 16));
    track->setTimeUnit(kSegmentTimeUnit);

    QVector<QPointer<JXPSFRoutePoint>>* points = track->getRoutePoints();
    points->reserve(int(positions.size()) - 1);
    for (size_t i = 1; i < positions.size(); ++i) {
        const Position& before = positions[i - 1];
        const Position& here = positions[i];
        auto* point = new JXPSFRoutePoint(static_cast<JXPSFField*>(nullptr));
        point->setLngDelta(short(coordinateToPSF(here.lon) - coordinateToPSF(before.lon)));
        point->setLatDelta(short(coordinateToPSF(here.lat) - coordinateToPSF(before.lat)));
        point->setAltDelta(static_cast<signed char>(altDeltaToPSF(here.ele - before.ele + 0.05)));
        if (!sources[i]->type.isEmpty()) {
            const QStringList parts = sources[i]->type.split(QLatin1Char(','), Qt::SkipEmptyParts);
            point->setFlag1(parts.contains(QStringLiteral("1")));
            point->setFlag2(parts.contains(QStringLiteral("4")));
            point->setFlag3(parts.contains(QStringLiteral("8")));
        }
        points->append(point);
    }
    track->setPointCount(unsigned(positions.size() - 1));
    if (!route->getTrackFlag())
        track->setSensorLogOffset(kNone);
    route->getTrackList()->append(track);
    return true;
}

bool JXPSF::TrnFromGPX(QString path)
{
    GHTrncrs course;
    // The reader keeps only whole workouts, so what it read before an error is still good to add.
    if (!GHTrnReader(&course).readFile(path))
        JX_WARNING << path << "does not read to its end; adding the workouts read before the error";
    return addWorkout(&course);
}

bool JXPSF::addWorkout(GHTrncrs* course)
{
    if (!course || !m_workoutFrame)
        return false;
    const GHTrnMetadata* metadata = course->metadata;
    const QString name = metadata ? metadata->name : QString();
    const QString shortName = metadata ? metadata->nameShort : QString();
    for (const GHTrnWorkout* workout : qAsConst(course->workouts)) {
        if (!workout)
            continue;
        auto* record = new JXPSFWorkout(static_cast<JXPSFField*>(nullptr));
        record->setTime(workout->time.isEmpty() ? kNone : timeToPSF(workout->time));
        record->setWorkoutId(workout->id.toUInt());
        record->setFlag(workout->daily.toInt() != 0);
        record->setTypeValue(quint8(workout->acttype.toUInt()));
        record->setLowValue(quint8(workout->repeat.toUInt()));
        record->setHighValue(quint8(workout->type.toUInt()));
        record->setUploaded(true);
        bool bitmap = false;
        record->setName(nameField(canBitfont(), name, shortName, bitmap));
        record->setNameType(bitmap);
        for (GHTrnInterval* interval : qAsConst(workout->intervals))
            addWorkoutInterval(interval, record);
        m_workoutFrame->getWorkouts()->append(record);
    }
    m_workoutFrame->setWorkoutCount(quint8(m_workoutFrame->getWorkouts()->size()));
    return true;
}

bool JXPSF::addWorkoutInterval(GHTrnInterval* interval, JXPSFWorkout* workout)
{
    if (!interval || !workout || !interval->target || !interval->duration)
        return false;
    auto* record = new JXPSFInterval(static_cast<JXPSFField*>(nullptr));
    record->setIntervalType(intervalTypeToPSF(interval->name));
    record->setFlag(false);
    record->setTargetType(quint8(interval->target->type.toUInt()));
    record->setDurationType(quint8(interval->duration->type.toUInt()));
    // Signed, as the export writes values from 32768 up.
    record->setDurationValue(quint16(interval->duration->value.toInt()));
    record->setValue(kNone);
    record->setRepeat(quint8(interval->goToRepeat.toUInt()));
    record->setTargetLow(quint8(interval->target->low.toUInt()));
    record->setTargetHigh(quint8(interval->target->high.toUInt()));
    workout->getIntervals()->append(record);
    return true;
}
