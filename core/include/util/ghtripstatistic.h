#ifndef GHTRIPSTATISTIC_H
#define GHTRIPSTATISTIC_H

#include <QtGlobal>

// Statistics of one lap or of a whole trip, in the units of whoever made them. A plain record, copied as a whole;
// a new one is all zero. A ride's list holds its laps in order and the whole-trip summary last.
struct GHTripStatistic
{
    struct Range
    {
        float max = 0;
        float min = 0;
        float avg = 0;
    };

    // The device's "no step counter".
    static constexpr float NO_STEPS = 65535.0f;

    quint32 startTime = 0; // seconds since 1970, UTC
    quint32 endTime = 0;
    float rideTime = 0;
    float distance = 0;
    float calorie = 0;
    float step = 0;
    float altLoss = 0;
    float altGain = 0;
    qint32 gainAltLen = 0;
    qint32 lostAltLen = 0;
    qint32 gainAltTime = 0;
    qint32 lostAltTime = 0;
    Range heartRate;
    Range cadence;
    Range speed;
    Range temperature;
    Range power;
    Range altitude;
    Range downSlope;
    Range upSlope;
};

#endif
