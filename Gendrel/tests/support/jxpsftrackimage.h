#ifndef JXPSFTRACKIMAGE_H
#define JXPSFTRACKIMAGE_H

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtEndian>

#include <cstring>

#include "jxpsftestimage.h"

// A table-A second-generation image holding recorded tracks and workouts as the device writes them, built from
// byte layouts written down here (never through the store's own writers): routes with their text name, laps and
// summary, segments of class-0 points, sensor logs, user-info snapshots, workouts with intervals, and workout logs.
// The flash header's table ends cover what was put, so a client reads it page by page like a real device's.
namespace JXPSFTrackImage {

const quint32 None = 0xFFFFFFFF;

// Little-endian fields put into a record of a fixed size.
class Record
{
public:
    explicit Record(int size, char fill = '\0') : m_bytes(size, fill) {}
    Record& u8(int at, quint8 value)
    {
        m_bytes[at] = char(value);
        return *this;
    }
    Record& u16(int at, quint16 value)
    {
        qToLittleEndian<quint16>(value, m_bytes.data() + at);
        return *this;
    }
    Record& u32(int at, quint32 value)
    {
        qToLittleEndian<quint32>(value, m_bytes.data() + at);
        return *this;
    }
    QByteArray bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// Class 0 (6 bytes): tag with the time count in bits 2-7, i8 altitude delta (0.1 m), i16 longitude and latitude
// deltas (millionths of a degree).
inline QByteArray point(qint8 altitude, qint16 lon, qint16 lat, quint8 timeCount)
{
    return Record(6).u8(0, quint8(timeCount << 2)).u8(1, quint8(altitude)).u16(2, quint16(lon)).u16(4, quint16(lat)).bytes();
}

// Name record: 12-byte head (flags: bit 1 another follows; width; u16 length; 3-byte code; reserved; u16 picture
// width and height), then the ASCII text.
inline QByteArray textName(const QByteArray& text, const char* code = "eng")
{
    Record head(12);
    head.u16(2, quint16(text.size()));
    QByteArray bytes = head.bytes();
    memcpy(bytes.data() + 4, code, 3);
    return bytes + text;
}

// Lap (56 bytes): times, distance, speed codes (1/8 m/s), heart rates, cadences (or stride codes), powers,
// altitude gain and loss, calories, riding time; the climb figures and work stay 0.
struct Lap
{
    quint32 start = 0;
    quint32 end = 0;
    quint32 distance = 0;
    quint8 avgSpeed = 0xFF, maxSpeed = 0xFF, avgBPM = 0xFF, maxBPM = 0xFF, avgCad = 0xFF, maxCad = 0xFF;
    quint16 avgPower = 0xFFFF, maxPower = 0xFFFF;
    quint16 gainAlt = 0, lostAlt = 0, calorie = 0;
    quint32 rtime = 0;

    QByteArray bytes() const
    {
        return Record(56)
            .u32(0, start).u32(4, end).u32(8, distance)
            .u8(12, avgSpeed).u8(13, maxSpeed).u8(14, avgBPM).u8(15, maxBPM).u8(16, avgCad).u8(17, maxCad)
            .u16(18, avgPower).u16(20, maxPower).u16(22, gainAlt).u16(24, lostAlt).u16(26, calorie)
            .u32(28, rtime).bytes();
    }
};

// Sensor log head (16 bytes): u32 start time, u32 next, u8 interval, u8 presence flags (bit 0 speed, 1 cadence,
// 2 heart rate, 3 power, 4 temperature, 5 BRM), u16 sample count, u8 break type in bits 2-4; then the samples,
// their fields in that order (u8, u8, u8, u16, i16, u16).
struct SensorLog
{
    quint32 start = 0;
    quint8 interval = 1;
    quint8 flags = 0;
    quint8 breakType = 0;
    quint16 count = 0;
    QByteArray samples;

