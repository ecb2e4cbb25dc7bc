#include "training/ghtrncrs.h"

#include "training/ghtrnduration.h"
#include "training/ghtrninterval.h"
#include "training/ghtrnmetadata.h"
#include "training/ghtrntarget.h"
#include "training/ghtrnworkout.h"
#include "util/ghxmlsupport.h"

#include <QXmlStreamWriter>

namespace {

// Emptiness is judged on the text as written, so a text of stray control characters alone counts as empty, as it
// will when read back.
void writeAttribute(QXmlStreamWriter& writer, const char* name, const QString& value)
{
    writer.writeAttribute(QLatin1String(name), GHXmlSupport::xmlText(value));
}

void writeTextIfAny(QXmlStreamWriter& writer, const char* name, const QString& text)
{
    const QString written = GHXmlSupport::xmlText(text);
    if (!written.isEmpty())
        writer.writeTextElement(QLatin1String(name), written);
}

// An element with attributes and a text, written only when the text is not empty.
bool startWithText(QXmlStreamWriter& writer, const char* name, const QString& text, QString& written)
{
    written = GHXmlSupport::xmlText(text);
    if (written.isEmpty())
        return false;
    writer.writeStartElement(QLatin1String(name));
    return true;
}

// A name or author: its text, then its short form inside it.
void writeWithShortName(QXmlStreamWriter& writer, const char* name, const QString& text, const QString& shortText)
{
    QString written;
    if (!startWithText(writer, name, text, written))
        return;
    writer.writeCharacters(written);
    writeTextIfAny(writer, "shtname", shortText);
    writer.writeEndElement();
}

} // namespace

GHTrncrs::GHTrncrs()
    : metadata(nullptr)
    , currentWorkout(nullptr)
    , currentInterval(nullptr)
{
}

GHTrncrs::~GHTrncrs()
{
    delete metadata;
    qDeleteAll(workouts);
    delete currentWorkout;
    delete currentInterval;
}

void GHTrncrs::startMetadata()
{
    delete metadata;
    metadata = new GHTrnMetadata;
}

void GHTrncrs::onMetadata(QMap<QString, QString>& values)
{
    if (!metadata)
        return;
    metadata->name = values.value(QStringLiteral("name"));
    metadata->nameShort = values.value(QStringLiteral("name_shtname"));
    metadata->desc = values.value(QStringLiteral("desc"));
    metadata->author = values.value(QStringLiteral("author"));
    metadata->authorShort = values.value(QStringLiteral("author_shtname"));
    metadata->time = values.value(QStringLiteral("time"));
    metadata->sys = values.value(QStringLiteral("sys"));
    metadata->sysMajor = values.value(QStringLiteral("sys_major"));
    metadata->sysMinor = values.value(QStringLiteral("sys_minor"));
    metadata->sysBuildMajor = values.value(QStringLiteral("sys_buildmajor"));
    metadata->sysBuildMinor = values.value(QStringLiteral("sys_buildminor"));
}

void GHTrncrs::startWorkout()
{
    // One left over was cut short by bad input.
    delete currentWorkout;
    currentWorkout = new GHTrnWorkout;
}

void GHTrncrs::onWorkout(QMap<QString, QString>& values)
{
    if (!currentWorkout)
        return;
    GHTrnWorkout* workout = currentWorkout;
    workout->id = values.value(QStringLiteral("wrk_id"));
    workout->orgid = values.value(QStringLiteral("wrk_orgid"));
    workout->daily = values.value(QStringLiteral("wrk_daily"));
    workout->repeat = values.value(QStringLiteral("wrk_repeat"));
    workout->type = values.value(QStringLiteral("wrk_type"));
    workout->subtype = values.value(QStringLiteral("wrk_subtype"));
    workout->listOrder = values.value(QStringLiteral("wrk_listOrder"));
    workout->acttype = values.value(QStringLiteral("acttype"));
    workout->desc = values.value(QStringLiteral("desc"));
    workout->name = values.value(QStringLiteral("name"));
    workout->nameShort = values.value(QStringLiteral("name_shtname"));
    workout->time = values.value(QStringLiteral("time"));
    workout->route = values.value(QStringLiteral("route"));
    workout->routeId = values.value(QStringLiteral("route_id"));
    workouts.append(workout);
    currentWorkout = nullptr;
}

void GHTrncrs::startInterval()
{
    delete currentInterval;
    currentInterval = new GHTrnInterval;
}

void GHTrncrs::startTarget()
{
    if (!currentInterval)
        return;
    delete currentInterval->target;
    currentInterval->target = new GHTrnTarget;
}

void GHTrncrs::onTarget(QMap<QString, QString>& values)
{
    if (!currentInterval || !currentInterval->target)
        return;
    GHTrnTarget* target = currentInterval->target;
    target->type = values.value(QStringLiteral("target_type"));
    target->low = values.value(QStringLiteral("target_low"));
    target->high = values.value(QStringLiteral("target_high"));
    target->ishardcon = values.value(QStringLiteral("target_ishardcon"), QStringLiteral("false"));
}

void GHTrncrs::startDuration()
{
    if (!currentInterval)
        return;
    delete currentInterval->duration;
    currentInterval->duration = new GHTrnDuration;
}

void GHTrncrs::onDuration(QMap<QString, QString>& values)
{
    if (!currentInterval || !currentInterval->duration)
        return;
    GHTrnDuration* duration = currentInterval->duration;
    duration->type = values.value(QStringLiteral("duration_type"));
    duration->value = values.value(QStringLiteral("duration_value"));
    duration->ismanual = values.value(QStringLiteral("duration_ismanual"), QStringLiteral("false"));
    duration->segidxStart = values.value(QStringLiteral("segidx_start"));
    duration->segidxEnd = values.value(QStringLiteral("segidx_end"));
    duration->locationLat = values.value(QStringLiteral("location_lat"));
    duration->locationLon = values.value(QStringLiteral("location_lon"));
}

