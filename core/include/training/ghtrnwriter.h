#ifndef GHTRNWRITER_H
#define GHTRNWRITER_H

#include <QString>

class GHTrnExportable;
class QXmlStreamWriter;

// Writes a training-course file: the root element with our namespace, creator and the given version, then the
// source's metadata and workouts. Made for one write; it does not own the source.
class GHTrnWriter
{
public:
    GHTrnWriter(const QString& version, GHTrnExportable* source);

    // Replaces the file only when the whole document was written; a failure leaves an earlier file as it was.
    // Flushed to the disk unless durable is false, for a file that is packed and deleted again.
    bool writeFile(const QString& path, bool durable = true);

    // The XML declaration and the root start tag with its five attributes.
    void writeHeader(QXmlStreamWriter& writer);
    // Ends the document, closing every open element.
    void writeFooter(QXmlStreamWriter& writer);

private:
    QString m_version;
    GHTrnExportable* m_source;
};

#endif
