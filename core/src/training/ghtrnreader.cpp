#include "training/ghtrnreader.h"

#include "training/ghtrnimportable.h"
#include "util/ghxmlinput.h"

#include <QXmlStreamReader>

namespace {

bool isXmlSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r');
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
    , m_input(nullptr)
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
    GHXmlInput input(*m_reader, path);
    if (!input.open()) {
        qWarning("cannot open the training course %s: %s", qUtf8Printable(path), qUtf8Printable(input.failure()));
        return false;
    }
    m_input = &input;
    while (!m_reader->atEnd()) {
        next();
        if (m_reader->isStartElement()) {
            if (m_reader->name() == QLatin1String("trncrs"))
                readTrncrs();
            else
                m_reader->raiseError(QStringLiteral("error reading <trncrs>"));
        }
    }
    m_input = nullptr;

    const QString failure = input.failure();
    if (!failure.isEmpty()) {
        qWarning("cannot read the training course %s: %s", qUtf8Printable(path), qUtf8Printable(failure));
        return false;
    }
    return true;
}

void GHTrnReader::next()
{
    m_input->next();
}

void GHTrnReader::readTrncrs()
{
    // Files of other makers are not ours to read; without children this is not an error.
    if (m_reader->attributes().value(QLatin1String("creator")) != QLatin1String("vexmor"))
        return;
    next();
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
        next();
    }
}

void GHTrnReader::readMetadata()
{
    m_receiver->startMetadata();
    QMap<QString, QString> values;
    next();
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
                              m_input->readText());
            } else if (name == QLatin1String("desc") || name == QLatin1String("time")) {
                values.insert(name, m_input->readText());
            } else if (name == QLatin1String("sys")) {
                readAttributes(name, values);
                values.insert(name, m_input->readText());
            } else {
                skipUnknownElement();
                continue;
            }
        }
        next();
    }
}

void GHTrnReader::readWorkout()
{
    m_receiver->startWorkout();
    QMap<QString, QString> values;
    readAttributes(QStringLiteral("wrk"), values);
    next();
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
                values.insert(name, m_input->readText());
            } else if (name == QLatin1String("desc")) {
                const QString lang = m_reader->attributes().value(QLatin1String("lang")).toString();
                storeText(values, name, lang, m_input->readText());
            } else if (name == QLatin1String("name")) {
                nameOpen = true;
                nameLang = m_reader->attributes().value(QLatin1String("lang")).toString();
                ++depth;
            } else if (name == QLatin1String("shtname") && depth == 1 && nameOpen) {
                storeText(values, QStringLiteral("name_shtname"), nameLang,
                          m_input->readText());
            } else if (name == QLatin1String("route")) {
                readAttributes(name, values);
                values.insert(name, m_input->readText());
            } else if (name == QLatin1String("itv")) {
                readInterval();
            } else {
                skipUnknownElement();
                continue;
            }
        }
        next();
    }
}

void GHTrnReader::readInterval()
{
    m_receiver->startInterval();
    QMap<QString, QString> values;
    readAttributes(QStringLiteral("itv"), values);
    next();
    while (!m_reader->atEnd()) {
        if (m_reader->isEndElement()) {
            m_receiver->onInterval(values);
            return;
        }
        if (m_reader->isStartElement()) {
            const QString name = m_reader->name().toString();
            if (name == QLatin1String("name") || name == QLatin1String("logreso")) {
                values.insert(name, m_input->readText());
            } else if (name == QLatin1String("goto")) {
                readAttributes(name, values);
                values.insert(name, m_input->readText());
            } else if (name == QLatin1String("target")) {
                readTarget();
            } else if (name == QLatin1String("duration")) {
                readDuration();
            } else {
                skipUnknownElement();
                continue;
            }
        }
        next();
    }
}

void GHTrnReader::readTarget()
{
    m_receiver->startTarget();
    QMap<QString, QString> values;
    readAttributes(QStringLiteral("target"), values);
    next();
    while (!m_reader->atEnd()) {
        if (m_reader->isEndElement()) {
            m_receiver->onTarget(values);
            return;
        }
        if (m_reader->isStartElement()) {
            skipUnknownElement();
            continue;
        }
        next();
    }
}

void GHTrnReader::readDuration()
{
    m_receiver->startDuration();
    QMap<QString, QString> values;
    readAttributes(QStringLiteral("duration"), values);
    next();
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
        next();
    }
}

void GHTrnReader::readAttributes(const QString& element, QMap<QString, QString>& values)
{
    const QXmlStreamAttributes attributes = m_reader->attributes();
    for (const QXmlStreamAttribute& attribute : attributes)
        values.insert(QStringLiteral("%1_%2").arg(element, attribute.name().toString()), attribute.value().toString());
}

void GHTrnReader::skipUnknownElement()
{
    m_input->skipElement();
}
