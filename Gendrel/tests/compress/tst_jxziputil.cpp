#include "compress/jxziputil.h"

#include <QDirIterator>
#include <QMutex>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <QtTest>

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jxrealmount.h"

namespace {

struct Entry
{
    QString name;
    QByteArray data;
    QDateTime time = QDateTime(QDate(2021, 6, 15), QTime(10, 20, 30));
    int method = Z_DEFLATED;
    const char* password = nullptr;
    bool link = false; // data is the link target
};
using Entries = QVector<Entry>;

bool writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.flush();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool setModified(const QString& path, const QDateTime& time)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime);
}

// Somewhat compressible, like real images: runs of a few distinct bytes
// between noise.
QByteArray sampleData(int size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    quint32 state = seed * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        data[i] = char((state >> 24) & ((i / 512) % 2 ? 0xFF : 0x07));
    }
    return data;
}

bool makeArchive(const QString& zipPath, const Entries& entries)
{
    QuaZip zip(zipPath);
    if (!zip.open(QuaZip::mdCreate))
        return false;
    for (const Entry& entry : entries) {
        QuaZipNewInfo info(entry.name);
        if (entry.time.isValid())
            info.dateTime = entry.time;
        if (entry.link) {
            info.externalAttr = 0120777u << 16;
            zip.setOsCode(3); // external attributes read as Unix modes
        }
        QuaZipFile file(&zip);
        if (!file.open(QIODevice::WriteOnly, info, entry.password, 0, entry.method,
                       entry.method == 0 ? 0 : Z_DEFAULT_COMPRESSION))
            return false;
        if (file.write(entry.data) != entry.data.size())
            return false;
        file.close();
        if (file.getZipError() != UNZ_OK)
            return false;
    }
    zip.close();
    return zip.getZipError() == UNZ_OK;
}

QMap<QString, QByteArray> archiveContents(const QString& zipPath)
{
    QMap<QString, QByteArray> contents;
    // An archive without entries is its bare 22-byte end record, which QuaZip does not open.
    if (readFile(zipPath).startsWith("PK\x05\x06") && QFileInfo(zipPath).size() == 22)
        return contents;
    QuaZip zip(zipPath);
    if (!zip.open(QuaZip::mdUnzip))
        return {{QStringLiteral("<cannot open>"), QByteArray()}};
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        QuaZipFile file(&zip);
        file.open(QIODevice::ReadOnly);
        contents.insert(file.getActualFileName(), file.readAll());
    }
    return contents;
}

// Every path below the folder, hidden ones (temporary files) included.
QStringList listTree(const QString& folder)
{
    QStringList paths;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.append(QDir(folder).relativeFilePath(it.next()));
    paths.sort();
    return paths;
}

// The archive with its end record replaced by a zip64 one that claims the given number of entries (the 64-bit
// count that a few bytes can make as large as they like). The archive must have no comment.
QByteArray withZip64EntryCount(const QByteArray& archive, quint64 entries)
{
    const int endOffset = archive.size() - 22;
    const QByteArray end = archive.mid(endOffset);
    const quint32 directorySize = qFromLittleEndian<quint32>(end.constData() + 12);
    const quint32 directoryOffset = qFromLittleEndian<quint32>(end.constData() + 16);

    QByteArray zip64End;
    {
        QDataStream out(&zip64End, QIODevice::WriteOnly);
        out.setByteOrder(QDataStream::LittleEndian);
        out << quint32(0x06064b50) << quint64(44) // the size of what follows
            << quint16(45) << quint16(45) << quint32(0) << quint32(0) << entries << entries
            << quint64(directorySize) << quint64(directoryOffset);
    }

    QByteArray locator;
    {
        QDataStream out(&locator, QIODevice::WriteOnly);
        out.setByteOrder(QDataStream::LittleEndian);
        out << quint32(0x07064b50) << quint32(0) << quint64(endOffset) << quint32(1);
    }

    // The classic record's fields say "see the zip64 record".
    QByteArray classicEnd = end;
    classicEnd.replace(8, 12, QByteArray(12, char(0xFF)));
    return archive.left(endOffset) + zip64End + locator + classicEnd;
}

qint64 modifiedSecs(const QString& path)
{
    return QFileInfo(path).lastModified().toSecsSinceEpoch();
}

} // namespace

