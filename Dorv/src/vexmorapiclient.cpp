#include "vexmorapiclient.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <QUrl>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

#include "httpreply.h"
#include "json.h"
#include "jxenv.h"
#include "jxlog.h"

namespace {

const char* const kPackageFileName = "Total.zip";
const char* const kReleaseIni = "release.ini";
const qint64 kReleaseIniReadLimit = 1 << 20;
// The server answers for this version whatever the application's own is.
const char* const kQueryVersion = "2.8.0.19";

QString textUpToZero(const QByteArray& bytes)
{
    const int end = bytes.indexOf('\0');
    return QString::fromUtf8(bytes.constData(), end < 0 ? bytes.size() : end);
}

} // namespace

VexmorApiClient::VexmorApiClient(VexmorApiClientDelegate* delegate)
    : m_networkAccess(new QNetworkAccessManager(this)), m_delegate(delegate)
{
    connect(m_networkAccess, &QNetworkAccessManager::finished, this, &VexmorApiClient::finishedSlot);
}

bool VexmorApiClient::readCachedText(const QString& path, QString& text)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    text = textUpToZero(file.readAll());
    return true;
}

bool VexmorApiClient::discardPackage(const QString& folder)
{
    bool result = true;
    for (const char* name : {"version.txt", kPackageFileName}) {
        const QString path = folder + QLatin1Char('/') + QLatin1String(name);
        if (QFile::exists(path) && !QFile::remove(path)) {
            JX_CRITICAL << "can not remove" << path;
            result = false;
        }
    }
    return result;
}

bool VexmorApiClient::isUsablePackage(QIODevice& package)
{
    QuaZip zip(&package);
    if (!zip.open(QuaZip::mdUnzip))
        return false;
    if (!zip.setCurrentFile(QLatin1String(kReleaseIni), QuaZip::csSensitive))
        return false;
    QuaZipFile entry(&zip);
    if (!entry.open(QIODevice::ReadOnly))
        return false;
    if (entry.usize() > kReleaseIniReadLimit)
        return true;
    char buffer[4096];
    qint64 count = 0;
    while ((count = entry.read(buffer, sizeof buffer)) > 0) {
    }
    entry.close();
    return count == 0 && entry.getZipError() == UNZ_OK;
}

void VexmorApiClient::queryUpdate(const QString& modelName, const QString& folder, bool beta)
{
    m_failed = false;
    m_version.clear();
    m_url.clear();
    m_note.clear();
    m_md5hash.clear();
    m_folder = folder;

    // One multi-argument replacement: a percent sign inside an inserted text
    // must not be taken for a later placeholder.
    const QString address =
        QStringLiteral("%1?model=%2&ver=%3")
            .arg(JXEnv::getInstance()->getCheckUpdateUrl(beta), QString::fromLatin1(QUrl::toPercentEncoding(modelName)),
                 QLatin1String(kQueryVersion));
    JX_DEBUG << address;

    // A reply of an earlier query is of no use any more.
    QNetworkReply* previousQuery = m_queryReply;
    QNetworkReply* previousDownload = m_downloadReply;
    m_queryReply = nullptr;
    m_downloadReply = nullptr;
    if (previousQuery)
        previousQuery->abort();
    if (previousDownload)
        previousDownload->abort();

    m_queryReply = m_networkAccess->get(DorvHttp::makeRequest(address, m_transferTimeout));
}

void VexmorApiClient::finishedSlot(QNetworkReply* reply)
{
    reply->deleteLater();
    if (reply == m_queryReply) {
        m_queryReply = nullptr;
        handleQueryReply(reply);
    } else if (reply == m_downloadReply) {
        m_downloadReply = nullptr;
        handleDownloadReply(reply);
    }
}

void VexmorApiClient::handleQueryReply(QNetworkReply* reply)
{
    QByteArray body;
    if (!DorvHttp::readCompleteReply(reply, body)) {
        m_failed = true;
        if (m_delegate)
            m_delegate->onUpdateFinished(true);
        return;
    }

    // The reply is read as UTF-8 up to its first zero byte; its text is made only for a debug line that is kept.
    JX_DEBUG << textUpToZero(body);

    bool parsed = false;
    const QVariant result = QtJson::Json::parse(body, parsed);
    body = QByteArray(); // the tree is all that is needed from here on
    if (!parsed) {
        JX_CRITICAL << "the update server's reply is no JSON";
        m_failed = true;
        if (m_delegate)
            m_delegate->onUpdateFinished(true);
        return;
    }

    // The answer is a list, empty when no package is offered; anything else is no answer.
    if (result.type() != QVariant::List) {
        JX_CRITICAL << "the update server's reply is no list";
        m_failed = true;
    }
    parseResult(result);
    if (checkDownload())
        return; // the delegate hears of it when the download ends
    if (m_delegate)
        m_delegate->onUpdateFinished(true);
}

