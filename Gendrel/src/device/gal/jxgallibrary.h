#ifndef JXGALLIBRARY_H
#define JXGALLIBRARY_H

#include <QByteArray>
#include <QFile>
#include <QString>

#include "gal/libgal.h"
#include "jxlog.h"

// Texts as the closed-library devices hand them to the device library.
namespace JXGalLibrary {

// The separator the library wants between a drive path and its own names.
inline QString separator()
{
    char text[8] = "/";
    SetPathDirect(text);
    text[sizeof text - 1] = '\0';
    return QString::fromLatin1(text);
}

// A name or path for one of the library's 256-byte buffers; empty, logged, when it does not fit, since the library
// would cut it.
inline QByteArray text(const QString& text)
{
    const QByteArray bytes = QFile::encodeName(text);
    if (bytes.size() >= GAL_PATH_SIZE) {
        JX_WARNING << "too long for the device library:" << text;
        return QByteArray();
    }
    return bytes;
}

} // namespace JXGalLibrary

#endif
