#include <QtEndian>
#include <QtTest>

#include <functional>

#include "jxmemorypsfstore.h"
#include "jxpsftestimage.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsfinterval_1_5.h"
#include "psf/gen2/jxpsfmultilangstring_1_5.h"
#include "psf/gen2/jxpsfworkout_1_5.h"
#include "psf/gen2/jxpsfworkoutframe_1_5.h"

using JXPSFTestImage::Layout;

Q_DECLARE_METATYPE(JXPSFTestImage::Layout)

namespace {

const quint32 kNone = 0xFFFFFFFF;

quint32 u32(const char* at)
{
    return qFromLittleEndian<quint32>(at);
}

// An empty image in a memory store with its layout chosen, and the places of the workout frame in it.
struct Image
{
    explicit Image(Layout chosen = Layout::A) : layout(chosen), info(&store)
    {
        store.setImage(JXPSFTestImage::emptyImage(layout));
        info.initialFlashDef(reinterpret_cast<const unsigned char*>(layout == Layout::A ? "1510" : "1500"));
    }

    char* at(unsigned int offset) { return store.bytes() + offset; }
    const char* end() { return store.bytes() + JXMemoryPSFStore::ImageSize; }
    char* frameStart() { return at(JXPSFTestImage::workout(layout).frameStart); }
    char* table() { return at(JXPSFTestImage::workout(layout).tableStart); }
    unsigned int tableSize() const { return JXPSFTestImage::workout(layout).tableSize; }
    char* intervals() { return at(JXPSFTestImage::interval(layout).tableStart); }
    // The empty image's current flash header is slot 0.
    quint32 header(int field) { return u32(at(unsigned(field))); }
    quint16 count() { return qFromLittleEndian<quint16>(frameStart() + 8); }

    Layout layout;
    JXMemoryPSFStore store;
    JXExtFlashInfo_2M info;
};

// A workout record as the device writes it: flags and times zero, the given offsets, the rest none.
QByteArray workoutRecord(quint32 next, quint32 intervalOffset = kNone, quint32 nameOffset = kNone)
{
    char record[40] = {};
    for (int offset : {12, 20, 36})
        qToLittleEndian<quint32>(kNone, record + offset);
    qToLittleEndian<quint32>(intervalOffset, record + 8);
    qToLittleEndian<quint32>(next, record + 28);
    qToLittleEndian<quint32>(nameOffset, record + 32);
    return QByteArray(record, sizeof(record));
}

void put(char* at, const QByteArray& bytes)
{
    memcpy(at, bytes.constData(), size_t(bytes.size()));
}

} // namespace

// Planned workouts with names, descriptions and intervals in the workout and interval tables.
class TestJXPSFWorkout : public QObject
{
    Q_OBJECT

private slots:
    void layouts_data()
    {
        QTest::addColumn<Layout>("layout");
        QTest::newRow("table A") << Layout::A;
        QTest::newRow("table B") << Layout::B;
    }

