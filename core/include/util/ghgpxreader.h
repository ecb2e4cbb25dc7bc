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
    // The name is the parser's and valid only until the next token: a handler takes its key before reading on.
    using ChildHandler = std::function<Child(const QStringRef& name, int level)>;

    // One element's values as the receiver gets them. The readers of the elements that repeat by the thousand (points,
    // laps) reuse one between elements, so that its nodes and keys are not made anew each time; what the previous
    // element set and this one did not is taken out before the map is handed on.
    class Fields
    {
    public:
        // Starts the next element in a reused map.
        void begin();
        // The value under the key, set to empty now and kept until the map is handed on.
        QString& slot(const QString& key);
        QString& slot(const QStringRef& key);
        // Under "prefix_name".
        QString& slot(const QString& prefix, const QStringRef& name);
        // The map holding this element's values only.
        Values& values();

    private:
        Values m_map;
    };

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
    void readAttributes(const QString& prefix, Fields& fields);

    bool readContent(const ChildHandler& onChild, const std::function<void()>& onCharacters = nullptr,
                     const std::function<void()>& onContainerEnd = nullptr);
    QString readText();
    // Into a value taken before reading on, as the parser's name of the element goes with the next token.
    void readText(QString& value);
    void next();

    int m_version;
    GHGpxImportable* m_receiver;
    QXmlStreamReader m_reader;
    GHXmlInput* m_input; // of the file being read
    Fields m_leaf;       // of the element read last by a reader that reads no other element's values
};

#endif
