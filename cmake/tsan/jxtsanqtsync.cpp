// Linked into every program of a JX_TSAN build, ahead of Qt.
//
// Debian's Qt is not built with ThreadSanitizer. QMutex, QReadWriteLock and QSemaphore are futexes driven by
// atomics inside libQt5Core, and a queued signal crosses threads through Qt's own event list, so the sanitizer sees
// none of the ordering they give and reports every access they protect as a race. The functions below take the
// place of the exported Qt functions that our code calls, run the real ones and tell the sanitizer what ordering
// they gave, as a Qt built with the sanitizer would. They add no ordering that Qt does not give, with one
// coarseness: a queued slot is ordered after every emission of its sender so far, not only its own, which can hide
// a race with what the emitting thread wrote between two emissions. The canary of scripts/tsan.sh checks that
// races through these calls still show.
//
// Locks are told to the sanitizer only where our program takes them: Qt's own libraries also reach these functions
// for their own locks, whose objects they hand between threads by means the sanitizer cannot see. Qt's calls
// between functions of libQt5Core stay inside it and are not seen here at all; what Qt's own code does is left to
// the suppressions file of scripts/tsan.sh.

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QMutex>
#include <QObject>
#include <QReadWriteLock>
#include <QRecursiveMutex>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <QWaitCondition>

#include <sanitizer/tsan_interface.h>

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>

#if QT_VERSION < QT_VERSION_CHECK(5, 15, 0) || QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#error "the symbols below are Qt 5.15's"
#endif

