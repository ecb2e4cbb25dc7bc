#ifndef GHMYFAVORITERECORD_H
#define GHMYFAVORITERECORD_H

#include <QString>
#include <QtGlobal>

// One favourite place, a row of MyFavorite.
class GHMyFavoriteRecord
{
public:
    qint32 id = -1;
    QString name;
    QString tel;
    QString place;
    QString info;
    // Millionths of a degree.
    qint32 longitude = 0;
    qint32 latitude = 0;
    // Read back as one character: the stored integer's low byte (Latin-1), code 0 for a text.
    QString country;
    // Read back as the local date and time, "yyyy-MM-ddThh:mm:ssZ" with a literal Z.
    QString recordTime;
    QString roadName;
    QString houseNumber;
};

#endif
