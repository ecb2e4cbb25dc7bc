#ifndef JXDEVICEVOLUME_H
#define JXDEVICEVOLUME_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

#include <sys/stat.h>

// The files of a device volume, or of any folder that stands for one, touched so that nothing outside it changes.
// Every path is taken below the root one name at a time from a folder held open, and no step follows a link: a link
// on the volume is never entered, written through, copied through or emptied, and a removal takes the link itself.
// A file is replaced by writing it beside its place under ".name.part", flushing it, reading it back until it
// equals what was written, and renaming it over its place; a failure takes away only the file it created.
//
// The root's file system is noted when the object is made. Once the root is on another one (the volume was pulled
// and its mount point is a plain folder of the computer again) every operation fails.
//
// Paths are absolute paths below the root or paths relative to it; a path outside the root or with ".." is refused.
// Every failure is logged where it happens. Not shared between threads.
class JXDeviceVolume
{
public:
    enum class Kind { Missing, File, Folder, Link, Other };

    explicit JXDeviceVolume(const QString& root);

    QString root() const { return m_root; }
    // The root is still a folder on the file system it was on when this object was made.
    bool isPresent() const;
    // How long a written file may take to read back equal, and the pause between tries; 30000 and 5000 ms unless set.
    void setReadBack(qint64 limitMs, qint64 retryMs);
    // Bytes the volume's file system holds in all; 0 when it cannot be measured.
    qint64 capacity() const;

    // What the name is, the link itself for a link.
    Kind kindOf(const QString& path) const;
    // The names in a folder of the volume, hidden ones too; empty for a folder that is a link or missing.
    QStringList entryNames(const QString& folder) const;
    // A regular file whole when it holds at most limit bytes; false, logged, otherwise.
    bool readFile(const QString& path, qint64 limit, QByteArray& bytes) const;
    // The first count bytes of a regular file (fewer when it is shorter); false when it cannot be read.
    bool readStart(const QString& path, qint64 count, QByteArray& bytes) const;

    // Writes bytes at path, or copies the computer's file source there, the way every file reaches the volume.
    // keepTime gives the copy the source's modification time.
    bool writeFile(const QString& path, const QByteArray& bytes);
    bool copyFileIn(const QString& source, const QString& path, bool keepTime = false);
    // The same in two steps, for files that take their places together: the complete, read-back copy beside path,
    // then the rename. discardBeside takes away a copy that is not to be placed.
    bool writeBeside(const QString& path, const QByteArray& bytes);
    bool copyBeside(const QString& source, const QString& path, bool keepTime = false);
    bool moveIntoPlace(const QString& path);
    void discardBeside(const QString& path);

    // Copies the non-hidden files and folders below the computer's sourceFolder into folder, made as needed; links
    // in the source are passed over. A file already there with the same size and a modification time less than
    // sameWindowMs apart is left alone (a negative window copies every file). copied receives each destination
    // path, the last copied first. The files go in batches: all copies of a batch written beside their places, one
    // flush, each read back, then all renamed into place. Stops at the first failure; the batch's copies not yet
    // in place go again.
    bool copyTreeIn(const QString& sourceFolder, const QString& folder, bool keepTime, qint64 sameWindowMs,
                    QStringList* copied);
    // Copies the non-hidden files and folders below the volume's folder into the computer's localFolder, made as
    // needed. A link met on the volume is left alone, logged; a folder that is itself a link is refused.
    bool copyTreeOut(const QString& folder, const QString& localFolder);

    bool makeFolders(const QString& path);
    // A file or link; true when nothing is left at path. A folder is refused.
    bool removeFile(const QString& path);
    // A folder with all it holds, or a file or link; true when nothing is left at path.
    bool removeTree(const QString& path);
    // Within the volume, replacing what is at to in one step.
    bool rename(const QString& from, const QString& to);
    // Gives the owner write permission and changes no other bit; a link is left alone.
    bool addOwnerWrite(const QString& path);
    // Flushes every write of the volume's file system to the device.
    bool syncAll();

    // The hidden name beside path that a file is written under until it is complete.
    static QString partPathOf(const QString& path);

private:
    class Fd;
    struct Place;
    struct Pending;
    struct Batch;
    // Reads up to count bytes of the source at offset into buffer; -1 on error.
    using SourceReader = std::function<qint64(char* buffer, qint64 count, qint64 offset)>;
    enum class ReadBack { Match, Differs, Failed };

    bool names(const QString& path, QStringList& parts) const;
    int openRoot() const;
    int openFolder(const QStringList& parts, bool create, const QString& path, bool quiet = false) const;
    bool place(const QString& path, Place& where, bool createFolders = false, bool quiet = false) const;
    QString pathOf(const QStringList& parts) const;

    bool createBeside(const Place& where, Fd& output, struct stat& written) const;
    bool fillBeside(const Place& where, int output, qint64 size, const SourceReader& read,
                    const struct timespec* modified) const;
    bool writeBesideFrom(const Place& where, qint64 size, const SourceReader& read, const struct timespec* modified);
    static int openSource(const Place& where, const QString& source, struct stat& info);
    bool copyBesideAt(const Place& where, const QString& source, bool keepTime);
    bool moveIntoPlaceAt(const Place& where);
    // dropped: the copy's cached pages were dropped already (and may have been read ahead again).
    ReadBack readBack(const Place& where, const struct stat& written, qint64 size, const SourceReader& read,
                      bool dropped = false) const;
    bool readBackInTime(const Place& where, qint64 start) const;
    bool stillPresent(const Place& where) const;
    bool copyTreeInAt(const std::shared_ptr<Fd>& folder, const QStringList& parts, const QString& sourceFolder,
                      bool keepTime, qint64 sameWindowMs, Batch& batch, QStringList* copied);
    bool writePending(const Place& where, const QString& source, bool keepTime, Batch& batch);
    bool settleBatch(Batch& batch, QStringList* copied);
    ReadBack readBackPending(const Pending& file, bool dropped) const;
    static void discardBatch(Batch& batch);
    bool copyTreeOutAt(int folderFd, const QString& path, const QString& localFolder);
    bool remove(const QString& path, bool tree);
    bool removeContents(int folderFd, const QString& path);

    QString m_root;
    qint64 m_device = -1;
    qint64 m_readBackLimitMs = 30000;
    qint64 m_readBackRetryMs = 5000;
};

#endif
