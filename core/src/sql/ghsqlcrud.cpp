#include "sql/ghsqlcrud.h"

#include <QHash>
#include <QMutex>
#include <QPointer>
#include <QSqlDriver>
#include <QSqlError>
#include <QThread>

#include "sql/ghdbmodel.h"

namespace {

// Prepared inserts, updates and deletes of this thread (a connection serves only the thread that made it), by
// connection and statement text. Running one again skips SQLite's parse of the text, which costs more than the rest
// of a small statement. opendb empties a connection's entries whenever it re-points or replaces it in this thread;
// an entry is used only on the same driver and with as many values as it last ran with (leftover values of a longer
// run would stand in for missing ones), and one that fails is prepared anew once, so a stale entry never changes a
// result.
struct PreparedStatement
{
    QSqlQuery query;
    int valueCount;
};
thread_local QHash<QString, QHash<QString, PreparedStatement>> t_prepared;
// Texts may hold row ids (a filter written out, say), so the entries of a connection are bounded.
const int kMaxPreparedPerConnection = 32;

void forgetPrepared(const QString& connection)
{
    t_prepared.remove(connection);
}

// The thread that made each connection that opendb made. Qt's own record of it cannot be read from another thread
// without a warning; a QPointer turns null when that thread object is gone, so a later thread at the same address
// is never taken for it.
QMutex s_connectionMutex;
QHash<QString, QPointer<QThread>> s_connectionOwners;

QSqlDatabase connectionOfThisThread(const QString& name)
{
    QMutexLocker locker(&s_connectionMutex);
    QThread* const current = QThread::currentThread();
    if (QSqlDatabase::contains(name)) {
        const auto owner = s_connectionOwners.constFind(name);
        // Asked of Qt only when it is not known to be another thread's (one made outside opendb, say).
        if (owner == s_connectionOwners.cend() || owner->data() == current) {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            if (db.isValid())
                return db;
        }
        // Dropping the last handle deletes the driver, which closes the file.
        QSqlDatabase::removeDatabase(name);
        forgetPrepared(name);
    }
    s_connectionOwners.insert(name, current);
    return QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
}

QString columnList(const GHDbModel* model)
{
    const QStringList* columns = model->getColumns();
    return columns ? columns->join(QLatin1Char(',')) : QString();
}

void bindValues(QSqlQuery& query, const GHDbModel* model)
{
    const int count = model->getBindValueCount();
    for (int i = 0; i < count; ++i)
        query.addBindValue(model->getBindValue(i));
}

bool bindAndExec(QSqlQuery& query, const GHDbModel* model)
{
    bindValues(query, model);
    return query.exec();
}

// Runs a statement that returns no rows; lastInsertId, when given, receives the new row id.
bool execStatement(const QSqlDatabase& db, const QString& connection, const QString& text, const GHDbModel* model,
                   QVariant* lastInsertId)
{
    // A closed connection fails all the same; asking it would only add Qt's warning.
    if (!db.isOpen())
        return false;
    QHash<QString, PreparedStatement>& prepared = t_prepared[connection];
    const int valueCount = model->getBindValueCount();
    const auto cached = prepared.find(text);
    if (cached != prepared.end()) {
        QSqlQuery& query = cached->query;
        if (query.driver() == db.driver() && cached->valueCount == valueCount && bindAndExec(query, model)) {
            if (lastInsertId)
                *lastInsertId = query.lastInsertId();
            query.finish();
            return true;
        }
        prepared.erase(cached);
    }
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(text) || !bindAndExec(query, model))
        return false;
    if (lastInsertId)
        *lastInsertId = query.lastInsertId();
    query.finish();
    if (prepared.size() >= kMaxPreparedPerConnection)
        prepared.clear();
    prepared.insert(text, PreparedStatement{query, valueCount});
    return true;
}

} // namespace

QSqlDatabase GHSqlCRUD::opendb(const QString& path, const QString& connection)
{
    QSqlDatabase db = connectionOfThisThread(connection);
    if (db.databaseName() == path)
        return db;
    forgetPrepared(connection);
    if (db.isOpen())
        db.close();
    db.setDatabaseName(path);
    // An empty name would open a private temporary database, not "no file".
    if (!path.isEmpty() && !db.open())
        qWarning("cannot open the database %s: %s", qUtf8Printable(path), qUtf8Printable(db.lastError().text()));
    return db;
}

QSqlQuery GHSqlCRUD::select(GHDbModel* model, bool forwardOnly)
{
    QSqlDatabase db = opendb(model->dbName(), model->connName());
    QSqlQuery query(db);
    if (!db.isOpen())
        return query;
    query.setForwardOnly(forwardOnly);
    QString text = QStringLiteral("select %1 from %2").arg(columnList(model), model->tableName());
    const QString filter = model->getFilter();
    if (!filter.isEmpty())
        text += QLatin1String(" where ") + filter;
    const QString orderBy = model->getOrderby();
    if (!orderBy.isEmpty())
        text += QLatin1Char(' ') + orderBy;
    if (query.prepare(text))
        bindAndExec(query, model);
    return query;
}

bool GHSqlCRUD::insert(GHDbModel* model)
{
    const QString connection = model->connName();
    QSqlDatabase db = opendb(model->dbName(), connection);
    const int columnCount = model->getColumns() ? model->getColumns()->size() : 0;
    if (columnCount != model->getBindValueCount())
        return false;
    QStringList placeholders;
    placeholders.reserve(columnCount);
    for (int i = 0; i < columnCount; ++i)
        placeholders << QStringLiteral("?");
    const QString text = QStringLiteral("insert into %1 (%2) values (%3)")
                             .arg(model->tableName(), columnList(model), placeholders.join(QLatin1Char(',')));
    QVariant lastInsertId;
    if (!execStatement(db, connection, text, model, &lastInsertId))
        return false;
    model->m_lastInsertId = lastInsertId;
    return true;
}

bool GHSqlCRUD::update(GHDbModel* model)
{
    const QString connection = model->connName();
    QSqlDatabase db = opendb(model->dbName(), connection);
    QStringList assignments;
    if (const QStringList* columns = model->getColumns()) {
        assignments.reserve(columns->size());
        for (const QString& column : *columns)
            assignments << column + QLatin1String("=?");
    }
    const QString text = QStringLiteral("update %1 set %2 where %3")
                             .arg(model->tableName(), assignments.join(QLatin1Char(',')), model->getFilter());
    return execStatement(db, connection, text, model, nullptr);
}

bool GHSqlCRUD::remove(GHDbModel* model)
{
    const QString connection = model->connName();
    QSqlDatabase db = opendb(model->dbName(), connection);
    const QString text = QStringLiteral("delete from %1 where %2").arg(model->tableName(), model->getFilter());
    return execStatement(db, connection, text, model, nullptr);
}
