#ifndef JXPSFDEVICE_H
#define JXPSFDEVICE_H

#include <QByteArray>
#include <QDate>
#include <QMap>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWaitCondition>

#include <memory>

#include "device/jxclient.h"
#include "device/jxdeviceimpl.h"
#include "psf/jxpsfstore.h"

class JXExtFlashInfo_2M;
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

protected:
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
    // The full device flash appended to path; false when a read or the file fails.
    bool dumpExtFlash(const QString& path);

    QString m_uuid;
    std::unique_ptr<JXExtFlashInfo_2M> m_flashInfo;
    QByteArray m_image; // the in-memory copy of the flash; offsets are flash addresses
    QByteArray m_languageBuffer;
    std::unique_ptr<JXPSF_1_5> m_psf;
    QSet<int> m_loadedPages;
    bool m_loaded[FrameCount] = {};
    int m_userAge = 30;
    QString m_userSex = QStringLiteral("1");
    QDate m_today;
    // Only a timer for waitFlash's polls.
    QMutex m_waitMutex;
    QWaitCondition m_waitCondition;
};

#endif
