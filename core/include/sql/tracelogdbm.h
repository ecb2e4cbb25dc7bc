#ifndef TRACELOGDBM_H
#define TRACELOGDBM_H

#include <QSqlDatabase>

#include "sql/ghdbmodel.h"

// The TraceLog table of the flash home's route database; rides live only there.
class TraceLogDbm : public GHDbModel
{
public:
    // Empty when the flash home has no route database.
    QString dbName() const override;
    QString tableName() const override;

    // Adds the column "pause" to an older database; false when it ran and failed, as it does once the column is
    // there.
    static bool createTabel(QSqlDatabase& db);
};

#endif