Q_DECLARE_METATYPE(Entries)

class TestJXZipUtil : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void roundTripKeepsContentAndTimes();
    void compressNamesAndSkips_data();
    void compressNamesAndSkips();
    void compressFolderPacksItsFiles();
    void decompressCreatesFoldersAndReplacesFiles();
    void outputThatCannotBeCreatedFails_data();
    void outputThatCannotBeCreatedFails();

    void compressProgressSequence();
    void compressProgressCountsSkippedTexts_data();
    void compressProgressCountsSkippedTexts();
    void decompressProgress_data();
    void decompressProgress();
    void progressVariantsRules();

    void hostileArchiveWritesNothing_data();
    void hostileArchiveWritesNothing();
    void existingLinkInDestinationIsNotFollowed_data();
    void existingLinkInDestinationIsNotFollowed();
    void brokenArchive_data();
    void brokenArchive();
    void declaredSizesAndChecksumAreChecked_data();
    void declaredSizesAndChecksumAreChecked();
    void namesLikeTemporariesAreKept_data();
    void namesLikeTemporariesAreKept();
    void entryCountIsNotTrusted_data();
    void entryCountIsNotTrusted();
    void fullVolume();

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }

    QScopedPointer<QTemporaryDir> m_dir;
    QString m_previousCurrent;
};

void TestJXZipUtil::init()
{
    m_previousCurrent = QDir::currentPath();
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void TestJXZipUtil::cleanup()
{
    QDir::setCurrent(m_previousCurrent);
    m_dir.reset();
}

void TestJXZipUtil::roundTripKeepsContentAndTimes()
{
    const QDateTime evenTime(QDate(2021, 6, 15), QTime(10, 20, 30));
    const QDateTime oddTime(QDate(2019, 1, 2), QTime(3, 4, 5, 678));
    QVERIFY(writeFile(path("src/a.txt"), "alpha"));
    QVERIFY(writeFile(path("src/big.bin"), sampleData(1500 * 1024 + 7, 1)));
    QVERIFY(writeFile(path("src/empty.dat"), QByteArray()));
    QVERIFY(setModified(path("src/a.txt"), evenTime));
    QVERIFY(setModified(path("src/big.bin"), oddTime));
    QVERIFY(setModified(path("src/empty.dat"), evenTime));

    QVERIFY(QDir::setCurrent(path("src")));
    JXZipUtil zipUtil;
    QVERIFY(zipUtil.compress(path("pack.zip"), {path("src/a.txt"), path("src/big.bin"), path("src/empty.dat")}));
    QVERIFY(zipUtil.decompress(path("pack.zip"), path("out")));

    QCOMPARE(listTree(path("out")), QStringList({"a.txt", "big.bin", "empty.dat"}));
    for (const QString& name : QStringList{"a.txt", "big.bin", "empty.dat"})
        QCOMPARE(readFile(path("out/") + name), readFile(path("src/") + name));
    // Zip keeps times to two seconds, rounded down.
    QCOMPARE(modifiedSecs(path("out/a.txt")), evenTime.toSecsSinceEpoch());
    QCOMPARE(modifiedSecs(path("out/big.bin")), oddTime.toSecsSinceEpoch() - 1);
    QCOMPARE(modifiedSecs(path("out/empty.dat")), evenTime.toSecsSinceEpoch());
}

void TestJXZipUtil::compressNamesAndSkips_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("list path, content by base name from the current folder")
        << QStringList{"logs/a.log"} << true << QStringList{"a.log=current a"};
    QTest::newRow("folder, missing file and the archive itself are skipped")
        << QStringList{"sub", "missing.txt", "out.zip", "b.txt"} << true << QStringList{"b.txt=bee"};
    QTest::newRow("empty list") << QStringList{} << true << QStringList{};
    QTest::newRow("base name missing from the current folder")
        << QStringList{"b.txt", "logs/only.log"} << false << QStringList{"old archive"};
}

