#include "compress/jxcompress.h"

JXCompress::JXCompress(QObject* parent) : QObject(parent) {}

JXCompress::~JXCompress() = default;

bool JXCompress::compressFolder(const QString&, const QString&)
{
    return false;
}

bool JXCompress::compress(const QString&, const QStringList&, QMutex*, float*)
{
    return false;
}

bool JXCompress::decompress(const QString&, const QString&, QMutex*, float*, float)
{
    return false;
}

bool JXCompress::compressFolder(const QString&, const QString&, QMutex*, float*)
{
    return false;
}
