// The POI search, the columns of one POI and the POI categories.

#include "search/ghdevicedb.h"

#include <QCoreApplication>
#include <QSqlError>

#include "ghdevicedb_p.h"
#include "location/ghlocale.h"
#include "location/ghlocation.h"
#include "rastermap/ghmaputils.h"
#include "search/ghpoicategory.h"
#include "search/ghpoiquery.h"
#include "sql/ghsqlcrud.h"
#include "util/ghtracelog.h"

std::unique_ptr<GHPOIQuery> GHDeviceDB::ms_poiQry;

namespace {

// Runs while the application object is destroyed: a search still running then would outlive Qt's SQL state.
void endPoiSearchAtExit()
{
    GHDeviceDB::_stopPoiSearch();
}

} // namespace

void GHDeviceDB::_stopPoiSearch()
{
    if (!ms_poiQry)
        return;
    // Cooperative: the search ends at its next row or after a bounded number of SQLite steps. Terminating the
    // thread instead could leave SQLite's locks held or its heap half-changed.
    ms_poiQry->cancelSearch();
    ms_poiQry->wait();
}

GHPOIQuery* GHDeviceDB::findPOI(int unused, int lat, int lng, int radius, QString name, int category, int cap)
{
    static bool exitRoutineAdded = false;
    if (!exitRoutineAdded) {
        qAddPostRoutine(&endPoiSearchAtExit);
        exitRoutineAdded = true;
    }
    _stopPoiSearch();
    ms_poiQry.reset(new GHPOIQuery(unused, lat, lng, radius, name, category, cap));
    ms_poiQry->start(QThread::InheritPriority);
    return ms_poiQry.get();
}

void GHDeviceDB::getGeoData(GHLocation* location, QStringList columns, QVector<QVariant>& values, const QString& lang)
{
    if (!location)
        return;
    const int level = POI_TILE_LEVEL;
    const GHMapTile tile = GHMapUtils::latlngToTile(location->getLatLng(), level);
    const int x = tile.index().x;
    const int y = tile.index().y;
    const GHLatLng corner = GHMapUtils::tileToLatlng(GHMapTile(x, y, level, 0, TILES_HEIGHT - 1), level);
    const QString relative = QStringLiteral("/data/poi/%1/poi%2.dat").arg(x >> TILE_PER_POIDB).arg(y >> TILE_PER_POIDB);
    // The storage card first, unlike the search.
    const QString database = findDbFile(ms_homeStorage, ms_homeFlash, relative);
    std::optional<QSqlQuery> opened = forwardQuery(database);
    if (!opened)
        return;
    QSqlQuery& query = *opened;
    const QString select =
        QLatin1String("select ") + columns.join(QLatin1Char(',')) + QLatin1String(" from POI where ");
    bool ran = false;
    if (location->getId() != -1) {
        ran = query.prepare(select + QLatin1String("idPOI=?"));
        query.addBindValue(location->getId());
    } else {
        ran =
            query.prepare(select + QLatin1String("(Longitude>=? and Longitude<=?) and (Latitude>=? and Latitude<=?)"));
        // In 64 bits: a position far from its tile's corner must not wrap around.
        const qint64 longitudeOffset = qint64(location->getLongitude()) - corner.getLng();
        const qint64 latitudeOffset = qint64(location->getLatitude()) - corner.getLat();
        query.addBindValue(longitudeOffset - 2);
        query.addBindValue(longitudeOffset + 2);
        query.addBindValue(latitudeOffset - 2);
        query.addBindValue(latitudeOffset + 2);
    }
    if (!ran || !query.exec()) {
        qWarning("cannot read %s of a POI in %s: %s", qUtf8Printable(columns.join(QLatin1Char(','))),
                 qUtf8Printable(database), qUtf8Printable(query.lastError().text()));
        return;
    }
    if (!query.next())
        return;
    for (int i = 0; i < columns.size(); ++i)
        values << getLocale(query.value(i), lang);
}

void GHDeviceDB::getPoiCategories(QVector<GHPoiCategory>& out, QString lang)
{
    if (!GHTraceLog::deprecated())
        return;
    const QString database = findDbFile(ms_homeStorage, ms_homeFlash, kPoiDb);
    std::optional<QSqlQuery> opened = forwardQuery(database);
    if (!opened)
        return;
    QSqlQuery& query = *opened;
    // Some map data lacks the Priority column.
    if (!query.exec(QStringLiteral("select idPOICategory,Name,Icon from POICategory order by Priority")) &&
        !query.exec(QStringLiteral("select idPOICategory,Name,Icon from POICategory order by Name"))) {
        qWarning("cannot list the POI categories of %s: %s", qUtf8Printable(database),
                 qUtf8Printable(query.lastError().text()));
        return;
    }
    while (query.next()) {
        GHPoiCategory category;
        category.id = query.value(0).toInt();
        category.name = getLocale(query.value(1), lang).toString();
        category.icon = query.value(2).toString();
        out << category;
    }
}
