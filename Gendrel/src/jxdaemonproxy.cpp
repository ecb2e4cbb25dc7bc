#include "jxdaemonproxy.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {

const char kExportLogUrl[] = "http://127.0.0.1:18888/export_log?dest=";

} // namespace

JXDaemonProxy::JXDaemonProxy() = default;

JXDaemonProxy::~JXDaemonProxy() = default;

void JXDaemonProxy::exportLog(QString destination)
{
    // Percent-encoded whole, so that "&", "#", "+" or "%" in a path reach the service as part of it.
    const QUrl url =
        QUrl::fromEncoded(QByteArray(kExportLogUrl) + QUrl::toPercentEncoding(destination), QUrl::StrictMode);
    QNetworkReply* reply = m_network.get(QNetworkRequest(url));
    connect(reply, &QNetworkReply::finished, this, &JXDaemonProxy::replyFinished);
}

void JXDaemonProxy::replyFinished()
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply)
        return;
    // A failed export is released without a message.
    reply->deleteLater();
}
