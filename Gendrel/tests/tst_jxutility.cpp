#include "jxutility.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QScopedPointer>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "jxrealmount.h"

namespace {

// Collects the messages of one test instead of printing them.
class MessageCapture
{
public:
    MessageCapture() { s_previous = qInstallMessageHandler(&MessageCapture::handle); }
    ~MessageCapture()
    {
        qInstallMessageHandler(s_previous);
        s_messages.clear();
    }
    int count(const QString& text) const
    {
        int found = 0;
        for (const QString& message : qAsConst(s_messages))
            found += message.contains(text) ? 1 : 0;
        return found;
    }

private:
    static void handle(QtMsgType, const QMessageLogContext&, const QString& message) { s_messages.append(message); }
    static QStringList s_messages;
    static QtMessageHandler s_previous;
};
QStringList MessageCapture::s_messages;
QtMessageHandler MessageCapture::s_previous = nullptr;

// Half-open byte ranges [first, second) of a file.
using ByteRanges = QList<QPair<int, int>>;

QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i % 251);
    return bytes;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
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

QDateTime modified(const QString& path)
{
    return QFileInfo(path).lastModified();
}

mode_t modeOf(const QString& path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode : 0;
}

QStringList leftoverTemps(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral(".jxcopy-*")}, QDir::Files | QDir::Hidden | QDir::System);
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

class TestJXUtility : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void deleteFileOnNothing();
    void deleteDirRemovesHiddenAndReadonly();
    void removeFileReadonlyAddsOwnerWrite();
    void removalsDoNotFollowFolderLinks_data();
    void removalsDoNotFollowFolderLinks();
    void walksDoNotFollowLinks();
    void rmDir();
    void cpDir();

    void copyFileCarriesModifiedTime();
    void copyFileSkipWhenSame_data();
    void copyFileSkipWhenSame();
    void copyFileAttempts_data();
    void copyFileAttempts();
    void copyFileOverwriteKeepsOldFile_data();
    void copyFileOverwriteKeepsOldFile();
    void copyFileOutOfSpaceKeepsOldFile();

    void copyFolderProgress_data();
    void copyFolderProgress();
    void copyFolderNameFilter();
    void copyFolderSkipsSameFiles();
    void copyFolderFailures();
    void filesInFolderAndSize();

    void crcgetSampleFromFile_data();
    void crcgetSampleFromFile();
    void crcgetSampleFromDir();
    void flagFile();
    void batchRenameFileExt();
    void findDeviceFiles_data();
    void findDeviceFiles();
    void checkCopiedFilesCompletion();
    void csvlinePopulate_data();
    void csvlinePopulate();
    void convertSize_data();
    void convertSize();

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    void makeFile(const QString& name, const QByteArray& content = "x")
    {
        QVERIFY(QDir().mkpath(QFileInfo(path(name)).path()));
        QVERIFY(writeFile(path(name), content));
    }
    void makeFolder(const QString& name) { QVERIFY(QDir().mkpath(path(name))); }

    QScopedPointer<QTemporaryDir> m_dir;
};

void TestJXUtility::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void TestJXUtility::cleanup()
{
    // Read-only folders left by a test must not stop the removal.
    JXUtility::removeFileReadonly(m_dir->path());
    m_dir.reset();
}

