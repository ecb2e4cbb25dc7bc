#ifndef JXWEBCOLLECTIONDATA_H
#define JXWEBCOLLECTIONDATA_H

#include <QByteArray>
#include <QString>
#include <QVector>

#include "device/jxclientdata.h"

class QDomDocument;
class QDomElement;

// One POI, route, track or workout as the web side lists it: every value is text.
struct JXWebData
{
    QString id;
    QString name;
    QString namePix; // PNG bytes as lower-case hexadecimal digits
    QString category;
    QString desc;
    QString latitude;
    QString longitude;
    QString altitude;
    QString fileSize;
    QString activityName;
    QString workoutName;
    QString targetDate;
    QString startPlace;
    QString endPlace;
    QString distance;
    QString activityType;
    QString startTime; // UTC, yyyy-MM-ddThh:mm:ssZ
    QString endTime;
    QString difficulty;
    QString trkpts;
    QString uploaded; // "1" or "0"
    QString wrkType;
    QString subType;
    QString itemId;
};

// The web collection data file: root "PersonalData" with the sections "POI", "Track", "PlanTrip" and "Workout".
// Made, filled and written by one caller (the client's worker thread); it locks nothing.
class JXWebCollectionData
{
public:
    JXWebCollectionData() = default;
    ~JXWebCollectionData();

    void setPOIs(QVector<JXClientData>& items);
    void setRoutes(QVector<JXClientData>& items);
    void setTracks(QVector<JXClientData>& items);
    void setWorkouts(QVector<JXClientData>& items);

    void cleanData(QVector<JXWebData*>& list);
    void webDatasFromClientDatas(QVector<JXWebData*>& out, QVector<JXClientData>& items);

    // False, and nothing written, when the file cannot be written whole.
    bool write(QString path);
    bool appendRecord(JXWebData* data, QDomDocument* doc, QDomElement* record, QString prefix);

    // False only when the file does not open; a document that does not parse still gives true.
    bool readFile(QString path);
    // False when the bytes are not well-formed XML. Records are appended to those already held.
    bool read(QByteArray& bytes);

    // Drops the characters that XML 1.0 cannot hold at all, so that an odd byte from a device cannot make the
    // whole document unreadable; the markup characters are left to the writer, which escapes them.
    static QString xmlText(const QString& text);

    // Owned records.
    QVector<JXWebData*> pois;
    QVector<JXWebData*> routes;
    QVector<JXWebData*> workouts;
    QVector<JXWebData*> tracks;

private:
    Q_DISABLE_COPY(JXWebCollectionData)
};

#endif
