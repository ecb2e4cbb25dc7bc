#ifndef GHEVENTBROADCASTER_H
#define GHEVENTBROADCASTER_H

#include <QList>

#include <utility>

// An ordered list of listeners (not owned) that events are sent to in the order they were added. The size is read
// again before each call, so a listener added during an event is called in the same dispatch.
template <class Listener> class GHEventBroadcaster
{
public:
    void registerReceiver(Listener* listener)
    {
        if (!m_receivers.contains(listener))
            m_receivers.append(listener);
    }

protected:
    void sendEvent(void (Listener::*operation)())
    {
        for (int i = 0; i < m_receivers.size(); ++i)
            (m_receivers.at(i)->*operation)();
    }

    template <class A, class ArgA> void sendEvent1(void (Listener::*operation)(A), ArgA&& a)
    {
        for (int i = 0; i < m_receivers.size(); ++i)
            (m_receivers.at(i)->*operation)(a);
    }

    template <class A, class B, class ArgA, class ArgB>
    void sendEvent2(void (Listener::*operation)(A, B), ArgA&& a, ArgB&& b)
    {
        for (int i = 0; i < m_receivers.size(); ++i)
            (m_receivers.at(i)->*operation)(a, b);
    }

    QList<Listener*> m_receivers;
};

#endif