void TestJXUtility::deleteFileOnNothing()
{
    QVERIFY(JXUtility::deleteFile(QString()));
    QVERIFY(JXUtility::deleteFile(path("missing")));
    QVERIFY(!QFileInfo::exists(path("missing")));

    makeFile("file");
    QVERIFY(QFile::link(path("nowhere"), path("dangling")));
    QVERIFY(JXUtility::deleteFile(path("file")));
    QVERIFY(JXUtility::deleteFile(path("dangling")));
    QVERIFY(QDir(path("")).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

void TestJXUtility::deleteDirRemovesHiddenAndReadonly()
{
    makeFile("tree/.hidden");
    makeFile("tree/.hiddendir/inner");
    makeFile("tree/plain");
    makeFile("tree/locked/file");
    QVERIFY(QFile::link(path("nowhere"), path("tree/dangling")));
    QVERIFY(::chmod(QFile::encodeName(path("tree/plain")).constData(), 0444) == 0);
    QVERIFY(::chmod(QFile::encodeName(path("tree/locked/file")).constData(), 0444) == 0);
    QVERIFY(::chmod(QFile::encodeName(path("tree/locked")).constData(), 0555) == 0);

    QVERIFY(JXUtility::deleteDir(path("tree")));
    QVERIFY(!QFileInfo::exists(path("tree")));
    QVERIFY(JXUtility::deleteDir(path("tree")));
}

void TestJXUtility::removeFileReadonlyAddsOwnerWrite()
{
    makeFile("outside");
    makeFile("parent/locked/sub/file");
    QVERIFY(QFile::link(path("outside"), path("parent/locked/link")));
    for (const char* name : {"outside", "parent/locked/sub/file"})
        QVERIFY(::chmod(QFile::encodeName(path(name)).constData(), 0444) == 0);
    for (const char* name : {"parent/locked/sub", "parent/locked", "parent"})
        QVERIFY(::chmod(QFile::encodeName(path(name)).constData(), 0555) == 0);

    QVERIFY(JXUtility::removeFileReadonly(path("parent/locked")));

    for (const char* name : {"parent", "parent/locked", "parent/locked/sub", "parent/locked/sub/file"})
        QVERIFY2(modeOf(path(name)) & S_IWUSR, name);
    QCOMPARE(modeOf(path("outside")) & 0777, mode_t(0444));
}

void TestJXUtility::removalsDoNotFollowFolderLinks_data()
{
    QTest::addColumn<bool>("useRmDir");
    QTest::addColumn<bool>("rootIsLink");
    QTest::newRow("deleteDir, link inside") << false << false;
    QTest::newRow("deleteDir, link as root") << false << true;
    QTest::newRow("rmDir, link inside") << true << false;
    QTest::newRow("rmDir, link as root") << true << true;
}

void TestJXUtility::removalsDoNotFollowFolderLinks()
{
    QFETCH(bool, useRmDir);
    QFETCH(bool, rootIsLink);
    makeFile("outside/keep");
    makeFile("tree/file");
    QVERIFY(QFile::link(path("outside"), path("tree/link")));
    QVERIFY(QFile::link(path("outside"), path("rootlink")));

    const QString target = rootIsLink ? path("rootlink") : path("tree");
    QVERIFY(useRmDir ? JXUtility::rmDir(target) : JXUtility::deleteDir(target));

    QVERIFY(!QFileInfo(target).isSymLink());
    QVERIFY(!QFileInfo::exists(target));
    QCOMPARE(readFile(path("outside/keep")), QByteArray("x"));
}

void TestJXUtility::walksDoNotFollowLinks()
{
    makeFile("outside/far", pattern(5000));
    makeFile("tree/sub/real", "real");
    QVERIFY(QFile::link(path("outside"), path("tree/folderlink")));
    QVERIFY(QFile::link(path("outside/far"), path("tree/sub/filelink")));

    QCOMPARE(JXUtility::FilesInFolder(path("tree"), QString()), qint64(1));
    QCOMPARE(JXUtility::getFolderSize(path("tree")), qint64(4));
    QStringList files;
    JXUtility::getFileListUnderFolder(path("tree"), files);
    QCOMPARE(files, QStringList{path("tree/sub/real")});
    QByteArray sample;
    JXUtility::crcgetSampleFromDir(path("tree"), sample);
    QCOMPARE(sample, QByteArray("real"));

    QStringList copied;
    QVERIFY(JXUtility::copyFolder(path("tree"), path("copy"), nullptr, nullptr, &copied));
    QCOMPARE(copied, QStringList{path("copy/sub/real")});
    QVERIFY(!QFileInfo::exists(path("copy/folderlink")));
    QVERIFY(!QFileInfo::exists(path("copy/sub/filelink")));

    QVERIFY(JXUtility::cpDir(path("tree"), path("cp")));
    QCOMPARE(readFile(path("cp/sub/real")), QByteArray("real"));
    QVERIFY(!QFileInfo::exists(path("cp/folderlink")));
    QVERIFY(!QFileInfo::exists(path("cp/sub/filelink")));
}

void TestJXUtility::rmDir()
{
    makeFile("plain/a");
    makeFile("plain/sub/b");
    QVERIFY(JXUtility::rmDir(path("plain")));
    QVERIFY(!QFileInfo::exists(path("plain")));
    QVERIFY(JXUtility::rmDir(path("plain")));

    makeFile("hidden/a");
    makeFile("hidden/sub/.secret");
    QVERIFY(!JXUtility::rmDir(path("hidden")));
    QVERIFY(QFileInfo::exists(path("hidden/sub/.secret")));
}

void TestJXUtility::cpDir()
{
    makeFile("source/a", "alpha");
    makeFile("source/sub/b", "beta");
    makeFile("source/.hidden");
    makeFile("destination/stale");

    QVERIFY(JXUtility::cpDir(path("source"), path("destination")));
    QCOMPARE(readFile(path("destination/a")), QByteArray("alpha"));
    QCOMPARE(readFile(path("destination/sub/b")), QByteArray("beta"));
    QVERIFY(!QFileInfo::exists(path("destination/stale")));
    QVERIFY(!QFileInfo::exists(path("destination/.hidden")));

    MessageCapture capture;
    QVERIFY(!JXUtility::cpDir(path("source"), path("missing/destination")));
    // Copying into itself would first remove or endlessly grow the source.
    QVERIFY(!JXUtility::cpDir(path("source"), path("source")));
    QVERIFY(!JXUtility::cpDir(path("source"), path("source/sub/inner")));
    QCOMPARE(readFile(path("source/sub/b")), QByteArray("beta"));
}

void TestJXUtility::copyFileCarriesModifiedTime()
{
    const QByteArray content = pattern(3 * 1024 * 1024 + 17);
    makeFile("source", content);
    const QDateTime time(QDate(2020, 1, 2), QTime(3, 4, 5));
    QVERIFY(setModified(path("source"), time));
    makeFile("destination", "old");

    bool copied = false;
    QVERIFY(JXUtility::copyFile(path("source"), path("destination"), true, 10, 5, nullptr, nullptr, false, 0, &copied));
    QVERIFY(copied);
    QVERIFY(readFile(path("destination")) == content);
    QCOMPARE(modified(path("destination")).secsTo(time), qint64(0));
    QVERIFY(leftoverTemps(path("")).isEmpty());
}

void TestJXUtility::copyFileSkipWhenSame_data()
{
    QTest::addColumn<QByteArray>("destinationContent");
    QTest::addColumn<int>("secondsApart");
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<bool>("expectCopied");
    // The destination differs in content only, so a skipped copy shows.
    QTest::newRow("3 s apart, tolerance 3") << QByteArray("OLD") << 3 << 3 << false;
    QTest::newRow("3 s earlier, tolerance 3") << QByteArray("OLD") << -3 << 3 << false;
    QTest::newRow("3 s apart, tolerance 2") << QByteArray("OLD") << 3 << 2 << true;
    QTest::newRow("same time, other size") << QByteArray("LONGER") << 0 << 10 << true;
    QTest::newRow("no destination") << QByteArray() << 0 << 10 << true;
}

void TestJXUtility::copyFileSkipWhenSame()
{
    QFETCH(QByteArray, destinationContent);
    QFETCH(int, secondsApart);
    QFETCH(int, tolerance);
    QFETCH(bool, expectCopied);
    const QDateTime time(QDate(2021, 6, 1), QTime(12, 0, 0));
    makeFile("source", "new");
    QVERIFY(setModified(path("source"), time));
    if (!destinationContent.isNull()) {
        makeFile("destination", destinationContent);
        QVERIFY(setModified(path("destination"), time.addSecs(secondsApart)));
    }

    bool copied = !expectCopied;
    QVERIFY(JXUtility::copyFile(path("source"), path("destination"), true, 10, 5, nullptr, nullptr, true, tolerance,
                                &copied));
    QCOMPARE(copied, expectCopied);
    QCOMPARE(readFile(path("destination")), expectCopied ? QByteArray("new") : destinationContent);
}

void TestJXUtility::copyFileAttempts_data()
{
    QTest::addColumn<int>("attempts");
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<bool>("expectResult");
    QTest::addColumn<int>("expectFailedAttempts");
    // Without overwrite an existing destination fails every attempt.
    QTest::newRow("overwrite") << 10 << true << true << 0;
    QTest::newRow("no overwrite, 10 attempts") << 10 << false << false << 10;
    QTest::newRow("no overwrite, 1 attempt") << 1 << false << false << 1;
    QTest::newRow("0 attempts") << 0 << true << false << 0;
    QTest::newRow("negative attempts") << -3 << true << false << 0;
}

void TestJXUtility::copyFileAttempts()
{
    QFETCH(int, attempts);
    QFETCH(bool, overwrite);
    QFETCH(bool, expectResult);
    QFETCH(int, expectFailedAttempts);
    makeFile("source", "new");
    makeFile("destination", "old");

    MessageCapture capture;
    bool copied = true;
    QCOMPARE(JXUtility::copyFile(path("source"), path("destination"), overwrite, attempts, 5, nullptr, nullptr, false,
                                 0, &copied),
             expectResult);
    QCOMPARE(copied, expectResult);
    QCOMPARE(readFile(path("destination")), expectResult ? QByteArray("new") : QByteArray("old"));
    QCOMPARE(capture.count("failed:"), expectFailedAttempts);
    // No wait follows the last attempt.
    QCOMPARE(capture.count("copy file failed start wait to retry"), qMax(0, expectFailedAttempts - 1));
    QVERIFY(leftoverTemps(path("")).isEmpty());
}

void TestJXUtility::copyFileOverwriteKeepsOldFile_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("destination");
    QTest::newRow("missing source") << QString("missing") << QString("old");
    QTest::newRow("source is a folder") << QString("folder") << QString("old");
    QTest::newRow("source is a FIFO") << QString("fifo") << QString("old");
    QTest::newRow("destination is a folder") << QString("file") << QString("folder");
    QTest::newRow("destination parent is a file") << QString("file") << QString("old/child");
}

void TestJXUtility::copyFileOverwriteKeepsOldFile()
{
    QFETCH(QString, source);
    QFETCH(QString, destination);
    makeFile("old", "keep me");
    makeFile("file", "new");
    makeFile("folder/inside", "folder content");
    QVERIFY(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0644) == 0);

    MessageCapture capture;
    bool copied = true;
    QVERIFY(!JXUtility::copyFile(path(source), path(destination), true, 3, 1, nullptr, nullptr, false, 0, &copied));
    QVERIFY(!copied);
    QCOMPARE(readFile(path("old")), QByteArray("keep me"));
    QCOMPARE(readFile(path("folder/inside")), QByteArray("folder content"));
    QVERIFY(leftoverTemps(path("")).isEmpty());
    QVERIFY(leftoverTemps(path("folder")).isEmpty());
}

