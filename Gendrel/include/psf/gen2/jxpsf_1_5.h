#ifndef JXPSF_1_5_H
#define JXPSF_1_5_H

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

#include "profile/jxprofilereaderpsf.h"
#include "psf/jxpsfarea.h"

class JXExtFlashInfo_2M;
class JXPSFDistHeader_1_5;
class JXPSFInterval_1_5;
class JXPSFManagementHeaderRecord_1_5;
class JXPSFPOIFrame_1_5;
class JXPSFPOI_1_5;
class JXPSFRouteFrame_1_5;
class JXPSFRoute_1_5;
class JXPSFSensorLogFrame_1_5;
class JXPSFSensorLog_1_5;
class JXPSFStore;
class JXPSFTrackFrame_1_5;
class JXPSFTrackSeg_1_5;
class JXPSFUserInfoLogFrame_1_5;
class JXPSFUserInfoLog_1_5;
class JXPSFWorkoutFrame_1_5;
class JXPSFWorkoutLogFrame_1_5;
class JXPSFWorkoutLog_1_5;
class JXPSFWorkout_1_5;

// The second-generation data store of one flash image, as the driver sees it: the distribution header and one
// frame per area, each built when first asked for and only after its area was read from the device. Works on the
// driver's worker thread only.
//
// An image that cannot be opened leaves the root empty for its whole life: every getter gives null, every
// operation false or null. A failed area load is not remembered, so the next request asks the store again. A
// frame whose head would not lie inside its layout area is not built.
class JXPSF_1_5
{
public:
    explicit JXPSF_1_5(JXPSFStore* store);
    ~JXPSF_1_5();

    JXPSF_1_5(const JXPSF_1_5&) = delete;
    JXPSF_1_5& operator=(const JXPSF_1_5&) = delete;

    JXPSFDistHeader_1_5* getDistHeader() const { return m_distHeader; }
    JXPSFPOIFrame_1_5* getPOIFrame();
    JXPSFRouteFrame_1_5* getRouteFrame();
    JXPSFTrackFrame_1_5* getTrackFrame();
    JXPSFSensorLogFrame_1_5* getSensorLogFrame();
    JXPSFWorkoutFrame_1_5* getWorkoutFrame();
    // Needs the workout and route frames, whose records the logs are attached to.
    JXPSFWorkoutLogFrame_1_5* getWorkoutLogFrame();
    JXPSFUserInfoLogFrame_1_5* getUserInfoFrame();

    // The four version bytes of the data store; writes nothing when the image is not open.
    void getVersion(unsigned char* out);

    bool getAllRoutes(QVector<JXPSFRoute_1_5*>& out);
    // Appends the routes of that type (0 planned, 1 recorded); out is not cleared.
    bool getRoutes(unsigned char type, QVector<JXPSFRoute_1_5*>& out);
    bool getTrackOfRoute(JXPSFRoute_1_5* route, QVector<JXPSFTrackSeg_1_5*>& out);
    bool getSensorLogOfRoute(JXPSFRoute_1_5* route, QVector<JXPSFSensorLog_1_5*>& out);
    bool getWorkoutLogOfRoute(JXPSFRoute_1_5* route, JXPSFWorkoutLog_1_5** out);
    bool getUserInfoLogOfRoute(JXPSFRoute_1_5* route, JXPSFUserInfoLog_1_5** out);
    bool getWorkouts(QVector<JXPSFWorkout_1_5*>& out);

    // Each gives the new record, owned by its frame or route, or null when its frame cannot be had or the record
    // does not fit.
    JXPSFRoute_1_5* createRoute(QStringList names, QStringList codes, bool bitFont);
    // Appends an empty segment to a route of this root's route frame, after the last segment of the routes up to
    // it; a stored route's own segments are loaded first.
    JXPSFTrackSeg_1_5* createTrackSeg(JXPSFRoute_1_5* route);
    JXPSFPOI_1_5* createPOI();
    JXPSFWorkout_1_5* createWorkout(QStringList names, QStringList nameCodes, QStringList descriptions,
                                    QStringList descriptionCodes, bool bitFont);
    JXPSFInterval_1_5* createWorkoutInterval(JXPSFWorkout_1_5* workout);

    // Each is false, changing nothing, when a frame it needs cannot be had.
    bool deleteAllPOIs();
    // Every route and recorded track with their logs; no workout names a log afterwards.
    bool deleteAllRoutes();
    // The routes of one type; the others are packed. Deleting recorded tracks also empties the log tables.
    bool deleteAllRoutes(unsigned char type);
    bool deleteAllWorkouts();

    // The user profile as a key/value map; the converted page is kept until the next setProfile.
    bool getProfile(QMap<QString, QString>& map);
    bool setProfile(QMap<QString, QString>& map);
    void convertKeyValue(QByteArray& key, QByteArray& value, int format);
    // The last parameter is not used.
    bool KeyValueToRaw(QString key, QString value, QByteArray& raw, bool append,
                       JXProfileReaderPSF_2_0_0::profle_2_fmt format = JXProfileReaderPSF_2_0_0::FMT_UINT8);

private:
    const char* imageEnd() const;
    char* frameStart(unsigned int managementOffset, JXPSFTable area, unsigned int headSize);
    using ManagementRecord = JXPSFManagementHeaderRecord_1_5* (JXPSFDistHeader_1_5::*)() const;
    // A frame is made on first use, once its area is loaded and its head lies inside the area.
    template <typename Frame>
    Frame* lazyFrame(Frame*& frame, bool (JXPSFStore::*load)(), ManagementRecord record, JXPSFTable area,
                     unsigned int headSize);
    bool routeSegments(JXPSFTrackFrame_1_5* tracks, JXPSFRoute_1_5* route, QVector<JXPSFTrackSeg_1_5*>& out);
    void reattachWorkoutLogs(const QVector<JXPSFWorkoutLog_1_5*>& logs);

    JXPSFDistHeader_1_5* m_distHeader = nullptr;
    JXPSFPOIFrame_1_5* m_poiFrame = nullptr;
    JXPSFRouteFrame_1_5* m_routeFrame = nullptr;
    JXPSFTrackFrame_1_5* m_trackFrame = nullptr;
    JXPSFSensorLogFrame_1_5* m_sensorLogFrame = nullptr;
    JXPSFWorkoutFrame_1_5* m_workoutFrame = nullptr;
    JXPSFWorkoutLogFrame_1_5* m_workoutLogFrame = nullptr;
    JXPSFUserInfoLogFrame_1_5* m_userInfoFrame = nullptr;
    JXPSFStore* m_store;
    char* m_base = nullptr;
    // Filled by the first getProfile, emptied by setProfile.
    QMap<QString, QString> m_profileCache;
};

#endif
