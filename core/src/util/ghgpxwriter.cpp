#include "util/ghgpxwriter.h"

#include "util/ghgpxexportable.h"
#include "util/ghxmlsupport.h"

#include <QXmlStreamWriter>

GHGpxWriter::GHGpxWriter(const QString& version, GHGpxExportable* source)
    : m_version(version)
    , m_source(source)
{
}

bool GHGpxWriter::writeFile(const QString& path, bool durable)
{
    if (!m_source) {
        qWarning("GHGpxWriter: nothing to write to %s", qUtf8Printable(path));
        return false;
    }
    return GHXmlSupport::writeXmlFile(path, "GPX file", [this](QXmlStreamWriter& writer) {
        writeHeader(writer);
        m_source->writeMeta(writer);
        m_source->writeRte(writer);
        m_source->writeTrk(writer);
        m_source->writeWpt(writer);
        m_source->writeExtensions(writer);
    }, durable);
}

void GHGpxWriter::writeHeader(QXmlStreamWriter& writer)
{
    const QString xmlNamespace = QLatin1String(GHXmlSupport::NAMESPACE_HOST) + QLatin1String("/PMZ/2/2");
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("gpx"));
    writer.writeAttribute(QStringLiteral("xmlns"), xmlNamespace);
    writer.writeAttribute(QStringLiteral("creator"), QStringLiteral("vexmor"));
    writer.writeAttribute(QStringLiteral("version"), QStringLiteral("2.2.0.3"));
    writer.writeAttribute(QStringLiteral("xmlns:xsi"), QLatin1String(GHXmlSupport::XSI_NAMESPACE));
    writer.writeAttribute(QStringLiteral("xsi:schemaLocation"),
                          xmlNamespace + QLatin1Char(' ') + xmlNamespace + QLatin1String("/PMZ.xsd"));
}

void GHGpxWriter::writeFooter(QXmlStreamWriter& writer)
{
    writer.writeEndDocument();
}
