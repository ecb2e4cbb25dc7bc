// Recorded rides: their TraceLog rows and the files named after them.

#include "search/ghdevicedb.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QXmlStreamReader>

#include <memory>

#include <sys/stat.h>

#include "ghdevicedb_p.h"
#include "sql/ghsqlcrud.h"
#include "sql/tracelogdbm.h"
#include "training/ghworkoutprovider.h"
#include "util/ghtracelog.h"

namespace {

// The title of a ride whose log was started and never given its record.
const QString kUnfinishedTitle = QStringLiteral("...");

// A 52-byte header and two 20-byte GPS records: anything shorter holds no track worth listing.
const qint64 kMinListedGpsLogSize = 93;

// The columns of a saved row, in the order their values are bound.
const QStringList kSavedColumns{"idRoute",      "Title",      "Abstract",   "TotalLength",  "CreateTime",
                                "Author",       "Elevation",  "StartLon",   "StartLat",     "EndLon",
                                "EndLat",       "LDLat",      "LDLon",      "RTLon",        "RTLat",
                                "StartCountry", "EndCountry", "StartPlace", "EndPlace",     "MaxElev",
                                "MinElev",      "StartTime",  "EndTime",    "ActivityType", "RouteType"};

// The values of kSavedColumns but the first.
QVector<QVariant> savedValuesAfterId(const GHTraceLogRecord& record)
{
    return {record.title,         record.abstract,      record.totalLength,  record.id,
            record.author,        record.elevation,     record.startLon,     record.startLat,
            record.endLon,        record.endLat,        record.lowerLeftLat, record.lowerLeftLon,
            record.upperRightLon, record.upperRightLat, record.startCountry, record.endCountry,
            record.startPlace,    record.endPlace,      record.maxElevation, record.minElevation,
            record.startTime,     record.endTime,       record.activityType, record.routeType};
}

// The wid that a workout log's "wrklog" names; false when it names none (no such element, or an "id" that is absent
// or not a number). Read from the file as a stream up to that element, so a large file is not taken in whole.
bool workoutOfLog(const QString& path, unsigned int* wid)
{
    // Only a plain file: opening a pipe under that name would wait for a writer.
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QXmlStreamReader reader(&file);
    QString idText;
    quint32 id = 0;
    if (GHTraceLog::workoutOfLog(reader, id, &idText)) {
        *wid = id;
        return true;
    }
    if (reader.name() == QLatin1String("wrklog"))
        qWarning("%s names no workout: its id is \"%s\"", qUtf8Printable(path), qUtf8Printable(idText));
    return false;
}

// The one-shot workout was made for this ride alone and goes with it; a workout of the user's list stays.
void removeOneShotWorkout(unsigned int wid)
{
    GHWorkoutProvider provider;
    const std::unique_ptr<GHWorkout> workout(provider.findById(wid));
    if (workout && workout->oneshot)
        provider.remove(workout->rowId);
}

} // namespace

void GHDeviceDB::getTraceLogList(ActivityType activityType, QVector<QPair<GHId, QString>>& rides, bool checkLogFile)
{
    TraceLogDbm model;
    const QString database = model.dbName();
    if (database.isEmpty())
        return;

    // Bound, not written as "...": a double-quoted token is a literal only while no column bears that name, and only
    // in SQLite builds that still take that fallback.
    QStringList columns{QStringLiteral("idRoute")};
    QVector<QVariant> values{kUnfinishedTitle};
    model.setColumns(&columns);
    model.setValues(&values);
    model.setFilter(QStringLiteral("Title=?"));
    QVector<quint32> unfinished;
    {
        QSqlQuery query = GHSqlCRUD::select(&model, true);
        while (query.next()) {
            bool ok = false;
            const quint32 rideId = query.value(0).toUInt(&ok);
            if (ok)
                unfinished << rideId;
        }
    }
    // The rows go first: should that fail, the unfinished rides stay whole for the next listing to try again.
    if (!GHSqlCRUD::remove(&model)) {
        qWarning("cannot delete the unfinished rides of %s", qUtf8Printable(database));
    } else {
        for (const quint32 rideId : qAsConst(unfinished)) {
            removeIfThere(GHTraceLog::getTraceLogTRN(rideId));
            removeIfThere(GHTraceLog::getTraceLogGPS(rideId));
            removeIfThere(GHTraceLog::getTraceLogSTA(rideId));
        }
    }

    columns = QStringList{QStringLiteral("idRoute"), QStringLiteral("Title")};
    values.clear();
    model.setOrderby(QStringLiteral("order by StartTime desc"));
    if (activityType == ALL_ACTIVITIES) {
        model.setFilter(QStringLiteral("pause is null or pause=0"));
    } else {
        model.setFilter(QStringLiteral("(pause is null or pause=0) and ActivityType=?"));
        values << qint32(activityType);
    }
    QSqlQuery query = GHSqlCRUD::select(&model, true);
    if (!query.isActive()) {
        qWarning("cannot list the rides of %s: %s", qUtf8Printable(database), qUtf8Printable(query.lastError().text()));
        return;
    }
    while (query.next()) {
        const int rideId = query.value(0).toInt();
        if (checkLogFile) {
            // One plain stat: the listing does this for every ride, and QFileInfo costs several times the call.
            struct stat status;
            const QByteArray gpsLog = QFile::encodeName(GHTraceLog::getTraceLogGPS(quint32(rideId)));
            if (::stat(gpsLog.constData(), &status) != 0 || !S_ISREG(status.st_mode) ||
                status.st_size < kMinListedGpsLogSize)
                continue;
        }
        rides.append(qMakePair(GHId(rideId, GHId::FLASH), query.value(1).toString()));
    }
}

