#ifndef JXPSFDEVICE_H
#define JXPSFDEVICE_H

#include <QByteArray>
#include <QDate>
#include <QMap>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWaitCondition>

#include <memory>

#include "device/jxclient.h"
#include "device/jxdeviceimpl.h"
#include "psf/jxpsfstore.h"

class GHGpx2;
class GHGpxExtLap;
class GHGpxExtSensorLog;
class GHGpxExtWorkoutLog;
class GHGpxMetadata;
class GHGpxRoute;
class GHGpxRoutePoint;
class GHGpxTrack;
class GHGpxTrackSegment;
class GHTrnInterval;
class GHTrnWorkout;
class GHTrncrs;
class JXExtFlashInfo_2M;
class JXPSFLap_1_5;
class JXPSFRoute_1_5;
class JXPSFWorkout_1_5;
class JXPSF_1_5;

// The client of the second flash-image generation (model "Zelto40"): the device keeps all of its user data in a
// 2 MB external flash, read and written in 4096-byte pages through vendor SCSI commands. The client keeps a copy of
// the flash in memory (the image), reads only the pages a request needs, and is the store through which the data
// store loads its frames and saves.
class JXPSFDevice : public JXDeviceImpl<JXPSFDevice, JXClient>, public JXPSFStore
{
    Q_OBJECT

public:
    JXPSFDevice();
    ~JXPSFDevice() override;

    // Reads the profile pages and opens the data store; false when the pages cannot be read or the device's
    // profile is not set up. Runs on the thread of the factory.
    bool initial() override;
    bool getUUID(QString& uuid) override;
    bool getInternalStorage(qint64& total, qint64& free) override;
    bool getTotal(QString& version) override;
    bool getLaunchsec(QString& version) override;
    bool getAP(QString& version) override;
    // The model name of the service's registry row; true.
    bool getName(QString& model) override;
    bool isSupportMassStorage() override;
    bool isSupportBitfont();
    bool prepareUploadData(QString& path, bool dontCheckUploaded) override;
    bool saveProfile(QMap<QString, QString> profile) override;
    // Writes the profile as an XML profile file to path and keeps the user's age and sex for the track export;
    // the result of reading the profile.
    bool prepareUploadProfile(QString path) override;
    // The date ages are counted to: today's unless set (tests).
    void setToday(const QDate& date) { m_today = date; }
    void formatDevice() override;
    QStringList saveDeviceRawData(QString path) override;
    // Appends a full read of the device flash to path.
    void saveExtFlashToFile(QString path) override;

    // Reads the blocks startBlock .. startBlock + ceil(length / blockSize) - 1 of an area into dest, which holds
    // that many whole blocks; stops at the first failed command. The result of the last command (false for none).
    bool readFlashBlocks(char* dest, unsigned char area, int length, int blockSize, int startBlock);
    // Polls the ready status every intervalMs, totalMs / intervalMs times at most; the client is open already.
    bool waitFlash(unsigned int totalMs, unsigned int intervalMs);
    bool eraseFlash();

    JXExtFlashInfo_2M* getFlashInfo() override;
    bool openPSF(char** base) override;
    bool loadPSFDistHeaderFrame() override;
    bool loadPSFRouteFrame() override;
    bool loadPSFTrackFrame() override;
    bool loadPSFWorkoutFrame() override;
    bool loadPSFPOIFrame() override;
    bool loadPSFSensorLogFrame() override;
    bool loadPSFWorkoutLogFrame() override;
    bool loadPSFUserInfoLogFrame() override;
    bool loadProfileFrame(char** profile) override;
    // Every frame into the image; true when all but the flash-info frame are there.
    bool load() override;
    // Erases the device flash and writes back every used range; true only when every range was written.
    bool save() override;
    bool saveToFile(QString path) override;
    // Copies at most the image's length from the file; the image then counts as loaded but for the flash info.
    bool loadFromFile(QString path) override;
    bool loadFlashInfoFrame(char** base) override;

