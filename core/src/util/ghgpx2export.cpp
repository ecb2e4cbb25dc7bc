#include "util/ghgpx2.h"

#include "training/ghtrncrs.h"
#include "util/ghgpxextlaps.h"
#include "util/ghgpxextlogpoint.h"
#include "util/ghgpxextsensorlog.h"
#include "util/ghgpxextworkoutlog.h"
#include "util/ghgpxmetadata.h"
#include "util/ghgpxtrack.h"
#include "util/ghxmlsupport.h"

#include <QXmlStreamWriter>

// As in GHGpx1: texts are cleaned and a cleaned-empty text is unset; null list entries are skipped.

namespace {

// A max and avg pair as one empty element, when either is set.
void writeMaxAvg(QXmlStreamWriter& writer, const char* name, const QString& max, const QString& avg)
{
    if (!GHXmlSupport::isSet(max) && !GHXmlSupport::isSet(avg))
        return;
    writer.writeEmptyElement(QLatin1String(name));
    GHXmlSupport::writeAttribute(writer, "max", max);
    GHXmlSupport::writeAttribute(writer, "avg", avg);
}

// The user part from the fields.
void writeUser(QXmlStreamWriter& writer, const GHGpxMetaUser& user)
{
    writer.writeStartElement(QStringLiteral("user"));
    GHXmlSupport::writeTextIfSet(writer, "name", user.name);
    GHXmlSupport::writeTextIfSet(writer, "gender", user.gender);
    GHXmlSupport::writeTextIfSet(writer, "weight", user.weight);
    GHXmlSupport::writeTextIfSet(writer, "height", user.height);
    GHXmlSupport::writeTextIfSet(writer, "age", user.age);
    const GHGpxMetaBike& bike = user.bike;
    const QString bikeText = GHXmlSupport::xmlText(bike.bike);
    if (!bikeText.isEmpty() || GHXmlSupport::isSet(bike.name) || GHXmlSupport::isSet(bike.weight)
        || GHXmlSupport::isSet(bike.type) || GHXmlSupport::isSet(bike.wheel)) {
        writer.writeStartElement(QStringLiteral("bike"));
        if (!bikeText.isEmpty())
            writer.writeCharacters(bikeText);
        GHXmlSupport::writeTextIfSet(writer, "name", bike.name);
        GHXmlSupport::writeTextIfSet(writer, "weight", bike.weight);
        GHXmlSupport::writeTextIfSet(writer, "type", bike.type);
        GHXmlSupport::writeTextIfSet(writer, "wheel", bike.wheel);
        writer.writeEndElement();
    }
    GHXmlSupport::writeTextIfSet(writer, "mhr", user.mhr);
    GHXmlSupport::writeTextIfSet(writer, "lthr", user.lthr);
    GHXmlSupport::writeTextIfSet(writer, "map", user.map);
    GHXmlSupport::writeTextIfSet(writer, "ftp", user.ftp);
    if (GHXmlSupport::isSet(user.strideLongDist) || GHXmlSupport::isSet(user.strideSprint)) {
        writer.writeEmptyElement(QStringLiteral("stridelen"));
        GHXmlSupport::writeAttribute(writer, "longdist", user.strideLongDist);
        GHXmlSupport::writeAttribute(writer, "sprint", user.strideSprint);
    }
    if (GHXmlSupport::isSet(user.raceTime) || GHXmlSupport::isSet(user.raceDist)) {
        writer.writeEmptyElement(QStringLiteral("runperf"));
        GHXmlSupport::writeAttribute(writer, "racetime", user.raceTime);
        GHXmlSupport::writeAttribute(writer, "racedist", user.raceDist);
    }
    for (const GHGpxMetaZone& zone : user.zones) {
        writer.writeStartElement(QStringLiteral("zonedef"));
        GHXmlSupport::writeAttribute(writer, "type", zone.type);
        // The two lists should be as long as each other; a zone without both bounds is left out.
        const int zoneCount = qMin(zone.low.size(), zone.high.size());
        for (int i = 0; i < zoneCount; ++i) {
            writer.writeEmptyElement(QStringLiteral("zone"));
            writer.writeAttribute(QStringLiteral("id"), QString::number(i + 1));
            writer.writeAttribute(QStringLiteral("low"), QString::number(zone.low.at(i)));
            writer.writeAttribute(QStringLiteral("high"), QString::number(zone.high.at(i)));
        }
        writer.writeEndElement();
    }
    writer.writeEndElement();
}

} // namespace