    QByteArray bytes() const
    {
        return Record(16, char(0xFF))
                   .u32(0, start).u8(8, interval).u8(9, flags).u16(10, count).u8(12, quint8(breakType << 2))
                   .bytes()
            + samples;
    }
};

// Segment head (40 bytes): u32 time, i32 start longitude and latitude, i32 end longitude and latitude, i16 start
// and end altitude ((m + 1000) x 4), u8 flags, u8 time interval, u8 break type (bits 0-2), 1 byte, u32 next, u32
// point count, u32 sensor-log offset.
struct Segment
{
    quint32 time = 0;
    qint32 startLon = 0;
    qint32 startLat = 0;
    qint16 startAlt = 4000; // 0 m
    quint8 interval = 1;
    quint8 breakType = 0;
    QVector<QByteArray> points;
    bool hasLog = false;
    SensorLog log;
};

// User-info record (24 bytes): u32 time, u16 weight (/100), strides, u16 height (/100), u8 bike ID (bits 0-2) and
// type (bits 4-7), u8 bike weight (/10), u16 wheel (/10), u8 zone record count in bits 3-5; then the zones:
// u8 type (bits 0-3) and count (bits 4-7), 1 byte, u16 base value, count pairs of u16 low and high.
struct Zone
{
    quint8 type = 0;
    quint16 base = 0;
    QVector<QPair<quint16, quint16>> bounds;
};

struct UserInfo
{
    quint16 weight = 0xFFFF, height = 0xFFFF, wheel = 0xFFFF;
    quint8 bikeWeight = 0xFF;
    quint8 bikeID = 0, bikeType = 0;
    QVector<Zone> zones;

    QByteArray bytes() const
    {
        QByteArray out = Record(24)
                             .u16(4, weight).u16(8, height)
                             .u8(10, quint8(bikeID | (bikeType << 4))).u8(11, bikeWeight).u16(12, wheel)
                             .u8(14, quint8(zones.size() << 3))
                             .bytes();
        for (const Zone& zone : zones) {
            Record head(4);
            head.u8(0, quint8(zone.type | (zone.bounds.size() << 4))).u16(2, zone.base);
            out += head.bytes();
            for (const auto& bound : zone.bounds)
                out += Record(4).u16(0, bound.first).u16(2, bound.second).bytes();
        }
        return out;
    }
};

struct Track
{
    QByteArray name = "Ride 1";
    bool planned = false; // route type 0, a route put onto the device, instead of a recorded ride
    quint32 start = 0;
    quint8 actType = 0, subType = 0;
    bool uploaded = false;
    quint16 reserve = 0;
    QVector<Segment> segments;
    QVector<Lap> laps;
    bool hasSummary = false;
    Lap summary;
    bool hasUserInfo = false;
    UserInfo userInfo;
};

// Interval (24 bytes): u8 type (bits 0-2) and target kind (bits 4-7), u8 duration kind, i16 duration value, u32
// next, u32 repeat (start index x 24, or none), u8 repeat count, u8 low and high target, 2 bytes, u8 flags, u8
// target bits 8-11 (low in 0-3, high in 4-7), u8 log resolution, 4 bytes 0.
struct Interval
{
    quint8 type = 1, target = 0, duration = 0;
    qint16 durationValue = 0;
    quint32 repeat = None; // the stored word
    quint8 repeatCount = 0, low = 0, high = 0, highBits = 0;
};

// Workout (40 bytes): u32 activation time, u32 ID, u32 first interval, u32 first log, u8 activity (bits 0-3) and
// daily (bit 4), u8 repeat count (bits 0-4) and type (5-7), u8 sub-type, 1 byte, u32 route, 4 bytes, u32 next,
// u32 name offset (from the record), u32 description offset; then the name.
struct Workout
{
    QByteArray name = "Base";
    quint32 activated = 0, id = 0;
    quint8 actType = 0, repeat = 0, type = 0, subType = 0;
    bool daily = false;
    QVector<Interval> intervals;
};

// Workout log (24 bytes): u32 start and end, u32 next, u32 route record offset, u16 interval-log count, 6 bytes;
// then per interval u32 start and end.
struct WorkoutLog
{
    int workout = 0;
    int track = 0;
    QVector<QPair<quint32, quint32>> intervals;
};

class Builder
{
public:
    Builder() : m_image(JXPSFTestImage::emptyImage(JXPSFTestImage::Layout::A)) {}

