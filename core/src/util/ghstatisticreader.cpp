#include "util/ghstatisticreader.h"

#include <QFile>

#include "util/ghtimetext.h"

namespace {

float number(const QStringRef& text)
{
    return text.toFloat();
}

void readRange(const QXmlStreamAttributes& attributes, GHTripStatistic::Range& range, bool max, bool min, bool avg)
{
    if (max)
        range.max = number(attributes.value(QLatin1String("max")));
    if (min)
        range.min = number(attributes.value(QLatin1String("min")));
    if (avg)
        range.avg = number(attributes.value(QLatin1String("avg")));
}

} // namespace

GHStatisticReader::GHStatisticReader(QList<GHTripStatistic*>* statistics)
    : m_current(nullptr), m_statistics(statistics), m_summaryInFront(false)
{
}

bool GHStatisticReader::read(const QString& path)
{
    QFile file(path);
    if (!m_statistics || !file.exists()) {
        qWarning("there is no statistics file %s", qUtf8Printable(path));
        return false;
    }
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning("cannot read the statistics file %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    m_reader.setDevice(&file);
    while (!m_reader.atEnd() && !m_reader.isStartElement())
        m_reader.readNext();
    const QString root = m_reader.name().toString();
    // Not even a root element: no statistics document at all.
    const bool noRoot = m_reader.hasError();
    QString problem = m_reader.errorString();
    bool restarted = file.seek(0);
    m_reader.clear();
    m_reader.setDevice(&file);

    if (noRoot) {
        // Reported below with the rest.
    } else if (root == QLatin1String("laps")) {
        while (!m_reader.atEnd()) {
            if (m_reader.isStartElement() && m_reader.name() == QLatin1String("summary"))
                readSummary(false);
            else if (m_reader.isStartElement() && m_reader.name() == QLatin1String("lap"))
                readSummary(true);
            m_reader.readNext();
        }
    } else if (root == QLatin1String("logsum")) {
        // The trip summary is one record; it joins the list behind whatever is there.
        m_current = new GHTripStatistic;
        m_statistics->append(m_current);
        while (!m_reader.atEnd()) {
            m_reader.readNext();
            if (m_reader.isStartElement() && m_reader.name() == QLatin1String("trip")) {
                readTripElement();
                break;
            }
        }
        if (!m_reader.hasError()) {
            restarted = restarted && file.seek(0);
            m_reader.clear();
            m_reader.setDevice(&file);
            while (!m_reader.atEnd()) {
                m_reader.readNext();
                if (m_reader.isStartElement() && m_reader.name() == QLatin1String("sensor")) {
                    readSensorElement();
                    break;
                }
            }
        }
    }
    m_current = nullptr;

    if (!noRoot)
        problem = m_reader.hasError() ? m_reader.errorString() : file.errorString();
    const bool failed = noRoot || m_reader.hasError() || !restarted || file.error() != QFileDevice::NoError;
    if (failed) {
        qWarning("the statistics file %s is not readable XML: %s (line %lld)", qUtf8Printable(path),
                 qUtf8Printable(problem), m_reader.lineNumber());
    }
    m_reader.clear();
    file.close();
    if (failed)
        return false;
    if (m_summaryInFront && !m_statistics->isEmpty())
        m_statistics->append(m_statistics->takeFirst());
    m_summaryInFront = false;
    return true;
}

void GHStatisticReader::readSummary(bool lap)
{
    auto* record = new GHTripStatistic;
    m_current = record;
    bool listed = false;
    if (!lap) {
        m_statistics->prepend(record);
        m_summaryInFront = true;
        listed = true;
    }
    const QXmlStreamAttributes attributes = m_reader.attributes();
    record->startTime = tm_s2i(attributes.value(QLatin1String("start")).toString());
    record->endTime = tm_s2i(attributes.value(QLatin1String("end")).toString());
    if (lap) {
        bool ok = false;
        const int order = attributes.value(QLatin1String("order")).toInt(&ok, 10);
        if (ok && order > 0) {
            m_statistics->insert(qMin(order, m_statistics->size()), record);
            listed = true;
        }
    }

    m_reader.readNext();
    while (!m_reader.atEnd() && !m_reader.isEndElement()) {
        if (m_reader.isStartElement()) {
            const QStringRef name = m_reader.name();
            if (name == QLatin1String("altloss")) {
                record->altLoss = m_reader.readElementText(QXmlStreamReader::SkipChildElements).toFloat();
            } else if (name == QLatin1String("calorie")) {
                record->calorie = m_reader.readElementText(QXmlStreamReader::SkipChildElements).toFloat();
            } else if (name == QLatin1String("altgain")) {
                record->altGain = m_reader.readElementText(QXmlStreamReader::SkipChildElements).toFloat();
            } else if (name == QLatin1String("distance")) {
                record->distance = float(m_reader.readElementText(QXmlStreamReader::SkipChildElements).toInt());
            } else if (name == QLatin1String("step")) {
                record->step = float(m_reader.readElementText(QXmlStreamReader::SkipChildElements).toInt());
            } else if (name == QLatin1String("rtime")) {
                record->rideTime = float(m_reader.readElementText(QXmlStreamReader::SkipChildElements).toInt());
            } else if (name == QLatin1String("gainaltlen")) {
                record->gainAltLen = m_reader.readElementText(QXmlStreamReader::SkipChildElements).toInt();
            } else if (name == QLatin1String("lostaltlen")) {
                record->lostAltLen = m_reader.readElementText(QXmlStreamReader::SkipChildElements).toInt();
            } else if (name == QLatin1String("gainalttime")) {
                record->gainAltTime = m_reader.readElementText(QXmlStreamReader::SkipChildElements).toInt();
            } else if (name == QLatin1String("lostalttime")) {
                record->lostAltTime = m_reader.readElementText(QXmlStreamReader::SkipChildElements).toInt();
            } else if (name == QLatin1String("speed") || name == QLatin1String("hrm") || name == QLatin1String("cad") ||
                       name == QLatin1String("pwr") || name == QLatin1String("tmp")) {
                GHTripStatistic::Range& range = name == QLatin1String("speed") ? record->speed
                                                : name == QLatin1String("hrm") ? record->heartRate
                                                : name == QLatin1String("cad") ? record->cadence
                                                : name == QLatin1String("pwr") ? record->power
                                                                               : record->temperature;
                readRange(m_reader.attributes(), range, true, name == QLatin1String("tmp"), true);
                m_reader.skipCurrentElement();
            } else {
                skipUnknownElement();
                continue;
            }
        }
        m_reader.readNext();
    }
    if (!listed) {
        // A lap without a usable position has no place in the list; nobody else would free it.
        qWarning("a lap without a valid order at line %lld is left out", m_reader.lineNumber());
        delete record;
    }
    m_current = nullptr;
}

void GHStatisticReader::readTripElement()
{
    if (!m_current)
        return;
    m_reader.readNext();
    while (!m_reader.atEnd()) {
        if (m_reader.isStartElement()) {
            const QStringRef name = m_reader.name();
            const QXmlStreamAttributes attributes = m_reader.attributes();
            if (name == QLatin1String("altitude_loss")) {
                m_current->altLoss = number(attributes.value(QLatin1String("value")));
            } else if (name == QLatin1String("altitude_gain")) {
                m_current->altGain = number(attributes.value(QLatin1String("value")));
            } else {
                skipUnknownElement();
                continue;
            }
        }
        m_reader.readNext();
    }
}

void GHStatisticReader::readSensorElement()
{
    if (!m_current)
        return;
    m_reader.readNext();
    while (!m_reader.atEnd()) {
        if (m_reader.isStartElement()) {
            const QStringRef name = m_reader.name();
            const QXmlStreamAttributes attributes = m_reader.attributes();
            if (name == QLatin1String("speed")) {
                readRange(attributes, m_current->speed, true, false, true);
            } else if (name == QLatin1String("altitude")) {
                readRange(attributes, m_current->altitude, true, true, false);
            } else if (name == QLatin1String("heartrate")) {
                readRange(attributes, m_current->heartRate, true, true, true);
            } else if (name == QLatin1String("temperature")) {
                readRange(attributes, m_current->temperature, true, true, false);
            } else if (name == QLatin1String("cadence")) {
                readRange(attributes, m_current->cadence, true, false, true);
            } else if (name == QLatin1String("uslope")) {
                readRange(attributes, m_current->upSlope, true, true, false);
            } else if (name == QLatin1String("dslope")) {
                readRange(attributes, m_current->downSlope, true, true, false);
            } else {
                skipUnknownElement();
                continue;
            }
        }
        m_reader.readNext();
    }
}

void GHStatisticReader::skipUnknownElement()
{
    // A loop, not recursion: the nesting depth comes from the file.
    int depth = 1;
    while (!m_reader.atEnd()) {
        m_reader.readNext();
        if (m_reader.isStartElement()) {
            ++depth;
        } else if (m_reader.isEndElement() && --depth == 0) {
            m_reader.readNext();
            return;
        }
    }
}
