#include "search/ghpoiquery.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <limits>

#include <sqlite3.h>

#include "location/ghgeolocation.h"
#include "rastermap/ghmaputils.h"
#include "search/ghdevicedb.h"
#include "../sql/ghsqlitehandle.h"

namespace {

const int kStackSize = 131072;
// How often SQLite asks whether to go on inside one step, in virtual-machine instructions: a band that matches
// nothing for a long stretch still ends soon after a stop.
const int kStopCheckPeriod = 1000;
// Reference corners of one band; a band spans at most a ring's width of tiles on two lines.
const int kMaxCachedCorners = 4096;

std::atomic<int> s_nextConnection{0};

const char* const kSelect = "select idPOI,Longitude,Latitude,XIdx,YIdx from POI where ";

int stopWhenAsked(void* stop)
{
    return static_cast<const std::atomic<bool>*>(stop)->load(std::memory_order_relaxed) ? 1 : 0;
}

bool toInt(const QVariant& value, int& out)
{
    bool ok = false;
    out = value.toInt(&ok);
    return ok;
}

} // namespace

GHPOIQuery::GHPOIQuery(int unused, int lat, int lng, int radius, const QString& name, int category, int cap)
    : m_centre(lat, lng), m_radius(radius), m_name(name), m_category(category), m_cap(cap),
      m_homeFlash(GHDeviceDB::getFlashHome()), m_homeStorage(GHDeviceDB::getStorageHome()), m_tileLevel(POI_TILE_LEVEL),
      m_tileShift(TILE_PER_POIDB), m_stop(false), m_progress(0)
{
    Q_UNUSED(unused)
    setStackSize(kStackSize);
}

GHPOIQuery::~GHPOIQuery()
{
    cancelSearch();
    wait();
}

void GHPOIQuery::cancelSearch()
{
    m_stop.store(true, std::memory_order_relaxed);
}

int GHPOIQuery::getCount() const
{
    QMutexLocker locker(&m_resultMutex);
    return m_results.size();
}

int GHPOIQuery::getProgress() const
{
    return m_progress.load(std::memory_order_relaxed);
}

int GHPOIQuery::getResult(int start, int count, GHGeoLocation* out) const
{
    QMutexLocker locker(&m_resultMutex);
    if (!out || start < 0 || start >= m_results.size() || count < 1)
        return 0;
    const int copied = qMin(count, m_results.size() - start);
    for (int i = 0; i < copied; ++i) {
        const t_FoundPOI& found = m_results.at(start + i);
        GHLocation* location = out[i].getLocation();
        location->setLatLng(found.latitude, found.longitude);
        location->setId(found.id);
    }
    return copied;
}

