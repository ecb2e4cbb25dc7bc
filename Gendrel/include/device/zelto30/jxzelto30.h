#ifndef JXZELTO30_H
#define JXZELTO30_H

#include <QByteArray>
#include <QDate>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

#include "device/jxclient.h"
#include "psf/gen1/jxpsfreader.h"

class JXPSF;
class JXProfileData;
class JXSCSIDeviceService;

// The user's body data as the heart-rate models take it.
struct HRUPPreData
{
    quint8 sex = 0; // 1 male, 0 otherwise
    quint8 age = 0; // whole years
    float heightMetric = 0.0f;
    float heightImperial = 0.0f;
    float weightMetric = 0.0f;
    float weightImperial = 0.0f;
};

// The client base of the first flash-image generation: devices that show no file system and keep their whole user
// data in a 1 MB external flash, moved in blocks through vendor SCSI commands of the device's SCSI service. The
// models (JXZelto35, JXHemlar30) derive from it through JXDeviceImpl, which holds the service.
//
// Everything here runs on the client's thread, except initial (the factory's thread), getShareDataList and
// updateLaunchsec (the caller's) and the getters.
class JXZelto30 : public JXClient
{
    Q_OBJECT

public:
    // The groups of the flash layout table (flash_header_def), as the header record numbers them.
    enum FlashDefWord {
        DefHeaderAreaEnd = flash_header_def::HeaderAreaEnd, // 96 slots of 256 bytes from address 0
        DefDistHeaderEnd = flash_header_def::DistHeaderEnd,
        DefGroup1Data = flash_header_def::POITableStart,
        DefGroup1Size = flash_header_def::POITableSize,
        DefGroup2Data = flash_header_def::WorkoutTableStart,
        DefGroup2Size = flash_header_def::WorkoutTableSize,
        DefGroup3Data = flash_header_def::RouteTableStart,
        DefGroup3Size = flash_header_def::RouteTableSize,
        DefGroup4Start = flash_header_def::LapAreaStart,
        DefGroup4Size = flash_header_def::LapAreaSize,
        DefGroup5Start = flash_header_def::IntervalAreaStart,
        DefGroup5Size = flash_header_def::IntervalAreaSize,
        DefGroup6Data = flash_header_def::WorkoutLogTableStart,
        DefGroup6Size = flash_header_def::WorkoutLogTableSize,
        DefGroup7Data = flash_header_def::TrackTableStart,
        DefGroup7Size = flash_header_def::TrackTableSize,
        DefGroup8Data = flash_header_def::SensorLogTableStart,
        DefGroup8Size = flash_header_def::SensorLogTableSize,
        DefDataStoreOffset = flash_header_def::ImageAddress,
        FlashDefWords = flash_header_def::Words
    };

    // The flash-header record, one per 256-byte slot of the header area; values little-endian.
    enum FlashHeaderRecord {
        RecordMagicOffset = 0, // u16 0xAA55
        RecordFillStart = 2,   // 0xFF up to byte 65
        RecordFillEnd = 66,
        RecordGroup1Free = 66,   // u16
        RecordGroupEntries = 64, // entry k of groups 1-8 at 64 + 12k; free count u32 at its start for k >= 1
        RecordGroupEntrySize = 12,
        RecordWordTotal = 204,
        RecordChecksum = 208,
        FlashHeaderRecordSize = 212,
        FlashHeaderSlotSize = 256,
        RecordMagic = 0xAA55
    };

    explicit JXZelto30(QObject* parent = nullptr);
    ~JXZelto30() override;

