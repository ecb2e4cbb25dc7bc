// Software, application and launch-section updates of the map devices. The driver never writes flash: it places the
// package and the control files on the volume, and the device's own installer acts on them at its next start. So a
// failed copy or read-back must leave nothing that the installer would take for a whole package.

#include "device/zelto50/jxzelto50.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cstdio>

#include "../jxquoted.h"
#include "compress/jxziputil.h"
#include "device/jxclienttask.h"
#include "device/jxdevicevolume.h"
#include "jxenv.h"
#include "jxlog.h"

namespace {

const QLatin1String kPackagePrefix("Vexm0r!#@");
const QLatin1String kControlFile("/Update.ini");
const QLatin1String kUpdatingFlag("/updating@@!.ini");
const QLatin1String kDefaultImage("Tirna.bin");
// The device's own name for its volume root, as the installer reads the control file.
const QByteArray kDeviceRoot("/My Disk/");
// Read back from the end of each copied file: a copy cut short fails there first.
const qint64 kReadBackBytes = 1024;

// The image name goes into a line of the control file and into a path below the package folder.
bool isSafeImageName(const QString& name)
{
    if (name.contains(QLatin1String("..")) || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return false;
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

QVector<qint64> versionParts(const QString& version)
{
    QVector<qint64> parts;
    // The two-letter prefix ("GH") goes; a part that is no number counts 0.
    for (const QString& part : version.mid(2).split(QLatin1Char('.')))
        parts.append(part.toLongLong());
    return parts;
}

} // namespace

// ---- Firmware package ----------------------------------------------------------------------------------------------

bool JXZelto50::_updateTotal(QString package, QString)
{
    QString drive;
    if (!driveRoot(drive)) {
        JX_CRITICAL << "no drive for the firmware update";
        return false;
    }
    removeUpdatePackage();
    const QString work = JXEnv::getInstance()->getTmpFolder() + QLatin1String("/zelto50image");
    removeFiles(work);
    if (!QDir().mkpath(work)) {
        JX_CRITICAL << "create " << quoted(work) << " failed";
        return false;
    }
    if (!setUpdatingFlag(true)) {
        removeFiles(work);
        return false;
    }

    const QString folderName = kPackagePrefix + QString::number(QDateTime::currentSecsSinceEpoch());
    const QString packageFolder = drive + QLatin1Char('/') + folderName;
    JXDeviceVolume volume(drive);
    bool ok = volume.kindOf(packageFolder) == JXDeviceVolume::Kind::Missing && volume.makeFolders(packageFolder);
    if (!ok)
        JX_CRITICAL << "create package folder " << quoted(packageFolder) << " failed";
    if (ok && !(ok = JXZipUtil().decompress(package, work)))
        JX_CRITICAL << "unpack " << quoted(package) << " failed";
    if (ok && !(ok = copyFiles(work, packageFolder, false, nullptr)))
        JX_CRITICAL << "copy of the package to " << quoted(packageFolder) << " failed";
    QString imageName = kDefaultImage;
    const QString releaseIni = work + QLatin1String("/release.ini");
    if (ok && QFileInfo(releaseIni).isFile()) {
        const QString name = getImageMetaInfo(releaseIni).name;
        if (!isSafeImageName(name)) {
            JX_CRITICAL << "image name refused: " << quoted(name);
            ok = false;
        } else if (!name.isEmpty()) {
            imageName = name + QLatin1String(".bin");
        }
    }
    if (ok && !(ok = checkDirectory(packageFolder)))
        JX_CRITICAL << "read-back of " << quoted(packageFolder) << " failed";
    if (ok)
        ok = writeControlFile(drive, folderName, imageName);
    if (!ok) {
        // No installer may start on part of a package. A control file left now could only name a package folder
        // that is gone: the old ones were removed above.
        removeFiles(packageFolder);
        removeFile(drive + kControlFile);
    }
    removeFiles(work);
    const bool flagRemoved = setUpdatingFlag(false);
    return ok && flagRemoved;
}

bool JXZelto50::writeControlFile(const QString& drive, const QString& folderName, const QString& imageName)
{
    const QByteArray folder = kDeviceRoot + folderName.toUtf8() + '/';
    const QByteArray text = "[Update.ini]\r\nVersion=02\r\n[Total]\r\nUpdate=true\r\nName=" + folder +
                            imageName.toUtf8() + "\r\nCRC=" + folder + "CKS.TXT\r\n";
    // Renamed into place once it reads back whole: the installer never reads half a control file.
    if (!JXDeviceVolume(drive).writeFile(drive + kControlFile, text)) {
        JX_CRITICAL << "write update.ini failed";
        return false;
    }
    return true;
}

// ---- Application tree ----------------------------------------------------------------------------------------------

bool JXZelto50::_updateAP(QString package)
{
    std::fputs("_updateAP\n", stdout);
    std::fflush(stdout);
    QString drive;
    QString appPath;
    if (!driveRoot(drive) || !getAPPath(appPath))
        return false;
    const QString work = JXEnv::getInstance()->getTmpFolder() + QLatin1String("/deviceAP");
    removeFiles(work);
    if (!QDir().mkpath(work)) {
        JX_CRITICAL << "create " << quoted(work) << " failed";
        return false;
    }
    if (!JXZipUtil().decompress(package, work)) {
        JX_CRITICAL << "zelto50 unzip to pc local failed path=" << quoted(work);
        removeFiles(work);
        return false;
    }
    const QString tree = work + QLatin1String("/oriska");
    if (!QFileInfo(tree).isDir()) {
        // Checked before the device is touched: the user settings below would be lost for nothing.
        JX_CRITICAL << "no application tree in " << quoted(package);
        removeFiles(work);
        return false;
    }
    if (!setUpdatingFlag(true)) {
        removeFiles(work);
        return false;
    }
    // Applications before 1.3.0.8 keep user settings that the new ones cannot read.
    if (isNewAPVersion(QStringLiteral("GH1.3.0.8"))) {
        removeFile(drive + QLatin1String("/oriska/applications/protrainingapp/user_settings.xml"));
        removeFile(drive + QLatin1String("/oriska/applications/training/user_settings.xml"));
    }
    if (!JXDeviceVolume(drive).makeFolders(appPath))
        JX_CRITICAL << "mkdir failed:" << quoted(appPath);

    QStringList copied;
    bool ok = copyFiles(tree, appPath, true, &copied);
    if (ok) {
        JX_DEBUG << "update AP files=" << copied.size();
        ok = checkFiles(copied);
        const QString releaseIni = work + QLatin1String("/release.ini");
        if (ok && QFileInfo(releaseIni).isFile()) {
            QString model;
            getName(model);
            JXEnv::getInstance()->updateDeviceJXInfo(model, releaseIni);
        }
    } else {
        JX_CRITICAL << "copy files failed from " << quoted(tree) << " to " << quoted(appPath);
    }
    removeFiles(work);
    const bool flagRemoved = setUpdatingFlag(false);
    return ok && flagRemoved;
}

// ---- Launch section ------------------------------------------------------------------------------------------------

bool JXZelto50::updateLaunchsec(QString package)
{
    // Runs on the caller's thread, outside the action protocol: it holds the action slot for its time, so that no
    // action writes the volume meanwhile and none starts before it ends.
    int none = Action_None;
    if (!m_action.compare_exchange_strong(none, Action_Silent)) {
        JX_WARNING << "updateLaunchsec refused: an action of the device runs, action=" << none;
        return false;
    }
    bool result = false;
    if (getState() != State_Idle)
        JX_WARNING << "updateLaunchsec refused: device state" << int(getState());
    else
        result = installLaunchsec(package);
    m_action.store(Action_None);
    return result;
}

bool JXZelto50::installLaunchsec(const QString& package)
{
    QString drive;
    if (!driveRoot(drive)) {
        JX_CRITICAL << "no drive for the launch section";
        return false;
    }
    if (!setUpdatingFlag(true))
        return false;
    const bool unpacked = JXZipUtil().decompress(package, drive + QLatin1Char('/'));
    if (!unpacked)
        JX_CRITICAL << "unpack " << quoted(package) << " onto the device failed";
    const bool flagRemoved = setUpdatingFlag(false);
    return unpacked && flagRemoved;
}

// ---- Package folders, versions, tasks ------------------------------------------------------------------------------

void JXZelto50::removeUpdatePackage()
{
    QString drive;
    if (!driveRoot(drive))
        return;
    const QFileInfoList entries = QDir(drive).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        if (!entry.fileName().startsWith(kPackagePrefix))
            continue;
        // A link goes itself, never what it points to.
        removeFiles(entry.absoluteFilePath());
    }
}

bool JXZelto50::getLaunchsec(QString& version)
{
    QString ini;
    if (!getDeviceIni(ini) || !QFileInfo(ini).isFile())
        return false;
    version = QSettings(ini, QSettings::IniFormat).value(QStringLiteral("LaunchSec/Version")).toString();
    if (version.isEmpty())
        version = QStringLiteral("0.0.0.0");
    return true;
}

bool JXZelto50::_importMap(JXClientTask* task)
{
    if (!task) {
        JX_WARNING << "import map without a task";
        return false;
    }
    return task->run();
}

bool JXZelto50::_deleteMap(JXClientTask* task)
{
    if (!task) {
        JX_WARNING << "delete map without a task";
        return false;
    }
    return task->run();
}

bool JXZelto50::isNewAPVersion(QString version)
{
    QString current;
    if (!getAP(current))
        return false;
    const QVector<qint64> device = versionParts(current);
    const QVector<qint64> given = versionParts(version);
    for (int i = 0; i < device.size() && i < given.size(); ++i) {
        if (given.at(i) != device.at(i))
            return given.at(i) > device.at(i);
    }
    return false;
}

// ---- Updating flag -------------------------------------------------------------------------------------------------

bool JXZelto50::setUpdatingFlag(bool on)
{
    QString drive;
    if (!driveRoot(drive)) {
        JX_WARNING << "no drive: the updating flag is left alone";
        return false;
    }
    const QString path = drive + kUpdatingFlag;
    JXDeviceVolume volume(drive);
    if (!on) {
        if (!volume.removeFile(path)) {
            JX_CRITICAL << "remove " << quoted(path) << "failed";
            return false;
        }
        return true;
    }
    if (!volume.writeFile(path, QByteArrayLiteral("1"))) {
        JX_CRITICAL << "create /updating@@!.ini FAILED";
        return false;
    }
    return true;
}

// ---- Read-back -----------------------------------------------------------------------------------------------------

bool JXZelto50::checkFiles(QStringList& files)
{
    bool ok = true;
    for (const QString& path : qAsConst(files)) {
        QFile file(path);
        // Only regular files: opening a pipe or a device node could block the thread for good.
        if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
            JX_CRITICAL << QStringLiteral("checkFiles: open %1 failed").arg(path);
            ok = false;
            continue;
        }
        const qint64 size = file.size();
        const qint64 wanted = qMin(size, kReadBackBytes);
        if (size > kReadBackBytes && !file.seek(size - kReadBackBytes)) {
            JX_CRITICAL << QStringLiteral("checkFiles: read %1 size=%2 failed").arg(path).arg(size);
            ok = false;
            continue;
        }
        if (file.read(wanted).size() != wanted) {
            JX_CRITICAL << QStringLiteral("checkFiles: read %1 size=%2 failed").arg(path).arg(size);
            ok = false;
        }
    }
    return ok;
}

bool JXZelto50::checkDirectory(QString folder)
{
    if (!QFileInfo(folder).isDir()) {
        JX_CRITICAL << "checkDirectory: no folder " << quoted(folder);
        return false;
    }
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Drives | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    bool ok = true;
    QStringList files;
    for (const QFileInfo& entry : entries) {
        // A link is read back as what it is, never walked into.
        if (entry.isDir() && !entry.isSymLink())
            ok = checkDirectory(entry.absoluteFilePath()) && ok;
        else
            files.append(entry.absoluteFilePath());
    }
    if (!files.isEmpty())
        ok = checkFiles(files) && ok;
    return ok;
}
