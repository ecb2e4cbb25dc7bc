#include "training/ghworkoutprovider.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <limits>

#include "sql/ghsqlcrud.h"
#include "sql/ghsqlsavepoint.h"
#include "sql/ghworkoutintervalmodel.h"
#include "sql/ghworkoutmodel.h"
#include "training/ghtrnwriter.h"

namespace {

// The type that the plain listing keeps apart.
const int kOneShotListType = 5;
const QString kExportVersion = QStringLiteral("1.3.0.9");
// Far more than any device holds; a table beyond it is not read into memory.
const int kMaxIntervals = 10000;
// Each step is one stored workout; beyond this many the clock is not where the ids come from.
const int kMaxIdSteps = 100000;

const QStringList kListingColumns{"id", "wid", "datetime", "name", "oneshot"};

QString intervalTypeName(int intervalType)
{
    static const char* const names[] = {"Other", "Warmup", "Work", "Steady", "Cool-down", "Recovery", "Sprint"};
    if (intervalType < 0 || intervalType >= int(sizeof(names) / sizeof(names[0])))
        return QStringLiteral("Unknown");
    return QLatin1String(names[intervalType]);
}

// Device databases hold the flag as the text that Qt 4 bound for a bool; the listing filters compare with it.
QString oneShotText(bool oneshot)
{
    return oneshot ? QStringLiteral("true") : QStringLiteral("false");
}

// A number is set when not 0; a text unless it is empty, "0" or "false" in any case; NULL is not.
bool readBool(const QVariant& value)
{
    return !value.isNull() && value.toBool();
}

// "As text, then as a number": a stored number out of range, a fraction or a word reads as 0. SQLite's integers
// come as 64-bit numbers and are taken without the detour through text.
int readInt(const QVariant& value)
{
    if (value.userType() == QMetaType::LongLong) {
        const qlonglong number = value.toLongLong();
        return number >= std::numeric_limits<int>::min() && number <= std::numeric_limits<int>::max() ? int(number) : 0;
    }
    return value.toString().toInt();
}

quint32 readUnsigned(const QVariant& value)
{
    if (value.userType() == QMetaType::LongLong) {
        const qlonglong number = value.toLongLong();
        return number >= 0 && number <= std::numeric_limits<quint32>::max() ? quint32(number) : 0;
    }
    return value.toString().toUInt();
}

// Older code stored the text "true", ours 0 or 1, others "True".
int readManual(const QVariant& value)
{
    const QString text = value.toString().trimmed();
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return 1;
    bool isNumber = false;
    const double number = text.toDouble(&isNumber);
    return isNumber && number != 0 ? 1 : 0;
}

// Column positions of a result, looked up once by name (without regard to case).
struct ListingColumns
{
    explicit ListingColumns(const QSqlRecord& record)
        : id(record.indexOf(QStringLiteral("id"))), wid(record.indexOf(QStringLiteral("wid"))),
          datetime(record.indexOf(QStringLiteral("datetime"))), name(record.indexOf(QStringLiteral("name"))),
          oneshot(record.indexOf(QStringLiteral("oneshot")))
    {
    }
    int id;
    int wid;
    int datetime;
    int name;
    int oneshot;
};

GHWorkout* readListing(const QSqlQuery& query, const ListingColumns& columns)
{
    GHWorkout* workout = new GHWorkout(readUnsigned(query.value(columns.wid)), query.value(columns.name).toString());
    workout->rowId = query.value(columns.id).toUInt();
    workout->oneshot = readBool(query.value(columns.oneshot));
    const quint32 seconds = readUnsigned(query.value(columns.datetime));
    if (seconds != 0)
        workout->time = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
    return workout;
}

void readListings(QSqlQuery& query, QVector<GHWorkout*>& workouts)
{
    const ListingColumns columns(query.record());
    while (query.next())
        workouts.append(readListing(query, columns));
}

// The Workout values shared by create and update, in the order of workoutColumns.
QVector<QVariant> workoutValues(const GHWorkout* workout)
{
    const bool daily = workout->daily == 1;
    QVector<QVariant> values{workout->wid,
                             workout->orgid,
                             daily ? 1 : 0,
                             daily ? workout->repeat : 0,
                             qint32(workout->type),
                             workout->subtype,
                             workout->acttype,
                             workout->getName(nullptr),
                             oneShotText(workout->oneshot),
                             workout->getDesc(nullptr),
                             workout->listOrder};
    if (workout->time.isValid())
        values.append(workout->time.toSecsSinceEpoch());
    return values;
}

QStringList workoutColumns(const GHWorkout* workout)
{
    QStringList columns{"wid",     "orgid", "daily",   "repeatcnt", "wtype",    "subtype",
                        "acttype", "name",  "oneshot", "desc",      "listOrder"};
    if (workout->time.isValid())
        columns.append(QStringLiteral("datetime"));
    return columns;
}

// The interval columns after "wid" and "iid" (those of create only), up to "durismanual" and after it.
void appendIntervalColumns(QStringList& columns, const GHWorkoutInterval* interval)
{
    columns << "needLap"
            << "name"
            << "targettype"
            << "targetlow"
            << "targethigh"
            << "targetishard"
            << "durtype"
            << "durvalue";
    if (interval->duration.withSegment())
        columns << "dursegstart"
                << "dursegend";
    columns << "durismanual"
            << "nextiid"
            << "repeatcnt"
            << "logreso";
}

void appendIntervalValues(QVector<QVariant>& values, const GHWorkoutInterval* interval, int manual)
{
    const GHIntervalTarget& target = interval->target;
    const GHIntervalDuration& duration = interval->duration;
    values << (interval->needLap ? 1 : 0) << intervalTypeName(interval->intervalType) << target.type << target.low
           << target.high << target.isHard << duration.type << duration.value;
    if (duration.withSegment())
        values << duration.segStart << duration.segEnd;
    values << manual << interval->nextIid << interval->repeat << interval->logreso;
}

} // namespace

