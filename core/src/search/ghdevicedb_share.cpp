// Share files: a route, ride or workout exported as one file, and a received file imported back.

#include "search/ghdevicedb.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <QtEndian>

#include <cmath>
#include <limits>
#include <zlib.h>

#include "ghdevicedb_p.h"
#include "sql/ghsqlcrud.h"
#include "sql/ghsqlsavepoint.h"
#include "sql/ghworkoutintervalmodel.h"
#include "sql/ghworkoutmodel.h"
#include "sql/routedbm.h"
#include "training/ghtrncrs.h"
#include "training/ghtrnduration.h"
#include "training/ghtrninterval.h"
#include "training/ghtrnmetadata.h"
#include "training/ghtrnreader.h"
#include "training/ghtrntarget.h"
#include "training/ghtrnworkout.h"
#include "training/ghworkoutprovider.h"
#include "util/ghbinarylogger.h"
#include "util/ghgpx2.h"
#include "util/ghgpxmetadata.h"
#include "util/ghgpxreader.h"
#include "util/ghtracelog.h"

namespace {

const char* const kTimeFormat = "yyyy-MM-ddThh:mm:ssZ";

// The compressed layout is Qt's: a 4-byte big-endian length, then the zlib stream. A share is a route or one ride;
// a length beyond this is a corrupt or hostile file, not one to reserve memory for.
const quint32 kMaxInflatedSize = 64u << 20;
const int kLengthPrefix = 4;
// Deflate at its worst (zlib's compressBound) stays below this; a compressed file beyond it cannot be a share.
const qint64 kMaxCompressedSize = qint64(kMaxInflatedSize) + (qint64(kMaxInflatedSize) >> 10) + 1024;

QString exportFolder()
{
    const QString output = GHDeviceDB::getOutputHome();
    return output.isEmpty() ? GHDeviceDB::getFlashHome() + QLatin1String("/data/route") : output;
}

// Writes the whole of data in place of the file, or leaves the file as it was.
bool replaceFile(const QString& path, const QByteArray& data)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning("cannot write %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    if (file.write(data) != data.size() || !file.commit()) {
        qWarning("cannot write %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        file.cancelWriting();
        return false;
    }
    return true;
}

// The bytes of qCompress's layout, inflated by zlib itself: qUncompress would reserve whatever the prefix claims
// and keep growing for data that inflates further. False for a prefix of 0 or above the cap, a damaged or cut
// stream, data that inflates past its prefix, and data that inflates to nothing.
bool inflateShare(const QByteArray& compressed, QByteArray& plain, QString& error)
{
    if (compressed.size() < kLengthPrefix) {
        error = QStringLiteral("shorter than its length prefix");
        return false;
    }
    const quint32 stated = qFromBigEndian<quint32>(compressed.constData());
    if (stated == 0) {
        error = QStringLiteral("holds nothing");
        return false;
    }
    if (stated > kMaxInflatedSize) {
        error = QStringLiteral("claims %1 bytes, more than %2").arg(stated).arg(kMaxInflatedSize);
        return false;
    }
    z_stream stream = {};
    if (inflateInit(&stream) != Z_OK) {
        error = QStringLiteral("zlib cannot start");
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData())) + kLengthPrefix;
    stream.avail_in = uInt(compressed.size() - kLengthPrefix);
    // One byte past the stated length tells data that inflates further from data that ends exactly there. The
    // buffer grows with the output, so a small file that claims much costs no more than it delivers.
    const qint64 limit = qint64(stated) + 1;
    qint64 capacity = qMin<qint64>(limit, qMax<qint64>(qint64(compressed.size()) * 4, 64 * 1024));
    plain.resize(int(capacity));
    int result = Z_OK;
    for (;;) {
        const uLong consumedBefore = stream.total_in;
        const uLong producedBefore = stream.total_out;
        stream.next_out = reinterpret_cast<Bytef*>(plain.data()) + stream.total_out;
        stream.avail_out = uInt(capacity - qint64(stream.total_out));
        result = inflate(&stream, Z_NO_FLUSH);
        if (result == Z_STREAM_END || (result != Z_OK && result != Z_BUF_ERROR))
            break;
        // Each round consumes input or fills the buffer; one that does neither would never end.
        if (stream.total_in == consumedBefore && stream.total_out == producedBefore) {
            result = Z_BUF_ERROR;
            break;
        }
        if (qint64(stream.total_out) > qint64(stated))
            break;
        if (stream.avail_out > 0 && stream.avail_in == 0) {
            result = Z_BUF_ERROR;
            break;
        }
        if (stream.avail_out == 0) {
            capacity = qMin(limit, capacity * 2);
            plain.resize(int(capacity));
        }
    }
    const qint64 produced = qint64(stream.total_out);
    inflateEnd(&stream);
    if (produced > qint64(stated)) {
        error = QStringLiteral("inflates past its stated %1 bytes").arg(stated);
    } else if (result != Z_STREAM_END) {
        error = result == Z_BUF_ERROR ? QStringLiteral("is cut short") : QStringLiteral("is damaged");
    } else if (produced == 0) {
        error = QStringLiteral("holds nothing");
    } else {
        plain.resize(int(produced));
        return true;
    }
    plain.clear();
    return false;
}

