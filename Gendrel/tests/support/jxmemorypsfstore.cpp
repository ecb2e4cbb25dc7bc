#include "jxmemorypsfstore.h"

#include <QFile>

#include <cstring>

namespace {

// Image offsets the store hands out, written down here rather than taken from the layout under test.
const int kPSFBase = 0x6000;
const int kProfileData = 0x1F9000;

} // namespace

JXMemoryPSFStore::JXMemoryPSFStore() : m_image(size_t(ImageSize), char(0xFF)) {}

void JXMemoryPSFStore::setImage(const QByteArray& image)
{
    memcpy(m_image.data(), image.constData(), size_t(qMin(image.size(), ImageSize)));
}

bool JXMemoryPSFStore::count(Operation operation)
{
    ++m_calls[size_t(operation)];
    return !m_failing;
}

JXExtFlashInfo_2M* JXMemoryPSFStore::getFlashInfo()
{
    count(GetFlashInfo);
    return m_flashInfo;
}

bool JXMemoryPSFStore::openPSF(char** base)
{
    if (!count(OpenPSF))
        return false;
    *base = m_image.data() + kPSFBase;
    return true;
}

bool JXMemoryPSFStore::loadPSFDistHeaderFrame()
{
    return count(LoadPSFDistHeaderFrame);
}

bool JXMemoryPSFStore::loadPSFRouteFrame()
{
    return count(LoadPSFRouteFrame);
}

bool JXMemoryPSFStore::loadPSFTrackFrame()
{
    return count(LoadPSFTrackFrame);
}

bool JXMemoryPSFStore::loadPSFWorkoutFrame()
{
    return count(LoadPSFWorkoutFrame);
}

bool JXMemoryPSFStore::loadPSFPOIFrame()
{
    return count(LoadPSFPOIFrame);
}

bool JXMemoryPSFStore::loadPSFSensorLogFrame()
{
    return count(LoadPSFSensorLogFrame);
}

bool JXMemoryPSFStore::loadPSFWorkoutLogFrame()
{
    return count(LoadPSFWorkoutLogFrame);
}

bool JXMemoryPSFStore::loadPSFUserInfoLogFrame()
{
    return count(LoadPSFUserInfoLogFrame);
}

bool JXMemoryPSFStore::loadFlashInfoFrame(char** area)
{
    if (!count(LoadFlashInfoFrame))
        return false;
    *area = m_image.data();
    return true;
}

bool JXMemoryPSFStore::loadProfileFrame(char** profile)
{
    if (!count(LoadProfileFrame))
        return false;
    *profile = m_image.data() + kProfileData;
    return true;
}

bool JXMemoryPSFStore::load()
{
    return count(Load);
}

bool JXMemoryPSFStore::save()
{
    return count(Save);
}

bool JXMemoryPSFStore::saveToFile(QString path)
{
    if (!count(SaveToFile))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(m_image.data(), ImageSize) == ImageSize;
}

bool JXMemoryPSFStore::loadFromFile(QString path)
{
    if (!count(LoadFromFile))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != ImageSize)
        return false;
    const QByteArray bytes = file.readAll();
    if (bytes.size() != ImageSize)
        return false;
    setImage(bytes);
    return true;
}
