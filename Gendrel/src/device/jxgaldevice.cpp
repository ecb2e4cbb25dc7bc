#include "device/jxgaldevice.h"

#include "jxlog.h"

JXGalDevice::JXGalDevice() : JXDeviceImpl<JXGalDevice, JXDeviceServiceClient>(nullptr) {}

JXGalDevice::~JXGalDevice() = default;

bool JXGalDevice::getName(QString& model)
{
    return registryModelName(model);
}

bool JXGalDevice::prepareUploadData(QString& path, bool dontCheckUploaded)
{
    JX_WARNING << "the closed device-access library is not available: no upload data";
    return false;
}

QStringList JXGalDevice::saveDeviceRawData(QString path)
{
    JX_WARNING << "the closed device-access library is not available: no raw data";
    return QStringList();
}