void TestJXUtility::copyFileOutOfSpaceKeepsOldFile()
{
    if (::geteuid() != 0)
        QSKIP("mounting a tmpfs needs root");
    makeFolder("small");
    makeFile("source", pattern(2 * 1024 * 1024));
    // Small, so that a write runs out of space part way; unmounted even when the test fails.
    JXRealMount mount;
    if (!mount.mountTmpfs(path("small"), QStringLiteral("1m")))
        QSKIP("tmpfs cannot be mounted here");
    QVERIFY(writeFile(path("small/destination"), "keep me"));

    MessageCapture capture;
    bool copied = true;
    QVERIFY(!JXUtility::copyFile(path("source"), path("small/destination"), true, 2, 1, nullptr, nullptr, false, 0,
                                 &copied));
    QVERIFY(!copied);
    QCOMPARE(readFile(path("small/destination")), QByteArray("keep me"));
    QVERIFY(leftoverTemps(path("small")).isEmpty());

    // A file that fits still goes through, across file systems in several blocks.
    makeFile("fits", pattern(600 * 1024));
    QVERIFY(JXUtility::copyFile(path("fits"), path("small/destination")));
    QVERIFY(readFile(path("small/destination")) == pattern(600 * 1024));
}

void TestJXUtility::copyFolderProgress_data()
{
    QTest::addColumn<int>("failingFile");
    QTest::addColumn<float>("expectProgress");
    // Four files, start 0.2, span 0.5: 0.2, 0.325, 0.45, 0.575 in turn; a copy
    // that fails at file n leaves the value of file n - 1.
    QTest::newRow("all copied") << -1 << 0.575f;
    QTest::newRow("fails at file 0") << 0 << 0.2f;
    QTest::newRow("fails at file 1") << 1 << 0.2f;
    QTest::newRow("fails at file 2") << 2 << 0.325f;
    QTest::newRow("fails at file 3") << 3 << 0.45f;
}

