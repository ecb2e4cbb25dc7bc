#ifndef JXPSFROUTE_1_5_H
#define JXPSFROUTE_1_5_H

#include <QVector>

#include "psf/jxpsfarea.h"
#include "psf/jxpsfnamedobject.h"

class JXPSFLap_1_5;
class JXPSFSensorLog_1_5;
class JXPSFTrackSeg_1_5;
class JXPSFUserInfoLog_1_5;
class JXPSFWorkoutLog_1_5;

// One planned route (type 0) or recorded track (type 1), followed by its names. Owns its laps, summary lap, track
// segments, sensor logs and user-info snapshot; the workout log belongs to its frame.
//
// Record (36 bytes): u32 start time; u8 flags (bit 0 route type, bit 1 bitmap names, bits 2-3 bike ID, bit 3 also
// uploaded, bit 4 stopwatch); u8 activity (bits 0-3 type, 4-7 sub-type); u16 weight; u32 track offset (from the
// segment list start); u32 summary offset and u32 lap offset (from the lap table start); u32 user-info offset (from
// the user-info table start); u8 lap count (0xFF: none); u8 pool length; u16 reserve; u32 next (from the route
// table start); u32 name offset (from the record start). Offsets of 0xFFFFFFFF are absent.
class JXPSFRoute_1_5 : public JXPSFNamedObject
{
public:
    static const unsigned int HeadSize = 36;

    // With a null lap table the record is initialised as a new one. Otherwise its laps and summary are loaded from
    // the lap table (those outside it are absent), within lapBudget when there is one, and its names up to end, the
    // route table end.
    JXPSFRoute_1_5(char* record, const JXPSFArea* lapTable, const char* end,
                   std::shared_ptr<JXPSFLoadBudget> lapBudget = nullptr);
    ~JXPSFRoute_1_5() override;

    // False when the name chain ran past the route table end.
    bool isComplete() const { return m_complete; }

    unsigned int getStartTime() const;
    void setStartTime(unsigned int time);
    unsigned char getRouteType() const;
    void setRouteType(unsigned char type);
    unsigned char getBikeID() const;
    void setBikeID(unsigned char bikeID);
    // The device keeps this in the high bit of the bike ID.
    bool isUploaded() const;
    void setUploaded(bool uploaded);
    bool isStopWatch() const;
    unsigned char getActType() const;
    void setActType(unsigned char type);
    unsigned char getSubActType() const;
    void setSubActType(unsigned char type);
    unsigned short getWeight() const;
    void setWeight(unsigned short weight);
    unsigned int getTrkOffset() const;
    void setTrkOffset(unsigned int offset);
    bool hasTrack() const;
    unsigned int getSumOffset() const;
    void setSumOffset(unsigned int offset);
    unsigned int getLapOffset() const;
    void setLapOffset(unsigned int offset);
    unsigned int getUsrInfoOffset() const;
    void setUsrInfoOffset(unsigned int offset);
    unsigned char getLapCount() const;
    unsigned char getPoolLen() const;
    void setPoolLen(unsigned char length);
    unsigned short getReserve() const;
    void setReserve(unsigned short reserve);
    unsigned int getNextOffset() const;
    void setNextOffset(unsigned int offset);

    unsigned int getBytesCount() override;
    bool isBitFont() override;
    void setBitFont(bool bitFont) override;
    unsigned int getNameOffset() override;
    void setNameOffset(unsigned int offset) override;

    QVector<JXPSFLap_1_5*>& getLaps() { return m_laps; }
    JXPSFLap_1_5* getSummary() const { return m_summary; }
    // Replaces the lap and summary views with those at the record's offsets in the lap table, as far as the lap
    // budget allows.
    void loadLaps(const JXPSFArea& lapTable);

    QVector<JXPSFTrackSeg_1_5*>& getTrack() { return m_track; }
    void addTrack(JXPSFTrackSeg_1_5* segment);
    // Deletes the segments held, then takes these.
    void setTrack(QVector<JXPSFTrackSeg_1_5*>& track);

    QVector<JXPSFSensorLog_1_5*>& getSensorLog() { return m_sensorLogs; }
    // Takes these without deleting the logs held.
    void setSensorLog(QVector<JXPSFSensorLog_1_5*>& logs);
    // What the segments and the sensor logs held took from their tables' budgets; their frames fill these.
    JXPSFLoadShare& trackShare() { return m_trackShare; }
    JXPSFLoadShare& sensorLogShare() { return m_sensorLogShare; }

    JXPSFUserInfoLog_1_5* getUserInfoLog() const { return m_userInfo; }
    void setUserInfoLog(JXPSFUserInfoLog_1_5* log);
    JXPSFWorkoutLog_1_5* getWorkoutLog() const { return m_workoutLog; }
    void setWorkoutLog(JXPSFWorkoutLog_1_5* log) { m_workoutLog = log; }

private:
    void initialise();
    void deleteLaps();

    QVector<JXPSFTrackSeg_1_5*> m_track;
    QVector<JXPSFSensorLog_1_5*> m_sensorLogs;
    QVector<JXPSFLap_1_5*> m_laps;
    JXPSFLap_1_5* m_summary = nullptr;
    JXPSFUserInfoLog_1_5* m_userInfo = nullptr;
    JXPSFWorkoutLog_1_5* m_workoutLog = nullptr;
    bool m_complete = true;
    JXPSFLoadShare m_lapShare;
    JXPSFLoadShare m_trackShare;
    JXPSFLoadShare m_sensorLogShare;
};

#endif
