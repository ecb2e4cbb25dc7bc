#ifndef JXEXCEPTIONHANDLER_H
#define JXEXCEPTIONHANDLER_H

#include <QScopedPointer>

// Work that runs under the fault guard.
class JXExceptionTask
{
public:
    virtual ~JXExceptionTask() {}
    virtual bool execute() = 0;
    // Told on the faulting thread, from inside the signal handler, just before that thread ends.
    virtual void handleException() = 0;
};

// What a platform provides to guard one task against fatal signals.
class JXIExceptionHandler
{
public:
    virtual ~JXIExceptionHandler() {}
    virtual bool run(JXExceptionTask* task) = 0;
};

// Runs a task so that a fault in it ends only the thread that runs it, instead of the whole process.
class JXExceptionHandler
{
public:
    JXExceptionHandler();
    ~JXExceptionHandler();

    bool run(JXExceptionTask* task);

private:
    Q_DISABLE_COPY(JXExceptionHandler)

    QScopedPointer<JXIExceptionHandler> m_handler;
};

#endif