    // One recorded track as the parts of a GPX document. Each returns a new object that the caller owns, or null
    // when the store holds no such data for the track; invalid single values leave their field empty.
    // The track; adds the start of every segment with points and the track's last position to route.
    GHGpxTrack* toGpxTrack(JXPSFRoute_1_5* track, GHGpxRoute* route);
    GHGpxExtSensorLog* toGpxSsrLog(JXPSFRoute_1_5* track);
    GHGpxExtWorkoutLog* toGpxWorkoutLog(JXPSFRoute_1_5* track);
    // The workout the track followed, as a training-course workout.
    GHTrnWorkout* toGpxWorkoutPlan(JXPSFRoute_1_5* track);
    GHGpxExtLap* toGpxSummary(JXPSFRoute_1_5* track);
    QVector<GHGpxExtLap*> toGpxLaps(JXPSFRoute_1_5* track);
    GHGpxExtLap* toGpxLap(JXPSFLap_1_5* lap, unsigned char activityType);
    GHGpxMetadata* toGpxMeta(JXPSFRoute_1_5* track);
    // Gives the course its metadata and writes it to the first free "<name>N.wrk" (N 0..999) in the current
    // folder; the file name, or an empty text when every name is taken or the write fails (logged).
    QString workoutToXml(GHTrncrs* course);

    // Language packs. The device keeps its user-interface languages in a language area of its own: a base image,
    // a 229-byte language table and up to twenty language files. The package is unpacked into the temporary
    // folder's "langpack".
    // The codes in the last language table of the area (read once, kept until the next language write).
    bool getLanguageOnDevice(QStringList& codes) override;
    // Unpacks the package and appends the English names of the languages it holds.
    bool getSupportLanguage(QString path, QStringList& names) override;
    // Builds the language image for at most twenty codes and writes it to the device, reading it back to check;
    // with "savelangeageimage" set it goes to the file named by "savelangeageimagefile" instead.
    bool setDefLanguage(QStringList* codes, int index) override;
    // The same image, not extended to the area's size, into the temporary folder's "lanfile.txt".
    bool writeLanguageFile(QStringList* codes, int index);

    // The read side over the parsed store: lists, whole-table deletes, the upload package and the flash dumps.
    // Without a store the lists stay as they were and the deletes are false.
    void getPOIs(QVector<JXClientData>& items) override;
    void getRoutes(QVector<JXClientData>& items) override;
    // Lists on a reader thread of its own under the fault guard; returns once that thread has ended. A reader that
    // faults leaves items as they were.
    void getTracks(QVector<JXClientData>& items) override;
    void getWorkouts(QVector<JXClientData>& items) override;
    bool deletePOIs(QVector<int> ids) override;
    // The numbers are ignored: the device keeps no gaps in its tables, so only whole tables are deleted.
    bool deleteRoutes(QVector<int> ids) override;
    bool deleteTracks(QVector<int> ids) override;
    bool deleteWorkouts(QVector<int> ids) override;
    bool deleteAll() override;
    // Appends a dump of the device flash to the backup in the user-data folder and its bare name to files.
    void exportData(QString folder, QStringList& files) override;
    // Appends one item per route record of type (0 planned, 1 recorded).
    void getPSFRoute(unsigned char type, QVector<JXClientData>& items);
    // One GPX file per recorded track (and a ".wrk" file per workout it followed) into the current folder; the
    // names written. With onlyNew, tracks marked uploaded are left out.
    QStringList trackToXml(bool onlyNew);

    // Reads the tracks for getTracks on a thread of its own, guarded on that thread.
    class GetTrackTask : public JXExceptionTask, public QThread
    {
    public:
        GetTrackTask(JXPSFDevice* device, QVector<JXClientData>& items);
        // On the caller's thread: starts the reader and waits for it; false when the reader faulted.
        bool execute() override;
        void handleException() override;

    protected:
        void run() override;

    private:
        JXPSFDevice* m_device;
        QVector<JXClientData>& m_items;
        // Filled on the reader thread, handed to m_items only when the reader finished.
        QVector<JXClientData> m_read;
        bool m_finished = false;
    };

