#ifndef GHGPXREADER_H
#define GHGPXREADER_H

#include <QMap>
#include <QString>
#include <QXmlStreamReader>

#include <functional>

class GHGpxImportable;
class GHXmlInput;

// Reads a GPX file of our own dialect into a receiver, element by element, in one forward pass; values reach it as
// texts, unconverted and unchecked. Only files whose creator is ours and whose version begins "1." or "2." are
// read. It does not own the receiver and may read several files in turn.
class GHGpxReader
{
public:
    explicit GHGpxReader(GHGpxImportable* receiver);
    ~GHGpxReader();

    // True when the file was read and parsed without an error; what came before an error has reached the receiver.
    bool readFile(const QString& fileName);

    // The version of the last accepted file, 1 or 2; 0 until a file is accepted.
    int version() const { return m_version; }

private:
    Q_DISABLE_COPY(GHGpxReader)
    friend class TestGHGpxReader;

    using Values = QMap<QString, QString>;
    // What an element loop does with a child start element.
    enum class Child { Consumed, Entered, Skipped };
    using ChildHandler = std::function<Child(const QString& name, int level)>;

    void readGpx();
    void readMetadata();
    void readMetadataExtensions();
    void readRoute();
    void readRoutePoint();
    void readTrack();
    void readTrackSegment();
    void readTrackPoint();
    void readWaypoint();
    void readGpxExtensions();
    void readTraining();
    void readSensorLog();
    void readLogSegment();
    void readLogpt();
    void readWorkoutLog();
    void readInterval();
    void readLaps();
    void readLapsLap();
    void readLapsSummary();
    void readLap(const QString& prefix, bool summary);
    void skipUnknownElement();
    void readAttributes(const QString& prefix, Values& map);

    bool readContent(const ChildHandler& onChild, const std::function<void()>& onCharacters = nullptr,
                     const std::function<void()>& onContainerEnd = nullptr);
    QString readText();
    void next();

    int m_version;
    GHGpxImportable* m_receiver;
    QXmlStreamReader m_reader;
    GHXmlInput* m_input; // of the file being read
};

#endif
