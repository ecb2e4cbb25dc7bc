// Record deletes of the first-generation client.

#include "device/zelto30/jxzelto30.h"

#include <QSet>
#include <QtEndian>

#include "jxlog.h"
#include "psf/gen1/jxpsf.h"
#include "psf/gen1/jxpsfrouteframe.h"
#include "psf/gen1/jxpsfworkoutframe.h"

namespace {

// Entries of the header record's rings.
int ringEntry(int group)
{
    return JXZelto30::RecordGroupEntries + JXZelto30::RecordGroupEntrySize * (group - 1);
}

int flaggedRoutes(const QVector<QPointer<JXPSFRoute>>& routes)
{
    int count = 0;
    for (const QPointer<JXPSFRoute>& route : routes)
        if (route && route->getTrackFlag())
            ++count;
    return count;
}

} // namespace

void JXZelto30::resetRing(int recordOffset, int sizeWord, int startWord)
{
    if (recordOffset < 0 || recordOffset + 12 > m_flashHeaderRecord.size())
        return;
    // Written in place: the data-store root points into the record.
    uchar* entry = reinterpret_cast<uchar*>(m_flashHeaderRecord.data()) + recordOffset;
    qToLittleEndian<quint32>(m_flashDef.words[sizeWord], entry);
    qToLittleEndian<quint32>(m_flashDef.words[startWord], entry + 4);
    qToLittleEndian<quint32>(m_flashDef.words[startWord], entry + 8);
}

bool JXZelto30::deletePOIs(QVector<int> indexes)
{
    getExtFlash();
    if (!m_psf)
        return false;
    m_dirty = true;
    return m_psf->deletePOIs(indexes);
}

bool JXZelto30::deleteRoutes(QVector<int> indexes)
{
    getExtFlash();
    if (!m_psf)
        return false;
    m_dirty = true;
    if (JXPSFRouteFrame* frame = m_psf->getRouteFrame()) {
        const QVector<QPointer<JXPSFRoute>> routes = *frame->getRoutes();
        const int flagged = flaggedRoutes(routes);
        // Distinct indexes inside the list only: a repeat or a stray index must not make the count reach F.
        QSet<int> named;
        for (int index : qAsConst(indexes))
            if (index >= 0 && index < routes.size())
                named.insert(index);
        int deleted = 0;
        for (int index : qAsConst(named))
            if (routes.at(index) && routes.at(index)->getTrackFlag())
                ++deleted;
        if (flagged == deleted) {
            resetRing(ringEntry(8), DefGroup8Size, DefGroup8Data);
            resetRing(ringEntry(4), DefGroup4Size, DefGroup4Start);
        }
    }
    return m_psf->deleteRoutes(indexes);
}

bool JXZelto30::deleteTracks(QVector<int> indexes)
{
    getExtFlash();
    if (indexes.isEmpty())
        return false;
    return deleteRoutes(indexes);
}

bool JXZelto30::deleteWorkouts(QVector<int> indexes)
{
    getExtFlash();
    if (!m_psf)
        return false;
    m_dirty = true;
    const bool result = m_psf->deleteWorkouts(indexes);
    JXPSFWorkoutFrame* frame = m_psf->getWorkoutFrame();
    if (!frame || frame->getWorkouts()->isEmpty()) {
        resetRing(ringEntry(2), DefGroup2Size, DefGroup2Data);
        resetRing(ringEntry(6), DefGroup6Size, DefGroup6Data);
    }
    return result;
}

bool JXZelto30::deleteAll()
{
    const auto indexesOf = [](const QVector<JXClientData>& items) {
        QVector<int> indexes;
        for (const JXClientData& item : items)
            indexes.append(item.id);
        return indexes;
    };
    QVector<JXClientData> items;
    getTracks(items);
    if (!items.isEmpty())
        deleteRoutes(indexesOf(items));
    items.clear();
    getPOIs(items);
    if (!items.isEmpty())
        deletePOIs(indexesOf(items));
    items.clear();
    getRoutes(items);
    if (!items.isEmpty())
        deleteRoutes(indexesOf(items));
    items.clear();
    getWorkouts(items);
    if (!items.isEmpty())
        deleteWorkouts(indexesOf(items));

    resetRing(ringEntry(8), DefGroup8Size, DefGroup8Data);
    resetRing(ringEntry(4), DefGroup4Size, DefGroup4Start);
    m_dirty = true;
    const bool written = _finalize();
    if (!written)
        JX_WARNING << "the emptied data could not be written to the device";
    return written;
}
