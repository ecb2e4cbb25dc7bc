#ifndef GALFORMAT_H
#define GALFORMAT_H

#include <QByteArray>
#include <QString>

// The folder tree and files of our closed-library stand-in, shared by the library and the script module.
namespace GalFormat {

// Under the home path.
inline QString activityFolder() { return QStringLiteral("Activity"); }
// One folder per workout class, named after its three bytes ("Workout/0-5-1").
inline QString workoutFolder(unsigned char mode, unsigned char kind, unsigned char variant)
{
    return QStringLiteral("Workout/%1-%2-%3").arg(mode).arg(kind).arg(variant);
}
inline QString profileFile() { return QStringLiteral("Profile/profile.ini"); }

// "*.gal": the activity record, then an optional lap summary record.
constexpr int kActivityRecordSize = 88;
constexpr int kLapRecordSize = 56;
// Activity record fields.
constexpr int kActivityFlags = 4;
constexpr int kActivityType = 5;
constexpr int kActivityNameLength = 62;
constexpr int kActivityName = 72;
constexpr int kActivityNameCapacity = 16;
constexpr unsigned char kActivityNameNotText = 0x02;
// Lap summary record fields (unsigned 32-bit little-endian).
constexpr int kLapStartTime = 0;
constexpr int kLapEndTime = 4;
constexpr int kLapDistance = 8;

// "*.wkt": the workout record, then name entries: a 16-byte NUL-padded language code, the data size as unsigned 32-bit
// little-endian, the data.
constexpr int kWorkoutRecordSize = 36;
constexpr int kLanguageCodeSize = 16;
constexpr int kNameEntryHeader = kLanguageCodeSize + 4;

inline quint32 readU32(const QByteArray& data, int offset)
{
    if (offset < 0 || offset > data.size() - 4)
        return 0;
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData()) + offset;
    return quint32(bytes[0]) | quint32(bytes[1]) << 8 | quint32(bytes[2]) << 16 | quint32(bytes[3]) << 24;
}

} // namespace GalFormat

#endif
