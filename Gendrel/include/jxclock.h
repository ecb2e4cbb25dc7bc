#ifndef JXCLOCK_H
#define JXCLOCK_H

#include <QDateTime>
#include <QtGlobal>

class QMutex;
class QWaitCondition;

// The one place where the device drivers wait: every sleep, timed wait and elapsed-time reading goes through the
// clock in use, so that a test can install a virtual clock that returns at once and records each wait.
class JXClock
{
public:
    virtual ~JXClock() = default;

    virtual void sleep(qint64 milliseconds) = 0;
    // Waits on condition for at most milliseconds; mutex is locked by the caller, as for QWaitCondition::wait.
    // False when the time ran out.
    virtual bool wait(QWaitCondition& condition, QMutex& mutex, qint64 milliseconds) = 0;
    // Milliseconds on a steady scale; only differences mean something.
    virtual qint64 now() = 0;
    // The computer's local date and time, for what is stamped onto a device.
    virtual QDateTime localDateTime();

    // The clock in use: the system's unless another was installed.
    static JXClock* instance();
    // Installs a clock that the caller keeps alive (null: the system's again). Only while nothing waits.
    static void install(JXClock* clock);

    static void sleepMs(qint64 milliseconds) { instance()->sleep(milliseconds); }
    static bool waitMs(QWaitCondition& condition, QMutex& mutex, qint64 milliseconds)
    {
        return instance()->wait(condition, mutex, milliseconds);
    }
    static qint64 nowMs() { return instance()->now(); }
    static QDateTime localNow() { return instance()->localDateTime(); }
};

#endif