void GHWorkoutProvider::listAll(QVector<GHWorkout*>& workouts, bool oneShotList)
{
    GHWorkoutModel model;
    QStringList columns = kListingColumns;
    model.setColumns(&columns);
    if (oneShotList) {
        model.setFilter(QStringLiteral("wtype=%1 and (oneshot!='false' or oneshot is null)").arg(kOneShotListType));
        model.setOrderby(QStringLiteral("order by name asc"));
    } else {
        model.setFilter(QStringLiteral("wtype!=%1 and (oneshot='false' or oneshot is null)").arg(kOneShotListType));
        model.setOrderby(QStringLiteral("order by datetime desc"));
    }
    QSqlQuery query = GHSqlCRUD::select(&model, true);
    readListings(query, workouts);
}

GHWorkout* GHWorkoutProvider::findById(unsigned int wid)
{
    GHWorkoutModel model;
    QStringList columns = kListingColumns;
    model.setColumns(&columns);
    model.setFilter(QStringLiteral("wid=%1").arg(wid));
    QSqlQuery query = GHSqlCRUD::select(&model, true);
    if (!query.next())
        return nullptr;
    return readListing(query, ListingColumns(query.record()));
}

void GHWorkoutProvider::findByType(QVector<GHWorkout*>& workouts, QVector<GHWorkout::WorkoutType>& types,
                                   QVector<int>& subtypes, SortType sort)
{
    GHWorkoutModel model;
    QStringList columns = kListingColumns;
    columns << "wtype"
            << "subtype";
    model.setColumns(&columns);
    QStringList terms;
    for (int i = 0; i < types.size(); ++i) {
        if (i < subtypes.size() && subtypes[i] != -1)
            terms << QStringLiteral("(wtype=%1 and subtype=%2)").arg(qint32(types[i])).arg(subtypes[i]);
        else
            terms << QStringLiteral("(wtype=%1)").arg(qint32(types[i]));
    }
    model.setFilter(terms.join(QLatin1String(" or ")));
    switch (sort) {
    case SORT_BY_NAME: model.setOrderby(QStringLiteral("order by name asc")); break;
    case SORT_BY_LIST_ORDER: model.setOrderby(QStringLiteral("order by listorder asc")); break;
    case SORT_BY_TIME: model.setOrderby(QStringLiteral("order by datetime desc")); break;
    }
    QSqlQuery query = GHSqlCRUD::select(&model, true);
    const QSqlRecord record = query.record();
    const ListingColumns listing(record);
    const int wtype = record.indexOf(QStringLiteral("wtype"));
    const int subtype = record.indexOf(QStringLiteral("subtype"));
    while (query.next()) {
        GHWorkout* workout = readListing(query, listing);
        workout->type = GHWorkout::WorkoutType(query.value(wtype).toInt());
        workout->subtype = query.value(subtype).toInt();
        workouts.append(workout);
    }
}

unsigned int GHWorkoutProvider::getNextNewId()
{
    const QDateTime local = QDateTime::currentDateTime();
    unsigned int id = unsigned(QDateTime(local.date(), local.time(), Qt::UTC).toSecsSinceEpoch());
    // Two ids asked for within one second, or in the hour that the clock repeats when summer time ends, would be
    // the same.
    for (int step = 0; getPrimaryKey(id) != NO_PRIMARY_KEY; ++step, ++id) {
        if (step == kMaxIdSteps) {
            qWarning("workout storage: %d workout ids from the clock on are taken", kMaxIdSteps);
            break;
        }
    }
    return id;
}

