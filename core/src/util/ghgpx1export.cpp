#include "util/ghgpx1.h"

#include "util/ghgpxextlogpoint.h"
#include "util/ghgpxexttraining.h"
#include "util/ghgpxmetadata.h"
#include "util/ghgpxroute.h"
#include "util/ghgpxtrack.h"
#include "util/ghgpxwaypoint.h"
#include "util/ghxmlsupport.h"

#include <QXmlStreamWriter>

// Every text goes through GHXmlSupport, which cleans it and treats a cleaned-empty text as unset. Device code may
// leave null entries in the lists it fills; they are skipped.

void GHGpx1::writeMeta(QXmlStreamWriter& writer)
{
    if (!metadata)
        return;
    writer.writeStartElement(QStringLiteral("metadata"));
    GHXmlSupport::writeTextIfSet(writer, "name", metadata->name);
    GHXmlSupport::writeTextIfSet(writer, "desc", metadata->desc);
    if (GHXmlSupport::isSet(metadata->authorName) || GHXmlSupport::isSet(metadata->authorEmail)
        || GHXmlSupport::isSet(metadata->authorLink)) {
        writer.writeStartElement(QStringLiteral("author"));
        GHXmlSupport::writeTextIfSet(writer, "name", metadata->authorName);
        GHXmlSupport::writeTextIfSet(writer, "email", metadata->authorEmail);
        GHXmlSupport::writeTextIfSet(writer, "link", metadata->authorLink);
        writer.writeEndElement();
    }
    GHXmlSupport::writeTextIfSet(writer, "time", metadata->time);
    if (GHXmlSupport::isSet(metadata->boundsMinLat) && GHXmlSupport::isSet(metadata->boundsMinLon)
        && GHXmlSupport::isSet(metadata->boundsMaxLat) && GHXmlSupport::isSet(metadata->boundsMaxLon)) {
        writer.writeEmptyElement(QStringLiteral("bounds"));
        GHXmlSupport::writeAttribute(writer, "minlat", metadata->boundsMinLat);
        GHXmlSupport::writeAttribute(writer, "minlon", metadata->boundsMinLon);
        GHXmlSupport::writeAttribute(writer, "maxlat", metadata->boundsMaxLat);
        GHXmlSupport::writeAttribute(writer, "maxlon", metadata->boundsMaxLon);
    }
    writeMetaExtensions(writer);
    writer.writeEndElement();
}

void GHGpx1::writeMetaExtensions(QXmlStreamWriter& writer)
{
    if (!metadata)
        return;
    writer.writeStartElement(QStringLiteral("extensions"));
    writeMetaPlaces(writer);
    GHXmlSupport::writeTextIfSet(writer, "acttype", metadata->acttype);
    GHXmlSupport::writeTextIfSet(writer, "rtetype", metadata->rtetype);
    GHXmlSupport::writeTextIfSet(writer, "trvTime", metadata->trvtime);
    GHXmlSupport::writeTextIfSet(writer, "trvDist", metadata->trvdist);
    writer.writeEndElement();
}

void GHGpx1::writeRte(QXmlStreamWriter& writer)
{
    if (!route)
        return;
    int pointCount = 0;
    for (const GHGpxRoutePoint* point : qAsConst(route->points))
        pointCount += point ? 1 : 0;
    writer.writeStartElement(QStringLiteral("rte"));
    GHXmlSupport::writeTextIfSet(writer, "name", route->name);
    GHXmlSupport::writeTextIfSet(writer, "cmt", route->cmt);
    GHXmlSupport::writeTextIfSet(writer, "desc", route->desc);
    GHXmlSupport::writeTextIfSet(writer, "src", route->src);
    // The stored number may be stale; the points written are what a reader will count.
    if (pointCount > 0)
        writer.writeTextElement(QStringLiteral("number"), QString::number(pointCount));
    GHXmlSupport::writeTextIfSet(writer, "type", route->type);
    for (const GHGpxRoutePoint* point : qAsConst(route->points)) {
        if (!point)
            continue;
        writer.writeStartElement(QStringLiteral("rtept"));
        GHXmlSupport::writeAttribute(writer, "lat", point->lat);
        GHXmlSupport::writeAttribute(writer, "lon", point->lon);
        GHXmlSupport::writeTextIfSet(writer, "name", point->name);
        GHXmlSupport::writeTextIfSet(writer, "cmt", point->cmt);
        GHXmlSupport::writeTextIfSet(writer, "desc", point->desc);
        GHXmlSupport::writeTextIfSet(writer, "type", point->type);
        writer.writeEndElement();
    }
    writer.writeEndElement();
}

