#ifndef JXFITDEVICE_H
#define JXFITDEVICE_H

#include <QList>
#include <QMutex>
#include <QString>

#include <atomic>
#include <memory>

#include "device/jxclient.h"
#include "device/jxdeviceimpl.h"
#include "device/jxdeviceserviceclient.h"

class JXDeviceVolume;

// A device of the file-update family: a mass-storage volume that describes itself in "System/device.txt" and is
// updated by copying image, assistance-data and workout files onto it.
//
// The identity queries run on any thread; the worker operations (_updateTotal, _updateAlp, _updateComponent) run on
// the client's thread, one at a time. Every write onto the volume is flushed to the device and read back from it
// before it counts as done.
class JXFitDevice : public JXDeviceImpl<JXFitDevice, JXDeviceServiceClient>
{
    Q_OBJECT

public:
    // One image of a software package, as "release.ini" lists it.
    struct FitImageInfo
    {
        QString component; // the group name: "OS", "BootLoader", ... or any other name
        QString fileName;  // relative to the package root
        QString version;
    };

    static const QString ALP_FILE; // "AssitOff.alp"
    static const QString ALP_DIR;  // "System"

    explicit JXFitDevice(QObject* parent = nullptr);
    ~JXFitDevice() override;

    int getDeviceType() override;
    bool getDrive(QString& drive) override;
    bool getUUID(QString& uuid) override;
    bool getOS(QString& version) override;
    bool getBootloader(QString& version) override;
    bool getTotal(QString& version) override;
    quint32 getAlpExpiredDate() override;
    bool getName(QString& model) override;
    bool prepareUploadData(QString& path, bool dontCheckUploaded) override;
    bool eject() override;
    QStringList saveDeviceRawData(QString path) override;
    QString getCapability() override;

    // Reads the description file into the identity fields; false when the volume has none.
    bool readDeviceIni();
    QString getLangVersion();
    QString getBluetoothVersion();
    QString getTimeZoneVersion();
    QString getNotificationLangVersion();

    QList<FitImageInfo> readImageInfo(QString path);
    bool isNewVersion(FitImageInfo image);
    bool isStorageSpaceEnough(QString sourceDir, QList<FitImageInfo> images);
    // Copies sourceDir/fileName to the volume's root (or its deviceSubFolder), flushes it to the device and reads it
    // back until it equals the source, within the read-back limit. An earlier file of that name is replaced only by
    // a copy that read back equal; a failed copy leaves nothing of itself on the volume.
    virtual bool copyBinFile(QString sourceDir, QString fileName, QString deviceSubFolder);
    // Reads back every non-hidden file below folder, without following links.
    void checkFiles(QString folder);

    // How long a copy may take to read back, and the pause between tries (30000 and 5000 ms by default). Set before
    // an action starts.
    void setReadBackTiming(int limitMs, int retryIntervalMs);

    // The folder the package is unpacked into: one per client object, below the temporary folder's model folder.
    QString getWorkFolder(const QString& model) const;

protected:
    bool _updateAlp(QString file, unsigned int expiry) override;
    bool _updateTotal(QString package, QString language) override;
    bool _updateComponent(JXClientCompUpdateInfo info) override;

private:
    // Identity fields under m_identityMutex; true once the description file was looked for.
    void ensureDeviceIni();
    QString identityField(const QString* field);

    bool prepareWorkFolder(const QString& model, QString& workFolder);
    // The device's mounted drive; false (logged) when it has none.
    bool mountedDrive(QString& drive);
    enum class UpdateStart { Ready, Failed, NoDrive };
    // The model's emptied work folder and the device's drive, for an update from a package; what failed, logged.
    UpdateStart prepareUpdate(QString& workFolder, QString& drive);
    // The drive's volume for the time of an action, so that a write that lands elsewhere (the volume was pulled and
    // its mount point is a plain folder again) counts as failed.
    void rememberVolume(const QString& drive);
    void forgetVolume();

    QRecursiveMutex m_identityMutex;
    bool m_deviceIniRead = false;
    QString m_uuid;
    QString m_totalVersion;
    QString m_bootLoaderVersion;
    QString m_deviceLangVersion;
    QString m_capability;
    QString m_notificationLangVersion;
    QString m_timeZoneVersion;
    QString m_bluetoothVersion;
    std::atomic<quint32> m_alpExpiredDate{0};
    int m_deviceType = 0;

    std::atomic<int> m_readBackLimitMs{30000};
    std::atomic<int> m_readBackRetryMs{5000};
    const int m_clientNumber;
    QString m_workFolder;       // the last one used; removed with the client
    std::unique_ptr<JXDeviceVolume> m_volume; // the drive's volume during an action
};

#endif
