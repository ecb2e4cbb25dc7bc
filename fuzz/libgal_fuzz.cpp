// libFuzzer target for the device-access library's file reading and the client lists built on it.
//
// Input: byte 0 limits the workout name buffer the caller offers; the rest is written, under a fresh home folder, as
// an activity file, a workout file and the profile INI. The library then lists and reads them into buffers of exactly
// the sizes it is given (heap allocations, so that the sanitizer sees any write past them), the profile goes through
// the INI conversion, and the client lists the same files. Every text the library writes must end within its buffer
// and a name must never be longer than the size the caller offered.

#include "device/gal/jxgaldevice.h"
#include "device/jxfsdeviceservice.h"
#include "gal/libgal.h"
#include "jxenv.h"
#include "python/galapi.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzzsupport.h"

using JXFuzz::require;

namespace {

const char kActivity[] = "250102030405.gal";
const char kWorkout[] = "250301070000.wkt";

bool terminatedWithin(const std::vector<char>& buffer)
{
    return std::memchr(buffer.data(), '\0', buffer.size()) != nullptr;
}

void readWithLibrary(const QString& home, unsigned int nameLimit)
{
    const QByteArray homeBytes = QFile::encodeName(home + QLatin1Char('/'));
    require(SetHomePath(homeBytes.constData()) != 0, "the home folder is refused");

    unsigned int count = 0;
    require(GetActivityfileamount(&count) != 0 && count == 1, "the activity file is not counted");
    std::vector<char> name(GAL_FILE_NAME_SIZE, 'x');
    require(GetActivityfileName(1, name.data()) != 0 && terminatedWithin(name), "activity name not terminated");
    require(!GetActivityfileName(2, name.data()) && terminatedWithin(name), "an index past the count answered");

    std::vector<unsigned char> record(GAL_ACTIVITY_RECORD_SIZE);
    GetActivityContent(kActivity, record.data(), int(record.size()));
    std::vector<unsigned char> lap(GAL_LAP_RECORD_SIZE);
    GetSummaryLapContent(kActivity, lap.data(), int(lap.size()));

    const SearchWKTB search = {0, 0, 0};
    require(GetWKTFileamount(&count, search) != 0 && count == 1, "the workout file is not counted");
    std::vector<unsigned char> workout(GAL_WORKOUT_RECORD_SIZE);
    ReadTemplateWKT(kWorkout, search, workout.data(), int(workout.size()));
    std::vector<unsigned char> data(nameLimit ? nameLimit : 1);
    const char* languages[] = {"eng", "deu", ""};
    for (const char* language : languages) {
        unsigned int size = nameLimit;
        if (ReadWKTName(kWorkout, search, data.data(), &size, language))
            require(size <= nameLimit, "the name is longer than the buffer offered");
    }

    const QString ini = home + QStringLiteral("/out/pfread.ini");
    QDir().mkpath(home + QStringLiteral("/out"));
    if (GetProfile(homeBytes.constData(), QFile::encodeName(ini).constData())) {
        GalApi::createProfileXml(ini, home + QStringLiteral("/out/profile.xml"));
        require(RefreshProfile(homeBytes.constData(), QFile::encodeName(ini).constData()) != 0,
                "the profile read does not write back");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString root = [] {
        JXFuzz::silenceMessages();
        const QString folder = JXFuzz::scratchRoot("libgal");
        // The client's working files go to the scratch folder, not the user's.
        JXEnv::getInstance()->setUserDataBaseFolder(folder + QStringLiteral("/user"));
        return folder;
    }();
    if (size < 1)
        return 0;
    // 0 to 1020 bytes offered for a name, the whole buffer for 255.
    const unsigned int nameLimit = data[0] == 255 ? unsigned(GAL_WORKOUT_NAME_SIZE) : unsigned(data[0]) * 4;
    const QByteArray payload(reinterpret_cast<const char*>(data) + 1, int(size - 1));

    const QString home = root + QStringLiteral("/home");
    JXFuzz::removeTree(home);
    require(JXFuzz::writeFile(home + QStringLiteral("/Activity/") + QLatin1String(kActivity), payload) &&
                JXFuzz::writeFile(home + QStringLiteral("/Workout/0-0-0/") + QLatin1String(kWorkout), payload) &&
                JXFuzz::writeFile(home + QStringLiteral("/Profile/profile.ini"), payload),
            "cannot write the input files");
    readWithLibrary(home, nameLimit);

    stRegDevInfo row;
    row.modelName = QStringLiteral("Zelto20");
    JXGalDevice device;
    device.setDeviceService(new JXFSDeviceService(home, &row, QString()));
    QVector<JXClientData> items;
    device.getTracks(items);
    device.getWorkouts(items);
    require(items.size() <= 2, "more items than files");
    GalResetLibrary();
    return 0;
}