int GHDeviceDB::getNewestTraceLog()
{
    TraceLogDbm model;
    if (model.dbName().isEmpty())
        return -1;
    QStringList columns{QStringLiteral("idRoute")};
    model.setColumns(&columns);
    model.setOrderby(QStringLiteral("order by StartTime desc limit 1"));
    QSqlQuery query = GHSqlCRUD::select(&model, true);
    if (!query.next())
        return -1;
    bool ok = false;
    const int rideId = query.value(0).toInt(&ok);
    return ok ? rideId : -1;
}

bool GHDeviceDB::saveTraceLog(GHTraceLogRecord* record, bool isNew)
{
    if (!record) {
        qWarning("no ride record to save");
        return false;
    }
    TraceLogDbm model;
    const QString database = model.dbName();
    if (database.isEmpty())
        return false;
    QStringList columns = kSavedColumns;
    QVector<QVariant> values = savedValuesAfterId(*record);
    model.setColumns(&columns);
    model.setValues(&values);
    bool ran = false;
    if (isNew) {
        values.prepend(record->id);
        ran = GHSqlCRUD::insert(&model);
    } else {
        // The row keeps its key, its pause mark and its upload flag.
        columns.removeFirst();
        values << record->id;
        model.setFilter(QStringLiteral("idRoute=?"));
        ran = GHSqlCRUD::update(&model);
    }
    if (!ran)
        qWarning("cannot save ride %u in %s", record->id, qUtf8Printable(database));
    return ran;
}

bool GHDeviceDB::renameTraceLog(GHId id, QString title)
{
    TraceLogDbm model;
    if (model.dbName().isEmpty())
        return false;
    QStringList columns{QStringLiteral("Title")};
    QVector<QVariant> values{title, id.rowId};
    model.setColumns(&columns);
    model.setValues(&values);
    model.setFilter(QStringLiteral("idRoute=?"));
    return GHSqlCRUD::update(&model);
}

bool GHDeviceDB::markTraceLogPause(unsigned int rideId, int paused)
{
    TraceLogDbm model;
    if (model.dbName().isEmpty())
        return false;
    QStringList columns{QStringLiteral("pause")};
    QVector<QVariant> values{paused, rideId};
    model.setColumns(&columns);
    model.setValues(&values);
    model.setFilter(QStringLiteral("idRoute=?"));
    return GHSqlCRUD::update(&model);
}

bool GHDeviceDB::deleteTraceLog(GHId id)
{
    TraceLogDbm model;
    const QString database = model.dbName();
    if (database.isEmpty())
        return false;
    QStringList columns{QStringLiteral("CreateTime")};
    QVector<QVariant> values{id.rowId};
    model.setColumns(&columns);
    model.setValues(&values);
    model.setFilter(QStringLiteral("idRoute=?"));
    QVariant createTime;
    {
        QSqlQuery query = GHSqlCRUD::select(&model, true);
        if (!query.next())
            return false;
        createTime = query.value(0);
    }

    // The row goes first: should that fail, the ride stays whole with its files.
    if (!GHSqlCRUD::remove(&model)) {
        qWarning("cannot delete ride %d from %s", id.rowId, qUtf8Printable(database));
        return false;
    }

    bool ok = false;
    const quint32 rideId = createTime.toUInt(&ok);
    if (!ok) {
        qWarning("ride %d has no usable CreateTime (\"%s\"): its row is deleted, its files cannot be named and stay",
                 id.rowId, qUtf8Printable(createTime.toString()));
        return false;
    }
    bool removed = true;
    for (const QString& path : {GHTraceLog::getTraceLogTRN(rideId), GHTraceLog::getTraceLogGPS(rideId),
                                GHTraceLog::getTraceLogSTA(rideId)})
        removed = removeIfThere(path) && removed;
    const QString workoutLog = GHTraceLog::getTraceLogWRK(rideId);
    if (QFileInfo::exists(workoutLog)) {
        unsigned int wid = 0;
        if (workoutOfLog(workoutLog, &wid))
            removeOneShotWorkout(wid);
        removed = removeIfThere(workoutLog) && removed;
    }
    for (const QString& path : {GHTraceLog::getTraceLogUSR(rideId), GHTraceLog::getTraceLogST2(rideId),
                                GHTraceLog::getTraceLogPLN(rideId), GHTraceLog::getTraceLogDBG(rideId)})
        removed = removeIfThere(path) && removed;
    return removed;
}

QSqlQuery GHDeviceDB::getTraceLogData(QStringList& columns)
{
    return getTableData(GHId::FLASH, QStringLiteral("TraceLog"), columns);
}

void GHDeviceDB::getTraceLogData(GHId id, QStringList& columns, QVector<QVariant>& values)
{
    _getDbData(QStringLiteral("TraceLog"), id, columns, values);
}

void GHDeviceDB::setTraceLogUpload(GHId id, bool uploaded)
{
    setUploadedColumn(QStringLiteral("TraceLog"), id, uploaded);
}
