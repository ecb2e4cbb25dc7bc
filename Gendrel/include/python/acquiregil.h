#ifndef ACQUIREGIL_H
#define ACQUIREGIL_H

#include <QtGlobal>

class QRecursiveMutex;

// Holds the script interpreter's global lock for the guard's lifetime, around each call into the script module.
// No interpreter is linked: the guard takes the script layer's stand-in lock, one recursive mutex for the whole
// process, so calls into the script layer from several client threads still run one at a time. A guard made with
// false neither locks nor logs (a caller that already holds the lock, such as the main thread).
class AcquireGIL
{
public:
    explicit AcquireGIL(bool acquire);
    ~AcquireGIL();

    // The stand-in lock; a thread that holds it may take it again.
    static QRecursiveMutex* interpreterLock();

private:
    Q_DISABLE_COPY(AcquireGIL)

    bool m_acquired;
};

#endif
