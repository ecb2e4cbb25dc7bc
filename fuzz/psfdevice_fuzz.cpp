// libFuzzer target for the second-generation flash client itself, over whatever a device's flash may hold: the
// frame ranges it takes from the flash header's end words and the layout, its page cache, its start-up checks, the
// write-back of every frame and the scan of the language area. The records inside the frames are fuzzed by
// psf15_fuzz; here they stay as an empty image has them.
//
// Input: three control bytes, then chunks that overwrite parts of the device.
//   byte 0: bit 0 table-B image, bit 1 write back (save) after loading, bit 2 the profile's set-up byte cleared
//   byte 1: the device command that fails (0: none)
//   byte 2: how many ready polls answer busy (modulo 8)
//   chunk:  kind (modulo 3), offset (u16, little-endian), length (u8), then up to length bytes:
//           0 the external flash at offset (flash headers, distribution header),
//           1 the external flash at offset x 32 (anywhere in the 2 MB),
//           2 the language area at offset x 16; the area is read only when a chunk wrote to it.
// The client's image is exactly 2 MB and the simulator's areas are exact, so AddressSanitizer flags any access past
// them. Checked: a header end word past the flash means no erase and a failed save; a save that succeeds leaves the
// device holding the image or erased pages; listed languages are three-letter codes.

#include <QtEndian>

#include <cstdint>
#include <cstring>
#include <memory>

#include "device/psfdevice/jxpsfdevice.h"
#include "fuzzsupport.h"
#include "jxenv.h"
#include "jxpsftestimage.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"
#include "jxvirtualclock.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

using JXFuzz::require;
using Layout = JXPSFTestImage::Layout;

