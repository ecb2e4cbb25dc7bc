#ifndef JXPSFREADER_H
#define JXPSFREADER_H

#include <QByteArray>
#include <QObject>
#include <QString>

class JXPSF;

// Where each area of a first-generation device's flash lies: 46 flash addresses and sizes, chosen per model by
// the drivers. A group is {area start, table start, area end, size}. Used here: 3 and 5 (POI table start and size),
// 7 and 9 (workouts), 11 and 13 (routes), 17 and 19 (workout intervals), 25 and 28 (track table start and size),
// and 42, the flash address of image byte 0.
struct flash_header_def
{
    // The words, by what they give; the ones not named have no role.
    enum Word {
        HeaderAreaEnd = 0, // the flash-header slots run from address 0 to here
        DistHeaderEnd = 1,
        POIAreaStart = 2,
        POITableStart = 3,
        POIAreaEnd = 4,
        POITableSize = 5,
        WorkoutAreaStart = 6,
        WorkoutTableStart = 7,
        WorkoutAreaEnd = 8,
        WorkoutTableSize = 9,
        RouteAreaStart = 10,
        RouteTableStart = 11,
        RouteAreaEnd = 12,
        RouteTableSize = 13,
        LapAreaStart = 14,
        LapAreaEnd = 15,
        LapAreaSize = 16,
        IntervalAreaStart = 17,
        IntervalAreaEnd = 18,
        IntervalAreaSize = 19,
        WorkoutLogAreaStart = 20,
        WorkoutLogTableStart = 21,
        WorkoutLogAreaEnd = 22,
        WorkoutLogTableSize = 23,
        TrackAreaStart = 24,
        TrackTableStart = 25,
        TrackAreaEnd = 26,
        TrackTableSize = 28,
        SensorLogAreaStart = 30,
        SensorLogTableStart = 31,
        SensorLogAreaEnd = 32,
        SensorLogTableSize = 33,
        LanguageAreaStart = 38,
        LanguageTableStart = 39,
        LanguageAreaEnd = 40,
        LanguageTableSize = 41,
        ImageAddress = 42, // the flash address of image byte 0
        Words = 46
    };

    unsigned int words[Words];
};

// Builds the root of a first-generation image.
class JXPSFReader : public QObject
{
    Q_OBJECT

public:
    enum ListType { AllLists = 0 };

    JXPSFReader(QByteArray* raw, QObject* parent);

    // A new root owned by the caller, or null when version is not "1.4.x.x". Frames that lie outside image come out
    // empty. type has no effect.
    static JXPSF* getPSF(QByteArray* image, void* flashHeader, flash_header_def def, QString version,
                         JXPSFReader::ListType type);
};

#endif
