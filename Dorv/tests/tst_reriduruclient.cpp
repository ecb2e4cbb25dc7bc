#include <QtTest>

#include <QNetworkProxy>
#include <QTcpServer>
#include <QTemporaryDir>

#include "jxtestfiles.h"
#include "jxtimezoneguard.h"
#include "reriduruclient.h"
#include "testhttpserver.h"

namespace {

class AssistRecorder : public QObject, public ReriduruClientDelegate
{
    Q_OBJECT

public:
    void onReriduruFinished(bool result) override
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

quint32 localMidnightAfter(int days)
{
    return quint32(QDateTime(QDate::currentDate().addDays(days), QTime(0, 0)).toSecsSinceEpoch());
}

const char* const kAlpPath = "/current_14d.alp";

} // namespace

class TestReriduruClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void builtInAddress();
    void downloadsDataWithExpiry_data();
    void downloadsDataWithExpiry();
    void failuresKeepOldData_data();
    void failuresKeepOldData();
    void expiryIsLocalMidnight_data();
    void expiryIsLocalMidnight();

private:
    bool waitForResult(AssistRecorder& recorder);

    QScopedPointer<QTemporaryDir> m_userData;
    QScopedPointer<TestHttpServer> m_server;
    QString m_folder;
    const QByteArray m_data = QByteArray("ALP\0\x01\x02\xff", 7).repeated(5000);
};

void TestReriduruClient::initTestCase()
{
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
}

void TestReriduruClient::init()
{
    m_userData.reset(new QTemporaryDir);
    QVERIFY(m_userData->isValid());
    m_folder = m_userData->path() + "/updates/JX 100";
    m_server.reset(new TestHttpServer);
    QVERIFY(m_server->listen());
    qputenv("JX_ASSIST_HOST", "127.0.0.1:" + QByteArray::number(m_server->port()));
}

void TestReriduruClient::cleanup()
{
    m_server.reset();
    m_userData.reset();
    qunsetenv("JX_ASSIST_HOST");
}

bool TestReriduruClient::waitForResult(AssistRecorder& recorder)
{
    if (recorder.results.isEmpty()) {
        QSignalSpy spy(&recorder, &AssistRecorder::finished);
        if (!spy.wait(10000))
            return false;
    }
    return recorder.results.size() == 1;
}

void TestReriduruClient::builtInAddress()
{
    QVERIFY(ReriduruClient::ALP_URL.startsWith("http://"));
    QVERIFY(!ReriduruClient::ALP_URL.contains("http://http"));
    QVERIFY(ReriduruClient::ALP_URL.arg(14).endsWith("/current_14d.alp"));
    QVERIFY(!ReriduruClient::ALP_URL.arg(14).contains("//current"));
}

void TestReriduruClient::downloadsDataWithExpiry_data()
{
    QTest::addColumn<bool>("oldData");
    QTest::addColumn<QString>("hostPrefix");

    QTest::newRow("first download") << false << "";
    QTest::newRow("replaces old data, host with scheme") << true << "http://";
}

void TestReriduruClient::downloadsDataWithExpiry()
{
    QFETCH(bool, oldData);
    QFETCH(QString, hostPrefix);

    if (oldData) {
        writeFile(m_folder + "/AssitOff.alp", "old data");
        writeFile(m_folder + "/date.txt", QByteArray("\x00\x00\x00\x01", 4));
        writeFile(m_folder + "/version.txt", "2.8.0.1");
    }
    qputenv("JX_ASSIST_HOST", hostPrefix.toUtf8() + "127.0.0.1:" + QByteArray::number(m_server->port()) + "/");
    m_server->setReply(kAlpPath, 200, m_data);

    AssistRecorder recorder;
    ReriduruClient client(&recorder);
    QVERIFY(!client.isDownloading());
    const quint32 expiryBefore = localMidnightAfter(14);
    client.download(m_folder, "AssitOff.alp", 14);
    QVERIFY(client.isDownloading());
    QVERIFY(waitForResult(recorder));
    const quint32 expiryAfter = localMidnightAfter(14);
    QCOMPARE(recorder.results.first(), true);
    QVERIFY(!client.isDownloading());
    QCOMPARE(m_server->requestTargets(), QList<QByteArray>{kAlpPath});

    const FileSnapshot files = snapshot(m_folder);
    QCOMPARE(files.keys(), oldData ? QStringList({"AssitOff.alp", "date.txt", "version.txt"})
                                   : QStringList({"AssitOff.alp", "date.txt"}));
    QCOMPARE(files.value("AssitOff.alp"), m_data);

    const QByteArray date = files.value("date.txt");
    QCOMPARE(date.size(), 4);
    const quint32 expiry = (quint32(quint8(date[0])) << 24) | (quint32(quint8(date[1])) << 16) |
                           (quint32(quint8(date[2])) << 8) | quint32(quint8(date[3]));
    QVERIFY2(expiry == expiryBefore || expiry == expiryAfter, qPrintable(QString::number(expiry)));
    QCOMPARE(QDateTime::fromSecsSinceEpoch(expiry).time(), QTime(0, 0));
    QCOMPARE(ReriduruClient::readExpiry(m_folder + "/date.txt"), expiry);
}

