#include "training/ghworkout.h"

#include <QXmlStreamWriter>

#include "location/ghlocale.h"
#include "util/ghtracelog.h"
#include "util/ghxmlsupport.h"

namespace {

const QString kEnglish = QStringLiteral("ENG");

QString flag(int value)
{
    return value != 0 ? QStringLiteral("true") : QStringLiteral("false");
}

QString languageOf(const GHLocale* locale)
{
    return locale ? locale->getISO3Language().toUpper() : kEnglish;
}

} // namespace

GHIntervalTarget::GHIntervalTarget() : type(0), low(0), high(0), isHard(0) {}

GHIntervalTarget::GHIntervalTarget(int type, int low, int high, int isHard)
    : type(type), low(low), high(high), isHard(isHard)
{
}

GHIntervalDuration::GHIntervalDuration() : type(0), value(0), segStart(0), segEnd(0), hasSegment(false) {}

GHIntervalDuration::GHIntervalDuration(int type, int value)
    : type(type), value(value), segStart(0), segEnd(0), hasSegment(false)
{
}

void GHIntervalDuration::setSegment(int start, int end)
{
    segStart = start;
    segEnd = end;
    hasSegment = true;
}

bool GHIntervalDuration::withSegment() const
{
    return hasSegment;
}

GHWorkoutInterval::GHWorkoutInterval(unsigned int id, QString name)
    : id(id), name(std::move(name)), needLap(false), nextIid(-1), repeat(0), isManual(0), logreso(0), intervalType(2)
{
}

GHWorkoutInterval* GHWorkoutInterval::clone() const
{
    return new GHWorkoutInterval(*this);
}

QString GHWorkoutInterval::getName() const
{
    return name;
}

bool GHWorkoutInterval::isAutoStopped() const
{
    if (isManual == 1)
        return false;
    return duration.type != 0;
}

GHWorkout::GHWorkout(unsigned int wid, QString name)
    : rowId(0), wid(wid), orgid(wid), type(WorkoutType(0)), subtype(0), listOrder(0), acttype(0), daily(0), repeat(0),
      lthr(0), mhr(0), map(0), ftp(0), name(std::move(name)), detailLoaded(false), oneshot(false), runIntervalCount(-1)
{
}

GHWorkout::~GHWorkout()
{
    qDeleteAll(intervals);
}

GHWorkout* GHWorkout::clone() const
{
    GHWorkout* copy = new GHWorkout(wid, name);
    copy->rowId = rowId;
    copy->orgid = orgid;
    copy->type = type;
    copy->subtype = subtype;
    copy->listOrder = listOrder;
    copy->acttype = acttype;
    copy->daily = daily;
    copy->repeat = repeat;
    copy->lthr = lthr;
    copy->mhr = mhr;
    copy->map = map;
    copy->ftp = ftp;
    copy->desc = desc;
    copy->createTime = createTime;
    copy->time = time;
    copy->detailLoaded = detailLoaded;
    copy->oneshot = oneshot;
    copy->intervals.reserve(intervals.size());
    for (const GHWorkoutInterval* interval : intervals) {
        if (interval)
            copy->intervals.append(interval->clone());
    }
    return copy;
}

QString GHWorkout::getName(GHLocale* locale) const
{
    return getStringByLang(name, languageOf(locale));
}

QString GHWorkout::getDesc(GHLocale* locale) const
{
    return getStringByLang(desc, languageOf(locale));
}

QString GHWorkout::getCreateTime() const
{
    return createTime;
}

int GHWorkout::getRunIntervalCount() const
{
    return runIntervalCount;
}

void GHWorkout::writeMeta(QXmlStreamWriter& writer)
{
    writer.writeStartElement(QStringLiteral("metadata"));
    writer.writeTextElement(QStringLiteral("time"), GHXmlSupport::xmlText(getCreateTime()));
    writer.writeTextElement(QStringLiteral("sys"), GHXmlSupport::xmlText(GHTraceLog::getModelName()));
    writer.writeEndElement();
}

void GHWorkout::writeWorkout(QXmlStreamWriter& writer)
{
    writer.writeStartElement(QStringLiteral("wrk"));
    writer.writeAttribute(QStringLiteral("id"), QString::number(wid));
    writer.writeAttribute(QStringLiteral("orgid"), QString::number(orgid));
    writer.writeAttribute(QStringLiteral("daily"), flag(daily));
    writer.writeAttribute(QStringLiteral("repeat"), QString::number(repeat));
    writer.writeAttribute(QStringLiteral("type"), QString::number(qint32(type)));
    writer.writeAttribute(QStringLiteral("subtype"), QString::number(subtype));
    writer.writeAttribute(QStringLiteral("listOrder"), QString::number(listOrder));
    writer.writeTextElement(QStringLiteral("acttype"), QString::number(acttype));
    // Multi-language texts go out as they are held; a reader splits them again. Characters that XML cannot hold
    // are left out rather than failing the file.
    if (!name.isEmpty())
        writer.writeTextElement(QStringLiteral("name"), GHXmlSupport::xmlText(name));
    if (!desc.isEmpty())
        writer.writeTextElement(QStringLiteral("desc"), GHXmlSupport::xmlText(desc));
    if (time.isValid())
        writer.writeTextElement(QStringLiteral("time"),
                                time.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'hh:mm:ss'Z'")));
    for (GHWorkoutInterval* interval : qAsConst(intervals)) {
        if (interval)
            writeInterval(interval, writer);
    }
    writer.writeEndElement();
}

void GHWorkout::writeInterval(GHWorkoutInterval* interval, QXmlStreamWriter& writer)
{
    writer.writeStartElement(QStringLiteral("itv"));
    writer.writeAttribute(QStringLiteral("id"), QString::number(interval->id));
    writer.writeAttribute(QStringLiteral("needLap"), flag(interval->needLap));
    const QString intervalName = interval->getName();
    if (!intervalName.isEmpty())
        writer.writeTextElement(QStringLiteral("name"), GHXmlSupport::xmlText(intervalName));

    const GHIntervalTarget& target = interval->target;
    writer.writeEmptyElement(QStringLiteral("target"));
    writer.writeAttribute(QStringLiteral("type"), QString::number(target.type));
    writer.writeAttribute(QStringLiteral("low"), QString::number(target.low));
    writer.writeAttribute(QStringLiteral("high"), QString::number(target.high));
    writer.writeAttribute(QStringLiteral("ishardcon"), flag(target.isHard));

    const GHIntervalDuration& duration = interval->duration;
    writer.writeStartElement(QStringLiteral("duration"));
    writer.writeAttribute(QStringLiteral("type"), QString::number(duration.type));
    writer.writeAttribute(QStringLiteral("value"), QString::number(duration.value));
    writer.writeAttribute(QStringLiteral("ismanual"), flag(interval->isManual));
    if (duration.withSegment()) {
        writer.writeEmptyElement(QStringLiteral("segidx"));
        writer.writeAttribute(QStringLiteral("start"), QString::number(duration.segStart));
        writer.writeAttribute(QStringLiteral("end"), QString::number(duration.segEnd));
    }
    writer.writeEndElement();

    if (interval->nextIid != -1) {
        writer.writeStartElement(QStringLiteral("goto"));
        writer.writeAttribute(QStringLiteral("repeat"), QString::number(interval->repeat));
        writer.writeCharacters(QString::number(interval->nextIid));
        writer.writeEndElement();
    }
    if (interval->logreso > 0)
        writer.writeTextElement(QStringLiteral("logreso"), QString::number(interval->logreso));
    writer.writeEndElement();
}
