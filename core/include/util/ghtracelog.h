#ifndef GHTRACELOG_H
#define GHTRACELOG_H

#include <QString>

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

// Process-wide settings of the ride-log layer and the names of a ride's files. Plain statics without a lock: device
// code sets them on one thread before it works on that device's data.
class GHTraceLog
{
public:
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
    static QString ms_traceLogHome;
    static QString ms_userProfile;
    static QString ms_modelName;
};

#endif
