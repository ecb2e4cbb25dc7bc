#include <QtEndian>
#include <QtTest>

#include "jxmemorypsfstore.h"
#include "jxpsftestimage.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsfintervallog_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsfworkout_1_5.h"
#include "psf/gen2/jxpsfworkoutframe_1_5.h"
#include "psf/gen2/jxpsfworkoutlog_1_5.h"
#include "psf/gen2/jxpsfworkoutlogframe_1_5.h"
#include "psf/jxpsfarea.h"

#include <memory>
#include <vector>

using JXPSFTestImage::Layout;

namespace {

const quint32 kNone = 0xFFFFFFFF;
const unsigned int kListSize = 0x7FF0;

// A workout log as the device writes it: times, next, route offset, interval-log count, six unused bytes, then the
// interval logs' start and end times.
QByteArray logRecord(quint32 start, quint32 end, quint32 next, quint32 route, quint16 count,
                     const QVector<QPair<quint32, quint32>>& intervals = {})
{
    char head[24];
    memset(head, 0xFF, sizeof(head));
    qToLittleEndian<quint32>(start, head);
    qToLittleEndian<quint32>(end, head + 4);
    qToLittleEndian<quint32>(next, head + 8);
    qToLittleEndian<quint32>(route, head + 12);
    qToLittleEndian<quint16>(count, head + 16);
    QByteArray record(head, sizeof(head));
    for (const auto& interval : intervals) {
        char times[8];
        qToLittleEndian<quint32>(interval.first, times);
        qToLittleEndian<quint32>(interval.second, times + 4);
        record += QByteArray(times, sizeof(times));
    }
    return record;
}

// A route record with its next offset and no names, laps or track.
QByteArray routeRecord(quint32 next)
{
    char record[36];
    memset(record, 0xFF, sizeof(record));
    memset(record, 0, 8);
    qToLittleEndian<quint32>(next, record + 28);
    return QByteArray(record, sizeof(record));
}

// An empty table-A image with workouts (made through their frame) and room for device-written logs and routes.
struct Image
{
    explicit Image(int workoutCount = 2) : info(&store)
    {
        store.setImage(JXPSFTestImage::emptyImage(Layout::A));
        info.initialFlashDef(reinterpret_cast<const unsigned char*>("1510"));
        workoutFrame.reset(new JXPSFWorkoutFrame_1_5(at(JXPSFTestImage::workout(Layout::A).frameStart), &info, end()));
        for (int index = 0; index < workoutCount; ++index)
            workoutFrame->createWorkout({QString("W%1").arg(index)}, {"eng"}, {}, {}, false, &info);
    }

    char* at(unsigned int offset) { return store.bytes() + offset; }
    const char* end() { return store.bytes() + JXMemoryPSFStore::ImageSize; }
    char* logFrameStart() { return at(JXPSFTestImage::workoutLog(Layout::A).frameStart); }
    char* list() { return at(JXPSFTestImage::workoutLog(Layout::A).tableStart); }
    quint32 header(int field) { return qFromLittleEndian<quint32>(at(unsigned(field))); }
    QVector<JXPSFWorkout_1_5*>& workouts() { return workoutFrame->getWorkouts(); }

    void putLog(unsigned int offset, const QByteArray& log)
    {
        memcpy(list() + offset, log.constData(), size_t(log.size()));
    }

    // Stored routes at 0 and at each next offset, as the route frame would load them.
    QVector<JXPSFRoute_1_5*> routes(const QVector<quint32>& nextOffsets)
    {
        char* table = at(JXPSFTestImage::route(Layout::A).tableStart);
        const char* tableEnd = table + JXPSFTestImage::route(Layout::A).tableSize;
        QVector<JXPSFRoute_1_5*> made;
        quint32 offset = 0;
        for (quint32 next : nextOffsets) {
            const QByteArray record = routeRecord(next);
            memcpy(table + offset, record.constData(), size_t(record.size()));
            routeViews.emplace_back(new JXPSFRoute_1_5(table + offset, &noLaps, tableEnd));
            made.append(routeViews.back().get());
            offset = next;
        }
        return made;
    }

    JXMemoryPSFStore store;
    JXExtFlashInfo_2M info;
    std::unique_ptr<JXPSFWorkoutFrame_1_5> workoutFrame;
    JXPSFArea noLaps;
    std::vector<std::unique_ptr<JXPSFRoute_1_5>> routeViews;
};

} // namespace

