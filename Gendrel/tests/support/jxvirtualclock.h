#ifndef JXVIRTUALCLOCK_H
#define JXVIRTUALCLOCK_H

#include <QMutex>
#include <QVector>

#include "jxclock.h"

// A clock for tests: installed for its lifetime, it returns from every sleep and timed wait at once, moves its own
// time on by the wait's length and records it, so that no test waits real seconds and the waits can be checked.
// A timed wait always runs out. Safe to use from several threads.
class JXVirtualClock : public JXClock
{
public:
    struct Wait
    {
        enum Kind { Sleep, TimedWait };
        Kind kind = Sleep;
        qint64 milliseconds = 0;
        bool operator==(const Wait& other) const { return kind == other.kind && milliseconds == other.milliseconds; }
    };

    JXVirtualClock();
    ~JXVirtualClock() override;

    void sleep(qint64 milliseconds) override;
    bool wait(QWaitCondition& condition, QMutex& mutex, qint64 milliseconds) override;
    qint64 now() override;
    // The date and time set, or the computer's while none is.
    QDateTime localDateTime() override;
    void setLocalDateTime(const QDateTime& dateTime);

    QVector<Wait> waits() const;
    // The lengths of the sleeps alone, in order.
    QVector<qint64> sleeps() const;
    void clear();

private:
    Q_DISABLE_COPY(JXVirtualClock)

    mutable QMutex m_mutex;
    qint64 m_now = 0;
    QVector<Wait> m_waits;
    QDateTime m_localDateTime;
};

#endif
