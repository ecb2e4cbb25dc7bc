#ifndef PQHELPER_H
#define PQHELPER_H

#include <QList>
#include <QString>
#include <QVariant>

// The script layer's object type; no script layer is linked, so it stays incomplete.
struct _object;

// Where the device library would talk to an embedded script layer. There is none in this build: every operation
// does nothing. Callers reach it through getInstance() and skip the call while it is null, which it stays unless
// init() runs.
class PythonCppBridge
{
public:
    PythonCppBridge();
    ~PythonCppBridge();

    // Makes the instance on the first call only; later calls do nothing, also after cleanup().
    static void init();
    static void cleanup();
    static PythonCppBridge* getInstance() { return _self; }

    bool yield();
    void openHomepage();
    void doAsyncCallback(QList<QVariant> results);
    void updateDeviceReriduRU(QString drive);
    void checkUpdate(QString model);
    void galWriteZip(QString source, QString destination);
    bool registerCallback(_object* callback);

private:
    Q_DISABLE_COPY(PythonCppBridge)

    static PythonCppBridge* _self;
};

#endif
