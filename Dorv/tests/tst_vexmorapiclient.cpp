#include <QtTest>

#include <QCryptographicHash>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTemporaryDir>

#include "json.h"
#include "jxtestfiles.h"
#include "jxtestpackage.h"
#include "testhttpserver.h"
#include "vexmorapiclient.h"

namespace {

class UpdateRecorder : public QObject, public VexmorApiClientDelegate
{
    Q_OBJECT

public:
    void onUpdateFinished(bool result) override
    {
        results.append(result);
        emit finished(result);
    }
    QList<bool> results;

signals:
    void finished(bool result);
};

using JXTestFiles::FileSnapshot;
using JXTestFiles::snapshot;
using JXTestFiles::writeFile;

QByteArray md5Hex(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

QVariantMap totalEntry(const QString& version, const QString& url, const QString& note, const QByteArray& md5hash)
{
    return QVariantMap{{"name", "Total"}, {"version", version}, {"url", url}, {"note", note}, {"md5hash", md5hash}};
}

QByteArray replyOf(const QVariantList& entries)
{
    return QtJson::Json::serialize(entries);
}

// A package that the client takes into its cache: a zip with a "release.ini" and an image of 70 000 bytes.
QByteArray samplePackage(const QByteArray& seed)
{
    return JXTestPackage::packageBytes("[OS]\nName=os.bin\nVersion=" + seed + "\n",
                                       {{"os.bin", JXTestPackage::seededBytes(70000, quint32(seed.size()))}});
}

const char* const kQueryPath = "/versions/index";
const char* const kBetaQueryPath = "/beta/versions/index";
const char* const kPackagePath = "/pkg/Total.zip";

} // namespace

class TestVexmorApiClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void downloadsNewerPackage_data();
    void downloadsNewerPackage();
    void sameVersionNotDownloadedAgain();
    void failuresKeepCache_data();
    void failuresKeepCache();
    void laterQueryReplacesEarlier();
    void destroyedWhileWaiting();

private:
    void pointAtServer();
    void writeOldCache();
    bool waitForResult(UpdateRecorder& recorder);

    QScopedPointer<QTemporaryDir> m_userData;
    QScopedPointer<TestHttpServer> m_server;
    QString m_folder;
    const QByteArray m_oldPackage = samplePackage("old");
    const QByteArray m_newPackage = samplePackage("new package");
    const QString m_note = QString::fromUtf8("Schneller – Größe ✓\nzweite Zeile");
};

void TestVexmorApiClient::initTestCase()
{
    // Only 127.0.0.1 is ever asked; no proxy setting may get in the way.
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
}

void TestVexmorApiClient::init()
{
    m_userData.reset(new QTemporaryDir);
    QVERIFY(m_userData->isValid());
    m_folder = m_userData->path() + "/updates/JX 100";
    m_server.reset(new TestHttpServer);
    QVERIFY(m_server->listen());
    pointAtServer();
}

void TestVexmorApiClient::cleanup()
{
    m_server.reset();
    m_userData.reset();
    qunsetenv("JX_RELEASE_UPDATE_URL");
    qunsetenv("JX_BETA_UPDATE_URL");
}

void TestVexmorApiClient::pointAtServer()
{
    qputenv("JX_RELEASE_UPDATE_URL", m_server->url(kQueryPath).toUtf8());
    qputenv("JX_BETA_UPDATE_URL", m_server->url(kBetaQueryPath).toUtf8());
}

void TestVexmorApiClient::writeOldCache()
{
    writeFile(m_folder + "/Total.zip", m_oldPackage);
    writeFile(m_folder + "/version.txt", "2.8.0.1");
    writeFile(m_folder + "/note.txt", "old note");
    writeFile(m_folder + "/filename.txt", "Total.zip");
    writeFile(m_folder + "/AssitOff.alp", "assistance data");
}

bool TestVexmorApiClient::waitForResult(UpdateRecorder& recorder)
{
    if (recorder.results.isEmpty()) {
        QSignalSpy spy(&recorder, &UpdateRecorder::finished);
        if (!spy.wait(10000))
            return false;
    }
    return recorder.results.size() == 1;
}

void TestVexmorApiClient::downloadsNewerPackage_data()
{
    QTest::addColumn<bool>("oldCache");
    QTest::addColumn<bool>("beta");
    QTest::addColumn<QByteArray>("md5hash");

    QTest::newRow("no cache folder yet, release server") << false << false << md5Hex(m_newPackage);
    QTest::newRow("replaces an older package, beta server") << true << true << md5Hex(m_newPackage).toUpper();
    QTest::newRow("no hash in the reply") << true << false << QByteArray();
}