void TestJXUtility::copyFolderProgress()
{
    QFETCH(int, failingFile);
    QFETCH(float, expectProgress);
    for (const char* name : {"source/a", "source/b", "source/c", "source/d"})
        makeFile(name);
    // The walk follows the file system's order, which the test reads the same way.
    const QStringList order = QDir(path("source")).entryList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted);
    QCOMPARE(order.size(), 4);
    if (failingFile >= 0)
        makeFolder("destination/" + order.at(failingFile));

    MessageCapture capture;
    QMutex mutex;
    float progress = 0.2f;
    QStringList copied;
    QCOMPARE(JXUtility::copyFolder(path("source"), path("destination"), &mutex, &progress, 0.5f, 0, false, 0, QString(),
                                   &copied),
             failingFile < 0);
    QCOMPARE(progress, expectProgress);
    QCOMPARE(copied.size(), failingFile < 0 ? 4 : failingFile);
    QCOMPARE(capture.count("JXUtility::copyFolder failed src="), failingFile < 0 ? 0 : 1);
}

void TestJXUtility::copyFolderNameFilter()
{
    makeFile("source/a.img");
    makeFile("source/B.IMG");
    makeFile("source/only/notes.txt");
    makeFile("source/only/d.txt");
    makeFile("source/sub/c.Img");

    QMutex mutex;
    float progress = 0.0f;
    QStringList copied;
    QVERIFY(JXUtility::copyFolder(path("source"), path("destination"), &mutex, &progress, 1.0f, 0, false, 0, ".img",
                                  &copied));
    QCOMPARE(sorted(copied),
             sorted({path("destination/B.IMG"), path("destination/a.img"), path("destination/sub/c.Img")}));
    QVERIFY(QFileInfo(path("destination/only")).isDir());
    QVERIFY(!QFileInfo::exists(path("destination/only/notes.txt")));
    QVERIFY(!QFileInfo::exists(path("destination/only/d.txt")));
    // The total counts matching files only (3): the top folder's second file
    // sets 1/3, and sub-folders restart from that value at index 0.
    QCOMPARE(progress, 1.0f / 3);
}