void TestJXZipUtil::compressNamesAndSkips()
{
    QFETCH(QStringList, files);
    QFETCH(bool, result);
    QFETCH(QStringList, entries);

    QVERIFY(writeFile(path("work/a.log"), "current a"));
    QVERIFY(writeFile(path("work/logs/a.log"), "logs a"));
    QVERIFY(writeFile(path("work/logs/only.log"), "only in logs"));
    QVERIFY(writeFile(path("work/b.txt"), "bee"));
    QVERIFY(QDir().mkpath(path("work/sub")));
    QVERIFY(writeFile(path("work/out.zip"), "old archive"));
    QVERIFY(QDir::setCurrent(path("work")));

    if (!result)
        QTest::ignoreMessage(QtWarningMsg, "JXZipUtil::compress(): inFile.open(): No such file or directory");
    QCOMPARE(JXZipUtil().compress("out.zip", files), result);

    if (result) {
        const QMap<QString, QByteArray> contents = archiveContents(path("work/out.zip"));
        QStringList found;
        for (auto it = contents.cbegin(); it != contents.cend(); ++it)
            found.append(it.key() + "=" + QString::fromLatin1(it.value()));
        QCOMPARE(found, entries);
    } else {
        // A failed pack leaves no half archive: the earlier file stays as it was.
        QCOMPARE(QString::fromLatin1(readFile(path("work/out.zip"))), entries.value(0));
    }
    QCOMPARE(listTree(path("work")).filter("out.zip"), QStringList{"out.zip"});
}

void TestJXZipUtil::compressFolderPacksItsFiles()
{
    QVERIFY(writeFile(path("folder/x.txt"), "ex"));
    QVERIFY(writeFile(path("folder/y.txt"), "why"));
    QVERIFY(writeFile(path("folder/inner/z.txt"), "not packed"));
    QVERIFY(QDir::setCurrent(path("folder")));

    QVERIFY(JXZipUtil().compressFolder(path("folder.zip"), path("folder")));
    const QMap<QString, QByteArray> expected{{"x.txt", "ex"}, {"y.txt", "why"}};
    QCOMPARE(archiveContents(path("folder.zip")), expected);
}

void TestJXZipUtil::decompressCreatesFoldersAndReplacesFiles()
{
    const QDateTime time(QDate(2020, 2, 29), QTime(23, 59, 58));
    Entries entries{{"sub/x.bin", sampleData(300000, 2), time}, {"top.txt", "new", time}, {"empty/", {}, time}};
    QVERIFY(makeArchive(path("a.zip"), entries));

    // Into a destination that does not exist yet.
    QVERIFY(JXZipUtil().decompress(path("a.zip"), path("new/dest")));
    QCOMPARE(listTree(path("new/dest")), QStringList({"empty", "sub", "sub/x.bin", "top.txt"}));
    QCOMPARE(readFile(path("new/dest/sub/x.bin")), entries[0].data);
    QCOMPARE(modifiedSecs(path("new/dest/sub/x.bin")), time.toSecsSinceEpoch());
    QCOMPARE(modifiedSecs(path("new/dest/top.txt")), time.toSecsSinceEpoch());

    // Over an existing longer file, and over a link whose target must stay untouched.
    QVERIFY(writeFile(path("old/top.txt"), "a much longer old content"));
    QVERIFY(writeFile(path("outside.txt"), "outside"));
    QVERIFY(QDir().mkpath(path("old/sub")));
    QVERIFY(QFile::link(path("outside.txt"), path("old/sub/x.bin")));
    QVERIFY(JXZipUtil().decompress(path("a.zip"), path("old")));
    QCOMPARE(readFile(path("old/top.txt")), QByteArray("new"));
    QVERIFY(!QFileInfo(path("old/sub/x.bin")).isSymLink());
    QCOMPARE(readFile(path("old/sub/x.bin")), entries[0].data);
    QCOMPARE(readFile(path("outside.txt")), QByteArray("outside"));
}

void TestJXZipUtil::outputThatCannotBeCreatedFails_data()
{
    QTest::addColumn<QString>("entryName");
    QTest::addColumn<QString>("blocker");

    QTest::newRow("a non-empty folder has the file's name") << QString("f") << QString("f/keep");
    QTest::newRow("a file has the folder's name") << QString("sub/x") << QString("sub");
}

