// Firmware update in IAP mode and factory restore of the first-generation client.

#include "device/zelto30/jxzelto30.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "compress/jxziputil.h"
#include "device/jxdeviceservice.h"
#include "device/stregdevinfo.h"
#include "jxclock.h"
#include "jxenv.h"
#include "jxlog.h"
#include "jxutility.h"

namespace {

// The device restarts into IAP mode and shows up again within these periods, or not at all.
const int kIapWaitPeriods = 20;
const qint64 kIapWaitPeriodMs = 5000;
// Time the device takes to restart after the firmware was written.
const qint64 kRestartSettleMs = 5000;

// Switches the process-wide close-on-remove flag off while the device leaves the bus on purpose, and puts back the
// value it had on every way out, so that a device that never returns does not leave the application deaf to the
// next removal.
class CloseOnRemoveSuspension
{
public:
    CloseOnRemoveSuspension() : m_env(JXEnv::getInstance()), m_before(m_env->isCloseOnRemoveDevice()) {}
    ~CloseOnRemoveSuspension() { resume(); }
    void suspend() { m_env->setCloseOnRemoveDevice(false); }
    void resume() { m_env->setCloseOnRemoveDevice(m_before); }

private:
    JXEnv* m_env;
    bool m_before;
};

// A firmware file must be a plain, readable, non-empty file: a folder or an empty file would otherwise only fail
// once the device already sits in IAP mode.
bool isUsableImage(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable() || info.size() <= 0)
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadOnly);
}

} // namespace

JXZelto30::IapUpdatePlan JXZelto30::iapUpdatePlan() const
{
    return {"zelto30iap", "IT", "I", "write iap temp failed ", "write iap failed "};
}

bool JXZelto30::updateLaunchsec(QString package)
{
    // Runs on the caller's thread, outside the action protocol: it holds the action slot and the in-service state
    // for its whole time, so that no action talks to the device meanwhile.
    int none = Action_None;
    if (!m_action.compare_exchange_strong(none, Action_Silent)) {
        JX_WARNING << "updateLaunchsec refused: an action of the device runs, action=" << none;
        return false;
    }
    if (!setStateWithMatch(State_Idle, State_InService)) {
        JX_WARNING << "updateLaunchsec refused: device state" << int(getState());
        m_action.store(Action_None);
        return false;
    }
    const bool result = runIapUpdate(package, iapUpdatePlan());
    setStateWithMatch(State_InService, State_Idle);
    m_action.store(Action_None);
    return result;
}

bool JXZelto30::runIapUpdate(const QString& package, const IapUpdatePlan& plan)
{
    const QString folder = JXEnv::getInstance()->getTmpFolder() + QLatin1Char('/') + QLatin1String(plan.folderName);
    JXUtility::deleteDir(folder);
    QDir().mkpath(folder);
    if (!JXZipUtil().decompress(package, folder)) {
        qWarning() << "uncompress iap package failed " << package << " to " << folder;
        return false;
    }

    QString loader;
    QString image;
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        if (name.startsWith(QLatin1String(plan.loaderPrefix)))
            loader = entry.absoluteFilePath();
        else if (name.startsWith(QLatin1String(plan.imagePrefix)))
            image = entry.absoluteFilePath();
    }

    // Both files are checked before the loader goes out: once the device restarts into IAP mode it stays there
    // until a firmware reaches it.
    if (!image.isEmpty() && !isUsableImage(image)) {
        JX_WARNING << "firmware image" << image << "is not a readable, non-empty file; nothing written";
        return false;
    }
    if (!isUsableImage(loader) || !writeData(loader, AreaWriteInternal, InternalBlockSize)) {
        qWarning() << plan.loaderWriteFailed << loader;
        return false;
    }

    CloseOnRemoveSuspension closeOnRemove;
    closeOnRemove.suspend();
    // The device drops off the bus while it restarts; the command may be reported as failed for that alone.
    resetWithIAPFlag();
    bool present = false;
    for (int period = 0; period < kIapWaitPeriods && !present; ++period) {
        JXClock::sleepMs(kIapWaitPeriodMs);
        present = isExist();
    }
    if (!present) {
        JX_WARNING << "the device did not come back in IAP mode";
        return false;
    }
    closeOnRemove.resume();

    if (image.isEmpty())
        return true;
    if (!writeData(image, AreaWriteFirmware, InternalBlockSize)) {
        qWarning() << plan.imageWriteFailed << image;
        return false;
    }
    closeOnRemove.suspend();
    reset();
    JXClock::sleepMs(kRestartSettleMs);
    isExist(); // only gives the device its chance to show up again; the firmware is already written
    closeOnRemove.resume();
    return true;
}

bool JXZelto30::_restoreFactory(QString folder)
{
    bool external = true;
    const QString releaseIni = folder + QLatin1String("/release.ini");
    if (QFileInfo::exists(releaseIni)) {
        const QSettings release(releaseIni, QSettings::IniFormat);
        external = release.value(QStringLiteral("ExData"), QStringLiteral("yes")).toString() != QLatin1String("no");
    }

    JXDeviceService* service = getDeviceService();
    const stRegDevInfo* row = service ? service->getRegistryInfo() : nullptr;
    if (!row) {
        JX_CRITICAL << "no registry row: the restore images cannot be named";
        m_error = true;
        return false;
    }
    const QString name = row->matchText;

    if (!writeInternalFlash(folder, name, AreaWriteInternal, InternalBlockSize)) {
        m_error = true;
        return false;
    }
    if (!eraseExtFlash()) {
        JX_CRITICAL << "fail to erase external flash for " << name;
        m_error = true;
        return false;
    }
    // writeExternalFlash logs its own failure and sets the error flag.
    if (external && !writeExternalFlash(folder, name, AreaWriteExtFlash, ExtFlashBlockSize))
        return false;
    return true;
}
