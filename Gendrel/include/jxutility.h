#ifndef JXUTILITY_H
#define JXUTILITY_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include "device/stregdevinfo.h"

class QMutex;

// File, folder and volume helpers of the device library. Every operation is
// static, keeps no state between calls and may run on any thread.
//
// Symbolic links are never followed by the folder walks: a link to a folder is
// not descended, a link is not copied, counted, sized or sampled, and the
// removals delete the link itself, never what it points to.
class JXUtility : public QObject
{
    Q_OBJECT
public:
    explicit JXUtility(QObject* parent = nullptr) : QObject(parent) {}

    // ---- Files and folders ----------------------------------------------

    // True when nothing is left at path (also for an empty path).
    static bool deleteFile(const QString& path);
    // Adds the owner write bit to path (recursively for a folder, links left
    // alone) and to its parent folder, so that a following removal can work.
    // Always true.
    static bool removeFileReadonly(const QString& path);
    // Removes a folder with all its content, hidden and read-only entries too.
    static bool deleteDir(const QString& folder);
    // Removes a folder tree of non-hidden entries; stops at the first failure.
    static bool rmDir(const QString& folder);
    // Replaces destination by a plain copy of source's non-hidden tree.
    static bool cpDir(const QString& source, const QString& destination);

    // Copies one file, retrying up to attempts times, and carries the source's
    // modification time over. The copy is written beside the destination and
    // renamed into place only when complete, so a failed copy leaves an
    // existing destination untouched. unused1 and unused2 are ignored.
    static bool copyFile(const QString& source, const QString& destination, bool overwrite = true, int attempts = 10,
                         int retryWaitMs = 5, void* unused1 = nullptr, void* unused2 = nullptr,
                         bool skipWhenSame = false, int tolerance = 0, bool* copied = nullptr);

    // Copies a folder tree file by file, raising *progress (guarded by
    // *mutex) from its value on entry by span over all matching files.
    static bool copyFolder(const QString& source, const QString& destination, QMutex* mutex, float* progress,
                           float span, int pauseMs, bool skipWhenSame, int tolerance, const QString& nameFilter,
                           QStringList* copiedFiles);
    // The same walk without progress, filter or pause. unused1 and unused2
    // are ignored.
    static bool copyFolder(const QString& source, const QString& destination, void* unused1 = nullptr,
                           void* unused2 = nullptr, QStringList* copiedFiles = nullptr);

    static qint64 FilesInFolder(const QString& folder, const QString& nameFilter);
    static void getFileListUnderFolder(const QString& folder, QStringList& list);
    static qint64 getFolderSize(const QString& folder);

    // Append 100-byte blocks taken every 1100 bytes, and the file's last 100.
    static void crcgetSampleFromFile(const QString& path, QByteArray& sample);
    static void crcgetSampleFromDir(const QString& folder, QByteArray& sample);

    // A flag file holds the single byte "1".
    static void setFlagFile(const QString& path, bool set);
    static bool batchRenameFileExt(QStringList& list, const QString& from, const QString& to);

    static QString findDeviceIni(const QString& volume);
    static QString findDeviceText(const QString& volume);

    // Reads back the last 1024 bytes of every file, so that a device has to
    // deliver what was written; failures are only logged.
    static void checkCopiedFilesCompletion(const QStringList& list);

    static void csvline_populate(QList<QByteArray>& record, const QByteArray& line, char delimiter);
    // size is in kilobytes; "1.5 MB", "1024 KB", "1 GB".
    static QString convertSize(float size);
    // A value of an INI file as text: one written by hand as a,b reads back as a list.
    static QString settingText(const QVariant& value);

    // ---- Volumes (jxutility_volume.cpp) ------------------------------------

    // Mount points of the removable volumes of a file-system type ("msdos",
    // "cd9660"), in mount-table order.
    static QStringList getRemovebleDrives(QString type);
    // False when drive is not a mount point; the outputs are then untouched.
    static bool getStorage(QString drive, qint64& total, qint64& free);
    static QString getDriveLabel(QString drive);
    // The USB vendor name of the device behind the volume.
    static QString getDriveName(QString drive);
    static bool isJXDeviceUSB();
    static bool isJXDeviceSCSI();

    // ---- Registry matching, time texts, language packs (jxutility_registry.cpp)

    // The first row whose match text occurs anywhere in a raw-flash device's
    // signature bytes; null when none does. A pointer into rows.
    static stRegDevInfo* getRegistryDevice(QByteArray signature, QVector<stRegDevInfo>& rows);
    // Every row, in row order, one of whose ":"-separated match words occurs
    // in the vendor name, case ignored; an empty word matches every name.
    static QVector<stRegDevInfo*> getRegistryDevices(QString vendor, QVector<stRegDevInfo>& rows);

    // Unix time and text, both in UTC, with a QDateTime format.
    static QString tm_i2s(quint32 time, QString format);
    // 0 when the text does not parse; 4294967295 for a time before 1970.
    static quint32 tm_s2i(QString text, QString format);

    // Unpacks a language pack into scratchFolder (emptied first) and appends
    // to names the English name of every language whose code stands between
    // two underscores in the name of a top-level entry. A pack that unpacks
    // to more than sizeLimit bytes is refused (a negative limit sets none).
    static bool getSupportLanguage(QString zipFile, QString scratchFolder, QStringList& names,
                                   qint64 sizeLimit = -1);
    // Starts the training application from the install folder its settings
    // name; false when it was not started.
    static bool launchSportTracks();
};

#endif
