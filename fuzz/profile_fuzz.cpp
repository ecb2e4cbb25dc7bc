// libFuzzer target for the profile codecs.
//
// Input: one profile page, given to each binary codec in turn: read into a map, saved back into the page, read
// again, saved and read a third time. The first save may still change a value (a text that is no number writes 0,
// floats are printed with six digits), so from the second read on the map must stay the same, and no save may change
// the page's length. The same bytes are also the profile page of a second-generation image, read and rewritten
// through the image root the same way, and an XML profile file read through readAll.

#include <QtEndian>

#include "profile/jxprofiledata.h"
#include "profile/jxprofilereaderpsf.h"
#include "psf/gen2/jxpsf_1_5.h"
#include "psf/jxpsfstore.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzzsupport.h"

using JXFuzz::require;

namespace {

using Profile = QMap<QString, QString>;

void roundTrip(JXProfileReader& codec, const QByteArray& input)
{
    // Ages depend on the date; a fixed one keeps a finding reproducible.
    codec.setToday(QDate(2024, 6, 15));
    QByteArray page = input;
    Profile first;
    codec.readAll(page, &first);
    if (!codec.save(page, &first)) {
        require(page == input, "a failed save changed the page");
        return;
    }
    require(page.size() == input.size(), "save changed the page's length");
    // A 2.0.0 table may be written beyond the part of the page that is read, so a read may fail and keep what fits.
    Profile second;
    codec.readAll(page, &second);
    require(codec.save(page, &second), "a saved page does not save again");
    Profile third;
    codec.readAll(page, &third);
    require(third == second, "the map changed after the first round");
}

const int kProfilePageSize = 4096;

// Hands out only the profile page, in an allocation of its own size so that the sanitizer sees any access past it.
// The image cannot be opened, which the profile does not need.
class ProfilePageStore : public JXPSFStore
{
public:
    explicit ProfilePageStore(const QByteArray& input) : m_page(size_t(kProfilePageSize), char(0xFF))
    {
        // A shorter input leaves the rest erased.
        memcpy(m_page.data(), input.constData(), size_t(qMin(input.size(), kProfilePageSize)));
    }

    QByteArray page() const { return QByteArray(m_page.data(), kProfilePageSize); }

    JXExtFlashInfo_2M* getFlashInfo() override { return nullptr; }
    bool openPSF(char**) override { return false; }
    bool loadPSFDistHeaderFrame() override { return false; }
    bool loadPSFRouteFrame() override { return false; }
    bool loadPSFTrackFrame() override { return false; }
    bool loadPSFWorkoutFrame() override { return false; }
    bool loadPSFPOIFrame() override { return false; }
    bool loadPSFSensorLogFrame() override { return false; }
    bool loadPSFWorkoutLogFrame() override { return false; }
    bool loadPSFUserInfoLogFrame() override { return false; }
    bool loadFlashInfoFrame(char**) override { return false; }
    bool loadProfileFrame(char** profile) override
    {
        *profile = m_page.data();
        return true;
    }
    bool load() override { return false; }
    bool save() override { return false; }
    bool saveToFile(QString) override { return false; }
    bool loadFromFile(QString) override { return false; }

private:
    std::vector<char> m_page;
};

// A write touches the version byte, the count and the new table (the counted records and the magic one) only.
bool onlyTableChanged(const QByteArray& before, const QByteArray& after)
{
    const int tableSize =
        (qFromLittleEndian<quint16>(after.constData() + JXProfileReaderPSF_2_0_0::CountOffset) + 1) *
        JXProfileReaderPSF_2_0_0::RecordSize;
    const quint32 start = qFromLittleEndian<quint32>(before.constData() + JXProfileReaderPSF_2_0_0::StartOffset);
    const qint64 tableStart = JXProfileReaderPSF_2_0_0::HeaderOffset + qint64(start);
    for (int index = 0; index < kProfilePageSize; ++index) {
        const bool written = index == JXProfileReaderPSF_2_0_0::VersionOffset ||
                             index == JXProfileReaderPSF_2_0_0::CountOffset ||
                             index == JXProfileReaderPSF_2_0_0::CountOffset + 1 ||
                             (index >= tableStart && index < tableStart + tableSize);
        if (!written && before.at(index) != after.at(index))
            return false;
    }
    return true;
}

void secondGenerationRoundTrip(const QByteArray& input)
{
    ProfilePageStore store(input);
    JXPSF_1_5 root(&store);
    const Profile untouched{{QStringLiteral("caller"), QStringLiteral("kept")}};
    Profile first = untouched;
    if (!root.getProfile(first)) {
        require(first == untouched, "a failed read changed the caller's map");
        return;
    }
    const QByteArray before = store.page();
    if (!root.setProfile(first)) {
        require(store.page() == before, "a failed write changed the page");
        return;
    }
    require(onlyTableChanged(before, store.page()), "a write changed bytes outside the header fields and the table");
    Profile second;
    require(root.getProfile(second), "a written page does not read back");
    require(root.setProfile(second), "a page read back does not write again");
    Profile third;
    require(root.getProfile(third), "a page written twice does not read back");
    require(third == second, "the second-generation map changed after the first round");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString folder = [] {
        JXFuzz::silenceMessages();
        return JXFuzz::scratchRoot("profile");
    }();
    const QByteArray input(reinterpret_cast<const char*>(data), int(size));

    JXProfileReaderPSF_Obsolete obsolete;
    roundTrip(obsolete, input);
    JXProfileReaderPSF_Obsolete_Hemlar30 hemlar30;
    roundTrip(hemlar30, input);
    JXProfileReaderPSF_1_0_0 version100;
    roundTrip(version100, input);
    JXProfileReaderPSF_2_0_0 version200;
    roundTrip(version200, input);
    secondGenerationRoundTrip(input);

    const QString path = folder + QStringLiteral("/profile.xml");
    require(JXFuzz::writeFile(path, input), "cannot write the input file");
    QByteArray raw = path.toLatin1();
    JXProfileData profile(raw, ProfileFormat::XML);
    profile.readAll();
    return 0;
}
