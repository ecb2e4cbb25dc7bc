#include "device/gal/jxgaldevice.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>

#include <cstring>
#include <limits>

#include "compress/jxziputil.h"
#include "gal/libgal.h"
#include "jxcurrentfolder.h"
#include "jxenv.h"
#include "jxgallibrary.h"
#include "jxlog.h"
#include "jxutility.h"

namespace {

// The workout classes the library lists one at a time, in the order the lists walk them.
const SearchWKTB kWorkoutClasses[] = {
    {0, 0, 0}, {0, 0, 1}, {0, 5, 0}, {0, 5, 1}, {0, 6, 0}, {0, 6, 1},
    {1, 0, 0}, {1, 0, 1}, {1, 5, 0}, {1, 5, 1}, {1, 6, 0}, {1, 6, 1},
};

constexpr unsigned char kActivityFileType = 30;
constexpr unsigned char kActivityNameNotText = 0x02;
constexpr unsigned char kActivityUploaded = 0x10;
constexpr quint32 kNoDate = 0xFFFFFFFFu;
constexpr quint32 kBitFontName = 1u << 5;
const char kIdFormat[] = "yyyyMMddHHmmss";

unsigned char deleteType(const SearchWKTB& search)
{
    return search.kind == 6 ? 35 : (search.kind == 5 ? 36 : 21);
}

quint16 readU16(const unsigned char* bytes)
{
    return quint16(bytes[0] | bytes[1] << 8);
}

quint32 readU32(const unsigned char* bytes)
{
    return quint32(bytes[0]) | quint32(bytes[1]) << 8 | quint32(bytes[2]) << 16 | quint32(bytes[3]) << 24;
}

QDateTime utc(quint32 seconds)
{
    return QDateTime::fromSecsSinceEpoch(qint64(seconds), Qt::UTC);
}

// Names the volume as the library's device root. The drive path is required: with the separator alone the library
// would take the computer's root for the device.
bool GAL_SetDevicePath(const QString& drive)
{
    if (drive.isEmpty()) {
        JX_WARNING << "no volume for the device library";
        return false;
    }
    const QByteArray path = JXGalLibrary::text(drive + JXGalLibrary::separator());
    if (path.isEmpty())
        return false;
    if (!SetHomePath(path.constData())) {
        JX_WARNING << "SetHomePath failed for" << drive;
        return false;
    }
    return true;
}

// The names the library gives for count and nameAt; a name too long for the library's text buffers is left out, as
// no later call could take it.
template<typename Count, typename NameAt>
QStringList listNames(Count count, NameAt nameAt, const char* what)
{
    unsigned int amount = 0;
    if (!count(&amount) || amount == 0)
        return QStringList();
    // The library indexes with 16 bits.
    amount = qMin(amount, unsigned(std::numeric_limits<unsigned short>::max()));
    QStringList names;
    for (unsigned int index = 1; index <= amount; ++index) {
        char name[GAL_FILE_NAME_SIZE] = {};
        if (!nameAt(static_cast<unsigned short>(index), name)) {
            JX_WARNING << "error get #" << index - 1 << what;
            continue;
        }
        name[sizeof name - 1] = '\0';
        if (std::strlen(name) >= size_t(GAL_PATH_SIZE)) {
            JX_WARNING << "skipped a" << what << "of 256 bytes or more";
            continue;
        }
        names << QString::fromLatin1(name);
    }
    return names;
}

QStringList GAL_GetActivityList()
{
    return listNames([](unsigned int* count) { return GetActivityfileamount(count); },
                     [](unsigned short index, char* name) { return GetActivityfileName(index, name); },
                     "activity file name");
}

QStringList GAL_GetWorkoutList(SearchWKTB search)
{
    return listNames([search](unsigned int* count) { return GetWKTFileamount(count, search); },
                     [search](unsigned short index, char* name) { return GetWKTFileName(index, name, search); },
                     "workout file name");
}

// The start time a file is named after ("yyMMddHHmmss..."); 0 when the name holds none.
qint32 idFromName(const QString& name)
{
    const quint32 seconds = JXUtility::tm_s2i(QStringLiteral("20") + name.left(12), QLatin1String(kIdFormat));
    if (seconds == 0 || seconds > quint32(std::numeric_limits<qint32>::max()))
        return 0;
    return qint32(seconds);
}

QString nameFromId(int id, const char* extension)
{
    return JXUtility::tm_i2s(quint32(id), QLatin1String(kIdFormat)).mid(2) + QLatin1String(extension);
}

void deleteFile(unsigned char type, const QString& name)
{
    const QByteArray bytes = JXGalLibrary::text(name);
    if (!bytes.isEmpty())
        DeleteGALFile(type, bytes.constData());
}

} // namespace

