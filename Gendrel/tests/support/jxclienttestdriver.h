#ifndef JXCLIENTTESTDRIVER_H
#define JXCLIENTTESTDRIVER_H

#include <QFile>
#include <QSemaphore>
#include <QThread>

#include <atomic>
#include <csignal>

#include "device/jxclient.h"

// A driver whose worker operations do controllable work: wait at a gate, raise a signal, set an error code and
// return a chosen result. Fields are set on the main thread before an action starts and read back after it ended.
class TestDriver : public JXClient
{
public:
    ~TestDriver() override
    {
        if (gate)
            gate->release(1000);
        stopThread();
    }

    // Identity
    QString model = QStringLiteral("Zelto99");
    bool nameOk = true;
    QString total;
    bool totalOk = false;
    QString ap;
    bool apOk = false;
    QString bootLoader;
    bool bootLoaderOk = true;
    bool writeFlashFile = false;

    // Work of each action
    bool result = true;
    int errorCode = 0;
    int raiseSignal = 0;
    QSemaphore* gate = nullptr;
    bool renderOnWorker = false;

    // What the actions saw
    QSemaphore started;
    std::atomic<int> runs{0};
    std::atomic<bool> passedSignal{false};
    QThread* workerThread = nullptr;
    float progressSeen = -2.0f;
    QString seenFile;
    QString seenLang;
    unsigned int seenNumber = 0;
    JXClientCompUpdateInfo seenComponent;
    QMap<QString, QString> savedProfile;
    QByteArray rendered;

    bool getName(QString& name) override
    {
        name = model;
        return nameOk;
    }
    bool getTotal(QString& version) override
    {
        version = total;
        return totalOk;
    }
    bool getAP(QString& version) override
    {
        version = ap;
        return apOk;
    }
    bool getBootloader(QString& version) override
    {
        version = bootLoader;
        return bootLoaderOk;
    }
    bool prepareUploadData(QString& path, bool) override { return false; }
    QStringList saveDeviceRawData(QString) override { return {QStringLiteral("a.gpx")}; }
    bool saveProfile(QMap<QString, QString> profile) override
    {
        savedProfile = profile;
        return true;
    }
    void saveExtFlashToFile(QString path) override
    {
        if (!writeFlashFile)
            return;
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write("flash");
    }

    // Stores the silent action the way a driver does.
    void startSilentAction()
    {
        m_action = Action_Silent;
        start();
    }

    using JXClient::stopThread;

protected:
    bool _updateTotal(QString file, QString lang) override
    {
        seenFile = file;
        seenLang = lang;
        return work();
    }
    bool _updateAP(QString file) override
    {
        seenFile = file;
        return work();
    }
    bool _updateAlp(QString file, unsigned int expiry) override
    {
        seenFile = file;
        seenNumber = expiry;
        return work();
    }
    bool _readData() override
    {
        if (renderOnWorker)
            rendered = toPsfBitfont(QStringLiteral("Cafe"), QStringLiteral("eng"), true, false, false);
        return work();
    }
    bool _updateComponent(JXClientCompUpdateInfo info) override
    {
        seenComponent = info;
        return work();
    }
    bool _restoreFactory(QString text) override
    {
        seenFile = text;
        return work();
    }
    bool _updateMapData(QString text) override
    {
        seenFile = text;
        return work();
    }

private:
    bool work()
    {
        workerThread = QThread::currentThread();
        progressSeen = getTaskProgress();
        ++runs;
        started.release();
        if (gate)
            gate->acquire();
        if (raiseSignal)
            raise(raiseSignal);
        passedSignal = true;
        m_errorCode = errorCode;
        return result;
    }
};

#endif
