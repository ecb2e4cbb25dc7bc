#ifndef JXUTILITY_H
#define JXUTILITY_H

#include <QObject>
#include <QString>

// File, folder and volume helpers of the device library; all static.
class JXUtility : public QObject
{
    Q_OBJECT
public:
    explicit JXUtility(QObject* parent = nullptr) : QObject(parent) {}

    static bool copyFile(const QString& source, const QString& destination, bool overwrite = true,
                         int attempts = 10, int retryWaitMs = 5, void* unused1 = nullptr,
                         void* unused2 = nullptr, bool skipWhenSame = false, int tolerance = 0,
                         bool* copied = nullptr);
};

#endif