    void newWorkoutWithTwoNames_data() { layouts_data(); }
    void newWorkoutWithTwoNames()
    {
        QFETCH(Layout, layout);
        Image image(layout);
        JXPSFWorkoutFrame_1_5 frame(image.frameStart(), &image.info, image.end());
        // The erased count reads as none, and the first workout goes at the table start.
        QVERIFY(frame.getWorkouts().isEmpty());
        QCOMPARE(frame.getWrkCount(), quint16(0));
        QCOMPARE(frame.getFreeRecOffset(), 0u);
        const quint32 tableEnd = image.header(JXExtFlashInfo_2M::WorkoutTableEnd);

        JXPSFWorkout_1_5* workout = frame.createWorkout({"Hills", "Tempo"}, {"eng", "deu"}, {}, {}, false, &image.info);
        QVERIFY(workout);
        QCOMPARE(workout->getData() - image.table(), qptrdiff(0));
        QCOMPARE(workout->getNameOffset(), 40u);
        QCOMPARE(workout->getNames().size(), 2);
        QCOMPARE(workout->getNames().at(0)->getData() - workout->getData(), qptrdiff(40));
        QCOMPARE(workout->getNames().at(1)->getData() - workout->getData(), qptrdiff(57));
        QCOMPARE(uchar(workout->getData()[40]), uchar(0x02));
        QCOMPARE(uchar(workout->getData()[57]), uchar(0x00));
        QCOMPARE(workout->getBytesCount(), 74u);
        for (quint32 offset : {workout->getNextOffset(), workout->getItvOffset(), workout->getWrkLogOffset(),
                               workout->getRteOffset(), workout->getDesOffset()})
            QCOMPARE(offset, kNone);
        QCOMPARE(workout->getActivateTime(), 0u);
        QCOMPARE(workout->getID(), 0u);
        QVERIFY(!workout->isBitFont());

        QCOMPARE(image.count(), quint16(1));
        QCOMPARE(image.header(JXExtFlashInfo_2M::WorkoutTableEnd), tableEnd + 74);
        QCOMPARE(image.header(JXExtFlashInfo_2M::WorkoutRoomLeft), image.tableSize() - 74);

        JXPSFWorkoutFrame_1_5 reloaded(image.frameStart(), &image.info, image.end());
        QCOMPARE(reloaded.getWorkouts().size(), 1);
        QCOMPARE(reloaded.getWorkouts().at(0)->getName("DEU"), QString("Tempo"));
        QCOMPARE(reloaded.getFreeRecOffset(), 74u);
    }

    // A second workout goes behind the first one's names and descriptions, and the first one points to it.
    void secondWorkoutFollowsTheFirstOnesFullSize()
    {
        Image image;
        JXPSFWorkoutFrame_1_5 frame(image.frameStart(), &image.info, image.end());
        JXPSFWorkout_1_5* first = frame.createWorkout({"Hills"}, {"eng"}, {"Climb twice"}, {"eng"}, false, &image.info);
        QVERIFY(first);
        QCOMPARE(first->getDesOffset(), 57u);
        QCOMPARE(first->getDescriptions().size(), 1);
        QCOMPARE(first->getDescriptions().at(0)->getData() - first->getData(), qptrdiff(57));
        QCOMPARE(first->getBytesCount(), 40u + 17u + 23u);

        JXPSFWorkout_1_5* second = frame.createWorkout({"Tempo"}, {"eng"}, {}, {}, false, &image.info);
        QVERIFY(second);
        QCOMPARE(second->getData() - image.table(), qptrdiff(80));
        QCOMPARE(first->getNextOffset(), 80u);
        QCOMPARE(image.count(), quint16(2));
        QCOMPARE(image.header(JXExtFlashInfo_2M::WorkoutTableEnd),
                 image.header(JXExtFlashInfo_2M::WorkoutTableStart) + 80 + 57);

        JXPSFWorkoutFrame_1_5 reloaded(image.frameStart(), &image.info, image.end());
        QCOMPARE(reloaded.getWorkouts().size(), 2);
        QCOMPARE(reloaded.getWorkouts().at(0)->getDescriptions().at(0)->getTextString(), QString("Climb twice"));
        QCOMPARE(reloaded.getWorkouts().at(1)->getName(QString()), QString("Tempo"));
    }

    void shortCodeListsGiveEmptyCodes()
    {
        Image image;
        JXPSFWorkoutFrame_1_5 frame(image.frameStart(), &image.info, image.end());
        JXPSFWorkout_1_5* workout = frame.createWorkout({"Hills", "Tempo"}, {"eng"}, {"Climb"}, {}, false, &image.info);
        QVERIFY(workout);
        QCOMPARE(QByteArray(workout->getNames().at(1)->getLangCode(), 3), QByteArray(3, '\0'));
        QCOMPARE(QByteArray(workout->getDescriptions().at(0)->getLangCode(), 3), QByteArray(3, '\0'));
        QCOMPARE(workout->getName("eng"), QString("Hills"));
    }

