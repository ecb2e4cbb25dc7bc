#include "util/ghxmlsupport.h"

#include <QFile>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include "util/ghscratchfile.h"

namespace {

// Side files hold a user profile, a workout or a few statistics: kilobytes. Anything this large is not one of them,
// and would be held in memory whole.
const qint64 SIDE_FILE_MAX_BYTES = 16 * 1024 * 1024;
// They nest a few levels. The copy is indented by depth, so a deep chain of elements in a small file would write
// gigabytes.
const int SIDE_FILE_MAX_DEPTH = 32;

// Empty when the content parses whole and can be copied, else why not.
QString copyRefusal(const QByteArray& content)
{
    QXmlStreamReader check(content);
    bool sawElement = false;
    int depth = 0;
    while (!check.atEnd()) {
        switch (check.readNext()) {
        case QXmlStreamReader::StartElement:
            sawElement = true;
            if (++depth > SIDE_FILE_MAX_DEPTH)
                return QStringLiteral("elements nested deeper than %1 (line %2)")
                    .arg(SIDE_FILE_MAX_DEPTH)
                    .arg(check.lineNumber());
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::EntityReference:
            // Declared in a DTD that is not copied: the copy would name an entity its new document lacks.
            return QStringLiteral("unresolved entity '%1' (line %2)")
                .arg(check.name().toString())
                .arg(check.lineNumber());
        default:
            break;
        }
    }
    if (check.hasError()) {
        return QStringLiteral("%1 (line %2, column %3)")
            .arg(check.errorString())
            .arg(check.lineNumber())
            .arg(check.columnNumber());
    }
    return sawElement ? QString() : QStringLiteral("no element");
}

} // namespace

void GHXmlSupport::writeTextIfSet(QXmlStreamWriter& writer, const char* name, const QString& text)
{
    // Judged on the cleaned text, so a text of stray control characters alone counts as unset, as it will read back.
    const QString written = xmlText(text);
    if (!written.isEmpty())
        writer.writeTextElement(QLatin1String(name), written);
}

void GHXmlSupport::writeAttribute(QXmlStreamWriter& writer, const char* name, const QString& value)
{
    writer.writeAttribute(QLatin1String(name), xmlText(value));
}

bool GHXmlSupport::copyXmlFile(QXmlStreamWriter& writer, const QString& path, QByteArray* copied)
{
    QFile file(path);
    if (!file.exists())
        return false;
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("cannot read the XML file %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    const QByteArray content = file.read(SIDE_FILE_MAX_BYTES + 1);
    if (content.size() > SIDE_FILE_MAX_BYTES || file.error() != QFileDevice::NoError) {
        qWarning("cannot read the XML file %s: %s", qUtf8Printable(path),
                 content.size() > SIDE_FILE_MAX_BYTES ? "larger than 16 MiB" : qUtf8Printable(file.errorString()));
        return false;
    }
    // Checked whole before the first byte is copied: a copy that stopped at an error would leave its elements open,
    // and whatever the caller writes next would nest inside them.
    const QString refusal = copyRefusal(content);
    if (!refusal.isEmpty()) {
        qWarning("not copying the XML file %s: %s", qUtf8Printable(path), qUtf8Printable(refusal));
        return false;
    }

    // Tokens are written by their qualified names, with the file's namespace declarations as plain attributes, so the
    // copy means what the file meant whatever the writer has declared around it. Whitespace between elements is left
    // to the writer's own indentation.
    QXmlStreamReader reader(content);
    bool inside = false;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (!inside && token != QXmlStreamReader::StartElement)
            continue;
        inside = true;
        switch (token) {
        case QXmlStreamReader::StartElement: {
            writer.writeStartElement(reader.qualifiedName().toString());
            const QXmlStreamNamespaceDeclarations declarations = reader.namespaceDeclarations();
            for (const QXmlStreamNamespaceDeclaration& declaration : declarations) {
                const QString prefix = declaration.prefix().toString();
                writer.writeAttribute(prefix.isEmpty() ? QStringLiteral("xmlns") : QStringLiteral("xmlns:") + prefix,
                                      declaration.namespaceUri().toString());
            }
            const QXmlStreamAttributes attributes = reader.attributes();
            for (const QXmlStreamAttribute& attribute : attributes)
                writer.writeAttribute(attribute.qualifiedName().toString(), xmlText(attribute.value().toString()));
            break;
        }
        case QXmlStreamReader::EndElement:
            writer.writeEndElement();
            break;
        case QXmlStreamReader::Characters:
            if (reader.isCDATA())
                writer.writeCDATA(xmlText(reader.text().toString()));
            else if (!reader.isWhitespace())
                writer.writeCharacters(xmlText(reader.text().toString()));
            break;
        case QXmlStreamReader::Comment:
            writer.writeComment(xmlText(reader.text().toString()));
            break;
        case QXmlStreamReader::ProcessingInstruction:
            writer.writeProcessingInstruction(reader.processingInstructionTarget().toString(),
                                              xmlText(reader.processingInstructionData().toString()));
            break;
        default:
            // The end of the document belongs to the caller; nothing else can follow the root element.
            break;
        }
    }
    if (copied)
        *copied = content;
    return true;
}

namespace {

// The document written into file, which is a QSaveFile or a GHScratchFile.
template <class File>
bool writeXml(File& file, const QString& path, const char* what,
              const std::function<void(QXmlStreamWriter&)>& writeContent)
{
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qWarning("cannot write the %s %s: %s", what, qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    QXmlStreamWriter writer(&file);
    writer.setCodec("UTF-8");
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(2);
    writeContent(writer);
    writer.writeEndDocument();
    if (writer.hasError()) {
        // Without a device error the writer met a character that XML cannot hold and left it out.
        // Qt does not always name the cause of a failed write ("Unknown error" on a full disk).
        const QString reason = file.error() != QFileDevice::NoError
                                   ? QStringLiteral("writing failed (%1)").arg(file.errorString())
                                   : QStringLiteral("a text holds a character that XML cannot hold");
        qWarning("cannot write the %s %s: %s", what, qUtf8Printable(path), qUtf8Printable(reason));
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qWarning("cannot write the %s %s: %s", what, qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    return true;
}

} // namespace

bool GHXmlSupport::writeXmlFile(const QString& path, const char* what,
                                const std::function<void(QXmlStreamWriter&)>& writeContent, bool durable)
{
    if (!durable) {
        GHScratchFile file(path);
        return writeXml(file, path, what, writeContent);
    }
    QSaveFile file(path);
    return writeXml(file, path, what, writeContent);
}
