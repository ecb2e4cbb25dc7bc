// One side of the workout-storage benchmark; bench/workout.sh times it against the sqlite3 command-line tool
// running the same statements on a copy of the same database.
//
//   bench_workout prepare FLASH        a device flash home whose route.dat has empty workout tables
//   bench_workout script-create FILE   the tool's side of create: per workout BEGIN, its row, its intervals, COMMIT
//   bench_workout script-load FILE     the tool's side of list and load: the listing, then per workout its columns
//                                      and its intervals
//   bench_workout create FLASH         this side: GHWorkoutProvider::create for every workout
//   bench_workout load FLASH           this side: listAll, then loadDetail of every listed workout

#include "search/ghdevicedb.h"
#include "sql/ghsqlcrud.h"
#include "sql/ghworkoutintervalmodel.h"
#include "sql/ghworkoutmodel.h"
#include "training/ghworkout.h"
#include "training/ghworkoutprovider.h"
#include "util/ghtracelog.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlQuery>

#include <cstdio>
#include <memory>

#include "benchsupport.h"

namespace {

const int kWorkouts = 1000;
const int kIntervals = 10;
const quint32 kFirstWid = 1700000000;

GHWorkout* workout(int index)
{
    auto* result = new GHWorkout(kFirstWid + quint32(index), QStringLiteral("Workout %1").arg(index));
    result->type = GHWorkout::WorkoutType(index % 4);
    result->subtype = index % 3;
    result->acttype = 1;
    result->daily = index % 2;
    result->repeat = 3;
    result->listOrder = index;
    result->desc = QStringLiteral("Intervals of the week %1, hills and sprints").arg(index / 7);
    result->time = QDateTime::fromSecsSinceEpoch(1700000000 + qint64(index) * 3600, Qt::UTC);
    for (int i = 0; i < kIntervals; ++i) {
        auto* interval = new GHWorkoutInterval(quint32(i + 1), QString());
        interval->needLap = i % 3 == 0;
        interval->target = GHIntervalTarget(1, 120 + i, 150 + i, i % 2);
        interval->duration = GHIntervalDuration(i % 4, 60 * (i + 1));
        if (i % 5 == 4)
            interval->duration.setSegment(i, i + 2);
        interval->isManual = i == 0 ? 1 : 0;
        interval->nextIid = i == kIntervals - 1 ? 2 : -1;
        interval->repeat = i == kIntervals - 1 ? 4 : 0;
        interval->logreso = i % 2;
        interval->intervalType = i % 7;
        result->intervals.append(interval);
    }
    return result;
}

QString intervalName(int intervalType)
{
    static const char* const names[] = {"Other", "Warmup", "Work", "Steady", "Cool-down", "Recovery", "Sprint"};
    return QLatin1String(names[intervalType]);
}

// The statements that create runs, with the values written in; the fresh tables number the rows from 1.
QByteArray createScript()
{
    QByteArray script;
    for (int index = 0; index < kWorkouts; ++index) {
        const std::unique_ptr<GHWorkout> w(workout(index));
        const bool daily = w->daily == 1;
        script += "BEGIN;\n";
        script += QStringLiteral("INSERT INTO Workout (wid,orgid,daily,repeatcnt,wtype,subtype,acttype,name,oneshot,"
                                 "desc,listOrder,datetime) VALUES (%1,%2,%3,%4,%5,%6,%7,'%8','false','%9',%10,%11);\n")
                      .arg(w->wid)
                      .arg(w->orgid)
                      .arg(daily ? 1 : 0)
                      .arg(daily ? w->repeat : 0)
                      .arg(qint32(w->type))
                      .arg(w->subtype)
                      .arg(w->acttype)
                      .arg(w->getName(nullptr), w->getDesc(nullptr))
                      .arg(w->listOrder)
                      .arg(w->time.toSecsSinceEpoch())
                      .toUtf8();
        for (const GHWorkoutInterval* interval : qAsConst(w->intervals)) {
            const bool segment = interval->duration.withSegment();
            script +=
                QStringLiteral("INSERT INTO WorkoutInterval (wid,iid,needLap,name,targettype,targetlow,targethigh,"
                               "targetishard,durtype,durvalue,%1durismanual,nextiid,repeatcnt,logreso) VALUES "
                               "(%2,%3,%4,'%5',%6,%7,%8,%9,")
                    .arg(segment ? QStringLiteral("dursegstart,dursegend,") : QString())
                    .arg(index + 1)
                    .arg(interval->id)
                    .arg(interval->needLap ? 1 : 0)
                    .arg(intervalName(interval->intervalType))
                    .arg(interval->target.type)
                    .arg(interval->target.low)
                    .arg(interval->target.high)
                    .arg(interval->target.isHard)
                    .toUtf8();
            script +=
                QStringLiteral("%1,%2,%3%4,%5,%6,%7);\n")
                    .arg(interval->duration.type)
                    .arg(interval->duration.value)
                    .arg(segment
                             ? QStringLiteral("%1,%2,").arg(interval->duration.segStart).arg(interval->duration.segEnd)
                             : QString())
                    .arg(interval->isAutoStopped() ? 0 : 1)
                    .arg(interval->nextIid)
                    .arg(interval->repeat)
                    .arg(interval->logreso)
                    .toUtf8();
        }
        script += "COMMIT;\n";
    }
    return script;
}

// The statements that listAll and loadDetail run; the listing gives the rows 1 to kWorkouts.
QByteArray loadScript()
{
    QByteArray script = "SELECT id,wid,datetime,name,oneshot FROM Workout WHERE wtype!=5 and (oneshot='false' or "
                        "oneshot is null) order by datetime desc;\n";
    for (int rowId = kWorkouts; rowId >= 1; --rowId) {
        script += QStringLiteral("SELECT orgid,wtype,daily,repeatcnt,subtype,createtime,oneshot,desc,listOrder,acttype "
                                 "FROM Workout WHERE id=%1;\n"
                                 "SELECT * FROM WorkoutInterval WHERE wid=%1;\n")
                      .arg(rowId)
                      .toUtf8();
    }
    return script;
}

void setUpHome(const QString& flash)
{
    GHTraceLog::setSystemVersion(QStringLiteral("GH2.0.0.0"));
    GHDeviceDB::setHomeDir(flash, QString(), QString());
}

bool prepare(const QString& flash)
{
    setUpHome(flash);
    QSqlDatabase db = GHSqlCRUD::opendb(flash + QLatin1String("/data/route/route.dat"), QStringLiteral("ghddb"));
    const bool made = GHWorkoutModel::createTabel(db) && GHWorkoutIntervalModel::createTabel(db);
    GHDeviceDB::closeStorageMapDb();
    return made;
}

bool create(const QString& flash)
{
    setUpHome(flash);
    GHWorkoutProvider provider;
    for (int index = 0; index < kWorkouts; ++index) {
        const std::unique_ptr<GHWorkout> w(workout(index));
        if (!provider.create(w.get())) {
            std::fprintf(stderr, "create of workout %d failed\n", index);
            return false;
        }
    }
    GHDeviceDB::closeStorageMapDb();
    return true;
}

bool load(const QString& flash)
{
    setUpHome(flash);
    GHWorkoutProvider provider;
    QVector<GHWorkout*> workouts;
    provider.listAll(workouts, false);
    qint64 checksum = 0;
    bool ok = workouts.size() == kWorkouts;
    for (GHWorkout* w : qAsConst(workouts)) {
        if (!provider.loadDetail(w) || w->intervals.size() != kIntervals) {
            ok = false;
            break;
        }
        // Something of every value read, as the tool prints every value.
        checksum += w->name.size() + w->desc.size() + w->listOrder + w->time.toSecsSinceEpoch() % 1000;
        for (const GHWorkoutInterval* interval : qAsConst(w->intervals))
            checksum += interval->name.size() + interval->target.high + interval->duration.value + interval->logreso;
    }
    qDeleteAll(workouts);
    GHDeviceDB::closeStorageMapDb();
    if (!ok) {
        std::fprintf(stderr, "listing or loading failed\n");
        return false;
    }
    std::printf("%lld\n", checksum);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietHandler);
    const QStringList args = app.arguments();
    const QString command = args.value(1);

    bool ok = false;
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: bench_workout prepare|create|load FLASH | script-create|script-load FILE\n");
    } else if (command == "prepare") {
        ok = prepare(args[2]);
    } else if (command == "script-create") {
        ok = writeFile(args[2], createScript());
    } else if (command == "script-load") {
        ok = writeFile(args[2], loadScript());
    } else if (command == "create") {
        ok = create(args[2]);
    } else if (command == "load") {
        ok = load(args[2]);
    } else {
        std::fprintf(stderr, "unknown command %s\n", qPrintable(command));
    }
    return ok ? 0 : 1;
}
