// libFuzzer target for the second-generation name records and the flash header ring, both read from flash that a
// device (or a damaged image) may leave in any state.
//
// Each input is read twice:
// - as a record up to the end of its frame: byte 0 bit 0 says the names are bitmaps, bytes 4 to 7 hold the name
//   offset from the record's start; the chain of names is loaded, looked up with both bit-font states and each
//   name turned into a picture. Every name loaded must lie inside the frame.
// - as the flash header area, repeated to fill its 0x6000 bytes: the current header is found and flushed, and a
//   fresh layout object must find the flushed header in slot 0.
//
// The buffers are exactly as large as the data, so that AddressSanitizer flags any access past them.

#include <QtEndian>

#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzzsupport.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsfmultilangstring_1_5.h"
#include "psf/jxpsfnamedobject.h"
#include "psf/jxpsfstore.h"

using JXFuzz::require;

namespace {

const int kHeaderArea = 0x6000;
const int kSlot = 256;

class FuzzRecord : public JXPSFNamedObject
{
public:
    static constexpr unsigned int HeadSize = 8;

    explicit FuzzRecord(char* data) : JXPSFNamedObject(data) {}

    unsigned int getBytesCount() override
    {
        unsigned int count = HeadSize;
        for (JXPSFMultiLangString_1_5* name : qAsConst(m_names))
            count += name->getBytesCount();
        return count;
    }
    bool isBitFont() override { return (uchar(m_data[0]) & 1) != 0; }
    void setBitFont(bool bitFont) override { m_data[0] = char((uchar(m_data[0]) & ~1) | (bitFont ? 1 : 0)); }
    unsigned int getNameOffset() override { return qFromLittleEndian<quint32>(m_data + 4); }
    void setNameOffset(unsigned int offset) override { qToLittleEndian<quint32>(offset, m_data + 4); }
};

// Only the header area exists; every other request fails.
class HeaderAreaStore : public JXPSFStore
{
public:
    explicit HeaderAreaStore(char* area) : m_area(area) {}

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
    bool loadFlashInfoFrame(char** area) override
    {
        *area = m_area;
        return true;
    }
    bool loadProfileFrame(char**) override { return false; }
    bool load() override { return false; }
    bool save() override { return false; }
    bool saveToFile(QString) override { return false; }
    bool loadFromFile(QString) override { return false; }

private:
    char* m_area;
};

void readNames(const uint8_t* data, size_t size)
{
    if (size < FuzzRecord::HeadSize)
        return;
    std::vector<char> frame(data, data + size);
    FuzzRecord record(frame.data());
    const char* frameEnd = frame.data() + frame.size();
    const quint32 nameOffset = record.getNameOffset();
    if (nameOffset >= size)
        return;
    const auto& names = record.loadMultiLangStrings(frame.data() + nameOffset, frameEnd);
    size_t covered = nameOffset;
    for (JXPSFMultiLangString_1_5* name : names) {
        require(name->getData() == frame.data() + covered, "names lie back to back");
        covered += name->getBytesCount();
        require(covered <= size, "a loaded name lies inside the frame");
        const QString text = name->getTextString();
        require(text.size() == name->getLen(), "text is the payload");
        name->getBitFontString();
    }
    for (bool bitFont : {false, true}) {
        record.setBitFont(bitFont);
        for (const QString& code : {QString(), QStringLiteral("eng"), QStringLiteral("DEU")}) {
            const QString text = record.getName(code);
            const QImage picture = record.getBitFontName(code);
            require(!bitFont || text.isEmpty(), "no text from bitmap names");
            require(bitFont || picture.isNull(), "no picture from text names");
        }
        if (!names.isEmpty()) {
            const QString code = QString::fromLatin1(names.first()->getLangCode(), 3);
            record.getName(code);
            record.getBitFontName(code);
        }
    }
}

void readHeaderArea(const uint8_t* data, size_t size)
{
    if (size == 0)
        return;
    std::vector<char> area(kHeaderArea);
    for (size_t offset = 0; offset < area.size(); ++offset)
        area[offset] = char(data[offset % size]);
    HeaderAreaStore store(area.data());
    JXExtFlashInfo_2M info(&store);
    char* header = info.getFlashHeader();
    if (!header) {
        require(info.getFreeStorageSize() == 0, "no header reads as no room");
        const std::vector<char> before = area;
        info.flushFlashHeader();
        require(area == before, "a flush without a header changes nothing");
        return;
    }
    const ptrdiff_t offset = header - area.data();
    require(offset >= 0 && offset < kHeaderArea && offset % kSlot == 0, "the header is a slot of the area");
    info.flushFlashHeader();
    require(info.getFlashHeader() == area.data(), "the flushed header is slot 0");
    require(qFromLittleEndian<quint16>(area.data()) == 0xAA55, "magic");
    require(qFromLittleEndian<quint16>(area.data() + kSlot) == 0xFFFF, "slot 1 free");
    require(qFromLittleEndian<quint32>(area.data() + 4096) == 0x44332211, "erase mark");
    quint32 sum = 0;
    for (int index = 66; index < 220; ++index)
        sum += quint8(area[size_t(index)]);
    require(qFromLittleEndian<quint32>(area.data() + 220) == sum << 16, "checksum");

    JXExtFlashInfo_2M fresh(&store);
    require(fresh.getFlashHeader() == area.data(), "a fresh object finds slot 0");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    JXFuzz::silenceMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    readNames(data, size);
    readHeaderArea(data, size);
    return 0;
}
