#ifndef GHSQLITEHANDLE_H
#define GHSQLITEHANDLE_H

#include <QSqlDriver>
#include <QVariant>

struct sqlite3;

// SQLite's own handle behind a Qt connection, for what Qt does not offer (authorizer, progress handler, interrupt);
// null without a driver or for a driver other than SQLite.
inline sqlite3* ghSqliteHandle(const QSqlDriver* driver)
{
    if (!driver)
        return nullptr;
    const QVariant handle = driver->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

#endif
