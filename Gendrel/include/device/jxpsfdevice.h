#ifndef JXPSFDEVICE_H
#define JXPSFDEVICE_H

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include "device/jxclient.h"
#include "device/jxdeviceimpl.h"

// The client of the second flash-image generation (model "Zelto40"): the device keeps all of its user data in a
// 2 MB external flash, read and written in 4096-byte pages through vendor SCSI commands. The client keeps a copy of
// the flash in memory and reads only the pages a request needs.
//
// Only construction, the model name, page reading and the start-up check are here yet.
class JXPSFDevice : public JXDeviceImpl<JXPSFDevice, JXClient>
{
    Q_OBJECT

public:
    JXPSFDevice();
    ~JXPSFDevice() override;

    // Reads the profile pages; false when they cannot be read or the device's profile is not set up. Runs on the
    // thread of the factory.
    bool initial() override;
    // The model name of the service's registry row; true.
    bool getName(QString& model) override;
    bool prepareUploadData(QString& path, bool dontCheckUploaded) override;
    QStringList saveDeviceRawData(QString path) override;

    // Reads the blocks startBlock .. startBlock + ceil(length / blockSize) - 1 of an area into dest, which holds
    // that many whole blocks; stops at the first failed command. The result of the last command (false for none).
    bool readFlashBlocks(char* dest, unsigned char area, int length, int blockSize, int startBlock);

protected:
    enum : quint32 { FlashSize = 0x200000, ProfileAddress = 0x1F9000, ProfileSize = 0x1000, PageSize = 4096 };
    enum : unsigned char { AreaReadExtFlash = 0x10 };

    // Reads the pages of the profile frame into the image, unless their end pages were read before.
    bool loadProfileFrame();
    // Reads the pages of [offset, offset + size) into the image; only the end pages are remembered as read.
    bool loadPSFFrame(int offset, quint32 size);

    QString m_uuid;
    QByteArray m_image; // the in-memory copy of the flash; offsets are flash addresses
    QByteArray m_languageBuffer;
    QSet<int> m_loadedPages;
    bool m_profileLoaded = false;
    int m_userAge = 30;
    QString m_userSex = QStringLiteral("1");
};

#endif
