#include "jxutility.h"

#include <QFile>

bool JXUtility::copyFile(const QString& source, const QString& destination, bool overwrite, int attempts,
                         int retryWaitMs, void*, void*, bool skipWhenSame, int tolerance, bool* copied)
{
    if (copied)
        *copied = false;
    if (overwrite)
        QFile::remove(destination);
    const bool ok = attempts > 0 && QFile::copy(source, destination);
    if (ok && copied)
        *copied = true;
    return ok;
}
