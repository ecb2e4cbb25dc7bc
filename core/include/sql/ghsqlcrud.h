#ifndef GHSQLCRUD_H
#define GHSQLCRUD_H

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

class GHDbModel;

// Turns a table model into one select, insert, update or delete with positional placeholders and runs it on the
// model's connection, which it re-points at the model's database file first. Reports nothing; callers decide what
// to log. Each statement keeps its prepared form, per thread and connection, for the next one with the same text;
// a select's is reset once its caller has read all rows, finished the query or dropped it.
class GHSqlCRUD
{
public:
    GHSqlCRUD() = delete;

    // The connection of that name, opened on path when it can be; a failed open leaves it closed. Nothing is
    // opened for an empty path: the connection is closed and points at no file. A connection keeps its file open
    // until it is pointed at another one.
    //
    // Qt hands a connection only to the thread that made it. A connection of this name that another thread made is
    // removed, which closes its file, and made anew for this thread; safe to call from any thread, though the
    // connection is used by one thread at a time.
    static QSqlDatabase opendb(const QString& path, const QString& connection);

    // The executed query, before its first row; unprepared and unexecuted when the database cannot be opened.
    // forwardOnly for a caller that only steps with next(): Qt then holds one row, not a cache of all of them.
    static QSqlQuery select(GHDbModel* model, bool forwardOnly = false);
    // False without touching the database when the numbers of columns and values differ. On success the model's
    // m_lastInsertId holds the new row id.
    static bool insert(GHDbModel* model);
    // Binds one value per column, then those of the filter's placeholders; the counts are not compared. Callers
    // always give a filter: without one the statement fails.
    static bool update(GHDbModel* model);
    // Binds the values of the filter's placeholders; fails without a filter, like update.
    static bool remove(GHDbModel* model);
};

#endif