namespace {

const int kFlashSize = 0x200000;
const int kPage = 4096;
const int kLanguageAreaSize = 0xF8800;
const int kProfileSetUpByte = 0x1F84AA;
// Header fields that end a frame's range, the lap start with them.
const int kEndFields[] = {84, 96, 104, 108, 120, 132, 144, 156, 168};

class FuzzedClient : public JXPSFDevice
{
public:
    // The service outlives the client: its look-up of the device in the system tree is no part of what is fuzzed.
    explicit FuzzedClient(JXDeviceService* service) { m_deviceService = service; }
    ~FuzzedClient() override { m_deviceService = nullptr; }
    const QByteArray& image() const { return m_image; }
};

struct Machine
{
    std::unique_ptr<JXSimulatedSystem> system;
    std::unique_ptr<JXSimulatedFlashDevice> flash;
    std::unique_ptr<JXVirtualClock> clock;
    std::unique_ptr<JXMacSCSIService> service;
    QByteArray empties[2];
    QByteArray erasedLanguageArea;
    // The device's flashes are laid out once and kept; an input changes them in place and its changes are undone
    // after it, so that no input copies or allocates the megabytes.
    int layout = 0; // the empty image the external flash holds, but for the ranges below
    QVector<QPair<int, int>> changedFlash; // offset, length
    QVector<QPair<int, int>> changedLanguage;
};

Machine& machine()
{
    static Machine instance;
    return instance;
}

JXMacSCSIService* rawFlashService()
{
    JXScsiDevice device;
    device.genericName = QStringLiteral("sg1");
    auto* service = new JXMacSCSIService(device);
    stRegDevInfo info;
    info.code = QStringLiteral("1004");
    info.modelName = QStringLiteral("Zelto40");
    info.matchText = QStringLiteral("MIRDO");
    service->setRegistryDevInfo(&info);
    return service;
}

// Lays bytes into one of the device's flashes and notes the range for the restore.
void overlay(bool language, qint64 offset, const uint8_t* bytes, size_t count)
{
    Machine& m = machine();
    const qint64 size = language ? kLanguageAreaSize : kFlashSize;
    const int length = int(qMin<qint64>(qint64(count), size - offset));
    if (length <= 0)
        return;
    const char* text = reinterpret_cast<const char*>(bytes);
    if (language) {
        m.flash->patchInternalFlash(int(offset), text, length);
        m.changedLanguage.append({int(offset), length});
    } else {
        m.flash->patchExternalFlash(int(offset), text, length);
        m.changedFlash.append({int(offset), length});
    }
}

// Puts the device's flashes back as they were before the input: whole after any write, else the ranges it laid.
void restoreFlashes()
{
    Machine& m = machine();
    // Area 12 is the language area's write; every other write goes to the external flash.
    bool externalWritten = false;
    bool languageWritten = false;
    for (const JXSimulatedFlashDevice::Command& command : m.flash->commands()) {
        if (command.record.command[0] == 0x2A) {
            languageWritten = languageWritten || command.record.command[6] == 0x0C;
            externalWritten = externalWritten || command.record.command[6] != 0x0C;
        }
    }
    const QByteArray& image = m.empties[m.layout];
    if (externalWritten) {
        m.flash->patchExternalFlash(0, image.constData(), kFlashSize);
    } else {
        for (const auto& range : qAsConst(m.changedFlash))
            m.flash->patchExternalFlash(range.first, image.constData() + range.first, range.second);
    }
    if (languageWritten) {
        m.flash->patchInternalFlash(0, m.erasedLanguageArea.constData(), kLanguageAreaSize);
    } else {
        for (const auto& range : qAsConst(m.changedLanguage))
            m.flash->patchInternalFlash(range.first, m.erasedLanguageArea.constData() + range.first, range.second);
    }
    m.changedFlash.clear();
    m.changedLanguage.clear();
}

bool erasedSince(const QVector<JXSimulatedFlashDevice::Command>& commands, int from)
{
    for (int i = from; i < commands.size(); ++i) {
        if (commands.at(i).record.command[0] == 0x2A && commands.at(i).record.command[6] == 0x0E)
            return true;
    }
    return false;
}

void run(const uint8_t* data, size_t size)
{
    if (size < 3)
        return;
    Machine& m = machine();
    const bool tableB = data[0] & 1;
    const bool writeBack = data[0] & 2;
    if (m.layout != (tableB ? 1 : 0)) {
        m.layout = tableB ? 1 : 0;
        m.flash->patchExternalFlash(0, m.empties[m.layout].constData(), kFlashSize);
    }
    if (data[0] & 4) {
        const uint8_t cleared = 0;
        overlay(false, kProfileSetUpByte, &cleared, 1);
    }

    bool languageChunk = false;
    size_t at = 3;
    while (size - at >= 4) {
        const int kind = data[at] % 3;
        const qint64 offset = qFromLittleEndian<quint16>(data + at + 1);
        const size_t length = qMin<size_t>(data[at + 3], size - at - 4);
        const uint8_t* bytes = data + at + 4;
        if (kind == 0)
            overlay(false, offset, bytes, length);
        else if (kind == 1)
            overlay(false, offset * 32, bytes, length);
        else
            overlay(true, offset * 16, bytes, length);
        languageChunk = languageChunk || kind == 2;
        at += 4 + length;
    }

    m.flash->setFailOnOpen(false);
    m.flash->setGoneAtCommand(0);
    m.flash->setBusyPolls(data[2] % 8);
    m.flash->setFailAtCommand(data[1]);
    m.flash->clearCommands();
    m.clock->clear();

    FuzzedClient client(m.service.get());
    if (client.initial()) {
        qint64 total = 0;
        qint64 free = 0;
        client.getInternalStorage(total, free);
        client.load();
        if (writeBack) {
            bool endPastFlash = false;
            if (const char* header = client.getFlashInfo()->getFlashHeader()) {
                for (int field : kEndFields)
                    endPastFlash = endPastFlash || qFromLittleEndian<quint32>(header + field) > quint32(kFlashSize);
            }
            const int before = m.flash->commands().size();
            const bool saved = client.save();
            if (endPastFlash) {
                require(!saved, "a save over a range past the flash fails");
                require(!erasedSince(m.flash->commands(), before), "a range past the flash stops the erase");
            }
            if (saved) {
                const QByteArray device = m.flash->externalFlash();
                const char* erased = m.erasedLanguageArea.constData();
                for (int page = 0; page < kFlashSize / kPage; ++page) {
                    const char* written = device.constData() + page * kPage;
                    require(memcmp(written, erased, kPage) == 0 ||
                                memcmp(written, client.image().constData() + page * kPage, kPage) == 0,
                            "every page of the device holds the image or is erased");
                }
            }
        }
    }
    // An erased language area has nothing to teach; its megabyte of reads would only slow the runs down.
    QStringList codes;
    if (languageChunk && client.getLanguageOnDevice(codes)) {
        require(codes.size() <= 20, "at most twenty languages");
        for (const QString& code : codes)
            require(code.size() == 3, "a language code has three letters");
    }
    restoreFlashes();
    // What an input allocates goes before the next one: libFuzzer runs an input again, and then a leak check over
    // the whole heap, whenever an input ends with more allocations than frees.
    m.flash->clearCommands();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    JXFuzz::silenceMessages();
    Machine& m = machine();
    const QString root = JXFuzz::scratchRoot("psfdevice");
    JXEnv::getInstance()->setUserDataBaseFolder(root);
    m.system.reset(new JXSimulatedSystem(root + QLatin1String("/root")));
    require(m.system->addDisk(JXSimulatedSystem::Disk()), "the simulated disk is made");
    JXOperatingSystem::setSystemRoot(m.system->root());
    m.flash.reset(new JXSimulatedFlashDevice);
    m.flash->registerWithLayer();
    m.clock.reset(new JXVirtualClock);
    m.service.reset(rawFlashService());
    m.empties[0] = JXPSFTestImage::emptyImage(Layout::A);
    m.empties[1] = JXPSFTestImage::emptyImage(Layout::B);
    m.erasedLanguageArea = QByteArray(kLanguageAreaSize, char(0xFF));
    // Copies of their own: the device changes them in place.
    m.flash->setExternalFlash(QByteArray(m.empties[0].constData(), kFlashSize));
    m.flash->setInternalFlash(QByteArray(m.erasedLanguageArea.constData(), kLanguageAreaSize));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    run(data, size);
    return 0;
}
