#include <QtTest>

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

#include <sqlite3.h>

#include "ghtestsqlite.h"
#include "search/ghdevicedb.h"
#include "sql/ghsqlcrud.h"
#include "sql/ghworkoutmodel.h"
#include "sql/routedbm.h"
#include "sql/tracelogdbm.h"
#include "util/ghtracelog.h"

namespace {

const QByteArray kWorkoutFixture = "CREATE TABLE Workout (id INTEGER PRIMARY KEY, wid INTEGER NOT NULL, name TEXT, "
                                   "listOrder INTEGER, oneshot INTEGER);\n"
                                   "INSERT INTO Workout VALUES (1, 7, 'hills', 2, 0), (2, 7, 'tempo', 1, 0), "
                                   "(3, 8, 'easy', 3, 0);\n";
const QByteArray kRouteFixture = "CREATE TABLE Route (idRoute INTEGER PRIMARY KEY, Title TEXT);\n";

sqlite3* handleOf(const QSqlDatabase& db)
{
    const QVariant handle = db.driver()->handle();
    return qstrcmp(handle.typeName(), "sqlite3*") == 0 ? *static_cast<sqlite3* const*>(handle.constData()) : nullptr;
}

// Every statement that SQLite runs on one connection, as written and with its bound values filled in.
class StatementTrace
{
public:
    explicit StatementTrace(const QSqlDatabase& db) : m_handle(handleOf(db))
    {
        if (m_handle)
            sqlite3_trace_v2(m_handle, SQLITE_TRACE_STMT, &StatementTrace::onStatement, this);
    }
    ~StatementTrace()
    {
        if (m_handle)
            sqlite3_trace_v2(m_handle, 0, nullptr, nullptr);
    }
    bool isAttached() const { return m_handle != nullptr; }

    QStringList texts;
    QStringList expanded;

private:
    static int onStatement(unsigned, void* context, void* statement, void* text)
    {
        StatementTrace* self = static_cast<StatementTrace*>(context);
        // Qt renames positional placeholders (":a", ":bb" ...) before SQLite sees them.
        static const QRegularExpression renamedPlaceholder(QStringLiteral(":[a-z]+\\b"));
        self->texts
            << QString::fromUtf8(static_cast<const char*>(text)).replace(renamedPlaceholder, QStringLiteral("?"));
        char* filled = sqlite3_expanded_sql(static_cast<sqlite3_stmt*>(statement));
        self->expanded << QString::fromUtf8(filled);
        sqlite3_free(filled);
        return 0;
    }
    sqlite3* m_handle;
};

// The workouts whose wid is the first value, with wid and name, in list order.
void selectByWid(GHWorkoutModel& model, QStringList& columns, QVector<QVariant>& values)
{
    model.setColumns(&columns);
    model.setValues(&values);
    model.setFilter(QStringLiteral("wid=?"));
    model.setOrderby(QStringLiteral("order by listOrder"));
}

QStringList workoutNames(QSqlQuery& query)
{
    QStringList names;
    while (query.next())
        names << query.value(1).toString();
    return names;
}

} // namespace

class TestGHSql : public QObject
{
    Q_OBJECT

private:
    QString flashHome(const QString& name) const { return m_scratch->path() + QLatin1Char('/') + name; }
    QString routeDb(const QString& home) const { return home + QLatin1String("/data/route/route.dat"); }

    std::unique_ptr<QTemporaryDir> m_scratch;
    QString m_flash;

private slots:
    void initTestCase()
    {
        // The current data layout: set-up leaves route.dat to the device's script, which these homes lack.
        GHTraceLog::setSystemVersion(QStringLiteral("GH2.0.1.3"));
    }

    void init()
    {
        m_scratch.reset(new QTemporaryDir);
        QVERIFY(m_scratch->isValid());
        m_flash = flashHome(QStringLiteral("flash"));
        QVERIFY(GHTestSqlite::build(routeDb(m_flash), kWorkoutFixture));
        GHDeviceDB::setHomeDir(m_flash, QString(), QString());
    }

    void cleanup()
    {
        GHDeviceDB::closeStorageMapDb();
        m_scratch.reset();
    }

