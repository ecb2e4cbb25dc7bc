// The device's POIs, routes, tracks and workouts as list records, and their deletes.

#include "device/zelto50/jxzelto50.h"

#include <QDateTime>
#include <QSqlQuery>

#include "../../../../core/include/search/ghdevicedb.h"
#include "../../../../core/include/search/ghmyfavoriterecord.h"
#include "../../../../core/include/training/ghworkout.h"
#include "../../../../core/include/training/ghworkoutprovider.h"
#include "jxlog.h"

namespace {

GHId flashId(int id)
{
    return GHId(id, GHId::FLASH);
}

QDateTime localFromSeconds(const QVariant& value)
{
    return QDateTime::fromSecsSinceEpoch(value.toLongLong(), Qt::UTC).toLocalTime();
}

// Reads one row's values; a row that gave fewer values than columns leaves the missing fields at their defaults.
struct RowValues
{
    QVector<QVariant> values;
    bool has(int index) const { return index < values.size(); }
    QVariant at(int index) const { return has(index) ? values.at(index) : QVariant(); }
};

} // namespace

void JXZelto50::getPOIs(QVector<JXClientData>& items)
{
    if (refusedWhileAction("getPOIs"))
        return;
    if (isNewLoadDBApi())
        getPOIs2(items);
    else
        getPOIsByList(items);
}

void JXZelto50::getPOIsByList(QVector<JXClientData>& items)
{
    QMap<GHId, QString> list;
    GHDeviceDB::getFavoriteList(list);
    for (auto it = list.constBegin(); it != list.constEnd(); ++it) {
        JXClientData item;
        item.id = it.key().rowId;
        item.name = it.value();
        item.dataKind = 0;
        // A fresh record per entry: a row that cannot be read must not lend the previous place's fields.
        GHMyFavoriteRecord record;
        if (GHDeviceDB::getMyFavorite(it.key(), record)) {
            item.desc = record.info;
            item.latitude = record.latitude;
            item.longitude = record.longitude;
            item.place = record.place;
        }
        items.append(item);
    }
    GHDeviceDB::closeStorageMapDb();
}

void JXZelto50::getPOIs2(QVector<JXClientData>& items)
{
    QStringList columns{QStringLiteral("idMyFavorite"), QStringLiteral("Name"),      QStringLiteral("Info"),
                        QStringLiteral("Latitude"),     QStringLiteral("Longitude"), QStringLiteral("Place")};
    {
        QSqlQuery query = GHDeviceDB::getFavoriteData(columns);
        while (query.next()) {
            JXClientData item;
            item.id = query.value(0).toInt();
            item.name = query.value(1).toString();
            item.desc = query.value(2).toString();
            item.latitude = query.value(3).toInt();
            item.longitude = query.value(4).toInt();
            item.place = query.value(5).toString();
            item.dataKind = 0;
            items.append(item);
        }
        query.finish();
        query.clear();
    }
    GHDeviceDB::closeStorageMapDb();
}

void JXZelto50::getRoutes(QVector<JXClientData>& items)
{
    if (refusedWhileAction("getRoutes") || !existRouteDat())
        return;
    if (isNewLoadDBApi())
        getRoutes2(items);
    else
        getRoutesByList(items);
}

void JXZelto50::getRoutesByList(QVector<JXClientData>& items)
{
    QMap<GHId, QString> list;
    GHDeviceDB::getRouteList(GHDeviceDB::ALL_ROUTE_TYPES, list, QString());
    QStringList columns{QStringLiteral("Title"),      QStringLiteral("ActiveType"), QStringLiteral("TotalLength"),
                        QStringLiteral("StartPlace"), QStringLiteral("EndPlace"),   QStringLiteral("TotalLength"),
                        QStringLiteral("Uploaded")};
    for (auto it = list.constBegin(); it != list.constEnd(); ++it) {
        JXClientData item;
        item.id = it.key().rowId;
        item.name = it.value();
        item.dataKind = 1;
        RowValues row;
        GHDeviceDB::getRouteData(flashId(item.id), columns, row.values);
        if (row.has(1))
            item.activityType = row.at(1).toInt();
        if (row.has(2))
            item.distance = row.at(2).toInt();
        if (row.has(3))
            item.startPlace = row.at(3).toString();
        if (row.has(4))
            item.endPlace = row.at(4).toString();
        if (row.has(5))
            item.distance = row.at(5).toInt();
        if (row.has(6))
            item.uploaded = row.at(6).toBool();
        items.append(item);
    }
    GHDeviceDB::closeStorageMapDb();
}

void JXZelto50::getRoutes2(QVector<JXClientData>& items)
{
    QStringList columns{QStringLiteral("idRoute"),     QStringLiteral("Title"),      QStringLiteral("ActiveType"),
                        QStringLiteral("TotalLength"), QStringLiteral("StartPlace"), QStringLiteral("EndPlace"),
                        QStringLiteral("TotalLength"), QStringLiteral("Uploaded")};
    {
        QSqlQuery query = GHDeviceDB::getMyDiskRouteData(columns);
        while (query.next()) {
            JXClientData item;
            item.id = query.value(0).toInt();
            item.name = query.value(1).toString();
            item.activityType = query.value(2).toInt();
            item.startPlace = query.value(4).toString();
            item.endPlace = query.value(5).toString();
            item.distance = query.value(6).toInt();
            item.uploaded = query.value(7).toBool();
            item.dataKind = 1;
            items.append(item);
        }
        query.finish();
        query.clear();
    }
    GHDeviceDB::closeStorageMapDb();
}