    // Reads the profile block; false when the device cannot be read or the model's profile is not set up (its
    // set-up byte is zero). Runs on the thread of the factory.
    bool initial() override;
    // "1003" when "specifyextflash" is set; otherwise the device's, asked once. True when not empty.
    bool getUUID(QString& uuid) override;
    // Reads the device's newest flash-header record into a record of its own: total = the eight groups' data sizes,
    // free = that record's free counts. The client's record, which the data store points into and the deletes
    // change, is left alone. False when the header area cannot be read.
    bool getInternalStorage(qint64& total, qint64& free) override;
    // The total and launch-section versions the SCSI service read from the device's signature; true.
    bool getTotal(QString& version) override;
    bool getLaunchsec(QString& version) override;
    // The model name of the service's registry row; true.
    bool getName(QString& model) override;
    // Erases the external flash.
    void formatDevice() override;
    // The lists read the image first when none is held and append nothing without a data store. Routes and tracks
    // share one index: their position in the route frame.
    void getRoutes(QVector<JXClientData>& items) override;
    void getTracks(QVector<JXClientData>& items) override;
    void getWorkouts(QVector<JXClientData>& items) override;
    // This generation keeps no POI list for the caller: the list is left as it is.
    void getPOIs(QVector<JXClientData>& items) override;
    // Packs the store's GPX and training-course files, "flash.dat" (the image) and a copy of the log into path
    // (empty: the temporary folder's upload file, which then receives it). Only for a given path do the GPX files
    // travel as ".pmz". The files stay in the temporary folder. The packing's result, also as the error flag.
    bool prepareUploadData(QString& path, bool dontCheckUploaded) override;
    // Writes every recorded track as a GPX file into the folder, made when missing; their full paths, empty when
    // the folder cannot be made or entered.
    QStringList saveDeviceRawData(QString path) override;
    // The deletes change the parsed data store and set the dirty flag; the write-back carries them to the device.
    // Indexes are positions in the store's lists; those outside a list, and repeats, name nothing.
    bool deletePOIs(QVector<int> indexes) override;
    // Deleting the last recorded track re-describes the track rings (groups 8 and 4) as empty.
    bool deleteRoutes(QVector<int> indexes) override;
    // Tracks are route records of the same frame. False for an empty list.
    bool deleteTracks(QVector<int> indexes) override;
    // Deleting the last workout re-describes the workout rings (groups 2 and 6) as empty.
    bool deleteWorkouts(QVector<int> indexes) override;
    // Deletes every track, route and workout and writes the device at once; the write-back's result.
    bool deleteAll() override;
    // Adds the top-level files of a shared package (".pmz"/".gpx" routes and POIs, ".wrk" workouts) to the data
    // store and marks it dirty. The unpacking's result, also as the error flag; false without a data store, the
    // error flag left alone.
    bool setShareData(QString path) override;
    // Hand one file to the store's training-course or GPX import; false only without a data store.
    virtual bool setShareDataTrn(QString path);
    virtual bool setShareDataGPX(QString path);
    // Reads the profile from the device and writes its keys as an XML profile file at path; the profile's result.
    bool prepareUploadProfile(QString path) override;
    // Puts the map into the profile object's raw bytes and marks the profile for the next write-back; false when no
    // profile can be read from the device.
    bool saveProfile(QMap<QString, QString> profile) override;
    // Runs the share-data list at once on the caller's thread, sets the error flag and emits its completion signal.
    bool getShareDataList(JXClientShareDataList list) override;
    // 3 without a parsed data store; otherwise drops what its areas cannot hold: 2 when anything was dropped, else 1.
    int SimualteFinalize() override;
    // Writes the image, read first when none is held, to path; a file that cannot be written whole is not left.
    void saveExtFlashToFile(QString path) override;

    // The firmware update in the device's IAP mode: loader, restart into IAP mode, wait for the device, firmware,
    // restart. Runs at once on the caller's thread and blocks it (10 s at least); refused while an action runs,
    // and no action starts while it runs. The model's package names and messages come from iapUpdatePlan.
    bool updateLaunchsec(QString package) override;

    // The language pack of the package unpacked into the work folder: names of the languages it holds, one per
    // language file, in the order of the language map's codes.
    bool getSupportLanguage(QString package, QStringList& names) override;
    // The known codes of the language table in the device's internal flash (read once, area 13).
    bool getLanguageOnDevice(QStringList& codes) override;
    // Builds the language image of the unpacked package for codes, writes it to area 12 and reads it back from
    // area 13 until it matches (51 attempts); with "savelangeageimage" set it goes to a file instead. Refused,
    // with nothing written, without a base image, with more than twenty languages or an image over the area.
    bool setDefLanguage(QStringList* codes, int index) override;
    // "savelangeageimage" of the model's settings group not "0".
    virtual bool isSaveFendirWithLanguage();

