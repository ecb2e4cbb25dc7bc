#include "psf/gen1/jxpsfreader.h"

#include "jxlog.h"
#include "psf/gen1/jxpsf.h"
#include "psf/gen1/jxpsfdistheader.h"
#include "psf/gen1/jxpsfpoiframe.h"
#include "psf/gen1/jxpsfrouteframe.h"
#include "psf/gen1/jxpsfsensorlogframe.h"
#include "psf/gen1/jxpsftrackframe.h"
#include "psf/gen1/jxpsfworkoutframe.h"

namespace {

// The image from a frame's offset to its end, without a copy; empty when the offset lies outside the image.
QByteArray frameBytes(const QByteArray& image, const JXPSFManagementHeaderRecord* record)
{
    if (!record)
        return QByteArray();
    const qint64 offset = record->getManHeaderOffset();
    if (offset >= image.size()) {
        JX_WARNING << "frame at" << offset << "lies outside an image of" << image.size() << "bytes";
        return QByteArray();
    }
    return QByteArray::fromRawData(image.constData() + offset, int(image.size() - offset));
}

using Def = flash_header_def;

// Where the layout lets a table lie in the image: from its start word for its size word, never past its area's
// end nor outside the image.
JXPSFTableArea tableArea(const QByteArray& image, const flash_header_def& def, Def::Word start, Def::Word size,
                         Def::Word areaEnd, const char* what)
{
    const qint64 base = def.words[Def::ImageAddress];
    const qint64 begin = qBound<qint64>(0, qint64(def.words[start]) - base, image.size());
    const qint64 end = qBound<qint64>(
        begin, qMin(qint64(def.words[start]) + def.words[size], qint64(def.words[areaEnd])) - base, image.size());
    return JXPSFTableArea(image.constData() + begin, image.constData() + end, what);
}

} // namespace

JXPSFReader::JXPSFReader(QByteArray* raw, QObject* parent) : QObject(parent)
{
    Q_UNUSED(raw);
}

JXPSF* JXPSFReader::getPSF(QByteArray* image, void* flashHeader, flash_header_def def, QString version,
                           JXPSFReader::ListType type)
{
    Q_UNUSED(type);
    if (version != QLatin1String("1.4.x.x")) {
        JX_WARNING << "data store version" << version << "is not read";
        return nullptr;
    }
    QByteArray empty;
    if (!image)
        image = &empty;

    JXPSF* root = new JXPSF(image, flashHeader, nullptr);
    root->setFlashHeaderDef(def);
    const JXPSFDistHeader* header = root->getDistHeader();

    // Each table is read only inside its layout area, whatever the frames' heads say.
    const QByteArray& bytes = *image;
    QByteArray sensorLogBytes = frameBytes(bytes, header->SensorLogMHRData());
    JXPSFSensorLogFrame* sensorLogs = new JXPSFSensorLogFrame(
        &sensorLogBytes, nullptr,
        tableArea(bytes, def, Def::SensorLogTableStart, Def::SensorLogTableSize, Def::SensorLogAreaEnd, "sensor-log"));
    QByteArray poiBytes = frameBytes(bytes, header->POIMHRData());
    JXPSFPOIFrame* pois = new JXPSFPOIFrame(
        &poiBytes, nullptr, tableArea(bytes, def, Def::POITableStart, Def::POITableSize, Def::POIAreaEnd, "POI"));
    QByteArray trackBytes = frameBytes(bytes, header->TracerDataMHRData());
    JXPSFTrackFrame* tracks = new JXPSFTrackFrame(
        &trackBytes, nullptr,
        tableArea(bytes, def, Def::TrackTableStart, Def::TrackTableSize, Def::TrackAreaEnd, "segment-list"));
    QByteArray routeBytes = frameBytes(bytes, header->RouteMHRData());
    JXPSFRouteFrame* routes = new JXPSFRouteFrame(
        &routeBytes, tracks, sensorLogs, nullptr,
        tableArea(bytes, def, Def::RouteTableStart, Def::RouteTableSize, Def::RouteAreaEnd, "route"),
        tableArea(bytes, def, Def::LapAreaStart, Def::LapAreaSize, Def::LapAreaEnd, "lap"));
    QByteArray workoutLogBytes = frameBytes(bytes, header->WorkoutLogMHRData());
    JXPSFWorkoutLogFrame* workoutLogs =
        new JXPSFWorkoutLogFrame(&workoutLogBytes, nullptr,
                                 tableArea(bytes, def, Def::WorkoutLogTableStart, Def::WorkoutLogTableSize,
                                           Def::WorkoutLogAreaEnd, "workout-log"));
    QByteArray workoutBytes = frameBytes(bytes, header->WorkoutMHRData());
    JXPSFWorkoutFrame* workouts = new JXPSFWorkoutFrame(
        &workoutBytes, workoutLogs, nullptr,
        tableArea(bytes, def, Def::WorkoutTableStart, Def::WorkoutTableSize, Def::WorkoutAreaEnd, "workout"),
        tableArea(bytes, def, Def::IntervalAreaStart, Def::IntervalAreaSize, Def::IntervalAreaEnd, "interval"));

    root->setPOIFrame(pois);
    root->setTrackFrame(tracks);
    root->setSnesorLogFrame(sensorLogs);
    root->setRouteFrame(routes);
    root->setWorkoutFrame(workouts);
    root->setWorkoutLogFrame(workoutLogs);
    return root;
}