void JXZelto50::getTracks(QVector<JXClientData>& items)
{
    if (refusedWhileAction("getTracks") || !existRouteDat())
        return;
    if (isNewLoadDBApi())
        getTracks2(items);
    else
        getTracksByList(items);
}

void JXZelto50::getTracksByList(QVector<JXClientData>& items)
{
    QVector<QPair<GHId, QString>> list;
    GHDeviceDB::getTraceLogList(GHDeviceDB::ALL_ACTIVITIES, list, false);
    QStringList columns{QStringLiteral("Title"),        QStringLiteral("StartTime"),   QStringLiteral("EndTime"),
                        QStringLiteral("ActivityType"), QStringLiteral("TotalLength"), QStringLiteral("Uploaded")};
    for (const auto& entry : qAsConst(list)) {
        JXClientData item;
        item.id = entry.first.rowId;
        item.dataKind = 2;
        RowValues row;
        GHDeviceDB::getTraceLogData(flashId(item.id), columns, row.values);
        if (row.has(0))
            item.name = row.at(0).toString();
        if (row.has(1))
            item.startTime = localFromSeconds(row.at(1));
        if (row.has(2))
            item.endTime = localFromSeconds(row.at(2));
        if (row.has(3))
            item.activityType = row.at(3).toInt();
        if (row.has(4))
            item.distance = row.at(4).toInt();
        if (row.has(5))
            item.uploaded = row.at(5).toBool();
        items.append(item);
    }
    GHDeviceDB::closeStorageMapDb();
}

void JXZelto50::getTracks2(QVector<JXClientData>& items)
{
    QStringList columns{QStringLiteral("idRoute"),      QStringLiteral("Title"),       QStringLiteral("StartTime"),
                        QStringLiteral("EndTime"),      QStringLiteral("ActivityType"), QStringLiteral("TotalLength"),
                        QStringLiteral("Uploaded")};
    {
        QSqlQuery query = GHDeviceDB::getTraceLogData(columns);
        while (query.next()) {
            JXClientData item;
            item.id = query.value(0).toInt();
            item.name = query.value(1).toString();
            item.startTime = localFromSeconds(query.value(2));
            item.endTime = localFromSeconds(query.value(3));
            item.activityType = query.value(4).toInt();
            item.distance = query.value(5).toInt();
            item.uploaded = query.value(6).toBool();
            item.dataKind = 2;
            items.append(item);
        }
        query.finish();
        query.clear();
    }
    GHDeviceDB::closeStorageMapDb();
}

void JXZelto50::getWorkouts(QVector<JXClientData>& items)
{
    if (refusedWhileAction("getWorkouts") || !existRouteDat())
        return;
    releaseWorkouts();
    GHWorkoutProvider provider;
    provider.listAll(m_workouts, false);
    for (int i = 0; i < m_workouts.size(); ++i) {
        GHWorkout* workout = m_workouts.at(i);
        provider.loadDetail(workout);
        JXClientData item;
        item.id = i;
        item.dataKind = 3;
        item.name = workout->getName(nullptr);
        item.activityType = workout->acttype;
        item.startTime = workout->time.toLocalTime();
        item.wrkType = workout->type;
        item.subType = workout->subtype;
        items.append(item);
    }
    GHDeviceDB::closeStorageMapDb();
}

bool JXZelto50::deletePOI(int id)
{
    const bool result = GHDeviceDB::deleteFavorite(flashId(id));
    GHDeviceDB::closeStorageMapDb();
    return result;
}

bool JXZelto50::deleteRoute(int id)
{
    const bool result = GHDeviceDB::deleteRoute(flashId(id));
    GHDeviceDB::closeStorageMapDb();
    return result;
}

bool JXZelto50::deleteTrack(int id)
{
    const bool result = GHDeviceDB::deleteTraceLog(flashId(id));
    GHDeviceDB::closeStorageMapDb();
    return result;
}

bool JXZelto50::deletePOIs(QVector<int> ids)
{
    if (refusedWhileAction("deletePOIs"))
        return false;
    // A failed single delete does not change the answer: the caller lists again to see what is left.
    for (int id : qAsConst(ids))
        deletePOI(id);
    return true;
}

bool JXZelto50::deleteRoutes(QVector<int> ids)
{
    if (refusedWhileAction("deleteRoutes") || !existRouteDat())
        return false;
    for (int id : qAsConst(ids))
        deleteRoute(id);
    return true;
}

bool JXZelto50::deleteTracks(QVector<int> ids)
{
    if (refusedWhileAction("deleteTracks") || !existRouteDat())
        return false;
    for (int id : qAsConst(ids))
        deleteTrack(id);
    return true;
}

bool JXZelto50::deleteWorkouts(QVector<int> indexes)
{
    if (refusedWhileAction("deleteWorkouts") || !existRouteDat())
        return false;
    GHWorkoutProvider provider;
    for (int index : qAsConst(indexes)) {
        if (index < 0 || index >= m_workouts.size() || !m_workouts.at(index))
            continue;
        provider.remove(m_workouts.at(index));
        delete m_workouts.at(index);
        // The slot stays so that the other indexes of the listing keep their meaning.
        m_workouts[index] = nullptr;
    }
    GHDeviceDB::closeStorageMapDb();
    return true;
}
