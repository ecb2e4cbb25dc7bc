#ifndef GHTRACKDP_H
#define GHTRACKDP_H

#include <QDate>
#include <QMap>
#include <QString>
#include <QVariant>
#include <QVector>

#include <optional>

#include "search/ghid.h"
#include "util/ghgpxexportable.h"
#include "util/ghpsfrecord.h"
#include "util/ghpsfsensorrecord.h"

// One stored ride (or shared route) in memory: its database row and the records of its GPS and sensor logs, read
// once and then only read, so that it can be written out as GPX. Records in memory carry Unix times.
//
// Reading sets the process-wide time bases of GHPSFRecord and GHPSFSensorRecord: one provider reads at a time.
//
// As a GPX source it writes the ride in our dialect; its getters hand the same data out as key/value maps for
// callers that build other documents. Texts from the row and the side files are cleaned of characters that XML
// cannot hold, so one stray byte typed on a device does not fail a whole export.
class GHTrackDP : public GHGpxExportable
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

    void writeMeta(QXmlStreamWriter& writer) override;
    // The first and the last track point as a two-point route; the stored route points are not written.
    void writeRte(QXmlStreamWriter& writer) override;
    // A segment ends after each point that a pause followed.
    void writeTrk(QXmlStreamWriter& writer) override;
    void writeWpt(QXmlStreamWriter& writer) override;
    // The sensor log, then the workout log, laps and workout plan side files: nothing at all without sensor records.
    void writeExtensions(QXmlStreamWriter& writer) override;

    // Getters. Maps are filled by insertion; keys present are replaced. Degrees in the maps have up to nine
    // significant digits.
    virtual void getRouteMeta(QMap<QString, QString>& data);
    // Unlike writeMeta, empty values are inserted too.
    virtual void getMetaData(QMap<QString, QString>& data);
    virtual int getRteCount();
    virtual void getRteData(int route, QMap<QString, QString>& data);
    // Without stored route points the route is the first and the last track point.
    virtual int getRteptCount(int route);
    virtual void getRteptData(int route, int point, QMap<QString, QString>& data);
    virtual int getTrkCount();
    virtual int getTrksegCount(int track);
    virtual int getTrkptCount(int track, int segment);
    virtual void getTrkptData(int track, int segment, int point, QMap<QString, QString>& data);
    virtual const QVector<GHPSFRecord>& getTrkptArray();
    // A stored ride has no waypoints.
    virtual int getWptCount();
    virtual void getWptData(int index, QMap<QString, QString>& data);
    virtual bool hasExtensions();
    virtual int getLogptCount();
    virtual void getLogptData(int index, QMap<QString, QString>& data);
    virtual QString getLogVersion();

    // Copy the ride's "-WRK.xml", "-STA.xml" and "-PLN.xml" side files into the output, each only when it parses
    // whole.
    void _writeWorkoutLog(QXmlStreamWriter& writer);
    // The workout that the workout log written last names; none when no log was written or it names none.
    std::optional<quint32> writtenWorkout() const { return m_writtenWorkout; }
    void _writeLaps(QXmlStreamWriter& writer);
    void _writeWorkoutPlan(QXmlStreamWriter& writer);

private:
    GHTrackDP(const GHTrackDP&) = delete;
    GHTrackDP& operator=(const GHTrackDP&) = delete;

    friend class TestGHTrackDP;
    // Exports a ride recorded without sensors from its row and GPS log alone.
    friend class GHTraceLog;

    // Column indices of m_trackOverview.
    static constexpr int TRACK_START_TIME = 14;
    static constexpr int TRACK_COLUMNS = 17;
    static constexpr int ROUTE_COLUMNS = 3;

    void resetBounds();
    void widenBounds(const GHPSFRecord& point);
    quint32 rideStartTime() const;
    // The overview value at index as Unix seconds; false when it is absent or no number in that range.
    bool overviewTime(int index, quint32& seconds) const;
    QString overviewText(int index) const;
    // "sys" version: the log's own device version for newer logs, with the current device code appended.
    QString sysVersionText() const;
    QString altitudeText(qint16 altitude) const;
    // Metres per minute as kilometres per hour, unless the log is older than the unit.
    QString speedText(quint16 speed) const;

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
    std::optional<quint32> m_writtenWorkout;
};

#endif