namespace {

template <typename Function> Function realFunction(const char* symbol)
{
    void* address = dlsym(RTLD_NEXT, symbol);
    if (!address) {
        std::fprintf(stderr, "jxtsanqtsync: %s not found in Qt\n", symbol);
        std::abort();
    }
    return reinterpret_cast<Function>(address);
}

#define JX_REAL(type, symbol) static const auto real = realFunction<type>(symbol)

// Defines the complete-object symbol of a constructor or destructor as the base-object one: the classes have no
// virtual bases, so both do the same.
#define JX_CONSTRUCTOR(completeSymbol, baseSymbol, ...)                                                                \
    extern "C" void baseSymbol(__VA_ARGS__);                                                                           \
    extern "C" void completeSymbol(__VA_ARGS__) __attribute__((alias(#baseSymbol)));                                   \
    extern "C" void baseSymbol(__VA_ARGS__)

// ---- Mutexes ------------------------------------------------------------------------------------------------

void annotateLock(void* mutex, unsigned flags, bool locked)
{
    __tsan_mutex_pre_lock(mutex, flags);
    __tsan_mutex_post_lock(mutex, locked ? flags : flags | __tsan_mutex_try_lock_failed, 0);
}

void annotateUnlock(void* mutex, unsigned flags)
{
    __tsan_mutex_pre_unlock(mutex, flags);
    __tsan_mutex_post_unlock(mutex, flags);
}

// The address range of the program itself, which holds all of our code (our libraries are static).
struct ProgramRange
{
    ElfW(Addr) begin = ~ElfW(Addr)(0);
    ElfW(Addr) end = 0;
};

ProgramRange findProgramRange()
{
    ProgramRange range;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* found = static_cast<ProgramRange*>(data);
            for (int segment = 0; segment < info->dlpi_phnum; ++segment) {
                const ElfW(Phdr)& header = info->dlpi_phdr[segment];
                if (header.p_type != PT_LOAD)
                    continue;
                found->begin = std::min(found->begin, info->dlpi_addr + header.p_vaddr);
                found->end = std::max(found->end, info->dlpi_addr + header.p_vaddr + header.p_memsz);
            }
            return 1; // the program is listed first
        },
        &range);
    return range;
}

bool calledFromProgram(void* returnAddress)
{
    static const ProgramRange program = findProgramRange();
    const auto address = reinterpret_cast<ElfW(Addr)>(returnAddress);
    return address >= program.begin && address < program.end;
}

#define JX_FROM_PROGRAM (calledFromProgram(__builtin_return_address(0)) && canHoldMore())

// Each thread lists the locks it took with the sanitizer told, and how: a read-write lock is released by one
// unlock() for both modes, and a lock is let go as it was taken even where Qt's code, reaching here through a tail
// call, looks like ours on one side only.
struct HeldLock
{
    const void* lock;
    bool read;
};
// Plain storage without a destructor: locks are still taken while threads and the process end.
constexpr int kMaxHeldLocks = 256;
thread_local HeldLock heldLocks[kMaxHeldLocks];
thread_local int heldLockCount = 0;

// Whether one more lock can be listed; a lock beyond that is not told to the sanitizer at all.
bool canHoldMore()
{
    return heldLockCount < kMaxHeldLocks;
}

bool holdsForWriting(const void* lock)
{
    return std::any_of(heldLocks, heldLocks + heldLockCount,
                       [lock](const HeldLock& held) { return held.lock == lock && !held.read; });
}

// A recursive lock taken for reading by the thread that writes stays a write lock in Qt.
bool lockAsRead(const void* lock, bool wantRead)
{
    return wantRead && !holdsForWriting(lock);
}

void rememberLock(const void* lock, bool read)
{
    heldLocks[heldLockCount++] = {lock, read};
}

// Takes the latest hold of lock off the list; false when the sanitizer was not told of one.
bool forgetLock(const void* lock, bool* read)
{
    for (int index = heldLockCount - 1; index >= 0; --index) {
        if (heldLocks[index].lock == lock) {
            *read = heldLocks[index].read;
            std::copy(heldLocks + index + 1, heldLocks + heldLockCount, heldLocks + index);
            --heldLockCount;
            return true;
        }
    }
    return false;
}

// ---- Keys of the orderings told to the sanitizer -----------------------------------------------------------

// What a sender did before it emitted is ordered before the slots that the emission calls or queues.
void* emissionKey(const void* sender)
{
    return const_cast<void*>(sender);
}

// The return of a blocking queued emission.
void* blockingReturnKey(const void* sender)
{
    return static_cast<char*>(emissionKey(sender)) + 1;
}

// The end of a thread's run, apart from its own emissions: the slots of an emission that run after the thread has
// ended must not seem ordered after what the thread did later.
void* threadEndKey(const QThread* thread)
{
    return reinterpret_cast<char*>(const_cast<QThread*>(thread)) + 2;
}

} // namespace

// ---- QMutex and QRecursiveMutex -----------------------------------------------------------------------------

// Constructors and destructors are replaced by their symbols: a C++ definition here would construct or destroy the
// bases a second time around the real one.
JX_CONSTRUCTOR(_ZN6QMutexC1ENS_13RecursionModeE, _ZN6QMutexC2ENS_13RecursionModeE, QMutex* mutex,
               QMutex::RecursionMode mode)
{
    JX_REAL(void (*)(QMutex*, QMutex::RecursionMode), "_ZN6QMutexC2ENS_13RecursionModeE");
    real(mutex, mode);
    if (JX_FROM_PROGRAM)
        __tsan_mutex_create(mutex, mode == QMutex::Recursive ? __tsan_mutex_write_reentrant : 0);
}

// A lock that our code destroys while it is held or still in use shows as such.
JX_CONSTRUCTOR(_ZN6QMutexD1Ev, _ZN6QMutexD2Ev, QMutex* mutex)
{
    JX_REAL(void (*)(QMutex*), "_ZN6QMutexD2Ev");
    if (JX_FROM_PROGRAM)
        __tsan_mutex_destroy(mutex, 0);
    real(mutex);
}

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    JX_REAL(void (*)(QMutex*), "_ZN6QMutex4lockEv");
    if (!JX_FROM_PROGRAM) {
        real(this);
        return;
    }
    __tsan_mutex_pre_lock(this, 0);
    real(this);
    __tsan_mutex_post_lock(this, 0, 0);
    rememberLock(this, false);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    JX_REAL(bool (*)(QMutex*, int), "_ZN6QMutex7tryLockEi");
    if (!JX_FROM_PROGRAM)
        return real(this, timeout);
    __tsan_mutex_pre_lock(this, __tsan_mutex_try_lock);
    const bool locked = real(this, timeout);
    __tsan_mutex_post_lock(this, locked ? __tsan_mutex_try_lock : __tsan_mutex_try_lock_failed, 0);
    if (locked)
        rememberLock(this, false);
    return locked;
}