    // Tracks go into the route table in order; returns the index.
    int addTrack(const Track& track)
    {
        const quint32 record = m_route;
        Record head(36, char(0xFF));
        head.u32(0, track.start).u8(4, quint8((track.planned ? 0 : 0x01) | (track.uploaded ? 0x08 : 0)))
            .u8(5, quint8(track.actType | (track.subType << 4))).u16(6, 0).u8(25, 0xFF).u16(26, track.reserve)
            .u32(32, 36);
        if (!track.laps.isEmpty()) {
            head.u32(16, m_lap).u8(24, quint8(track.laps.size()));
            for (const Lap& lap : track.laps)
                putLap(lap);
        }
        if (track.hasSummary) {
            head.u32(12, m_lap);
            putLap(track.summary);
        }
        if (track.hasUserInfo) {
            head.u32(20, m_userInfo);
            const QByteArray info = track.userInfo.bytes();
            put(JXPSFTestImage::userInfoLog(Layout).tableStart + m_userInfo, info);
            m_userInfo += quint32(info.size());
        }
        if (!track.segments.isEmpty())
            head.u32(8, m_segments);
        for (int index = 0; index < track.segments.size(); ++index)
            putSegment(track.segments.at(index), index + 1 == track.segments.size());

        const QByteArray bytes = head.bytes() + textName(track.name);
        if (m_lastRoute != None)
            put32(JXPSFTestImage::route(Layout).tableStart + m_lastRoute + 28, record);
        put(JXPSFTestImage::route(Layout).tableStart + record, bytes);
        m_lastRoute = record;
        m_routeOffsets.append(record);
        m_route += quint32(bytes.size());
        put16(JXPSFTestImage::route(Layout).frameStart + 8, quint16(m_routeOffsets.size()));
        return m_routeOffsets.size() - 1;
    }

    int addWorkout(const Workout& workout)
    {
        const quint32 record = m_workout;
        const quint32 firstInterval = workout.intervals.isEmpty() ? None : m_interval;
        for (int index = 0; index < workout.intervals.size(); ++index) {
            const Interval& interval = workout.intervals.at(index);
            const quint32 next = index + 1 < workout.intervals.size() ? m_interval + 24 : None;
            const QByteArray bytes = Record(24)
                                         .u8(0, quint8(interval.type | (interval.target << 4)))
                                         .u8(1, interval.duration).u16(2, quint16(interval.durationValue))
                                         .u32(4, next).u32(8, interval.repeat).u8(12, interval.repeatCount)
                                         .u8(13, interval.low).u8(14, interval.high).u8(18, interval.highBits)
                                         .bytes();
            put(JXPSFTestImage::interval(Layout).tableStart + m_interval, bytes);
            m_interval += 24;
        }
        Record head(40, char(0xFF));
        head.u32(0, workout.activated).u32(4, workout.id).u32(8, firstInterval)
            .u8(16, quint8(workout.actType | (workout.daily ? 0x10 : 0)))
            .u8(17, quint8((workout.repeat & 0x1F) | (workout.type << 5))).u8(18, workout.subType).u8(19, 0)
            .u32(32, 40);
        const QByteArray bytes = head.bytes() + textName(workout.name);
        if (!m_workoutOffsets.isEmpty())
            put32(JXPSFTestImage::workout(Layout).tableStart + m_workoutOffsets.last() + 28, record);
        put(JXPSFTestImage::workout(Layout).tableStart + record, bytes);
        m_workoutOffsets.append(record);
        m_workout += quint32(bytes.size());
        put16(JXPSFTestImage::workout(Layout).frameStart + 8, quint16(m_workoutOffsets.size()));
        return m_workoutOffsets.size() - 1;
    }

