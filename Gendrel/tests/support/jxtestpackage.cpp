#include "jxtestpackage.h"

#include <QBuffer>

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

namespace JXTestPackage {

QByteArray zipBytes(const Entries& entries)
{
    QBuffer buffer;
    QuaZip zip(&buffer);
    if (!zip.open(QuaZip::mdCreate))
        return QByteArray();
    for (const auto& entry : entries) {
        QuaZipFile file(&zip);
        if (!file.open(QIODevice::WriteOnly, QuaZipNewInfo(entry.first)) ||
            file.write(entry.second) != entry.second.size())
            return QByteArray();
        file.close();
    }
    zip.close();
    return zip.getZipError() == 0 ? buffer.data() : QByteArray();
}

QByteArray seededBytes(int size, quint32 seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = char(seed >> 24);
    }
    return bytes;
}

QByteArray packageBytes(const QByteArray& releaseIni, const Entries& images)
{
    return zipBytes(Entries{{QStringLiteral("release.ini"), releaseIni}} + images);
}

} // namespace JXTestPackage
