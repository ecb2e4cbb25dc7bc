// The GPS engine and the map-engine data that a map device keeps below a "/data" folder of its volumes, the
// cycling-road versions of the map cards beside it, and the device's multi-language texts.
//
// A component's version is recorded in the volume's "version.ini" only once its files were copied and read back:
// a recorded version is what keeps the next run from installing again, so it must never stand for a broken copy.

#include "device/zelto50/jxzelto50.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include "../../../../core/include/location/ghlocale.h"
#include "../jxquoted.h"
#include "compress/jxziputil.h"
#include "device/jxdevicevolume.h"
#include "jxenv.h"
#include "jxlog.h"
#include "jxutility.h"

namespace {

const QLatin1String kEngineComponent("GPST_ENGINE");
const QLatin1String kMapDataComponent("MapData");
const QLatin1String kMapDataModel("Zelto60");
const QLatin1String kZelto50Prefix("Zelto50");
// On the device's own volume the engine belongs to the cycling application.
const QLatin1String kOwnDriveRoot("/oriska/applications/cycling");
const QLatin1String kDataFolder("/data");
const QLatin1String kVersionFile("/data/version.ini");
const QLatin1String kMapEngineFolder("/mapengine");
const QLatin1String kEngineKey("version");
const QLatin1String kDataKey("dat");
const QLatin1String kUnknownVersion("0.0.0.0");

const QLatin1String kCycleRoadVersionFile("data/mapengine/bikedata/cycleroadver.txt");
const QLatin1String kCurrentMapFile("data/mapsinfo/currentMap.xml");
const QByteArray kVectorMapMarker("type=\"vectormap\"");
// A card's version file holds one short text and its map description a few entries; anything larger is no such
// file, and is not read into memory.
const qint64 kMaxCardFileRead = 1024 * 1024;

bool isEngineModel(const QString& model)
{
    return model.startsWith(kZelto50Prefix) || model == kMapDataModel;
}

enum class InstallDecision { UpToDate, Install, Keep };

// Keep: the device holds a higher version, or one of another shape that cannot be compared.
InstallDecision decideInstall(const QString& current, const QString& wanted)
{
    if (current == wanted)
        return InstallDecision::UpToDate;
    if (JXZelto50::compareVersions({current, wanted}) == current)
        return InstallDecision::Install;
    return InstallDecision::Keep;
}

// Each client unpacks into its own folder: two devices updating at once must not empty each other's package. The
// process id keeps apart the clients of two programs sharing one user data folder.
QString unpackFolderOf(const JXZelto50* client)
{
    return JXEnv::getInstance()->getTmpFolder() + QLatin1String("/Zelto50Component/") +
           QString::number(QCoreApplication::applicationPid()) + QLatin1Char('-') +
           QString::number(quintptr(client), 16);
}

// The whole file when it is a regular file of at most kMaxCardFileRead bytes.
bool readCardFile(const QString& path, QByteArray& bytes)
{
    const QFileInfo info(path);
    if (info.isFile() && info.size() > kMaxCardFileRead) {
        JX_WARNING << "not read, larger than" << kMaxCardFileRead << "bytes:" << quoted(path);
        return false;
    }
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bytes = file.read(kMaxCardFileRead + 1);
    if (bytes.size() > kMaxCardFileRead) {
        JX_WARNING << "not read, grew past" << kMaxCardFileRead << "bytes:" << quoted(path);
        return false;
    }
    return true;
}

// Unpacks, copies into target on the volume and reads back one component; false, logged, at the first step that
// fails.
bool installComponentFiles(JXZelto50& client, const QString& packageFile, const QStringList& leaveOut,
                           const QString& volume, const QString& target)
{
    const QString unpacked = client.makeGPSENGINETempFiles(packageFile, leaveOut);
    if (unpacked.isEmpty())
        return false;
    QStringList copied;
    if (!JXDeviceVolume(volume).copyTreeIn(unpacked, target, true, JXZelto50::kSameFileWindowMs, &copied)) {
        JX_CRITICAL << "copy of the component to" << quoted(target) << "failed";
        return false;
    }
    if (!client.checkFiles(copied)) {
        JX_CRITICAL << "read-back of the component in" << quoted(target) << "failed";
        return false;
    }
    return true;
}

} // namespace

