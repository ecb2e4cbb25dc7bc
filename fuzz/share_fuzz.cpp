// libFuzzer target for the share import of the old data layout: a received file, compressed in qCompress's layout
// (4-byte big-endian length, then zlib data), decompressed in place and imported into a flash home of its own.
//
// Input: a mode byte, then the file. Mode 0 (any even byte): the bytes as the compressed file. Mode 1: the bytes
// compressed here with their true length, so that the GPX and course import behind the decompression gets input
// too. Otherwise: the bytes as an uncompressed share.
//
// Checks: a compressed file that zlib itself (bounded to the stated length, at most 64 MiB) does not inflate to
// something is left exactly as it was; one that does is either gone or holds that inflation; and every Route row
// has its route file afterwards.

#include "search/ghdevicedb.h"
#include "sql/ghsqlcrud.h"
#include "util/ghtracelog.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QtEndian>

#include <cstdint>
#include <zlib.h>

#include "fuzzsupport.h"

using JXFuzz::require;

namespace {

const quint32 kMaxInflatedSize = 64u << 20;

QString s_flash;
QString s_routeDb;
QString s_share;

// The Route table as the older devices ship it in route.dat; the set-up adds the workout tables.
const char kRouteTable[] =
    "CREATE TABLE Route (idRoute INTEGER PRIMARY KEY, Title TEXT, Abstract TEXT, Author TEXT, CreateTime INTEGER,"
    " StartCountry TEXT, EndCountry TEXT, StartPlace TEXT, EndPlace TEXT, LDLon INTEGER, LDLat INTEGER,"
    " RTLon INTEGER, RTLat INTEGER, TravelTime INTEGER, TotalLength INTEGER, ActiveType INTEGER, RouteType INTEGER,"
    " Uploaded INTEGER NOT NULL DEFAULT 0, Route TEXT)";

// What the import may turn the file into; empty when it must leave the file alone.
QByteArray expectedInflation(const QByteArray& file)
{
    if (file.size() < 4)
        return QByteArray();
    const quint32 stated = qFromBigEndian<quint32>(file.constData());
    if (stated == 0 || stated > kMaxInflatedSize)
        return QByteArray();
    QByteArray plain(int(stated), Qt::Uninitialized);
    uLongf size = stated;
    if (uncompress(reinterpret_cast<Bytef*>(plain.data()), &size,
                   reinterpret_cast<const Bytef*>(file.constData()) + 4, uLong(file.size() - 4)) != Z_OK)
        return QByteArray();
    plain.resize(int(size));
    return plain;
}

QByteArray compressedForm(const QByteArray& plain)
{
    uLongf size = compressBound(uLong(plain.size()));
    QByteArray file(int(size) + 4, Qt::Uninitialized);
    require(compress2(reinterpret_cast<Bytef*>(file.data()) + 4, &size,
                      reinterpret_cast<const Bytef*>(plain.constData()), uLong(plain.size()), 6) == Z_OK,
            "compress2 failed");
    file.resize(int(size) + 4);
    qToBigEndian<quint32>(quint32(plain.size()), file.data());
    return file;
}

// Every Route row has its file; then rows and files go, so that each input starts from an empty home.
void checkAndEmptyHome()
{
    QSqlDatabase db = GHSqlCRUD::opendb(s_routeDb, QStringLiteral("ghddb"));
    require(db.isOpen(), "the route database cannot be opened");
    {
        QSqlQuery rows(db);
        require(rows.exec(QStringLiteral("select idRoute from Route")), "the Route table cannot be read");
        while (rows.next()) {
            const QString file = s_flash + QStringLiteral("/data/route/route-%1.gpx").arg(rows.value(0).toString());
            require(QFileInfo::exists(file), "a Route row without its route file");
        }
    }
    QSqlQuery clear(db);
    for (const char* statement : {"delete from Route", "delete from Workout", "delete from WorkoutInterval"})
        require(clear.exec(QLatin1String(statement)), "the home cannot be emptied");
    for (const QString& name : JXFuzz::entriesOf(s_flash + QLatin1String("/data/route"))) {
        if (name != QLatin1String("route.dat"))
            JXFuzz::removeTree(s_flash + QLatin1String("/data/route/") + name);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    JXFuzz::silenceMessages();
    const QString root = JXFuzz::scratchRoot("share");
    s_flash = root + QLatin1String("/flash");
    s_routeDb = s_flash + QLatin1String("/data/route/route.dat");
    s_share = root + QLatin1String("/in/share.gpx");
    require(QDir().mkpath(s_flash + QLatin1String("/data/route")) && QDir().mkpath(root + QLatin1String("/in")),
            "cannot make the flash home");
    {
        QSqlDatabase db = GHSqlCRUD::opendb(s_routeDb, QStringLiteral("ghddb"));
        QSqlQuery create(db);
        require(create.exec(QLatin1String(kRouteTable)), "cannot make route.dat");
    }
    GHTraceLog::setSystemVersion(QStringLiteral("GH1.3.0.8"));
    GHTraceLog::setHomeDir(root + QLatin1String("/tracelog"));
    GHDeviceDB::setHomeDir(s_flash, QString(), QString());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    const QByteArray body(reinterpret_cast<const char*>(data) + 1, int(size - 1));
    const bool compressed = mode % 2 == 0 || mode == 1;
    const QByteArray file = mode == 1 ? compressedForm(body) : body;
    require(JXFuzz::writeFile(s_share, file), "cannot write the input");

    QString path = s_share;
    GHDeviceDB::setShareData(path, compressed);

    if (compressed) {
        const QByteArray inflation = expectedInflation(file);
        const bool there = QFileInfo::exists(s_share);
        if (inflation.isEmpty()) {
            require(there && JXFuzz::readFile(s_share) == file, "a file that does not inflate was changed");
        } else if (there) {
            require(JXFuzz::readFile(s_share) == inflation, "a kept share holds neither its inflation nor itself");
        }
    }
    JXFuzz::removeTree(s_share);
    checkAndEmptyHome();
    return 0;
}
