#ifndef GHTRACELOG_H
#define GHTRACELOG_H

#include <QString>

// Process-wide settings of the ride-log layer. Plain statics without a lock: the device side sets them on the main
// thread when a device connects, before any ride-log work for that device starts.
class GHTraceLog
{
public:
    // The connected device's model name; "Zelto50" until a device sets it.
    static void setModelName(const QString& modelName);
    static QString getModelName();

private:
    static QString ms_modelName;
};

#endif
