// Factory restore, format request and log export of the map devices. The restore spans two connections: the first
// step asks the device to format itself at its next start, and the device comes back as a new client that runs the
// second step, which installs the firmware, the launch section and the application tree.

#include "device/zelto50/jxzelto50.h"

#include <QDir>
#include <QFileInfo>

#include "device/jxdevicevolume.h"
#include "jxenv.h"
#include "jxlog.h"
#include "jxutility.h"

int JXZelto50::getRestoreFactorySteps()
{
    return 2;
}

bool JXZelto50::writeFormatRequest()
{
    QString drive;
    if (!driveRoot(drive)) {
        JX_WARNING << "no drive for the format request";
        return false;
    }
    if (!JXDeviceVolume(drive).writeFile(drive + QLatin1String("/format.ini"), QByteArrayLiteral("1"))) {
        JX_WARNING << "write /format.ini FAILED";
        return false;
    }
    return true;
}

void JXZelto50::formatDevice()
{
    // A failure is logged where it happened; the caller of this entry expects no result.
    writeFormatRequest();
}

bool JXZelto50::_restoreFactory(QString folder)
{
    QString appPath;
    if (!getAPPath(appPath)) {
        JX_CRITICAL << "no application path for the factory restore";
        m_error = true;
        return false;
    }
    if (!m_continueFactoryRestore) {
        // Without the request the device would come back unformatted and the second step would start anyway.
        if (!writeFormatRequest()) {
            m_error = true;
            return false;
        }
        m_continueFactoryRestore = true;
        // This client takes no further action: the device restarts and returns as a new connection.
        setStateWithMatch(getState(), State_FactoryRestore);
        return true;
    }

    bool ok = _updateTotal(folder + QLatin1String("/Total.zip"), QString());
    if (ok)
        ok = installLaunchsec(folder + QLatin1String("/LaunchSec.zip"));
    if (ok)
        ok = _updateAP(folder + QLatin1String("/DeviceAp.zip"));
    // Over either way: a failed second step is run again from the format request.
    m_continueFactoryRestore = false;
    JXEnv::getInstance()->setForceDeviceUpdate(false);
    setStateWithMatch(getState(), State_InService);
    if (!ok) {
        JX_CRITICAL << "factory restore from " << folder << " failed";
        m_error = true;
    }
    return ok;
}

void JXZelto50::exportLog(QString archive)
{
    QString drive;
    if (!driveRoot(drive)) {
        JX_WARNING << "no drive: no log export";
        return;
    }
    const QString work = JXEnv::getInstance()->getTmpFolder() + QLatin1String("/zelto50Log");
    JXUtility::deleteDir(work);
    const QString dumps = work + QLatin1String("/crashdump");
    QDir().mkpath(dumps);
    // A link on the volume is neither entered nor copied through nor emptied: it may point anywhere.
    JXDeviceVolume volume(drive);
    const QString deviceDumps = drive + QLatin1String("/DumpFiles");
    const JXDeviceVolume::Kind dumpsKind = volume.kindOf(deviceDumps);
    if (dumpsKind == JXDeviceVolume::Kind::Link)
        JX_WARNING << "the crash dumps" << deviceDumps << "are a link: left alone";
    else if (dumpsKind == JXDeviceVolume::Kind::Folder && !volume.copyTreeOut(deviceDumps, dumps))
        JX_WARNING << "copy of the crash dumps failed";

    const QString deviceLogs = drive + QLatin1String("/syslog");
    const JXDeviceVolume::Kind logsKind = volume.kindOf(deviceLogs);
    bool logsCopied = false;
    if (logsKind == JXDeviceVolume::Kind::Link) {
        JX_WARNING << "the system logs" << deviceLogs << "are a link: left alone";
    } else if (logsKind == JXDeviceVolume::Kind::Folder) {
        logsCopied = volume.copyTreeOut(deviceLogs, work + QLatin1String("/syslog"));
        if (!logsCopied)
            JX_WARNING << "copy of the system logs failed: they stay on the device";
    }

    QStringList files;
    JXUtility::getFileListUnderFolder(work, files);
    const bool packed = zipFiles(archive, QString(), files);
    if (!packed)
        JX_WARNING << "log archive " << archive << " not written";
    // The device's logs go only once they are safe in the archive.
    if (logsCopied && packed)
        volume.removeTree(deviceLogs);
}
