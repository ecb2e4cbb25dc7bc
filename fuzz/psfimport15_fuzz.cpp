// libFuzzer target for the share-data import of the second-generation client: the input is written as a GPX file
// and as a training-course file and imported (setShareDataGPX, then setShareDataTrn) into an empty layout-A image
// held by the client, whose frames are served from memory instead of the device.
//
// Checks: the import writes only inside the header slot and the route, track, workout and interval areas; every end
// word stays inside its table; a fresh store over the image reads back the routes and workouts the client's store
// holds; every stored segment counts the points it has, and its altitude deltas lead from its start altitude to its
// end altitude (a delta that had wrapped would not); every decoded position of an imported route is a point of the
// file or lies on the straight line between two neighbouring ones.
//
// The client's image and the read-back store's are laid out once; since only the writable areas may change, each
// input restores just those.

#include "device/jxlanguageimage.h"
#include "device/psfdevice/jxpsfdevice.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsf_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsftrackpoint_1_5.h"
#include "psf/gen2/jxpsftrackseg_1_5.h"
#include "psf/gen2/jxpsfworkout_1_5.h"
#include "util/ghgpx2.h"
#include "util/ghgpxmetadata.h"
#include "util/ghgpxreader.h"
#include "util/ghgpxtrack.h"

#include <QCoreApplication>
#include <QtEndian>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzzsupport.h"
#include "jxmemorypsfstore.h"
#include "jxpsftestimage.h"

using JXFuzz::require;

namespace {

using Layout = JXPSFTestImage::Layout;

// The client over an image in memory: every frame counts as read.
class FuzzClient : public JXPSFDevice
{
public:
    void reset(const QByteArray& image, const QVector<QPair<int, int>>& ranges)
    {
        for (const auto& range : ranges)
            memcpy(m_image.data() + range.first, image.constData() + range.first, size_t(range.second - range.first));
        require(initial(), "the client does not start over the empty image");
    }
    const QByteArray& image() const { return m_image; }
    JXPSF_1_5* store() { return m_psf.get(); }
    // What the store loaded goes with the input that made it: libFuzzer runs an input again, and then a leak check
    // over the whole heap, whenever an input ends with more allocations than frees.
    void dropStore() { m_psf.reset(); }
    // The device's language area as if already read: the workout import's language filter asks for it per
    // workout, and a client without a device would allocate the whole area for each failed read.
    void setLanguageArea(const QByteArray& area) { m_languageBuffer = area; }

