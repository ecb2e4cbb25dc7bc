#ifndef JXDAEMON_H
#define JXDAEMON_H

#include <QScopedPointer>

class JXDeviceManager;

// The process-wide entry to the device side: owns the device manager. Made on first use, on the main thread,
// and destroyed when the process exits.
class JXDaemon
{
public:
    virtual ~JXDaemon();

    static JXDaemon* getInstance();
    JXDeviceManager* getDeviceManager();

protected:
    JXDaemon();

private:
    Q_DISABLE_COPY(JXDaemon)

    QScopedPointer<JXDeviceManager> m_deviceManager;
};

#endif
