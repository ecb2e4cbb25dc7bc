// The user profile: the device's XML settings files, a user file over a defaults file beside it.

#include "device/zelto50/jxzelto50.h"

#include <QFileInfo>

#include "jxlog.h"
#include "profile/jxprofiledata.h"

namespace {

const QString kUserFile = QStringLiteral("user_settings.xml");
const QString kDefaultsFile = QStringLiteral("default_settings.xml");

bool readProfile(const QString& path, QMap<QString, QString>& map)
{
    QByteArray raw = JXProfileReaderXML::pathBytes(path);
    JXProfileData data(raw, ProfileFormat::XML);
    if (!data.readAll())
        return false;
    map = data.getData();
    return true;
}

// The XML writer replaces the file as a whole, so a failure leaves the previous file.
bool writeProfile(const QString& path, const QMap<QString, QString>& map)
{
    QByteArray raw = JXProfileReaderXML::pathBytes(path);
    JXProfileData data(raw, ProfileFormat::XML);
    data.setData(map);
    return data.save();
}

QString defaultsPathOf(QString path)
{
    return path.replace(kUserFile, kDefaultsFile, Qt::CaseSensitive);
}

} // namespace

QStringList JXZelto50::keysOfProfileCompatibleWithServer()
{
    QStringList keys{QStringLiteral("User Name"),          QStringLiteral("User Sex"),
                     QStringLiteral("User Birthday"),      QStringLiteral("User Height.Metric"),
                     QStringLiteral("User Height.Imperial"), QStringLiteral("User Weight.Metric"),
                     QStringLiteral("User Weight.Imperial"), QStringLiteral("Dst Unit")};
    for (const char* measure : {"LTHR", "MHR", "MAP", "FTP"}) {
        const QString base = QLatin1String("User ") + QLatin1String(measure);
        keys << base;
        for (int zone = 1; zone <= 7; ++zone) {
            keys << base + QStringLiteral(".zone%1.low").arg(zone);
            keys << base + QStringLiteral(".zone%1.high").arg(zone);
        }
    }
    return keys;
}

bool JXZelto50::getProfile(QMap<QString, QString>& profile)
{
    QString drive;
    QString path;
    if (!driveRoot(drive) || !getProfileFilePath(path))
        return false;
    if (!QFileInfo::exists(path))
        path = defaultsPathOf(path);

    QMap<QString, QString> user;
    if (!readProfile(path, user)) {
        JX_DEBUG << " no profile not on zelto50 , send \" profile not found \" to server";
        return false;
    }
    const QString defaultsPath = defaultsPathOf(path);
    QMap<QString, QString> defaults;
    if (readProfile(defaultsPath, defaults)) {
        profile = defaults;
        // An empty user value does not hide the default.
        for (auto it = user.constBegin(); it != user.constEnd(); ++it) {
            if (!it.value().isEmpty())
                profile.insert(it.key(), it.value());
        }
    } else {
        JX_DEBUG << "read file " << defaultsPath << "  failed";
    }

    QString core = drive + QLatin1String("/oriska/applications/core/") + kUserFile;
    if (!QFileInfo::exists(core))
        core = defaultsPathOf(core);
    QMap<QString, QString> coreSettings;
    readProfile(core, coreSettings);
    profile.insert(QStringLiteral("Dst Unit"),
                   coreSettings.value(QStringLiteral("unit system"), QStringLiteral("0")) == QLatin1String("0")
                       ? QStringLiteral("Metric")
                       : QStringLiteral("Imperial"));
    profile.insert(QStringLiteral("System Language"), coreSettings.value(QStringLiteral("System Language")));
    return true;
}

bool JXZelto50::saveProfile(QMap<QString, QString> profile)
{
    QString drive;
    QString path;
    if (!driveRoot(drive) || !getProfileFilePath(path))
        return false;
    QMap<QString, QString> current;
    if (!getProfile(current)) {
        // Writing the given keys alone over a user file that exists would lose the rest of it.
        if (QFileInfo::exists(path)) {
            JX_WARNING << "profile" << path << "cannot be read: not overwritten";
            return false;
        }
        current.clear();
    }
    const QStringList keys = keysOfProfileCompatibleWithServer();
    for (auto it = profile.constBegin(); it != profile.constEnd(); ++it) {
        if (keys.contains(it.key()))
            current.insert(it.key(), it.value());
    }
    if (!writeProfile(path, current)) {
        JX_WARNING << "writing profile" << path << "failed";
        return false;
    }

    const QString core = drive + QLatin1String("/oriska/applications/core/") + kUserFile;
    QMap<QString, QString> coreSettings;
    if (QFileInfo::exists(core) && !readProfile(core, coreSettings)) {
        JX_WARNING << "core settings" << core << "cannot be read: not overwritten";
        return false;
    }
    coreSettings.insert(QStringLiteral("unit system"),
                        profile.value(QStringLiteral("Dst Unit")) == QLatin1String("Metric") ? QStringLiteral("0")
                                                                                              : QStringLiteral("1"));
    if (!writeProfile(core, coreSettings)) {
        JX_WARNING << "writing core settings" << core << "failed";
        return false;
    }
    return true;
}

bool JXZelto50::prepareUploadProfile(QString path)
{
    QMap<QString, QString> profile;
    if (!getProfile(profile))
        return false;
    QMap<QString, QString> upload;
    for (const QString& key : keysOfProfileCompatibleWithServer())
        upload.insert(key, profile.value(key));
    QByteArray raw = JXProfileReaderXML::pathBytes(path);
    JXProfileData data(raw, ProfileFormat::XML);
    data.setData(upload);
    data.convertTrainingZoneHighLow();
    return data.save();
}
