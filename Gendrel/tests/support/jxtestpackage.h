#ifndef JXTESTPACKAGE_H
#define JXTESTPACKAGE_H

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// Zip archives and software packages made in memory, for tests and demonstrations.
namespace JXTestPackage {

// Names and contents, in the order they go into an archive.
using Entries = QList<QPair<QString, QByteArray>>;

// A zip archive holding the entries; empty when it cannot be made.
QByteArray zipBytes(const Entries& entries);

// Stands in for firmware: the same bytes for the same seed on every run.
QByteArray seededBytes(int size, quint32 seed);

// A package as the update server hands it out ("Total.zip"): its "release.ini", then the images (and anything
// else) it carries. Empty when it cannot be made.
QByteArray packageBytes(const QByteArray& releaseIni, const Entries& images);

} // namespace JXTestPackage

#endif // JXTESTPACKAGE_H
