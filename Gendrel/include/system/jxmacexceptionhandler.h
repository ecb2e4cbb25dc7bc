#ifndef JXMACEXCEPTIONHANDLER_H
#define JXMACEXCEPTIONHANDLER_H

#include "system/jxexceptionhandler.h"

// The POSIX fault guard. The six guarded signals (SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS, SIGPIPE) get one
// process-wide handler while at least one task is guarded; each thread knows its own current task, so the handler
// ends only a thread that runs a guarded task. A signal that reaches any other thread is handled as the system
// would: a broken pipe is ignored, the others end the process.
class JXMacExceptionHandler : public JXIExceptionHandler
{
public:
    bool run(JXExceptionTask* task) override;

    // Gives the six signals the handler, or their default disposition when handler is null.
    static void setExceptionHandler(void (*handler)(int));

    static void SignalHandler(int signalNumber);

private:
    // The task guarded on the calling thread; null on every thread that runs no guarded task.
    static thread_local JXExceptionTask* m_pCurTask;
};

#endif
