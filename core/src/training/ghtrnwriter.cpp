#include "training/ghtrnwriter.h"

#include "training/ghtrnexportable.h"
#include "util/ghxmlsupport.h"

#include <QSaveFile>
#include <QXmlStreamWriter>

GHTrnWriter::GHTrnWriter(const QString& version, GHTrnExportable* source)
    : m_version(version)
    , m_source(source)
{
}

bool GHTrnWriter::writeFile(const QString& path)
{
    if (!m_source) {
        qWarning("GHTrnWriter: nothing to write to %s", qUtf8Printable(path));
        return false;
    }
    // Written beside the target and renamed over it at the end, so a full disk leaves an earlier file whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qWarning("cannot write the training course %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    QXmlStreamWriter writer(&file);
    writer.setCodec("UTF-8");
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(2);
    writeHeader(writer);
    m_source->writeMeta(writer);
    m_source->writeWorkout(writer);
    writer.writeEndDocument();
    if (writer.hasError()) {
        // Without a device error the writer met a character that XML cannot hold and left it out.
        // Qt does not always name the cause of a failed write ("Unknown error" on a full disk).
        const QString reason = file.error() != QFileDevice::NoError
                                   ? QStringLiteral("writing failed (%1)").arg(file.errorString())
                                   : QStringLiteral("a text holds a character that XML cannot hold");
        qWarning("cannot write the training course %s: %s", qUtf8Printable(path), qUtf8Printable(reason));
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qWarning("cannot write the training course %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    return true;
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