void TestVexmorApiClient::downloadsNewerPackage()
{
    QFETCH(bool, oldCache);
    QFETCH(bool, beta);
    QFETCH(QByteArray, md5hash);

    if (oldCache)
        writeOldCache();
    const QString queryPath = beta ? kBetaQueryPath : kQueryPath;
    // Only the first entry named "Total" counts.
    const QByteArray reply = replyOf({QVariantMap{{"name", "Boot"}, {"version", "9.9"}, {"url", "/boot"}},
                                      totalEntry("2.9.0.1", m_server->url(kPackagePath), m_note, md5hash),
                                      totalEntry("3.0.0.0", m_server->url("/pkg/other.zip"), "later", "")});
    m_server->setReply(queryPath.toUtf8(), 200, reply, {{"Content-Type", "application/json"}});
    m_server->setReply(kPackagePath, 200, m_newPackage);

    UpdateRecorder recorder;
    VexmorApiClient client(&recorder);
    client.queryUpdate("JX 100&x/y", m_folder, beta);
    QVERIFY(waitForResult(recorder));
    QCOMPARE(recorder.results.first(), true);

    const QList<QByteArray> expectedRequests{queryPath.toUtf8() + "?model=JX%20100%26x%2Fy&ver=2.8.0.19", kPackagePath};
    QCOMPARE(m_server->requestTargets(), expectedRequests);

    FileSnapshot expected{{"Total.zip", m_newPackage},
                          {"version.txt", "2.9.0.1"},
                          {"note.txt", m_note.toUtf8()},
                          {"filename.txt", "Total.zip"}};
    if (oldCache)
        expected.insert("AssitOff.alp", "assistance data");
    QCOMPARE(snapshot(m_folder), expected);

    QString note;
    QVERIFY(VexmorApiClient::readCachedText(m_folder + "/note.txt", note));
    QCOMPARE(note, m_note);
}

void TestVexmorApiClient::sameVersionNotDownloadedAgain()
{
    writeOldCache();
    // Text after a zero byte in "version.txt" is not part of the version.
    writeFile(m_folder + "/version.txt", QByteArray("2.9.0.1\0stale", 13));
    const FileSnapshot before = snapshot(m_folder);

    m_server->setReply(kQueryPath, 200,
                       replyOf({totalEntry("2.9.0.1", m_server->url(kPackagePath), "n", md5Hex("different"))}));
    m_server->setReply(kPackagePath, 200, m_newPackage);

    UpdateRecorder recorder;
    VexmorApiClient client(&recorder);
    client.queryUpdate("JX 100", m_folder, false);
    QVERIFY(waitForResult(recorder));
    QCOMPARE(recorder.results.first(), true);
    QCOMPARE(m_server->requestCount(kPackagePath), 0);
    QCOMPARE(snapshot(m_folder), before);
}

void TestVexmorApiClient::failuresKeepCache_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<bool>("expectedResult");

    // A failed query ends with true (nothing new), a failed download with false.
    QTest::newRow("server down") << "server down" << true;
    QTest::newRow("query 404") << "query 404" << true;
    QTest::newRow("query 500") << "query 500" << true;
    QTest::newRow("query redirect") << "query redirect" << true;
    QTest::newRow("query stalls") << "query stalls" << true;
    QTest::newRow("query connection closed") << "query closed" << true;
    QTest::newRow("malformed json") << "malformed json" << true;
    QTest::newRow("object instead of array") << "object reply" << true;
    QTest::newRow("no Total entry") << "no total" << true;
    QTest::newRow("Total without version") << "no version" << true;
    QTest::newRow("Total without url") << "no url" << true;
    QTest::newRow("package 404") << "package 404" << false;
    QTest::newRow("package 500") << "package 500" << false;
    QTest::newRow("package redirect") << "package redirect" << false;
    QTest::newRow("package empty body") << "package empty" << false;
    QTest::newRow("package truncated") << "package truncated" << false;
    QTest::newRow("package wrong md5") << "package wrong md5" << false;
    QTest::newRow("error page with status 200, no md5") << "package error page" << false;
    QTest::newRow("package stalls") << "package stalls" << false;
    QTest::newRow("package connection closed") << "package closed" << false;
    QTest::newRow("package not writable") << "package not writable" << false;
    QTest::newRow("note not writable") << "note not writable" << false;
}

