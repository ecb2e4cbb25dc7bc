#ifndef GHGPXMETADATA_H
#define GHGPXMETADATA_H

#include <QString>
#include <QVector>

// One zone set of the user: entry i of low and high bounds zone i + 1; both lists have the same length.
class GHGpxMetaZone
{
public:
    QString type;
    QVector<int> low;
    QVector<int> high;
};

// The user's bike.
class GHGpxMetaBike
{
public:
    QString name;
    QString weight;
    QString type;
    QString wheel;
    QString bike; // character content of the bike element
};

// The user part of the metadata extensions. Device code fills it; no file import does.
class GHGpxMetaUser
{
public:
    QString name;
    QString gender;
    QString weight;
    QString age;
    QString height;
    QString mhr;
    QString lthr;
    QString map;
    QString ftp;
    QString strideLongDist;
    QString strideSprint;
    QString raceTime;
    QString raceDist;
    GHGpxMetaBike bike;
    QVector<GHGpxMetaZone> zones;
};

// The metadata of a document with the maker's extension texts; everything is held by value.
class GHGpxMetadata
{
public:
    QString name;
    QString shortName;
    QString desc;
    QString authorName;
    QString authorEmail;
    QString authorLink;
    QString time;
    QString boundsMinLat;
    QString boundsMinLon;
    QString boundsMaxLat;
    QString boundsMaxLon;
    QString userProfilePath; // an XML file written in place of the user part when it exists

    GHGpxMetaUser user;

    // Carried between device exports and imports; never read from or written to a file.
    QString deviceWeight;
    QString deviceBikeId;
    QString deviceSpare;
    QString sys;
    QString sysVersion;
    QString sharetype;
    QString sctry;
    QString ectry;
    QString splace;
    QString eplace;
    QString acttype;
    QString rtetype;
    QString trvtime;
    QString trvdist;
    QString appName;
    QString appVersion;
    QString stime;
    QString etime;
    QString acttypeSubtype;
    QString poollen;
};

#endif
