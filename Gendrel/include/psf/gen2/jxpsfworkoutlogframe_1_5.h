#ifndef JXPSFWORKOUTLOGFRAME_1_5_H
#define JXPSFWORKOUTLOGFRAME_1_5_H

#include <QVector>

#include "psf/jxpsfarea.h"

class JXExtFlashInfo_2M;
class JXPSFRoute_1_5;
class JXPSFWorkout_1_5;
class JXPSFWorkoutLog_1_5;

// The rides of the stored workouts: the workout-log list in the workout-log area, located by the frame's head (u32
// list offset from the frame start, then 12 unused bytes). A workout points to the first of its logs, each log to
// the next one and to the route record of its recorded track. The frame owns every log it makes; routes only point
// to them. A list that does not start inside its layout area is absent.
class JXPSFWorkoutLogFrame_1_5
{
public:
    static const unsigned int HeadSize = 16;

    // The caller keeps the head inside the image, which ends at imageEnd and is info's flash size long.
    JXPSFWorkoutLogFrame_1_5(char* frame, const JXExtFlashInfo_2M* info, const char* imageEnd);
    ~JXPSFWorkoutLogFrame_1_5();

    JXPSFWorkoutLogFrame_1_5(const JXPSFWorkoutLogFrame_1_5&) = delete;
    JXPSFWorkoutLogFrame_1_5& operator=(const JXPSFWorkoutLogFrame_1_5&) = delete;

    unsigned int getWrkListOffset() const;

    // Makes every workout's logs and gives each route the log that names its record last (later workout, or later
    // log in a chain). A route that no log names keeps what it had.
    void loadWorkoutLogs(QVector<JXPSFRoute_1_5*>& routes, QVector<JXPSFWorkout_1_5*>& workouts);
    // The same with the routes given by their next offsets, in route order: the first route's record lies at 0 in
    // the route table, each further one at the next offset of the one before. Returns the log of each route, null
    // for none.
    QVector<JXPSFWorkoutLog_1_5*> loadWorkoutLogs(const QVector<unsigned int>& routeNextOffsets,
                                                  QVector<JXPSFWorkout_1_5*>& workouts);

    // Empties the list. The logs stay allocated, as routes may still point to them; the caller clears the workouts'
    // log offsets. False, changing nothing, without a flash header to record it or without a list in its area.
    bool eraseWorkoutLogTable(JXExtFlashInfo_2M* flash);

private:
    char* m_data;
    JXPSFArea m_list;
    QVector<JXPSFWorkoutLog_1_5*> m_logs;
};

#endif
