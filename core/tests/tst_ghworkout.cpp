#include <QtTest>

#include <QBuffer>
#include <QTemporaryDir>
#include <QXmlStreamWriter>

#include <memory>

#include "ghtestdevicehomes.h"
#include "ghtestsqlite.h"
#include "ghtestxml.h"
#include "jxtimezoneguard.h"
#include "location/ghlocale.h"
#include "search/ghdevicedb.h"
#include "training/ghtrncrs.h"
#include "training/ghtrnduration.h"
#include "training/ghtrninterval.h"
#include "training/ghtrnmetadata.h"
#include "training/ghtrnreader.h"
#include "training/ghtrntarget.h"
#include "training/ghtrnworkout.h"
#include "training/ghtrnwriter.h"
#include "training/ghworkout.h"
#include "training/ghworkoutprovider.h"
#include "util/ghtracelog.h"

using GHTestSqlite::query;

namespace {

using Workouts = QVector<GHWorkout*>;

// Deletes what the provider hands out.
struct Owned
{
    ~Owned() { qDeleteAll(workouts); }
    Workouts workouts;
};

QList<quint32> widsOf(const Workouts& workouts)
{
    QList<quint32> wids;
    for (const GHWorkout* workout : workouts)
        wids << workout->wid;
    return wids;
}

GHWorkoutInterval* interval(unsigned int id, int durationType, int isManual, int intervalType)
{
    auto* result = new GHWorkoutInterval(id, QStringLiteral("interval %1").arg(id));
    result->duration = GHIntervalDuration(durationType, 60 * int(id));
    result->target = GHIntervalTarget(1, 100 + int(id), 150 + int(id), int(id % 2));
    result->isManual = isManual;
    result->intervalType = intervalType;
    return result;
}

// A workout with every field set and intervals of every shape.
GHWorkout* fullWorkout(unsigned int wid)
{
    auto* workout = new GHWorkout(wid, QStringLiteral("\\ENG Hills\\GER H\u00fcgel"));
    workout->type = GHWorkout::WorkoutType(1);
    workout->subtype = 3;
    workout->listOrder = 4;
    workout->acttype = 2;
    workout->daily = 1;
    workout->repeat = 5;
    workout->desc = QStringLiteral("Climbs & <sprints>");
    workout->time = QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC);
    GHWorkoutInterval* warmup = interval(1, 3, 1, 1); // manual despite its duration
    warmup->needLap = true;
    warmup->duration.setSegment(3, 9);
    warmup->logreso = 5;
    GHWorkoutInterval* work = interval(2, 3, 0, 9); // stops by itself; no name for type 9
    work->nextIid = 0;
    work->repeat = 2;
    workout->intervals << warmup << work << interval(3, 0, 0, -1);
    return workout;
}

QString writtenXml(GHWorkout& workout)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QXmlStreamWriter writer(&buffer);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(2);
    workout.writeMeta(writer);
    workout.writeWorkout(writer);
    return QString::fromUtf8(buffer.data());
}

bool xmllintAccepts(const QString& path)
{
    return GHTestXml::lint(path).isEmpty();
}

// Written by the device's own firmware and older desktop versions: the flag as text, manual flags in several
// spellings, NULL where a column was added later.
const QByteArray kDeviceRows =
    "INSERT INTO Workout (id,wid,daily,repeatcnt,wtype,subtype,acttype,name,datetime,createtime,orgid,oneshot,desc,"
    "listOrder) VALUES "
    "(1,101,1,4,1,3,7,'Bravo',1700000000,'2024-01-02T03:04:05Z',99,'false','\\ENG Steady\\FRE Stable',2),"
    "(2,102,NULL,NULL,2,4,NULL,'Alpha',NULL,NULL,NULL,NULL,NULL,1),"
    "(3,103,0,0,1,0,0,'Charlie',0,NULL,103,'true',NULL,3),"
    "(4,104,0,0,5,0,0,'Delta',1600000000,NULL,104,'false',NULL,5),"
    "(5,105,0,0,5,0,0,'Echo',1500000000,NULL,105,'true',NULL,6),"
    "(6,106,0,0,5,0,0,'Aaa',1400000000,NULL,106,NULL,NULL,7);\n"
    "INSERT INTO WorkoutInterval (wid,iid,needlap,name,targettype,targetlow,targethigh,targetishard,durtype,durvalue,"
    "durismanual,dursegstart,dursegend,nextiid,repeatcnt,logreso) VALUES "
    "(1,1,1,'Warmup',1,100,150,1,3,600,'True',NULL,NULL,NULL,NULL,5),"
    "(1,2,0,'Work',NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,1,3,NULL),"
    "(1,3,0,'Steady',2,1,2,0,2,10,1,4,9,NULL,NULL,'abc'),"
    "(1,4,NULL,'Other',0,0,0,0,1,5,'false',NULL,NULL,NULL,NULL,NULL),"
    "(1,5,NULL,NULL,0,0,0,0,1,5,0,NULL,NULL,NULL,NULL,NULL),"
    "(3,1,0,'Work',0,0,0,0,1,30,0,NULL,NULL,NULL,NULL,NULL);\n";

} // namespace

