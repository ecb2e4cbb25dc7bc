#include "search/ghdevicedb.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlError>
#include <QVariant>

#include "ghdevicedb_p.h"
#include "ghsqlscriptguard.h"
#include "sql/favoritedbm.h"
#include "sql/ghsqlcrud.h"
#include "sql/ghtrainmodel.h"
#include "sql/ghworkoutintervalmodel.h"
#include "sql/ghworkoutmodel.h"
#include "sql/ghworkoutroutemodel.h"
#include "sql/tracelogdbm.h"
#include "util/ghtracelog.h"

namespace {
const int kDefaultPoiTileLevel = 0;
const int kDefaultTilePerPoiDb = 9;
} // namespace

int POI_TILE_LEVEL = kDefaultPoiTileLevel;
int TILE_PER_POIDB = kDefaultTilePerPoiDb;

QString GHDeviceDB::ms_homeFlash;
QString GHDeviceDB::ms_homeStorage;
QString GHDeviceDB::ms_homeOutput;

namespace {

const QString kConnection = deviceDbConnection();

// Bumped whenever the homes change or the device's files are let go, which renews every thread's flashDbFile.
QAtomicInt s_homesGeneration;

const int kMaxTileLevel = 17;
const int kMaxTileShift = 30;

// A schema script is a few kilobytes; anything far beyond that is not one.
const qint64 kMaxScriptSize = qint64(4) << 20;

// Devices show this row until the user stores places of their own. The values are ours to choose.
const char* const kBuiltInFavorite =
    "INSERT INTO MyFavorite VALUES (1,19,'Vexmor Head Office','+1 555 0100','1 Harbour Road, Springfield',"
    "'Vexmor customer service',8541700,47376900,'CHE',NULL,NULL,NULL,0,NULL,NULL)";

// Older devices ship their databases as .000 files; a missing .dat starts as a copy of one.
void copyShippedDatabase(const QString& flash, const char* relativeDat)
{
    const QString dat = flash + QLatin1String(relativeDat);
    if (QFileInfo(dat).isFile())
        return;
    const QString shipped = dat.left(dat.size() - 3) + QLatin1String("000");
    if (QFileInfo(shipped).isFile() && !QFile::copy(shipped, dat))
        qWarning("cannot copy %s to %s", qUtf8Printable(shipped), qUtf8Printable(dat));
}

void readPoiTiling(const QString& poiDb)
{
    QSqlDatabase db = GHSqlCRUD::opendb(poiDb, kConnection);
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("select TileLevel,TileFactor from Metadata")) || !query.next())
        return;
    // A level beyond the tile math's range or a shift of 31 and more would make the POI search's shifts undefined.
    bool levelOk = false;
    bool shiftOk = false;
    const qlonglong level = query.value(0).toLongLong(&levelOk);
    const qlonglong shift = query.value(1).toLongLong(&shiftOk);
    if (!levelOk || !shiftOk || level < 0 || level > kMaxTileLevel || shift < 0 || shift > kMaxTileShift) {
        qWarning("%s: tile level %s and factor %s are out of range; keeping %d and %d", qUtf8Printable(poiDb),
                 qUtf8Printable(query.value(0).toString()), qUtf8Printable(query.value(1).toString()), POI_TILE_LEVEL,
                 TILE_PER_POIDB);
        return;
    }
    POI_TILE_LEVEL = int(level);
    TILE_PER_POIDB = int(shift);
}

void setUpCurrentGeneration(const QString& flash)
{
    const bool newRoute = GHDeviceDB::findDbFile(flash, QString(), kRouteDb).isEmpty();
    const bool newFavorite = GHDeviceDB::findDbFile(flash, QString(), kFavoriteDb).isEmpty();
    {
        QSqlQuery query(GHSqlCRUD::opendb(flash + QLatin1String(kRouteDb), kConnection));
        GHDeviceDB::executeSqlFile(query, flash + QLatin1String("/data/route/route.sql"), newRoute);
    }
    QStringList statements;
    FavoriteDbm::schema(statements);
    if (newFavorite)
        statements << QLatin1String(kBuiltInFavorite);
    QSqlQuery query(GHSqlCRUD::opendb(flash + QLatin1String(kFavoriteDb), kConnection));
    GHDeviceDB::executeSql(query, statements, newFavorite);
}

void setUpOlderGeneration(const QString& flash)
{
    copyShippedDatabase(flash, kPoiDb);
    copyShippedDatabase(flash, kRouteDb);
    const QString routeDb = GHDeviceDB::findDbFile(flash, QString(), kRouteDb);
    if (!routeDb.isEmpty()) {
        QSqlDatabase db = GHSqlCRUD::opendb(routeDb, kConnection);
        // Each adds what an older database lacks; what is there already fails, unheeded.
        TraceLogDbm::createTabel(db);
        GHWorkoutModel::createTabel(db);
        GHWorkoutIntervalModel::createTabel(db);
        GHWorkoutRouteModel::createTabel(db);
    }
    copyShippedDatabase(flash, kFavoriteDb);
    const QString poiDb = GHDeviceDB::findDbFile(flash, QString(), kPoiDb);
    if (!poiDb.isEmpty())
        readPoiTiling(poiDb);
}

} // namespace

