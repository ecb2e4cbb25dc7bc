#ifndef GHSQLSAVEPOINT_H
#define GHSQLSAVEPOINT_H

#include <QByteArray>
#include <QSqlDatabase>

class GHDbModel;

// One savepoint around the statements of a call on the model's connection: a transaction of its own, or a part of
// one that the caller holds. Rolled back when it goes out of scope uncommitted. A transaction that the savepoint
// began is over, committed or rolled back, when commit returns false and when the savepoint goes out of scope.
class GHSqlSavepoint
{
public:
    // name is the savepoint's SQL name; purpose starts each logged failure ("workout storage: ...").
    GHSqlSavepoint(const GHDbModel& model, const char* name, const char* purpose);
    ~GHSqlSavepoint();
    GHSqlSavepoint(const GHSqlSavepoint&) = delete;
    GHSqlSavepoint& operator=(const GHSqlSavepoint&) = delete;

    bool isOpen() const { return m_open; }
    bool commit();

private:
    bool run(const QByteArray& statement);
    // Rolls back the transaction this savepoint began, if it is still open.
    void endOwnTransaction();

    QSqlDatabase m_db;
    QByteArray m_name;
    const char* m_purpose;
    bool m_open;
    bool m_outermost; // the connection was in autocommit mode: the savepoint began the transaction
};

#endif
