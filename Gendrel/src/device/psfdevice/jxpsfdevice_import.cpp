// Shared packages into the second-generation store of JXPSFDevice: the package, its GPX routes and their track
// segments. The workouts are in jxpsfdevice_workoutimport.cpp.

#include "device/psfdevice/jxpsfdevice.h"

#include <QDateTime>
#include <QFileInfo>
#include <QtEndian>

#include <charconv>
#include <cmath>
#include <vector>

#include "../../../../core/include/location/ghlatlng.h"
#include "../../../../core/include/util/ghgpx2.h"
#include "../../../../core/include/util/ghgpxmetadata.h"
#include "../../../../core/include/util/ghgpxreader.h"
#include "../../../../core/include/util/ghgpxroute.h"
#include "../../../../core/include/util/ghgpxtrack.h"
#include "../jxsharepackage.h"
#include "jxenv.h"
#include "jxlog.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsf_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsftrackpoint_1_5.h"
#include "psf/gen2/jxpsftrackseg_1_5.h"
#include "psf/jxpsfvalue.h"

namespace {

const unsigned int kNoTime = 0xFFFFFFFF;
// Largest steps between neighbours: a point's altitude delta is 8 bits of tenths of a metre, its position deltas
// 16 bits of millionths of a degree.
const double kLargestStep = 12.7;
const qint64 kLargestPositionStep = 32767;
// What JXPSFAlt stores without clamping: (metres + 1000) x 4 in a signed 16-bit field.
const double kLowestAltitude = -9192.0;
const double kHighestAltitude = 7191.75;
const unsigned int kPointSize = 6; // the class-0 points made here
const unsigned char kTimeInterval = 4;
const unsigned char kTimeType = 2;

// A point's elevation text as metres; an empty text is 0.
double elevation(const QString& text, bool* ok = nullptr)
{
    if (text.trimmed().isEmpty()) {
        if (ok)
            *ok = true;
        return 0.0;
    }
    return text.toDouble(ok);
}

bool storableAltitude(double metres)
{
    return std::isfinite(metres) && metres >= kLowestAltitude && metres <= kHighestAltitude;
}

// Low 16 bits of a truncated value; what has no integer value is 0.
unsigned short low16(double value)
{
    const double truncated = std::trunc(value);
    if (!std::isfinite(truncated) || std::fabs(truncated) >= 9.0e18)
        return 0;
    return static_cast<unsigned short>(static_cast<qint64>(truncated) & 0xFFFF);
}

// A coordinate the store can hold: its millionths of a degree have a 32-bit value (GHLatLng's test).
bool storableCoordinate(double degrees)
{
    const double millionths = degrees * 1e6;
    return millionths > -2147483649.0 && millionths < 2147483648.0;
}

struct Position
{
    Position() = default;
    Position(double latitude, double longitude, double metres)
        : lat(latitude), lon(longitude), ele(metres), stored(latitude, longitude)
    {
    }
    double lat = 0.0;
    double lon = 0.0;
    double ele = 0.0;
    GHLatLng stored; // what the track point's deltas are made from
};

bool stepFits(const Position& from, const Position& to)
{
    return std::fabs(to.ele - from.ele) <= kLargestStep &&
           std::abs(qint64(to.stored.getLat()) - from.stored.getLat()) <= kLargestPositionStep &&
           std::abs(qint64(to.stored.getLng()) - from.stored.getLng()) <= kLargestPositionStep;
}

// The value as a GPX file with six decimals would give it back (QString::number(value, 'f', 6) read again), so
// that a midpoint is stored as the first-generation import and an exported file would have it.
double sixDecimals(double value)
{
    char text[400]; // fixed notation of the largest double
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    if (written.ec != std::errc())
        return QString::number(value, 'f', 6).toDouble();
    double readBack = 0.0;
    std::from_chars(text, written.ptr, readBack);
    return readBack;
}

Position midpoint(const Position& a, const Position& b)
{
    return Position(sixDecimals((a.lat + b.lat) / 2), sixDecimals((a.lon + b.lon) / 2),
                    sixDecimals((a.ele + b.ele) / 2));
}

// Hands visit(position, source) every point the segment stores: the file's points, with midpoints (no source)
// wherever neighbours differ by more than a point's deltas hold. Midpoints are made again for each walk rather than
// kept: a long step in a small file can make tens of thousands. False as soon as visit is.
template <typename Visit>
bool forEachStoredPoint(const GHGpxTrackSegment& segment, const QVector<Position>& positions, Visit visit)
{
    // The halvings still owed between the last point handed out and the file's next one, nearest last.
    std::vector<Position> pending;
    Position at;
    for (int index = 0; index < segment.points.size(); ++index) {
        const Position& next = positions.at(index);
        if (index > 0) {
            // Depth first, as midpoints inserted one at a time behind the current point would come out.
            pending.assign(1, next);
            while (pending.size() > 1 || !stepFits(at, pending.back())) {
                const Position target = pending.back();
                if (!stepFits(at, target)) {
                    pending.push_back(midpoint(at, target));
                    continue;
                }
                if (!visit(target, nullptr))
                    return false;
                at = target;
                pending.pop_back();
            }
        }
        if (!visit(next, segment.points.at(index)))
            return false;
        at = next;
    }
    return true;
}

// Writes one track segment record a point at a time: the first point given is its start, the last its end.
class SegmentWriter
{
public:
    explicit SegmentWriter(JXExtFlashInfo_2M* info) : m_info(info) {}

