#include "python/galapi.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QMutex>
#include <QSaveFile>
#include <QSettings>
#include <QXmlStreamWriter>

#include "../gal/galformat.h"
#include "jxlog.h"
#include "util/ghgpxexportable.h"
#include "util/ghgpxwriter.h"
#include "util/ghxmlsupport.h"

namespace {

const char kProfileGroup[] = "Profile";

QMutex s_modulesMutex;

std::map<QString, std::shared_ptr<const JXScriptModule>>& modules()
{
    static std::map<QString, std::shared_ptr<const JXScriptModule>> registry;
    return registry;
}

std::shared_ptr<const JXScriptModule> makeGalApi()
{
    auto module = std::make_shared<JXScriptModule>(QStringLiteral("galapi"));
    module->define(QStringLiteral("CreateProfileXml"), [](const QVariantList& arguments) {
        if (arguments.size() != 2)
            return QVariant();
        return QVariant(GalApi::createProfileXml(arguments.at(0).toString(), arguments.at(1).toString()));
    });
    module->define(QStringLiteral("CreateProfileIni"), [](const QVariantList& arguments) {
        if (arguments.size() != 3)
            return QVariant();
        return QVariant(GalApi::createProfileIni(arguments.at(0).toStringList(), arguments.at(1).toStringList(),
                                                 arguments.at(2).toString()));
    });
    module->define(QStringLiteral("ExportPmz"), [](const QVariantList& arguments) {
        if (arguments.size() != 5)
            return QVariant();
        return QVariant(GalApi::exportPmz(arguments.at(0).toString(), arguments.at(1).toString(),
                                          arguments.at(2).toString(), arguments.at(3).toString(),
                                          arguments.at(4).toString()));
    });
    return module;
}

void ensureBuiltins()
{
    static bool made = false;
    if (!made) {
        made = true;
        modules()[QStringLiteral("galapi")] = makeGalApi();
    }
}

// One activity as the export writes it: metadata, and a track without points that carries times and distance.
class PmzActivity : public GHGpxExportable
{
public:
    QString name;
    QString creator;
    QDateTime start;
    QDateTime end;
    quint32 distance = 0;
    bool hasLap = false;

    void writeMeta(QXmlStreamWriter& writer) override
    {
        writer.writeStartElement(QStringLiteral("metadata"));
        GHXmlSupport::writeTextIfSet(writer, "name", name);
        GHXmlSupport::writeTextIfSet(writer, "desc", creator);
        if (hasLap)
            writer.writeTextElement(QStringLiteral("time"), start.toString(Qt::ISODate));
        writer.writeEndElement();
    }
    void writeRte(QXmlStreamWriter&) override {}
    void writeTrk(QXmlStreamWriter& writer) override
    {
        writer.writeStartElement(QStringLiteral("trk"));
        GHXmlSupport::writeTextIfSet(writer, "name", name);
        if (hasLap) {
            writer.writeStartElement(QStringLiteral("extensions"));
            writer.writeTextElement(QStringLiteral("starttime"), start.toString(Qt::ISODate));
            writer.writeTextElement(QStringLiteral("endtime"), end.toString(Qt::ISODate));
            writer.writeTextElement(QStringLiteral("distance"), QString::number(distance));
            writer.writeEndElement();
        }
        writer.writeEndElement();
    }
    void writeWpt(QXmlStreamWriter&) override {}
    void writeExtensions(QXmlStreamWriter&) override {}
};

// The activity file's records; false when it holds no whole activity record.
bool readActivity(const QString& path, PmzActivity& activity)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.read(GalFormat::kActivityRecordSize + GalFormat::kLapRecordSize);
    if (data.size() < GalFormat::kActivityRecordSize)
        return false;
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    activity.name = QFileInfo(path).completeBaseName();
    if (!(bytes[GalFormat::kActivityFlags] & GalFormat::kActivityNameNotText)) {
        // The record holds at most 16 name bytes, whatever its length field says.
        const int length = qMin<int>(bytes[GalFormat::kActivityNameLength] | bytes[GalFormat::kActivityNameLength + 1] << 8,
                                     GalFormat::kActivityNameCapacity);
        const QString text = QString::fromLatin1(data.constData() + GalFormat::kActivityName, length);
        if (!text.isEmpty())
            activity.name = text;
    }
    activity.hasLap = data.size() >= GalFormat::kActivityRecordSize + GalFormat::kLapRecordSize;
    if (activity.hasLap) {
        const int lap = GalFormat::kActivityRecordSize;
        activity.start = QDateTime::fromSecsSinceEpoch(GalFormat::readU32(data, lap + GalFormat::kLapStartTime), Qt::UTC);
        activity.end = QDateTime::fromSecsSinceEpoch(GalFormat::readU32(data, lap + GalFormat::kLapEndTime), Qt::UTC);
        activity.distance = GalFormat::readU32(data, lap + GalFormat::kLapDistance);
    }
    return true;
}

} // namespace

QVariant JXScriptModule::call(const QString& function, const QVariantList& arguments) const
{
    const auto found = m_functions.find(function);
    if (found == m_functions.end())
        return QVariant();
    return found->second(arguments);
}