// ---- Component update ----------------------------------------------------------------------------------------------

bool JXZelto50::_updateComponent(JXClientCompUpdateInfo info)
{
    const JXFunctionTrace trace(QStringLiteral("_updateComponent"));
    bool result = false;
    if (info.component == kEngineComponent)
        result = UpdateGPSENGINEProcess(info.packageFile, info.model, info.version);
    else if (info.component == kMapDataComponent)
        result = UpdateMapDataProcess(info.packageFile, info.model, info.version);
    else
        JX_WARNING << "unknown component" << info.component;
    // The unpacked package has served: it is no use to the next run, which unpacks afresh.
    removeFiles(unpackFolderOf(this));
    return result;
}

bool JXZelto50::UpdateGPSENGINEProcess(QString packageFile, QString model, QString version)
{
    if (!isEngineModel(model)) {
        JX_WARNING << "no GPS engine update for the model" << model;
        return false;
    }
    const QStringList volumes = GetDriveDisks(model);
    QString ownDrive;
    if (!getDrive(ownDrive))
        ownDrive.clear();
    bool result = false;
    for (const QString& volume : volumes) {
        // Without a drive the root would lie on the computer's own file system.
        if (volume.isEmpty())
            continue;
        const bool own = (volume == ownDrive);
        if (own && model != kMapDataModel)
            continue;
        const QString root = own ? volume + kOwnDriveRoot : volume;
        const QString dataFolder = root + kDataFolder;
        const QString current = GetGPSENGINEVersion(kEngineKey, root);
        bool install = false;
        if (own) {
            install =
                !QFileInfo::exists(root + kVersionFile) || decideInstall(current, version) == InstallDecision::Install;
        } else if (!QFileInfo(dataFolder).isDir()) {
            // A vendor volume without a data folder carries no engine.
            result = true;
            continue;
        } else {
            install = decideInstall(current, version) == InstallDecision::Install;
        }
        if (!install) {
            result = true;
            continue;
        }
        if (!installComponentFiles(*this, packageFile, {QStringLiteral("version.ini")}, volume, dataFolder) ||
            !SetGPSENGINEVersion(kEngineKey, root, version))
            return false;
        result = true;
    }
    return result;
}

