#ifndef JXGALDEVICE_H
#define JXGALDEVICE_H

#include <QMutex>
#include <QString>
#include <QStringList>

#include "device/jxdeviceimpl.h"
#include "device/jxdeviceserviceclient.h"

// The client of the closed-library family: a mass-storage volume with "device.ini" at its root that the vendor's
// device-access library (libgal) serves, and that comes back as a raw SCSI device while it updates its flash.
//
// The description file is read at most once in the client's life, on whichever thread asks first; the getters answer
// from its fields on the caller's thread.
class JXGalDevice : public JXDeviceImpl<JXGalDevice, JXDeviceServiceClient>
{
    Q_OBJECT

public:
    JXGalDevice();
    ~JXGalDevice() override;

    // The rides (".gal") and workouts (".wkt") the library lists on the volume. Nothing is listed or deleted without a
    // volume: the library would take the separator alone, the root of the computer, as the device.
    void getTracks(QVector<JXClientData>& items) override;
    void getWorkouts(QVector<JXClientData>& items) override;
    bool deleteTracks(QVector<int> ids) override;
    bool deleteWorkouts(QVector<int> ids) override;
    bool deleteAll() override;
    // One workout file of the class (mode, kind, variant); false when the library has no record for it.
    bool _readWorkout(uchar mode, uchar kind, uchar variant, QString name, JXClientData& item);

    // Factory restore by the update method of "device.ini": method 1 asks for a forced update and reports failure;
    // method 2 writes the package's flashes over two visits, the second in IAP mode.
    bool restoreFactoryMethod1(QString folder);
    bool restoreFactoryMethod2(QString folder);
    // "device.ini"'s capability, else the library's, asked once.
    QString getCapability() override;

    // Reads "device.ini" of the volume into the fields; false in IAP mode (no volume) or when it has none.
    bool readDeviceIni();

    bool getDrive(QString& drive) override;
    bool getUUID(QString& uuid) override;
    bool getInternalStorage(qint64& total, qint64& free) override;
    // Firmware version, "." and the boot-loader version less its first character, then "." and the language
    // version's four two-digit numbers when it has eight characters.
    bool getOS(QString& version) override;
    bool getBootloader(QString& version) override;
    bool getTotal(QString& version) override;
    bool getLaunchsec(QString& version) override;
    bool getAP(QString& version) override;
    QString getRequiredJX() override;
    bool isExist() override;
    // The model name of the service's registry row.
    bool getName(QString& model) override;
    bool prepareUploadData(QString& path, bool dontCheckUploaded) override;
    void getPOIs(QVector<JXClientData>& items) override;
    void getRoutes(QVector<JXClientData>& items) override;
    bool deletePOIs(QVector<int> ids) override;
    bool deleteRoutes(QVector<int> ids) override;
    void formatDevice() override;
    bool eject() override;
    QString GetComponentVersion(QString component) override;
    QStringList saveDeviceRawData(QString path) override;
    // The device's profile as the file target, through the library and the script module.
    bool prepareUploadProfile(QString target) override;
    bool saveProfile(QMap<QString, QString> profile) override;
    // Not supported by this family: false.
    bool setShareData(QString zipPath) override;
    // The package's "release.ini" at path, or the model's defaults when there is none.
    ImageMetaInfo getImageMetaInfo(QString path) override;

    bool getIapName(QString& name);
    QString getLangVersion();
    // Lets the device be found again when it comes back as a SCSI device: a registry row in front of all others,
    // matched by product (upper case), else the IAP name, else the model name. False without a device manager.
    bool registerSCSIDevice(QString product);
    // The match text of the last row registerSCSIDevice added; empty when none.
    QString registeredSCSIMatch() const;
    // Copies folder + "/iap.bin" onto the volume and reads it back; false unless the copy is complete in time.
    bool copyIAPBin(QString folder);

