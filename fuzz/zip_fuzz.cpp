// libFuzzer target for unpacking an arbitrary archive, as the driver unpacks a downloaded package. The input is the
// archive; it is unpacked into scratch/dest, which holds a link to a sentinel folder beside scratch. Whatever the
// archive holds and whether unpacking succeeds, nothing may appear outside dest, the sentinel must stay as it was,
// and dest may hold only folders and regular files (the link excepted), with no temporary file left behind.

#include "compress/jxziputil.h"

#include <QCoreApplication>
#include <QSet>

#include <quazip.h>

#include <cstdint>

#include "fuzzsupport.h"

using JXFuzz::require;

namespace {

QString s_root;
QString s_archive;
QString s_scratch;
QString s_destination;
QString s_sentinel;
QByteArray s_sentinelSnapshot;
const QString kLinkName = QStringLiteral("outside");
const qint64 kSizeLimit = 4096;

void prepareDestination()
{
    JXFuzz::removeTree(s_scratch);
    require(QDir().mkpath(s_destination), "cannot make the destination");
    require(QFile::link(s_sentinel, s_destination + QLatin1Char('/') + kLinkName), "cannot make the link");
}

// Every path the archive names, where the unpacker puts it, with the folders on the way. An archive may name a
// file or folder like one of the unpacker's temporaries, but a temporary never takes a name the archive gives: a
// name of that kind that the archive does not give is one left behind.
QSet<QString> namedPaths(const QString& archive)
{
    QSet<QString> paths;
    QuaZip zip(archive);
    if (!zip.open(QuaZip::mdUnzip))
        return paths;
    for (const QString& name : zip.getFileNameList()) {
        const QString path = QDir::cleanPath(name);
        paths.insert(path);
        for (int slash = path.indexOf(QLatin1Char('/')); slash >= 0; slash = path.indexOf(QLatin1Char('/'), slash + 1))
            paths.insert(path.left(slash));
    }
    return paths;
}

void checkOutcome()
{
    require(JXFuzz::entriesOf(s_root) == QStringList({"archive.zip", "scratch", "sentinel"}),
            "something appeared beside the scratch folder");
    require(JXFuzz::entriesOf(s_scratch) == QStringList({"dest"}), "something appeared beside the destination");
    require(JXFuzz::snapshotOf(s_sentinel) == s_sentinelSnapshot, "the sentinel folder changed");
    QSet<QString> named;
    bool namesRead = false;
    for (const JXFuzz::TreeEntry& entry : JXFuzz::treeOf(s_destination)) {
        if (entry.kind == 'l') {
            require(entry.path == kLinkName, "unpacking made a link");
            continue;
        }
        require(entry.kind == 'f' || entry.kind == 'd', "unpacking made something other than a file or folder");
        if (entry.path.section(QLatin1Char('/'), -1).startsWith(QLatin1String(".jxunzip-"))) {
            if (!namesRead) {
                named = namedPaths(s_archive);
                namesRead = true;
            }
            require(named.contains(entry.path), "unpacking left a temporary file");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    JXFuzz::silenceMessages();
    s_root = JXFuzz::scratchRoot("zip");
    s_archive = s_root + QLatin1String("/archive.zip");
    s_scratch = s_root + QLatin1String("/scratch");
    s_destination = s_scratch + QLatin1String("/dest");
    s_sentinel = s_root + QLatin1String("/sentinel");
    require(JXFuzz::writeFile(s_sentinel + QLatin1String("/keep.txt"), "sentinel\n") &&
                QDir().mkpath(s_sentinel + QLatin1String("/sub")),
            "cannot make the sentinel");
    s_sentinelSnapshot = JXFuzz::snapshotOf(s_sentinel);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    require(JXFuzz::writeFile(s_archive, QByteArray(reinterpret_cast<const char*>(data), int(size))),
            "cannot write the archive");
    prepareDestination();
    JXZipUtil zip;
    // Every other input is unpacked with a size bound, which the files written must keep whatever the entries claim.
    const bool bounded = size % 2 == 1;
    if (bounded)
        zip.setSizeLimit(kSizeLimit);
    zip.decompress(s_archive, s_destination);
    checkOutcome();
    if (bounded) {
        qint64 written = 0;
        for (const JXFuzz::TreeEntry& entry : JXFuzz::treeOf(s_destination)) {
            if (entry.kind == 'f')
                written += QFileInfo(s_destination + QLatin1Char('/') + entry.path).size();
        }
        require(written <= kSizeLimit, "unpacking wrote more than the size bound");
    }
    return 0;
}
