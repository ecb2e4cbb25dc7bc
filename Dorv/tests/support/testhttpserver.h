#ifndef TESTHTTPSERVER_H
#define TESTHTTPSERVER_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 for tests and demonstrations. It serves
// canned replies by path (the query part is ignored for matching) and can
// misbehave on purpose. It runs in the thread that owns it, through the event
// loop, so a test waiting with QSignalSpy::wait keeps it serving.
// Every reply closes its connection; a path without a route gets 404.
class TestHttpServer : public QObject
{
    Q_OBJECT

public:
    enum class Behaviour {
        Normal,           // status line, headers, the whole body
        Stall,            // read the request and never answer
        Truncate,         // announce announcedLength bytes, send body, close
        CloseImmediately, // close the connection without a byte of answer
    };

    struct Reply
    {
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        Behaviour behaviour = Behaviour::Normal;
        qint64 announcedLength = -1; // Truncate only
    };

    explicit TestHttpServer(QObject* parent = nullptr);
    ~TestHttpServer() override;

    // Listens on 127.0.0.1 on a port the system picks.
    bool listen();
    void close();
    quint16 port() const;
    QString baseUrl() const;                  // "http://127.0.0.1:PORT"
    QString url(const QString& target) const; // baseUrl() + target

    void setRoute(const QByteArray& path, const Reply& reply);
    void setReply(const QByteArray& path, int status, const QByteArray& body,
                  const QList<QPair<QByteArray, QByteArray>>& headers = {});
    void setRedirect(const QByteArray& path, const QByteArray& location, int status = 302);
    void setStall(const QByteArray& path);
    void setTruncated(const QByteArray& path, const QByteArray& sentBody, qint64 announcedLength);
    void setCloseImmediately(const QByteArray& path);
    void removeRoute(const QByteArray& path);

    // Request targets as received ("/versions/index?model=X&ver=Y"), in order.
    QList<QByteArray> requestTargets() const { return m_requestTargets; }
    int requestCount(const QByteArray& path) const;

signals:
    void requestReceived(const QByteArray& target);

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Reply& reply);

    QTcpServer m_server;
    QHash<QByteArray, Reply> m_routes;
    QHash<QTcpSocket*, QByteArray> m_pending; // request bytes per connection
    QList<QByteArray> m_requestTargets;
};

#endif
