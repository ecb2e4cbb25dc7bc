#include "profile/jxprofiledata.h"

#include <QFile>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include "jxlog.h"
#include "profile/jxprofilereaderpsf.h"

int JXProfileReader::ageFromBirthday(const QString& birthday) const
{
    const QDate birth = QDate::fromString(birthday, QStringLiteral("yyyy/MM/dd"));
    if (!birth.isValid())
        return 0;
    const QDate now = today();
    const QDate anniversary(now.year(), birth.month(), birth.day());
    const bool reached = !anniversary.isValid() || now >= anniversary;
    return now.year() - birth.year() - 1 + (reached ? 1 : 0);
}

QString JXProfileReader::birthdayFromAge(qint64 age) const
{
    return QString::number(qint64(today().year()) - age) + QLatin1String("/01/01");
}

static QString xmlPath(const QByteArray& raw)
{
    const int end = raw.indexOf('\0');
    return QString::fromUtf8(end < 0 ? raw : raw.left(end));
}

bool JXProfileReaderXML::readAll(QByteArray& raw, QMap<QString, QString>* map)
{
    const QString path = xmlPath(raw);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        JX_WARNING << "cannot open the profile" << path << file.errorString();
        return false;
    }

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
    if (xml.hasError()) {
        JX_WARNING << "the profile" << path << "is not well-formed at line" << xml.lineNumber() << ":"
                   << xml.errorString();
        return false;
    }
    return true;
}

bool JXProfileReaderXML::save(QByteArray& raw, QMap<QString, QString>* map)
{
    const QString path = xmlPath(raw);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        JX_WARNING << "cannot create the profile" << path << file.errorString();
        return false;
    }
    QXmlStreamWriter xml(&file);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("settings"));
    for (auto it = map->constBegin(); it != map->constEnd(); ++it) {
        xml.writeEmptyElement(QStringLiteral("property"));
        xml.writeAttribute(QStringLiteral("name"), it.key());
        xml.writeAttribute(QStringLiteral("value"), it.value());
    }
    xml.writeEndDocument();
    if (xml.hasError() || !file.commit()) {
        JX_WARNING << "cannot write the profile" << path << file.errorString();
        return false;
    }
    return true;
}

JXProfileData::JXProfileData(QByteArray& data, ProfileFormat::type format, QObject* parent)
    : QObject(parent), m_data(data)
{
    switch (format) {
    case ProfileFormat::XML: m_reader = new JXProfileReaderXML; break;
    case ProfileFormat::PSF_Obsolete: m_reader = new JXProfileReaderPSF_Obsolete; break;
    case ProfileFormat::PSF_Obsolete_Hemlar30: m_reader = new JXProfileReaderPSF_Obsolete_Hemlar30; break;
    case ProfileFormat::PSF_1_0_0: m_reader = new JXProfileReaderPSF_1_0_0; break;
    case ProfileFormat::PSF_2_0_0: m_reader = new JXProfileReaderPSF_2_0_0; break;
    default: break;
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

bool JXProfileData::save()
{
    if (!m_reader) {
        JX_WARNING << "no reader for this profile format";
        return false;
    }
    return m_reader->save(m_data, &m_map);
}

QMap<QString, QString> JXProfileData::getData() const
{
    return m_map;
}

void JXProfileData::setData(QMap<QString, QString> data)
{
    m_map = data;
}

QString JXProfileData::value(QString key) const
{
    return m_map.value(key);
}

QByteArray JXProfileData::getRawData() const
{
    return m_data;
}

void JXProfileData::convertTrainingZoneHighLow()
{
    static const char* const families[] = {"User LTHR", "User MHR", "User MAP", "User FTP"};
    for (const char* family : families) {
        const QString prefix = QLatin1String(family) + QLatin1String(".zone");
        for (int zone = 1; zone <= 6; ++zone)
            m_map.insert(prefix + QString::number(zone) + QLatin1String(".high"),
                         m_map.value(prefix + QString::number(zone + 1) + QLatin1String(".low")));
        m_map.insert(prefix + QLatin1String("7.high"), QStringLiteral("-1"));
    }
}

void JXProfileData::dump() const
{
    for (auto it = m_map.constBegin(); it != m_map.constEnd(); ++it)
        JX_DEBUG << "key=" << it.key() << "  value=" << it.value();
}