void GHGpx2::writeMetaExtensions(QXmlStreamWriter& writer)
{
    if (!metadata)
        return;
    writer.writeStartElement(QStringLiteral("extensions"));
    // A profile file that does not parse whole is not copied at all: the fields stand in for it.
    if (metadata->userProfilePath.isEmpty() || !GHXmlSupport::copyXmlFile(writer, metadata->userProfilePath))
        writeUser(writer, metadata->user);

    const QString sys = GHXmlSupport::xmlText(metadata->sys);
    if (!sys.isEmpty()) {
        if (!GHXmlSupport::isSet(metadata->sysVersion)) {
            writer.writeTextElement(QStringLiteral("sys"), sys);
        } else {
            writer.writeStartElement(QStringLiteral("sys"));
            GHXmlSupport::writeAttribute(writer, "version", metadata->sysVersion);
            writer.writeCharacters(sys);
            if (GHXmlSupport::isSet(metadata->appName) || GHXmlSupport::isSet(metadata->appVersion)) {
                writer.writeStartElement(QStringLiteral("apps"));
                writer.writeEmptyElement(QStringLiteral("app"));
                GHXmlSupport::writeAttribute(writer, "name", metadata->appName);
                GHXmlSupport::writeAttribute(writer, "version", metadata->appVersion);
                writer.writeEndElement();
            }
            writer.writeEndElement();
        }
    }
    writeMetaPlaces(writer);
    const QString acttype = GHXmlSupport::xmlText(metadata->acttype);
    if (!acttype.isEmpty()) {
        if (GHXmlSupport::isSet(metadata->acttypeSubtype)) {
            writer.writeStartElement(QStringLiteral("acttype"));
            GHXmlSupport::writeAttribute(writer, "subtype", metadata->acttypeSubtype);
            writer.writeCharacters(acttype);
            writer.writeEndElement();
        } else {
            writer.writeTextElement(QStringLiteral("acttype"), acttype);
        }
    }
    GHXmlSupport::writeTextIfSet(writer, "stime", metadata->stime);
    GHXmlSupport::writeTextIfSet(writer, "etime", metadata->etime);
    GHXmlSupport::writeTextIfSet(writer, "trvTime", metadata->trvtime);
    GHXmlSupport::writeTextIfSet(writer, "trvDist", metadata->trvdist);
    GHXmlSupport::writeTextIfSet(writer, "poollen", metadata->poollen);
    writer.writeEndElement();
}

void GHGpx2::writeTrksegExtensions(QXmlStreamWriter& writer, GHGpxTrackSegment* segment)
{
    if (!segment)
        return;
    const bool hasInterval = GHXmlSupport::isSet(segment->itvSegStart) || GHXmlSupport::isSet(segment->itvSegEnd);
    const QString acttype = GHXmlSupport::xmlText(segment->acttype);
    if (!hasInterval && !GHXmlSupport::isSet(segment->order) && acttype.isEmpty()
        && !GHXmlSupport::isSet(segment->breaktype))
        return;
    writer.writeStartElement(QStringLiteral("extensions"));
    if (hasInterval) {
        writer.writeEmptyElement(QStringLiteral("itvSeg"));
        GHXmlSupport::writeAttribute(writer, "start", segment->itvSegStart);
        GHXmlSupport::writeAttribute(writer, "end", segment->itvSegEnd);
    }
    GHXmlSupport::writeTextIfSet(writer, "order", segment->order);
    if (!acttype.isEmpty()) {
        writer.writeStartElement(QStringLiteral("acttype"));
        GHXmlSupport::writeAttribute(writer, "subtype", segment->acttypeSubtype);
        writer.writeCharacters(acttype);
        writer.writeEndElement();
    }
    GHXmlSupport::writeTextIfSet(writer, "breaktype", segment->breaktype);
    writer.writeEndElement();
}

void GHGpx2::writeExtensions(QXmlStreamWriter& writer)
{
    writer.writeStartElement(QStringLiteral("extensions"));
    writeSensorLog(writer);
    writeWorkoutLog(writer);
    writeLaps(writer);
    writeWorkoutPlan(writer);
    writer.writeEndElement();
}

