#ifndef GHTESTFILES_H
#define GHTESTFILES_H

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

// Whole-file reads and writes of the tests, done with Qt alone so that no check depends on the code under test.
namespace GHTestFiles {

// The file's bytes; empty when it cannot be read.
inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Makes the folder when needed and writes the file afresh.
inline bool writeAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// A fixture file that must exist for the test to mean anything: its path, or the test run ends.
inline QString fixture(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write the fixture %s", qPrintable(path));
    return path;
}

} // namespace GHTestFiles

#endif