std::shared_ptr<const JXScriptModule> JXScriptModule::importModule(const QString& name)
{
    QMutexLocker lock(&s_modulesMutex);
    ensureBuiltins();
    const auto found = modules().find(name);
    return found == modules().end() ? nullptr : found->second;
}

void JXScriptModule::setModule(const QString& name, std::shared_ptr<const JXScriptModule> module)
{
    QMutexLocker lock(&s_modulesMutex);
    ensureBuiltins();
    if (module)
        modules()[name] = std::move(module);
    else
        modules().erase(name);
}

void JXScriptModule::removeFunction(const QString& module, const QString& function)
{
    QMutexLocker lock(&s_modulesMutex);
    ensureBuiltins();
    const auto found = modules().find(module);
    if (found == modules().end())
        return;
    // Modules in use by a caller stay as they were: the stripped one is a copy.
    auto stripped = std::make_shared<JXScriptModule>(*found->second);
    stripped->m_functions.erase(function);
    found->second = std::move(stripped);
}

void JXScriptModule::restoreBuiltins()
{
    QMutexLocker lock(&s_modulesMutex);
    modules().clear();
    modules()[QStringLiteral("galapi")] = makeGalApi();
}

bool GalApi::createProfileXml(const QString& iniPath, const QString& targetPath)
{
    if (!QFile::exists(iniPath)) {
        JX_WARNING << "CreateProfileXml: no profile file" << iniPath;
        return false;
    }
    QSettings ini(iniPath, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        JX_WARNING << "CreateProfileXml: unreadable profile file" << iniPath;
        return false;
    }
    ini.beginGroup(QLatin1String(kProfileGroup));
    QSaveFile file(targetPath);
    if (!file.open(QIODevice::WriteOnly)) {
        JX_WARNING << "CreateProfileXml: cannot write" << targetPath << file.errorString();
        return false;
    }
    QXmlStreamWriter writer(&file);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("settings"));
    for (const QString& key : ini.childKeys()) {
        writer.writeStartElement(QStringLiteral("property"));
        GHXmlSupport::writeAttribute(writer, "name", key);
        GHXmlSupport::writeAttribute(writer, "value", ini.value(key).toString());
        writer.writeEndElement();
    }
    writer.writeEndElement();
    writer.writeEndDocument();
    if (writer.hasError() || !file.commit()) {
        JX_WARNING << "CreateProfileXml: failed to write" << targetPath;
        return false;
    }
    return true;
}

bool GalApi::createProfileIni(const QStringList& keys, const QStringList& values, const QString& iniPath)
{
    if (keys.size() != values.size()) {
        JX_WARNING << "CreateProfileIni:" << keys.size() << "keys but" << values.size() << "values";
        return false;
    }
    // Written beside the target and renamed, so a failure leaves no half profile.
    const QString temporary = iniPath + QLatin1String(".part");
    QFile::remove(temporary);
    {
        QSettings ini(temporary, QSettings::IniFormat);
        ini.beginGroup(QLatin1String(kProfileGroup));
        for (int i = 0; i < keys.size(); ++i)
            ini.setValue(keys.at(i), values.at(i));
        ini.endGroup();
        ini.sync();
        if (ini.status() != QSettings::NoError) {
            JX_WARNING << "CreateProfileIni: failed to write" << iniPath;
            QFile::remove(temporary);
            return false;
        }
    }
    // QSettings writes nothing for an empty profile; the file still has to exist.
    if (!QFile::exists(temporary)) {
        QFile empty(temporary);
        if (!empty.open(QIODevice::WriteOnly)) {
            JX_WARNING << "CreateProfileIni: failed to write" << iniPath;
            return false;
        }
    }
    QFile::remove(iniPath);
    if (!QFile::rename(temporary, iniPath)) {
        JX_WARNING << "CreateProfileIni: failed to write" << iniPath;
        QFile::remove(temporary);
        return false;
    }
    return true;
}

QStringList GalApi::exportPmz(const QString& target, const QString& model, const QString& version,
                              const QString& profilePath, const QString& volumePath)
{
    Q_UNUSED(profilePath) // our exports carry no profile
    QStringList written;
    const QDir activities(volumePath + QLatin1Char('/') + GalFormat::activityFolder());
    const QStringList names = activities.entryList({QStringLiteral("*.gal"), QStringLiteral("*.GAL")}, QDir::Files,
                                                   QDir::Name);
    for (const QString& name : names) {
        PmzActivity activity;
        if (!readActivity(activities.filePath(name), activity)) {
            JX_WARNING << "ExportPmz: no activity record in" << name;
            continue;
        }
        activity.creator = (model + QLatin1Char(' ') + version).trimmed();
        const QString path = QDir(target).filePath(QFileInfo(name).completeBaseName() + QLatin1String(".pmz"));
        if (!GHGpxWriter(QStringLiteral("1.1"), &activity).writeFile(path)) {
            JX_WARNING << "ExportPmz: failed to write" << path;
            continue;
        }
        written << path;
    }
    return written;
}
