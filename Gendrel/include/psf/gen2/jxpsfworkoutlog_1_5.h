#ifndef JXPSFWORKOUTLOG_1_5_H
#define JXPSFWORKOUTLOG_1_5_H

#include <QVector>

class JXPSFIntervalLog_1_5;
class JXPSFWorkout_1_5;

// One ride of a stored workout: a 24-byte head in the workout-log list, followed by its 8-byte interval logs.
// Little-endian:
//   0  u32  start time
//   4  u32  end time
//   8  u32  the same workout's next log, from the list start; 0xFFFFFFFF on the last
//   12 u32  the recorded track's route record, from the route table start
//   16 u16  interval-log count (0xFFFF reads as 0)
//   18      6 bytes not used
//   24      the interval logs
// Owns its interval-log views; the workout belongs to the workout frame.
class JXPSFWorkoutLog_1_5
{
public:
    static const unsigned int HeadSize = 24;

    // Loads at most maxIntervalLogs interval logs: the caller knows where the list ends.
    JXPSFWorkoutLog_1_5(char* head, JXPSFWorkout_1_5* workout, unsigned int maxIntervalLogs);
    ~JXPSFWorkoutLog_1_5();

    JXPSFWorkoutLog_1_5(const JXPSFWorkoutLog_1_5&) = delete;
    JXPSFWorkoutLog_1_5& operator=(const JXPSFWorkoutLog_1_5&) = delete;

    unsigned int getStartTime() const;
    unsigned int getEndTime() const;
    unsigned int getNext() const;
    unsigned int getRteOffset() const;
    // After the route table was packed, so that the log still names its ride.
    void setRteOffset(unsigned int offset);
    unsigned short getItvLogCount() const;
    JXPSFWorkout_1_5* getWorkout() const { return m_workout; }
    QVector<JXPSFIntervalLog_1_5*>& getIntervalLogs() { return m_intervalLogs; }

    // Head and interval logs as loaded.
    unsigned int getBytesCount() const;

private:
    char* m_data;
    QVector<JXPSFIntervalLog_1_5*> m_intervalLogs;
    JXPSFWorkout_1_5* m_workout;
};

#endif
