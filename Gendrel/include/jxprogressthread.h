#ifndef JXPROGRESSTHREAD_H
#define JXPROGRESSTHREAD_H

#include <QMutex>
#include <QReadWriteLock>
#include <QThread>
#include <QWaitCondition>

// Estimates the progress of a long operation that cannot be observed, from the time it is expected to take: every
// step seconds the fraction rises to the elapsed share of the estimate, until it reaches 0.95 or the owner stops it.
// Every operation but run may be called from any thread.
class JXProgressThread : public QThread
{
    Q_OBJECT

public:
    // estimate and step in seconds
    JXProgressThread(int estimate, int step, QObject* parent = nullptr);
    ~JXProgressThread() override;

    // Hides QThread::start, which would not reset the estimate: call it on a JXProgressThread, not through a QThread.
    void start(QThread::Priority priority = QThread::InheritPriority);
    // timeout in milliseconds, -1 waits without limit
    void stop(int timeout, bool forceTerminate);

    float getProress() const;
    void setProgress(float progress);
    bool isPaused() const;
    void pause();
    void resume();
    void setEstimateTime(int estimate);

protected:
    void run() override;

private:
    bool isStopRequested() const;
    bool sleepOneStep(int step);

    mutable QReadWriteLock m_lock{QReadWriteLock::Recursive}; // guards the four fields below
    float m_progress = 0;
    int m_estimate;
    bool m_paused = false;
    bool m_stopped = false;
    int m_step;

    // The sleep between two rises waits here, so that stop can cut it short.
    QMutex m_sleepMutex;
    QWaitCondition m_wakeUp;
};

#endif
