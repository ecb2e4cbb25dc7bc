#ifndef GHTRNEXPORTABLE_H
#define GHTRNEXPORTABLE_H

class QXmlStreamWriter;

// A source of a training course for GHTrnWriter, which writes the root element around it. Texts are written through
// GHXmlSupport::xmlText: the writer fails the file on any character that XML cannot hold.
class GHTrnExportable
{
public:
    // The metadata element, or nothing.
    virtual void writeMeta(QXmlStreamWriter& writer) = 0;
    // The wrk elements with their intervals.
    virtual void writeWorkout(QXmlStreamWriter& writer) = 0;

protected:
    // Sources are never deleted through this interface.
    ~GHTrnExportable() = default;
};

#endif