void JXGalDevice::getTracks(QVector<JXClientData>& items)
{
    QString drive;
    getDrive(drive);
    if (!GAL_SetDevicePath(drive))
        return;
    for (const QString& name : GAL_GetActivityList()) {
        if (!name.toLower().endsWith(QLatin1String(".gal")))
            continue;
        const QByteArray file = name.toLatin1();
        unsigned char record[GAL_ACTIVITY_RECORD_SIZE] = {};
        if (!GetActivityContent(file.constData(), record, sizeof record))
            continue;
        JXClientData item;
        item.id = idFromName(name);
        if (!(record[4] & kActivityNameNotText)) {
            // The record has room for 16 name bytes whatever length it claims.
            const int length = qMin(int(readU16(record + 62)), GAL_ACTIVITY_RECORD_SIZE - 72);
            item.name = QString::fromLatin1(reinterpret_cast<const char*>(record + 72), length);
        }
        item.activityType = record[5] & 0x0F;
        item.uploaded = (record[4] & kActivityUploaded) != 0;
        unsigned char lap[GAL_LAP_RECORD_SIZE] = {};
        if (GetSummaryLapContent(file.constData(), lap, sizeof lap)) {
            item.startTime = utc(readU32(lap));
            item.endTime = utc(readU32(lap + 4));
            item.distance = qint32(readU32(lap + 8));
        }
        item.dataKind = 2;
        items.append(item);
    }
}

bool JXGalDevice::_readWorkout(uchar mode, uchar kind, uchar variant, QString name, JXClientData& item)
{
    const SearchWKTB search = {mode, kind, variant};
    const QByteArray file = JXGalLibrary::text(name);
    unsigned char record[GAL_WORKOUT_RECORD_SIZE] = {};
    if (file.isEmpty() || !ReadTemplateWKT(file.constData(), search, record, sizeof record)) {
        JX_WARNING << "ReadTemplateWKT failed";
        return false;
    }
    QString language = QStringLiteral("UNK");
    QStringList codes;
    if (getLanguageOnDevice(codes) && !codes.isEmpty())
        language = codes.first();
    char code[GAL_LANGUAGE_SIZE] = {};
    const QByteArray codeBytes = language.toLatin1().left(GAL_LANGUAGE_SIZE - 1);
    std::memcpy(code, codeBytes.constData(), size_t(codeBytes.size()));

    const quint32 flags = readU32(record + 12);
    QByteArray data(GAL_WORKOUT_NAME_SIZE, '\0');
    unsigned int size = GAL_WORKOUT_NAME_SIZE;
    if (!ReadWKTName(file.constData(), search, reinterpret_cast<unsigned char*>(data.data()), &size, code)) {
        JX_WARNING << "ReadWKTName failed";
        item.name = QStringLiteral("workout");
    } else {
        const bool bitFont = (flags & kBitFontName) != 0;
        data.truncate(int(qMin(size, unsigned(GAL_WORKOUT_NAME_SIZE))));
        JX_DEBUG << "bitfont size :" << (bitFont ? "true" : "false") << data.size();
        if (bitFont) {
            item.namePicture = QImage::fromData(toPngString(data, language), "PNG");
        } else {
            item.name = toTextString(data, language);
            JX_DEBUG << "workout name" << item.name << "|";
        }
    }
    const quint32 date = readU32(record);
    item.id = qint32(readU32(record + 4));
    item.itemId = readU32(record + 4);
    if (date != kNoDate)
        item.startTime = utc(date);
    item.activityType = qint32(flags & 0x0F);
    item.wrkType = qint32((flags >> 13) & 0x07);
    item.subType = qint32((flags >> 16) & 0x0F);
    return true;
}