class TestGHWorkout : public GHTestDeviceHomes
{
    Q_OBJECT

private:
    // The flash home as the device set-up leaves it on a new device.
    bool freshHome() { return setUpFreshFlash() && QFileInfo(routeDb()).isFile(); }

    // A route.dat that a device wrote, made by the sqlite3 tool; no route.sql touches it.
    bool deviceHome() { return setUpFlashWith(routeDb(), shippedScript() + kDeviceRows); }

private slots:
    void init()
    {
        GHTraceLog::setSystemVersion(kCurrentVersion);
        GHTraceLog::setModelName(QStringLiteral("Zelto50"));
        QVERIFY(startScratch());
    }

    void cleanup() { stopScratch(); }

    void modelValues()
    {
        GHWorkout fresh(7, QStringLiteral("x"));
        QCOMPARE(fresh.wid, 7u);
        QCOMPARE(fresh.orgid, 7u);
        QCOMPARE(fresh.rowId, 0u);
        QVERIFY(!fresh.time.isValid());
        QCOMPARE(fresh.getRunIntervalCount(), -1);
        QVERIFY(fresh.intervals.isEmpty());
        QVERIFY(!fresh.detailLoaded);

        std::unique_ptr<GHWorkout> original(fullWorkout(7));
        original->runIntervalCount = 3;
        std::unique_ptr<GHWorkout> copy(original->clone());
        QCOMPARE(copy->getRunIntervalCount(), -1);
        QCOMPARE(writtenXml(*copy), writtenXml(*original));
        QCOMPARE(copy->intervals.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(copy->intervals[i] != original->intervals[i]);
            QCOMPARE(copy->intervals[i]->intervalType, original->intervals[i]->intervalType);
            QCOMPARE(copy->intervals[i]->duration.withSegment(), original->intervals[i]->duration.withSegment());
        }
        original.reset();
        QCOMPARE(copy->intervals[2]->getName(), QStringLiteral("interval 3")); // lives on without its original

        GHLocale german(QStringLiteral("de"), QStringLiteral("DE"), QStringLiteral("ger"));
        QCOMPARE(copy->getName(nullptr), QStringLiteral("Hills"));
        QCOMPARE(copy->getName(&german), QStringLiteral("H\u00fcgel"));
        QCOMPARE(copy->getDesc(&german), QStringLiteral("Climbs & <sprints>"));
    }

    void isAutoStopped_data()
    {
        QTest::addColumn<int>("isManual");
        QTest::addColumn<int>("durationType");
        QTest::addColumn<bool>("autoStopped");
        QTest::newRow("manual with a duration") << 1 << 3 << false;
        QTest::newRow("manual without") << 1 << 0 << false;
        QTest::newRow("no duration") << 0 << 0 << false;
        QTest::newRow("duration") << 0 << 3 << true;
    }
    void isAutoStopped()
    {
        QFETCH(int, isManual);
        QFETCH(int, durationType);
        GHWorkoutInterval tested(1, QString());
        tested.isManual = isManual;
        tested.duration = GHIntervalDuration(durationType, 10);
        QTEST(tested.isAutoStopped(), "autoStopped");
    }

