#include "reriduruclient.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>

#include "httpreply.h"
#include "jxlog.h"

#ifndef JX_ASSIST_HOST
#define JX_ASSIST_HOST "assist.reriduru.example"
#endif

namespace {

// The host may be configured with or without its "http://".
QString alpUrlForHost(QString host)
{
    if (host.startsWith(QLatin1String("http://")))
        host.remove(0, int(qstrlen("http://")));
    while (host.endsWith(QLatin1Char('/')))
        host.chop(1);
    return QStringLiteral("http://") + host + QStringLiteral("/current_%1d.alp");
}

} // namespace

const QString ReriduruClient::ALP_URL = alpUrlForHost(QString::fromUtf8(JX_ASSIST_HOST));

ReriduruClient::ReriduruClient(ReriduruClientDelegate* delegate)
    : m_networkAccess(new QNetworkAccessManager(this)), m_delegate(delegate)
{
    connect(m_networkAccess, &QNetworkAccessManager::finished, this, &ReriduruClient::finishedSlot);
}

quint32 ReriduruClient::expiryAfter(int days, const QDateTime& now)
{
    const QDateTime midnight(now.toLocalTime().date().addDays(days), QTime(0, 0), Qt::LocalTime);
    return quint32(midnight.toSecsSinceEpoch());
}

quint32 ReriduruClient::readExpiry(const QString& datePath)
{
    quint32 expiry = 0;
    QFile file(datePath);
    if (file.open(QIODevice::ReadOnly) && file.size() == 4) {
        QDataStream stream(&file);
        stream >> expiry;
    }
    return expiry;
}

void ReriduruClient::download(const QString& folder, const QString& fileName, int days)
{
    m_downloading = true;
    m_folder = folder;
    m_fileName = fileName;
    m_days = days;

    const QByteArray hostOverride = qgetenv("JX_ASSIST_HOST");
    const QString pattern = hostOverride.isEmpty() ? ALP_URL : alpUrlForHost(QString::fromUtf8(hostOverride));
    const QString address = pattern.arg(days);
    JX_DEBUG << QString(QStringLiteral("alp url=") + address);

    m_reply = m_networkAccess->get(DorvHttp::makeRequest(address, m_transferTimeout));
}

void ReriduruClient::finishedSlot(QNetworkReply* reply)
{
    reply->deleteLater();
    if (reply == m_reply)
        m_reply = nullptr;
    m_downloading = false;

    bool result = false;
    QByteArray data;
    if (DorvHttp::readCompleteReply(reply, data)) {
        if (data.isEmpty())
            JX_CRITICAL << "download failed - get no data";
        else
            result = storeData(data);
    }
    if (m_delegate)
        m_delegate->onReriduruFinished(result);
}

bool ReriduruClient::storeData(const QByteArray& data)
{
    if (!QDir().mkpath(m_folder)) {
        JX_CRITICAL << "can not make folder" << m_folder;
        return false;
    }

    // The data goes to a temporary name first: a failed write keeps the old
    // data and its expiry.
    const QString dataPath = m_folder + QLatin1Char('/') + m_fileName;
    QSaveFile dataFile(dataPath);
    if (!dataFile.open(QIODevice::WriteOnly)) {
        JX_CRITICAL << "can not open " << dataPath << " to write";
        return false;
    }
    if (dataFile.write(data) != data.size()) {
        JX_CRITICAL << "can not write" << dataPath << dataFile.errorString();
        return false;
    }

    // Without "date.txt" the cached data counts as stale, so it goes before
    // the data changes and comes back only once the data is in place.
    const QString datePath = m_folder + QStringLiteral("/date.txt");
    if (QFile::exists(datePath) && !QFile::remove(datePath)) {
        JX_CRITICAL << "can not remove" << datePath;
        return false;
    }
    if (!dataFile.commit()) {
        JX_CRITICAL << "can not write" << dataPath << dataFile.errorString();
        return false;
    }

    QByteArray expiryBytes;
    QDataStream stream(&expiryBytes, QIODevice::WriteOnly);
    stream << expiryAfter(m_days, QDateTime::currentDateTime());

    QSaveFile dateFile(datePath);
    if (!dateFile.open(QIODevice::WriteOnly) || dateFile.write(expiryBytes) != expiryBytes.size() ||
        !dateFile.commit()) {
        JX_CRITICAL << dateFile.errorString();
        return false;
    }
    return true;
}
