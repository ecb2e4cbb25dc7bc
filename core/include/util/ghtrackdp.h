#ifndef GHTRACKDP_H
#define GHTRACKDP_H

#include <QDate>
#include <QMap>
#include <QString>
#include <QVariant>
#include <QVector>

#include "search/ghid.h"
#include "util/ghpsfrecord.h"
#include "util/ghpsfsensorrecord.h"

// One stored ride (or shared route) in memory: its database row and the records of its GPS and sensor logs, read
// once and then only read, so that it can be written out as GPX. Records in memory carry Unix times.
//
// Reading sets the process-wide time bases of GHPSFRecord and GHPSFSensorRecord: one provider reads at a time.
class GHTrackDP
{
public:
    GHTrackDP();
    virtual ~GHTrackDP();

    // The 17 TraceLog columns of the ride (location 0: flash home, 1: storage card); true when all came back.
    bool readTrackOverview(GHId id);
    // "Title", "TravelTime" and "TotalLength" of a Route row; true when all three came back.
    bool readRouteOverview(GHId id);

    // The ride's row (its absence is no failure), then its GPS log and its sensor log. False when a log cannot be
    // opened or its header is refused; what was read until then stays.
    bool readData(int id, bool thin);
    // With thin, a track point closer than 501 millionths of a degree (latitude and longitude differences added)
    // to the last point kept is dropped. date receives the local calendar day of the first track point. Logs of
    // format 0.2.1.4 and later count their times from the ride's StartTime, or from 0 without a ride row.
    bool readGpsData(const QString& path, bool thin, QDate& date);
    // Keeps the sensor records from the first one on date's local day (all of them for a null date).
    bool readSensorData(const QString& path, const QDate& date);

    // Getters that the GPX export reads; a stored ride has no waypoints.
    virtual int getWptCount();
    virtual void getWptData(int index, QMap<QString, QString>& data);
    virtual QString getLogVersion();

private:
    GHTrackDP(const GHTrackDP&) = delete;
    GHTrackDP& operator=(const GHTrackDP&) = delete;

    friend class TestGHTrackDP;

    // Column indices of m_trackOverview.
    static constexpr int TRACK_START_TIME = 14;
    static constexpr int TRACK_COLUMNS = 17;
    static constexpr int ROUTE_COLUMNS = 3;

    void resetBounds();
    void widenBounds(const GHPSFRecord& point);
    quint32 rideStartTime() const;

    QVector<QVariant> m_routeOverview;
    QVector<QVariant> m_trackOverview;
    QVector<GHPSFRecord> m_trackPoints;
    QVector<GHPSFRecord> m_routePoints;
    QVector<GHPSFSensorRecord> m_sensorRecords;
    int m_id;
    // Millionths of a degree; until a track point widens them they stay at their start values (min above max).
    int m_minLat;
    int m_minLon;
    int m_maxLat;
    int m_maxLon;
    QString m_logVersion;    // "0.2.1.8": the GPS log's format version
    QString m_systemVersion; // the device's, from GPS logs of format 0.2.1.7 and later
};

#endif