void VexmorApiClient::parseResult(const QVariant& result)
{
    const QVariantList entries = result.toList();
    for (const QVariant& element : entries) {
        const QVariantMap entry = element.toMap();
        if (entry.value(QStringLiteral("name")).toString() != QLatin1String("Total"))
            continue;
        m_version = entry.value(QStringLiteral("version")).toString();
        m_url = entry.value(QStringLiteral("url")).toString();
        m_note = entry.value(QStringLiteral("note")).toString();
        m_md5hash = entry.value(QStringLiteral("md5hash")).toString();
        return;
    }
}

bool VexmorApiClient::checkDownload()
{
    if (m_version.isEmpty() || m_url.isEmpty()) {
        JX_CRITICAL << "qurey update and get empty";
        return false;
    }

    QString cachedVersion;
    if (readCachedText(m_folder + QStringLiteral("/version.txt"), cachedVersion) && cachedVersion == m_version)
        return false;

    JX_DEBUG << "downloading " << m_url;
    m_queryReply = nullptr;
    m_downloadReply = m_networkAccess->get(DorvHttp::makeRequest(m_url, m_transferTimeout));
    return true;
}

void VexmorApiClient::handleDownloadReply(QNetworkReply* reply)
{
    bool result = false;
    QByteArray package;
    if (DorvHttp::readCompleteReply(reply, package)) {
        const QByteArray packageHash = QCryptographicHash::hash(package, QCryptographicHash::Md5).toHex();
        QBuffer packageData(&package);
        if (package.isEmpty()) {
            JX_CRITICAL << "download failed - get no data";
        } else if (!m_md5hash.isEmpty() &&
                   m_md5hash.trimmed().compare(QLatin1String(packageHash), Qt::CaseInsensitive) != 0) {
            JX_CRITICAL << "md5 of the package" << packageHash << "does not match" << m_md5hash;
        } else if (!isUsablePackage(packageData)) {
            // Without an md5 an error page served with status 200 would pass as the package; cached, it would be
            // taken for the new version until an update failed on it.
            JX_CRITICAL << "the package of version" << m_version << "from" << m_url
                        << "is no zip holding a readable release.ini; not cached";
        } else {
            result = storePackage(package);
        }
    }
    m_failed = !result;
    if (m_delegate)
        m_delegate->onUpdateFinished(result);
}

bool VexmorApiClient::storePackage(const QByteArray& package)
{
    if (!QDir().mkpath(m_folder)) {
        JX_CRITICAL << "can not make folder" << m_folder;
        return false;
    }

    // Every new file goes to a temporary name first; a failure up to the
    // commits below leaves the old cache exactly as it was.
    const QString packagePath = m_folder + QLatin1Char('/') + QLatin1String(kPackageFileName);
    QSaveFile packageFile(packagePath);
    if (!packageFile.open(QIODevice::WriteOnly)) {
        JX_CRITICAL << "can not open " << packagePath << " to write";
        return false;
    }
    if (packageFile.write(package) != package.size()) {
        JX_CRITICAL << "can not write" << packagePath << packageFile.errorString();
        return false;
    }

    const QString notePath = m_folder + QStringLiteral("/note.txt");
    QSaveFile noteFile(notePath);
    const QByteArray noteBytes = m_note.toUtf8();
    if (!noteFile.open(QIODevice::WriteOnly) || noteFile.write(noteBytes) != noteBytes.size()) {
        JX_CRITICAL << "can not write" << notePath << noteFile.errorString();
        return false;
    }

    const QString fileNamePath = m_folder + QStringLiteral("/filename.txt");
    QSaveFile fileNameFile(fileNamePath);
    const QByteArray fileNameBytes(kPackageFileName);
    if (!fileNameFile.open(QIODevice::WriteOnly) || fileNameFile.write(fileNameBytes) != fileNameBytes.size()) {
        JX_CRITICAL << "can not write" << fileNamePath << fileNameFile.errorString();
        return false;
    }

    // "version.txt" marks a whole cache: it goes first and comes back last, so
    // a failure between the renames leaves a cache that is fetched again.
    const QString versionPath = m_folder + QStringLiteral("/version.txt");
    if (QFile::exists(versionPath) && !QFile::remove(versionPath)) {
        JX_CRITICAL << "can not remove" << versionPath;
        return false;
    }
    if (!packageFile.commit()) {
        JX_CRITICAL << "can not write" << packagePath << packageFile.errorString();
        return false;
    }
    if (!noteFile.commit()) {
        JX_CRITICAL << "can not write" << notePath << noteFile.errorString();
        return false;
    }
    if (!fileNameFile.commit()) {
        JX_CRITICAL << "can not write" << fileNamePath << fileNameFile.errorString();
        return false;
    }

    QSaveFile versionFile(versionPath);
    const QByteArray versionBytes = m_version.toUtf8();
    if (!versionFile.open(QIODevice::WriteOnly) || versionFile.write(versionBytes) != versionBytes.size() ||
        !versionFile.commit()) {
        JX_CRITICAL << "can not write" << versionPath << versionFile.errorString();
        return false;
    }
    return true;
}