bool JXZelto50::UpdateMapDataProcess(QString packageFile, QString model, QString versions)
{
    if (model != kMapDataModel) {
        JX_WARNING << "no map data update for the model" << model;
        return false;
    }
    const QStringList wanted = versions.split(QLatin1Char('^'), Qt::KeepEmptyParts);
    if (wanted.size() != 2) {
        JX_CRITICAL << "map data versions must be the engine's and the data's, joined by ^:" << versions;
        return false;
    }
    const QString engineVersion = wanted.at(0);
    const QString dataVersion = wanted.at(1);
    const QStringList volumes = GetDriveDisks(model);
    QString ownDrive;
    if (!getDrive(ownDrive))
        ownDrive.clear();
    bool result = false;
    for (const QString& volume : volumes) {
        if (volume.isEmpty())
            continue;
        const bool own = (volume == ownDrive);
        const QString root = own ? volume + kOwnDriveRoot : volume;
        const QString dataFolder = root + kDataFolder;

        // The engine. What "carried" holds decides the volume when its data is neither installed nor up to date.
        const QString currentEngine = GetGPSENGINEVersion(kEngineKey, root);
        InstallDecision engine = InstallDecision::Keep;
        if (own) {
            engine = QFileInfo::exists(root + kVersionFile) ? decideInstall(currentEngine, engineVersion)
                                                            : InstallDecision::Install;
        } else if (!QFileInfo(dataFolder).isDir()) {
            result = true;
            continue;
        } else {
            engine = decideInstall(currentEngine, engineVersion);
        }
        bool carried = (engine == InstallDecision::UpToDate) ? true : result;
        if (engine == InstallDecision::Install) {
            if (!installComponentFiles(*this, packageFile,
                                       {QStringLiteral("version.ini"), QStringLiteral("gpstuner.dat")}, volume,
                                       dataFolder) ||
                !SetGPSENGINEVersion(kEngineKey, root, engineVersion))
                return false;
            result = carried = true;
        }

        // The map-engine data lives on the map volumes only.
        if (own) {
            result = true;
            continue;
        }
        const InstallDecision data = decideInstall(GetGPSENGINEVersion(kDataKey, root), dataVersion);
        if (data == InstallDecision::UpToDate) {
            result = true;
            continue;
        }
        if (data == InstallDecision::Keep) {
            result = carried;
            continue;
        }
        const QString mapEngineFolder = dataFolder + kMapEngineFolder;
        if (!JXDeviceVolume(volume).makeFolders(mapEngineFolder)) {
            JX_CRITICAL << "create" << quoted(mapEngineFolder) << "failed";
            return false;
        }
        if (!installComponentFiles(
                *this, packageFile,
                {QStringLiteral("version.ini"), QStringLiteral("mapengine.dll"), QStringLiteral("release.md5")},
                volume, mapEngineFolder) ||
            !SetGPSENGINEVersion(kDataKey, root, dataVersion))
            return false;
        result = true;
    }
    return result;
}

QString JXZelto50::makeGPSENGINETempFiles(QString packageFile, QStringList leaveOut)
{
    const QString folder = unpackFolderOf(this);
    // Whatever stays of an earlier package would be copied with this one.
    if (!removeFiles(folder) || QFileInfo::exists(folder)) {
        JX_CRITICAL << "emptying" << quoted(folder) << "failed";
        return QString();
    }
    if (!QDir().mkpath(folder)) {
        JX_CRITICAL << "create" << quoted(folder) << "failed";
        return QString();
    }
    if (!JXZipUtil().decompress(packageFile, folder)) {
        JX_CRITICAL << "zelto50 unzip to pc local failed path=" << quoted(folder);
        removeFiles(folder);
        return QString();
    }
    for (const QString& name : qAsConst(leaveOut)) {
        // A file left in would be copied: the package's own "version.ini" over the device's.
        if (!removeFile(folder + QLatin1Char('/') + name)) {
            JX_CRITICAL << "leaving out" << quoted(name) << "failed";
            removeFiles(folder);
            return QString();
        }
    }
    return folder;
}

QString JXZelto50::GetGPSENGINEVersion(QString key, QString root)
{
    const QString value =
        QSettings(root + kVersionFile, QSettings::IniFormat).value(key, QString(kUnknownVersion)).toString();
    JX_DEBUG << QStringLiteral("get %1=%2").arg(key, value);
    return value;
}

