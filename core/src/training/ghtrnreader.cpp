#include "training/ghtrnreader.h"

#include "training/ghtrnimportable.h"

#include <QFile>
#include <QTextStream>
#include <QXmlStreamReader>

// Over twice the largest plan a device could plausibly hold (a thousand workouts of ten full intervals: 2.8 MB).
// The file, its text and Qt's parse state are held at once: a hostile file at the cap (millions of empty intervals,
// or elements nested millions deep) peaks near 220 MB, which doubling the cap would double.
const qint64 GHTrnReader::MAX_FILE_SIZE = qint64(8) << 20;

namespace {

// Our elements carry at most seven attributes. Qt compares each attribute of a tag with every other one, so a tag
// with a huge number of them would keep the parser busy for hours.
const int MAX_ATTRIBUTES_PER_TAG = 64;

bool isXmlSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r');
}

// The reason to refuse the text before Qt parses it, or an empty text. A course has no document type declaration;
// refusing one keeps out entity expansion and DTD attribute defaults, which Qt applies to every tag.
QString refusalOf(const QString& text)
{
    if (text.contains(QLatin1String("<!DOCTYPE")))
        return QStringLiteral("a document type declaration");
    // Attribute values cannot hold '<', so all attributes of a tag lie between its '<' and the next one; each has
    // an '=' followed by a quote. Counting those per stretch is an upper bound that needs no parsing.
    int attributes = 0;
    const int size = text.size();
    for (int i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('<')) {
            attributes = 0;
        } else if (c == QLatin1Char('=')) {
            int next = i + 1;
            while (next < size && isXmlSpace(text.at(next)))
                ++next;
            if (next < size && (text.at(next) == QLatin1Char('"') || text.at(next) == QLatin1Char('\''))
                && ++attributes > MAX_ATTRIBUTES_PER_TAG)
                return QStringLiteral("a tag with more than %1 attributes").arg(MAX_ATTRIBUTES_PER_TAG);
        }
    }
    return QString();
}

// A multi-language value gains one entry per element in a language; without a language the text replaces it.
// Appending in place keeps a long run of entries linear.
void storeText(QMap<QString, QString>& values, const QString& key, const QString& lang, const QString& text)
{
    if (lang.isEmpty()) {
        values.insert(key, text);
        return;
    }
    QString& value = values[key];
    value += QLatin1Char('\\');
    value += lang.toUpper();
    value += QLatin1Char(' ');
    value += text;
}

bool isBlank(const QString& text)
{
    for (const QChar c : text) {
        if (!isXmlSpace(c))
            return false;
    }
    return true;
}

} // namespace

GHTrnReader::GHTrnReader(GHTrnImportable* receiver)
    : m_receiver(receiver)
    , m_reader(new QXmlStreamReader)
{
    // Prefixes are never looked up: our files use the default namespace only, and resolving them costs Qt a walk
    // of every declaration in scope per tag.
    m_reader->setNamespaceProcessing(false);
}

GHTrnReader::~GHTrnReader()
{
    delete m_reader;
}

