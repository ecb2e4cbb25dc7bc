// The profile page of the second-generation image: the record table of the 2.0.0 profile page, read without its
// 3584-byte cut and with two differences in the records themselves.

#include "psf/gen2/jxpsf_1_5.h"

#include <cstring>

#include "jxlog.h"
#include "psf/jxpsfarea.h"
#include "psf/jxpsfstore.h"

namespace {

using Page = JXProfileReaderPSF_2_0_0;

// The whole profile area (layout word 45); its header and table lie as in the 2.0.0 page.
const quint64 kPageSize = 0x1000;
const int kLanguageId = 89;
const char* const kSexKey = "User Sex";
const char* const kMagicKey = "Magic Number";
const char* const kMagicValue = "49504951";

} // namespace

void JXPSF_1_5::convertKeyValue(QByteArray& key, QByteArray& value, int format)
{
    bool isNumber = false;
    if (key.toInt(&isNumber) == kLanguageId && isNumber) {
        if (value.size() < 4)
            value.append(QByteArray(4 - value.size(), '\0'));
        // The device leaves short, blank or hyphenated codes in the field; they mean no language.
        for (int index = 0; index < 3; ++index) {
            const auto byte = qint8(value.at(index));
            if (byte < 0x30 || byte > 0x7A) {
                value.clear();
                break;
            }
        }
    }
    Page().convertKeyValue(key, value, format);
}

bool JXPSF_1_5::KeyValueToRaw(QString key, QString value, QByteArray& raw, bool append,
                              JXProfileReaderPSF_2_0_0::profle_2_fmt format)
{
    Q_UNUSED(format);
    if (key != QLatin1String(kSexKey))
        return Page().KeyValueToRaw(key, value, raw, append);

    // This page keeps the sex as the number it is given, not as a word; id and format code stay the table's.
    QByteArray record;
    Page().KeyValueToRaw(key, value, record, false);
    bool isNumber = false;
    const quint32 number = value.toUInt(&isNumber, 10);
    JXPSFBytes::setU32(record.data() + 4, isNumber ? number : 0);
    if (!append)
        raw.clear();
    raw.append(record);
    return true;
}

bool JXPSF_1_5::getProfile(QMap<QString, QString>& map)
{
    char* page = nullptr;
    // The store logs why it cannot read the area.
    if (!m_store || !m_store->loadProfileFrame(&page) || !page)
        return false;

    if (m_profileCache.isEmpty()) {
        const JXPSFArea area = JXPSFArea::make(page, kPageSize, page + kPageSize);
        const quint64 tableStart = Page::HeaderOffset + quint64(JXPSFBytes::u32(page + Page::StartOffset));
        const quint16 count = JXPSFBytes::u16(page + Page::CountOffset);
        const char* table = area.at(tableStart, quint64(Page::RecordSize) * count);
        if (!table) {
            JX_WARNING << "the profile table of" << count << "records at" << tableStart << "does not lie within the"
                       << kPageSize << "bytes of the profile page";
            return false;
        }
        for (int index = 0; index < count; ++index) {
            QByteArray key, value;
            const int format = Page::readRecord(table + Page::RecordSize * index, key, value);
            convertKeyValue(key, value, format);
            m_profileCache.insert(Page::recordText(key), Page::recordText(value));
        }
    }
    map = m_profileCache;
    return true;
}

bool JXPSF_1_5::setProfile(QMap<QString, QString>& map)
{
    char* page = nullptr;
    if (!m_store || !m_store->loadProfileFrame(&page) || !page)
        return false;

    QByteArray table;
    int count = 0;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        if (KeyValueToRaw(it.key(), it.value(), table, true))
            ++count;
    }
    KeyValueToRaw(QLatin1String(kMagicKey), QLatin1String(kMagicValue), table, true);

    const JXPSFArea area = JXPSFArea::make(page, kPageSize, page + kPageSize);
    const quint64 tableStart = Page::HeaderOffset + quint64(JXPSFBytes::u32(page + Page::StartOffset));
    char* target = area.at(tableStart, quint64(table.size()));
    // A table over the header would overwrite its own start and count; an erased page has no start at all.
    if (!target || tableStart < quint64(Page::HeaderEnd)) {
        JX_WARNING << count << "profile records and the magic one do not fit in the profile page from" << tableStart;
        return false;
    }
    page[Page::VersionOffset] = 2;
    memcpy(target, table.constData(), size_t(table.size()));
    // Fewer than 512 records fit in the page, so the count fits its 16 bits.
    JXPSFBytes::setU16(page + Page::CountOffset, quint16(count));
    m_profileCache.clear();
    return true;
}