    // A description written over erased flash gets a clean head, as a name does.
    void descriptionHeadOnErasedFlash()
    {
        Image image;
        char* record = image.table();
        JXPSFWorkout_1_5 workout(record, nullptr, nullptr, 0);
        workout.createName("Hills", "eng");
        workout.createDescription("Climb", "eng");
        QCOMPARE(workout.getDesOffset(), 57u);
        QCOMPARE(QByteArray(record + 57, 17), QByteArray::fromHex("0000 0500 656e67 00 0000 0000") + "Climb");
        // A second description chains behind the first.
        workout.createDescription("Twice", "deu");
        QCOMPARE(uchar(record[57]), uchar(0x02));
        QCOMPARE(QByteArray(record + 74, 12), QByteArray::fromHex("0000 0500 646575 00 0000 0000"));
    }

    // Bitmap names are only sized once rendered; the record still lands whole.
    void bitmapWorkout()
    {
        Image image;
        JXPSFWorkoutFrame_1_5 frame(image.frameStart(), &image.info, image.end());
        JXPSFWorkout_1_5* workout = frame.createWorkout({"Cafe"}, {"eng"}, {}, {}, true, &image.info);
        QVERIFY(workout);
        QVERIFY(workout->isBitFont());
        QCOMPARE(workout->getBytesCount(), 40u + 12u + 256u);
        QCOMPARE(image.header(JXExtFlashInfo_2M::WorkoutRoomLeft), image.tableSize() - 308);
        QVERIFY(!workout->getBitFontName("eng").isNull());
    }

    // Intervals of all workouts share the interval table, filled from its start without gaps.
    void intervalsShareTheTable()
    {
        Image image;
        JXPSFWorkoutFrame_1_5 frame(image.frameStart(), &image.info, image.end());
        JXPSFWorkout_1_5* first = frame.createWorkout({"Hills"}, {"eng"}, {}, {}, false, &image.info);
        JXPSFWorkout_1_5* second = frame.createWorkout({"Tempo"}, {"eng"}, {}, {}, false, &image.info);
        const quint32 intervalEnd = image.header(JXExtFlashInfo_2M::IntervalTableEnd);

        JXPSFInterval_1_5* interval = frame.createWorkoutInterval(first, &image.info);
        QVERIFY(interval);
        QCOMPARE(interval->getData() - image.intervals(), qptrdiff(0));
        QCOMPARE(first->getItvOffset(), 0u);
        QCOMPARE(QByteArray(interval->getData(), 24), QByteArray::fromHex("00000000 ffffffff") + QByteArray(16, '\0'));
        QVERIFY(frame.createWorkoutInterval(first, &image.info));
        QVERIFY(frame.createWorkoutInterval(second, &image.info));
        QCOMPARE(second->getItvOffset(), 48u);

        // Three intervals are held, so the next one goes at 72 and the first workout's last interval points to it.
        JXPSFInterval_1_5* fourth = frame.createWorkoutInterval(first, &image.info);
        QCOMPARE(fourth->getData() - image.intervals(), qptrdiff(72));
        QCOMPARE(first->getIntervals().at(1)->getNext(), 72u);
        QCOMPARE(image.header(JXExtFlashInfo_2M::IntervalTableEnd), intervalEnd + 96);
        QCOMPARE(image.header(JXExtFlashInfo_2M::IntervalRoomLeft), 0x3DE0u - 96);

        JXPSFWorkoutFrame_1_5 reloaded(image.frameStart(), &image.info, image.end());
        QCOMPARE(reloaded.getWorkouts().at(0)->getIntervals().size(), 3);
        QCOMPARE(reloaded.getWorkouts().at(0)->getIntervals().at(2)->getData() - image.intervals(), qptrdiff(72));
        QCOMPARE(reloaded.getWorkouts().at(1)->getIntervals().size(), 1);

        // An interval for a workout of another frame is refused.
        JXPSFWorkout_1_5 stranger(image.table(), nullptr, nullptr, 0);
        QVERIFY(!frame.createWorkoutInterval(&stranger, &image.info));
    }

