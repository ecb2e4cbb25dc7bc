// Map-data update of the map devices: the country files of the map volume are replaced by those of a folder on the
// computer, checked by MD5, and the new map description takes the place of the old one. Runs on the client's worker
// thread. The device reads "currentMap.xml" to know its maps, so that file is switched only once every country was
// copied and checked, and it is never left missing.

#include "device/zelto50/jxzelto50.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "../jxquoted.h"
#include "device/jxdevicevolume.h"
#include "jxlog.h"
#include "system/jxplatform.h"

namespace {

const QLatin1String kMapVolumeMark("zelto60map");
const QLatin1String kDataFolder("/data");
const QLatin1String kCountriesFolder("/mapengine/map/Countries");
const QLatin1String kMapsInfoFolder("/mapsinfo");
const QLatin1String kCurrentMap("/currentMap.xml");
const QLatin1String kNewMap("/temp.xml");
// Where the old description waits while the new one takes its name.
const QLatin1String kCurrentMapAside("/currentMap.xml.old");
// Map files run to gigabytes: they are hashed a block at a time.
const int kHashBlock = 1024 * 1024;

// Files and folders, without hidden entries, in the order the file system gives them.
QFileInfoList mapEntries(const QString& folder)
{
    return QDir(folder).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
}

// "Alpha.map" and "Alpha.idx" belong to the country "Alpha".
QString countryOf(const QString& fileName)
{
    return fileName.section(QLatin1Char('.'), 0, 0);
}

bool isMapVendor(const QString& vendor)
{
    const QString name = vendor.toLower();
    return name.contains(QLatin1String("vexmor")) || name.contains(QLatin1String("tirna ms")) ||
           name.contains(QLatin1String("tirna device"));
}

// Lower-case hexadecimal MD5 of the file; empty when it cannot be read to its end.
QByteArray md5Of(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        JX_CRITICAL << "open " << quoted(path) << " failed: " << file.errorString();
        return QByteArray();
    }
    static thread_local QByteArray buffer(kHashBlock, Qt::Uninitialized);
    QCryptographicHash hash(QCryptographicHash::Md5);
    for (;;) {
        const qint64 count = file.read(buffer.data(), buffer.size());
        if (count < 0) {
            JX_CRITICAL << "read " << quoted(path) << " failed: " << file.errorString();
            return QByteArray();
        }
        if (count == 0)
            break;
        hash.addData(buffer.constData(), int(count));
    }
    return hash.result().toHex();
}

bool sameFile(const QString& source, const QString& copy)
{
    const QFileInfo copyInfo(copy);
    if (!copyInfo.isFile()) {
        JX_CRITICAL << "copied map file missing: " << quoted(copy);
        return false;
    }
    if (copyInfo.size() != QFileInfo(source).size()) {
        JX_CRITICAL << "copied map file " << quoted(copy) << " has " << copyInfo.size() << " bytes, its source "
                    << QFileInfo(source).size();
        return false;
    }
    const QByteArray sourceDigest = md5Of(source);
    if (sourceDigest.isEmpty())
        return false;
    const QByteArray copyDigest = md5Of(copy);
    if (copyDigest != sourceDigest) {
        JX_CRITICAL << "MD5 of " << quoted(copy) << " is " << copyDigest << ", of its source " << sourceDigest;
        return false;
    }
    return true;
}

// Every file below source has a copy of the same digest below target. Links are passed over, as the copy passes
// over them.
bool sameTree(const QString& source, const QString& target)
{
    for (const QFileInfo& entry : mapEntries(source)) {
        if (entry.isSymLink())
            continue;
        const QString copy = target + QLatin1Char('/') + entry.fileName();
        if (entry.isDir()) {
            if (!QFileInfo(copy).isDir()) {
                JX_CRITICAL << "copied map folder missing: " << quoted(copy);
                return false;
            }
            if (!sameTree(entry.absoluteFilePath(), copy))
                return false;
        } else if (entry.isFile() && !sameFile(entry.absoluteFilePath(), copy)) {
            return false;
        }
    }
    return true;
}

// temp.xml becomes currentMap.xml. The old description is moved aside rather than removed, so that a failed rename
// can put it back: the device is never left without one.
bool switchMapDescription(JXDeviceVolume& volume, const QString& folder)
{
    const QString current = folder + kCurrentMap;
    const QString aside = folder + kCurrentMapAside;
    const auto isPresent = [&volume](const QString& path) {
        return volume.kindOf(path) != JXDeviceVolume::Kind::Missing;
    };
    if (isPresent(current)) {
        // An aside file beside a current one is a leftover of an update cut off after the switch.
        if (isPresent(aside) && !volume.removeFile(aside)) {
            JX_CRITICAL << "remove " << quoted(aside) << " failed";
            return false;
        }
        if (!volume.rename(current, aside)) {
            JX_CRITICAL << "move " << quoted(current) << " aside failed";
            return false;
        }
    }
    if (volume.rename(folder + kNewMap, current)) {
        volume.removeFile(aside);
        return true;
    }
    JX_CRITICAL << "rename " << quoted(folder + kNewMap) << " to " << quoted(current) << " failed";
    if (isPresent(aside) && !volume.rename(aside, current))
        JX_CRITICAL << "putting back " << quoted(current) << " failed; the old description is " << quoted(aside);
    return false;
}

} // namespace