// Replaces an exported file by its compressed form; false, with the file as it was, when that cannot be written.
// A file that cannot be read stays as it is.
bool compressExport(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("cannot read %s to compress it: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return true;
    }
    // Larger than the import takes back: the share would be of no use.
    const qint64 size = file.size();
    if (size > qint64(kMaxInflatedSize)) {
        qWarning("%s has %lld bytes, more than a share may hold", qUtf8Printable(path), size);
        return false;
    }
    const QByteArray plain = file.read(size);
    file.close();
    return replaceFile(path, qCompress(plain, 9));
}

// Decompresses a received share in place. False when the import must not go on: the file is unchanged then. A file
// that cannot be opened is imported as it is.
bool decompressShare(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("cannot read the share %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return true;
    }
    const qint64 size = file.size();
    if (size > kMaxCompressedSize) {
        qWarning("the compressed share %s has %lld bytes, more than a share may hold; not imported",
                 qUtf8Printable(path), size);
        return false;
    }
    // No more than it had when opened, should it grow meanwhile; read(n) reserves all n bytes up front.
    const QByteArray compressed = file.read(size);
    file.close();
    QByteArray plain;
    QString error;
    if (!inflateShare(compressed, plain, error)) {
        qWarning("the compressed share %s %s; not imported", qUtf8Printable(path), qUtf8Printable(error));
        return false;
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        qWarning("cannot write the share %s decompressed: %s; importing it as it is", qUtf8Printable(path),
                 qUtf8Printable(out.errorString()));
        return true;
    }
    if (out.write(plain) != plain.size() || !out.commit()) {
        qWarning("cannot write the share %s decompressed: %s; not imported", qUtf8Printable(path),
                 qUtf8Printable(out.errorString()));
        out.cancelWriting();
        return false;
    }
    return true;
}

// Qt's parser takes the Z of the form as a literal; the text is UTC all the same. Invalid for any other text.
QDateTime utcTime(const QString& text)
{
    QDateTime time = QDateTime::fromString(text, QLatin1String(kTimeFormat));
    time.setTimeSpec(Qt::UTC);
    return time;
}

// The time text as the unsigned seconds since 1970 that the databases keep; false, logged, when it is no time or a
// time before 1970 or after 2106, which those seconds cannot hold without wrapping into another date.
bool storedSeconds(const QString& text, const char* what, quint32& seconds)
{
    const QDateTime time = utcTime(text);
    if (!time.isValid()) {
        qWarning("%s: \"%s\" is not a time; not stored", what, qUtf8Printable(text));
        return false;
    }
    const qint64 value = time.toSecsSinceEpoch();
    if (value < 0 || value > qint64(std::numeric_limits<quint32>::max())) {
        qWarning("%s: the time \"%s\" lies outside 1970 to 2106; not stored", what, qUtf8Printable(text));
        return false;
    }
    seconds = quint32(value);
    return true;
}

// A bound in degrees as millionths, truncated; "0" for what no 64-bit integer holds.
QString microDegrees(const QString& degrees)
{
    const double value = std::trunc(degrees.toDouble() * 1000000.0);
    if (!std::isfinite(value) || std::fabs(value) >= 9.0e18)
        return QStringLiteral("0");
    return QString::number(qint64(value));
}

// A null text would bind as NULL, which no filter matches; the columns hold texts.
QVariant text(const QString& value)
{
    return value.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(value);
}

enum class RouteInsert { Inserted, Refused, Failed };