// Rides of stored workouts: the logs each workout points to, attached to the routes of their recorded tracks.
class TestJXPSFWorkoutLog : public QObject
{
    Q_OBJECT

private slots:
    void logsAttachToTheRoutesTheyName()
    {
        Image image;
        image.workouts().at(0)->setWrkLogOffset(0);
        image.putLog(0, logRecord(1600000000, 1600003600, kNone, 60, 0));
        QVector<JXPSFRoute_1_5*> routes = image.routes({60, 96, kNone});

        JXPSFWorkoutLogFrame_1_5 frame(image.logFrameStart(), &image.info, image.end());
        QCOMPARE(frame.getWrkListOffset(), 16u);
        frame.loadWorkoutLogs(routes, image.workouts());
        // The routes lie at 0, 60 and 96 in the route table; the log names the second.
        QVERIFY(!routes.at(0)->getWorkoutLog());
        QVERIFY(!routes.at(2)->getWorkoutLog());
        JXPSFWorkoutLog_1_5* log = routes.at(1)->getWorkoutLog();
        QVERIFY(log);
        QCOMPARE(log->getWorkout(), image.workouts().at(0));
        QCOMPARE(log->getStartTime(), 1600000000u);
        QCOMPARE(log->getEndTime(), 1600003600u);
        QCOMPARE(log->getNext(), kNone);
        QCOMPARE(log->getRteOffset(), 60u);
        QCOMPARE(log->getItvLogCount(), quint16(0));
        QVERIFY(log->getIntervalLogs().isEmpty());
    }

    // The same route named twice keeps the log attached last: later workout, or later log of one chain.
    void theLastLogNamingARouteWins()
    {
        Image image(3);
        image.workouts().at(0)->setWrkLogOffset(0);
        image.workouts().at(1)->setWrkLogOffset(24);
        image.workouts().at(2)->setWrkLogOffset(48);
        image.putLog(0, logRecord(1, 2, kNone, 0, 0));
        image.putLog(24, logRecord(3, 4, kNone, 0, 0xFFFF));
        image.putLog(48, logRecord(5, 6, 72, 40, 0));
        image.putLog(72, logRecord(7, 8, kNone, 40, 0));
        QVector<JXPSFRoute_1_5*> routes = image.routes({40, kNone});

        JXPSFWorkoutLogFrame_1_5 frame(image.logFrameStart(), &image.info, image.end());
        frame.loadWorkoutLogs(routes, image.workouts());
        QCOMPARE(routes.at(0)->getWorkoutLog()->getStartTime(), 3u);
        QCOMPARE(routes.at(0)->getWorkoutLog()->getWorkout(), image.workouts().at(1));
        QCOMPARE(routes.at(1)->getWorkoutLog()->getStartTime(), 7u);
    }

    void intervalLogsFollowTheHead()
    {
        QByteArray bytes = logRecord(100, 900, kNone, 0, 3, {{100, 300}, {300, 600}, {0, 0}});
        JXPSFWorkoutLog_1_5 log(bytes.data(), nullptr, 100);
        QCOMPARE(log.getIntervalLogs().size(), 3);
        QCOMPARE(log.getIntervalLogs().at(0)->getStartTime(), 100u);
        QCOMPARE(log.getIntervalLogs().at(1)->getStartTime(), 300u);
        QCOMPARE(log.getIntervalLogs().at(1)->getEndTime(), 600u);
        QCOMPARE(log.getIntervalLogs().at(2)->getEndTime(), 0u);
        QCOMPARE(log.getBytesCount(), 48u);

        QByteArray absent = QByteArray::fromHex("64000000 84030000 ffffffff 00000000 ffff ffffffffffff");
        JXPSFWorkoutLog_1_5 none(absent.data(), nullptr, 100);
        QCOMPARE(none.getItvLogCount(), quint16(0));
        QVERIFY(none.getIntervalLogs().isEmpty());
    }

    void workoutsWithoutLogs()
    {
        Image image;
        QVector<JXPSFRoute_1_5*> routes = image.routes({kNone});
        JXPSFWorkoutLogFrame_1_5 frame(image.logFrameStart(), &image.info, image.end());
        // The internal step gives each route its log, here none.
        const QVector<JXPSFWorkoutLog_1_5*> logs =
            frame.loadWorkoutLogs(QVector<unsigned int>{kNone}, image.workouts());
        QCOMPARE(logs.size(), 1);
        QVERIFY(!logs.at(0));
        frame.loadWorkoutLogs(routes, image.workouts());
        QVERIFY(!routes.at(0)->getWorkoutLog());
    }

