#include "python/acquiregil.h"

#include <QRecursiveMutex>
#include <QThread>

#include "jxlog.h"

QRecursiveMutex* AcquireGIL::interpreterLock()
{
    static QRecursiveMutex lock;
    return &lock;
}

AcquireGIL::AcquireGIL(bool acquire) : m_acquired(acquire)
{
    if (!m_acquired)
        return;
    JX_DEBUG << QThread::currentThreadId() << "acquiring GIL";
    interpreterLock()->lock();
}

AcquireGIL::~AcquireGIL()
{
    if (!m_acquired)
        return;
    JX_DEBUG << QThread::currentThreadId() << "release GIL";
    interpreterLock()->unlock();
}