void TestJXZipUtil::outputThatCannotBeCreatedFails()
{
    QFETCH(QString, entryName);
    QFETCH(QString, blocker);

    QVERIFY(makeArchive(path("a.zip"), {{entryName, "data"}}));
    QVERIFY(writeFile(path("dest/") + blocker, "blocker"));
    QVERIFY(!JXZipUtil().decompress(path("a.zip"), path("dest")));
    QCOMPARE(readFile(path("dest/") + blocker), QByteArray("blocker"));
    QVERIFY(listTree(path("dest")).filter(".jxunzip").isEmpty());
}

void TestJXZipUtil::compressProgressSequence()
{
    // The files are read from pipes: the packer waits at each open until the
    // test writes that file, so the test sees every value stored before it.
    const int count = 4;
    QStringList files;
    for (int k = 1; k <= count; ++k) {
        const QString name = QString("f%1").arg(k);
        QVERIFY(writeFile(path("lists/") + name, "listed"));
        QCOMPARE(::mkfifo(QFile::encodeName(path(name)).constData(), 0600), 0);
        files.append("lists/" + name);
    }
    QVERIFY(QDir::setCurrent(m_dir->path()));

    QMutex mutex;
    float progress = -1.0f;
    bool result = false;
    QScopedPointer<QThread> worker(
        QThread::create([&] { result = JXZipUtil().compress("out.zip", files, &mutex, &progress); }));
    const auto release = qScopeGuard([&] {
        // Unblocks a packer left waiting at a pipe when a check failed.
        for (int attempt = 0; attempt < 100 && !worker->wait(10); ++attempt) {
            for (int k = 1; k <= count; ++k)
                ::close(::open(QFile::encodeName(path(QString("f%1").arg(k))).constData(), O_RDWR | O_NONBLOCK));
        }
    });
    worker->start();

    QList<float> seen;
    for (int k = 1; k <= count; ++k) {
        const QByteArray pipe = QFile::encodeName(path(QString("f%1").arg(k)));
        int fd = -1;
        // Opens only once the packer waits at this pipe, which is after it stored the previous value.
        const auto openWhenRead = [&] {
            if (fd < 0)
                fd = ::open(pipe.constData(), O_WRONLY | O_NONBLOCK);
            return fd >= 0;
        };
        QTRY_VERIFY(openWhenRead());
        {
            QMutexLocker locker(&mutex);
            seen.append(progress);
        }
        ::fcntl(fd, F_SETFL, 0);
        const QByteArray content = "content " + QByteArray::number(k);
        QCOMPARE(::write(fd, content.constData(), size_t(content.size())), ssize_t(content.size()));
        ::close(fd);
    }
    QTRY_VERIFY(worker->isFinished());
    seen.append(progress);

    QVERIFY(result);
    QCOMPARE(seen, QList<float>({-1.0f, 0.0f, 0.25f, 0.5f, 0.75f}));
    QCOMPARE(archiveContents(path("out.zip")).value("f4"), QByteArray("content 4"));
}

void TestJXZipUtil::compressProgressCountsSkippedTexts_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<float>("last");

    QTest::newRow("one file") << QStringList{"a"} << 0.0f;
    QTest::newRow("three of four texts packed") << QStringList{"a", "missing", "b", "c"} << 0.5f;
    QTest::newRow("folder and missing counted") << QStringList{"a", "sub", "missing", "b"} << 0.25f;
}

void TestJXZipUtil::compressProgressCountsSkippedTexts()
{
    QFETCH(QStringList, files);
    QFETCH(float, last);

    for (const QString& name : QStringList{"a", "b", "c"})
        QVERIFY(writeFile(path(name), name.toLatin1()));
    QVERIFY(QDir().mkpath(path("sub")));
    QVERIFY(QDir::setCurrent(m_dir->path()));

    QMutex mutex;
    float progress = -1.0f;
    QVERIFY(JXZipUtil().compress("out.zip", files, &mutex, &progress));
    QCOMPARE(progress, last);
}

void TestJXZipUtil::decompressProgress_data()
{
    QTest::addColumn<int>("entryCount");
    QTest::addColumn<float>("start");
    QTest::addColumn<float>("scale");
    QTest::addColumn<float>("last");

    QTest::newRow("two entries from 0.2 by 0.5") << 2 << 0.2f << 0.5f << 0.45f;
    QTest::newRow("four entries from 0 by 1") << 4 << 0.0f << 1.0f << 0.75f;
    QTest::newRow("five entries from 0.5 by 0.25") << 5 << 0.5f << 0.25f << 0.7f;
}

