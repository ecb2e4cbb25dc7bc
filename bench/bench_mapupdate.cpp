// One side of the map-update benchmark; bench/mapupdate.sh times it against cp --preserve=timestamps and md5sum of
// the sources and the copies on the same resources and volume folders.
//
//   bench_mapupdate make-maps DIR LARGE_MB   four countries: three with one map file of LARGE_MB, and 250 small
//                                            files of 512 KB in each
//   bench_mapupdate make-volume DIR          a map volume folder: the Countries folder and both map descriptions
//   bench_mapupdate update RESOURCES VOLUME USERDATA
//                                            the driver's map update of VOLUME (a path holding "zelto60map")
//                                            from RESOURCES, through the client's action

#include "device/jxfsdeviceservice.h"
#include "device/zelto50/jxzelto50.h"
#include "jxenv.h"
#include "system/jxoperatingsystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

#include "benchsupport.h"

namespace {

const qint64 kSmallFile = 512 * 1024;
const int kSmallFilesPerCountry = 250;
const qint64 kWriteBlock = 64 * 1024 * 1024;

QFile* g_log = nullptr;

// The updater writes its log to a file; so does this one, so that each copy's log line costs what it costs there.
void fileHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && g_log)
        g_log->write(message.toUtf8() + '\n');
}

// Written a block at a time, so a large map file never sits whole in this process.
bool writeLargeFile(const QString& path, qint64 size, quint32 seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (qint64 written = 0; written < size; written += kWriteBlock) {
        const QByteArray block = imageData(qMin(kWriteBlock, size - written), seed++);
        if (file.write(block) != block.size())
            return false;
    }
    return file.flush();
}

bool makeMaps(const QString& folder, int largeMb)
{
    for (int country = 0; country < 4; ++country) {
        const QString name = QStringLiteral("Country%1").arg(country);
        const QString countryFolder = folder + QLatin1Char('/') + name;
        if (!QDir().mkpath(countryFolder))
            return false;
        if (country < 3 && !writeLargeFile(countryFolder + QLatin1Char('/') + name + QLatin1String(".map"),
                                           qint64(largeMb) << 20, quint32(1000 * country)))
            return false;
        for (int i = 0; i < kSmallFilesPerCountry; ++i) {
            const QString small = countryFolder + QStringLiteral("/%1.t%2").arg(name).arg(i, 3, 10, QLatin1Char('0'));
            if (!writeFile(small, imageData(kSmallFile, quint32(100000 + country * 1000 + i))))
                return false;
        }
    }
    return true;
}

bool makeVolume(const QString& folder)
{
    return QDir().mkpath(folder + "/data/mapengine/map/Countries") && QDir().mkpath(folder + "/data/mapsinfo") &&
           writeFile(folder + "/data/mapsinfo/currentMap.xml", "<maps version=\"1\"/>\n") &&
           writeFile(folder + "/data/mapsinfo/temp.xml", "<maps version=\"2\"/>\n");
}

int update(const QString& resources, const QString& volume, const QString& userData)
{
    // The map volume is the device's own drive here; a mount table without removable volumes keeps the machine's
    // own drives out of the search.
    QTemporaryDir systemRoot;
    QDir().mkpath(systemRoot.path() + "/proc/self");
    if (!writeFile(systemRoot.path() + "/proc/self/mountinfo",
                   "100 21 0:77 / " + QFile::encodeName(volume) + " rw,relatime shared:100 - ext4 bench rw\n"))
        return 1;
    JXOperatingSystem::setSystemRoot(systemRoot.path());
    JXEnv::getInstance()->setUserDataBaseFolder(userData);
    QDir().mkpath(userData);
    QFile log(userData + "/bench.log");
    if (!log.open(QIODevice::WriteOnly))
        return 1;
    g_log = &log;
    qInstallMessageHandler(fileHandler);

    stRegDevInfo row;
    row.code = "1104";
    row.modelName = "Zelto50CR";
    JXZelto50CR device;
    device.setDeviceService(new JXFSDeviceService(volume, &row, QString()));
    QObject::connect(&device, &QThread::finished, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    if (!device.mapUpdate(resources + "^Zelto50CR"))
        return 1;
    qApp->exec();
    device.wait();
    g_log = nullptr;
    if (device.getError(nullptr)) {
        std::fprintf(stderr, "map update failed, see %s\n", qPrintable(log.fileName()));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietHandler);
    const QStringList args = app.arguments();
    const QString command = args.value(1);

    if (command == "make-maps" && args.size() == 4)
        return makeMaps(args[2], args[3].toInt()) ? 0 : 1;
    if (command == "make-volume" && args.size() == 3)
        return makeVolume(args[2]) ? 0 : 1;
    if (command == "update" && args.size() == 5)
        return update(args[2], args[3], args[4]);
    std::fprintf(stderr, "usage: bench_mapupdate make-maps DIR LARGE_MB | make-volume DIR | "
                         "update RESOURCES VOLUME USERDATA\n");
    return 1;
}
