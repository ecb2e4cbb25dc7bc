#ifndef JXREALMOUNT_H
#define JXREALMOUNT_H

#include <QString>
#include <QStringList>

// A real mount made by a test (root only), taken down again when the object
// goes, whatever became of the test.
class JXRealMount
{
public:
    JXRealMount() = default;
    ~JXRealMount();
    JXRealMount(const JXRealMount&) = delete;
    JXRealMount& operator=(const JXRealMount&) = delete;

    static bool isPossible();

    // mount(8) with the arguments, then the mount point.
    bool mount(const QStringList& arguments, const QString& mountPoint);
    // A tmpfs of the given size ("1m", "64k") on mountPoint.
    bool mountTmpfs(const QString& mountPoint, const QString& size);
    // A fresh ext2 file system of sizeBytes in image (made here), loop-mounted
    // on mountPoint, with reservedPercent of its blocks kept for the superuser.
    bool mountExt2Image(const QString& image, qint64 sizeBytes, int reservedPercent, const QString& mountPoint);
    // The mount is gone by other means: nothing to take down.
    void forget() { m_mountPoint.clear(); }

private:
    QString m_mountPoint;
};

// Whether the operating-system layer lists a mount on mountPoint, from whatever tree it reads now (the machine's or
// a simulated one).
bool isMountListed(const QString& mountPoint);

#endif