void TestJXZipUtil::decompressProgress()
{
    QFETCH(int, entryCount);
    QFETCH(float, start);
    QFETCH(float, scale);
    QFETCH(float, last);

    Entries entries;
    for (int k = 0; k < entryCount; ++k)
        entries.append({QString("e%1").arg(k), QByteArray::number(k)});
    QVERIFY(makeArchive(path("a.zip"), entries));
    QVERIFY(QDir().mkpath(path("dest")));

    QMutex mutex;
    float progress = start;
    QVERIFY(JXZipUtil().decompress(path("a.zip"), path("dest"), &mutex, &progress, scale));
    QCOMPARE(progress, last);
    QCOMPARE(listTree(path("dest")).size(), entryCount);
}

void TestJXZipUtil::progressVariantsRules()
{
    QVERIFY(writeFile(path("a"), "a"));
    QVERIFY(QDir::setCurrent(m_dir->path()));
    QVERIFY(makeArchive(path("top.zip"), {{"top.txt", "top"}}));
    QVERIFY(makeArchive(path("sub.zip"), {{"sub/x.txt", "x"}}));
    QMutex mutex;
    float progress = 0.0f;
    JXZipUtil zipUtil;

    // Without a mutex nothing happens at all.
    QVERIFY(!zipUtil.compress("none.zip", {"a"}, nullptr, &progress));
    QVERIFY(!QFile::exists(path("none.zip")));
    QVERIFY(!zipUtil.decompress(path("sub.zip"), path("none"), nullptr, &progress, 1.0f));
    QVERIFY(!QFile::exists(path("none")));

    // Only entries in a sub-folder create folders; a top-level entry needs an
    // existing destination and fails without one.
    QVERIFY(!zipUtil.decompress(path("top.zip"), path("missing"), &mutex, &progress, 1.0f));
    QVERIFY(!QFile::exists(path("missing")));
    QVERIFY(zipUtil.decompress(path("sub.zip"), path("created"), &mutex, &progress, 1.0f));
    QCOMPARE(readFile(path("created/sub/x.txt")), QByteArray("x"));
}

void TestJXZipUtil::hostileArchiveWritesNothing_data()
{
    QTest::addColumn<Entries>("entries");

    // The destination is base/dest; every escape aims at base.
    QTest::newRow("parent") << Entries{{"../x", "x"}};
    QTest::newRow("absolute") << Entries{{"<base>/x", "x"}};
    QTest::newRow("parent inside a path") << Entries{{"a/../../x", "x"}};
    QTest::newRow("backslashes") << Entries{{"a\\..\\x", "x"}};
    QTest::newRow("drive prefix") << Entries{{"C:/x", "x"}};
    QTest::newRow("good entry before a bad one") << Entries{{"good.txt", "good"}, {"../x", "x"}};
    QTest::newRow("write through an absolute link entry")
        << Entries{{"l", "<base>", {}, Z_DEFLATED, nullptr, true}, {"l/x", "x"}};
    QTest::newRow("write through a relative link entry")
        << Entries{{"l", "..", {}, Z_DEFLATED, nullptr, true}, {"l/x", "x"}};
    QTest::newRow("link entry then a folder entry through it")
        << Entries{{"l", "..", {}, Z_DEFLATED, nullptr, true}, {"l/", {}}};
    // "@" stands for a zero byte, which the system would take for the end of the name.
    QTest::newRow("zero byte in a folder name") << Entries{{"dir@/x", "x"}};
    QTest::newRow("zero byte in a file name") << Entries{{"x.txt@.jxunzip-00000000", "x"}};
}

void TestJXZipUtil::hostileArchiveWritesNothing()
{
    QFETCH(Entries, entries);

    const QString base = path("base");
    QVERIFY(QDir().mkpath(base));
    for (Entry& entry : entries) {
        entry.name.replace("<base>", base);
        entry.data.replace("<base>", QFile::encodeName(base));
    }
    QVERIFY(makeArchive(path("hostile.zip"), entries));
    // minizip ends names at a zero byte, so it is put into the archive's bytes afterwards.
    QByteArray bytes = readFile(path("hostile.zip"));
    for (const Entry& entry : qAsConst(entries)) {
        if (entry.name.contains('@'))
            bytes.replace(entry.name.toUtf8(), entry.name.toUtf8().replace('@', '\0'));
    }
    QVERIFY(writeFile(path("hostile.zip"), bytes));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refusing archive"));
    QVERIFY(!JXZipUtil().decompress(path("hostile.zip"), base + "/dest"));
    QCOMPARE(listTree(base), QStringList());
}

