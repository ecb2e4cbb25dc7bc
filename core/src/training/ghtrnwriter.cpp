#include "training/ghtrnwriter.h"

#include "training/ghtrnexportable.h"
#include "util/ghxmlsupport.h"

#include <QXmlStreamWriter>

GHTrnWriter::GHTrnWriter(const QString& version, GHTrnExportable* source)
    : m_version(version)
    , m_source(source)
{
}

bool GHTrnWriter::writeFile(const QString& path, bool durable)
{
    if (!m_source) {
        qWarning("GHTrnWriter: nothing to write to %s", qUtf8Printable(path));
        return false;
    }
    return GHXmlSupport::writeXmlFile(path, "training course", [this](QXmlStreamWriter& writer) {
        writeHeader(writer);
        m_source->writeMeta(writer);
        m_source->writeWorkout(writer);
    }, durable);
}

void GHTrnWriter::writeHeader(QXmlStreamWriter& writer)
{
    const QString xmlNamespace = QLatin1String(GHXmlSupport::NAMESPACE_HOST) + QLatin1String("/WRK/1/3");
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("trncrs"));
    writer.writeAttribute(QStringLiteral("xmlns"), xmlNamespace);
    writer.writeAttribute(QStringLiteral("xmlns:xsi"), QLatin1String(GHXmlSupport::XSI_NAMESPACE));
    writer.writeAttribute(QStringLiteral("xsi:schemaLocation"),
                          xmlNamespace + QLatin1Char(' ') + xmlNamespace + QLatin1String("/WRK.xsd"));
    writer.writeAttribute(QStringLiteral("creator"), QStringLiteral("vexmor"));
    writer.writeAttribute(QStringLiteral("version"), GHXmlSupport::xmlText(m_version));
}

void GHTrnWriter::writeFooter(QXmlStreamWriter& writer)
{
    writer.writeEndDocument();
}
