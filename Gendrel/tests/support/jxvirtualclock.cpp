#include "jxvirtualclock.h"

#include <QMutexLocker>

JXVirtualClock::JXVirtualClock()
{
    JXClock::install(this);
}

JXVirtualClock::~JXVirtualClock()
{
    JXClock::install(nullptr);
}

void JXVirtualClock::sleep(qint64 milliseconds)
{
    QMutexLocker locker(&m_mutex);
    m_waits.append({Wait::Sleep, milliseconds});
    m_now += qMax<qint64>(milliseconds, 0);
}

bool JXVirtualClock::wait(QWaitCondition&, QMutex&, qint64 milliseconds)
{
    QMutexLocker locker(&m_mutex);
    m_waits.append({Wait::TimedWait, milliseconds});
    m_now += qMax<qint64>(milliseconds, 0);
    return false;
}

qint64 JXVirtualClock::now()
{
    QMutexLocker locker(&m_mutex);
    return m_now;
}

QDateTime JXVirtualClock::localDateTime()
{
    QMutexLocker locker(&m_mutex);
    return m_localDateTime.isValid() ? m_localDateTime : QDateTime::currentDateTime();
}

void JXVirtualClock::setLocalDateTime(const QDateTime& dateTime)
{
    QMutexLocker locker(&m_mutex);
    m_localDateTime = dateTime;
}

QVector<JXVirtualClock::Wait> JXVirtualClock::waits() const
{
    QMutexLocker locker(&m_mutex);
    return m_waits;
}

QVector<qint64> JXVirtualClock::sleeps() const
{
    QMutexLocker locker(&m_mutex);
    QVector<qint64> lengths;
    for (const Wait& wait : m_waits)
        if (wait.kind == Wait::Sleep)
            lengths.append(wait.milliseconds);
    return lengths;
}

void JXVirtualClock::clear()
{
    QMutexLocker locker(&m_mutex);
    m_waits.clear();
}
