#ifndef GHDBMODEL_H
#define GHDBMODEL_H

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

// What one statement of GHSqlCRUD works on: a database file, a connection and a table, with the columns, the
// bound values, the where-clause and the order-by text. A short-lived object on the caller's stack; the column
// list and the value vector stay the caller's and must outlive the model's use.
class GHDbModel
{
public:
    GHDbModel();

    virtual QString dbName() const;
    // Every model of the system shares the one connection "ghddb".
    virtual QString connName() const;
    virtual QString tableName() const = 0;

    void setColumns(QStringList* columns);
    QStringList* getColumns() const;
    void setValues(QVector<QVariant>* values);
    // The where-clause without the word "where".
    void setFilter(const QString& filter);
    QString getFilter() const;
    // Appended after a blank at the end of a select, so it holds the words "order by" itself.
    void setOrderby(const QString& orderBy);
    QString getOrderby() const;

    // 0 when no value vector is set.
    int getBindValueCount() const;
    // An invalid variant for an index outside the vector.
    QVariant getBindValue(int i) const;

    // The new row's id after a successful GHSqlCRUD::insert; invalid before.
    QVariant m_lastInsertId;

protected:
    // Not virtual: models live on the stack and are never deleted through this class.
    ~GHDbModel();

private:
    QVector<QVariant>* m_values;
    QStringList* m_columns;
    QString m_filter;
    QString m_orderBy;
};

#endif