    // False when the store gives no record.
    bool begin(JXPSF_1_5& store, JXPSFRoute_1_5* route, const GHGpxTrackSegment& segment, const GHGpxRoutePoint* start,
               const GHGpxRoutePoint* end)
    {
        m_record = store.createTrackSeg(route);
        m_points = 0;
        if (!m_record) {
            JX_WARNING << "the store made no track segment for a route";
            return false;
        }
        // Milliseconds, of which the record keeps the low 32 bits: the device may rely on that value.
        m_record->setTime(static_cast<unsigned int>(QDateTime::currentMSecsSinceEpoch() & 0xFFFFFFFF));
        m_record->setSWpt(false);
        m_record->setEWpt(false);
        m_record->setItvStart(false);
        m_record->setItvEnd(false);
        m_record->setTimeInterval(kTimeInterval);
        m_record->setTimeType(kTimeType);
        m_record->setBreakType(static_cast<unsigned char>(segment.breaktype.toInt() & 0xFF));
        m_record->setActType(static_cast<unsigned char>(segment.acttype.toInt() & 0xFF));
        if (start) {
            const int type = start->type.toInt();
            if (type & 4)
                m_record->setSWpt(true);
            if (type & 8)
                m_record->setItvStart(true);
        }
        if (end) {
            const int type = end->type.toInt();
            if (type & 4)
                m_record->setEWpt(true);
            if (type & 16)
                m_record->setItvEnd(true);
        }
        return true;
    }

    // False when the store gives no track point. The file's point, when there is one, gives the marks.
    bool add(const Position& here, const GHGpxTrackPoint* source)
    {
        if (m_points++ == 0) {
            m_record->setStartLon(here.stored.getLng());
            m_record->setStartLat(here.stored.getLat());
            m_record->setStartAlt(JXPSFAlt(here.ele).toPSFAlt());
            m_previous = here;
            return true;
        }
        JXPSFTrackPoint_1_5* point = m_record->createTrackPoint(m_info);
        if (!point) {
            JX_WARNING << "the store made no track point" << m_points - 1 << "of a segment";
            return false;
        }
        point->setLocType(0);
        // The densified steps fit the 16-bit deltas; unsigned arithmetic keeps the difference defined regardless.
        point->setDelLon(int(quint32(here.stored.getLng()) - quint32(m_previous.stored.getLng())));
        point->setDelLat(int(quint32(here.stored.getLat()) - quint32(m_previous.stored.getLat())));
        point->setDelAlt(JXPSFAlt(m_previous.ele).toPSFDeltAlt(here.ele + 0.05));
        point->setSlopeBase(false);
        point->setSlopeCrest(false);
        point->setTurn(false);
        if (source && !source->type.isEmpty()) {
            for (const QStringRef& part : source->type.splitRef(QLatin1Char(','))) {
                if (part == QLatin1String("1"))
                    point->setTurn(true);
                else if (part == QLatin1String("4"))
                    point->setSlopeCrest(true);
                else if (part == QLatin1String("8"))
                    point->setSlopeBase(true);
            }
        }
        m_previous = here;
        return true;
    }

    void finish()
    {
        m_record->setEndLon(m_previous.stored.getLng());
        m_record->setEndLat(m_previous.stored.getLat());
        m_record->setEndAlt(JXPSFAlt(m_previous.ele).toPSFAlt());
    }

private:
    JXExtFlashInfo_2M* m_info;
    JXPSFTrackSeg_1_5* m_record = nullptr;
    Position m_previous;
    quint64 m_points = 0;
};

} // namespace