QStringList JXZelto50::GetDriveDisks(QString model)
{
    QStringList drives;
    if (!model.startsWith(QLatin1String("Zelto50")) && model != QLatin1String("Zelto60"))
        return drives;
    QString own;
    if (!getDrive(own))
        own.clear();
    drives.append(own);
    JXPlatform platform;
    const QString ownPath = own.isEmpty() ? QString() : QDir::cleanPath(own);
    for (const QString& volume : platform.getRemovableDrives(QStringLiteral("msdos"))) {
        if (QDir::cleanPath(volume) != ownPath && isMapVendor(platform.getDriveVendorName(volume)))
            drives.append(volume);
    }
    JX_DEBUG << "Vexmor Disks are:" << drives;
    return drives;
}

bool JXZelto50::_updateMapData(QString text)
{
    m_error = true;
    const QStringList parts = text.split(QLatin1Char('^'), Qt::KeepEmptyParts);
    if (parts.size() < 2) {
        JX_CRITICAL << "map update without a model: " << quoted(text);
        return false;
    }
    const QString resources = parts.at(0);
    QString mapVolume;
    for (const QString& drive : GetDriveDisks(parts.at(1))) {
        if (drive.toLower().contains(kMapVolumeMark))
            mapVolume = drive;
    }
    QStringList names;
    for (const QFileInfo& entry : mapEntries(resources))
        names.append(entry.fileName());
    JX_DEBUG << "Map resources are:" << names;

    const QString data = mapVolume + kDataFolder;
    if (mapVolume.isEmpty() || !QFileInfo(data).isDir()) {
        JX_CRITICAL << "no map volume with " << quoted(kDataFolder) << " for " << quoted(parts.at(1));
        return false;
    }
    if (names.isEmpty()) {
        JX_CRITICAL << "no map resources in " << quoted(resources);
        return false;
    }
    const QString countries = data + kCountriesFolder;
    JXDeviceVolume volume(mapVolume);
    // Every resource is tried, so one bad country does not hold back the others; but the map description names
    // them all, so it is switched only when none failed.
    bool result = true;
    for (const QString& name : qAsConst(names)) {
        const QString source = resources + QLatin1Char('/') + name;
        if (!removeMapFiles(volume, source, countries) || !copyMapTree(volume, source, countries, true) ||
            !checkCopiedMapFiles(source, countries)) {
            JX_CRITICAL << "map resource " << quoted(name) << " not updated";
            result = false;
        }
    }
    if (!result)
        return false;
    const QString mapsInfo = data + kMapsInfoFolder;
    if (volume.kindOf(mapsInfo + kNewMap) != JXDeviceVolume::Kind::File)
        return true;
    result = switchMapDescription(volume, mapsInfo);
    if (result)
        m_error = false;
    return result;
}

bool JXZelto50::removeMapFilesOnDisk(QString source, QString target)
{
    JXDeviceVolume volume = volumeFor(target);
    return removeMapFiles(volume, source, target);
}

bool JXZelto50::removeMapFiles(JXDeviceVolume& volume, const QString& source, const QString& target)
{
    const QFileInfoList sources = mapEntries(source);
    const QStringList targets = volume.entryNames(target);
    if (sources.isEmpty()) {
        JX_CRITICAL << "no map files in " << quoted(source);
        return false;
    }
    bool result = true;
    for (const QFileInfo& entry : sources) {
        const QString country = countryOf(entry.fileName());
        for (const QString& old : targets) {
            const QString path = target + QLatin1Char('/') + old;
            // A failure shows below: the file is still there.
            if (!old.startsWith(QLatin1Char('.')) && countryOf(old) == country &&
                volume.kindOf(path) != JXDeviceVolume::Kind::Folder)
                volume.removeFile(path);
        }
        const QString left = target + QLatin1Char('/') + entry.fileName();
        if (volume.kindOf(left) != JXDeviceVolume::Kind::Missing) {
            JX_CRITICAL << "old map entry left: " << quoted(left);
            result = false;
        }
    }
    return result;
}

bool JXZelto50::copyMapFiles(QString source, QString target, bool keepTime)
{
    JXDeviceVolume volume = volumeFor(target);
    return copyMapTree(volume, source, target, keepTime);
}

bool JXZelto50::copyMapTree(JXDeviceVolume& volume, const QString& source, const QString& target, bool keepTime)
{
    if (!volume.copyTreeIn(source, target, keepTime, kSameFileWindowMs, nullptr)) {
        JX_CRITICAL << "copy of the map resource " << quoted(source) << " to " << quoted(target) << " failed";
        return false;
    }
    return true;
}

bool JXZelto50::checkCopiedMapFiles(QString source, QString target)
{
    if (mapEntries(source).isEmpty()) {
        JX_CRITICAL << "no map files to check in " << quoted(source);
        return false;
    }
    return sameTree(source, target);
}
