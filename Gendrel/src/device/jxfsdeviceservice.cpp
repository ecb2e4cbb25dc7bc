#include "device/jxfsdeviceservice.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include "jxlog.h"

namespace {

// The INI reader takes any bytes without complaint; control bytes show a file that is no description file, and
// writing the mark would replace its content by the few keys that were read from it.
bool isTextFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    for (const char c : bytes) {
        const uchar byte = uchar(c);
        if ((byte < 0x20 && c != '\t' && c != '\n' && c != '\r') || byte == 0x7F) {
            JX_DEBUG << "not marking" << path << ": it is not a text file";
            return false;
        }
    }
    return true;
}

} // namespace

JXFSDeviceService::JXFSDeviceService(const QString& drive, const stRegDevInfo* row, const QString& descriptionFile)
    : m_drive(drive)
    , m_descriptionFile(descriptionFile)
{
    if (row)
        m_row = *row;
}

bool JXFSDeviceService::readDeviceUUID(QString& uuid)
{
    return readDeviceUUID(m_descriptionFile, uuid);
}

bool JXFSDeviceService::readDeviceUUID(const QString& descriptionFile, QString& uuid)
{
    if (descriptionFile.isEmpty())
        return false;

    QSettings settings(descriptionFile, QSettings::IniFormat);
    // Every section parsed at once: QSettings parses a section only when one of its keys is asked for, and misses it
    // when a sub-group's section sorts between the two ("[OS\1]" hides [OS] Version).
    settings.allKeys();
    settings.beginGroup(QStringLiteral("UUID"));
    const QVariant value = settings.value(QStringLiteral("UUID"));
    uuid = value.type() == QVariant::StringList ? value.toStringList().join(QLatin1Char(',')) : value.toString();
    // The detector reads the file ten times a second: write the mark only
    // when it is missing, and never over a file that did not parse.
    if (QFileInfo(descriptionFile).isFile() && settings.status() == QSettings::NoError
        && settings.value(QStringLiteral("JX")).toString() != QLatin1String("1") && isTextFile(descriptionFile))
        settings.setValue(QStringLiteral("JX"), QStringLiteral("1"));
    settings.endGroup();
    return !uuid.isEmpty();
}