    // Whether an image description can build binaries: a plain name, a size that holds the version stamp, and
    // addresses that are not negative. reason, when given, says what is wrong.
    static bool isUsableImageMetaInfo(const ImageMetaInfo& info, QString* reason = nullptr);

    // The unpacked update package: the temporary folder's "langpack".
    static QString packageFolder();
    // The device's language codes; in IAP mode (no volume) the list read on the volume before.
    bool getLanguageOnDevice(QStringList& codes) override;
    // The firmware image of the package as the device takes it: image padded to 2048, "header.bin", the language
    // file of the first code (else English), filled to meta's size with the version stamp in its last four bytes,
    // then "Profile.bin" when the profile changed. Appended to out; false, logged, when the package cannot make one.
    bool prepareImageBinary(QStringList* languages, QByteArray& out, JXClient::ImageMetaInfo* meta);
    // The language area: the 229-byte table, then the package's "*.bft" files. False for more than the table holds.
    bool prepareLangBinary(QByteArray& out);
    using JXClient::setDefLanguage;
    // The update on the volume: "/IMG.bin", and once it reads back whole "/update.ini" and the language files.
    // The int carries nothing.
    bool setDefLanguage(QStringList* languages, int, JXClient::ImageMetaInfo* meta);
    // Brings the volume's "/Lang" files in step with the package folder's.
    void copyLangFiles(QString folder, QStringList* languages);
    // Replaces target on the volume by a copy of source, renamed over it once the copy reads back whole; the old
    // file stays otherwise. Never through a link, and refused for a source larger than the volume.
    bool copyFile(QString source, QString target);

    // The most the device can hold of what a package brings for its flash: the external flash, 65536 blocks of
    // 4096 bytes. Bounds the unpacked package and every package file read whole.
    static constexpr qint64 kFlashBytes = qint64(65536) * 4096;

    // The update method of "device.ini" (1 when it names none).
    qint32 getUpdateMethod();
    // Whether the image and language binaries fit the flash at meta's addresses: whole 4096-byte blocks that end by
    // block 65535 and do not overlap.
    static bool isWritableIapLayout(const ImageMetaInfo& info, int imageSize, int langSize, QString* reason = nullptr);
    // In IAP mode: erases and writes the image and the language area, then tells the device.
    bool upgradeInIAPMode();
    bool notifyIAPUpdate();
    // In IAP mode: the package's internal-flash image and external-flash data of folder's "release.ini" "Name".
    bool updateFlashes(QString folder);

protected:
    bool _updateTotal(QString file, QString lang) override;
    bool _updateAP(QString file) override;
    bool _restoreFactory(QString folder) override;

private:
    // Both with m_iniMutex held.
    bool readDeviceIniLocked();
    void ensureIniRead();
    bool isScsiService();
    // The profile file the library reads from the volume folder dir; empty when it cannot.
    static QString libraryProfileFile(const QString& dir);
    // Removes the registry row registerSCSIDevice added, if any.
    void unregisterSCSIDevice();
    // Sends the device, waiting in waitState, to its boot loader for the flash write of its next visit: registers
    // that visit, writes "update.ini" and ejects. A failed write undoes the registration and returns to service.
    bool leaveForBootLoader(State waitState);
    // Writes a file of the volume's root through JXDeviceVolume, read back before it takes its name; false, logged,
    // without a volume.
    bool writeVolumeFile(const QString& name, const QByteArray& bytes);

    // Guards the description file's fields: the first reader fills them, on any thread.
    mutable QMutex m_iniMutex;
    QString m_registeredMatch;
    // The description file's fields, empty until it is read.
    bool iniRead = false;
    QString uuid;
    QString apVersion;
    QString osVersion;
    QString bootLoaderVersion;
    QString launchSecVersion;
    QString requiredJXVersion;
    QString iapName;
    JXClient::ImageMetaInfo imageMetaInfo;
    QStringList languages;
    QString deviceLangVersion;
    qint32 updateMethod = 1;
    qint32 profileUpdateResult = 0;
    QString capability;
    QString restoreFolder;
};

#endif
