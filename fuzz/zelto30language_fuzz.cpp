// libFuzzer target for what the first-generation client reads of a device beyond the data store's records: the
// language table in the internal flash (getLanguageOnDevice), and the external flash as the image read takes it
// (flash-header ring, profile block, first-use and integrity marks) followed by the lists and the clean-up of the
// unused groups. The device is the simulated flash device of the tests, reached through the SCSI service.
//
// Input: byte 0 chooses the device part (even: language area, odd: external flash) and, for the external flash,
// the model; bytes 1-4 the offset at which the rest is laid into an otherwise erased language area or into an
// external flash that parses (a header record in slot 0, a data store with records in every frame where the layout
// puts them, a profile block of a set-up device).
//
// Checks: the language read appends nothing when it fails, otherwise at most twenty three-letter codes that the
// language map knows, and it fails exactly when the last aligned table magic leaves no room for the 229-byte table;
// the lists hold no more items than the store's route frame and workout frame can; the clean-up keeps the image's
// size.

#include "device/jxdeviceimpl.h"
#include "device/zelto30/jxzelto30.h"
#include "jxenv.h"
#include "jxlanguagemap.h"
#include "psf/gen1/jxpsf.h"
#include "system/jxmacscsiservice.h"
#include "system/jxoperatingsystem.h"

#include <QCoreApplication>
#include <QSet>
#include <QtEndian>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "fuzzsupport.h"
#include "jxpsfimagefixture.h"
#include "jxsimulatedflashdevice.h"
#include "jxsimulatedsystem.h"

using JXFuzz::require;

