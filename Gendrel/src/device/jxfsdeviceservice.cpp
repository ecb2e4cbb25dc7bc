#include "device/jxfsdeviceservice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>
#include <QVariantMap>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jxlog.h"
#include "jxutility.h"

namespace {

const char kUuidGroup[] = "UUID";
const char kMarkLine[] = "JX=1";
const QString kMarkKey = QStringLiteral("UUID/JX");

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Control bytes show a file that is no description file: it is read, but not marked.
bool isText(const QByteArray& bytes)
{
    for (const char c : bytes) {
        const uchar byte = uchar(c);
        if ((byte < 0x20 && c != '\t' && c != '\n' && c != '\r') || byte == 0x7F)
            return false;
    }
    return true;
}

// Where the mark goes: after the last key line (or the header) of the last group "UUID".
struct MarkPlace
{
    int insertAt = -1;    // the offset; -1: there is no such group
    QByteArray insertEnd; // the line end of the line before insertAt; empty when it is the last, unended line
};

MarkPlace findMarkPlace(const QByteArray& text)
{
    MarkPlace place;
    bool inGroup = false;
    for (int start = 0; start < text.size();) {
        const int newline = text.indexOf('\n', start);
        const int next = newline < 0 ? text.size() : newline + 1;
        int end = newline < 0 ? text.size() : newline;
        if (end > start && text.at(end - 1) == '\r')
            --end;
        const QByteArray line = text.mid(start, end - start).trimmed();
        const QByteArray lineEnd = text.mid(end, next - end);
        start = next;
        if (line.startsWith('[')) {
            const int close = line.indexOf(']');
            inGroup = close > 0 && line.mid(1, close - 1).trimmed() == kUuidGroup;
        } else if (!inGroup || line.startsWith(';') || line.indexOf('=') <= 0) {
            continue;
        }
        if (inGroup) {
            place.insertAt = next;
            place.insertEnd = lineEnd;
        }
    }
    return place;
}

// What the INI reader, the one the drivers read the file with, makes of the text: every key ("UUID/UUID") with its
// value. Lines it cannot read are skipped, as the drivers skip them.
bool readIni(const QByteArray& text, QVariantMap& values)
{
    // Read from a private copy: the reader takes a path, and the one on the volume could be replaced meanwhile.
    QTemporaryFile copy(QDir::tempPath() + QLatin1String("/jxdescription-XXXXXX.ini"));
    if (!copy.open() || copy.write(text) != text.size() || !copy.flush()) {
        JX_WARNING << "cannot copy the description file for reading:" << copy.errorString();
        return false;
    }
    const QSettings settings(copy.fileName(), QSettings::IniFormat);
    // Every section parsed at once: QSettings parses a section only when one of its keys is asked for, and misses it
    // when a sub-group's section sorts between the two ("[OS\1]" hides [OS] Version).
    for (const QString& key : settings.allKeys())
        values.insert(key, settings.value(key));
    return true;
}

// The text with the mark added as one more line of the group "UUID" (made at the end when there is none), every
// other byte as it was. New line ends are the file's own.
QByteArray withMark(const QByteArray& text, const MarkPlace& place)
{
    const QByteArray lineEnd = text.contains("\r\n") ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
    if (place.insertAt >= 0 && !place.insertEnd.isEmpty())
        return text.left(place.insertAt) + kMarkLine + place.insertEnd + text.mid(place.insertAt);
    const QByteArray added =
        place.insertAt >= 0 ? QByteArray(kMarkLine) : QByteArray("[") + kUuidGroup + "]" + lineEnd + kMarkLine;
    // A file that ends without a line end keeps ending so.
    if (!text.isEmpty() && !text.endsWith('\n'))
        return text + lineEnd + added;
    return text + added + lineEnd;
}

// The folder of a description file, open and never through a link; -1, logged, otherwise.
int openDescriptionFolder(const QString& descriptionFile)
{
    const QByteArray folderPath = QFile::encodeName(QFileInfo(descriptionFile).absolutePath());
    const int folder = ::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        JX_WARNING << "cannot open the folder of the description file" << descriptionFile << ":"
                   << qUtf8Printable(errorText(errno));
    return folder;
}

// Reads the file through its folder, never through a link, and no more than a description file can hold.
bool readDescription(int folder, const QString& path, QByteArray& text, mode_t& mode)
{
    const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
    const int fd = ::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        JX_WARNING << "cannot read the description file" << path << ":" << qUtf8Printable(errorText(errno));
        return false;
    }
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        JX_WARNING << "cannot read the description file" << path << ":" << qUtf8Printable(errorText(errno));
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        JX_CRITICAL << "the description file" << path << "is no file; not read";
        return false;
    }
    if (info.st_size > JXFSDeviceService::kMaxDescriptionSize) {
        JX_CRITICAL << "the description file" << path << "has" << qint64(info.st_size) << "bytes, more than"
                    << JXFSDeviceService::kMaxDescriptionSize << "; not read";
        return false;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        JX_WARNING << "cannot read the description file" << path << ":" << file.errorString();
        return false;
    }
    // One byte more than allowed shows a file that grew meanwhile.
    text = file.read(JXFSDeviceService::kMaxDescriptionSize + 1);
    if (file.error() != QFileDevice::NoError) {
        JX_WARNING << "cannot read the description file" << path << ":" << file.errorString();
        return false;
    }
    if (text.size() > JXFSDeviceService::kMaxDescriptionSize) {
        JX_CRITICAL << "the description file" << path << "grew past" << JXFSDeviceService::kMaxDescriptionSize
                    << "bytes while it was read; not read";
        return false;
    }
    mode = info.st_mode & 0777;
    return true;
}

