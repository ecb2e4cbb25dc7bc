#ifndef GHLIVELOCATION_H
#define GHLIVELOCATION_H

#include <QString>
#include <QtGlobal>

#include "location/ghlocation.h"

// A live position as the ride recorder gets it: speed and bearing beside the altitude, each stored times 10000 and
// meaningful only while its flag is set.
class GHLiveLocation : public GHLocation
{
public:
    explicit GHLiveLocation(const QString& provider);
    ~GHLiveLocation() override;

    QString getProvider() const { return m_provider; }

    float getSpeed() const;
    bool hasSpeed() const { return m_hasSpeed; }
    // A value without a 32-bit stored form (not a number, too large) clears the flag.
    void setSpeed(float speed);

    float getBearing() const;
    bool hasBearing() const { return m_hasBearing; }
    void setBearing(float bearing);

    // Stored forms; the smallest 32-bit integer means "none" for each of them.
    void setLiveData(int speed, int bearing, int altitude);

    // Everything but the id and the location type.
    void set(const GHLiveLocation* other);

private:
    bool m_hasSpeed;
    qint32 m_speed;
    bool m_hasBearing;
    qint32 m_bearing;
    QString m_provider;
};

#endif
