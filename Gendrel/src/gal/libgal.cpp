#include "gal/libgal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "galformat.h"
#include "jxlog.h"

namespace {

struct RecordedText
{
    bool set = false;
    std::string text;
};

std::mutex s_recordMutex;
RecordedText s_modelName;
RecordedText s_modelImage;
RecordedText s_modelIap;

// The library's process-wide state: the last home path wins, as with the vendor's library.
std::mutex s_stateMutex;
QString s_home;
int s_updateProfileResult = 0;
RecordedText s_updateProfilePaths[3];
RecordedText s_capability;

// A text from the caller: present and shorter than the 256-byte buffer it comes in.
bool takeText(const char* text, QString& out)
{
    if (!text)
        return false;
    const size_t length = strnlen(text, GAL_PATH_SIZE);
    if (length >= size_t(GAL_PATH_SIZE)) {
        JX_WARNING << "libgal: a text of 256 bytes or more is refused";
        return false;
    }
    out = QString::fromLatin1(text, int(length));
    return true;
}

// A file name that stays in its folder.
bool takeFileName(const char* text, QString& out)
{
    if (!takeText(text, out) || out.isEmpty() || out.contains(QLatin1Char('/')) || out.contains(QLatin1Char('\\'))
        || out == QLatin1String(".") || out == QLatin1String(".."))
        return false;
    return true;
}

bool home(QString& out)
{
    std::lock_guard<std::mutex> lock(s_stateMutex);
    out = s_home;
    return !out.isEmpty();
}

QString folderOf(SearchWKTB search)
{
    return GalFormat::workoutFolder(search.mode, search.kind, search.variant);
}

// Regular files of one folder under the home path, by name, so indexes stay stable between calls.
QStringList listFolder(const QString& folder)
{
    QString root;
    if (!home(root))
        return QStringList();
    return QDir(root + QLatin1Char('/') + folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

int countFiles(const QString& folder, unsigned int* count)
{
    QString root;
    if (!count || !home(root))
        return 0;
    *count = unsigned(listFolder(folder).size());
    return 1;
}

int nameAt(const QString& folder, unsigned short index, char* name)
{
    if (!name)
        return 0;
    name[0] = '\0';
    const QStringList names = listFolder(folder);
    if (index < 1 || index > names.size())
        return 0;
    const QByteArray bytes = names.at(index - 1).toLatin1();
    if (bytes.size() >= GAL_FILE_NAME_SIZE)
        return 0;
    std::memcpy(name, bytes.constData(), size_t(bytes.size()) + 1);
    return 1;
}

// The whole file, bounded: the stand-in's files are small, a larger one is not ours.
bool readFile(const QString& folder, const char* name, QByteArray& data)
{
    QString root;
    QString fileName;
    if (!home(root) || !takeFileName(name, fileName))
        return false;
    QFile file(root + QLatin1Char('/') + folder + QLatin1Char('/') + fileName);
    if (!file.open(QIODevice::ReadOnly) || file.size() > 16 * 1024 * 1024)
        return false;
    data = file.readAll();
    return true;
}

int copyRecord(const QByteArray& data, int offset, int recordSize, unsigned char* record, int size)
{
    if (!record || size < recordSize || data.size() < offset + recordSize)
        return 0;
    std::memcpy(record, data.constData() + offset, size_t(recordSize));
    return 1;
}

// Replaces target only once the whole copy is written.
bool copyWhole(const QString& source, const QString& target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QDir().mkpath(QFileInfo(target).absolutePath());
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (out.write(in.readAll()) < 0)
        return false;
    return out.commit();
}

// dir must name the device root that the profile belongs to.
QString profileOf(const char* dir)
{
    QString root;
    if (!takeText(dir, root) || root.isEmpty())
        return QString();
    if (root == QLatin1String("/")) {
        JX_WARNING << "libgal: no device root for the profile";
        return QString();
    }
    return root + QLatin1Char('/') + GalFormat::profileFile();
}

int record(RecordedText& slot, const char* text)
{
    if (!text)
        return 0;
    std::lock_guard<std::mutex> lock(s_recordMutex);
    slot.set = true;
    slot.text = text;
    return 1;
}

int readBack(const RecordedText& slot, char* buffer, int size)
{
    if (!buffer || size <= 0)
        return 0;
    std::lock_guard<std::mutex> lock(s_recordMutex);
    const size_t count = slot.set ? std::min(slot.text.size(), size_t(size - 1)) : 0;
    std::memcpy(buffer, slot.text.data(), count);
    buffer[count] = '\0';
    return slot.set ? 1 : 0;
}

} // namespace

int ProjSwCapability(const char* modelName, ProjSwCapabilityRecord* record)
{
    if (!record)
        return 0;
    // The text stays owned here, as the vendor's does; a later GalSetCapability may replace it.
    std::lock_guard<std::mutex> lock(s_stateMutex);
    record->capability = s_capability.set ? s_capability.text.c_str() : nullptr;
    return (modelName && s_capability.set) ? 1 : 0;
}

int SetPathDirect(char* separator)
{
    if (!separator)
        return 0;
    std::strcpy(separator, "/");
    return 1;
}

int SetHomePath(const char* path)
{
    QString text;
    const bool taken = takeText(path, text) && !text.isEmpty();
    std::lock_guard<std::mutex> lock(s_stateMutex);
    // A refused path also forgets the previous device's.
    s_home = taken ? text : QString();
    return taken ? 1 : 0;
}

int GetActivityfileamount(unsigned int* count)
{
    return countFiles(GalFormat::activityFolder(), count);
}

int GetActivityfileName(unsigned short index, char* name)
{
    return nameAt(GalFormat::activityFolder(), index, name);
}

int GetWKTFileamount(unsigned int* count, SearchWKTB search)
{
    return countFiles(folderOf(search), count);
}

int GetWKTFileName(unsigned short index, char* name, SearchWKTB search)
{
    return nameAt(folderOf(search), index, name);
}

int GetActivityContent(const char* name, unsigned char* record, int size)
{
    QByteArray data;
    return readFile(GalFormat::activityFolder(), name, data)
        ? copyRecord(data, 0, GalFormat::kActivityRecordSize, record, size)
        : 0;
}

int GetSummaryLapContent(const char* name, unsigned char* record, int size)
{
    QByteArray data;
    return readFile(GalFormat::activityFolder(), name, data)
        ? copyRecord(data, GalFormat::kActivityRecordSize, GalFormat::kLapRecordSize, record, size)
        : 0;
}

int ReadTemplateWKT(const char* name, SearchWKTB search, unsigned char* record, int size)
{
    QByteArray data;
    return readFile(folderOf(search), name, data)
        ? copyRecord(data, 0, GalFormat::kWorkoutRecordSize, record, size)
        : 0;
}

int ReadWKTName(const char* name, SearchWKTB search, unsigned char* data, unsigned int* size, const char* language)
{
    QByteArray file;
    if (!data || !size || !language || !readFile(folderOf(search), name, file))
        return 0;
    const QByteArray wanted(language, int(strnlen(language, GAL_LANGUAGE_SIZE)));
    int offset = GalFormat::kWorkoutRecordSize;
    int chosen = -1;
    quint32 chosenSize = 0;
    while (offset <= file.size() - GalFormat::kNameEntryHeader) {
        const char* code = file.constData() + offset;
        const QByteArray codeText(code, int(qstrnlen(code, GalFormat::kLanguageCodeSize)));
        const quint32 entrySize = GalFormat::readU32(file, offset + GalFormat::kLanguageCodeSize);
        const int start = offset + GalFormat::kNameEntryHeader;
        if (entrySize > quint32(file.size() - start))
            break; // an entry that would run past the file ends the table
        const bool exact = codeText == wanted;
        if (chosen < 0 || exact) {
            chosen = start;
            chosenSize = entrySize;
        }
        if (exact)
            break;
        offset = start + int(entrySize);
    }
    if (chosen < 0 || chosenSize > *size)
        return 0;
    std::memcpy(data, file.constData() + chosen, chosenSize);
    *size = chosenSize;
    return 1;
}

int DeleteGALFile(unsigned char type, const char* name)
{
    QString root;
    QString fileName;
    if (!home(root) || !takeFileName(name, fileName))
        return 0;
    QStringList folders;
    if (type == 30) {
        folders << GalFormat::activityFolder();
    } else if (type == 21 || type == 35 || type == 36) {
        const unsigned char kind = type == 21 ? 0 : (type == 35 ? 6 : 5);
        for (unsigned char mode = 0; mode < 2; ++mode)
            for (unsigned char variant = 0; variant < 2; ++variant)
                folders << GalFormat::workoutFolder(mode, kind, variant);
    } else {
        return 0;
    }
    bool removed = false;
    for (const QString& folder : folders)
        removed = QFile::remove(root + QLatin1Char('/') + folder + QLatin1Char('/') + fileName) || removed;
    return removed ? 1 : 0;
}

int GetProfile(const char* dir, const char* ini)
{
    const QString profile = profileOf(dir);
    QString target;
    if (profile.isEmpty() || !takeText(ini, target) || target.isEmpty())
        return 0;
    return copyWhole(profile, target) ? 1 : 0;
}

int RefreshProfile(const char* dir, const char* ini)
{
    const QString profile = profileOf(dir);
    QString source;
    if (profile.isEmpty() || !takeText(ini, source) || source.isEmpty())
        return 0;
    return copyWhole(source, profile) ? 1 : 0;
}

int UpdateProfile(const char* volume, const char* mapFile, const char* profileFile)
{
    const char* paths[3] = {volume, mapFile, profileFile};
    QString text;
    for (const char* path : paths)
        if (!takeText(path, text))
            return 0;
    std::lock_guard<std::mutex> lock(s_stateMutex);
    for (int i = 0; i < 3; ++i) {
        s_updateProfilePaths[i].set = true;
        s_updateProfilePaths[i].text = paths[i];
    }
    return s_updateProfileResult;
}

int SetModelName(const char* modelName)
{
    return record(s_modelName, modelName);
}

int SetModelIMG(const char* imageVersion)
{
    return record(s_modelImage, imageVersion);
}

int SetModelIAP(const char* bootLoaderVersion)
{
    return record(s_modelIap, bootLoaderVersion);
}

int GalRecordedModelName(char* buffer, int size)
{
    return readBack(s_modelName, buffer, size);
}

int GalRecordedModelIMG(char* buffer, int size)
{
    return readBack(s_modelImage, buffer, size);
}

int GalRecordedModelIAP(char* buffer, int size)
{
    return readBack(s_modelIap, buffer, size);
}

void GalClearModelRecord(void)
{
    std::lock_guard<std::mutex> lock(s_recordMutex);
    s_modelName = RecordedText();
    s_modelImage = RecordedText();
    s_modelIap = RecordedText();
}

void GalSetUpdateProfileResult(int result)
{
    std::lock_guard<std::mutex> lock(s_stateMutex);
    s_updateProfileResult = result;
}

int GalRecordedUpdateProfile(int index, char* buffer, int size)
{
    if (index < 0 || index > 2)
        return 0;
    RecordedText slot;
    {
        std::lock_guard<std::mutex> lock(s_stateMutex);
        slot = s_updateProfilePaths[index];
    }
    return readBack(slot, buffer, size);
}

void GalSetCapability(const char* capability)
{
    std::lock_guard<std::mutex> lock(s_stateMutex);
    s_capability = RecordedText();
    if (capability) {
        s_capability.set = true;
        s_capability.text = capability;
    }
}

void GalResetLibrary(void)
{
    std::lock_guard<std::mutex> lock(s_stateMutex);
    s_home.clear();
    s_updateProfileResult = 0;
    for (RecordedText& slot : s_updateProfilePaths)
        slot = RecordedText();
    s_capability = RecordedText();
}
