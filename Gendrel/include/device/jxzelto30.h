#ifndef JXZELTO30_H
#define JXZELTO30_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "device/jxclient.h"

class JXProfileData;

// The client base of the first flash-image generation: devices that show no file system and keep their whole user
// data in a 1 MB external flash, moved in blocks through vendor SCSI commands of the device's SCSI service. The
// models (JXZelto35, JXHemlar30) derive from it through JXDeviceImpl, which holds the service.
//
// Only construction, the model name, block reading and the start-up check are here yet.
class JXZelto30 : public JXClient
{
    Q_OBJECT

public:
    explicit JXZelto30(QObject* parent = nullptr);
    ~JXZelto30() override;

    // Reads the profile block; false when the device cannot be read or does not hold a valid profile. Runs on the
    // thread of the factory.
    bool initial() override;
    // The model name of the service's registry row; true.
    bool getName(QString& model) override;
    bool prepareUploadData(QString& path, bool dontCheckUploaded) override;
    QStringList saveDeviceRawData(QString path) override;

    // Appends the blocks firstBlock .. firstBlock + ceil(byteCount / blockSize) - 1 of an area to out, whole
    // blocks; stops at the first failed command. The result of the last command.
    virtual bool readData(QByteArray& out, unsigned char area, int byteCount, int blockSize, int firstBlock);

protected:
    enum : quint32 {
        FlashSize = 0x100000,
        ProfileAddress = 0xF8000, // start of the 4096-byte profile block
        ProfileBlockSize = 4096,
        FlashHeaderRecordSize = 212
    };
    enum : unsigned char { AreaReadExtFlash = 0x10 };

    // The profile block as initial read it; empty when it could not be read.
    bool readProfileBlock(QByteArray& block);

    QByteArray m_image; // the external-flash image as last read
    QByteArray m_flashHeaderRecord;
    bool m_dirty = false;
    bool m_dirtyProfile = false;
    JXProfileData* m_profile = nullptr; // owned
    QString m_uuid;
    quint32 m_flashSize = FlashSize;
    QString m_psfVersion = QStringLiteral("1.4.x.x");
    quint32 m_profileAddress = ProfileAddress;
};

#endif
