#include "device/jxzelto50.h"

#include "device/jxfsdeviceservice.h"
#include "jxenv.h"
#include "jxlog.h"

bool JXZelto50::m_continueFactoryRestore = false;

JXZelto50::JXZelto50(QObject* parent) : JXClient(parent)
{
    m_text1 = QStringLiteral("Zelto50");
}

JXZelto50::JXZelto50() : JXClient(nullptr) {}

JXZelto50::~JXZelto50() = default;

bool JXZelto50::initial()
{
    if (m_continueFactoryRestore) {
        JXEnv::getInstance()->setForceDeviceUpdate(true);
        return true;
    }
    return setShareDbHome();
}

bool JXZelto50::setShareDbHome()
{
    JX_CRITICAL << "the map-device database layer is not available: the device cannot be served";
    return false;
}

bool JXZelto50::prepareUploadData(QString& path, bool dontCheckUploaded)
{
    JX_WARNING << "the map-device database layer is not available: no upload data";
    return false;
}

QStringList JXZelto50::saveDeviceRawData(QString path)
{
    JX_WARNING << "the map-device database layer is not available: no raw data";
    return QStringList();
}

JXZelto50CR::JXZelto50CR() : JXDeviceImpl<JXZelto50CR, JXZelto50>(nullptr) {}

JXZelto50CR::~JXZelto50CR() = default;

bool JXZelto50CR::getName(QString& model)
{
    return registryModelName(model);
}

bool JXZelto50CR::getDrive(QString& drive)
{
    JXFSDeviceService* service = dynamic_cast<JXFSDeviceService*>(m_deviceService);
    if (!service)
        return false;
    drive = service->getDrive();
    return true;
}