void TestJXUtility::copyFolderSkipsSameFiles()
{
    makeFile("source/a", "one");
    makeFile("source/sub/b", "two");
    QVERIFY(JXUtility::copyFolder(path("source"), path("destination")));
    makeFile("source/sub/b", "changed");

    QMutex mutex;
    float progress = 0.0f;
    QStringList copied;
    QVERIFY(JXUtility::copyFolder(path("source"), path("destination"), &mutex, &progress, 1.0f, 0, true, 0, QString(),
                                  &copied));
    QCOMPARE(copied, QStringList{path("destination/sub/b")});
    QCOMPARE(readFile(path("destination/sub/b")), QByteArray("changed"));
}

void TestJXUtility::copyFolderFailures()
{
    makeFile("source/a");
    MessageCapture capture;
    QMutex mutex;
    float progress = 0.0f;
    QStringList copied;

    QVERIFY(JXUtility::copyFolder(path("missing"), path("destination"), nullptr, nullptr, &copied));
    QVERIFY(!QFileInfo::exists(path("destination")));

    QVERIFY(!JXUtility::copyFolder(path("source"), path("no/such/destination"), nullptr, nullptr, &copied));
    QVERIFY(!JXUtility::copyFolder(path("source"), path("no/such/destination"), &mutex, &progress, 1.0f, 0, false, 0,
                                   QString(), &copied));
    QVERIFY(!JXUtility::copyFolder(path("source"), path("source/inner"), nullptr, nullptr, &copied));
    QVERIFY(!QFileInfo::exists(path("source/inner")));
    QVERIFY(copied.isEmpty());
    QCOMPARE(progress, 0.0f);
}

