#include "compress/jxziputil.h"

#include "jxlog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSet>
#include <QVector>

#include <quazip.h>
#include <quazipfile.h>
#include <quazipfileinfo.h>
#include <quazipnewinfo.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Large enough that the copy costs a handful of calls per megabyte.
constexpr qint64 kCopyBlockSize = 256 * 1024;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool packFiles(const QString& zipPath, const QStringList& files, QMutex* mutex, float* progress, const char* prefix,
               const char* openPrefix)
{
    // The archive is written beside its final name and renamed over it only
    // when complete: a failed pack must not leave an archive that looks whole
    // but lacks entries.
    QSaveFile archiveFile(zipPath);
    QuaZip zip(&archiveFile);
    zip.setAutoClose(false);
    if (!zip.open(QuaZip::mdCreate)) {
        qWarning("%s: open archive, error code=%d", openPrefix, zip.getZipError());
        return false;
    }

    QVector<QFileInfo> fileInfos;
    fileInfos.reserve(files.size());
    for (const QString& file : files)
        fileInfos.append(QFileInfo(file));

    QByteArray buffer(kCopyBlockSize, Qt::Uninitialized);
    int packed = 0;
    for (const QFileInfo& fileInfo : qAsConst(fileInfos)) {
        if (!fileInfo.isFile() || fileInfo.fileName() == zipPath)
            continue;

        // Deliberately the base name, relative to the current directory: callers
        // list paths but make the folder holding the files current.
        QFile inFile(fileInfo.fileName());
        if (!inFile.open(QIODevice::ReadOnly)) {
            qWarning("%s: inFile.open(): %s", prefix, qPrintable(inFile.errorString()));
            archiveFile.cancelWriting();
            return false;
        }

        QuaZipFile outFile(&zip);
        if (!outFile.open(QIODevice::WriteOnly, QuaZipNewInfo(fileInfo.fileName(), inFile.fileName()))) {
            qWarning("%s: outFile.open(): %d", prefix, outFile.getZipError());
            archiveFile.cancelWriting();
            return false;
        }

        bool written = true;
        for (;;) {
            const qint64 count = inFile.read(buffer.data(), buffer.size());
            if (count < 0) {
                qWarning("%s: inFile.read(): %s", prefix, qPrintable(inFile.errorString()));
                archiveFile.cancelWriting();
                return false;
            }
            if (count == 0)
                break;
            if (outFile.write(buffer.constData(), count) != count) {
                written = false;
                break;
            }
        }
        if (!written || outFile.getZipError() != UNZ_OK) {
            qWarning("%s: outFile.putChar(): %d", prefix, outFile.getZipError());
            archiveFile.cancelWriting();
            return false;
        }

        outFile.close();
        if (outFile.getZipError() != UNZ_OK) {
            qWarning("%s: outFile.close(): %d", prefix, outFile.getZipError());
            archiveFile.cancelWriting();
            return false;
        }
        inFile.close();

        if (mutex) {
            mutex->lock();
            *progress = float(packed) / float(files.size());
            mutex->unlock();
        }
        ++packed;
    }

    zip.close();
    if (zip.getZipError() != UNZ_OK) {
        qWarning("%s: zip.close(): %d", prefix, zip.getZipError());
        archiveFile.cancelWriting();
        return false;
    }
    if (!archiveFile.commit()) {
        qWarning("%s: commit(): %s", prefix, qPrintable(archiveFile.errorString()));
        return false;
    }
    return true;
}

// Why an entry name may not be unpacked, or an empty text when it may. Such a
// name could land outside the destination here or on another system.
QString unsafeNameReason(const QString& name, const QString& destinationPrefix)
{
    if (name.isEmpty())
        return QStringLiteral("empty name");
    // The system ends a name at a zero byte, so another name than the one
    // checked here would be written.
    if (name.contains(QChar(0)))
        return QStringLiteral("zero byte in name");
    if (name.startsWith(QLatin1Char('/')))
        return QStringLiteral("absolute path");
    if (name.contains(QLatin1Char('\\')))
        return QStringLiteral("backslash in path");
    if (name.size() >= 2 && name.at(1) == QLatin1Char(':') && name.at(0).unicode() < 128 && name.at(0).isLetter())
        return QStringLiteral("drive prefix");
    const QStringList parts = name.split(QLatin1Char('/'));
    if (parts.contains(QStringLiteral("..")))
        return QStringLiteral("parent folder component");
    if (!QDir::cleanPath(destinationPrefix + name).startsWith(destinationPrefix))
        return QStringLiteral("not below the destination");
    return QString();
}

