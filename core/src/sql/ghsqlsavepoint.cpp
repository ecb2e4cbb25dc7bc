#include "sql/ghsqlsavepoint.h"

#include "sql/ghdbmodel.h"
#include "sql/ghsqlcrud.h"

#include <QSqlError>
#include <QSqlQuery>

GHSqlSavepoint::GHSqlSavepoint(const GHDbModel& model, const char* name, const char* purpose)
    : m_db(GHSqlCRUD::opendb(model.dbName(), model.connName()))
    , m_name(name)
    , m_purpose(purpose)
    , m_open(false)
{
    m_open = m_db.isOpen() && run("SAVEPOINT " + m_name);
}

GHSqlSavepoint::~GHSqlSavepoint()
{
    // Some errors (a full disk, say) end the whole transaction already; the savepoint is gone then.
    if (m_open && (!run("ROLLBACK TO SAVEPOINT " + m_name) || !run("RELEASE SAVEPOINT " + m_name)))
        qWarning("%s: cannot roll back in %s", m_purpose, qUtf8Printable(m_db.databaseName()));
}

bool GHSqlSavepoint::commit()
{
    if (!m_open || !run("RELEASE SAVEPOINT " + m_name))
        return false;
    m_open = false;
    return true;
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