    void writesElements()
    {
        std::unique_ptr<GHWorkout> workout(fullWorkout(7));
        workout->daily = 2; // any non-zero value repeats in a file
        workout->intervals[1]->logreso = 1;
        QCOMPARE(writtenXml(*workout),
                 QStringLiteral("\n<metadata>\n"
                                "  <time></time>\n"
                                "  <sys>Zelto50</sys>\n"
                                "</metadata>\n"
                                "<wrk id=\"7\" orgid=\"7\" daily=\"true\" repeat=\"5\" type=\"1\" subtype=\"3\" "
                                "listOrder=\"4\">\n"
                                "  <acttype>2</acttype>\n"
                                "  <name>\\ENG Hills\\GER H\u00fcgel</name>\n"
                                "  <desc>Climbs &amp; &lt;sprints&gt;</desc>\n"
                                "  <time>2024-01-02T03:04:05Z</time>\n"
                                "  <itv id=\"1\" needLap=\"true\">\n"
                                "    <name>interval 1</name>\n"
                                "    <target type=\"1\" low=\"101\" high=\"151\" ishardcon=\"true\"/>\n"
                                "    <duration type=\"3\" value=\"60\" ismanual=\"true\">\n"
                                "      <segidx start=\"3\" end=\"9\"/>\n"
                                "    </duration>\n"
                                "    <logreso>5</logreso>\n"
                                "  </itv>\n"
                                "  <itv id=\"2\" needLap=\"false\">\n"
                                "    <name>interval 2</name>\n"
                                "    <target type=\"1\" low=\"102\" high=\"152\" ishardcon=\"false\"/>\n"
                                "    <duration type=\"3\" value=\"120\" ismanual=\"false\"/>\n"
                                "    <goto repeat=\"2\">0</goto>\n"
                                "    <logreso>1</logreso>\n"
                                "  </itv>\n"
                                "  <itv id=\"3\" needLap=\"false\">\n"
                                "    <name>interval 3</name>\n"
                                "    <target type=\"1\" low=\"103\" high=\"153\" ishardcon=\"true\"/>\n"
                                "    <duration type=\"0\" value=\"180\" ismanual=\"false\"/>\n"
                                "  </itv>\n"
                                "</wrk>"));

        GHWorkout bare(8, QString());
        bare.intervals << new GHWorkoutInterval(1, QString());
        QCOMPARE(writtenXml(bare), QStringLiteral("\n<metadata>\n  <time></time>\n  <sys>Zelto50</sys>\n</metadata>\n"
                                                  "<wrk id=\"8\" orgid=\"8\" daily=\"false\" repeat=\"0\" type=\"0\" "
                                                  "subtype=\"0\" listOrder=\"0\">\n"
                                                  "  <acttype>0</acttype>\n"
                                                  "  <itv id=\"1\" needLap=\"false\">\n"
                                                  "    <target type=\"0\" low=\"0\" high=\"0\" ishardcon=\"false\"/>\n"
                                                  "    <duration type=\"0\" value=\"0\" ismanual=\"false\"/>\n"
                                                  "  </itv>\n"
                                                  "</wrk>"));
    }

