#include "system/jxoperatingsystem.h"

#include <QMutex>
#include <QMutexLocker>

#include <cstring>
#include <memory>

#include "jxlog.h"
#include "linux/jxlinuxsystem.h"

namespace {

QMutex s_mutex;
std::unique_ptr<JXOperatingSystem> s_instance;
JXOperatingSystem::SimulatedScsiProvider s_scsiProvider;
QStringList s_simulatedActions;

QString defaultRoot()
{
    const QString configured = qEnvironmentVariable("JX_SYSTEM_ROOT");
    return configured.isEmpty() ? QStringLiteral("/") : configured;
}

} // namespace

bool JXScsiCommandRecord::set(const quint8* commandBlock, unsigned long length, unsigned long dataBytes)
{
    if (commandBlock == nullptr || length == 0 || length > MaxCommandLength) {
        JX_CRITICAL << "a command block must have 1 to" << int(MaxCommandLength) << "bytes, not" << quint64(length);
        return false;
    }
    if (dataBytes > BlockSize) {
        JX_CRITICAL << "one command moves at most" << int(BlockSize) << "bytes, not" << quint64(dataBytes);
        return false;
    }
    std::memset(command, 0, sizeof command);
    std::memcpy(command, commandBlock, length);
    commandLength = quint32(length);
    dataLength = quint32(dataBytes);
    return true;
}

JXOperatingSystem* JXOperatingSystem::instance()
{
    QMutexLocker locker(&s_mutex);
    if (!s_instance)
        s_instance.reset(new JXLinuxSystem(defaultRoot()));
    return s_instance.get();
}

void JXOperatingSystem::setSystemRoot(const QString& root)
{
    QMutexLocker locker(&s_mutex);
    s_instance.reset(new JXLinuxSystem(root.isEmpty() ? defaultRoot() : root));
}

QStringList JXOperatingSystem::fileSystemTypes(const QString& typeName)
{
    if (typeName == QLatin1String("msdos"))
        return {QStringLiteral("vfat"), QStringLiteral("msdos"), QStringLiteral("exfat")};
    if (typeName == QLatin1String("cd9660"))
        return {QStringLiteral("iso9660"), QStringLiteral("udf")};
    return {typeName};
}

void JXOperatingSystem::setSimulatedScsiProvider(SimulatedScsiProvider provider)
{
    QMutexLocker locker(&s_mutex);
    s_scsiProvider = std::move(provider);
}

QStringList JXOperatingSystem::simulatedActions()
{
    QMutexLocker locker(&s_mutex);
    return s_simulatedActions;
}

void JXOperatingSystem::clearSimulatedActions()
{
    QMutexLocker locker(&s_mutex);
    s_simulatedActions.clear();
}

void JXOperatingSystem::recordSimulatedAction(const QString& action)
{
    QMutexLocker locker(&s_mutex);
    s_simulatedActions.append(action);
}

JXScsiChannel* JXOperatingSystem::createSimulatedScsiChannel(const JXScsiDevice& device)
{
    SimulatedScsiProvider provider;
    {
        QMutexLocker locker(&s_mutex);
        provider = s_scsiProvider;
    }
    if (!provider) {
        JX_WARNING << "no simulated SCSI device is registered for" << device.genericName;
        return nullptr;
    }
    return provider(device);
}
