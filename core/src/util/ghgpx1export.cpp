#include "util/ghgpx1.h"

#include "util/ghgpxextlogpoint.h"
#include "util/ghgpxexttraining.h"
#include "util/ghgpxmetadata.h"
#include "util/ghgpxroute.h"
#include "util/ghgpxtrack.h"
#include "util/ghgpxwaypoint.h"
#include "util/ghxmlsupport.h"

#include <QTextCodec>
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

namespace {

const char* const POINT_TEXTS[] = {"ele", "cmt", "time", "type", "magvar"};

const QString& pointText(const GHGpxTrackPoint& point, int index)
{
    switch (index) {
    case 0: return point.ele;
    case 1: return point.cmt;
    case 2: return point.time;
    case 3: return point.type;
    default: return point.magvar;
    }
}

void writeTrackPoint(QXmlStreamWriter& writer, const GHGpxTrackPoint& point)
{
    writer.writeStartElement(QStringLiteral("trkpt"));
    GHXmlSupport::writeAttribute(writer, "lat", point.lat);
    GHXmlSupport::writeAttribute(writer, "lon", point.lon);
    for (int i = 0; i < int(sizeof POINT_TEXTS / sizeof *POINT_TEXTS); ++i)
        GHXmlSupport::writeTextIfSet(writer, POINT_TEXTS[i], pointText(point, i));
    writer.writeEndElement();
}

// The text itself when XML can hold all of it, else its cleaned copy made in spare: no copy, not even a shared one,
// for the usual clean text.
const QString& cleaned(const QString& text, QString& spare)
{
    for (int i = 0; i < text.size(); ++i) {
        if (!GHXmlSupport::isXmlChar(text, i)) {
            spare = GHXmlSupport::xmlText(text);
            return spare;
        }
    }
    return text;
}

// The cleaned text (GHXmlSupport::xmlText) escaped as Qt's writer escapes it: markup characters always, and in an
// attribute value the white space that a reader would otherwise turn into blanks.
void appendEscaped(QByteArray& out, const QString& clean, bool attribute)
{
    const QChar* chars = clean.constData();
    const int size = clean.size();
    char ascii[128]; // the ASCII run not yet appended
    int held = 0;
    for (int i = 0; i < size; ++i) {
        const ushort code = chars[i].unicode();
        const char* escape = nullptr;
        switch (code) {
        case '<': escape = "&lt;"; break;
        case '>': escape = "&gt;"; break;
        case '&': escape = "&amp;"; break;
        case '"': escape = "&quot;"; break;
        case '\t': escape = attribute ? "&#9;" : nullptr; break;
        case '\n': escape = attribute ? "&#10;" : nullptr; break;
        case '\r': escape = attribute ? "&#13;" : nullptr; break;
        default: break;
        }
        if (!escape && code < 0x80) {
            if (held == int(sizeof ascii)) {
                out.append(ascii, held);
                held = 0;
            }
            ascii[held++] = char(code);
            continue;
        }
        out.append(ascii, held);
        held = 0;
        if (escape) {
            out += escape;
        } else {
            // xmlText left surrogates in pairs only.
            const int length = QChar::isHighSurrogate(code) ? 2 : 1;
            out += QStringView(chars + i, length).toUtf8();
            i += length - 1;
        }
    }
    out.append(ascii, held);
}

// The bytes QXmlStreamWriter writes for the point when it follows a sibling element, at the given indentation.
void appendTrackPoint(QByteArray& out, const GHGpxTrackPoint& point, const QByteArray& indent, const QByteArray& inner)
{
    out += '\n';
    out += indent;
    out += "<trkpt lat=\"";
    QString spare;
    appendEscaped(out, cleaned(point.lat, spare), true);
    out += "\" lon=\"";
    appendEscaped(out, cleaned(point.lon, spare), true);
    out += '"';
    bool empty = true;
    for (int i = 0; i < int(sizeof POINT_TEXTS / sizeof *POINT_TEXTS); ++i) {
        const QString& text = cleaned(pointText(point, i), spare);
        if (text.isEmpty())
            continue;
        if (empty)
            out += '>';
        empty = false;
        out += '\n';
        out += inner;
        out += '<';
        out += POINT_TEXTS[i];
        out += '>';
        appendEscaped(out, text, false);
        out += "</";
        out += POINT_TEXTS[i];
        out += '>';
    }
    if (empty) {
        out += "/>";
        return;
    }
    out += '\n';
    out += indent;
    out += "</trkpt>";
}

} // namespace

void GHGpx1::writeTrk(QXmlStreamWriter& writer)
{
    if (!track)
        return;
    // Qt's writer makes a few small strings for every piece it writes, which in a long track costs several times the
    // writing itself. After the first point of a segment, written by the writer, the writer's state is the same
    // after each point, so the others are written to its device as it would write them (trkpt is at depth 3: trk
    // is a child of the root).
    QIODevice* device = writer.device();
    const bool direct = device && writer.autoFormatting() && writer.autoFormattingIndent() >= 0 && writer.codec() &&
                        writer.codec()->mibEnum() == 106; // UTF-8
    const int indent = qMax(0, writer.autoFormattingIndent());
    const QByteArray pointIndent(3 * indent, ' ');
    const QByteArray textIndent(4 * indent, ' ');
    const int chunk = 1 << 16;
    QByteArray pending;
    if (direct)
        pending.reserve(chunk + 1024); // kept when emptied, as the device is given a copy, not the array
    writer.writeStartElement(QStringLiteral("trk"));
    for (GHGpxTrackSegment* segment : qAsConst(track->segments)) {
        if (!segment)
            continue;
        writer.writeStartElement(QStringLiteral("trkseg"));
        writeTrksegExtensions(writer, segment);
        bool first = true;
        for (const GHGpxTrackPoint* point : qAsConst(segment->points)) {
            if (!point)
                continue;
            if (first || !direct) {
                writeTrackPoint(writer, *point);
                first = false;
                continue;
            }
            appendTrackPoint(pending, *point, pointIndent, textIndent);
            if (pending.size() >= chunk) {
                device->write(pending.constData(), pending.size());
                pending.resize(0);
            }
        }
        if (!pending.isEmpty()) {
            device->write(pending.constData(), pending.size());
            pending.resize(0);
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