    void intervalAsTheDeviceWritesIt()
    {
        // Work, duration flag, target kind 2; duration 3, 300; no next; repeat from index 2; 5 repeats; targets
        // 0x190 and 0x22C over bytes 13, 14 and 18; segments 1 and 2; target value, lap, manual, resolution type 1;
        // resolution 10.
        QByteArray bytes = QByteArray::fromHex("2a 03 2c01 ffffffff 30000000 05 90 2c 01 02 1d 21 0a 00000000");
        JXPSFInterval_1_5 interval(bytes.data(), false);
        QCOMPARE(interval.getItvType().getValue(), uchar(2));
        QCOMPARE(interval.getItvType().getName(), QString("Work"));
        QVERIFY(interval.getDurValueFlag());
        QCOMPARE(interval.getTarget(), uchar(2));
        QCOMPARE(interval.getDuration(), uchar(3));
        QCOMPARE(interval.getDurValue(), short(300));
        QCOMPARE(interval.getNext(), kNone);
        QCOMPARE(interval.getRepeat(), 2u);
        QCOMPARE(interval.getRptCount(), uchar(5));
        QCOMPARE((interval.getHundredLTarget() << 8) | interval.getLowTarget(), 0x190);
        QCOMPARE((interval.getHundredHTarget() << 8) | interval.getHighTarget(), 0x22C);
        QCOMPARE(interval.getStartSegIdx(), uchar(1));
        QCOMPARE(interval.getEnsSegIdx(), uchar(2));
        QVERIFY(interval.getTarValueFlag());
        QVERIFY(!interval.isHardCon());
        QVERIFY(interval.getNeedLap());
        QVERIFY(interval.isManual());
        QCOMPARE(interval.getLogResoType(), uchar(1));
        QCOMPARE(interval.getLogReso(), uchar(10));

        // Bit-field setters keep the other bits and the argument's low bits that fit.
        interval.setItvType(0xFD);
        interval.setHundredLTarget(0x1F);
        interval.setHundredHTarget(0x10);
        interval.setLogResoType(0xFE);
        interval.setHardCon(true);
        QCOMPARE(bytes.toHex(), QByteArray("2d032c01ffffffff3000000005902c01026f0f0a00000000"));

        interval.setRepeat(-1);
        QCOMPARE(interval.getRepeat(), kNone);
        QCOMPARE(u32(bytes.constData() + 8), kNone);
        interval.setRepeat(2);
        QCOMPARE(u32(bytes.constData() + 8), 48u);
        bytes[12] = char(0xFF);
        QCOMPARE(interval.getRptCount(), uchar(0));
    }

    void workoutFieldsAsTheDeviceWritesThem()
    {
        // Activated at 1600000000, ID 77, interval 48, log 24, activity 11 daily uploaded, repeat 7 type 5,
        // sub-type 3, route 120, no next, names at 40, no description.
        QByteArray bytes = QByteArray::fromHex("0010 5e5f 4d000000 30000000 18000000 5b a7 f3 00 78000000 ffffffff"
                                               "ffffffff 28000000 ffffffff");
        QCOMPARE(bytes.size(), 40);
        // Without an interval table and with the record's end as the table end, the view loads nothing.
        const JXPSFArea noIntervals;
        JXPSFWorkout_1_5 stored(bytes.data(), &noIntervals, bytes.constData() + bytes.size(), 0);
        QVERIFY(stored.getIntervals().isEmpty());
        QVERIFY(stored.getNames().isEmpty());
        QCOMPARE(stored.getActivateTime(), 1600000000u);
        QCOMPARE(stored.getID(), 77u);
        QCOMPARE(stored.getItvOffset(), 48u);
        QCOMPARE(stored.getWrkLogOffset(), 24u);
        QCOMPARE(stored.getActType(), uchar(11));
        QVERIFY(stored.isDaily());
        QVERIFY(!stored.isBitFont());
        QVERIFY(stored.isUploaded());
        QCOMPARE(stored.getRepeatCount(), uchar(7));
        QCOMPARE(stored.getWrkType(), uchar(5));
        QCOMPARE(stored.getSubType(), uchar(3));
        QCOMPARE(stored.getRteOffset(), 120u);
        QCOMPARE(stored.getNextOffset(), kNone);
        QCOMPARE(stored.getNameOffset(), 40u);
        QCOMPARE(stored.getDesOffset(), kNone);

        stored.setActType(0x12);
        stored.setBitFont(true);
        stored.setRepeatCount(0x3F);
        stored.setWrkType(0x0E);
        stored.setSubType(0xF4);
        QCOMPARE(QByteArray(bytes.constData() + 16, 3).toHex(), QByteArray("72dff4"));
    }

