// The first-generation profile pages: the obsolete user record and version 1.0.0.

#include "profile/jxprofilereaderpsf.h"

#include "../../../core/include/util/ghpack.h"
#include "jxlog.h"

namespace {

// The user record shared by the obsolete layouts and 1.0.0.
const char* const UserRecordFormat = "BBHffffH"; // sex, age, reserved, four floats, maximum heart rate
const int UserRecordSize = 22;

const int ObsoleteRecordOffset = 587;
const int Hemlar30RecordOffset = 327;

// Profile page 1.0.0, in page order.
const int Version100Offset = 2; // three bytes: 1, 0, 1
const int Record100Offset = 331;
const int LangOffset = 495;
const int UnitOffset = 506;
const int FirstUsePageOffset = 1214;
const int Page100Size = FirstUsePageOffset + 1;

struct HRUPPreData_Obsolete
{
    quint8 sex = 0;
    quint8 age = 0;
    float heightMetric = 0;
    float heightImperial = 0;
    float weightMetric = 0;
    float weightImperial = 0;
    quint16 maxHeartRate = 0;
};

// The unpacked form of 1.0.0 carries an MLSS field that the record does not store.
struct HRUPPreData_1_0_0 : HRUPPreData_Obsolete
{
    quint16 mlss = 0;
};

void ReadObsoletPSFProfile(const unsigned char* at, HRUPPreData_Obsolete& out)
{
    quint16 reserved = 0;
    UnPack(at, UserRecordFormat, &out.sex, &out.age, &reserved, &out.heightMetric, &out.heightImperial,
           &out.weightMetric, &out.weightImperial, &out.maxHeartRate);
}

void ReadHRUPPreData_1_0_0(const unsigned char* at, HRUPPreData_1_0_0& out)
{
    ReadObsoletPSFProfile(at, out);
}

void WriteObsoletPSFProfile(unsigned char* at, const HRUPPreData_Obsolete& in)
{
    Pack(at, UserRecordFormat, int(in.sex), int(in.age), 0, double(in.heightMetric), double(in.heightImperial),
         double(in.weightMetric), double(in.weightImperial), int(in.maxHeartRate));
}

QString floatText(float value)
{
    return QString::number(double(value), 'g', 6);
}

float floatOf(const QString& text)
{
    bool ok = false;
    const float value = text.toFloat(&ok);
    return ok ? value : 0.0f;
}

// The low bits of a base-10 integer; 0 when the text is none.
int integerOf(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

quint8 sexOf(const QString& text)
{
    return text == QLatin1String("1") || text == QLatin1String("Male") ? 1 : 0;
}

void insertMeasures(QMap<QString, QString>* map, const HRUPPreData_Obsolete& record)
{
    map->insert(QStringLiteral("User Sex"), QString::number(record.sex));
    map->insert(QStringLiteral("User Height.Metric"), floatText(record.heightMetric));
    map->insert(QStringLiteral("User Height.Imperial"), floatText(record.heightImperial));
    map->insert(QStringLiteral("User Weight.Metric"), floatText(record.weightMetric));
    map->insert(QStringLiteral("User Weight.Imperial"), floatText(record.weightImperial));
    map->insert(QStringLiteral("User MHR"), QString::number(record.maxHeartRate));
}

bool pageHolds(const QByteArray& bytes, int size, const char* layout)
{
    if (bytes.size() >= size)
        return true;
    JX_WARNING << "a profile page of" << bytes.size() << "bytes is too short for the" << layout << "layout, which needs"
               << size;
    return false;
}

bool readObsolete(const JXProfileReader& reader, const QByteArray& bytes, int offset, QMap<QString, QString>* map)
{
    if (!pageHolds(bytes, offset + UserRecordSize, "obsolete"))
        return false;
    HRUPPreData_Obsolete record;
    ReadObsoletPSFProfile(reinterpret_cast<const unsigned char*>(bytes.constData()) + offset, record);
    insertMeasures(map, record);
    map->insert(QStringLiteral("User Birthday"), reader.birthdayFromAge(record.age));
    return true;
}

bool saveObsolete(const JXProfileReader& reader, QByteArray& bytes, int offset, const QMap<QString, QString>* map)
{
    if (!pageHolds(bytes, offset + UserRecordSize, "obsolete"))
        return false;
    HRUPPreData_Obsolete record;
    record.sex = sexOf(map->value(QStringLiteral("User Sex")));
    record.heightMetric = floatOf(map->value(QStringLiteral("User Height.Metric")));
    record.heightImperial = floatOf(map->value(QStringLiteral("User Height.Imperial")));
    record.weightMetric = floatOf(map->value(QStringLiteral("User Weight.Metric")));
    record.weightImperial = floatOf(map->value(QStringLiteral("User Weight.Imperial")));
    record.maxHeartRate = quint16(integerOf(map->value(QStringLiteral("User MHR"))));
    record.age = quint8(reader.ageFromBirthday(map->value(QStringLiteral("User Birthday"))));
    WriteObsoletPSFProfile(reinterpret_cast<unsigned char*>(bytes.data()) + offset, record);
    return true;
}

} // namespace

bool JXProfileReaderPSF_Obsolete::readAll(QByteArray& bytes, QMap<QString, QString>* map)
{
    return readObsolete(*this, bytes, ObsoleteRecordOffset, map);
}

bool JXProfileReaderPSF_Obsolete::save(QByteArray& bytes, QMap<QString, QString>* map)
{
    return saveObsolete(*this, bytes, ObsoleteRecordOffset, map);
}

bool JXProfileReaderPSF_Obsolete_Hemlar30::readAll(QByteArray& bytes, QMap<QString, QString>* map)
{
    return readObsolete(*this, bytes, Hemlar30RecordOffset, map);
}

bool JXProfileReaderPSF_Obsolete_Hemlar30::save(QByteArray& bytes, QMap<QString, QString>* map)
{
    return saveObsolete(*this, bytes, Hemlar30RecordOffset, map);
}

bool JXProfileReaderPSF_1_0_0::readAll(QByteArray& bytes, QMap<QString, QString>* map)
{
    if (!pageHolds(bytes, Page100Size, "1.0.0"))
        return false;
    const auto* page = reinterpret_cast<const unsigned char*>(bytes.constData());
    HRUPPreData_1_0_0 record;
    ReadHRUPPreData_1_0_0(page + Record100Offset, record);
    insertMeasures(map, record);
    // The page has no MLSS field; the unpacked record's stays 0.
    map->insert(QStringLiteral("User MLSS"), QString::number(record.mlss));
    map->insert(QStringLiteral("User First Use Page"), QString::number(page[FirstUsePageOffset]));
    map->insert(QStringLiteral("User Birthday"), birthdayFromAge(record.age));
    map->insert(QStringLiteral("User Lang"), QString::number(page[LangOffset]));
    map->insert(QStringLiteral("User Unit"), QString::number(page[UnitOffset]));
    return true;
}

bool JXProfileReaderPSF_1_0_0::save(QByteArray& bytes, QMap<QString, QString>* map)
{
    if (!pageHolds(bytes, Page100Size, "1.0.0"))
        return false;
    auto* page = reinterpret_cast<unsigned char*>(bytes.data());
    HRUPPreData_1_0_0 record;
    ReadHRUPPreData_1_0_0(page + Record100Offset, record);

    auto has = [map](const char* key) { return map->contains(QLatin1String(key)); };
    auto text = [map](const char* key) { return map->value(QLatin1String(key)); };
    if (has("User Sex"))
        record.sex = sexOf(text("User Sex"));
    if (has("User Height.Metric"))
        record.heightMetric = floatOf(text("User Height.Metric"));
    if (has("User Height.Imperial"))
        record.heightImperial = floatOf(text("User Height.Imperial"));
    if (has("User Weight.Metric"))
        record.weightMetric = floatOf(text("User Weight.Metric"));
    if (has("User Weight.Imperial"))
        record.weightImperial = floatOf(text("User Weight.Imperial"));
    if (has("User Birthday"))
        record.age = quint8(ageFromBirthday(text("User Birthday")));
    if (has("User MHR"))
        record.maxHeartRate = quint16(integerOf(text("User MHR")));
    const QByteArray stored = bytes.mid(Record100Offset, UserRecordSize);
    WriteObsoletPSFProfile(page + Record100Offset, record);
    // A float passes through double on its way back, which would quiet a signalling NaN: a field the map does not
    // name keeps its stored bytes exactly.
    const char* const floatKeys[] = {"User Height.Metric", "User Height.Imperial", "User Weight.Metric",
                                     "User Weight.Imperial"};
    for (int index = 0; index < 4; ++index) {
        if (!has(floatKeys[index]))
            bytes.replace(Record100Offset + 4 + 4 * index, 4, stored.mid(4 + 4 * index, 4));
    }

    // Through the array's own index: the length was checked above.
    if (has("User Lang"))
        bytes[LangOffset] = char(integerOf(text("User Lang")));
    if (has("User Unit"))
        bytes[UnitOffset] = char(integerOf(text("User Unit")));
    bytes[Version100Offset] = 1;
    bytes[Version100Offset + 1] = 0;
    bytes[Version100Offset + 2] = 1;
    bytes[FirstUsePageOffset] = 1;
    return true;
}
