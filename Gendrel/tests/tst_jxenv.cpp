#include <QtTest>

#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <thread>
#include <unistd.h>
#include <vector>

#include "jxenv.h"

namespace {

// Each child run is a fresh process, since the log level is read once per
// process and the environment is initialised once.
int runScenario(const QString& scenario)
{
    JXEnv* env = JXEnv::getInstance();
    const QString role = qEnvironmentVariable("JX_TEST_ROLE", QStringLiteral("both"));
    const QString logName = qEnvironmentVariable("JX_TEST_LOGNAME");
    env->init(role, logName);
    QTextStream out(stdout);
    if (scenario == QLatin1String("names")) {
        out << env->getJXSettingIniName() << '\n' << env->getLogFile() << '\n';
    } else if (scenario == QLatin1String("log")) {
        qDebug("debug-line");
        qInfo("info-line");
        qWarning("warning-line");
        qCritical("critical-line");
    } else if (scenario == QLatin1String("flush")) {
        qWarning("flushed-line");
        out.flush();
        _exit(0);  // no destructors: only what was flushed reaches the file
    } else if (scenario == QLatin1String("threads")) {
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < 500; ++i)
                    qWarning("thread %d line %d with some padding text to make lines longer", t, i);
            });
        for (auto& thread : threads)
            thread.join();
    } else if (scenario == QLatin1String("language")) {
        out << env->getLanguage() << '\n';
    }
    return 0;
}

}  // namespace