void TestReriduruClient::failuresKeepOldData_data()
{
    QTest::addColumn<QString>("scenario");

    QTest::newRow("server down") << "server down";
    QTest::newRow("404") << "404";
    QTest::newRow("500") << "500";
    QTest::newRow("redirect") << "redirect";
    QTest::newRow("empty body") << "empty";
    QTest::newRow("truncated") << "truncated";
    QTest::newRow("stalls") << "stalls";
    QTest::newRow("connection closed") << "closed";
    QTest::newRow("data file not writable") << "not writable";
}

void TestReriduruClient::failuresKeepOldData()
{
    QFETCH(QString, scenario);

    writeFile(m_folder + "/AssitOff.alp", "old data");
    writeFile(m_folder + "/date.txt", QByteArray("\x12\x34\x56\x78", 4));
    QString fileName = "AssitOff.alp";
    m_server->setReply("/elsewhere", 200, m_data);

    if (scenario == "server down") {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 closedPort = probe.serverPort();
        probe.close();
        qputenv("JX_ASSIST_HOST", "127.0.0.1:" + QByteArray::number(closedPort));
    } else if (scenario == "404") {
        m_server->setReply(kAlpPath, 404, m_data);
    } else if (scenario == "500") {
        m_server->setReply(kAlpPath, 500, m_data);
    } else if (scenario == "redirect") {
        m_server->setRedirect(kAlpPath, m_server->url("/elsewhere").toUtf8());
    } else if (scenario == "empty") {
        m_server->setReply(kAlpPath, 200, QByteArray());
    } else if (scenario == "truncated") {
        m_server->setTruncated(kAlpPath, m_data.left(100), m_data.size());
    } else if (scenario == "stalls") {
        m_server->setStall(kAlpPath);
    } else if (scenario == "closed") {
        m_server->setCloseImmediately(kAlpPath);
    } else if (scenario == "not writable") {
        m_server->setReply(kAlpPath, 200, m_data);
        fileName = "Data";
        QVERIFY(QDir().mkpath(m_folder + "/Data/keep"));
    }
    const FileSnapshot before = snapshot(m_folder);

    AssistRecorder recorder;
    ReriduruClient client(&recorder);
    client.setTransferTimeout(300);
    client.download(m_folder, fileName, 14);
    QVERIFY(waitForResult(recorder));
    QCOMPARE(recorder.results.first(), false);
    QVERIFY(!client.isDownloading());
    QCOMPARE(snapshot(m_folder), before);
    QCOMPARE(m_server->requestCount("/elsewhere"), 0);
}

void TestReriduruClient::expiryIsLocalMidnight_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QDateTime>("expectedUtc");

    // Berlin: CET (UTC+1) until 2024-03-31, CEST (UTC+2) after.
    const QDateTime midnightCet(QDate(2024, 3, 1), QTime(23, 0), Qt::UTC);
    const QDateTime midnightCest(QDate(2024, 4, 2), QTime(22, 0), Qt::UTC);
    QTest::newRow("00:01") << QDateTime(QDate(2024, 2, 17), QTime(0, 1)) << midnightCet;
    QTest::newRow("23:59") << QDateTime(QDate(2024, 2, 17), QTime(23, 59)) << midnightCet;
    QTest::newRow("across the clock change") << QDateTime(QDate(2024, 3, 20), QTime(12, 0)) << midnightCest;
    QTest::newRow("given in UTC") << QDateTime(QDate(2024, 3, 19), QTime(23, 30), Qt::UTC) << midnightCest;
}

void TestReriduruClient::expiryIsLocalMidnight()
{
    QFETCH(QDateTime, now);
    QFETCH(QDateTime, expectedUtc);

    if (!QFile::exists("/usr/share/zoneinfo/Europe/Berlin"))
        QSKIP("no time zone data");
    JXTimeZoneGuard zone("Europe/Berlin");
    if (now.timeSpec() == Qt::LocalTime)
        now = QDateTime(now.date(), now.time(), Qt::LocalTime); // read again under the zone
    QCOMPARE(ReriduruClient::expiryAfter(14, now), quint32(expectedUtc.toSecsSinceEpoch()));
}

QTEST_GUILESS_MAIN(TestReriduruClient)
#include "tst_reriduruclient.moc"
