// Profile page 2.0.0: the record table and the key table that names its ids.

#include "profile/jxprofilereaderpsf.h"

#include <cstring>

#include "jxlog.h"

namespace {

// How the writer turns a key's value text into the four value bytes.
enum ValueKind {
    Age,    // u32 age in years from a "yyyy/MM/dd" birthday
    Sex,    // u32: 0 for "0" or "female" in any case, else 1
    UInt8,  // byte 4: low 8 bits of a u32
    UInt16, // u16, 0 when out of range
    UInt32, // u32, 0 when out of range
    Int16,  // s16, 0 when out of range
    Float,  // single precision
    Text    // 1 to 4 characters, one byte each; anything else writes zeros
};

struct KeyEntry
{
    int id;
    const char* key;
    int format; // value-format code stored in the record
    ValueKind kind;
};

// The profile key table: ids 4 to 89 and the magic record's 1. "Vehicle1 Tmileage.Metric" is spelled as the devices
// spell it.
const KeyEntry KeyTable[] = {
    {1, "Magic Number", 5, UInt32},
    {4, "User Birthday", 1, Age},
    {5, "User Sex", 1, Sex},
    {6, "User Unit", 1, UInt32},
    {7, "User Height.Metric", 7, Float},
    {8, "User Height.Imperial", 7, Float},
    {9, "User Weight.Metric", 7, Float},
    {10, "User Weight.Imperial", 7, Float},
    {11, "User MHR", 3, UInt16},
    {12, "User MHR.zone1.low", 3, UInt16},
    {13, "User MHR.zone2.low", 3, UInt16},
    {14, "User MHR.zone3.low", 3, UInt16},
    {15, "User MHR.zone4.low", 3, UInt16},
    {16, "User MHR.zone5.low", 3, UInt16},
    {17, "User MHR.zone6.low", 3, UInt16},
    {18, "User MHR.zone7.low", 3, UInt16},
    {19, "User MHR.zone1.high", 3, UInt16},
    {20, "User MHR.zone2.high", 3, UInt16},
    {21, "User MHR.zone3.high", 3, UInt16},
    {22, "User MHR.zone4.high", 3, UInt16},
    {23, "User MHR.zone5.high", 3, UInt16},
    {24, "User MHR.zone6.high", 3, UInt16},
    {25, "User MHR.zone7.high", 3, UInt16},
    {26, "User LTHR", 3, UInt16},
    {27, "User LTHR.zone1.low", 3, UInt16},
    {28, "User LTHR.zone2.low", 3, UInt16},
    {29, "User LTHR.zone3.low", 3, UInt16},
    {30, "User LTHR.zone4.low", 3, UInt16},
    {31, "User LTHR.zone5.low", 3, UInt16},
    {32, "User LTHR.zone6.low", 3, UInt16},
    {33, "User LTHR.zone7.low", 3, UInt16},
    {34, "User LTHR.zone1.high", 3, UInt16},
    {35, "User LTHR.zone2.high", 3, UInt16},
    {36, "User LTHR.zone3.high", 3, UInt16},
    {37, "User LTHR.zone4.high", 3, UInt16},
    {38, "User LTHR.zone5.high", 3, UInt16},
    {39, "User LTHR.zone6.high", 3, UInt16},
    {40, "User LTHR.zone7.high", 3, UInt16},
    {41, "User MAP", 3, UInt16},
    {42, "User MAP.zone1.low", 3, UInt16},
    {43, "User MAP.zone2.low", 3, UInt16},
    {44, "User MAP.zone3.low", 3, UInt16},
    {45, "User MAP.zone4.low", 3, UInt16},
    {46, "User MAP.zone5.low", 3, UInt16},
    {47, "User MAP.zone6.low", 3, UInt16},
    {48, "User MAP.zone7.low", 3, UInt16},
    {49, "User MAP.zone1.high", 3, UInt16},
    {50, "User MAP.zone2.high", 3, UInt16},
    {51, "User MAP.zone3.high", 3, UInt16},
    {52, "User MAP.zone4.high", 3, UInt16},
    {53, "User MAP.zone5.high", 3, UInt16},
    {54, "User MAP.zone6.high", 3, UInt16},
    {55, "User MAP.zone7.high", 3, UInt16},
    {56, "User FTP", 3, UInt16},
    {57, "User FTP.zone1.low", 3, UInt16},
    {58, "User FTP.zone2.low", 3, UInt16},
    {59, "User FTP.zone3.low", 3, UInt16},
    {60, "User FTP.zone4.low", 3, UInt16},
    {61, "User FTP.zone5.low", 3, UInt16},
    {62, "User FTP.zone6.low", 3, UInt16},
    {63, "User FTP.zone7.low", 3, UInt16},
    {64, "User FTP.zone1.high", 3, UInt16},
    {65, "User FTP.zone2.high", 3, UInt16},
    {66, "User FTP.zone3.high", 3, UInt16},
    {67, "User FTP.zone4.high", 3, UInt16},
    {68, "User FTP.zone5.high", 3, UInt16},
    {69, "User FTP.zone6.high", 3, UInt16},
    {70, "User FTP.zone7.high", 3, UInt16},
    {71, "First Use Page", 1, UInt8},
    {72, "Vehicle1 Tmileage.Metric", 7, Float},
    {73, "Vehicle1 TMileage.Imperial", 7, Float},
    {74, "Vehicle2 TMileage.Metric", 7, Float},
    {75, "Vehicle2 TMileage.Imperial", 7, Float},
    {76, "Vehicle1 Wheel.Metric", 7, Float},
    {77, "Vehicle1 Wheel.Imperial", 7, Float},
    {78, "Vehicle2 Weight.Metric", 7, Float},
    {79, "Vehicle2 Weight.Imperial", 7, Float},
    {80, "Vehicle1 Ride.Time", 5, UInt32},
    {81, "Vehicle2 Ride.Time", 5, UInt32},
    {82, "User Lang", 1, UInt8},
    {83, "Time zone", 7, Float},
    {84, "Day night saving", 2, Int16},
    {85, "Date format", 1, UInt8},
    {86, "Time format", 1, UInt8},
    {87, "Sunset", 5, UInt32},
    {88, "Sunrise", 5, UInt32},
    {89, "Language ISO3", 11, Text},
};

const int FirstNamedId = 4;
const int LastNamedId = 89;
const char* const MagicKey = "Magic Number";
const char* const MagicValue = "49504951"; // B7 62 F3 02

const KeyEntry* entryOfId(int id)
{
    for (const KeyEntry& entry : KeyTable) {
        if (entry.id == id)
            return &entry;
    }
    return nullptr;
}

const KeyEntry* entryOfKey(const QString& key)
{
    for (const KeyEntry& entry : KeyTable) {
        if (key == QLatin1String(entry.key))
            return &entry;
    }
    return nullptr;
}

quint32 littleEndian32(const QByteArray& bytes, int offset)
{
    const auto* at = reinterpret_cast<const quint8*>(bytes.constData()) + offset;
    return quint32(at[0]) | quint32(at[1]) << 8 | quint32(at[2]) << 16 | quint32(at[3]) << 24;
}

quint16 littleEndian16(const QByteArray& bytes, int offset)
{
    const auto* at = reinterpret_cast<const quint8*>(bytes.constData()) + offset;
    return quint16(at[0] | at[1] << 8);
}

void putLittleEndian(char* at, quint32 value, int width)
{
    for (int index = 0; index < width; ++index)
        at[index] = char(value >> (8 * index));
}

} // namespace

