// libFuzzer target for a package's "release.ini". The input is read by the driver's readImageInfo, then packed with a
// few images into a package that the driver's software update (_updateTotal, called directly on this thread) unpacks
// and installs on a simulated device. Whatever the file lists, only the images it names (relative, without "..") and
// "update.ini" may appear on the volume, nothing may appear beside it, and the unpacked package must be gone once
// the client is.

#include "device/fitdevice/jxfitdevice.h"
#include "device/jxfsdeviceservice.h"
#include "jxenv.h"
#include "system/jxoperatingsystem.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QSet>

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

#include <cstdint>
#include <memory>

#include "fuzzsupport.h"
#include "jxsimulatedsystem.h"

using JXFuzz::require;

namespace {

const QString kModel = QStringLiteral("Zelto99");
// Older than anything a package is likely to name, so that images get copied.
const QByteArray kDeviceText = "[UUID]\nUUID=ZE01000000000001\n[OS]\nVersion=1.0\n[BootLoader]\nVersion=B01\n"
                               "[DeviceLang]\nVersion=LG0001\n[NotificationLang]\nVersion=NL01\n"
                               "[TimeZone]\nVersion=TZ01\n[Bluetooth]\nVersion=BT1\n";
// The images every package carries; the fuzzed file decides which of them, or of other names, it lists.
const char* const kImageNames[] = {"os.bin", "boot.bin", "lang.bin", "System/tz.bin", "sub/bt.bin"};

QString s_root;
QString s_releaseIni;
QString s_package;
QString s_volume;
QString s_sentinel;
QString s_modelTmpFolder;
QByteArray s_sentinelSnapshot;
QStringList s_rootEntries;
std::unique_ptr<JXSimulatedSystem> s_system;

class FuzzFitDevice : public JXFitDevice
{
public:
    using JXFitDevice::_updateTotal;
};

QByteArray packageWith(const QByteArray& releaseIni)
{
    QBuffer buffer;
    QuaZip zip(&buffer);
    require(zip.open(QuaZip::mdCreate), "cannot make the package");
    const auto add = [&zip](const QString& name, const QByteArray& data) {
        QuaZipFile file(&zip);
        require(file.open(QIODevice::WriteOnly, QuaZipNewInfo(name)) && file.write(data) == data.size(),
                "cannot pack an image");
        file.close();
    };
    add(QStringLiteral("release.ini"), releaseIni);
    for (const char* name : kImageNames)
        add(QLatin1String(name), QByteArray(name).repeated(8));
    zip.close();
    require(zip.getZipError() == 0, "cannot make the package");
    return buffer.data();
}

std::unique_ptr<FuzzFitDevice> makeDevice()
{
    stRegDevInfo row;
    row.code = QStringLiteral("ZE01");
    row.modelName = kModel;
    std::unique_ptr<FuzzFitDevice> device(new FuzzFitDevice);
    device->setDeviceService(new JXFSDeviceService(s_volume, &row, s_volume + QLatin1String("/System/device.txt")));
    device->setReadBackTiming(2000, 1);
    return device;
}

void checkVolume(const QList<JXFitDevice::FitImageInfo>& images)
{
    QSet<QString> allowed{QStringLiteral("System"), QStringLiteral("System/device.txt"), QStringLiteral("update.ini")};
    for (const JXFitDevice::FitImageInfo& image : images) {
        const QString name = QDir::cleanPath(image.fileName);
        if (!name.isEmpty() && !QDir::isAbsolutePath(name) &&
            !name.split(QLatin1Char('/')).contains(QStringLiteral("..")))
            allowed.insert(name);
    }
    for (const JXFuzz::TreeEntry& entry : JXFuzz::treeOf(s_volume)) {
        require(allowed.contains(entry.path), "the update wrote a file that the package does not name");
        require(entry.kind == 'f' || entry.kind == 'd', "the update made something other than a file or folder");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    JXFuzz::silenceMessages();
    require(std::freopen("/dev/null", "w", stdout) != nullptr, "cannot silence standard output");
    s_root = JXFuzz::scratchRoot("releaseini");
    s_releaseIni = s_root + QLatin1String("/release.ini");
    s_package = s_root + QLatin1String("/Total.zip");
    s_volume = s_root + QLatin1String("/volume");
    s_sentinel = s_root + QLatin1String("/sentinel");
    JXEnv::getInstance()->setUserDataBaseFolder(s_root + QLatin1String("/user"));
    s_modelTmpFolder = JXEnv::getInstance()->getTmpFolder() + QLatin1Char('/') + kModel;
    s_system.reset(new JXSimulatedSystem(s_root + QLatin1String("/system")));
    require(s_system->addVexmorStick(s_volume, kDeviceText), "cannot make the simulated device");
    JXOperatingSystem::setSystemRoot(s_system->root());
    require(JXFuzz::writeFile(s_sentinel + QLatin1String("/os.bin"), "sentinel\n"), "cannot make the sentinel");
    s_sentinelSnapshot = JXFuzz::snapshotOf(s_sentinel);
    s_rootEntries = QStringList{"Total.zip", "release.ini", "sentinel", "system", "user", "volume"};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray releaseIni(reinterpret_cast<const char*>(data), int(size));
    JXFuzz::removeTree(s_volume);
    require(JXFuzz::writeFile(s_volume + QLatin1String("/System/device.txt"), kDeviceText), "cannot make the volume");
    require(JXFuzz::writeFile(s_releaseIni, releaseIni), "cannot write release.ini");
    require(JXFuzz::writeFile(s_package, packageWith(releaseIni)), "cannot write the package");

    {
        std::unique_ptr<FuzzFitDevice> device = makeDevice();
        const QList<JXFitDevice::FitImageInfo> images = device->readImageInfo(s_releaseIni);
        device->_updateTotal(s_package, QString());
        checkVolume(images);
    }

    require(JXFuzz::entriesOf(s_root) == s_rootEntries, "something appeared beside the volume");
    require(JXFuzz::snapshotOf(s_sentinel) == s_sentinelSnapshot, "the sentinel folder changed");
    require(JXFuzz::entriesOf(s_modelTmpFolder).isEmpty(), "the unpacked package outlived its client");
    return 0;
}
