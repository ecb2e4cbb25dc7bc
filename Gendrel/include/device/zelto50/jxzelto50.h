#ifndef JXZELTO50_H
#define JXZELTO50_H

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

#include "device/jxclient.h"
#include "device/jxdeviceimpl.h"

class GHWorkout;
class JXDeviceVolume;

// The client of the mass-storage map devices: a removable volume carrying the device's own file tree (maps, GPS
// engine, the cycling application's databases, firmware). Abstract: the models answer the name and the drive.
//
// Every device path is the drive path followed by a per-model setting. Without a drive (or with an empty one) no
// path is made, so nothing is ever read or written at the root of the computer's file system.
//
// The database and ride-log layers are process-wide: initial points them at this device. The lists and deletes
// answer on the caller's thread; while an action of this client runs on its worker thread they touch no database.
class JXZelto50 : public JXClient
{
    Q_OBJECT

public:
    // Sets the device-name text to "Zelto50"; the models use this one.
    explicit JXZelto50(QObject* parent);
    // Leaves the device-name text empty.
    JXZelto50();
    ~JXZelto50() override;

    // Largest GPX or imported file read whole into memory; larger ones are skipped with a log line.
    static const qint64 kMaxWholeFileRead = 64 * 1024 * 1024;
    // Files whose times are closer than this and whose sizes agree are taken as copied already.
    static const qint64 kSameFileWindowMs = 60 * 1000;

    // True when the device's data can be served; runs on the thread of the factory.
    bool initial() override;

    // ---- Paths, device ini, versions (jxzelto50.cpp) ---------------------------------------------------------
    bool getAPPath(QString& path);
    bool getShareDataPath(QString& path) override;
    bool getTraceLogPath(QString& path);
    bool getDeviceIni(QString& path);
    bool getAPVersionIni(QString& path);
    bool getProfileFilePath(QString& path);
    // True unless the per-model "newLoaddbapi" is exactly "0".
    bool isNewLoadDBApi();
    bool existRouteDat();
    bool getUUID(QString& uuid) override;
    bool getTotal(QString& version) override;
    // "GH0.0.0.0" when the application version file gives nothing.
    bool getAP(QString& version) override;
    // The devices have no boot loader version of their own: the application's stands for it.
    bool getBootloader(QString& version) override;
    bool getInternalStorage(qint64& total, qint64& free) override;
    bool isSupportMassStorage() override;
    // Points the device database and ride-log layers at this device.
    bool setShareDbHome();
    // Writes or removes "/updating@@!.ini", which tells the device that update files are being copied. Without a
    // drive nothing is touched and the result is false.
    virtual bool setUpdatingFlag(bool on);
    // Whether "/updating@@!.ini" is on the volume: an update copy was cut off. False without a drive.
    virtual bool isExistUpdatingFlag();

    // ---- Database lists and deletes (jxzelto50_lists.cpp) ----------------------------------------------------
    void getPOIs(QVector<JXClientData>& items) override;
    void getRoutes(QVector<JXClientData>& items) override;
    void getTracks(QVector<JXClientData>& items) override;
    void getWorkouts(QVector<JXClientData>& items) override;
    bool deletePOIs(QVector<int> ids) override;
    bool deleteRoutes(QVector<int> ids) override;
    bool deleteTracks(QVector<int> ids) override;
    // Indexes of the last getWorkouts; an index outside the list or of a slot already emptied changes nothing.
    bool deleteWorkouts(QVector<int> indexes) override;
    bool deletePOI(int id);
    bool deleteRoute(int id);
    bool deleteTrack(int id);

    // ---- File operations and transfers (jxzelto50_files.cpp) -------------------------------------------------
    // Paths on the drive are taken below the drive, other paths below their own folder, never through a link (see
    // JXDeviceVolume).
    // The copy is written beside the destination and renamed over it once it reads back equal: an existing
    // destination survives every failure.
    bool copyFile(QString source, QString destination, bool keepTime);
    // Gives the owner write permission; no other bit changes, and a link is left alone.
    void removeReadOnlyAttribute(QString path);
    // Packs the named files (relative to folder unless absolute) under their base names; the current folder of
    // the process is left alone. The archive is flushed to the disk unless durable is false, for an archive that
    // is packed into another and deleted.
    bool zipFiles(QString zipFile, QString folder, QStringList& files, bool durable = true);
    bool removeFile(QString path);
    bool removeFiles(QString folder);
    // copied receives the copied destinations, the last copied first.
    bool copyFiles(QString source, QString target, bool keepTime, QStringList* copied);
    bool zipDirectory(QString zipPath, QString folder);
    bool prepareUploadData(QString& path, bool dontCheckUploaded) override;
    QStringList saveDeviceRawData(QString path) override;
    bool setShareData(QString path) override;
    // The workout a ride's GPX text names by its first "<wrklog id="...""; one at the very start names none.
    static bool workoutIdOfRide(const QString& gpxText, quint32& id);

    // ---- User profile (jxzelto50_profile.cpp) ----------------------------------------------------------------
    bool getProfile(QMap<QString, QString>& profile);
    bool saveProfile(QMap<QString, QString> profile) override;
    static QStringList keysOfProfileCompatibleWithServer();
    bool prepareUploadProfile(QString path) override;

    // ---- Software, application and launch-section updates (jxzelto50_update.cpp) -----------------------------
    // Unpacks the package into the volume root on the caller's thread; refused while an action runs or the device
    // waits between the steps of a factory restore.
    bool updateLaunchsec(QString package) override;
    // Removes every package folder of an earlier firmware update.
    void removeUpdatePackage() override;
    // "0.0.0.0" when the device ini names none; false when there is no device ini.
    bool getLaunchsec(QString& version) override;
    // True when version ("GH1.3.0.8") is newer, part by part as numbers, than the device's application.
    bool isNewAPVersion(QString version);
    // Reads back each file (its last 1024 bytes); false, with a log line per file, when any cannot be read.
    bool checkFiles(QStringList& files);
    // checkFiles over a folder tree; false also when the folder is missing.
    bool checkDirectory(QString folder);

