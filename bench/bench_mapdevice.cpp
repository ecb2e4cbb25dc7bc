// Map-device transfers against the shell tools on the same files in the same run: copyFiles (times kept) against
// cp -r --preserve=timestamps, and prepareUploadData of 200 rides against the same rides exported by the data-model
// layer plus zip -j of the files the package holds (and, as a second row, zip -j of ready files alone).
// Prints the median of each side and the ratio library/baseline.
//
//   bench_mapdevice WORKDIR [RUNS]

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <unistd.h>

#include "benchsupport.h"
#include "device/jxfsdeviceservice.h"
#include "device/jxzelto50.h"
#include "ghtestridelogs.h"
#include "jxenv.h"
#include "search/ghdevicedb.h"
#include "util/ghtracelog.h"

using namespace GHTestRideLogs;

namespace {

const QString kModel = QStringLiteral("Zelto50CR");
const QString kHome = QStringLiteral("/oriska/applications/cycling");

QFile* g_log = nullptr;

// The updater writes its log to a file; so does this one, so that each copy's log line costs what it costs there.
void fileHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && g_log)
        g_log->write(message.toUtf8() + '\n');
}

qint64 median(std::vector<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool runTool(const QString& program, const QStringList& arguments, const QString& workingFolder = QString())
{
    QProcess process;
    if (!workingFolder.isEmpty())
        process.setWorkingDirectory(workingFolder);
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
        return false;
    }
    return true;
}

// Runs both sides `runs` times, taking turns at going first; sync before each so dirty pages of the previous run
// are not charged to the next.
void compare(const char* label, const char* baseline, int runs, const std::function<bool(int)>& ours,
             const std::function<bool(int)>& theirs)
{
    std::vector<qint64> ourTimes;
    std::vector<qint64> theirTimes;
    auto timed = [](const std::function<bool(int)>& side, int run, std::vector<qint64>& times) {
        ::sync();
        QElapsedTimer timer;
        timer.start();
        if (!side(run)) {
            std::fprintf(stderr, "run failed\n");
            std::exit(1);
        }
        times.push_back(timer.nsecsElapsed() / 1000);
    };
    for (int run = 0; run < runs; ++run) {
        if (run % 2 == 0) {
            timed(ours, run, ourTimes);
            timed(theirs, run, theirTimes);
        } else {
            timed(theirs, run, theirTimes);
            timed(ours, run, ourTimes);
        }
    }
    const double o = median(ourTimes) / 1000.0;
    const double t = median(theirTimes) / 1000.0;
    std::printf("%-34s library %9.1f ms   %-15s %9.1f ms   ratio %.2f\n", label, o, baseline, t, o / t);
    std::fflush(stdout);
}

bool makeSmallFiles(const QString& folder)
{
    for (int i = 0; i < 2000; ++i) {
        const QString sub = folder + QStringLiteral("/part%1").arg(i / 100, 2, 10, QLatin1Char('0'));
        QDir().mkpath(sub);
        if (!writeFile(sub + QStringLiteral("/file%1.txt").arg(i, 4, 10, QLatin1Char('0')),
                       imageData(1500 + (i * 37) % 1100, quint32(i))))
            return false;
    }
    return true;
}

bool makeLargeFiles(const QString& folder)
{
    QDir().mkpath(folder);
    for (int i = 0; i < 4; ++i) {
        if (!writeFile(folder + QStringLiteral("/image%1.bin").arg(i), imageData(64 * 1024 * 1024, quint32(100 + i))))
            return false;
    }
    return true;
}