void TestJXUtility::filesInFolderAndSize()
{
    makeFile("tree/one.bin", pattern(10));
    makeFile("tree/.hidden.bin", pattern(1000));
    makeFile("tree/sub/TWO.BIN", pattern(20));
    makeFile("tree/sub/deeper/three.txt", pattern(30));
    makeFile("tree/.hiddendir/four.bin", pattern(40));

    QCOMPARE(JXUtility::FilesInFolder(path("tree"), QString()), qint64(3));
    QCOMPARE(JXUtility::FilesInFolder(path("tree"), ".bin"), qint64(2));
    QCOMPARE(JXUtility::FilesInFolder(path("missing"), QString()), qint64(0));
    QCOMPARE(JXUtility::getFolderSize(path("tree")), qint64(60));
    QCOMPARE(JXUtility::getFolderSize(path("missing")), qint64(0));

    QStringList list{"kept"};
    JXUtility::getFileListUnderFolder(path("tree"), list);
    QCOMPARE(sorted(list),
             sorted({"kept", path("tree/one.bin"), path("tree/sub/TWO.BIN"), path("tree/sub/deeper/three.txt")}));
}

void TestJXUtility::crcgetSampleFromFile_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<ByteRanges>("ranges");
    QTest::newRow("empty") << 0 << ByteRanges{};
    QTest::newRow("50 bytes") << 50 << ByteRanges{{0, 50}};
    QTest::newRow("100 bytes") << 100 << ByteRanges{{0, 100}};
    QTest::newRow("101 bytes") << 101 << ByteRanges{{0, 100}, {1, 101}};
    QTest::newRow("1100 bytes") << 1100 << ByteRanges{{0, 100}, {1000, 1100}};
    QTest::newRow("1150 bytes") << 1150 << ByteRanges{{0, 100}, {1100, 1150}};
    QTest::newRow("2500 bytes") << 2500 << ByteRanges{{0, 100}, {1100, 1200}, {2200, 2300}, {2400, 2500}};
}

void TestJXUtility::crcgetSampleFromFile()
{
    QFETCH(int, size);
    QFETCH(ByteRanges, ranges);
    const QByteArray content = pattern(size);
    makeFile("file", content);
    QByteArray expected = "prefix";
    for (const auto& range : ranges)
        expected += content.mid(range.first, range.second - range.first);

    QByteArray sample = "prefix";
    JXUtility::crcgetSampleFromFile(path("file"), sample);
    QCOMPARE(sample, expected);

    JXUtility::crcgetSampleFromFile(path("missing"), sample);
    QCOMPARE(sample, expected);
}

