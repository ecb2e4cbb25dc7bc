#ifndef GHGPXEXPORTABLE_H
#define GHGPXEXPORTABLE_H

class QXmlStreamWriter;

// A source of a GPX body for GHGpxWriter, which writes the root element around it and calls these in this order.
// Texts are written through GHXmlSupport: the writer fails the file on any character that XML cannot hold.
class GHGpxExportable
{
public:
    virtual void writeMeta(QXmlStreamWriter& writer) = 0;
    virtual void writeRte(QXmlStreamWriter& writer) = 0;
    virtual void writeTrk(QXmlStreamWriter& writer) = 0;
    virtual void writeWpt(QXmlStreamWriter& writer) = 0;
    virtual void writeExtensions(QXmlStreamWriter& writer) = 0;

protected:
    // Sources are never deleted through this interface.
    ~GHGpxExportable() = default;
};

#endif