    // Import of a shared package: routes from GPX files and workouts from training courses become records of the
    // store in memory; the flash gets them at _finalize. Runs on the worker thread. A file or workout that is
    // refused (hostile values, no room, no record) is left out whole and logged, and makes the result false.
    bool setShareData(QString path) override;
    // The same, with the workouts taken without the language filter.
    bool newSetShareData(QString path);
    bool setShareDataTrn(QString path);
    bool newSetShareDataTrn(QString path);
    bool setShareDataGPX(QString path);
    bool addRoute(GHGpx2* gpx);
    // False for a segment of fewer than two points or with one missing, and when the store gives no record.
    bool addTrackSegment(GHGpxTrackSegment* segment, JXPSFRoute_1_5* route, GHGpxRoutePoint* start,
                         GHGpxRoutePoint* end);
    bool addWorkout(GHTrncrs* course);
    bool newAddWorkout(GHTrncrs* course);
    bool existWorkout(int id);
    // A text of backslash-led segments (code, separator, text) into code -> text; a plain text of two or more
    // characters under "UNK".
    static void toMultiLanMap(QString text, QMap<QString, QString>& map);
    // False when the interval has no target or no duration, and when the store gives no record.
    bool addWorkoutInterval(GHTrnInterval* interval, JXPSFWorkout_1_5* workout);

private:
    bool importShareData(const QString& path, bool languageFilter);
    bool importWorkouts(GHTrncrs* course, bool languageFilter);
    // The codes of the languages on the device; empty when they cannot be read.
    QStringList deviceLanguageCodes();
    // Hands the language area as read to the next client, which then reads into it without a fresh megabyte.
    void releaseLanguageBuffer();
    // Bytes still free in a table: the least of the header's room left and the layout's end of the table (start
    // word plus size word, at most the area end word) behind the header's end word. 0 without a header.
    quint32 tableRoom(int startWord, int sizeWord, int areaEndWord, int roomField, int endField);

protected:
    // The language-pack update; runs on the client's worker thread.
    bool _updateTotal(QString path, QString language) override;
    // Base image padded to 16 bytes, language table and files for codes; baseImage is empty when the package has
    // none. False (logged) when there is no package folder, too many codes, or the image outgrows the area.
    bool buildLanguageImage(const QStringList* codes, const char* caller, QByteArray& image, QString& baseImage);

    bool _finalize() override;
    bool _restoreFactory(QString folder) override;

    enum : quint32 { FlashSize = 0x200000, PageSize = 4096, HeaderBytes = 8192 };
    enum : unsigned char {
        AreaReadExtFlash = 0x10,
        AreaWriteExtFlash = 0x0F,
        AreaEraseExtFlash = 0x0E,
        AreaFlashStatus = 0x15
    };

    // The frames as load() visits them; each has one or two ranges of the image.
    enum Frame {
        FlashInfoFrame,
        DistHeaderFrame,
        RouteFrame,
        WorkoutFrame,
        WorkoutLogFrame,
        TrackFrame,
        SensorLogFrame,
        UserInfoLogFrame,
        ProfileFrame,
        Mag2Frame,
        FrameCount
    };
    struct Range
    {
        quint32 start = 0;
        quint32 end = 0;
    };

    // The range-th range of a frame from the layout and the current flash header; false (logged) when there is no
    // header or the range does not lie inside the flash. An absent second range is empty.
    bool frameRange(Frame frame, int range, Range& out);
    bool loadFrame(Frame frame);
    // Reads the pages of [offset, offset + size) that were not read before into the image.
    bool loadPSFFrame(int offset, quint32 size);
    // Writes the pages of [offset, offset + size) not yet in written.
    bool savePSFFrame(int offset, quint32 size, QSet<int>& written);
    // The full device flash appended to path, and handed out in read when given; false when a read or the file
    // fails (read stays empty when the read failed).
    bool dumpExtFlash(const QString& path, QByteArray* read = nullptr);
    // Whether flash, as read back after a save, holds every range the save wrote as the image has it.
    bool holdsSavedRanges(const QByteArray& flash) const;
    // "zelto40flash.jx<version>.dat": the dumps of the flash that the write-back and the exports append to, in the
    // user-data folder, and its copy's name in the upload package.
    static QString flashDumpName();
    // The dump file in the user-data folder, its oldest dumps dropped to make room for the next one; the newest
    // dump that holds a data store always stays.
    QString trimmedFlashDumpPath();
    // Whether one dump of the whole flash holds a data store worth keeping: the current slot of its flash header
    // carries the record mark and its profile page is not erased. A blank flash fails the first test; a save cut
    // off before its end leaves the profile page, written last but one, erased.
    static bool holdsDataStore(const QByteArray& dump);

    QString m_uuid;
    std::unique_ptr<JXExtFlashInfo_2M> m_flashInfo;
    QByteArray m_image; // the in-memory copy of the flash; offsets are flash addresses
    QByteArray m_languageBuffer;
    std::unique_ptr<JXPSF_1_5> m_psf;
    QSet<int> m_loadedPages;
    // The ranges the last save wrote.
    QVector<Range> m_savedRanges;
    bool m_loaded[FrameCount] = {};
    int m_userAge = 30;
    QString m_userSex = QStringLiteral("1");
    QDate m_today;
    // Only a timer for waitFlash's polls.
    QMutex m_waitMutex;
    QWaitCondition m_waitCondition;
};

#endif
