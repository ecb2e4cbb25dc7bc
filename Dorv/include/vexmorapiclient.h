#ifndef VEXMORAPICLIENT_H
#define VEXMORAPICLIENT_H

#include <QObject>
#include <QString>
#include <QVariant>

class QIODevice;
class QNetworkAccessManager;
class QNetworkReply;

class VexmorApiClientDelegate
{
public:
    virtual void onUpdateFinished(bool result) = 0;
};

// Asks the update server for the newest package of a model and keeps it in
// the model's cache folder ("Total.zip" with "note.txt", "filename.txt" and
// "version.txt"). Main thread only; never blocks.
class VexmorApiClient : public QObject
{
    Q_OBJECT

public:
    // A transfer that moves no data for this long ends with a network error.
    static const int DefaultTransferTimeout = 30000;

    explicit VexmorApiClient(VexmorApiClientDelegate* delegate);

    void queryUpdate(const QString& modelName, const QString& folder, bool beta);

    void setTransferTimeout(int milliseconds) { m_transferTimeout = milliseconds; }
    int transferTimeout() const { return m_transferTimeout; }

    // Whether the last query, or the download it started, failed: no answer,
    // a status other than 200, a malformed reply, a wrong MD5, a package that
    // is not usable, a cache that could not be written. An answer that names
    // no newer package is no failure.
    bool lastQueryFailed() const { return m_failed; }

    // The text of a cache file ("version.txt", "note.txt") up to its first
    // zero byte, as UTF-8; false when the file does not open.
    static bool readCachedText(const QString& path, QString& text);

    // Forgets the cached package of a model folder, so that the next query
    // downloads it again: "version.txt" first, then "Total.zip". The release
    // note and the assistance data stay. False when either remains.
    static bool discardPackage(const QString& folder);

    // Whether the package is a zip holding a "release.ini" that reads back with a good checksum: the first things the
    // driver needs of it. Only that entry is read; one larger than 1 MiB counts as present without being read
    // through on the main thread.
    static bool isUsablePackage(QIODevice& package);

private slots:
    void finishedSlot(QNetworkReply* reply);

private:
    void handleQueryReply(QNetworkReply* reply);
    void handleDownloadReply(QNetworkReply* reply);
    void parseResult(const QVariant& result);
    bool checkDownload();
    bool storePackage(const QByteArray& package);

    QNetworkAccessManager* m_networkAccess;
    QNetworkReply* m_queryReply = nullptr;
    QNetworkReply* m_downloadReply = nullptr;
    QString m_version;
    QString m_url;
    QString m_note;
    QString m_md5hash;
    QString m_folder;
    VexmorApiClientDelegate* m_delegate;
    int m_transferTimeout = DefaultTransferTimeout;
    bool m_failed = false;
};

#endif