    // Logs the device or a fault left inconsistent are read as far as they lie inside the list.
    void damagedChainsAreBounded()
    {
        {
            Image image;
            image.workouts().at(0)->setWrkLogOffset(kListSize - 20);
            image.workouts().at(1)->setWrkLogOffset(0x7FFFFFF0);
            JXPSFWorkoutLogFrame_1_5 frame(image.logFrameStart(), &image.info, image.end());
            const auto logs = frame.loadWorkoutLogs(QVector<unsigned int>{kNone}, image.workouts());
            QVERIFY(!logs.at(0));
        }
        {
            // A count beyond the list end keeps the interval logs that fit.
            Image image;
            image.workouts().at(0)->setWrkLogOffset(kListSize - 40);
            image.putLog(kListSize - 40, logRecord(1, 2, kNone, 0, 0x7FFF));
            JXPSFWorkoutLogFrame_1_5 frame(image.logFrameStart(), &image.info, image.end());
            const auto logs = frame.loadWorkoutLogs(QVector<unsigned int>{kNone}, image.workouts());
            QVERIFY(logs.at(0));
            QCOMPARE(logs.at(0)->getItvLogCount(), quint16(0x7FFF));
            QCOMPARE(logs.at(0)->getIntervalLogs().size(), 2);
        }
        {
            // A chain that loops ends there, and the next workout's logs are still read.
            Image image;
            image.workouts().at(0)->setWrkLogOffset(0);
            image.workouts().at(1)->setWrkLogOffset(24);
            image.putLog(0, logRecord(1, 2, 0, 0, 0));
            image.putLog(24, logRecord(3, 4, kNone, 36, 0));
            JXPSFWorkoutLogFrame_1_5 frame(image.logFrameStart(), &image.info, image.end());
            const auto logs = frame.loadWorkoutLogs(QVector<unsigned int>{36, kNone}, image.workouts());
            QCOMPARE(logs.at(0)->getStartTime(), 1u);
            QCOMPARE(logs.at(1)->getStartTime(), 3u);
        }
        {
            // Overlapping logs 4 bytes apart, each pointing to the next, never repeat an offset: the list's size
            // ends the walk, and every log read stays inside it.
            Image image;
            image.workouts().at(0)->setWrkLogOffset(0);
            memset(image.list(), 0, kListSize);
            for (quint32 offset = 0; offset + 12 <= kListSize; offset += 4)
                qToLittleEndian<quint32>(offset + 4, image.list() + offset + 8);
            JXPSFWorkoutLogFrame_1_5 frame(image.logFrameStart(), &image.info, image.end());
            const auto logs = frame.loadWorkoutLogs(QVector<unsigned int>{kNone}, image.workouts());
            QCOMPARE(logs.size(), 1);
        }
        {
            // A list outside its area holds nothing and is never erased: the erase fails, and the flash header
            // still counts the logs that the area holds.
            Image image;
            qToLittleEndian<quint32>(0x100000, image.logFrameStart());
            image.workouts().at(0)->setWrkLogOffset(0);
            image.putLog(0, logRecord(1, 2, kNone, 0, 0));
            qToLittleEndian<quint32>(0xA9010 + 24, image.at(JXExtFlashInfo_2M::WorkoutLogTableEnd));
            qToLittleEndian<quint32>(kListSize - 24, image.at(JXExtFlashInfo_2M::WorkoutLogRoomLeft));
            const QByteArray before = image.store.image();
            JXPSFWorkoutLogFrame_1_5 frame(image.logFrameStart(), &image.info, image.end());
            QVERIFY(!frame.loadWorkoutLogs(QVector<unsigned int>{kNone}, image.workouts()).at(0));
            QVERIFY(!frame.eraseWorkoutLogTable(&image.info));
            QVERIFY(image.store.image() == before);
        }
    }

    void eraseEmptiesTheList()
    {
        Image image;
        image.workouts().at(0)->setWrkLogOffset(0);
        image.putLog(0, logRecord(1, 2, kNone, 0, 1, {{1, 2}}));
        qToLittleEndian<quint32>(0xA9010 + 32, image.at(JXExtFlashInfo_2M::WorkoutLogTableEnd));
        qToLittleEndian<quint32>(kListSize - 32, image.at(JXExtFlashInfo_2M::WorkoutLogRoomLeft));
        QVector<JXPSFRoute_1_5*> routes = image.routes({kNone});
        const QByteArray before = image.store.image();

        JXPSFWorkoutLogFrame_1_5 frame(image.logFrameStart(), &image.info, image.end());
        frame.loadWorkoutLogs(routes, image.workouts());
        QVERIFY(frame.eraseWorkoutLogTable(&image.info));
        QCOMPARE(QByteArray(image.list(), int(kListSize)), QByteArray(int(kListSize), char(0xFF)));
        QCOMPARE(image.header(JXExtFlashInfo_2M::WorkoutLogTableEnd),
                 image.header(JXExtFlashInfo_2M::WorkoutLogTableStart));
        QCOMPARE(image.header(JXExtFlashInfo_2M::WorkoutLogRoomLeft), kListSize);
        // The frame head and the area that follows the list are untouched.
        const QByteArray after = image.store.image();
        QVERIFY(after.mid(0xA9000, 16) == before.mid(0xA9000, 16));
        QVERIFY(after.mid(0xB1000, 64) == before.mid(0xB1000, 64));
        // The route still points to a log that lives on.
        QVERIFY(routes.at(0)->getWorkoutLog());
        QCOMPARE(routes.at(0)->getWorkoutLog()->getIntervalLogs().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestJXPSFWorkoutLog)
#include "tst_jxpsfworkoutlog.moc"
