// Favourite places: the MyFavorite table of the flash home's favorite.dat.

#include "search/ghdevicedb.h"

#include <QDateTime>
#include <QSqlError>

#include "ghdevicedb_p.h"
#include "search/ghmyfavoriterecord.h"
#include "sql/favoritedbm.h"
#include "sql/ghsqlcrud.h"

namespace {

const QString kConnection = deviceDbConnection();

// Whether a row with the record's name and position, the key of the unique index, exists.
bool isStored(const GHMyFavoriteRecord& record)
{
    FavoriteDbm model;
    QStringList columns{QStringLiteral("idMyFavorite")};
    QVector<QVariant> values{record.name, record.longitude, record.latitude};
    model.setColumns(&columns);
    model.setValues(&values);
    model.setFilter(QStringLiteral("Name=? and Longitude=? and Latitude=?"));
    QSqlQuery query = GHSqlCRUD::select(&model, true);
    return query.next();
}

} // namespace

void GHDeviceDB::getFavoriteList(QMap<GHId, QString>& list)
{
    FavoriteDbm model;
    if (model.dbName().isEmpty())
        return;
    QStringList columns{QStringLiteral("idMyFavorite"), QStringLiteral("Name")};
    model.setColumns(&columns);
    model.setOrderby(QStringLiteral("order by Name"));
    QSqlQuery query = GHSqlCRUD::select(&model, true);
    if (!query.isActive()) {
        qWarning("cannot list the favourites: %s", qUtf8Printable(query.lastError().text()));
        return;
    }
    while (query.next())
        list.insert(GHId(query.value(0).toInt(), GHId::FLASH), query.value(1).toString());
}

int GHDeviceDB::getFavoriteCount()
{
    FavoriteDbm model;
    if (model.dbName().isEmpty())
        return 0;
    QStringList columns{QStringLiteral("count(idMyFavorite)")};
    model.setColumns(&columns);
    QSqlQuery query = GHSqlCRUD::select(&model, true);
    if (!query.next())
        return 0;
    bool ok = false;
    const int count = query.value(0).toInt(&ok);
    return ok ? count : 0;
}

bool GHDeviceDB::getMyFavorite(GHId id, GHMyFavoriteRecord& record)
{
    FavoriteDbm model;
    if (model.dbName().isEmpty())
        return false;
    QStringList columns{QStringLiteral("Name"),       QStringLiteral("Tel"),        QStringLiteral("Place"),
                        QStringLiteral("Info"),       QStringLiteral("Longitude"),  QStringLiteral("Latitude"),
                        QStringLiteral("Country"),    QStringLiteral("RecordTime"), QStringLiteral("RoadName"),
                        QStringLiteral("HouseNumber")};
    QVector<QVariant> values{id.rowId};
    model.setColumns(&columns);
    model.setValues(&values);
    model.setFilter(QStringLiteral("idMyFavorite=?"));
    QSqlQuery query = GHSqlCRUD::select(&model, true);
    if (!query.next())
        return false;
    record.id = id.rowId;
    record.name = query.value(0).toString();
    record.tel = query.value(1).toString();
    record.place = query.value(2).toString();
    record.info = query.value(3).toString();
    record.longitude = query.value(4).toInt();
    record.latitude = query.value(5).toInt();
    // Devices store the country as a character code; a text stored there reads as code 0, as devices read it.
    record.country = QString(QChar(uchar(query.value(6).toInt() & 0xFF)));
    // Devices show the time as local time, yet with the Z of a UTC text.
    record.recordTime = QDateTime::fromSecsSinceEpoch(query.value(7).toInt(), Qt::LocalTime)
                            .toString(QStringLiteral("yyyy-MM-ddThh:mm:ss'Z'"));
    record.roadName = query.value(8).toString();
    record.houseNumber = query.value(9).toString();
    return true;
}

QSqlQuery GHDeviceDB::getFavoriteData(QStringList& columns)
{
    QSqlDatabase db = GHSqlCRUD::opendb(FavoriteDbm().dbName(), kConnection);
    QSqlQuery query(db);
    // On a closed connection the query stays unexecuted; executing it would only add Qt's warning.
    if (db.isOpen() && !query.exec(QStringLiteral("select %1 from MyFavorite").arg(columns.join(QLatin1Char(',')))))
        qWarning("cannot read the favourites: %s", qUtf8Printable(query.lastError().text()));
    return query;
}

void GHDeviceDB::insertFavorite(GHMyFavoriteRecord& record)
{
    FavoriteDbm model;
    const QString database = model.dbName();
    if (database.isEmpty())
        return;
    QStringList columns{QStringLiteral("Name"),       QStringLiteral("Tel"),        QStringLiteral("Place"),
                        QStringLiteral("Info"),       QStringLiteral("Longitude"),  QStringLiteral("Latitude"),
                        QStringLiteral("Country"),    QStringLiteral("RecordTime"), QStringLiteral("RoadName"),
                        QStringLiteral("HouseNumber")};
    QVector<QVariant> values{record.name,     record.tel,     record.place,      record.info,     record.longitude,
                             record.latitude, record.country, record.recordTime, record.roadName, record.houseNumber};
    model.setColumns(&columns);
    model.setValues(&values);
    if (GHSqlCRUD::insert(&model))
        return;
    // The same place stored twice is no fault: the unique index keeps the one there is.
    if (!isStored(record))
        qWarning("cannot store the favourite \"%s\" in %s", qUtf8Printable(record.name), qUtf8Printable(database));
}

bool GHDeviceDB::deleteFavorite(GHId id)
{
    FavoriteDbm model;
    if (model.dbName().isEmpty())
        return true;
    QVector<QVariant> values{id.rowId};
    model.setValues(&values);
    model.setFilter(QStringLiteral("idMyFavorite=?"));
    if (!GHSqlCRUD::remove(&model)) {
        qWarning("cannot delete favourite %d", id.rowId);
        return false;
    }
    return true;
}

void GHDeviceDB::setFavoriteUpload(GHId id, bool uploaded)
{
    setUploadedColumn(QStringLiteral("MyFavorite"), id, uploaded);
}
