// One side of the unpack and copy benchmark; bench/zip_copy.sh times it
// against Info-ZIP unzip and cp on the same workloads.
//
//   bench_zip_copy make-images DIR   a few images of 20 to 50 MB
//   bench_zip_copy make-small DIR    2000 files of about 2 KB in 20 folders
//   bench_zip_copy unzip ARCHIVE DEST
//   bench_zip_copy copy SOURCE DEST  every file below SOURCE, folders kept

#include "compress/jxziputil.h"
#include "jxutility.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLoggingCategory>

#include <cstdio>

#include "benchsupport.h"

namespace {


QByteArray textData(int size, quint32 seed)
{
    static const char* const words[] = {"track",    "point", "speed", "cadence", "heart",   "rate", "lap", "climb",
                                        "distance", "time",  "power", "route",   "segment", "map",  "tile"};
    QByteArray data;
    quint32 state = seed * 2654435761u + 777u;
    while (data.size() < size) {
        state = state * 1664525u + 1013904223u;
        data += words[(state >> 16) % 15];
        data += '=';
        data += QByteArray::number((state >> 8) % 100000);
        data += (state & 7) == 0 ? '\n' : ' ';
    }
    data.truncate(size);
    return data;
}

bool makeImages(const QString& folder)
{
    QDir().mkpath(folder);
    const int sizesMb[] = {20, 30, 40, 50};
    for (int index = 0; index < 4; ++index) {
        if (!writeFile(folder + QString("/image%1.img").arg(index), imageData(qint64(sizesMb[index]) << 20, index)))
            return false;
    }
    return true;
}

bool makeSmall(const QString& folder)
{
    for (int index = 0; index < 2000; ++index) {
        const QString subFolder = folder + QString("/part%1").arg(index / 100, 2, 10, QLatin1Char('0'));
        QDir().mkpath(subFolder);
        const int size = 1536 + int((quint32(index) * 2654435761u >> 20) % 1024);
        if (!writeFile(subFolder + QString("/file%1.txt").arg(index, 4, 10, QLatin1Char('0')), textData(size, index)))
            return false;
    }
    return true;
}

// The caller's side of the copy, kept to what cp does itself: walk the tree
// and make each folder once.
bool copyTree(const QString& sourceArgument, const QString& destination)
{
    const QString source = QDir::cleanPath(sourceArgument);
    QDirIterator it(source, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    QString lastFolder;
    while (it.hasNext()) {
        const QString sourcePath = it.next();
        // The iterator's paths start with source and "/".
        const QString destinationPath = destination + sourcePath.midRef(source.size());
        const QString folder = destinationPath.left(destinationPath.lastIndexOf(QLatin1Char('/')));
        if (folder != lastFolder) {
            QDir().mkpath(folder);
            lastFolder = folder;
        }
        if (!JXUtility::copyFile(sourcePath, destinationPath, true, 10, 5))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietHandler);
    // As the log at its default level, which leaves debug lines out before
    // they are built.
    QLoggingCategory::defaultCategory()->setEnabled(QtDebugMsg, false);
    const QStringList args = app.arguments();
    const QString command = args.value(1);

    bool ok = false;
    if (command == "make-images" && args.size() == 3)
        ok = makeImages(args[2]);
    else if (command == "make-small" && args.size() == 3)
        ok = makeSmall(args[2]);
    else if (command == "unzip" && args.size() == 4)
        ok = JXZipUtil().decompress(args[2], args[3]);
    else if (command == "copy" && args.size() == 4)
        ok = copyTree(args[2], args[3]);
    else
        std::fprintf(stderr,
                     "usage: bench_zip_copy make-images|make-small DIR | unzip ARCHIVE DEST | copy SOURCE DEST\n");
    return ok ? 0 : 1;
}
