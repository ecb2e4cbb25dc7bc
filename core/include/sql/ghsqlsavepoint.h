#ifndef GHSQLSAVEPOINT_H
#define GHSQLSAVEPOINT_H

#include <QByteArray>
#include <QSqlDatabase>

class GHDbModel;

// One savepoint around the statements of a call on the model's connection: a transaction of its own, or a part of
// one that the caller holds. Rolled back when it goes out of scope uncommitted.
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

    QSqlDatabase m_db;
    QByteArray m_name;
    const char* m_purpose;
    bool m_open;
};

#endif
