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

    QByteArray sensorLogBytes = frameBytes(*image, header->SensorLogMHRData());
    JXPSFSensorLogFrame* sensorLogs = new JXPSFSensorLogFrame(&sensorLogBytes, nullptr);
    QByteArray poiBytes = frameBytes(*image, header->POIMHRData());
    JXPSFPOIFrame* pois = new JXPSFPOIFrame(&poiBytes, nullptr);
    QByteArray trackBytes = frameBytes(*image, header->TracerDataMHRData());
    JXPSFTrackFrame* tracks = new JXPSFTrackFrame(&trackBytes, nullptr);
    QByteArray routeBytes = frameBytes(*image, header->RouteMHRData());
    JXPSFRouteFrame* routes = new JXPSFRouteFrame(&routeBytes, tracks, sensorLogs, nullptr);
    QByteArray workoutLogBytes = frameBytes(*image, header->WorkoutLogMHRData());
    JXPSFWorkoutLogFrame* workoutLogs = new JXPSFWorkoutLogFrame(&workoutLogBytes, nullptr);
    QByteArray workoutBytes = frameBytes(*image, header->WorkoutMHRData());
    JXPSFWorkoutFrame* workouts = new JXPSFWorkoutFrame(&workoutBytes, workoutLogs, nullptr);

    root->setPOIFrame(pois);
    root->setTrackFrame(tracks);
    root->setSnesorLogFrame(sensorLogs);
    root->setRouteFrame(routes);
    root->setWorkoutFrame(workouts);
    root->setWorkoutLogFrame(workoutLogs);
    return root;
}
