#ifndef JXPSFIMAGEFIXTURE_H
#define JXPSFIMAGEFIXTURE_H

// A first-generation data-store image built from literals: the data-store part of a 1 MB flash (from flash address
// 0x6000), erased, with its 48-byte head, the distribution header at 48 and empty frames where the device driver's
// layout table puts them. Records are added as short hex literals through the builders below.

#include <QByteArray>
#include <QtEndian>

#include "psf/gen1/jxpsfreader.h"

namespace PSF1 {

const int kImageSize = 0xFA000;
const unsigned int kFlashBase = 0x6000;
const unsigned int kNone = 0xFFFFFFFFu;

// Frames, from image byte 0, and their tables, from the frame start.
const unsigned int kPOIFrame = 0x154;
const unsigned int kWorkoutFrame = 0xD00;
const unsigned int kRouteFrame = 0x1F78;
const unsigned int kWorkoutLogFrame = 0x1D000;
const unsigned int kTrackFrame = 0x24000;
const unsigned int kSensorLogFrame = 0xA2000;

const unsigned int kPOITable = 0x1C;
const unsigned int kWorkoutTable = 0x10;
const unsigned int kIntervalTable = 0x1A300;
const unsigned int kRouteTable = 0x88;
const unsigned int kLapTable = 0x9088;
const unsigned int kWorkoutLogList = 0x10;
const unsigned int kSegmentList = 0x24;
const unsigned int kSensorLogList = 0x18;

// Where the records of each frame start in the image.
const qint64 kPOIs = kPOIFrame + kPOITable;
const qint64 kRoutes = kRouteFrame + kRouteTable;
const qint64 kLaps = kRouteFrame + kLapTable;
const qint64 kSegments = kTrackFrame + kSegmentList;
const qint64 kSensorLogs = kSensorLogFrame + kSensorLogList;
const qint64 kWorkouts = kWorkoutFrame + kWorkoutTable;
const qint64 kIntervals = kWorkoutFrame + kIntervalTable;
const qint64 kWorkoutLogs = kWorkoutLogFrame + kWorkoutLogList;

// Distribution-header records, in header order.
enum Frame { POI, Route, Workout, WorkoutLog, Track, SensorLog };

inline QByteArray le32(quint32 value)
{
    QByteArray bytes(4, 0);
    qToLittleEndian<quint32>(value, bytes.data());
    return bytes;
}

inline QByteArray le16(quint16 value)
{
    QByteArray bytes(2, 0);
    qToLittleEndian<quint16>(value, bytes.data());
    return bytes;
}

inline QByteArray u8(quint8 value)
{
    return QByteArray(1, char(value));
}

inline QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

inline QByteArray padded(QByteArray bytes, int size, char fill)
{
    bytes.append(QByteArray(qMax(0, size - bytes.size()), fill));
    return bytes.left(size);
}

// The driver's layout table for the 1 MB model.
inline flash_header_def definition()
{
    flash_header_def def = {};
    const unsigned int words[46] = {
        0x6000,  0x7000,  0x6154,  0x6170,  0x6D00,  0xB90,   0x6D00,  0x6D10,  0x7F78,  0x1268,  0x7F78,  0x8000,
        0x101CC, 0x81CC,  0x11000, 0x21000, 0x10000, 0x21000, 0x23000, 0x2000,  0x23000, 0x23010, 0x2A000, 0x6FF0,
        0x2A000, 0x2A024, 0xA8000, 0,       0x7DFDC, 0,       0xA8000, 0xA8018, 0xF5000, 0x4CFE8, 0,       0,
        0,       0,       0xF2000, 0xF2018, 0xF8000, 0x5FE8,  0x6000,  0,       0,       0};
    for (int i = 0; i < 46; ++i)
        def.words[i] = words[i];
    return def;
}

struct Image
{
    QByteArray bytes;

