#ifndef JXCURRENTFOLDER_H
#define JXCURRENTFOLDER_H

#include <QDebug>
#include <QDir>
#include <QRecursiveMutex>
#include <QString>

// The process has one current folder, and the data stores' conversions write their files into it. Whoever changes it
// holds this guard for as long as the change lasts: one lock for the whole process (recursive, so a guarded caller
// may call another guarded operation), and the folder that was current comes back on every exit.
class JXCurrentFolderGuard
{
public:
    JXCurrentFolderGuard() : m_locker(lock()), m_previous(QDir::currentPath()) {}
    ~JXCurrentFolderGuard()
    {
        if (!QDir::setCurrent(m_previous))
            qWarning("the current folder could not be restored");
    }

    JXCurrentFolderGuard(const JXCurrentFolderGuard&) = delete;
    JXCurrentFolderGuard& operator=(const JXCurrentFolderGuard&) = delete;

    QString previous() const { return m_previous; }

    // Makes path absolute in folder, creates it when missing and makes it the current folder; false (logged) when
    // a step fails.
    bool enter(const QString& path, QDir& folder)
    {
        folder.setPath(path);
        if (!folder.makeAbsolute()) {
            qWarning() << "the folder" << path << "can not be made absolute";
            return false;
        }
        if (!folder.exists() && !folder.mkpath(QStringLiteral("."))) {
            qWarning() << "the folder" << folder.path() << "can not be created";
            return false;
        }
        if (!QDir::setCurrent(folder.path())) {
            qWarning() << "the folder" << folder.path() << "can not be entered";
            return false;
        }
        return true;
    }

    static QRecursiveMutex& lock()
    {
        static QRecursiveMutex mutex;
        return mutex;
    }

private:
    struct Locker
    {
        explicit Locker(QRecursiveMutex& mutex) : m_mutex(mutex) { m_mutex.lock(); }
        ~Locker() { m_mutex.unlock(); }
        QRecursiveMutex& m_mutex;
    };

    Locker m_locker;
    QString m_previous;
};

#endif