    void createStoresColumns_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("daily");
        QTest::addColumn<bool>("withTime");
        QTest::addColumn<bool>("oneshot");
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("storedName");
        QTest::newRow("daily") << "Ride" << 1 << true << false << "Ride|1|5|1704164645|text|false"
                               << "Ride";
        QTest::newRow("daily 2 is not") << "Ride" << 2 << true << true << "Ride|0|0|1704164645|text|true"
                                        << "Ride";
        QTest::newRow("no time") << "Ride" << 0 << false << false << "Ride|0|0|NULL|text|false"
                                 << "Ride";
        QTest::newRow("blank name") << " \t" << 0 << true << false << "NoName|0|0|1704164645|text|false"
                                    << "NoName";
        QTest::newRow("blank in English")
            << "\\ENG  \\GER Fahrt" << 0 << true << false << "NoName|0|0|1704164645|text|false"
            << "NoName";
    }
    void createStoresColumns()
    {
        QFETCH(QString, name);
        QFETCH(int, daily);
        QFETCH(bool, withTime);
        QFETCH(bool, oneshot);
        QVERIFY(freshHome());
        GHWorkout workout(42, name);
        workout.daily = daily;
        workout.repeat = 5;
        workout.oneshot = oneshot;
        if (withTime)
            workout.time = QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC);
        GHTestSqlite::WarningCapture warnings;
        GHWorkoutProvider provider;
        QVERIFY(provider.create(&workout));
        QTEST(workout.name, "storedName");
        QCOMPARE(workout.rowId, 0u);
        QTEST(query(routeDb(), "select name,daily,repeatcnt,ifnull(datetime,'NULL'),typeof(oneshot),oneshot from "
                               "Workout where wid=42;"),
              "row");
        QCOMPARE(warnings.warnings(), QStringList());
        // Listed where the device lists it.
        Owned listed;
        provider.listAll(listed.workouts, false);
        QCOMPARE(widsOf(listed.workouts), oneshot ? QList<quint32>() : QList<quint32>{42});
        QCOMPARE(listed.workouts.value(0) ? listed.workouts[0]->time.isValid() : withTime, withTime);
    }

    void createLoadUpdate()
    {
        QVERIFY(freshHome());
        GHWorkoutProvider provider;
        std::unique_ptr<GHWorkout> written(fullWorkout(500));
        GHTestSqlite::WarningCapture warnings;
        QVERIFY(provider.create(written.get()));
        const QString rowId = query(routeDb(), "select id from Workout where wid=500;");
        QCOMPARE(provider.getPrimaryKey(500), rowId.toUInt());
        QCOMPARE(provider.getPrimaryKey(501), 4294967295u);
        // Names by interval type; manual unless the interval stops by itself; a segment only where there is one.
        QCOMPARE(query(routeDb(), "select group_concat(wid || ' ' || iid || ' ' || needlap || ' ' || name || ' ' || "
                                  "targetlow || ' ' || durtype || ' ' || durismanual || ' ' || ifnull(dursegstart, "
                                  "'-') || ' ' || nextiid || ' ' || repeatcnt || ' ' || logreso, ',') from "
                                  "(select * from WorkoutInterval order by iid);"),
                 QStringLiteral("%1 1 1 Warmup 101 3 1 3 -1 0 5,%1 2 0 Unknown 102 3 0 - 0 2 0,"
                                "%1 3 0 Unknown 103 0 1 - -1 0 0")
                     .arg(rowId));

        std::unique_ptr<GHWorkout> loaded(provider.findById(500));
        QVERIFY(loaded);
        QCOMPARE(loaded->rowId, rowId.toUInt());
        QCOMPARE(loaded->name, QStringLiteral("Hills"));
        QCOMPARE(loaded->time, written->time);
        QVERIFY(loaded->intervals.isEmpty());
        QVERIFY(provider.loadDetail(loaded.get()));
        QCOMPARE(loaded->orgid, 500u);
        QCOMPARE(qint32(loaded->type), 1);
        QCOMPARE(loaded->subtype, 3);
        QCOMPARE(loaded->daily, 1);
        QCOMPARE(loaded->repeat, 5);
        QCOMPARE(loaded->acttype, 2);
        QCOMPARE(loaded->listOrder, 4);
        QCOMPARE(loaded->desc, written->desc);
        QVERIFY(!loaded->oneshot);
        QCOMPARE(loaded->intervals.size(), 3);
        const GHWorkoutInterval* warmup = loaded->intervals[0];
        QCOMPARE(warmup->isManual, 1);
        QVERIFY(warmup->needLap);
        QVERIFY(warmup->duration.withSegment());
        QCOMPARE(warmup->duration.segEnd, 9);
        QCOMPARE(loaded->intervals[1]->nextIid, 0);
        QCOMPARE(loaded->intervals[1]->repeat, 2);
        QCOMPARE(loaded->intervals[1]->name, QStringLiteral("Unknown"));
        // Loaded once only.
        QVERIFY(provider.loadDetail(loaded.get()));
        QCOMPARE(loaded->intervals.size(), 3);

        loaded->name = QStringLiteral("Renamed");
        loaded->intervals[1]->target.high = 999;
        QVERIFY(provider.update(loaded.get()));
        QCOMPARE(warnings.warnings(), QStringList());
        QCOMPARE(query(routeDb(), "select name from Workout where wid=500;"), QStringLiteral("Renamed"));
        // The manual interval stays manual; a loaded interval is stored again under its default type.
        QCOMPARE(query(routeDb(), "select group_concat(iid || ' ' || name || ' ' || durismanual || ' ' || targethigh, "
                                  "',') from (select * from WorkoutInterval order by iid);"),
                 QStringLiteral("1 Work 1 151,2 Work 0 999,3 Work 1 153"));
        std::unique_ptr<GHWorkout> reloaded(provider._createWorkout(500));
        QVERIFY(reloaded);
        QCOMPARE(reloaded->intervals.value(0) ? reloaded->intervals[0]->isManual : -1, 1);

        provider.remove(reloaded.get());
        QCOMPARE(query(routeDb(), "select count(*) from Workout;") + query(routeDb(), "select count(*) from "
                                                                                      "WorkoutInterval;"),
                 QStringLiteral("00"));
        GHWorkout gone(500, QString());
        gone.rowId = rowId.toUInt();
        QVERIFY(!provider.loadDetail(&gone));
        QVERIFY(!gone.detailLoaded);
        QVERIFY(!provider._createWorkout(500));
    }

    // A failing statement (here a trigger's abort) leaves the database as it was.
    void failedStatementsChangeNothing()
    {
        QVERIFY(freshHome());
        GHWorkoutProvider provider;
        std::unique_ptr<GHWorkout> workout(fullWorkout(600));
        QVERIFY(provider.create(workout.get()));
        const QByteArray before = GHTestSqlite::query(routeDb(), "select * from Workout; select * from "
                                                                 "WorkoutInterval;")
                                      .toUtf8();
        QVERIFY(GHTestSqlite::run(routeDb(), "CREATE TRIGGER refuse_insert BEFORE INSERT ON WorkoutInterval WHEN "
                                             "NEW.iid = 3 BEGIN SELECT RAISE(ABORT, 'refused'); END;"
                                             "CREATE TRIGGER refuse_update BEFORE UPDATE ON WorkoutInterval WHEN "
                                             "NEW.iid = 2 BEGIN SELECT RAISE(ABORT, 'refused'); END;"));
        GHTestSqlite::WarningCapture warnings;
        std::unique_ptr<GHWorkout> second(fullWorkout(601));
        QVERIFY(!provider.create(second.get()));
        workout->rowId = provider.getPrimaryKey(600);
        workout->name = QStringLiteral("Changed");
        workout->intervals[0]->target.low = 7;
        QVERIFY(!provider.update(workout.get()));
        QVERIFY(!warnings.warnings().isEmpty());
        QCOMPARE(GHTestSqlite::query(routeDb(), "select * from Workout; select * from WorkoutInterval;").toUtf8(),
                 before);

        // The connection is usable afterwards, also inside a transaction of the caller's.
        QVERIFY(GHTestSqlite::run(routeDb(), "DROP TRIGGER refuse_insert; DROP TRIGGER refuse_update;"));
        QSqlDatabase db = QSqlDatabase::database(QStringLiteral("ghddb"), false);
        QVERIFY(db.transaction());
        QVERIFY(provider.create(second.get()));
        QVERIFY(provider.update(workout.get()));
        QVERIFY(db.commit());
        QCOMPARE(query(routeDb(), "select group_concat(wid || ' ' || name) from Workout;"),
                 QStringLiteral("600 Changed,601 Hills"));
    }

    // A commit that another program's read holds up fails, and the transaction it began ends with the call: kept
    // open, it would take in every later write, report it stored, and lose it when the connection closes.
    void failedCommitLeavesNoTransaction()
    {
        QVERIFY(freshHome());
        GHWorkoutProvider provider;
        std::unique_ptr<GHWorkout> first(fullWorkout(501));
        std::unique_ptr<GHWorkout> blocked(fullWorkout(502));
        std::unique_ptr<GHWorkout> later(fullWorkout(503));
        QVERIFY(provider.create(first.get()));
        first->rowId = provider.getPrimaryKey(501);
        QVERIFY(GHTestSqlite::setBusyWait(QStringLiteral("ghddb"), 20));
        {
            GHTestSqlite::ReadLock reader(routeDb());
            QVERIFY(reader.isHolding());
            GHTestSqlite::WarningCapture warnings;
            QVERIFY(!provider.create(blocked.get()));
            first->name = QStringLiteral("Blocked");
            QVERIFY(!provider.update(first.get()));
            QVERIFY(!provider.create(later.get()));
            QVERIFY(!warnings.warnings().isEmpty());
        }
        QVERIFY(provider.create(later.get()));
        first->name = QStringLiteral("Renamed");
        QVERIFY(provider.update(first.get()));
        GHDeviceDB::closeStorageMapDb();
        QCOMPARE(query(routeDb(), "select group_concat(wid || ' ' || name) from (select * from Workout order by wid);"),
                 QStringLiteral("501 Renamed,503 Hills"));
        QCOMPARE(query(routeDb(), "select group_concat(pair) from (select w.wid || ':' || i.iid as pair from "
                                  "WorkoutInterval i join Workout w on w.id = i.wid order by w.wid, i.iid);"),
                 QStringLiteral("501:1,501:2,501:3,503:1,503:2,503:3"));
    }

    void deviceDatabaseListings()
    {
        QVERIFY(deviceHome());
        GHWorkoutProvider provider;
        Owned plain;
        provider.listAll(plain.workouts, false);
        QCOMPARE(widsOf(plain.workouts), (QList<quint32>{101, 102}));
        provider.listAll(plain.workouts, false);
        QCOMPARE(widsOf(plain.workouts), (QList<quint32>{101, 102, 101, 102}));
        Owned oneShot;
        provider.listAll(oneShot.workouts, true);
        QCOMPARE(widsOf(oneShot.workouts), (QList<quint32>{106, 105}));
        QVERIFY(!oneShot.workouts[0]->oneshot); // NULL
        QVERIFY(oneShot.workouts[1]->oneshot);

        std::unique_ptr<GHWorkout> bravo(provider.findById(101));
        QVERIFY(bravo);
        QCOMPARE(bravo->rowId, 1u);
        QCOMPARE(bravo->name, QStringLiteral("Bravo"));
        QCOMPARE(bravo->time, QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC));
        QCOMPARE(bravo->time.timeSpec(), Qt::UTC);
        QVERIFY(!bravo->oneshot);
        for (unsigned int wid : {102u, 103u}) { // datetime NULL and 0
            std::unique_ptr<GHWorkout> listed(provider.findById(wid));
            QVERIFY(listed);
            QVERIFY(!listed->time.isValid());
            QCOMPARE(listed->oneshot, wid == 103);
        }
        QVERIFY(!provider.findById(999));
        QCOMPARE(provider.getPrimaryKey(105), 5u);
    }

    void findByType_data()
    {
        QTest::addColumn<QVector<int>>("types");
        QTest::addColumn<QVector<int>>("subtypes");
        QTest::addColumn<int>("sort");
        QTest::addColumn<QList<quint32>>("wids");
        QTest::addColumn<bool>("ordered");
        QTest::newRow("sub-type, then type alone")
            << QVector<int>{1, 2} << QVector<int>{3, -1} << int(GHWorkoutProvider::SORT_BY_NAME)
            << QList<quint32>{102, 101} << true;
        QTest::newRow("type alone, then sub-type")
            << QVector<int>{1, 2} << QVector<int>{-1, 4} << int(GHWorkoutProvider::SORT_BY_LIST_ORDER)
            << QList<quint32>{102, 101, 103} << true;
        QTest::newRow("fewer sub-types") << QVector<int>{2, 1} << QVector<int>{5}
                                         << int(GHWorkoutProvider::SORT_BY_NAME) << QList<quint32>{101, 103} << true;
        QTest::newRow("no types: all") << QVector<int>() << QVector<int>() << int(GHWorkoutProvider::SORT_BY_TIME)
                                       << QList<quint32>{101, 104, 105, 106, 103, 102} << true;
        QTest::newRow("no order") << QVector<int>{5} << QVector<int>() << 3 << QList<quint32>{104, 105, 106} << false;
    }
    void findByType()
    {
        QFETCH(QVector<int>, types);
        QFETCH(QVector<int>, subtypes);
        QFETCH(int, sort);
        QFETCH(QList<quint32>, wids);
        QFETCH(bool, ordered);
        QVERIFY(deviceHome());
        QVector<GHWorkout::WorkoutType> workoutTypes;
        for (int type : types)
            workoutTypes << GHWorkout::WorkoutType(type);
        Owned found;
        GHWorkoutProvider().findByType(found.workouts, workoutTypes, subtypes, GHWorkoutProvider::SortType(sort));
        QList<quint32> foundWids = widsOf(found.workouts);
        if (!ordered)
            std::sort(foundWids.begin(), foundWids.end());
        QCOMPARE(foundWids, wids);
        for (const GHWorkout* workout : qAsConst(found.workouts)) {
            const QString row = query(routeDb(), QStringLiteral("select wtype || ' ' || subtype from Workout where "
                                                                "wid=%1;")
                                                     .arg(workout->wid)
                                                     .toUtf8());
            QCOMPARE(QStringLiteral("%1 %2").arg(qint32(workout->type)).arg(workout->subtype), row);
        }
    }

    void deviceDatabaseDetail()
    {
        QVERIFY(deviceHome());
        GHWorkoutProvider provider;
        std::unique_ptr<GHWorkout> workout(provider._createWorkout(101));
        QVERIFY(workout);
        QCOMPARE(workout->orgid, 99u);
        QCOMPARE(workout->daily, 1);
        QCOMPARE(workout->repeat, 4);
        QCOMPARE(workout->acttype, 7);
        QCOMPARE(workout->getCreateTime(), QStringLiteral("2024-01-02T03:04:05Z"));
        QCOMPARE(workout->getDesc(nullptr), QStringLiteral("Steady"));
        QCOMPARE(workout->intervals.size(), 5);
        const auto& intervals = workout->intervals;
        // "True" and any non-zero number are manual; "false" and 0 are not.
        QCOMPARE(intervals[0]->isManual, 1);
        QCOMPARE(intervals[2]->isManual, 1);
        QCOMPARE(intervals[3]->isManual, 0);
        QCOMPARE(intervals[4]->isManual, 0);
        QVERIFY(intervals[0]->needLap);
        QCOMPARE(intervals[0]->target.high, 150);
        QCOMPARE(intervals[0]->duration.value, 600);
        QVERIFY(!intervals[0]->duration.withSegment());
        QCOMPARE(intervals[0]->nextIid, -1);
        QCOMPARE(intervals[0]->logreso, 5);
        // NULL columns keep the defaults.
        QCOMPARE(intervals[1]->target.type, 0);
        QCOMPARE(intervals[1]->target.high, 0);
        QCOMPARE(intervals[1]->duration.type, 0);
        QCOMPARE(intervals[1]->isManual, 0);
        QCOMPARE(intervals[1]->nextIid, 1);
        QCOMPARE(intervals[1]->repeat, 3);
        QCOMPARE(intervals[1]->logreso, 0);
        QVERIFY(intervals[2]->duration.withSegment());
        QCOMPARE(intervals[2]->duration.segStart, 4);
        QCOMPARE(intervals[2]->logreso, 0); // "abc"
        QVERIFY(!intervals[3]->needLap);
        QCOMPARE(intervals[4]->name, QString());

        // Written back, the manual flags become numbers that read the same.
        QVERIFY(provider.update(workout.get()));
        QCOMPARE(query(routeDb(), "select group_concat(durismanual) from (select durismanual from WorkoutInterval "
                                  "where wid=1 order by iid);"),
                 QStringLiteral("1,0,1,0,0"));
        QCOMPARE(query(routeDb(), "select oneshot from Workout where wid=101;"), QStringLiteral("false"));
    }

    void exportOneShot()
    {
        QVERIFY(deviceHome());
        GHWorkoutProvider provider;
        GHTestSqlite::WarningCapture warnings;
        QString missing = m_scratch->path() + QLatin1String("/no/such/folder/103.wrk");
        QVERIFY(!provider.exportWorkout(103, missing));
        QVERIFY(!warnings.warnings().isEmpty());
        QCOMPARE(query(routeDb(), "select count(*) from Workout where wid=103;") +
                     query(routeDb(), "select count(*) from WorkoutInterval where wid=3;"),
                 QStringLiteral("11"));

        QString path = m_scratch->path() + QLatin1String("/103.wrk");
        QVERIFY(provider.exportWorkout(103, path));
        QVERIFY(xmllintAccepts(path));
        QCOMPARE(query(routeDb(), "select count(*) from Workout where wid=103;") +
                     query(routeDb(), "select count(*) from WorkoutInterval where wid=3;"),
                 QStringLiteral("00"));

        // Not one-shot: written and kept.
        path = m_scratch->path() + QLatin1String("/101.wrk");
        QVERIFY(provider.exportWorkout(101, path));
        QVERIFY(xmllintAccepts(path));
        QVERIFY(GHTestSqlite::readAll(path).contains("version=\"1.3.0.9\""));
        QCOMPARE(query(routeDb(), "select count(*) from Workout where wid=101;"), QStringLiteral("1"));
        QVERIFY(!provider.exportWorkout(999, path));
    }

    void nextNewId()
    {
        QVERIFY(freshHome());
        GHWorkoutProvider provider;
        {
            // Two hours east of UTC: the id is the local wall-clock time counted as UTC.
            JXTimeZoneGuard zone("XST-2");
            const qint64 before = QDateTime::currentSecsSinceEpoch() + 7200;
            const qint64 id = provider.getNextNewId();
            const qint64 after = QDateTime::currentSecsSinceEpoch() + 7200;
            QVERIFY2(before <= id && id <= after,
                     qPrintable(QStringLiteral("%1 %2 %3").arg(before).arg(id).arg(after)));
        }
        // Ids taken from the clock on, as a burst of creates within one second (or the repeated hour) leaves them.
        const unsigned int first = provider.getNextNewId();
        const int taken = 50;
        for (int i = 0; i < taken; ++i) {
            GHWorkout workout(first + unsigned(i), QStringLiteral("burst"));
            QVERIFY(provider.create(&workout));
        }
        const unsigned int next = provider.getNextNewId();
        // The clock may have moved on meanwhile, never by 50 seconds.
        QCOMPARE(next, first + unsigned(taken));
    }

    void exportReadsBack()
    {
        QVERIFY(freshHome());
        GHTraceLog::setModelName(QStringLiteral("Zelto60"));
        GHWorkoutProvider provider;
        std::unique_ptr<GHWorkout> workout(fullWorkout(700));
        workout->desc = QStringLiteral("\\ENG Bell\x07 rings\\GER Klingel");
        QVERIFY(provider.create(workout.get()));
        QVERIFY(GHTestSqlite::run(routeDb(), "UPDATE Workout SET createtime='2024-05-06T07:08:09Z' WHERE wid=700;"));
        std::unique_ptr<GHWorkout> stored(provider._createWorkout(700));
        QVERIFY(stored);

        const QString path = m_scratch->path() + QLatin1String("/700.wrk");
        GHTrnWriter writer(QStringLiteral("1.3.0.9"), stored.get());
        QVERIFY(writer.writeFile(path));
        QVERIFY(xmllintAccepts(path));

        GHTrncrs course;
        QVERIFY(GHTrnReader(&course).readFile(path));
        QVERIFY(course.metadata);
        QCOMPARE(course.metadata->time, QStringLiteral("2024-05-06T07:08:09Z"));
        QCOMPARE(course.metadata->sys, QStringLiteral("Zelto60"));
        QCOMPARE(course.workouts.size(), 1);
        const GHTrnWorkout* read = course.workouts[0];
        QCOMPARE(read->id, QStringLiteral("700"));
        QCOMPARE(read->orgid, QStringLiteral("700"));
        QCOMPARE(read->daily, QStringLiteral("true"));
        QCOMPARE(read->repeat, QStringLiteral("5"));
        QCOMPARE(read->type, QStringLiteral("1"));
        QCOMPARE(read->subtype, QStringLiteral("3"));
        QCOMPARE(read->listOrder, QStringLiteral("4"));
        QCOMPARE(read->acttype, QStringLiteral("2"));
        QCOMPARE(read->name, QStringLiteral("Hills"));      // stored in English only
        QCOMPARE(read->desc, QStringLiteral("Bell rings")); // the bell cannot be held by XML
        QCOMPARE(read->time, QStringLiteral("2024-01-02T03:04:05Z"));
        QCOMPARE(read->intervals.size(), stored->intervals.size());
        for (int i = 0; i < read->intervals.size(); ++i) {
            const GHTrnInterval* got = read->intervals[i];
            const GHWorkoutInterval* want = stored->intervals[i];
            QCOMPARE(got->id, QString::number(want->id));
            QCOMPARE(got->needLap, QLatin1String(want->needLap ? "true" : "false"));
            QCOMPARE(got->name, want->name);
            QVERIFY(got->target && got->duration);
            QCOMPARE(got->target->type, QString::number(want->target.type));
            QCOMPARE(got->target->low, QString::number(want->target.low));
            QCOMPARE(got->target->high, QString::number(want->target.high));
            QCOMPARE(got->target->ishardcon, QLatin1String(want->target.isHard ? "true" : "false"));
            QCOMPARE(got->duration->type, QString::number(want->duration.type));
            QCOMPARE(got->duration->value, QString::number(want->duration.value));
            QCOMPARE(got->duration->ismanual, QLatin1String(want->isManual ? "true" : "false"));
            QCOMPARE(got->duration->segidxStart,
                     want->duration.withSegment() ? QString::number(want->duration.segStart) : QString());
            QCOMPARE(got->duration->segidxEnd,
                     want->duration.withSegment() ? QString::number(want->duration.segEnd) : QString());
            QCOMPARE(got->goTo, want->nextIid == -1 ? QString() : QString::number(want->nextIid));
            if (want->nextIid != -1)
                QCOMPARE(got->goToRepeat, QString::number(want->repeat));
            QCOMPARE(got->logreso, want->logreso > 0 ? QString::number(want->logreso) : QString());
        }
    }
};

QTEST_GUILESS_MAIN(TestGHWorkout)
#include "tst_ghworkout.moc"