int JXProfileReaderPSF_2_0_0::readRecord(const char* record, QByteArray& key, QByteArray& value)
{
    const auto* bytes = reinterpret_cast<const quint8*>(record);
    key = QByteArray::number(quint32(bytes[0]) << 16 | quint32(bytes[1]) << 8 | bytes[2]);
    value = QByteArray(record + 4, 4);
    return bytes[3];
}

QString JXProfileReaderPSF_2_0_0::recordText(const QByteArray& bytes)
{
    const int end = bytes.indexOf('\0');
    return QString::fromLatin1(end < 0 ? bytes : bytes.left(end));
}

void JXProfileReaderPSF_2_0_0::convertKeyValue(QByteArray& key, QByteArray& value, int format)
{
    if (value.size() < 4)
        value.append(QByteArray(4 - value.size(), '\0'));
    bool isNumber = false;
    const int id = key.toInt(&isNumber);
    if (isNumber && id >= FirstNamedId && id <= LastNamedId) {
        if (const KeyEntry* entry = entryOfId(id))
            key = entry->key;
    }

    const quint32 word = littleEndian32(value, 0);
    switch (format) {
    case FMT_UINT8: value = QByteArray::number(quint8(word)); break;
    case FMT_INT8:
    case FMT_SINT8: value = QByteArray::number(qint8(quint8(word))); break;
    case FMT_UINT16: value = QByteArray::number(quint16(word)); break;
    case FMT_INT16: value = QByteArray::number(qint16(quint16(word))); break;
    case FMT_UINT32: value = QByteArray::number(word); break;
    case FMT_INT32: value = QByteArray::number(qint32(word)); break;
    case FMT_FLOAT: {
        float number;
        static_assert(sizeof number == sizeof word, "a float takes four bytes");
        memcpy(&number, &word, sizeof number);
        value = QByteArray::number(double(number), 'g', 6);
        break;
    }
    default:
        // Text, and the double-precision code, whose eight bytes a four-byte field cannot hold: the bytes as text.
        value = value.left(4);
        break;
    }

    if (key == "User Birthday") {
        bool isAge = false;
        const quint32 age = recordText(value).toUInt(&isAge, 10);
        value = birthdayFromAge(isAge ? age : 0).toLatin1();
    }
}