    void put(qint64 offset, const QByteArray& data) { bytes.replace(int(offset), data.size(), data); }
    void put32(qint64 offset, quint32 value) { put(offset, le32(value)); }
    void put16(qint64 offset, quint16 value) { put(offset, le16(value)); }
    void put8(qint64 offset, quint8 value) { put(offset, u8(value)); }
    void setFrame(Frame frame, quint32 offset) { put32(48 + 12 + 20 * int(frame), offset); }
    quint32 at32(qint64 offset) const { return qFromLittleEndian<quint32>(bytes.constData() + offset); }
    quint16 at16(qint64 offset) const { return qFromLittleEndian<quint16>(bytes.constData() + offset); }
    quint8 at8(qint64 offset) const { return quint8(bytes.at(int(offset))); }
};

// Erased image with the distribution header and every frame empty.
inline Image emptyImage()
{
    Image image;
    image.bytes = QByteArray(kImageSize, char(0xFF));
    image.put32(48, 0x20200102);
    image.put32(52, 0x00030405);
    image.put(56, hex("00786666"));
    const quint32 frames[] = {kPOIFrame, kRouteFrame, kWorkoutFrame, kWorkoutLogFrame, kTrackFrame, kSensorLogFrame};
    for (int i = 0; i < 6; ++i) {
        image.setFrame(Frame(i), frames[i]);
        image.put16(48 + 12 + 20 * i + 4, 0x1000);
    }
    image.put(kPOIFrame, le32(0) + le32(kPOITable));
    image.put(kRouteFrame, le32(kRouteTable) + le32(kLapTable) + le16(0));
    image.put(kWorkoutFrame, le32(kWorkoutTable) + le32(kIntervalTable) + u8(0));
    image.put32(kWorkoutLogFrame, kWorkoutLogList);
    image.put32(kTrackFrame, kSegmentList);
    image.put32(kSensorLogFrame, kSensorLogList);
    return image;
}

// A segment head (40 bytes) and its points.
inline QByteArray segment(quint32 next, quint32 count, quint32 logOffset, const char* points, quint8 flags = 0,
                          quint8 unit = 1, quint32 startTime = 1000, qint32 lng = 120000000, qint32 lat = 30000000)
{
    return le32(startTime) + le32(quint32(lng)) + le32(quint32(lat)) + le32(quint32(lng + 50)) +
           le32(quint32(lat + 60)) + le16(4400) + le16(4410) + u8(flags) + u8(unit) + hex("FFFF") + le32(next) +
           le32(count) + le32(logOffset) + hex(points);
}

// A route record (156 bytes).
inline QByteArray route(const QByteArray& name, quint8 flags, quint32 trackOffset, quint32 startTime = 1000,
                        quint32 summary = kNone, quint8 activity = 0x21, quint16 value = 7500)
{
    return le32(startTime) + padded(name, 128, 0) + u8(flags) + u8(activity) + le16(value) + le32(trackOffset) +
           le32(summary) + le32(kNone) + u8(0xFF) + QByteArray(7, char(0xFF));
}

// A sensor-log head (16 bytes) and its samples.
inline QByteArray sensorLog(quint32 next, quint8 mask, quint16 count, const char* samples, quint32 start = 1000)
{
    return le32(start) + le32(next) + u8(1) + u8(mask) + le16(count) + hex("FFFFFFFF") + hex(samples);
}

// A POI record (148 bytes).
inline QByteArray poi(qint32 lng, qint32 lat, quint8 flags, const QByteArray& name)
{
    return le32(quint32(lng)) + le32(quint32(lat)) + le16(4400) + u8(flags) + u8(0) + padded(name, 128, 0) +
           QByteArray(8, char(0xFF));
}

// A workout record (152 bytes).
inline QByteArray workout(const QByteArray& name, quint32 id, quint32 firstInterval, quint32 firstLog,
                          quint8 flags = 0x13, quint8 values = 0x45)
{
    return le32(1577934245) + padded(name, 128, 0) + le32(id) + le32(firstInterval) + le32(firstLog) + u8(flags) +
           u8(values) + hex("FFFF") + le32(kNone);
}

// An interval record (20 bytes).
inline QByteArray interval(quint32 next, quint8 types = 0x21, quint16 duration = 600)
{
    return u8(types) + u8(3) + le16(duration) + le32(next) + le32(kNone) + u8(0xFF) + u8(120) + u8(150) + u8(0) +
           u8(0) + u8(0) + hex("FFFF");
}

// A workout log head (24 bytes) and its interval logs.
inline QByteArray workoutLog(quint32 next, quint32 routeOffset, quint16 count, const char* intervals)
{
    return le32(1) + le32(2) + le32(next) + le32(routeOffset) + le16(count) + QByteArray(6, char(0xFF)) +
           hex(intervals);
}

// Three POIs; a recorded ride of two segments (the second with a sensor log and a summary lap), a planned route of
// one segment and a recorded ride without segments; two workouts, the first with two intervals and a log.
inline Image recordedImage()
{
    Image image = emptyImage();
    image.put32(kPOIFrame, 3);
    image.put(kPOIs, poi(121500000, 25035000, 0x07, "Summit") + poi(121400000, 25000000, 0x00, "Lake") +
                         poi(-1000, -2000, 0x01, QByteArray(128, char(0x5A))));

    image.put16(kRouteFrame + 8, 3);
    image.put(kRoutes,
              route("Morning", 0x01, 0, 1000, 64) + route("Plan", 0x02, 98, kNone) + route("Empty", 0x0D, kNone, 7000));
    image.put(kLaps + 64, le32(1000) + le32(1100) + le32(3000) + hex("10 20 8C 9F 50 5A") + le16(180) + le16(400) +
                              le16(12) + le16(11) + le16(500) + le32(100));
    image.put(kSegments, segment(52, 2, kNone, "0100 0200 03 04 FFFF FFFF FF 01") +
                             segment(kNone, 1, 0, "0A00 0B00 01 02", 0x1F, 4, 2000) +
                             segment(kNone, 2, kNone, "0A00 F6FF 05 05 0100 0100 00 02", 0x06));
    image.put(kSensorLogs, sensorLog(kNone, 0x09, 1, "10 F401"));

    image.put8(kWorkoutFrame + 8, 2);
    image.put(kWorkouts, workout("Tempo", 42, 0, 0) + workout("Rest", 43, kNone, kNone, 0x64, 0xE3));
    image.put(kIntervals, interval(20, 0x21, 600) + interval(kNone, 0x2B, 300));
    image.put(kWorkoutLogs, workoutLog(kNone, 0, 2, "0A000000 14000000 1E000000 28000000"));
    return image;
}

// A whole 1 MB device flash that parses as a data store: the newest flash-header record in slot 0 (slot 1 free;
// magic, the rest of the record zero), the data store above from 0x6000 holding one POI "lake", and the given
// 4096-byte profile block at 0xF8000.
inline QByteArray deviceFlash(const QByteArray& profileBlock)
{
    QByteArray flash(0x100000, char(0xFF));
    QByteArray slot(256, char(0xFF));
    slot.replace(0, 212, QByteArray(212, '\0'));
    qToLittleEndian<quint16>(0xAA55, slot.data());
    flash.replace(0, slot.size(), slot);
    Image store = emptyImage();
    store.put32(kPOIFrame, 1);
    store.put(kPOIFrame + kPOITable, poi(7, 8, 0, "lake"));
    flash.replace(int(kFlashBase), store.bytes.size(), store.bytes);
    flash.replace(0xF8000, profileBlock.size(), profileBlock);
    return flash;
}

} // namespace PSF1

#endif