    // ---- Factory restore, format request, log export (jxzelto50_restore.cpp) --------------------------------
    int getRestoreFactorySteps() override;
    // Asks the device to format itself at its next start ("/format.ini").
    void formatDevice() override;
    // Packs the device's crash dumps and system logs into archive; the system logs then leave the device.
    void exportLog(QString archive) override;

    // ---- Map-data update (jxzelto50_map.cpp) -----------------------------------------------------------------
    // The volumes of this device: its own drive first, then every other removable "msdos" volume of the maker's
    // disk vendors. Empty for a model that has no map volume.
    QStringList GetDriveDisks(QString model);
    // Removes the files of the Countries folder that share a base name with an entry of the resource; true when no
    // entry of any of the resource's names is left there.
    bool removeMapFilesOnDisk(QString source, QString target);
    // Files already there (same size, times under a minute apart) are not copied again.
    bool copyMapFiles(QString source, QString target, bool keepTime);
    // True when every file of the resource, sub-folders included, has a copy with the same MD5 digest.
    bool checkCopiedMapFiles(QString source, QString target);

    // ---- GPS engine, map-engine data, map cards, language codes (jxzelto50_components.cpp) ---------------------
    // "GPST_ENGINE": the engine onto every vendor volume with a "/data" folder (and, for "Zelto60", into the cycling
    // application of its own drive) where the device's version is lower.
    bool UpdateGPSENGINEProcess(QString packageFile, QString model, QString version);
    // "MapData" of a "Zelto60": versions is the engine's and the map-engine data's version joined by "^"; anything
    // else is refused before a volume is touched.
    bool UpdateMapDataProcess(QString packageFile, QString model, QString versions);
    // One key of root's "/data/version.ini"; "0.0.0.0" when there is none.
    QString GetGPSENGINEVersion(QString key, QString root);
    // False when the file could not be written.
    bool SetGPSENGINEVersion(QString key, QString root, QString value);
    // The lowest of the dotted versions, compared part by part as numbers; empty when their part counts differ.
    static QString compareVersions(QStringList versions);
    // Unpacks the package into this client's own unpack folder, without the files named in leaveOut; the folder,
    // or the empty text on failure.
    QString makeGPSENGINETempFiles(QString packageFile, QStringList leaveOut);
    // "card root/^version" for each map card beside the device, joined by "|"; the argument is not used.
    QString GetComponentVersion_CYCLEROAD(QString unused);
    // The three-letter language code of a name with a country prefix ("de_Bayern": "GER"); "ENG" by default.
    static QString mappingLangCode(QString text);
    // The lang section of a multi-language text ("\ENG Ride\GER Fahrt"), else its "ENG" one, else its first.
    static QString getStringByLang(QString text, QString lang);

protected:
    bool _updateTotal(QString package, QString unused) override;
    bool _updateAP(QString package) override;
    bool _importMap(JXClientTask* task) override;
    bool _deleteMap(JXClientTask* task) override;
    bool _restoreFactory(QString folder) override;
    // "resource folder^model"; true only when every resource was replaced and checked, and the new map
    // description, when there is one, took the old one's place.
    bool _updateMapData(QString text) override;
    // Dispatches by component name: "GPST_ENGINE" or "MapData".
    bool _updateComponent(JXClientCompUpdateInfo info) override;

    // Set between the two steps of a factory restore: the returning device is then taken without opening its
    // databases.
    static bool m_continueFactoryRestore;

    // The workouts of the last getWorkouts; deleteWorkouts empties the slots it removed.
    QVector<GHWorkout*> m_workouts;

private:
    // getDrive, refused when it gives an empty path.
    bool driveRoot(QString& drive);
    // The drive when path is on it, else path's own folder.
    JXDeviceVolume volumeFor(const QString& path);
    bool removeMapFiles(JXDeviceVolume& volume, const QString& source, const QString& target);
    bool copyMapTree(JXDeviceVolume& volume, const QString& source, const QString& target, bool keepTime);
    bool devicePath(QString& path, const char* key, const char* defaultValue);
    // True, with a log line, when an action of this client runs on its worker thread and the caller is another
    // thread: the database connections are the action's then.
    bool refusedWhileAction(const char* operation);
    void setTransferSystemVersion();
    QString exportFolder() const;
    void releaseWorkouts();
    // The launch-section install without the caller-thread claim: the restore runs it inside its own action.
    bool installLaunchsec(const QString& package);
    bool writeControlFile(const QString& drive, const QString& folderName, const QString& imageName);
    bool writeFormatRequest();

    void getPOIsByList(QVector<JXClientData>& items);
    void getPOIs2(QVector<JXClientData>& items);
    void getRoutesByList(QVector<JXClientData>& items);
    void getRoutes2(QVector<JXClientData>& items);
    void getTracksByList(QVector<JXClientData>& items);
    void getTracks2(QVector<JXClientData>& items);
};

// The models "Zelto50" and "Zelto50CR": the name and the drive come from the device service.
class JXZelto50CR : public JXDeviceImpl<JXZelto50CR, JXZelto50>
{
    Q_OBJECT

public:
    JXZelto50CR();
    ~JXZelto50CR() override;

    bool getName(QString& model) override;
    bool getDrive(QString& drive) override;
    // Closes the storage databases, then ejects the drive and the device's second volume; always true.
    bool eject() override;
};

#endif
