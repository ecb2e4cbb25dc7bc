#ifndef JXPSFTRACKFRAME_H
#define JXPSFTRACKFRAME_H

#include <QByteArray>
#include <QPointer>
#include <QVector>

#include "psf/gen1/jxpsffield.h"
#include "psf/gen1/jxpsfview.h"

class JXPSFSensorLog;
class JXPSFSensorLogFrame;

// A point of a recorded ride, 6 bytes: longitude and latitude deltas (i16, millionths of a degree), altitude delta
// (i8, tenths of a metre), time delta (u8, in the segment's time unit).
class JXPSFTrackPoint : public JXPSFField
{
    Q_OBJECT

public:
    static const int RecordSize = 6;

    JXPSFTrackPoint(QByteArray* record, JXPSFField* parent);
    explicit JXPSFTrackPoint(const JXPSFView& record, JXPSFField* parent = nullptr);

    short getLngDelta() const { return m_lngDelta; }
    short getLatDelta() const { return m_latDelta; }
    signed char getAltDelta() const { return m_altDelta; }
    unsigned char getTimeDelta() const { return m_timeDelta; }

    unsigned int finalize(QByteArray& out, unsigned int pos);

private:
    short m_lngDelta = 0;
    short m_latDelta = 0;
    signed char m_altDelta = 0;
    unsigned char m_timeDelta = 0;
};

// A point of a planned route, 6 bytes: the three deltas of a track point, then three flags in bits 0-2.
class JXPSFRoutePoint : public JXPSFField
{
    Q_OBJECT

public:
    static const int RecordSize = 6;

    explicit JXPSFRoutePoint(JXPSFField* parent);
    JXPSFRoutePoint(QByteArray* record, JXPSFField* parent);
    explicit JXPSFRoutePoint(const JXPSFView& record, JXPSFField* parent = nullptr);

    short getLngDelta() const { return m_lngDelta; }
    void setLngDelta(short delta) { m_lngDelta = delta; }
    short getLatDelta() const { return m_latDelta; }
    void setLatDelta(short delta) { m_latDelta = delta; }
    signed char getAltDelta() const { return m_altDelta; }
    void setAltDelta(signed char delta) { m_altDelta = delta; }
    bool getFlag1() const { return m_flag1; }
    void setFlag1(bool flag) { m_flag1 = flag; }
    bool getFlag2() const { return m_flag2; }
    void setFlag2(bool flag) { m_flag2 = flag; }
    bool getFlag3() const { return m_flag3; }
    void setFlag3(bool flag) { m_flag3 = flag; }

    unsigned int finalize(QByteArray& out, unsigned int pos);

private:
    short m_lngDelta = 0;
    short m_latDelta = 0;
    signed char m_altDelta = 0;
    bool m_flag1 = false;
    bool m_flag2 = false;
    bool m_flag3 = false;
};

// One track segment: a 40-byte head (start time, start and end longitude and latitude, start and end altitude,
// flags, time unit, next-segment offset, point count, sensor-log offset) then 6-byte delta points. Owns its points
// and, for a recorded ride, its sensor logs. A loaded segment keeps its points' bytes and makes the point objects
// only when getTrackPoints() or getRoutePoints() is first called: listing a store reads every segment and needs
// only their deltas.
class JXPSFTrack : public JXPSFField
{
    Q_OBJECT

public:
    static const int HeadSize = 40;

    explicit JXPSFTrack(JXPSFField* parent);
    JXPSFTrack(QByteArray* segment, int isTrack, JXPSFSensorLogFrame* logs, JXPSFField* parent);
    // Reads at most maxPoints points, and only those that fit in segment.
    JXPSFTrack(const JXPSFView& segment, int isTrack, JXPSFSensorLogFrame* logs, qint64 maxPoints,
               JXPSFField* parent = nullptr);
    ~JXPSFTrack() override;

    void loadSensorLog(JXPSFSensorLogFrame* logs);

    // Writes the segment at pos and returns the position after it; when it would not fit in out, writes nothing
    // and returns pos. The point count written is the number of points written.
    unsigned int finalize(QByteArray& out, unsigned int pos, bool hasNext, bool isTrack);
    // Bytes the segment takes when written.
    qint64 writtenSize(bool isTrack) const;

    unsigned int getStartTime() const { return m_startTime; }
    void setStartTime(unsigned int time) { m_startTime = time; }
    int getStartLng() const { return int(m_startLng); }
    void setStartLng(int lng) { m_startLng = unsigned(lng); }
    int getStartLat() const { return int(m_startLat); }
    void setStartLat(int lat) { m_startLat = unsigned(lat); }
    int getEndLng() const { return int(m_endLng); }
    void setEndLng(int lng) { m_endLng = unsigned(lng); }
    int getEndLat() const { return int(m_endLat); }
    void setEndLat(int lat) { m_endLat = unsigned(lat); }
    short getStartAlt() const { return m_startAlt; }
    void setStartAlt(short alt) { m_startAlt = alt; }
    short getEndAlt() const { return m_endAlt; }
    void setEndAlt(short alt) { m_endAlt = alt; }
    bool getBreakFlag() const { return m_breakFlag; }
    void setBreakFlag(bool flag) { m_breakFlag = flag; }
    bool getStartFlagA() const { return m_startFlagA; }
    void setStartFlagA(bool flag) { m_startFlagA = flag; }
    bool getEndFlagA() const { return m_endFlagA; }
    void setEndFlagA(bool flag) { m_endFlagA = flag; }
    bool getStartFlagB() const { return m_startFlagB; }
    void setStartFlagB(bool flag) { m_startFlagB = flag; }
    bool getEndFlagB() const { return m_endFlagB; }
    void setEndFlagB(bool flag) { m_endFlagB = flag; }
    unsigned char getTimeUnit() const { return m_timeUnit; }
    void setTimeUnit(unsigned char unit) { m_timeUnit = unit; }
    unsigned int getNextOffset() const { return m_nextOffset; }
    unsigned int getPointCount() const { return m_pointCount; }
    void setPointCount(unsigned int count) { m_pointCount = count; }
    unsigned int getSensorLogOffset() const { return m_sensorLogOffset; }
    void setSensorLogOffset(unsigned int offset) { m_sensorLogOffset = offset; }

