#ifndef GHGPXWRITER_H
#define GHGPXWRITER_H

#include <QString>

class GHGpxExportable;
class QXmlStreamWriter;

// Writes a GPX file in our dialect: the root element with our namespace, then the source's metadata, route, track,
// waypoints and extensions. Made for one write; it does not own the source.
class GHGpxWriter
{
public:
    // The version is kept but not written: readers of the dialect expect the one version the file carries.
    GHGpxWriter(const QString& version, GHGpxExportable* source);

    // Replaces the file only when the whole document was written; a failure leaves an earlier file as it was.
    // Flushed to the disk unless durable is false, for a file that is packed and deleted again.
    bool writeFile(const QString& path, bool durable = true);

    // The XML declaration and the root start tag with its five attributes.
    void writeHeader(QXmlStreamWriter& writer);
    // Ends the document, closing every open element.
    void writeFooter(QXmlStreamWriter& writer);

private:
    QString m_version;
    GHGpxExportable* m_source;
};

#endif
