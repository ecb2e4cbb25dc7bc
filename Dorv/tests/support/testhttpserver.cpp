#include "testhttpserver.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace {

// Requests with larger headers are refused rather than buffered for ever.
const int kMaxRequestHead = 64 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 307: return "Temporary Redirect";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

QByteArray pathOf(const QByteArray& target)
{
    const int query = target.indexOf('?');
    return query < 0 ? target : target.left(query);
}

} // namespace

TestHttpServer::TestHttpServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TestHttpServer::onNewConnection);
}

TestHttpServer::~TestHttpServer()
{
    close();
}

bool TestHttpServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

void TestHttpServer::close()
{
    m_server.close();
    const QList<QTcpSocket*> sockets = m_pending.keys();
    m_pending.clear();
    for (QTcpSocket* socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

quint16 TestHttpServer::port() const
{
    return m_server.serverPort();
}

QString TestHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

QString TestHttpServer::url(const QString& target) const
{
    return baseUrl() + target;
}

void TestHttpServer::setRoute(const QByteArray& path, const Reply& reply)
{
    m_routes.insert(path, reply);
}

void TestHttpServer::setReply(const QByteArray& path, int status, const QByteArray& body,
                              const QList<QPair<QByteArray, QByteArray>>& headers)
{
    Reply reply;
    reply.status = status;
    reply.body = body;
    reply.headers = headers;
    setRoute(path, reply);
}

void TestHttpServer::setRedirect(const QByteArray& path, const QByteArray& location, int status)
{
    Reply reply;
    reply.status = status;
    reply.headers.append(qMakePair(QByteArray("Location"), location));
    reply.body = "moved";
    setRoute(path, reply);
}

void TestHttpServer::setStall(const QByteArray& path)
{
    Reply reply;
    reply.behaviour = Behaviour::Stall;
    setRoute(path, reply);
}

void TestHttpServer::setTruncated(const QByteArray& path, const QByteArray& sentBody, qint64 announcedLength)
{
    Reply reply;
    reply.behaviour = Behaviour::Truncate;
    reply.body = sentBody;
    reply.announcedLength = announcedLength;
    setRoute(path, reply);
}

void TestHttpServer::setCloseImmediately(const QByteArray& path)
{
    Reply reply;
    reply.behaviour = Behaviour::CloseImmediately;
    setRoute(path, reply);
}

void TestHttpServer::removeRoute(const QByteArray& path)
{
    m_routes.remove(path);
}

int TestHttpServer::requestCount(const QByteArray& path) const
{
    int count = 0;
    for (const QByteArray& target : m_requestTargets) {
        if (pathOf(target) == path)
            ++count;
    }
    return count;
}

void TestHttpServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        m_pending.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_pending.remove(socket);
            socket->deleteLater();
        });
    }
}

void TestHttpServer::onReadyRead(QTcpSocket* socket)
{
    auto pending = m_pending.find(socket);
    if (pending == m_pending.end())
        return; // already answered: further bytes are not another request
    pending->append(socket->readAll());

    const int headEnd = pending->indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (pending->size() > kMaxRequestHead)
            socket->abort();
        return;
    }

    const QByteArray requestLine = pending->left(pending->indexOf("\r\n"));
    m_pending.erase(pending);
    const QList<QByteArray> parts = requestLine.split(' ');
    const QByteArray target = parts.size() >= 2 ? parts.at(1) : QByteArray();
    m_requestTargets.append(target);
    emit requestReceived(target);

    const auto route = m_routes.constFind(pathOf(target));
    if (route == m_routes.constEnd()) {
        Reply notFound;
        notFound.status = 404;
        notFound.body = "not found";
        answer(socket, notFound);
        return;
    }
    answer(socket, *route);
}

void TestHttpServer::answer(QTcpSocket* socket, const Reply& reply)
{
    switch (reply.behaviour) {
    case Behaviour::Stall:
        // Kept open until the client gives up or the server closes.
        m_pending.insert(socket, QByteArray());
        socket->disconnect(this);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_pending.remove(socket);
            socket->deleteLater();
        });
        return;
    case Behaviour::CloseImmediately: socket->disconnectFromHost(); return;
    case Behaviour::Normal:
    case Behaviour::Truncate: break;
    }

    const qint64 announced = reply.behaviour == Behaviour::Truncate ? reply.announcedLength : reply.body.size();
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    head += "Content-Length: " + QByteArray::number(announced) + "\r\n";
    head += "Connection: close\r\n";
    for (const auto& header : reply.headers)
        head += header.first + ": " + header.second + "\r\n";
    head += "\r\n";
    socket->write(head);
    socket->write(reply.body);
    socket->disconnectFromHost(); // after the bytes written so far
}