quint32 JXPSFDevice::tableRoom(int startWord, int sizeWord, int areaEndWord, int roomField, int endField)
{
    const char* header = m_flashInfo->getFlashHeader();
    if (!header)
        return 0;
    const unsigned int* layout = m_flashInfo->getFlashDef();
    const quint64 tableEnd = qMin<quint64>(quint64(layout[startWord]) + layout[sizeWord], layout[areaEndWord]);
    const quint64 used = qMax<quint64>(qFromLittleEndian<quint32>(header + endField), layout[startWord]);
    const quint64 behind = used < tableEnd ? tableEnd - used : 0;
    return quint32(qMin<quint64>(behind, qFromLittleEndian<quint32>(header + roomField)));
}

bool JXPSFDevice::setShareData(QString path)
{
    return importShareData(path, true);
}

bool JXPSFDevice::newSetShareData(QString path)
{
    return importShareData(path, false);
}

bool JXPSFDevice::importShareData(const QString& path, bool languageFilter)
{
    JXFunctionTrace trace(QStringLiteral("setShareData"));
    if (!m_psf) {
        JX_WARNING << "no data store to import" << path << "into";
        m_error = true;
        return false;
    }
    const QString folder = JXEnv::getInstance()->getTmpFolder() + QLatin1String("/zelto40tmp");
    QFileInfoList entries;
    const bool unpacked = JXSharePackage::unpack(path, folder, entries);
    bool imported = true;
    for (const QFileInfo& entry : entries) {
        const QString kind = entry.fileName().right(3);
        if (kind.compare(QLatin1String("wrk"), Qt::CaseInsensitive) == 0) {
            const QString file = entry.absoluteFilePath();
            if (!(languageFilter ? setShareDataTrn(file) : newSetShareDataTrn(file)))
                imported = false;
        }
        if (kind.compare(QLatin1String("gpx"), Qt::CaseInsensitive) == 0 && !setShareDataGPX(entry.absoluteFilePath()))
            imported = false;
    }
    if (unpacked && !imported)
        JX_WARNING << "not everything of" << path << "was imported";
    const bool result = unpacked && imported;
    m_error = !result;
    return result;
}

bool JXPSFDevice::setShareDataGPX(QString path)
{
    GHGpx2 gpx;
    GHGpxReader reader(&gpx);
    const bool read = reader.readFile(path);
    // Not ours, or shared as a place rather than a route: nothing to import.
    if (reader.version() != 2 || (gpx.metadata && gpx.metadata->sharetype == QLatin1String("0")))
        return true;
    // What came before a parse error would make a route that stops short.
    if (!read) {
        JX_WARNING << path << "does not read to its end; not imported";
        return false;
    }
    return addRoute(&gpx);
}

