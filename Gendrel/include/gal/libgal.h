#ifndef LIBGAL_H
#define LIBGAL_H

// The device-access library of the closed-library device family. The vendor's library is not available on this
// platform: this one has the same entry points and answers that nothing is available.

#ifdef __cplusplus
extern "C" {
#endif

// Filled by ProjSwCapability; the library keeps the text.
typedef struct ProjSwCapabilityRecord
{
    void* reserved1;
    void* reserved2;
    void* reserved3;
    const char* capability; // zero-terminated ASCII
} ProjSwCapabilityRecord;

// Non-zero when the capability text of the model was found.
int ProjSwCapability(const char* modelName, ProjSwCapabilityRecord* record);

// Identity of the connected device for the library's later calls; non-zero when taken.
int SetModelName(const char* modelName);
int SetModelIMG(const char* imageVersion);
int SetModelIAP(const char* bootLoaderVersion);

// Not in the vendor's interface: what the three model setters last received, so that their callers can be checked.
// Each returns a copy of the text in buffer (truncated to size - 1 bytes, always terminated) and 1, or 0 with an
// empty buffer when the setter has not been called since the last GalClearModelRecord.
int GalRecordedModelName(char* buffer, int size);
int GalRecordedModelIMG(char* buffer, int size);
int GalRecordedModelIAP(char* buffer, int size);
void GalClearModelRecord(void);

#ifdef __cplusplus
}
#endif

#endif