void TestJXZipUtil::existingLinkInDestinationIsNotFollowed_data()
{
    QTest::addColumn<QString>("linkPath");
    QTest::addColumn<QString>("entryName");

    QTest::newRow("link as a top folder") << QString("out") << QString("out/x");
    QTest::newRow("link deeper down") << QString("a/out") << QString("a/out/deeper/x");
    QTest::newRow("link as a folder entry") << QString("out") << QString("out/");
}

void TestJXZipUtil::existingLinkInDestinationIsNotFollowed()
{
    QFETCH(QString, linkPath);
    QFETCH(QString, entryName);

    QVERIFY(QDir().mkpath(path("outside")));
    QVERIFY(QDir().mkpath(QFileInfo(path("dest/") + linkPath).absolutePath()));
    QVERIFY(QFile::link(path("outside"), path("dest/") + linkPath));
    QVERIFY(makeArchive(path("a.zip"), {{entryName, "x"}}));

    QVERIFY(!JXZipUtil().decompress(path("a.zip"), path("dest")));
    QCOMPARE(listTree(path("outside")), QStringList());
}

void TestJXZipUtil::brokenArchive_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("result");

    QTest::newRow("truncated") << "truncated" << false;
    QTest::newRow("stored data changed (checksum)") << "stored-flip" << false;
    QTest::newRow("deflated data changed") << "deflated-flip" << false;
    QTest::newRow("not a zip") << "text" << false;
    QTest::newRow("empty file") << "zero" << false;
    QTest::newRow("encrypted entry") << "encrypted" << false;
    QTest::newRow("archive without entries") << "no-entries" << true;
}

void TestJXZipUtil::brokenArchive()
{
    QFETCH(QString, kind);
    QFETCH(bool, result);

    const QString zipPath = path("broken.zip");
    const QByteArray data = sampleData(200000, 3);
    if (kind == "text") {
        QVERIFY(writeFile(zipPath, "this is a text file, not an archive\n"));
    } else if (kind == "zero") {
        QVERIFY(writeFile(zipPath, QByteArray()));
    } else if (kind == "encrypted") {
        QVERIFY(makeArchive(zipPath, {{"secret.bin", data, {}, Z_DEFLATED, "password"}}));
    } else if (kind == "no-entries") {
        QVERIFY(makeArchive(zipPath, {}));
    } else {
        QVERIFY(makeArchive(zipPath, {{"entry.bin", data, {}, kind == "stored-flip" ? 0 : Z_DEFLATED}}));
        QByteArray bytes = readFile(zipPath);
        if (kind == "truncated") {
            bytes.truncate(bytes.size() / 2);
        } else {
            // The local header is 30 bytes, then the name and the extra field.
            const auto field = [&](int offset) { return uchar(bytes[offset]) | uchar(bytes[offset + 1]) << 8; };
            const int dataStart = 30 + field(26) + field(28);
            bytes[dataStart + 1000] = char(bytes[dataStart + 1000] ^ 0x55);
        }
        QVERIFY(writeFile(zipPath, bytes));
    }

    QCOMPARE(JXZipUtil().decompress(zipPath, path("dest")), result);
    if (result)
        QVERIFY(!QFile::exists(path("dest")));
    // Never a complete-looking file, nor a leftover temporary one.
    const QStringList written = listTree(path("dest"));
    QVERIFY2(written.filter(".bin").isEmpty(), qPrintable(written.join(' ')));
    QVERIFY2(written.filter(".jxunzip").isEmpty(), qPrintable(written.join(' ')));
}