bool GHTrnReader::readFile(const QString& path)
{
    if (!m_receiver) {
        qWarning("GHTrnReader: no receiver for %s", qUtf8Printable(path));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning("cannot open the training course %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    // Read in pieces up to the cap rather than trust the size: a pipe or device reports none, a file can grow.
    QByteArray bytes;
    bool tooLarge = file.size() > MAX_FILE_SIZE;
    char piece[65536];
    qint64 count = 0;
    while (!tooLarge && (count = file.read(piece, sizeof piece)) > 0) {
        bytes.append(piece, int(count));
        tooLarge = bytes.size() > MAX_FILE_SIZE;
    }
    if (count < 0) {
        qWarning("cannot read the training course %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    file.close();
    if (tooLarge) {
        qWarning("the training course %s is larger than %lld bytes; not read", qUtf8Printable(path), MAX_FILE_SIZE);
        return false;
    }

    QString text;
    {
        QTextStream stream(&bytes, QIODevice::ReadOnly);
        stream.setCodec("UTF-8");
        text = stream.readAll();
    }
    bytes.clear();
    const QString refusal = refusalOf(text);
    if (!refusal.isEmpty()) {
        qWarning("the training course %s holds %s; not read", qUtf8Printable(path), qUtf8Printable(refusal));
        return false;
    }

    m_reader->clear();
    m_reader->addData(text);
    while (!m_reader->atEnd()) {
        m_reader->readNext();
        if (m_reader->isStartElement()) {
            if (m_reader->name() == QLatin1String("trncrs"))
                readTrncrs();
            else
                m_reader->raiseError(QStringLiteral("error reading <trncrs>"));
        }
    }
    if (m_reader->hasError()) {
        qWarning("cannot read the training course %s: %s (line %lld, column %lld)", qUtf8Printable(path),
                 qUtf8Printable(m_reader->errorString()), m_reader->lineNumber(), m_reader->columnNumber());
        return false;
    }
    return true;
}

void GHTrnReader::readTrncrs()
{
    // Files of other makers are not ours to read; without children this is not an error.
    if (m_reader->attributes().value(QLatin1String("creator")) != QLatin1String("vexmor"))
        return;
    m_reader->readNext();
    while (!m_reader->atEnd()) {
        if (m_reader->isEndElement())
            return;
        if (m_reader->isStartElement()) {
            const QStringRef name = m_reader->name();
            if (name == QLatin1String("metadata")) {
                readMetadata();
            } else if (name == QLatin1String("wrk")) {
                readWorkout();
            } else {
                skipUnknownElement();
                continue;
            }
        }
        m_reader->readNext();
    }
}

void GHTrnReader::readMetadata()
{
    m_receiver->startMetadata();
    QMap<QString, QString> values;
    m_reader->readNext();
    int depth = 0;
    QString open; // the first-level name or author whose text is being read
    // Text can come in several runs (text, then a shtname, then the indentation before the end tag): only runs
    // that are not blank count, or the indentation would replace the name. Comments do not break a run.
    QString run;
    while (!m_reader->atEnd()) {
        if (m_reader->isCharacters()) {
            if (!open.isEmpty())
                run += m_reader->text();
        } else if (m_reader->isStartElement() || m_reader->isEndElement()) {
            if (!isBlank(run))
                values.insert(open, run);
            run.clear();
        }

        if (m_reader->isEndElement()) {
            if (depth == 0) {
                m_receiver->onMetadata(values);
                return;
            }
            open.clear();
            --depth;
        } else if (m_reader->isStartElement()) {
            const QString name = m_reader->name().toString();
            if (name == QLatin1String("name") || name == QLatin1String("author")) {
                open = name;
                ++depth;
            } else if (name == QLatin1String("shtname") && depth == 1 && !open.isEmpty()) {
                values.insert(open + QLatin1String("_shtname"),
                              m_reader->readElementText(QXmlStreamReader::SkipChildElements));
            } else if (name == QLatin1String("desc") || name == QLatin1String("time")) {
                values.insert(name, m_reader->readElementText(QXmlStreamReader::SkipChildElements));
            } else if (name == QLatin1String("sys")) {
                readAttributes(name, values);
                values.insert(name, m_reader->readElementText(QXmlStreamReader::SkipChildElements));
            } else {
                skipUnknownElement();
                continue;
            }
        }
        m_reader->readNext();
    }
}

void GHTrnReader::readWorkout()
{
    m_receiver->startWorkout();
    QMap<QString, QString> values;
    readAttributes(QStringLiteral("wrk"), values);
    m_reader->readNext();
    int depth = 0;
    bool nameOpen = false;
    QString nameLang; // the lang of the open name, for its text and its shtname
    QString run; // see readMetadata
    while (!m_reader->atEnd()) {
        if (m_reader->isCharacters()) {
            if (nameOpen)
                run += m_reader->text();
        } else if (m_reader->isStartElement() || m_reader->isEndElement()) {
            if (!isBlank(run))
                storeText(values, QStringLiteral("name"), nameLang, run);
            run.clear();
        }

        if (m_reader->isEndElement()) {
            if (depth == 0) {
                m_receiver->onWorkout(values);
                return;
            }
            nameOpen = false;
            --depth;
        } else if (m_reader->isStartElement()) {
            const QString name = m_reader->name().toString();
            if (name == QLatin1String("acttype") || name == QLatin1String("time")) {
                values.insert(name, m_reader->readElementText(QXmlStreamReader::SkipChildElements));
            } else if (name == QLatin1String("desc")) {
                const QString lang = m_reader->attributes().value(QLatin1String("lang")).toString();
                storeText(values, name, lang, m_reader->readElementText(QXmlStreamReader::SkipChildElements));
            } else if (name == QLatin1String("name")) {
                nameOpen = true;
                nameLang = m_reader->attributes().value(QLatin1String("lang")).toString();
                ++depth;
            } else if (name == QLatin1String("shtname") && depth == 1 && nameOpen) {
                storeText(values, QStringLiteral("name_shtname"), nameLang,
                          m_reader->readElementText(QXmlStreamReader::SkipChildElements));
            } else if (name == QLatin1String("route")) {
                readAttributes(name, values);
                values.insert(name, m_reader->readElementText(QXmlStreamReader::SkipChildElements));
            } else if (name == QLatin1String("itv")) {
                readInterval();
            } else {
                skipUnknownElement();
                continue;
            }
        }
        m_reader->readNext();
    }
}

void GHTrnReader::readInterval()
{
    m_receiver->startInterval();
    QMap<QString, QString> values;
    readAttributes(QStringLiteral("itv"), values);
    m_reader->readNext();
    while (!m_reader->atEnd()) {
        if (m_reader->isEndElement()) {
            m_receiver->onInterval(values);
            return;
        }
        if (m_reader->isStartElement()) {
            const QString name = m_reader->name().toString();
            if (name == QLatin1String("name") || name == QLatin1String("logreso")) {
                values.insert(name, m_reader->readElementText(QXmlStreamReader::SkipChildElements));
            } else if (name == QLatin1String("goto")) {
                readAttributes(name, values);
                values.insert(name, m_reader->readElementText(QXmlStreamReader::SkipChildElements));
            } else if (name == QLatin1String("target")) {
                readTarget();
            } else if (name == QLatin1String("duration")) {
                readDuration();
            } else {
                skipUnknownElement();
                continue;
            }
        }
        m_reader->readNext();
    }
}

void GHTrnReader::readTarget()
{
    m_receiver->startTarget();
    QMap<QString, QString> values;
    readAttributes(QStringLiteral("target"), values);
    m_reader->readNext();
    while (!m_reader->atEnd()) {
        if (m_reader->isEndElement()) {
            m_receiver->onTarget(values);
            return;
        }
        if (m_reader->isStartElement()) {
            skipUnknownElement();
            continue;
        }
        m_reader->readNext();
    }
}

void GHTrnReader::readDuration()
{
    m_receiver->startDuration();
    QMap<QString, QString> values;
    readAttributes(QStringLiteral("duration"), values);
    m_reader->readNext();
    int depth = 0;
    while (!m_reader->atEnd()) {
        if (m_reader->isEndElement()) {
            if (depth == 0) {
                m_receiver->onDuration(values);
                return;
            }
            --depth;
        } else if (m_reader->isStartElement()) {
            const QString name = m_reader->name().toString();
            if (name == QLatin1String("segidx") || name == QLatin1String("location")) {
                readAttributes(name, values);
                ++depth;
            } else {
                skipUnknownElement();
                continue;
            }
        }
        m_reader->readNext();
    }
}

void GHTrnReader::readAttributes(const QString& element, QMap<QString, QString>& values)
{
    const QXmlStreamAttributes attributes = m_reader->attributes();
    for (const QXmlStreamAttribute& attribute : attributes)
        values.insert(QStringLiteral("%1_%2").arg(element, attribute.name().toString()), attribute.value().toString());
}

// Leaves the reader on the token after the current element's end. A loop, not recursion: the nesting of a foreign
// subtree is the file's to choose.
void GHTrnReader::skipUnknownElement()
{
    qint64 depth = 0;
    while (!m_reader->atEnd()) {
        m_reader->readNext();
        if (m_reader->isStartElement()) {
            ++depth;
        } else if (m_reader->isEndElement()) {
            if (depth == 0) {
                m_reader->readNext();
                return;
            }
            --depth;
        }
    }
}
