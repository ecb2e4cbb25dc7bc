// Map-device transfers against the shell tools on the same files in the same run: copyFiles (times kept) against
// cp -r --preserve=timestamps, alone and followed by the checks copyFiles makes (a flush, the copies' cached pages
// dropped, a compare with the sources); and prepareUploadData of 200 rides, a quarter of them ridden to a workout,
// against the same rides and workouts exported by the data-model layer plus zip -j of the files the package holds
// (and, as a second row, zip -j of ready files alone).
// Prints the median of each side and the ratio library/baseline, of the wall-clock time and of the processor time
// (user and system, with the tools run as child processes): the second moves less when other work shares the
// machine.
//
//   bench_mapdevice WORKDIR [RUNS [ROWS]]   ROWS: copy, upload or all (the default)

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "benchsupport.h"
#include "device/jxfsdeviceservice.h"
#include "device/zelto50/jxzelto50.h"
#include "ghtestridelogs.h"
#include "jxenv.h"
#include "search/ghdevicedb.h"
#include "training/ghworkout.h"
#include "training/ghworkoutprovider.h"
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

// Processor time of this process and of its waited-for children, in microseconds.
qint64 processorTimeUs()
{
    qint64 total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage = {};
        ::getrusage(who, &usage);
        total += qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000 + usage.ru_utime.tv_usec +
                 usage.ru_stime.tv_usec;
    }
    return total;
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
// are not charged to the next. afterRun, when given, runs after each timed side with the side's run number and
// whether it was ours.
void compare(const char* label, const char* baseline, int runs, const std::function<bool(int)>& ours,
             const std::function<bool(int)>& theirs, const std::function<void(int, bool)>& afterRun = {})
{
    std::vector<qint64> ourTimes;
    std::vector<qint64> theirTimes;
    std::vector<qint64> ourCpu;
    std::vector<qint64> theirCpu;
    auto timed = [&](const std::function<bool(int)>& side, int run, std::vector<qint64>& times,
                     std::vector<qint64>& cpu) {
        ::sync();
        const qint64 cpuStart = processorTimeUs();
        QElapsedTimer timer;
        timer.start();
        if (!side(run)) {
            std::fprintf(stderr, "run failed\n");
            std::exit(1);
        }
        times.push_back(timer.nsecsElapsed() / 1000);
        cpu.push_back(processorTimeUs() - cpuStart);
        if (afterRun)
            afterRun(run, &side == &ours);
    };
    for (int run = 0; run < runs; ++run) {
        if (run % 2 == 0) {
            timed(ours, run, ourTimes, ourCpu);
            timed(theirs, run, theirTimes, theirCpu);
        } else {
            timed(theirs, run, theirTimes, theirCpu);
            timed(ours, run, ourTimes, ourCpu);
        }
    }
    const double o = median(ourTimes) / 1000.0;
    const double t = median(theirTimes) / 1000.0;
    const double oc = median(ourCpu) / 1000.0;
    const double tc = median(theirCpu) / 1000.0;
    std::printf("%-30s library %7.1f ms (cpu %7.1f)   %-22s %7.1f ms (cpu %7.1f)   ratio %.2f (cpu %.2f)\n", label, o,
                oc, baseline, t, tc, o / t, oc / tc);
    std::fflush(stdout);
}

