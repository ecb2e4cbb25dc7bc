#ifndef JXHEMLAR30_H
#define JXHEMLAR30_H

#include "device/jxdeviceimpl.h"
#include "device/zelto30/jxzelto30.h"

// The first-generation flash-image client of the heart-rate models "Hemlar30", "Hemlar35" and "Zelto20": its own
// flash layout and start-up check, a software update that writes a firmware image, a delete-all that clears the
// device at once, a write-back that never rebuilds the data store, the device language kept in the profile, and a
// clock setting. Everything else is JXZelto30's.
class JXHemlar30 : public JXDeviceImpl<JXHemlar30, JXZelto30>
{
    Q_OBJECT

public:
    JXHemlar30();
    ~JXHemlar30() override;

    // 1.
    int getMainActiveType() override;
    // These models report no application version: empty, false.
    bool getAP(QString& version) override;
    // True unless both probe words of the image (at 0 and 0x5000) are erased.
    bool checkIntegrity() override;
    // These models take no shared data: the call clears the device (deleteAll) and gives its result.
    bool setShareData(QString path) override;
    // Deletes the tracks in the data store, then clears the whole device (deleteAll) and gives its result.
    bool deleteTracks(QVector<int> ids) override;
    // Keeps a backup of the device, then writes an erased image that keeps only the profile block, an empty
    // flash-header record and the rewritten mark, and reads it back. Refused, with nothing erased, without an image
    // of the flash or a data store, or when no backup can be made. On success both dirty flags are cleared; when
    // the write fails both are set, so that the next write-back puts the cleared image with the profile on the
    // device. The error flag is the negated result.
    bool deleteAll() override;
    // Appends the profile's "User Lang" (empty when absent), the profile read first when none is held. True when
    // the list's first text is not empty.
    bool getLanguageOnDevice(QStringList& codes) override;
    // Stores the list's first text as the profile's "User Lang" and marks the profile for the next write-back;
    // the integer is not used. False for an empty list or when no profile can be had.
    bool setDefLanguage(QStringList* codes, int index) override;
    // Sets the device's clock to the computer's local date and time; the write's result.
    bool setLocaleTimeFromePC() override;
    void setFlashDef() override;

protected:
    // The firmware image of a package: unpacked, its first ".bin" file fitted to the internal image size, written
    // to area 12 and read back from area 13. Older "Zelto20" and "Hemlar35" devices are formatted first, once the
    // image is known to be usable.
    bool _updateTotal(QString package, QString lang) override;
    // The write-back of the image as held, the profile block copied in; no data-store rebuild. Up to 10 attempts.
    bool _finalize() override;
    // "Hemlar30" keeps its set-up byte at 0x376, "Hemlar35" and "Zelto20" at 0x4AA; other models have none.
    int setUpOffset(const QString& model) const override;
    // A pass without the header block and without looking for a device gone; each failed step is logged.
    WriteBackPass writeBackPass(int attempt, bool dirty) override;
    IapUpdatePlan iapUpdatePlan() const override;
    // True unless both probe words of the image (at 0 and 0x5000) are erased.
    bool passesIntegrity(const QByteArray& image) override;
};

#endif
