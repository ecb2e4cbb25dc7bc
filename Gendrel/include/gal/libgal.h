#ifndef LIBGAL_H
#define LIBGAL_H

// The device-access library of the closed-library device family. The vendor's library is not available on this
// platform: this one has the same entry points and keeps the device's files in a folder tree of our own under the
// home path (formats in the README). Texts are NUL-terminated ASCII in caller buffers of 256 bytes unless said
// otherwise; every function returns non-zero on success, and a text it writes is always terminated within its buffer.

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

// Buffer sizes the callers provide.
enum { GAL_PATH_SIZE = 256, GAL_FILE_NAME_SIZE = 272, GAL_ACTIVITY_RECORD_SIZE = 88, GAL_LAP_RECORD_SIZE = 56,
       GAL_WORKOUT_RECORD_SIZE = 36, GAL_WORKOUT_NAME_SIZE = 65536, GAL_LANGUAGE_SIZE = 16 };

// One class of workout files, passed by value.
typedef struct SearchWKTB
{
    unsigned char mode;
    unsigned char kind;
    unsigned char variant;
} SearchWKTB;

// Rewrites the 8-byte separator buffer; this library keeps "/".
int SetPathDirect(char* separator);
// Names the device root for every later call; fails without a path or for one of 256 bytes or more.
int SetHomePath(const char* path);

int GetActivityfileamount(unsigned int* count);
// index runs from 1 to the count; name is a GAL_FILE_NAME_SIZE buffer.
int GetActivityfileName(unsigned short index, char* name);
int GetWKTFileamount(unsigned int* count, SearchWKTB search);
int GetWKTFileName(unsigned short index, char* name, SearchWKTB search);

// Fill record with the file's record; size must be at least the record's size.
int GetActivityContent(const char* name, unsigned char* record, int size);
int GetSummaryLapContent(const char* name, unsigned char* record, int size);
int ReadTemplateWKT(const char* name, SearchWKTB search, unsigned char* record, int size);
// size goes in as data's size and comes back as the bytes written; the name data of language, or of the file's first
// language when it holds none for that code.
int ReadWKTName(const char* name, SearchWKTB search, unsigned char* data, unsigned int* size, const char* language);

// type: 30 activity file; 21, 35 or 36 workout files of the classes whose second byte is 0, 6 or 5 (21 also 0).
int DeleteGALFile(unsigned char type, const char* name);

// The device's profile to the INI file ini, and back; dir is the device root with its separator.
int GetProfile(const char* dir, const char* ini);
int RefreshProfile(const char* dir, const char* ini);
// Takes a profile image and its map onto the volume: 0 failed, 1 done, 2 done and the profile changed.
int UpdateProfile(const char* volume, const char* mapFile, const char* profileFile);

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

// Not in the vendor's interface either, for tests: the result UpdateProfile gives (0 unless set), the paths it last
// received (index 0 to 2; 0 when it has not been called since GalResetLibrary), the capability text
// ProjSwCapability gives (none unless set; null clears), and a reset of all that and of the home path.
void GalSetUpdateProfileResult(int result);
int GalRecordedUpdateProfile(int index, char* buffer, int size);
void GalSetCapability(const char* capability);
void GalResetLibrary(void);

#ifdef __cplusplus
}
#endif

#endif
