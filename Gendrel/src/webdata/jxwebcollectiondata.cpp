#include "webdata/jxwebcollectiondata.h"

#include <QBuffer>
#include <QDomDocument>
#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include <cstdio>

#include "jxlog.h"

namespace {

const char kRootTag[] = "PersonalData";

QString utcText(const QDateTime& time)
{
    if (!time.isValid())
        return QString();
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'hh:mm:ss'Z'"));
}

QString pictureHex(const QImage& picture)
{
    if (picture.isNull())
        return QString();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "PNG")) {
        JX_WARNING << "name picture could not be saved as PNG:" << picture.size();
        return QString();
    }
    return QString::fromLatin1(png.toHex());
}

QString sixDecimals(const QString& text)
{
    return QString::number(text.toDouble(), 'f', 6);
}

void appendTextElement(QDomDocument* doc, QDomElement* parent, const QString& tag, const QString& text)
{
    QDomElement element = doc->createElement(tag);
    element.appendChild(doc->createTextNode(JXWebCollectionData::xmlText(text)));
    parent->appendChild(element);
}

// POI, track and route records.
void readPlaceField(JXWebData* data, const QDomElement& field)
{
    const QString tag = field.tagName();
    const QString text = field.text();
    if (tag == QLatin1String("name")) {
        data->name = text;
    } else if (tag == QLatin1String("category")) {
        data->category = text;
    } else if (tag == QLatin1String("desc")) {
        data->desc = text;
    } else if (tag == QLatin1String("difficulty")) {
        data->difficulty = text;
    } else if (tag == QLatin1String("xyz")) {
        const QStringList parts = text.split(QLatin1Char(','));
        if (parts.size() > 0)
            data->longitude = sixDecimals(parts.at(0));
        if (parts.size() > 1)
            data->latitude = sixDecimals(parts.at(1));
        if (parts.size() > 2)
            data->altitude = parts.at(2);
    } else if (tag == QLatin1String("filesize")) {
        data->fileSize = text;
    } else if (tag == QLatin1String("activity_name")) {
        data->activityName = text;
    } else if (tag == QLatin1String("workout_name")) {
        data->workoutName = text;
    } else if (tag == QLatin1String("target_date")) {
        data->targetDate = text;
    } else if (tag == QLatin1String("start_place")) {
        data->startPlace = sixDecimals(text);
    } else if (tag == QLatin1String("end_place")) {
        data->endPlace = sixDecimals(text);
    } else if (tag == QLatin1String("distance")) {
        data->distance = text;
    } else if (tag == QLatin1String("activity_type")) {
        data->activityType = text;
    } else if (tag == QLatin1String("start_time")) {
        data->startTime = text;
    } else if (tag == QLatin1String("end_time")) {
        data->endTime = text;
    } else if (tag == QLatin1String("trkpts")) {
        data->trkpts = text;
    }
}

void readWorkoutField(JXWebData* data, const QDomElement& field)
{
    const QString tag = field.tagName();
    if (tag == QLatin1String("name"))
        data->name = field.text();
    else if (tag == QLatin1String("workout_name"))
        data->workoutName = field.text();
    else if (tag == QLatin1String("activity_name"))
        data->activityName = field.text();
    else if (tag == QLatin1String("target_date"))
        data->targetDate = field.text();
    else if (tag == QLatin1String("filesize"))
        data->fileSize = field.text();
}

} // namespace

JXWebCollectionData::~JXWebCollectionData()
{
    cleanData(pois);
    cleanData(routes);
    cleanData(workouts);
    cleanData(tracks);
}

void JXWebCollectionData::setPOIs(QVector<JXClientData>& items)
{
    cleanData(pois);
    webDatasFromClientDatas(pois, items);
}

void JXWebCollectionData::setRoutes(QVector<JXClientData>& items)
{
    cleanData(routes);
    webDatasFromClientDatas(routes, items);
}

void JXWebCollectionData::setTracks(QVector<JXClientData>& items)
{
    cleanData(tracks);
    webDatasFromClientDatas(tracks, items);
}

void JXWebCollectionData::setWorkouts(QVector<JXClientData>& items)
{
    cleanData(workouts);
    webDatasFromClientDatas(workouts, items);
}

void JXWebCollectionData::cleanData(QVector<JXWebData*>& list)
{
    qDeleteAll(list);
    list.clear();
}

void JXWebCollectionData::webDatasFromClientDatas(QVector<JXWebData*>& out, QVector<JXClientData>& items)
{
    for (const JXClientData& item : qAsConst(items)) {
        auto* data = new JXWebData;
        data->id = QString::number(item.id);
        data->name = item.name;
        data->namePix = pictureHex(item.namePicture);
        data->desc = item.desc;
        data->latitude = QString::number(item.latitude);
        data->longitude = QString::number(item.longitude);
        data->category = item.category;
        data->startPlace = item.place;
        data->activityType = QString::number(item.activityType);
        data->startTime = utcText(item.startTime);
        data->endTime = utcText(item.endTime);
        data->distance = QString::number(item.distance);
        data->wrkType = QString::number(item.wrkType);
        data->subType = QString::number(item.subType);
        data->itemId = QString::number(item.itemId);
        data->uploaded = item.uploaded ? QStringLiteral("1") : QStringLiteral("0");
        out.append(data);
    }
}

