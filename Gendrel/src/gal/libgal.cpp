#include "gal/libgal.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

namespace {

struct RecordedText
{
    bool set = false;
    std::string text;
};

std::mutex s_recordMutex;
RecordedText s_modelName;
RecordedText s_modelImage;
RecordedText s_modelIap;

int record(RecordedText& slot, const char* text)
{
    if (!text)
        return 0;
    std::lock_guard<std::mutex> lock(s_recordMutex);
    slot.set = true;
    slot.text = text;
    return 1;
}

int readBack(const RecordedText& slot, char* buffer, int size)
{
    if (!buffer || size <= 0)
        return 0;
    std::lock_guard<std::mutex> lock(s_recordMutex);
    const size_t count = slot.set ? std::min(slot.text.size(), size_t(size - 1)) : 0;
    std::memcpy(buffer, slot.text.data(), count);
    buffer[count] = '\0';
    return slot.set ? 1 : 0;
}

} // namespace

int ProjSwCapability(const char* modelName, ProjSwCapabilityRecord* record)
{
    if (record)
        record->capability = nullptr;
    return 0;
}

int SetModelName(const char* modelName)
{
    return record(s_modelName, modelName);
}

int SetModelIMG(const char* imageVersion)
{
    return record(s_modelImage, imageVersion);
}

int SetModelIAP(const char* bootLoaderVersion)
{
    return record(s_modelIap, bootLoaderVersion);
}

int GalRecordedModelName(char* buffer, int size)
{
    return readBack(s_modelName, buffer, size);
}

int GalRecordedModelIMG(char* buffer, int size)
{
    return readBack(s_modelImage, buffer, size);
}

int GalRecordedModelIAP(char* buffer, int size)
{
    return readBack(s_modelIap, buffer, size);
}

void GalClearModelRecord(void)
{
    std::lock_guard<std::mutex> lock(s_recordMutex);
    s_modelName = RecordedText();
    s_modelImage = RecordedText();
    s_modelIap = RecordedText();
}
