#include "device/jxfsdeviceservice.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>

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
    settings.beginGroup(QStringLiteral("UUID"));
    const QVariant value = settings.value(QStringLiteral("UUID"));
    uuid = value.type() == QVariant::StringList ? value.toStringList().join(QLatin1Char(',')) : value.toString();
    // The detector reads the file ten times a second: write the mark only
    // when it is missing, and never over a file that did not parse.
    if (QFileInfo(descriptionFile).isFile() && settings.status() == QSettings::NoError
        && settings.value(QStringLiteral("JX")).toString() != QLatin1String("1"))
        settings.setValue(QStringLiteral("JX"), QStringLiteral("1"));
    settings.endGroup();
    return !uuid.isEmpty();
}
