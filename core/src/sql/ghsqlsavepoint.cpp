#include "sql/ghsqlsavepoint.h"

#include "ghsqlitehandle.h"
#include "sql/ghdbmodel.h"
#include "sql/ghsqlcrud.h"

#include <QSqlError>
#include <QSqlQuery>

#include <sqlite3.h>

namespace {

bool insideTransaction(const QSqlDatabase& db)
{
    sqlite3* handle = ghSqliteHandle(db.driver());
    return handle && !sqlite3_get_autocommit(handle);
}

} // namespace

GHSqlSavepoint::GHSqlSavepoint(const GHDbModel& model, const char* name, const char* purpose)
    : m_db(GHSqlCRUD::opendb(model.dbName(), model.connName()))
    , m_name(name)
    , m_purpose(purpose)
    , m_open(false)
    , m_outermost(false)
{
    if (!m_db.isOpen() || !ghSqliteHandle(m_db.driver()))
        return;
    m_outermost = !insideTransaction(m_db);
    m_open = run("SAVEPOINT " + m_name);
}

GHSqlSavepoint::~GHSqlSavepoint()
{
    if (!m_open)
        return;
    if (m_outermost) {
        endOwnTransaction();
        return;
    }
    // Some errors (a full disk, say) end the whole transaction already; the savepoint is gone then.
    if (!run("ROLLBACK TO SAVEPOINT " + m_name) || !run("RELEASE SAVEPOINT " + m_name))
        qWarning("%s: cannot roll back in %s", m_purpose, qUtf8Printable(m_db.databaseName()));
}

bool GHSqlSavepoint::commit()
{
    if (!m_open)
        return false;
    // Releasing the outermost savepoint commits. When that fails (another connection reading the file past the
    // busy time-out, say) the transaction stays open and would swallow every later savepoint on the connection,
    // to be rolled back when the connection closes. The busy handler has waited already; a second wait would only
    // hold the caller longer, so the transaction is rolled back instead.
    if (run("RELEASE SAVEPOINT " + m_name)) {
        m_open = false;
        return true;
    }
    if (m_outermost) {
        endOwnTransaction();
        m_open = false;
    }
    return false;
}

void GHSqlSavepoint::endOwnTransaction()
{
    if (m_outermost && insideTransaction(m_db) && !run("ROLLBACK"))
        qWarning("%s: cannot end the transaction in %s", m_purpose, qUtf8Printable(m_db.databaseName()));
}

bool GHSqlSavepoint::run(const QByteArray& statement)
{
    QSqlQuery query(m_db);
    if (query.exec(QString::fromLatin1(statement)))
        return true;
    qWarning("%s: %s failed in %s: %s", m_purpose, statement.constData(), qUtf8Printable(m_db.databaseName()),
             qUtf8Printable(query.lastError().text()));
    return false;
}
