#ifndef JXPSF_H
#define JXPSF_H

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QString>
#include <QVector>

#include "psf/gen1/jxpsfdistheader.h"
#include "psf/gen1/jxpsffield.h"
#include "psf/gen1/jxpsfpoiframe.h"
#include "psf/gen1/jxpsfreader.h"
#include "psf/gen1/jxpsfrouteframe.h"
#include "psf/gen1/jxpsfsensorlogframe.h"
#include "psf/gen1/jxpsftrackframe.h"
#include "psf/gen1/jxpsfworkoutframe.h"

class GHGpx2;
class GHGpxRoutePoint;
class GHGpxTrackSegment;
class GHTrncrs;
class GHTrnInterval;

// The root of a first-generation image: owns the distribution header and the six frames, trims the frames to what
// the device's areas hold, and writes frames and the flash header's accounting back into the image (finalize).
// Made by JXPSFReader::getPSF; used on the calling client's worker thread.
class JXPSF : public JXPSFField
{
    Q_OBJECT

public:
    // flashHeader is the device's flash header record (at least 0x94 bytes; may be null), kept by the caller.
    JXPSF(QByteArray* image, void* flashHeader, QObject* parent);
    ~JXPSF() override;

    JXPSFDistHeader* getDistHeader() const { return m_distHeader; }
    JXPSFPOIFrame* getPOIFrame() const { return m_poiFrame; }
    JXPSFRouteFrame* getRouteFrame() const { return m_routeFrame; }
    JXPSFTrackFrame* getTrackFrame() const { return m_trackFrame; }
    JXPSFSensorLogFrame* getSensorLogFrame() const { return m_sensorLogFrame; }
    JXPSFWorkoutFrame* getWorkoutFrame() const { return m_workoutFrame; }
    JXPSFWorkoutLogFrame* getWorkoutLogFrame() const { return m_workoutLogFrame; }
    flash_header_def getFlashHeaderDef() const { return m_def; }
    bool getDontCheckUploaded() const { return m_dontCheckUploaded; }

    // 48 bytes of 0xFF, then the distribution header, POI, route, track and sensor-log frames.
    QByteArray commit() override;

    // The setters take ownership and delete the frame held before.
    virtual void setDistHeader(JXPSFDistHeader* header);
    virtual void setPOIFrame(JXPSFPOIFrame* frame);
    virtual void setRouteFrame(JXPSFRouteFrame* frame);
    virtual void setTrackFrame(JXPSFTrackFrame* frame);
    virtual void setSnesorLogFrame(JXPSFSensorLogFrame* frame);
    virtual void setWorkoutFrame(JXPSFWorkoutFrame* frame);
    virtual void setWorkoutLogFrame(JXPSFWorkoutLogFrame* frame);

    // Export into the current directory: one GPX file per recorded track not yet uploaded (with its sensor logs,
    // laps, workout log and plan), one ".wrk" training-course file per workout, one GPX file per POI. Each returns
    // the names of the files it wrote; a record whose file could not be written keeps its uploaded mark clear.
    // The device texts come from the daemon's connected client, and stay empty without one.
    virtual QList<QString> toXML();
    virtual QList<QString> trackToXML();
    virtual JXPSFLap* trackSummaryToXML(GHGpx2* gpx, QPointer<JXPSFRoute> route, int activityType);
    virtual bool trackLapsToXML(GHGpx2* gpx, QPointer<JXPSFRoute> route, int activityType);
    virtual bool workoutlogToXML(GHGpx2* gpx, unsigned int routeOffset);
    virtual void workoutPlanToXML(GHGpx2* gpx);
    virtual QList<QString> workoutToXML();
    virtual QList<QString> poiToXML();
    // Import: a version-2 GPX file that reads to its end becomes one POI (share type "0") or one planned route (true
    // when it was added); a training-course file becomes workouts, as many as were read whole.
    virtual bool fromGPX(QString path);
    virtual bool TrnFromGPX(QString path);

    // The first workout, in frame order, with a log of the route at routeOffset (its index x 156), and that log.
    QPointer<JXPSFWorkout> getWorkoutByRoute(unsigned int routeOffset);
    QPointer<JXPSFWorkoutLog> getWorkoutLogByRoute(unsigned int routeOffset);

