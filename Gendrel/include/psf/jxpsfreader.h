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
    unsigned int words[46];
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