    void insertRunsTheComposedStatement()
    {
        GHWorkoutModel model;
        QStringList columns{"wid", "name"};
        QVector<QVariant> values{9, QStringLiteral("sprints")};
        model.setColumns(&columns);
        model.setValues(&values);
        QVERIFY(!model.m_lastInsertId.isValid());

        StatementTrace trace(GHSqlCRUD::opendb(routeDb(m_flash), QStringLiteral("ghddb")));
        QVERIFY(trace.isAttached());
        QVERIFY(GHSqlCRUD::insert(&model));
        QCOMPARE(trace.texts, QStringList{"insert into Workout (wid,name) values (?,?)"});
        QCOMPARE(trace.expanded, QStringList{"insert into Workout (wid,name) values (9,'sprints')"});
        QCOMPARE(model.m_lastInsertId.toLongLong(), 4LL);

        // One value too many: nothing reaches the database.
        values << 1;
        trace.texts.clear();
        QVERIFY(!GHSqlCRUD::insert(&model));
        QVERIFY(trace.texts.isEmpty());
        QCOMPARE(GHTestSqlite::query(routeDb(m_flash), "select count(*) from Workout;"), QStringLiteral("4"));
    }

    void selectComposesFilterAndOrder()
    {
        GHWorkoutModel model;
        QStringList columns{"wid", "name"};
        QVector<QVariant> values{7};
        selectByWid(model, columns, values);
        QSqlQuery query = GHSqlCRUD::select(&model);
        QCOMPARE(query.lastQuery(), QStringLiteral("select wid,name from Workout where wid=? order by listOrder"));
        QCOMPARE(workoutNames(query), (QStringList{"tempo", "hills"}));

        // Neither filter nor order: the bare select.
        GHWorkoutModel all;
        all.setColumns(&columns);
        QSqlQuery everything = GHSqlCRUD::select(&all);
        QCOMPARE(everything.lastQuery(), QStringLiteral("select wid,name from Workout"));
        QCOMPARE(workoutNames(everything).size(), 3);
    }

    void updateAndRemoveBindColumnsBeforeFilter()
    {
        GHWorkoutModel model;
        QStringList columns{"name"};
        QVector<QVariant> values{QStringLiteral("intervals"), 2};
        model.setColumns(&columns);
        model.setValues(&values);
        model.setFilter(QStringLiteral("id=?"));

        StatementTrace trace(GHSqlCRUD::opendb(routeDb(m_flash), QStringLiteral("ghddb")));
        QVERIFY(GHSqlCRUD::update(&model));
        QCOMPARE(trace.texts, QStringList{"update Workout set name=? where id=?"});
        QCOMPARE(trace.expanded, QStringList{"update Workout set name='intervals' where id=2"});

        GHWorkoutModel removal;
        QVector<QVariant> key{1};
        removal.setValues(&key);
        removal.setFilter(QStringLiteral("id=?"));
        QVERIFY(GHSqlCRUD::remove(&removal));
        QCOMPARE(trace.texts.value(1), QStringLiteral("delete from Workout where id=?"));
        QCOMPARE(GHTestSqlite::query(routeDb(m_flash), "select id, name from Workout order by id;"),
                 QStringLiteral("2|intervals\n3|easy"));

        // Without a filter both statements are malformed and change nothing.
        GHWorkoutModel unfiltered;
        unfiltered.setColumns(&columns);
        unfiltered.setValues(&values);
        QVERIFY(!GHSqlCRUD::update(&unfiltered));
        QVERIFY(!GHSqlCRUD::remove(&unfiltered));
        QCOMPARE(GHTestSqlite::query(routeDb(m_flash), "select count(*) from Workout;"), QStringLiteral("2"));
    }

    void boolBindsAsInteger()
    {
        GHWorkoutModel model;
        QStringList columns{"wid", "oneshot"};
        QVector<QVariant> values{20, true};
        model.setColumns(&columns);
        model.setValues(&values);
        QVERIFY(GHSqlCRUD::insert(&model));
        values = {21, false};
        QVERIFY(GHSqlCRUD::insert(&model));
        QCOMPARE(GHTestSqlite::query(routeDb(m_flash),
                                     "select typeof(oneshot), oneshot from Workout where wid>=20 order by wid;"),
                 QStringLiteral("integer|1\ninteger|0"));
    }

