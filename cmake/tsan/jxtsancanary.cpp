// Proves that a JX_TSAN build still sees races through Qt's locks, queued signals and thread pool, and sees none
// where they do order the accesses: scripts/tsan.sh runs each scenario and expects a report from the racy ones only.

#include <QCoreApplication>
#include <QMutex>
#include <QReadWriteLock>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

int g_shared = 0;
std::atomic<bool> g_written{false};

// Relaxed: lets the other thread go on without ordering anything for the sanitizer.
void waitForWrite()
{
    while (!g_written.load(std::memory_order_relaxed))
        QThread::yieldCurrentThread();
}

class Worker : public QThread
{
    Q_OBJECT

public:
    bool writeAfterSignal = false;

signals:
    void written();

protected:
    void run() override
    {
        if (writeAfterSignal) {
            emit written();
            g_shared = 1;
        } else {
            g_shared = 1;
            emit written();
        }
    }
};

// Two threads write under different locks.
int differentLocks()
{
    QMutex first;
    QMutex second;
    QThread* other = QThread::create([&] {
        QMutexLocker lock(&first);
        ++g_shared;
        g_written = true;
    });
    other->start();
    waitForWrite();
    {
        QMutexLocker lock(&second);
        ++g_shared;
    }
    other->wait();
    delete other;
    return 0;
}

// The slot reads what the worker writes after it emitted.
int queuedThenWritten(bool writeAfterSignal)
{
    Worker worker;
    worker.writeAfterSignal = writeAfterSignal;
    int seen = -1;
    QObject::connect(
        &worker, &Worker::written, qApp,
        [&] {
            seen = g_shared;
            qApp->quit();
        },
        Qt::QueuedConnection);
    worker.start();
    QCoreApplication::exec();
    worker.wait();
    return seen >= 0 ? 0 : 1;
}

// A pool task writes; this thread reads without waiting for the pool.
int poolNotAwaited()
{
    QThreadPool::globalInstance()->start([] {
        g_shared = 1;
        g_written = true;
    });
    waitForWrite();
    const int seen = g_shared;
    QThreadPool::globalInstance()->waitForDone();
    return seen == 1 ? 0 : 1;
}

// Every access below is ordered by the Qt call beside it.
int ordered()
{
    QMutex mutex;
    QThread* locked = QThread::create([&] {
        QMutexLocker lock(&mutex);
        ++g_shared;
    });
    locked->start();
    {
        QMutexLocker lock(&mutex);
        ++g_shared;
    }
    locked->wait();
    delete locked;

    QReadWriteLock readWrite;
    QSemaphore handedOver;
    QThread* writer = QThread::create([&] {
        {
            QWriteLocker lock(&readWrite);
            ++g_shared;
        }
        handedOver.release();
    });
    writer->start();
    handedOver.acquire();
    {
        QReadLocker lock(&readWrite);
        if (g_shared < 0)
            return 1;
    }
    writer->wait();
    delete writer;

    QThreadPool::globalInstance()->start([] { ++g_shared; });
    QThreadPool::globalInstance()->waitForDone();
    ++g_shared;

    return queuedThenWritten(false);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const char* scenario = argc > 1 ? argv[1] : "";
    if (!std::strcmp(scenario, "different-locks"))
        return differentLocks();
    if (!std::strcmp(scenario, "written-after-signal"))
        return queuedThenWritten(true);
    if (!std::strcmp(scenario, "pool-not-awaited"))
        return poolNotAwaited();
    if (!std::strcmp(scenario, "ordered"))
        return ordered();
    std::fprintf(stderr, "usage: %s different-locks|written-after-signal|pool-not-awaited|ordered\n", argv[0]);
    return 2;
}

#include "jxtsancanary.moc"
