#include "ghsqlscriptguard.h"

#include "../sql/ghsqlitehandle.h"

#include <QSqlDriver>
#include <QVariant>

#include <sqlite3.h>

namespace {

// A schema script of a few dozen statements takes well under a thousandth of this.
const int kProgressPeriod = 1000;  // virtual-machine steps between two progress calls
const int kProgressBudget = 20000; // progress calls for the whole script
const int kValueLengthLimit = 1 << 20;

} // namespace

GHSqlScriptGuard::GHSqlScriptGuard(const QSqlQuery& query)
    : m_handle(ghSqliteHandle(query.driver())), m_previousLengthLimit(-1), m_progressCalls(0)
{
    if (!m_handle)
        return;
    sqlite3_set_authorizer(m_handle, &GHSqlScriptGuard::authorize, this);
    sqlite3_progress_handler(m_handle, kProgressPeriod, &GHSqlScriptGuard::onProgress, this);
    m_previousLengthLimit = sqlite3_limit(m_handle, SQLITE_LIMIT_LENGTH, kValueLengthLimit);
}

GHSqlScriptGuard::~GHSqlScriptGuard()
{
    if (!m_handle)
        return;
    sqlite3_progress_handler(m_handle, 0, nullptr, nullptr);
    if (!sqlite3_get_autocommit(m_handle)) {
        qWarning("the device's database script left a transaction open; committing it");
        // A commit that fails (another program reading the file, say) keeps the transaction open, and every
        // later write on the connection would join it; it is rolled back rather than left.
        if (sqlite3_exec(m_handle, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK &&
            sqlite3_exec(m_handle, "ROLLBACK", nullptr, nullptr, nullptr) != SQLITE_OK)
            qWarning("cannot end the transaction of the device's database script: %s", sqlite3_errmsg(m_handle));
    }
    sqlite3_set_authorizer(m_handle, nullptr, nullptr);
    sqlite3_limit(m_handle, SQLITE_LIMIT_LENGTH, m_previousLengthLimit);
}

int GHSqlScriptGuard::authorize(void*, int action, const char* first, const char* second, const char*, const char*)
{
    if (action == SQLITE_ATTACH)
        return SQLITE_DENY;
    if (action == SQLITE_PRAGMA && first) {
        // Reading these is harmless. Set, they leave files beside the database: a write-ahead log, a persistent
        // journal, or, with an exclusive lock, a journal that stays while the connection is open.
        if (second && (sqlite3_stricmp(first, "journal_mode") == 0 || sqlite3_stricmp(first, "locking_mode") == 0))
            return SQLITE_DENY;
        if (sqlite3_stricmp(first, "temp_store_directory") == 0 || sqlite3_stricmp(first, "data_store_directory") == 0)
            return SQLITE_DENY;
    }
    return SQLITE_OK;
}

int GHSqlScriptGuard::onProgress(void* guard)
{
    GHSqlScriptGuard* self = static_cast<GHSqlScriptGuard*>(guard);
    return ++self->m_progressCalls > kProgressBudget ? 1 : 0;
}