    QVector<QPointer<JXPSFTrackPoint>>* getTrackPoints()
    {
        makePoints();
        return &m_trackPoints;
    }
    QVector<QPointer<JXPSFRoutePoint>>* getRoutePoints()
    {
        makePoints();
        return &m_routePoints;
    }
    // Calls visit(lngDelta, latDelta, altDelta, fifth byte) for each recorded point (isTrack) or route point, in
    // order, as getTrackPoints() or getRoutePoints() would give them, without making the point objects.
    template <typename Visit> void visitPoints(bool isTrack, Visit visit) const;
    const QVector<QPointer<JXPSFSensorLog>>& getSensorLogs() const { return m_sensorLogs; }

    // Where the segment list starts in the image being written, and the end of the last segment written, from
    // that start. They carry over from one finalize to the next during one write-back, which the image root
    // serialises.
    static unsigned int m_head_offset_from_PSF;
    static unsigned int m_tail_offset_from_track_segmentlist;

private:
    void parse(const JXPSFView& segment, int isTrack, JXPSFSensorLogFrame* logs, qint64 maxPoints);
    void makePoints();
    // Points loaded but not made yet, of the kind they were loaded as.
    int pendingPoints(bool isTrack) const;

    unsigned int m_startTime = 0xFFFFFFFFu;
    unsigned int m_startLng = 0xFFFFFFFFu;
    unsigned int m_startLat = 0xFFFFFFFFu;
    unsigned int m_endLng = 0xFFFFFFFFu;
    unsigned int m_endLat = 0xFFFFFFFFu;
    short m_startAlt = -1;
    short m_endAlt = -1;
    bool m_breakFlag = false;
    bool m_startFlagA = false;
    bool m_endFlagA = false;
    bool m_startFlagB = false;
    bool m_endFlagB = false;
    unsigned char m_timeUnit = 0;
    unsigned int m_nextOffset = 0xFFFFFFFFu;
    unsigned int m_pointCount = 0;
    unsigned int m_sensorLogOffset = 0xFFFFFFFFu;
    // The loaded points' records, back to back, until the point objects are made; then empty.
    QByteArray m_pointRecords;
    bool m_loadedAsTrack = false;
    JXPSFRecordStore<JXPSFRoutePoint> m_routeStore;
    JXPSFRecordStore<JXPSFTrackPoint> m_trackStore;
    QVector<QPointer<JXPSFRoutePoint>> m_routePoints;
    QVector<QPointer<JXPSFTrackPoint>> m_trackPoints;
    QVector<QPointer<JXPSFSensorLog>> m_sensorLogs;
};

template <typename Visit> void JXPSFTrack::visitPoints(bool isTrack, Visit visit) const
{
    const int pending = pendingPoints(isTrack);
    if (pending > 0) {
        const JXPSFView records(&m_pointRecords);
        for (int i = 0; i < pending; ++i) {
            const qint64 at = qint64(i) * JXPSFTrackPoint::RecordSize;
            visit(short(records.u16(at)), short(records.u16(at + 2)), static_cast<signed char>(records.u8(at + 4)),
                  records.u8(at + 5));
        }
        return;
    }
    if (isTrack) {
        for (const QPointer<JXPSFTrackPoint>& point : m_trackPoints) {
            if (point)
                visit(point->getLngDelta(), point->getLatDelta(), point->getAltDelta(), point->getTimeDelta());
        }
    } else {
        for (const QPointer<JXPSFRoutePoint>& point : m_routePoints) {
            if (point)
                visit(point->getLngDelta(), point->getLatDelta(), point->getAltDelta(),
                      quint8((point->getFlag1() ? 0x01 : 0) | (point->getFlag2() ? 0x02 : 0) |
                             (point->getFlag3() ? 0x04 : 0)));
        }
    }
}

// The track frame: the segment-list offset (u32) and the list's bytes. Routes find their segments in the list;
// the frame keeps a reading budget so that chains that overlap or loop read no more than the list holds.
class JXPSFTrackFrame : public JXPSFField
{
    Q_OBJECT

public:
    // raw holds the frame's bytes from its start to the end of the image.
    // The segment list is cut to its area.
    JXPSFTrackFrame(QByteArray* raw, JXPSFField* parent, const JXPSFTableArea& area = JXPSFTableArea());

    unsigned int getSegListOffset() const { return m_segListOffset; }
    void setSegListOffset(unsigned int offset) { m_segListOffset = offset; }
    QByteArray* getTrackRawData() { return &m_raw; }
    void setTrackRawData(QByteArray* raw);
    void loadTracks() {}

    // The chain of segments that starts at offset in the list, as a route owns it.
    QVector<QPointer<JXPSFTrack>> loadChain(unsigned int offset, int isTrack, JXPSFSensorLogFrame* logs);

private:
    unsigned int m_segListOffset = 0xFFFFFFFFu;
    QByteArray m_raw;
    qint64 m_budget = 0;
};

#endif