    // Whether the model's settings group switches bit-font names on ("bitfont" not "0").
    virtual bool isSupportBitfont();
    // Appends the blocks firstBlock .. firstBlock + ceil(byteCount / blockSize) - 1 of an area to out, whole
    // blocks; stops at the first failed command. The result of the last command.
    virtual bool readData(QByteArray& out, unsigned char area, int byteCount, int blockSize, int firstBlock);
    // Erases the whole external flash and, when that worked, gives the device 5 seconds to finish.
    virtual bool eraseExtFlash();
    // False for an image that is blank or marked as not to be trusted.
    virtual bool checkIntegrity();
    virtual bool isDirty();
    virtual bool isDirtyProfile();
    // Clears both dirty flags.
    virtual void resetDirty();
    // (Re)makes the profile object from the device's profile block; the reader's result, false when the block
    // cannot be read (no profile object is left then).
    virtual bool loadProfile();
    // Fills the client's flash-header record from the header area of the flash: the record before the first free
    // slot, the last one when the first slot is free, zeros when no slot is free. count bytes of the slot are taken
    // (at most the record's size); the other arguments are not used. False when the area cannot be read.
    virtual bool getFlashInfo(void* record, int count, QByteArray& image);
    // Builds record (FlashHeaderRecordSize bytes) anew with its word total and checksum and places it in slot 0 of
    // image's header area, the rest of which becomes 0xFF. False when image is smaller than that area.
    virtual bool finalizeFlashInfo(void* record, QByteArray& image);
    // Fills the data of groups 4, 8, 7 and 6 with 0xFF where the header record shows them empty. False when the
    // record names an area outside the image (that group is left as it is).
    virtual bool cleanUnusedFlashArea();
    // The image, read from the device first when none is held (empty when that failed).
    virtual QByteArray* getExtFlash();
    // Fills the flash layout table.
    virtual void setFlashDef();

    // Reads the whole flash and parses it; afterwards the data-store root is set, or null when the image could not
    // be read, has no profile, is still on its first-use page or fails the integrity test.
    void readPSF();
    // Reads the image when no data-store root is held; true only when that read ran and worked and no error was
    // pending. Clears the error flag and code.
    bool loadExtFlash();

    // Sends the erase command for the whole external flash; its result.
    bool _eraseExtFlash();
    // Writes a file to an area from block 0, blocks of blockSize; a short last block is padded with zeros.
    bool writeData(QString file, unsigned char area, int blockSize);
    // Writes the first size bytes of data, staged first in the temporary file "Zelto30flash.tmp", which stays. size 0
    // writes the whole flash: data is cut or padded with 0xFF to the flash size first. False, with nothing sent, when
    // the temporary file cannot be written whole.
    bool writeData(QByteArray* data, unsigned char area, int blockSize, qint64 size);
    // Restarts the device, normally or into its firmware-update mode.
    bool reset();
    bool resetWithIAPFlag();
    // True when the model's settings group has "specifyextflash" set (not "0").
    bool specifyExtFlash();
    // Forgets the data-store root.
    void deletePSF();
    // Fills record from a profile's key/value map: sex, age and the four body measures; every other field zero.
    void convertProfile(QMap<QString, QString> profile, HRUPPreData& record);

    // The date ages are counted to: today's unless set (tests).
    void setToday(const QDate& date) { m_today = date; }
    QDate today() const { return m_today.isNull() ? QDate::currentDate() : m_today; }

