#ifndef JXCOMPRESS_H
#define JXCOMPRESS_H

#include <QObject>
#include <QString>
#include <QStringList>

class QMutex;

// Packs files into archives and unpacks archives. Holds no state between
// calls: make one, call one operation, delete it. Every operation returns
// false after logging its first failure.
class JXCompress : public QObject
{
    Q_OBJECT
public:
    explicit JXCompress(QObject* parent = nullptr);
    ~JXCompress() override;

    virtual bool compress(const QString& zipPath, const QStringList& files) = 0;
    virtual bool decompress(const QString& zipPath, const QString& destination) = 0;
    virtual bool compressFolder(const QString& zipPath, const QString& folder);

    // Progress variants, for callers that show progress from another thread:
    // the value is written only while the caller's mutex is held.
    virtual bool compress(const QString& zipPath, const QStringList& files, QMutex* mutex, float* progress);
    virtual bool decompress(const QString& zipPath, const QString& destination, QMutex* mutex, float* progress,
                            float scale);
    virtual bool compressFolder(const QString& zipPath, const QString& folder, QMutex* mutex, float* progress);
};

#endif
