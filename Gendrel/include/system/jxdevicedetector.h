#ifndef JXDEVICEDETECTOR_H
#define JXDEVICEDETECTOR_H

#include <QObject>
#include <QStringList>

class JXDeviceDetectorListener;

// Watches the system for devices of the interest vendors and tells its
// listeners. Made by the platform layer for the device manager.
class JXDeviceDetector
{
public:
    virtual ~JXDeviceDetector() {}
    virtual bool startWatching() = 0;
    virtual void setInterestVendors(QStringList vendors) = 0;
    virtual void addListener(JXDeviceDetectorListener* listener) = 0;
    // Removes the first occurrence; true when there was one.
    virtual bool removeListener(JXDeviceDetectorListener* listener) = 0;

    // Called by the platform on the thread that asked for an eject, once its
    // forced unmount is over.
    virtual void fireDeviceEjected() {}

    // Lives exactly as long as the detector, on its thread: work that ends later (the unmount of an eject) holds a
    // QPointer to it and calls the detector only while it is set.
    const QObject* lifetime() const { return &m_lifetime; }

private:
    QObject m_lifetime;
};

#endif
