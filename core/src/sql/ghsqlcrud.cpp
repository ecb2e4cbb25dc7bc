#include "sql/ghsqlcrud.h"

#include <QHash>
#include <QMutex>
#include <QPointer>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QSqlResult>
#include <QThread>

#include <memory>

#include "sql/ghdbmodel.h"

namespace {

// Prepared statements of this thread (a connection serves only the thread that made it), by connection and
// statement text. Running one again skips SQLite's parse of the text, which costs more than the rest of a small
// statement. opendb empties a connection's entries whenever it re-points or replaces it in this thread; an entry is
// used only on the same driver, with as many values as it last ran with (leftover values of a longer run would stand
// in for missing ones) and, for a select, as forward-only as before; one that fails is prepared anew once, so a
// stale entry never changes a result.
struct PreparedStatement
{
    QSqlQuery query;
    int valueCount;
    bool forwardOnly = true;
    // Set while a caller holds the rows of a select: the statement is not run again meanwhile.
    std::shared_ptr<bool> inUse = std::make_shared<bool>(false);
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

// The rows of a cached select, handed to the caller as a query of its own. Reads go to the cached statement; when
// the caller finishes or drops its query, the statement is finished too, which resets it in SQLite, so it holds no
// read lock (which would block writers) while it waits for its next run. A caller that runs other text on its query
// gets a statement of its own for it.
class CachedSelectResult : public QSqlResult
{
public:
    CachedSelectResult(const QSqlQuery& statement, std::shared_ptr<bool> inUse)
        : QSqlResult(statement.driver()), m_statement(statement), m_inUse(std::move(inUse))
    {
        *m_inUse = true;
        setForwardOnly(statement.isForwardOnly());
        setQuery(statement.lastQuery());
        mirror();
    }
    ~CachedSelectResult() override { release(); }

protected:
    QVariant data(int i) override { return m_statement.value(i); }
    bool isNull(int i) override { return m_statement.isNull(i); }
    bool fetch(int i) override { return moved(m_statement.seek(i)); }
    bool fetchFirst() override { return moved(m_statement.first()); }
    bool fetchLast() override { return moved(m_statement.last()); }
    bool fetchNext() override { return moved(m_statement.next()); }
    bool fetchPrevious() override { return moved(m_statement.previous()); }
    int size() override { return m_statement.size(); }
    int numRowsAffected() override { return m_statement.numRowsAffected(); }
    QSqlRecord record() const override { return m_statement.record(); }
    QVariant lastInsertId() const override { return m_statement.lastInsertId(); }
    QVariant handle() const override { return m_statement.result() ? m_statement.result()->handle() : QVariant(); }
    void detachFromResultSet() override { m_statement.finish(); }

    bool reset(const QString& text) override
    {
        ownStatement();
        const bool done = m_statement.exec(text);
        mirror();
        return done;
    }
    bool prepare(const QString& text) override
    {
        ownStatement();
        const bool done = m_statement.prepare(text);
        setLastError(m_statement.lastError());
        return done;
    }
    bool exec() override
    {
        const QVector<QVariant>& values = boundValues();
        for (int i = 0; i < values.size(); ++i)
            m_statement.bindValue(i, values.at(i));
        const bool done = m_statement.exec();
        mirror();
        return done;
    }

private:
    bool moved(bool done)
    {
        if (done)
            setAt(m_statement.at());
        else
            // The end of the rows, or a step that failed (a busy database, say).
            setLastError(m_statement.lastError());
        return done;
    }

    void mirror()
    {
        setActive(m_statement.isActive());
        setSelect(m_statement.isSelect());
        setAt(m_statement.at());
        setLastError(m_statement.lastError());
    }

    void release()
    {
        if (!m_inUse)
            return;
        m_statement.finish();
        *m_inUse = false;
        m_inUse.reset();
    }

    void ownStatement()
    {
        release();
        m_statement = QSqlQuery(driver()->createResult());
        m_statement.setForwardOnly(isForwardOnly());
    }

    QSqlQuery m_statement;
    std::shared_ptr<bool> m_inUse;
};

// Runs a select, again on its prepared statement when this thread has it and no caller still reads its rows.
QSqlQuery execSelect(const QSqlDatabase& db, const QString& connection, const QString& text, const GHDbModel* model,
                     bool forwardOnly)
{
    QHash<QString, PreparedStatement>& prepared = t_prepared[connection];
    const int valueCount = model->getBindValueCount();
    const auto cached = prepared.find(text);
    bool cache = true;
    if (cached != prepared.end()) {
        if (*cached->inUse) {
            // Nested selects of one text: the inner one runs on a statement of its own, as before any cache.
            cache = false;
        } else {
            QSqlQuery& query = cached->query;
            if (query.driver() == db.driver() && cached->valueCount == valueCount &&
                cached->forwardOnly == forwardOnly && bindAndExec(query, model))
                return QSqlQuery(new CachedSelectResult(query, cached->inUse));
            query.finish();
            prepared.erase(cached);
        }
    }
    QSqlQuery query(db);
    query.setForwardOnly(forwardOnly);
    if (!query.prepare(text) || !bindAndExec(query, model) || !cache)
        return query;
    if (prepared.size() >= kMaxPreparedPerConnection)
        prepared.clear();
    const PreparedStatement& entry = *prepared.insert(text, PreparedStatement{query, valueCount, forwardOnly});
    return QSqlQuery(new CachedSelectResult(entry.query, entry.inUse));
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
    const QString connection = model->connName();
    QSqlDatabase db = opendb(model->dbName(), connection);
    if (!db.isOpen())
        return QSqlQuery(db);
    QString text = QStringLiteral("select %1 from %2").arg(columnList(model), model->tableName());
    const QString filter = model->getFilter();
    if (!filter.isEmpty())
        text += QLatin1String(" where ") + filter;
    const QString orderBy = model->getOrderby();
    if (!orderBy.isEmpty())
        text += QLatin1Char(' ') + orderBy;
    return execSelect(db, connection, text, model, forwardOnly);
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