bool isFolderEntry(const QString& name)
{
    return name.endsWith(QLatin1Char('/'));
}

// Every entry is checked before the first byte is written, so a hostile or
// unusable archive leaves the destination as it was. namedPaths receives every
// path the archive names (folders on the way too), in lower case.
bool checkEntries(const QVector<QuaZipFileInfo64>& entries, const QString& destination, QSet<QString>& namedPaths)
{
    QString destinationPrefix = QDir::cleanPath(QDir(destination).absolutePath());
    if (!destinationPrefix.endsWith(QLatin1Char('/')))
        destinationPrefix += QLatin1Char('/');

    QSet<QString> filePaths;
    QSet<QString> folderPaths;
    for (const QuaZipFileInfo64& entry : entries) {
        const QString reason = unsafeNameReason(entry.name, destinationPrefix);
        if (!reason.isEmpty()) {
            JX_WARNING << "refusing archive, entry" << entry.name << ":" << reason;
            return false;
        }
        if (entry.isEncrypted()) {
            JX_WARNING << "refusing archive, entry" << entry.name << "is encrypted";
            return false;
        }
        if (entry.method != 0 && entry.method != Z_DEFLATED) {
            JX_WARNING << "refusing archive, entry" << entry.name << "uses compression method" << entry.method;
            return false;
        }
        const QString path = QDir::cleanPath(entry.name);
        if (isFolderEntry(entry.name))
            folderPaths.insert(path);
        else
            filePaths.insert(path);
        for (int slash = path.indexOf(QLatin1Char('/')); slash >= 0; slash = path.indexOf(QLatin1Char('/'), slash + 1))
            folderPaths.insert(path.left(slash));
    }
    // A file that is also a folder of another entry cannot both be written; it
    // is also how a link entry would be followed by a later entry.
    for (const QString& path : qAsConst(filePaths)) {
        if (folderPaths.contains(path)) {
            JX_WARNING << "refusing archive, entry" << path << "is both a file and a folder";
            return false;
        }
    }
    for (const QSet<QString>* paths : {&filePaths, &folderPaths}) {
        for (const QString& path : *paths)
            namedPaths.insert(path.toLower());
    }
    return true;
}

// Opens folders below the destination one name at a time without following
// symbolic links, so a link inside the destination cannot lead a write out of
// it. Keeps the last folder open: archives list the files of a folder together.
class DestinationTree
{
public:
    explicit DestinationTree(const QString& root) : m_root(root) {}
    ~DestinationTree()
    {
        if (m_folderFd >= 0 && m_folderFd != m_rootFd)
            ::close(m_folderFd);
        if (m_rootFd >= 0)
            ::close(m_rootFd);
    }
    DestinationTree(const DestinationTree&) = delete;
    DestinationTree& operator=(const DestinationTree&) = delete;

