// One side of the statement-layer benchmark; bench/sqlcrud.sh times it against the sqlite3 command-line tool
// running the same statements on a copy of the same database.
//
//   bench_sqlcrud prepare FLASH   a device flash home whose favorite.dat has the table, its index and one row
//   bench_sqlcrud script FILE     the tool's side: the inserts in one transaction, then the selects
//   bench_sqlcrud run FLASH       this side: the same through GHSqlCRUD with FavoriteDbm
//   bench_sqlcrud capi FLASH      the floor: the same through SQLite's C API, each statement prepared once

#include "search/ghdevicedb.h"
#include "sql/favoritedbm.h"
#include "sql/ghsqlcrud.h"
#include "util/ghtracelog.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlQuery>

#include <cstdio>

#include <sqlite3.h>

#include "benchsupport.h"

namespace {

const int kRows = 20000;
// The built-in favourite holds id 1, so the new rows get 2 and up.
const int kFirstId = 2;

struct Favorite
{
    QString name;
    QString tel;
    QString place;
    QString info;
    int longitude;
    int latitude;
    QString country;
    int recordTime;
};

Favorite favorite(int index)
{
    return {QStringLiteral("Place %1").arg(index),
            QStringLiteral("+1 555 %1").arg(index, 5, 10, QLatin1Char('0')),
            QStringLiteral("%1 Harbour Road, Springfield").arg(index % 400 + 1),
            QStringLiteral("stored on ride %1").arg(index / 7),
            8000000 + index * 37,
            47000000 + index * 53,
            QStringLiteral("CHE"),
            1700000000 + index * 60};
}

// Row keys in a scattered but fixed order, the same for both sides.
int keyOfLookup(int lookup)
{
    return kFirstId + int((qint64(lookup) * 7919) % kRows);
}

const QStringList kColumns{"Name", "Tel", "Place", "Info", "Longitude", "Latitude", "Country", "RecordTime"};

void setUpHome(const QString& flash)
{
    GHTraceLog::setSystemVersion(QStringLiteral("GH2.0.0.0"));
    GHDeviceDB::setHomeDir(flash, QString(), QString());
}

bool writeScript(const QString& path)
{
    QByteArray script = "BEGIN;\n";
    for (int index = 0; index < kRows; ++index) {
        const Favorite row = favorite(index);
        script += QStringLiteral("INSERT INTO MyFavorite (%1) VALUES ('%2','%3','%4','%5',%6,%7,'%8',%9);\n")
                      .arg(kColumns.join(QLatin1Char(',')), row.name, row.tel, row.place, row.info)
                      .arg(row.longitude)
                      .arg(row.latitude)
                      .arg(row.country)
                      .arg(row.recordTime)
                      .toUtf8();
    }
    script += "COMMIT;\n";
    for (int lookup = 0; lookup < kRows; ++lookup)
        script += QStringLiteral("SELECT %1 FROM MyFavorite WHERE idMyFavorite=%2;\n")
                      .arg(kColumns.join(QLatin1Char(',')))
                      .arg(keyOfLookup(lookup))
                      .toUtf8();
    return writeFile(path, script);
}

bool run(const QString& flash)
{
    setUpHome(flash);
    FavoriteDbm model;
    QStringList columns = kColumns;
    QVector<QVariant> values;
    model.setColumns(&columns);
    model.setValues(&values);

    QSqlDatabase db = GHSqlCRUD::opendb(model.dbName(), model.connName());
    if (!db.transaction())
        return false;
    for (int index = 0; index < kRows; ++index) {
        const Favorite row = favorite(index);
        values = {row.name, row.tel, row.place, row.info, row.longitude, row.latitude, row.country, row.recordTime};
        if (!GHSqlCRUD::insert(&model)) {
            std::fprintf(stderr, "insert %d failed\n", index);
            return false;
        }
    }
    if (!db.commit())
        return false;

    model.setFilter(QStringLiteral("idMyFavorite=?"));
    qint64 checksum = 0;
    for (int lookup = 0; lookup < kRows; ++lookup) {
        values = {keyOfLookup(lookup)};
        QSqlQuery query = GHSqlCRUD::select(&model);
        if (!query.next()) {
            std::fprintf(stderr, "select of %d found nothing\n", keyOfLookup(lookup));
            return false;
        }
        // Every value is read, as the tool prints every value.
        for (int column = 0; column < kColumns.size(); ++column)
            checksum += query.value(column).toString().size();
    }
    std::printf("%lld\n", checksum);
    return true;
}

// The same work straight through SQLite, with the insert and the select prepared once and bound anew for each row.
bool runCApi(const QString& flash)
{
    sqlite3* db = nullptr;
    sqlite3_stmt* insert = nullptr;
    sqlite3_stmt* select = nullptr;
    const auto fail = [&](const char* step) {
        std::fprintf(stderr, "%s failed: %s\n", step, db ? sqlite3_errmsg(db) : "no database");
        sqlite3_finalize(insert);
        sqlite3_finalize(select);
        sqlite3_close(db);
        return false;
    };
    const QByteArray path = QFile::encodeName(flash + QStringLiteral("/data/poi/favorite.dat"));
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return fail("open");
    const QByteArray names = kColumns.join(QLatin1Char(',')).toUtf8();
    const QByteArray insertText = "INSERT INTO MyFavorite (" + names + ") VALUES (?,?,?,?,?,?,?,?)";
    const QByteArray selectText = "SELECT " + names + " FROM MyFavorite WHERE idMyFavorite=?";
    if (sqlite3_prepare_v2(db, insertText.constData(), -1, &insert, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db, selectText.constData(), -1, &select, nullptr) != SQLITE_OK)
        return fail("prepare");
    if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail("begin");
    const auto bindText = [&](int column, const QString& text) {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(insert, column, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
    };
    for (int index = 0; index < kRows; ++index) {
        const Favorite row = favorite(index);
        bindText(1, row.name);
        bindText(2, row.tel);
        bindText(3, row.place);
        bindText(4, row.info);
        sqlite3_bind_int(insert, 5, row.longitude);
        sqlite3_bind_int(insert, 6, row.latitude);
        bindText(7, row.country);
        sqlite3_bind_int(insert, 8, row.recordTime);
        if (sqlite3_step(insert) != SQLITE_DONE)
            return fail("insert");
        sqlite3_reset(insert);
    }
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail("commit");

    qint64 checksum = 0;
    for (int lookup = 0; lookup < kRows; ++lookup) {
        sqlite3_bind_int(select, 1, keyOfLookup(lookup));
        if (sqlite3_step(select) != SQLITE_ROW)
            return fail("select");
        // Every value is read as text, as the library's side reads it.
        for (int column = 0; column < kColumns.size(); ++column)
            checksum += QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(select, column)),
                                          sqlite3_column_bytes(select, column))
                            .size();
        sqlite3_reset(select);
    }
    sqlite3_finalize(insert);
    sqlite3_finalize(select);
    std::printf("%lld\n", checksum);
    return sqlite3_close(db) == SQLITE_OK;
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
        setUpHome(args[2]);
        GHDeviceDB::closeStorageMapDb();
        ok = QFile::exists(args[2] + "/data/poi/favorite.dat");
    } else if (command == "script" && args.size() == 3) {
        ok = writeScript(args[2]);
    } else if (command == "run" && args.size() == 3) {
        ok = run(args[2]);
    } else if (command == "capi" && args.size() == 3) {
        ok = runCApi(args[2]);
    } else {
        std::fprintf(stderr, "usage: bench_sqlcrud prepare FLASH | script FILE | run FLASH | capi FLASH\n");
    }
    return ok ? 0 : 1;
}
