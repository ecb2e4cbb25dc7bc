#include "python/pqhelper.h"

PythonCppBridge* PythonCppBridge::_self = nullptr;

PythonCppBridge::PythonCppBridge() = default;

PythonCppBridge::~PythonCppBridge() = default;

void PythonCppBridge::init()
{
    static bool initialised = false;
    if (initialised)
        return;
    initialised = true;
    _self = new PythonCppBridge();
}

void PythonCppBridge::cleanup()
{
    if (!_self)
        return;
    delete _self;
    _self = nullptr;
}

bool PythonCppBridge::yield()
{
    return false;
}

void PythonCppBridge::openHomepage() {}

void PythonCppBridge::doAsyncCallback(QList<QVariant>) {}

void PythonCppBridge::updateDeviceReriduRU(QString) {}

void PythonCppBridge::checkUpdate(QString) {}

void PythonCppBridge::galWriteZip(QString, QString) {}

bool PythonCppBridge::registerCallback(_object*)
{
    return false;
}
