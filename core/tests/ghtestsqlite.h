#ifndef GHTESTSQLITE_H
#define GHTESTSQLITE_H

#include <QtTest>

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "ghtestfiles.h"

// What the database tests share. Fixtures are SQL texts that the sqlite3 command-line tool turns into database
// files, and checks read files back with the same tool, so that neither depends on the code under test.
namespace GHTestSqlite {

const QString kSqlite = QStringLiteral("/usr/bin/sqlite3");

// Runs the tool on a database with the SQL text on its input; false (with the tool's error) when it fails.
inline bool run(const QString& path, const QByteArray& sql, QByteArray* output = nullptr, bool readOnly = false)
{
    QProcess process;
    QStringList arguments{QStringLiteral("-batch"), QStringLiteral("-bail")};
    if (readOnly)
        arguments << QStringLiteral("-readonly");
    process.start(kSqlite, arguments << path);
    if (!process.waitForStarted(10000))
        return false;
    process.write(sql);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        return false;
    const QByteArray error = process.readAllStandardError();
    if (output)
        *output = process.readAllStandardOutput().trimmed();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning("sqlite3 failed on %s: %s", qUtf8Printable(path), error.constData());
        return false;
    }
    return true;
}

// Makes the database file (and its folder) from a fixture text.
inline bool build(const QString& path, const QByteArray& sql)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::remove(path);
    return run(path, sql);
}

// The rows of one query, "|" between columns and a line feed between rows; read only, so that asking never makes a
// database appear. "<error>" when the tool fails.
inline QString query(const QString& path, const QByteArray& sql)
{
    QByteArray output;
    return run(path, sql, &output, true) ? QString::fromUtf8(output) : QStringLiteral("<error>");
}

// How many of this process's file descriptors refer to the file.
inline int openDescriptors(const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& name : fds.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        if (!target.isEmpty() && QFileInfo(fds.filePath(name)).symLinkTarget() == target)
            ++count;
    }
    return count;
}

using GHTestFiles::readAll;
using GHTestFiles::writeAll;

// Another program reading a database: the sqlite3 tool inside a read transaction, so that no one can commit a
// write to the file until it ends (at the latest when the object goes out of scope).
class ReadLock
{
public:
    explicit ReadLock(const QString& path)
    {
        m_process.start(kSqlite, QStringList{QStringLiteral("-batch"), path});
        if (!m_process.waitForStarted(10000))
            return;
        m_process.write("BEGIN; SELECT count(*) FROM sqlite_master;\n");
        // The tool answers only once it holds the read.
        m_holding = m_process.waitForReadyRead(10000);
    }
    ~ReadLock() { end(); }
    ReadLock(const ReadLock&) = delete;
    ReadLock& operator=(const ReadLock&) = delete;

    bool isHolding() const { return m_holding; }
    void end()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(10000);
        m_holding = false;
    }

private:
    QProcess m_process;
    bool m_holding = false;
};

// How long a connection of this process waits for another's lock before its statement fails as busy.
inline bool setBusyWait(const QString& connection, int milliseconds)
{
    QSqlQuery query(QSqlDatabase::database(connection, false));
    return query.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(milliseconds));
}

// Collects warnings instead of printing them, for checks that none (or a given one) came.
class WarningCapture
{
public:
    WarningCapture() { s_previous = qInstallMessageHandler(&WarningCapture::handle); }
    ~WarningCapture()
    {
        qInstallMessageHandler(s_previous);
        QMutexLocker locker(&s_mutex);
        s_warnings.clear();
    }
    QStringList warnings() const
    {
        QMutexLocker locker(&s_mutex);
        return s_warnings;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& message)
    {
        if (type == QtDebugMsg || type == QtInfoMsg)
            return;
        QMutexLocker locker(&s_mutex);
        s_warnings << message;
    }
    static inline QMutex s_mutex;
    static inline QStringList s_warnings;
    static inline QtMessageHandler s_previous = nullptr;
};

} // namespace GHTestSqlite

#endif
