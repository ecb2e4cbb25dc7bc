// Registry matching, time texts and language packs of JXUtility.
#include "jxutility.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QProcess>
#include <QSettings>

#include "compress/jxziputil.h"
#include "jxlanguagemap.h"
#include "jxlog.h"

namespace {

// Whether a QDateTime format names a time zone ("t" outside quotes), and
// whether it ends inside a quoted literal.
void scanDateTimeFormat(const QString& format, bool& hasZone, bool& endsQuoted)
{
    hasZone = false;
    endsQuoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            endsQuoted = !endsQuoted; // a doubled quote toggles twice
        else if (!endsQuoted && c == QLatin1Char('t'))
            hasZone = true;
    }
}

} // namespace

stRegDevInfo* JXUtility::getRegistryDevice(QByteArray signature, QVector<stRegDevInfo>& rows)
{
    JX_DEBUG << "ba=" << signature;
    for (stRegDevInfo& row : rows) {
        JX_DEBUG << "image signature=" << row.matchText;
        if (signature.contains(row.matchText.toLatin1()))
            return &row;
    }
    return nullptr;
}

QVector<stRegDevInfo*> JXUtility::getRegistryDevices(QString vendor, QVector<stRegDevInfo>& rows)
{
    QVector<stRegDevInfo*> matches;
    for (stRegDevInfo& row : rows) {
        const QStringList words = row.matchText.split(QLatin1Char(':'));
        for (const QString& word : words) {
            if (word.isEmpty() || vendor.contains(word, Qt::CaseInsensitive)) {
                matches.append(&row);
                break;
            }
        }
    }
    return matches;
}

QString JXUtility::tm_i2s(quint32 time, QString format)
{
    // The C locale: these texts are read back by programs, not people.
    return QLocale::c().toString(QDateTime::fromSecsSinceEpoch(qint64(time), Qt::UTC), format);
}

quint32 JXUtility::tm_s2i(QString text, QString format)
{
    bool hasZone = false;
    bool endsQuoted = false;
    scanDateTimeFormat(format, hasZone, endsQuoted);
    QDateTime parsed;
    if (hasZone) {
        parsed = QDateTime::fromString(text, format);
        if (parsed.isValid())
            parsed = QDateTime(parsed.date(), parsed.time(), Qt::UTC);
    } else {
        // Parsed as UTC from the start: read as local time, a valid text that
        // falls into a daylight-saving gap of the computer's zone would fail.
        const QString zoneSection = endsQuoted ? QStringLiteral("' t") : QStringLiteral(" t");
        parsed = QDateTime::fromString(text + QLatin1String(" UTC"), format + zoneSection);
    }
    if (!parsed.isValid())
        return 0;
    const qint64 seconds = parsed.toSecsSinceEpoch();
    // What an unsigned Unix time cannot hold is -1, as it always was.
    if (seconds < 0 || seconds > qint64(0xFFFFFFFFu))
        return 0xFFFFFFFFu;
    return quint32(seconds);
}

bool JXUtility::getSupportLanguage(QString zipFile, QString scratchFolder, QStringList& names, qint64 sizeLimit)
{
    JXLanguageMap languages;
    // An empty path would unpack into the current directory.
    if (scratchFolder.isEmpty() || !deleteDir(scratchFolder)) {
        JX_CRITICAL << QStringLiteral("can not delete old directory: %1").arg(scratchFolder);
        return false;
    }
    QDir().mkpath(scratchFolder); // a folder that could not be made fails the unpacking

    const QStringList codes = languages.getLangCodes();
    JXZipUtil zip;
    zip.setSizeLimit(sizeLimit);
    if (!zip.decompress(zipFile, scratchFolder)) {
        JX_CRITICAL << QStringLiteral("can not decompress file: %1").arg(zipFile);
        return false;
    }

    const QStringList entries = QDir(scratchFolder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        for (const QString& code : codes) {
            if (entry.contains(QLatin1Char('_') + code + QLatin1Char('_'), Qt::CaseInsensitive))
                names.append(languages.getLangName(code));
        }
    }
    return true;
}

bool JXUtility::launchSportTracks()
{
    QString installFolder;
#ifdef Q_OS_WIN
    const QSettings registry(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Zone Five Software\\SportTracks\\3"),
                             QSettings::NativeFormat);
    installFolder = registry.value(QStringLiteral("InstallFolder")).toString();
#endif
    // Only the Windows registry names the install folder; elsewhere it stays empty.
    if (installFolder.isEmpty()) {
        JX_WARNING << "SportTracks ap path empty";
        return false;
    }
    // The folder ends with its separator.
    return QProcess::startDetached(installFolder + QLatin1String("SportTracks.exe"), QStringList());
}
