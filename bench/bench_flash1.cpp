// One dirty write-back of a first-generation 1 MB flash image (JXZelto30's finalize: rebuilt data store, backup of
// the flash as read, erase, whole image, read-back, header block and its read-back) on the simulated device, waits
// injected away, against a baseline run side by side in the same process that sends the minimal sequence the layout
// needs straight to the simulator: 1 erase, 256 block writes, 256 block reads compared with the image, the header
// block written and read back. A second baseline adds what the driver must also do before its erase: the image as
// read kept in a durable file (written beside its name, flushed, renamed, the folder flushed). Prints the median
// time of each side, the ratios, the commands and the opens of each.
// Goals: commands 1.0x the minimum, one open per transfer, time within 3x of the baseline with the backup.
//
//   bash bench/flash1.sh
//   (BENCH_TMP=DIR puts the user-data and temporary folders there; default the system's temporary folder)

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "benchsupport.h"
#include "device/jxdeviceimpl.h"
#include "device/zelto30/jxzelto30.h"
#include "jxenv.h"
#include "jxpsfimagefixture.h"
#include "jxsimulatedflashbed.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "jxvirtualclock.h"
#include "psf/gen1/jxpsf.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

namespace {

const int kRuns = 15;
const int kFlashSize = 0x100000;
const int kBlockSize = 4096;

class BenchClient : public JXDeviceImpl<BenchClient, JXZelto30>
{
public:
    void setDirty() { m_dirty = true; }
    bool runFinalize() { return _finalize(); }
    JXPSF* psf() { return m_psf; }
};

// A flash with a header record in slot 0 and a data store holding ten POIs.
QByteArray deviceFlash()
{
    QByteArray flash = imageData(kFlashSize, 7);
    QByteArray slot(256, char(0xFF));
    slot.replace(0, 212, QByteArray(212, '\0'));
    qToLittleEndian<quint16>(0xAA55, slot.data());
    flash.replace(0, 0x6000, QByteArray(0x6000, char(0xFF)));
    flash.replace(0, 256, slot);
    PSF1::Image store = PSF1::emptyImage();
    store.put32(PSF1::kPOIFrame, 10);
    for (int i = 0; i < 10; ++i)
        store.put(PSF1::kPOIFrame + PSF1::kPOITable + 148 * i, PSF1::poi(i, i, 0, "P" + QByteArray::number(i)));
    flash.replace(int(PSF1::kFlashBase), store.bytes.size(), store.bytes);
    flash.replace(0xF8000, kBlockSize, QByteArray(kBlockSize, '\0'));
    return flash;
}

JXMacSCSIService* rawFlashService()
{
    return JXSimulatedFlashBed::service(QStringLiteral("1003"), QStringLiteral("Zelto35"), QStringLiteral("FENDIR"));
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

// The minimal write-back: one open per transfer, nothing but the commands and the comparisons.
bool baseline(JXSimulatedFlashDevice& flash, const QByteArray& image, const QByteArray& headerBlock)
{
    std::unique_ptr<JXScsiChannel> channel(flash.createChannel());
    QByteArray block(kBlockSize, '\0');
    bool ok = channel->open() && send(*channel, 0x2A, 0, 0x0E, 512, block);
    channel->close();
    ok = ok && channel->open();
    for (int i = 0; ok && i < kFlashSize / kBlockSize; ++i) {
        block = image.mid(i * kBlockSize, kBlockSize);
        ok = send(*channel, 0x2A, i, 0x0F, kBlockSize, block);
    }
    channel->close();
    ok = ok && channel->open();
    for (int i = 0; ok && i < kFlashSize / kBlockSize; ++i)
        ok = send(*channel, 0x28, i, 0x10, kBlockSize, block) && block == image.mid(i * kBlockSize, kBlockSize);
    channel->close();
    block = headerBlock;
    ok = ok && channel->open() && send(*channel, 0x2A, 0, 0x0F, kBlockSize, block);
    channel->close();
    ok = ok && channel->open() && send(*channel, 0x28, 0, 0x10, kBlockSize, block) && block == headerBlock;
    channel->close();
    return ok;
}

bool syncPath(const QByteArray& path, int flags)
{
    const int fd = ::open(path.constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

// The backup's floor: the bytes written beside their name and flushed, renamed into place, the folder flushed.
bool durableCopy(const QString& folder, const QByteArray& bytes)
{
    const QByteArray part = QFile::encodeName(folder + QLatin1String("/backup.dat.part"));
    const QByteArray name = QFile::encodeName(folder + QLatin1String("/backup.dat"));
    const int fd = ::open(part.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size() && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    return ok && ::rename(part.constData(), name.constData()) == 0 &&
           syncPath(QFile::encodeName(folder), O_RDONLY | O_DIRECTORY);
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
        (base.isEmpty() ? QDir::tempPath() : QString::fromLocal8Bit(base)) + QLatin1String("/flash1.XXXXXX");
    if (!bed.setUp(pattern, kFlashSize, JXSimulatedFlashBed::Defaults))
        return 1;
    JXSimulatedFlashDevice& flash = *bed.flash();
    QTemporaryDir backups(pattern);
    if (!backups.isValid())
        return 1;

    const QByteArray flashAsShipped = deviceFlash();
    std::vector<double> driverTimes;
    std::vector<double> baselineTimes;
    std::vector<double> backupTimes;
    int driverCommands = 0;
    int driverOpens = 0;
    int baselineCommands = 0;
    int baselineOpens = 0;
    for (int run = 0; run < kRuns; ++run) {
        // Each run's flash differs in its last byte, outside the data store, so the driver never finds its backup
        // already kept and writes one every run, as the floor does.
        QByteArray original = flashAsShipped;
        original[kFlashSize - 1] = char(run);
        // The driver's side: the image is read and one POI deleted before the clock starts.
        flash.setExternalFlash(original);
        std::unique_ptr<BenchClient> client(static_cast<BenchClient*>(BenchClient::create(rawFlashService())));
        if (!client || !client->loadExtFlash() || !client->psf()->deletePOIs({3}))
            return 1;
        client->setDirty();
        flash.clearCommands();
        int opens = flash.openCount();
        auto start = std::chrono::steady_clock::now();
        if (!client->runFinalize())
            return 1;
        driverTimes.push_back(millisecondsSince(start));
        driverCommands = flash.commands().size();
        driverOpens = flash.openCount() - opens;
        const QByteArray written = flash.externalFlash();

        // The baselines send the bytes the driver wrote, one of them after keeping the image as read in a durable
        // file. An untimed pass first takes up what the driver's run left pending, and the two take turns.
        flash.setExternalFlash(original);
        if (!baseline(flash, written, written.left(kBlockSize)))
            return 1;
        for (int turn = 0; turn < 2; ++turn) {
            const bool withBackup = (turn == 0) == (run % 2 == 0);
            flash.setExternalFlash(original);
            flash.clearCommands();
            opens = flash.openCount();
            start = std::chrono::steady_clock::now();
            if ((withBackup && !durableCopy(backups.path(), original)) ||
                !baseline(flash, written, written.left(kBlockSize)))
                return 1;
            (withBackup ? backupTimes : baselineTimes).push_back(millisecondsSince(start));
            baselineCommands = flash.commands().size();
            baselineOpens = flash.openCount() - opens;
            if (flash.externalFlash() != written)
                return 1;
        }
    }
    bed.reset();

    const double driver = median(driverTimes);
    const double minimal = median(baselineTimes);
    const double withBackup = median(backupTimes);
    std::printf("dirty write-back of 1 MB, median of %d runs (goal: commands 1.0x, time <= 3x the floor with the "
                "backup)\n",
                kRuns);
    std::printf("  driver                 %8.2f ms  %4d commands  %2d opens\n", driver, driverCommands, driverOpens);
    std::printf("  commands only          %8.2f ms  %4d commands  %2d opens   ratio %.2fx\n", minimal,
                baselineCommands, baselineOpens, driver / minimal);
    std::printf("  commands + the backup  %8.2f ms  %4d commands  %2d opens   ratio %.2fx\n", withBackup,
                baselineCommands, baselineOpens, driver / withBackup);
    std::printf("  commands ratio %.3fx\n", double(driverCommands) / double(baselineCommands));
    return 0;
}