    void databaseThatCannotOpen()
    {
        RouteDbm model(m_scratch->path() + QLatin1String("/missing/folder/route.dat"));
        QStringList columns{"idRoute"};
        QVector<QVariant> values{1};
        model.setColumns(&columns);
        model.setValues(&values);
        model.setFilter(QStringLiteral("idRoute=?"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^cannot open the database .*/missing/folder/route.dat"));
        QSqlQuery query = GHSqlCRUD::select(&model);
        QVERIFY(!query.isActive());
        QVERIFY(query.lastQuery().isEmpty());
        QVERIFY(!GHSqlCRUD::insert(&model));
        QVERIFY(!GHSqlCRUD::update(&model));
        QVERIFY(!GHSqlCRUD::remove(&model));
        QVERIFY(!QFileInfo::exists(m_scratch->path() + QLatin1String("/missing")));
    }

    void connectionFollowsTheModelsFile()
    {
        const QString first = m_scratch->path() + QLatin1String("/first.dat");
        const QString second = m_scratch->path() + QLatin1String("/second.dat");
        QVERIFY(GHTestSqlite::build(first, kRouteFixture));
        QVERIFY(GHTestSqlite::build(second, kRouteFixture));
        QStringList columns{"idRoute"};
        RouteDbm onFirst(first);
        RouteDbm alsoOnFirst(first);
        RouteDbm onSecond(second);
        onFirst.setColumns(&columns);
        alsoOnFirst.setColumns(&columns);
        onSecond.setColumns(&columns);

        QVERIFY(GHSqlCRUD::select(&onFirst).isActive());
        // A temporary table lives exactly as long as the open connection.
        QVERIFY(QSqlQuery(QSqlDatabase::database("ghddb")).exec("create temp table marker (x)"));
        QVERIFY(GHSqlCRUD::select(&alsoOnFirst).isActive());
        QVERIFY(QSqlQuery(QSqlDatabase::database("ghddb")).exec("select * from marker"));

        QVERIFY(GHSqlCRUD::select(&onSecond).isActive());
        QCOMPARE(QSqlDatabase::database("ghddb").databaseName(), second);
        QCOMPARE(GHTestSqlite::openDescriptors(first), 0);
        QCOMPARE(GHTestSqlite::openDescriptors(second), 1);
        QVERIFY(GHSqlCRUD::select(&onFirst).isActive());
        QVERIFY(!QSqlQuery(QSqlDatabase::database("ghddb")).exec("select * from marker"));
    }

    // Inserts, updates and deletes keep their prepared statements; none may run on the wrong file or with values
    // of an earlier call.
    void preparedStatementsStayFaithful()
    {
        const QString first = m_scratch->path() + QLatin1String("/first.dat");
        const QString second = m_scratch->path() + QLatin1String("/second.dat");
        QVERIFY(GHTestSqlite::build(first, kRouteFixture));
        QVERIFY(GHTestSqlite::build(second, kRouteFixture));
        QStringList columns{"Title"};
        QVector<QVariant> values{QStringLiteral("a")};
        RouteDbm onFirst(first);
        RouteDbm onSecond(second);
        for (RouteDbm* model : {&onFirst, &onSecond}) {
            model->setColumns(&columns);
            model->setValues(&values);
        }
        QVERIFY(GHSqlCRUD::insert(&onFirst));
        QVERIFY(GHSqlCRUD::insert(&onSecond));
        QVERIFY(GHSqlCRUD::insert(&onFirst));
        // Closed and opened again behind the statement layer's back.
        QSqlDatabase db = QSqlDatabase::database(QStringLiteral("ghddb"));
        db.close();
        QVERIFY(db.open());
        QVERIFY(GHSqlCRUD::insert(&onFirst));
        QCOMPARE(GHTestSqlite::query(first, "select count(*) from Route;"), QStringLiteral("3"));
        QCOMPARE(GHTestSqlite::query(second, "select count(*) from Route;"), QStringLiteral("1"));

        // One value short: the id of the previous run must not stand in for it.
        onFirst.setFilter(QStringLiteral("idRoute=?"));
        values = {QStringLiteral("renamed"), 2};
        QVERIFY(GHSqlCRUD::update(&onFirst));
        values = {QStringLiteral("again")};
        QVERIFY(!GHSqlCRUD::update(&onFirst));
        QCOMPARE(GHTestSqlite::query(first, "select group_concat(Title) from Route;"), QStringLiteral("a,renamed,a"));
    }

    // Selects keep their prepared statements too: each run binds its own values, a select run again while a caller
    // still reads the first one's rows leaves those rows alone, and a statement whose caller stopped reading holds
    // no lock that keeps another program from writing.
    void preparedSelectsStayFaithful()
    {
        GHWorkoutModel model;
        QStringList columns{"wid", "name"};
        QVector<QVariant> values{7};
        selectByWid(model, columns, values);
        const auto writeFromOutside = [this](int wid) {
            return GHTestSqlite::run(routeDb(m_flash),
                                     QStringLiteral("insert into Workout (wid) values (%1);").arg(wid).toUtf8());
        };

        for (const bool forwardOnly : {true, false}) {
            values = {7};
            {
                QSqlQuery first = GHSqlCRUD::select(&model, forwardOnly);
                QVERIFY(first.next());
                QCOMPARE(first.value(1).toString(), QStringLiteral("tempo"));
                QCOMPARE(first.record().fieldName(1), QStringLiteral("name"));

                values = {8};
                QSqlQuery nested = GHSqlCRUD::select(&model, forwardOnly);
                QCOMPARE(workoutNames(nested), QStringList{"easy"});
                QVERIFY(first.next());
                QCOMPARE(first.value(1).toString(), QStringLiteral("hills"));
            }
            QVERIFY(writeFromOutside(40));

            // Read in part, then finished by the caller, then dropped.
            values = {7};
            QSqlQuery partly = GHSqlCRUD::select(&model, forwardOnly);
            QVERIFY(partly.next());
            partly.finish();
            QVERIFY(!partly.next());
            QVERIFY(writeFromOutside(41));
            QVERIFY(GHSqlCRUD::select(&model, forwardOnly).next());
            QVERIFY(writeFromOutside(42));
            QSqlQuery again = GHSqlCRUD::select(&model, forwardOnly);
            QCOMPARE(workoutNames(again), (QStringList{"tempo", "hills"}));
        }
        QCOMPARE(GHTestSqlite::query(routeDb(m_flash), "select count(*) from Workout where wid>=40;"),
                 QStringLiteral("6"));
    }

    void ridePathFollowsTheHomes()
    {
        TraceLogDbm model;
        QCOMPARE(model.dbName(), routeDb(m_flash));
        // Once found, the path stays while the home stays, even when the file goes away; letting the device's files
        // go looks it up anew.
        QVERIFY(QFile::remove(routeDb(m_flash)));
        QCOMPARE(model.dbName(), routeDb(m_flash));
        GHDeviceDB::closeStorageMapDb();
        QCOMPARE(model.dbName(), QString());

        const QString other = flashHome(QStringLiteral("second-device"));
        QVERIFY(GHTestSqlite::build(routeDb(other), kWorkoutFixture));
        GHDeviceDB::setHomeDir(other, QString(), QString());
        QCOMPARE(model.dbName(), routeDb(other));
    }

    void workoutPathFollowsANewFlashHome()
    {
        GHWorkoutModel model;
        QCOMPARE(model.dbName(), routeDb(m_flash));
        const QString other = flashHome(QStringLiteral("second-device"));
        QVERIFY(GHTestSqlite::build(routeDb(other), kWorkoutFixture));
        GHDeviceDB::setHomeDir(other, QString(), QString());
        QCOMPARE(model.dbName(), routeDb(other));

        // Once found, the path stays while the home stays, even when the file goes away.
        QVERIFY(QFile::remove(routeDb(other)));
        QCOMPARE(model.dbName(), routeDb(other));
    }

    void connectionMovesBetweenThreads()
    {
        GHTestSqlite::WarningCapture warnings;
        const auto allNames = [] {
            GHWorkoutModel model;
            QStringList columns{"wid", "name"};
            model.setColumns(&columns);
            model.setFilter(QStringLiteral("wid<30"));
            model.setOrderby(QStringLiteral("order by id"));
            QSqlQuery query = GHSqlCRUD::select(&model);
            return workoutNames(query);
        };
        const QStringList expected{"hills", "tempo", "easy"};
        QCOMPARE(allNames(), expected);

        const auto insertWorkout = [] {
            GHWorkoutModel model;
            QStringList columns{"wid"};
            QVector<QVariant> values{30};
            model.setColumns(&columns);
            model.setValues(&values);
            return GHSqlCRUD::insert(&model);
        };
        QVERIFY(insertWorkout());

        QStringList fromWorker;
        bool insertedByWorker = false;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            insertedByWorker = insertWorkout();
            fromWorker = allNames();
        }));
        worker->start();
        QVERIFY(worker->wait(30000));
        QVERIFY(insertedByWorker);
        QCOMPARE(fromWorker, expected);
        QVERIFY(insertWorkout());
        QCOMPARE(GHTestSqlite::query(routeDb(m_flash), "select count(*) from Workout where wid=30;"),
                 QStringLiteral("3"));

        // Back on the main thread while the worker object still exists, then after it is gone.
        QCOMPARE(allNames(), expected);
        QCOMPARE(GHTestSqlite::openDescriptors(routeDb(m_flash)), 1);
        std::unique_ptr<QThread> second(QThread::create([&] { fromWorker = allNames(); }));
        second->start();
        QVERIFY(second->wait(30000));
        second.reset();
        fromWorker.clear();
        QCOMPARE(allNames(), expected);
        QCOMPARE(GHTestSqlite::openDescriptors(routeDb(m_flash)), 1);
        QCOMPARE(warnings.warnings(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestGHSql)
#include "tst_ghsql.moc"