void GHGpx2::writeSensorLog(QXmlStreamWriter& writer)
{
    if (!sensorLog)
        return;
    writer.writeStartElement(QStringLiteral("ssrlog"));
    for (const GHGpxExtLogSegment* segment : qAsConst(sensorLog->segments)) {
        if (!segment)
            continue;
        writer.writeStartElement(QStringLiteral("logseg"));
        GHXmlSupport::writeTextIfSet(writer, "breaktype", segment->breaktype);
        for (const GHGpxExtLogPoint* point : qAsConst(segment->points)) {
            if (!point)
                continue;
            writeLogPoint(writer, *point, 2);
        }
        writer.writeEndElement();
    }
    writer.writeEndElement();
}

void GHGpx2::writeWorkoutLog(QXmlStreamWriter& writer)
{
    if (!workoutLog)
        return;
    writer.writeStartElement(QStringLiteral("wrklog"));
    GHXmlSupport::writeAttribute(writer, "id", workoutLog->id);
    GHXmlSupport::writeAttribute(writer, "type", workoutLog->type);
    GHXmlSupport::writeAttribute(writer, "subtype", workoutLog->subtype);
    for (const GHGpxExtWorkoutInterval* interval : qAsConst(workoutLog->intervals)) {
        if (!interval)
            continue;
        writer.writeStartElement(QStringLiteral("interval"));
        GHXmlSupport::writeAttribute(writer, "order", interval->order);
        GHXmlSupport::writeTextIfSet(writer, "start", interval->start);
        GHXmlSupport::writeTextIfSet(writer, "end", interval->end);
        writer.writeEndElement();
    }
    GHXmlSupport::writeTextIfSet(writer, "lthr", workoutLog->lthr);
    GHXmlSupport::writeTextIfSet(writer, "mhr", workoutLog->mhr);
    GHXmlSupport::writeTextIfSet(writer, "ftp", workoutLog->ftp);
    GHXmlSupport::writeTextIfSet(writer, "map", workoutLog->map);
    writer.writeEndElement();
}

void GHGpx2::writeLaps(QXmlStreamWriter& writer)
{
    if (!laps)
        return;
    writer.writeStartElement(QStringLiteral("laps"));
    for (GHGpxExtLap* lap : qAsConst(laps->laps)) {
        if (!lap)
            continue;
        writer.writeStartElement(QStringLiteral("lap"));
        GHXmlSupport::writeAttribute(writer, "order", lap->order);
        writeLap(writer, lap);
        writer.writeEndElement();
    }
    if (laps->summary) {
        writer.writeStartElement(QStringLiteral("summary"));
        writeLap(writer, laps->summary);
        writer.writeEndElement();
    }
    writer.writeEndElement();
}

void GHGpx2::writeLap(QXmlStreamWriter& writer, GHGpxExtLap* lap)
{
    if (!lap)
        return;
    GHXmlSupport::writeAttribute(writer, "start", lap->start);
    GHXmlSupport::writeAttribute(writer, "end", lap->end);
    GHXmlSupport::writeTextIfSet(writer, "distance", lap->distance);
    GHXmlSupport::writeTextIfSet(writer, "calorie", lap->calorie);
    GHXmlSupport::writeTextIfSet(writer, "step", lap->step);
    GHXmlSupport::writeTextIfSet(writer, "altloss", lap->altloss);
    GHXmlSupport::writeTextIfSet(writer, "altgain", lap->altgain);
    writeMaxAvg(writer, "speed", lap->speedMax, lap->speedAvg);
    writeMaxAvg(writer, "hrm", lap->hrmMax, lap->hrmAvg);
    writeMaxAvg(writer, "cad", lap->cadMax, lap->cadAvg);
    writeMaxAvg(writer, "pwr", lap->pwrMax, lap->pwrAvg);
    GHXmlSupport::writeTextIfSet(writer, "rtime", lap->rtime);
    GHXmlSupport::writeTextIfSet(writer, "gainaltlen", lap->gainaltlen);
    GHXmlSupport::writeTextIfSet(writer, "lostaltlen", lap->lostaltlen);
    GHXmlSupport::writeTextIfSet(writer, "gainalttime", lap->gainalttime);
    GHXmlSupport::writeTextIfSet(writer, "lostalttime", lap->lostalttime);
}

void GHGpx2::writeWorkoutPlan(QXmlStreamWriter& writer)
{
    // The plan belongs to a ride done with it; without the log it would describe nothing that happened.
    if (workoutLog && workoutPlan)
        workoutPlan->writeWorkout(writer);
}
