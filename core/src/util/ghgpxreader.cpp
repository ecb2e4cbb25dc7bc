#include "util/ghgpxreader.h"

#include "util/ghgpximportable.h"
#include "util/ghxmlinput.h"

#include <cstring>
#include <initializer_list>

namespace {

// Our element and attribute names are ASCII; compared here without a call into Qt per candidate, as the readers of
// the elements that repeat by the thousand compare every child's name with several.
bool is(const QChar* chars, int size, const char* name)
{
    for (int i = 0; i < size; ++i) {
        if (name[i] == '\0' || chars[i].unicode() != uchar(name[i]))
            return false;
    }
    return name[size] == '\0';
}

bool is(const QStringRef& name, const char* candidate)
{
    return is(name.unicode(), name.size(), candidate);
}

bool is(const QString& name, const char* candidate)
{
    return is(name.constData(), name.size(), candidate);
}

bool isOneOf(const QStringRef& name, std::initializer_list<const char*> names)
{
    for (const char* candidate : names) {
        if (is(name, candidate))
            return true;
    }
    return false;
}

bool sameChars(const QChar* a, const QChar* b, int size)
{
    return std::memcmp(a, b, size_t(size) * sizeof(QChar)) == 0;
}

// Stands in a reused map for a value the element being read has not set; told apart by its data.
const QString& unsetValue()
{
    static const QString unset = QStringLiteral("unset");
    return unset;
}

bool isUnset(const QString& value)
{
    return value.constData() == unsetValue().constData();
}

} // namespace

void GHGpxReader::Fields::begin()
{
    for (auto it = m_map.begin(); it != m_map.end(); ++it)
        it.value() = unsetValue();
}

QString& GHGpxReader::Fields::slot(const QString& key)
{
    auto it = m_map.find(key);
    if (it == m_map.end())
        it = m_map.insert(key, QString());
    else
        it.value() = QString();
    return it.value();
}

QString& GHGpxReader::Fields::slot(const QStringRef& key)
{
    const int size = key.size();
    for (auto it = m_map.begin(); it != m_map.end(); ++it) {
        if (it.key().size() == size && sameChars(it.key().constData(), key.unicode(), size)) {
            it.value() = QString();
            return it.value();
        }
    }
    return m_map.insert(key.toString(), QString()).value();
}

QString& GHGpxReader::Fields::slot(const QString& prefix, const QStringRef& name)
{
    const int prefixSize = prefix.size();
    const int size = prefixSize + 1 + name.size();
    for (auto it = m_map.begin(); it != m_map.end(); ++it) {
        const QString& key = it.key();
        if (key.size() == size && key.at(prefixSize) == QLatin1Char('_') &&
            sameChars(key.constData(), prefix.constData(), prefixSize) &&
            sameChars(key.constData() + prefixSize + 1, name.unicode(), name.size())) {
            it.value() = QString();
            return it.value();
        }
    }
    return m_map.insert(prefix + QLatin1Char('_') + name, QString()).value();
}

GHGpxReader::Values& GHGpxReader::Fields::values()
{
    for (auto it = m_map.begin(); it != m_map.end();) {
        if (isUnset(it.value()))
            it = m_map.erase(it);
        else
            ++it;
    }
    return m_map;
}

GHGpxReader::GHGpxReader(GHGpxImportable* receiver) : m_version(0), m_receiver(receiver), m_input(nullptr)
{
    // Our files use the default namespace only; resolving prefixes would cost a walk of the declarations per tag.
    m_reader.setNamespaceProcessing(false);
}

GHGpxReader::~GHGpxReader() = default;

