#include "jxclock.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

namespace {

class JXSystemClock : public JXClock
{
public:
    JXSystemClock() { m_started.start(); }

    void sleep(qint64 milliseconds) override
    {
        if (milliseconds > 0)
            QThread::msleep(static_cast<unsigned long>(milliseconds));
    }

    bool wait(QWaitCondition& condition, QMutex& mutex, qint64 milliseconds) override
    {
        return condition.wait(&mutex, QDeadlineTimer(qMax<qint64>(milliseconds, 0)));
    }

    qint64 now() override { return m_started.elapsed(); }

private:
    QElapsedTimer m_started;
};

JXSystemClock& systemClock()
{
    static JXSystemClock clock;
    return clock;
}

std::atomic<JXClock*> installedClock{nullptr};

} // namespace

QDateTime JXClock::localDateTime()
{
    return QDateTime::currentDateTime();
}

JXClock* JXClock::instance()
{
    JXClock* clock = installedClock.load();
    return clock ? clock : &systemClock();
}

void JXClock::install(JXClock* clock)
{
    installedClock.store(clock);
}