    void eraseEmptiesBothTables()
    {
        Image image;
        const QByteArray before = image.store.image();
        JXPSFWorkoutFrame_1_5 frame(image.frameStart(), &image.info, image.end());
        for (const char* name : {"Hills", "Tempo"}) {
            JXPSFWorkout_1_5* workout = frame.createWorkout({name}, {"eng"}, {"Up"}, {"eng"}, false, &image.info);
            QVERIFY(frame.createWorkoutInterval(workout, &image.info));
            QVERIFY(frame.createWorkoutInterval(workout, &image.info));
        }
        qToLittleEndian<quint32>(0x1234, image.frameStart() + 12);

        QVERIFY(frame.erase(&image.info));
        QVERIFY(frame.getWorkouts().isEmpty());
        QCOMPARE(image.count(), quint16(0));
        QCOMPARE(QByteArray(image.table(), int(image.tableSize())), QByteArray(int(image.tableSize()), char(0xFF)));
        QCOMPARE(QByteArray(image.intervals(), 0x3DE0), QByteArray(0x3DE0, char(0xFF)));
        QCOMPARE(image.header(JXExtFlashInfo_2M::WorkoutTableEnd), image.header(JXExtFlashInfo_2M::WorkoutTableStart));
        QCOMPARE(image.header(JXExtFlashInfo_2M::WorkoutRoomLeft), image.tableSize());
        QCOMPARE(image.header(JXExtFlashInfo_2M::IntervalTableEnd),
                 image.header(JXExtFlashInfo_2M::IntervalTableStart));
        QCOMPARE(image.header(JXExtFlashInfo_2M::IntervalRoomLeft), 0x3DE0u);
        QCOMPARE(u32(image.frameStart() + 12), 0x1234u);
        // Apart from the count and the last record offset, the image is as empty as before.
        QByteArray after = image.store.image();
        const int head = int(image.frameStart() - image.store.bytes());
        after.replace(head + 8, 2, before.mid(head + 8, 2));
        after.replace(head + 12, 4, before.mid(head + 12, 4));
        QVERIFY(after == before);

        QVERIFY(frame.createWorkout({"Again"}, {"eng"}, {}, {}, false, &image.info));
        QCOMPARE(frame.getWorkouts().at(0)->getData() - image.table(), qptrdiff(0));
    }

    void eraseWorkoutLogOffsetsChangesOnlyThem()
    {
        Image image;
        JXPSFWorkoutFrame_1_5 frame(image.frameStart(), &image.info, image.end());
        for (quint32 log : {0u, 40u}) {
            JXPSFWorkout_1_5* workout = frame.createWorkout({"Hills"}, {"eng"}, {}, {}, false, &image.info);
            QVERIFY(frame.createWorkoutInterval(workout, &image.info));
            workout->setWrkLogOffset(log);
        }
        QByteArray expected = image.store.image();
        for (JXPSFWorkout_1_5* workout : frame.getWorkouts())
            expected.replace(int(workout->getData() - image.store.bytes()) + 12, 4, QByteArray(4, char(0xFF)));

        frame.eraseWorkoutLogOffsset();
        QVERIFY(image.store.image() == expected);
    }

