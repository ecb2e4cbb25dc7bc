#ifndef JXSHAREPACKAGE_H
#define JXSHAREPACKAGE_H

#include <QFileInfoList>
#include <QString>

// The shared packages that the flash-image clients import: a zip of GPX files (some named ".pmz") and ".wrk"
// training courses.
class JXSharePackage
{
public:
    // Empties folder, unpacks the package into it and names its ".pmz" files ".gpx"; files receives the files
    // unpacked. False (logged) when the package does not unpack.
    static bool unpack(const QString& package, const QString& folder, QFileInfoList& files);
};

#endif
