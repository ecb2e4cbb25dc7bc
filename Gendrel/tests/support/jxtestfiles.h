#ifndef JXTESTFILES_H
#define JXTESTFILES_H

#include <QtTest>

#include <QDirIterator>

// Files a test lays out and compares, written with checks that fail the calling test.
namespace JXTestFiles {

// Relative path to bytes; a folder reads "<dir>".
using FileSnapshot = QMap<QString, QByteArray>;

// Every file under a folder, hidden ones and leftovers included, with its bytes.
inline FileSnapshot snapshot(const QString& folder)
{
    FileSnapshot files;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        files.insert(QDir(folder).relativeFilePath(path), file.open(QIODevice::ReadOnly) ? file.readAll() : "<dir>");
    }
    return files;
}

// Makes the folder too. A failure fails the current test function; the caller returns early only if it checks
// QTest::currentTestFailed().
inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// The bytes of a file; empty when it cannot be read.
inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// Writes a file in a folder that exists; false when any of it fails.
inline bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace JXTestFiles

#endif // JXTESTFILES_H