void GHDeviceDB::setHomeDir(const QString& flash, const QString& storage, const QString& output)
{
    ms_homeFlash = flash;
    ms_homeStorage = storage;
    ms_homeOutput = output;
    s_homesGeneration.fetchAndAddOrdered(1);
    // The cached route database and the POI tiling are the previous device's.
    GHTrainModel::ms_dbnamecache.clear();
    POI_TILE_LEVEL = kDefaultPoiTileLevel;
    TILE_PER_POIDB = kDefaultTilePerPoiDb;
    // Without a flash home the data folders would be made at the file-system root.
    if (flash.isEmpty())
        return;
    QDir().mkpath(flash + QLatin1String("/data/poi"));
    QDir().mkpath(flash + QLatin1String("/data/route"));
    if (GHTraceLog::deprecated())
        setUpOlderGeneration(flash);
    else
        setUpCurrentGeneration(flash);
}

QString GHDeviceDB::getFlashHome()
{
    return ms_homeFlash;
}

QString GHDeviceDB::getStorageHome()
{
    return ms_homeStorage;
}

QString GHDeviceDB::getOutputHome()
{
    return ms_homeOutput;
}

QString GHDeviceDB::homeOf(GHId::DBLOC location)
{
    switch (location) {
    case GHId::FLASH: return ms_homeFlash;
    case GHId::STORAGE: return ms_homeStorage;
    }
    return QString();
}

// An empty home is no folder: taken as one, the relative path would name a file at the file-system root.
QString GHDeviceDB::findDbFile(const QString& home1, const QString& home2, const QString& relative)
{
    for (const QString& home : {home1, home2}) {
        if (home.isEmpty())
            continue;
        const QString candidate = home + relative;
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return QString();
}

QString GHDeviceDB::findDbFile(const QString& home1, const QString& home2, const char* relative)
{
    return findDbFile(home1, home2, QString::fromUtf8(relative));
}

QString GHDeviceDB::flashDbFile(const char* relative)
{
    // Each thread keeps its own, so the cache needs no lock; a change of homes renews them all.
    struct Found
    {
        int generation = -1;
        QHash<const char*, QString> paths;
    };
    thread_local Found found;
    const int generation = s_homesGeneration.loadAcquire();
    if (found.generation != generation) {
        found.paths.clear();
        found.generation = generation;
    }
    const auto known = found.paths.constFind(relative);
    if (known != found.paths.cend())
        return *known;
    // A file not found is looked for again next time: it may be made meanwhile.
    const QString path = findDbFile(ms_homeFlash, QString(), relative);
    if (!path.isEmpty())
        found.paths.insert(relative, path);
    return path;
}

void GHDeviceDB::executeSql(QSqlQuery& query, QStringList& statements, bool isNew)
{
    int failed = 0;
    QString firstFailure;
    for (const QString& text : qAsConst(statements)) {
        const QString statement = text.trimmed();
        if (statement.isEmpty())
            continue;
        // A database that exists already keeps the rows it has.
        if (!isNew && statement.startsWith(QLatin1String("insert"), Qt::CaseInsensitive))
            continue;
        if (!query.exec(statement) && failed++ == 0)
            firstFailure = QStringLiteral("\"%1\": %2").arg(statement.left(200), query.lastError().text());
        query.finish();
    }
    if (failed > 0)
        qWarning("%d database statement(s) failed, the first %s", failed, qUtf8Printable(firstFailure));
}

void GHDeviceDB::executeSqlFile(QSqlQuery& query, const QString& path, bool isNew)
{
    // Only a plain file: a device folder may hold a pipe or a link to a device under that name.
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return;
    const qint64 size = file.size();
    if (size > kMaxScriptSize) {
        qWarning("%s has %lld bytes, too many for a database script; not run", qUtf8Printable(path), size);
        return;
    }
    // No more than it had when opened, should it grow meanwhile.
    const QByteArray script = file.read(size);
    file.close();
    // The split is naive: a ";" inside a literal splits too.
    QStringList statements = QString::fromUtf8(script).split(QLatin1Char(';'));
    GHSqlScriptGuard guard(query);
    if (!guard.isActive())
        return;
    executeSql(query, statements, isNew);
}

void GHDeviceDB::closeStorageMapDb()
{
    // A running search holds a tile file open on a connection of its own.
    _stopPoiSearch();
    s_homesGeneration.fetchAndAddOrdered(1);
    GHSqlCRUD::opendb(QString(), QStringLiteral("map_tile_0"));
    GHSqlCRUD::opendb(QString(), kConnection);
    GHSqlCRUD::opendb(QString(), QStringLiteral("ghpoi"));
}
