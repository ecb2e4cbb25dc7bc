#ifndef GHTRACELOG_H
#define GHTRACELOG_H

#include <QString>
#include <QVector>

#include <cstdio>
#include <optional>

#include "search/ghid.h"
#include "util/ghbinarylogger.h"
#include "util/ghtripstatistic.h"

class QXmlStreamReader;

class GHLiveLocation;
class GHStatisticReader;
class GHTrackDP;
class GHWorkout;

// One TraceLog row as the device database stores it; the id feeds both idRoute and CreateTime.
class GHTraceLogRecord
{
public:
    GHTraceLogRecord();
    ~GHTraceLogRecord();

    QString title; // "..." while the ride is still being recorded
    QString abstract;
    qint32 totalLength;
    quint32 id;
    QString author;
    qint32 elevation;
    qint32 startLon;
    qint32 startLat;
    qint32 endLon;
    qint32 endLat;
    qint32 lowerLeftLat;
    qint32 lowerLeftLon;
    qint32 upperRightLon;
    qint32 upperRightLat;
    QString startCountry;
    QString endCountry;
    QString startPlace;
    QString endPlace;
    qint32 maxElevation;
    qint32 minElevation;
    qint32 startTime;
    qint32 endTime;
    qint32 activityType;
    qint32 routeType;
};

// One performed interval of a workout, seconds since 1970 (UTC).
struct GHIntervalLogData
{
    quint32 startTime = 0;
    quint32 endTime = 0;
};

// One recorded ride: its GPS and sensor logs, its side files and its TraceLog row in the flash database, all named
// after its id; and, as statics, the process-wide settings of the ride-log layer and the names of a ride's files.
// Plain statics without a lock: device code sets them on one thread before it works on that device's data.
//
// A ride's id is the local wall-clock time counted as if it were UTC. Records are accepted in time order only: one
// older than the newest accepted time is refused.
class GHTraceLog : public GHBinaryLogger
{
public:
    // A new ride: the id from the clock, stepped up past any id that a TraceLog row or a ride log already has, so
    // that two rides begun in one second (or in the repeated hour of a clock change) never share files.
    GHTraceLog();
    // Continues the ride with this id when it has a row, appending to its logs; otherwise a new ride as above. A
    // partial record at the end of a log (a crash while writing) is cut off first.
    explicit GHTraceLog(quint32 id);
    // close(), then the logs are closed with their record counts.
    ~GHTraceLog() override;

    // Marks the row running again and closes the statistics files.
    void close();
    // The id with location 1.
    GHId getId() const;

    // altitude NO_ALTITUDE repeats the last altitude given (0 before any). False without a GPS log, for a time
    // before the newest accepted one, or at position 0,0 (whose newer time still counts as accepted).
    bool writeLocation(quint32 time, GHLiveLocation* location, int altitude);
    // values: heart rate, cadence, wheel speed, temperature, power, barometer, (unused), pedometer, GPS speed.
    bool writeSensor(quint32 time, int values[9]);
    // The tag's upper 16 bits are its kind: 1 marks the row paused, 2 running again.
    bool writeEventTag(quint32 time, int tag);
    void updateStartTime(quint32 time);
    // Fills the row (replacing the "..." of a ride being recorded) from the record, which gets this ride's id.
    bool writeDbRecord(GHTraceLogRecord* record);
    bool writeWorkoutPlan(unsigned int workoutId);
    // Rewrites the "-STA.xml" file with the current statistics; the file stays open until close.
    bool writeStatistic(QVector<GHTripStatistic>* statistics);
    bool writeStatistic(FILE*& stream, const QString& path, QVector<GHTripStatistic>* statistics);
    // The "-WRK.xml" workout log, and in the current layout the "-ST2.xml" statistics; nothing without intervals.
    bool writeWorkout(GHWorkout* workout, QVector<GHIntervalLogData>* intervals, QVector<GHTripStatistic>* statistics);
    // Has no effect: records go to the file as they come, flushed every ten.
    void setBufferSize(int size);

    static const int NO_ALTITUDE = 2147483647;

    // Export flags of gpsTrackToGpx.
    static const int EXPORT_NEEDS_SENSOR_LOG = 2;
    static const int EXPORT_THIN = 4;
    // The file is packed and deleted by the caller: still written beside its place and renamed, but not flushed.
    static const int EXPORT_SCRATCH = 8;

    static bool hasStatistic(quint32 id);
    static bool readStatistic(quint32 id, GHStatisticReader* reader);
    // A shared route of the route folder of the id's location, or null; the caller owns it.
    static GHTrackDP* getRouteDP(GHId id);
    // The ride read with its row and logs, or null; the caller owns it. Without skipCheck a missing GPS log gives
    // null, and a long log is thinned.
    static GHTrackDP* getTrackDP(GHId id, bool skipCheck);
    // Writes the ride as "<yyyyMMddhhmmss>.gpx" (its id as UTC) into the output home, or the trace-log folder
    // without one, and returns the path; empty on any failure. uploaded receives the row's Uploaded flag. With
    // EXPORT_NEEDS_SENSOR_LOG a ride without a sensor log is refused; without it such a ride is exported with its
    // track only. EXPORT_THIN thins a long track. workout, when given, receives the workout that the exported
    // workout log names (none without one).
    static QString gpsTrackToGpx(GHId id, bool& uploaded, int flags, std::optional<quint32>* workout = nullptr);
    // The wid that the first "wrklog" element of a workout log names; false when it names none (no such element, or
    // an "id" that is absent or not a number; idText then receives the id as written).
    static bool workoutOfLog(QXmlStreamReader& reader, quint32& wid, QString* idText = nullptr);

    // Creates the folder, with its missing parents, when it does not exist.
    static void setHomeDir(const QString& folder);
    static QString getHomeDir();

    // The connected device's model name; "Zelto50" until a device sets it.
    static void setModelName(const QString& modelName);
    static QString getModelName();

    static void setSystemVersion(const QString& version);
    static QString getSystemVersion();

    static void setUserProfile(const QString& path);
    static QString getUserProfile();

    // The old data layout is in force for a system version that does not begin "GH2" (case matters).
    static bool deprecated();

    // The trace-log folder followed by "/<id>-GPS.dat" and so on.
    static QString getTraceLogGPS(quint32 id);
    static QString getTraceLogTRN(quint32 id);
    static QString getTraceLogUSR(quint32 id);
    static QString getTraceLogPLN(quint32 id);
    static QString getTraceLogSTA(quint32 id);
    static QString getTraceLogWRK(quint32 id);
    static QString getTraceLogST2(quint32 id);
    static QString getTraceLogDBG(quint32 id);

private:
    void createNew();
    void continueLog(quint32 id);
    // Opens an existing log for appending after its last whole record; a partial one is cut off.
    FILE* reopenLog(const QString& path, int recordSize, quint32& count, quint32* lastTime);
    // Whether an id is free: no TraceLog row and no GPS or sensor log has it.
    static bool idIsFree(quint32 id);

    FILE* m_statistic2;
    quint32 m_id;
    FILE* m_statistic;
    quint32 m_lastTime;
    qint32 m_lastAltitude;

    static QString ms_traceLogHome;
    static QString ms_userProfile;
    static QString ms_modelName;
};

#endif
