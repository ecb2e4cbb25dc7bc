#ifndef GHSTATISTICREADER_H
#define GHSTATISTICREADER_H

#include <QList>
#include <QString>
#include <QXmlStreamReader>

#include "util/ghtripstatistic.h"

// Reads a lap-statistics document (root "laps") or a trip-summary document (root "logsum") into a list of records:
// the laps in order and the summary last. Made for one list and one read; the records it adds are made with new
// and belong to the list's owner.
class GHStatisticReader
{
public:
    explicit GHStatisticReader(QList<GHTripStatistic*>* statistics);

    // False for a missing or unreadable file (list untouched) or malformed XML (what was read stays in the list).
    // A document of another root gives true and adds nothing.
    bool read(const QString& path);

    // A "lap" (true) or the "summary" (false), from its start tag to its end tag.
    void readSummary(bool lap);
    void readTripElement();
    void readSensorElement();
    // From a start tag past its matching end tag.
    void skipUnknownElement();

private:
    GHStatisticReader(const GHStatisticReader&) = delete;
    GHStatisticReader& operator=(const GHStatisticReader&) = delete;

    QXmlStreamReader m_reader;
    GHTripStatistic* m_current;
    QList<GHTripStatistic*>* m_statistics;
    // The summary stands first while reading and moves to the end once the document is read.
    bool m_summaryInFront;
};

#endif
