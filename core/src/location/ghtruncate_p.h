#ifndef GHTRUNCATE_P_H
#define GHTRUNCATE_P_H

#include <QtGlobal>

// Truncates toward zero into 32 bits. Converting a value outside that range, or one that is not a number, is undefined
// in C++; such a value gives false and leaves result alone. A float widens to double exactly, so float callers get the
// same truncation as a float-to-int conversion.
inline bool ghTruncateToInt(double value, qint32& result)
{
    if (!(value > -2147483649.0 && value < 2147483648.0))
        return false;
    result = static_cast<qint32>(value);
    return true;
}

#endif
