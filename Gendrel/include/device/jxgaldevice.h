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

private:
    // Both with m_iniMutex held.
    bool readDeviceIniLocked();
    void ensureIniRead();
    bool isScsiService();

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
