#ifndef JXPSFROUTEFRAME_H
#define JXPSFROUTEFRAME_H

#include <QByteArray>
#include <QPointer>
#include <QVector>

#include "psf/gen1/jxpsffield.h"
#include "psf/gen1/jxpsfview.h"

class JXPSFRouteFrame;
class JXPSFSensorLogFrame;
class JXPSFTrack;
class JXPSFTrackFrame;

// Head of the route frame, 24 bytes: route table offset, lap table offset (u32, from the frame start), route count
// (u16, erased = 0), 14 bytes of filler.
class JXPSFRouteHeader : public JXPSFField
{
    Q_OBJECT

public:
    static const int HeaderSize = 24;

    JXPSFRouteHeader(QByteArray* raw, JXPSFField* parent);
    explicit JXPSFRouteHeader(const JXPSFView& area, JXPSFField* parent = nullptr);

    unsigned int getRteTblOffset() const { return m_rteTblOffset; }
    void setRteTblOffset(unsigned int offset) { m_rteTblOffset = offset; }
    unsigned int getLapTblOffset() const { return m_lapTblOffset; }
    void setLapTblOffset(unsigned int offset) { m_lapTblOffset = offset; }
    unsigned short getRouteCount() const { return m_routeCount; }
    void setRouteCount(unsigned short count) { m_routeCount = count; }

    QByteArray commit() override;

private:
    unsigned int m_rteTblOffset = 0xFFFFFFFFu;
    unsigned int m_lapTblOffset = 0xFFFFFFFFu;
    unsigned short m_routeCount = 0;
};

// One lap, or a route's summary, 32 bytes: start and end time, distance, speeds (1/8 m/s), heart rates, cadences,
// powers, altitude gain and loss, calories, riding time.
class JXPSFLap : public JXPSFField
{
    Q_OBJECT

public:
    static const int RecordSize = 32;
    static const int TableEntries = 2048;

    JXPSFLap(QByteArray* record, JXPSFField* parent);
    explicit JXPSFLap(const JXPSFView& record, JXPSFField* parent = nullptr);

    unsigned int getStartTime() const { return m_startTime; }
    unsigned int getEndTime() const { return m_endTime; }
    unsigned int getDistance() const { return m_distance; }
    unsigned char getAvgSpeed() const { return m_avgSpeed; }
    unsigned char getMaxSpeed() const { return m_maxSpeed; }
    unsigned char getAvgHeartRate() const { return m_avgHeartRate; }
    unsigned char getMaxHeartRate() const { return m_maxHeartRate; }
    unsigned char getAvgCadence() const { return m_avgCadence; }
    unsigned char getMaxCadence() const { return m_maxCadence; }
    unsigned short getAvgPower() const { return m_avgPower; }
    unsigned short getMaxPower() const { return m_maxPower; }
    unsigned short getAltGain() const { return m_altGain; }
    unsigned short getAltLoss() const { return m_altLoss; }
    unsigned short getCalories() const { return m_calories; }
    unsigned int getRidingTime() const { return m_ridingTime; }

private:
    unsigned int m_startTime = 0;
    unsigned int m_endTime = 0;
    unsigned int m_distance = 0;
    unsigned char m_avgSpeed = 0;
    unsigned char m_maxSpeed = 0;
    unsigned char m_avgHeartRate = 0;
    unsigned char m_maxHeartRate = 0;
    unsigned char m_avgCadence = 0;
    unsigned char m_maxCadence = 0;
    unsigned short m_avgPower = 0;
    unsigned short m_maxPower = 0;
    unsigned short m_altGain = 0;
    unsigned short m_altLoss = 0;
    unsigned short m_calories = 0;
    unsigned int m_ridingTime = 0;
};

// A planned route or a recorded ride ("track"), 156 bytes: start time, 128 name bytes, flags (bit 0 recorded,
// bit 1 bitmap name, bits 2-3 a two-bit value, bit 3 also the uploaded mark), activity type and sub-type nibbles,
// a metadata value x 100 (u16), first-segment offset, summary-lap offset, first-lap offset, lap count. Owns its
// segments.
class JXPSFRoute : public JXPSFField
{
    Q_OBJECT

public:
    static const int RecordSize = 156;
    static const int NameSize = 128;

    explicit JXPSFRoute(JXPSFField* parent);
    JXPSFRoute(QByteArray* record, JXPSFField* parent);
    explicit JXPSFRoute(const JXPSFView& record, JXPSFField* parent = nullptr);
    ~JXPSFRoute() override;

    void loadTrack(JXPSFTrackFrame* tracks, JXPSFSensorLogFrame* logs);
    QVector<QPointer<JXPSFTrack>> getTracks() const { return m_tracks; }
    QVector<QPointer<JXPSFTrack>>* getTrackList() { return &m_tracks; }

    // The uploaded mark is not written on its own here; the root's write-back carries it.
    QByteArray commit() override;