// Refused: another type, or a route of the same title and total length is there. Failed: no database, or a
// statement that did not run.
RouteInsert insertShareRoute(GHShareType type, const GHGpx2& document, int& rowId)
{
    if (type != SHARE_ROUTE && type != SHARE_TRACE_LOG)
        return RouteInsert::Refused;
    const QString database = GHDeviceDB::findDbFile(GHDeviceDB::getFlashHome(), QString(), kRouteDb);
    if (database.isEmpty()) {
        qWarning("no route database in %s for a shared route", qUtf8Printable(GHDeviceDB::getFlashHome()));
        return RouteInsert::Failed;
    }
    static const GHGpxMetadata kNoMetadata;
    const GHGpxMetadata& meta = document.metadata ? *document.metadata : kNoMetadata;

    quint32 createTime = 0;
    if (!meta.time.isEmpty()) {
        // CreateTime stays 0 for a time that cannot be stored.
        storedSeconds(meta.time, qUtf8Printable(QStringLiteral("shared route \"%1\"").arg(meta.name)), createTime);
    }

    // The filter's values are bound: names come from other people's files and hold quotes.
    RouteDbm lookup(database);
    QStringList idColumn{QStringLiteral("idRoute")};
    QVector<QVariant> key{text(meta.name), text(meta.trvdist)};
    lookup.setColumns(&idColumn);
    lookup.setFilter(QStringLiteral("Title=? and TotalLength=?"));
    lookup.setValues(&key);
    {
        QSqlQuery query = GHSqlCRUD::select(&lookup, true);
        if (!query.isActive()) {
            qWarning("cannot look for the shared route \"%s\" in %s: %s", qUtf8Printable(meta.name),
                     qUtf8Printable(database), qUtf8Printable(query.lastError().text()));
            return RouteInsert::Failed;
        }
        if (query.next()) {
            qWarning("the shared route \"%s\" is stored already as route %s", qUtf8Printable(meta.name),
                     qUtf8Printable(query.value(0).toString()));
            return RouteInsert::Refused;
        }
    }

    RouteDbm model(database);
    QStringList columns{"Title",  "Abstract", "Author", "CreateTime", "StartCountry", "EndCountry",
                        "StartPlace", "EndPlace", "LDLon", "LDLat", "RTLon", "RTLat",
                        "TravelTime", "TotalLength", "ActiveType", "RouteType"};
    QVector<QVariant> values{text(meta.name),
                             text(meta.desc),
                             text(meta.authorName),
                             qlonglong(createTime),
                             text(meta.sctry),
                             text(meta.ectry),
                             text(meta.splace),
                             text(meta.eplace),
                             microDegrees(meta.boundsMinLon),
                             microDegrees(meta.boundsMinLat),
                             microDegrees(meta.boundsMaxLon),
                             microDegrees(meta.boundsMaxLat),
                             text(meta.trvtime),
                             text(meta.trvdist),
                             text(meta.acttype),
                             text(meta.rtetype)};
    model.setColumns(&columns);
    model.setValues(&values);
    if (!GHSqlCRUD::insert(&model)) {
        qWarning("cannot insert the shared route \"%s\" into %s", qUtf8Printable(meta.name),
                 qUtf8Printable(database));
        return RouteInsert::Failed;
    }
    bool isNumber = false;
    rowId = model.m_lastInsertId.toInt(&isNumber);
    if (!isNumber) {
        qWarning("the shared route \"%s\" got no row id", qUtf8Printable(meta.name));
        return RouteInsert::Failed;
    }
    return RouteInsert::Inserted;
}

bool isTrue(const QString& value)
{
    return value.toLower() == QLatin1String("true");
}

bool insertInterval(quint32 workoutRow, const GHTrnInterval& interval)
{
    QStringList columns{"wid", "iid", "needlap", "name"};
    QVector<QVariant> values{workoutRow, interval.id.toInt(), isTrue(interval.needLap) ? 1 : 0, text(interval.name)};
    if (const GHTrnTarget* target = interval.target) {
        columns << "targettype" << "targetlow" << "targethigh" << "targetishard";
        values << target->type.toInt() << target->low.toInt() << target->high.toInt()
               << (isTrue(target->ishardcon) ? 1 : 0);
    }
    if (const GHTrnDuration* duration = interval.duration) {
        columns << "durtype" << "durvalue" << "durismanual";
        values << duration->type.toInt() << duration->value.toInt() << (isTrue(duration->ismanual) ? 1 : 0);
        if (!duration->segidxStart.isEmpty() || !duration->segidxEnd.isEmpty()) {
            columns << "dursegstart" << "dursegend";
            values << duration->segidxStart.toInt() << duration->segidxEnd.toInt();
        }
        if (!duration->locationLat.isEmpty() && !duration->locationLon.isEmpty()) {
            columns << "durlat" << "durlon";
            values << float(duration->locationLat.toFloat() * 1000000.0f)
                   << float(duration->locationLon.toFloat() * 1000000.0f);
        }
    }
    if (!interval.goTo.isEmpty()) {
        columns << "nextiid" << "repeatcnt";
        values << interval.goTo.toInt() << interval.goToRepeat.toInt();
    }
    bool isNumber = false;
    const int logreso = interval.logreso.toInt(&isNumber);
    if (isNumber) {
        columns << "logreso";
        values << logreso;
    }
    GHWorkoutIntervalModel model;
    model.setColumns(&columns);
    model.setValues(&values);
    return GHSqlCRUD::insert(&model);
}