void GHGpx1::writeTrk(QXmlStreamWriter& writer)
{
    if (!track)
        return;
    writer.writeStartElement(QStringLiteral("trk"));
    for (GHGpxTrackSegment* segment : qAsConst(track->segments)) {
        if (!segment)
            continue;
        writer.writeStartElement(QStringLiteral("trkseg"));
        writeTrksegExtensions(writer, segment);
        for (const GHGpxTrackPoint* point : qAsConst(segment->points)) {
            if (!point)
                continue;
            writer.writeStartElement(QStringLiteral("trkpt"));
            GHXmlSupport::writeAttribute(writer, "lat", point->lat);
            GHXmlSupport::writeAttribute(writer, "lon", point->lon);
            GHXmlSupport::writeTextIfSet(writer, "ele", point->ele);
            GHXmlSupport::writeTextIfSet(writer, "cmt", point->cmt);
            GHXmlSupport::writeTextIfSet(writer, "time", point->time);
            GHXmlSupport::writeTextIfSet(writer, "type", point->type);
            GHXmlSupport::writeTextIfSet(writer, "magvar", point->magvar);
            writer.writeEndElement();
        }
        writer.writeEndElement();
    }
    writer.writeEndElement();
}

void GHGpx1::writeTrksegExtensions(QXmlStreamWriter& writer, GHGpxTrackSegment* segment)
{
    Q_UNUSED(writer)
    Q_UNUSED(segment)
}

void GHGpx1::writeWpt(QXmlStreamWriter& writer)
{
    for (const GHGpxWayPoint* point : qAsConst(waypoints)) {
        if (!point)
            continue;
        writer.writeStartElement(QStringLiteral("wpt"));
        GHXmlSupport::writeAttribute(writer, "lat", point->lat);
        GHXmlSupport::writeAttribute(writer, "lon", point->lon);
        GHXmlSupport::writeTextIfSet(writer, "name", point->name);
        GHXmlSupport::writeTextIfSet(writer, "cmt", point->cmt);
        GHXmlSupport::writeTextIfSet(writer, "desc", point->desc);
        GHXmlSupport::writeTextIfSet(writer, "sym", point->sym);
        GHXmlSupport::writeTextIfSet(writer, "ele", point->ele);
        GHXmlSupport::writeTextIfSet(writer, "time", point->time);
        const QString type = GHXmlSupport::xmlText(point->type);
        if (!type.isEmpty()) {
            writer.writeStartElement(QStringLiteral("type"));
            if (GHXmlSupport::isSet(point->isCal))
                GHXmlSupport::writeAttribute(writer, "isCal", point->isCal);
            writer.writeCharacters(type);
            writer.writeEndElement();
        }
        // The address sits directly in wpt, not in extensions: readers of the dialect look for it there.
        GHXmlSupport::writeTextIfSet(writer, "tel", point->tel);
        GHXmlSupport::writeTextIfSet(writer, "ctry", point->ctry);
        GHXmlSupport::writeTextIfSet(writer, "place", point->place);
        GHXmlSupport::writeTextIfSet(writer, "road", point->road);
        GHXmlSupport::writeTextIfSet(writer, "hnum", point->hnum);
        writer.writeEndElement();
    }
}

void GHGpx1::writeExtensions(QXmlStreamWriter& writer)
{
    writer.writeStartElement(QStringLiteral("extensions"));
    writeTraining(writer);
    writer.writeEndElement();
}

void GHGpx1::writeTraining(QXmlStreamWriter& writer)
{
    if (!training)
        return;
    writer.writeStartElement(QStringLiteral("training"));
    for (const GHGpxExtLogPoint* point : qAsConst(training->points)) {
        if (!point)
            continue;
        writeLogPoint(writer, *point, 1);
    }
    writer.writeEndElement();
}

void GHGpx1::writeLogPoint(QXmlStreamWriter& writer, const GHGpxExtLogPoint& point, int generation)
{
    writer.writeStartElement(QStringLiteral("logpt"));
    GHXmlSupport::writeAttribute(writer, "time", point.time);
    GHXmlSupport::writeTextIfSet(writer, "hrm", point.hrm);
    GHXmlSupport::writeTextIfSet(writer, "cad", point.cad);
    GHXmlSupport::writeTextIfSet(writer, "spd", point.spd);
    GHXmlSupport::writeTextIfSet(writer, "tmp", point.tmp);
    if (generation == 1) {
        GHXmlSupport::writeTextIfSet(writer, "pdm", point.pdm);
        GHXmlSupport::writeTextIfSet(writer, "cps", point.cps);
    } else {
        GHXmlSupport::writeTextIfSet(writer, "pwr", point.pwr);
    }
    GHXmlSupport::writeTextIfSet(writer, "brm", point.brm);
    writer.writeEndElement();
}

void GHGpx1::writeMetaPlaces(QXmlStreamWriter& writer)
{
    GHXmlSupport::writeTextIfSet(writer, "sharetype", metadata->sharetype);
    GHXmlSupport::writeTextIfSet(writer, "sctry", metadata->sctry);
    GHXmlSupport::writeTextIfSet(writer, "ectry", metadata->ectry);
    GHXmlSupport::writeTextIfSet(writer, "splace", metadata->splace);
    GHXmlSupport::writeTextIfSet(writer, "eplace", metadata->eplace);
}