void QMutex::unlock() noexcept
{
    JX_REAL(void (*)(QMutex*), "_ZN6QMutex6unlockEv");
    bool read = false;
    if (!forgetLock(this, &read)) {
        real(this);
        return;
    }
    __tsan_mutex_pre_unlock(this, 0);
    real(this);
    __tsan_mutex_post_unlock(this, 0);
}

JX_CONSTRUCTOR(_ZN15QRecursiveMutexC1Ev, _ZN15QRecursiveMutexC2Ev, QRecursiveMutex* mutex)
{
    JX_REAL(void (*)(QRecursiveMutex*), "_ZN15QRecursiveMutexC2Ev");
    real(mutex);
    if (JX_FROM_PROGRAM)
        __tsan_mutex_create(mutex, __tsan_mutex_write_reentrant);
}

JX_CONSTRUCTOR(_ZN15QRecursiveMutexD1Ev, _ZN15QRecursiveMutexD2Ev, QRecursiveMutex* mutex)
{
    JX_REAL(void (*)(QRecursiveMutex*), "_ZN15QRecursiveMutexD2Ev");
    if (JX_FROM_PROGRAM)
        __tsan_mutex_destroy(mutex, 0);
    real(mutex);
}

// ---- QReadWriteLock -----------------------------------------------------------------------------------------

JX_CONSTRUCTOR(_ZN14QReadWriteLockC1ENS_13RecursionModeE, _ZN14QReadWriteLockC2ENS_13RecursionModeE,
               QReadWriteLock* lock, QReadWriteLock::RecursionMode mode)
{
    JX_REAL(void (*)(QReadWriteLock*, QReadWriteLock::RecursionMode), "_ZN14QReadWriteLockC2ENS_13RecursionModeE");
    real(lock, mode);
    if (JX_FROM_PROGRAM)
        __tsan_mutex_create(
            lock, mode == QReadWriteLock::Recursive ? __tsan_mutex_write_reentrant | __tsan_mutex_read_reentrant : 0);
}

JX_CONSTRUCTOR(_ZN14QReadWriteLockD1Ev, _ZN14QReadWriteLockD2Ev, QReadWriteLock* lock)
{
    JX_REAL(void (*)(QReadWriteLock*), "_ZN14QReadWriteLockD2Ev");
    if (JX_FROM_PROGRAM)
        __tsan_mutex_destroy(lock, 0);
    real(lock);
}

namespace {

bool lockForReading(QReadWriteLock* lock, bool (*take)(QReadWriteLock*, int), int timeout, bool annotated)
{
    if (!annotated)
        return take(lock, timeout);
    const bool read = lockAsRead(lock, true);
    const unsigned flags = (read ? __tsan_mutex_read_lock : 0) | (timeout >= 0 ? __tsan_mutex_try_lock : 0);
    __tsan_mutex_pre_lock(lock, flags);
    const bool locked = take(lock, timeout);
    __tsan_mutex_post_lock(lock, locked ? flags : flags | __tsan_mutex_try_lock_failed, 0);
    if (locked)
        rememberLock(lock, read);
    return locked;
}

bool lockForWriting(QReadWriteLock* lock, bool (*take)(QReadWriteLock*, int), int timeout, bool annotated)
{
    if (!annotated)
        return take(lock, timeout);
    const unsigned flags = timeout >= 0 ? __tsan_mutex_try_lock : 0;
    __tsan_mutex_pre_lock(lock, flags);
    const bool locked = take(lock, timeout);
    __tsan_mutex_post_lock(lock, locked ? flags : flags | __tsan_mutex_try_lock_failed, 0);
    if (locked)
        rememberLock(lock, false);
    return locked;
}

// A negative timeout waits without a limit, as in Qt.
bool takeForReading(QReadWriteLock* lock, int timeout)
{
    JX_REAL(bool (*)(QReadWriteLock*, int), "_ZN14QReadWriteLock14tryLockForReadEi");
    return real(lock, timeout);
}

bool takeForWriting(QReadWriteLock* lock, int timeout)
{
    JX_REAL(bool (*)(QReadWriteLock*, int), "_ZN14QReadWriteLock15tryLockForWriteEi");
    return real(lock, timeout);
}

} // namespace

