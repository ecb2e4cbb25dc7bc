#ifndef JXQUOTED_H
#define JXQUOTED_H

#include <QString>

// A path or name for a log line, in double quotes so that spaces and empty names show.
inline QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

#endif
