#ifndef GHTRNMETADATA_H
#define GHTRNMETADATA_H

#include <QString>

// A training course's metadata, as the texts of the file.
class GHTrnMetadata
{
public:
    QString name;
    QString nameShort;
    QString desc;
    QString author;
    QString authorShort;
    QString time;
    QString sys;
    QString sysMajor;
    QString sysMinor;
    QString sysBuildMajor;
    QString sysBuildMinor;
};

#endif
