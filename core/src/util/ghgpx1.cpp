#include "util/ghgpx1.h"

#include "util/ghgpxextlogpoint.h"
#include "util/ghgpxexttraining.h"
#include "util/ghgpxmetadata.h"
#include "util/ghgpxroute.h"
#include "util/ghgpxtrack.h"
#include "util/ghgpxwaypoint.h"

namespace {

// Keys are compared here without a call into Qt; the names are ASCII.
bool keyIs(const QString& key, const char* name)
{
    const QChar* chars = key.constData();
    const int size = key.size();
    for (int i = 0; i < size; ++i) {
        if (name[i] == '\0' || chars[i].unicode() != uchar(name[i]))
            return false;
    }
    return name[size] == '\0';
}

// The point's text kept under the reader's key, or null for a key a point does not keep.
QString* trackPointField(GHGpxTrackPoint& point, const QString& key)
{
    if (keyIs(key, "trkpt_lat"))
        return &point.lat;
    if (keyIs(key, "trkpt_lon"))
        return &point.lon;
    if (keyIs(key, "ele"))
        return &point.ele;
    if (keyIs(key, "cmt"))
        return &point.cmt;
    if (keyIs(key, "time"))
        return &point.time;
    if (keyIs(key, "type"))
        return &point.type;
    if (keyIs(key, "magvar"))
        return &point.magvar;
    if (keyIs(key, "speed"))
        return &point.speed;
    return nullptr;
}

} // namespace

// A handler whose part has not been started ignores the call and makes nothing, so nothing is left without an
// owner; the reader always starts a part first, other receivers' callers may not.

GHGpx1::GHGpx1()
    : metadata(nullptr)
    , route(nullptr)
    , track(nullptr)
    , training(nullptr)
    , version(0)
{
}

GHGpx1::~GHGpx1()
{
    qDeleteAll(waypoints);
    delete metadata;
    delete route;
    delete track;
    delete training;
}

void GHGpx1::setVersion(int v)
{
    version = v;
}

void GHGpx1::startMetadata()
{
    delete metadata;
    metadata = new GHGpxMetadata;
}

void GHGpx1::onMetadata(QMap<QString, QString>& values)
{
    if (!metadata)
        return;
    metadata->name = values.value(QStringLiteral("name"));
    metadata->shortName = values.value(QStringLiteral("name_shtname"));
    metadata->desc = values.value(QStringLiteral("desc"));
    metadata->authorName = values.value(QStringLiteral("author_name"));
    metadata->authorEmail = values.value(QStringLiteral("author_email"));
    metadata->authorLink = values.value(QStringLiteral("author_link"));
    metadata->time = values.value(QStringLiteral("time"));
    metadata->boundsMinLat = values.value(QStringLiteral("bounds_minlat"));
    metadata->boundsMinLon = values.value(QStringLiteral("bounds_minlon"));
    metadata->boundsMaxLat = values.value(QStringLiteral("bounds_maxlat"));
    metadata->boundsMaxLon = values.value(QStringLiteral("bounds_maxlon"));
}

void GHGpx1::onMetadataExtensions(QMap<QString, QString>& values)
{
    if (!metadata)
        return;
    readRideTexts(metadata, values);
    metadata->rtetype = values.value(QStringLiteral("rtetype"));
}

void GHGpx1::readRideTexts(GHGpxMetadata* metadata, const QMap<QString, QString>& values)
{
    metadata->sharetype = values.value(QStringLiteral("sharetype"));
    metadata->sctry = values.value(QStringLiteral("sctry"));
    metadata->ectry = values.value(QStringLiteral("ectry"));
    metadata->splace = values.value(QStringLiteral("splace"));
    metadata->eplace = values.value(QStringLiteral("eplace"));
    metadata->acttype = values.value(QStringLiteral("acttype"));
    metadata->trvtime = values.value(QStringLiteral("trvtime"));
    metadata->trvdist = values.value(QStringLiteral("trvdist"));
}

void GHGpx1::startRoute()
{
    delete route;
    route = new GHGpxRoute;
}

