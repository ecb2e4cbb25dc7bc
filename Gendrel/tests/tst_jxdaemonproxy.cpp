#include <QtTest>

#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>

#include "jxdaemon.h"
#include "jxdaemonproxy.h"
#include "jxenv.h"

// The user role's daemon asks the log-export service on the loopback interface; a small HTTP server stands in.
class TestJXDaemonProxy : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { JXEnv::getInstance()->init(QStringLiteral("user"), QString()); }

    void userRoleGetsTheProxy()
    {
        auto* proxy = dynamic_cast<JXDaemonProxy*>(JXDaemon::getInstance());
        QVERIFY(proxy);
        QVERIFY(!proxy->getClient());
        QVERIFY(proxy->getDeviceManager());
    }

    void exportLogSendsTheDestinationWhole_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::newRow("plain") << QStringLiteral("/Users/rider/Desktop/logs.zip");
        QTest::newRow("query characters") << QStringLiteral("/tmp/a&b=c#d+e%20f g/logs.zip");
        QTest::newRow("not ASCII") << QString::fromUtf8("/tmp/r\xc3\xa9sum\xc3\xa9/\xe6\x97\xa5\xe6\x9c\xac.zip");
    }

    void exportLogSendsTheDestinationWhole()
    {
        QFETCH(QString, destination);
        QTcpServer service;
        if (!service.listen(QHostAddress::LocalHost, 18888))
            QSKIP("port 18888 of the loopback interface is taken");
        QByteArray request;
        connect(&service, &QTcpServer::newConnection, this, [&]() {
            QTcpSocket* socket = service.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [&request, socket]() {
                request += socket->readAll();
                if (!request.contains("\r\n\r\n"))
                    return;
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                socket->disconnectFromHost();
            });
        });

        JXDaemonProxy proxy;
        proxy.exportLog(destination);
        QTRY_VERIFY(request.contains("\r\n\r\n"));

        const QList<QByteArray> requestLine = request.left(request.indexOf("\r\n")).split(' ');
        QCOMPARE(requestLine.size(), 3);
        QCOMPARE(requestLine.at(0), QByteArray("GET"));
        const QByteArray target = requestLine.at(1);
        QVERIFY(target.startsWith("/export_log?dest="));
        const QByteArray encoded = target.mid(int(qstrlen("/export_log?dest=")));
        // One query item whose value decodes to the path; "+" must not reach a decoder that reads it as a space.
        for (const char separator : {'&', '#', '+', ' '})
            QVERIFY2(!encoded.contains(separator), encoded.constData());
        QCOMPARE(QString::fromUtf8(QByteArray::fromPercentEncoding(encoded)), destination);
        QCOMPARE(QUrlQuery(QUrl::fromEncoded(target).query(QUrl::FullyEncoded))
                     .queryItemValue(QStringLiteral("dest"), QUrl::FullyDecoded),
                 destination);
    }
};

QTEST_GUILESS_MAIN(TestJXDaemonProxy)
#include "tst_jxdaemonproxy.moc"