bool GHWorkoutProvider::create(GHWorkout* workout)
{
    if (workout->getName(nullptr).trimmed().isEmpty())
        workout->name = QStringLiteral("NoName");

    GHWorkoutModel model;
    GHSqlSavepoint transaction(model, "ghworkout", "workout storage");
    if (!transaction.isOpen())
        return false;

    QStringList columns = workoutColumns(workout);
    QVector<QVariant> values = workoutValues(workout);
    model.setColumns(&columns);
    model.setValues(&values);
    if (!GHSqlCRUD::insert(&model)) {
        qWarning("workout storage: cannot insert workout %u", workout->wid);
        return false;
    }
    const quint32 rowId = model.m_lastInsertId.toUInt();

    GHWorkoutIntervalModel intervalModel;
    intervalModel.setColumns(&columns);
    intervalModel.setValues(&values);
    for (const GHWorkoutInterval* interval : qAsConst(workout->intervals)) {
        if (!interval)
            continue;
        columns = QStringList{"wid", "iid"};
        appendIntervalColumns(columns, interval);
        values = QVector<QVariant>{rowId, interval->id};
        appendIntervalValues(values, interval, interval->isAutoStopped() ? 0 : 1);
        if (!GHSqlCRUD::insert(&intervalModel)) {
            qWarning("workout storage: cannot insert interval %u of workout %u", interval->id, workout->wid);
            return false;
        }
    }
    return transaction.commit();
}

unsigned int GHWorkoutProvider::getPrimaryKey(unsigned int wid)
{
    GHWorkoutModel model;
    QStringList columns{"id"};
    model.setColumns(&columns);
    model.setFilter(QStringLiteral("wid=%1").arg(wid));
    QSqlQuery query = GHSqlCRUD::select(&model, true);
    if (!query.next())
        return NO_PRIMARY_KEY;
    return readUnsigned(query.value(0));
}

void GHWorkoutProvider::remove(unsigned int rowId)
{
    const QString filter = QStringLiteral("%1=%2");
    GHWorkoutModel model;
    model.setFilter(filter.arg(QLatin1String("id")).arg(rowId));
    GHSqlCRUD::remove(&model);
    GHWorkoutIntervalModel intervalModel;
    intervalModel.setFilter(filter.arg(QLatin1String("wid")).arg(rowId));
    GHSqlCRUD::remove(&intervalModel);
}

void GHWorkoutProvider::remove(GHWorkout* workout)
{
    remove(workout->rowId);
}

bool GHWorkoutProvider::loadDetail(GHWorkout* workout)
{
    if (workout->detailLoaded)
        return true;

    GHWorkoutModel model;
    QStringList columns{"orgid",      "wtype",   "daily", "repeatcnt", "subtype",
                        "createtime", "oneshot", "desc",  "listOrder", "acttype"};
    model.setColumns(&columns);
    model.setFilter(QStringLiteral("id=%1").arg(workout->rowId));
    QSqlQuery query = GHSqlCRUD::select(&model, true);
    if (!query.next())
        return false;
    const QSqlRecord record = query.record();
    const auto value = [&query, &record](const char* column) {
        return query.value(record.indexOf(QLatin1String(column)));
    };
    const quint32 orgid = readUnsigned(value("orgid"));
    const int type = readInt(value("wtype"));
    const int daily = readInt(value("daily"));
    const int repeat = readInt(value("repeatcnt"));
    const int subtype = readInt(value("subtype"));
    const QString createTime = value("createtime").toString();
    const bool oneshot = readBool(value("oneshot"));
    const QString desc = value("desc").toString();
    const int listOrder = value("listOrder").toInt();
    const int acttype = value("acttype").toInt();
    query.finish();

    // Read whole before anything changes, so that a failure leaves the workout as it was.
    QVector<GHWorkoutInterval*> intervals;
    GHWorkoutIntervalModel intervalModel;
    QStringList allColumns{"*"};
    intervalModel.setColumns(&allColumns);
    intervalModel.setFilter(QStringLiteral("wid=%1").arg(workout->rowId));
    QSqlQuery rows = GHSqlCRUD::select(&intervalModel, true);
    const QSqlRecord rowRecord = rows.record();
    const auto column = [&rowRecord](const char* name) { return rowRecord.indexOf(QLatin1String(name)); };
    const int iid = column("iid"), name = column("name"), needLap = column("needLap");
    const int targetType = column("targettype"), targetLow = column("targetlow"), targetHigh = column("targethigh"),
              targetIsHard = column("targetishard");
    const int durType = column("durtype"), durValue = column("durvalue"), durSegStart = column("dursegstart"),
              durSegEnd = column("dursegend"), durIsManual = column("durismanual");
    const int nextIid = column("nextiid"), repeatCount = column("repeatcnt"), logreso = column("logreso");
    while (rows.next()) {
        if (intervals.size() == kMaxIntervals) {
            qWarning("workout storage: workout %u has more than %d intervals", workout->wid, kMaxIntervals);
            qDeleteAll(intervals);
            return false;
        }
        auto* interval = new GHWorkoutInterval(readUnsigned(rows.value(iid)), rows.value(name).toString());
        interval->needLap = readInt(rows.value(needLap)) != 0;
        if (!rows.isNull(targetType)) {
            interval->target = GHIntervalTarget(readInt(rows.value(targetType)), readInt(rows.value(targetLow)),
                                                readInt(rows.value(targetHigh)), readInt(rows.value(targetIsHard)));
        }
        if (!rows.isNull(durType)) {
            interval->duration = GHIntervalDuration(readInt(rows.value(durType)), readInt(rows.value(durValue)));
            if (!rows.isNull(durSegStart))
                interval->duration.setSegment(readInt(rows.value(durSegStart)), readInt(rows.value(durSegEnd)));
        }
        if (!rows.isNull(durIsManual))
            interval->isManual = readManual(rows.value(durIsManual));
        if (!rows.isNull(nextIid)) {
            interval->nextIid = readInt(rows.value(nextIid));
            interval->repeat = readInt(rows.value(repeatCount));
        }
        if (!rows.isNull(logreso)) {
            bool isNumber = false;
            const int resolution = rows.value(logreso).toString().toInt(&isNumber);
            if (isNumber)
                interval->logreso = resolution;
        }
        intervals.append(interval);
    }

    workout->orgid = orgid;
    workout->type = GHWorkout::WorkoutType(type);
    workout->daily = daily;
    workout->repeat = repeat;
    workout->subtype = subtype;
    workout->createTime = createTime;
    workout->oneshot = oneshot;
    workout->desc = desc;
    workout->listOrder = listOrder;
    workout->acttype = acttype;
    workout->intervals += intervals;
    workout->detailLoaded = true;
    return true;
}

