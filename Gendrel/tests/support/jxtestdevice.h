#ifndef JXTESTDEVICE_H
#define JXTESTDEVICE_H

#include <QCoreApplication>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>

#include "device/jxdeviceimpl.h"
#include "device/jxdevicemanager.h"
#include "device/jxdeviceserviceclient.h"
#include "device/jxfsdeviceservice.h"

// Pieces for tests of the device manager, the detector and the daemon: a registry row whose factory makes a small
// client, a hand-made device service, and a listener that records what it is told.

// The match text under which the mass-storage devices show up.
inline const char* testMatchText()
{
    return "VEXMOR:zelto:Zelto:TIRNA Device:TIRNA MS:TIRNA";
}

// A client that is ready as soon as it is made (unless its model is "NotReady") and takes its name, UUID and drive
// from its service. In a waiting state it records how it was resumed and leaves that state, as a driver whose
// device came back does.
class TestClient : public JXDeviceImpl<TestClient, JXDeviceServiceClient>
{
public:
    static inline std::atomic<int> live{0};

    TestClient() { ++live; }
    ~TestClient() override { --live; }

    bool initial() override
    {
        QString model;
        getName(model);
        return model != QLatin1String("NotReady");
    }
    bool getName(QString& model) override
    {
        const stRegDevInfo* row = getDeviceService() ? getDeviceService()->getRegistryInfo() : nullptr;
        model = row ? row->modelName : QString();
        return true;
    }
    bool getUUID(QString& uuid) override { return getDeviceService() && getDeviceService()->readDeviceUUID(uuid); }
    bool getDrive(QString& drive) override
    {
        auto* volume = dynamic_cast<JXFSDeviceService*>(getDeviceService());
        drive = volume ? volume->getDrive() : QString();
        return volume != nullptr;
    }
    bool prepareUploadData(QString&, bool) override { return false; }
    QStringList saveDeviceRawData(QString) override { return QStringList(); }
    void saveExtFlashToFile(QString path) override
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write("flash");
    }
    void modifyForceUpdateInfo(JXEnv* env) override
    {
        ++forceUpdateChecks;
        JXClient::modifyForceUpdateInfo(env);
    }

    std::atomic<int> forceUpdateChecks{0};

    QStringList resumedActions()
    {
        QMutexLocker lock(&m_resumedMutex);
        return m_resumed;
    }

protected:
    bool _updateTotal(QString file, QString lang) override
    {
        resumed(QStringLiteral("updateTotal(%1,%2)").arg(file, lang), State_WaitForUpdate);
        return true;
    }
    bool _restoreFactory(QString text) override
    {
        resumed(QStringLiteral("restoreFactory(%1)").arg(text), State_WaitForRestore);
        return true;
    }

private:
    void resumed(const QString& action, State waiting)
    {
        {
            QMutexLocker lock(&m_resumedMutex);
            m_resumed.append(action);
        }
        setStateWithMatch(waiting, State_InService);
    }

    QMutex m_resumedMutex;
    QStringList m_resumed;
};

// A device service made by hand, of either kind.
class TestService : public JXDeviceService
{
public:
    static inline std::atomic<int> live{0};

    TestService(int type, const QString& uuid, const stRegDevInfo& row) : m_type(type), m_uuid(uuid), m_row(row)
    {
        ++live;
    }
    ~TestService() override { --live; }

    bool readDeviceUUID(QString& uuid) override
    {
        uuid = m_uuid;
        return !uuid.isEmpty();
    }
    stRegDevInfo* getRegistryInfo() override { return &m_row; }
    int getType() override { return m_type; }

private:
    int m_type;
    QString m_uuid;
    stRegDevInfo m_row;
};

inline stRegDevInfo testRow(const QString& model, const QString& code = QStringLiteral("ZE01"))
{
    stRegDevInfo row;
    row.code = code;
    row.modelName = model;
    row.matchText = QLatin1String(testMatchText());
    row.factory = &TestClient::create;
    return row;
}

// Records the manager's events; order, when given, collects "name:event" across several recorders.
class DeviceEventRecorder : public QObject, public JXDeviceManagerListener
{
    Q_OBJECT

public:
    struct Event
    {
        QString name;
        JXClient* client = nullptr;
        int action = -1;
        bool onMainThread = false;
    };

    explicit DeviceEventRecorder(const QString& name = QString(), QStringList* order = nullptr)
        : m_name(name), m_order(order)
    {
    }

    QList<Event> events;
    std::function<void(const Event&)> onEvent;

    QStringList names() const
    {
        QStringList list;
        for (const Event& event : events)
            list.append(event.name);
        return list;
    }

    void onDeviceConnected(JXClient* client) override { record("connected", client); }
    void onDeviceDisconnected(JXClient* client) override { record("disconnected", client); }
    void onDeviceEjected(JXClient* client) override { record("ejected", client); }
    void onDeviceActionDone(JXClient* client, int action) override { record("actionDone", client, action); }

signals:
    void recorded();

private:
    void record(const char* name, JXClient* client, int action = -1)
    {
        Event event;
        event.name = QLatin1String(name);
        event.client = client;
        event.action = action;
        event.onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        events.append(event);
        if (m_order)
            m_order->append(m_name + QLatin1Char(':') + event.name);
        if (onEvent)
            onEvent(event);
        emit recorded();
    }

    QString m_name;
    QStringList* m_order;
};

#endif
