// One side of the share-import benchmark; bench/share.sh runs it against gpsbabel on the same file.
//
//   bench_share route GPX          a GPX route share of 200 000 route points (generated, the same every run)
//   bench_share import GPX HOME    a fresh flash home (current layout) in HOME, a copy of GPX in it, and
//                                  GHDeviceDB::setShareData on the copy: the reader, the Route row and the binary
//                                  route file
//   bench_share check HOME         prints the Route rows and the route file's GPS records of the last import

#include "search/ghdevicedb.h"
#include "sql/ghsqlcrud.h"
#include "util/ghpsfheader.h"
#include "util/ghpsfrecord.h"
#include "util/ghtracelog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>

#include <cmath>
#include <cstdio>

#include "benchsupport.h"

namespace {

const int kPoints = 200000;
const quint32 kStartTime = 1700000000;

// The device's route.sql, as far as the import needs it.
const char kRouteScript[] =
    "CREATE TABLE if not exists Route (idRoute INTEGER PRIMARY KEY, Title TEXT, Abstract TEXT, Author TEXT,"
    " CreateTime INTEGER, StartCountry TEXT, EndCountry TEXT, StartPlace TEXT, EndPlace TEXT, LDLon INTEGER,"
    " LDLat INTEGER, RTLon INTEGER, RTLat INTEGER, TravelTime INTEGER, TotalLength INTEGER, ActiveType INTEGER,"
    " RouteType INTEGER, Uploaded INTEGER NOT NULL DEFAULT 0, Route TEXT);\n";

// A long planned route: a slow random walk with hills, one point a second, as a route share of our dialect.
bool writeRoute(const QString& path)
{
    QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<gpx xmlns=\"http://www.vexmor.example/PMZ/2/2\" creator=\"vexmor\" version=\"2.2.0.3\">\n"
                      "  <metadata>\n    <name>Alpine crossing</name>\n    <desc>Seven passes</desc>\n"
                      "    <author><name>Ana</name></author>\n    <time>2023-11-14T22:13:20Z</time>\n"
                      "    <bounds minlat=\"46.0\" minlon=\"7.0\" maxlat=\"48.0\" maxlon=\"10.0\"/>\n"
                      "    <extensions>\n      <sharetype>1</sharetype>\n      <sctry>CH</sctry>\n"
                      "      <ectry>AT</ectry>\n      <trvTime>200000</trvTime>\n      <trvDist>1650000</trvDist>\n"
                      "    </extensions>\n  </metadata>\n  <rte>\n    <name>Alpine crossing</name>\n";
    text.reserve(kPoints * 120);
    quint32 state = 20240229u;
    const auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    double lat = 47.376887, lon = 8.541694;
    for (int i = 0; i < kPoints; ++i) {
        lat += (int(next() >> 20) - 2048) * 1e-7;
        lon += (int(next() >> 20) - 2048) * 1e-7;
        const double ele = 900 + 700 * std::sin(i / 9000.0) + (next() >> 28) * 0.1;
        const QDateTime time = QDateTime::fromSecsSinceEpoch(kStartTime + quint32(i), Qt::UTC);
        text += "    <rtept lat=\"" + QByteArray::number(lat, 'f', 6) + "\" lon=\"" + QByteArray::number(lon, 'f', 6) +
                "\">\n      <ele>" + QByteArray::number(ele, 'f', 1) + "</ele>\n      <time>" +
                time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")).toLatin1() + "</time>\n    </rtept>\n";
    }
    text += "  </rte>\n</gpx>\n";
    return writeFile(path, text);
}

int import(const QString& gpx, const QString& home)
{
    const QString routeFolder = home + QStringLiteral("/data/route");
    QDir(home).removeRecursively();
    if (!QDir().mkpath(routeFolder) || !writeFile(routeFolder + QStringLiteral("/route.sql"), kRouteScript))
        return 1;
    QString share = home + QStringLiteral("/share.gpx");
    if (!QFile::copy(gpx, share))
        return 1;
    GHTraceLog::setSystemVersion(QStringLiteral("GH2.0.1.3"));
    GHDeviceDB::setHomeDir(home, QString(), QString());
    GHDeviceDB::setShareData(share, false);
    GHDeviceDB::closeStorageMapDb();
    // The share is gone only once imported.
    return QFileInfo::exists(share) ? 1 : 0;
}

int check(const QString& home)
{
    QSqlDatabase db = GHSqlCRUD::opendb(home + QStringLiteral("/data/route/route.dat"), QStringLiteral("ghddb"));
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("select count(*), max(idRoute) from Route")) || !query.next())
        return 1;
    const int rows = query.value(0).toInt();
    const QFileInfo file(home + QStringLiteral("/data/route/route-%1.gpx").arg(query.value(1).toInt()));
    std::printf("%d %lld\n", rows, (file.size() - GHPSFHeader::SIZE) / GHPSFRecord::SIZE);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietHandler);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("route") && args.size() == 3)
        return writeRoute(args[2]) ? 0 : 1;
    if (mode == QLatin1String("import") && args.size() == 4)
        return import(args[2], args[3]);
    if (mode == QLatin1String("check") && args.size() == 3)
        return check(args[2]);
    std::fprintf(stderr, "usage: bench_share route GPX | import GPX HOME | check HOME\n");
    return 2;
}
