#ifndef GHTRNTARGET_H
#define GHTRNTARGET_H

#include <QString>

// An interval's target, as the texts of the file.
class GHTrnTarget
{
public:
    QString type;
    QString low;
    QString high;
    QString ishardcon;
};

#endif
