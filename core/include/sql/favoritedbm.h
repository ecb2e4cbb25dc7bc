#ifndef FAVORITEDBM_H
#define FAVORITEDBM_H

#include <QStringList>

#include "sql/ghdbmodel.h"

// The MyFavorite table of the flash home's favorite.dat.
class FavoriteDbm : public GHDbModel
{
public:
    // Empty when the flash home has no favorite.dat.
    QString dbName() const override;
    QString tableName() const override;

    // Appends the table and its unique index, in this order.
    static void schema(QStringList& statements);
};

#endif
