#include "psf/gen2/jxpsfworkoutlogframe_1_5.h"

#include <QHash>
#include <QtEndian>

#include <cstring>

#include "jxlog.h"
#include "psf/gen2/jxextflashinfo_2m.h"
#include "psf/gen2/jxpsfintervallog_1_5.h"
#include "psf/gen2/jxpsfroute_1_5.h"
#include "psf/gen2/jxpsfworkout_1_5.h"
#include "psf/gen2/jxpsfworkoutlog_1_5.h"

namespace {

const int kListOffset = 0;

const quint32 kNone = 0xFFFFFFFF;

} // namespace

JXPSFWorkoutLogFrame_1_5::JXPSFWorkoutLogFrame_1_5(char* frame, const JXExtFlashInfo_2M* info, const char* imageEnd)
    : m_data(frame)
{
    if (!frame || !info || !imageEnd || frame >= imageEnd) {
        JX_WARNING << "workout-log frame without an image or a layout";
        return;
    }
    m_list = JXPSFArea::table(JXPSFTable::WorkoutLog, frame, HeadSize, getWrkListOffset(), info, imageEnd);
}

JXPSFWorkoutLogFrame_1_5::~JXPSFWorkoutLogFrame_1_5()
{
    qDeleteAll(m_logs);
}

unsigned int JXPSFWorkoutLogFrame_1_5::getWrkListOffset() const
{
    return qFromLittleEndian<quint32>(m_data + kListOffset);
}

void JXPSFWorkoutLogFrame_1_5::loadWorkoutLogs(QVector<JXPSFRoute_1_5*>& routes, QVector<JXPSFWorkout_1_5*>& workouts)
{
    QVector<unsigned int> nextOffsets;
    nextOffsets.reserve(routes.size());
    for (JXPSFRoute_1_5* route : qAsConst(routes))
        nextOffsets.append(route->getNextOffset());
    const QVector<JXPSFWorkoutLog_1_5*> logs = loadWorkoutLogs(nextOffsets, workouts);
    for (int index = 0; index < routes.size(); ++index) {
        if (logs.at(index))
            routes.at(index)->setWorkoutLog(logs.at(index));
    }
}

QVector<JXPSFWorkoutLog_1_5*> JXPSFWorkoutLogFrame_1_5::loadWorkoutLogs(const QVector<unsigned int>& routeNextOffsets,
                                                                        QVector<JXPSFWorkout_1_5*>& workouts)
{
    QVector<JXPSFWorkoutLog_1_5*> routeLogs(routeNextOffsets.size(), nullptr);
    QHash<quint32, int> routeAt;
    quint32 recordOffset = 0;
    for (int index = 0; index < routeNextOffsets.size(); ++index) {
        // A repeated offset keeps its first route, as a lookup from the start of the list would find it.
        if (!routeAt.contains(recordOffset))
            routeAt.insert(recordOffset, index);
        recordOffset = routeNextOffsets.at(index);
    }

    // In a sound list no two logs overlap, so all of them together take at most the list's bytes. Spending that
    // budget ends loops and overlapping chains.
    quint64 bytesLeft = m_list.size();
    for (JXPSFWorkout_1_5* workout : qAsConst(workouts)) {
        JXPSFVisitedOffsets visited;
        quint32 offset = workout->getWrkLogOffset();
        while (offset != kNone) {
            if (!visited.insert(offset)) {
                JX_WARNING << "workout-log chain loops at" << offset;
                break;
            }
            char* head = m_list.at(offset, JXPSFWorkoutLog_1_5::HeadSize);
            if (!head) {
                JX_WARNING << "workout log at" << offset << "lies outside the workout-log list";
                break;
            }
            if (bytesLeft < JXPSFWorkoutLog_1_5::HeadSize) {
                JX_WARNING << "workout logs take more than the workout-log list; the rest is ignored";
                return routeLogs;
            }
            const quint64 intervalRoom =
                qMin<quint64>(quint64(m_list.end() - head), bytesLeft) - JXPSFWorkoutLog_1_5::HeadSize;
            auto* log =
                new JXPSFWorkoutLog_1_5(head, workout, unsigned(intervalRoom / JXPSFIntervalLog_1_5::RecordSize));
            m_logs.append(log);
            bytesLeft -= log->getBytesCount();
            const auto route = routeAt.constFind(log->getRteOffset());
            if (route != routeAt.constEnd())
                routeLogs[route.value()] = log;
            offset = log->getNext();
        }
    }
    return routeLogs;
}

bool JXPSFWorkoutLogFrame_1_5::eraseWorkoutLogTable(JXExtFlashInfo_2M* flash)
{
    char* header = flash ? flash->getFlashHeader() : nullptr;
    if (!header) {
        JX_WARNING << "cannot erase the workout logs without a flash header";
        return false;
    }
    // Without a list in its area nothing is erased: the flash header and the workouts' log offsets keep saying
    // what the area holds.
    if (m_list.isEmpty()) {
        JX_WARNING << "no workout-log list to erase";
        return false;
    }
    memset(m_list.begin(), 0xFF, m_list.size());
    qToLittleEndian<quint32>(qFromLittleEndian<quint32>(header + JXExtFlashInfo_2M::WorkoutLogTableStart),
                             header + JXExtFlashInfo_2M::WorkoutLogTableEnd);
    qToLittleEndian<quint32>(flash->getFlashDef()[JXExtFlashInfo_2M::WorkoutLogTableSize],
                             header + JXExtFlashInfo_2M::WorkoutLogRoomLeft);
    return true;
}