namespace {

const int kFlashSize = 0x100000;
const int kInternalSize = 0x80000;
const int kLanguageArea = 0x79000;
const int kTableSize = 229;
const quint32 kTableMagic = 0x77A0B2C3;
// A "Zelto30" whose profile byte here is zero was never set up: its factory makes no client.
const int kZelto30SetUp = 0x3C7;

class FuzzClient : public JXDeviceImpl<FuzzClient, JXZelto30>
{
public:
    // The service outlives the client: its look-up of the device in the system tree is no part of what is fuzzed.
    ~FuzzClient() override { m_deviceService = nullptr; }
    QByteArray& image() { return m_image; }
    JXPSF* psf() { return m_psf; }
};

std::unique_ptr<JXSimulatedSystem> s_system;
std::unique_ptr<JXSimulatedFlashDevice> s_flash;
QSet<QString> s_knownCodes;
// Laid out once. The device keeps copies of its own, which an input changes in place and which are put back after it:
// no input copies or allocates the flashes.
QByteArray s_parsingFlash;
QByteArray s_erasedInternal;

std::unique_ptr<JXMacSCSIService> s_service;

std::unique_ptr<FuzzClient> makeClient(const QString& model)
{
    stRegDevInfo info;
    info.code = QStringLiteral("1003");
    info.modelName = model;
    info.matchText = QStringLiteral("FENDIR");
    s_service->setRegistryDevInfo(&info);
    return std::unique_ptr<FuzzClient>(static_cast<FuzzClient*>(FuzzClient::create(s_service.get())));
}

// Lays bytes into the device's internal or external flash, as far as it reaches; the length laid.
int layInto(bool internal, int offset, const QByteArray& bytes)
{
    const int length = qMin(bytes.size(), (internal ? kInternalSize : kFlashSize) - offset);
    if (length <= 0)
        return 0;
    if (internal)
        s_flash->patchInternalFlash(offset, bytes.constData(), length);
    else
        s_flash->patchExternalFlash(offset, bytes.constData(), length);
    return length;
}

// The offset and length an input laid into a flash, to be put back after it.
struct Laid
{
    bool internal = false;
    int offset = 0;
    int length = 0;
};

// Where the language read must find its table: the last 4-byte-aligned magic in the area, 0 without one. The area
// is erased but for the bytes laid, and no byte of the magic is 0xFF: only a word among those bytes can hold it, so
// the half megabyte around them is not searched word by word for every input.
int expectedTableOffset(const char* area, const Laid& laid)
{
    const int end = qMin(laid.offset + laid.length, kLanguageArea);
    for (int offset = (end - 4) & ~3; offset >= laid.offset && offset >= 0; offset -= 4) {
        if (qFromLittleEndian<quint32>(area + offset) == kTableMagic)
            return offset;
    }
    return 0;
}

void languageArea(quint32 position, const QByteArray& bytes, Laid& laid)
{
    const int offset = int(position % kLanguageArea);
    laid = {true, offset, layInto(true, offset, bytes)};
    std::unique_ptr<FuzzClient> client = makeClient(QStringLiteral("Zelto35"));
    require(client != nullptr, "the client refused a readable device");

    QStringList codes{QStringLiteral("kept")};
    const bool result = client->getLanguageOnDevice(codes);
    require(codes.first() == QLatin1String("kept"), "an earlier entry of the list changed");
    const int table = expectedTableOffset(s_flash->internalFlash().constData(), laid);
    require(result == (table + kTableSize <= kLanguageArea), "the result disagrees with the table's place");
    if (!result) {
        require(codes.size() == 1, "a failed read appended codes");
        return;
    }
    require(codes.size() <= 21, "more than twenty codes");
    // The map looks codes up without regard to case; the device's spelling is kept.
    for (int i = 1; i < codes.size(); ++i) {
        require(codes.at(i).size() == 3, "a code of other than three characters");
        require(s_knownCodes.contains(codes.at(i).toLower()), "an unknown code was appended");
    }
}

// An external flash that parses: a header record in slot 0, a data store whose frames and records lie where the
// layout puts them, a profile block of a set-up device.
QByteArray parsingFlash()
{
    QByteArray profile(4096, '\0');
    profile[kZelto30SetUp] = 1;
    QByteArray flash = PSF1::deviceFlash(profile);
    const QByteArray store = PSF1::recordedImage().bytes;
    flash.replace(int(PSF1::kFlashBase), store.size(), store);
    return flash;
}

void externalFlash(quint8 selector, quint32 position, const QByteArray& bytes, Laid& laid)
{
    const int offset = int(position % kFlashSize);
    laid = {false, offset, layInto(false, offset, bytes)};
    static const char* const models[] = {"Zelto30", "Zelto35", "Hemlar30", "Hemlar35", "Zelto20"};
    std::unique_ptr<FuzzClient> client = makeClient(QLatin1String(models[(selector >> 1) % 5]));
    if (!client)
        return;

    if (!client->loadExtFlash() || !client->psf())
        return;
    QVector<JXClientData> routes;
    QVector<JXClientData> tracks;
    QVector<JXClientData> workouts;
    QVector<JXClientData> pois;
    client->getRoutes(routes);
    client->getTracks(tracks);
    client->getWorkouts(workouts);
    client->getPOIs(pois);
    JXPSF* root = client->psf();
    require(routes.size() + tracks.size() <= root->getRouteFrame()->getRoutes()->size(),
            "more routes and tracks than route records");
    require(workouts.size() <= root->getWorkoutFrame()->getWorkouts()->size(), "more workouts than records");
    require(pois.isEmpty(), "this generation lists no POIs");
    const int size = client->image().size();
    client->cleanUnusedFlashArea();
    require(client->image().size() == size, "the clean-up changed the image size");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    JXFuzz::silenceMessages();
    // The platform layer prints a line on every open and close of the device; libFuzzer reports on stderr.
    require(std::freopen("/dev/null", "w", stdout) != nullptr, "cannot silence standard output");
    const QString scratch = JXFuzz::scratchRoot("zelto30language");
    JXEnv::getInstance()->setUserDataBaseFolder(scratch);
    s_system.reset(new JXSimulatedSystem(scratch + QLatin1String("/root")));
    require(s_system->addDisk(JXSimulatedSystem::Disk()), "cannot make the simulated disk");
    JXOperatingSystem::setSystemRoot(s_system->root());
    s_flash.reset(new JXSimulatedFlashDevice);
    s_flash->setExternalFlashSize(kFlashSize);
    s_flash->registerWithLayer();
    JXScsiDevice device;
    device.genericName = QStringLiteral("sg1");
    s_service.reset(new JXMacSCSIService(device));
    JXLanguageMap map;
    map.createMap();
    const QStringList known = map.getLangCodes();
    s_knownCodes = QSet<QString>(known.begin(), known.end());
    s_parsingFlash = parsingFlash();
    s_erasedInternal = QByteArray(kInternalSize, char(0xFF));
    s_flash->setExternalFlash(QByteArray(s_parsingFlash.constData(), kFlashSize));
    s_flash->setInternalFlash(QByteArray(s_erasedInternal.constData(), kInternalSize));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5)
        return 0;
    const quint8 selector = data[0];
    const quint32 position = qFromLittleEndian<quint32>(data + 1);
    const QByteArray bytes(reinterpret_cast<const char*>(data + 5), int(size - 5));
    s_flash->clearCommands();
    Laid laid;
    if (selector % 2 == 0)
        languageArea(position, bytes, laid);
    else
        externalFlash(selector, position, bytes, laid);

    bool written = false;
    for (const JXSimulatedFlashDevice::Command& command : s_flash->commands())
        written = written || command.record.command[0] == 0x2A;
    if (written) {
        s_flash->patchExternalFlash(0, s_parsingFlash.constData(), kFlashSize);
        s_flash->patchInternalFlash(0, s_erasedInternal.constData(), kInternalSize);
    } else {
        const QByteArray& as = laid.internal ? s_erasedInternal : s_parsingFlash;
        layInto(laid.internal, laid.offset, QByteArray::fromRawData(as.constData() + laid.offset, laid.length));
    }
    // What an input allocates goes before the next one: libFuzzer runs an input again, and then a leak check over
    // the whole heap, whenever an input ends with more allocations than frees.
    s_flash->clearCommands();
    return 0;
}
