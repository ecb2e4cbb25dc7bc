#include "system/jxplatform.h"

#include <QVariantMap>
#include <QVariant>

#include "device/fitdevice/jxfitdevice.h"
#include "device/gal/jxgaldevice.h"
#include "device/jxdevicemanager.h"
#include "device/jxfsdeviceservice.h"
#include "device/zelto50/jxzelto60.h"
#include "jxlog.h"
#include "jxutility.h"
#include "system/jxmacplatform.h"

namespace {

// The vendor names under which the mass-storage devices and their storage volumes show up.
const char kMassStorageMatchText[] = "VEXMOR:zelto:Zelto:TIRNA Device:TIRNA MS:TIRNA";

// A value with commas comes back from the INI reader as a list: it is one text in a description file.
QString iniText(const QVariantMap& values, const QString& key)
{
    return JXUtility::settingText(values.value(key));
}

// False when the description file names no usable model.
bool readDescriptionFile(const QString& path, QString& model, QString& uuid)
{
    QVariantMap values;
    if (!JXFSDeviceService::readDescriptionValues(path, values) || !values.contains(QStringLiteral("MODEL/Model")))
        return false;
    model = iniText(values, QStringLiteral("MODEL/Model")).trimmed();
    // The model name becomes folder names of this computer: one that could leave its folder is no model name.
    if (!JXClient::isSafeModelName(model)) {
        JX_CRITICAL << "the description file" << path << "names the model" << model << ", which is no folder name";
        return false;
    }
    uuid = iniText(values, QStringLiteral("UUID/UUID"));
    return true;
}

stRegDevInfo* registerAtEnd(JXDeviceManager* manager, const stRegDevInfo& row)
{
    manager->registerDevice(row, false);
    return &manager->getRegistryDevices().last();
}

} // namespace

JXPlatform::JXPlatform() : m_platform(createInstance()) {}

JXPlatform::~JXPlatform() = default;

JXPlatformInterface* JXPlatform::createInstance()
{
    return new JXMacPlatform();
}

bool JXPlatform::getDiskStorage(QString drive, qint64& total, qint64& free)
{
    return m_platform->getDiskStorage(drive, total, free);
}

JXEnvInterface* JXPlatform::createEnv()
{
    return m_platform->createEnv();
}

QStringList JXPlatform::getRemovableDrives(QString type, QStringList* diskNames)
{
    return m_platform->getRemovableDrives(type, diskNames);
}

QString JXPlatform::getDriveVendorName(QString drive)
{
    return m_platform->getDriveVendorName(drive);
}

bool JXPlatform::ejectDevice(QString drive, JXDeviceDetector* detector)
{
    return m_platform->ejectDevice(drive, detector);
}

QVector<JXDeviceService*> JXPlatform::findSCSIDevices(QVector<stRegDevInfo>& registry)
{
    return m_platform->findSCSIDevices(registry);
}

JXDeviceDetector* JXPlatform::createDevcieDetector(JXDeviceManager* manager)
{
    return m_platform->createDevcieDetector(manager);
}

QVector<JXDeviceService*> JXPlatform::findFSDevices(JXDeviceManager* manager, QStringList* diskNames)
{
    QVector<JXDeviceService*> services;
    if (!manager) {
        JX_WARNING << "no device manager to search devices for";
        return services;
    }
    QVector<stRegDevInfo>& registry = manager->getRegistryDevices();
    const bool fitFamily = (manager->getManagedDeviceType() & JXDeviceManager::DEVICE_TYPE_FIT) != 0;

    const QStringList drives = m_platform->getRemovableDrives(QStringLiteral("msdos"), diskNames);
    JX_DEBUG << QStringLiteral("get drives=%1").arg(drives.size());
    QString storageDrive;
    for (const QString& drive : drives) {
        const QString vendor = m_platform->getDriveVendorName(drive);
        JX_DEBUG << QStringLiteral("vendorname=%1").arg(vendor);
        JX_DEBUG << "to find device.ini on " << drive;
        const QString descriptionFile = fitFamily ? JXUtility::findDeviceText(drive) : JXUtility::findDeviceIni(drive);
        if (!descriptionFile.isEmpty()) {
            // Read on every such volume, so that each gets its mark, also after a device was found. An empty UUID
            // goes on to match a row with an empty code.
            QString uuid;
            JXFSDeviceService::readDeviceUUID(descriptionFile, uuid);
            if (services.isEmpty()) {
                const QString code = uuid.left(4);
                for (const stRegDevInfo& row : qAsConst(registry)) {
                    if (row.code == code) {
                        services.append(new JXFSDeviceService(drive, &row, descriptionFile));
                        JX_DEBUG << "device id matched";
                        break;
                    }
                }
            }
            if (services.isEmpty()) {
                const stRegDevInfo* row = fitFamily ? findFitDeviceInfo(manager, descriptionFile)
                                                    : findGalDeviceInfo(manager, descriptionFile);
                if (row)
                    services.append(new JXFSDeviceService(drive, row, descriptionFile));
            }
        } else if (!JXUtility::getRegistryDevices(vendor, registry).isEmpty()) {
            storageDrive = drive;
        }
        if (!services.isEmpty() && !storageDrive.isEmpty()) {
            static_cast<JXFSDeviceService*>(services.first())->setStorageDrive(storageDrive);
            break;
        }
    }
    return services;
}

stRegDevInfo* JXPlatform::findFitDeviceInfo(JXDeviceManager* manager, QString descriptionFile)
{
    QString model;
    QString uuid;
    if (!manager || !readDescriptionFile(descriptionFile, model, uuid))
        return nullptr;
    JX_DEBUG << "register fit deviceInfo for " << model;
    stRegDevInfo row;
    // A malformed UUID still gives a row, with an empty code.
    if (uuid.size() == 16)
        row.code = uuid.left(4);
    row.modelName = model;
    row.matchText = QLatin1String(kMassStorageMatchText);
    row.factory = &JXFitDevice::create;
    return registerAtEnd(manager, row);
}

stRegDevInfo* JXPlatform::findGalDeviceInfo(JXDeviceManager* manager, QString descriptionFile)
{
    QString model;
    QString uuid;
    if (!manager || !readDescriptionFile(descriptionFile, model, uuid) || uuid.size() != 16)
        return nullptr;
    JX_DEBUG << "register GAL deviceInfo for " << model;
    stRegDevInfo row;
    row.code = uuid.left(4);
    row.modelName = model;
    row.matchText = QLatin1String(kMassStorageMatchText);
    row.factory = model == QLatin1String("Zelto60") ? &JXZelto60::create : &JXGalDevice::create;
    return registerAtEnd(manager, row);
}