bool GHWorkoutProvider::update(GHWorkout* workout)
{
    GHWorkoutModel model;
    GHSqlSavepoint transaction(model, "ghworkout", "workout storage");
    if (!transaction.isOpen())
        return false;

    QStringList columns = workoutColumns(workout);
    QVector<QVariant> values = workoutValues(workout);
    model.setColumns(&columns);
    model.setValues(&values);
    model.setFilter(QStringLiteral("id=%1").arg(workout->rowId));
    if (!GHSqlCRUD::update(&model)) {
        qWarning("workout storage: cannot update workout %u", workout->wid);
        return false;
    }

    GHWorkoutIntervalModel intervalModel;
    intervalModel.setColumns(&columns);
    intervalModel.setValues(&values);
    for (const GHWorkoutInterval* interval : qAsConst(workout->intervals)) {
        if (!interval)
            continue;
        columns.clear();
        appendIntervalColumns(columns, interval);
        values.clear();
        appendIntervalValues(values, interval, interval->isManual);
        intervalModel.setFilter(QStringLiteral("iid=%1 and wid=%2").arg(interval->id).arg(workout->rowId));
        if (!GHSqlCRUD::update(&intervalModel)) {
            qWarning("workout storage: cannot update interval %u of workout %u", interval->id, workout->wid);
            return false;
        }
    }
    return transaction.commit();
}

bool GHWorkoutProvider::exportWorkout(unsigned int wid, QString& path, bool durable)
{
    GHWorkout* workout = _createWorkout(wid);
    if (!workout) {
        qWarning("workout storage: no workout %u to export", wid);
        return false;
    }
    GHTrnWriter writer(kExportVersion, workout);
    const bool written = writer.writeFile(path, durable);
    // A one-shot workout is gone once it is on the device; not before, or a failed copy would lose it.
    if (written && workout->oneshot)
        remove(workout->rowId);
    delete workout;
    return written;
}

GHWorkout* GHWorkoutProvider::_createWorkout(unsigned int wid)
{
    GHWorkoutModel model;
    QStringList columns{"id", "wid", "wtype", "datetime", "name", "oneshot", "desc"};
    model.setColumns(&columns);
    model.setFilter(QStringLiteral("wid=%1").arg(wid));
    QSqlQuery query = GHSqlCRUD::select(&model, true);
    if (!query.next())
        return nullptr;
    const QSqlRecord record = query.record();
    GHWorkout* workout = readListing(query, ListingColumns(record));
    workout->desc = query.value(record.indexOf(QStringLiteral("desc"))).toString();
    query.finish();
    if (!loadDetail(workout)) {
        delete workout;
        return nullptr;
    }
    return workout;
}
