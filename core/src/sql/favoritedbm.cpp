#include "sql/favoritedbm.h"

#include "../search/ghdevicedb_p.h"
#include "search/ghdevicedb.h"

QString FavoriteDbm::dbName() const
{
    return GHDeviceDB::flashDbFile(kFavoriteDb);
}

QString FavoriteDbm::tableName() const
{
    return QStringLiteral("MyFavorite");
}

void FavoriteDbm::schema(QStringList& statements)
{
    // Devices read this table: the text, blanks included, stays as devices have always had it.
    statements << QStringLiteral("CREATE TABLE if not exists MyFavorite (  idMyFavorite INTEGER PRIMARY KEY,  "
                                 "CategoryID INTEGER NOT NULL DEFAULT 19,  Name TEXT NOT NULL,  Tel TEXT NULL,  "
                                 "Place TEXT NULL,  Info TEXT NULL,  Longitude INTEGER NOT NULL,  "
                                 "Latitude INTEGER NOT NULL,  Country CHAR(3) NULL,  RecordTime INTEGER NULL,  "
                                 "RoadName TEXT NULL,  HouseNumber TEXT NULL,  Uploaded INTEGER NOT NULL DEFAULT 0,  "
                                 "XIdx INTEGER NULL,  YIdx INTEGER NULL);")
               << QStringLiteral(
                      "CREATE UNIQUE INDEX if not exists FAVINDEX on MyFavorite (Name, Longitude, Latitude);");
}
