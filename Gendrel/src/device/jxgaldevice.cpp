#include "device/jxgaldevice.h"

#include "jxlog.h"

JXGalDevice::JXGalDevice() : JXDeviceImpl<JXGalDevice, JXDeviceServiceClient>(nullptr) {}

JXGalDevice::~JXGalDevice() = default;

bool JXGalDevice::getName(QString& model)
{
    stRegDevInfo* row = m_deviceService ? m_deviceService->getRegistryInfo() : nullptr;
    if (!row)
        return false;
    model = row->modelName;
    return true;
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