    // One log per workout here: the workout points to it.
    void addWorkoutLog(const WorkoutLog& log)
    {
        Record head(24, char(0xFF));
        head.u32(0, 1).u32(4, 2).u32(8, None).u32(12, m_routeOffsets.at(log.track))
            .u16(16, quint16(log.intervals.size()));
        QByteArray bytes = head.bytes();
        for (const auto& interval : log.intervals)
            bytes += Record(8).u32(0, interval.first).u32(4, interval.second).bytes();
        put32(JXPSFTestImage::workout(Layout).tableStart + m_workoutOffsets.at(log.workout) + 12, m_workoutLog);
        put(JXPSFTestImage::workoutLog(Layout).tableStart + m_workoutLog, bytes);
        m_workoutLog += quint32(bytes.size());
    }

    // The image with the flash header's table ends and room left set to what was put.
    QByteArray image()
    {
        using namespace JXPSFTestImage;
        setGroup(76, workout(Layout), m_workout);
        setGroup(88, route(Layout), m_route);
        setGroup(100, lap(Layout), m_lap);
        setGroup(112, interval(Layout), m_interval);
        setGroup(124, workoutLog(Layout), m_workoutLog);
        setGroup(136, track(Layout), m_segments);
        setGroup(148, sensorLog(Layout), m_sensorLog);
        setGroup(160, userInfoLog(Layout), m_userInfo);
        return m_image;
    }

private:
    static constexpr JXPSFTestImage::Layout Layout = JXPSFTestImage::Layout::A;

    void put(quint32 offset, const QByteArray& bytes) { m_image.replace(int(offset), bytes.size(), bytes); }
    void put32(quint32 offset, quint32 value) { put(offset, Record(4).u32(0, value).bytes()); }
    void put16(quint32 offset, quint16 value) { put(offset, Record(2).u16(0, value).bytes()); }
    void setGroup(quint32 field, const JXPSFTestImage::Area& area, quint32 used)
    {
        put32(field, area.tableSize - used);
        put32(field + 8, area.tableStart + used);
    }

    void putLap(const Lap& lap)
    {
        put(JXPSFTestImage::lap(Layout).tableStart + m_lap, lap.bytes());
        m_lap += 56;
    }

    void putSegment(const Segment& segment, bool last)
    {
        quint32 logOffset = None;
        if (segment.hasLog) {
            logOffset = m_sensorLog;
            const QByteArray log = segment.log.bytes();
            put(JXPSFTestImage::sensorLog(Layout).tableStart + m_sensorLog, log);
            m_sensorLog += quint32(log.size());
        }
        QByteArray points;
        points.reserve(segment.points.size() * 6);
        for (const QByteArray& point : segment.points)
            points += point;
        const quint32 size = 40 + quint32(points.size());
        Record head(40);
        head.u32(0, segment.time).u32(4, quint32(segment.startLon)).u32(8, quint32(segment.startLat))
            .u32(12, None).u32(16, None).u16(20, quint16(segment.startAlt)).u16(22, quint16(segment.startAlt))
            .u8(25, segment.interval).u8(26, segment.breakType).u32(28, last ? None : m_segments + size)
            .u32(32, segment.points.isEmpty() ? None : quint32(segment.points.size())).u32(36, logOffset);
        put(JXPSFTestImage::track(Layout).tableStart + m_segments, head.bytes() + points);
        m_segments += size;
    }

    QByteArray m_image;
    quint32 m_route = 0, m_lap = 0, m_segments = 0, m_sensorLog = 0, m_userInfo = 0;
    quint32 m_workout = 0, m_interval = 0, m_workoutLog = 0;
    quint32 m_lastRoute = None;
    QVector<quint32> m_routeOffsets;
    QVector<quint32> m_workoutOffsets;
};

} // namespace JXPSFTrackImage

#endif
