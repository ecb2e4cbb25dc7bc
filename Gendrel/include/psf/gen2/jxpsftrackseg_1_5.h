#ifndef JXPSFTRACKSEG_1_5_H
#define JXPSFTRACKSEG_1_5_H

#include <QVector>

#include <deque>
#include <memory>

#include "psf/gen2/jxpsftrackpoint_1_5.h"
#include "psf/jxpsfobject.h"
#include "psf/jxpsfvalue.h"

class JXExtFlashInfo_2M;
class JXPSFSensorLog_1_5;

// One track segment: a 40-byte head followed by its points. Owns the point views, made when first asked for (the
// iterator reads the bytes without them); its sensor log belongs to the route.
//
// Head: u32 start time; i32 start longitude, start latitude, end longitude, end latitude; i16 start and end
// altitude (altitude code); u8 flags (bit 1 start waypoint, 2 end waypoint, 3 interval start, 4 interval end, 5-6
// time type); u8 time interval; u8 (bits 0-2 break type, 4-7 activity type); 1 byte not used; u32 next (from the
// segment list start); u32 point count (all 0xFF: none); u32 sensor-log offset (from the sensor-log table start).
class JXPSFTrackSeg_1_5 : public JXPSFObject
{
public:
    static const unsigned int HeadSize = 40;
    // More points are taken for a damaged count.
    static const unsigned int MostPoints = 0xFFFD;

    // With create the head is initialised for a new segment; otherwise the points are loaded. end is the end of the
    // segment list: points that would cross it are not loaded and the segment is not complete.
    JXPSFTrackSeg_1_5(char* head, bool create, const char* end);
    ~JXPSFTrackSeg_1_5() override;

    JXPSFTrackSeg_1_5(const JXPSFTrackSeg_1_5&) = delete;
    JXPSFTrackSeg_1_5& operator=(const JXPSFTrackSeg_1_5&) = delete;

    bool isComplete() const { return m_complete; }

    unsigned int getTime() const;
    void setTime(unsigned int time);
    int getStartLon() const;
    void setStartLon(int lon);
    int getStartLat() const;
    void setStartLat(int lat);
    int getEndLon() const;
    void setEndLon(int lon);
    int getEndLat() const;
    void setEndLat(int lat);
    JXPSFAlt getStartAlt() const;
    void setStartAlt(short raw);
    JXPSFAlt getEndAlt() const;
    void setEndAlt(short raw);
    bool isSWpt() const;
    void setSWpt(bool waypoint);
    bool isEWpt() const;
    void setEWpt(bool waypoint);
    bool isItvStart() const;
    void setItvStart(bool start);
    bool isItvEnd() const;
    void setItvEnd(bool end);
    unsigned char getTimeType() const;
    void setTimeType(unsigned char type);
    unsigned char getTimeInterval() const;
    void setTimeInterval(unsigned char interval);
    unsigned char getBreakType() const;
    void setBreakType(unsigned char type);
    unsigned char getActType() const;
    void setActType(unsigned char type);
    unsigned int getNext() const;
    void setNext(unsigned int next);
    unsigned int getPntCount() const;
    void setPntCount(unsigned int count);
    unsigned int getSsrLogOffset() const;
    void setSsrLogOffset(unsigned int offset);

    QVector<JXPSFTrackPoint_1_5*>& getTrackPoints();
    // The points loaded and created, without making their views.
    int getLoadedPointCount() const { return m_count; }
    // Null, writing nothing, when a 6-byte point fits neither in the track room left nor before the list end.
    JXPSFTrackPoint_1_5* createTrackPoint(JXExtFlashInfo_2M* info);
    JXPSFTrackPointIter getPointIterator();

    void setSensorLogSeg(JXPSFSensorLog_1_5* log) { m_sensorLog = log; }
    JXPSFSensorLog_1_5* getSensorLogSeg() const { return m_sensorLog; }

    // The head and the points, back to back.
    unsigned int getBytesCount() override;

    // Views the same bytes at their new place after the list was packed; the sensor-log link is cleared.
    void moveTo(char* head, const char* end);

private:
    void initialise();
    void loadPoints();
    void makeViews();

    // m_count points lie back to back after the head, the last at m_lastOffset from it. Their views live by value
    // in a deque, which moves none of them when it grows, so that m_points and what createTrackPoint handed out stay
    // valid. The deque is made with the first view: an empty one already allocates, and most segments never get
    // views.
    int m_count = 0;
    unsigned int m_lastOffset = 0;
    std::unique_ptr<std::deque<JXPSFTrackPoint_1_5>> m_views;
    QVector<JXPSFTrackPoint_1_5*> m_points;
    bool m_viewsMade = false;
    JXPSFSensorLog_1_5* m_sensorLog = nullptr;
    const char* m_end;
    bool m_complete = true;
};

#endif
