#include <QtTest>

#include <QProcess>

#include <atomic>
#include <csignal>
#include <thread>

#include <sys/resource.h>

#include "device/jxdevicemanager.h"
#include "jxclienttestdriver.h"
#include "jxdaemon.h"
#include "system/jxexceptionhandler.h"
#include "system/jxmacexceptionhandler.h"

namespace {

const int kGuardedSignals[] = {SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS, SIGPIPE};

bool allDefault()
{
    for (int signalNumber : kGuardedSignals) {
        struct sigaction current = {};
        sigaction(signalNumber, nullptr, &current);
        if (current.sa_handler != SIG_DFL)
            return false;
    }
    return true;
}

bool allGuarded()
{
    for (int signalNumber : kGuardedSignals) {
        struct sigaction current = {};
        sigaction(signalNumber, nullptr, &current);
        if (current.sa_handler != &JXMacExceptionHandler::SignalHandler)
            return false;
    }
    return true;
}

class DoneCounter : public JXDeviceManagerListener
{
public:
    int count = 0;
    void onDeviceConnected(JXClient*) override {}
    void onDeviceDisconnected(JXClient*) override {}
    void onDeviceEjected(JXClient*) override {}
    void onDeviceActionDone(JXClient*, int) override { ++count; }
};

// A task that faults on whichever thread runs it.
class DividingTask : public JXExceptionTask
{
public:
    bool execute() override
    {
        raise(SIGFPE);
        return true;
    }
    void handleException() override {}
};

// Waits while the event loop runs; what the scenario prints afterwards shows a timeout.
template <class Condition> void waitFor(Condition condition)
{
    if (!QTest::qWaitFor(condition, 10000))
        qWarning("scenario wait timed out");
}

// ---- Child scenarios: each runs in its own process, so a fault or a death cannot harm the test run ----

int faultInAction(QTextStream& out)
{
    DoneCounter listener;
    JXDaemon::getInstance()->getDeviceManager()->addListener(&listener);
    std::atomic<bool> stop{false};
    std::atomic<long> bystanderTicks{0};
    std::thread bystander([&] {
        while (!stop.load()) {
            ++bystanderTicks;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    TestDriver client;
    client.raiseSignal = SIGSEGV;
    QSignalSpy done(&client, &JXClient::updateTotalDone);
    client.updateTotal(QStringLiteral("Total.zip"), QString());
    waitFor([&] { return done.count() == 1 && !client.isBusy(); });
    const long ticksAtFault = bystanderTicks.load();
    out << "done=" << done.count() << "\nactionDone=" << listener.count << "\nbusy=" << client.isBusy()
        << "\nstate=" << client.getState() << "\nerror=" << client.getError(nullptr)
        << "\npassed=" << client.passedSignal.load() << "\nstillGuarded=" << allGuarded() << '\n';

    // The state is left in service: the client refuses every later action.
    client.raiseSignal = 0;
    client.updateTotal(QStringLiteral("Total.zip"), QString());
    waitFor([&] { return done.count() == 2 && !client.isBusy(); });
    out << "done2=" << done.count() << "\nerror2=" << client.getError(nullptr) << "\nruns=" << client.runs.load()
        << '\n';

    // Another client's normal action restores the defaults.
    TestDriver fresh;
    QSignalSpy freshDone(&fresh, &JXClient::updateTotalDone);
    fresh.updateTotal(QStringLiteral("Total.zip"), QString());
    waitFor([&] { return freshDone.count() == 1 && !fresh.isBusy(); });
    out << "freshError=" << fresh.getError(nullptr) << "\ndefaults=" << allDefault() << '\n';

    out << "bystander=" << QTest::qWaitFor([&] { return bystanderTicks.load() > ticksAtFault; }, 10000) << '\n';
    stop = true;
    bystander.join();
    JXDaemon::getInstance()->getDeviceManager()->removeListener(&listener);
    return 0;
}

int signalOnOtherThread(QTextStream& out, bool fault)
{
    QSemaphore gate;
    TestDriver client;
    client.gate = &gate;
    QSignalSpy done(&client, &JXClient::updateTotalDone);
    client.updateTotal(QStringLiteral("Total.zip"), QString());
    client.started.acquire();
    std::thread other([fault] { raise(fault ? SIGSEGV : SIGPIPE); });
    other.join();
    raise(SIGPIPE); // on the main thread
    gate.release();
    waitFor([&] { return done.count() == 1 && !client.isBusy(); });
    out << "done=" << done.count() << "\nerror=" << client.getError(nullptr) << '\n';
    return 0;
}

int faultInTaskOnMainThread()
{
    DividingTask task;
    JXExceptionHandler handler;
    handler.run(&task);
    return 0;
}

int runScenario(const QString& scenario)
{
    // A death by signal is what some scenarios expect: leave no core file behind.
    struct rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    QTextStream out(stdout);
    if (scenario == QLatin1String("fault"))
        return faultInAction(out);
    if (scenario == QLatin1String("segv on another thread"))
        return signalOnOtherThread(out, true);
    if (scenario == QLatin1String("pipe on other threads"))
        return signalOnOtherThread(out, false);
    if (scenario == QLatin1String("fault in a task on the main thread"))
        return faultInTaskOnMainThread();
    return 2;
}

struct ChildResult
{
    QProcess::ExitStatus status = QProcess::NormalExit;
    int code = -1;
    QMap<QString, QString> values;
    QString errors;
};

ChildResult runChild(const QString& scenario)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("JX_FAULT_SCENARIO"), scenario);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    ChildResult result;
    if (!child.waitForFinished(60000)) {
        child.kill();
        child.waitForFinished();
        return result;
    }
    result.status = child.exitStatus();
    result.code = child.exitCode();
    result.errors = QString::fromLocal8Bit(child.readAllStandardError());
    const QStringList lines = QString::fromLocal8Bit(child.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            result.values.insert(line.left(equals), line.mid(equals + 1));
    }
    return result;
}

} // namespace

class TestJXExceptionHandler : public QObject
{
    Q_OBJECT

private slots:
    void guardedDuringNormalActionAndDefaultAfter()
    {
        QSemaphore gate;
        TestDriver client;
        client.gate = &gate;
        QVERIFY(client.updateTotal(QStringLiteral("Total.zip"), QString()));
        QVERIFY(client.started.tryAcquire(1, 5000));
        QVERIFY(allGuarded());
        gate.release();
        QTRY_VERIFY(!client.isBusy());
        QVERIFY(allDefault());
        QVERIFY(!client.getError(nullptr));
    }

