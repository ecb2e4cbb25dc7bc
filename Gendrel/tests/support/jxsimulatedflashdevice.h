#ifndef JXSIMULATEDFLASHDEVICE_H
#define JXSIMULATEDFLASHDEVICE_H

#include <QByteArray>
#include <QMap>
#include <QMutex>
#include <QPair>
#include <QSet>
#include <QVector>

#include <memory>

#include "system/jxoperatingsystem.h"

// A raw-flash device behind the SCSI transport, kept in memory. It answers
// the signature command (0x12) and the UUID read (0x28, area 3, block 0) with
// configured bytes, keeps every block written (0x2A) per area and block,
// takes a write to area 24 as the erase of that block, and can be told to
// fail on open or on the n-th command. Every command is logged byte for byte.
//
// With an external flash (setExternalFlashSize) the first generation's areas
// act on flash contents instead, at the block size of command byte 8: 0x10
// reads and 0x0F writes the external flash, 0x0E erases all of it to 0xFF,
// 0x18 erases one 4096-byte block, 0x0C writes and 0x0D reads the internal
// flash, a read of 0x15 answers the ready status (byte 0 is 0 when ready),
// a read of 0x1A takes the notice that a firmware update was written (all
// zeros back); writes to 0 and 1 are recorded as resets. A block past the
// end of either flash fails.
//
// Channels made by createChannel share the device and may outlive it. Safe to
// use from several threads.
class JXSimulatedFlashDevice
{
public:
    struct Command
    {
        JXScsiCommandRecord record;
        JXScsiDirection direction = JXScsiDirection::None;
        QByteArray block; // the whole block handed over with a write
    };

    JXSimulatedFlashDevice();

    // 128 bytes are answered; shorter signatures are padded with zeros.
    void setSignature(const QByteArray& signature);
    // The last 16 bytes of the 2048-byte UUID block.
    void setUuid(const QByteArray& uuid);
    void setFailOnOpen(bool fail);
    // The n-th command from now fails (1: the next one); 0: none fails.
    void setFailAtCommand(int n);
    // The device leaves at the n-th command from now: that command, every
    // later one and every later open fail. 0: it stays. A device that left
    // comes back (with its flash as it was left) at this call.
    void setGoneAtCommand(int n);

    // An erased external flash of bytes (a multiple of 4096), and an internal
    // flash of 0x80000 bytes, both 0xFF.
    void setExternalFlashSize(int bytes);
    // Replaces the external flash contents; its size becomes the image's.
    void setExternalFlash(const QByteArray& image);
    QByteArray externalFlash() const;
    QByteArray internalFlash() const;
    // The k-th read (from now, 1: the next) of the external-flash block that
    // holds address answers that byte inverted; the flash keeps it. k = 0: none.
    void setFlipOnRead(int address, int k);
    // Replaces the internal flash contents (as the device's own firmware left them).
    void setInternalFlash(const QByteArray& image);
    // Copies count bytes into the external (internal) flash at offset, in place and as far as the flash reaches: a
    // flash laid out once is changed and restored without a copy of the whole.
    void patchExternalFlash(int offset, const char* bytes, int count);
    void patchInternalFlash(int offset, const char* bytes, int count);
    // The next n reads (n < 0: every read) of the internal-flash block that holds address answer that byte
    // inverted; the flash keeps it.
    void setFlipOnInternalRead(int address, int n);
    // Writes to either flash are acknowledged but not kept.
    void setDropWrites(bool drop);
    // The next n reads of the ready status (area 0x15) answer busy (byte 0 non-zero); later ones ready.
    void setBusyPolls(int n);
    // The reset areas written (0 restart, 1 into firmware-update mode), in order.
    QList<int> resets() const;
    // How many update notices (reads of area 0x1A) were taken.
    int updateNotices() const;

    // A new channel to this device; the caller owns it.
    JXScsiChannel* createChannel();
    // Lets the layer's simulated mode hand out channels to this device.
    void registerWithLayer();

    QVector<Command> commands() const;
    void clearCommands();
    // The bytes last written to a block of an area; empty when none were.
    QByteArray storedBlock(int area, int block) const;
    QList<int> erasedBlocks() const;
    int openCount() const;
    int closeCount() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

#endif
