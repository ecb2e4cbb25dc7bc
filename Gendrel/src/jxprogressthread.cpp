#include "jxprogressthread.h"

#include <QDeadlineTimer>

#include <limits>

#include "jxlog.h"

JXProgressThread::JXProgressThread(int estimate, int step, QObject* parent)
    : QThread(parent), m_estimate(estimate), m_step(step)
{
    // With no time passing between rises the estimator would spin without the progress ever moving.
    if (m_step <= 0) {
        JX_WARNING << "step of" << step << "s is not positive, using 1 s";
        m_step = 1;
    }
}

JXProgressThread::~JXProgressThread()
{
    stop(-1, false);
}

void JXProgressThread::start(QThread::Priority priority)
{
    {
        QWriteLocker locker(&m_lock);
        m_stopped = false;
        m_paused = false;
        m_progress = 0;
    }
    QThread::start(priority);
}

void JXProgressThread::stop(int timeout, bool forceTerminate)
{
    {
        QWriteLocker locker(&m_lock);
        m_stopped = true;
    }
    {
        QMutexLocker locker(&m_sleepMutex);
        m_wakeUp.wakeAll();
    }
    const bool ended = wait(timeout < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeout));
    if (forceTerminate && !ended) {
        JX_WARNING << "estimator did not end within" << timeout << "ms, terminating it";
        // Taken by run only where it holds no lock, so the estimator stays usable afterwards.
        terminate();
    }
}

float JXProgressThread::getProress() const
{
    QReadLocker locker(&m_lock);
    return m_progress;
}

void JXProgressThread::setProgress(float progress)
{
    QWriteLocker locker(&m_lock);
    m_progress = progress;
}

bool JXProgressThread::isPaused() const
{
    QReadLocker locker(&m_lock);
    return m_paused;
}

void JXProgressThread::pause()
{
    QWriteLocker locker(&m_lock);
    m_paused = true;
}

void JXProgressThread::resume()
{
    QWriteLocker locker(&m_lock);
    m_paused = false;
}

void JXProgressThread::setEstimateTime(int estimate)
{
    QWriteLocker locker(&m_lock);
    m_estimate = estimate;
    m_progress = 0;
}

bool JXProgressThread::isStopRequested() const
{
    QReadLocker locker(&m_lock);
    return m_stopped;
}

// Returns false when a stop was asked for before the step was over.
bool JXProgressThread::sleepOneStep(int step)
{
    const QDeadlineTimer deadline(static_cast<qint64>(step) * 1000);
    QMutexLocker locker(&m_sleepMutex);
    while (!isStopRequested()) {
        if (!m_wakeUp.wait(&m_sleepMutex, deadline))
            return true;
    }
    return false;
}

// Runs on the estimator's own thread.
void JXProgressThread::run()
{
    // A thread cancelled while it holds m_lock, or inside the wait on m_wakeUp, would leave that lock taken for
    // good; forced termination is therefore taken only at the top of the loop, where nothing is held.
    setTerminationEnabled(false);

    int step;
    {
        QReadLocker locker(&m_lock);
        step = m_step;
    }
    qint64 elapsed = 0;
    for (;;) {
        setTerminationEnabled(true); // a pending terminate ends the thread here
        setTerminationEnabled(false);
        if (isStopRequested())
            return;
        if (!sleepOneStep(step))
            return;
        if (isPaused())
            continue;

        float progress;
        {
            QWriteLocker locker(&m_lock);
            elapsed += step;
            // The estimate is read at every rise, so a new one counts from the next rise on.
            if (m_estimate == 0)
                m_progress = std::numeric_limits<float>::infinity();
            else
                m_progress = static_cast<float>(static_cast<double>(elapsed) / m_estimate);
            progress = m_progress;
        }
        // Tested on the stored single-precision value: a rise to exactly 0.95 is stored just below it.
        if (static_cast<double>(progress) >= 0.95)
            return;
    }
}
