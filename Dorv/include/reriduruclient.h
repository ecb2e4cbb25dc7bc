#ifndef RERIDURUCLIENT_H
#define RERIDURUCLIENT_H

#include <QDateTime>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

class ReriduruClientDelegate
{
public:
    virtual void onReriduruFinished(bool result) = 0;
};

// Downloads the GNSS assistance data into a model's folder, with its expiry
// in "date.txt" (4 bytes, big-endian seconds since 1970 UTC). Main thread only.
class ReriduruClient : public QObject
{
    Q_OBJECT

public:
    // "http://" host "/current_%1d.alp" for the host the build was configured
    // with; the environment variable JX_ASSIST_HOST overrides the host.
    static const QString ALP_URL;

    // A transfer that moves no data for this long ends with a network error.
    static const int DefaultTransferTimeout = 30000;

    explicit ReriduruClient(ReriduruClientDelegate* delegate);

    bool isDownloading() const { return m_downloading; }
    void download(const QString& folder, const QString& fileName, int days);

    void setTransferTimeout(int milliseconds) { m_transferTimeout = milliseconds; }
    int transferTimeout() const { return m_transferTimeout; }

    // Local midnight at the start of the day `days` after now's local date.
    static quint32 expiryAfter(int days, const QDateTime& now);
    // The expiry kept in a "date.txt"; 0 when the file is missing, unreadable or not 4 bytes long.
    static quint32 readExpiry(const QString& datePath);

private slots:
    void finishedSlot(QNetworkReply* reply);

private:
    bool storeData(const QByteArray& data);

    QNetworkAccessManager* m_networkAccess;
    QNetworkReply* m_reply = nullptr;
    QString m_fileName;
    QString m_folder;
    int m_days = 0;
    bool m_downloading = false;
    ReriduruClientDelegate* m_delegate;
    int m_transferTimeout = DefaultTransferTimeout;
};

#endif
