// libFuzzer target for the share-data import of the second-generation client: the input is written as a GPX file
// and as a training-course file and imported (setShareDataGPX, then setShareDataTrn) into an empty layout-A image
// held by the client, whose frames are served from memory instead of the device.
//
// Checks: the import writes only inside the header slot and the route, track, workout and interval areas; every end
// word stays inside its table; a fresh store over the image reads back the routes and workouts the client's store
// holds; every stored segment counts the points it has, and its altitude deltas lead from its start altitude to its
// end altitude (a delta that had wrapped would not).

#include "device/jxpsfdevice.h"
#include "psf/jxextflashinfo_2m.h"
#include "psf/jxpsf_1_5.h"
#include "psf/jxpsfroute_1_5.h"
#include "psf/jxpsftrackpoint_1_5.h"
#include "psf/jxpsftrackseg_1_5.h"
#include "psf/jxpsfworkout_1_5.h"

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
    void reset(const QByteArray& image)
    {
        memcpy(m_image.data(), image.constData(), size_t(image.size()));
        require(initial(), "the client does not start over the empty image");
    }
    const QByteArray& image() const { return m_image; }
    JXPSF_1_5* store() { return m_psf.get(); }

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

quint32 word(const QByteArray& image, int offset)
{
    return qFromLittleEndian<quint32>(image.constData() + offset);
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
    // Slot 0 of the header, the frame heads' counts, and the tables are all the import may change.
    const JXPSFTestImage::Area route = JXPSFTestImage::route(Layout::A);
    const JXPSFTestImage::Area workout = JXPSFTestImage::workout(Layout::A);
    const JXPSFTestImage::Area interval = JXPSFTestImage::interval(Layout::A);
    const JXPSFTestImage::Area track = JXPSFTestImage::track(Layout::A);
    const QVector<QPair<int, int>> writable = {
        {0, JXExtFlashInfo_2M::SlotSize},
        {int(workout.frameStart), int(workout.tableStart + workout.tableSize)},
        {int(route.frameStart), int(route.tableStart + route.tableSize)},
        {int(interval.tableStart), int(interval.tableStart + interval.tableSize)},
        {int(track.frameStart), int(track.tableStart + track.tableSize)},
    };
    require(sameOutside(s_empty, image, writable), "the import wrote outside its tables");
}

void checkReadBack(JXPSF_1_5* held, const QByteArray& image)
{
    JXMemoryPSFStore store;
    store.setImage(image);
    JXExtFlashInfo_2M info(&store);
    info.initialFlashDef(reinterpret_cast<const unsigned char*>("1510"));
    store.setFlashInfo(&info);
    JXPSF_1_5 fresh(&store);

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
            // Each step loses less than a tenth to truncation; start and end are quarters of a metre.
            const double slack = 0.5 + 0.1 * segment->getTrackPoints().size();
            require(std::fabs(altitude - segment->getEndAlt().getValue()) <= slack, "an altitude delta wrapped");
        }
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
    s_client = new FuzzClient;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), int(size));
    require(JXFuzz::writeFile(s_gpx, input) && JXFuzz::writeFile(s_course, input), "cannot write the input");

    s_client->reset(s_empty);
    s_client->setShareDataGPX(s_gpx);
    s_client->setShareDataTrn(s_course);
    checkTables(s_client->image());
    checkReadBack(s_client->store(), s_client->image());
    return 0;
}