void GHTrncrs::onInterval(QMap<QString, QString>& values)
{
    if (!currentInterval)
        return;
    GHTrnInterval* interval = currentInterval;
    currentInterval = nullptr;
    if (!currentWorkout) {
        delete interval;
        return;
    }
    interval->id = values.value(QStringLiteral("itv_id"));
    interval->needLap = values.value(QStringLiteral("itv_needLap"), QStringLiteral("false"));
    interval->name = values.value(QStringLiteral("name"));
    interval->goTo = values.value(QStringLiteral("goto"));
    interval->goToRepeat = values.value(QStringLiteral("goto_repeat"), QStringLiteral("0"));
    interval->logreso = values.value(QStringLiteral("logreso"));
    currentWorkout->addInterval(interval);
}

void GHTrncrs::writeMeta(QXmlStreamWriter& writer)
{
    if (!metadata)
        return;
    writer.writeStartElement(QStringLiteral("metadata"));
    writeWithShortName(writer, "name", metadata->name, metadata->nameShort);
    writeTextIfAny(writer, "desc", metadata->desc);
    writeWithShortName(writer, "author", metadata->author, metadata->authorShort);
    writeTextIfAny(writer, "time", metadata->time);
    QString sys;
    if (startWithText(writer, "sys", metadata->sys, sys)) {
        writeAttribute(writer, "major", metadata->sysMajor);
        writeAttribute(writer, "minor", metadata->sysMinor);
        writeAttribute(writer, "buildmajor", metadata->sysBuildMajor);
        writeAttribute(writer, "buildminor", metadata->sysBuildMinor);
        writer.writeCharacters(sys);
        writer.writeEndElement();
    }
    writer.writeEndElement();
}

void GHTrncrs::writeWorkout(QXmlStreamWriter& writer)
{
    for (GHTrnWorkout* workout : qAsConst(workouts)) {
        writer.writeStartElement(QStringLiteral("wrk"));
        writeAttribute(writer, "id", workout->id);
        writeAttribute(writer, "orgid", workout->orgid);
        writeAttribute(writer, "daily", workout->daily);
        writeAttribute(writer, "repeat", workout->repeat);
        writeAttribute(writer, "type", workout->type);
        writeAttribute(writer, "subtype", workout->subtype);
        writeAttribute(writer, "listOrder", workout->listOrder);
        writeTextIfAny(writer, "acttype", workout->acttype);
        writeWithShortName(writer, "name", workout->name, workout->nameShort);
        writeTextIfAny(writer, "desc", workout->desc);
        writeTextIfAny(writer, "time", workout->time);
        QString route;
        if (startWithText(writer, "route", workout->route, route)) {
            writeAttribute(writer, "id", workout->routeId);
            writer.writeCharacters(route);
            writer.writeEndElement();
        }
        writeIntervals(writer, workout);
        writer.writeEndElement();
    }
}

void GHTrncrs::writeIntervals(QXmlStreamWriter& writer, GHTrnWorkout* workout)
{
    for (GHTrnInterval* interval : qAsConst(workout->intervals)) {
        writer.writeStartElement(QStringLiteral("itv"));
        writeAttribute(writer, "id", interval->id);
        // Device code leaves the text empty for no lap, a read course holds "false": both stay without a lap.
        const QString lap = GHXmlSupport::xmlText(interval->needLap);
        const bool needLap = !lap.isEmpty() && lap.compare(QLatin1String("false"), Qt::CaseInsensitive) != 0;
        writer.writeAttribute(QStringLiteral("needLap"), needLap ? QStringLiteral("true") : QStringLiteral("false"));
        writer.writeTextElement(QStringLiteral("name"), GHXmlSupport::xmlText(interval->name));
        if (const GHTrnTarget* target = interval->target) {
            writer.writeEmptyElement(QStringLiteral("target"));
            writeAttribute(writer, "type", target->type);
            writeAttribute(writer, "low", target->low);
            writeAttribute(writer, "high", target->high);
            writeAttribute(writer, "ishardcon", target->ishardcon);
        }
        if (const GHTrnDuration* duration = interval->duration) {
            writer.writeStartElement(QStringLiteral("duration"));
            writeAttribute(writer, "type", duration->type);
            writeAttribute(writer, "value", duration->value);
            writeAttribute(writer, "ismanual", duration->ismanual);
            const QString segidxStart = GHXmlSupport::xmlText(duration->segidxStart);
            const QString segidxEnd = GHXmlSupport::xmlText(duration->segidxEnd);
            if (!segidxStart.isEmpty() || !segidxEnd.isEmpty()) {
                writer.writeEmptyElement(QStringLiteral("segidx"));
                writer.writeAttribute(QStringLiteral("start"), segidxStart);
                writer.writeAttribute(QStringLiteral("end"), segidxEnd);
            }
            const QString lat = GHXmlSupport::xmlText(duration->locationLat);
            const QString lon = GHXmlSupport::xmlText(duration->locationLon);
            if (!lat.isEmpty() && !lon.isEmpty()) {
                writer.writeEmptyElement(QStringLiteral("location"));
                writer.writeAttribute(QStringLiteral("lat"), lat);
                writer.writeAttribute(QStringLiteral("lon"), lon);
            }
            writer.writeEndElement();
        }
        QString goTo;
        if (startWithText(writer, "goto", interval->goTo, goTo)) {
            writeAttribute(writer, "repeat", interval->goToRepeat);
            writer.writeCharacters(goTo);
            writer.writeEndElement();
        }
        writeTextIfAny(writer, "logreso", interval->logreso);
        writer.writeEndElement();
    }
}