// 200 rides of ten minutes each, with GPS and sensor logs, on a device volume whose databases the data-model layer
// makes.
bool makeRides(const QString& volume, JXZelto50& device)
{
    QFile script(QStringLiteral(JX_ROUTE_SQL));
    if (!script.open(QIODevice::ReadOnly) || !QDir().mkpath(volume + kHome + QLatin1String("/data/route")) ||
        !writeFile(volume + kHome + QLatin1String("/data/route/route.sql"), script.readAll()) ||
        !writeFile(volume + QLatin1String("/oriska/version.ini"), "version=GH2.0.1.3\n") || !device.initial())
        return false;
    for (int ride = 0; ride < 200; ++ride) {
        const quint32 id = 1714552200u + quint32(ride) * 3600u;
        GHTraceLogRecord record;
        record.id = id;
        record.title = QStringLiteral("Ride %1").arg(ride);
        record.startTime = qint32(id);
        record.endTime = qint32(id + 600);
        if (!GHDeviceDB::saveTraceLog(&record, true))
            return false;
        QByteArray gps = gpsHeader("0.2.1.8");
        QByteArray sensors = sensorHeader("0.2.1.8");
        for (int second = 0; second < 600; ++second) {
            gps += trackPoint(52500000 + second * 50, 13400000 + second * 70, quint32(second));
            sensors += sensorRecord({quint32(second), quint8(120 + second % 40), 85, 800, 20, 210, 101325, 0, 600});
        }
        if (!writeFile(GHTraceLog::getTraceLogGPS(id), gps) || !writeFile(GHTraceLog::getTraceLogTRN(id), sensors))
            return false;
    }
    GHDeviceDB::closeStorageMapDb();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_mapdevice WORKDIR [RUNS]\n");
        return 2;
    }
    const QString work = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    QDir().mkpath(work);
    QFile log(work + QLatin1String("/bench.log"));
    if (!log.open(QIODevice::WriteOnly))
        return 1;
    g_log = &log;
    qInstallMessageHandler(fileHandler);

    JXEnv::getInstance()->setUserDataBaseFolder(work + QLatin1String("/user"));
    {
        QSettings settings(JXEnv::getInstance()->getJXSettingPath(), QSettings::IniFormat);
        settings.beginGroup(kModel);
        settings.setValue(QStringLiteral("apversionpath"), QStringLiteral("/oriska/version.ini"));
    }
    stRegDevInfo row;
    row.code = QStringLiteral("ZL50");
    row.modelName = kModel;
    const QString volume = work + QLatin1String("/volume");
    JXZelto50CR device;
    device.setDeviceService(new JXFSDeviceService(volume, &row, QString()));

    std::printf("preparing workloads in %s\n", qPrintable(work));
    std::fflush(stdout);
    if (!makeSmallFiles(work + QLatin1String("/small")) || !makeLargeFiles(work + QLatin1String("/large")) ||
        !makeRides(volume, device)) {
        std::fprintf(stderr, "could not prepare the workloads\n");
        return 1;
    }

    std::printf("median of %d runs each (ratio = library / baseline; goal <= 1.30)\n", runs);
    for (const char* workload : {"small", "large"}) {
        const QString source = work + QLatin1Char('/') + QLatin1String(workload);
        const QString label = workload[0] == 's' ? QStringLiteral("copyFiles 2000 small files")
                                                 : QStringLiteral("copyFiles 4 files of 64 MB");
        compare(
            qPrintable(label), "cp", runs,
            [&](int run) {
                const QString target = work + QStringLiteral("/ours.%1.%2").arg(workload).arg(run);
                QStringList copied;
                return QDir().mkpath(target) && device.copyFiles(source, target, true, &copied);
            },
            [&](int run) {
                const QString target = work + QStringLiteral("/theirs.%1.%2").arg(workload).arg(run);
                return QDir().mkpath(target) &&
                       runTool(QStringLiteral("cp"), {QStringLiteral("-r"), QStringLiteral("--preserve=timestamps"),
                                                      source + QLatin1String("/."), target});
            });
        for (int run = 0; run < runs; ++run) {
            QDir(work + QStringLiteral("/ours.%1.%2").arg(workload).arg(run)).removeRecursively();
            QDir(work + QStringLiteral("/theirs.%1.%2").arg(workload).arg(run)).removeRecursively();
        }
    }

    // The baseline does the package's work with plain tools: each ride exported by the data-model layer (as the
    // library must), the rides' binary logs zipped into flash.dat, then the exports and flash.dat into the package.
    QString package;
    if (!device.prepareUploadData(package, true))
        return 1;
    const QString exported = JXEnv::getInstance()->getTmpFolder() + QLatin1String("/Zelto50ExportTmp");
    const QString packed = work + QLatin1String("/packed");
    QDir().mkpath(packed);
    QStringList rides;
    for (const QString& name : QDir(exported).entryList({QStringLiteral("*.pmz")}, QDir::Files)) {
        QFile::copy(exported + QLatin1Char('/') + name, packed + QLatin1Char('/') + name);
        rides << packed + QLatin1Char('/') + name;
    }
    QStringList logs;
    const QString traceLogs = GHTraceLog::getHomeDir();
    for (const QString& name : QDir(traceLogs).entryList(QDir::Files))
        logs << traceLogs + QLatin1Char('/') + name;
    const auto zipLogs = [&](int run) {
        const QString flash = work + QStringLiteral("/flash.%1/flash.dat").arg(run);
        QDir().mkpath(QFileInfo(flash).path());
        return runTool(QStringLiteral("zip"), QStringList{QStringLiteral("-j"), QStringLiteral("-q"), flash} + logs)
                   ? flash
                   : QString();
    };
    const auto ourPackage = [&](int run) {
        QString path = work + QStringLiteral("/ours.%1.zip").arg(run);
        return device.prepareUploadData(path, true);
    };
    compare("prepareUploadData 200 rides", "export + zip -j", runs, ourPackage, [&](int run) {
        QVector<QPair<GHId, QString>> list;
        GHDeviceDB::getTraceLogList(GHDeviceDB::ALL_ACTIVITIES, list, false);
        QStringList files;
        for (const auto& ride : qAsConst(list)) {
            bool uploaded = false;
            // The export the library makes: temporary files, not flushed.
            const QString gpx = GHDeviceDB::getShareData(
                SHARE_TRACE_LOG, ride.first, uploaded,
                GHTraceLog::EXPORT_NEEDS_SENSOR_LOG | GHTraceLog::EXPORT_SCRATCH);
            if (gpx.isEmpty())
                return false;
            files << gpx;
        }
        GHDeviceDB::closeStorageMapDb();
        const QString flash = zipLogs(run);
        return !flash.isEmpty() &&
               runTool(QStringLiteral("zip"), QStringList{QStringLiteral("-j"), QStringLiteral("-q"),
                                                          work + QStringLiteral("/theirs.%1.zip").arg(run)} +
                                                  files + QStringList{flash});
    });
    compare("prepareUploadData 200 rides", "zip -j", runs, ourPackage, [&](int run) {
        const QString flash = zipLogs(run);
        return !flash.isEmpty() &&
               runTool(QStringLiteral("zip"), QStringList{QStringLiteral("-j"), QStringLiteral("-q"),
                                                          work + QStringLiteral("/ready.%1.zip").arg(run)} +
                                                  rides + QStringList{flash});
    });
    compare(
        "  of it, packing the folder", "zip -j", runs,
        [&](int run) { return device.zipDirectory(work + QStringLiteral("/ourdir.%1.zip").arg(run), exported); },
        [&](int run) {
            QStringList files;
            for (const QString& name : QDir(exported).entryList(QDir::Files))
                files << exported + QLatin1Char('/') + name;
            return runTool(QStringLiteral("zip"), QStringList{QStringLiteral("-j"), QStringLiteral("-q"),
                                                              work + QStringLiteral("/theirdir.%1.zip").arg(run)} +
                                                      files);
        });
    g_log = nullptr;
    return 0;
}