bool GHGpxReader::readFile(const QString& fileName)
{
    if (!m_receiver) {
        qWarning("GHGpxReader: no receiver for %s", qUtf8Printable(fileName));
        return false;
    }
    GHXmlInput input(m_reader, fileName);
    if (!input.open()) {
        qWarning("cannot open the GPX file %s: %s", qUtf8Printable(fileName), qUtf8Printable(input.failure()));
        return false;
    }
    m_input = &input;
    next();
    while (!m_reader.atEnd()) {
        if (m_reader.isStartElement()) {
            if (is(m_reader.name(), "gpx"))
                readGpx();
            else
                m_reader.raiseError(QStringLiteral("error reading <gpx>"));
        }
        next();
    }
    m_input = nullptr;

    const QString failure = input.failure();
    if (!failure.isEmpty()) {
        qWarning("cannot read the GPX file %s: %s", qUtf8Printable(fileName), qUtf8Printable(failure));
        return false;
    }
    return true;
}

void GHGpxReader::next()
{
    m_input->next();
}

void GHGpxReader::readGpx()
{
    const QXmlStreamAttributes attributes = m_reader.attributes();
    const QString creator = attributes.value(QLatin1String("creator")).toString();
    const QString versionText = attributes.value(QLatin1String("version")).toString();
    int version = 0;
    if (versionText.startsWith(QLatin1String("2.")))
        version = 2;
    else if (versionText.startsWith(QLatin1String("1.")))
        version = 1;
    if (!is(creator.toLower(), "vexmor") || version == 0) {
        // Without children this is not an error; with them readFile fails on the first child.
        qWarning("not a GPX file of ours (creator \"%s\", version \"%s\"): nothing read", qUtf8Printable(creator),
                 qUtf8Printable(versionText));
        return;
    }
    m_version = version;
    m_receiver->setVersion(version);
    next();
    while (!m_reader.atEnd()) {
        if (m_reader.isEndElement())
            return;
        if (m_reader.isStartElement()) {
            const QStringRef name = m_reader.name();
            if (is(name, "metadata")) {
                readMetadata();
            } else if (is(name, "rte")) {
                readRoute();
            } else if (is(name, "trk")) {
                readTrack();
            } else if (is(name, "wpt")) {
                readWaypoint();
            } else {
                // The GPX-level extensions too: imports keep no ride logs (readGpxExtensions reads them for one that
                // does).
                skipUnknownElement();
                continue;
            }
        }
        next();
    }
}

// Reads the current element's content up to its own end element, which is current on return. False when the
// stream ended first (an error, a cut file): the caller then makes no closing call. Children that onChild consumes
// (as text or through a read operation) leave their end element current; entered ones are containers whose content
// is read here one level down.
bool GHGpxReader::readContent(const ChildHandler& onChild, const std::function<void()>& onCharacters,
                              const std::function<void()>& onContainerEnd)
{
    int level = 0;
    next();
    while (!m_reader.atEnd()) {
        if (m_reader.isEndElement()) {
            if (level == 0)
                return true;
            --level;
            if (onContainerEnd)
                onContainerEnd();
        } else if (m_reader.isStartElement()) {
            switch (onChild(m_reader.name(), level)) {
            case Child::Consumed: break;
            case Child::Entered: ++level; break;
            case Child::Skipped: skipUnknownElement(); continue;
            }
        } else if (onCharacters && m_reader.isCharacters()) {
            onCharacters();
        }
        next();
    }
    return false;
}

QString GHGpxReader::readText()
{
    return m_input->readText();
}

void GHGpxReader::readText(QString& value)
{
    value = m_input->readText();
}