void JXGalDevice::getWorkouts(QVector<JXClientData>& items)
{
    QString drive;
    getDrive(drive);
    if (!GAL_SetDevicePath(drive))
        return;
    for (const SearchWKTB& search : kWorkoutClasses) {
        for (const QString& name : GAL_GetWorkoutList(search)) {
            if (!name.toLower().endsWith(QLatin1String(".wkt")))
                continue;
            JXClientData item;
            if (!_readWorkout(search.mode, search.kind, search.variant, name, item))
                continue;
            item.dataKind = 3;
            items.append(item);
        }
    }
}

// The deletes name the volume again: the library's root may be another device's since this one was listed.
bool JXGalDevice::deleteTracks(QVector<int> ids)
{
    QString drive;
    getDrive(drive);
    if (!GAL_SetDevicePath(drive))
        return false;
    for (int id : ids)
        deleteFile(kActivityFileType, nameFromId(id, ".gal"));
    return true;
}

bool JXGalDevice::deleteWorkouts(QVector<int> ids)
{
    QString drive;
    getDrive(drive);
    if (!GAL_SetDevicePath(drive))
        return false;
    for (int id : ids)
        deleteFile(21, nameFromId(id, ".wkt"));
    return true;
}

bool JXGalDevice::deleteAll()
{
    QString drive;
    getDrive(drive);
    if (!GAL_SetDevicePath(drive))
        return false;
    for (const QString& name : GAL_GetActivityList())
        deleteFile(kActivityFileType, name);
    for (const SearchWKTB& search : kWorkoutClasses)
        for (const QString& name : GAL_GetWorkoutList(search))
            deleteFile(deleteType(search), name);
    return true;
}

bool JXGalDevice::prepareUploadData(QString& zipPath, bool)
{
    QString drive;
    getDrive(drive);
    if (!GAL_SetDevicePath(drive))
        return false;
    setTaskProgress(0.05f);
    JXEnv* env = JXEnv::getInstance();
    const QString folder = QDir(env->getTmpFolder() + QStringLiteral("/JXExportTmp%1").arg(QDateTime::currentSecsSinceEpoch()))
                               .absolutePath();
    if (!QDir(folder).exists() && !QDir().mkpath(folder)) {
        JX_CRITICAL << "cannot make the export folder" << folder;
        return false;
    }
    setTaskProgress(0.2f);
    bool packed = true;
    {
        JXCurrentFolderGuard folderGuard;
        if (!QDir::setCurrent(folder)) {
            JX_CRITICAL << "cannot enter the export folder" << folder;
            JXUtility::rmDir(folder);
            return false;
        }
        saveDeviceRawData(folder);
        setTaskProgress(0.8f);
        const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        if (!files.isEmpty()) {
            const QString zip = QDir::cleanPath(QDir(folder).absoluteFilePath(QStringLiteral("../") + env->getUploadFilename()));
            QFile::remove(zip);
            JXZipUtil zipper;
            packed = zipper.compress(zip, files);
            if (packed)
                zipPath = zip;
            else
                JX_CRITICAL << "cannot pack the upload data into" << zip;
        }
    }
    JXUtility::rmDir(folder);
    setTaskProgress(1.0f);
    return packed;
}