enum class WorkoutOutcome { Stored, AlreadyThere, Failed };

WorkoutOutcome importWorkout(const GHTrnWorkout& workout, const QString& createTime)
{
    GHWorkoutProvider provider;
    const quint32 wid = workout.id.toUInt();
    const quint32 orgid = workout.orgid.toUInt();
    // Savepoint around one imported workout: a replaced workout comes back when its successor cannot be stored.
    GHSqlSavepoint transaction(GHWorkoutModel(), "ghshareimport", "workout import");
    if (!transaction.isOpen())
        return WorkoutOutcome::Failed;

    if (orgid != wid) {
        const unsigned int replaced = provider.getPrimaryKey(orgid);
        if (replaced != GHWorkoutProvider::NO_PRIMARY_KEY)
            provider.remove(replaced);
    }
    if (provider.getPrimaryKey(wid) != GHWorkoutProvider::NO_PRIMARY_KEY)
        return transaction.commit() ? WorkoutOutcome::AlreadyThere : WorkoutOutcome::Failed;

    QStringList columns{"wid", "orgid", "daily", "repeatcnt", "wtype", "subtype", "name", "desc"};
    QVector<QVariant> values{wid,
                             orgid,
                             isTrue(workout.daily) ? 1 : 0,
                             workout.repeat.toInt(),
                             workout.type.toInt(),
                             workout.subtype.toInt(),
                             text(workout.name),
                             text(workout.desc)};
    if (!workout.acttype.isEmpty()) {
        columns << "acttype";
        values << workout.acttype.toInt();
    }
    quint32 seconds = 0;
    if (!workout.time.isEmpty() &&
        storedSeconds(workout.time, qUtf8Printable(QStringLiteral("imported workout %1").arg(wid)), seconds)) {
        columns << "datetime";
        values << seconds;
    }
    columns << "createtime";
    values << text(createTime);
    if (!workout.listOrder.isEmpty()) {
        columns << "listOrder";
        values << workout.listOrder.toInt();
    }
    GHWorkoutModel model;
    model.setColumns(&columns);
    model.setValues(&values);
    if (!GHSqlCRUD::insert(&model)) {
        qWarning("workout import: cannot insert workout %u", wid);
        return WorkoutOutcome::Failed;
    }
    const quint32 row = model.m_lastInsertId.toUInt();
    if (workout.intervals.isEmpty()) {
        qWarning("workout import: workout %u has no intervals", wid);
        return WorkoutOutcome::Failed;
    }
    for (const GHTrnInterval* interval : workout.intervals) {
        if (!interval || !insertInterval(row, *interval)) {
            qWarning("workout import: cannot insert an interval of workout %u", wid);
            return WorkoutOutcome::Failed;
        }
    }
    return transaction.commit() ? WorkoutOutcome::Stored : WorkoutOutcome::Failed;
}

} // namespace

QString GHDeviceDB::getShareData(GHShareType type, GHId id, bool& uploaded, unsigned flags,
                                 std::optional<quint32>* workout)
{
    if (workout)
        workout->reset();
    QString path;
    switch (type) {
    case SHARE_WORKOUT: {
        uploaded = false;
        path = exportFolder() + QStringLiteral("/export-%1.wrk").arg(id.rowId);
        if (!removeIfThere(path) ||
            !GHWorkoutProvider().exportWorkout(unsigned(id.rowId), path, !(flags & GHTraceLog::EXPORT_SCRATCH)))
            path.clear();
        break;
    }
    case SHARE_TRACE_LOG: path = GHTraceLog::gpsTrackToGpx(id, uploaded, int(flags), workout); break;
    case SHARE_ROUTE: path = _preRouteToGpx(id, uploaded); break;
    }
    if (GHTraceLog::deprecated() && (flags & SHARE_COMPRESS) && !path.isEmpty() && !compressExport(path))
        path.clear();
    return path;
}