    // Tables the device or a fault left inconsistent load what lies inside them and stop.
    void damagedTablesAreBounded()
    {
        struct Case
        {
            const char* name;
            std::function<void(Image&)> damage;
            int workouts;
            int intervalsOfFirst;
            int namesOfLast;
        };
        const unsigned int tableSize = JXPSFTestImage::workout(Layout::A).tableSize;
        auto setCount = [](Image& image, quint16 count) { qToLittleEndian<quint16>(count, image.frameStart() + 8); };
        const Case cases[] = {
            {"count beyond the chain",
             [&](Image& image) {
                 setCount(image, 3);
                 put(image.table(), workoutRecord(40));
                 put(image.table() + 40, workoutRecord(kNone));
             },
             2, 0, 0},
            {"next outside the table",
             [&](Image& image) {
                 setCount(image, 2);
                 put(image.table(), workoutRecord(tableSize - 20));
             },
             1, 0, 0},
            {"next loops back",
             [&](Image& image) {
                 setCount(image, 0xFFFE);
                 put(image.table(), workoutRecord(40));
                 put(image.table() + 40, workoutRecord(0));
             },
             2, 0, 0},
            {"interval outside the table",
             [&](Image& image) {
                 setCount(image, 1);
                 put(image.table(), workoutRecord(kNone, 0x3DE0 - 12));
             },
             1, 0, 0},
            {"interval chain loops",
             [&](Image& image) {
                 setCount(image, 1);
                 put(image.table(), workoutRecord(kNone, 0));
                 qToLittleEndian<quint32>(24, image.intervals() + 4);
                 qToLittleEndian<quint32>(0, image.intervals() + 24 + 4);
             },
             1, 2, 0},
            {"interval chain longer than the table",
             [&](Image& image) {
                 // Overlapping records 4 bytes apart, each pointing to the next: never a repeat, so only the
                 // table's record count ends the chain.
                 setCount(image, 1);
                 put(image.table(), workoutRecord(kNone, 0));
                 for (quint32 offset = 4; offset + 4 <= 0x3DE0; offset += 4)
                     qToLittleEndian<quint32>(offset, image.intervals() + offset);
             },
             1, 0x3DE0 / 24, 0},
            {"name offset outside the table",
             [&](Image& image) {
                 setCount(image, 1);
                 put(image.table(), workoutRecord(kNone, kNone, 0xFFFFFF00));
             },
             1, 0, 0},
            {"names cross the table end",
             [&](Image& image) {
                 setCount(image, 2);
                 put(image.table(), workoutRecord(tableSize - 45));
                 put(image.table() + tableSize - 45, workoutRecord(kNone, kNone, 40));
             },
             2, 0, 0},
            {"workout table outside its area",
             [&](Image& image) {
                 qToLittleEndian<quint32>(0x100000, image.frameStart());
                 setCount(image, 1);
             },
             0, 0, 0},
            {"interval table outside its area",
             [&](Image& image) {
                 qToLittleEndian<quint32>(0x10, image.frameStart() + 4);
                 setCount(image, 1);
                 put(image.table(), workoutRecord(kNone, 0));
             },
             1, 0, 0},
        };
        for (const Case& test : cases) {
            Image image;
            test.damage(image);
            JXPSFWorkoutFrame_1_5 frame(image.frameStart(), &image.info, image.end());
            QVERIFY2(frame.getWorkouts().size() == test.workouts, test.name);
            if (test.workouts == 0)
                continue;
            QVERIFY2(frame.getWorkouts().first()->getIntervals().size() == test.intervalsOfFirst, test.name);
            QVERIFY2(frame.getWorkouts().last()->getNames().size() == test.namesOfLast, test.name);
        }
    }

    // Records of a table written out of order, or with gaps, are never overwritten by new ones.
    void newRecordsGoBehindTheFurthest()
    {
        Image image;
        qToLittleEndian<quint16>(3, image.frameStart() + 8);
        put(image.table(), workoutRecord(200, 24));
        put(image.table() + 200, workoutRecord(180));
        put(image.table() + 180, workoutRecord(kNone));
        JXPSFWorkoutFrame_1_5 frame(image.frameStart(), &image.info, image.end());
        QCOMPARE(frame.getWorkouts().size(), 3);
        QCOMPARE(frame.getFreeRecOffset(), 240u);
        JXPSFWorkout_1_5* workout = frame.createWorkout({"Hills"}, {"eng"}, {}, {}, false, &image.info);
        QCOMPARE(workout->getData() - image.table(), qptrdiff(240));
        QCOMPARE(frame.getWorkouts().at(2)->getNextOffset(), 240u);

        JXPSFInterval_1_5* interval = frame.createWorkoutInterval(workout, &image.info);
        QCOMPARE(interval->getData() - image.intervals(), qptrdiff(48));
    }

