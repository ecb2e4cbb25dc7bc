#include "jxflashwriteback.h"

#include <QtEndian>

namespace JXFlashWriteBack {

void putRewrittenMark(QByteArray& image)
{
    char mark[4];
    qToLittleEndian<quint32>(RewrittenMark, mark);
    if (image.size() >= RewrittenMarkOffset + int(sizeof mark))
        image.replace(RewrittenMarkOffset, int(sizeof mark), mark, int(sizeof mark));
}

} // namespace JXFlashWriteBack