void QReadWriteLock::lockForRead()
{
    lockForReading(this, takeForReading, -1, JX_FROM_PROGRAM);
}

bool QReadWriteLock::tryLockForRead()
{
    return lockForReading(this, takeForReading, 0, JX_FROM_PROGRAM);
}

bool QReadWriteLock::tryLockForRead(int timeout)
{
    return lockForReading(this, takeForReading, timeout, JX_FROM_PROGRAM);
}

void QReadWriteLock::lockForWrite()
{
    lockForWriting(this, takeForWriting, -1, JX_FROM_PROGRAM);
}

bool QReadWriteLock::tryLockForWrite()
{
    return lockForWriting(this, takeForWriting, 0, JX_FROM_PROGRAM);
}

bool QReadWriteLock::tryLockForWrite(int timeout)
{
    return lockForWriting(this, takeForWriting, timeout, JX_FROM_PROGRAM);
}

void QReadWriteLock::unlock()
{
    JX_REAL(void (*)(QReadWriteLock*), "_ZN14QReadWriteLock6unlockEv");
    bool read = false;
    if (!forgetLock(this, &read)) {
        real(this);
        return;
    }
    const unsigned flags = read ? __tsan_mutex_read_lock : 0;
    __tsan_mutex_pre_unlock(this, flags);
    real(this);
    __tsan_mutex_post_unlock(this, flags);
}

// ---- QWaitCondition: the lock is let go while waiting and taken again before the return ---------------------

namespace {

template <typename Lock, typename Deadline>
bool waitWithLock(QWaitCondition* condition, Lock* lock, Deadline deadline,
                  bool (*wait)(QWaitCondition*, Lock*, Deadline))
{
    bool read = false;
    if (!forgetLock(lock, &read))
        return wait(condition, lock, deadline);
    const unsigned flags = read ? __tsan_mutex_read_lock : 0;
    annotateUnlock(lock, flags);
    const bool woken = wait(condition, lock, deadline);
    annotateLock(lock, flags, true);
    rememberLock(lock, read);
    return woken;
}

} // namespace

bool QWaitCondition::wait(QMutex* mutex, unsigned long time)
{
    JX_REAL(bool (*)(QWaitCondition*, QMutex*, unsigned long), "_ZN14QWaitCondition4waitEP6QMutexm");
    return waitWithLock(this, mutex, time, real);
}

