#include "jxprofiledata.h"

#include <QFile>
#include <QXmlStreamReader>

#include "jxlog.h"

bool JXProfileReaderXML::readAll(QByteArray& raw, QMap<QString, QString>* map)
{
    const int end = raw.indexOf('\0');
    const QString path = QString::fromLatin1(end < 0 ? raw : raw.left(end));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;

    QXmlStreamReader xml(&file);
    while (!xml.atEnd() && !xml.isStartElement())
        xml.readNext();
    while (!xml.atEnd()) {
        if (xml.isStartElement() && xml.name() == QLatin1String("property")) {
            const QXmlStreamAttributes attributes = xml.attributes();
            map->insert(attributes.value(QLatin1String("name")).toString(),
                        attributes.value(QLatin1String("value")).toString());
        }
        xml.readNext();
    }
    file.close();
    return true;
}

JXProfileData::JXProfileData(QByteArray& data, ProfileFormat::type format, QObject* parent)
    : QObject(parent), m_data(data)
{
    switch (format) {
    case ProfileFormat::XML: m_reader = new JXProfileReaderXML; break;
    default:
        // The flash-store readers are not part of this library yet.
        break;
    }
}

JXProfileData::~JXProfileData()
{
    delete m_reader.data();
}

bool JXProfileData::readAll()
{
    if (!m_reader) {
        JX_WARNING << "no reader for this profile format";
        return false;
    }
    return m_reader->readAll(m_data, &m_map);
}

QMap<QString, QString> JXProfileData::getData() const
{
    return m_map;
}
