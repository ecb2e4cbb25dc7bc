#ifndef JXTIMEZONEGUARD_H
#define JXTIMEZONEGUARD_H

#include <QByteArray>
#include <QtGlobal>

#include <time.h>

// Sets the process time zone (TZ) for its lifetime; the previous one comes back even when a check fails. An empty
// zone leaves the current one in force.
class JXTimeZoneGuard
{
public:
    explicit JXTimeZoneGuard(const QByteArray& zone) : m_hadZone(qEnvironmentVariableIsSet("TZ")), m_old(qgetenv("TZ"))
    {
        if (!zone.isEmpty()) {
            qputenv("TZ", zone);
            tzset();
        }
    }
    ~JXTimeZoneGuard()
    {
        if (m_hadZone)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }
    JXTimeZoneGuard(const JXTimeZoneGuard&) = delete;
    JXTimeZoneGuard& operator=(const JXTimeZoneGuard&) = delete;

private:
    bool m_hadZone;
    QByteArray m_old;
};

#endif // JXTIMEZONEGUARD_H
