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