void GHGpxReader::readMetadata()
{
    m_receiver->startMetadata();
    Fields fields;
    QString prefix; // the name or author whose text is captured
    const auto onChild = [&](const QStringRef& name, int level) {
        if (level == 0 && (is(name, "name") || is(name, "author"))) {
            prefix = name.toString();
            return Child::Entered;
        }
        if (level == 0 && is(name, "desc")) {
            readText(fields.slot(name));
            return Child::Consumed;
        }
        if (level == 1 && is(name, "extensions"))
            return Child::Entered;
        if (level == 1 && isOneOf(name, {"name", "email", "link"})) {
            readText(fields.slot(prefix, name));
            return Child::Consumed;
        }
        if (level == 2 && is(name, "shtname")) {
            readText(fields.slot(prefix + QLatin1String("_shtname")));
            return Child::Consumed;
        }
        if (is(name, "time")) {
            readText(fields.slot(name));
            return Child::Consumed;
        }
        if (is(name, "bounds")) {
            readAttributes(name.toString(), fields);
            return Child::Entered;
        }
        if (level == 0 && is(name, "extensions")) {
            readMetadataExtensions();
            return Child::Consumed;
        }
        return Child::Skipped;
    };
    const auto onCharacters = [&]() {
        if (prefix.isEmpty())
            return;
        const QString text = m_reader.text().trimmed().toString();
        if (!text.isEmpty())
            fields.slot(prefix) = text;
    };
    if (readContent(onChild, onCharacters, [&]() { prefix.clear(); }))
        m_receiver->onMetadata(fields.values());
}

void GHGpxReader::readMetadataExtensions()
{
    Fields fields;
    QString prefix;
    bool capture = false;
    const bool second = m_version == 2;
    const auto onChild = [&](const QStringRef& elementName, int level) {
        const QString name = elementName.toString().toLower();
        if (second && level == 0 && is(name, "user")) {
            // The profile stays on the computer that wrote the file.
            readText();
            return Child::Consumed;
        }
        if (second && level == 0 && is(name, "sys")) {
            readAttributes(name, fields);
            prefix = name;
            capture = true;
            return Child::Entered;
        }
        if (second && level == 1 && is(name, "apps"))
            return Child::Entered;
        if (second && level == 2 && is(name, "app")) {
            readAttributes(name, fields);
            return Child::Entered;
        }
        // rtetype is what the first-generation writer puts here for a route's type; without it imported routes
        // would lose their type.
        if (level == 0 && isOneOf(QStringRef(&name), {"stime", "etime", "poollen", "sharetype", "sctry", "ectry", "splace", "eplace",
                                         "trvtime", "trvdist", "rtetype"})) {
            readText(fields.slot(name));
            return Child::Consumed;
        }
        if (level == 0 && is(name, "acttype")) {
            if (second)
                readAttributes(name, fields);
            readText(fields.slot(name));
            return Child::Consumed;
        }
        return Child::Skipped;
    };
    const auto onCharacters = [&]() {
        if (!capture || m_reader.isWhitespace())
            return;
        const QString text = m_reader.text().trimmed().toString();
        if (!text.isEmpty())
            fields.slot(prefix) = text;
        capture = false;
    };
    if (readContent(onChild, onCharacters))
        m_receiver->onMetadataExtensions(fields.values());
}

void GHGpxReader::readRoute()
{
    m_receiver->startRoute();
    Fields fields;
    const auto onChild = [&](const QStringRef& name, int) {
        if (isOneOf(name, {"name", "cmt", "desc", "src", "number", "type"})) {
            readText(fields.slot(name));
            return Child::Consumed;
        }
        if (is(name, "rtept")) {
            readRoutePoint();
            return Child::Consumed;
        }
        return Child::Skipped;
    };
    if (readContent(onChild))
        m_receiver->onRoute(fields.values());
}

void GHGpxReader::readRoutePoint()
{
    Fields& fields = m_leaf;
    fields.begin();
    readAttributes(QStringLiteral("rtept"), fields);
    const auto onChild = [&](const QStringRef& name, int) {
        if (isOneOf(name, {"name", "cmt", "desc", "type"})) {
            readText(fields.slot(name));
            return Child::Consumed;
        }
        return Child::Skipped;
    };
    if (readContent(onChild))
        m_receiver->onRoutePoint(fields.values());
}