    virtual void setDontCheckUploaded(bool dontCheck);

    // Writes routes with their tracks, workouts with their intervals and POIs back into image at their frames'
    // offsets, and the accounting into the flash header block. Every record goes inside its area of the flash
    // definition: when a frame or table of the image lies outside it, nothing is written and the result is false.
    // A record its area cannot hold is left out with the ones after it, the counts written are those of the records
    // written, and the result is false (logged); a caller then writes nothing to the device.
    virtual bool finalize(QByteArray& image);
    virtual bool finalizeRouteFrame(QByteArray& image);
    virtual bool finalizeTrackFrame(QByteArray& image);
    virtual bool finalizeWorkoutFrame(QByteArray& image);
    virtual bool finalizePOIFrame(QByteArray& image);
    // Writes the route's segments from position + the tail offset; returns the route's track offset.
    virtual unsigned int finalizeTrack(QByteArray& image, unsigned int position, JXPSFRoute* route);
    virtual void initFlashHeader(void* flashHeader);

    // Indices refer to the lists before the call; indices out of range are ignored.
    virtual bool deletePOIs(QVector<int> indices);
    virtual bool deleteRoutes(QVector<int> indices);
    virtual bool deleteTracks(QVector<int> indices);
    virtual bool deleteWorkouts(QVector<int> indices);

    // A route is refused when a segment would hold more points than a segment head can count, or when its
    // segments alone would not fit the track area of the definition (set it first).
    virtual bool addRoute(GHGpx2* gpx);
    virtual bool addWorkout(GHTrncrs* course);
    virtual bool addPOI(GHGpx2* gpx);
    virtual bool addWorkoutInterval(GHTrnInterval* interval, JXPSFWorkout* workout);

    virtual bool canBitfont();
    virtual void setSupportBitfont(bool support);

    // Drop what the device's areas cannot hold; true when anything was dropped.
    virtual bool removeOverSizeRoutes();
    virtual bool removeOverSizePois();
    virtual bool removeOverWorkouts();

    virtual void setFlashHeaderDef(flash_header_def def);

    // Refuses a segment whose steps do not fit the point record (addRoute splits them first).
    virtual bool addTrackSegment(GHGpxTrackSegment* segment, JXPSFRoute* route, GHGpxRoutePoint* start,
                                 GHGpxRoutePoint* end);

    // Set by the drivers from the profile; read by the export.
    float m_userHeight = 180.0f;
    float m_userWeight = 65.0f;
    int m_userMHR = 190;
    int m_userMLSS = 180;
    int m_userSex = 1;
    int m_userAge = 0;

private:
    // Image positions [begin, end) of an area of the definition.
    struct Span
    {
        qint64 begin = 0;
        qint64 end = 0;
        bool holds(qint64 pos, qint64 length) const
        {
            return pos >= begin && length >= 0 && pos <= end && length <= end - pos;
        }
    };

    unsigned int word(int index) const { return m_def.words[index]; }
    Span span(int startWord, qint64 size) const;
    Span between(int startWord, int endWord) const;
    Span poiSpan() const;
    Span routeSpan() const;
    Span trackSpan() const;
    Span workoutSpan() const;
    Span intervalSpan() const;
    // Image positions of a frame's head and tables; false (logged) when they lie outside their areas.
    bool placeRouteFrame(qint64& frame, qint64& table, qint64& segments) const;
    bool placeWorkoutFrame(qint64& frame, qint64& table, qint64& intervals) const;
    bool placePOIFrame(qint64& frame, qint64& table) const;

    QPointer<JXPSFDistHeader> m_distHeader;
    QPointer<JXPSFPOIFrame> m_poiFrame;
    QPointer<JXPSFRouteFrame> m_routeFrame;
    QPointer<JXPSFTrackFrame> m_trackFrame;
    QPointer<JXPSFSensorLogFrame> m_sensorLogFrame;
    QPointer<JXPSFWorkoutFrame> m_workoutFrame;
    QPointer<JXPSFWorkoutLogFrame> m_workoutLogFrame;
    void* m_flashHeader = nullptr;
    bool m_supportBitfont = false;
    bool m_dontCheckUploaded = false;
    flash_header_def m_def = {};
};

#endif
