#ifndef JXFLASHWRITEBACK_H
#define JXFLASHWRITEBACK_H

#include <QByteArray>
#include <QtGlobal>

// What the write-backs of the first flash-image generation (JXZelto30 and the models built on it) share: the device's
// timings, the number of passes and the mark that tells the device its data store was rewritten.
namespace JXFlashWriteBack {

// Passes of a write-back, each from the erase on, before it gives up.
const int Attempts = 10;
// The device needs this long after an erase before it takes the next command.
const qint64 EraseSettleMs = 5000;
// The device needs this long after writing the image before the read-back sees it.
const qint64 ReadBackSettleMs = 2000;

// Tells the device that its data store was rewritten: this u32 at this offset of the image.
const int RewrittenMarkOffset = 0x1000;
const quint32 RewrittenMark = 0x44332211;

// Stores the rewritten mark; an image too small to hold it is left as it is.
void putRewrittenMark(QByteArray& image);

} // namespace JXFlashWriteBack

#endif