bool QWaitCondition::wait(QMutex* mutex, QDeadlineTimer deadline)
{
    JX_REAL(bool (*)(QWaitCondition*, QMutex*, QDeadlineTimer), "_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    return waitWithLock(this, mutex, deadline, real);
}

bool QWaitCondition::wait(QReadWriteLock* lock, unsigned long time)
{
    JX_REAL(bool (*)(QWaitCondition*, QReadWriteLock*, unsigned long), "_ZN14QWaitCondition4waitEP14QReadWriteLockm");
    return waitWithLock(this, lock, time, real);
}

bool QWaitCondition::wait(QReadWriteLock* lock, QDeadlineTimer deadline)
{
    JX_REAL(bool (*)(QWaitCondition*, QReadWriteLock*, QDeadlineTimer),
            "_ZN14QWaitCondition4waitEP14QReadWriteLock14QDeadlineTimer");
    return waitWithLock(this, lock, deadline, real);
}

// ---- QSemaphore ---------------------------------------------------------------------------------------------

void QSemaphore::acquire(int count)
{
    JX_REAL(void (*)(QSemaphore*, int), "_ZN10QSemaphore7acquireEi");
    real(this, count);
    __tsan_acquire(this);
}

bool QSemaphore::tryAcquire(int count)
{
    JX_REAL(bool (*)(QSemaphore*, int), "_ZN10QSemaphore10tryAcquireEi");
    const bool acquired = real(this, count);
    if (acquired)
        __tsan_acquire(this);
    return acquired;
}

bool QSemaphore::tryAcquire(int count, int timeout)
{
    JX_REAL(bool (*)(QSemaphore*, int, int), "_ZN10QSemaphore10tryAcquireEii");
    const bool acquired = real(this, count, timeout);
    if (acquired)
        __tsan_acquire(this);
    return acquired;
}

void QSemaphore::release(int count)
{
    JX_REAL(void (*)(QSemaphore*, int), "_ZN10QSemaphore7releaseEi");
    __tsan_release(this);
    real(this, count);
}

// ---- QThread: its end is ordered before wait(), isFinished() and the slots of finished() --------------------

JX_CONSTRUCTOR(_ZN7QThreadC1EP7QObject, _ZN7QThreadC2EP7QObject, QThread* thread, QObject* parent)
{
    JX_REAL(void (*)(QThread*, QObject*), "_ZN7QThreadC2EP7QObject");
    real(thread, parent);
    // Connected first, so it runs on the ending thread before the slots of finished() are queued to other threads.
    QObject::connect(thread, &QThread::finished, [thread] { __tsan_release(threadEndKey(thread)); });
}

// A thread's event dispatcher is destroyed on that thread after finished() has reached all its receivers and before
// wait() can return: the last point of a thread's life that passes outside libQt5Core.
extern "C" void g_main_context_pop_thread_default(void* context)
{
    JX_REAL(void (*)(void*), "g_main_context_pop_thread_default");
    real(context);
    __tsan_release(threadEndKey(QThread::currentThread()));
}

bool QThread::wait(QDeadlineTimer deadline)
{
    JX_REAL(bool (*)(QThread*, QDeadlineTimer), "_ZN7QThread4waitE14QDeadlineTimer");
    const bool ended = real(this, deadline);
    if (ended)
        __tsan_acquire(threadEndKey(this));
    return ended;
}

bool QThread::wait(unsigned long time)
{
    JX_REAL(bool (*)(QThread*, unsigned long), "_ZN7QThread4waitEm");
    const bool ended = real(this, time);
    if (ended)
        __tsan_acquire(threadEndKey(this));
    return ended;
}

bool QThread::isFinished() const
{
    JX_REAL(bool (*)(const QThread*), "_ZNK7QThread10isFinishedEv");
    const bool finished = real(this);
    if (finished)
        __tsan_acquire(threadEndKey(this));
    return finished;
}

// ---- Signals and queued calls -------------------------------------------------------------------------------

void QMetaObject::activate(QObject* sender, const QMetaObject* metaObject, int localSignalIndex, void** arguments)
{
    JX_REAL(void (*)(QObject*, const QMetaObject*, int, void**), "_ZN11QMetaObject8activateEP7QObjectPKS_iPPv");
    __tsan_release(emissionKey(sender));
    real(sender, metaObject, localSignalIndex, arguments);
    __tsan_acquire(blockingReturnKey(sender));
}

namespace {

// Wraps the slot object of a connection to a functor or member function, and the functor of
// QMetaObject::invokeMethod, whose receiver may be a Qt class or a plain QObject that no function here sees. The
// call is ordered after the connection or invocation was made and after the sender emitted; a blocked emitter's or
// invoker's return is ordered after the call. The slot is called and destroyed where Qt would do it.
class OrderedSlotObject : public QtPrivate::QSlotObjectBase
{
public:
    OrderedSlotObject(QtPrivate::QSlotObjectBase* inner, void* emissionKey, void* returnKey)
        : QSlotObjectBase(&impl), m_inner(inner), m_emissionKey(emissionKey), m_returnKey(returnKey)
    {
        __tsan_release(this);
    }

private:
    static void impl(int operation, QSlotObjectBase* self, QObject* receiver, void** arguments, bool* result)
    {
        auto* ordered = static_cast<OrderedSlotObject*>(self);
        __tsan_acquire(ordered);
        switch (operation) {
        case Destroy:
            ordered->m_inner->destroyIfLastRef();
            delete ordered;
            break;
        case Call:
            if (ordered->m_emissionKey)
                __tsan_acquire(ordered->m_emissionKey);
            ordered->m_inner->call(receiver, arguments);
            if (ordered->m_returnKey)
                __tsan_release(ordered->m_returnKey);
            break;
        case Compare: *result = ordered->m_inner->compare(arguments); break;
        }
    }

    QtPrivate::QSlotObjectBase* m_inner;
    void* m_emissionKey;
    void* m_returnKey; // for a blocking call only
};

} // namespace

bool QMetaObject::invokeMethodImpl(QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type,
                                   void* result)
{
    JX_REAL(bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*),
            "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    // The invoker waits in Qt for a blocking call, so the key can live on its stack.
    char returnKey = 0;
    const bool blocking = type == Qt::BlockingQueuedConnection;
    auto* ordered = new OrderedSlotObject(slot, nullptr, blocking ? &returnKey : nullptr);
    const bool invoked = real(object, ordered, type, result);
    if (blocking)
        __tsan_acquire(&returnKey);
    return invoked;
}

QMetaObject::Connection QObject::connectImpl(const QObject* sender, void** signal, const QObject* receiver,
                                             void** slotPointer, QtPrivate::QSlotObjectBase* slot,
                                             Qt::ConnectionType type, const int* types,
                                             const QMetaObject* senderMetaObject)
{
    JX_REAL(
        QMetaObject::Connection(*)(const QObject*, void**, const QObject*, void**, QtPrivate::QSlotObjectBase*,
                                   Qt::ConnectionType, const int*, const QMetaObject*),
        "_ZN7QObject11connectImplEPKS_PPvS1_S3_PN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPKiPK11QMetaObject");
    const bool blocking = (type & ~Qt::UniqueConnection) == Qt::BlockingQueuedConnection;
    // finished() is emitted inside Qt, out of sight of activate() below: its slots follow the thread's end.
    auto finished = &QThread::finished;
    const bool threadEnd = signal && std::memcmp(signal, &finished, sizeof finished) == 0;
    void* const emission = threadEnd ? threadEndKey(static_cast<const QThread*>(sender)) : emissionKey(sender);
    if (slot)
        slot = new OrderedSlotObject(slot, emission, blocking ? blockingReturnKey(sender) : nullptr);
    return real(sender, signal, receiver, slotPointer, slot, type, types, senderMetaObject);
}

// ---- QThreadPool: a task starts after start() and ends before waitForDone() returns ------------------------

void QThreadPool::start(std::function<void()> task, int priority)
{
    JX_REAL(void (*)(QThreadPool*, std::function<void()>, int), "_ZN11QThreadPool5startESt8functionIFvvEEi");
    // One key for every start: the task reads its own captures before it could name a key of its own.
    static char taskStartKey;
    std::function<void()> ordered = [task = std::move(task), pool = this] {
        __tsan_acquire(&taskStartKey);
        task();
        __tsan_release(pool);
    };
    __tsan_release(&taskStartKey);
    real(this, std::move(ordered), priority);
}

bool QThreadPool::waitForDone(int timeout)
{
    JX_REAL(bool (*)(QThreadPool*, int), "_ZN11QThreadPool11waitForDoneEi");
    const bool done = real(this, timeout);
    if (done)
        __tsan_acquire(this);
    return done;
}
