#ifndef GHSQLSCRIPTGUARD_H
#define GHSQLSCRIPTGUARD_H

#include <QSqlQuery>

struct sqlite3;

// Fences in a script that comes from a device while it runs on the query's SQLite connection, and lifts the fence
// when it goes out of scope. Inside it a statement cannot attach a database (which also stops VACUUM INTO), set the
// journal or locking mode (which can leave files beside the database) or move the temporary folder;
// values are limited in length, and the whole script gets a bounded number of virtual-machine steps, after which
// its statements are interrupted. A transaction that the script leaves open is committed at the end, as each
// statement would have been on its own.
class GHSqlScriptGuard
{
public:
    explicit GHSqlScriptGuard(const QSqlQuery& query);
    ~GHSqlScriptGuard();
    GHSqlScriptGuard(const GHSqlScriptGuard&) = delete;
    GHSqlScriptGuard& operator=(const GHSqlScriptGuard&) = delete;

    // False when the query's database is not an SQLite connection: then nothing is fenced and nothing may run.
    bool isActive() const { return m_handle != nullptr; }

private:
    static int authorize(void* guard, int action, const char* first, const char* second, const char* database,
                         const char* trigger);
    static int onProgress(void* guard);

    sqlite3* m_handle;
    int m_previousLengthLimit;
    int m_progressCalls;
};

#endif