    bool openPSF(char** base) override
    {
        *base = m_image.data() + JXPSFTestImage::PSFBase;
        return true;
    }
    bool loadFlashInfoFrame(char** base) override
    {
        *base = m_image.data();
        return true;
    }
    bool loadProfileFrame(char** profile) override
    {
        *profile = m_image.data() + 0x1F9000;
        return true;
    }
    bool loadPSFDistHeaderFrame() override { return true; }
    bool loadPSFRouteFrame() override { return true; }
    bool loadPSFTrackFrame() override { return true; }
    bool loadPSFWorkoutFrame() override { return true; }
    bool loadPSFSensorLogFrame() override { return true; }
    bool loadPSFWorkoutLogFrame() override { return true; }
    bool loadPSFUserInfoLogFrame() override { return true; }
};

QByteArray s_empty;
FuzzClient* s_client = nullptr;
QString s_gpx;
QString s_course;
// The header slot, the frame heads' counts and the tables: all the import may change, in ascending order.
QVector<QPair<int, int>> s_writable;
JXMemoryPSFStore* s_readBack = nullptr;
JXExtFlashInfo_2M* s_readBackInfo = nullptr;

quint32 word(const QByteArray& image, int offset)
{
    return qFromLittleEndian<quint32>(image.constData() + offset);
}

// An erased language area whose last table lists three languages.
QByteArray languageArea()
{
    const int areaSize = 0xF8800;
    const int tableAt = 0xF8714; // the last place the read accepts
    QByteArray area(areaSize, char(0xFF));
    qToLittleEndian<quint32>(JXLanguageHeader::MAGIC, area.data() + tableAt);
    memcpy(area.data() + tableAt + JXLanguageHeader::CODES_OFFSET, "ENGDEUFRA", 9);
    return area;
}

// The bytes outside [from, to) are as they were.
bool sameOutside(const QByteArray& before, const QByteArray& after, const QVector<QPair<int, int>>& writable)
{
    int position = 0;
    for (const auto& range : writable) {
        if (memcmp(before.constData() + position, after.constData() + position, size_t(range.first - position)) != 0)
            return false;
        position = range.second;
    }
    return memcmp(before.constData() + position, after.constData() + position, size_t(before.size() - position)) == 0;
}

void checkTables(const QByteArray& image)
{
    const JXPSFTestImage::Area tables[] = {JXPSFTestImage::workout(Layout::A), JXPSFTestImage::route(Layout::A),
                                           JXPSFTestImage::interval(Layout::A), JXPSFTestImage::track(Layout::A)};
    const int ends[] = {JXExtFlashInfo_2M::WorkoutTableEnd, JXExtFlashInfo_2M::RouteTableEnd,
                        JXExtFlashInfo_2M::IntervalTableEnd, JXExtFlashInfo_2M::TrackTableEnd};
    const int rooms[] = {JXExtFlashInfo_2M::WorkoutRoomLeft, JXExtFlashInfo_2M::RouteRoomLeft,
                         JXExtFlashInfo_2M::IntervalRoomLeft, JXExtFlashInfo_2M::TrackRoomLeft};
    for (int index = 0; index < 4; ++index) {
        const quint32 end = word(image, ends[index]);
        require(end >= tables[index].tableStart && end <= tables[index].tableStart + tables[index].tableSize,
                "an end word left its table");
        require(end - tables[index].tableStart + word(image, rooms[index]) == tables[index].tableSize,
                "room left and end word disagree");
    }
    require(sameOutside(s_empty, image, s_writable), "the import wrote outside its tables");
}

QVector<QPair<int, int>> writableAreas()
{
    const JXPSFTestImage::Area route = JXPSFTestImage::route(Layout::A);
    const JXPSFTestImage::Area workout = JXPSFTestImage::workout(Layout::A);
    const JXPSFTestImage::Area interval = JXPSFTestImage::interval(Layout::A);
    const JXPSFTestImage::Area track = JXPSFTestImage::track(Layout::A);
    return {
        {0, JXExtFlashInfo_2M::SlotSize},
        {int(workout.frameStart), int(workout.tableStart + workout.tableSize)},
        {int(route.frameStart), int(route.tableStart + route.tableSize)},
        {int(interval.tableStart), int(interval.tableStart + interval.tableSize)},
        {int(track.frameStart), int(track.tableStart + track.tableSize)},
    };
}

// Millionths of a degree as the import takes them from the file's text.
struct Millionths
{
    qint64 lat;
    qint64 lon;
    bool operator==(const Millionths& other) const { return lat == other.lat && lon == other.lon; }
};

Millionths millionthsOf(const GHGpxTrackPoint* point)
{
    const GHLatLng position(point->lat.toDouble(), point->lon.toDouble());
    return {position.getLat(), position.getLng()};
}

// On the straight line from a to b and not beyond its ends. Midpoints are written with six decimals and read back
// truncated, so each level of halving may stray by a millionth; a wrapped 16-bit step strays by thousands.
bool onLine(const Millionths& a, const Millionths& b, const Millionths& p)
{
    const double slack = 24.0;
    const double dx = double(b.lat - a.lat);
    const double dy = double(b.lon - a.lon);
    const double length = std::sqrt(dx * dx + dy * dy);
    const double px = double(p.lat - a.lat);
    const double py = double(p.lon - a.lon);
    if (length == 0.0)
        return std::fabs(px) <= slack && std::fabs(py) <= slack;
    const double along = (px * dx + py * dy) / length;
    const double across = (px * dy - py * dx) / length;
    return std::fabs(across) <= slack && along >= -slack && along <= length + slack;
}

// The segments of the file that the import keeps (two points or more) against the stored ones, in order.
void checkPositions(const QVector<JXPSFTrackSeg_1_5*>& stored, const GHGpx2& file)
{
    QVector<const GHGpxTrackSegment*> kept;
    for (const GHGpxTrackSegment* segment : qAsConst(file.track->segments)) {
        if (segment && segment->points.size() >= 2)
            kept.append(segment);
    }
    require(stored.size() == kept.size(), "the route has other segments than the file");
    for (int index = 0; index < kept.size(); ++index) {
        const QVector<GHGpxTrackPoint*>& points = kept.at(index)->points;
        JXPSFTrackSeg_1_5* segment = stored.at(index);
        Millionths at{segment->getStartLat(), segment->getStartLon()};
        require(at == millionthsOf(points.first()), "a segment starts elsewhere than the file's first point");
        // Reaching the next file point early is harmless: a midpoint that equals it was made for the elevation, and
        // the rest of that step stays there.
        int reached = 0; // the file's point last decoded
        for (JXPSFTrackPoint_1_5* point : qAsConst(segment->getTrackPoints())) {
            at.lat += point->getDelLat();
            at.lon += point->getDelLon();
            const Millionths from = millionthsOf(points.at(reached));
            const Millionths next = reached + 1 < points.size() ? millionthsOf(points.at(reached + 1)) : from;
            if (at == next && reached + 1 < points.size())
                ++reached;
            else
                require(onLine(from, next, at), "a position strays from the file's track");
        }
        require(reached == points.size() - 1 && at == millionthsOf(points.last()),
                "a segment stops elsewhere than the file's last point");
        require(at == Millionths{segment->getEndLat(), segment->getEndLon()}, "the end position disagrees");
    }
}

void checkReadBack(JXPSF_1_5* held, const QByteArray& image, const GHGpx2* file)
{
    for (const auto& range : qAsConst(s_writable))
        memcpy(s_readBack->bytes() + range.first, image.constData() + range.first, size_t(range.second - range.first));
    s_readBackInfo->initialFlashDef(reinterpret_cast<const unsigned char*>("1510"));
    JXPSF_1_5 fresh(s_readBack);

    QVector<JXPSFRoute_1_5*> heldRoutes;
    QVector<JXPSFRoute_1_5*> routes;
    require(held->getAllRoutes(heldRoutes) && fresh.getAllRoutes(routes), "no route frame");
    require(routes.size() == heldRoutes.size(), "routes lost in the image");
    for (JXPSFRoute_1_5* route : qAsConst(routes)) {
        QVector<JXPSFTrackSeg_1_5*> segments;
        require(fresh.getTrackOfRoute(route, segments), "no track frame");
        for (JXPSFTrackSeg_1_5* segment : qAsConst(segments)) {
            require(segment->isComplete(), "a segment crosses the list end");
            require(int(segment->getPntCount()) == segment->getTrackPoints().size(),
                    "a segment counts other points than it holds");
            double altitude = segment->getStartAlt().getValue();
            for (JXPSFTrackPoint_1_5* point : qAsConst(segment->getTrackPoints()))
                altitude += point->getDelAlt() / 10.0;
            // A delta is truncated toward zero after adding 0.05 m, so a descending step may gain up to 0.15 m;
            // start and end are quarters of a metre.
            const double slack = 0.5 + 0.15 * segment->getTrackPoints().size() + 1e-6;
            require(std::fabs(altitude - segment->getEndAlt().getValue()) <= slack, "an altitude delta wrapped");
        }
        if (file)
            checkPositions(segments, *file);
    }
    QVector<JXPSFWorkout_1_5*> heldWorkouts;
    QVector<JXPSFWorkout_1_5*> workouts;
    require(held->getWorkouts(heldWorkouts) && fresh.getWorkouts(workouts), "no workout frame");
    require(workouts.size() == heldWorkouts.size(), "workouts lost in the image");
    for (int index = 0; index < workouts.size(); ++index)
        require(workouts.at(index)->getIntervals().size() == heldWorkouts.at(index)->getIntervals().size(),
                "intervals lost in the image");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    JXFuzz::silenceMessages();
    const QString root = JXFuzz::scratchRoot("psfimport15");
    s_gpx = root + QLatin1String("/input.gpx");
    s_course = root + QLatin1String("/input.wrk");
    s_empty = JXPSFTestImage::emptyImage(Layout::A);
    s_writable = writableAreas();
    s_client = new FuzzClient;
    s_client->setLanguageArea(languageArea());
    s_client->reset(s_empty, {{0, s_empty.size()}});
    s_readBack = new JXMemoryPSFStore;
    s_readBack->setImage(s_empty);
    s_readBackInfo = new JXExtFlashInfo_2M(s_readBack);
    s_readBack->setFlashInfo(s_readBackInfo);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), int(size));
    require(JXFuzz::writeFile(s_gpx, input) && JXFuzz::writeFile(s_course, input), "cannot write the input");

    s_client->reset(s_empty, s_writable);
    const bool routeImported = s_client->setShareDataGPX(s_gpx);
    s_client->setShareDataTrn(s_course);
    checkTables(s_client->image());
    // The file as the import read it, for the positions of the route it made.
    GHGpx2 file;
    GHGpxReader reader(&file);
    const bool readable = reader.readFile(s_gpx) && reader.version() == 2 && file.track;
    checkReadBack(s_client->store(), s_client->image(), routeImported && readable ? &file : nullptr);
    s_client->dropStore();
    return 0;
}
