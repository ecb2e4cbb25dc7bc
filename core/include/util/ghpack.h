#ifndef GHPACK_H
#define GHPACK_H

#include <QtGlobal>

// Integers and floats to and from byte buffers. Values are split and joined by shifts, so the results do not depend
// on the host's byte order. Nothing here allocates or keeps state.

// Stores bits 8-15 through high and bits 0-7 through low; a null pointer is skipped. Returns the value.
quint16 Convert_USHORT_To_Bytes(quint16 value, quint8* high, quint8* low);
quint16 Convert_Bytes_To_USHORT(quint8 high, quint8 low);

// Stores bits 24-31, 16-23, 8-15 and 0-7 through the four pointers in that order; a null pointer is skipped. Handing
// in the addresses of bytes 3, 2, 1, 0 of a field writes it little-endian. Returns the value.
quint32 Convert_ULONG_To_Bytes(quint32 value, quint8* byte3, quint8* byte2, quint8* byte1, quint8* byte0);
// The four bytes most significant first.
quint32 Convert_Bytes_To_ULONG(quint8 byte3, quint8 byte2, quint8 byte1, quint8 byte0);

// Format letters, one field each, laid one after another from the buffer's start:
//   B  1 byte                     Pack: int (low 8 bits)     UnPack: quint8*
//   H  2 bytes, little-endian     Pack: int (low 16 bits)    UnPack: quint16*
//   L  4 bytes, little-endian,    Pack: long (low 32 bits)   UnPack: long* (sign-extended)
//      in an 8-byte slot whose last 4 bytes are neither written nor read
//   f  4 bytes, IEEE single       Pack: double               UnPack: float*
//      precision in host order
// Any other character takes no argument and no room. The buffer's size is not checked: the caller provides at least
// CalcSize(format) bytes and one argument of the listed type per letter.
void Pack(quint8* buffer, const char* format, ...);
void UnPack(const quint8* buffer, const char* format, ...);
int CalcSize(const char* format);

#endif
