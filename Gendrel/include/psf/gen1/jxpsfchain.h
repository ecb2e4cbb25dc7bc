#ifndef JXPSFCHAIN_H
#define JXPSFCHAIN_H

#include <QSet>
#include <QtGlobal>

#include "jxlog.h"

// Follows one chain of links through a list of a first-generation image (track segments, sensor logs, intervals,
// workout logs). A chain ends at 0xFFFFFFFF or 0xCDCDCDCD (never programmed); on a damaged image it also ends at an
// offset it has visited, at a record that would leave the list, and after as many steps as the list has room for
// records, so a damaged link costs the rest of its own chain and nothing of the others.
class JXPSFChain
{
public:
    // recordSize: the fewest bytes one record of the chain takes.
    JXPSFChain(qint64 listSize, qint64 recordSize, const char* what)
        : m_listSize(qMax<qint64>(listSize, 0)), m_recordSize(qMax<qint64>(recordSize, 1)), m_what(what)
    {
    }

    // True when the record at offset is the chain's next one to read.
    bool admits(quint32 offset)
    {
        if (offset == 0xFFFFFFFFu || offset == 0xCDCDCDCDu)
            return false;
        if (m_visited.contains(offset)) {
            JX_WARNING << m_what << "chain loops back to" << offset;
            return false;
        }
        if (m_visited.size() >= m_listSize / m_recordSize) {
            JX_WARNING << m_what << "chain has more links than its list has records";
            return false;
        }
        if (offset > m_listSize || m_recordSize > m_listSize - offset) {
            JX_WARNING << m_what << "chain leaves its list at" << offset;
            return false;
        }
        m_visited.insert(offset);
        return true;
    }

private:
    qint64 m_listSize;
    qint64 m_recordSize;
    const char* m_what;
    QSet<quint32> m_visited;
};

#endif
