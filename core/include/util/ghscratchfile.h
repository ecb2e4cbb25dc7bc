#ifndef GHSCRATCHFILE_H
#define GHSCRATCHFILE_H

#include <QFile>

// A file that appears whole or not at all, as with QSaveFile: written under a hidden name beside its place
// (".name.part") and renamed over it by commit. Unlike QSaveFile it is not flushed to the disk: it is meant for files
// that are packed and deleted again, whose loss in a crash costs nothing, and whose flushes would cost a disk wait
// each. Only for writing; an uncommitted file is taken away when the object goes.
class GHScratchFile : public QFile
{
public:
    explicit GHScratchFile(const QString& path);
    ~GHScratchFile() override;

    // Creates the hidden file afresh (a leftover of an earlier attempt goes first); it gets the permissions of the
    // file it will replace, when there is one.
    bool open(OpenMode mode) override;
    // Closes the file and renames it over its place; false, with the file taken away, when a write or the rename
    // failed or writing was cancelled.
    bool commit();
    void cancelWriting();

private:
    QString m_path;
    bool m_cancelled = false;
};

#endif
