#ifndef JXPSFWORKOUTFRAME_1_5_H
#define JXPSFWORKOUTFRAME_1_5_H

#include <QStringList>
#include <QVector>

#include "psf/jxpsfarea.h"

class JXExtFlashInfo_2M;
class JXPSFWorkout_1_5;
class JXPSFInterval_1_5;

// The planned workouts of the second-generation data store: the workout table in the workout area and the interval
// table in the interval area, located by the frame's 16-byte head (little-endian):
//   0  u32  workout table, from the frame start
//   4  u32  interval table, from the frame start
//   8  u16  workout count (0xFFFF reads as 0)
//   10      2 bytes not used
//   12 u32  last record offset
// Owns the workout views. A table that does not start inside its layout area is absent: nothing is loaded from it,
// created in it or erased there.
class JXPSFWorkoutFrame_1_5
{
public:
    static const unsigned int HeadSize = 16;

    // The caller keeps the head inside the image, which ends at imageEnd and is info's flash size long.
    JXPSFWorkoutFrame_1_5(char* frame, const JXExtFlashInfo_2M* info, const char* imageEnd);
    ~JXPSFWorkoutFrame_1_5();

    JXPSFWorkoutFrame_1_5(const JXPSFWorkoutFrame_1_5&) = delete;
    JXPSFWorkoutFrame_1_5& operator=(const JXPSFWorkoutFrame_1_5&) = delete;

    QVector<JXPSFWorkout_1_5*>& getWorkouts() { return m_workouts; }

    unsigned short getWrkCount() const;
    void setWrkCount(unsigned short count);
    unsigned int getWkrTblOffset() const;
    unsigned int getWrkLstOffset() const;
    void setLastRecOffset(unsigned int offset);

    // Where the next workout goes, from the workout table start.
    unsigned int getFreeRecOffset();

    // Appends a workout with its names and descriptions (a missing code is empty) and returns it, owned by the
    // frame. Null, with nothing written, when it does not fit in the room left or in the table.
    JXPSFWorkout_1_5* createWorkout(QStringList names, QStringList nameCodes, QStringList descriptions,
                                    QStringList descriptionCodes, bool bitFont, JXExtFlashInfo_2M* flash);
    // Appends an interval to one of this frame's workouts and returns it, owned by the workout. Null, with nothing
    // written, when it does not fit.
    JXPSFInterval_1_5* createWorkoutInterval(JXPSFWorkout_1_5* workout, JXExtFlashInfo_2M* flash);

    // Deletes every workout and empties both tables. False, changing nothing, without a flash header to record it or
    // when either table is absent.
    bool erase(JXExtFlashInfo_2M* flash);
    // After the workout-log table was emptied: no workout names a log any more.
    void eraseWorkoutLogOffsset();

private:
    void loadWorkouts();

    QVector<JXPSFWorkout_1_5*> m_workouts;
    char* m_data;
    JXPSFArea m_workoutTable;
    JXPSFArea m_intervalTable;
};

#endif