bool JXPSFDevice::addRoute(GHGpx2* gpx)
{
    if (!gpx)
        return false;
    if (!gpx->route || !gpx->track) {
        JX_CRITICAL << " JXPSF::addRoute rte =" << static_cast<void*>(gpx->route)
                    << " trk =" << static_cast<void*>(gpx->track);
        return false;
    }
    if (!m_psf) {
        JX_WARNING << "no data store to take the route";
        return false;
    }
    GHGpxMetadata none;
    const GHGpxMetadata* metadata = gpx->metadata ? gpx->metadata : &none;
    QString name = metadata->shortName;
    if (name.isEmpty())
        name = metadata->name;
    if (name.isEmpty())
        name = QStringLiteral("no name");

    // Every elevation and coordinate must be one the store can hold: a step to infinity would never be split finely
    // enough, one of 1e9 metres into a hundred million points, and a coordinate without a 32-bit value would move
    // the point to 0.
    const QVector<GHGpxTrackSegment*>& segments = gpx->track->segments;
    QVector<QVector<Position>> positions(segments.size());
    for (int index = 0; index < segments.size(); ++index) {
        GHGpxTrackSegment* segment = segments.at(index);
        if (!segment)
            continue;
        positions[index].reserve(segment->points.size());
        for (const GHGpxTrackPoint* point : qAsConst(segment->points)) {
            if (!point) {
                JX_WARNING << "route" << name << "has a track point that is missing; not imported";
                return false;
            }
            bool ok = false;
            const double ele = elevation(point->ele, &ok);
            if (!ok || !storableAltitude(ele)) {
                JX_WARNING << "route" << name << "has the elevation" << point->ele << "outside" << kLowestAltitude
                           << "to" << kHighestAltitude << "m; not imported";
                return false;
            }
            const double lat = point->lat.toDouble();
            const double lon = point->lon.toDouble();
            if (!storableCoordinate(lat) || !storableCoordinate(lon)) {
                JX_WARNING << "route" << name << "has the position" << point->lat << point->lon
                           << "that the store cannot hold; not imported";
                return false;
            }
            positions[index].append(Position(lat, lon, ele));
        }
    }

    // The whole track must fit before the route is made, so that no route is left without its segments.
    const quint32 room =
        tableRoom(JXExtFlashInfo_2M::TrackTableStartWord, JXExtFlashInfo_2M::TrackTableSize,
                  JXExtFlashInfo_2M::TrackAreaEnd, JXExtFlashInfo_2M::TrackRoomLeft, JXExtFlashInfo_2M::TrackTableEnd);
    quint64 bytesLeft = room;
    for (int index = 0; index < segments.size(); ++index) {
        GHGpxTrackSegment* segment = segments.at(index);
        if (!segment || segment->points.size() < 2)
            continue;
        // The bytes the segment would take in the track table, and a count its head can give back.
        quint64 points = 0;
        const bool fits =
            forEachStoredPoint(*segment, positions.at(index), [&](const Position&, const GHGpxTrackPoint*) {
                const quint64 size = points == 0 ? JXPSFTrackSeg_1_5::HeadSize : kPointSize;
                if (size > bytesLeft || points > JXPSFTrackSeg_1_5::MostPoints)
                    return false;
                bytesLeft -= size;
                ++points;
                return true;
            });
        if (!fits) {
            JX_WARNING << "route" << name << "does not fit the" << room
                       << "bytes left in the track table, or a segment has more points than it can count; "
                          "not imported";
            return false;
        }
    }

    JXPSFRoute_1_5* route =
        m_psf->createRoute(QStringList{name}, QStringList{QStringLiteral("ENG")}, isSupportBitfont());
    if (!route) {
        JX_WARNING << "the store made no record for route" << name << "; not imported";
        return false;
    }
    route->setStartTime(kNoTime);
    route->setRouteType(0);
    route->setBikeID(static_cast<unsigned char>(metadata->deviceBikeId.toUInt() & 0xFF));
    route->setUploaded(true);
    route->setActType(static_cast<unsigned char>(metadata->acttype.toUInt() & 0xFF));
    route->setSubActType(static_cast<unsigned char>(metadata->acttypeSubtype.toUInt() & 0xFF));
    route->setWeight(static_cast<unsigned short>((metadata->deviceWeight.toUInt() * 100) & 0xFFFF));
    route->setReserve(low16(double(metadata->trvdist.toFloat()) / 10.0));

    const QVector<GHGpxRoutePoint*>& outline = gpx->route->points;
    SegmentWriter writer(m_flashInfo.get());
    bool result = true;
    for (int index = 0; index < segments.size(); ++index) {
        const GHGpxTrackSegment* segment = segments.at(index);
        // A segment of fewer than two points is no segment; the others still count.
        if (!segment || segment->points.size() < 2)
            continue;
        if (!writer.begin(*m_psf, route, *segment, outline.value(index), outline.value(index + 1)) ||
            !forEachStoredPoint(
                *segment, positions.at(index),
                [&](const Position& here, const GHGpxTrackPoint* source) { return writer.add(here, source); })) {
            result = false;
            continue;
        }
        writer.finish();
    }
    return result;
}

bool JXPSFDevice::addTrackSegment(GHGpxTrackSegment* segment, JXPSFRoute_1_5* route, GHGpxRoutePoint* start,
                                  GHGpxRoutePoint* end)
{
    if (!segment || !route || !m_psf || segment->points.size() < 2)
        return false;
    for (const GHGpxTrackPoint* point : qAsConst(segment->points)) {
        if (!point)
            return false;
    }
    SegmentWriter writer(m_flashInfo.get());
    if (!writer.begin(*m_psf, route, *segment, start, end))
        return false;
    for (const GHGpxTrackPoint* point : qAsConst(segment->points)) {
        if (!writer.add(Position(point->lat.toDouble(), point->lon.toDouble(), elevation(point->ele)), point))
            return false;
    }
    writer.finish();
    return true;
}