bool JXProfileReaderPSF_2_0_0::KeyValueToRaw(QString key, QString value, QByteArray& raw, bool append,
                                             profle_2_fmt format)
{
    Q_UNUSED(format);
    const KeyEntry* entry = entryOfKey(key);
    if (!entry)
        return false;

    char record[RecordSize] = {0, 0, char(entry->id), char(entry->format), 0, 0, 0, 0};
    char* field = record + 4;
    bool ok = false;
    switch (entry->kind) {
    case Age: putLittleEndian(field, quint32(ageFromBirthday(value)), 4); break;
    case Sex:
        putLittleEndian(
            field, value == QLatin1String("0") || !value.compare(QLatin1String("Female"), Qt::CaseInsensitive) ? 0 : 1,
            4);
        break;
    case UInt8: {
        const quint32 number = value.toUInt(&ok, 10);
        putLittleEndian(field, ok ? quint8(number) : 0, 1);
        break;
    }
    case UInt16: {
        const quint16 number = value.toUShort(&ok, 10);
        putLittleEndian(field, ok ? number : 0, 2);
        break;
    }
    case UInt32: {
        const quint32 number = value.toUInt(&ok, 10);
        putLittleEndian(field, ok ? number : 0, 4);
        break;
    }
    case Int16: {
        const qint16 number = value.toShort(&ok, 10);
        putLittleEndian(field, ok ? quint16(number) : 0, 2);
        break;
    }
    case Float: {
        const float number = value.toFloat(&ok);
        const float stored = ok ? number : 0.0f;
        quint32 word;
        memcpy(&word, &stored, sizeof word);
        putLittleEndian(field, word, 4);
        break;
    }
    case Text:
        if (value.size() >= 1 && value.size() <= 4) {
            for (int index = 0; index < value.size(); ++index)
                field[index] = char(value.at(index).unicode() & 0xFF);
        }
        break;
    }

    if (!append)
        raw.clear();
    raw.append(record, RecordSize);
    return true;
}

bool JXProfileReaderPSF_2_0_0::readAll(QByteArray& bytes, QMap<QString, QString>* map)
{
    if (bytes.size() < HeaderEnd) {
        JX_WARNING << "a profile page of" << bytes.size() << "bytes is too short for its header";
        return false;
    }
    const qint64 limit = qMin(bytes.size(), int(ReadLimit));
    const qint64 tableStart = HeaderOffset + qint64(littleEndian32(bytes, StartOffset));
    const int count = littleEndian16(bytes, CountOffset);

    int read = 0;
    for (; read < count; ++read) {
        const qint64 at = tableStart + qint64(RecordSize) * read;
        if (at + RecordSize > limit)
            break;
        QByteArray key, value;
        const int format = readRecord(bytes.constData() + at, key, value);
        convertKeyValue(key, value, format);
        map->insert(recordText(key), recordText(value));
    }
    if (read < count) {
        JX_WARNING << "the profile table at" << tableStart << "holds" << count << "records, of which only" << read
                   << "lie within the first" << limit << "bytes";
        return false;
    }
    return true;
}

bool JXProfileReaderPSF_2_0_0::save(QByteArray& bytes, QMap<QString, QString>* map)
{
    if (bytes.size() < HeaderEnd) {
        JX_WARNING << "a profile page of" << bytes.size() << "bytes is too short for its header";
        return false;
    }
    QByteArray table;
    qint64 count = 0;
    for (auto it = map->constBegin(); it != map->constEnd(); ++it) {
        if (KeyValueToRaw(it.key(), it.value(), table, true))
            ++count;
    }
    KeyValueToRaw(QLatin1String(MagicKey), QLatin1String(MagicValue), table, true);

    const qint64 tableStart = HeaderOffset + qint64(littleEndian32(bytes, StartOffset));
    // A table over the header would overwrite its own start and count.
    if (count > 0xFFFF || tableStart < HeaderEnd || tableStart + table.size() > bytes.size()) {
        JX_WARNING << count << "profile records and the magic one do not fit in a page of" << bytes.size()
                   << "bytes from" << tableStart;
        return false;
    }
    bytes[VersionOffset] = 2;
    bytes.replace(int(tableStart), table.size(), table);
    bytes[CountOffset] = char(count);
    bytes[CountOffset + 1] = char(count >> 8);
    return true;
}
