#include "util/ghgpxwriter.h"

#include "util/ghgpxexportable.h"
#include "util/ghxmlsupport.h"

#include <QSaveFile>
#include <QXmlStreamWriter>

GHGpxWriter::GHGpxWriter(const QString& version, GHGpxExportable* source)
    : m_version(version)
    , m_source(source)
{
}

bool GHGpxWriter::writeFile(const QString& path)
{
    if (!m_source) {
        qWarning("GHGpxWriter: nothing to write to %s", qUtf8Printable(path));
        return false;
    }
    // Written beside the target and renamed over it at the end, so a full disk leaves an earlier file whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qWarning("cannot write the GPX file %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    QXmlStreamWriter writer(&file);
    writer.setCodec("UTF-8");
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(2);
    writeHeader(writer);
    m_source->writeMeta(writer);
    m_source->writeRte(writer);
    m_source->writeTrk(writer);
    m_source->writeWpt(writer);
    m_source->writeExtensions(writer);
    writer.writeEndDocument();
    if (writer.hasError()) {
        // Without a device error the writer met a character that XML cannot hold and left it out.
        // Qt does not always name the cause of a failed write ("Unknown error" on a full disk).
        const QString reason = file.error() != QFileDevice::NoError
                                   ? QStringLiteral("writing failed (%1)").arg(file.errorString())
                                   : QStringLiteral("a text holds a character that XML cannot hold");
        qWarning("cannot write the GPX file %s: %s", qUtf8Printable(path), qUtf8Printable(reason));
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qWarning("cannot write the GPX file %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    return true;
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
