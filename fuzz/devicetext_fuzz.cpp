// libFuzzer target for a device's description file ("System/device.txt"), read by the code that reads it in the
// updater: the discovery on a simulated system (which marks the file), the file-update driver's identity queries
// through a client made by the discovered row's factory, and the registry rows of both mass-storage families.
//
// The driver reads the file once as the device brought it and once after discovery marked it: marking may add its
// key but must not change what the driver sees. Nothing but the description file may appear on the volume.

#include "device/fitdevice/jxfitdevice.h"
#include "device/jxdevicemanager.h"
#include "device/jxfsdeviceservice.h"
#include "system/jxoperatingsystem.h"
#include "system/jxplatform.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

#include <cstdint>
#include <memory>

#include "fuzzsupport.h"
#include "jxsimulatedsystem.h"

using JXFuzz::require;

namespace {

QString s_volume;
QString s_descriptionFile;
std::unique_ptr<JXSimulatedSystem> s_system;

struct Identity
{
    QString uuid;
    QString total;
    bool hasBootLoader = false;
    QString bootLoader;
    bool hasOs = false;
    QString os;
    QStringList versions;
    int deviceType = -1;
    QString capability;

    bool operator==(const Identity& other) const
    {
        return uuid == other.uuid && total == other.total && hasBootLoader == other.hasBootLoader &&
               bootLoader == other.bootLoader && hasOs == other.hasOs && os == other.os && versions == other.versions &&
               deviceType == other.deviceType && capability == other.capability;
    }
};

Identity identityOf(JXFitDevice& device)
{
    Identity identity;
    require(device.getUUID(identity.uuid), "getUUID fails");
    require(device.getTotal(identity.total), "getTotal fails");
    identity.hasBootLoader = device.getBootloader(identity.bootLoader);
    identity.hasOs = device.getOS(identity.os);
    identity.versions = QStringList{device.getLangVersion(), device.getBluetoothVersion(), device.getTimeZoneVersion(),
                                    device.getNotificationLangVersion()};
    identity.deviceType = device.getDeviceType();
    require(identity.deviceType == 0 || identity.deviceType == 1, "a device type other than 0 or 1");
    identity.capability = device.getCapability();
    return identity;
}

// As the driver sees the volume when the file is as the device wrote it.
Identity driverIdentity()
{
    stRegDevInfo row;
    row.modelName = QStringLiteral("Zelto99");
    JXFitDevice device;
    device.setDeviceService(new JXFSDeviceService(s_volume, &row, s_descriptionFile));
    return identityOf(device);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    JXFuzz::silenceMessages();
    // The platform layer prints its traces on standard output; libFuzzer reports on standard error.
    require(std::freopen("/dev/null", "w", stdout) != nullptr, "cannot silence standard output");
    const QString root = JXFuzz::scratchRoot("devicetext");
    s_volume = root + QLatin1String("/volume");
    s_descriptionFile = s_volume + QLatin1String("/System/device.txt");
    s_system.reset(new JXSimulatedSystem(root + QLatin1String("/system")));
    require(s_system->addVexmorStick(s_volume), "cannot make the simulated device");
    JXOperatingSystem::setSystemRoot(s_system->root());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    JXFuzz::removeTree(s_volume + QLatin1String("/System"));
    require(JXFuzz::writeFile(s_descriptionFile, QByteArray(reinterpret_cast<const char*>(data), int(size))),
            "cannot write the description file");
    // The INI reader keeps what it read of a path while the file's size and time stay the same. Two inputs written
    // within one tick of the file system's clock can share both, and the driver would see the input before; each
    // input gets a time of its own.
    static qint64 s_inputs = 0;
    QFile written(s_descriptionFile);
    require(written.open(QIODevice::ReadWrite) &&
                written.setFileTime(QDateTime::fromSecsSinceEpoch(1000000000 + ++s_inputs, Qt::UTC),
                                    QFileDevice::FileModificationTime),
            "cannot date the description file");
    written.close();

    const Identity asBrought = driverIdentity();

    JXDeviceManager manager;
    manager.setManagedDeviceType(JXDeviceManager::DEVICE_TYPE_FIT);
    // One row of a known family, so that a UUID can also match instead of making a row.
    stRegDevInfo known;
    known.code = QStringLiteral("ZE01");
    known.modelName = QStringLiteral("Zelto");
    known.factory = &JXFitDevice::create;
    manager.registerDevice(known, false);
    const QVector<JXDeviceService*> services = JXPlatform().findFSDevices(&manager, nullptr);
    require(services.size() <= 1, "one search found more than one device");

    // The other mass-storage family reads the same keys when a volume holds its description file.
    JXPlatform().findGalDeviceInfo(&manager, s_descriptionFile);

    if (services.isEmpty()) {
        require(driverIdentity() == asBrought, "the driver reads the file differently after discovery");
    } else {
        JXDeviceService* service = services.first();
        QString discoveredUuid;
        service->readDeviceUUID(discoveredUuid);
        stRegDevInfo* row = service->getRegistryInfo();
        require(row && row->factory, "the found device has no factory");
        std::unique_ptr<JXClient> client(row->factory(service)); // owns the service
        auto* device = dynamic_cast<JXFitDevice*>(client.get());
        require(device != nullptr, "the factory made no file-update client");
        const Identity afterMark = identityOf(*device);
        require(afterMark == asBrought, "marking the file changed what the driver reads");
        require(discoveredUuid == afterMark.uuid, "discovery and driver read different UUIDs");
    }

    require(JXFuzz::entriesOf(s_volume) == QStringList{"System"} &&
                JXFuzz::entriesOf(s_volume + QLatin1String("/System")) == QStringList{"device.txt"},
            "reading the description file left something on the volume");
    return 0;
}
