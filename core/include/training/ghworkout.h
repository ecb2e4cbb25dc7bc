#ifndef GHWORKOUT_H
#define GHWORKOUT_H

#include <QDateTime>
#include <QString>
#include <QVector>

#include "training/ghtrnexportable.h"

class GHLocale;
class QXmlStreamWriter;

// The target range of an interval; its units depend on type and are not interpreted here.
class GHIntervalTarget
{
public:
    GHIntervalTarget();
    GHIntervalTarget(int type, int low, int high, int isHard);

    int type;
    int low;
    int high;
    int isHard; // non-zero: the range is a hard limit
};

class GHIntervalDuration
{
public:
    GHIntervalDuration();
    GHIntervalDuration(int type, int value);

    void setSegment(int start, int end);
    bool withSegment() const;

    int type; // 0: no duration
    int value;
    int segStart;
    int segEnd;
    bool hasSegment;
};

class GHWorkoutInterval
{
public:
    GHWorkoutInterval(unsigned int id, QString name);

    // The caller owns the copy.
    GHWorkoutInterval* clone() const;
    QString getName() const;
    // A manual interval never stops by itself; another one does when it has a duration.
    bool isAutoStopped() const;

    quint32 id;
    QString name;
    bool needLap;
    GHIntervalTarget target;
    GHIntervalDuration duration;
    int nextIid; // the interval to jump to afterwards; -1: none
    int repeat;  // how often the jump is taken
    int isManual;
    int logreso; // 0 or less: not given
    // The storage names the stored interval after it: 0 "Other", 1 "Warmup", 2 "Work", 3 "Steady", 4 "Cool-down",
    // 5 "Recovery", 6 "Sprint".
    int intervalType;
};

// A planned workout as the route database stores it. Written into a training-course file through GHTrnWriter, which
// writes the frame around what writeMeta and writeWorkout write. Owns its intervals.
class GHWorkout final : public GHTrnExportable
{
public:
    // The stored "wtype"; devices name no value, and the plain listing keeps 5 apart.
    enum WorkoutType : qint32 {};

    GHWorkout(unsigned int wid, QString name);
    ~GHWorkout();

    // Every field and a copy of every interval; the caller owns the copy.
    GHWorkout* clone() const;

    // The entry of the locale's ISO 639-2 code (upper case) of a multi-language text, the English one without a
    // locale.
    QString getName(GHLocale* locale) const;
    QString getDesc(GHLocale* locale) const;
    QString getCreateTime() const;
    int getRunIntervalCount() const;

    void writeMeta(QXmlStreamWriter& writer) override;
    void writeWorkout(QXmlStreamWriter& writer) override;
    void writeInterval(GHWorkoutInterval* interval, QXmlStreamWriter& writer);

    quint32 rowId; // the Workout row's "id"
    quint32 wid;
    quint32 orgid;
    WorkoutType type;
    int subtype;
    int listOrder;
    int acttype;
    int daily; // any non-zero value repeats daily in a file; the database keeps only 1
    int repeat;
    // Heart-rate and power references for a ride's workout log; not stored in the database.
    int lthr;
    int mhr;
    int map;
    int ftp;
    QString name; // possibly a multi-language text
    QString desc;
    QString createTime;
    QDateTime time; // UTC
    bool detailLoaded;
    bool oneshot; // deleted from the database once exported or once its ride is deleted
    QVector<GHWorkoutInterval*> intervals;
    int runIntervalCount;

private:
    Q_DISABLE_COPY(GHWorkout)
};

#endif
