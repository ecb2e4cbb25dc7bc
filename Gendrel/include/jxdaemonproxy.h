#ifndef JXDAEMONPROXY_H
#define JXDAEMONPROXY_H

#include <QNetworkAccessManager>
#include <QObject>

#include "jxdaemon.h"

// The daemon of the user-side role: it has no device client of its own and has the logs exported by the local
// log-export service over HTTP. Lives on the main thread.
class JXDaemonProxy : public QObject, public JXDaemon
{
    Q_OBJECT

public:
    JXDaemonProxy();
    ~JXDaemonProxy() override;

    // Does nothing; start(bool) is the daemon's and runs a real device manager.
    void start() {}
    using JXDaemon::start;

    // Asks the service on the loopback interface to export the logs to destination; nothing waits for the answer.
    void exportLog(QString destination) override;
    JXClient* getClient() override { return nullptr; }

private slots:
    void replyFinished();

private:
    QNetworkAccessManager m_network;
};

#endif
