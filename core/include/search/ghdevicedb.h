#ifndef GHDEVICEDB_H
#define GHDEVICEDB_H

#include <QSqlQuery>
#include <QString>
#include <QStringList>

// The POI tiling of the device's map data, read from poi.dat by GHDeviceDB::setHomeDir (older device generation
// only): the POI tile level (0 until read) and the tiles per POI database as a shift count (9 until read). A row with
// a level outside 0..17 or a shift outside 0..30 leaves both as they were.
extern int POI_TILE_LEVEL;
extern int TILE_PER_POIDB;

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

    // home1 + relative when that file exists, else home2 + relative when that one exists, else an empty text. The
    // texts are joined as they are: relative begins with "/", and an empty home2 makes its candidate relative
    // itself, taken from the file-system root.
    static QString findDbFile(const QString& home1, const QString& home2, const QString& relative);
    static QString findDbFile(const QString& home1, const QString& home2, const char* relative);

    // Runs each statement, trimmed, on the query's database and finishes the query; empty ones are skipped, and so
    // are those beginning "insert" (any case) unless isNew. A failing statement does not stop the others.
    static void executeSql(QSqlQuery& query, QStringList& statements, bool isNew);
    // Runs a script, split at every ";" (also one inside a literal), like executeSql. The script comes from the
    // device, so it runs fenced in: it cannot attach or create other files, switch the journal, take more than a
    // bounded amount of work, or leave a transaction open. Nothing happens when the path is not a readable plain
    // file of at most 4 MiB or the query's database is not SQLite.
    static void executeSqlFile(QSqlQuery& query, const QString& path, bool isNew);

    // Points "map_tile_0", "ghddb" and "ghpoi" at no file, so that no database on the device stays open.
    static void closeStorageMapDb();

private:
    static QString ms_homeFlash;
    static QString ms_homeStorage;
    static QString ms_homeOutput;
};

#endif
