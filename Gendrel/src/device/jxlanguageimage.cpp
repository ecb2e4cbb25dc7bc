#include "device/jxlanguageimage.h"

#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <cstring>

#include "device/jxclient.h"
#include "jxlanguagemap.h"
#include "jxlog.h"

namespace {

void putU32(QByteArray& bytes, int offset, quint32 value)
{
    qToLittleEndian<quint32>(value, reinterpret_cast<uchar*>(bytes.data() + offset));
}

} // namespace

JXLanguageHeader::JXLanguageHeader(StampRule rule)
    : m_rule(rule)
    , m_header(SIZE, '\0')
{
    putU32(m_header, 0, MAGIC);
}

bool JXLanguageHeader::add(const QByteArray& file)
{
    if (isFull() || file.size() < MIN_FILE_SIZE)
        return false;

    const quint32 stamp = qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(file.constData()));
    if (m_rule == StampOfLastFile || (!m_stampSet && stamp != 0)) {
        putU32(m_header, STAMP_OFFSET, stamp);
        m_stampSet = true;
    }

    const int slot = m_count;
    for (int i = 0; i < 3; ++i)
        m_header[CODES_OFFSET + 3 * slot + i] = file.at(4 + i);
    putU32(m_header, OFFSETS_OFFSET + 4 * slot, quint32(SIZE + m_data.size()));
    putU32(m_header, SIZES_OFFSET + 4 * slot, quint32(file.size()));
    m_data.append(file);
    m_header[COUNT_OFFSET] = char(++m_count);
    return true;
}

int JXLanguageHeader::lastHeaderOffset(const QByteArray& area)
{
    uchar magic[4];
    qToLittleEndian<quint32>(MAGIC, magic);
    const char* bytes = area.constData();
    // memrchr passes the erased stretches of a megabyte area at memory speed, where a compare per word took
    // milliseconds; a hit off the 4-byte grid sends the search on from the aligned word below it.
    int searched = area.size() - 3; // the bytes a table could start at
    while (searched > 0) {
        const void* hit = memrchr(bytes, magic[0], size_t(searched));
        if (!hit)
            return 0;
        const int offset = int(static_cast<const char*>(hit) - bytes);
        if (offset % 4 == 0 && std::memcmp(bytes + offset, magic, sizeof magic) == 0)
            return offset;
        searched = offset % 4 == 0 ? offset : (offset & ~3) + 1;
    }
    return 0;
}

bool JXLanguageHeader::appendKnownCodes(const QByteArray& area, int offset, QStringList& codes)
{
    if (offset < 0 || offset > area.size() - SIZE)
        return false;
    for (int slot = 0; slot < MAX_FILES; ++slot) {
        const QByteArray raw = area.mid(offset + CODES_OFFSET + 3 * slot, 3);
        if (raw.contains('\0'))
            continue;
        const QString code = QString::fromLatin1(raw);
        if (!JXLanguageMap::nameOf(code).isEmpty())
            codes.append(code);
    }
    return true;
}

bool JXLanguageImageFile::isRequested(JXClient& client)
{
    return client.getValue(QStringLiteral("savelangeageimage"), QStringLiteral("0")) != QLatin1String("0");
}

bool JXLanguageImageFile::save(JXClient& client, const QByteArray& image)
{
    const QString path = client.getValue(QStringLiteral("savelangeageimagefile"), QString());
    if (path.isEmpty()) {
        JX_WARNING << "no file named by savelangeageimagefile, language image not saved";
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size() || !file.commit()) {
        JX_WARNING << "Cannot open file for writing!" << path << file.errorString();
        return false;
    }
    return true;
}

bool JXLanguageImageFile::readPackageFile(const QString& path, qint64 limit, QByteArray& bytes, bool& tooLarge)
{
    tooLarge = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        JX_WARNING << "can not read" << path << ":" << file.errorString();
        return false;
    }
    if (file.size() > limit) {
        tooLarge = true;
        return false;
    }
    bytes = file.read(limit + 1);
    if (bytes.size() > limit) {
        tooLarge = true;
        return false;
    }
    if (file.error() != QFileDevice::NoError) {
        JX_WARNING << "can not read" << path << ":" << file.errorString();
        return false;
    }
    return true;
}
