#include "gal/libgal.h"

int ProjSwCapability(const char* modelName, ProjSwCapabilityRecord* record)
{
    if (record)
        record->capability = nullptr;
    return 0;
}

int SetModelName(const char* modelName)
{
    return 0;
}

int SetModelIMG(const char* imageVersion)
{
    return 0;
}

int SetModelIAP(const char* bootLoaderVersion)
{
    return 0;
}
