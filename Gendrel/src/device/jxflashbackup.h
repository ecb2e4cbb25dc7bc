#ifndef JXFLASHBACKUP_H
#define JXFLASHBACKUP_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// Where the flash-image clients keep the user's data before they erase a device: files in the user-data folder,
// written beside their place and renamed, never overwritten by a later write-back. Runs on the client's thread.
//
// Which images are worth keeping is the family's to say ("holds a data store"): its flash header is there and
// its profile block is not erased. A blank device fails the first test and a write-back cut off midway the second,
// since both generations write the profile block among the last; such an image never takes the place of a backup
// that holds the user's data.
namespace JXFlashBackup {

// How many timed backups of one model the user-data folder keeps.
const int KeptBackups = 5;

// The file of that name in the user-data folder.
QString userDataPath(const QString& fileName);

// True when every byte of [start, start + size) of image is 0xFF; false for a range outside the image.
bool isErased(const QByteArray& image, int start, int size);

// The timed backups "<stem>-<yyyyMMddThhmmss>Z.dat" (a second one within the same second: "...Z-2.dat" and so on)
// in the user-data folder, full paths, oldest first by the time in their names.
QStringList timedBackups(const QString& stem);

// Keeps image as a new timed backup stamped with the clock's local time in UTC, unless the newest backup already
// holds the same bytes, then removes the oldest ones beyond KeptBackups. A new backup is on the disk, name and all
// (the folder flushed), before this returns. False (logged) when the new backup cannot be written whole or the
// folder cannot be flushed; nothing is removed then.
bool keepTimedBackup(const QString& stem, const QByteArray& image);

// The second generation's dump file: whole flashes of dumpSize bytes, one after the other, the newest last. When
// the file is larger than limit or ends in a part of a dump, drops dumps oldest first until it fits, but never the
// newest one that holds a data store, whatever the file's size then; a trailing part of a dump always goes. True
// when nothing had to change or the file was rewritten; false (logged) when it could not be, the file left as it was.
bool trimDumps(const QString& path, int dumpSize, qint64 limit,
               const std::function<bool(const QByteArray&)>& holdsDataStore);

} // namespace JXFlashBackup

#endif