void GHPOIQuery::run()
{
    // Qt hands a connection only to the thread that made it, so the search makes its own, by a name no other
    // search uses, and removes it once every handle on it is gone.
    const QString connection = QStringLiteral("ghpoi-search-%1").arg(s_nextConnection.fetch_add(1));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        // The tile files are the device's map data: read, never written, and no journal left beside them.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));

        const GHMapTile centre = GHMapUtils::latlngToTile(m_centre, m_tileLevel);
        const int cx = centre.index().x;
        const int cy = centre.index().y;
        // Rings wider than the world hold no further tiles; bounding them keeps cx +- r in range.
        const int radius = qBound(0, m_radius, GHMapUtils::tilesOnLevel(m_tileLevel));
        m_progress.store(0, std::memory_order_relaxed);
        _poiSearchCoverageDb(radius, cx, cy);

        const QString centreDb = _poiDbNameByTileIndex(cx, cy);
        if (m_coverage.contains(centreDb) && _openTileDb(db, centreDb))
            _searchRangeX(db, cx, cx, cy, cy);
        if (!stopRequested()) {
            for (int r = 1; r <= radius; ++r) {
                const int progress = int(float(r) / float(radius) * 100.0f);
                m_progress.store(progress, std::memory_order_relaxed);
                QStringList files;
                for (const QString& file :
                     {_poiDbNameByTileIndex(cx - r, cy - r), _poiDbNameByTileIndex(cx - r, cy + r),
                      _poiDbNameByTileIndex(cx + r, cy - r), _poiDbNameByTileIndex(cx + r, cy + r)}) {
                    if (!files.contains(file))
                        files << file;
                }
                // The top and bottom rows of the ring, then its left and right columns without the corners.
                for (const QString& file : qAsConst(files)) {
                    if (stopRequested())
                        break;
                    if (m_coverage.contains(file) && _openTileDb(db, file))
                        _searchRangeX(db, cx - r, cx + r, cy - r, cy + r);
                }
                for (const QString& file : qAsConst(files)) {
                    if (stopRequested())
                        break;
                    if (m_coverage.contains(file) && _openTileDb(db, file))
                        _searchRangeY(db, cx - r, cx + r, cy - r + 1, cy + r - 1);
                }
                if (stopRequested())
                    break;
            }
            m_progress.store(100, std::memory_order_relaxed);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

QString GHPOIQuery::_poiDbNameByTileIndex(int x, int y) const
{
    const QString relative = QStringLiteral("/data/poi/%1/poi%2.dat").arg(x >> m_tileShift).arg(y >> m_tileShift);
    return GHDeviceDB::findDbFile(m_homeFlash, m_homeStorage, relative);
}

void GHPOIQuery::_poiSearchCoverageDb(int radius, int x, int y)
{
    for (const QString& file :
         {_poiDbNameByTileIndex(x, y), _poiDbNameByTileIndex(x - radius, y - radius),
          _poiDbNameByTileIndex(x + radius, y - radius), _poiDbNameByTileIndex(x - radius, y + radius),
          _poiDbNameByTileIndex(x + radius, y + radius)}) {
        if (!file.isEmpty())
            m_coverage.insert(file);
    }
}

// A file that cannot be opened ends the search like a failing statement.
bool GHPOIQuery::_openTileDb(QSqlDatabase& db, const QString& path)
{
    if (db.isOpen() && db.databaseName() == path)
        return true;
    db.close();
    db.setDatabaseName(path);
    if (!db.open()) {
        qWarning("POI search: cannot open %s: %s", qUtf8Printable(path), qUtf8Printable(db.lastError().text()));
        cancelSearch();
        return false;
    }
    if (sqlite3* handle = ghSqliteHandle(db.driver()))
        sqlite3_progress_handler(handle, kStopCheckPeriod, &stopWhenAsked, &m_stop);
    return true;
}

void GHPOIQuery::_searchRangeX(QSqlDatabase& db, int x1, int x2, int y1, int y2)
{
    _searchBand(db, true, x1, x2, y1, y2);
}

void GHPOIQuery::_searchRangeY(QSqlDatabase& db, int x1, int x2, int y1, int y2)
{
    _searchBand(db, false, y1, y2, x1, x2);
}

// The tiles from..to along one axis on the two lines line1 and line2 of the other.
void GHPOIQuery::_searchBand(QSqlDatabase& db, bool alongX, int from, int to, int line1, int line2)
{
    QString text = QLatin1String(kSelect) + (alongX ? QLatin1String("(XIdx>=? and XIdx<=?) and (YIdx=? or YIdx=?)")
                                                    : QLatin1String("(YIdx>=? and YIdx<=?) and (XIdx=? or XIdx=?)"));
    if (m_category != -1)
        text += QLatin1String(" and CategoryID=?");
    if (!m_name.isEmpty())
        text += QLatin1String(" and Name like ?");

    QSqlQuery query(db);
    query.setForwardOnly(true);
    bool ran = query.prepare(text);
    if (ran) {
        query.addBindValue(from);
        query.addBindValue(to);
        query.addBindValue(line1);
        query.addBindValue(line2);
        if (m_category != -1)
            query.addBindValue(m_category);
        if (!m_name.isEmpty())
            query.addBindValue(QLatin1Char('%') + m_name + QLatin1Char('%'));
        ran = query.exec();
    }
    if (!ran) {
        if (!stopRequested())
            qWarning("POI search: cannot search %s: %s", qUtf8Printable(db.databaseName()),
                     qUtf8Printable(query.lastError().text()));
        cancelSearch();
        return;
    }

    QHash<qint64, GHLatLng> corners;
    int skipped = 0;
    while (!stopRequested() && query.next()) {
        int id = 0;
        int longitudeOffset = 0;
        int latitudeOffset = 0;
        int x = 0;
        int y = 0;
        if (!toInt(query.value(0), id) || !toInt(query.value(1), longitudeOffset) ||
            !toInt(query.value(2), latitudeOffset) || !toInt(query.value(3), x) || !toInt(query.value(4), y)) {
            ++skipped;
            continue;
        }
        const qint64 key = (qint64(x) << 32) | quint32(y);
        auto corner = corners.constFind(key);
        if (corner == corners.cend()) {
            if (corners.size() >= kMaxCachedCorners)
                corners.clear();
            // The tile's south-western pixel.
            corner = corners.insert(
                key, GHMapUtils::tileToLatlng(GHMapTile(x, y, m_tileLevel, 0, TILES_HEIGHT - 1), m_tileLevel));
        }
        const qint64 latitude = qint64(corner->getLat()) + latitudeOffset;
        const qint64 longitude = qint64(corner->getLng()) + longitudeOffset;
        if (latitude < std::numeric_limits<qint32>::min() || latitude > std::numeric_limits<qint32>::max() ||
            longitude < std::numeric_limits<qint32>::min() || longitude > std::numeric_limits<qint32>::max()) {
            ++skipped;
            continue;
        }
        QMutexLocker locker(&m_resultMutex);
        if (m_results.size() > m_cap) {
            cancelSearch();
            break;
        }
        m_results.append(t_FoundPOI{id, int(latitude), int(longitude)});
    }
    // A step that failed (a damaged file, say) ends next() like the last row does.
    if (query.lastError().isValid() && !stopRequested()) {
        qWarning("POI search: reading %s failed: %s", qUtf8Printable(db.databaseName()),
                 qUtf8Printable(query.lastError().text()));
        cancelSearch();
    }
    if (skipped > 0)
        qWarning("POI search: skipped %d rows of %s whose id, position or tile is no 32-bit number", skipped,
                 qUtf8Printable(db.databaseName()));
}
