#include "system/jxmacexceptionhandler.h"

#include <atomic>
#include <mutex>

#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "jxlog.h"

namespace {

const int kGuardedSignals[] = {SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS, SIGPIPE};

// Guards on several threads share the process-wide dispositions: the first guard to start installs the handler
// and the last one to end normally restores the defaults. A faulted guard only leaves the count, so the handler
// stays installed after a fault until the next guard ends.
std::mutex s_dispositionMutex;
std::atomic<int> s_activeGuards{0};

bool onMainThread()
{
    return syscall(SYS_gettid) == getpid();
}

// What the signal would have done without a handler: a broken pipe is ignored (the write reports EPIPE), every
// other guarded signal ends the process with its default action.
void actAsSystem(int signalNumber)
{
    if (signalNumber == SIGPIPE)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signalNumber, &action, nullptr);
    // The signal is blocked inside its own handler: it is delivered, with the default action, on return. A
    // hardware fault also recurs on return, by re-running the faulting instruction.
    raise(signalNumber);
}

} // namespace

thread_local JXExceptionTask* JXMacExceptionHandler::m_pCurTask = nullptr;

bool JXMacExceptionHandler::run(JXExceptionTask* task)
{
    {
        std::lock_guard<std::mutex> lock(s_dispositionMutex);
        if (s_activeGuards.fetch_add(1) == 0)
            setExceptionHandler(SignalHandler);
    }
    m_pCurTask = task;
    const bool result = task->execute();
    m_pCurTask = nullptr;
    {
        std::lock_guard<std::mutex> lock(s_dispositionMutex);
        if (s_activeGuards.fetch_sub(1) == 1)
            setExceptionHandler(nullptr);
    }
    return result;
}

void JXMacExceptionHandler::setExceptionHandler(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler ? handler : SIG_DFL;
    sigemptyset(&action.sa_mask);
    action.sa_flags = handler ? SA_RESTART : 0;
    for (int signalNumber : kGuardedSignals)
        sigaction(signalNumber, &action, nullptr);
}

// Runs on whichever thread received the signal.
void JXMacExceptionHandler::SignalHandler(int signalNumber)
{
    JXExceptionTask* task = m_pCurTask;
    // The main thread is never ended, even when it runs a guarded task itself.
    if (!task || onMainThread()) {
        actAsSystem(signalNumber);
        return;
    }
    JX_CRITICAL << "signal handler for wrong data";
    task->handleException();
    m_pCurTask = nullptr;
    s_activeGuards.fetch_sub(1);
    pthread_exit(nullptr);
}