void GHGpxReader::readTrack()
{
    m_receiver->startTrack();
    // The track's own texts are not kept by any receiver.
    readContent([&](const QStringRef& name, int) {
        if (!is(name, "trkseg"))
            return Child::Skipped;
        readTrackSegment();
        return Child::Consumed;
    });
}

void GHGpxReader::readTrackSegment()
{
    m_receiver->startTrackSegment();
    Fields fields;
    const bool second = m_version == 2;
    const auto onChild = [&](const QStringRef& name, int) {
        if (is(name, "trkpt")) {
            readTrackPoint();
            return Child::Consumed;
        }
        if (!second)
            return Child::Skipped;
        if (is(name, "extensions"))
            return Child::Entered;
        if (is(name, "itvSeg")) {
            readAttributes(name.toString(), fields);
            return Child::Entered;
        }
        if (is(name, "order")) {
            readText(fields.slot(name));
            return Child::Consumed;
        }
        if (is(name, "acttype")) {
            readAttributes(name.toString(), fields);
            readText(fields.slot(name));
            return Child::Consumed;
        }
        return Child::Skipped;
    };
    if (readContent(onChild))
        m_receiver->onTrackSegment(fields.values());
}

void GHGpxReader::readTrackPoint()
{
    Fields& fields = m_leaf;
    fields.begin();
    readAttributes(QStringLiteral("trkpt"), fields);
    const auto onChild = [&](const QStringRef& name, int) {
        if (isOneOf(name, {"ele", "cmt", "time", "type", "magvar", "speed"})) {
            readText(fields.slot(name));
            return Child::Consumed;
        }
        return is(name, "extensions") ? Child::Entered : Child::Skipped;
    };
    if (readContent(onChild))
        m_receiver->onTrackPoint(fields.values());
}

void GHGpxReader::readWaypoint()
{
    Fields& fields = m_leaf;
    fields.begin();
    readAttributes(QStringLiteral("wpt"), fields);
    const auto onChild = [&](const QStringRef& name, int) {
        // The address may stand directly in wpt (as we write it) or inside its extensions.
        if (isOneOf(name, {"name", "cmt", "desc", "sym", "ele", "time", "tel", "ctry", "place", "road", "hnum"})) {
            readText(fields.slot(name));
            return Child::Consumed;
        }
        if (is(name, "type")) {
            readAttributes(name.toString(), fields);
            readText(fields.slot(name));
            return Child::Consumed;
        }
        return is(name, "extensions") ? Child::Entered : Child::Skipped;
    };
    if (readContent(onChild))
        m_receiver->onWayPoint(fields.values());
}

// The reader of the GPX-level extensions (ride logs); readGpx skips that element, so nothing reaches this yet.
void GHGpxReader::readGpxExtensions()
{
    readContent([&](const QStringRef& name, int) {
        if (m_version == 2 && is(name, "ssrlog"))
            readSensorLog();
        else if (m_version == 2 && is(name, "wrklog"))
            readWorkoutLog();
        else if (m_version == 2 && is(name, "laps"))
            readLaps();
        else if (m_version == 1 && is(name, "training"))
            readTraining();
        else
            return Child::Skipped;
        return Child::Consumed;
    });
}

void GHGpxReader::readTraining()
{
    m_receiver->startTraining();
    readContent([&](const QStringRef& name, int) {
        if (!is(name, "logpt"))
            return Child::Skipped;
        readLogpt();
        return Child::Consumed;
    });
}

void GHGpxReader::readSensorLog()
{
    m_receiver->startSensorLog();
    readContent([&](const QStringRef& name, int) {
        if (!is(name, "logseg"))
            return Child::Skipped;
        readLogSegment();
        return Child::Consumed;
    });
}

void GHGpxReader::readLogSegment()
{
    m_receiver->startLogSegment();
    readContent([&](const QStringRef& name, int) {
        if (!is(name, "logpt"))
            return Child::Skipped;
        readLogpt();
        return Child::Consumed;
    });
}