bool JXWebCollectionData::write(QString path)
{
    QDomDocument doc;
    QDomElement root = doc.createElement(QLatin1String(kRootTag));
    doc.appendChild(root);

    struct Section
    {
        const char* tag;
        const QVector<JXWebData*>* records;
        const char* prefix;
    };
    const Section sections[] = {
        {"POI", &pois, "P"}, {"Track", &tracks, "T"}, {"PlanTrip", &routes, "R"}, {"Workout", &workouts, "W"}};
    for (const Section& section : sections) {
        QDomElement sectionElement = doc.createElement(QLatin1String(section.tag));
        root.appendChild(sectionElement);
        for (JXWebData* data : *section.records) {
            QDomElement record = doc.createElement(QStringLiteral("record"));
            appendRecord(data, &doc, &record, QLatin1String(section.prefix));
            sectionElement.appendChild(record);
        }
    }

    // Written beside the target and renamed into place, so a failed write leaves no half document.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        JX_WARNING << "cannot write web collection file" << path << ":" << file.errorString();
        return false;
    }
    file.write(doc.toByteArray(4));
    if (!file.commit()) {
        JX_WARNING << "failed to write web collection file" << path << ":" << file.errorString();
        return false;
    }
    return true;
}

bool JXWebCollectionData::appendRecord(JXWebData* data, QDomDocument* doc, QDomElement* record, QString prefix)
{
    record->setAttribute(QStringLiteral("id"), xmlText(prefix + data->id));
    record->setAttribute(QStringLiteral("uploaded"), xmlText(data->uploaded));
    appendTextElement(doc, record, QStringLiteral("name"), data->name);
    appendTextElement(doc, record, QStringLiteral("category"), data->category);
    appendTextElement(doc, record, QStringLiteral("name_pix"), data->namePix);
    appendTextElement(doc, record, QStringLiteral("desc"), data->desc);
    // The reader takes longitude, latitude and an optional altitude.
    appendTextElement(doc, record, QStringLiteral("xyz"), data->longitude + QLatin1Char(',') + data->latitude);
    appendTextElement(doc, record, QStringLiteral("trkpts"), QStringLiteral("1000"));
    appendTextElement(doc, record, QStringLiteral("start_time"), data->startTime);
    appendTextElement(doc, record, QStringLiteral("end_time"), data->endTime);
    appendTextElement(doc, record, QStringLiteral("difficulty"), data->difficulty);
    appendTextElement(doc, record, QStringLiteral("distance"), data->distance);
    appendTextElement(doc, record, QStringLiteral("activity_type"), data->activityType);
    appendTextElement(doc, record, QStringLiteral("wrk_type"), data->wrkType);
    appendTextElement(doc, record, QStringLiteral("sub_type"), data->subType);
    appendTextElement(doc, record, QStringLiteral("item_id"), data->itemId);
    appendTextElement(doc, record, QStringLiteral("filesize"), data->fileSize);
    return true;
}

bool JXWebCollectionData::readFile(QString path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        JX_WARNING << "cannot open web collection file" << path << ":" << file.errorString();
        return false;
    }
    QByteArray bytes = file.readAll();
    read(bytes);
    file.close();
    return true;
}

bool JXWebCollectionData::read(QByteArray& bytes)
{
    QDomDocument doc;
    QString error;
    int line = 0;
    int column = 0;
    if (!doc.setContent(QString::fromUtf8(bytes), &error, &line, &column)) {
        std::fprintf(stdout, "%s\n", error.toLocal8Bit().constData());
        std::fflush(stdout);
        JX_WARNING << "web collection document does not parse:" << error << "at line" << line << "column" << column;
        return false;
    }

    const QDomElement root = doc.documentElement();
    std::fputs(root.tagName().toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
    if (root.tagName() != QLatin1String(kRootTag))
        return true;

    for (QDomElement section = root.firstChildElement(); !section.isNull(); section = section.nextSiblingElement()) {
        const QString tag = section.tagName();
        QVector<JXWebData*>* records = nullptr;
        if (tag == QLatin1String("POI"))
            records = &pois;
        else if (tag == QLatin1String("Track"))
            records = &tracks;
        else if (tag == QLatin1String("PlanTrip"))
            records = &routes;
        else if (tag == QLatin1String("Workout"))
            records = &workouts;
        else
            continue;

        for (QDomElement record = section.firstChildElement(QStringLiteral("record")); !record.isNull();
             record = record.nextSiblingElement(QStringLiteral("record"))) {
            auto* data = new JXWebData;
            data->id = record.attribute(QStringLiteral("id"), QStringLiteral("-1"));
            for (QDomElement field = record.firstChildElement(); !field.isNull(); field = field.nextSiblingElement()) {
                if (records == &workouts)
                    readWorkoutField(data, field);
                else
                    readPlaceField(data, field);
            }
            records->append(data);
        }
    }
    return true;
}

QString JXWebCollectionData::xmlText(const QString& text)
{
    auto allowed = [](uint code) {
        return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
               (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
    };

    QString result;
    bool dropped = false;
    const int size = text.size();
    for (int i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
            if (dropped)
                result.append(c).append(text.at(i + 1));
            ++i;
            continue;
        }
        if (allowed(c.unicode()) && !c.isSurrogate()) {
            if (dropped)
                result.append(c);
            continue;
        }
        if (!dropped) {
            result = text.left(i);
            dropped = true;
        }
    }
    return dropped ? result : text;
}
