#ifndef HTTPREPLY_H
#define HTTPREPLY_H

// What the updater's two HTTP clients share about requests and replies.

#include <QByteArray>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

#include "jxlog.h"

namespace DorvHttp {

// Redirects are not followed, as the servers never relied on it; a stalled
// transfer ends with a network error after transferTimeout milliseconds.
inline QNetworkRequest makeRequest(const QString& address, int transferTimeout)
{
    QNetworkRequest request{QUrl(address)};
    request.setTransferTimeout(transferTimeout);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    return request;
}

// A reply counts only when it ended without a network error, with status 200
// and with every byte it announced.
inline bool readCompleteReply(QNetworkReply* reply, QByteArray& body)
{
    if (reply->error() != QNetworkReply::NoError) {
        JX_CRITICAL << "http error=" << int(reply->error());
        return false;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 200) {
        JX_CRITICAL << "http status=" << status;
        return false;
    }
    body = reply->readAll();
    // A compressed reply announces its compressed size, not what readAll gives.
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && reply->rawHeader("Content-Encoding").isEmpty() &&
        announced.toLongLong() != body.size()) {
        JX_CRITICAL << "incomplete reply:" << body.size() << "of" << announced.toLongLong() << "bytes";
        return false;
    }
    return true;
}

} // namespace DorvHttp

#endif