    JXPSFLap* getSummary(JXPSFRouteFrame* frame) const;
    static unsigned int getEndTime(JXPSFRoute* route);
    static unsigned int getDistance(JXPSFRoute* route);
    static void getStartEndPoint(JXPSFRoute* route, unsigned int& startLat, unsigned int& startLon,
                                 unsigned int& endLat, unsigned int& endLon);

    unsigned int getStartTime() const { return m_startTime; }
    void setStartTime(unsigned int time) { m_startTime = time; }
    QByteArray getName() const { return m_name; }
    void setName(QByteArray name) { m_name = name; }
    bool getTrackFlag() const { return m_trackFlag; }
    void setTrackFlag(bool flag) { m_trackFlag = flag; }
    bool getNameType() const { return m_nameType; }
    void setNameType(bool bitmap) { m_nameType = bitmap; }
    unsigned char getTwoBitValue() const { return m_twoBitValue; }
    void setTwoBitValue(unsigned char value) { m_twoBitValue = value & 0x03; }
    bool getUploaded() const { return m_uploaded; }
    void setUploaded(bool uploaded) { m_uploaded = uploaded; }
    unsigned char getActType() const { return m_actType; }
    void setActType(unsigned char type) { m_actType = type & 0x0F; }
    unsigned char getActSubType() const { return m_actSubType; }
    void setActSubType(unsigned char type) { m_actSubType = type & 0x0F; }
    unsigned short getMetaValue() const { return m_metaValue; }
    void setMetaValue(unsigned short value) { m_metaValue = value; }
    unsigned int getTrackOffset() const { return m_trackOffset; }
    void setTrackOffset(unsigned int offset) { m_trackOffset = offset; }
    unsigned int getSummaryOffset() const { return m_summaryOffset; }
    void setSummaryOffset(unsigned int offset) { m_summaryOffset = offset; }
    unsigned int getLapOffset() const { return m_lapOffset; }
    void setLapOffset(unsigned int offset) { m_lapOffset = offset; }
    unsigned char getLapCount() const { return m_lapCount; }
    void setLapCount(unsigned char count) { m_lapCount = count; }

private:
    void parse(const JXPSFView& record);

    unsigned int m_startTime = 0xFFFFFFFFu;
    QByteArray m_name;
    bool m_trackFlag = false;
    bool m_nameType = false;
    unsigned char m_twoBitValue = 0;
    bool m_uploaded = false;
    unsigned char m_actType = 0;
    unsigned char m_actSubType = 0;
    unsigned short m_metaValue = 0;
    unsigned int m_trackOffset = 0xFFFFFFFFu;
    unsigned int m_summaryOffset = 0xFFFFFFFFu;
    unsigned int m_lapOffset = 0xFFFFFFFFu;
    unsigned char m_lapCount = 0;
    QVector<QPointer<JXPSFTrack>> m_tracks;
};

// The route frame: header, route table, and a lap table of 2048 entries. Owns its header, routes and laps. The lap
// table's bytes are kept as loaded and its lap objects made when first asked for: listing a store needs a few of the
// 2048 at most.
class JXPSFRouteFrame : public JXPSFField
{
    Q_OBJECT

public:
    // raw holds the frame's bytes from its header to the end of the image; the route and lap tables are cut to
    // their areas.
    JXPSFRouteFrame(QByteArray* raw, JXPSFTrackFrame* tracks, JXPSFSensorLogFrame* logs, JXPSFField* parent,
                    const JXPSFTableArea& routeArea = JXPSFTableArea(),
                    const JXPSFTableArea& lapArea = JXPSFTableArea());
    ~JXPSFRouteFrame() override;

    void loadHeader(QByteArray* raw);
    void loadRoutes(QByteArray* table, JXPSFTrackFrame* tracks, JXPSFSensorLogFrame* logs);
    void loadLaps(QByteArray* table);

    JXPSFRouteHeader* getHeader() const { return m_header; }
    QVector<QPointer<JXPSFRoute>>* getRoutes() { return &m_routes; }
    QVector<QPointer<JXPSFLap>>* getLaps()
    {
        makeLaps();
        return &m_laps;
    }
    // getLaps()->at(index), or null outside it; makes no other lap.
    JXPSFLap* getLap(int index);

    QByteArray commit() override;

private:
    void loadRoutes(const JXPSFView& frame, JXPSFTrackFrame* tracks, JXPSFSensorLogFrame* logs);
    void loadLaps(const JXPSFView& frame);
    void makeLaps();

    QPointer<JXPSFRouteHeader> m_header;
    QVector<QPointer<JXPSFRoute>> m_routes;
    // The loaded lap records, back to back, until the lap objects are made; then empty.
    QByteArray m_lapRecords;
    JXPSFRecordStore<JXPSFLap> m_lapStore;
    QVector<QPointer<JXPSFLap>> m_laps;
};

#endif