void TestJXZipUtil::declaredSizesAndChecksumAreChecked_data()
{
    QTest::addColumn<int>("localOffset"); // of the field in the local header; the directory's is 2 further
    QTest::addColumn<qint64>("change");
    QTest::addColumn<bool>("result");

    QTest::newRow("as packed") << 14 << qint64(0) << true;
    QTest::newRow("checksum") << 14 << qint64(1) << false;
    QTest::newRow("size one byte short") << 22 << qint64(-1) << false;
    QTest::newRow("size one byte long") << 22 << qint64(1) << false;
    QTest::newRow("size of two gigabytes") << 22 << qint64(0x7FFF0000) << false;
    QTest::newRow("compressed size cut short") << 18 << qint64(-100) << false;
    QTest::newRow("compressed size beyond the archive") << 18 << qint64(1 << 20) << false;
    QTest::newRow("compressed size of two gigabytes") << 18 << qint64(0x7FFF0000) << false;
}

// An entry's sizes and checksum are the archive's claims, written in its local header and again in its directory
// record: whichever claim is wrong, nothing is unpacked.
void TestJXZipUtil::declaredSizesAndChecksumAreChecked()
{
    QFETCH(int, localOffset);
    QFETCH(qint64, change);
    QFETCH(bool, result);

    const QString zipPath = path("claims.zip");
    const QByteArray data = sampleData(300000, 5);
    QVERIFY(makeArchive(zipPath, {{"entry.bin", data}}));
    QByteArray bytes = readFile(zipPath);
    const int directory = bytes.lastIndexOf(QByteArray("PK\x01\x02", 4));
    QVERIFY(bytes.startsWith("PK\x03\x04") && directory > 0);
    for (const int offset : {localOffset, directory + localOffset + 2}) {
        quint32 value = 0;
        for (int i = 3; i >= 0; --i)
            value = value << 8 | uchar(bytes[offset + i]);
        value = quint32(qint64(value) + change);
        for (int i = 0; i < 4; ++i)
            bytes[offset + i] = char(value >> (8 * i));
    }
    QVERIFY(writeFile(zipPath, bytes));

    QCOMPARE(JXZipUtil().decompress(zipPath, path("dest")), result);
    const QStringList written = listTree(path("dest"));
    QCOMPARE(written, result ? QStringList{"entry.bin"} : QStringList());
    if (result)
        QCOMPARE(readFile(path("dest/entry.bin")), data);
}

void TestJXZipUtil::namesLikeTemporariesAreKept_data()
{
    QTest::addColumn<Entries>("entries"); // an entry whose data starts with "corrupt" fails its checksum
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("tree");

    QTest::newRow("file named like a temporary") << Entries{{".jxunzip-00000000", "named"}, {"b.txt", "b"}}
                                                 << QStringList() << true << QStringList{".jxunzip-00000000", "b.txt"};
    QTest::newRow("folder named like a temporary, holding another")
        << Entries{{".jxunzip-r/", {}}, {".jxunzip-r/.jxunzip-0000abcd", "inner"}} << QStringList() << true
        << QStringList{".jxunzip-r", ".jxunzip-r/.jxunzip-0000abcd"};
    QTest::newRow("folder named like a temporary, then a corrupt entry")
        << Entries{{".jxunzip-r/", {}}, {"x.bin", "corrupt data"}} << QStringList() << false
        << QStringList{".jxunzip-r"};
    QTest::newRow("file named like a temporary, then a corrupt entry beside it")
        << Entries{{".jxunzip-0badf00d", "named"}, {"x.bin", "corrupt data"}} << QStringList() << false
        << QStringList{".jxunzip-0badf00d"};
    QTest::newRow("corrupt entry named like a temporary")
        << Entries{{"ok.txt", "ok"}, {".jxunzip-12345678", "corrupt data"}} << QStringList() << false
        << QStringList{"ok.txt"};
    QTest::newRow("corrupt entry in a sub-folder named like a temporary")
        << Entries{{"sub/.jxunzip-abcdef01/f", "f"}, {"sub/.jxunzip-abcdef01/x.bin", "corrupt data"}} << QStringList()
        << false << QStringList{"sub", "sub/.jxunzip-abcdef01", "sub/.jxunzip-abcdef01/f"};
    QTest::newRow("files already there named like temporaries, then a corrupt entry")
        << Entries{{"a.txt", "a"}, {".jxunzip-r/x.bin", "corrupt data"}}
        << QStringList{".jxunzip-deadbeef", ".jxunzip-r/keep"} << false
        << QStringList{".jxunzip-deadbeef", ".jxunzip-r", ".jxunzip-r/keep", "a.txt"};
    QTest::newRow("entry replacing a file already there named like a temporary")
        << Entries{{".jxunzip-deadbeef", "new"}} << QStringList{".jxunzip-deadbeef"} << true
        << QStringList{".jxunzip-deadbeef"};
}

