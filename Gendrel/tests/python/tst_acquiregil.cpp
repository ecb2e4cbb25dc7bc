#include <QtTest>

#include <QRecursiveMutex>
#include <QThread>

#include <atomic>
#include <memory>

#include "python/acquiregil.h"

namespace {

QStringList messages;
QtMessageHandler previousHandler = nullptr;

void collectMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    messages.append(message);
}

// Whether another thread could take the script lock now.
bool lockFreeForOthers()
{
    bool taken = false;
    std::unique_ptr<QThread> other(QThread::create([&taken] {
        taken = AcquireGIL::interpreterLock()->try_lock();
        if (taken)
            AcquireGIL::interpreterLock()->unlock();
    }));
    other->start();
    other->wait();
    return taken;
}

} // namespace

// The script lock guard: one lock for the whole process, held for the guard's lifetime, and a guard that was told
// not to take it neither locks nor logs.
class TestAcquireGIL : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        messages.clear();
        QLoggingCategory::defaultCategory()->setEnabled(QtDebugMsg, true);
        previousHandler = qInstallMessageHandler(collectMessage);
    }

    void cleanup() { qInstallMessageHandler(previousHandler); }

    void guardHoldsTheLockForItsLifetime()
    {
        {
            AcquireGIL guard(true);
            QVERIFY(!lockFreeForOthers());
            // The thread that holds it may take it again.
            AcquireGIL nested(true);
        }
        QVERIFY(lockFreeForOthers());
        QCOMPARE(messages.size(), 4);
        QVERIFY(messages.at(0).endsWith(QLatin1String("acquiring GIL")));
        QVERIFY(messages.at(3).endsWith(QLatin1String("release GIL")));
    }

    void guardWithoutTheFlagNeitherLocksNorLogs()
    {
        {
            AcquireGIL guard(false);
            QVERIFY(lockFreeForOthers());
        }
        QVERIFY(messages.isEmpty());
    }

    void twoThreadsNeverHoldItTogether()
    {
        qInstallMessageHandler(previousHandler);
        QLoggingCategory::defaultCategory()->setEnabled(QtDebugMsg, false);
        std::atomic<int> inside{0};
        std::atomic<bool> overlapped{false};
        auto work = [&] {
            for (int i = 0; i < 2000; ++i) {
                AcquireGIL guard(true);
                if (inside.fetch_add(1) != 0)
                    overlapped = true;
                QThread::yieldCurrentThread();
                inside.fetch_sub(1);
            }
        };
        std::unique_ptr<QThread> first(QThread::create(work));
        std::unique_ptr<QThread> second(QThread::create(work));
        first->start();
        second->start();
        QVERIFY(first->wait(60000));
        QVERIFY(second->wait(60000));
        QVERIFY(!overlapped);
        QVERIFY(lockFreeForOthers());
    }
};

QTEST_GUILESS_MAIN(TestAcquireGIL)
#include "tst_acquiregil.moc"