void TestVexmorApiClient::failuresKeepCache()
{
    QFETCH(QString, scenario);
    QFETCH(bool, expectedResult);

    writeOldCache();
    if (scenario == "package not writable") {
        // A folder where the package belongs: the write fails on the real disk.
        QFile::remove(m_folder + "/Total.zip");
        QVERIFY(QDir().mkpath(m_folder + "/Total.zip/keep"));
    } else if (scenario == "note not writable") {
        // Fails after the package is written: it must not have replaced the old one.
        QFile::remove(m_folder + "/note.txt");
        QVERIFY(QDir().mkpath(m_folder + "/note.txt/keep"));
    }
    const FileSnapshot before = snapshot(m_folder);

    const QByteArray goodReply =
        replyOf({totalEntry("2.9.0.1", m_server->url(kPackagePath), m_note, md5Hex(m_newPackage))});
    m_server->setReply(kQueryPath, 200, goodReply);
    m_server->setReply(kPackagePath, 200, m_newPackage);
    m_server->setReply("/elsewhere", 200, scenario.startsWith("query") ? goodReply : m_newPackage);

    if (scenario == "server down") {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 closedPort = probe.serverPort();
        probe.close();
        qputenv("JX_RELEASE_UPDATE_URL", QByteArray("http://127.0.0.1:") + QByteArray::number(closedPort) + kQueryPath);
    } else if (scenario == "query 404") {
        m_server->setReply(kQueryPath, 404, goodReply);
    } else if (scenario == "query 500") {
        m_server->setReply(kQueryPath, 500, goodReply);
    } else if (scenario == "query redirect") {
        m_server->setRedirect(kQueryPath, m_server->url("/elsewhere").toUtf8());
    } else if (scenario == "query stalls") {
        m_server->setStall(kQueryPath);
    } else if (scenario == "query closed") {
        m_server->setCloseImmediately(kQueryPath);
    } else if (scenario == "malformed json") {
        m_server->setReply(kQueryPath, 200, "[{\"name\":\"Total\",\"version\":\"2.9.0.1\",\"url\":");
    } else if (scenario == "object reply") {
        m_server->setReply(kQueryPath, 200,
                           QtJson::Json::serialize(totalEntry("2.9.0.1", m_server->url(kPackagePath), "", "")));
    } else if (scenario == "no total") {
        m_server->setReply(kQueryPath, 200, "[{\"name\":\"Boot\",\"version\":\"2.9\",\"url\":\"/pkg/Total.zip\"}]");
    } else if (scenario == "no version") {
        QVariantMap entry = totalEntry("", m_server->url(kPackagePath), "", "");
        entry.remove("version");
        m_server->setReply(kQueryPath, 200, replyOf({entry}));
    } else if (scenario == "no url") {
        QVariantMap entry = totalEntry("2.9.0.1", "", "", "");
        entry.remove("url");
        m_server->setReply(kQueryPath, 200, replyOf({entry}));
    } else if (scenario == "package 404") {
        m_server->setReply(kPackagePath, 404, m_newPackage);
    } else if (scenario == "package 500") {
        m_server->setReply(kPackagePath, 500, m_newPackage);
    } else if (scenario == "package redirect") {
        m_server->setRedirect(kPackagePath, m_server->url("/elsewhere").toUtf8(), 301);
    } else if (scenario == "package empty") {
        m_server->setReply(kQueryPath, 200, replyOf({totalEntry("2.9.0.1", m_server->url(kPackagePath), "", "")}));
        m_server->setReply(kPackagePath, 200, QByteArray());
    } else if (scenario == "package truncated") {
        m_server->setTruncated(kPackagePath, m_newPackage.left(1000), m_newPackage.size());
    } else if (scenario == "package wrong md5") {
        m_server->setReply(kPackagePath, 200, samplePackage("tampered"));
    } else if (scenario == "package error page") {
        m_server->setReply(kQueryPath, 200, replyOf({totalEntry("2.9.0.1", m_server->url(kPackagePath), "", "")}));
        m_server->setReply(kPackagePath, 200, "<html><body>Service unavailable</body></html>");
    } else if (scenario == "package stalls") {
        m_server->setStall(kPackagePath);
    } else if (scenario == "package closed") {
        m_server->setCloseImmediately(kPackagePath);
    }

    UpdateRecorder recorder;
    VexmorApiClient client(&recorder);
    client.setTransferTimeout(300);
    client.queryUpdate("JX 100", m_folder, false);
    QVERIFY(waitForResult(recorder));
    QCOMPARE(recorder.results.first(), expectedResult);
    QCOMPARE(snapshot(m_folder), before);
    // Redirects are not followed.
    QCOMPARE(m_server->requestCount("/elsewhere"), 0);
}

void TestVexmorApiClient::laterQueryReplacesEarlier()
{
    // The first query stalls; the second, on the other server, answers.
    m_server->setStall(kQueryPath);
    m_server->setReply(kBetaQueryPath, 200, replyOf({totalEntry("2.9.0.1", m_server->url(kPackagePath), m_note, "")}));
    m_server->setReply(kPackagePath, 200, m_newPackage);
    const QString otherFolder = m_userData->path() + "/updates/Other";

    UpdateRecorder recorder;
    VexmorApiClient client(&recorder);
    client.setTransferTimeout(300);
    client.queryUpdate("Other", otherFolder, false);
    QTRY_COMPARE(m_server->requestCount(kQueryPath), 1);
    client.queryUpdate("JX 100", m_folder, true);
    QVERIFY(waitForResult(recorder));
    QCOMPARE(recorder.results, QList<bool>{true});
    QVERIFY(!QFile::exists(otherFolder));
    QCOMPARE(snapshot(m_folder).value("Total.zip"), m_newPackage);
}

void TestVexmorApiClient::destroyedWhileWaiting()
{
    m_server->setStall(kQueryPath);
    UpdateRecorder recorder;
    {
        VexmorApiClient client(&recorder);
        client.queryUpdate("JX 100", m_folder, false);
        QTRY_COMPARE(m_server->requestCount(kQueryPath), 1);
    }
    // The reply went with the client: nothing may call back into it later.
    QSignalSpy spy(&recorder, &UpdateRecorder::finished);
    QVERIFY(!spy.wait(500));
    QVERIFY(recorder.results.isEmpty());
}

QTEST_GUILESS_MAIN(TestVexmorApiClient)
#include "tst_vexmorapiclient.moc"