// Puts the text in place of the file: written beside it under a hidden name, flushed, renamed over it, and the
// folder flushed. A failure leaves the file as it was and takes the new one away.
bool replaceDescription(int folder, const QString& path, const QByteArray& text, mode_t mode)
{
    const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
    const QByteArray part = "." + name + ".jxmark";
    // A leftover of an earlier attempt that stopped half way.
    ::unlinkat(folder, part.constData(), 0);
    const int fd = ::openat(folder, part.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        JX_WARNING << "cannot mark the description file" << path << ":" << qUtf8Printable(errorText(errno));
        return false;
    }
    QString reason;
    {
        QFile file;
        if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle) || file.write(text) != text.size() ||
            !file.flush())
            reason = file.errorString();
    }
    // The bytes must be on the volume before the name points at them.
    if (reason.isEmpty() && ::fsync(fd) != 0)
        reason = errorText(errno);
    if (::close(fd) != 0 && reason.isEmpty())
        reason = errorText(errno);
    if (reason.isEmpty() && ::renameat(folder, part.constData(), folder, name.constData()) != 0)
        reason = errorText(errno);
    if (!reason.isEmpty()) {
        ::unlinkat(folder, part.constData(), 0);
        JX_WARNING << "cannot mark the description file" << path << ":" << qUtf8Printable(reason);
        return false;
    }
    // Some file systems cannot flush a folder; their entries went with the file.
    if (::fsync(folder) != 0 && errno != EINVAL)
        JX_WARNING << "flushing the folder of" << path << ":" << qUtf8Printable(errorText(errno));
    return true;
}

} // namespace

bool JXFSDeviceService::readDescriptionValues(const QString& descriptionFile, QVariantMap& values)
{
    values.clear();
    const int folder = descriptionFile.isEmpty() ? -1 : openDescriptionFolder(descriptionFile);
    if (folder < 0)
        return false;
    const auto closeFolder = qScopeGuard([folder] { ::close(folder); });
    QByteArray text;
    mode_t mode = 0;
    return readDescription(folder, descriptionFile, text, mode) && readIni(text, values);
}

JXFSDeviceService::JXFSDeviceService(const QString& drive, const stRegDevInfo* row, const QString& descriptionFile)
    : m_drive(drive)
    , m_descriptionFile(descriptionFile)
{
    if (row)
        m_row = *row;
}

bool JXFSDeviceService::readDeviceUUID(QString& uuid)
{
    return readDeviceUUID(m_descriptionFile, uuid);
}

bool JXFSDeviceService::readDeviceUUID(const QString& descriptionFile, QString& uuid)
{
    if (descriptionFile.isEmpty())
        return false;
    uuid.clear();

    // Held open, so that the file is read from and replaced in the same folder, whatever happens to its path.
    const int folder = openDescriptionFolder(descriptionFile);
    if (folder < 0)
        return false;
    const auto closeFolder = qScopeGuard([folder] { ::close(folder); });
    QByteArray text;
    mode_t mode = 0;
    QVariantMap values;
    if (!readDescription(folder, descriptionFile, text, mode) || !readIni(text, values))
        return false;
    // A value with commas comes back as a list: it is one text in a description file.
    uuid = JXUtility::settingText(values.value(QStringLiteral("UUID/UUID")));
    // The detector reads the file ten times a second: the mark is written only when it is missing, and only when
    // the file reads as before with nothing but the mark added (a line ending in a backslash, say, would take the
    // mark line into its value).
    if (values.value(kMarkKey).toString() == QLatin1String("1"))
        return !uuid.isEmpty();
    if (!isText(text)) {
        JX_DEBUG << "not marking" << descriptionFile << ": it is not a text file";
        return !uuid.isEmpty();
    }
    const QByteArray marked = withMark(text, findMarkPlace(text));
    QVariantMap expected = values;
    expected.insert(kMarkKey, QStringLiteral("1"));
    QVariantMap markedValues;
    if (readIni(marked, markedValues) && markedValues == expected)
        replaceDescription(folder, descriptionFile, marked, mode);
    else
        JX_DEBUG << "not marking" << descriptionFile << ": the mark line would change what it says";
    return !uuid.isEmpty();
}
