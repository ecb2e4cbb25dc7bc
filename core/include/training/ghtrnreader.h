#ifndef GHTRNREADER_H
#define GHTRNREADER_H

#include <QMap>
#include <QString>

class GHTrnImportable;
class GHXmlInput;
class QXmlStreamReader;

// Parses a training-course file ("trncrs") into a receiver; values reach it as texts, unconverted and unchecked.
// Made on the caller's stack for one file; it does not own the receiver.
class GHTrnReader
{
public:
    explicit GHTrnReader(GHTrnImportable* receiver);
    ~GHTrnReader();

    // True when the file was read and parsed without an error; what was complete before an error has reached the
    // receiver. A root whose creator is not ours delivers nothing.
    bool readFile(const QString& path);

private:
    Q_DISABLE_COPY(GHTrnReader)

    void readTrncrs();
    void readMetadata();
    void readWorkout();
    void readInterval();
    void readTarget();
    void readDuration();
    void readAttributes(const QString& element, QMap<QString, QString>& values);
    void skipUnknownElement();
    void next();

    GHTrnImportable* m_receiver;
    QXmlStreamReader* m_reader;
    GHXmlInput* m_input; // of the file being read
};

#endif
