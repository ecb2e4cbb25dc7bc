#ifndef GHDEVICEDB_H
#define GHDEVICEDB_H

#include <QMap>
#include <QPair>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <memory>
#include <optional>

#include "search/ghid.h"

class GHGpx2;
class GHLocation;
class GHMyFavoriteRecord;
class GHPOIQuery;
class GHPoiCategory;
class GHTraceLogRecord;

// The POI tiling of the device's map data, read from poi.dat by GHDeviceDB::setHomeDir (older device generation
// only): the POI tile level (0 until read) and the tiles per POI database as a shift count (9 until read). A row with
// a level outside 0..17 or a shift outside 0..30 leaves both as they were.
extern int POI_TILE_LEVEL;
extern int TILE_PER_POIDB;

// What a share file carries; other values export nothing.
enum GHShareType : qint32 { SHARE_ROUTE = 1, SHARE_TRACE_LOG = 2, SHARE_WORKOUT = 3 };

// The data folders of one device (flash home, storage-card home, output home) and the SQLite databases in them.
// All static, unguarded process-wide state: called from one thread at a time.
class GHDeviceDB
{
public:
    GHDeviceDB() = delete;

    // Records the homes, creates the flash home's data folders and brings its databases into shape: route.dat from
    // the device's own route.sql and favorite.dat with the built-in favourite for the current generation; copies
    // of the .000 files, the older tables and the POI tiling for the older one. Leaves "ghddb" open on the last
    // file it opened. With an empty flash home only the homes are recorded.
    static void setHomeDir(const QString& flash, const QString& storage, const QString& output);
    static QString getFlashHome();
    static QString getStorageHome();
    static QString getOutputHome();
    // The flash or the storage-card home; an empty text for a location that names no home.
    static QString homeOf(GHId::DBLOC location);

    // home1 + relative when that file exists, else home2 + relative when that one exists, else an empty text. The
    // texts are joined as they are: relative begins with "/", and an empty home2 makes its candidate relative
    // itself, taken from the file-system root.
    static QString findDbFile(const QString& home1, const QString& home2, const QString& relative);
    static QString findDbFile(const QString& home1, const QString& home2, const char* relative);
    // findDbFile(getFlashHome(), QString(), relative) for the models, which ask on every statement: a file found is
    // remembered by this thread until setHomeDir or closeStorageMapDb. relative is a text that lives as long as the
    // program, and is told apart by its address.
    static QString flashDbFile(const char* relative);

    // Runs each statement, trimmed, on the query's database and finishes the query; empty ones are skipped, and so
    // are those beginning "insert" (any case) unless isNew. A failing statement does not stop the others.
    static void executeSql(QSqlQuery& query, QStringList& statements, bool isNew);
    // Runs a script, split at every ";" (also one inside a literal), like executeSql. The script comes from the
    // device, so it runs fenced in: it cannot attach or create other files, switch the journal, take more than a
    // bounded amount of work, or leave a transaction open. Nothing happens when the path is not a readable plain
    // file of at most 4 MiB or the query's database is not SQLite.
    static void executeSqlFile(QSqlQuery& query, const QString& path, bool isNew);

    // Stops a running POI search and waits for it, then points "map_tile_0", "ghddb" and "ghpoi" at no file, so
    // that no database on the device stays open.
    static void closeStorageMapDb();

    // A ride's activity type as stored in TraceLog; devices name no value but the one that lists every type.
    enum ActivityType : qint32 { ALL_ACTIVITIES = 5 };
    // The route type that lists every type.
    static const int ALL_ROUTE_TYPES = 5;

    // Routes. Locations 0 and 1 pick the flash and the storage-card home; any other names no home.

    // Adds (id, title) of every route of the type from the flash and then the storage-card route database; an
    // entry with an equal id takes the new title. extra has no effect.
    static void getRouteList(int routeType, QMap<GHId, QString>& routes, QString extra);
    static void _getRouteList(int routeType, QMap<GHId, QString>& routes, QString home, GHId::DBLOC location,
                              QString extra);
    // Writes values into the named columns of one Route row; true when the statement ran.
    static bool updateRoute(GHId id, QStringList& columns, QVector<QVariant>& values);
    // Deletes the Route row and then its "/route-<id>.gpx" beside the database; true when the delete ran, also
    // when no row had the id.
    static bool deleteRoute(GHId id);

    // Generic row access on "Route", "TraceLog", "MyFavorite" and, in the old layout only, "POICategory" (exact
    // case); any other table name does nothing. Appends one value per column, as the driver gives it, when the row
    // exists; nothing otherwise.
    static void _getDbData(QString table, GHId id, QStringList& columns, QVector<QVariant>& values);
    // Writes values into the named columns of one row; a count mismatch fails the statement and changes nothing.
    static void _setDbData(QString table, GHId id, QStringList& columns, QVector<QVariant>& values);
    // Every row of the table in the route database of the location's home, executed and before its first row; a
    // missing database gives a query that yields nothing. The query lives on "ghddb": read it to its end before
    // anything points that connection at another file, which ends it.
    static QSqlQuery getTableData(GHId::DBLOC location, QString table, QStringList& columns);
    static QSqlQuery getMyDiskRouteData(QStringList& columns);
    static QSqlQuery getStorageCardRouteData(QStringList& columns);
    static QSqlQuery getWorkoutData(QStringList& columns);
    static void getRouteData(GHId id, QStringList& columns, QVector<QVariant>& values);
    static void setRouteUpload(GHId id, bool uploaded);

