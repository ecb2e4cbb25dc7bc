#ifndef JXPSFDEVICEIMPORTFIXTURE_H
#define JXPSFDEVICEIMPORTFIXTURE_H

#include <QtTest>

#include <QTemporaryDir>

#include <memory>

#include "device/psfdevice/jxpsfdevice.h"
#include "jxenv.h"
#include "jxpsf15imagefixture.h"
#include "jxpsftestimage.h"
#include "jxsimulatedflashbed.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "jxvirtualclock.h"
#include "psf/gen2/jxpsf_1_5.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

// The second-generation client with its image open to the test and its language filter and device languages set
// by the test instead of the settings and the language area.
class JXPSFImportClient : public JXPSFDevice
{
public:
    using JXPSFDevice::_finalize;
    QByteArray& image() { return m_image; }
    JXPSF_1_5* store() { return m_psf.get(); }
    void dropStore() { m_psf.reset(); }

    bool filter = false;
    QStringList deviceCodes;
    int languageReads = 0;

    bool isSupportImportPSFLanguageFilter() override { return filter; }
    bool getLanguageOnDevice(QStringList& codes) override
    {
        ++languageReads;
        codes += deviceCodes;
        return !deviceCodes.isEmpty();
    }
};

// A fresh store over a copy of an image, as a later session would read it.
class JXPSFReadBack
{
public:
    explicit JXPSFReadBack(const QByteArray& image)
    {
        m_image.store()->setImage(image);
        m_psf.reset(new JXPSF_1_5(m_image.store()));
    }
    JXPSF_1_5* operator->() { return m_psf.get(); }
    JXPSF_1_5* get() { return m_psf.get(); }

private:
    JXPSFImageFixture m_image;
    std::unique_ptr<JXPSF_1_5> m_psf;
};

// A simulated device with an empty layout-A flash, a user-data folder of its own and the virtual clock.
class JXPSFImportRig
{
public:
    JXPSFImportRig()
    {
        if (m_bed.setUp())
            m_bed.flash()->setExternalFlash(JXPSFTestImage::emptyImage(JXPSFTestImage::Layout::A));
    }

    QString folder() const { return m_bed.folder()->path(); }
    JXSimulatedFlashDevice* flash() { return m_bed.flash(); }

    // A started client over the simulated flash; null when it does not start.
    std::unique_ptr<JXPSFImportClient> client()
    {
        auto* service =
            JXSimulatedFlashBed::service(QStringLiteral("1004"), QStringLiteral("Zelto40"), QStringLiteral("MIRDO"));
        std::unique_ptr<JXPSFImportClient> made(new JXPSFImportClient);
        made->setDeviceService(service);
        if (!made->initial())
            return nullptr;
        return made;
    }

private:
    JXSimulatedFlashBed m_bed;
};

#endif
