#ifndef GHTOTRAINSTATXML_H
#define GHTOTRAINSTATXML_H

#include <QString>
#include <QVector>

#include <cstdio>

#include "util/ghtripstatistic.h"

class QTextStream;
class QXmlStreamWriter;

// Writes a ride's statistics as the one-line lap-statistics document (root "laps"): a "lap" per record, the last
// record as the "summary". Made around the vector for each call; the vector is not owned.
class GHToTrainStatXml
{
public:
    explicit GHToTrainStatXml(const QVector<GHTripStatistic>* statistics);

    // Rewrites the whole document from the start of the open file and cuts the file to it, so the caller can keep
    // the file open and call again as the list grows. False for a null file or a failed write.
    bool serialize(FILE* file);
    // Not supported: writes nothing.
    bool serialize(QString& text);

    // A "lap" for an order of 1 or more, else the "summary".
    void _writeLap2(int order, const GHTripStatistic* statistic, QTextStream& stream);
    // Not supported: writes nothing.
    void _writeLap(int order, const GHTripStatistic* statistic, QXmlStreamWriter& writer);

private:
    const QVector<GHTripStatistic>* m_statistics;
};

#endif