void GHGpxReader::readLogpt()
{
    Fields& fields = m_leaf;
    fields.begin();
    readAttributes(QStringLiteral("logpt"), fields);
    const auto onChild = [&](const QStringRef& name, int) {
        if (isOneOf(name, {"hrm", "cad", "spd", "tmp", "brm"}) || (m_version == 2 && is(name, "pwr")) ||
            (m_version == 1 && isOneOf(name, {"pdm", "cps"}))) {
            readText(fields.slot(name));
            return Child::Consumed;
        }
        return Child::Skipped;
    };
    if (readContent(onChild))
        m_receiver->onLogPoint(fields.values());
}

void GHGpxReader::readWorkoutLog()
{
    m_receiver->startWorkoutLog();
    Fields fields;
    readAttributes(QStringLiteral("wrklog"), fields);
    const auto onChild = [&](const QStringRef& name, int) {
        if (is(name, "interval")) {
            readInterval();
            return Child::Consumed;
        }
        if (isOneOf(name, {"lthr", "mhr", "map", "ftp"})) {
            readText(fields.slot(name));
            return Child::Consumed;
        }
        return Child::Skipped;
    };
    if (readContent(onChild))
        m_receiver->onWorkoutLog(fields.values());
}

void GHGpxReader::readInterval()
{
    Fields& fields = m_leaf;
    fields.begin();
    readAttributes(QStringLiteral("interval"), fields);
    const auto onChild = [&](const QStringRef& name, int) {
        if (!is(name, "start") && !is(name, "end"))
            return Child::Skipped;
        readText(fields.slot(name));
        return Child::Consumed;
    };
    if (readContent(onChild))
        m_receiver->onInterval(fields.values());
}

void GHGpxReader::readLaps()
{
    m_receiver->startLaps();
    readContent([&](const QStringRef& name, int) {
        if (is(name, "lap"))
            readLapsLap();
        else if (is(name, "summary"))
            readLapsSummary();
        else
            return Child::Skipped;
        return Child::Consumed;
    });
}

void GHGpxReader::readLapsLap()
{
    readLap(QStringLiteral("lap"), false);
}

void GHGpxReader::readLapsSummary()
{
    readLap(QStringLiteral("summary"), true);
}

void GHGpxReader::readLap(const QString& prefix, bool summary)
{
    Fields& fields = m_leaf;
    fields.begin();
    readAttributes(prefix, fields);
    const auto onChild = [&](const QStringRef& name, int) {
        if (isOneOf(name, {"distance", "calorie", "step", "altloss", "altgain", "rtime"})) {
            readText(fields.slot(name));
            return Child::Consumed;
        }
        if (isOneOf(name, {"speed", "hrm", "cad", "pwr"})) {
            readAttributes(name.toString(), fields);
            return Child::Entered;
        }
        return Child::Skipped;
    };
    if (!readContent(onChild))
        return;
    if (summary)
        m_receiver->onSummary(fields.values());
    else
        m_receiver->onLap(fields.values());
}

// Leaves the token after the skipped element's end current. A loop, not recursion: a foreign subtree nests as deep
// as the file likes (up to MAX_DEPTH).
void GHGpxReader::skipUnknownElement()
{
    m_input->skipElement();
}

void GHGpxReader::readAttributes(const QString& prefix, Fields& fields)
{
    const QXmlStreamAttributes attributes = m_reader.attributes();
    for (const QXmlStreamAttribute& attribute : attributes) {
        // Without namespace processing the parser lists namespace declarations among the attributes.
        const QStringRef qualifiedName = attribute.qualifiedName();
        if (qualifiedName.size() >= 5 && is(qualifiedName.unicode(), 5, "xmlns") &&
            (qualifiedName.size() == 5 || qualifiedName.at(5) == QLatin1Char(':')))
            continue;
        fields.slot(prefix, attribute.name()) = m_input->text(attribute.value());
    }
}
