#include "device/jxhemlar30.h"

JXHemlar30::JXHemlar30() = default;

JXHemlar30::~JXHemlar30() = default;

bool JXHemlar30::initial()
{
    QByteArray profile;
    if (!readProfileBlock(profile))
        return false;
    QString model;
    getName(model);
    // A device that was never set up has a zero where its profile keeps a set value.
    if (model == QLatin1String("Hemlar30"))
        return profile.at(0x376) != 0;
    if (model == QLatin1String("Hemlar35") || model == QLatin1String("Zelto20"))
        return profile.at(0x4AA) != 0;
    return true;
}