    // Returns a descriptor owned by the tree, valid until the next call, or -1
    // after logging why.
    int openFolder(const QStringList& names, bool create)
    {
        if (m_folderFd >= 0 && m_folderNames == names)
            return m_folderFd;
        if (m_rootFd < 0) {
            if (create)
                QDir().mkpath(m_root);
            m_rootFd = ::open(QFile::encodeName(m_root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (m_rootFd < 0) {
                JX_WARNING << "cannot open destination" << m_root << ":" << errnoText(errno);
                return -1;
            }
        }
        if (m_folderFd >= 0 && m_folderFd != m_rootFd)
            ::close(m_folderFd);
        m_folderFd = -1;

        int folderFd = m_rootFd;
        for (const QString& name : names) {
            const QByteArray encodedName = QFile::encodeName(name);
            if (create && ::mkdirat(folderFd, encodedName.constData(), 0777) != 0 && errno != EEXIST) {
                const int error = errno;
                closeBelowRoot(folderFd);
                JX_WARNING << "cannot create folder" << name << "in" << m_root << ":" << errnoText(error);
                return -1;
            }
            const int childFd =
                ::openat(folderFd, encodedName.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            const int error = errno;
            closeBelowRoot(folderFd);
            if (childFd < 0) {
                JX_WARNING << "cannot enter folder" << name << "in" << m_root
                           << "(a symbolic link is not followed):" << errnoText(error);
                return -1;
            }
            folderFd = childFd;
        }
        m_folderFd = folderFd;
        m_folderNames = names;
        return m_folderFd;
    }

private:
    void closeBelowRoot(int fd)
    {
        if (fd != m_rootFd)
            ::close(fd);
    }

    QString m_root;
    int m_rootFd = -1;
    int m_folderFd = -1;
    QStringList m_folderNames;
};

// A temporary file in the entry's folder; renamed over the final name once the
// entry proved good, removed otherwise. Its name is one the archive does not
// give (case ignored, for volumes that ignore it), and it is created only where
// nothing exists: whatever the archive names is never a temporary, so the
// removal can never take something the archive made.
class PendingFile
{
public:
    explicit PendingFile(int folderFd) : m_folderFd(folderFd) {}
    ~PendingFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_name.isEmpty())
            ::unlinkat(m_folderFd, m_name.constData(), 0);
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // folderPath is the entry's folder below the destination, empty or ending in "/".
    bool create(const QString& folderPath, const QSet<QString>& namedPaths)
    {
        for (int attempt = 0; attempt < 16; ++attempt) {
            const QByteArray name =
                ".jxunzip-" + QByteArray::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, '0');
            if (namedPaths.contains(folderPath + QLatin1String(name)))
                continue;
            m_fd = ::openat(m_folderFd, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (m_fd >= 0) {
                m_name = name;
                return true;
            }
            if (errno != EEXIST)
                return fail(errno);
        }
        return fail(EEXIST);
    }

    bool write(const char* data, qint64 size)
    {
        while (size > 0) {
            const ssize_t written = ::write(m_fd, data, size_t(size));
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                return fail(errno);
            }
            data += written;
            size -= written;
        }
        return true;
    }

    // Sets the modification time and closes; a failed close can still mean
    // lost data (delayed allocation, network volumes).
    bool finish(const QDateTime& modified)
    {
        if (modified.isValid()) {
            // Zip times start in 1980: the divisions need no rounding care.
            const qint64 msecs = modified.toMSecsSinceEpoch();
            const timespec times[2] = {{0, UTIME_OMIT}, {time_t(msecs / 1000), long(msecs % 1000 * 1000000)}};
            // Access time left as it is. Only the time is lost when this
            // fails; the content is good.
            ::futimens(m_fd, times);
        }
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            return fail(errno);
        return true;
    }

    bool commit(const QByteArray& finalName)
    {
        if (::renameat(m_folderFd, m_name.constData(), m_folderFd, finalName.constData()) != 0)
            return fail(errno);
        m_name.clear();
        return true;
    }

    QString errorString() const { return m_error; }

private:
    bool fail(int error)
    {
        m_error = errnoText(error);
        return false;
    }

    int m_folderFd;
    int m_fd = -1;
    QByteArray m_name;
    QString m_error;
};

// The archive as minizip reads it: a seek before nearly every small read,
// alternating between the central directory and the entries' data, and the
// headers one byte per read. Opened buffered, so those bytes come from
// QIODevice's buffer without a call down here; QFile's buffer would be dropped
// at every seek back, so two windows held here serve both places.
class ArchiveReader : public QIODevice
{
public:
    explicit ArchiveReader(const QString& path) : m_file(path) {}