void TestJXUtility::crcgetSampleFromDir()
{
    makeFile("tree/sub/file", pattern(1150));
    makeFile("tree/.hidden", "hidden");
    QByteArray expected;
    JXUtility::crcgetSampleFromFile(path("tree/sub/file"), expected);
    QByteArray sample;
    JXUtility::crcgetSampleFromDir(path("tree"), sample);
    QCOMPARE(sample, expected);
}

void TestJXUtility::flagFile()
{
    MessageCapture capture;
    makeFile("flag", "longer content");
    JXUtility::setFlagFile(path("flag"), true);
    QCOMPARE(readFile(path("flag")), QByteArray("1"));
    JXUtility::setFlagFile(path("flag"), false);
    QVERIFY(!QFileInfo::exists(path("flag")));
    QCOMPARE(capture.count("remove "), 0);

    JXUtility::setFlagFile(path("flag"), false);
    QCOMPARE(capture.count("remove "), 1);
    JXUtility::setFlagFile(path("missing/flag"), true);
    QCOMPARE(capture.count("create "), 1);
}

void TestJXUtility::batchRenameFileExt()
{
    makeFile("a.tmp", "new a");
    makeFile("a.dat", "old a");
    makeFile("b.txt", "b");
    makeFile("c.dat", "old c");
    QStringList list{path("a.tmp"), path("b.txt"), path("c.tmp")};

    MessageCapture capture;
    QVERIFY(!JXUtility::batchRenameFileExt(list, ".tmp", ".dat"));
    QCOMPARE(list, QStringList({path("a.dat"), path("b.txt"), path("c.tmp")}));
    QCOMPARE(readFile(path("a.dat")), QByteArray("new a"));
    QVERIFY(!QFileInfo::exists(path("a.tmp")));
    QCOMPARE(readFile(path("b.txt")), QByteArray("b"));
    // A failed move leaves the file at the new name alone.
    QCOMPARE(readFile(path("c.dat")), QByteArray("old c"));

    QStringList unchanged{path("b.txt")};
    QVERIFY(JXUtility::batchRenameFileExt(unchanged, ".TXT", ".dat"));
    QCOMPARE(unchanged, QStringList{path("b.txt")});
}

void TestJXUtility::findDeviceFiles_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("expectIni");
    QTest::addColumn<QString>("expectText");
    const QString none;
    QTest::newRow("nothing") << QStringList{} << none << none;
    QTest::newRow("device.ini") << QStringList{"device.ini"} << QString("/device.ini") << none;
    QTest::newRow("Device.ini only") << QStringList{"Device.ini"} << QString("/Device.ini") << none;
    QTest::newRow("both ini") << QStringList{"Device.ini", "device.ini"} << QString("/device.ini") << none;
    QTest::newRow("System/device.txt") << QStringList{"System/device.txt"} << none << QString("/System/device.txt");
    QTest::newRow("System/Device.txt only")
        << QStringList{"System/Device.txt"} << none << QString("/System/Device.txt");
    QTest::newRow("both text") << QStringList{"System/Device.txt", "System/device.txt"} << none
                               << QString("/System/device.txt");
    QTest::newRow("text at the root") << QStringList{"device.txt"} << none << none;
    QTest::newRow("folder named device.ini") << QStringList{"device.ini/x"} << none << none;
}

void TestJXUtility::findDeviceFiles()
{
    QFETCH(QStringList, files);
    QFETCH(QString, expectIni);
    QFETCH(QString, expectText);
    for (const QString& file : files)
        makeFile("volume/" + file);
    const QString volume = path("volume");
    QCOMPARE(JXUtility::findDeviceIni(volume), expectIni.isEmpty() ? QString() : volume + expectIni);
    QCOMPARE(JXUtility::findDeviceText(volume), expectText.isEmpty() ? QString() : volume + expectText);
}

