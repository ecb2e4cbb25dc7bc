// One finalize of a filled second-generation 2 MB flash image (JXPSFDevice's _finalize: the flash as it was appended
// to the backup file, erase, every used range written back, the flash as it is now appended again) on the simulated
// device, waits injected away, against a baseline run side by side in the same process that sends the minimal
// sequence the frames need straight to the simulator: a dump of 512 pages into the backup file, one erase and the
// one ready poll that ends it, each page of the used ranges written once, a second dump of 512 pages. Every table
// of the image is filled to its end. The frames are in memory before the clock starts (as after the edits that
// precede a finalize); the commands of that load are printed beside the pages of the used ranges too.
// Prints the median time of each side, the ratio, the commands and the opens of each.
// Goal: commands 1.0x the minimum.
//
//   bash bench/psffinalize.sh
//   (BENCH_TMP=DIR puts the user-data folder, which takes the backup file, there; default the system's temporary
//   folder)

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "benchsupport.h"
#include "device/psfdevice/jxpsfdevice.h"
#include "jxenv.h"
#include "jxpsftestimage.h"
#include "jxsimulatedflashbed.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "jxvirtualclock.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

namespace {

const int kRuns = 11;
const int kFlashSize = 0x200000;
const int kPage = 4096;
const JXPSFTestImage::Layout kLayout = JXPSFTestImage::Layout::A;

// Flash header fields (byte offsets) that end the used part of each table.
const int kWorkoutEnd = 84;
const int kRouteEnd = 96;
const int kLapEnd = 108;
const int kIntervalEnd = 120;
const int kWorkoutLogEnd = 132;
const int kTrackEnd = 144;
const int kSensorLogEnd = 156;
const int kUserInfoEnd = 168;

class BenchClient : public JXPSFDevice
{
public:
    bool runFinalize() { return _finalize(); }
};

struct Range
{
    int start;
    int end;
};

// Every table filled to its end with data, the header's end words saying so; the profile and mag2 pages carry data.
QByteArray deviceFlash(std::vector<Range>& used)
{
    QByteArray flash = JXPSFTestImage::emptyImage(kLayout);
    const QByteArray data = imageData(kFlashSize, 11);
    struct Table
    {
        JXPSFTestImage::Area area;
        int endField;
    };
    const Table tables[] = {
        {JXPSFTestImage::workout(kLayout), kWorkoutEnd},       {JXPSFTestImage::route(kLayout), kRouteEnd},
        {JXPSFTestImage::lap(kLayout), kLapEnd},               {JXPSFTestImage::interval(kLayout), kIntervalEnd},
        {JXPSFTestImage::workoutLog(kLayout), kWorkoutLogEnd}, {JXPSFTestImage::track(kLayout), kTrackEnd},
        {JXPSFTestImage::sensorLog(kLayout), kSensorLogEnd},   {JXPSFTestImage::userInfoLog(kLayout), kUserInfoEnd},
    };
    used = {{0, 0x2000}, {0x6000, 0x7000}, {0x1F8000, 0x1FA000}, {0x1FA000, kFlashSize}};
    for (const Table& table : tables) {
        const int start = int(table.area.tableStart);
        const int end = start + int(table.area.tableSize);
        flash.replace(start, end - start, data.mid(start, end - start));
        qToLittleEndian<quint32>(quint32(end), flash.data() + table.endField);
        used.push_back({int(table.area.frameStart), end});
    }
    flash.replace(0x1F8000, kFlashSize - 0x1F8000, data.mid(0x1F8000));
    // The profile's set-up byte.
    flash[0x1F84AA] = 1;
    return flash;
}

QList<int> pagesOf(const std::vector<Range>& ranges)
{
    QSet<int> pages;
    for (const Range& range : ranges) {
        for (int page = range.start / kPage; range.end > range.start && page <= (range.end - 1) / kPage; ++page)
            pages.insert(page);
    }
    QList<int> sorted = pages.values();
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

JXMacSCSIService* rawFlashService()
{
    return JXSimulatedFlashBed::service(QStringLiteral("1004"), QStringLiteral("Zelto40"), QStringLiteral("MIRDO"));
}

bool send(JXScsiChannel& channel, quint8 opcode, int block, quint8 area, int size, QByteArray& data)
{
    const quint8 command[10] = {opcode, 0, 0, 0, quint8(block >> 8), quint8(block), area, 0, quint8(size / 512), 0};
    JXScsiCommandRecord record;
    if (!record.set(command, sizeof command, static_cast<unsigned long>(size)))
        return false;
    data.resize(JXScsiCommandRecord::BlockSize);
    return channel.execute(record, opcode == 0x2A ? JXScsiDirection::ToDevice : JXScsiDirection::FromDevice,
                           reinterpret_cast<quint8*>(data.data()));
}

bool dump(JXSimulatedFlashDevice& flash, const QString& path)
{
    std::unique_ptr<JXScsiChannel> channel(flash.createChannel());
    QByteArray all;
    all.reserve(kFlashSize);
    QByteArray block;
    bool ok = channel->open();
    for (int page = 0; ok && page < kFlashSize / kPage; ++page) {
        ok = send(*channel, 0x28, page, 0x10, kPage, block);
        all.append(block.constData(), kPage);
    }
    channel->close();
    QFile file(path);
    return ok && file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(all) == all.size() && file.flush();
}

// The minimal finalize: dump, erase and its ready poll, the used pages, dump.
bool baseline(JXSimulatedFlashDevice& flash, const QByteArray& image, const QList<int>& pages, const QString& path)
{
    if (!dump(flash, path))
        return false;
    std::unique_ptr<JXScsiChannel> channel(flash.createChannel());
    QByteArray block(kPage, '\0');
    bool ok = channel->open() && send(*channel, 0x2A, 0, 0x0E, 512, block) &&
              send(*channel, 0x28, 0, 0x15, kPage, block) && block.at(0) == 0;
    channel->close();
    ok = ok && channel->open();
    for (int i = 0; ok && i < pages.size(); ++i) {
        block = image.mid(pages.at(i) * kPage, kPage);
        ok = send(*channel, 0x2A, pages.at(i), 0x0F, kPage, block);
    }
    channel->close();
    return ok && dump(flash, path);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietHandler);
    const QByteArray base = qgetenv("BENCH_TMP");
    JXSimulatedFlashBed bed;
    const QString pattern =
        (base.isEmpty() ? QDir::tempPath() : QString::fromLocal8Bit(base)) + QLatin1String("/psffinalize.XXXXXX");
    if (!bed.setUp(pattern, 0, JXSimulatedFlashBed::Defaults))
        return 1;
    JXSimulatedFlashDevice& flash = *bed.flash();

    std::vector<Range> used;
    const QByteArray original = deviceFlash(used);
    const QList<int> pages = pagesOf(used);
    const QString backup =
        bed.folder()->path() + QStringLiteral("/zelto40flash.jx%1.dat").arg(JXEnv::getInstance()->getVersion());
    const QString baselineBackup = bed.folder()->path() + QStringLiteral("/baseline.dat");

    std::vector<double> driverTimes;
    std::vector<double> baselineTimes;
    int driverCommands = 0;
    int driverOpens = 0;
    int loadCommands = 0;
    int baselineCommands = 0;
    int baselineOpens = 0;
    for (int run = 0; run < kRuns; ++run) {
        flash.setExternalFlash(original);
        QFile::remove(backup);
        std::unique_ptr<BenchClient> client(new BenchClient);
        client->setDeviceService(rawFlashService());
        flash.clearCommands();
        if (!client->initial() || !client->load())
            return 1;
        loadCommands = flash.commands().size();
        flash.clearCommands();
        int opens = flash.openCount();
        auto start = std::chrono::steady_clock::now();
        if (!client->runFinalize())
            return 1;
        driverTimes.push_back(millisecondsSince(start));
        driverCommands = flash.commands().size();
        driverOpens = flash.openCount() - opens;
        const QByteArray written = flash.externalFlash();
        if (QFileInfo(backup).size() != 2 * kFlashSize)
            return 1;

        // The baseline writes the bytes the driver wrote.
        flash.setExternalFlash(original);
        QFile::remove(baselineBackup);
        flash.clearCommands();
        opens = flash.openCount();
        start = std::chrono::steady_clock::now();
        if (!baseline(flash, written, pages, baselineBackup))
            return 1;
        baselineTimes.push_back(millisecondsSince(start));
        baselineCommands = flash.commands().size();
        baselineOpens = flash.openCount() - opens;
        QByteArray expected(kFlashSize, char(0xFF));
        for (int page : pages)
            expected.replace(page * kPage, kPage, written.mid(page * kPage, kPage));
        if (flash.externalFlash() != expected || written != expected)
            return 1;
    }
    bed.reset();

    const double driver = median(driverTimes);
    const double minimal = median(baselineTimes);
    std::printf("finalize of a filled 2 MB image, median of %d runs (goal: commands 1.0x)\n", kRuns);
    std::printf("  driver    %8.2f ms  %5d commands  %2d opens\n", driver, driverCommands, driverOpens);
    std::printf("  baseline  %8.2f ms  %5d commands  %2d opens  (2 x 512 dump, erase + 1 poll, %d used pages)\n",
                minimal, baselineCommands, baselineOpens, pages.size());
    std::printf("  ratio     time %.2fx  commands %.3fx\n", driver / minimal,
                double(driverCommands) / double(baselineCommands));
    std::printf("  load before the finalize: %d commands for %d used pages\n", loadCommands, pages.size());
    return 0;
}
