#ifndef JXDEVICEVOLUME_P_H
#define JXDEVICEVOLUME_P_H

// What the files of JXDeviceVolume share: the system-call helpers, the descriptor holder and a name's place.

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include "device/jxdevicevolume.h"

namespace JXVolumeIo {

// Large enough to stream at the device's speed, small enough that an image never sits in memory.
constexpr qint64 kBlockSize = 1024 * 1024;

QString errorText(int error);
int retryOpenAt(int folder, const char* name, int flags, mode_t mode = 0);
// Up to size bytes at offset; fewer only at the end of the file. -1 on error.
qint64 readAt(int fd, char* buffer, qint64 size, qint64 offset);
// Reads a file of the computer held open.
std::function<qint64(char*, qint64, qint64)> readerOf(int fd);
bool writeAll(int fd, const char* data, qint64 size);
// The new directory entry must reach the device with the file's data. Some file systems cannot sync a folder;
// their entries were synced with the file.
bool syncFolder(int folderFd);
QByteArray partNameOf(const QByteArray& name);
// Names of a folder held open, "." and ".." left out; the folder's own descriptor stays open.
bool listFolder(int folderFd, QList<QByteArray>& names);
// Takes away what a failed write left in the folder, but only while the name still is the file that write opened:
// never a file that someone else put there meanwhile.
void removeWritten(int folderFd, const QByteArray& name, const struct stat& written, const QString& path);
// A regular file of the folder, opened for reading without following a link or waiting on a pipe.
int openRegularIn(int folderFd, const QByteArray& name, struct stat& info);

} // namespace JXVolumeIo

class JXDeviceVolume::Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Closes now, so that a failing close is seen; false with errno set then.
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

// The folder that holds a name, open, and the name in it. The files of one folder in a tree copy share its handle.
struct JXDeviceVolume::Place
{
    std::shared_ptr<Fd> held;
    QByteArray name;
    QString path;

    int folder() const { return held ? held->get() : -1; }
};

#endif