    const quint32* getFlashDef() const { return m_flashDef.words; }
    // A deep copy: the data-store root keeps a pointer into the record, which must never move.
    QByteArray getFlashHeaderRecord() const
    {
        return QByteArray(m_flashHeaderRecord.constData(), m_flashHeaderRecord.size());
    }
    // The backups that the write-backs keep of the device's flash before they erase it, "<model>flash-backup-<time>.dat"
    // in the user-data folder, full paths, oldest first; the last few are kept (JXFlashBackup).
    QStringList flashBackups();
    // Whether an image holds a data store worth keeping: a whole flash that passes the model's integrity test and
    // whose profile block is not erased. A blank flash fails the test; a write-back cut off before its end leaves
    // the profile block (block 248 of 256) erased.
    bool holdsDataStore(const QByteArray& image);

protected:
    // Reads the first byteCount bytes of the external flash into m_readBack, whose buffer is reused.
    bool readBack(int byteCount);
    // Writes the first size bytes of data from block 0 in blocks of blockSize, a short last block padded with zeros,
    // straight from memory; source names the data in the log. False, with nothing sent, for a size beyond data or
    // the addressable blocks.
    bool writeImage(const QByteArray& data, qint64 size, unsigned char area, int blockSize, const QString& source);
    // The first size bytes of a whole-flash image from memory to the external flash (area 15, 4096-byte blocks).
    bool writeFlashImage(const QByteArray& image, qint64 size);

    // How one pass of a write-back ended.
    enum class WriteBackPass { Written, Failed, DeviceGone };
    // The passes of a write-back once the backup is kept: writeBackPass for attempts 1 to 10 until one writes the
    // image or finds the device gone. Written: the image is what the device holds, both dirty flags are cleared and
    // the profile is read anew. Otherwise the log tells where the user's data from before the erase is kept.
    bool writeBackInPasses(bool dirty);
    // One pass from the erase on, logged by the model: the image with its profile block written and read back (for
    // a changed data store also the header block last); a failed pass that finds the device gone ends the passes.
    virtual WriteBackPass writeBackPass(int attempt, bool dirty);

    // What a model's firmware package looks like and what its update logs (bare warnings, each followed by the
    // path). The loader is the entry whose name begins with loaderPrefix, otherwise one beginning with imagePrefix
    // is the firmware; both compared with letter case counting.
    struct IapUpdatePlan
    {
        const char* folderName;        // work folder under the temporary folder
        const char* loaderPrefix;      // "IT"
        const char* imagePrefix;       // "I"
        const char* loaderWriteFailed; // "write iap temp failed "
        const char* imageWriteFailed;  // "write iap failed "
    };
    // This model's description of its firmware package.
    virtual IapUpdatePlan iapUpdatePlan() const;
    // The flow of updateLaunchsec once the client is claimed. The close-on-remove flag gets its earlier value back
    // at every exit.
    bool runIapUpdate(const QString& package, const IapUpdatePlan& plan);

    // The language-pack update: unpack, the device's languages (English when none), setDefLanguage, then the
    // package's minimum companion version into the settings.
    bool _updateTotal(QString package, QString lang) override;
    // Writes the internal flash from the folder (area 12), erases the external flash and, unless the folder's
    // release.ini says "ExData=no", writes it (area 15). False when any step fails.
    bool _restoreFactory(QString folder) override;

    enum : quint32 {
        FlashSize = 0x100000,
        ProfileAddress = 0xF8000, // start of the 4096-byte profile block
        ProfileBlockSize = 4096,
        ExtFlashBlockSize = 4096,
        ResetBlockSize = 512,
        InternalBlockSize = 2048,   // firmware, loader and language image
        InternalImageSize = 0x79000 // the language image, and what area 13 gives back
    };
    enum : unsigned char {
        AreaReset = 0x00,
        AreaResetIntoIAP = 0x01,
        AreaWriteFirmware = 0x0A,
        AreaWriteInternal = 0x0C, // loader, language image, internal flash of a factory restore
        AreaReadInternal = 0x0D,
        AreaEraseExtFlash = 0x0E,
        AreaWriteExtFlash = 0x0F,
        AreaReadExtFlash = 0x10
    };

    // Reads and parses the image; the worker of the read-data action.
    bool _readData() override;
    // Writes a changed image back: rebuilt data store, a backup of the device's flash (saveFlashBackup), erase,
    // whole image, read-back, header block last; up to 10 attempts. True when it was written or nothing was
    // changed.
    bool _finalize() override;

