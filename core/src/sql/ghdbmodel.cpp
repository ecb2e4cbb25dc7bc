#include "sql/ghdbmodel.h"

#include "../search/ghdevicedb_p.h"

GHDbModel::GHDbModel() : m_values(nullptr), m_columns(nullptr) {}

GHDbModel::~GHDbModel() = default;

QString GHDbModel::dbName() const
{
    return QString();
}

QString GHDbModel::connName() const
{
    return deviceDbConnection();
}

void GHDbModel::setColumns(QStringList* columns)
{
    m_columns = columns;
}

QStringList* GHDbModel::getColumns() const
{
    return m_columns;
}

void GHDbModel::setValues(QVector<QVariant>* values)
{
    m_values = values;
}

void GHDbModel::setFilter(const QString& filter)
{
    m_filter = filter;
}

QString GHDbModel::getFilter() const
{
    return m_filter;
}

void GHDbModel::setOrderby(const QString& orderBy)
{
    m_orderBy = orderBy;
}

QString GHDbModel::getOrderby() const
{
    return m_orderBy;
}

int GHDbModel::getBindValueCount() const
{
    return m_values ? m_values->size() : 0;
}

QVariant GHDbModel::getBindValue(int i) const
{
    return m_values ? m_values->value(i) : QVariant();
}