class TestJXEnv : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QTemporaryDir m_resources;

    QString userFolder() const { return m_home.path() + QStringLiteral("/Jaxmere"); }

    // Runs a scenario in a child process with a home folder of its own.
    QString runChild(const QString& scenario, const QString& home, const QStringList& extraEnv = {})
    {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("JX_TEST_SCENARIO"), scenario);
        environment.insert(QStringLiteral("HOME"), home);
        for (const QString& pair : extraEnv)
            environment.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        if (!child.waitForFinished(30000))
            return QStringLiteral("<timeout>");
        if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
            return QStringLiteral("<failed: ") + QString::fromUtf8(child.readAllStandardError()) + QLatin1Char('>');
        // The platform environment announces its resource folder on stdout.
        QStringList lines = QString::fromUtf8(child.readAllStandardOutput()).split(QLatin1Char('\n'));
        for (int i = lines.size() - 1; i >= 0; --i)
            if (lines.at(i).startsWith(QLatin1String("resource dir=")))
                lines.removeAt(i);
        return lines.join(QLatin1Char('\n'));
    }

    static void writeSettings(const QString& home, const QMap<QString, QString>& values)
    {
        QDir().mkpath(home + QStringLiteral("/Jaxmere"));
        QSettings settings(home + QStringLiteral("/Jaxmere/jx.ini"), QSettings::IniFormat);
        settings.beginGroup(QStringLiteral("Jaxmere"));
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            settings.setValue(it.key(), it.value());
    }

    static QByteArray readFile(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static void writeFile(const QString& path, const QByteArray& content)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(content), qint64(content.size()));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toUtf8());
        qputenv("JX_RESOURCE_DIR", m_resources.path().toUtf8());
        // Before init nothing may be written at the filesystem root.
        JXEnv::getInstance()->setValue(QStringLiteral("language"), QStringLiteral("GER"));
        QVERIFY(!QFileInfo::exists(QStringLiteral("/jx.ini")));
        JXEnv::getInstance()->init(QStringLiteral("both"), QString());
    }

    void foldersAfterInit()
    {
        JXEnv* env = JXEnv::getInstance();
        QCOMPARE(env->getUserDataBaseFolder(), userFolder());
        QVERIFY(QFileInfo(userFolder()).isDir());
        QCOMPARE(env->getResourceDir(), m_resources.path());
        QCOMPARE(env->getResourcePath(QStringLiteral("a.qm")), m_resources.path() + QStringLiteral("/a.qm"));
        QCOMPARE(env->getJXSettingPath(), userFolder() + QStringLiteral("/jx.ini"));
        QVERIFY(env->isMainThread());
        bool otherIsMain = true;
        std::thread([&] { otherIsMain = env->isMainThread(); }).join();
        QVERIFY(!otherIsMain);

        QCOMPARE(env->getBackupFolder(), userFolder() + QStringLiteral("/backup"));
        QVERIFY(!QFileInfo::exists(userFolder() + QStringLiteral("/backup")));
        QCOMPARE(env->getTmpFolder(), userFolder() + QStringLiteral("/tmpdir"));
        QVERIFY(QFileInfo(userFolder() + QStringLiteral("/tmpdir")).isDir());
    }

    void settingsDefaultsAndOverrides_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        QTest::newRow("maxlogsize default") << "maxlogsize" << QString() << "5242880";
        QTest::newRow("maxlogsize set") << "maxlogsize" << "1000" << "1000";
        QTest::newRow("maxlogsize not a number") << "maxlogsize" << "abc" << "0";
        QTest::newRow("debug default") << "debug" << QString() << "2";
        QTest::newRow("tolerance default") << "filedifftimetolerance" << QString() << "10";
        QTest::newRow("upload default") << "uploadfile" << QString() << "up.zip";
        QTest::newRow("upload set") << "uploadfile" << "u.zip" << "u.zip";
        QTest::newRow("log name default") << "logfilename" << QString() << "jx.log";
        QTest::newRow("old log default") << "oldlogfilename" << QString() << "jx.old";
        QTest::newRow("language set") << "language" << "FRA" << "FRA";
    }

    void settingsDefaultsAndOverrides()
    {
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        JXEnv* env = JXEnv::getInstance();
        QFile::remove(env->getJXSettingPath());
        if (!stored.isNull())
            env->setValue(key, stored);

        QString actual;
        if (key == QLatin1String("maxlogsize"))
            actual = QString::number(env->getMaxLogSize());
        else if (key == QLatin1String("debug"))
            actual = QString::number(env->getDebugLevel());
        else if (key == QLatin1String("filedifftimetolerance"))
            actual = QString::number(env->getFileDiffTimeTolerance());
        else if (key == QLatin1String("uploadfile"))
            actual = env->getUploadFilename();
        else if (key == QLatin1String("logfilename"))
            actual = env->getLogFileName();
        else if (key == QLatin1String("oldlogfilename"))
            actual = QFileInfo(env->getOldLogFile()).fileName();
        else if (key == QLatin1String("language"))
            actual = env->getLanguage();
        QCOMPARE(actual, expected);
        QFile::remove(env->getJXSettingPath());
    }

    void lastWinPos_data()
    {
        QTest::addColumn<QString>("line");  // as written in the file by hand
        QTest::addColumn<QPoint>("expected");
        QTest::newRow("vertical first") << "lastWinPos=\"50,100\"" << QPoint(100, 50);
        QTest::newRow("unquoted list") << "lastWinPos=50,100" << QPoint(100, 50);
        QTest::newRow("one part") << "lastWinPos=7" << QPoint(0, 0);
        QTest::newRow("not numbers") << "lastWinPos=\"a,3\"" << QPoint(3, 0);
        QTest::newRow("extra parts") << "lastWinPos=\"1,2,3\"" << QPoint(2, 1);
        QTest::newRow("missing") << "" << QPoint(0, 0);
    }

    void lastWinPos()
    {
        QFETCH(QString, line);
        QFETCH(QPoint, expected);
        JXEnv* env = JXEnv::getInstance();
        writeFile(env->getJXSettingPath(), "[Jaxmere]\n" + line.toUtf8() + "\n");
        // The settings layer caches a file by time and size: make each edit distinct.
        static int edits = 0;
        QFile settingsFile(env->getJXSettingPath());
        QVERIFY(settingsFile.open(QIODevice::ReadWrite));
        QVERIFY(settingsFile.setFileTime(QDateTime::currentDateTime().addSecs(-100 - ++edits),
                                         QFileDevice::FileModificationTime));
        QCOMPARE(env->getLastWinPos(), expected);
        env->setLastWinPos(QPoint(11, 22));
        QCOMPARE(env->getLastWinPos(), QPoint(11, 22));
        QCOMPARE(env->getValue(QStringLiteral("lastWinPos")), QStringLiteral("22,11"));
        QFile::remove(env->getJXSettingPath());
    }

    void releaseOrBeta_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("beta");
        QTest::newRow("odd fourth part") << "2.8.0.99" << true;
        QTest::newRow("even fourth part") << "2.8.0.98" << false;
        QTest::newRow("three parts") << "2.8.0" << true;
        QTest::newRow("five parts") << "2.8.0.98.1" << true;
        QTest::newRow("not a number") << "2.8.0.x" << false;
    }

    void releaseOrBeta()
    {
        QFETCH(QString, version);
        QFETCH(bool, beta);
        QCOMPARE(JXEnv::releaseForTest(version), beta);
    }

    void serverAddresses()
    {
        JXEnv* env = JXEnv::getInstance();
        QFile::remove(env->getJXSettingPath());
        QVERIFY(env->getCheckUpdateUrl(true).endsWith(QStringLiteral("/versions/index")));
        QVERIFY(env->getCheckUpdateUrl(false).endsWith(QStringLiteral("/versions/index")));
        QVERIFY(env->getCheckUpdateUrl(true) != env->getCheckUpdateUrl(false));
        // 2.8.0.99 is a beta version.
        QCOMPARE(env->getCheckUpdateUrl(), env->getCheckUpdateUrl(true));

        qputenv("JX_BETA_UPDATE_URL", "http://127.0.0.1:1/versions/index");
        QCOMPARE(env->getCheckUpdateUrl(), QStringLiteral("http://127.0.0.1:1/versions/index"));
        qunsetenv("JX_BETA_UPDATE_URL");

        env->setValue(QStringLiteral("urlcheckupdate"), QStringLiteral("http://example.test/versions/index"));
        env->setValue(QStringLiteral("homelink"), QStringLiteral("http://example.test"));
        QCOMPARE(env->getCheckUpdateUrl(), QStringLiteral("http://example.test/versions/index"));
        QCOMPARE(env->getHomelink(), QStringLiteral("http://example.test"));
        QFile::remove(env->getJXSettingPath());
    }

    void cleanTmpFolderKeepsFoldersAndHiddenFiles()
    {
        JXEnv* env = JXEnv::getInstance();
        const QString tmp = env->getTmpFolder();
        writeFile(tmp + QStringLiteral("/a.bin"), "a");
        writeFile(tmp + QStringLiteral("/.hidden"), "h");
        QVERIFY(QDir(tmp).mkpath(QStringLiteral("sub")));
        writeFile(tmp + QStringLiteral("/sub/b.bin"), "b");
        const QString before = QDir::currentPath();

        env->cleanTmpFolder();

        QCOMPARE(QDir::currentPath(), before);
        QVERIFY(!QFileInfo::exists(tmp + QStringLiteral("/a.bin")));
        QVERIFY(QFileInfo::exists(tmp + QStringLiteral("/.hidden")));
        QVERIFY(QFileInfo::exists(tmp + QStringLiteral("/sub/b.bin")));
    }

    // The folder is emptied, so a name that leads to the user-data folder or out of it is never taken.
    void tmpFolderNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder");
        QTest::newRow("nested, made with its parents") << "made/with/parents" << "made/with/parents";
        QTest::newRow("empty") << "" << "tmpdir";
        QTest::newRow("dot") << "." << "tmpdir";
        QTest::newRow("parent") << "../out" << "tmpdir";
        QTest::newRow("climbs back out") << "a/../.." << "tmpdir";
        QTest::newRow("absolute") << QDir::tempPath() << "tmpdir";
    }

    void tmpFolderNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, folder);
        JXEnv* env = JXEnv::getInstance();
        const QString kept = userFolder() + QStringLiteral("/keep.txt");
        writeFile(kept, "k");
        env->setValue(QStringLiteral("tmpdir"), name);

        QCOMPARE(env->getTmpFolder(), userFolder() + QLatin1Char('/') + folder);
        QVERIFY(QFileInfo(env->getTmpFolder()).isDir());
        QVERIFY(env->cleanTmpFolder());
        QVERIFY(QFileInfo::exists(kept));
        QFile::remove(kept);
        QFile::remove(env->getJXSettingPath());
    }

    // Nothing of the folder that happens to be current is removed, and entering reports the failure.
    void tmpFolderThatIsAFile()
    {
        JXEnv* env = JXEnv::getInstance();
        QTemporaryDir work;
        QVERIFY(work.isValid());
        writeFile(work.filePath(QStringLiteral("precious.txt")), "mine");
        env->setValue(QStringLiteral("tmpdir"), QStringLiteral("blocked"));
        writeFile(userFolder() + QStringLiteral("/blocked"), "not a folder");
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work.path()));

        QVERIFY(!env->cleanTmpFolder());
        env->cdTmpFolder();
        QVERIFY(!env->isInTmpFolder());
        const QString current = QDir::currentPath();
        QVERIFY(QDir::setCurrent(before));
        QCOMPARE(current, work.path());
        QVERIFY(QFileInfo::exists(work.filePath(QStringLiteral("precious.txt"))));
        QFile::remove(userFolder() + QStringLiteral("/blocked"));
        QFile::remove(env->getJXSettingPath());
    }

    void currentDirectoryFunctions()
    {
        JXEnv* env = JXEnv::getInstance();
        const QString before = QDir::currentPath();
        env->cdTmpFolder();
        QCOMPARE(QDir::currentPath(), env->getTmpFolder());
        QVERIFY(env->isInTmpFolder());
        env->cdUserDataFolder();
        QCOMPARE(QDir::currentPath(), userFolder());
        env->cdAppFolder();
        QCOMPARE(QDir::currentPath(), before);
    }

    void copyNewIni()
    {
        JXEnv* env = JXEnv::getInstance();
        writeFile(m_resources.path() + QStringLiteral("/jx.ini"), "[Jaxmere]\nuploadfile=shipped.zip\n");
        writeFile(env->getJXSettingPath(), "[Jaxmere]\nuploadfile=mine.zip\n");

        env->copyNewIni();
        QCOMPARE(env->getUploadFilename(), QStringLiteral("shipped.zip"));
        QCOMPARE(env->getValue(QStringLiteral("version")), env->getVersion());

        // Up to date: the user's own values stay.
        env->setValue(QStringLiteral("uploadfile"), QStringLiteral("mine.zip"));
        env->copyNewIni();
        QCOMPARE(env->getUploadFilename(), QStringLiteral("mine.zip"));
        QFile::remove(env->getJXSettingPath());
        QFile::remove(m_resources.path() + QStringLiteral("/jx.ini"));
    }

    void sessionValid()
    {
        QVERIFY(JXEnv::getInstance()->isSessionValid(QStringLiteral("{\"ok\":1}")));
        QVERIFY(!JXEnv::getInstance()->isSessionValid(QStringLiteral("x Please Login! y")));
        QVERIFY(JXEnv::getInstance()->isSessionValid(QStringLiteral("please login!")));
    }

    void roleSelectsFileNames_data()
    {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QString>("log");
        QTest::newRow("user") << "user" << "jxuser.ini" << "jxuser.log";
        QTest::newRow("both") << "both" << "jx.ini" << "custom.log";
        QTest::newRow("daemon") << "daemon" << "jx.ini" << "custom.log";
    }

    void roleSelectsFileNames()
    {
        QFETCH(QString, role);
        QFETCH(QString, ini);
        QFETCH(QString, log);
        QTemporaryDir home;
        // The key is read by every role but "user".
        writeSettings(home.path(), {{QStringLiteral("logfilename"), QStringLiteral("custom.log")}});
        if (role == QLatin1String("user"))
            QFile::copy(home.path() + QStringLiteral("/Jaxmere/jx.ini"), home.path() + QStringLiteral("/Jaxmere/jxuser.ini"));
        const QStringList lines = runChild(QStringLiteral("names"), home.path(), {QStringLiteral("JX_TEST_ROLE=") + role})
                                      .split(QLatin1Char('\n'));
        QVERIFY2(lines.size() >= 2, qPrintable(lines.join(QLatin1Char('|'))));
        QCOMPARE(lines.at(0), ini);
        QCOMPARE(lines.at(1), home.path() + QStringLiteral("/Jaxmere/") + log);
    }

    void logLevels_data()
    {
        QTest::addColumn<QString>("debug");
        QTest::addColumn<QStringList>("written");
        const QStringList all = {"debug-line", "info-line", "warning-line", "critical-line"};
        QTest::newRow("unset") << QString() << QStringList{"warning-line", "critical-line"};
        QTest::newRow("0") << "0" << all;
        QTest::newRow("1") << "1" << all;
        QTest::newRow("not a number") << "x" << all;
        QTest::newRow("2") << "2" << QStringList{"warning-line", "critical-line"};
        QTest::newRow("3") << "3" << QStringList{"critical-line"};
        QTest::newRow("4") << "4" << QStringList{};
    }

    void logLevels()
    {
        QFETCH(QString, debug);
        QFETCH(QStringList, written);
        QTemporaryDir home;
        if (!debug.isNull())
            writeSettings(home.path(), {{QStringLiteral("debug"), debug}});
        QCOMPARE(runChild(QStringLiteral("log"), home.path(), {QStringLiteral("JX_TEST_LOGNAME=dorvupdate.log")}),
                 QString());

        const QString log = QString::fromUtf8(readFile(home.path() + QStringLiteral("/Jaxmere/dorvupdate.log")));
        const QRegularExpression shape(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d,\\d{3} \\[(Debug|Warning|Critical)\\]\\t(.*)$"));
        QStringList messages;
        for (const QString& line : log.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch match = shape.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            messages << match.captured(2);
            const QString label = match.captured(1);
            const QString expectedLabel = match.captured(2).startsWith(QLatin1String("warning"))    ? "Warning"
                                          : match.captured(2).startsWith(QLatin1String("critical")) ? "Critical"
                                                                                                    : "Debug";
            QCOMPARE(label, expectedLabel);
        }
        // The destructor's own debug message closes the log when debug is on.
        for (int i = messages.size() - 1; i >= 0; --i)
            if (messages.at(i).contains(QLatin1String("JXEnv destructor")))
                messages.removeAt(i);
        QCOMPARE(messages, written);
        QVERIFY(log.isEmpty() || log.endsWith(QLatin1Char('\n')));
    }

    void warningIsFlushedAtOnce()
    {
        QTemporaryDir home;
        runChild(QStringLiteral("flush"), home.path());
        QVERIFY(readFile(home.path() + QStringLiteral("/Jaxmere/jx.log")).contains("[Warning]\tflushed-line\n"));
    }

    void rotation_data()
    {
        QTest::addColumn<QString>("logName");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("rotated");
        QTest::newRow("default log at limit") << QString() << qint64(5242880) << true;
        QTest::newRow("default log one byte short") << QString() << qint64(5242879) << false;
        QTest::newRow("named log at limit") << "dorvupdate.log" << qint64(5242880) << true;
        QTest::newRow("named log above limit") << "dorvupdate.log" << qint64(5242881) << true;
    }

    void rotation()
    {
        QFETCH(QString, logName);
        QFETCH(qint64, size);
        QFETCH(bool, rotated);
        QTemporaryDir home;
        const QString folder = home.path() + QStringLiteral("/Jaxmere");
        QDir().mkpath(folder);
        const QString logPath = folder + QLatin1Char('/') + (logName.isEmpty() ? QStringLiteral("jx.log") : logName);
        QByteArray oldContent(int(size), 'o');
        writeFile(logPath, oldContent);
        writeFile(folder + QStringLiteral("/jx.old"), "older generation");

        runChild(QStringLiteral("log"), home.path(), {QStringLiteral("JX_TEST_LOGNAME=") + logName});

        const QByteArray log = readFile(logPath);
        QVERIFY(log.contains("warning-line"));
        if (!rotated) {
            QVERIFY(log.startsWith(oldContent));
            QCOMPARE(readFile(folder + QStringLiteral("/jx.old")), QByteArray("older generation"));
        } else if (logName.isEmpty()) {
            QVERIFY(!log.startsWith("o"));
            QCOMPARE(readFile(folder + QStringLiteral("/jx.old")), oldContent);
        } else {
            QVERIFY(!log.startsWith("o"));
            // A named log keeps no previous generation.
            QCOMPARE(readFile(folder + QStringLiteral("/jx.old")), QByteArray("older generation"));
        }
    }

    void nonNumericLimitRotatesEveryStart()
    {
        QTemporaryDir home;
        writeSettings(home.path(), {{QStringLiteral("maxlogsize"), QStringLiteral("big")}});
        const QString logPath = home.path() + QStringLiteral("/Jaxmere/dorvupdate.log");
        writeFile(logPath, "previous run\n");
        runChild(QStringLiteral("log"), home.path(), {QStringLiteral("JX_TEST_LOGNAME=dorvupdate.log")});
        QVERIFY(!readFile(logPath).contains("previous run"));
    }

    void concurrentLinesNeverInterleave()
    {
        QTemporaryDir home;
        runChild(QStringLiteral("threads"), home.path());
        const QList<QByteArray> lines = readFile(home.path() + QStringLiteral("/Jaxmere/jx.log")).split('\n');
        const QRegularExpression shape(QStringLiteral(
            "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d,\\d{3} \\[Warning\\]\\tthread \\d line \\d+ with some padding "
            "text to make lines longer$"));
        int count = 0;
        for (const QByteArray& line : lines) {
            if (line.isEmpty())
                continue;
            QVERIFY2(shape.match(QString::fromUtf8(line)).hasMatch(), line.constData());
            ++count;
        }
        QCOMPARE(count, 8 * 500);
    }

    void systemLanguage_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("code");
        QTest::newRow("Chinese, Taiwan") << "zh_TW.UTF-8" << "ZHO";
        QTest::newRow("Chinese, China") << "zh_CN.UTF-8" << "CHI";
        QTest::newRow("German") << "de_DE.UTF-8" << "GER";
        QTest::newRow("Norwegian") << "nb_NO.UTF-8" << "NOR";
        QTest::newRow("unlisted") << "el_GR.UTF-8" << "ENG";
    }

    void systemLanguage()
    {
        QFETCH(QString, locale);
        QFETCH(QString, code);
        QTemporaryDir home;
        const QString out = runChild(QStringLiteral("language"), home.path(),
                                     {QStringLiteral("LC_ALL=") + locale, QStringLiteral("LANG=") + locale});
        QCOMPARE(out.trimmed(), code);
    }
};

int main(int argc, char* argv[])
{
    const QString scenario = qEnvironmentVariable("JX_TEST_SCENARIO");
    QCoreApplication app(argc, argv);
    if (!scenario.isEmpty())
        return runScenario(scenario);
    TestJXEnv test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_jxenv.moc"
