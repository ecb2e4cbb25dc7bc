#include "util/ghtracelog.h"

#include <QDir>

#include "util/ghbinarylogger.h"

QString GHBinaryLogger::ms_systemVersion = QStringLiteral("0.0.0.0");

QString GHTraceLog::ms_traceLogHome;
QString GHTraceLog::ms_userProfile = QStringLiteral("UserProfile.xml");
QString GHTraceLog::ms_modelName = QStringLiteral("Zelto50");

namespace {

// "/<id><suffix>" under the folder; built without a format text, as listings ask for one per ride.
QString perIdPath(const char* suffix, quint32 id)
{
    return GHTraceLog::getHomeDir() + QLatin1Char('/') + QString::number(id) + QLatin1String(suffix);
}

} // namespace

GHTraceLogRecord::GHTraceLogRecord()
    : totalLength(0), id(0), elevation(0), startLon(0), startLat(0), endLon(0), endLat(0), lowerLeftLat(0),
      lowerLeftLon(0), upperRightLon(0), upperRightLat(0), maxElevation(0), minElevation(0), startTime(0), endTime(0),
      activityType(0), routeType(0)
{
}

GHTraceLogRecord::~GHTraceLogRecord() = default;

void GHTraceLog::setHomeDir(const QString& folder)
{
    ms_traceLogHome = folder;
    if (!folder.isEmpty() && !QDir(folder).exists())
        QDir().mkpath(folder);
}

QString GHTraceLog::getHomeDir()
{
    return ms_traceLogHome;
}

void GHTraceLog::setModelName(const QString& modelName)
{
    ms_modelName = modelName;
}

QString GHTraceLog::getModelName()
{
    return ms_modelName;
}

void GHTraceLog::setSystemVersion(const QString& version)
{
    GHBinaryLogger::ms_systemVersion = version;
}

QString GHTraceLog::getSystemVersion()
{
    return GHBinaryLogger::ms_systemVersion;
}

void GHTraceLog::setUserProfile(const QString& path)
{
    ms_userProfile = path;
}

QString GHTraceLog::getUserProfile()
{
    return ms_userProfile;
}

bool GHTraceLog::deprecated()
{
    return !GHBinaryLogger::ms_systemVersion.startsWith(QLatin1String("GH2"), Qt::CaseSensitive);
}

QString GHTraceLog::getTraceLogGPS(quint32 id)
{
    return perIdPath("-GPS.dat", id);
}

QString GHTraceLog::getTraceLogTRN(quint32 id)
{
    return perIdPath("-TRN.dat", id);
}

QString GHTraceLog::getTraceLogUSR(quint32 id)
{
    return perIdPath("-USR.xml", id);
}

QString GHTraceLog::getTraceLogPLN(quint32 id)
{
    return perIdPath("-PLN.xml", id);
}

QString GHTraceLog::getTraceLogSTA(quint32 id)
{
    return perIdPath("-STA.xml", id);
}

QString GHTraceLog::getTraceLogWRK(quint32 id)
{
    return perIdPath("-WRK.xml", id);
}

QString GHTraceLog::getTraceLogST2(quint32 id)
{
    return perIdPath("-ST2.xml", id);
}

QString GHTraceLog::getTraceLogDBG(quint32 id)
{
    return perIdPath("-DBG.log", id);
}
