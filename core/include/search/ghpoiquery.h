#ifndef GHPOIQUERY_H
#define GHPOIQUERY_H

#include <QMutex>
#include <QSet>
#include <QString>
#include <QThread>
#include <QVector>

#include <atomic>

#include "location/ghlatlng.h"

class GHGeoLocation;
class QSqlDatabase;

// A search of the device's POI tile files outward from a centre, ring of tiles by ring of tiles, on its own thread.
// The caller's thread polls getProgress, getCount and getResult while it runs and may stop it with cancelSearch;
// the search also ends once it holds more than cap results, so it keeps at most cap + 1.
//
// The homes and the POI tiling are taken when the query is made, on the caller's thread, so a setHomeDir during the
// search changes nothing for it. The search opens the tile files read only on a connection of its own, made and
// removed on its thread.
class GHPOIQuery : public QThread
{
    Q_OBJECT

public:
    struct t_FoundPOI
    {
        int id;
        int latitude;
        int longitude;
    };

    // The first argument is not used. category -1 means any category, an empty name any name.
    GHPOIQuery(int unused, int lat, int lng, int radius, const QString& name, int category, int cap);
    // Stops the search and waits for it.
    ~GHPOIQuery() override;

    // Any thread: the search ends at its next row or statement and keeps what it found.
    void cancelSearch();
    int getCount() const;
    // Percent, forward only; 100 once the search has ended, except when it stopped in the centre tile.
    int getProgress() const;
    // Copies results start, start + 1, ... into out[0], out[1], ..., at most count of them; the number copied.
    int getResult(int start, int count, GHGeoLocation* out) const;

protected:
    // Runs on the search thread.
    void run() override;

private:
    QString _poiDbNameByTileIndex(int x, int y) const;
    void _poiSearchCoverageDb(int radius, int x, int y);
    bool _openTileDb(QSqlDatabase& db, const QString& path);
    void _searchRangeX(QSqlDatabase& db, int x1, int x2, int y1, int y2);
    void _searchRangeY(QSqlDatabase& db, int x1, int x2, int y1, int y2);
    void _searchBand(QSqlDatabase& db, bool alongX, int from, int to, int line1, int line2);
    bool stopRequested() const { return m_stop.load(std::memory_order_relaxed); }

    const GHLatLng m_centre;
    const int m_radius;
    const QString m_name;
    const int m_category;
    const int m_cap;
    // Taken from GHDeviceDB when the query is made.
    const QString m_homeFlash;
    const QString m_homeStorage;
    const int m_tileLevel;
    const int m_tileShift;

    mutable QMutex m_resultMutex;
    QVector<t_FoundPOI> m_results;
    std::atomic<bool> m_stop;
    std::atomic<int> m_progress;

    // Search thread only: the tile files that the corners of the outermost ring reach.
    QSet<QString> m_coverage;
};

#endif
