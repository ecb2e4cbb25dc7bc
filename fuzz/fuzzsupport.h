#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

// What the libFuzzer targets that touch files share: a scratch folder of their own process, quiet logging, and
// checks that abort so that libFuzzer keeps the input.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace JXFuzz {

inline void require(bool condition, const char* what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// Tens of thousands of runs a minute would drown libFuzzer's own lines; a fatal message still aborts.
inline void silenceMessages()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(message));
            std::abort();
        }
    });
}

// Removes a file or a whole tree; links are removed, never followed.
inline void removeTree(const QString& path)
{
    std::error_code error;
    std::filesystem::remove_all(std::filesystem::path(QFile::encodeName(path).toStdString()), error);
}

inline QString scratchRoot_;

inline void removeScratchRoot()
{
    if (!scratchRoot_.isEmpty())
        removeTree(scratchRoot_);
}

// A fresh folder of this process, removed when the process exits normally. On tmpfs when there is one: the targets
// flush what they write, which costs nothing there. JX_FUZZ_SCRATCH names another parent.
inline QString scratchRoot(const char* target)
{
    if (!scratchRoot_.isEmpty())
        return scratchRoot_;
    QString parent = qEnvironmentVariable("JX_FUZZ_SCRATCH");
    if (parent.isEmpty())
        parent = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    scratchRoot_ = QStringLiteral("%1/jx-fuzz-%2-%3").arg(parent, QLatin1String(target)).arg(::getpid());
    removeTree(scratchRoot_);
    require(QDir().mkpath(scratchRoot_), "cannot make the scratch folder");
    std::atexit(removeScratchRoot);
    return scratchRoot_;
}

inline bool writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The names directly inside a folder, hidden ones too, sorted.
inline QStringList entriesOf(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

struct TreeEntry
{
    QString path; // relative to the tree's root
    char kind;    // 'f' file, 'd' folder, 'l' link, '?' anything else
};

// Every entry below root, without following links, in a stable order.
inline QList<TreeEntry> treeOf(const QString& root)
{
    QList<TreeEntry> entries;
    QStringList pending{QString()};
    while (!pending.isEmpty()) {
        const QString relative = pending.takeFirst();
        const QString folder = relative.isEmpty() ? root : root + QLatin1Char('/') + relative;
        for (const QString& name : entriesOf(folder)) {
            const QString path = relative.isEmpty() ? name : relative + QLatin1Char('/') + name;
            struct stat info = {};
            char kind = '?';
            if (::lstat(QFile::encodeName(root + QLatin1Char('/') + path).constData(), &info) == 0)
                kind = S_ISLNK(info.st_mode) ? 'l' : S_ISDIR(info.st_mode) ? 'd' : S_ISREG(info.st_mode) ? 'f' : '?';
            entries.append({path, kind});
            if (kind == 'd')
                pending.append(path);
        }
    }
    return entries;
}

// Names, kinds and file contents of a tree: equal snapshots mean nothing in it changed.
inline QByteArray snapshotOf(const QString& root)
{
    QByteArray snapshot;
    for (const TreeEntry& entry : treeOf(root)) {
        snapshot += entry.kind + QFile::encodeName(entry.path) + '\n';
        if (entry.kind == 'f')
            snapshot += readFile(root + QLatin1Char('/') + entry.path).toHex() + '\n';
    }
    return snapshot;
}

} // namespace JXFuzz

#endif