    // Where the model's profile block keeps a byte that is zero until the device is set up; -1 for none. "Zelto30":
    // 0x3C7.
    virtual int setUpOffset(const QString& model) const;
    // Where the firmware of the heart-rate models stands, by model and total version: "Zelto20" before 8 and
    // "Hemlar35" before 3 are early (no first-use page; a new firmware image wants an erased flash), from then on
    // later; any other model is neither.
    enum class FirmwareStage { Other, Early, Later };
    FirmwareStage firmwareStage();
    // Before a change of the profile: the image is read when none is held (the write-back copies the profile into it
    // and has nothing to write without it) and the profile when none is held. False when no profile can be had.
    bool holdImageAndProfile();
    // The profile block as initial read it; empty when it could not be read.
    bool readProfileBlock(QByteArray& block);
    // The device's SCSI service; null (logged) when the client has none.
    JXSCSIDeviceService* scsiService();

    JXPSF* m_psf = nullptr; // the data-store root, owned
    QByteArray m_image;     // the external-flash image as last read
    QByteArray m_internalImage;
    QByteArray m_flashHeaderRecord;
    bool m_dirty = false;
    bool m_dirtyProfile = false;
    JXProfileData* m_profile = nullptr; // owned
    QString m_uuid;
    flash_header_def m_flashDef = {};
    quint32 m_flashSize = FlashSize;
    QString m_psfVersion = QStringLiteral("1.4.x.x");
    quint32 m_profileAddress = ProfileAddress;
    QDate m_today;
    // What the device holds as far as this client knows: the flash as readPSF read it, or as a write-back last
    // wrote it and read it back. The backup made before an erase.
    QByteArray m_imageOnDevice;
    QByteArray m_readBack;  // what readBack read last; its megabyte is kept between write-backs
    QByteArray m_dataStore; // the data store that a write-back rebuilds; its buffer is kept between write-backs

    // Describes a ring of the flash-header record as empty: its free count (at recordOffset) becomes the group's
    // data size, both its addresses (the next two words) the group's data start.
    void resetRing(int recordOffset, int sizeWord, int startWord);
    // Keeps what the device holds as a new backup before an erase, unless it holds no data store (nothing of the
    // user's to keep, and older backups must not make room for it); false (logged) when no image of the device is
    // held or the backup cannot be written: the flash must not be erased then.
    bool saveFlashBackup();
    // The model's integrity test on any image: not blank, not marked as not to be trusted.
    virtual bool passesIntegrity(const QByteArray& image);
    // False for an image too short to be tested (logged) or whose words at 0 and 0x5000 are both erased: the device
    // was erased and not written again.
    static bool isWrittenImage(const QByteArray& image);
    // "<model>flash-backup", the name of the model's backups without their time.
    QString flashBackupStem();
    // Tells the log where the user's data from before a failed write-back's erase is.
    void logKeptBackup();

private:
    // The newest record of the device's flash-header area into record (count bytes of it, at most its size; zeros
    // when no slot is free); false when the area cannot be read.
    bool readNewestHeaderRecord(char* record, int count);
    // Puts the data store's records back into the image, the emptied groups erased. False (logged), with the image
    // and the header record unchanged, when the data store cannot be written whole.
    bool rebuildDataStore();
    // One write-back pass from the erase on; false at the first step that fails.
    bool writeBackAttempt(bool dirty);
    // Whether size bytes go out as blocks of blockSize (a multiple of 512 up to the service's largest, no block
    // beyond the addressable ones); logged, with source, when not.
    static bool isWritable(qint64 size, int blockSize, const QString& source);
    // The block loop of the writes, the client open: fill(offset, block, length) gives each block's bytes (false ends
    // the write); a short last block is padded with zeros. False at the first block not filled or not taken.
    bool sendBlocks(JXSCSIDeviceService& service, unsigned char area, int blockSize, qint64 size,
                    const std::function<bool(qint64 offset, char* block, int length)>& fill);
    // Deletes the data-store root.
    void dropPSF();
};

#endif
