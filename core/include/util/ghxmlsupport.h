#ifndef GHXMLSUPPORT_H
#define GHXMLSUPPORT_H

#include <QByteArray>
#include <QString>

#include <functional>

class QXmlStreamWriter;

// What our XML writers share: the namespace host of our own formats and the text clean-up before writing.
class GHXmlSupport
{
public:
    // Each format adds its own path ("/WRK/1/3" for training courses).
    static constexpr const char NAMESPACE_HOST[] = "http://www.vexmor.example";
    static constexpr const char XSI_NAMESPACE[] = "http://www.w3.org/2001/XMLSchema-instance";

    // The text without the characters XML 1.0 cannot hold (controls other than tab, line feed and carriage return,
    // U+FFFE, U+FFFF, unpaired surrogates). QXmlStreamWriter drops them itself but then reports an error, which
    // would fail a whole file for one stray character in a name typed on a device.
    static QString xmlText(const QString& text)
    {
        const int size = text.size();
        // Almost every text is clean and is handed on as it is, without a copy.
        int first = 0;
        while (first < size && isXmlChar(text, first))
            ++first;
        if (first == size)
            return text;
        QString result;
        result.reserve(size);
        for (int i = 0; i < size; ++i) {
            const QChar c = text.at(i);
            const ushort code = c.unicode();
            if (c.isHighSurrogate()) {
                if (i + 1 < size && text.at(i + 1).isLowSurrogate()) {
                    result.append(c);
                    result.append(text.at(++i));
                }
                continue;
            }
            if (c.isLowSurrogate())
                continue;
            if (code < 0x20 && code != 0x9 && code != 0xA && code != 0xD)
                continue;
            if (code == 0xFFFE || code == 0xFFFF)
                continue;
            result.append(c);
        }
        return result;
    }

    // Whether the character at i stays in the cleaned text (a surrogate only as one of a pair).
    static bool isXmlChar(const QString& text, int i)
    {
        const ushort code = text.at(i).unicode();
        if (code >= 0x20 && code < 0xD800)
            return true;
        if (code < 0x20)
            return code == 0x9 || code == 0xA || code == 0xD;
        if (QChar::isHighSurrogate(code))
            return i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        if (QChar::isLowSurrogate(code))
            return i > 0 && text.at(i - 1).isHighSurrogate();
        return code != 0xFFFE && code != 0xFFFF;
    }

    // Whether the text is still there once cleaned: a text of stray control characters alone reads back as unset.
    static bool isSet(const QString& text) { return !xmlText(text).isEmpty(); }

    // The text element, cleaned, when the cleaned text is not empty.
    static void writeTextIfSet(QXmlStreamWriter& writer, const char* name, const QString& text);
    // The attribute with its value cleaned; written even when empty.
    static void writeAttribute(QXmlStreamWriter& writer, const char* name, const QString& value);

    // Copies the XML file at path into the open writer, from its first start element to its end, when the whole file
    // parses; otherwise writes nothing and returns false, so the caller can write the part itself. A missing file
    // returns false without a message, as side files are optional; any other failure is logged. copied, when given,
    // receives the file's bytes when they were copied.
    static bool copyXmlFile(QXmlStreamWriter& writer, const QString& path, QByteArray* copied = nullptr);

    // Writes a UTF-8 document, indented by two, to path: writeContent writes from the start of the document to its
    // last part, and the document is ended here. Written beside the target and renamed over it at the end, so a
    // failed write leaves an earlier file whole. False with a logged reason ("cannot write the <what> <path>: ...").
    // Flushed to the disk unless durable is false, for a file that is packed and deleted again.
    static bool writeXmlFile(const QString& path, const char* what,
                             const std::function<void(QXmlStreamWriter&)>& writeContent, bool durable = true);
};

#endif