// What `dd if=FILE iflag=nocache count=0` does for each copy, without a process per file: the cached pages go, so
// that reading the copies back asks the disk. Dropping the whole cache would need root and slow everyone else's work.
void dropCachedPages(const QString& folder)
{
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const int fd = ::open(QFile::encodeName(it.next()).constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
    }
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
// makes; every fourth ride followed a workout of its own, whose log the ride's export carries and whose plan goes
// into the package beside it.
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
        if (ride % 4 == 0) {
            const quint32 wid = 1000u + quint32(ride);
            GHWorkout workout(wid, QStringLiteral("Intervals %1").arg(ride));
            workout.time = QDateTime::fromSecsSinceEpoch(qint64(id) - 86400, Qt::UTC);
            if (!GHWorkoutProvider().create(&workout) ||
                !writeFile(GHTraceLog::getTraceLogWRK(id),
                           QStringLiteral("<wrklog id=\"%1\" type=\"0\" subtype=\"0\"></wrklog>").arg(wid).toUtf8()))
                return false;
        }
    }
    GHDeviceDB::closeStorageMapDb();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_mapdevice WORKDIR [RUNS [copy|upload|all]]\n");
        return 2;
    }
    const QString work = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const QString rows = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("all");
    const bool copyRows = rows != QLatin1String("upload");
    const bool uploadRows = rows != QLatin1String("copy");
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
    if ((copyRows &&
         (!makeSmallFiles(work + QLatin1String("/small")) || !makeLargeFiles(work + QLatin1String("/large")))) ||
        (uploadRows && !makeRides(volume, device))) {
        std::fprintf(stderr, "could not prepare the workloads\n");
        return 1;
    }

    std::printf("median of %d runs each (ratio = library / baseline; goal <= 1.30)\n", runs);
    for (const char* workload : {"small", "large"}) {
        if (!copyRows)
            break;
        const QString source = work + QLatin1Char('/') + QLatin1String(workload);
        const QString label = workload[0] == 's' ? QStringLiteral("copyFiles 2000 small files")
                                                 : QStringLiteral("copyFiles 4 files of 64 MB");
        const auto target = [&](const char* side, int run) {
            return work + QStringLiteral("/%1.%2.%3").arg(QLatin1String(side), QLatin1String(workload)).arg(run);
        };
        const auto ours = [&](const char* side) {
            return [&, side](int run) {
                QStringList copied;
                return QDir().mkpath(target(side, run)) && device.copyFiles(source, target(side, run), true, &copied);
            };
        };
        const auto cp = [&](const QString& folder) {
            return QDir().mkpath(folder) &&
                   runTool(QStringLiteral("cp"), {QStringLiteral("-r"), QStringLiteral("--preserve=timestamps"),
                                                  source + QLatin1String("/."), folder});
        };
        // The large copies go as soon as they are timed, so that the disk holds one at a time; the small ones stay
        // until the row ends: deleting thousands of files slows the creations that follow.
        const bool large = workload[0] == 'l';
        const auto dropLarge = [&](const char* oursSide, const char* theirSide) {
            return [&, large, oursSide, theirSide](int run, bool isOurs) {
                if (large)
                    QDir(target(isOurs ? oursSide : theirSide, run)).removeRecursively();
            };
        };
        compare(
            qPrintable(label), "cp", runs, ours("ours"), [&](int run) { return cp(target("theirs", run)); },
            dropLarge("ours", "theirs"));
        // copyFiles does more than cp: the copies are flushed to the device, read back from it and compared with
        // their sources before they take their names. The same checks with the tools an expert would use.
        compare(
            qPrintable(label), "cp+sync -f+drop+diff -r", runs, ours("ours-checked"),
            [&](int run) {
                const QString folder = target("checked", run);
                if (!cp(folder) || !runTool(QStringLiteral("sync"), {QStringLiteral("-f"), folder}))
                    return false;
                dropCachedPages(folder);
                return runTool(QStringLiteral("diff"), {QStringLiteral("-r"), source, folder});
            },
            dropLarge("ours-checked", "checked"));
        for (const char* side : {"ours", "theirs", "ours-checked", "checked"}) {
            for (int run = 0; run < runs; ++run)
                QDir(target(side, run)).removeRecursively();
        }
    }

    if (!uploadRows) {
        g_log = nullptr;
        return 0;
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
    for (const QString& name :
         QDir(exported).entryList({QStringLiteral("*.pmz"), QStringLiteral("*.wrk")}, QDir::Files)) {
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
        QVector<quint32> workouts;
        for (const auto& ride : qAsConst(list)) {
            bool uploaded = false;
            std::optional<quint32> workout;
            // The export the library makes: temporary files, not flushed.
            const QString gpx = GHDeviceDB::getShareData(
                SHARE_TRACE_LOG, ride.first, uploaded,
                GHTraceLog::EXPORT_NEEDS_SENSOR_LOG | GHTraceLog::EXPORT_SCRATCH, &workout);
            if (gpx.isEmpty())
                return false;
            files << gpx;
            if (workout)
                workouts << *workout;
        }
        for (quint32 wid : qAsConst(workouts)) {
            bool uploaded = false;
            const QString plan = GHDeviceDB::getShareData(SHARE_WORKOUT, GHId(qint32(wid), GHId::FLASH), uploaded,
                                                          GHTraceLog::EXPORT_SCRATCH);
            if (plan.isEmpty())
                return false;
            files << plan;
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