    // Recorded rides: TraceLog rows of the flash home's route database and their files in the trace-log folder.
    // The location half of an id is not looked at, except by the generic getTraceLogData.

    // Deletes the unfinished rides (titled "...") with their GPS, sensor and statistics files, then appends the
    // rides that are not paused, of the type (ALL_ACTIVITIES: any), newest start first; with checkLogFile only
    // those whose GPS log holds more than a header and one record (over 92 bytes). rides is not cleared.
    static void getTraceLogList(ActivityType activityType, QVector<QPair<GHId, QString>>& rides, bool checkLogFile);
    // The id of the ride with the latest start, paused and unfinished ones included; -1 when there is none.
    static int getNewestTraceLog();
    // Inserts a row from the record, or rewrites every column but idRoute, pause and Uploaded of the record's row;
    // true when the statement ran (also when no row had the id).
    static bool saveTraceLog(GHTraceLogRecord* record, bool isNew);
    static bool renameTraceLog(GHId id, QString title);
    // 1 while the ride's recording stands paused, 0 otherwise.
    static bool markTraceLogPause(unsigned int rideId, int paused);
    // Deletes the row, then the ride's files and the one-shot workout its workout log names. False, with nothing
    // touched, when there is no such row or the delete fails; false too, with the row deleted, when a file of the
    // ride could not be removed or the row's CreateTime names none (logged).
    static bool deleteTraceLog(GHId id);
    static QSqlQuery getTraceLogData(QStringList& columns);
    static void getTraceLogData(GHId id, QStringList& columns, QVector<QVariant>& values);
    static void setTraceLogUpload(GHId id, bool uploaded);

    // Favourite places in the flash home's favorite.dat; a missing file gives an unchanged map, 0, false with the
    // record untouched, a query without rows, no change, and true (deleteFavorite). Ids take only the row id, as an
    // integer; the list gives location 0.

    // Adds (id, name) of every favourite; an existing key takes the new name.
    static void getFavoriteList(QMap<GHId, QString>& list);
    static int getFavoriteCount();
    // True when the row exists; the record is then filled, else untouched.
    static bool getMyFavorite(GHId id, GHMyFavoriteRecord& record);
    // Every favourite's columns, executed and before its first row; read it to its end before "ghddb" is pointed
    // at another file.
    static QSqlQuery getFavoriteData(QStringList& columns);
    // Adds the record's fields but id as they are; a favourite of the same name and position stays the one there is.
    static void insertFavorite(GHMyFavoriteRecord& record);
    // True when the statement ran, also when no row had the id.
    static bool deleteFavorite(GHId id);
    static void setFavoriteUpload(GHId id, bool uploaded);

    // POI search over the tile files of both homes. Stops the running search, if any, and waits for it, then starts
    // a new one, which ms_poiQry owns until the next; the first argument is not used.
    static GHPOIQuery* findPOI(int unused, int lat, int lng, int radius, QString name, int category, int cap);
    // Appends the columns of the first POI with the location's id, or with id -1 of the first within two millionths
    // of the location's position, each through getLocale for lang; nothing without one. Either way the file is that
    // of the position's tile, the storage card's tried first.
    static void getGeoData(GHLocation* location, QStringList columns, QVector<QVariant>& values, const QString& lang);
    // The categories of the older devices' poi.dat, by Priority (by Name where that column is missing); nothing
    // for the current generation.
    static void getPoiCategories(QVector<GHPoiCategory>& out, QString lang);
    // Stops the running POI search and waits for it; it keeps its results.
    static void _stopPoiSearch();

    // Share files: one route, ride or workout exported to a file, and a received file imported as a route or as
    // workouts. The export flags are those of GHTraceLog::gpsTrackToGpx, for a ride (of them a workout heeds
    // EXPORT_SCRATCH), and this one: in the old layout the file is replaced by its compressed form (4-byte big-endian
    // length, then zlib data).
    static const unsigned SHARE_COMPRESS = 1;
    // The exported file's path, or an empty text when nothing was exported. A ride's file is named and placed by
    // GHTraceLog::gpsTrackToGpx, the others go to the output home (the flash home's route folder when that is
    // empty). When the compressed form cannot be written the result is empty and the file stays uncompressed.
    // For a ride, workout receives the workout its exported workout log names, as gpsTrackToGpx gives it.
    static QString getShareData(GHShareType type, GHId id, bool& uploaded, unsigned flags,
                                std::optional<quint32>* workout = nullptr);
    // Imports the file as a route (a GPX share of a route or ride) or as the workouts of a training course. The file
    // is deleted once imported, and when it is a GPX file that is no share, a share of another type or a route
    // stored already; it stays when decompression or the import fails.
    static void setShareData(QString& path, bool compressed);
    // Exports the route's file, made from the text in its row the first time; an empty text on failure.
    static QString _preRouteToGpx(GHId id, bool& uploaded);
    // The new Route row of a route or ride share; -1 for another type, a route stored already (same title and total
    // length) or a failure. The first argument has no effect.
    static int _insertShareRoute(int unused, GHShareType type, GHGpx2& document);
    // Stores the workouts of a training course, each as one transaction, until one whose id is stored already;
    // false when the course cannot be read or a workout fails (those stored before it stay).
    static bool _importTraining(QString& path);

private:
    static QString ms_homeFlash;
    static QString ms_homeStorage;
    static QString ms_homeOutput;
    static std::unique_ptr<GHPOIQuery> ms_poiQry;
};

#endif
