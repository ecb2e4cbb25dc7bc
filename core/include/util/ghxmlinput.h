#ifndef GHXMLINPUT_H
#define GHXMLINPUT_H

#include <QString>
#include <QXmlStreamReader>

#include <memory>

// How our readers of outside XML files (GPX, training courses) take a file: its bytes as they are, a UTF-16 file with
// a byte-order mark turned into UTF-8 on the way, and one set of limits checked before and while the parser sees the
// text. Line ends are left to the parser, which handles them as XML asks.
//
// The reader's tokens are to be taken through next(), readText() and skipElement(), so that the nesting is counted.
// Made on the stack for one file.
class GHXmlInput
{
public:
    // Of the UTF-8 text handed to the parser. The text is streamed, but a receiver keeps what it is given.
    static const qint64 MAX_BYTES;
    // Qt keeps every open element, so a file of nothing but start tags would grow memory with its size.
    static const int MAX_DEPTH;
    // Qt compares each attribute of a tag with every other one.
    static const int MAX_ATTRIBUTES_PER_TAG;

    GHXmlInput(QXmlStreamReader& reader, const QString& path);
    ~GHXmlInput();

    // Opens the file and hands it to the reader, cleared first. False, with the reason in failure(), when it does
    // not open.
    bool open();

    // The reader's next token. A refusal of the input, a nesting deeper than MAX_DEPTH, a document type declaration
    // or an encoding other than UTF-8 and its ASCII-based kin become the reader's error, which ends every loop.
    QXmlStreamReader::TokenType next();
    // The current element's own character data, its child elements skipped; its end element is current on return.
    QString readText();
    // A copy of a text of the parser (an attribute value) at its exact size, as readText makes its results.
    QString text(const QStringRef& value);
    // Skips the current element with everything in it; the token after its end element is current on return.
    void skipElement();

    // Empty when the file opened, parsed and read without an error; otherwise why not, with the position.
    QString failure() const;

private:
    Q_DISABLE_COPY(GHXmlInput)
    class Device;

    // A ride repeats its short texts (elevations, speeds, heart rates) over and over, and each kept copy would cost an
    // allocation of its own: a short text equal to the one last made in its slot is that one, shared.
    static const int SHARED_TEXT_BITS = 12;
    static const int SHARED_TEXTS = 1 << SHARED_TEXT_BITS; // slots
    static const int SHARED_TEXT_MAX = 7; // characters
    QString sharedText(const QChar* chars, int size);

    QXmlStreamReader& m_reader;
    std::unique_ptr<Device> m_device;
    QString m_openFailure;
    int m_depth = 0;
    std::unique_ptr<QString[]> m_shared; // SHARED_TEXTS slots, made on first use
};

#endif
