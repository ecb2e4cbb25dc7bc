#ifndef JXSIMULATEDFLASHBED_H
#define JXSIMULATEDFLASHBED_H

#include <QString>
#include <QTemporaryDir>

#include <memory>

#include "jxenv.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "jxvirtualclock.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

// The simulated device as most device tests and benches need it: a temporary folder that holds the user data and
// the system tree ("<folder>/root", one disk), the raw-flash device registered with the operating-system layer and
// the virtual clock. The tear-down undoes it in the reverse order, so that nothing of one test is left to the next.
class JXSimulatedFlashBed
{
public:
    enum Option {
        Defaults = 0,
        NoUserFolder = 0x1,  // the user-data folder is left as it is
        UserSubfolder = 0x2, // the user data go to "<folder>/user" instead of the folder itself
        NoClock = 0x4,
    };

    JXSimulatedFlashBed() = default;
    ~JXSimulatedFlashBed() { reset(); }
    JXSimulatedFlashBed(const JXSimulatedFlashBed&) = delete;
    JXSimulatedFlashBed& operator=(const JXSimulatedFlashBed&) = delete;

    // externalFlashSize 0 leaves the device without an external flash. False when the folder or the disk cannot be
    // made; the set-up stops there.
    bool setUp(int externalFlashSize = 0, int options = Defaults)
    {
        return setUp(QString(), externalFlashSize, options);
    }

    // As above, in a folder made from templatePath (QTemporaryDir's pattern); an empty one takes the default.
    bool setUp(const QString& templatePath, int externalFlashSize, int options)
    {
        reset();
        m_folder.reset(templatePath.isEmpty() ? new QTemporaryDir : new QTemporaryDir(templatePath));
        if (!m_folder->isValid())
            return false;
        if (!(options & NoUserFolder))
            JXEnv::getInstance()->setUserDataBaseFolder((options & UserSubfolder) ? m_folder->filePath("user")
                                                                                  : m_folder->path());
        m_system.reset(new JXSimulatedSystem(m_folder->path() + QLatin1String("/root")));
        if (!m_system->addDisk(JXSimulatedSystem::Disk()))
            return false;
        JXOperatingSystem::setSystemRoot(m_system->root());
        m_flash.reset(new JXSimulatedFlashDevice);
        if (externalFlashSize > 0)
            m_flash->setExternalFlashSize(externalFlashSize);
        m_flash->registerWithLayer();
        if (!(options & NoClock))
            m_clock.reset(new JXVirtualClock);
        return true;
    }

    // The clock goes first and the folder last; the layer lets go of the device before the device goes.
    void reset()
    {
        if (!m_folder)
            return;
        m_clock.reset();
        JXOperatingSystem::setSimulatedScsiProvider(nullptr);
        JXOperatingSystem::setSystemRoot(QString());
        m_flash.reset();
        m_system.reset();
        m_folder.reset();
    }

    QTemporaryDir* folder() const { return m_folder.get(); }
    JXSimulatedSystem* system() const { return m_system.get(); }
    JXSimulatedFlashDevice* flash() const { return m_flash.get(); }
    JXVirtualClock* clock() const { return m_clock.get(); }

    // A service on the simulated device ("sg1") that takes it for the registry row of code, model and match text;
    // the caller owns it.
    static JXMacSCSIService* service(const QString& code, const QString& model, const QString& matchText)
    {
        JXScsiDevice device;
        device.genericName = QStringLiteral("sg1");
        auto* service = new JXMacSCSIService(device);
        stRegDevInfo info;
        info.code = code;
        info.modelName = model;
        info.matchText = matchText;
        service->setRegistryDevInfo(&info);
        return service;
    }

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<JXSimulatedSystem> m_system;
    std::unique_ptr<JXSimulatedFlashDevice> m_flash;
    std::unique_ptr<JXVirtualClock> m_clock;
};

#endif // JXSIMULATEDFLASHBED_H