    void faultEndsOnlyTheActionThread()
    {
        const ChildResult child = runChild(QStringLiteral("fault"));
        QCOMPARE(child.status, QProcess::NormalExit);
        QCOMPARE(child.code, 0);
        QCOMPARE(child.errors.count(QStringLiteral("signal handler for wrong data")), 1);
        QCOMPARE(child.errors.count(QStringLiteral("wrong data exception")), 1);
        QVERIFY(child.errors.indexOf(QStringLiteral("signal handler for wrong data")) <
                child.errors.indexOf(QStringLiteral("wrong data exception")));
        // The completion still arrives; the state stays in service and the error flag as it was.
        QCOMPARE(child.values.value("done"), QStringLiteral("1"));
        QCOMPARE(child.values.value("actionDone"), QStringLiteral("1"));
        QCOMPARE(child.values.value("busy"), QStringLiteral("0"));
        QCOMPARE(child.values.value("state"), QStringLiteral("2"));
        QCOMPARE(child.values.value("error"), QStringLiteral("0"));
        QCOMPARE(child.values.value("passed"), QStringLiteral("0"));
        QCOMPARE(child.values.value("stillGuarded"), QStringLiteral("1"));
        // The next action is refused by the state, but still completes with the error flag set.
        QCOMPARE(child.values.value("done2"), QStringLiteral("2"));
        QCOMPARE(child.values.value("error2"), QStringLiteral("1"));
        QCOMPARE(child.values.value("runs"), QStringLiteral("1"));
        QVERIFY(child.errors.contains(QStringLiteral("JXClient::run() : device is busy in action= 0")));
        QCOMPARE(child.values.value("freshError"), QStringLiteral("0"));
        QCOMPARE(child.values.value("defaults"), QStringLiteral("1"));
        QCOMPARE(child.values.value("bystander"), QStringLiteral("1"));
    }

    void signalsOutsideTheActionActAsSystem_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("deathSignal"); // 0: the child lives on
        QTest::newRow("segv on another thread") << "segv on another thread" << int(SIGSEGV);
        QTest::newRow("pipe on other threads") << "pipe on other threads" << 0;
        QTest::newRow("fault in a task on the main thread") << "fault in a task on the main thread" << int(SIGFPE);
    }

    void signalsOutsideTheActionActAsSystem()
    {
        QFETCH(QString, scenario);
        QFETCH(int, deathSignal);
        const ChildResult child = runChild(scenario);
        QVERIFY(!child.errors.contains(QStringLiteral("signal handler for wrong data")));
        if (deathSignal) {
            QCOMPARE(child.status, QProcess::CrashExit);
            QCOMPARE(child.code, deathSignal);
        } else {
            QCOMPARE(child.status, QProcess::NormalExit);
            QCOMPARE(child.code, 0);
            QCOMPARE(child.values.value("done"), QStringLiteral("1"));
            QCOMPARE(child.values.value("error"), QStringLiteral("0"));
        }
    }
};

int main(int argc, char* argv[])
{
    const QString scenario = qEnvironmentVariable("JX_FAULT_SCENARIO");
    QCoreApplication app(argc, argv);
    if (!scenario.isEmpty())
        return runScenario(scenario);
    TestJXExceptionHandler test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_jxexceptionhandler.moc"
