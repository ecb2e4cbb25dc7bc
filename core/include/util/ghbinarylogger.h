#ifndef GHBINARYLOGGER_H
#define GHBINARYLOGGER_H

#include <QString>

// Writer and reader of the binary ride logs. The system version lives here because new log headers carry it.
class GHBinaryLogger
{
public:
    static QString ms_systemVersion;
};

#endif