void TestJXUtility::checkCopiedFilesCompletion()
{
    makeFile("small", pattern(1024));
    makeFile("large", pattern(5000));
    const QStringList list{path("small"), path("missing"), path("large")};

    MessageCapture capture;
    JXUtility::checkCopiedFilesCompletion(list);
    QCOMPARE(capture.count(QStringLiteral("checkCopiedFilesCompletion: open %1 failed").arg(path("missing"))), 1);
    QCOMPARE(capture.count("size="), 0);
    QVERIFY(!QFileInfo::exists(path("missing")));
    QCOMPARE(list.size(), 3);
}

void TestJXUtility::csvlinePopulate_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<char>("delimiter");
    QTest::addColumn<QList<QByteArray>>("expected");
    using Fields = QList<QByteArray>;
    QTest::newRow("quoted middle field") << QByteArray("a,\"b,\"\"c\"\"\",d") << ',' << Fields{"a", "b,\"c\"", "d"};
    QTest::newRow("line end stops") << QByteArray("a,b\rmore,text") << ',' << Fields{"a", "b"};
    QTest::newRow("line feed stops") << QByteArray("a\nb") << ',' << Fields{"a"};
    QTest::newRow("line end inside quotes") << QByteArray("\"a\nb\",c") << ',' << Fields{"a\nb", "c"};
    QTest::newRow("empty line") << QByteArray("") << ',' << Fields{""};
    QTest::newRow("empty fields") << QByteArray(",,") << ',' << Fields{"", "", ""};
    QTest::newRow("quote inside plain field") << QByteArray("ab\"c,d") << ',' << Fields{"ab\"c", "d"};
    QTest::newRow("text after closing quote") << QByteArray("\"ab\"cd,e") << ',' << Fields{"abcd", "e"};
    QTest::newRow("unclosed quote") << QByteArray("\"ab,c") << ',' << Fields{"ab,c"};
    QTest::newRow("quote pair at the end") << QByteArray("\"a\"\"") << ',' << Fields{"a\""};
    QTest::newRow("zero byte stops") << QByteArray("a,b\0c,d", 7) << ',' << Fields{"a", "b"};
    QTest::newRow("semicolon") << QByteArray("a;b,c;") << ';' << Fields{"a", "b,c", ""};
}

void TestJXUtility::csvlinePopulate()
{
    QFETCH(QByteArray, line);
    QFETCH(char, delimiter);
    QFETCH(QList<QByteArray>, expected);
    QList<QByteArray> record{"stale"};
    JXUtility::csvline_populate(record, line, delimiter);
    QCOMPARE(record, expected);
}

void TestJXUtility::convertSize_data()
{
    QTest::addColumn<float>("size");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0") << 0.0f << "0 KB";
    QTest::newRow("1000") << 1000.0f << "1000 KB";
    QTest::newRow("1024") << 1024.0f << "1024 KB";
    QTest::newRow("1025") << 1025.0f << "1 MB";
    QTest::newRow("1536") << 1536.0f << "1.5 MB";
    QTest::newRow("cut, not rounded") << 1048575.0f << "1023.99 MB";
    QTest::newRow("1048576") << 1048576.0f << "1 GB";
    QTest::newRow("123456789") << 123456789.0f << "117.73 GB";
    QTest::newRow("six significant digits") << 1e12f << "953674 GB";
    QTest::newRow("fraction of a KB") << 0.567f << "0.56 KB";
}

void TestJXUtility::convertSize()
{
    QFETCH(float, size);
    QFETCH(QString, expected);
    QCOMPARE(JXUtility::convertSize(size), expected);
}

QTEST_GUILESS_MAIN(TestJXUtility)
#include "tst_jxutility.moc"
