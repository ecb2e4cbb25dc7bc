#include "util/ghtotrainstatxml.h"

#include <QByteArray>
#include <QTextStream>

#include <cerrno>
#include <cmath>
#include <cstring>

#include <unistd.h>

#include "util/ghtimetext.h"

namespace {

// Fixed notation with a point and no grouping; adding 0 turns a negative zero into "0".
QString fixed(double value, int decimals)
{
    return QString::number(value + 0.0, 'f', decimals);
}

QString truncated(float value)
{
    return fixed(std::trunc(double(value)) + 0.0, 0);
}

QString rounded(float value)
{
    return fixed(std::round(double(value)) + 0.0, 0);
}

void element(QTextStream& stream, const char* name, const QString& value)
{
    stream << '<' << name << '>' << value << "</" << name << '>';
}

// An empty element with the attributes max, min and avg, in that order; a null min is left out.
void rangeElement(QTextStream& stream, const char* name, const QString& max, const QString& min, const QString& avg)
{
    stream << '<' << name << ' ';
    stream << QStringLiteral("max=\"%1\" ").arg(max);
    if (!min.isNull())
        stream << QStringLiteral("min=\"%1\" ").arg(min);
    stream << QStringLiteral("avg=\"%1\"/>").arg(avg);
}

} // namespace

GHToTrainStatXml::GHToTrainStatXml(const QVector<GHTripStatistic>* statistics) : m_statistics(statistics) {}

bool GHToTrainStatXml::serialize(FILE* file)
{
    if (!file)
        return false;
    QByteArray document;
    {
        QTextStream stream(&document, QIODevice::WriteOnly);
        stream.setCodec("UTF-8");
        stream << "<laps>";
        const int count = m_statistics ? m_statistics->size() : 0;
        for (int i = 0; i < count; ++i)
            _writeLap2(i + 1 < count ? i + 1 : 0, &m_statistics->at(i), stream);
        stream << "</laps>";
    }
    // The caller keeps the file open and rewrites it as laps are added: what an earlier, longer document left
    // behind the new end is cut off, or the file would no longer parse.
    if (std::fseek(file, 0, SEEK_SET) != 0 ||
        std::fwrite(document.constData(), 1, size_t(document.size()), file) != size_t(document.size()) ||
        std::fflush(file) != 0 || ::ftruncate(::fileno(file), off_t(document.size())) != 0) {
        qWarning("cannot write the lap statistics: %s", std::strerror(errno));
        std::clearerr(file);
        return false;
    }
    return true;
}

bool GHToTrainStatXml::serialize(QString&)
{
    return false;
}

void GHToTrainStatXml::_writeLap2(int order, const GHTripStatistic* statistic, QTextStream& stream)
{
    const char* name = order > 0 ? "lap" : "summary";
    if (order > 0)
        stream << QStringLiteral("<lap order=\"%1\" ").arg(order);
    else
        stream << "<summary ";
    stream << QStringLiteral("start=\"%1\" ").arg(tm_i2s(statistic->startTime));
    stream << QStringLiteral("end=\"%1\">").arg(tm_i2s(statistic->endTime));

    element(stream, "distance", truncated(statistic->distance));
    element(stream, "calorie", fixed(statistic->calorie, 3));
    if (statistic->step != GHTripStatistic::NO_STEPS)
        element(stream, "step", truncated(statistic->step));
    element(stream, "altloss", fixed(statistic->altLoss, 1));
    element(stream, "altgain", fixed(statistic->altGain, 1));
    rangeElement(stream, "speed", fixed(statistic->speed.max, 1), QString(), fixed(statistic->speed.avg, 1));
    rangeElement(stream, "hrm", truncated(statistic->heartRate.max), QString(), truncated(statistic->heartRate.avg));
    rangeElement(stream, "cad", truncated(statistic->cadence.max), QString(), truncated(statistic->cadence.avg));
    rangeElement(stream, "pwr", rounded(statistic->power.max), QString(), rounded(statistic->power.avg));
    rangeElement(stream, "tmp", rounded(statistic->temperature.max), rounded(statistic->temperature.min),
                 rounded(statistic->temperature.avg));
    element(stream, "rtime", rounded(statistic->rideTime));
    element(stream, "gainaltlen", QString::number(statistic->gainAltLen));
    element(stream, "lostaltlen", QString::number(statistic->lostAltLen));
    element(stream, "gainalttime", QString::number(statistic->gainAltTime));
    element(stream, "lostalttime", QString::number(statistic->lostAltTime));
    stream << "</" << name << '>';
}

void GHToTrainStatXml::_writeLap(int, const GHTripStatistic*, QXmlStreamWriter&) {}
