// libFuzzer target for the database script that a device carries in its flash home (route.sql). The input is run
// by GHDeviceDB::executeSqlFile, fenced in as the device set-up runs it, on a fresh database in a scratch folder
// that is also the working directory, so that relative names land there too. Whatever the script holds, the
// database must be the only file in that folder afterwards, and nothing may appear beside the folder.

#include "search/ghdevicedb.h"
#include "sql/ghsqlcrud.h"

#include <QCoreApplication>
#include <QSqlDriver>
#include <QSqlQuery>

#include <cstdint>

#include "fuzzsupport.h"

using JXFuzz::require;

namespace {

const QString kConnection = QStringLiteral("ghddb");

QString s_root;
QString s_folder;
QString s_database;
QString s_script;
QStringList s_rootEntries;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    JXFuzz::silenceMessages();
    s_root = JXFuzz::scratchRoot("sqlscript");
    s_folder = s_root + QLatin1String("/route");
    s_database = s_folder + QLatin1String("/route.dat");
    s_script = s_root + QLatin1String("/route.sql");
    require(QDir().mkpath(s_folder), "cannot make the database folder");
    require(QDir::setCurrent(s_folder), "cannot enter the database folder");
    s_rootEntries = QStringList{"route", "route.sql"};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Closes the previous run's database before its files go.
    GHSqlCRUD::opendb(QString(), kConnection);
    for (const QString& name : JXFuzz::entriesOf(s_folder))
        JXFuzz::removeTree(s_folder + QLatin1Char('/') + name);
    require(JXFuzz::writeFile(s_script, QByteArray(reinterpret_cast<const char*>(data), int(size))),
            "cannot write the script");

    {
        QSqlQuery query(GHSqlCRUD::opendb(s_database, kConnection));
        require(query.driver() && query.driver()->isOpen(), "cannot open the scratch database");
        GHDeviceDB::executeSqlFile(query, s_script, true);
    }

    require(JXFuzz::entriesOf(s_folder) == QStringList{"route.dat"}, "the script made a file beside the database");
    require(JXFuzz::entriesOf(s_root) == s_rootEntries, "the script made a file outside its folder");
    return 0;
}