QString GHDeviceDB::_preRouteToGpx(GHId id, bool& uploaded)
{
    QStringList columns{QStringLiteral("Route"), QStringLiteral("Uploaded")};
    QVector<QVariant> values;
    _getDbData(QStringLiteral("Route"), id, columns, values);
    if (values.size() != 2)
        return QString();
    uploaded = values.at(1).toBool();
    const QString stored = values.at(0).toString();

    const QString output = exportFolder() + QStringLiteral("/export-%1.gpx").arg(id.rowId);
    if (!removeIfThere(output))
        return QString();
    const QString home = homeOf(id.location);
    if (home.isEmpty())
        return QString();
    const QString routeFile = routeGpxFile(home, id.rowId);

    if (QFileInfo::exists(routeFile)) {
        if (!QFile::copy(routeFile, output)) {
            qWarning("cannot copy %s to %s", qUtf8Printable(routeFile), qUtf8Printable(output));
            return QString();
        }
        return output;
    }

    {
        QSaveFile file(output);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
            qWarning("cannot write %s: %s", qUtf8Printable(output), qUtf8Printable(file.errorString()));
            return QString();
        }
        QTextStream stream(&file);
        stream.setCodec("UTF-8");
        stream << stored;
        stream.flush();
        if (stream.status() != QTextStream::Ok || !file.commit()) {
            qWarning("cannot write %s: %s", qUtf8Printable(output), qUtf8Printable(file.errorString()));
            return QString();
        }
    }
    // From now on the text lives only in the route file.
    if (QFile::copy(output, routeFile)) {
        QStringList routeColumn{QStringLiteral("Route")};
        QVector<QVariant> empty{text(QString())};
        updateRoute(id, routeColumn, empty);
    } else {
        qWarning("cannot copy %s to %s; the route keeps its text", qUtf8Printable(output), qUtf8Printable(routeFile));
    }
    return output;
}

void GHDeviceDB::setShareData(QString& path, bool compressed)
{
    if (GHTraceLog::deprecated() && compressed && !decompressShare(path))
        return;

    GHGpx2 document;
    if (!GHGpxReader(&document).readFile(path)) {
        if (_importTraining(path))
            removeIfThere(path);
        else
            qWarning("the share %s is neither a GPX share nor a training course that could be stored; kept",
                     qUtf8Printable(path));
        return;
    }
    if (!document.metadata) {
        qWarning("the GPX file %s has no metadata: not a share; removed", qUtf8Printable(path));
        removeIfThere(path);
        return;
    }
    bool isNumber = false;
    const int shareType = document.metadata->sharetype.toInt(&isNumber);
    int rowId = -1;
    switch (isNumber ? insertShareRoute(GHShareType(shareType), document, rowId) : RouteInsert::Refused) {
    case RouteInsert::Refused:
        // Shares of other types and routes stored already are done with.
        removeIfThere(path);
        return;
    case RouteInsert::Failed: return;
    case RouteInsert::Inserted: break;
    }

    const QString destination = routeGpxFile(ms_homeFlash, rowId);
    bool stored = removeIfThere(destination);
    if (stored) {
        stored = GHTraceLog::deprecated() ? QFile::copy(path, destination)
                                          : GHBinaryLogger::saveGpsData(destination, document);
    }
    if (!stored) {
        // No route without its file; deleteRoute removes what reached it.
        qWarning("cannot store the shared route as %s; the share %s is kept", qUtf8Printable(destination),
                 qUtf8Printable(path));
        if (!deleteRoute(GHId(rowId, GHId::FLASH)))
            qWarning("route %d of %s stays without its file", rowId, qUtf8Printable(path));
        return;
    }
    removeIfThere(path);
}

int GHDeviceDB::_insertShareRoute(int unused, GHShareType type, GHGpx2& document)
{
    Q_UNUSED(unused)
    int rowId = -1;
    return insertShareRoute(type, document, rowId) == RouteInsert::Inserted ? rowId : -1;
}

bool GHDeviceDB::_importTraining(QString& path)
{
    GHTrncrs course;
    if (!GHTrnReader(&course).readFile(path))
        return false;
    const QString createTime = course.metadata ? course.metadata->time : QString();
    for (const GHTrnWorkout* workout : qAsConst(course.workouts)) {
        if (!workout)
            continue;
        switch (importWorkout(*workout, createTime)) {
        case WorkoutOutcome::Stored: break;
        case WorkoutOutcome::AlreadyThere: return true;
        case WorkoutOutcome::Failed: return false;
        }
    }
    return true;
}