void GHGpx1::onRoute(QMap<QString, QString>& values)
{
    if (!route)
        return;
    route->name = values.value(QStringLiteral("name"));
    route->cmt = values.value(QStringLiteral("cmt"));
    route->desc = values.value(QStringLiteral("desc"));
    route->src = values.value(QStringLiteral("src"));
    route->number = values.value(QStringLiteral("number"));
    route->type = values.value(QStringLiteral("type"));
}

void GHGpx1::onRoutePoint(QMap<QString, QString>& values)
{
    if (!route)
        return;
    auto* point = new GHGpxRoutePoint;
    point->lat = values.value(QStringLiteral("rtept_lat"));
    point->lon = values.value(QStringLiteral("rtept_lon"));
    point->name = values.value(QStringLiteral("name"));
    point->cmt = values.value(QStringLiteral("cmt"));
    point->desc = values.value(QStringLiteral("desc"));
    point->type = values.value(QStringLiteral("type"));
    route->addRoutePoint(point);
}

void GHGpx1::startTrack()
{
    delete track;
    track = new GHGpxTrack;
}

void GHGpx1::startTrackSegment()
{
    if (!track)
        return;
    track->addTrackSegment(new GHGpxTrackSegment);
}

void GHGpx1::onTrackSegment(QMap<QString, QString>&)
{
    // The first generation has no segment extensions.
}

void GHGpx1::onTrackPoint(QMap<QString, QString>& values)
{
    if (!track)
        return;
    auto* point = new GHGpxTrackPoint;
    // One walk over the point's few values rather than a lookup per field: this runs for every point of a ride.
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (QString* field = trackPointField(*point, it.key()))
            *field = it.value();
    }
    track->addTrackPoint(point); // deleted there when no segment was started
}

void GHGpx1::onWayPoint(QMap<QString, QString>& values)
{
    auto* point = new GHGpxWayPoint;
    point->lat = values.value(QStringLiteral("wpt_lat"));
    point->lon = values.value(QStringLiteral("wpt_lon"));
    point->ele = values.value(QStringLiteral("ele"));
    point->time = values.value(QStringLiteral("time"));
    point->name = values.value(QStringLiteral("name"));
    point->cmt = values.value(QStringLiteral("cmt"));
    point->desc = values.value(QStringLiteral("desc"));
    point->sym = values.value(QStringLiteral("sym"));
    point->type = values.value(QStringLiteral("type"));
    point->isCal = values.value(QStringLiteral("type_isCal"));
    point->tel = values.value(QStringLiteral("tel"));
    point->ctry = values.value(QStringLiteral("ctry"));
    point->place = values.value(QStringLiteral("place"));
    point->road = values.value(QStringLiteral("road"));
    point->hnum = values.value(QStringLiteral("hnum"));
    waypoints.append(point);
}

void GHGpx1::startTraining()
{
    delete training;
    training = new GHGpxExtTraining;
}

void GHGpx1::startSensorLog()
{
}

void GHGpx1::startLogSegment()
{
}

void GHGpx1::onLogPoint(QMap<QString, QString>& values)
{
    if (!training)
        return;
    GHGpxExtLogPoint* point = readLogPoint(values);
    point->pdm = values.value(QStringLiteral("pdm"));
    point->cps = values.value(QStringLiteral("cps"));
    training->addLogPoint(point);
}

GHGpxExtLogPoint* GHGpx1::readLogPoint(const QMap<QString, QString>& values)
{
    auto* point = new GHGpxExtLogPoint;
    point->time = values.value(QStringLiteral("logpt_time"));
    point->hrm = values.value(QStringLiteral("hrm"));
    point->cad = values.value(QStringLiteral("cad"));
    point->spd = values.value(QStringLiteral("spd"));
    point->tmp = values.value(QStringLiteral("tmp"));
    point->brm = values.value(QStringLiteral("brm"));
    return point;
}

void GHGpx1::startWorkoutLog()
{
}

void GHGpx1::onWorkoutLog(QMap<QString, QString>&)
{
}

void GHGpx1::onInterval(QMap<QString, QString>&)
{
}

void GHGpx1::startLaps()
{
}

void GHGpx1::onLap(QMap<QString, QString>&)
{
}

void GHGpx1::onSummary(QMap<QString, QString>&)
{
}