    bool open(OpenMode mode) override
    {
        if (mode != QIODevice::ReadOnly || !m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            setErrorString(m_file.errorString());
            return false;
        }
        m_size = m_file.size();
        m_devicePosition = 0;
        return QIODevice::open(QIODevice::ReadOnly);
    }
    void close() override
    {
        QIODevice::close();
        m_file.close();
    }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_size; }
    // With the buffer, pos() is where the reader is, not where readData goes on.
    bool seek(qint64 position) override
    {
        if (!QIODevice::seek(position))
            return false;
        m_devicePosition = position;
        return true;
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        qint64 position = m_devicePosition;
        qint64 done = 0;
        while (done < maxSize && position < m_size) {
            Window* window = windowAt(position);
            if (!window) {
                // Large reads go straight to the file.
                if (maxSize - done >= kWindowSize) {
                    if (!m_file.seek(position))
                        return -1;
                    const qint64 count = m_file.read(data + done, maxSize - done);
                    if (count < 0)
                        return -1;
                    m_devicePosition = position + count;
                    return done + count;
                }
                window = fill(position);
                if (!window) {
                    m_devicePosition = position;
                    return done > 0 ? done : -1;
                }
                if (window->data.isEmpty())
                    break;
            }
            const qint64 offset = position - window->start;
            const qint64 count = qMin(maxSize - done, qint64(window->data.size()) - offset);
            std::memcpy(data + done, window->data.constData() + offset, size_t(count));
            done += count;
            position += count;
        }
        m_devicePosition = position;
        return done;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    static constexpr qint64 kWindowSize = 32 * 1024;
    struct Window
    {
        qint64 start = 0;
        QByteArray data;
        quint64 used = 0;
    };

    Window* windowAt(qint64 position)
    {
        for (Window& window : m_windows) {
            if (position >= window.start && position < window.start + window.data.size()) {
                window.used = ++m_clock;
                return &window;
            }
        }
        return nullptr;
    }

    Window* fill(qint64 position)
    {
        Window& window = m_windows[0].used <= m_windows[1].used ? m_windows[0] : m_windows[1];
        window.data.resize(int(kWindowSize));
        qint64 count = -1;
        if (m_file.seek(position))
            count = m_file.read(window.data.data(), kWindowSize);
        if (count < 0) {
            window.data.clear();
            setErrorString(m_file.errorString());
            return nullptr;
        }
        window.data.resize(int(count));
        window.start = position;
        window.used = ++m_clock;
        return &window;
    }

    QFile m_file;
    qint64 m_size = 0;
    qint64 m_devicePosition = 0;
    Window m_windows[2];
    quint64 m_clock = 0;
};

// minizip refuses an archive that holds nothing but its end record, which is
// what packing an empty list writes: a valid archive without entries.
bool isArchiveWithoutEntries(const QString& zipPath)
{
    QFile file(zipPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    const QByteArray record = file.read(22);
    if (record.size() != 22 || !record.startsWith("PK\x05\x06"))
        return false;
    for (int i = 4; i < 20; ++i) {
        if (record.at(i) != 0)
            return false;
    }
    const int commentLength = uchar(record.at(20)) | uchar(record.at(21)) << 8;
    return size == 22 + commentLength;
}

bool unpackArchive(const QString& zipPath, const QString& destination, QMutex* mutex, float* progress, float scale,
                   qint64 sizeLimit)
{
    const float startValue = mutex ? *progress : 0.0f;

    ArchiveReader archiveFile(zipPath);
    QuaZip zip(&archiveFile);
    if (!zip.open(QuaZip::mdUnzip)) {
        if (isArchiveWithoutEntries(zipPath))
            return true;
        qWarning("(): %d", zip.getZipError());
        return false;
    }

    const int total = zip.getEntriesCount();
    if (total < 0) {
        qWarning("(): %d", zip.getZipError());
        return false;
    }
    // The count is the archive's claim: a zip64 end record of a few bytes can claim two billion entries. Room is
    // made only for what the archive's size can hold, at least 46 bytes per directory record; a claim beyond the
    // records fails when they run out.
    constexpr qint64 kDirectoryRecordMinSize = 46;
    QVector<QuaZipFileInfo64> entries;
    entries.reserve(int(qMin<qint64>(total, archiveFile.size() / kDirectoryRecordMinSize)));
    for (int index = 0; index < total; ++index) {
        const bool positioned = index == 0 ? zip.goToFirstFile() : zip.goToNextFile();
        QuaZipFileInfo64 entry;
        if (!positioned || !zip.getCurrentFileInfo(&entry)) {
            qWarning("(): getCurrentFileInfo(): %d\n", zip.getZipError());
            return false;
        }
        entries.append(entry);
    }
    QSet<QString> namedPaths;
    if (!checkEntries(entries, destination, namedPaths))
        return false;
    // An entry yields no more than the size it declares, so the declared sizes bound what the unpack writes.
    if (sizeLimit >= 0) {
        quint64 declared = 0;
        for (const QuaZipFileInfo64& entry : qAsConst(entries)) {
            declared += entry.uncompressedSize;
            if (entry.uncompressedSize > quint64(sizeLimit) || declared > quint64(sizeLimit)) {
                JX_WARNING << "refusing" << zipPath << ": it unpacks to more than" << sizeLimit << "bytes";
                return false;
            }
        }
    }

    DestinationTree tree(destination);
    QByteArray buffer(kCopyBlockSize, Qt::Uninitialized);
    for (int index = 0; index < entries.size(); ++index) {
        const QuaZipFileInfo64& entry = entries.at(index);
        const bool positioned = index == 0 ? zip.goToFirstFile() : zip.goToNextFile();
        QuaZipFile file(&zip);
        if (!positioned || !file.open(QIODevice::ReadOnly)) {
            qWarning("(): file.open(): %d", positioned ? file.getZipError() : zip.getZipError());
            return false;
        }

        const QString name = entry.name;
        const QString cleanName = QDir::cleanPath(name);
        const QStringList names = cleanName.split(QLatin1Char('/'));
        const bool folderEntry = isFolderEntry(name);
        // Without progress every entry makes its folders, the destination too;
        // with progress only entries in a sub-folder do.
        const bool createFolders = !mutex || name.contains(QLatin1Char('/'));
        const int folderFd =
            tree.openFolder(folderEntry ? names : QStringList(names.mid(0, names.size() - 1)), createFolders);
        if (folderFd < 0)
            return false;

        if (!mutex && jxDebugEnabled())
            qDebug() << "[ decompress ]\t[" << __LINE__ << "]\t"
                     << "unzip file name  " << (destination + QLatin1Char('/') + name);

        if (folderEntry) {
            file.close();
            if (file.getZipError() != UNZ_OK) {
                qWarning("(): file.close(): %d", file.getZipError());
                return false;
            }
        } else {
            if (entry.isSymbolicLink())
                JX_DEBUG << "link entry" << name << "unpacked as a regular file";
            PendingFile output(folderFd);
            const auto outputPath = [&] { return destination + QLatin1Char('/') + name; };
            if (!output.create(cleanName.left(cleanName.lastIndexOf(QLatin1Char('/')) + 1).toLower(), namedPaths)) {
                JX_WARNING << "cannot create output file" << outputPath() << ":" << output.errorString();
                return false;
            }
            qint64 count = 0;
            while ((count = file.read(buffer.data(), buffer.size())) > 0) {
                if (!output.write(buffer.constData(), count)) {
                    JX_WARNING << "cannot write" << outputPath() << ":" << output.errorString();
                    return false;
                }
            }
            if (count < 0 || file.getZipError() != UNZ_OK) {
                qWarning("(): file.getFileName(): %d", file.getZipError());
                return false;
            }
            if (!file.atEnd()) {
                qWarning("(): read all but not EOF");
                return false;
            }
            if (!output.finish(entry.dateTime)) {
                JX_WARNING << "cannot write" << outputPath() << ":" << output.errorString();
                return false;
            }
            // Closing the entry checks its CRC; the file goes into place only after.
            file.close();
            if (file.getZipError() != UNZ_OK) {
                qWarning("(): file.close(): %d", file.getZipError());
                return false;
            }
            if (!output.commit(QFile::encodeName(names.last()))) {
                JX_WARNING << "cannot create output file" << outputPath() << ":" << output.errorString();
                return false;
            }
        }

        if (mutex) {
            mutex->lock();
            *progress = startValue + (float(index) / float(total)) * scale;
            mutex->unlock();
        }
    }

    zip.close();
    if (zip.getZipError() != UNZ_OK) {
        qWarning("(): zip.close(): %d", zip.getZipError());
        return false;
    }
    return true;
}

} // namespace

JXZipUtil::JXZipUtil(QObject* parent) : JXCompress(parent) {}

JXZipUtil::~JXZipUtil() = default;

bool JXZipUtil::compress(const QString& zipPath, const QStringList& files)
{
    return packFiles(zipPath, files, nullptr, nullptr, "JXZipUtil::compress()", "JXZipUtil::compress()");
}

bool JXZipUtil::compress(const QString& zipPath, const QStringList& files, QMutex* mutex, float* progress)
{
    if (!mutex)
        return false;
    if (!progress) {
        JX_WARNING << "no progress value to write to";
        return false;
    }
    return packFiles(zipPath, files, mutex, progress, "JXZipUtil::compress()", "()");
}

bool JXZipUtil::compressFolder(const QString& zipPath, const QString& folder)
{
    QStringList files;
    const QFileInfoList listing = QDir(folder).entryInfoList();
    for (const QFileInfo& item : listing)
        files.append(item.filePath());
    return packFiles(zipPath, files, nullptr, nullptr, "JXZipUtil::compressFolder()", "JXZipUtil::compressFolder()");
}

bool JXZipUtil::decompress(const QString& zipPath, const QString& destination)
{
    return unpackArchive(zipPath, destination, nullptr, nullptr, 0.0f, m_sizeLimit);
}

bool JXZipUtil::decompress(const QString& zipPath, const QString& destination, QMutex* mutex, float* progress,
                           float scale)
{
    if (!mutex)
        return false;
    if (!progress) {
        JX_WARNING << "no progress value to write to";
        return false;
    }
    return unpackArchive(zipPath, destination, mutex, progress, scale, m_sizeLimit);
}