bool JXZelto50::SetGPSENGINEVersion(QString key, QString root, QString value)
{
    const QString path = root + kVersionFile;
    // The file is changed in a scratch copy on the computer and written back whole through the volume, so that a
    // link at its name is replaced rather than written through.
    JXDeviceVolume volume(root);
    QByteArray current;
    if (volume.kindOf(path) == JXDeviceVolume::Kind::File && !volume.readFile(path, kMaxCardFileRead, current))
        return false;
    QTemporaryDir scratch(JXEnv::getInstance()->getTmpFolder() + QLatin1String("/versionini-XXXXXX"));
    const QString copy = scratch.filePath(QStringLiteral("version.ini"));
    QFile file(copy);
    if (!scratch.isValid() || !file.open(QIODevice::WriteOnly) || file.write(current) != current.size()) {
        JX_CRITICAL << "writing" << key << "to" << quoted(path) << "failed: no scratch copy";
        return false;
    }
    file.close();
    QSettings settings(copy, QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
    QByteArray changed;
    if (settings.status() != QSettings::NoError || !file.open(QIODevice::ReadOnly) ||
        (changed = file.readAll()).isEmpty() || !volume.writeFile(path, changed)) {
        JX_CRITICAL << "writing" << key << "to" << quoted(path) << "failed, status" << int(settings.status());
        return false;
    }
    return true;
}

QString JXZelto50::compareVersions(QStringList versions)
{
    if (versions.isEmpty())
        return QString();
    QString lowest = versions.first();
    for (const QString& version : qAsConst(versions)) {
        if (version == lowest)
            continue;
        const QStringList parts = version.split(QLatin1Char('.'), Qt::KeepEmptyParts);
        const QStringList lowestParts = lowest.split(QLatin1Char('.'), Qt::KeepEmptyParts);
        if (parts.size() != lowestParts.size())
            return QString();
        for (int i = 0; i < parts.size(); ++i) {
            // A part that is no number counts 0.
            const qlonglong number = parts.at(i).toLongLong();
            const qlonglong lowestNumber = lowestParts.at(i).toLongLong();
            if (number == lowestNumber)
                continue;
            if (number < lowestNumber)
                lowest = version;
            break;
        }
    }
    return lowest;
}

// ---- Map cards and language codes ----------------------------------------------------------------------------------

QString JXZelto50::GetComponentVersion_CYCLEROAD(QString)
{
    QString ownDrive;
    if (!getDrive(ownDrive) || ownDrive.isEmpty()) {
        // Every path contains the empty one: no volume can be told apart from the device.
        JX_DEBUG << "no drive: no map card is reported";
        return QString();
    }
    QStringList entries;
    for (const QString& volume : JXUtility::getRemovebleDrives(QStringLiteral("msdos"))) {
        if (volume.contains(ownDrive))
            continue;
        const QString root = volume + QLatin1Char('/');
        const QString versionFile = root + kCycleRoadVersionFile;
        QByteArray bytes;
        if (QFileInfo::exists(versionFile)) {
            if (!readCardFile(versionFile, bytes)) {
                JX_DEBUG << " open sd cycleroadver.txt failed";
                continue;
            }
            const int end = bytes.indexOf('\0');
            if (end >= 0)
                bytes.truncate(end);
            if (!bytes.isEmpty())
                entries.append(root + QLatin1Char('^') + QString::fromUtf8(bytes));
            continue;
        }
        const QString mapFile = root + kCurrentMapFile;
        if (QFileInfo::exists(mapFile) && readCardFile(mapFile, bytes) && bytes.contains(kVectorMapMarker))
            entries.append(root + QLatin1Char('^') + kUnknownVersion);
    }
    return entries.join(QLatin1Char('|'));
}

QString JXZelto50::mappingLangCode(QString text)
{
    // Searched in this order: the first key found anywhere in the text decides.
    static const struct
    {
        const char* key;
        const char* code;
    } kCodes[] = {
        {"JP_", "JPN"}, {"IL_he", "HEB"}, {"DE_", "GER"}, {"KR_", "KOR"}, {"HU_", "HUN"},
        {"PL_", "POL"}, {"ES_", "SPA"},   {"FR_", "FRA"}, {"CZ_", "CZE"}, {"NL_", "DUT"},
        {"IT_", "ITA"}, {"FI_", "FIN"},   {"SE_", "SWE"}, {"US_", "ENG"}, {"DK_", "DAN"},
        {"NO_", "NOR"}, {"TW_", "ZHO"},   {"CN_", "CHI"}, {"ZA_", "AFR"},
    };
    for (const auto& entry : kCodes) {
        if (text.contains(QLatin1String(entry.key), Qt::CaseInsensitive))
            return QLatin1String(entry.code);
    }
    return QStringLiteral("ENG");
}

QString JXZelto50::getStringByLang(QString text, QString lang)
{
    // The device's texts are in the format every other reader of multi-language texts understands.
    return ::getStringByLang(text, lang);
}
