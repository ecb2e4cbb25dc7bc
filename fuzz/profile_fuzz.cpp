// libFuzzer target for the profile codecs.
//
// Input: one profile page, given to each binary codec in turn: read into a map, saved back into the page, read
// again, saved and read a third time. The first save may still change a value (a text that is no number writes 0,
// floats are printed with six digits), so from the second read on the map must stay the same, and no save may change
// the page's length. The same bytes are also an XML profile file read through readAll.

#include "jxprofiledata.h"
#include "jxprofilereaderpsf.h"

#include <cstdint>
#include <memory>

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

    const QString path = folder + QStringLiteral("/profile.xml");
    require(JXFuzz::writeFile(path, input), "cannot write the input file");
    QByteArray raw = path.toLatin1();
    JXProfileData profile(raw, ProfileFormat::XML);
    profile.readAll();
    return 0;
}
