#ifndef JXZIPUTIL_H
#define JXZIPUTIL_H

#include "compress/jxcompress.h"

// Zip archives. Entries are named by the file's base name; packing reads each
// listed file by that base name from the current directory, so the caller
// makes the folder that holds them current first.
//
// Unpacking checks every entry name before writing anything: an archive with
// a name that would land outside the destination is refused as a whole. Each
// file is written under a temporary name and renamed into place only once its
// data and checksum proved good, and no symbolic link is created or followed
// below the destination.
class JXZipUtil : public JXCompress
{
    Q_OBJECT
public:
    explicit JXZipUtil(QObject* parent = nullptr);
    ~JXZipUtil() override;

    using JXCompress::compressFolder;

    bool compress(const QString& zipPath, const QStringList& files) override;
    bool decompress(const QString& zipPath, const QString& destination) override;
    bool compressFolder(const QString& zipPath, const QString& folder) override;

    // Stores (k - 1) / n after the k-th packed file, n counting every text of
    // the list; 1.0 is never stored.
    bool compress(const QString& zipPath, const QStringList& files, QMutex* mutex, float* progress) override;
    // Stores start + ((k - 1) / entries) * scale after the k-th entry, start
    // being the progress value on entry. Creates only the sub-folders that
    // entries name, so the destination must exist for top-level entries.
    bool decompress(const QString& zipPath, const QString& destination, QMutex* mutex, float* progress,
                    float scale) override;

    // Unpacking refuses, before it writes anything, an archive whose entries declare more than bytes in all; a
    // negative value (the default) sets no bound.
    void setSizeLimit(qint64 bytes) { m_sizeLimit = bytes; }

private:
    qint64 m_sizeLimit = -1;
};

#endif