// The unpacker's temporaries share a name pattern with what an archive may name: whatever the archive or the
// destination held under such a name is never taken for a temporary, and no temporary is left.
void TestJXZipUtil::namesLikeTemporariesAreKept()
{
    QFETCH(Entries, entries);
    QFETCH(QStringList, existing);
    QFETCH(bool, result);
    QFETCH(QStringList, tree);

    QMap<QString, QByteArray> expected;
    for (const QString& name : existing) {
        QVERIFY(writeFile(path("dest/") + name, "old"));
        expected.insert(name, "old");
    }
    for (Entry& entry : entries) {
        if (entry.data.startsWith("corrupt"))
            entry.method = 0; // stored, so the bytes can be found and changed
        else if (!entry.name.endsWith('/'))
            expected.insert(entry.name, entry.data);
    }
    QVERIFY(makeArchive(path("a.zip"), entries));
    QByteArray bytes = readFile(path("a.zip"));
    const int corrupt = bytes.indexOf("corrupt data");
    if (corrupt >= 0) {
        bytes[corrupt] = 'C';
        QVERIFY(writeFile(path("a.zip"), bytes));
    }

    QCOMPARE(JXZipUtil().decompress(path("a.zip"), path("dest")), result);
    QCOMPARE(listTree(path("dest")), tree);
    for (const QString& name : tree) {
        if (QFileInfo(path("dest/") + name).isFile())
            QCOMPARE(readFile(path("dest/") + name), expected.value(name));
    }
}

void TestJXZipUtil::entryCountIsNotTrusted_data()
{
    QTest::addColumn<quint64>("claimedEntries");
    QTest::addColumn<bool>("result");

    QTest::newRow("the true count") << quint64(1) << true;
    QTest::newRow("one more than it holds") << quint64(2) << false;
    // A few bytes claiming more entries than memory can hold room for.
    QTest::newRow("the largest count an int holds") << quint64(0x7FFFFFFF) << false;
}

void TestJXZipUtil::entryCountIsNotTrusted()
{
    QFETCH(quint64, claimedEntries);
    QFETCH(bool, result);

    const QString zipPath = path("claims.zip");
    QVERIFY(makeArchive(zipPath, {{"entry.bin", "data"}}));
    QVERIFY(writeFile(zipPath, withZip64EntryCount(readFile(zipPath), claimedEntries)));

    QCOMPARE(JXZipUtil().decompress(zipPath, path("dest")), result);
    QCOMPARE(listTree(path("dest")), result ? QStringList{"entry.bin"} : QStringList{});
}

void TestJXZipUtil::fullVolume()
{
    if (::geteuid() != 0)
        QSKIP("mounting a small volume needs root");
    // Small, so that writes fail with a full disk; unmounted however the test ends.
    QVERIFY(QDir().mkpath(path("full")));
    JXRealMount volume;
    if (!volume.mountTmpfs(path("full"), QStringLiteral("64k")))
        QSKIP("cannot mount a tmpfs (mount's message above)");

    // Unpacking a file larger than the volume keeps the old file of that name.
    QVERIFY(makeArchive(path("big.zip"), {{"small.txt", "small"}, {"big.bin", QByteArray(512 * 1024, 'z')}}));
    QVERIFY(writeFile(path("full/big.bin"), "old"));
    QVERIFY(!JXZipUtil().decompress(path("big.zip"), path("full")));
    QCOMPARE(readFile(path("full/big.bin")), QByteArray("old"));
    QCOMPARE(listTree(path("full")), QStringList({"big.bin", "small.txt"}));

    // Packing onto it fails and leaves no archive behind.
    QVERIFY(writeFile(path("noise.bin"), sampleData(256 * 1024, 4)));
    QVERIFY(QDir::setCurrent(m_dir->path()));
    QVERIFY(!JXZipUtil().compress(path("full/out.zip"), {"noise.bin"}));
    QCOMPARE(listTree(path("full")), QStringList({"big.bin", "small.txt"}));
}

QTEST_GUILESS_MAIN(TestJXZipUtil)
#include "tst_jxziputil.moc"
