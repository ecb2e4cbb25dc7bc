// One side of the POI search benchmark; bench/poi.sh times it against the sqlite3 command-line tool running the
// same band statements on the same tile files.
//
//   bench_poi prepare FLASH   a device flash home: poi.dat with the tiling and two tile files of 500 000 POIs each,
//                             indexed on XIdx, YIdx
//   bench_poi script FLASH FILE  the tool's side: the statements of a radius-10 search, file by file, values written in
//   bench_poi run FLASH       this side: the same search through GHDeviceDB::findPOI; prints the number of results

#include "location/ghgeolocation.h"
#include "rastermap/ghmaputils.h"
#include "search/ghdevicedb.h"
#include "search/ghpoiquery.h"
#include "util/ghtracelog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVector>

#include <cstdio>

#include "benchsupport.h"

namespace {

// Level 10 with 32 x 32 tiles per file: the search around column 95 reaches into the files of columns 64..95 and
// 96..127, both of row 32..63.
const int kLevel = 10;
const int kShift = 5;
const int kCentreX = 95;
const int kCentreY = 48;
const int kRadius = 10;
const int kRowsPerFile = 500000;
const int kFirstFileX = 2;
const int kFileY = 1;

QString tileFile(const QString& flash, int x, int y)
{
    return flash + QStringLiteral("/data/poi/%1/poi%2.dat").arg(x >> kShift).arg(y >> kShift);
}

GHLatLng centre()
{
    return GHMapUtils::tileToLatlng(GHMapTile(kCentreX, kCentreY, kLevel, 128, 128), kLevel);
}

bool exec(QSqlQuery& query, const QString& text)
{
    if (query.exec(text))
        return true;
    std::fprintf(stderr, "%s: %s\n", qPrintable(text), qPrintable(query.lastError().text()));
    return false;
}

bool makeDatabase(const QString& path, const QStringList& statements)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::remove(path);
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("prepare"));
        db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery query(db);
        for (const QString& statement : statements)
            ok = ok && exec(query, statement);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("prepare"));
    return ok;
}

bool prepare(const QString& flash)
{
    if (!makeDatabase(flash + "/data/poi/poi.dat",
                      {"CREATE TABLE Metadata (TileLevel INTEGER, TileFactor INTEGER)",
                       QStringLiteral("INSERT INTO Metadata VALUES (%1, %2)").arg(kLevel).arg(kShift)}))
        return false;
    for (int file = 0; file < 2; ++file) {
        const int firstX = (kFirstFileX + file) << kShift;
        const int firstY = kFileY << kShift;
        const int firstId = file * kRowsPerFile + 1;
        // POIs spread evenly over the file's 32 x 32 tiles, at scattered offsets inside each.
        const QString insert =
            QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %1)"
                           " INSERT INTO POI SELECT %2 + i, 'poi ' || i, i % 40, (i * 7919) % 60000,"
                           " (i * 104729) % 45000, %3 + i % 32, %4 + (i / 32) % 32 FROM n")
                .arg(kRowsPerFile - 1)
                .arg(firstId)
                .arg(firstX)
                .arg(firstY);
        if (!makeDatabase(tileFile(flash, firstX, firstY),
                          {"CREATE TABLE POI (idPOI INTEGER PRIMARY KEY, Name TEXT, CategoryID INTEGER,"
                           " Longitude INTEGER, Latitude INTEGER, XIdx INTEGER, YIdx INTEGER)",
                           "BEGIN", insert, "COMMIT", "CREATE INDEX POIXY ON POI (XIdx, YIdx)"}))
            return false;
    }
    return true;
}

// The files and statements of the search, in its order: the centre tile, then per ring the top and bottom rows and
// the side columns, file by file over the ring's corner files that exist.
bool writeScript(const QString& flash, const QString& path)
{
    const GHMapTile tile = GHMapUtils::latlngToTile(centre(), kLevel);
    const int cx = tile.index().x;
    const int cy = tile.index().y;
    if (cx != kCentreX || cy != kCentreY)
        return false;
    QString current;
    QByteArray script;
    const auto use = [&](const QString& file) {
        if (!QFileInfo(file).isFile())
            return false;
        if (file != current)
            script += ".open --readonly " + file.toUtf8() + "\n";
        current = file;
        return true;
    };
    const QString select = QStringLiteral("select idPOI,Longitude,Latitude,XIdx,YIdx from POI where ");
    if (use(tileFile(flash, cx, cy)))
        script +=
            (select + QStringLiteral("(XIdx>=%1 and XIdx<=%1) and (YIdx=%2 or YIdx=%2);\n").arg(cx).arg(cy)).toUtf8();
    for (int r = 1; r <= kRadius; ++r) {
        QStringList files;
        for (const QString& file : {tileFile(flash, cx - r, cy - r), tileFile(flash, cx - r, cy + r),
                                    tileFile(flash, cx + r, cy - r), tileFile(flash, cx + r, cy + r)})
            if (!files.contains(file))
                files << file;
        for (const QString& file : files)
            if (use(file))
                script += (select + QStringLiteral("(XIdx>=%1 and XIdx<=%2) and (YIdx=%3 or YIdx=%4);\n")
                                        .arg(cx - r)
                                        .arg(cx + r)
                                        .arg(cy - r)
                                        .arg(cy + r))
                              .toUtf8();
        for (const QString& file : files)
            if (use(file))
                script += (select + QStringLiteral("(YIdx>=%1 and YIdx<=%2) and (XIdx=%3 or XIdx=%4);\n")
                                        .arg(cy - r + 1)
                                        .arg(cy + r - 1)
                                        .arg(cx - r)
                                        .arg(cx + r))
                              .toUtf8();
    }
    return writeFile(path, script);
}

bool run(const QString& flash)
{
    GHTraceLog::setSystemVersion(QStringLiteral("GH1.3.0.8"));
    GHDeviceDB::setHomeDir(flash, QString(), QString());
    const GHLatLng position = centre();
    GHPOIQuery* query =
        GHDeviceDB::findPOI(0, position.getLat(), position.getLng(), kRadius, QString(), -1, 2 * 2 * kRowsPerFile);
    if (!query->wait(600000) || query->getProgress() != 100)
        return false;
    // The caller reads every result, as the tool prints every row.
    const int count = query->getCount();
    QVector<GHGeoLocation> results(count);
    if (query->getResult(0, count, results.data()) != count)
        return false;
    std::printf("%d\n", count);
    GHDeviceDB::closeStorageMapDb();
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietHandler);
    const QStringList args = app.arguments();
    const QString command = args.value(1);

    bool ok = false;
    if (command == "prepare" && args.size() == 3) {
        ok = prepare(args[2]);
    } else if (command == "script" && args.size() == 4) {
        ok = writeScript(args[2], args[3]);
    } else if (command == "run" && args.size() == 3) {
        ok = run(args[2]);
    } else {
        std::fprintf(stderr, "usage: bench_poi prepare FLASH | script FLASH FILE | run FLASH\n");
    }
    return ok ? 0 : 1;
}