    // Nothing is created in, or erased from, a table that lies outside its area.
    void misplacedTablesAreNeverWritten()
    {
        Image image;
        qToLittleEndian<quint32>(0x100000, image.frameStart());
        qToLittleEndian<quint32>(0x10, image.frameStart() + 4);
        const QByteArray before = image.store.image();
        JXPSFWorkoutFrame_1_5 frame(image.frameStart(), &image.info, image.end());
        QVERIFY(!frame.createWorkout({"Hills"}, {"eng"}, {}, {}, false, &image.info));
        QVERIFY(image.store.image() == before);
        // Nor is the erase done by halves, or the flash header told that the tables are empty.
        QVERIFY(!frame.erase(&image.info));
        QVERIFY(image.store.image() == before);
    }

    void createUntilFull_data() { layouts_data(); }
    void createUntilFull()
    {
        QFETCH(Layout, layout);
        Image image(layout);
        JXPSFWorkoutFrame_1_5 frame(image.frameStart(), &image.info, image.end());
        const QStringList longName{QString(60000, QLatin1Char('x'))};
        unsigned int used = 0;
        int created = 0;
        for (; created < 20; ++created) {
            const QByteArray before = image.store.image();
            JXPSFWorkout_1_5* workout = frame.createWorkout(longName, {"eng"}, {}, {}, false, &image.info);
            if (!workout) {
                QVERIFY(image.store.image() == before);
                break;
            }
            used += workout->getBytesCount();
        }
        QCOMPARE(created, int(image.tableSize() / 60052));
        QCOMPARE(image.count(), quint16(created));
        QCOMPARE(image.header(JXExtFlashInfo_2M::WorkoutRoomLeft), image.tableSize() - used);
        // What is left still takes a workout that fits.
        QVERIFY(frame.createWorkout({"Hills"}, {"eng"}, {}, {}, false, &image.info));

        JXPSFWorkout_1_5* workout = frame.getWorkouts().first();
        for (int index = 0; index < 0x3DE0 / 24; ++index)
            QVERIFY(frame.createWorkoutInterval(workout, &image.info));
        const QByteArray full = image.store.image();
        QVERIFY(!frame.createWorkoutInterval(workout, &image.info));
        QVERIFY(image.store.image() == full);
        QCOMPARE(image.header(JXExtFlashInfo_2M::IntervalRoomLeft), 0u);
    }

    // The header's room left is honoured even where the table would still have space.
    void createHonoursTheRoomLeft()
    {
        Image image;
        qToLittleEndian<quint32>(73, image.at(JXExtFlashInfo_2M::WorkoutRoomLeft));
        qToLittleEndian<quint32>(23, image.at(JXExtFlashInfo_2M::IntervalRoomLeft));
        JXPSFWorkoutFrame_1_5 frame(image.frameStart(), &image.info, image.end());
        const QByteArray before = image.store.image();
        QVERIFY(!frame.createWorkout({"Hills", "Tempo"}, {"eng", "deu"}, {}, {}, false, &image.info));
        QVERIFY(image.store.image() == before);
        JXPSFWorkout_1_5* workout = frame.createWorkout({"Hills"}, {"eng"}, {}, {}, false, &image.info);
        QVERIFY(workout);
        const QByteArray withWorkout = image.store.image();
        QVERIFY(!frame.createWorkoutInterval(workout, &image.info));
        QVERIFY(image.store.image() == withWorkout);
    }
};

// Qt 5.15's offscreen platform never frees what it makes for its screen; the bitmap names need it.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:QGuiApplicationPrivate::createPlatformIntegration\n";
}

QTEST_MAIN(TestJXPSFWorkout)
#include "tst_jxpsfworkout.moc"
